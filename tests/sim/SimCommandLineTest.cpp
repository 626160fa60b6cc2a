#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "sim/SimCommandLine.h"

using namespace kvq::hdlc;
using namespace kvq::sim;

using namespace std::chrono_literals;

namespace {

SimCommandLineResult Parse(std::vector<std::string_view> arguments) {
    return ParseSimCommandLine(arguments);
}

}  // namespace

TEST(SimCommandLine, DefaultsAreEricssonPacedAndFaultFree) {
    const auto result = Parse({});
    ASSERT_TRUE(result.commandLine) << result.error;
    const auto& options = result.commandLine->options;
    EXPECT_EQ(options.mode, SimMode::Ericsson);
    EXPECT_TRUE(options.pace);
    EXPECT_EQ(options.replyDelay, 0ms);
    EXPECT_EQ(options.dropShare, 0.0);
    EXPECT_EQ(options.corruptShare, 0.0);
    EXPECT_FALSE(options.seed);
    EXPECT_FALSE(options.silent);
    EXPECT_FALSE(result.commandLine->device);
    EXPECT_FALSE(result.commandLine->trace);
    EXPECT_FALSE(result.commandLine->help);
}

TEST(SimCommandLine, TakesEveryOptionWithSeparateOrAttachedValues) {
    for (const auto& arguments : std::vector<std::vector<std::string_view>>{
             {"--aisg", "--device", "/dev/ttyUSB1", "--no-pace", "--reply-delay", "250", "--drop",
              "0.25", "--corrupt", "1", "--seed", "4294967295", "--silent", "--trace", "sim.txt"},
             {"--silent", "--seed=4294967295", "--corrupt=1", "--drop=.25", "--reply-delay=250",
              "--no-pace", "--device=/dev/ttyUSB1", "--aisg", "--trace=sim.txt"}}) {
        const auto result = Parse(arguments);
        ASSERT_TRUE(result.commandLine) << result.error;
        const auto& line = *result.commandLine;
        EXPECT_EQ(line.options.mode, SimMode::Aisg);
        EXPECT_EQ(line.device, "/dev/ttyUSB1");
        EXPECT_FALSE(line.options.pace);
        EXPECT_EQ(line.options.replyDelay, 250ms);
        EXPECT_EQ(line.options.dropShare, 0.25);
        EXPECT_EQ(line.options.corruptShare, 1.0);
        EXPECT_EQ(line.options.seed, 4294967295u);
        EXPECT_TRUE(line.options.silent);
        EXPECT_EQ(line.trace, "sim.txt");
    }
    EXPECT_TRUE(Parse({"--help"}).commandLine->help);
}

TEST(SimCommandLine, RejectsBadInputWithAOneLineReason) {
    const struct {
        std::vector<std::string_view> arguments;
        const char* mentions;
    } cases[] = {
        {{"--bogus"}, "--bogus"},
        {{"-x"}, "-x"},
        {{"stray"}, "stray"},
        {{"--device"}, "--device"},
        {{"--device="}, "--device"},
        {{"--trace"}, "--trace"},
        {{"--trace="}, "--trace"},
        {{"--reply-delay"}, "--reply-delay"},
        {{"--reply-delay", "-5"}, "--reply-delay"},
        {{"--reply-delay", "12ms"}, "--reply-delay"},
        {{"--reply-delay", "3600001"}, "--reply-delay"},
        {{"--drop", "1.5"}, "--drop"},
        {{"--drop", "-0.1"}, "--drop"},
        {{"--drop", "nan"}, "--drop"},
        {{"--corrupt", "half"}, "--corrupt"},
        {{"--corrupt", ""}, "--corrupt"},
        {{"--seed", "4294967296"}, "--seed"},
        {{"--seed", "+1"}, "--seed"},
        {{"--aisg=1"}, "--aisg"},
        {{"--serial", ""}, "--serial"},
        {{"--serial", "XXXT000000000000000001"}, "--serial"},
        {{"--serial", "tab\there"}, "--serial"},
        {{"--version", std::string_view("0123456789012345678901234567890123")}, "--version"},
        {{"--model", "M-1000000000000000"}, "--model"},
        {{"--aux", "an aux text of thirty-two chars!"}, "--aux"},
        {{"--tilt", "6.55"}, "--tilt"},
        {{"--tilt", "6."}, "--tilt"},
        {{"--tilt", ".5"}, "--tilt"},
        {{"--tilt", "--0"}, "--tilt"},
        {{"--tilt", "+1"}, "--tilt"},
        {{"--tilt", "3276.8"}, "--tilt"},
        {{"--tilt", "-3276.9"}, "--tilt"},
        {{"--tilt", "1e1"}, "--tilt"},
        {{"--tilt"}, "--tilt"},
        {{"--tilt-speed", "0"}, "--tilt-speed"},
        {{"--tilt-speed", "1000.1"}, "--tilt-speed"},
        {{"--tilt-speed", "-1"}, "--tilt-speed"},
        {{"--tilt-range", "10"}, "--tilt-range"},
        {{"--tilt-range", "10,-2.5"}, "--tilt-range"},
        {{"--tilt-range", ",5"}, "--tilt-range"},
        {{"--tilt-reply", "later"}, "--tilt-reply"},
        {{"--restart-silence", "-1"}, "--restart-silence"},
        {{"--refuse", "bogus"}, "bogus"},
        {{"--refuse"}, "--refuse"},
        {{"--restart-on", "download-block:0"}, "--restart-on"},
        {{"--restart-on", "nothing:2"}, "--restart-on"},
        {{"--restart-on", "restart:x"}, "--restart-on"},
        {{"--echo", "--serial", "X1"}, "--serial"},
        {{"--tilt", "1", "--echo"}, "--tilt"},
        {{"--echo=yes"}, "--echo"},
        {{"--adapter-echo=on"}, "--adapter-echo"},
        {{"--refuse", "set-tilt:0x19"}, "--refuse"},
        {{"--refuse", "aisg-prepare:0"}, "--refuse"},
        {{"--refuse", "aisg-prepare:0x100"}, "--refuse"},
        {{"--refuse", "aisg-prepare:-1"}, "--refuse"},
        {{"--refuse", "aisg-prepare:"}, "--refuse"},
        {{"--refuse", "bogus:0x19"}, "bogus"},
        {{"--power-cut"}, "--power-cut"},
        {{"--power-cut", "set-tilt"}, "--power-cut"},
        {{"--power-cut", "set-tilt,1500"}, "--power-cut"},
        {{"--power-cut", "set-tilt:0,1500,5000"}, "--power-cut"},
        {{"--power-cut", "set-tilt,1500,3600001"}, "--power-cut"},
        {{"--power-cut", "set-tilt,-1,5000"}, "--power-cut"},
        {{"--power-cut", "set-tilt,1500,5000,1"}, "--power-cut"},
        {{"--power-cut", "nothing,1500,5000"}, "--power-cut"},
        {{"--stay-aisg"}, "--stay-aisg"},
        {{"--stay-aisg", "0"}, "--stay-aisg"},
        {{"--stay-aisg", "never"}, "--stay-aisg"},
        {{"--next-serial", ""}, "--next-serial"},
        {{"--next-serial", "XXXT000000000000000001"}, "--next-serial"},
        {{"--next-model", "M-200"}, "--next-serial"},
        {{"--next-tilt", "2.5"}, "--next-serial"},
        {{"--next-serial", "X2", "--next-tilt", "2.55"}, "--next-tilt"},
        {{"--next-serial", "X2", "--next-model", "M-1000000000000000"}, "--next-model"},
        {{"--echo", "--power-cut", "set-tilt,1500,5000"}, "--power-cut"},
    };
    for (const auto& c : cases) {
        const auto result = Parse(c.arguments);
        EXPECT_FALSE(result.commandLine) << c.mentions;
        EXPECT_NE(result.error.find(c.mentions), std::string::npos) << result.error;
        EXPECT_EQ(result.error.find('\n'), std::string::npos) << result.error;
    }
}

TEST(SimCommandLine, SetsUpTheActuator) {
    using Check = std::function<bool(const SimCommandLine&)>;
    const struct {
        std::vector<std::string_view> arguments;
        Check holds;
    } cases[] = {
        {{},
         [](const SimCommandLine& l) {
             // Static: of a local one, GCC 12 optimising for the sanitizers
             // warns falsely that an empty optional member is read uninitialised.
             static const Vlx400Settings defaults;
             const auto& a = l.actuator;
             return !l.echo && a.serialNumber == defaults.serialNumber &&
                    a.softwareVersion == defaults.softwareVersion && a.tilt == 0 &&
                    a.tiltSpeed == 10 && a.refused.empty() && !a.restartOn &&
                    a.setTiltReply == SetTiltReply::WhenDone && a.restartSilence == 3000ms &&
                    !a.keepVersionOnRestart && a.refusalCodes.empty() && !a.powerCutAfter &&
                    !a.nextIdentity && a.conversionsIgnored == 0;
         }},
        {{"--serial", "XXXT0000000000000099", "--version=02.00", "--model", "M-200", "--aux",
          "two words"},
         [](const SimCommandLine& l) {
             const auto& a = l.actuator;
             return a.serialNumber == "XXXT0000000000000099" && a.softwareVersion == "02.00" &&
                    a.modelKey == "M-200" && a.auxText == "two words";
         }},
        {{"--model", "", "--aux="},
         [](const SimCommandLine& l) { return l.actuator.modelKey.empty(); }},
        {{"--tilt", "6.5"}, [](const SimCommandLine& l) { return l.actuator.tilt == 65; }},
        {{"--tilt=-1.5"}, [](const SimCommandLine& l) { return l.actuator.tilt == -15; }},
        {{"--tilt", "-0.5"}, [](const SimCommandLine& l) { return l.actuator.tilt == -5; }},
        {{"--tilt", "-3276.8"}, [](const SimCommandLine& l) { return l.actuator.tilt == -32768; }},
        {{"--tilt", "12"}, [](const SimCommandLine& l) { return l.actuator.tilt == 120; }},
        {{"--tilt-speed", "0.1"},
         [](const SimCommandLine& l) { return l.actuator.tiltSpeed == 1; }},
        {{"--tilt-speed", "1000"},
         [](const SimCommandLine& l) { return l.actuator.tiltSpeed == 10000; }},
        {{"--tilt-range=-2.5,10"},
         [](const SimCommandLine& l) {
             return l.actuator.minTarget == -25 && l.actuator.maxTarget == 100;
         }},
        {{"--tilt-reply", "accepted"},
         [](const SimCommandLine& l) { return l.actuator.setTiltReply == SetTiltReply::AtOnce; }},
        {{"--restart-silence", "0"},
         [](const SimCommandLine& l) { return l.actuator.restartSilence == 0ms; }},
        {{"--refuse", "set-tilt", "--refuse=read-page", "--refuse", "set-tilt"},
         [](const SimCommandLine& l) {
             return l.actuator.refused == std::set{Vlx400Command::SetTilt, Vlx400Command::ReadPage};
         }},
        {{"--restart-on", "download-block:3"},
         [](const SimCommandLine& l) {
             return l.actuator.restartOn &&
                    l.actuator.restartOn->command == Vlx400Command::DownloadBlock &&
                    l.actuator.restartOn->occurrence == 3;
         }},
        {{"--restart-on", "aisg-restart"},
         [](const SimCommandLine& l) {
             return l.actuator.restartOn &&
                    l.actuator.restartOn->command == Vlx400Command::AisgRestart &&
                    l.actuator.restartOn->occurrence == 1;
         }},
        {{"--keep-version"},
         [](const SimCommandLine& l) { return l.actuator.keepVersionOnRestart; }},
        {{"--echo", "--aisg", "--no-pace"}, [](const SimCommandLine& l) { return l.echo; }},
        {{"--adapter-echo"},
         [](const SimCommandLine& l) { return l.options.adapterEcho && !l.echo; }},
        {{"--adapter-echo", "--tilt", "2"},
         [](const SimCommandLine& l) { return l.options.adapterEcho && l.actuator.tilt == 20; }},
        {{"--refuse", "aisg-prepare:0x19", "--refuse=aisg-restart:38", "--refuse", "set-tilt"},
         [](const SimCommandLine& l) {
             const std::map<Vlx400Command, std::uint8_t> codes{{Vlx400Command::AisgPrepare, 0x19},
                                                               {Vlx400Command::AisgRestart, 38}};
             return l.actuator.refusalCodes == codes &&
                    l.actuator.refused == std::set{Vlx400Command::SetTilt,
                                                   Vlx400Command::AisgPrepare,
                                                   Vlx400Command::AisgRestart};
         }},
        {{"--refuse", "aisg-configure:0x19", "--refuse", "aisg-configure"},
         [](const SimCommandLine& l) {
             return l.actuator.refusalCodes.empty() &&
                    l.actuator.refused == std::set{Vlx400Command::AisgConfigure};
         }},
        {{"--power-cut", "set-tilt,1500,5000"},
         [](const SimCommandLine& l) {
             const auto& cut = l.actuator.powerCutAfter;
             return cut && cut->command == Vlx400Command::SetTilt && cut->occurrence == 1 &&
                    cut->delay == 1500ms && cut->off == 5000ms;
         }},
        {{"--power-cut=download-block:3,0,0"},
         [](const SimCommandLine& l) {
             const auto& cut = l.actuator.powerCutAfter;
             return cut && cut->command == Vlx400Command::DownloadBlock && cut->occurrence == 3 &&
                    cut->delay == 0ms && cut->off == 0ms;
         }},
        {{"--stay-aisg", "2"},
         [](const SimCommandLine& l) { return l.actuator.conversionsIgnored == 2; }},
        {{"--stay-aisg=always"},
         [](const SimCommandLine& l) { return l.actuator.conversionsIgnored == EveryConversion; }},
        {{"--next-tilt", "-2.5", "--next-serial", "XXXT0000002", "--next-model", "M-200"},
         [](const SimCommandLine& l) {
             const auto& next = l.actuator.nextIdentity;
             return next && next->serialNumber == "XXXT0000002" && next->tilt == -25 &&
                    next->modelKey == "M-200" && l.actuator.serialNumber == "XXXT0000001";
         }},
        {{"--next-serial=XXXT0000002"},
         [](const SimCommandLine& l) {
             const auto& next = l.actuator.nextIdentity;
             return next && next->serialNumber == "XXXT0000002" && !next->tilt && !next->modelKey;
         }},
    };
    for (const auto& c : cases) {
        std::string shown;
        for (auto argument : c.arguments)
            shown += std::string(argument) + " ";
        SCOPED_TRACE(shown);
        const auto result = Parse(c.arguments);
        ASSERT_TRUE(result.commandLine) << result.error;
        EXPECT_TRUE(c.holds(*result.commandLine));
    }
}

TEST(SimCommandLine, EveryCommandCanBeRefusedByTheNameTheHelpShows) {
    const std::string usage = SimUsage();
    for (const auto command : AllCommands()) {
        const std::string_view name = CommandName(command);
        SCOPED_TRACE(name);
        const std::string listed = " " + std::string(name);
        EXPECT_TRUE(usage.find(listed + ",") != std::string::npos ||
                    usage.find(listed + ".") != std::string::npos);
        const auto result = Parse({"--refuse", name});
        ASSERT_TRUE(result.commandLine) << result.error;
        EXPECT_EQ(result.commandLine->actuator.refused, std::set{command});
    }
}
