// Whether closing asks first, and with which text, from the record alone.

#include <gtest/gtest.h>

#include "actuator/VLX400E.h"
#include "ui/CloseGuard.h"

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
        std::int32_t step, setupPending;
        WorkUnderWay work;
        const char* question;  // nullptr: closes without asking
    } cases[] = {
        {"searching", Searching, 0, 0, WorkUnderWay::None, nullptr},
        {"reading the identity", Reading, 4, 0, WorkUnderWay::None, nullptr},
        {"checking", ScanSerial, 3, 0, WorkUnderWay::None, nullptr},
        {"ready", ScanSerial, 8, 0, WorkUnderWay::None, nullptr},
        {"failed", Failed, 2, 0, WorkUnderWay::None, nullptr},
        {"conversion finished", ConversionFinished, 0, 0, WorkUnderWay::None, nullptr},
        {"download starting", Updating, 0, 0, WorkUnderWay::Download, download},
        {"download sending blocks", Updating, 1, 0, WorkUnderWay::Download, download},
        {"download ending", Updating, 2, 0, WorkUnderWay::Download, download},
        {"model change preamble", Calibrating, 2, 1, WorkUnderWay::ModelChange, modelChange},
        {"model key written, restarting", Calibrating, 10, 1, WorkUnderWay::ModelChange,
         modelChange},
        {"searching for the restarted actuator", Searching, 0, 1, WorkUnderWay::ModelChange,
         modelChange},
        {"configuring in AISG mode", CalibratingAisg, 1, 1, WorkUnderWay::ModelChange,
         modelChange},
        {"converting to Ericsson mode", ConvertingToEricsson, 1, 0, WorkUnderWay::Conversion,
         conversion},
        {"move preparing", Testing, 3, 0, WorkUnderWay::Move, move},
        {"moving", Testing, 8, 0, WorkUnderWay::Move, move},
        {"final read-back", Testing, 10, 0, WorkUnderWay::Move, move},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DeviceSnapshot device;
        device.state = c.state;
        device.step = c.step;
        device.setupPending = c.setupPending;
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

}  // namespace
