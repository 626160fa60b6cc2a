// Whether closing asks first, and with which text, from the record alone.

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "actuator/VLX400E.h"
#include "ui/CloseGuard.h"
#include "ui/Reports.h"

using namespace kvq::actuator;
using namespace kvq::ui;

namespace {

using enum ActuatorState;

TEST(CloseGuard, AsksOnlyWhileWorkWouldBeCutShort) {
    const char* download =
        "The actuator is updating its software. Closing now leaves it without working software. "
        "Close anyway?";
    const char* modelChange =
        "The actuator is changing its antenna model. Closing now leaves it with a half-written "
        "configuration. Close anyway?";
    const char* conversion =
        "The actuator is being switched back to Ericsson mode. Closing now leaves it answering "
        "only in AISG mode. Close anyway?";
    const char* move =
        "The actuator is moving to a new tilt. Closing now leaves its tilt unchecked and the move "
        "unconfirmed. Close anyway?";
    const struct {
        const char* what;
        ActuatorState state;
        Operation continuing;
        WorkUnderWay work;
        const char* question;  // nullptr: closes without asking
    } cases[] = {
        {"looking", Looking, Operation::None, WorkUnderWay::None, nullptr},
        {"reading the identity", ReadingIdentity, Operation::None, WorkUnderWay::None, nullptr},
        {"checking", Checking, Operation::None, WorkUnderWay::None, nullptr},
        {"failed", Failed, Operation::None, WorkUnderWay::None, nullptr},
        {"conversion sent, the actuator restarts", Converted, Operation::Conversion,
         WorkUnderWay::None, nullptr},
        {"download sent whole, the actuator restarts", ReadingIdentity, Operation::Download,
         WorkUnderWay::None, nullptr},
        {"model change back in Ericsson mode, checked", Checking, Operation::ModelChange,
         WorkUnderWay::None, nullptr},
        {"downloading", Updating, Operation::None, WorkUnderWay::Download, download},
        {"model change in Ericsson mode", ChangingModel, Operation::ModelChange,
         WorkUnderWay::ModelChange, modelChange},
        {"looking for the restarted actuator", Looking, Operation::ModelChange,
         WorkUnderWay::ModelChange, modelChange},
        {"configuring in AISG mode", ChangingModelAisg, Operation::ModelChange,
         WorkUnderWay::ModelChange, modelChange},
        {"converting to Ericsson mode", Converting, Operation::Conversion,
         WorkUnderWay::Conversion, conversion},
        {"moving", Moving, Operation::None, WorkUnderWay::Move, move},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DeviceSnapshot device;
        device.state = c.state;
        device.continuing = c.continuing;
        EXPECT_EQ(WorkUnderWayFor(device), c.work);
        const auto question = CloseQuestionFor(device);
        if (c.question == nullptr) {
            EXPECT_FALSE(question.has_value());
            continue;
        }
        ASSERT_TRUE(question.has_value());
        EXPECT_EQ(question->text, c.question);
        EXPECT_EQ(question->caption, "Close Configuration Tool");
        EXPECT_EQ(question->icon, MessageText::Icon::Question);
    }
}

// Answers questions as told; while it answers, the dialog may ask again (a
// second close arriving beneath the box), which must not ask twice.
class AnsweringPresenter final : public MessagePresenter {
public:
    void Show(const MessageText&) override {}
    bool Ask(const MessageText& question) override {
        asked.push_back(question.text);
        if (whileAsking) nested = whileAsking();
        return answer;
    }
    std::vector<std::string> asked;
    bool answer = false;
    std::function<bool()> whileAsking;
    std::optional<bool> nested;
};

TEST(CloseGate, AsksOnlyWhileWorkersRunAndWorkWouldBeCutShortAndNeverTwiceAtOnce) {
    DeviceSnapshot moving;
    moving.state = Moving;
    DeviceSnapshot idle;
    idle.state = Checking;
    idle.step = CheckStep::Complete;

    CloseGate gate;
    AnsweringPresenter boxes;
    EXPECT_TRUE(gate.MayClose(false, moving, boxes)) << "no workers: nothing to cut short";
    EXPECT_TRUE(gate.MayClose(true, idle, boxes));
    EXPECT_TRUE(boxes.asked.empty());

    EXPECT_FALSE(gate.MayClose(true, moving, boxes)) << "No keeps the dialog";
    boxes.answer = true;
    boxes.whileAsking = [&] { return gate.MayClose(true, moving, boxes); };
    EXPECT_TRUE(gate.MayClose(true, moving, boxes)) << "Yes closes";
    ASSERT_EQ(boxes.asked.size(), 2u);
    EXPECT_EQ(boxes.nested, false) << "a close beneath the open question neither asks nor closes";
    boxes.whileAsking = nullptr;
    EXPECT_TRUE(gate.MayClose(true, moving, boxes)) << "the gate opens again afterwards";
    EXPECT_EQ(boxes.asked.size(), 3u);
}

TEST(EnterKey, NeverClosesFromAFieldAndSetsATypedTilt) {
    const struct {
        FocusKind focus;
        bool enabled;
        EnterAction action;
    } cases[] = {
        {FocusKind::PushButton, true, EnterAction::PressButton},
        {FocusKind::PushButton, false, EnterAction::Close},
        {FocusKind::RequestedTilt, true, EnterAction::SetTilt},
        {FocusKind::RequestedTilt, false, EnterAction::Nothing},
        {FocusKind::TextField, true, EnterAction::Nothing},
        {FocusKind::TextField, false, EnterAction::Nothing},
        {FocusKind::Other, false, EnterAction::Close},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.focus) * 2 + (c.enabled ? 1 : 0));
        EXPECT_EQ(EnterKeyAction(c.focus, c.enabled), c.action);
    }
}

TEST(DetailShown, KeepsTheFirstLinesAndCountsTheRest) {
    const struct {
        std::string detail;
        int limit;
        std::string lines;
        int more;
    } cases[] = {
        {"one", 15, "one", 0},
        {"one\ntwo\nthree", 3, "one\ntwo\nthree", 0},
        {"one\ntwo\nthree\nfour", 2, "one\ntwo", 2},
        {"one\n\nthree", 2, "one\n", 1},  // an empty line is a line
        {"", 15, "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.detail);
        const ShownDetail shown = DetailShown(c.detail, c.limit);
        EXPECT_EQ(shown.lines, c.lines);
        EXPECT_EQ(shown.more, c.more);
    }
}

}  // namespace
