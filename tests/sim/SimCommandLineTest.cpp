#include <gtest/gtest.h>

#include <string_view>
#include <vector>

#include "SimCommandLine.h"

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
    EXPECT_FALSE(result.commandLine->help);
}

TEST(SimCommandLine, TakesEveryOptionWithSeparateOrAttachedValues) {
    for (const auto& arguments : std::vector<std::vector<std::string_view>>{
             {"--aisg", "--device", "/dev/ttyUSB1", "--no-pace", "--reply-delay", "250", "--drop",
              "0.25", "--corrupt", "1", "--seed", "4294967295", "--silent"},
             {"--silent", "--seed=4294967295", "--corrupt=1", "--drop=.25", "--reply-delay=250",
              "--no-pace", "--device=/dev/ttyUSB1", "--aisg"}}) {
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
    };
    for (const auto& c : cases) {
        const auto result = Parse(c.arguments);
        EXPECT_FALSE(result.commandLine) << c.mentions;
        EXPECT_NE(result.error.find(c.mentions), std::string::npos) << result.error;
        EXPECT_EQ(result.error.find('\n'), std::string::npos) << result.error;
    }
}
