#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/SharedText.h"

class CActuator;  // the device record, defined by the actuator subsystem
class CVLX400E;
class CAntennaTable;  // the antenna models, defined by the antenna subsystem
class CKVQSystem;  // the settings, defined by the settings subsystem
class ModelListControl;

// The run-time state that the threads share: the device slots, the stop flag,
// the two status lines, the serial port's name and the outcome of its last open.
// Operations that belong to later subsystems (creating the actuator, starting
// its thread, reading its state) are defined with those subsystems.
class CMainDataStore {
public:
    static constexpr int SlotCount = 16;
    static constexpr std::size_t StatusLineSize = 256;  // 255 characters and a terminator
    static constexpr std::size_t PortNameSize = 128;

    CMainDataStore();
    virtual ~CMainDataStore();
    CMainDataStore(const CMainDataStore&) = delete;
    CMainDataStore& operator=(const CMainDataStore&) = delete;

    // Slot 1 is the actuator; every other slot answers none / 0 and changes nothing.
    CActuator* GetDevice(std::int32_t slot) const;
    // Slot 1's record as the actuator it is (none before CreateActuator).
    CVLX400E* GetActuator() const;
    std::int32_t GetDeviceState(std::int32_t slot) const;
    std::int32_t GetSetupPending(std::int32_t slot) const;

    // Writes both lines and raises StatusChanged, even when the texts are unchanged.
    // Texts longer than 255 characters are cut there.
    void SetStatusLines(std::string_view line1, std::string_view line2);
    // Answers StatusChanged and lowers it.
    std::int32_t TakeStatusChanged();
    std::string GetStatusLine1() const;
    std::string GetStatusLine2() const;
    // The dialog's read in one step: takes the flag and, when it was raised,
    // both lines as one consistent pair.
    bool TakeStatusLines(std::string& line1, std::string& line2);

    // Calls OnPaintTick of slot 1's device record.
    void PaintTick();

    // Fills slot 1 when the settings' Variant names a supported model; answers
    // false otherwise, and the program must then end at once with exit code 0.
    bool CreateActuator(const CKVQSystem& settings);
    // Starts the actuator thread for slot 1 and puts the record in Searching.
    void StartActuatorThread();
    // Stops and joins the actuator thread (within withinMs); true when it ended.
    bool JoinActuatorThread(std::uint32_t withinMs);

    // The stop flag: raised once, never lowered. Raising it wakes every
    // PauseUnlessStopped and calls the stop listeners on the calling thread.
    void RequestStop();
    // For a thread that waits on something else than this object (the link
    // thread on its line): called once when stop is requested, at once when it
    // already is.
    void AddStopListener(std::function<void()> listener);
    bool StopRequested() const { return stopRequested_.load(std::memory_order_acquire) != 0; }
    // Sleeps ms on the clock, returning early once stop is requested.
    void PauseUnlessStopped(std::uint32_t ms) const;

    std::string SelectedPortName() const;
    // Names longer than 127 characters are cut there.
    void SetSelectedPortName(std::string_view name);

    // Finds the antenna table file in the working directory, loads it and lists
    // its models; false when no model could be listed.
    bool LoadAntennaTables(ModelListControl* modelComboBox);
    // Applies the model the actuator reports (its key) to the device record.
    void SelectModelByKey(std::string_view key);
    // Records the model the user picked (its display name) for the next model
    // change; false when the table has no model of that name.
    bool SelectModelByName(std::string_view displayName);

    // The process-wide antenna table; set once before the threads start.
    void SetAntennaTable(CAntennaTable* table) { antennaTable_ = table; }
    CAntennaTable* AntennaTable() const { return antennaTable_; }

    // 1 after the last open of the serial port succeeded, 0 after it failed.
    std::atomic<std::int32_t> PortOpened{0};
    // The dialog's New Antenna Model list; set before the threads start.
    ModelListControl* ModelComboBox = nullptr;

private:
    struct ActuatorSlot;
    std::array<CActuator*, SlotCount> deviceSlots_{};
    // Owns slot 1's record and its thread; defined by the actuator subsystem
    // (a shared_ptr, so it can be released here without knowing the type).
    std::shared_ptr<ActuatorSlot> actuator_;

    CAntennaTable* antennaTable_ = nullptr;
    std::atomic<std::int32_t> stopRequested_{0};
    mutable std::mutex stopMutex_;
    mutable std::condition_variable stopped_;
    std::vector<std::function<void()>> stopListeners_;

    mutable std::mutex statusMutex_;
    std::int32_t statusChanged_ = 0;
    std::string statusLine1_;
    std::string statusLine2_;

    SharedText<PortNameSize> selectedPortName_{"NONE"};
};
