#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "hdlc/FrameCodec.h"
#include "serial/InMemoryLine.h"
#include "serial/LineTap.h"
#include "sim/SecondaryLink.h"
#include "sim/SimApplication.h"
#include "sim/SimTransport.h"

namespace kvq::sim {

struct SimOptions {
    SimMode mode = SimMode::Ericsson;
    // Send each octet when it would have left a real line (10 bits per octet at
    // the mode's rate) instead of all at once.
    bool pace = true;
    std::chrono::milliseconds replyDelay{0};
    // Shares (0..1) of good frames ignored on receipt, and of answers sent with
    // one octet altered so their FCS fails.
    double dropShare = 0.0;
    double corruptShare = 0.0;
    // Unset: a different sequence on every run.
    std::optional<std::uint32_t> seed;
    bool silent = false;
    // An RS-485 adapter that keeps its receiver on while it sends: every octet
    // the tool sends comes straight back to it, before any answer.
    bool adapterEcho = false;
    // Received frames kept for TakeReceivedLog; the oldest go first.
    std::size_t logLimit = 10000;
    // When set, a symbolic link there names the line while the simulator runs
    // (made at start, removed at stop), so a tool can reach the actuator by
    // one name across a stop and a start on a new pseudo-terminal.
    std::string linkPath;
};

struct ReceivedFrame {
    std::chrono::steady_clock::time_point time;
    std::vector<std::uint8_t> body;  // address, control, information
    std::uint32_t baudRate = 0;      // the line's speed when it ended; 0 not known
    bool heard = false;              // at the mode's speed, so the station saw it
    std::size_t answerOctets = 0;    // the answer as it goes on the line; 0 for none
};

struct SimCounters {
    std::uint64_t framesReceived = 0;      // good frames at the mode's speed
    std::uint64_t framesAtWrongSpeed = 0;  // good frames sent at another speed: never seen
    std::uint64_t framesIgnoredSilent = 0;
    std::uint64_t framesDropped = 0;
    std::uint64_t framesAnswered = 0;  // answers written to the line
    std::uint64_t framesCorrupted = 0;
    std::uint64_t answersRepeated = 0;     // I-frames sent again for the primary's N(R)
    std::uint64_t answersMisnumbered = 0;  // sent with a sequence number wrong on purpose
    std::uint64_t octetsEchoed = 0;        // read back to the tool by an echoing adapter
};

struct SimLinkState {
    SimMode mode = SimMode::Ericsson;
    std::optional<std::uint8_t> address;
    bool connected = false;
    std::uint8_t sendSequence = 0;
    std::uint8_t receiveSequence = 0;
    bool silent = false;  // in a silent time after a restart (not SetSilent)
};

// The actuator behind its RS-485 adapter: the secondary station on a
// pseudo-terminal, a given device or the far end of an in-memory line, served
// by a thread of its own.
class SimulatedActuator {
public:
    // Without an application it is an E-VLX400 with the default settings.
    explicit SimulatedActuator(SimOptions options = {},
                               std::shared_ptr<SimApplication> application = nullptr);
    ~SimulatedActuator();
    SimulatedActuator(const SimulatedActuator&) = delete;
    SimulatedActuator& operator=(const SimulatedActuator&) = delete;

    // Creates a pseudo-terminal whose slave the tool opens; false, with
    // Error() saying why, when that fails.
    bool Start();
    // Serves an existing device (a serial port wired to the tool's) instead.
    bool StartOnDevice(const std::string& path);
    // Serves the far end of an in-memory line, which must outlive the run.
    bool StartOnLine(serial::InMemoryLine& line);
    // Prompt: the thread is woken. The line goes away with it, as an adapter pulled out does; the
    // station keeps its state, and Start brings it back on a new pseudo-terminal.
    void Stop();
    bool Running() const { return thread_.joinable(); }
    const std::string& Error() const { return error_; }
    const std::string& DevicePath() const { return devicePath_; }

    // Records every octet received and every answer sent (not the adapter's
    // echo) from the next Start on; nullptr for none. Set while stopped.
    void SetTap(serial::LineTap* tap) { tap_ = tap; }

    // Run-time fault switches.
    void SetSilent(bool silent) { silent_ = silent; }
    void SetReplyDelay(std::chrono::milliseconds delay) { replyDelayMs_ = delay.count(); }
    void SetDropShare(double share) { dropShare_ = share; }
    void SetCorruptShare(double share) { corruptShare_ = share; }
    // Faults on exact frames: the next `count` I-frames from the tool are lost
    // on receipt; the next `count` I-frame answers go out with a failing FCS;
    // the next `count` answers go out misnumbered (SecondaryLink).
    void DropNextInformationFrames(std::uint32_t count);
    void CorruptNextInformationAnswers(std::uint32_t count);
    void MisnumberAnswers(SequenceFault fault, std::uint32_t count);

    // The station's own changes, as SecondaryLink has them.
    void SetMode(SimMode mode);
    void Restart(SimMode mode, std::chrono::milliseconds silent);
    void GoSilentFor(std::chrono::milliseconds silent);
    // A restart as the application makes one (for the E-VLX400: the mode it
    // was told to come back in, the firmware it received); without a time, for
    // the application's own restart silence.
    void RestartNow(std::optional<std::chrono::milliseconds> silent = std::nullopt);
    // The power gone for `off` from now, as the application takes it (for the
    // E-VLX400: a move stops where it is, and it comes back as after a
    // restart, not connected, once the time is over).
    void PowerCutNow(std::chrono::milliseconds off);

    SimLinkState LinkState() const;
    SimCounters Counters() const;
    // The frames received since the last call, oldest first.
    std::vector<ReceivedFrame> TakeReceivedLog();
    const std::shared_ptr<SimApplication>& Application() const { return application_; }

private:
    // Longer frames than the primary ever sends are still taken whole.
    static constexpr std::uint32_t FrameLimit = 253;

    struct PendingAnswer {
        std::chrono::steady_clock::time_point due;
        std::vector<std::uint8_t> line;
        std::uint32_t baudRate;
    };

    bool Launch(std::unique_ptr<SimTransport> transport);
    void Run();
    // Feeds what has arrived to the receiver; false when nothing came.
    bool ReadInput();
    void HandleFrame(std::span<const std::uint8_t> frame);
    // Sends what was just read straight back, as an echoing adapter does.
    void Echo(std::span<const std::uint8_t> octets);
    void SendDueAnswers();
    void Corrupt(std::vector<std::uint8_t>& line);
    bool Chance(double share);
    bool MakeLink();
    void RemoveLink();

    SimOptions options_;
    std::shared_ptr<SimApplication> application_;
    std::string error_;
    std::string devicePath_;

    // The side we read and write; only the thread uses it while it runs.
    std::unique_ptr<SimTransport> transport_;
    bool linkMade_ = false;
    serial::LineTap* tap_ = nullptr;

    std::thread thread_;
    std::atomic<bool> stop_{false};
    std::atomic<bool> silent_;
    std::atomic<std::int64_t> replyDelayMs_;
    std::atomic<double> dropShare_;
    std::atomic<double> corruptShare_;

    // Only the thread touches these.
    std::mt19937 random_;
    hdlc::FrameReceiver receiver_{FrameLimit};
    std::vector<std::uint8_t> frameStorage_;
    std::size_t frameLength_ = 0;
    std::deque<PendingAnswer> pending_;

    mutable std::mutex mutex_;  // guards everything below
    SecondaryLink link_;
    SimCounters counters_;
    std::uint32_t dropInformationLeft_ = 0;
    std::uint32_t corruptInformationLeft_ = 0;
    std::deque<ReceivedFrame> log_;
};

}  // namespace kvq::sim
