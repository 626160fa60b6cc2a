#include "hdlc/LinkThread.h"

#include <algorithm>

#include "core/MainDataStore.h"
#include "serial/RS485SerialPort.h"
#include "core/TimeSource.h"
#include "core/WorkerThread.h"

namespace {

constexpr std::uint32_t PassSleepMs = 5;
constexpr std::uint32_t AnswerSliceMs = 1;
constexpr std::uint32_t StartDelayMs = 100;
constexpr std::uint32_t ReplyExtensionMs = 80;
constexpr std::uint32_t AfterFrameMs = 10;
constexpr std::uint32_t TransmitMs = 30;
constexpr std::uint32_t ScanTransmitMs = 100;
constexpr std::uint32_t ArmReplyMs = 2;
constexpr std::uint32_t ReplyWindowMs = 120;
constexpr std::int32_t FallbackAttempts = 2;

std::int32_t BaudFor(LinkMode mode) {
    return mode == LinkMode::Aisg ? AisgBaud : EricssonBaud;
}

}  // namespace

PollCycle::PollCycle(CHDLCPrimary& link, CRS485SerialPort& port, CMainDataStore& context,
                     ThreadId self)
    : link_(link), port_(port), context_(context), self_(self) {
    link_.SetFrameSink(this);
}

PollCycle::~PollCycle() {
    link_.SetFrameSink(nullptr);
}

void PollCycle::SendFrameBytes(std::span<const std::uint8_t> frame) {
    port_.ResetTransmit();
    port_.AppendTransmit(frame.data(), frame.size());
    port_.SendTransmit();
}

bool PollCycle::DeviceIdle() const {
    const SecondaryStation* s = link_.Current();
    if (!s || !s->device) return true;
    return s->device->LinkState() == DeviceSearching && s->device->LinkSetupPending() == 0;
}

std::uint32_t PollCycle::ModePause(std::uint32_t ericssonMs, std::uint32_t aisgMs) const {
    return link_.Mode() == LinkMode::Aisg ? aisgMs : ericssonMs;
}

void PollCycle::Pass() {
    ThreadMessage message;
    if (TakeMessage(self_, message)) HandleMessage(message);
    if (port_.HasInput()) DrainInput();
    if (link_.pollTimer.Expired()) {
        link_.SelectNextSecondary();
        Step();
    }
}

std::uint32_t PollCycle::PassWaitMs() const {
    // The timer counts as expired from the millisecond after its deadline.
    const auto left = static_cast<std::int32_t>(link_.pollTimer.Deadline() + 1 - TickCount());
    // A step held with its timer expired (polling suspended, a scan target
    // met) is looked at again every 5 ms.
    std::uint32_t wait = left > 0 ? std::min<std::uint32_t>(PassSleepMs, left) : PassSleepMs;
    const bool answerDue = link_.pollState == TransmitDelay || link_.pollState == ArmReply ||
                           link_.pollState == AwaitReply;
    if (answerDue) wait = std::min(wait, AnswerSliceMs);
    return wait;
}

void PollCycle::HandleMessage(ThreadMessage& message) {
    switch (message.number) {
        case MsgCommand:
            link_.EnqueueCommand(std::move(message.lParam), false);
            break;
        case MsgRawCommand:
            link_.EnqueueCommand(std::move(message.lParam), true);
            break;
        case MsgAisgMode:
            link_.OnAisgMode();
            reopenPending_ = true;
            break;
        case MsgEricssonMode:
            link_.OnEricssonMode();
            reopenPending_ = true;
            break;
        case MsgSuspendPolling:
            link_.OnSuspendPolling(message.wParam);
            break;
        case MsgResumePolling:
            link_.OnResumePolling(message.wParam);
            break;
        case MsgReopenPort:
            reopenPending_ = true;
            break;
        default:
            break;  // not ours: dropped, and any block with it freed
    }
}

void PollCycle::DrainInput() {
    // The first bytes of a reply in an armed window buy it more time.
    if (replyWindowArmed_) link_.pollTimer.Extend(ReplyExtensionMs);
    replyWindowArmed_ = false;
    std::uint8_t octet = 0;
    while (port_.ReadByte(octet)) {
        if (!link_.AcceptByte(octet)) continue;
        link_.ProcessFrame();
        if (link_.Current()->address != hdlc::BroadcastAddress) link_.CountMissedPoll(false);
        link_.pollTimer.Set(AfterFrameMs);
        link_.pollState = Pause;
        // A whole frame is in and nothing follows it yet: stop here rather
        // than wait out the read time-out, which would hold the next poll
        // back by 20 ms. Anything still to come is read on the next pass.
        if (!port_.HasInput()) break;
    }
}

void PollCycle::Step() {
    switch (link_.pollState) {
        case Transmit:
            TransmitStep();
            break;
        case TransmitDelay:
            link_.pollState = ArmReply;
            link_.pollTimer.Set(ArmReplyMs);
            break;
        case ArmReply:
            replyWindowArmed_ = true;
            link_.pollState = AwaitReply;
            link_.pollTimer.Set(ReplyWindowMs);
            break;
        case AwaitReply: {
            // A scanning station only counts misses for a failed device, so
            // an absent actuator is not reported lost over and over.
            const bool scanning = link_.Current()->address == hdlc::BroadcastAddress;
            if (!scanning) {
                link_.CountMissedPoll(true);
            } else {
                const SecondaryStation* s = link_.Current();
                if (s->device && s->device->LinkState() == DeviceFailed)
                    link_.CountMissedPoll(true);
            }
            link_.pollTimer.Set(ModePause(10, 50));
            link_.pollState = Pause;
            break;
        }
        case Pause:
            link_.pollTimer.Set(ModePause(10, 30));
            link_.pollState = Transmit;
            if (reopenPending_) {
                port_.Close();
                link_.FailedAttempts.store(0);
                port_.Open(context_.SelectedPortName(), BaudFor(link_.Mode()));
                reopenPending_ = false;
            }
            break;
    }
}

void PollCycle::TransmitStep() {
    link_.pollState = TransmitDelay;
    SecondaryStation* s = link_.SelectNextSecondary();
    s->receiver.AbandonFrame();  // a frame half received by now is not coming

    if (s->address != hdlc::BroadcastAddress) {
        link_.pollTimer.Set(TransmitMs);
        if (s->PollingSuspended) {
            link_.pollState = Transmit;
            return;
        }
        if (!s->connected && DeviceIdle()) {
            if (++link_.FailedAttempts >= FallbackAttempts) {
                // Nobody answers in Ericsson mode: look for a station in AISG mode.
                s->address = hdlc::BroadcastAddress;
                link_.ScanTarget = static_cast<std::uint8_t>(link_.ScanResponses + 1);
                link_.SetMode(LinkMode::Aisg);
                reopenPending_ = true;
                return;
            }
        }
        link_.PollSecondary();
        return;
    }

    // Scanning for a station in AISG mode.
    if (!s->RingEmpty()) {
        link_.pollTimer.Set(ScanTransmitMs);
        link_.PollSecondary();
        return;
    }
    if (link_.ScanResponses >= link_.ScanTarget) {
        link_.pollState = Transmit;  // found: wait, testing again on every pass
        return;
    }
    if (DeviceIdle()) {
        if (++link_.FailedAttempts >= FallbackAttempts) {
            // Nobody answers in AISG mode either: back to Ericsson mode.
            s->address = ActuatorAddress;
            link_.SetMode(LinkMode::Ericsson);
            reopenPending_ = true;
            return;
        }
    }
    link_.pollTimer.Set(ScanTransmitMs);
    link_.PollSecondary();
}

void LinkThread(CHDLCPrimary& link, CRS485SerialPort& port, CMainDataStore& context,
                LinkDevice* device, ThreadId self) {
    link.pollState = Transmit;
    link.pollTimer.Set(StartDelayMs);
    RaiseCurrentThreadPriority();
    link.CreateSecondary(device);
    CreateMessageQueue(self);

    // The dialog names the port shortly after start; until then there is nothing to open.
    while (context.SelectedPortName() == "NONE" && !context.StopRequested()) {
        context.PauseUnlessStopped(1000);
    }
    if (!context.StopRequested()) {
        port.Open(context.SelectedPortName(), EricssonBaud);
        context.PauseUnlessStopped(2000);
    }
    link.First()->Initialise();
    link.BeginLink();

    PollCycle cycle(link, port, context, self);
    while (!context.StopRequested()) {
        WaitMessage(self, cycle.PassWaitMs());
        cycle.Pass();
    }
    port.Close();
}
