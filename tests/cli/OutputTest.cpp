// kvqctl's two outputs on files of the test's: where each thing said goes,
// the JSON stream's objects and its final one.

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "WrittenFile.h"
#include "cli/JsonOutput.h"
#include "cli/TextOutput.h"
#include "serial/PortDiscovery.h"

using namespace kvq::actuator;
using namespace kvq::cli;
using kvq::testing::Written;

namespace {

// Two temporary files standing in for the standard output and error.
class Captured {
public:
    explicit Captured(bool terminal = false)
        : console_{std::tmpfile(), std::tmpfile(), terminal, 60} {}
    ~Captured() {
        std::fclose(console_.out);
        std::fclose(console_.err);
    }
    Captured(const Captured&) = delete;
    Captured& operator=(const Captured&) = delete;

    const Console& Streams() const { return console_; }
    // Once the output is done with them.
    std::string Out() const { return Written(console_.out); }
    std::string Err() const { return Written(console_.err); }

private:
    Console console_;
};

std::unique_ptr<Output> MakeOutput(bool json, const Console& console) {
    if (json) return std::make_unique<JsonOutput>(console);
    return std::make_unique<TextOutput>(console);
}

// The last line's object, its members in the order written.
nlohmann::ordered_json LastObject(const std::string& out) {
    std::istringstream lines(out);
    std::string line, last;
    while (std::getline(lines, line))
        last = line;
    return nlohmann::ordered_json::parse(last);
}
std::vector<std::string> Keys(const nlohmann::ordered_json& object) {
    std::vector<std::string> keys;
    for (const auto& item : object.items())
        keys.push_back(item.key());
    return keys;
}

Moment ReadyMoment(std::int32_t tilt = 20) {
    Moment moment;
    moment.statusLines = {"READY", ""};
    moment.device.state = ActuatorState::Checking;
    moment.device.step = CheckStep::Complete;
    moment.device.tiltKnown = true;
    moment.device.serialNumber = "XXXT0004711";
    moment.device.currentTilt = tilt;
    return moment;
}

Moment FirmwareMoment() {
    Moment moment = ReadyMoment();
    moment.firmwareFileVersion = "01.24";
    return moment;
}

// The members of the object of a moment, then those given.
std::vector<std::string> MomentKeysAnd(const Moment& moment, const std::vector<std::string>& more) {
    std::vector<std::string> keys =
        Keys(DeviceJson(moment.statusLines, moment.device, moment.firmwareFileVersion));
    keys.insert(keys.end(), more.begin(), more.end());
    return keys;
}

}  // namespace

// The final object holds what the run knew and nothing more, in one order,
// with the first error said (a later one is said on the standard error only).
TEST(KvqctlOutput, TheFinalObjectHoldsWhatWasKnownAndTheFirstError) {
    const std::vector<kvq::serial::SerialPortInfo> ports = {
        {"", "COM3", "/dev/kvq-three", "", "", "", "", "", ""}};
    struct Case {
        const char* what;
        std::function<int(Output&)> end;
        std::vector<std::string> keys;
        nlohmann::ordered_json error;
    } cases[] = {
        {"a run ended before the actuator was looked for",
         [](Output& output) {
             output.Error("the first");
             output.Error("the second");
             FinalReport report;
             report.exitCode = 2;
             return output.End(report);
         },
         {"ready", "progress", "exitCode", "error"},
         "the first"},
        {"the ports listed",
         [&](Output& output) {
             FinalReport report;
             report.ports = &ports;
             return output.End(report);
         },
         {"ports", "ready", "progress", "exitCode", "error"},
         nullptr},
        {"the actuator at the end",
         [](Output& output) {
             FinalReport report;
             report.moment = FirmwareMoment();
             report.deviceReport = true;
             return output.End(report);
         },
         MomentKeysAnd(FirmwareMoment(), {"exitCode", "error"}), nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Captured files;
        JsonOutput output(files.Streams());
        const int code = c.end(output);
        const std::string out = files.Out();
        const auto last = LastObject(out);
        EXPECT_EQ(Keys(last), c.keys) << out;
        EXPECT_EQ(last["exitCode"], code);
        EXPECT_EQ(last["error"], c.error);
        EXPECT_EQ(last["ready"], c.keys.front() == "state") << "ready only with the record";
    }
    // The second error was said, though only the first is the run's.
    const Captured files;
    JsonOutput output(files.Streams());
    cases[0].end(output);
    EXPECT_EQ(files.Err(), "kvqctl: the first\nkvqctl: the second\n");
}

// One object for each change of what it says: the same moment again is not
// said again, whatever came between.
TEST(KvqctlOutput, TheJsonStreamSaysEachChangeOnce) {
    const Captured files;
    JsonOutput output(files.Streams());
    for (const std::int32_t tilt : {20, 20, 35, 35, 20})
        output.State(ReadyMoment(tilt));
    std::vector<int> tilts;
    std::istringstream lines(files.Out());
    for (std::string line; std::getline(lines, line);)
        tilts.push_back(nlohmann::json::parse(line)["currentTilt"]);
    EXPECT_EQ(tilts, (std::vector<int>{20, 35, 20}));
}

// Text for a person goes to the standard output, or with --json to the
// standard error, which then leaves the standard output to JSON alone.
TEST(KvqctlOutput, TextForAPersonGoesWhereTheFormatSays) {
    for (const bool json : {false, true}) {
        SCOPED_TRACE(json ? "json" : "text");
        const Captured files;
        const auto output = MakeOutput(json, files.Streams());
        output->StatusLines({"READY", ""});
        output->StatusLines({"A FIRST LINE OF 25 CHARS.", "PLEASE WAIT"});
        output->State(ReadyMoment());
        output->Say("kvqctl: version 01.24 installed.\n");
        output->Note("a note");
        FinalReport report;
        report.moment = ReadyMoment();
        report.deviceReport = true;
        EXPECT_EQ(output->End(report), 0);

        const std::string person =
            "READY                    \n"
            "A FIRST LINE OF 25 CHARS. PLEASE WAIT\n"
            "kvqctl: version 01.24 installed.\n" +
            DeviceReport(report.moment->device);
        const std::string note = "kvqctl: a note\n";
        if (json) {
            EXPECT_EQ(files.Err(), person.substr(0, person.find("Serial")) + note +
                                       DeviceReport(report.moment->device));
            std::istringstream lines(files.Out());
            int objects = 0;
            for (std::string line; std::getline(lines, line); ++objects)
                EXPECT_TRUE(nlohmann::json::parse(line).is_object()) << line;
            EXPECT_EQ(objects, 2) << "the moment and the final object";
        } else {
            EXPECT_EQ(files.Out(), person);
            EXPECT_EQ(files.Err(), note);
        }
    }
}

// On a terminal the progress bar is redrawn in place; whatever is written
// next, on either stream, starts on a line of its own.
TEST(KvqctlOutput, ABarDrawnInPlaceEndsBeforeTheNextLine) {
    const auto start = Output::Clock::time_point{} + std::chrono::hours(1);
    struct Case {
        const char* what;
        std::function<void(Output&)> write;
        const char* after;  // on the standard error after the bar
    } cases[] = {
        {"a note", [](Output& output) { output.Note("the adapter is back"); },
         "\nkvqctl: the adapter is back\n"},
        {"an error", [](Output& output) { output.Error("the update failed"); },
         "\nkvqctl: the update failed\n"},
        {"status lines on the standard output",
         [](Output& output) {
             output.StatusLines({"READY", ""});
         },
         "\n"},
        {"the end", [](Output&) {}, "\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const Captured files(true);
        TextOutput output(files.Streams());
        output.Progress(LongOperation::Download, 40, start);
        c.write(output);
        output.End(FinalReport{});
        const std::string err = files.Err();
        ASSERT_EQ(err.rfind("\rdownloading [", 0), 0u) << err;
        const auto barEnd = err.find(" left") + 5;
        EXPECT_EQ(err.substr(barEnd), c.after) << err;
    }
}
