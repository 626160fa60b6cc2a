#include "hdlc/LinkThread.h"

#include <algorithm>
#include <array>
#include <chrono>

#include "core/MainDataStore.h"
#include "core/ThreadPriority.h"
#include "core/TimeSource.h"
#include "hdlc/DeadlineTimer.h"
#include "hdlc/HDLCPrimary.h"
#include "serial/LineTap.h"
#include "serial/SerialLine.h"

using namespace kvq::core;
using namespace kvq::serial;

namespace kvq::hdlc {

namespace {

constexpr std::uint32_t StartDelayMs = 100;
constexpr std::uint32_t OpenSettleMs = 2000;
constexpr std::uint32_t NoPortPauseMs = 1000;
constexpr std::uint32_t ReplyExtensionMs = 80;
constexpr std::uint32_t AfterFrameMs = 10;
constexpr std::uint32_t TransmitMs = 30;
constexpr std::uint32_t ScanTransmitMs = 100;
constexpr std::uint32_t ArmReplyMs = 2;
constexpr std::uint32_t ReplyWindowMs = 120;
// A step held with its timer run out (a scan target met) is looked at again this often.
constexpr std::uint32_t HeldStepMs = 5;
constexpr std::int32_t FallbackAttempts = 2;
// A port whose device went away is tried again this often, not on every turn.
constexpr std::uint32_t LostPortRetryMs = 500;

// The shortest frame after its opening flag: address, control, two FCS octets.
constexpr std::uint32_t ShortestFrame = 4;
constexpr std::uint32_t EricssonHeader = 5;  // address, control, 0xC0, 0x00, length
// The far end takes a moment to turn the line round and start its answer: a
// wait for an answer's end allows this many octet times more, so that one
// wake-up finds it whole instead of one octet short.
constexpr std::uint32_t TurnaroundOctets = 2;
constexpr std::uint32_t BitsPerOctet = 10;

enum class PollStep { Transmit, TransmitDelay, ArmReply, AwaitReply, Pause };

// Whether the secondary could ever send this frame (octets as on the line)
// itself, so that a copy of it read back first might be its answer. It never
// sends SNRM or the address assignment, and its I-frame acknowledges ours, so
// never equals it; its RR answer to our RR is byte for byte our poll.
EchoFilter::Copy CopyKind(std::span<const std::uint8_t> frame) {
    std::array<std::uint8_t, 2> head{};  // address and control
    std::size_t have = 0;
    bool escaped = false;
    for (std::size_t i = 1; i < frame.size() && have < head.size(); ++i) {
        if (frame[i] == hdlc::Escape) {
            escaped = true;
            continue;
        }
        head[have++] = escaped ? static_cast<std::uint8_t>(frame[i] ^ hdlc::EscapeXor) : frame[i];
        escaped = false;
    }
    if (have < head.size()) return EchoFilter::Copy::MayBeAnswer;
    const bool neverAnswer =
        head[0] == hdlc::BroadcastAddress || head[1] == hdlc::SnrmPoll || hdlc::IsIFrame(head[1]);
    return neverAnswer ? EchoFilter::Copy::ProvesEcho : EchoFilter::Copy::MayBeAnswer;
}

std::int32_t BaudFor(LinkMode mode) {
    return mode == LinkMode::Aisg ? AisgBaud : EricssonBaud;
}

// Milliseconds from now until the tick, none when it has come.
std::chrono::microseconds Until(std::uint32_t tick) {
    return Clock().UntilTick(tick);
}

// The poll cycle: five steps on the poll timer, driving the station against
// the line. Between steps the thread waits on the line's input, its queue and
// the timer together.
class PollCycle final : public FrameSink {
public:
    PollCycle(CHDLCPrimary& station, SerialLine& line, CMainDataStore& context, ThreadId self)
        : station_(station), line_(line), context_(context), self_(self) {
        station_.SetFrameSink(this);
        timer_.Set(StartDelayMs);
    }
    ~PollCycle() override { station_.SetFrameSink(nullptr); }
    PollCycle(const PollCycle&) = delete;
    PollCycle& operator=(const PollCycle&) = delete;

    void SendFrameBytes(std::span<const std::uint8_t> frame) override {
        line_.Write(frame);
        if (LineTap* tap = line_.Tap(); tap && line_.IsOpen.load() != 0)
            tap->Record(TapKind::Sent, frame, static_cast<std::uint32_t>(line_.BaudRate()));
        // An adapter that echoes reads this frame back before the answer.
        line_.Echo().Sent(frame, CopyKind(frame));
        // No answer is whole before the shortest frame has crossed the wire:
        // no need to wake for its first octets.
        partial_ = true;
        partialStalled_ = false;
        partialUntil_ =
            std::chrono::steady_clock::now() + WireTime(ShortestFrame + 2 + TurnaroundOctets);
    }

    // keepEcho: the same adapter again at the other mode's rate, so what the
    // echo filter learnt of it still holds; any other open starts afresh.
    void OpenLine(bool keepEcho = false) {
        if (!keepEcho) line_.Echo().Reset();
        const std::string name = context_.SelectedPortName();
        const OpenOutcome outcome = line_.Open(name, BaudFor(station_.Mode()));
        if (LineTap* tap = line_.Tap(); tap && outcome == OpenOutcome::Opened)
            tap->RecordOpened(name, static_cast<std::uint32_t>(line_.BaudRate()),
                              line_.LowLatencyGranted());
        // "USB" names no port: the last outcome stands.
        // Told after the line's own flags have their new values, so whoever
        // wakes on it reads the outcome, not the state before.
        if (outcome != OpenOutcome::NotTried)
            context_.SetPortOpened(outcome == OpenOutcome::Opened ? 1 : 0);
        if (outcome == OpenOutcome::Opened && lost_) {
            lost_ = false;
            context_.SetPortLost(0);
        }
        if (lost_) retryAt_ = TickCount() + LostPortRetryMs;
    }

    void CloseLine() {
        const bool wasOpen = line_.IsOpen.load() != 0;
        line_.Close();
        if (LineTap* tap = line_.Tap(); tap && wasOpen) tap->RecordClosed();
    }
    // Hands octets just read to the line's tap, with where the echo filter
    // found the line's own frame read back.
    void TapReceived(std::chrono::steady_clock::time_point when,
                     std::span<const std::uint8_t> octets,
                     std::span<const std::uint16_t> echoEnds) {
        if (LineTap* tap = line_.Tap())
            tap->RecordAt(when, TapKind::Received, octets,
                          static_cast<std::uint32_t>(line_.BaudRate()), echoEnds);
    }

    void Run();
    // After the stop request: lets the answer to the last poll come in (or its
    // window pass) so the line is quiet, then closes it. Sends nothing.
    void LetGo();

private:
    void HandleMessage(ThreadMessage& message);
    // Closes a port whose device went away, and opens it again when the
    // device is back, trying no more often than LostPortRetryMs.
    void WatchForLoss();
    void DrainInput();
    // True when the octet ended the line's own frame read back.
    bool Feed(std::uint8_t octet);
    void Step();
    void TransmitStep();
    void PauseStep(std::uint32_t at);
    void WaitForSomething();
    std::chrono::microseconds RestOfFrame() const;
    // How long so many octets take on the wire at the line's rate, at least 1 ms.
    // How long octets take on the wire at the line's rate. Only the wake-ups
    // for a frame's rest are sized by it, never a step of the cycle, so it
    // goes by the real clock to the microsecond.
    std::chrono::microseconds WireTime(std::uint32_t octets) const;
    bool DeviceIdle() const;
    std::uint32_t ModePause(std::uint32_t ericssonMs, std::uint32_t aisgMs) const {
        return station_.Mode() == LinkMode::Aisg ? aisgMs : ericssonMs;
    }
    bool AnswerDue() const {
        return step_ == PollStep::TransmitDelay || step_ == PollStep::ArmReply ||
               step_ == PollStep::AwaitReply;
    }

    CHDLCPrimary& station_;
    SerialLine& line_;
    CMainDataStore& context_;
    ThreadId self_;

    PollStep step_ = PollStep::Transmit;
    DeadlineTimer timer_;
    std::int32_t failedAttempts_ = 0;
    std::uint8_t scanResponses_ = 0;
    std::uint8_t scanTarget_ = 0;
    bool replyWindowArmed_ = false;
    bool reopenPending_ = false;
    bool newPort_ = false;  // the pending reopen is for a port chosen anew
    bool lost_ = false;     // the port's device went away; retried at retryAt_
    std::uint32_t retryAt_ = 0;
    // A frame half in: read the rest when it should all be there, not octet by octet.
    bool partial_ = false;
    bool partialStalled_ = false;  // the last such wait brought nothing
    std::chrono::steady_clock::time_point partialUntil_{};
    std::array<std::uint8_t, 256> input_{};
    std::array<std::uint16_t, 256> echoEnds_{};
};

void PollCycle::Run() {
    while (!context_.StopRequested()) {
        // A pause run out while the thread slept on to the transmit after it
        // is taken at its own time, before anything that came in since. The
        // transmit's 10 ms count from the pause's deadline, so the gap after
        // an answer is the 10 + 10 ms it is meant to be rather than 21.
        if (step_ == PollStep::Pause && !reopenPending_ && timer_.Expired())
            PauseStep(timer_.Deadline());
        ThreadMessage message;
        while (TakeMessage(self_, message))
            HandleMessage(message);
        if (context_.StopRequested()) break;
        DrainInput();
        WatchForLoss();
        if (timer_.Expired()) {
            station_.SelectNextSecondary();
            Step();
        }
        WaitForSomething();
    }
}

void PollCycle::WatchForLoss() {
    if (lost_) {
        if (static_cast<std::int32_t>(TickCount() - retryAt_) >= 0) OpenLine();
        return;
    }
    if (line_.IsOpen.load() == 0 || !line_.Vanished()) return;
    CloseLine();
    lost_ = true;
    context_.SetPortOpened(0);
    context_.SetPortLost(1);
    retryAt_ = TickCount() + LostPortRetryMs;
}

void PollCycle::WaitForSomething() {
    std::chrono::microseconds wait;
    if (step_ == PollStep::Transmit && timer_.Expired()) {
        wait = std::chrono::milliseconds(HeldStepMs);
    } else {
        // The timer counts as expired from the millisecond after its deadline.
        std::uint32_t expiry = timer_.Deadline() + 1;
        // A pause leads to the transmit without touching the line: sleep on
        // to the transmit's own expiry.
        if (step_ == PollStep::Pause && !reopenPending_) expiry += ModePause(10, 30);
        wait = Until(expiry);
    }
    bool watchInput = true;
    if (partial_ && !partialStalled_) {
        const auto rest = std::max(std::chrono::ceil<std::chrono::microseconds>(
                                       partialUntil_ - std::chrono::steady_clock::now()),
                                   std::chrono::microseconds(0));
        if (rest <= wait) {
            wait = rest;
            watchInput = false;
        }
    }
    const LineEvent event = line_.Wait(wait, watchInput);
    if (!watchInput && event == LineEvent::TimedOut) partialStalled_ = true;  // until input shows
}

void PollCycle::HandleMessage(ThreadMessage& message) {
    switch (message.number) {
        case MsgCommand:
            station_.EnqueueCommand(std::move(message.lParam), false);
            break;
        case MsgRawCommand:
            station_.EnqueueCommand(std::move(message.lParam), true);
            break;
        case MsgAisgMode:
            station_.OnAisgMode();
            ++scanTarget_;
            reopenPending_ = true;
            break;
        case MsgEricssonMode:
            station_.OnEricssonMode();
            reopenPending_ = true;
            break;
        case MsgSuspendPolling:
            station_.OnSuspendPolling(message.wParam);
            break;
        case MsgResumePolling:
            station_.OnResumePolling(message.wParam);
            break;
        case MsgReopenPort:
            reopenPending_ = true;
            newPort_ = true;  // perhaps another adapter
            break;
        default:
            break;  // not ours: dropped, and any block with it freed
    }
}

void PollCycle::DrainInput() {
    bool first = true;
    for (;;) {
        const std::size_t got = line_.Read(input_);
        if (got == 0) break;
        const auto readAt = std::chrono::steady_clock::now();
        if (first) {
            partialStalled_ = false;
            first = false;
        }
        std::size_t echoes = 0;
        for (std::size_t i = 0; i < got; ++i) {
            if (Feed(input_[i])) echoEnds_[echoes++] = static_cast<std::uint16_t>(i);
        }
        TapReceived(readAt, std::span(input_).first(got), std::span(echoEnds_).first(echoes));
        // Less than asked for is all there was: no read to learn that again.
        if (got < input_.size()) break;
    }
    if (first) return;  // nothing new: any wait for the rest of a frame stands
    const SecondaryStation* s = station_.Current();
    partial_ = s && s->receiver.InFrame() && s->receiver.Count() > 0;
    if (partial_) partialUntil_ = std::chrono::steady_clock::now() + RestOfFrame();
}

bool PollCycle::Feed(std::uint8_t octet) {
    // The echo of our own frame goes through the receiver like any frame (so
    // the wait for its rest is sized as for an answer) but is never handled,
    // and it does not count as the reply's start.
    const EchoVerdict verdict = line_.Echo().Take(octet);
    if (verdict == EchoVerdict::Answer) {
        // The first octets of a reply in an armed window buy it more time.
        if (replyWindowArmed_) timer_.Extend(ReplyExtensionMs);
        replyWindowArmed_ = false;
    }
    if (!station_.AcceptByte(octet) || verdict == EchoVerdict::EchoEnd)
        return verdict == EchoVerdict::EchoEnd;
    if (station_.ProcessFrame() == FrameMeaning::ScanAnswer) ++scanResponses_;
    if (station_.Current()->address != hdlc::BroadcastAddress) station_.CountMissedPoll(false);
    timer_.Set(AfterFrameMs);
    step_ = PollStep::Pause;
    return false;
}

std::chrono::microseconds PollCycle::RestOfFrame() const {
    const SecondaryStation* s = station_.Current();
    const CommandBuffer* frame = station_.ReceiveBuffer();
    const std::uint32_t have = s->receiver.Count();
    std::uint32_t expected = ShortestFrame;
    // An Ericsson reply says in its header how much follows.
    if (frame && have >= EricssonHeader && hdlc::IsIFrame(frame->data[1]) &&
        (frame->data[2] == 0xC0 || frame->data[2] == 0xC1))
        expected = EricssonHeader + frame->data[4] + 2;
    return WireTime((expected > have ? expected - have : 0) + 1);  // and the closing flag
}

std::chrono::microseconds PollCycle::WireTime(std::uint32_t octets) const {
    const auto rate = static_cast<std::uint64_t>(std::max<std::int32_t>(line_.BaudRate(), 1));
    return std::chrono::microseconds((std::uint64_t{octets} * BitsPerOctet * 1000000 + rate - 1) /
                                     rate);
}

bool PollCycle::DeviceIdle() const {
    const SecondaryStation* s = station_.Current();
    if (!s || !s->device) return true;
    return s->device->LinkState() == LinkDeviceState::Idle;
}

void PollCycle::Step() {
    switch (step_) {
        case PollStep::Transmit:
            TransmitStep();
            break;
        case PollStep::TransmitDelay:
            step_ = PollStep::ArmReply;
            timer_.Set(ArmReplyMs);
            break;
        case PollStep::ArmReply:
            replyWindowArmed_ = true;
            step_ = PollStep::AwaitReply;
            timer_.Set(ReplyWindowMs);
            break;
        case PollStep::AwaitReply: {
            // A scanning station only counts misses for a failed device, so
            // an absent actuator is not reported lost over and over.
            const SecondaryStation* s = station_.Current();
            const bool scanning = s->address == hdlc::BroadcastAddress;
            if (!scanning || (s->device && s->device->LinkState() == LinkDeviceState::Failed))
                station_.CountMissedPoll(true);
            timer_.Set(ModePause(10, 50));
            step_ = PollStep::Pause;
            break;
        }
        case PollStep::Pause:
            PauseStep(TickCount());
            break;
    }
}

void PollCycle::PauseStep(std::uint32_t at) {
    timer_.SetFrom(at, ModePause(10, 30));
    step_ = PollStep::Transmit;
    if (reopenPending_) {
        failedAttempts_ = 0;
        // While the device is away, the retries open it at the new mode's
        // rate; only a port the front end chose is tried at once.
        if (!lost_ || newPort_) {
            CloseLine();
            OpenLine(!newPort_);
        }
        reopenPending_ = false;
        newPort_ = false;
    }
}

void PollCycle::TransmitStep() {
    step_ = PollStep::TransmitDelay;
    SecondaryStation* s = station_.SelectNextSecondary();
    s->receiver.AbandonFrame();  // a frame half received by now is not coming
    partial_ = false;

    if (s->address != hdlc::BroadcastAddress) {
        timer_.Set(TransmitMs);
        if (s->PollingSuspended) {
            step_ = PollStep::Transmit;
            return;
        }
        if (!s->connected && DeviceIdle()) {
            if (++failedAttempts_ >= FallbackAttempts) {
                // Nobody answers in Ericsson mode: look for a station in AISG mode.
                s->address = hdlc::BroadcastAddress;
                scanTarget_ = static_cast<std::uint8_t>(scanResponses_ + 1);
                station_.SetMode(LinkMode::Aisg);
                reopenPending_ = true;
                return;
            }
        }
        station_.PollSecondary();
        return;
    }

    // Scanning for a station in AISG mode.
    if (!s->RingEmpty()) {
        timer_.Set(ScanTransmitMs);
        station_.PollSecondary();
        return;
    }
    if (scanResponses_ >= scanTarget_) {
        step_ = PollStep::Transmit;  // found: wait, testing again every few milliseconds
        return;
    }
    if (DeviceIdle()) {
        if (++failedAttempts_ >= FallbackAttempts) {
            // Nobody answers in AISG mode either: back to Ericsson mode.
            s->address = ActuatorAddress;
            station_.SetMode(LinkMode::Ericsson);
            reopenPending_ = true;
            return;
        }
    }
    timer_.Set(ScanTransmitMs);
    station_.PollSecondary();
}

void PollCycle::LetGo() {
    if (line_.IsOpen.load() != 0 && AnswerDue()) {
        // The latest the reply window of the last poll can end, had the cycle
        // gone on: through the steps still ahead, and its extension.
        std::uint32_t end = timer_.Deadline() + 1;
        if (step_ == PollStep::TransmitDelay) end += ArmReplyMs + 1;
        if (step_ != PollStep::AwaitReply) end += ReplyWindowMs + 1;
        bool extended = step_ == PollStep::AwaitReply && !replyWindowArmed_;
        // The station's receiver goes on with a frame it has begun; where the
        // octets go no longer matters.
        hdlc::FrameReceiver& receiver = station_.Current()->receiver;
        std::array<std::uint8_t, 300> storage{};
        std::size_t length = 0;
        bool inFrame = receiver.InFrame() && receiver.Count() > 0;
        bool ended = false;
        while (!ended && Until(end).count() > 0) {
            line_.Wait(Until(end), true);
            for (std::size_t got; !ended && (got = line_.Read(input_)) > 0;) {
                const auto readAt = std::chrono::steady_clock::now();
                std::size_t echoes = 0;
                if (!extended) {
                    end += ReplyExtensionMs;
                    extended = true;
                }
                // Only whether a frame ended matters now, good or not.
                for (std::size_t i = 0; i < got && !ended; ++i) {
                    if (length >= storage.size()) length = 0;
                    const bool echo = line_.Echo().Take(input_[i]) == EchoVerdict::EchoEnd;
                    if (echo) echoEnds_[echoes++] = static_cast<std::uint16_t>(i);
                    receiver.AcceptByte(input_[i], storage, length);
                    if (inFrame && !receiver.InFrame() && !echo) ended = true;
                    inFrame = receiver.InFrame() && receiver.Count() > 0;
                }
                TapReceived(readAt, std::span(input_).first(got),
                            std::span(echoEnds_).first(echoes));
            }
        }
    }
    line_.Discard();
    CloseLine();
}

}  // namespace

CLinkThread::CLinkThread() : station_(std::make_unique<CHDLCPrimary>()) {}

CLinkThread::~CLinkThread() = default;

LinkMode CLinkThread::Mode() const {
    return station_->Mode();
}

std::int32_t CLinkThread::LinkUpFrameCount() const {
    return station_->LinkUpFrameCount();
}

void CLinkThread::StartLinkThread(SerialLine& line, CMainDataStore& context, LinkDevice* device) {
    // Set up before the thread runs, so the thread never sees the station half done.
    station_->SetMode(LinkMode::Ericsson);
    CHDLCPrimary& station = *station_;
    const ThreadId id = thread_.Start([this, &station, &line, &context, device](ThreadId self) {
        threadId_.store(self);  // the thread may open the port before Start has returned
        PollCycle cycle(station, line, context, self);
        RaiseCurrentThreadPriority();
        station.CreateSecondary(device);
        CreateMessageQueue(self);
        // A post or the stop request cuts the line's wait short.
        SetQueueWaker(self, [&line] { line.Wake(); });
        context.AddStopListener([&line] { line.Wake(); });

        // The front end names the port shortly after start; until then there is nothing to open.
        while (context.SelectedPortName() == "NONE" && !context.StopRequested()) {
            context.PauseUnlessStopped(NoPortPauseMs);
        }
        if (!context.StopRequested()) {
            cycle.OpenLine();
            context.PauseUnlessStopped(OpenSettleMs);
        }
        cycle.Run();
        cycle.LetGo();
    });
    threadId_.store(id);
}

bool CLinkThread::JoinLinkThread(std::uint32_t withinMs) {
    return thread_.Join(withinMs);
}

}  // namespace kvq::hdlc
