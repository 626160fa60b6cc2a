#pragma once

#include <QCoreApplication>
#include <QEventLoop>
#include <chrono>
#include <functional>
#include <thread>
#include <vector>

#include "ui/MessageText.h"

namespace kvq::ui {

// Keeps the event loop turning until the condition holds; false when it did
// not within the limit.
inline bool WaitFor(const std::function<bool()>& condition, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}

// Turns the event loop for a while.
inline void Pump(std::chrono::milliseconds time) {
    WaitFor([] { return false; }, time);
}

// Records the message boxes instead of showing them; questions are answered
// with answer (and recorded in asked).
class RecordingPresenter final : public MessagePresenter {
public:
    void Show(const MessageText& message) override { shown.push_back(message); }
    bool Ask(const MessageText& question) override {
        asked.push_back(question);
        return answer;
    }
    std::vector<MessageText> shown;
    std::vector<MessageText> asked;
    bool answer = false;
};

}  // namespace kvq::ui
