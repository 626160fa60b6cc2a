// The actuator record's reply handlers, in every state and at every step, fed
// whatever payloads the link could deliver, and the events that move it
// between states. The record must stay in a known state at a sane step, keep
// its texts within their fields, send the link only well-formed commands, and
// never hold the firmware file outside a download.
//
// Input:
//   byte 0  bits 0-3 state (any code 0..15); bit 4 a setup pending; bit 5 the
//           slider not following the tilt; bits 6-7 the model in use (0..2 from
//           the table, 3 none)
//   byte 1  bits 0-3 step; bits 4-5 the tilt asked for; bits 6-7 the tilt now
//   then messages, each a kind byte:
//     bits 0-2  0 a reply at data offset 5 (Ericsson mode), 1 a reply at data
//               offset 2 (AISG mode): a length byte and that many payload bytes
//               follow (length 0xFF: a reply message without a block);
//               2 LinkUp, 3 LinkDown, 4 DeviceLost, 5 SetTilt, 6 ChangeModel,
//               7 AisgDeviceFound
//     bits 3-6  quiet passes of the actuator thread afterwards
//     bit 7     then the reply watchdog's time runs out
// Time is a manual clock: the handlers' pauses of 1 to 5 s cost nothing.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "actuator/ActuatorThread.h"
#include "actuator/Commands.h"
#include "actuator/VLX400E.h"
#include "antenna/AntennaTable.h"
#include "antenna/AntennaTableFile.h"
#include "app/HeadlessControls.h"
#include "core/CommandBuffer.h"
#include "core/ThreadMessages.h"
#include "support/ManualClock.h"

using namespace kvq::core;
using namespace kvq::antenna;
using namespace kvq::actuator;
using namespace kvq::app;
using namespace kvq::testing;

namespace {

constexpr std::uint32_t StartTick = 1000;
// The station address of device slot 1, where the record sends everything.
constexpr std::uint8_t DeviceAddress = cmd::AddressOf(1);
// The longest pause a single message may cost: the restart after a download.
constexpr std::uint32_t LongestPauseMs = 5000;

constexpr std::string_view ModelKeys[] = {"M-100", "M-200", "AP0809-65-15"};

std::string Table() {
    const std::string config(128, '0');
    return "AT-VERSION\t3\n"
           "M-100\t-25\t100\t0\t" +
           config +
           "\tWide_Range\n"
           "M-200\t0\t140\t0\t27E635693256169A119034C30A9618652EF73175385C189A166B02180FD22DDD2C"
           "6414793AAE270808F3385304321B0D17EB30ED142A2CB4278206630CA008FC\tNarrow_Beam\n"
           "AP0809-65-15\t20\t120\t1\t0123\tPanel65\n";
}

// A firmware image of version "02.00" in three blocks (56, 56 and 18 bytes).
std::string Firmware() {
    std::string image(
        "\x01\x00"
        "02.00",
        7);
    image.push_back('\0');
    for (int i = 0; image.size() < 130; ++i)
        image.push_back(static_cast<char>(i * 7));
    return image;
}

// What lives for the whole run: the clock, the model table, the firmware file,
// the controls and the link's queue.
struct World {
    World() {
        SetClock(&clock);
        CreateMessageQueue(link);
        tableFile.Write(Table());
        if (!LoadAntennaTableFile(tableFile.Path(), table) || table.RecordCount() != 3) {
            std::fprintf(stderr, "fuzz_actuator: the model table did not load\n");
            std::abort();
        }
        AntennaRecord record;
        for (int i = 0; table.GetRecord(i, record); ++i)
            models.AddModelName(record.displayName);
        firmwareFile.Write(Firmware());
    }

    ManualClock clock{StartTick};
    ScratchFile tableFile{"kvq-fuzz-models"};
    ScratchFile firmwareFile{"kvq-fuzz-firmware"};
    CAntennaTable table;
    HeadlessTiltSlider slider;
    HeadlessModelList models;
    ThreadId link = NewThreadId();
};

constexpr ActuatorState States[] = {
    ActuatorState::Looking,    ActuatorState::ReadingIdentity,
    ActuatorState::Updating,   ActuatorState::ChangingModel,
    ActuatorState::Moving,     ActuatorState::Checking,
    ActuatorState::Failed,     ActuatorState::ChangingModelAisg,
    ActuatorState::Converting, ActuatorState::Converted,
};

bool KnownState(ActuatorState state) {
    return std::find(std::begin(States), std::end(States), state) != std::end(States);
}

// A step of the operation the state runs, chosen by n.
OperationStep StepFor(ActuatorState state, unsigned n) {
    const auto pick = [n](auto last) {
        using Step = decltype(last);
        return OperationStep(Step(n % (static_cast<unsigned>(last) + 1)));
    };
    switch (state) {
        case ActuatorState::ReadingIdentity:
            return pick(ReadingStep::AwaitRestart);
        case ActuatorState::Checking:
            return pick(CheckStep::Complete);
        case ActuatorState::Moving:
            return pick(MoveStep::AwaitFinalTilt);
        case ActuatorState::Updating:
            return pick(DownloadStep::AwaitEnd);
        case ActuatorState::ChangingModel:
            return pick(ModelChangeStep::Restarting);
        case ActuatorState::ChangingModelAisg:
            return pick(AisgSetupStep::Restarting);
        case ActuatorState::Converting:
            return pick(ConversionStep::Restarting);
        default:
            return NoStep{};
    }
}

// The step names the operation its state runs (or none).
bool StepFitsState(const DeviceSnapshot& r) {
    switch (r.state) {
        case ActuatorState::ReadingIdentity:
            return r.StepOf<ReadingStep>().has_value();
        case ActuatorState::Checking:
            return r.StepOf<CheckStep>().has_value();
        case ActuatorState::Moving:
            return r.StepOf<MoveStep>().has_value();
        case ActuatorState::Updating:
            return r.StepOf<DownloadStep>().has_value();
        case ActuatorState::ChangingModel:
            return r.StepOf<ModelChangeStep>().has_value();
        case ActuatorState::ChangingModelAisg:
            return r.StepOf<AisgSetupStep>().has_value();
        case ActuatorState::Converting:
            return r.StepOf<ConversionStep>().has_value();
        default:
            return std::holds_alternative<NoStep>(r.step);
    }
}

void RequireText(const std::string& text, std::size_t maxChars) {
    FUZZ_REQUIRE(text.size() <= maxChars);
    FUZZ_REQUIRE(text.find('\0') == std::string::npos);
}

}  // namespace

namespace kvq::actuator {

// Puts the record in the state the input starts from; a friend of the record.
class ActuatorTestAccess {
public:
    template <class Change>
    static void Edit(CVLX400E& device, Change change) {
        device.Update(change);
    }
    static void Move(CVLX400E& device, std::int32_t from, std::int32_t to, bool sliderFollows) {
        device.moveStartTilt_ = from;
        device.moveTargetTilt_ = to;
        device.sliderFollowsTilt_ = sliderFollows;
    }
};

}  // namespace kvq::actuator

namespace {

class Harness {
public:
    Harness(World& world, const std::uint8_t* data, std::size_t size) : world_(world) {
        world_.clock.Set(StartTick);
        device_->SetAntennaTable(&world_.table);
        const ThreadId link = world_.link;
        device_->SetLinkThread([link] { return link; });
        device_->SetDeviceIndex(1);
        device_->SetControls(&world_.slider, &world_.models);
        device_->SetFirmwarePath(world_.firmwareFile.Path());

        const std::uint8_t first = size > 0 ? data[0] : 0;
        const std::uint8_t second = size > 1 ? data[1] : 0;
        const unsigned model = first >> 6;
        if (model < std::size(ModelKeys)) device_->SelectModelByKey(ModelKeys[model]);
        // The model a change would write; index 3 is no model at all.
        modelIndex_ = static_cast<std::int32_t>(model);
        initialState_ = States[(first & 0x0F) % std::size(States)];
        device_->SetState(initialState_);
        const DeviceSnapshot start = device_->Snapshot();
        const std::int32_t low = start.minTilt;
        const std::int32_t high = start.maxTilt;
        const std::int32_t tilts[] = {low, high, (low + high) / 2, high + 5};
        requested_ = tilts[(second >> 4) & 3];
        const std::int32_t current = tilts[(second >> 6) & 3];
        ActuatorTestAccess::Edit(*device_, [&](DeviceSnapshot& r) {
            if (first & 0x10) r.continuing = Operation::ModelChange;
            r.step = StepFor(initialState_, second & 0x0F);
            r.requestedTilt = requested_;
            r.currentTilt = current;
        });
        ActuatorTestAccess::Move(*device_, current, requested_, (first & 0x20) == 0);
        device_->ArmReplyTimer();
        DrainLink();
        Check();
    }

    ~Harness() { DrainLink(); }

    // One message from data[at]; answers where the next begins.
    std::size_t Message(const std::uint8_t* data, std::size_t size, std::size_t at) {
        const std::uint8_t kind = data[at++];
        ThreadMessage message;
        switch (kind & 7) {
            case 0:
            case 1: {
                message.number = MsgCommand;
                if (at >= size) break;
                const std::uint8_t declared = data[at++];
                if (declared == 0xFF) break;  // a reply message that lost its block
                const std::uint8_t offset = (kind & 7) == 0 ? 5 : 2;
                const std::size_t length =
                    std::min<std::size_t>({declared, CommandBuffer::DataSize - offset, size - at});
                auto reply = NewCommandBuffer(DeviceAddress, offset);
                FUZZ_REQUIRE(reply->AppendBytes(data + at, length));
                at += length;
                message.lParam = std::move(reply);
                break;
            }
            default: {
                static constexpr std::uint32_t events[] = {MsgLinkUp,      MsgLinkDown,
                                                           MsgDeviceLost,  MsgSetTilt,
                                                           MsgChangeModel, MsgAisgDeviceFound};
                message.number = events[(kind & 7) - 2];
                // Requests carry their argument, as the front ends send them.
                if (message.number == MsgSetTilt)
                    message.wParam = static_cast<std::uint32_t>(requested_);
                if (message.number == MsgChangeModel)
                    message.wParam = static_cast<std::uint32_t>(modelIndex_);
                break;
            }
        }
        HandleActuatorMessage(*device_, message);
        // The step's pauses run out before anything else, as on the thread.
        for (int pauses = 0; device_->PauseEnd(); ++pauses) {
            FUZZ_REQUIRE(pauses < 2);
            FUZZ_REQUIRE(*device_->PauseEnd() - world_.clock.TickCount() <= LongestPauseMs);
            world_.clock.Set(*device_->PauseEnd());
            device_->EndPause();
        }
        DrainLink();
        Check();

        const int passes = (kind >> 3) & 0x0F;
        if (passes > 0) QuietPasses(passes);
        if (kind & 0x80) {
            world_.clock.Advance(LongReplyTimeoutMs + 1);
            const bool failed = device_->FailIfReplyOverdue();
            FUZZ_REQUIRE(!failed || device_->Snapshot().state == ActuatorState::Failed);
            if (failed) {
                // The watchdog wakes the actuator thread, which lets go of what
                // the operation held.
                ThreadMessage wake;
                HandleActuatorMessage(*device_, wake);
            }
            QuietPasses(1);
        }
        return at;
    }

private:
    // Quiet passes of the actuator thread: its idle work at each deadline.
    void QuietPasses(int passes) {
        for (; passes > 0; --passes) {
            const auto due = device_->NextIdleWork();
            if (!due) break;  // nothing to do until a message comes
            FUZZ_REQUIRE(*due - world_.clock.TickCount() <= 550 ||
                         static_cast<std::int32_t>(*due - world_.clock.TickCount()) <= 0);
            world_.clock.Set(*due);
            device_->IdleWork(world_.clock.TickCount());
        }
        DrainLink();
        Check();
    }

    // Takes what the record sent the link; each must be a command the link can frame.
    void DrainLink() {
        ThreadMessage message;
        while (TakeMessage(world_.link, message)) {
            const CommandBuffer* command = message.lParam.get();
            switch (message.number) {
                case MsgCommand:
                    FUZZ_REQUIRE(command != nullptr && command->dataOffset == 5);
                    // Magic and code at least, and room for the Ericsson header.
                    FUZZ_REQUIRE(command->length >= 8 && command->length <= 91);
                    FUZZ_REQUIRE(command->address == DeviceAddress);
                    break;
                case MsgRawCommand:
                    FUZZ_REQUIRE(command != nullptr && command->dataOffset == 2);
                    FUZZ_REQUIRE(command->length >= 3 && command->length <= 94);
                    FUZZ_REQUIRE(command->address == DeviceAddress);
                    break;
                case MsgSuspendPolling:
                case MsgResumePolling:
                    FUZZ_REQUIRE(command == nullptr && message.wParam == DeviceAddress);
                    break;
                case MsgAisgMode:
                case MsgEricssonMode:
                    FUZZ_REQUIRE(command == nullptr);
                    break;
                default:
                    FUZZ_REQUIRE(!"the record posted the link a message it does not know");
            }
            message = ThreadMessage{};
        }
    }

    void Check() {
        const DeviceSnapshot r = device_->Snapshot();
        FUZZ_REQUIRE(KnownState(r.state));
        FUZZ_REQUIRE(StepFitsState(r));
        FUZZ_REQUIRE(r.failCode == FailCode::None || r.failCode == FailCode::NoReply ||
                     r.failCode == FailCode::Identity || r.failCode == FailCode::Download ||
                     r.failCode == FailCode::Unexpected || r.failCode == FailCode::NotConverted);
        // An ending is always said with its operation, and a failure or an
        // interruption with its reason.
        FUZZ_REQUIRE(r.outcome.ending == Ending::None || r.outcome.operation != Operation::None);
        FUZZ_REQUIRE(r.outcome.ending == Ending::None || r.outcome.ending == Ending::Done ||
                     !r.outcome.reason.empty());
        // A download ends with its state; the thread lets go of the file after every message.
        FUZZ_REQUIRE(!device_->FirmwareImageHeld() || r.state == ActuatorState::Updating);
        FUZZ_REQUIRE(r.minTilt <= r.maxTilt);
        FUZZ_REQUIRE(std::isfinite(r.progress) && r.progress >= 0.0);
        // Ready means the check is complete with its tilt back.
        FUZZ_REQUIRE(!TakesRequests(r) || r.CheckComplete());

        RequireText(r.serialNumber, 127);
        RequireText(r.softwareVersion, 16);
        RequireText(r.auxText, 127);
        RequireText(r.problemText, 127);
        RequireText(r.antennaModel, AntennaRecord::MaxDisplayNameLength);
        RequireText(r.newModelName, AntennaRecord::MaxKeyLength);
    }

    World& world_;
    CVLX400E actuator_;
    CVLX400E* device_ = &actuator_;
    ActuatorState initialState_ = ActuatorState::Looking;
    std::int32_t requested_ = 0;
    std::int32_t modelIndex_ = 0;
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static World world;
    Harness harness(world, data, size);
    for (std::size_t at = 2; at < size;)
        at = harness.Message(data, size, at);
    return 0;
}
