#pragma once

#include <atomic>
#include <cstdint>

#include "LinkDevice.h"
#include "SharedText.h"
#include "ThreadMessages.h"

// Codes of the actuator's state machine.
enum ActuatorState : std::int32_t {
    Searching = 0,
    Reading = 1,
    Updating = 2,
    Resetting = 3,
    Calibrating = 4,
    Testing = 5,
    Finished = 6,
    Inactive = 7,
    Recording = 8,
    ScanSerial = 9,
    Failed = 10,
    CalibratingAisg = 13,
    ConvertingToEricsson = 14,
    ConversionFinished = 15,
};

// The one connected actuator: at once the device record that the rest of the
// program reads and the protocol operations that the actuator thread runs.
// Fields that several threads touch are atomics or texts copied under a lock.
class CActuator : public LinkDevice {
public:
    CActuator();
    virtual ~CActuator();
    CActuator(const CActuator&) = delete;
    CActuator& operator=(const CActuator&) = delete;

    // Called on every repaint of the main dialog.
    virtual void OnPaintTick() = 0;

    // setupPending is 1 in Calibrating and CalibratingAisg, and stays 1 when
    // such a state falls back to Searching (the actuator restarts during a model
    // change); progress restarts when the record goes back to plain searching.
    void SetState(std::int32_t newState);

    std::int32_t LinkState() const override { return state.load(); }
    std::int32_t LinkSetupPending() const override { return setupPending.load(); }
    ThreadId LinkThreadIdOfDevice() const override { return threadId.load(); }

    std::atomic<std::int32_t> deviceIndex{0};
    SharedText<128> serialNumber;
    std::atomic<std::int32_t> state{Searching};
    std::atomic<std::int32_t> setupPending{0};
    std::atomic<std::int32_t> step{0};
    std::atomic<ThreadId> threadId{0};
    std::atomic<double> progress{0.0};
};

class CVLX400E : public CActuator {
public:
    CVLX400E();
    void OnPaintTick() override {}
};
