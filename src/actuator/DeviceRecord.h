#pragma once

// The account of the actuator: what its record holds, the steps of each
// operation, and the two answers everyone else reads — what the actuator is
// doing (Activity) and how the last operation ended (Outcome).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "actuator/FirmwareFile.h"

namespace kvq::actuator {

// Codes of the record's state. The numbers are shown and reported (JSON
// `state`), so they stay as they are.
enum class ActuatorState : std::int32_t {
    Looking = 0,          // no actuator answers (yet)
    ReadingIdentity = 1,  // its data pages, serial number and version
    Updating = 2,         // a firmware download
    ChangingModel = 4,    // the model change's Ericsson-mode part
    Moving = 5,           // a tilt move
    Checking = 9,         // the check; at its end the actuator is ready
    Failed = 10,
    ChangingModelAisg = 13,  // the model change's AISG-mode part
    Converting = 14,         // out of AISG mode, back into Ericsson mode
    Converted = 15,          // the conversion acknowledged; the actuator restarts
};

// Why the record is in Failed; each has its own text.
enum class FailCode : std::int32_t {
    None = 0,       // before the first failure
    NoReply = 14,   // "FAIL (C)": no reply in time, or the link dropped
    Identity = 16,  // "FAIL (E)": identity reading refused
    Download = 18,  // "FAIL (DL)": firmware download refused
    // A download the actuator acknowledged whole, after which it restarted on
    // its old version: its loader did not take the image.
    UpdateNotTaken = 24,
    // The actuator answered a step with something else than the step asks for
    // (in AISG mode: a refusal with a return code).
    Unexpected = 25,
    // Converted out of AISG mode again and again, and never back in Ericsson mode.
    NotConverted = 26,
};

// ---- the steps of each operation: what the record awaits ------------------------

// Identity reading (ReadingIdentity).
enum class ReadingStep : std::uint8_t {
    AwaitPreRead1,
    AwaitPreRead2,
    AwaitDataPage,
    AwaitIdentity,
    AwaitVersion,
    // A download was acknowledged whole and the restart sent: nothing is
    // awaited but the actuator's going away.
    AwaitRestart,
};

// The check (Checking). It ends ready once its tilt has come back.
enum class CheckStep : std::uint8_t {
    Pause,  // the moment the actuator needs after identity reading
    AwaitVersion,
    AwaitModel,
    AwaitAuxText,
    AwaitOpen,
    AwaitPoll1,
    AwaitPrepare1,
    AwaitPoll2,
    AwaitPrepare2,
    AwaitPoll3,
    AwaitPrepare3,
    AwaitPoll4,
    AwaitTilt,
    Complete,
};

// The tilt move (Moving).
enum class MoveStep : std::uint8_t {
    AwaitOpen,
    AwaitPoll1,
    AwaitPrepare1,
    AwaitPoll2,
    AwaitPrepare2,
    AwaitPoll3,
    AwaitPrepare3,
    AwaitPoll4,
    AwaitMoveEnd,  // SetTiltRequest sent; the tilt is read back while it moves
    AwaitPoll,
    AwaitFinalTilt,
};

// The firmware download (Updating).
enum class DownloadStep : std::uint8_t { AwaitStart, AwaitBlock, AwaitEnd };

// The model change's Ericsson-mode part (ChangingModel).
enum class ModelChangeStep : std::uint8_t {
    AwaitOpen,
    AwaitPoll1,
    AwaitPrepare1,
    AwaitPoll2,
    AwaitPrepare2,
    AwaitPoll3,
    AwaitWrite,
    AwaitReadBack,
    AwaitModeSelect,
    Restarting,  // Restart sent: the actuator comes back in AISG mode
};

// The model change's AISG-mode part (ChangingModelAisg).
enum class AisgSetupStep : std::uint8_t {
    AwaitConfigure,
    AwaitPrepare,
    AwaitModeSelect,
    Restarting
};

// The conversion (Converting).
enum class ConversionStep : std::uint8_t { AwaitPrepare, AwaitModeSelect, Restarting };

struct NoStep {
    bool operator==(const NoStep&) const = default;
};
// The step of the operation under way; its alternative names the operation.
using OperationStep = std::variant<NoStep, ReadingStep, CheckStep, MoveStep, DownloadStep,
                                   ModelChangeStep, AisgSetupStep, ConversionStep>;

// ---- the account --------------------------------------------------------------------

// What the actuator is doing, as every front end shows it.
enum class Activity : std::uint8_t {
    Looking,        // no actuator answers; none was there before
    Checking,       // one answers: its identity is read and it is checked
    Ready,          // checked; requests are taken
    Moving,         // a tilt move
    Updating,       // a firmware download, until the actuator is back on the new version
    ChangingModel,  // a model change, until the actuator is back and checked
    Converting,     // out of AISG mode, until the actuator is back in Ericsson mode
    Failed,
    Lost,  // the actuator that answered answers no more
};

// The operations whose ending is reported.
enum class Operation : std::uint8_t { None, Move, Download, ModelChange, Conversion };

enum class Ending : std::uint8_t {
    None,         // nothing has ended yet
    Done,         // and what the actuator reports at its end is what was asked
    Failed,       // reason says why
    Interrupted,  // cut short; reason says what it left
};

struct Outcome {
    Operation operation = Operation::None;
    Ending ending = Ending::None;
    std::string reason;
    // Counts the operations started, so a waiter tells its own from the one before.
    std::uint32_t number = 0;
    bool operator==(const Outcome& other) const {
        return operation == other.operation && ending == other.ending && reason == other.reason;
    }
};

// One consistent copy of the device record, taken under its lock.
struct DeviceSnapshot {
    ActuatorState state = ActuatorState::Looking;
    FailCode failCode = FailCode::None;
    OperationStep step;
    // The operation that goes on while the actuator restarts (a download, a
    // model change, a conversion); None otherwise.
    Operation continuing = Operation::None;
    // An actuator answered, and has since stopped answering outside a restart
    // that an operation asked for.
    bool lost = false;
    // The tilt has been read from the actuator found now (by a check or a move).
    bool tiltKnown = false;
    // Empty until read; cleared when the actuator is lost.
    std::string serialNumber;
    std::string softwareVersion;
    std::string antennaModel;
    // The antenna table knows antennaModel, so the tilt range is known.
    bool modelKnown = false;
    std::string auxText;
    std::string problemText;
    std::int32_t minTilt = 0;
    std::int32_t maxTilt = 0;
    std::int32_t currentTilt = 0;
    std::int32_t requestedTilt = 0;
    double progress = 0.0;
    std::string newModelName;
    std::int32_t newModelIndex = 0;
    FirmwareFacts firmware;
    Outcome outcome;
    // Conversions started since the actuator was last found in Ericsson mode.
    std::uint32_t conversionAttempts = 0;

    template <class Step>
    std::optional<Step> StepOf() const {
        if (const Step* at = std::get_if<Step>(&step)) return *at;
        return std::nullopt;
    }
    template <class Step>
    bool At(Step at) const {
        return StepOf<Step>() == at;
    }
    // The check is complete and its tilt has come back.
    bool CheckComplete() const {
        return state == ActuatorState::Checking && At(CheckStep::Complete);
    }
    // The narrow "setting up" of the status lines and the link: the model
    // change's own states, and the search while it restarts between them.
    bool SetupPending() const {
        using enum ActuatorState;
        return continuing == Operation::ModelChange &&
               (state == ChangingModel || state == ChangingModelAisg || state == Looking);
    }
};

// What the actuator is doing: the one answer the dialog's controls, the close
// question, kvqctl's waits and progress, the status engine and the link read.
Activity ActivityOf(const DeviceSnapshot& device);

// The progress of the operation under way in whole percent, 0 to 100; 0 when
// nothing runs that shows one.
int ProgressOf(const DeviceSnapshot& device);

// The operation under way: the one its state runs, or the one that goes on
// across the actuator's restart; None otherwise.
Operation OperationUnderWay(const DeviceSnapshot& device);

// What stopping the operation under way now leaves the actuator with, in
// words ("the tilt stood at 3.8 degrees, on its way to 6.5"); empty when
// nothing is under way.
std::string LeftBehind(const DeviceSnapshot& device);

// Requests (Set Tilt, Change Antenna Model) are taken now.
inline bool TakesRequests(const DeviceSnapshot& device) {
    return ActivityOf(device) == Activity::Ready;
}

// The operation that stopping the tool now would cut short, leaving the
// actuator half-done (a move, a download before its end, a model change
// before the actuator is back in Ericsson mode, a conversion before its
// restart); None when stopping leaves nothing undone. A download or
// conversion whose restart is all that is left is not at risk.
Operation OperationAtRisk(const DeviceSnapshot& device);

// Words for logs and JSON: "looking", "ready", "changing model", …
std::string_view ActivityWord(Activity activity);
std::string_view OperationWord(Operation operation);
std::string_view EndingWord(Ending ending);

// The tilt's range is known and the tilt lies outside it.
inline bool TiltOutsideRange(const DeviceSnapshot& device) {
    return device.modelKnown && device.tiltKnown &&
           (device.currentTilt < device.minTilt || device.currentTilt > device.maxTilt);
}

}  // namespace kvq::actuator
