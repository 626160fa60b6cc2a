#pragma once

#include <windows.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string_view>

#include "actuator/Controls.h"

namespace kvq::ui {

// The native dialog's slider and model list as the actuator thread drives
// them. As with the Qt dialog, every call is handed to the dialog's thread and
// returns at once: the actuator thread never waits for the user-interface
// thread, which may therefore join the workers at any time. A call made on the
// dialog's thread runs at once, after any that wait.

// Calls from any thread, run in order on the dialog's thread: a posted window
// message tells the dialog to drain them.
class UiCallQueueWin32 {
public:
    static constexpr UINT DrainMessage = WM_APP + 1;

    // On the dialog's thread, once its window exists.
    void Attach(HWND window);
    // Drops the calls that wait; later ones are dropped at once.
    void Detach();
    void Post(std::function<void()> call);
    // On the dialog's thread, for DrainMessage.
    void Drain();

private:
    std::mutex mutex_;  // the calls pass from thread to thread under it
    std::deque<std::function<void()>> calls_;
    HWND window_ = nullptr;
    DWORD uiThread_ = 0;
    bool drainQueued_ = false;
};

class TiltSliderWin32 final : public actuator::TiltSliderControl {
public:
    TiltSliderWin32(HWND slider, UiCallQueueWin32& calls);

    void SetRange(std::int32_t minimum, std::int32_t maximum) override;
    void AddTick(std::int32_t position) override;
    void SetPosition(std::int32_t position) override;
    // The position as last seen on the dialog's thread; never waits.
    std::int32_t Position() const override { return position_.load(); }

    // On the dialog's thread: the user moved the thumb, or the dialog sets it.
    void MirrorPosition();
    void SetPositionNow(std::int32_t position);

private:
    HWND const slider_;
    UiCallQueueWin32& calls_;
    std::atomic<std::int32_t> position_{0};
};

class ModelListWin32 final : public actuator::ModelListControl {
public:
    ModelListWin32(HWND combo, UiCallQueueWin32& calls);

    // The list sorts itself (ignoring case).
    void AddModelName(std::string_view name) override;
    void SelectFirstEntry() override;
    void SelectModelName(std::string_view name) override;

private:
    void Select(int index);

    HWND const combo_;
    UiCallQueueWin32& calls_;
};

}  // namespace kvq::ui
