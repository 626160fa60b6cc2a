#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <string_view>
#include <vector>

#include "core/ChangeSignal.h"
#include "core/SharedText.h"

namespace kvq::core {

// The run-time state that every layer shares: the stop flag, the two status
// lines, the serial port's name and the outcome of its last open. What belongs
// to the actuator, the antenna table or the settings lives with those.
class CMainDataStore {
public:
    static constexpr std::size_t StatusLineSize = 256;  // 255 characters and a terminator
    static constexpr std::size_t PortNameSize = 128;

    CMainDataStore();
    virtual ~CMainDataStore();
    CMainDataStore(const CMainDataStore&) = delete;
    CMainDataStore& operator=(const CMainDataStore&) = delete;

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

    // 1 after the last open of the serial port succeeded, 0 after it failed.
    std::atomic<std::int32_t> PortOpened{0};
    // Records the outcome of an open and tells those waiting on port changes.
    // Call it after the port's own open flag has its new value.
    void SetPortOpened(std::int32_t opened);
    // 1 while the device of the open port has gone away (an adapter pulled
    // out) and the link waits for it to come back; 0 otherwise.
    std::atomic<std::int32_t> PortLost{0};
    // Records the loss or the return and tells those waiting on port changes.
    void SetPortLost(std::int32_t lost);
    // Counts changes of the port's open state (SetPortOpened, SetPortLost); the status
    // engine waits on it.
    ChangeSignal& PortChanges() { return portChanges_; }

    // Counts every SetStatusLines, for a front end that waits on the lines.
    ChangeSignal& StatusChanges() { return statusChanges_; }

private:
    std::atomic<std::int32_t> stopRequested_{0};
    mutable std::mutex stopMutex_;
    mutable std::condition_variable stopped_;
    std::vector<std::function<void()>> stopListeners_;

    mutable std::mutex statusMutex_;
    std::int32_t statusChanged_ = 0;
    std::string statusLine1_;
    std::string statusLine2_;

    SharedText<PortNameSize> selectedPortName_{"NONE"};
    ChangeSignal portChanges_;
    ChangeSignal statusChanges_;
};

}  // namespace kvq::core
