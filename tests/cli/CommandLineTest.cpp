#include <gtest/gtest.h>

#include "cli/CommandLine.h"

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
    }
    for (const char* command : {"status", "update-firmware"}) {
        std::string error;
        const auto options = ParseCommandLine({"--firmware", "fw/new.bin", command}, error);
        ASSERT_TRUE(options) << error;
        EXPECT_EQ(options->firmware, "fw/new.bin") << command;
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
        {{"change-model"}, "display name"},
        {{"status", "extra"}, "unexpected argument"},
        {{"--port"}, "needs a value"},
        {{"--timeout", "0", "status"}, "--timeout"},
        {{"--timeout", "-3", "status"}, "--timeout"},
        {{"--timeout", "inf", "status"}, "--timeout"},
        {{"--port", "", "status"}, "--port"},
        {{"--firmware", "", "update-firmware"}, "--firmware"},
        {{"update-firmware", "--firmware"}, "needs a value"},
        {{"update-firmware", "now"}, "unexpected argument"},
    };
    for (const auto& c : cases) {
        std::string error;
        EXPECT_FALSE(ParseCommandLine(c.args, error)) << (c.args.empty() ? "" : c.args[0]);
        EXPECT_NE(error.find(c.reasonHas), std::string::npos) << error;
    }
}
