// The actuator answering late, restarting in the middle of an operation, and
// vanishing from the line and coming back. The link and actuator threads run
// in this process against the simulated actuator over a pseudo-terminal.
//
// Whatever the fault, the tool must never report an operation done that the
// actuator did not complete, must free every block, and must be ready for a
// move that goes through once the actuator behaves again.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "antenna/AntennaTable.h"
#include "core/MainDataStore.h"
#include "support/FaultFixture.h"

using namespace kvq::serial;
using namespace kvq::antenna;
using namespace kvq::actuator;
using namespace kvq::sim;
using namespace kvq::testing;

using namespace kvq::testing::reliability;
using std::chrono::milliseconds;
using std::chrono::seconds;
using Bytes = std::vector<std::uint8_t>;

namespace {

// A second model of the sample table, 0 to 14 degrees, so a model change has
// somewhere to go.
constexpr const char* OtherModelKey = "DB0827-65-17";
constexpr const char* OtherModelName = "DualBand65-790-2690-17dBi";

Bytes FileBytes(const std::filesystem::path& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

long long Since(SteadyClock::time_point start) {
    return std::chrono::duration_cast<milliseconds>(SteadyClock::now() - start).count();
}

// What a case expects of the operation the fault hits, beyond honesty.
enum class Expect {
    Done,           // the operation goes through
    Honest,         // either way, as long as it is not reported done when it was not
    FailedNoReply,  // the tool says it failed: no reply in time, or the link dropped
    LostAndFound,   // the device is forgotten and then found again by itself
};

}  // namespace

class RestartAndVanish : public FaultTest {
protected:
    void StartAndWaitUntilReady(const std::string& port) {
        StartTool(port);
        ASSERT_EQ(tool->WaitUntilReady(seconds(60)), WaitEnd::Ready) << tool->Line1();
    }
    void StartAndWaitUntilReady() {
        StartTool();
        ASSERT_EQ(tool->WaitUntilReady(seconds(60)), WaitEnd::Ready) << tool->Line1();
    }

    // After a fault the tool has either found the actuator again by itself
    // (ready), or it has failed and asks for the device to be removed; once
    // that is done and the device is back, it is ready by itself. Then a move
    // goes through.
    void ExpectRecovery(std::int32_t target, const std::string& what) {
        const auto start = SteadyClock::now();
        const bool settled =
            tool->WaitFor([&] { return tool->Ready() || tool->Failed(); }, seconds(90));
        ASSERT_TRUE(settled) << what << ": neither ready nor failed (" << tool->Line1() << ")";
        const bool failed = !tool->Ready();
        if (failed) {
            RemoveAndPutBack(what);
            ASSERT_EQ(tool->WaitUntilReady(seconds(90)), WaitEnd::Ready)
                << what << ": not ready after the device was put back (" << tool->Line1() << ")";
        }
        std::printf("  %s: ready again after %lld ms%s\n", what.c_str(), Since(start),
                    failed ? ", the device removed and put back" : "");
        ExpectAMoveGoesThrough(target, what + ", afterwards");
    }

    // What "REMOVE DEVICE" asks for: the actuator off the line until the tool
    // has forgotten it, then back.
    void RemoveAndPutBack(const std::string& what) {
        sim->SetSilent(true);
        const bool forgotten = tool->WaitFor([&] { return tool->Forgotten(); }, seconds(20));
        sim->SetSilent(false);
        EXPECT_TRUE(forgotten) << what << ": a removed device was not noticed (" << tool->Line1()
                               << ")";
    }

    // Answers the actuator is still holding back go out before the next
    // step, so they cannot land in the middle of it.
    void LetLateAnswersOut(milliseconds delay) {
        sim->SetReplyDelay(milliseconds(0));
        std::this_thread::sleep_for(delay + milliseconds(200));
    }

    // The record is the actuator's: what a ready tool shows is so.
    void ExpectRecordMatchesActuator(const std::string& what) {
        const auto actuator = application->State();
        const DeviceSnapshot device = tool->Snapshot();
        EXPECT_EQ(device.currentTilt, actuator.currentTilt) << what;
        EXPECT_EQ(device.softwareVersion, actuator.softwareVersion) << what;
        EXPECT_EQ(device.antennaModel, DisplayNameOf(actuator.modelKey)) << what;
    }

    std::string DisplayNameOf(const std::string& key) {
        const CAntennaTable* table = &tool->AntennaTable();
        AntennaRecord record;
        if (!table) return key;
        const auto index = table->FindByKey(key);
        if (!index || !table->GetRecord(*index, record)) return key;
        return record.displayName;
    }

    // The 64 configuration bytes a model change sends for the model.
    AisgConfiguration ConfigurationOf(const std::string& key) {
        AisgConfiguration bytes{};
        const CAntennaTable* table = &tool->AntennaTable();
        AntennaRecord record;
        const auto index = table ? table->FindByKey(key) : std::nullopt;
        if (!index || !table->GetRecord(*index, record)) {
            ADD_FAILURE() << key << " is not in the table";
            return bytes;
        }
        for (std::size_t i = 0; i < AntennaRecord::ConfigPairCount; ++i) {
            bytes[4 * i] = static_cast<std::uint8_t>(record.configFirst[i] >> 8);
            bytes[4 * i + 1] = static_cast<std::uint8_t>(record.configFirst[i]);
            bytes[4 * i + 2] = static_cast<std::uint8_t>(record.configSecond[i] >> 8);
            bytes[4 * i + 3] = static_cast<std::uint8_t>(record.configSecond[i]);
        }
        return bytes;
    }
};

// The link waits about 150 ms for an answer to begin (30 ms after the poll, a
// 2 ms step, then a 120 ms window, extended by 80 ms once bytes arrive); ten
// polls in a row without an answer lose the device. Above the link, a move's
// eight opening exchanges must all be answered within one 10 s reply timeout.
// Every answer here comes late by the same delay.
TEST_F(RestartAndVanish, AnswersLateOnEitherSideOfTheReplyWindows) {
    struct Case {
        const char* what;
        milliseconds delay;
        Expect expect;
        milliseconds limit;
    } cases[] = {
        {"130 ms: inside the link's reply window", milliseconds(130), Expect::Done, seconds(30)},
        {"190 ms: just past the link's reply window", milliseconds(190), Expect::Honest,
         seconds(30)},
        {"400 ms: opening exchanges well inside the 10 s reply timeout", milliseconds(400),
         Expect::Honest, seconds(60)},
        {"1400 ms: opening exchanges together past the 10 s reply timeout", milliseconds(1400),
         Expect::FailedNoReply, seconds(30)},
        {"3000 ms: past ten unanswered polls", milliseconds(3000), Expect::LostAndFound,
         seconds(6)},
    };
    StartSimulator();
    StartAndWaitUntilReady();
    std::int32_t target = 30;
    for (const auto& c : cases) {
        target = target < 50 ? 75 : 25;
        SCOPED_TRACE(c.what);
        sim->SetReplyDelay(c.delay);
        const auto trace = tool->SetTilt(target, c.limit);
        const FailCode failCode = tool->Snapshot().failCode;
        std::printf("%s: %s%s in %lld ms (%s)\n", c.what, OutcomeName(trace.outcome),
                    trace.lostOnTheWay ? ", lost on the way" : "",
                    static_cast<long long>(trace.took.count()), tool->Line1().c_str());
        switch (c.expect) {
            case Expect::Done:
                EXPECT_EQ(trace.outcome, WaitEnd::Ready);
                EXPECT_FALSE(trace.lostOnTheWay);
                ExpectNoFalseSuccess(trace, target, c.what);
                break;
            case Expect::Honest:
                ExpectNoFalseSuccess(trace, target, c.what);
                break;
            case Expect::FailedNoReply:
                EXPECT_EQ(trace.outcome, WaitEnd::Failed);
                EXPECT_EQ(failCode, FailCode::NoReply);
                break;
            case Expect::LostAndFound:
                // While the answers stay late the device is searched for;
                // whatever the tool shows meanwhile must be so.
                EXPECT_TRUE(trace.lostOnTheWay);
                if (trace.outcome == WaitEnd::Ready) ExpectNoFalseSuccess(trace, target, c.what);
                break;
        }
        LetLateAnswersOut(c.delay);
        ExpectRecovery(target + 5, c.what);
    }
}

// The actuator restarts while it moves: the motor stops where it is. Back
// before the link gives up, it answers as a station that lost its connection;
// silent for longer, it is lost and found again. Either way the move is
// interrupted (never done) and the actuator is checked anew, ready with the
// tilt where it stopped.
TEST_F(RestartAndVanish, RestartInTheMiddleOfATiltMove) {
    struct Case {
        const char* what;
        milliseconds silence;
    } cases[] = {
        {"back after 500 ms", milliseconds(500)},
        {"silent for 3 s", milliseconds(3000)},
    };
    settings.tiltSpeed = 20;  // 2 degrees a second: time to restart in the middle
    StartSimulator();
    StartAndWaitUntilReady();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        application->SetTiltSpeed(20);
        const std::int32_t from = application->State().currentTilt;
        const std::int32_t target = from < 50 ? 95 : 5;
        tool->RequestTilt(target);
        ASSERT_TRUE(tool->WaitFor(
            [&] {
                const auto state = application->State();
                return state.moving && std::abs(state.currentTilt - from) >= 15;
            },
            seconds(20)))
            << "the move did not start";
        sim->RestartNow(c.silence);
        const auto trace = tool->WaitForOperation(seconds(40));
        const auto actuator = application->State();
        std::printf("%s: %s%s in %lld ms (%s), stopped at %d of %d\n", c.what,
                    OutcomeName(trace.outcome), trace.lostOnTheWay ? ", lost on the way" : "",
                    static_cast<long long>(trace.took.count()), tool->Line1().c_str(),
                    actuator.currentTilt, target);
        EXPECT_NE(actuator.currentTilt, target) << "the restart came too late to cut the move";
        ExpectNoFalseSuccess(trace, target, c.what);
        EXPECT_EQ(trace.outcome, WaitEnd::Ready);
        EXPECT_TRUE(trace.lostOnTheWay);
        ExpectRecordMatchesActuator(c.what);
        const kvq::actuator::Outcome ended = tool->Snapshot().outcome;
        EXPECT_EQ(ended.operation, kvq::actuator::Operation::Move);
        EXPECT_EQ(ended.ending, kvq::actuator::Ending::Interrupted) << ended.reason;
        application->SetTiltSpeed(200);
        ExpectRecovery(from < 50 ? 40 : 60, c.what);
    }
}

// The actuator restarts while the firmware goes down to it, at identity time.
// Nothing of a broken download may count as installed: the version the tool
// shows is the actuator's, and when that is the file's, the image is whole.
TEST_F(RestartAndVanish, RestartInTheMiddleOfAFirmwareDownload) {
    struct Case {
        const char* what;
        milliseconds silence;
        Expect expect;
    } cases[] = {
        {"back after 500 ms", milliseconds(500), Expect::LostAndFound},
        {"silent for 3 s", milliseconds(3000), Expect::LostAndFound},
    };
    constexpr std::size_t Blocks = 30;
    directory->WriteFirmware("01.24", Blocks * 56 - 10 + 17);  // the last block part full
    const Bytes image = FileBytes(directory->Path() / "vlx400fw.bin");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        settings.restartSilence = c.silence;
        settings.restartOn = RestartTrigger{Vlx400Command::DownloadBlock, Blocks / 3};
        StartSimulator();
        StartTool();
        const auto start = SteadyClock::now();
        const WaitEnd outcome = tool->WaitUntilReady(seconds(90));
        const auto actuator = application->State();
        std::printf("%s: %s after %lld ms (%s), actuator at %s after %u restarts\n", c.what,
                    OutcomeName(outcome), Since(start), tool->Line1().c_str(),
                    actuator.softwareVersion.c_str(), actuator.restarts);
        ASSERT_NE(outcome, WaitEnd::TimedOut) << tool->Line1();
        EXPECT_GE(actuator.restarts, 1u) << "the download was not cut";
        if (c.expect == Expect::FailedNoReply) {
            EXPECT_EQ(outcome, WaitEnd::Failed);
            EXPECT_EQ(tool->Snapshot().failCode, FailCode::NoReply);
            EXPECT_EQ(actuator.softwareVersion, "01.23");
            EXPECT_FALSE(actuator.lastImage) << "a broken download was taken as complete";
        } else {
            // Found again, the download runs anew and this time completes.
            EXPECT_EQ(outcome, WaitEnd::Ready);
            EXPECT_EQ(actuator.softwareVersion, "01.24");
        }
        if (outcome == WaitEnd::Ready) ExpectRecordMatchesActuator(c.what);
        // Its own restart after a download takes the usual time again.
        application->SetRestartSilence(milliseconds(3000));
        if (actuator.softwareVersion == "01.24") {
            ASSERT_TRUE(actuator.lastImage);
            EXPECT_EQ(*actuator.lastImage, image) << "installed an image that is not the file";
        }
        ExpectRecovery(60, c.what);
        EXPECT_EQ(application->State().softwareVersion, "01.24")
            << "found again, the actuator was not brought to the file's version";
        ASSERT_TRUE(tool->Stop());
        EXPECT_FALSE(tool->Device().FirmwareImageHeld()) << "the firmware file was left open";
        StopTool();
        sim.reset();
    }
}

// The actuator restarts at a chosen command of a model change: in Ericsson
// mode before the model is stored, or in AISG mode before the configuration is
// stored. A change the tool reports done has the new
// model and its configuration in the actuator; whatever model the tool shows,
// the actuator has.
TEST_F(RestartAndVanish, RestartInTheMiddleOfAModelChange) {
    struct Case {
        const char* what;
        Vlx400Command diesOn;
    } cases[] = {
        {"restart instead of storing the model", Vlx400Command::WriteModel},
        {"restart instead of storing the configuration", Vlx400Command::AisgConfigure},
    };
    settings.restartSilence = milliseconds(2000);
    StartSimulator();
    StartAndWaitUntilReady();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const bool toOther = application->State().modelKey != OtherModelKey;
        const std::string newKey = toOther ? OtherModelKey : ModelKey;
        const std::string newName = toOther ? OtherModelName : ModelName;
        const auto before = application->State();
        application->RestartOn(RestartTrigger{c.diesOn, 1});
        const auto trace = tool->ChangeModel(newName, seconds(90));
        const auto actuator = application->State();
        const bool configured = actuator.aisgConfiguration == ConfigurationOf(actuator.modelKey);
        std::printf(
            "%s: %s%s in %lld ms (%s), actuator model %s %s its configuration, %u "
            "restarts\n",
            c.what, OutcomeName(trace.outcome), trace.lostOnTheWay ? ", lost on the way" : "",
            static_cast<long long>(trace.took.count()), tool->Line1().c_str(),
            actuator.modelKey.c_str(), configured ? "with" : "without",
            actuator.restarts - before.restarts);
        EXPECT_NE(trace.outcome, WaitEnd::TimedOut) << tool->Line1();
        EXPECT_GE(actuator.restarts, before.restarts + 1) << "the fault did not happen";
        if (trace.outcome == WaitEnd::Ready) {
            ExpectRecordMatchesActuator(c.what);
            // Lost on the way or not: READY with the new model and no problem
            // is the change reported done.
            const bool reportedDone =
                tool->Snapshot().problemText.empty() && tool->Snapshot().antennaModel == newName;
            if (reportedDone) {
                EXPECT_EQ(actuator.modelKey, newKey);
                EXPECT_EQ(actuator.aisgConfiguration, ConfigurationOf(newKey))
                    << "reported done without the model's configuration";
            }
        }
        application->RestartOn(std::nullopt);
        ExpectRecovery(40, c.what);
    }
    // And with the actuator behaving, a model change goes through.
    const bool toOther = application->State().modelKey != OtherModelKey;
    const std::string newKey = toOther ? OtherModelKey : ModelKey;
    const auto trace = tool->ChangeModel(toOther ? OtherModelName : ModelName, seconds(60));
    EXPECT_EQ(trace.outcome, WaitEnd::Ready) << tool->Line1();
    EXPECT_EQ(application->State().modelKey, newKey);
    EXPECT_EQ(application->State().aisgConfiguration, ConfigurationOf(newKey));
    ExpectRecordMatchesActuator("a model change without faults");
}

// The adapter is pulled out (the line hangs up and its device goes away) and
// put back, as a new device under the same name: while it is gone the tool
// shows nothing as ready, and once it is back the tool finds the actuator by
// itself.
TEST_F(RestartAndVanish, DeviceVanishesAndComesBack) {
    struct Case {
        const char* what;
        bool duringAMove;
    } cases[] = {
        {"gone while ready", false},
        {"gone in the middle of a move", true},
    };
    settings.tiltSpeed = 20;
    SimOptions options;
    options.linkPath = (directory->Path() / "vlx400-line").string();
    StartSimulator(options);
    StartAndWaitUntilReady(options.linkPath);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::int32_t from = application->State().currentTilt;
        const std::int32_t target = from < 50 ? 95 : 5;
        if (c.duringAMove) {
            application->SetTiltSpeed(20);
            tool->RequestTilt(target);
            ASSERT_TRUE(tool->WaitFor([&] { return application->State().moving; }, seconds(20)))
                << "the move did not start";
        }
        const auto start = SteadyClock::now();
        sim->Stop();
        EXPECT_FALSE(std::filesystem::exists(options.linkPath));
        const bool forgotten = tool->WaitFor([&] { return tool->Forgotten(); }, seconds(20));
        EXPECT_TRUE(forgotten) << "the tool did not notice (" << tool->Line1() << ")";
        const auto noticed = Since(start);
        // Gone for a while: the tool tries the missing port in both modes.
        bool readyWhileGone = false;
        tool->WaitFor(
            [&] {
                readyWhileGone = readyWhileGone || tool->Ready();
                return false;
            },
            milliseconds(1500));
        EXPECT_FALSE(readyWhileGone) << "ready with no actuator on the line";
        ASSERT_TRUE(sim->Start()) << sim->Error();
        const auto back = SteadyClock::now();
        const WaitEnd outcome = tool->WaitUntilReady(seconds(60), true);
        std::printf("%s: forgotten after %lld ms, %s %lld ms after coming back\n", c.what, noticed,
                    OutcomeName(outcome), Since(back));
        EXPECT_EQ(outcome, WaitEnd::Ready) << tool->Line1();
        ExpectRecordMatchesActuator(c.what);
        application->SetTiltSpeed(200);
        ExpectAMoveGoesThrough(from < 50 ? 40 : 60, c.what);
    }
    // Closed while the device is gone and the port cannot be opened: the
    // workers still end within the allowance (checked by StopTool).
    sim->Stop();
    EXPECT_TRUE(tool->WaitFor([&] { return tool->Forgotten(); }, seconds(20)));
    StopTool();
}
