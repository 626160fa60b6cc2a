// kvq's command line, and the demo's set-up shared by kvq and kvqctl.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "actuator/VLX400E.h"
#include "app/Demo.h"
#include "app/Environment.h"
#include "serial/PortNames.h"
#include "sim/SimulatedActuator.h"
#include "sim/Vlx400Application.h"
#include "ui/AppOptions.h"

using namespace kvq::actuator;
using namespace kvq::serial;
using namespace kvq::app;
using namespace kvq::ui;

namespace {

namespace fs = std::filesystem;

TEST(KvqArguments, AcceptsTheDemoAndAScreenshotAndRefusesTheRest) {
    const struct {
        std::vector<std::string> args;
        bool ok, demo;
        const char* screenshot;  // "" for none
        const char* error;
    } cases[] = {
        {{}, true, false, "", ""},
        {{"--demo"}, true, true, "", ""},
        {{"--screenshot", "a.png", "--demo"}, true, true, "a.png", ""},
        {{"--screenshot"}, false, false, "", "needs the name"},
        {{"--screenshot", ""}, false, false, "", "needs the name"},
        {{"--port", "COM1"}, false, false, "", "unknown argument '--port'"},
        {{"demo"}, false, false, "", "unknown argument 'demo'"},
        {{"--screenshot", "a.png", "--screenshot-then", "port:12"}, true, false, "a.png", ""},
        {{"--screenshot", "a.png", "--screenshot-then", "close-while-moving"},
         true,
         false,
         "a.png",
         ""},
        {{"--screenshot-then", "port:2"}, false, false, "", "needs --screenshot"},
        {{"--screenshot", "a.png", "--screenshot-then", "port:256"},
         false,
         false,
         "",
         "close-while-moving or port:N"},
        {{"--screenshot", "a.png", "--screenshot-then", "port:x"},
         false,
         false,
         "",
         "close-while-moving or port:N"},
        {{"--screenshot", "a.png", "--screenshot-then"},
         false,
         false,
         "",
         "close-while-moving or port:N"},
        {{"--trace", "line.txt", "--demo"}, true, true, "", ""},
        {{"--trace"}, false, false, "", "--trace needs the name of the file"},
        {{"--trace", ""}, false, false, "", "--trace needs the name of the file"},
    };
    for (const auto& c : cases) {
        std::string error;
        const auto options = ParseKvqArguments(c.args, error);
        ASSERT_EQ(options.has_value(), c.ok) << error;
        if (!c.ok) {
            EXPECT_NE(error.find(c.error), std::string::npos) << error;
            continue;
        }
        EXPECT_EQ(options->demo, c.demo);
        EXPECT_EQ(options->screenshotPath.value_or(""), c.screenshot);
        const bool traced = std::find(c.args.begin(), c.args.end(), "--trace") != c.args.end();
        EXPECT_EQ(options->tracePath.value_or(""), traced ? "line.txt" : "");
    }
}

TEST(ScreenshotRun, WaitsForAReadyActuatorAndMovesToTheFartherEnd) {
    DeviceSnapshot device;
    device.state = ActuatorState::Checking;
    device.step = CheckStep::Complete;
    device.minTilt = -25;
    device.maxTilt = 100;
    ASSERT_TRUE(TakesRequests(device));
    EXPECT_TRUE(ReadyForScreenshot(device, true));
    EXPECT_FALSE(ReadyForScreenshot(device, false)) << "Set Tilt not yet enabled";
    device.problemText = "Motor jammed";
    EXPECT_FALSE(ReadyForScreenshot(device, true)) << "a problem is no picture of READY";

    const struct {
        std::int32_t current, target;
    } moves[] = {{-25, 100}, {37, 100}, {38, -25}, {100, -25}};
    for (const auto& m : moves) {
        device.currentTilt = m.current;
        EXPECT_EQ(FarEndTilt(device), m.target) << m.current;
    }
}

TEST(ScreenshotRun, BoxPicturesLieBesideTheScreenshot) {
    const struct {
        const char* screenshot;
        int n;
        const char* box;
    } cases[] = {
        {"ready.png", 1, "ready-box1.png"},
        {"/tmp/shots/ready.png", 12, "/tmp/shots/ready-box12.png"},
        {"C:\\shots\\ready.png", 2, "C:\\shots\\ready-box2.png"},
        {"/tmp/v1.2/ready", 1, "/tmp/v1.2/ready-box1.png"},  // a dot in a folder is no extension
        {"ready", 3, "ready-box3.png"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(BoxPicturePath(c.screenshot, c.n), c.box) << c.screenshot;
}

TEST(DemoFirmware, HeaderCarriesTheVersionSoNoDownloadStarts) {
    const auto bytes = FirmwareFileFor("01.23", 6);
    const std::vector<std::uint8_t> header = {0x01, 0x00, '0', '1', '.', '2', '3', 0, 0, 0};
    ASSERT_EQ(bytes.size(), 16u);
    EXPECT_TRUE(std::equal(header.begin(), header.end(), bytes.begin()));
    // A version too long for the header keeps its first eight characters.
    const auto longer = FirmwareFileFor("01.23.4567", 0);
    ASSERT_EQ(longer.size(), 10u);
    EXPECT_EQ(std::string(longer.begin() + 2, longer.end()), "01.23.45");
}

TEST(DemoSessionTest, SetsUpItsDirectoryAndPortAndLeavesNothingBehind) {
    const fs::path before = fs::current_path();
    SetEnvironmentVariable(PortMapVariable, "COM5=/tmp/kept");
    fs::path directory;
    {
        DemoSession demo;
        std::string error;
        ASSERT_TRUE(demo.Start(error)) << error;
        directory = demo.Directory();
        EXPECT_EQ(fs::current_path(), fs::canonical(directory));
        EXPECT_TRUE(fs::exists("KVQ_SAMPLE.ascu"));
        // COM1 is the simulator; ports named before stay reachable from the menu.
        EXPECT_EQ(std::string(std::getenv(PortMapVariable)),
                  "COM1=" + demo.DevicePath() + ";COM5=/tmp/kept");
        EXPECT_TRUE(demo.Simulator().Running());

        // The simulator starts with a model of the table and the firmware
        // file's version.
        const auto state = demo.Application().State();
        EXPECT_EQ(state.modelKey, demo.ModelKey());
        std::ifstream table("KVQ_SAMPLE.ascu");
        const std::string text((std::istreambuf_iterator<char>(table)), {});
        EXPECT_NE(text.find("\n" + demo.ModelKey() + "\t"), std::string::npos) << demo.ModelKey();
        EXPECT_EQ(demo.FirmwarePath(), directory / "vlx400fw.bin");
        std::ifstream firmware("vlx400fw.bin", std::ios::binary);
        const std::vector<char> bytes((std::istreambuf_iterator<char>(firmware)), {});
        ASSERT_GT(bytes.size(), 10u);
        EXPECT_EQ(std::string(bytes.data() + 2), state.softwareVersion);
    }
    EXPECT_EQ(fs::current_path(), before);
    EXPECT_FALSE(fs::exists(directory));
    EXPECT_EQ(std::string(std::getenv(PortMapVariable)), "COM5=/tmp/kept");
    SetEnvironmentVariable(PortMapVariable, std::nullopt);
}

// A table in the working directory is the one the demo tries, and the
// simulated actuator starts with its first model. So is a firmware file,
// whatever it holds, and it stays where it is so a message names it.
TEST(DemoSessionTest, UsesTheWorkingDirectorysTableAndFirmwareFile) {
    const fs::path before = fs::current_path();
    const fs::path here = MakeTemporaryDirectory("kvq-demo-test-");
    ASSERT_FALSE(here.empty());
    {
        std::ofstream(here / "site.ascu")
            << "AT-VERSION\t1\nSITE-KEY\t0\t50\t0\t0001000200030004\tSite\n";
        std::ofstream(here / "vlx400fw.bin", std::ios::binary) << "not an image";
    }
    fs::current_path(here);
    {
        DemoSession demo;
        std::string error;
        ASSERT_TRUE(demo.Start(error)) << error;
        EXPECT_EQ(demo.TableSource(), fs::canonical(here) / "site.ascu");
        EXPECT_TRUE(fs::exists("site.ascu"));
        EXPECT_FALSE(fs::exists("KVQ_SAMPLE.ascu")) << "the sample is not needed";
        EXPECT_EQ(demo.ModelKey(), "SITE-KEY");
        EXPECT_EQ(demo.Application().State().modelKey, "SITE-KEY");
        EXPECT_EQ(demo.FirmwarePath(), fs::canonical(here) / "vlx400fw.bin");
        EXPECT_FALSE(fs::exists("vlx400fw.bin")) << "neither copied nor replaced";
    }
    {
        std::ifstream kept(here / "vlx400fw.bin");
        EXPECT_EQ(std::string((std::istreambuf_iterator<char>(kept)), {}), "not an image");
    }
    EXPECT_EQ(fs::current_path(), fs::canonical(here));
    fs::current_path(before);
    fs::remove_all(here);
    SetEnvironmentVariable(PortMapVariable, std::nullopt);
}

}  // namespace
