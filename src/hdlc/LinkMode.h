#pragma once

#include <cstdint>

namespace kvq::hdlc {

// The framing the link talks: the actuator's own, or AISG (found by a scan).
enum class LinkMode : std::int32_t { Aisg = 0, Ericsson = 1 };

}  // namespace kvq::hdlc
