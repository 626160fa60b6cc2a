// Windows names neither the program that holds a COM port nor a group that
// could open it: the sentence goes without them.

#include "serial/SerialLine.h"

namespace kvq::serial {

OpenFailureFacts GatherOpenFailureFacts(OpenFailure, const std::string&) {
    return {};
}

}  // namespace kvq::serial
