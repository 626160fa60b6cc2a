// The actuator's software from kvqctl: only update-firmware writes it, and
// only from a file that passes its check; kvqctl running in the test's
// process against the simulated actuator on the in-memory line.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "InProcessKvqctl.h"
#include "KvqctlOutputs.h"

using namespace kvq::sim;
using namespace kvq::testing;

namespace {

using std::chrono::milliseconds;
namespace fs = std::filesystem;

using KvqctlFirmware = KvqctlInProcess;

}  // namespace

// A firmware download while a script waits: its progress on the standard
// error, a line at every tenth and rising, the standard output JSON only.
TEST_F(KvqctlFirmware, ADownloadShowsItsProgressOnTheStandardError) {
    StartSimulator("AP1721-65-18");
    {
        std::ofstream file(directory / "vlx400fw.bin", std::ios::binary);
        std::string header(10, '\0');
        header[0] = 0x01;
        header.replace(2, 5, "02.00");
        file << header << std::string(6000, '\x5A');
    }
    auto run = Run({"--port", sim->DevicePath(), "--json", "update-firmware"});
    ASSERT_EQ(run->Wait(milliseconds(90000)), 0) << run->Out() << run->Err();
    EXPECT_EQ(FinalObject(run->Out(), 0)["softwareVersion"], "02.00");
    EXPECT_EQ(application->State().softwareVersion, "02.00");
    const auto figures = ProgressFigures(run->Err(), "downloading");
    ExpectRisingProgress(figures, run->Err());
    ASSERT_FALSE(figures.empty()) << run->Err();
    EXPECT_EQ(figures.back(), 100) << run->Err();
    EXPECT_EQ(run->Out().find("downloading"), std::string::npos) << "progress on stdout";
}

// status never writes the actuator's software: it names both versions and
// the command that installs the file, and ends as a status does.
TEST_F(KvqctlFirmware, StatusNeverDownloadsAndNamesBothVersions) {
    WriteFirmware(directory, "01.24");
    StartSimulator("AP1721-65-18");
    auto run = Run({"--port", sim->DevicePath(), "--json", "status"});
    ASSERT_EQ(run->Wait(milliseconds(30000)), 0) << run->Out() << run->Err();
    const json last = FinalObject(run->Out(), 0);
    EXPECT_EQ(last["statusLine1"], "READY");
    EXPECT_EQ(last["softwareVersion"], "01.23");
    EXPECT_EQ(last["firmwareFileVersion"], "01.24");
    // The file's version follows "ready", before the ending's members, as
    // written (an ordered parse of the last line keeps the order).
    const std::string out = run->Out();
    const auto lastLineAt = out.rfind('\n', out.size() - 2);
    const auto written = nlohmann::ordered_json::parse(
        out.substr(lastLineAt == std::string::npos ? 0 : lastLineAt + 1));
    std::vector<std::string> keys;
    for (const auto& item : written.items())
        keys.push_back(item.key());
    const auto at = std::find(keys.begin(), keys.end(), "firmwareFileVersion");
    ASSERT_NE(at, keys.end());
    ASSERT_NE(at, keys.begin());
    EXPECT_EQ(*(at - 1), "ready");
    EXPECT_EQ(std::vector<std::string>(at + 1, keys.end()),
              (std::vector<std::string>{"exitCode", "error"}));
    for (const auto& object : JsonLines(run->Out())) {
        EXPECT_EQ(object.value("firmwareFileVersion", ""), "01.24") << object;
        EXPECT_NE(object["statusLine1"], "UPDATING SOFTWARE") << object;
    }
    EXPECT_TRUE(Says(run->Err(), "holds version 01.24")) << run->Err();
    EXPECT_TRUE(Says(run->Err(), "runs version 01.23")) << run->Err();
    EXPECT_TRUE(Says(run->Err(), "kvqctl update-firmware")) << run->Err();
    const auto state = application->State();
    EXPECT_FALSE(state.imageReceiving.has_value());
    EXPECT_FALSE(state.lastImage.has_value());
    EXPECT_EQ(state.restarts, 0u);
}

TEST_F(KvqctlFirmware, UpdateFirmwareInstallsTheFileAndEndsReadyOnItsVersion) {
    const auto file = WriteFirmware(directory, "01.24");
    StartSimulator("AP1721-65-18");
    auto run = Run({"--port", sim->DevicePath(), "--json", "update-firmware"});
    ASSERT_EQ(run->Wait(milliseconds(60000)), 0) << run->Out() << run->Err();
    const json last = FinalObject(run->Out(), 0);
    EXPECT_EQ(last["statusLine1"], "READY");
    EXPECT_EQ(last["softwareVersion"], "01.24");
    EXPECT_EQ(last["ready"], true);
    // The download's progress is seen on the way.
    bool downloading = false;
    for (const auto& object : JsonLines(run->Out()))
        downloading = downloading || (object["statusLine1"] == "UPDATING SOFTWARE" &&
                                      object["progress"].get<int>() > 0);
    EXPECT_TRUE(downloading) << run->Out();
    EXPECT_TRUE(Says(run->Err(), "version 01.24 installed")) << run->Err();
    const auto state = application->State();
    ASSERT_TRUE(state.lastImage.has_value());
    EXPECT_EQ(*state.lastImage, std::vector<std::uint8_t>(file.begin(), file.end()));
    EXPECT_EQ(state.softwareVersion, "01.24");
    EXPECT_EQ(state.restarts, 1u);

    // Once more: the versions match, nothing is sent.
    auto again = Run({"--port", sim->DevicePath(), "update-firmware"});
    ASSERT_EQ(again->Wait(milliseconds(30000)), 0) << again->Out() << again->Err();
    EXPECT_TRUE(Says(again->Out(), "already at version 01.24")) << again->Out();
    EXPECT_FALSE(Says(again->Out(), "UPDATING SOFTWARE"));
    EXPECT_EQ(application->State().restarts, 1u);
}

// A file that cannot be an image is refused with the reason, before the port
// is opened: the simulator never sees a frame.
TEST_F(KvqctlFirmware, UpdateFirmwareRefusesAnUnusableFileBeforeThePortIsOpened) {
    StartSimulator("AP1721-65-18");
    const auto path = (directory / "vlx400fw.bin").string();
    struct Case {
        const char* what;
        std::function<void()> write;
        const char* says;
    } cases[] = {
        {"no file", [&] { fs::remove(path); }, "there is no firmware file"},
        {"random bytes",
         [&] {
             std::ofstream out(path, std::ios::binary);
             out << "\x9c\x41i\xdd;_5\xafI\xba";
             for (int i = 0; i < 4086; ++i)
                 out.put(static_cast<char>((i * 7919) >> 3));
         },
         "not printable"},
        {"three bytes",
         [&] {
             std::ofstream(path, std::ios::binary) << std::string(
                 "\x01\x00"
                 "9",
                 3);
         },
         "only 3 bytes"},
        {"empty version text",
         [&] {
             std::ofstream(path, std::ios::binary)
                 << std::string("\x01", 1) << std::string(60, '\0');
         },
         "no version text"},
        {"header only", [&] { WriteFirmware(directory, "01.24", 0); }, "no image"},
        {"above 4 MiB",
         [&] {
             WriteFirmware(directory, "01.24");
             fs::resize_file(path, 5u << 20);
         },
         "more than an E-VLX400 image can be"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        c.write();
        auto run = Run({"--port", sim->DevicePath(), "update-firmware"});
        EXPECT_EQ(run->Wait(milliseconds(10000)), 2);
        EXPECT_TRUE(Says(run->Err(), path)) << run->Err();
        EXPECT_TRUE(Says(run->Err(), c.says)) << run->Err();
        EXPECT_EQ(run->Out(), "") << "no worker started";
    }
    // The file named on the command line is the one checked.
    WriteFirmware(directory, "01.24", 0);
    fs::rename(path, directory / "other.bin");
    auto run = Run({"--port", sim->DevicePath(), "--firmware", "other.bin", "update-firmware"});
    EXPECT_EQ(run->Wait(milliseconds(10000)), 2);
    EXPECT_TRUE(Says(run->Err(), (directory / "other.bin").string())) << run->Err();
    EXPECT_EQ(sim->Counters().framesReceived + sim->Counters().framesAtWrongSpeed, 0u);
}

// An actuator whose loader refuses the image takes the download whole and
// comes back on its old version: one download, a failure that names both
// versions, exit 1.
TEST_F(KvqctlFirmware, UpdateFirmwareThatIsNotTakenFailsAfterOneDownload) {
    WriteFirmware(directory, "01.24");
    settings.keepVersionOnRestart = true;
    StartSimulator("AP1721-65-18");
    auto run = Run({"--port", sim->DevicePath(), "--json", "update-firmware"});
    ASSERT_EQ(run->Wait(milliseconds(60000)), 1) << run->Out() << run->Err();
    const json last = FinalObject(run->Out(), 1);
    EXPECT_EQ(last["statusLine1"], "UPDATE NOT TAKEN");
    EXPECT_EQ(last["statusLine2"], "RUNS 01.23, NOT 01.24");
    EXPECT_NE(last["error"].get<std::string>().find("did not take the update"), std::string::npos)
        << last;
    EXPECT_TRUE(Says(run->Err(), "did not take the update")) << run->Err();
    EXPECT_TRUE(Says(run->Err(), "version 01.23, not on version 01.24")) << run->Err();
    const auto state = application->State();
    EXPECT_EQ(state.restarts, 1u) << "one download, one restart";
    EXPECT_TRUE(state.lastImage.has_value());
    EXPECT_EQ(state.softwareVersion, "01.23");
}

// The demo tries the working directory's firmware file as it is: an unusable
// one is named and never sent, a usable one is installed only when asked.
TEST_F(KvqctlFirmware, TheDemoTriesTheWorkingDirectorysFirmwareFile) {
    const auto path = (fs::canonical(directory) / "vlx400fw.bin").string();
    std::ofstream(path, std::ios::binary) << std::string(
        "\x01\x00"
        "9",
        3);
    auto status = Run({"--demo", "status"});
    ASSERT_EQ(status->Wait(milliseconds(30000)), 0) << status->Out() << status->Err();
    EXPECT_TRUE(Says(status->Err(), "the firmware file " + path + " is not used")) << status->Err();
    EXPECT_TRUE(Says(status->Out(), "Software version:  01.23")) << status->Out();

    auto refused = Run({"--demo", "update-firmware"});
    EXPECT_EQ(refused->Wait(milliseconds(30000)), 2) << refused->Out() << refused->Err();
    EXPECT_TRUE(Says(refused->Err(), path)) << refused->Err();

    WriteFirmware(directory, "01.24");
    auto update = Run({"--demo", "update-firmware"});
    ASSERT_EQ(update->Wait(milliseconds(60000)), 0) << update->Out() << update->Err();
    EXPECT_TRUE(Says(update->Out(), "version 01.24 installed")) << update->Out();
    EXPECT_TRUE(Says(update->Out(), "Software version:  01.24")) << update->Out();
}
