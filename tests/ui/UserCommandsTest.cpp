// Set Tilt and Change Antenna Model, without Qt: what they store, what they
// post to the actuator thread (a queue the test reads), and what they refuse.

#include <gtest/gtest.h>

#include <unistd.h>

#include <fstream>
#include <optional>
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

// A tilt typed into the Requested Tilt field: degrees with at most one decimal
// that counts, inside the model's range; anything else is refused with a box
// that says why, and nothing is sent.
TEST(TypedTilt, ReadWithinTheRangeOrRefusedWithAReason) {
    const struct {
        const char* typed;
        std::optional<std::int32_t> tenths;
        const char* refusal;  // part of the box's text
    } cases[] = {
        {"6.5", 65, ""},
        {" -2.5 ", -25, ""},
        {"+10", 100, ""},
        {"7.", 70, ""},
        {"4.50", 45, ""},
        {"-2.6", std::nullopt, "A tilt of -2.6 degrees is outside the range of this antenna "
                               "model (-2.5 to 10.0 degrees). Nothing was sent."},
        {"10.1", std::nullopt, "outside the range"},
        {"3000", std::nullopt, "A tilt of 3000.0 degrees is outside the range"},
        {"99999", std::nullopt, "is not a tilt"},  // beyond what a tilt can be
        {"abc", std::nullopt, "\"abc\" is not a tilt. Type the tilt in degrees with at most one "
                              "decimal, for example 6.5 or -1.5. Nothing was sent."},
        {"", std::nullopt, "is not a tilt"},
        {"6,5", std::nullopt, "is not a tilt"},
        {"6.55", std::nullopt, "is not a tilt"},
        {"1e1", std::nullopt, "is not a tilt"},
        {"nan", std::nullopt, "is not a tilt"},
        {"99999999999999", std::nullopt, "is not a tilt"},
        {"-", std::nullopt, "is not a tilt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.typed);
        const TypedTilt typed = ReadTypedTilt(c.typed, -25, 100);
        EXPECT_EQ(typed.tenths, c.tenths);
        if (c.tenths) {
            EXPECT_FALSE(typed.refusal.has_value());
            continue;
        }
        ASSERT_TRUE(typed.refusal.has_value());
        EXPECT_NE(typed.refusal->text.find(c.refusal), std::string::npos) << typed.refusal->text;
        EXPECT_EQ(typed.refusal->caption, "Requested Tilt");
    }
}

TEST_F(UserCommands, ChangeModelPostsForAListedModel) {
    const int entry = ModelEntryShown(entries, "Panel33-2490-2690-21dBi");
    EXPECT_EQ(entry, 0);
    EXPECT_EQ(RequestModelChange(process, entries, entry), ModelChangeAsked::Requested);
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
        EXPECT_EQ(RequestModelChange(process, c.list, entry), ModelChangeAsked::NotFound);
        EXPECT_EQ(Lines(), (std::pair<std::string, std::string>{"ANTENNA NOT FOUND", ""}));
        EXPECT_TRUE(Posted().empty());
    }
    // An index that is no entry at all is refused as well, never used.
    EXPECT_EQ(RequestModelChange(process, entries, 7), ModelChangeAsked::NotFound);
    EXPECT_EQ(RequestModelChange(process, entries, -1), ModelChangeAsked::NotFound);
    EXPECT_TRUE(Posted().empty());
}

TEST_F(UserCommands, ChangeModelSaysSoWhenTheActuatorThreadIsGone) {
    DestroyMessageQueue(actuatorQueue);
    EXPECT_EQ(RequestModelChange(process, entries, 1), ModelChangeAsked::NotPosted);
    EXPECT_EQ(Lines().first, "<unchanged>");
}

}  // namespace

// Save Line Trace... where nothing is kept (the trace was never started) says
// so in a box instead of writing an empty file.
TEST_F(UserCommands, SavingALineTraceThatIsNotKeptSaysSo) {
    const auto path = std::string("/tmp/kvq-untraced-") + std::to_string(::getpid()) + ".txt";
    const auto box = SaveLineTrace(process, path);
    ASSERT_TRUE(box.has_value());
    EXPECT_EQ(box->caption, "Save Line Trace");
    EXPECT_EQ(box->text, "The line trace could not be saved: no line trace is kept.");
    EXPECT_FALSE(std::ifstream(path).good());
}
