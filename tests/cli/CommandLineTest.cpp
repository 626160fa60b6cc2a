#include <gtest/gtest.h>

#include "cli/CommandLine.h"

using namespace kvq::cli;

using Command = CliOptions::Command;

TEST(KvqctlCommandLine, AcceptsTheCommandsAndOptions) {
    struct Case {
        std::vector<std::string> args;
        Command command;
        std::int32_t tilt;
        std::string model;
        std::string port;
        bool json;
    } cases[] = {
        {{"status"}, Command::Status, 0, "", "", false},
        {{"--json", "--port", "/dev/ttyUSB0", "status"},
         Command::Status,
         0,
         "",
         "/dev/ttyUSB0",
         true},
        {{"monitor", "--timeout", "2.5"}, Command::Monitor, 0, "", "", false},
        {{"set-tilt", "6.5"}, Command::SetTilt, 65, "", "", false},
        {{"set-tilt", "-1.5"}, Command::SetTilt, -15, "", "", false},
        {{"--port", "COM3", "set-tilt", "-2.5", "--json"}, Command::SetTilt, -25, "", "COM3", true},
        {{"set-tilt", "10"}, Command::SetTilt, 100, "", "", false},
        {{"set-tilt", "+.5"}, Command::SetTilt, 5, "", "", false},
        {{"set-tilt", "7.50"}, Command::SetTilt, 75, "", "", false},
        {{"change-model", "Wide_Range"}, Command::ChangeModel, 0, "Wide_Range", "", false},
        {{"change-model", "--", "-odd-name"}, Command::ChangeModel, 0, "-odd-name", "", false},
        {{"update-firmware"}, Command::UpdateFirmware, 0, "", "", false},
        // Options after the command, the --name=value form, ports past COM8,
        // a negative tilt the parser would not take for a value by itself.
        {{"set-tilt", "-.5", "--port=COM12"}, Command::SetTilt, -5, "", "COM12", false},
        {{"change-model", "ap1727-90-16", "--json"},
         Command::ChangeModel,
         0,
         "ap1727-90-16",
         "",
         true},
        // An option given twice: the last one counts. "--" ends the options,
        // also before the command.
        {{"--port", "COM1", "status", "--port", "COM12"}, Command::Status, 0, "", "COM12", false},
        {{"--", "status"}, Command::Status, 0, "", "", false},
        {{"--json", "--", "set-tilt", "-1.5"}, Command::SetTilt, -15, "", "", true},
        {{"ports"}, Command::Ports, 0, "", "", false},
        {{"--port", "usb:0403:6001:A1B2C3", "status"},
         Command::Status,
         0,
         "",
         "usb:0403:6001:A1B2C3",
         false},
        {{"--port", "/dev/serial/by-id/usb-FTDI_X-if00-port0", "status"},
         Command::Status,
         0,
         "",
         "/dev/serial/by-id/usb-FTDI_X-if00-port0",
         false},
        {{"--json", "models"}, Command::Models, 0, "", "", true},
    };
    for (const auto& c : cases) {
        std::string error;
        const auto options = ParseCommandLine(c.args, error);
        ASSERT_TRUE(options) << c.args[0] << ": " << error;
        EXPECT_EQ(options->command, c.command);
        EXPECT_EQ(options->tilt, c.tilt) << c.args.back();
        EXPECT_EQ(options->modelName, c.model);
        EXPECT_EQ(options->port.value_or(""), c.port);
        EXPECT_EQ(options->json, c.json);
        EXPECT_EQ(options->firmware, std::nullopt);
        EXPECT_FALSE(options->traceFile);
    }
    for (const char* command : {"status", "update-firmware"}) {
        std::string error;
        const auto options = ParseCommandLine({"--firmware", "fw/new.bin", command}, error);
        ASSERT_TRUE(options) << error;
        EXPECT_EQ(options->firmware, "fw/new.bin") << command;
    }
    // --trace FILE, before or after the command; the last one given counts.
    for (const auto& args : std::vector<std::vector<std::string>>{
             {"--trace", "line.txt", "status"},
             {"status", "--trace=line.txt"},
             {"--trace", "other.txt", "status", "--trace", "line.txt"}}) {
        std::string error;
        const auto options = ParseCommandLine(args, error);
        ASSERT_TRUE(options) << error;
        EXPECT_EQ(options->traceFile.value_or(""), "line.txt");
    }
}

TEST(KvqctlCommandLine, RefusesBadInputWithAReason) {
    struct Case {
        std::vector<std::string> args;
        const char* reasonHas;
    } cases[] = {
        {{}, "no command"},
        {{"reboot"}, "unknown command"},
        {{"--verbose", "status"}, "unknown option"},
        {{"set-tilt"}, "needs the tilt"},
        {{"set-tilt", "6.55"}, "one decimal"},
        {{"set-tilt", "six"}, "not a tilt"},
        {{"set-tilt", "1e3"}, "not a tilt"},
        {{"set-tilt", "nan"}, "not a tilt"},
        {{"set-tilt", "99999999"}, "not a tilt"},
        {{"set-tilt", "-"}, "not a tilt"},
        {{"change-model"}, "display name or key"},
        {{"ports", "COM1"}, "unexpected argument 'COM1'"},
        {{"models", "--verbose"}, "unknown option '--verbose'"},
        {{"set-tilt", "1", "2"}, "unexpected argument '2'"},
        // One command only: a second one is never run in the first one's place.
        {{"status", "set-tilt", "5"}, "unexpected argument 'set-tilt'"},
        {{"set-tilt", "5", "change-model", "X"}, "unexpected argument 'change-model'"},
        {{"status", "status"}, "unexpected argument 'status'"},
        {{"models", "ports"}, "unexpected argument 'ports'"},
        {{"--timeout", "5", "--timeout", "soon", "status"}, "not 'soon'"},
        {{"--", "--json", "status"}, "unexpected argument '--json'"},
        {{"--json"}, "no command"},
        {{"status", "--timeout"}, "--timeout needs a value"},
        {{"status", "--trace"}, "--trace needs a value"},
        {{"--trace", "", "status"}, "--trace needs a file name"},
        {{"--timeout", "soon", "status"}, "not 'soon'"},
        {{"status", "extra"}, "unexpected argument"},
        {{"--port"}, "needs a value"},
        {{"--timeout", "0", "status"}, "--timeout"},
        {{"--timeout", "-3", "status"}, "--timeout"},
        {{"--timeout", "inf", "status"}, "--timeout"},
        {{"--port", "", "status"}, "--port"},
        {{"--firmware", "", "update-firmware"}, "--firmware"},
        {{"update-firmware", "--firmware"}, "needs a value"},
        {{"update-firmware", "now"}, "unexpected argument"},
        {{"--port", "usb:0403", "status"}, "product id must be four hexadecimal digits"},
        {{"--port", "usb:403:6001", "status"}, "vendor id"},
        {{"--port", "USB:0403:6001:", "status"}, "serial number"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(ParseCommandLine(c.args, error)) << (c.args.empty() ? "" : c.args[0]);
        EXPECT_NE(error.find(c.reasonHas), std::string::npos) << error;
    }
}

TEST(KvqctlCommandLine, HelpAndVersionNeedNoCommand) {
    struct Case {
        std::vector<std::string> args;
        bool help;
        bool version;
    } cases[] = {
        {{"--help"}, true, false},
        {{"-h"}, true, false},
        {{"status", "--help"}, true, false},
        {{"--version"}, false, true},
        {{"--json", "--version"}, false, true},
    };
    for (const auto& c : cases) {
        std::string error;
        const auto options = ParseCommandLine(c.args, error);
        ASSERT_TRUE(options) << c.args[0] << ": " << error;
        EXPECT_EQ(options->help, c.help) << c.args[0];
        EXPECT_EQ(options->version, c.version) << c.args[0];
    }
}

// The usage is what a technician has in the field: every command with its
// argument, every option, every exit code and the defaults.
TEST(KvqctlCommandLine, TheUsageNamesEveryCommandOptionExitCodeAndDefault) {
    const std::string usage = UsageText();
    for (const char* part : {"status",
                             "monitor",
                             "set-tilt DEGREES",
                             "change-model NAME",
                             "update-firmware",
                             "ports",
                             "models",
                             "--port COMn|/dev/PATH|usb:VID:PID[:SERIAL]",
                             "--timeout SECONDS",
                             "--firmware FILE",
                             "--json",
                             "--demo",
                             "--help",
                             "--version",
                             "0    done",
                             "1    the actuator",
                             "2    usage",
                             "3    time-out",
                             "4    no port",
                             "130",
                             "143",
                             "status 60 s",
                             "900 s",
                             "the first port present",
                             "*.ascu",
                             "vlx400fw.bin",
                             "KVQ.INI",
                             "KVQ_SERIAL_PORTS"}) {
        EXPECT_NE(usage.find(part), std::string::npos) << part;
    }
    EXPECT_EQ(VersionText().rfind("kvqctl ", 0), 0u) << VersionText();
}

TEST(KvqctlCommandLine, StatusGivesUpAfterAMinuteAndMonitorNever) {
    EXPECT_EQ(DefaultTimeoutSeconds(Command::Status), 60.0);
    EXPECT_EQ(DefaultTimeoutSeconds(Command::SetTilt), 900.0);
    EXPECT_EQ(DefaultTimeoutSeconds(Command::ChangeModel), 900.0);
    EXPECT_FALSE(DefaultTimeoutSeconds(Command::Monitor));
    // update-firmware's grows with the file: 120 s, and 1 s for each KiB begun.
    EXPECT_EQ(DefaultTimeoutSeconds(Command::UpdateFirmware, 0), 120.0);
    EXPECT_EQ(DefaultTimeoutSeconds(Command::UpdateFirmware, 1), 121.0);
    EXPECT_EQ(DefaultTimeoutSeconds(Command::UpdateFirmware, 300 * 1024), 420.0);
}

TEST(KvqctlCommandLine, JsonIsSeenEvenOnACommandLineThatDoesNotParse) {
    EXPECT_TRUE(AsksForJson({"frobnicate", "--json"}));
    EXPECT_TRUE(AsksForJson({"--json", "--timeout"}));
    EXPECT_FALSE(AsksForJson({"change-model", "--", "--json"}));
    EXPECT_FALSE(AsksForJson({"status"}));
}
