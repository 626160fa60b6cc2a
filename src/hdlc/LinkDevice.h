#pragma once

#include <cstdint>

#include "core/ThreadMessages.h"

namespace kvq::hdlc {

// What the link needs to know of a device to decide on its own.
enum class LinkDeviceState : std::uint8_t {
    // Nothing is under way: the link may change modes to look for the device.
    Idle,
    // An operation or a restart it asked for is under way.
    Busy,
    // The device failed: missed polls are counted for it even while scanning.
    Failed,
};

// What the link needs of the device a secondary station stands for: where to
// post replies and link events, and its state as the link sees it.
class LinkDevice {
public:
    virtual ~LinkDevice() = default;
    virtual LinkDeviceState LinkState() const = 0;
    virtual core::ThreadId LinkThreadIdOfDevice() const = 0;
};

}  // namespace kvq::hdlc
