#pragma once

#include <cstdint>

#include "core/ThreadMessages.h"

namespace kvq::hdlc {

// What the link needs of the device a secondary station stands for: where to
// post replies and link events, and whether the device is idle (searching with
// no setup pending), which decides when the link may change modes on its own.
class LinkDevice {
public:
    virtual ~LinkDevice() = default;
    virtual std::int32_t LinkState() const = 0;
    virtual std::int32_t LinkSetupPending() const = 0;
    virtual core::ThreadId LinkThreadIdOfDevice() const = 0;
};

// The device states the link looks at.
constexpr std::int32_t DeviceSearching = 0;
constexpr std::int32_t DeviceFailed = 10;

}  // namespace kvq::hdlc
