#pragma once

#include "hdlc/TraceDecoder.h"

namespace kvq::actuator {

// The command set's names for a line trace: every command and reply code,
// the vendor sub-commands and the AISG procedures, with where a tilt stands.
const hdlc::CommandNameTable& CommandNames();
// Names an I-frame's information by CommandNames.
hdlc::InformationNamer CommandNamer();

}  // namespace kvq::actuator
