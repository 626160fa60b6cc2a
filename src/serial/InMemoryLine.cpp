#include "serial/InMemoryLine.h"

#include <algorithm>
#include <condition_variable>
#include <deque>
#include <mutex>

namespace kvq::serial {

namespace {

using SteadyClock = std::chrono::steady_clock;

struct TimedOctet {
    SteadyClock::time_point due;
    std::uint8_t octet;
};

}  // namespace

struct InMemoryLine::Shared {
    mutable std::mutex mutex;
    std::condition_variable toolChanged;
    std::condition_variable farChanged;
    std::deque<TimedOctet> toTool;
    std::deque<std::uint8_t> toFar;
    SteadyClock::time_point lastDue{};  // when the last octet for the tool arrives
    bool toolOpen = false;
    std::int32_t toolRate = 0;
    bool toolWake = false;
    bool farWake = false;
};

class InMemoryLine::ToolSide final : public SerialLine {
public:
    explicit ToolSide(Shared& shared) : shared_(shared) {}

    OpenOutcome Open(const std::string& name, std::int32_t baudRate) override {
        Close();
        IsOpen = 0;
        if (name == "USB") return OpenOutcome::NotTried;
        const std::int32_t rate = RateFor(baudRate);
        {
            std::lock_guard lock(shared_.mutex);
            shared_.toolOpen = true;
            shared_.toolRate = rate;
            shared_.toTool.clear();
            shared_.toFar.clear();
        }
        NoteOpened(rate);
        return OpenOutcome::Opened;
    }

    void Close() override {
        std::lock_guard lock(shared_.mutex);
        if (!shared_.toolOpen) return;
        IsOpen = 0;
        shared_.toolOpen = false;
        shared_.toolRate = 0;
        shared_.toTool.clear();
    }

    void Discard() override {
        std::lock_guard lock(shared_.mutex);
        shared_.toTool.clear();
    }

    void Write(std::span<const std::uint8_t> frame) override {
        {
            std::lock_guard lock(shared_.mutex);
            if (!shared_.toolOpen) return;
            shared_.toFar.insert(shared_.toFar.end(), frame.begin(), frame.end());
        }
        shared_.farChanged.notify_all();
    }

    LineEvent Wait(std::chrono::microseconds timeout, bool watchInput) override {
        const auto deadline = SteadyClock::now() + timeout;
        std::unique_lock lock(shared_.mutex);
        for (;;) {
            if (shared_.toolWake) {
                shared_.toolWake = false;
                return LineEvent::WokenUp;
            }
            const auto now = SteadyClock::now();
            auto until = deadline;
            if (watchInput && !shared_.toTool.empty()) {
                const auto due = shared_.toTool.front().due;
                if (due <= now) return LineEvent::Input;
                until = std::min(until, due);
            }
            if (now >= deadline) return LineEvent::TimedOut;
            shared_.toolChanged.wait_until(lock, until);
        }
    }

    std::size_t Read(std::span<std::uint8_t> into) override {
        std::size_t got = 0;
        {
            std::lock_guard lock(shared_.mutex);
            const auto now = SteadyClock::now();
            while (got < into.size() && !shared_.toTool.empty() &&
                   shared_.toTool.front().due <= now) {
                into[got++] = shared_.toTool.front().octet;
                shared_.toTool.pop_front();
            }
        }
        if (got > 0) ReceivedSinceAsked = 1;
        return got;
    }

    void Wake() override {
        {
            std::lock_guard lock(shared_.mutex);
            shared_.toolWake = true;
        }
        shared_.toolChanged.notify_all();
    }

private:
    Shared& shared_;
};

InMemoryLine::InMemoryLine()
    : shared_(std::make_unique<Shared>()), tool_(std::make_unique<ToolSide>(*shared_)) {}

InMemoryLine::~InMemoryLine() = default;

SerialLine& InMemoryLine::ToolEnd() {
    return *tool_;
}

void InMemoryLine::FarEnd::Write(std::span<const std::uint8_t> octets, std::uint32_t paceRate) {
    Shared& shared = *line_.shared_;
    {
        std::lock_guard lock(shared.mutex);
        if (!shared.toolOpen) return;
        const auto now = SteadyClock::now();
        const auto octetTime = paceRate == 0 ? SteadyClock::duration::zero()
                                             : std::chrono::duration_cast<SteadyClock::duration>(
                                                   std::chrono::duration<double>(10.0 / paceRate));
        // Paced octets queue behind those still on their way, as on a wire.
        auto due = paceRate == 0 ? now : std::max(now, shared.lastDue);
        for (const std::uint8_t octet : octets) {
            due += octetTime;
            shared.toTool.push_back({due, octet});
        }
        shared.lastDue = due;
    }
    shared.toolChanged.notify_all();
}

std::size_t InMemoryLine::FarEnd::Read(std::span<std::uint8_t> into) {
    Shared& shared = *line_.shared_;
    std::lock_guard lock(shared.mutex);
    const std::size_t got = std::min(into.size(), shared.toFar.size());
    std::copy_n(shared.toFar.begin(), got, into.begin());
    shared.toFar.erase(shared.toFar.begin(), shared.toFar.begin() + static_cast<long>(got));
    return got;
}

LineEvent InMemoryLine::FarEnd::Wait(std::chrono::milliseconds timeout) {
    Shared& shared = *line_.shared_;
    std::unique_lock lock(shared.mutex);
    const bool ended = shared.farChanged.wait_for(
        lock, timeout, [&] { return shared.farWake || !shared.toFar.empty(); });
    if (!ended) return LineEvent::TimedOut;
    if (shared.farWake) {
        shared.farWake = false;
        return LineEvent::WokenUp;
    }
    return LineEvent::Input;
}

void InMemoryLine::FarEnd::Wake() {
    Shared& shared = *line_.shared_;
    {
        std::lock_guard lock(shared.mutex);
        shared.farWake = true;
    }
    shared.farChanged.notify_all();
}

std::int32_t InMemoryLine::FarEnd::ToolBaudRate() const {
    std::lock_guard lock(line_.shared_->mutex);
    return line_.shared_->toolRate;
}

bool InMemoryLine::FarEnd::ToolOpen() const {
    std::lock_guard lock(line_.shared_->mutex);
    return line_.shared_->toolOpen;
}

}  // namespace kvq::serial
