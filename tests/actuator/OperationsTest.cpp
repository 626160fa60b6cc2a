// Firmware download, model change, conversion, and the message table.

#include <fstream>

#include "ActuatorFixture.h"
#include "status/StatusTexts.h"
#include "status/TestEngine.h"

using namespace kvq::core;
using namespace kvq::actuator;
using namespace kvq::status;

namespace {

Bytes Header(const std::string& version) {
    Bytes header = {0x01, 0x00};
    header.insert(header.end(), version.begin(), version.end());
    header.resize(10, 0);
    return header;
}

}  // namespace

using Firmware = ActuatorFixture;

// A firmware file: the header, then an image of `imageSize` bytes.
Bytes FirmwareFileOf(const Bytes& header, std::size_t imageSize = 20) {
    Bytes file = header;
    for (std::size_t i = 0; i < imageSize; ++i)
        file.push_back(std::uint8_t(i * 29 + 1));
    return file;
}

TEST_F(Firmware, AnUpdateIsDueExactlyWhenTheVersionsDifferAndTheFileIsSound) {
    struct Case {
        const char* what;
        std::optional<Bytes> file;
        std::string actuator;
        bool due;
        bool refused;  // the record says why the file is not used
    } cases[] = {
        {"no file", std::nullopt, "01.22", false, false},
        {"the actuator's text begins with the file's", FirmwareFileOf(Header("01.23")), "01.23b",
         false, false},
        {"same version", FirmwareFileOf(Header("01.23")), "01.23", false, false},
        {"older actuator", FirmwareFileOf(Header("01.23")), "01.22", true, false},
        {"first byte zero", FirmwareFileOf({0x00, 0x00, '0', '2', 0, 0, 0, 0, 0, 0}), "01.22",
         false, true},
        {"empty version text", FirmwareFileOf({0x01, 0x00, 0, 0, 0, 0, 0, 0, 0, 0}), "01.22",
         false, true},
        {"no NUL in the header: eight characters",
         FirmwareFileOf({1, 0, 'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H'}), "ABCDEFGH-2", false,
         false},
        {"a file shorter than its header", Bytes{1, 0, '9'}, "01.22", false, true},
        {"a header and no image", Header("01.23"), "01.22", false, true},
        {"a version text that is not text", FirmwareFileOf({1, 0, 'i', 0xDD, ';', 0, 0, 0, 0, 0}),
         "01.22", false, true},
    };
    for (const auto& c : cases) {
        std::filesystem::remove(directory / "vlx400fw.bin");
        if (c.file) {
            std::ofstream out(directory / "vlx400fw.bin", std::ios::binary);
            out.write(reinterpret_cast<const char*>(c.file->data()),
                      std::streamsize(c.file->size()));
        }
        const std::uint32_t noticesBefore = S().firmware.notices;
        EXPECT_EQ(device->FirmwareUpdateDue(c.actuator), c.due) << c.what;
        EXPECT_EQ(device->FirmwareImageHeld(), c.due) << c.what;
        EXPECT_EQ(!S().firmware.fileProblem.empty(), c.refused) << c.what;
        EXPECT_EQ(S().firmware.notices - noticesBefore, c.refused ? 1u : 0u) << c.what;
        device->ReleaseFirmwareImage();
    }
}

// A file that fails its check at identification: nothing of it is sent, the
// check runs on to READY, and the record says why for the front end to show.
// Under the policy that never downloads the file is not even looked at.
TEST_F(Firmware, AFileThatIsNotSentLeavesTheActuatorToItsCheck) {
    struct Case {
        const char* what;
        Bytes file;
        FirmwarePolicy policy;
        const char* problemSays;  // nullptr: no problem recorded
    } cases[] = {
        {"three bytes", Bytes{1, 0, '9'}, FirmwarePolicy::DownloadWhenDiffers, "only 3 bytes"},
        {"asked, but only a header", Header("02.00"), FirmwarePolicy::DownloadAsked, "no image"},
        {"a sound file of another version, never downloading", FirmwareFileOf(Header("02.00")),
         FirmwarePolicy::NeverDownload, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        std::ofstream(directory / "vlx400fw.bin", std::ios::binary)
            .write(reinterpret_cast<const char*>(c.file.data()), std::streamsize(c.file.size()));
        device->SetFirmwarePolicy(c.policy);
        Edit([](DeviceSnapshot& r) { r.firmware = {}; });  // as a fresh run finds it
        device->SetState(ReadingIdentity);
        device->SetStep(ReadingStep::AwaitVersion);
        Deliver(TextReply(cmd::VersionReply, 21, "01.00"));
        EXPECT_EQ(S().state, Checking);
        const auto sent = TakeSent();
        ASSERT_EQ(sent.size(), 1u);
        EXPECT_EQ(sent[0].code(), cmd::VersionRequest) << "the check's first request, nothing else";
        EXPECT_EQ(S().firmware.downloadsStarted, 0u);
        if (c.problemSays) {
            EXPECT_NE(S().firmware.fileProblem.find(c.problemSays), std::string::npos)
                << S().firmware.fileProblem;
        } else {
            EXPECT_EQ(S().firmware.fileProblem, "");
            EXPECT_EQ(S().firmware.fileVersion, "") << "not read at all";
        }
    }
}

TEST_F(Firmware, DownloadsTheWholeFileInBlocksAndRestarts) {
    Bytes image = Header("02.00");
    for (int i = 0; image.size() < 57; ++i)
        image.push_back(std::uint8_t(i * 13));
    std::ofstream(directory / "vlx400fw.bin", std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));

    device->SetState(ReadingIdentity);
    device->SetStep(ReadingStep::AwaitVersion);
    Deliver(TextReply(cmd::VersionReply, 21, "01.00"));
    EXPECT_EQ(S().state, Updating);
    EXPECT_EQ(S().outcome, (Outcome{Operation::Download, Ending::None, ""}));
    auto sent = TakeSent();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0].sub(), cmd::DownloadStart);
    EXPECT_EQ(sent[1].message, MsgSuspendPolling);
    EXPECT_EQ(sent[1].wParam, 0x14u);
    EXPECT_EQ(sent[2].message, MsgResumePolling);
    EXPECT_EQ(CTestEngine::LinesFor(S(), true).first, "UPDATING SOFTWARE");

    Deliver(Vendor(cmd::DownloadStart, 0));
    Sent block = One();
    EXPECT_EQ(block.sub(), cmd::DownloadBlock);
    EXPECT_EQ(Bytes(block.payload.begin() + 9, block.payload.end()),
              Bytes(image.begin(), image.begin() + 56));
    EXPECT_NEAR(S().progress, 100.0 * 56 / 57, 1e-9);

    Deliver(Vendor(cmd::DownloadBlock, 0));
    block = One();
    EXPECT_EQ(Bytes(block.payload.begin() + 9, block.payload.end()), Bytes{image[56]});
    EXPECT_DOUBLE_EQ(S().progress, 100.0) << "the bar is full with the last block";

    Deliver(Vendor(cmd::DownloadBlock, 0));
    EXPECT_EQ(One().sub(), cmd::DownloadEnd);
    EXPECT_FALSE(device->FirmwareImageHeld());
    EXPECT_TRUE(S().At(DownloadStep::AwaitEnd));

    // An acknowledgement out of step changes nothing but the watchdog.
    clock.Advance(9000);
    Deliver(Vendor(cmd::DownloadBlock, 0));
    EXPECT_TRUE(TakeSent().empty());
    clock.Advance(9000);
    EXPECT_FALSE(Overdue());

    const std::uint32_t before = clock.TickCount();
    Deliver(Vendor(cmd::DownloadEnd, 0));
    EXPECT_EQ(S().state, ReadingIdentity);
    EXPECT_EQ(One().sub(), cmd::Restart);
    EXPECT_EQ(clock.TickCount() - before, 5000u);
    // The download goes on through the restart: it is what the actuator does
    // until it is back on its new version.
    EXPECT_EQ(ActivityOf(S()), Activity::Updating);
    Post(MsgDeviceLost);
    EXPECT_EQ(S().state, Looking);
    EXPECT_EQ(ActivityOf(S()), Activity::Updating);
    EXPECT_EQ(S().outcome.ending, Ending::None);
}

TEST_F(Firmware, ARefusalFailsTheDownloadAndLetsGoOfTheFile) {
    for (std::uint8_t refused : {cmd::DownloadStart, cmd::DownloadBlock, cmd::DownloadEnd}) {
        std::ofstream(directory / "vlx400fw.bin", std::ios::binary) << std::string(
                                                                           "\x01\x00"
                                                                           "02.00",
                                                                           7)
                                                                    << std::string(100, 'x');
        ASSERT_TRUE(device->FirmwareUpdateDue("01.00"));
        device->SetState(Updating);
        device->StartUpdate();
        device->SetStep(refused == cmd::DownloadStart   ? DownloadStep::AwaitStart
                        : refused == cmd::DownloadBlock ? DownloadStep::AwaitBlock
                                                        : DownloadStep::AwaitEnd);
        Deliver(Vendor(refused, 5));
        EXPECT_EQ(StateText(S()), "FAIL (DL)") << int(refused);
        EXPECT_EQ(S().outcome.operation, Operation::Download);
        EXPECT_EQ(S().outcome.ending, Ending::Failed);
        EXPECT_FALSE(device->FirmwareImageHeld()) << int(refused);
        TakeSent();
    }
    // A device lost in the middle of a download closes the file as well.
    ASSERT_TRUE(device->FirmwareUpdateDue("01.00"));
    device->SetState(Updating);
    device->SetStep(DownloadStep::AwaitBlock);
    Post(MsgDeviceLost);
    EXPECT_FALSE(device->FirmwareImageHeld());
    // Interrupted, with what that leaves.
    EXPECT_EQ(S().outcome.ending, Ending::Interrupted);
    EXPECT_NE(S().outcome.reason.find("no working software"), std::string::npos)
        << S().outcome.reason;
}

// The actuator identified as `serial` on `version`, as identity reading leaves
// it at the version reply; answers what was sent then.
class FirmwareRuns : public ActuatorFixture {
protected:
    std::vector<Sent> Identify(const std::string& serial, const std::string& version) {
        Post(MsgDeviceLost);
        Edit([&](DeviceSnapshot& r) { r.serialNumber = serial; });
        device->SetState(ReadingIdentity);
        device->SetStep(ReadingStep::AwaitVersion);
        TakeSent();
        Deliver(TextReply(cmd::VersionReply, 21, version));
        return TakeSent();
    }
    // Acknowledges every step of the download under way, up to the restart.
    void AcknowledgeDownload() {
        Deliver(Vendor(cmd::DownloadStart, 0));
        for (Sent next = One(); next.sub() == cmd::DownloadBlock; next = One())
            Deliver(Vendor(cmd::DownloadBlock, 0));
        Deliver(Vendor(cmd::DownloadEnd, 0));
        EXPECT_EQ(One().sub(), cmd::Restart);
    }
    void WriteFile(const std::string& version, std::size_t imageSize) {
        const Bytes file = FirmwareFileOf(Header(version), imageSize);
        std::ofstream(directory / "vlx400fw.bin", std::ios::binary)
            .write(reinterpret_cast<const char*>(file.data()), std::streamsize(file.size()));
    }
    static bool Downloads(const std::vector<Sent>& sent) {
        return !sent.empty() && sent[0].sub() == cmd::DownloadStart;
    }
};

// An actuator that takes a download whole and comes back on its old version:
// the download failed, with both versions named; the actuator goes on to its
// check on the old version (no dead end), and the same file is not sent to it
// again in this run; another file, or another actuator, is.
TEST_F(FirmwareRuns, AnImageTheActuatorDidNotTakeIsNotSentAgain) {
    WriteFile("02.00", 100);
    ASSERT_TRUE(Downloads(Identify("S-1", "01.00")));
    AcknowledgeDownload();
    EXPECT_EQ(S().firmware.downloadedVersion, "02.00");
    const std::uint32_t notices = S().firmware.notices;

    EXPECT_FALSE(Downloads(Identify("S-1", "01.00"))) << "not sent again";
    EXPECT_EQ(S().state, Checking);
    EXPECT_TRUE(S().firmware.updateNotTaken);
    EXPECT_EQ(S().outcome.operation, Operation::Download);
    EXPECT_EQ(S().outcome.ending, Ending::Failed);
    EXPECT_NE(S().outcome.reason.find("01.00, not on 02.00"), std::string::npos)
        << S().outcome.reason;
    Edit([](DeviceSnapshot& r) { r.step = CheckStep::Complete; });
    EXPECT_EQ(ActivityOf(S()), Activity::Ready) << "tilt and model work go on";
    EXPECT_EQ(CTestEngine::LinesFor(S(), true), StatusLines("UPDATE NOT TAKEN", "RUNS 01.00, NOT 02.00"));
    EXPECT_EQ(S().firmware.notices, notices + 1) << "the user is told once";

    // Removed and refitted: the check runs, nothing is downloaded.
    const auto again = Identify("S-1", "01.00");
    EXPECT_FALSE(Downloads(again));
    EXPECT_EQ(S().state, Checking);
    EXPECT_TRUE(S().firmware.updateNotTaken) << "the problem stays until another file";
    EXPECT_EQ(S().firmware.downloadsStarted, 1u);

    EXPECT_TRUE(Downloads(Identify("S-2", "01.00"))) << "another actuator";
    device->ReleaseFirmwareImage();
    WriteFile("02.01", 100);
    EXPECT_TRUE(Downloads(Identify("S-1", "01.00"))) << "another file";
}

// The same run with an actuator that takes the image: on to the check. A
// download cut short before its end is simply started over when the actuator
// is found again.
TEST_F(FirmwareRuns, ATakenImageAndADownloadCutShortAreNoFailure) {
    WriteFile("02.00", 100);
    ASSERT_TRUE(Downloads(Identify("S-1", "01.00")));
    AcknowledgeDownload();
    EXPECT_FALSE(Downloads(Identify("S-1", "02.00")));
    EXPECT_EQ(S().state, Checking);
    EXPECT_EQ(S().outcome, (Outcome{Operation::Download, Ending::Done, ""}));

    ASSERT_TRUE(Downloads(Identify("S-1", "01.00")));
    Deliver(Vendor(cmd::DownloadStart, 0));
    EXPECT_EQ(One().sub(), cmd::DownloadBlock);
    EXPECT_TRUE(Downloads(Identify("S-1", "01.00"))) << "lost in the middle: started over";
    EXPECT_EQ(S().state, Updating);
    EXPECT_EQ(S().firmware.downloadsStarted, 3u);
}

using ModelChange = ActuatorFixture;

TEST_F(ModelChange, WritesTheModelSwitchesModesAndConfigures) {
    std::string config = "00010002" + std::string(120, '0');
    LoadTable("OLD-1\t0\t100\t0\t" + std::string(128, '0') + "\tOld_Model\n" +
              "NEW-2\t20\t120\t0\t" + config + "\tNew_Model\n");
    device->SetState(Checking);
    Edit([](DeviceSnapshot& r) { r.serialNumber = "S-1"; });
    const auto model = table.FindByName("New_Model");
    ASSERT_TRUE(model);

    // The request carries the model; the record shows it once it is taken.
    Post(MsgChangeModel, static_cast<std::uintptr_t>(*model));
    EXPECT_EQ(S().newModelName, "NEW-2");
    EXPECT_EQ(S().newModelIndex, 1);
    EXPECT_EQ(S().state, ChangingModel);
    EXPECT_TRUE(S().SetupPending());
    EXPECT_EQ(S().outcome, (Outcome{Operation::ModelChange, Ending::None, ""}));
    EXPECT_EQ(One().code(), cmd::OpenRequest);
    const std::pair<std::uint32_t, std::uint32_t> exchange[] = {
        {cmd::OpenReply, cmd::PollRequest},     {cmd::PollReply, cmd::PrepareRequest1},
        {cmd::Prepare1Reply, cmd::PollRequest}, {cmd::PollReply, cmd::PrepareRequest2},
        {cmd::Prepare2Reply, cmd::PollRequest},
    };
    for (const auto& [reply, request] : exchange) {
        Deliver(Reply(reply));
        EXPECT_EQ(One().code(), request);
    }
    Deliver(Reply(cmd::PollReply));
    Sent write = One();
    EXPECT_EQ(write.sub(), cmd::WriteModel);
    EXPECT_EQ(Bytes(write.payload.begin() + 9, write.payload.end()),
              (Bytes{'N', 'E', 'W', '-', '2', 0}));
    Deliver(Vendor(cmd::WriteModel, 0));
    EXPECT_EQ(One().sub(), cmd::ReadModel);
    Deliver(Vendor(cmd::ReadModel, 0, {5, 'N', 'E', 'W', '-', '2'}));
    EXPECT_EQ(S().antennaModel, "New_Model");
    EXPECT_EQ(S().maxTilt, 120);
    EXPECT_EQ(One().sub(), cmd::ModeSelect);
    Deliver(Vendor(cmd::ModeSelect, 0));
    auto sent = TakeSent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].sub(), cmd::Restart);
    EXPECT_EQ(sent[1].message, MsgAisgMode);

    // The actuator restarts: the link drops it, or loses it while it is
    // silent, then finds it in AISG mode.
    Post(MsgLinkDown);
    EXPECT_EQ(S().state, ChangingModel);
    Post(MsgDeviceLost);
    EXPECT_EQ(S().state, ChangingModel);
    EXPECT_TRUE(S().SetupPending());
    Post(MsgAisgDeviceFound);
    EXPECT_EQ(S().state, ChangingModelAisg);
    Sent configure = One();
    EXPECT_EQ(configure.message, MsgRawCommand);
    Bytes expected = {0x32, 0x40, 0x00, 0x00, 0x01, 0x00, 0x02};
    expected.resize(67, 0);
    EXPECT_EQ(configure.payload, expected);

    Deliver(Raw({0x32, 0x00, 0x00}));
    EXPECT_EQ(One().payload, (Bytes{0x90, 0x03, 0x00, 0x54, 0x51, 0x44}));
    Deliver(Raw({0x90, 0x03, 0x00, 0x54, 0x51, 0x44}));
    EXPECT_EQ(One().payload, (Bytes{0x90, 0x04, 0x00, 0x54, 0x51, 0x46, 0xE0}));
    Deliver(Raw({0x90, 0x04, 0x00, 0x54, 0x51, 0x46}));
    sent = TakeSent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[0].payload, (Bytes{0x90, 0x03, 0x00, 0x54, 0x51, 0xE7}));
    EXPECT_EQ(sent[1].message, MsgEricssonMode);

    // Back in Ericsson mode the actuator answers disconnected first.
    Post(MsgLinkDown);
    EXPECT_EQ(S().state, Looking);
    EXPECT_TRUE(S().SetupPending());
    EXPECT_EQ(CTestEngine::LinesFor(S(), true).first, "SETTING UP");
    Post(MsgLinkUp);
    EXPECT_EQ(S().state, ReadingIdentity);
    EXPECT_FALSE(S().SetupPending());
    // The change is what the actuator does until its check reads the model.
    EXPECT_EQ(ActivityOf(S()), Activity::ChangingModel);
    EXPECT_EQ(S().outcome.ending, Ending::None);
    EXPECT_EQ(CTestEngine::LinesFor(S(), true).first, "SETTING UP");

    // The verdict is the model the check reads back.
    struct Verdict {
        const char* what;
        Bytes name;
        Ending ending;
    } verdicts[] = {
        {"the model asked for", {5, 'N', 'E', 'W', '-', '2'}, Ending::Done},
        {"another model", {5, 'O', 'L', 'D', '-', '1'}, Ending::Failed},
    };
    for (const auto& v : verdicts) {
        SCOPED_TRACE(v.what);
        Edit([](DeviceSnapshot& r) { r.continuing = Operation::ModelChange; });
        device->SetState(Checking);
        device->SetStep(CheckStep::AwaitModel);
        Deliver(Vendor(cmd::ReadModel, 0, v.name));
        device->SetStep(CheckStep::AwaitTilt);
        Deliver(TiltReply(50));
        EXPECT_EQ(S().outcome.operation, Operation::ModelChange);
        EXPECT_EQ(S().outcome.ending, v.ending) << S().outcome.reason;
        EXPECT_EQ(ActivityOf(S()), Activity::Ready);
        TakeSent();
    }
}

// A model change that leaves the tilt outside the new range did what was
// asked; the problem names the range, not an unknown model.
TEST_F(ModelChange, ATiltOutsideTheNewRangeIsDoneWithAProblemOfItsOwn) {
    LoadTable("NEW-2\t20\t120\t0\t" + std::string(128, '0') + "\tNew_Model\n");
    Edit([](DeviceSnapshot& r) {
        r.continuing = Operation::ModelChange;
        r.newModelName = "NEW-2";
    });
    device->SetState(Checking);
    device->SetStep(CheckStep::AwaitModel);
    Deliver(Vendor(cmd::ReadModel, 0, {5, 'N', 'E', 'W', '-', '2'}));
    device->SetStep(CheckStep::AwaitTilt);
    Deliver(TiltReply(0));
    EXPECT_EQ(S().outcome, (Outcome{Operation::ModelChange, Ending::Done, ""}));
    EXPECT_EQ(S().problemText, "TILT OUTSIDE MODEL RANGE");
    EXPECT_TRUE(TiltOutsideRange(S()));
}

// Step x reply -> failure: a reply the model change, the AISG-mode setup or
// the conversion did not ask for fails it with its own code (no longer the
// text of whatever failed before), and says what came.
TEST_F(ModelChange, AMismatchFailsAndSaysWhatCame) {
    LoadTable("NEW-2\t20\t120\t0\t" + std::string(128, '0') + "\tNew_Model\n");
    struct Case {
        const char* what;
        ActuatorState state;
        OperationStep step;
        std::function<CommandBufferPtr()> reply;
        const char* says;
    } cases[] = {
        {"a poll reply at the wrong step", ChangingModel, ModelChangeStep::AwaitPrepare1,
         [] { return Reply(cmd::PollReply); }, "0x01020C0A"},
        {"a restart answered while still changing the model", ChangingModel,
         ModelChangeStep::Restarting, [] { return Vendor(cmd::Restart, 0); }, "0xE9A611D9"},
        {"mode select at the first step of the AISG setup", ChangingModelAisg,
         AisgSetupStep::AwaitConfigure,
         [] {
             return Raw({0x90, 0x04, 0x00, 0x54, 0x51, 0x46});
         },
         "operation 0x46"},
        {"the configuration refused with 'unknown procedure'", ChangingModelAisg,
         AisgSetupStep::AwaitConfigure, [] { return Raw({0x32, 0x02, 0x00, 0x0B, 0x19}); },
         "return code 0x19 (unknown procedure)"},
        {"the preparation refused", Converting, ConversionStep::AwaitPrepare,
         [] { return Raw({0x90, 0x02, 0x00, 0x0B, 0x19}); }, "refused"},
        {"an empty AISG reply", Converting, ConversionStep::AwaitPrepare, [] { return Raw({}); },
         "an empty reply"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Edit([&](DeviceSnapshot& r) {
            r.failCode = FailCode::Identity;
            r.newModelIndex = 0;
        });
        device->SetState(c.state);
        Edit([&](DeviceSnapshot& r) { r.step = c.step; });
        Deliver(c.reply());
        EXPECT_EQ(S().state, Failed);
        EXPECT_EQ(S().failCode, FailCode::Unexpected);
        EXPECT_FALSE(S().SetupPending());
        EXPECT_EQ(S().outcome.ending, Ending::Failed);
        EXPECT_NE(S().outcome.reason.find(c.says), std::string::npos) << S().outcome.reason;
        TakeSent();
    }
}

TEST_F(ModelChange, AnAisgDeviceWithoutASetupIsConverted) {
    Post(MsgAisgDeviceFound);
    EXPECT_EQ(S().state, Converting);
    EXPECT_EQ(ActivityOf(S()), Activity::Converting);
    EXPECT_EQ(CTestEngine::LinesFor(S(), true),
              (std::pair<std::string, std::string>{"CONVERTING TO", "ERICSSON MODE"}));
    EXPECT_EQ(One().payload, (Bytes{0x90, 0x03, 0x00, 0x54, 0x51, 0x44}));
    // Found a second time (after the link came up): the conversion starts over.
    Post(MsgAisgDeviceFound);
    EXPECT_TRUE(S().At(ConversionStep::AwaitPrepare));
    EXPECT_EQ(One().payload, (Bytes{0x90, 0x03, 0x00, 0x54, 0x51, 0x44}));
    Deliver(Raw({0x90, 0x03, 0x00, 0x54, 0x51, 0x44}));
    EXPECT_EQ(One().payload, (Bytes{0x90, 0x04, 0x00, 0x54, 0x51, 0x46, 0xE0}));
    Deliver(Raw({0x90, 0x04, 0x00, 0x54, 0x51, 0x46}));
    auto sent = TakeSent();
    ASSERT_EQ(sent.size(), 2u);
    EXPECT_EQ(sent[1].message, MsgEricssonMode);
    EXPECT_EQ(S().state, Converted);
    EXPECT_EQ(StateText(S()), "FINISHED");
    Post(MsgLinkDown);
    EXPECT_EQ(S().state, Looking);
    EXPECT_EQ(ActivityOf(S()), Activity::Converting) << "until it is back in Ericsson mode";
    EXPECT_EQ(S().outcome.ending, Ending::None);
    Post(MsgLinkUp);
    EXPECT_EQ(S().outcome, (Outcome{Operation::Conversion, Ending::Done, ""}));
}

// An actuator that takes the conversion but comes back in AISG mode each
// time is not sent the restart for ever: after three it is given up on.
TEST_F(ModelChange, AConversionThatNeverComesBackIsBounded) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        Post(MsgAisgDeviceFound);
        ASSERT_EQ(S().state, Converting) << attempt;
        Deliver(Raw({0x90, 0x03, 0x00, 0x54, 0x51, 0x44}));
        Deliver(Raw({0x90, 0x04, 0x00, 0x54, 0x51, 0x46}));
        ASSERT_EQ(S().state, Converted);
        Post(MsgLinkDown);
        TakeSent();
    }
    Post(MsgAisgDeviceFound);
    EXPECT_EQ(S().state, Failed);
    EXPECT_EQ(S().failCode, FailCode::NotConverted);
    EXPECT_EQ(S().outcome.operation, Operation::Conversion);
    EXPECT_EQ(S().outcome.ending, Ending::Failed);
    EXPECT_TRUE(TakeSent().empty()) << "nothing more is sent";
    Post(MsgAisgDeviceFound);
    EXPECT_TRUE(TakeSent().empty()) << "found again: still nothing";
}

// An actuator lost in the middle of its AISG-mode setup (it restarted before
// storing the configuration) comes back in AISG mode: the setup runs again.
// Converting it instead would end READY showing the new model, its
// configuration never stored. Found in Ericsson mode, or with no setup cut
// short, an AISG-mode actuator is converted as before.
TEST_F(ModelChange, ASetupCutShortRunsAgainWhenTheActuatorComesBackInAisgMode) {
    LoadTable("NEW-2\t20\t120\t0\t" + std::string(128, '0') + "\tNew_Model\n");
    ASSERT_TRUE(table.FindByName("New_Model"));
    Edit([](DeviceSnapshot& r) { r.newModelIndex = 0; });
    struct Case {
        const char* what;
        ActuatorState lostIn;
        bool foundInEricssonFirst;
        ActuatorState after;
    } cases[] = {
        {"lost in the setup", ChangingModelAisg, false, ChangingModelAisg},
        {"lost in the setup, then found in Ericsson mode", ChangingModelAisg, true, Converting},
        {"lost while ready", Checking, false, Converting},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        device->SetState(c.lostIn);
        Post(MsgDeviceLost);
        EXPECT_EQ(S().state, Looking);
        EXPECT_FALSE(S().SetupPending()) << "the link falls back between modes";
        if (c.foundInEricssonFirst) {
            Post(MsgLinkUp);
            device->SetState(Looking);
            TakeSent();
        }
        Post(MsgAisgDeviceFound);
        EXPECT_EQ(S().state, c.after);
        const Sent sent = One();
        EXPECT_EQ(sent.message, MsgRawCommand);
        ASSERT_FALSE(sent.payload.empty());
        EXPECT_EQ(sent.payload[0],
                  c.after == ChangingModelAisg ? cmd::AisgConfigureCode : cmd::AisgVendorCode);
        // Only once: found again later, with no setup pending, it is converted.
        device->SetState(Looking);
        Edit([&](DeviceSnapshot& r) { r.continuing = Operation::None; });
        Post(MsgAisgDeviceFound);
        EXPECT_EQ(S().state, Converting);
        TakeSent();
    }
}

using Messages = ActuatorFixture;

TEST_F(Messages, LinkDownDependsOnTheState) {
    struct Case {
        ActuatorState state;
        ActuatorState after;
    } cases[] = {
        {Looking, Failed},
        {ReadingIdentity, Failed},
        {Updating, Failed},
        // A move cut by the actuator's restart is interrupted, not failed: the
        // actuator is found anew and the move can be sent again.
        {Moving, Looking},
        {Checking, Failed},
        {ChangingModel, ChangingModel},
        {Converted, Looking},
        {ChangingModelAisg, Looking},
    };
    for (const auto& c : cases) {
        device->SetState(c.state);
        Post(MsgLinkDown);
        EXPECT_EQ(S().state, c.after) << "from state " << c.state;
        if (c.after == Failed) {
            EXPECT_EQ(StateText(S()), "FAIL (C)");
        }
        if (c.state == Moving) {
            EXPECT_EQ(S().outcome.ending, Ending::Interrupted);
            EXPECT_EQ(ActivityOf(S()), Activity::Lost);
        }
    }
}

TEST_F(Messages, DeviceLostBeforeTheModelChangeRestartEndsTheChange) {
    device->SetState(ChangingModel);
    device->SetStep(ModelChangeStep::AwaitWrite);
    Post(MsgDeviceLost);
    EXPECT_EQ(S().state, Looking);
    EXPECT_FALSE(S().SetupPending());
    EXPECT_EQ(S().outcome.ending, Ending::Interrupted);
    EXPECT_NE(S().outcome.reason.find("not its configuration"), std::string::npos)
        << S().outcome.reason;
    // A restart that never comes back is ended by the watchdog.
    device->SetState(ChangingModel);
    device->SetStep(ModelChangeStep::Restarting);
    device->ArmReplyTimer();
    Post(MsgDeviceLost);
    EXPECT_EQ(S().state, ChangingModel);
    clock.Advance(ReplyTimeoutMs + 1);
    EXPECT_TRUE(device->FailIfReplyOverdue());
    EXPECT_EQ(S().outcome.ending, Ending::Failed);
}

// A move cut short by a lost actuator is interrupted with where it stood; the
// actuator counts as lost until it answers again.
TEST_F(Messages, DeviceLostDuringAMoveInterruptsIt) {
    Edit([](DeviceSnapshot& r) {
        r.serialNumber = "SN1";
        r.currentTilt = 30;
        r.modelKnown = true;
        r.maxTilt = 100;
    });
    Post(MsgSetTilt, 65);
    TakeSent();
    Edit([](DeviceSnapshot& r) { r.currentTilt = 38; });
    Post(MsgDeviceLost);
    EXPECT_EQ(S().outcome.operation, Operation::Move);
    EXPECT_EQ(S().outcome.ending, Ending::Interrupted);
    EXPECT_NE(S().outcome.reason.find("3.8 degrees, on its way to 6.5"), std::string::npos)
        << S().outcome.reason;
    EXPECT_EQ(ActivityOf(S()), Activity::Lost);
    Post(MsgLinkUp);
    EXPECT_EQ(ActivityOf(S()), Activity::Checking);
}

TEST_F(Messages, DeviceLostForgetsTheActuator) {
    Edit([&](DeviceSnapshot& r) {
        r.serialNumber = "SN1";
        r.softwareVersion = "01.00";
        r.minTilt = -10;
        r.maxTilt = 100;
        r.modelKnown = true;
        r.tiltKnown = true;
        r.problemText = "SET TILT FAILED";
        r.antennaModel = "Model";
        r.requestedTilt = 50;
    });
    device->SetState(ChangingModelAisg);
    Post(MsgDeviceLost);
    EXPECT_EQ(S().serialNumber, "");
    EXPECT_EQ(S().softwareVersion, "");
    EXPECT_EQ(S().minTilt, 0);
    EXPECT_EQ(S().maxTilt, 0);
    EXPECT_FALSE(S().modelKnown);
    EXPECT_FALSE(S().tiltKnown);
    EXPECT_EQ(S().problemText, "");
    EXPECT_EQ(S().antennaModel, "");
    EXPECT_EQ(S().requestedTilt, 0);
    EXPECT_EQ(S().state, Looking);
    EXPECT_FALSE(S().SetupPending());
    EXPECT_EQ(ActivityOf(S()), Activity::Lost);
    // Found again later: identity reading starts over.
    Post(MsgLinkUp);
    EXPECT_EQ(S().state, ReadingIdentity);
    // A link-up while not looking changes nothing.
    device->SetState(Checking);
    TakeSent();
    Post(MsgLinkUp);
    EXPECT_EQ(S().state, Checking);
    EXPECT_TRUE(TakeSent().empty());
}

TEST_F(Messages, RepliesWithoutAHandlerAreFreedAndIgnored) {
    for (ActuatorState state : {Looking, Failed, Converted}) {
        device->SetState(state);
        Deliver(Reply(cmd::OpenReply));
        EXPECT_EQ(S().state, state);
        EXPECT_TRUE(TakeSent().empty());
    }
    ThreadMessage stray{999, 0, NewCommandBuffer(20, 5)};
    HandleActuatorMessage(*device, stray);
    EXPECT_TRUE(TakeSent().empty());
}

TEST_F(Messages, IdleWorkCreepsTheProgressUpTo100ThenSleeps) {
    device->SetState(Checking);
    Edit([&](DeviceSnapshot& r) { r.progress = 0.0; });
    device->MessageHandled(clock.TickCount());
    // Each quiet 50 ms after the last message or creep adds 3.
    for (int pass = 1; pass <= 40; ++pass) {
        const auto due = device->NextIdleWork();
        if (!due) break;
        EXPECT_EQ(*due - clock.TickCount(), 50u) << pass;
        clock.Set(*due);
        device->IdleWork(clock.TickCount());
        EXPECT_DOUBLE_EQ(S().progress, std::min(3.0 * pass, 100.0)) << pass;
    }
    EXPECT_DOUBLE_EQ(S().progress, 100.0);
    // Ready at 100: nothing is due until a message comes.
    EXPECT_EQ(device->NextIdleWork(), std::nullopt);
    // A message restarts the quiet pass; early idle work does nothing.
    device->SetState(ChangingModel);
    Edit([&](DeviceSnapshot& r) { r.progress = 10.0; });
    device->MessageHandled(clock.TickCount());
    clock.Advance(49);
    device->IdleWork(clock.TickCount());
    EXPECT_DOUBLE_EQ(S().progress, 10.0);
    clock.Advance(1);
    device->IdleWork(clock.TickCount());
    EXPECT_DOUBLE_EQ(S().progress, 13.0);
}

using DeviceRecord = ActuatorFixture;

TEST_F(DeviceRecord, SetStateKeepsSetupAcrossTheRestart) {
    struct Case {
        ActuatorState from, to;
        bool setupPending;
        bool progressKept;
    } cases[] = {
        {ChangingModel, Looking, true, true}, {ChangingModelAisg, Looking, true, true},
        {Checking, Looking, false, false},     {Looking, ChangingModel, true, true},
        {Looking, ChangingModelAisg, true, true},
    };
    for (const auto& c : cases) {
        Edit([](DeviceSnapshot& r) { r.continuing = Operation::None; });
        device->SetState(c.from);
        Edit([](DeviceSnapshot& r) { r.progress = 42.0; });
        device->SetState(c.to);
        EXPECT_EQ(S().SetupPending(), c.setupPending) << c.from << "->" << c.to;
        EXPECT_EQ(S().progress == 42.0, c.progressKept) << c.from << "->" << c.to;
    }
    device->Fail(FailCode(99));
    EXPECT_EQ(StateText(S()), "FAIL (?)");
    EXPECT_FALSE(S().SetupPending()) << "a failure ends the change";
}

TEST_F(DeviceRecord, TiltRangeTicksEveryDegreeFromTheMinimum) {
    LoadTable("A\t20\t120\t0\t" + std::string(128, '0') + "\tNarrow\n" + "B\t-25\t100\t0\t" +
              std::string(128, '0') + "\tWide\n");
    device->SelectModelByKey("A");
    EXPECT_EQ(slider.Ticks().size(), 11u);
    EXPECT_EQ(slider.Ticks().back(), 120);
    device->SelectModelByKey("B");
    ASSERT_EQ(slider.Ticks().size(), 13u);
    EXPECT_EQ(slider.Ticks().front(), -25);
    EXPECT_EQ(slider.Ticks().back(), 95);
    EXPECT_EQ(models.Selected(), "Wide");
}

// Requests carry their argument: the record shows it once the thread takes
// the message, whatever it showed before.
// The watchdog wakes on every change of the record. A request after a failure
// enters its state before its start operation arms the reply timer; the
// failure's expired deadline must not fail the new operation in between.
TEST_F(DeviceRecord, ARequestAfterAFailureIsNotFailedByTheOldDeadline) {
    LoadTable("AP1721-65-18\t0\t100\t5\t" + std::string(128, '0') + "\tPanel\n");
    struct Case {
        const char* what;
        std::uint32_t message;
        std::uintptr_t wParam;
        ActuatorState state;
    } cases[] = {
        {"set tilt", MsgSetTilt, 20, ActuatorState::Moving},
        {"model change", MsgChangeModel, 0, ActuatorState::ChangingModel},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Edit([](DeviceSnapshot& r) { r.state = ActuatorState::Moving; });
        device->ArmReplyTimer();
        clock.Advance(ReplyTimeoutMs + 1);
        ASSERT_TRUE(device->FailIfReplyOverdue());
        TakeSent();
        const auto watchdog =
            device->Changes().AddListener([this] { device->FailIfReplyOverdue(); });
        Post(c.message, c.wParam);
        device->Changes().RemoveListener(watchdog);
        EXPECT_EQ(S().state, c.state);
        EXPECT_FALSE(Overdue());
    }
}

TEST_F(DeviceRecord, RequestsCarryTheirData) {
    LoadTable("OLD-1\t0\t100\t0\t" + std::string(128, '0') + "\tOld\n" + "NEW-2\t-30\t120\t0\t" +
              std::string(128, '0') + "\tNew\n");
    device->SelectModelByKey("NEW-2");
    for (std::int32_t target : {-25, 0, 65, 120}) {
        device->SetState(Checking);
        ASSERT_TRUE(PostSetTilt(link, target));  // any queue will do to carry it
        ThreadMessage message;
        ASSERT_TRUE(TakeMessage(link, message));
        HandleActuatorMessage(*device, message);
        EXPECT_EQ(S().requestedTilt, target);
        EXPECT_EQ(S().state, Moving);
        TakeSent();
    }
    for (std::int32_t index : {1, 0}) {
        ASSERT_TRUE(PostChangeModel(link, index));
        ThreadMessage message;
        ASSERT_TRUE(TakeMessage(link, message));
        HandleActuatorMessage(*device, message);
        EXPECT_EQ(S().newModelIndex, index);
        EXPECT_EQ(S().newModelName, index == 1 ? "NEW-2" : "OLD-1");
        EXPECT_EQ(S().state, ChangingModel);
        TakeSent();
    }
    // A model the table does not have starts nothing.
    device->SetState(Checking);
    Post(MsgChangeModel, 7);
    EXPECT_EQ(S().state, Checking);
    EXPECT_TRUE(TakeSent().empty());
}
