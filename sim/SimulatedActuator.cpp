#include "sim/SimulatedActuator.h"

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "sim/Vlx400Application.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto LoopSlice = std::chrono::milliseconds{10};

std::string ErrorText(int error) {
    return std::strerror(error);
}

speed_t SpeedConstant(SimMode mode) {
    return mode == SimMode::Aisg ? B9600 : B115200;
}

std::uint32_t RateOf(speed_t speed) {
    switch (speed) {
        case B1200:
            return 1200;
        case B2400:
            return 2400;
        case B4800:
            return 4800;
        case B9600:
            return 9600;
        case B19200:
            return 19200;
        case B38400:
            return 38400;
        case B57600:
            return 57600;
        case B115200:
            return 115200;
        case B230400:
            return 230400;
        case B460800:
            return 460800;
        case B921600:
            return 921600;
        default:
            return 0;
    }
}

// Raw 8N1 without flow control at the mode's speed, as the tool's port is set;
// the tool puts back at close what it found at open, which is then this.
bool SetRawLine(int fd, SimMode mode) {
    termios settings{};
    if (::tcgetattr(fd, &settings) != 0) return false;
    ::cfmakeraw(&settings);
    settings.c_cflag &= ~static_cast<tcflag_t>(CSTOPB | PARENB | CRTSCTS | CSIZE);
    settings.c_cflag |= CS8 | CLOCAL | CREAD;
    settings.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    settings.c_cc[VMIN] = 0;
    settings.c_cc[VTIME] = 0;
    ::cfsetispeed(&settings, SpeedConstant(mode));
    ::cfsetospeed(&settings, SpeedConstant(mode));
    return ::tcsetattr(fd, TCSANOW, &settings) == 0;
}

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
    const int master = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (master < 0) {
        error_ = "cannot create a pseudo-terminal: " + ErrorText(errno);
        return false;
    }
    char name[128] = {};
    if (::grantpt(master) != 0 || ::unlockpt(master) != 0 ||
        ::ptsname_r(master, name, sizeof name) != 0) {
        error_ = "cannot set up the pseudo-terminal: " + ErrorText(errno);
        ::close(master);
        return false;
    }
    const int flags = ::fcntl(master, F_GETFL);
    if (flags < 0 || ::fcntl(master, F_SETFL, flags | O_NONBLOCK) != 0) {
        error_ = "cannot set up the pseudo-terminal: " + ErrorText(errno);
        ::close(master);
        return false;
    }
    const int slave = ::open(name, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (slave < 0) {
        error_ = std::string("cannot open ") + name + ": " + ErrorText(errno);
        ::close(master);
        return false;
    }
    SimMode mode;
    {
        std::lock_guard lock(mutex_);
        mode = link_.Mode();
    }
    if (!SetRawLine(slave, mode)) {
        error_ = std::string("cannot set up ") + name + ": " + ErrorText(errno);
        ::close(slave);
        ::close(master);
        return false;
    }
    fd_ = master;
    heldSlave_ = slave;
    servingDevice_ = false;
    devicePath_ = name;
    if (!MakeLink()) {
        CloseDescriptors();
        return false;
    }
    return Launch();
}

bool SimulatedActuator::StartOnDevice(const std::string& path) {
    if (Running()) {
        error_ = "the simulated actuator is already running on " + devicePath_;
        return false;
    }
    const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        error_ = "cannot open " + path + ": " + ErrorText(errno);
        return false;
    }
    deviceSpeedMode_.reset();
    fd_ = fd;
    heldSlave_ = -1;
    servingDevice_ = true;
    devicePath_ = path;
    // Something that is no terminal (a FIFO, say) is served as it is.
    if (::isatty(fd)) MatchDeviceSpeed();
    return Launch();
}

bool SimulatedActuator::Launch() {
    stop_ = false;
    receiver_.Reset();
    frameLength_ = 0;
    pending_.clear();
    try {
        thread_ = std::thread(&SimulatedActuator::Run, this);
    } catch (const std::system_error& failure) {
        error_ = std::string("cannot start the simulator thread: ") + failure.what();
        CloseDescriptors();
        RemoveLink();
        return false;
    }
    error_.clear();
    return true;
}

void SimulatedActuator::Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
    RemoveLink();
    CloseDescriptors();
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

void SimulatedActuator::CloseDescriptors() {
    if (heldSlave_ >= 0) ::close(heldSlave_);
    if (fd_ >= 0) ::close(fd_);
    heldSlave_ = -1;
    fd_ = -1;
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
        pollfd entry{fd_, POLLIN, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(wait.count()));
        bool lineDown = ready < 0 && errno != EINTR;
        if (ready > 0) {
            const bool gotInput = (entry.revents & POLLIN) != 0 && ReadInput();
            // With the slave held a pseudo-terminal never hangs up, but a
            // served device may: wait instead of spinning on it.
            if (!gotInput && (entry.revents & (POLLHUP | POLLERR | POLLNVAL | POLLIN)) != 0)
                lineDown = true;
        }
        if (lineDown) std::this_thread::sleep_for(LoopSlice);
        SendDueAnswers();
        if (servingDevice_) MatchDeviceSpeed();
    }
}

bool SimulatedActuator::ReadInput() {
    std::uint8_t chunk[512];
    bool gotInput = false;
    // Bounded, so answers fall due even under a flood of input.
    for (int round = 0; round < 16 && !stop_; ++round) {
        const ssize_t got = ::read(fd_, chunk, sizeof chunk);
        if (got <= 0) break;
        gotInput = true;
        for (ssize_t i = 0; i < got; ++i) {
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
    const auto rate = LineBaudRate();
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
    const auto delay = std::chrono::milliseconds{std::max<std::int64_t>(0, replyDelayMs_)};
    pending_.push_back(PendingAnswer{now + delay, std::move(line), BaudRateOf(mode)});
}

void SimulatedActuator::SendDueAnswers() {
    while (!pending_.empty() && !stop_ && pending_.front().due <= Clock::now()) {
        const bool written = WriteLine(pending_.front().line, pending_.front().baudRate);
        pending_.pop_front();
        if (written) {
            std::lock_guard lock(mutex_);
            ++counters_.framesAnswered;
        }
    }
}

bool SimulatedActuator::WriteLine(std::span<const std::uint8_t> line, std::uint32_t baudRate) {
    // Nobody reading for this long means nobody is there: the answer is lost,
    // as it would be on a line without a listener.
    constexpr auto WriteLimit = std::chrono::milliseconds{200};
    const auto octetTime = std::chrono::duration<double>(10.0 / baudRate);
    const auto start = Clock::now();
    std::size_t sent = 0;
    while (sent < line.size()) {
        if (stop_) return false;
        std::size_t count = line.size() - sent;
        if (options_.pace) {
            // Each octet leaves when the one before it would have been on the wire.
            std::this_thread::sleep_until(
                start + std::chrono::duration_cast<Clock::duration>(octetTime * (sent + 1)));
            count = 1;
        }
        const ssize_t written = ::write(fd_, line.data() + sent, count);
        if (written > 0) {
            sent += static_cast<std::size_t>(written);
            continue;
        }
        if (written < 0 && errno == EINTR) continue;
        if (written < 0 && errno != EAGAIN && errno != EWOULDBLOCK) return false;
        if (!WaitWritable(WriteLimit)) return false;
    }
    return true;
}

bool SimulatedActuator::WaitWritable(std::chrono::milliseconds limit) {
    const auto deadline = Clock::now() + limit;
    while (!stop_ && Clock::now() < deadline) {
        pollfd entry{fd_, POLLOUT, 0};
        const int ready = ::poll(&entry, 1, static_cast<int>(LoopSlice.count()));
        if (ready > 0 && (entry.revents & POLLOUT) != 0) return true;
        if (ready > 0 && (entry.revents & (POLLHUP | POLLERR | POLLNVAL)) != 0)
            std::this_thread::sleep_for(LoopSlice);
    }
    return false;
}

std::optional<std::uint32_t> SimulatedActuator::LineBaudRate() const {
    // On a pseudo-terminal's master this reads the slave's settings: the speed
    // the tool chose.
    termios settings{};
    if (::tcgetattr(fd_, &settings) != 0) return std::nullopt;
    return RateOf(::cfgetospeed(&settings));
}

void SimulatedActuator::MatchDeviceSpeed() {
    // A served device is our own end of the line: it follows the mode.
    SimMode mode;
    {
        std::lock_guard lock(mutex_);
        mode = link_.Mode();
    }
    if (deviceSpeedMode_ == mode) return;
    if (SetRawLine(fd_, mode) || !::isatty(fd_)) deviceSpeedMode_ = mode;
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
