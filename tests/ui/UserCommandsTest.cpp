// Set Tilt and Change Antenna Model, without Qt: what they store, what they
// post to the actuator thread (a queue the test reads), and what they refuse.

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "actuator/VLX400E.h"
#include "antenna/AntennaTable.h"
#include "app/Process.h"
#include "core/ThreadMessages.h"
#include "ui/UserCommands.h"

using namespace kvq::core;
using namespace kvq::antenna;
using namespace kvq::app;
using namespace kvq::ui;

namespace {

class UserCommands : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(PrepareProcess(process));
        for (const auto& [key, name] : {std::pair{"AP1721-65-18", "Panel65-1710-2170-18dBi"},
                                        std::pair{"AP2627-33-21", "Panel33-2490-2690-21dBi"}}) {
            AntennaRecord record;
            record.key = key;
            record.displayName = name;
            record.minTilt = -25;
            record.maxTilt = 100;
            ASSERT_TRUE(process.antennaTable.AppendRecord(record));
        }
        process.actuator.SetThreadId(actuatorQueue);
        CreateMessageQueue(actuatorQueue);
    }
    void TearDown() override { DestroyMessageQueue(actuatorQueue); }

    std::vector<std::uint32_t> Posted() {
        std::vector<std::uint32_t> numbers;
        ThreadMessage message;
        while (TakeMessage(actuatorQueue, message)) {
            numbers.push_back(message.number);
            arguments.push_back(static_cast<std::int32_t>(message.wParam));
        }
        return numbers;
    }
    std::vector<std::int32_t> arguments;
    std::pair<std::string, std::string> Lines() {
        std::string line1, line2;
        if (!process.SystemContext.TakeStatusLines(line1, line2)) return {"<unchanged>", ""};
        return {line1, line2};
    }

    ProcessObjects process;
    const ThreadId actuatorQueue = NewThreadId();
    const std::vector<std::string> entries = {"Panel33-2490-2690-21dBi", "Panel65-1710-2170-18dBi"};
};

TEST_F(UserCommands, SetTiltCarriesTheSliderPositionAndPostsEachTime) {
    EXPECT_TRUE(RequestTilt(process, -25));
    EXPECT_TRUE(RequestTilt(process, 65));
    EXPECT_EQ(Posted(), (std::vector<std::uint32_t>{MsgSetTilt, MsgSetTilt}));
    EXPECT_EQ(arguments, (std::vector<std::int32_t>{-25, 65}));
}

TEST_F(UserCommands, ChangeModelPostsForAListedModel) {
    const int entry = ModelEntryShown(entries, "Panel33-2490-2690-21dBi");
    EXPECT_EQ(entry, 0);
    EXPECT_EQ(RequestModelChange(process, entries, entry), ModelChange::Requested);
    EXPECT_EQ(Posted(), std::vector<std::uint32_t>{MsgChangeModel});
    EXPECT_EQ(arguments, std::vector<std::int32_t>{1}) << "the table's index of AP2627-33-21";
    EXPECT_EQ(Lines().first, "<unchanged>");
}

TEST_F(UserCommands, ChangeModelRefusesWhatTheTableDoesNotHold) {
    const struct {
        const char* label;
        std::vector<std::string> list;
        std::string shown;
    } cases[] = {
        {"typed, no entry", entries, "Panel99"},
        {"an entry's name in other case", entries, "panel33-2490-2690-21dbi"},
        {"nothing shown", entries, ""},
        {"listed but not in the table", {"Ghost-Model"}, "Ghost-Model"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        const int entry = ModelEntryShown(c.list, c.shown);
        EXPECT_EQ(RequestModelChange(process, c.list, entry), ModelChange::NotFound);
        EXPECT_EQ(Lines(), (std::pair<std::string, std::string>{"ANTENNA NOT FOUND", ""}));
        EXPECT_TRUE(Posted().empty());
    }
    // An index that is no entry at all is refused as well, never used.
    EXPECT_EQ(RequestModelChange(process, entries, 7), ModelChange::NotFound);
    EXPECT_EQ(RequestModelChange(process, entries, -1), ModelChange::NotFound);
    EXPECT_TRUE(Posted().empty());
}

TEST_F(UserCommands, ChangeModelSaysSoWhenTheActuatorThreadIsGone) {
    DestroyMessageQueue(actuatorQueue);
    EXPECT_EQ(RequestModelChange(process, entries, 1), ModelChange::NotPosted);
    EXPECT_EQ(Lines().first, "<unchanged>");
}

}  // namespace
