#include "ui/ControlsWin32.h"

#include <commctrl.h>

#include <string>
#include <vector>

namespace kvq::ui {

void UiCallQueueWin32::Attach(HWND window) {
    std::lock_guard lock(mutex_);
    window_ = window;
    uiThread_ = GetCurrentThreadId();
}

void UiCallQueueWin32::Detach() {
    std::deque<std::function<void()>> dropped;
    std::lock_guard lock(mutex_);
    window_ = nullptr;
    dropped.swap(calls_);
}

void UiCallQueueWin32::Post(std::function<void()> call) {
    {
        std::lock_guard lock(mutex_);
        if (window_ == nullptr) return;
        if (GetCurrentThreadId() != uiThread_) {
            calls_.push_back(std::move(call));
            if (!drainQueued_) drainQueued_ = PostMessageA(window_, DrainMessage, 0, 0) != FALSE;
            return;
        }
    }
    Drain();  // the calls already waiting come first
    call();
}

void UiCallQueueWin32::Drain() {
    std::deque<std::function<void()>> calls;
    {
        std::lock_guard lock(mutex_);
        calls.swap(calls_);
        drainQueued_ = false;
    }
    for (const auto& call : calls)
        call();
}

TiltSliderWin32::TiltSliderWin32(HWND slider, UiCallQueueWin32& calls)
    : slider_(slider), calls_(calls) {
    MirrorPosition();
}

void TiltSliderWin32::MirrorPosition() {
    position_.store(static_cast<std::int32_t>(SendMessageA(slider_, TBM_GETPOS, 0, 0)));
}

void TiltSliderWin32::SetPositionNow(std::int32_t position) {
    SendMessageA(slider_, TBM_SETPOS, TRUE, position);
    MirrorPosition();
}

void TiltSliderWin32::SetRange(std::int32_t minimum, std::int32_t maximum) {
    calls_.Post([this, minimum, maximum] {
        SendMessageA(slider_, TBM_SETRANGEMIN, FALSE, minimum);
        SendMessageA(slider_, TBM_SETRANGEMAX, FALSE, maximum);
        SendMessageA(slider_, TBM_CLEARTICS, TRUE, 0);
        MirrorPosition();  // the range may have moved the thumb
    });
}

void TiltSliderWin32::AddTick(std::int32_t position) {
    calls_.Post([this, position] { SendMessageA(slider_, TBM_SETTIC, 0, position); });
}

void TiltSliderWin32::SetPosition(std::int32_t position) {
    calls_.Post([this, position] { SetPositionNow(position); });
}

ModelListWin32::ModelListWin32(HWND combo, UiCallQueueWin32& calls)
    : combo_(combo), calls_(calls) {}

namespace {

std::string EntryText(HWND combo, int index) {
    const LRESULT length = SendMessageA(combo, CB_GETLBTEXTLEN, static_cast<WPARAM>(index), 0);
    if (length == CB_ERR) return {};
    std::vector<char> text(static_cast<std::size_t>(length) + 1, '\0');
    SendMessageA(combo, CB_GETLBTEXT, static_cast<WPARAM>(index),
                 reinterpret_cast<LPARAM>(text.data()));
    return std::string(text.data());
}

}  // namespace

void ModelListWin32::AddModelName(std::string_view name) {
    calls_.Post([this, text = std::string(name)] {
        SendMessageA(combo_, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(text.c_str()));
    });
}

// Selecting an entry also puts its text in the edit field, even when the entry
// was selected already and the user has typed over it since; the field shows
// the start of the name.
void ModelListWin32::Select(int index) {
    SendMessageA(combo_, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    SetWindowTextA(combo_, index >= 0 ? EntryText(combo_, index).c_str() : "");
    SendMessageA(combo_, CB_SETEDITSEL, 0, MAKELPARAM(0, 0));
}

void ModelListWin32::SelectFirstEntry() {
    calls_.Post([this] { Select(SendMessageA(combo_, CB_GETCOUNT, 0, 0) > 0 ? 0 : -1); });
}

void ModelListWin32::SelectModelName(std::string_view name) {
    calls_.Post([this, text = std::string(name)] {
        // Exactly this name: the list's own search ignores case.
        const auto count = static_cast<int>(SendMessageA(combo_, CB_GETCOUNT, 0, 0));
        for (int i = 0; i < count; ++i) {
            if (EntryText(combo_, i) == text) {
                Select(i);
                return;
            }
        }
    });
}

}  // namespace kvq::ui
