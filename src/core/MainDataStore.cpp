#include "core/MainDataStore.h"

#include <algorithm>
#include <chrono>

#include "core/TimeSource.h"

namespace kvq::core {

CMainDataStore::CMainDataStore() = default;
CMainDataStore::~CMainDataStore() = default;

void CMainDataStore::SetStatusLines(std::string_view line1, std::string_view line2) {
    std::unique_lock lock(statusMutex_);
    statusLine1_ = BoundedText(line1, StatusLineSize);
    statusLine2_ = BoundedText(line2, StatusLineSize);
    statusChanged_ = 1;
    lock.unlock();
    statusChanges_.Notify();
}

std::int32_t CMainDataStore::TakeStatusChanged() {
    std::lock_guard lock(statusMutex_);
    const std::int32_t changed = statusChanged_;
    statusChanged_ = 0;
    return changed;
}

std::string CMainDataStore::GetStatusLine1() const {
    std::lock_guard lock(statusMutex_);
    return statusLine1_;
}

std::string CMainDataStore::GetStatusLine2() const {
    std::lock_guard lock(statusMutex_);
    return statusLine2_;
}

bool CMainDataStore::TakeStatusLines(std::string& line1, std::string& line2) {
    std::lock_guard lock(statusMutex_);
    if (statusChanged_ == 0) return false;
    statusChanged_ = 0;
    line1 = statusLine1_;
    line2 = statusLine2_;
    return true;
}

void CMainDataStore::RequestStop() {
    std::vector<std::function<void()>> listeners;
    {
        std::lock_guard lock(stopMutex_);
        stopRequested_.store(1, std::memory_order_release);
        listeners = stopListeners_;
    }
    stopped_.notify_all();
    for (const auto& listener : listeners)
        listener();
}

void CMainDataStore::AddStopListener(std::function<void()> listener) {
    bool already = false;
    {
        std::lock_guard lock(stopMutex_);
        already = StopRequested();
        if (!already) stopListeners_.push_back(listener);
    }
    if (already) listener();
}

void CMainDataStore::PauseUnlessStopped(std::uint32_t ms) const {
    if (Clock().IsSystemClock()) {
        std::unique_lock lock(stopMutex_);
        stopped_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return StopRequested(); });
        return;
    }
    // A test clock only moves when someone sleeps on it: sleep in slices so a
    // stop request is still seen between them.
    constexpr std::uint32_t slice = 10;
    const std::uint32_t end = TickCount() + ms;
    while (!StopRequested()) {
        const auto left = static_cast<std::int32_t>(end - TickCount());
        if (left <= 0) break;
        SleepMs(std::min<std::uint32_t>(static_cast<std::uint32_t>(left), slice));
    }
}

std::string CMainDataStore::SelectedPortName() const {
    return selectedPortName_.Get();
}

void CMainDataStore::SetSelectedPortName(std::string_view name) {
    selectedPortName_.Set(name);
}

void CMainDataStore::SetPortOpened(std::int32_t opened) {
    PortOpened.store(opened);
    portChanges_.Notify();
}

void CMainDataStore::SetPortLost(std::int32_t lost) {
    if (PortLost.exchange(lost) != lost) portChanges_.Notify();
}

}  // namespace kvq::core
