#include "sim/SimulatedActuator.h"

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <system_error>

#include "sim/Vlx400Application.h"

using namespace kvq::core;
using namespace kvq::serial;
using namespace kvq::hdlc;

namespace kvq::sim {

namespace {

using Clock = std::chrono::steady_clock;

// The longest the thread waits without a reason; a stop wakes it at once.
constexpr auto LoopSlice = std::chrono::milliseconds{10};

}  // namespace

SimulatedActuator::SimulatedActuator(SimOptions options,
                                     std::shared_ptr<SimApplication> application)
    : options_(options),
      application_(application ? std::move(application) : std::make_shared<Vlx400Application>()),
      silent_(options.silent),
      replyDelayMs_(options.replyDelay.count()),
      dropShare_(options.dropShare),
      corruptShare_(options.corruptShare),
      random_(options.seed ? *options.seed : std::random_device{}()),
      frameStorage_(FrameLimit + 3),
      link_(*application_, options.mode) {}

SimulatedActuator::~SimulatedActuator() {
    Stop();
}

bool SimulatedActuator::Start() {
    if (Running()) {
        error_ = "the simulated actuator is already running on " + devicePath_;
        return false;
    }
    SimMode mode;
    {
        std::lock_guard lock(mutex_);
        mode = link_.Mode();
    }
    std::string path;
    auto transport = CreatePtyTransport(mode, path, error_);
    if (!transport) return false;
    devicePath_ = path;
    if (!MakeLink()) return false;
    return Launch(std::move(transport));
}

bool SimulatedActuator::StartOnDevice(const std::string& path) {
    if (Running()) {
        error_ = "the simulated actuator is already running on " + devicePath_;
        return false;
    }
    auto transport = OpenDeviceTransport(path, error_);
    if (!transport) return false;
    devicePath_ = path;
    return Launch(std::move(transport));
}

bool SimulatedActuator::StartOnLine(InMemoryLine& line) {
    if (Running()) {
        error_ = "the simulated actuator is already running on " + devicePath_;
        return false;
    }
    devicePath_ = "in-memory line";
    return Launch(InMemoryTransport(line.Far()));
}

bool SimulatedActuator::Launch(std::unique_ptr<SimTransport> transport) {
    stop_ = false;
    receiver_.Reset();
    frameLength_ = 0;
    pending_.clear();
    transport_ = std::move(transport);
    if (tap_) {
        SimMode mode;
        {
            std::lock_guard lock(mutex_);
            mode = link_.Mode();
        }
        tap_->RecordOpened(devicePath_, BaudRateOf(mode), {});
    }
    try {
        thread_ = std::thread(&SimulatedActuator::Run, this);
    } catch (const std::system_error& failure) {
        error_ = std::string("cannot start the simulator thread: ") + failure.what();
        transport_.reset();
        RemoveLink();
        return false;
    }
    error_.clear();
    return true;
}

void SimulatedActuator::Stop() {
    stop_ = true;
    if (transport_) transport_->Wake();
    const bool wasRunning = thread_.joinable();
    if (thread_.joinable()) thread_.join();
    if (tap_ && wasRunning) tap_->RecordClosed();
    RemoveLink();
    transport_.reset();
    pending_.clear();
}

bool SimulatedActuator::MakeLink() {
    if (options_.linkPath.empty()) return true;
    std::error_code error;
    std::filesystem::remove(options_.linkPath, error);
    std::filesystem::create_symlink(devicePath_, options_.linkPath, error);
    if (error) {
        error_ = "cannot link " + options_.linkPath + " to " + devicePath_ + ": " + error.message();
        return false;
    }
    linkMade_ = true;
    return true;
}

void SimulatedActuator::RemoveLink() {
    if (!linkMade_) return;
    std::error_code ignored;
    std::filesystem::remove(options_.linkPath, ignored);
    linkMade_ = false;
}

void SimulatedActuator::DropNextInformationFrames(std::uint32_t count) {
    std::lock_guard lock(mutex_);
    dropInformationLeft_ = count;
}

void SimulatedActuator::CorruptNextInformationAnswers(std::uint32_t count) {
    std::lock_guard lock(mutex_);
    corruptInformationLeft_ = count;
}

void SimulatedActuator::MisnumberAnswers(SequenceFault fault, std::uint32_t count) {
    std::lock_guard lock(mutex_);
    link_.MisnumberAnswers(fault, count);
}

void SimulatedActuator::SetMode(SimMode mode) {
    std::lock_guard lock(mutex_);
    link_.SetMode(mode);
}

void SimulatedActuator::Restart(SimMode mode, std::chrono::milliseconds silent) {
    std::lock_guard lock(mutex_);
    link_.Restart(mode, silent);
}

void SimulatedActuator::GoSilentFor(std::chrono::milliseconds silent) {
    std::lock_guard lock(mutex_);
    link_.GoSilentFor(silent);
}

void SimulatedActuator::RestartNow(std::optional<std::chrono::milliseconds> silent) {
    std::lock_guard lock(mutex_);
    application_->RestartNow(link_, silent);
}

void SimulatedActuator::PowerCutNow(std::chrono::milliseconds off) {
    std::lock_guard lock(mutex_);
    application_->PowerCutNow(link_, off);
}

SimLinkState SimulatedActuator::LinkState() const {
    std::lock_guard lock(mutex_);
    SimLinkState state;
    state.mode = link_.Mode();
    state.address = link_.Address();
    state.connected = link_.Connected();
    state.sendSequence = link_.SendSequence();
    state.receiveSequence = link_.ReceiveSequence();
    state.silent = link_.Silent();
    return state;
}

SimCounters SimulatedActuator::Counters() const {
    std::lock_guard lock(mutex_);
    SimCounters counters = counters_;
    counters.answersRepeated = link_.RepeatedAnswers();
    counters.answersMisnumbered = link_.MisnumberedAnswers();
    return counters;
}

std::vector<ReceivedFrame> SimulatedActuator::TakeReceivedLog() {
    std::lock_guard lock(mutex_);
    std::vector<ReceivedFrame> taken(std::make_move_iterator(log_.begin()),
                                     std::make_move_iterator(log_.end()));
    log_.clear();
    return taken;
}

void SimulatedActuator::Run() {
    while (!stop_) {
        auto wait = LoopSlice;
        if (!pending_.empty()) {
            const auto untilDue =
                std::chrono::ceil<std::chrono::milliseconds>(pending_.front().due - Clock::now());
            wait = std::clamp(untilDue, std::chrono::milliseconds{0}, LoopSlice);
        }
        // Readable yet empty is a device that went away: wait instead of
        // spinning on it.
        if (transport_->WaitInput(wait) && !ReadInput()) std::this_thread::sleep_for(LoopSlice);
        SendDueAnswers();
        SimMode mode;
        {
            std::lock_guard lock(mutex_);
            // A fault due at a time happens within a loop slice of it, even
            // on a quiet line.
            link_.Tick();
            mode = link_.Mode();
        }
        transport_->FollowMode(mode);
    }
}

bool SimulatedActuator::ReadInput() {
    std::uint8_t chunk[512];
    bool gotInput = false;
    // Bounded, so answers fall due even under a flood of input.
    for (int round = 0; round < 16 && !stop_; ++round) {
        const std::size_t got = transport_->Read(chunk);
        if (got == 0) break;
        gotInput = true;
        if (tap_) {
            const auto rate = transport_->ToolBaudRate();
            tap_->Record(serial::TapKind::Received, std::span<const std::uint8_t>(chunk, got),
                         rate.value_or(0));
        }
        if (options_.adapterEcho) Echo(std::span<const std::uint8_t>(chunk, got));
        for (std::size_t i = 0; i < got; ++i) {
            if (receiver_.AcceptByte(chunk[i], frameStorage_, frameLength_))
                HandleFrame(std::span<const std::uint8_t>(frameStorage_.data(), frameLength_));
        }
    }
    return gotInput;
}

void SimulatedActuator::HandleFrame(std::span<const std::uint8_t> frame) {
    // The receiver reports good frames only, and those hold at least the
    // address, the control octet and the two FCS octets.
    if (frame.size() < 4) return;
    const auto body = frame.first(frame.size() - 2);
    const auto rate = transport_->ToolBaudRate();
    const auto now = Clock::now();

    std::lock_guard lock(mutex_);
    const SimMode mode = link_.Mode();
    const bool heard = !rate || *rate == BaudRateOf(mode);
    if (options_.logLimit > 0) {
        if (log_.size() >= options_.logLimit) log_.pop_front();
        log_.push_back(ReceivedFrame{now, {body.begin(), body.end()}, rate.value_or(0), heard});
    }
    // At another speed a real device sees only garbage.
    if (!heard) {
        ++counters_.framesAtWrongSpeed;
        return;
    }
    ++counters_.framesReceived;
    if (silent_) {
        ++counters_.framesIgnoredSilent;
        return;
    }
    if (Chance(dropShare_)) {
        ++counters_.framesDropped;
        return;
    }
    if (dropInformationLeft_ > 0 && hdlc::IsIFrame(body[1])) {
        --dropInformationLeft_;
        ++counters_.framesDropped;
        return;
    }
    const auto answer = link_.HandleFrame(body);
    if (!answer) return;
    hdlc::FrameBytes bytes;
    hdlc::EncodeFrame(*answer, bytes);
    std::vector<std::uint8_t> line(bytes.data(), bytes.data() + bytes.size());
    bool corrupt = Chance(corruptShare_);
    if (!corrupt && corruptInformationLeft_ > 0 && hdlc::IsIFrame((*answer)[1])) {
        --corruptInformationLeft_;
        corrupt = true;
    }
    if (corrupt) {
        Corrupt(line);
        ++counters_.framesCorrupted;
    }
    if (options_.logLimit > 0 && !log_.empty()) log_.back().answerOctets = line.size();
    const auto delay = std::chrono::milliseconds{std::max<std::int64_t>(0, replyDelayMs_)};
    pending_.push_back(PendingAnswer{now + delay, std::move(line), BaudRateOf(mode)});
}

void SimulatedActuator::Echo(std::span<const std::uint8_t> octets) {
    // The adapter hears itself as it sends: at the tool's own speed, whatever
    // the station's, and at once (unpaced, so the rate only names the speed).
    const std::uint32_t rate = std::max(transport_->ToolBaudRate().value_or(0), 1u);
    if (!transport_->Write(octets, rate, false, stop_)) return;
    std::lock_guard lock(mutex_);
    counters_.octetsEchoed += octets.size();
}

void SimulatedActuator::SendDueAnswers() {
    while (!pending_.empty() && !stop_ && pending_.front().due <= Clock::now()) {
        const auto sentAt = Clock::now();
        const bool written = transport_->Write(pending_.front().line, pending_.front().baudRate,
                                               options_.pace, stop_);
        if (tap_ && written)
            tap_->RecordAt(sentAt, serial::TapKind::Sent, pending_.front().line,
                           pending_.front().baudRate);
        pending_.pop_front();
        if (written) {
            std::lock_guard lock(mutex_);
            ++counters_.framesAnswered;
        }
    }
}

void SimulatedActuator::Corrupt(std::vector<std::uint8_t>& line) {
    // One octet between the flags, never an escape, changed by one bit into
    // neither a flag nor an escape: the framing holds and only the FCS fails.
    std::vector<std::size_t> candidates;
    for (std::size_t i = 1; i + 1 < line.size(); ++i) {
        if (line[i] != hdlc::Escape) candidates.push_back(i);
    }
    if (candidates.empty()) return;
    std::uniform_int_distribution<std::size_t> pick(0, candidates.size() - 1);
    std::uint8_t& octet = line[candidates[pick(random_)]];
    std::uint8_t changed = octet ^ 0x01;
    if (changed == hdlc::Flag || changed == hdlc::Escape) changed = octet ^ 0x80;
    octet = changed;
}

bool SimulatedActuator::Chance(double share) {
    if (!(share > 0.0)) return false;
    if (share >= 1.0) return true;
    return std::uniform_real_distribution<double>(0.0, 1.0)(random_) < share;
}

}  // namespace kvq::sim
