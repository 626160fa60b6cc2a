#pragma once

#include "hdlc/TraceDecoder.h"

namespace kvq::sim {

// The actuator's own names for its messages in a line trace, from its own
// protocol table (not the tool's), so the simulator stays an independent
// partner; the names are the same words the tool's trace uses.
hdlc::InformationNamer SimCommandNamer();

}  // namespace kvq::sim
