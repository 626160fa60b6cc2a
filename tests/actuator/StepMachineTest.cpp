// The actuator's step machines: in-step replies advance, out-of-step replies
// are ignored or fail as each sequence demands.

#include <fstream>

#include "ActuatorFixture.h"
#include "status/StatusTexts.h"
#include "status/TestEngine.h"

namespace {

Bytes Page(std::uint8_t index, std::uint8_t fill) {
    Bytes data = {index};
    data.resize(33, fill);
    return data;
}

}  // namespace

using IdentityReading = ActuatorFixture;

TEST_F(IdentityReading, RunsFromLinkUpToTheCheck) {
    Post(MsgLinkUp);
    EXPECT_EQ(device->state.load(), Reading);
    Sent sent = One();
    EXPECT_EQ(sent.message, MsgCommand);
    EXPECT_EQ(sent.sub(), cmd::PreRead1);
    // The first reply gets 5 s, the others 10 s.
    clock.Advance(5000);
    EXPECT_FALSE(device->replyDeadline.Expired());
    clock.Advance(1);
    EXPECT_TRUE(device->replyDeadline.Expired());

    Deliver(Vendor(cmd::PreRead1, 0));
    EXPECT_EQ(One().sub(), cmd::PreRead2);
    Deliver(Vendor(cmd::PreRead2, 0));
    sent = One();
    EXPECT_EQ(sent.sub(), cmd::ReadDataPage);
    EXPECT_EQ(sent.payload.back(), 0);
    EXPECT_EQ(device->step.load(), 1);
    for (std::uint8_t page = 0; page < 3; ++page) {
        Deliver(Vendor(cmd::ReadDataPage, 0, Page(page, 0x11)));
        sent = One();
        EXPECT_EQ(sent.sub(), cmd::ReadDataPage);
        EXPECT_EQ(sent.payload.back(), page + 1);
    }
    Deliver(Vendor(cmd::ReadDataPage, 0, Page(3, 0x22)));
    EXPECT_EQ(One().code(), cmd::IdentityRequest);
    EXPECT_EQ(device->step.load(), 3);
    // Pages of 0x11 hold no valid mark: the page is reset, then counted.
    EXPECT_TRUE(device->manufacturingData.IsValid());
    EXPECT_EQ(device->manufacturingData.Counter(122), 1);

    Deliver(TextReply(cmd::IdentityReply, 51, "XXXT0012345"));
    EXPECT_EQ(device->serialNumber.Get(), "XXXT0012345");
    EXPECT_EQ(One().code(), cmd::VersionRequest);
    EXPECT_EQ(device->step.load(), 4);

    const std::uint32_t before = clock.TickCount();
    Deliver(TextReply(cmd::VersionReply, 21, "01.23-build-0042-long"));
    EXPECT_EQ(device->softwareVersion.Get(), "01.23-build-0042") << "16 characters kept";
    EXPECT_EQ(device->state.load(), ScanSerial);
    EXPECT_EQ(clock.TickCount() - before, 2000u) << "the check waits 2 s before it asks";
    EXPECT_EQ(One().code(), cmd::VersionRequest);
    EXPECT_EQ(device->step.load(), 0);
}

TEST_F(IdentityReading, RefusalsAndOutOfStepRepliesFailOrAreIgnored) {
    struct Case {
        const char* what;
        int step;
        std::function<CommandBufferPtr()> reply;
        bool fails;
    } cases[] = {
        {"PreRead1 refused", 0, [] { return Vendor(cmd::PreRead1, 1); }, true},
        {"PreRead2 out of step", 1, [] { return Vendor(cmd::PreRead2, 0); }, true},
        {"a page refused", 1, [] { return Vendor(cmd::ReadDataPage, 3, Page(0, 0)); }, true},
        {"a page out of step", 0, [] { return Vendor(cmd::ReadDataPage, 0, Page(0, 0)); }, true},
        {"a page cut short", 1, [] { return Vendor(cmd::ReadDataPage, 0, Bytes(20, 0)); }, true},
        {"identity out of step", 1, [] { return TextReply(cmd::IdentityReply, 51, "X"); }, false},
        {"identity cut short", 3, [] { return Reply(cmd::IdentityReply, {}, 40); }, false},
        {"version out of step", 3, [] { return TextReply(cmd::VersionReply, 21, "1"); }, false},
        {"an unknown code", 0, [] { return Reply(0x01020C99); }, false},
    };
    for (const auto& c : cases) {
        device->SetState(Reading);
        device->step.store(c.step);
        device->failCode.store(0);
        Deliver(c.reply());
        if (c.fails) {
            EXPECT_EQ(device->state.load(), Failed) << c.what;
            EXPECT_EQ(StateText(*device), "FAIL (E)") << c.what;
            EXPECT_EQ(device->step.load(), 0) << c.what;
        } else {
            EXPECT_EQ(device->state.load(), Reading) << c.what;
            EXPECT_EQ(device->step.load(), c.step) << c.what;
        }
        TakeSent();
    }
}

TEST_F(IdentityReading, PageIndexWrapsAndTextsStopAtThePayloadEnd) {
    device->SetState(Reading);
    device->step.store(1);
    Deliver(Vendor(cmd::ReadDataPage, 0, Page(255, 0)));
    EXPECT_EQ(One().payload.back(), 0) << "after page 255 comes page 0";

    device->step.store(3);
    Bytes data(51 - 8, 0);
    const std::string serial = "SN-WITHOUT-NUL";
    data.insert(data.end(), serial.begin(), serial.end());
    Deliver(Reply(cmd::IdentityReply, data));
    EXPECT_EQ(device->serialNumber.Get(), serial);
}

using Check = ActuatorFixture;

TEST_F(Check, EndsReadyWithTheTiltReadBack) {
    LoadTable("M-100\t-25\t100\t0\t" + std::string(128, '0') + "\tWide_Range\n");
    device->SetState(ScanSerial);
    device->StartCheck();
    EXPECT_EQ(One().code(), cmd::VersionRequest);

    Deliver(TextReply(cmd::VersionReply, 21, "01.23"));
    EXPECT_EQ(One().sub(), cmd::ReadModel);
    Deliver(Vendor(cmd::ReadModel, 0, {5, 'M', '-', '1', '0', '0'}));
    EXPECT_EQ(device->antennaModel.Get(), "Wide_Range");
    EXPECT_EQ(device->minTilt.load(), -25);
    EXPECT_EQ(device->maxTilt.load(), 100);
    EXPECT_EQ(slider.Range(), (std::pair<std::int32_t, std::int32_t>{-25, 100}));
    EXPECT_EQ(slider.Ticks().size(), 13u);
    EXPECT_EQ(models.Selected(), "Wide_Range");
    EXPECT_EQ(One().sub(), cmd::ReadAuxText);
    Deliver(Vendor(cmd::ReadAuxText, 0, {3, 'A', 'U', 'X'}));
    EXPECT_EQ(device->auxText.Get(), "AUX");

    const std::pair<std::uint32_t, std::uint32_t> exchange[] = {
        {cmd::OpenReply, cmd::PollRequest},     {cmd::PollReply, cmd::PrepareRequest1},
        {cmd::Prepare1Reply, cmd::PollRequest}, {cmd::PollReply, cmd::PrepareRequest2},
        {cmd::Prepare2Reply, cmd::PollRequest}, {cmd::PollReply, cmd::PrepareRequest3},
        {cmd::Prepare3Reply, cmd::PollRequest}, {cmd::PollReply, cmd::GetTiltRequest},
    };
    EXPECT_EQ(One().code(), cmd::OpenRequest);
    for (const auto& [reply, request] : exchange) {
        // A reply of another step changes nothing.
        Deliver(Reply(cmd::Prepare3Reply == reply ? cmd::Prepare1Reply : cmd::Prepare3Reply));
        EXPECT_TRUE(TakeSent().empty());
        Deliver(Reply(reply));
        EXPECT_EQ(One().code(), request);
    }
    EXPECT_EQ(device->step.load(), 8);
    Deliver(TiltReply(0xFFE7));  // -2.5 degrees, two's complement
    EXPECT_EQ(device->currentTilt.load(), -25);
    EXPECT_EQ(slider.Position(), -25);
    EXPECT_EQ(device->problemText.Get(), "");
    EXPECT_EQ(CTestEngine::LinesFor(*device).first, "READY");
}

TEST_F(Check, AnUnknownModelKeepsItsKeyAndTheOldRange) {
    device->SetState(ScanSerial);
    device->step.store(1);
    Deliver(Vendor(cmd::ReadModel, 0, {20,  'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J',
                                       'K', 'L', 'M', 'N', 'O', 'P', 'Q', 'R', 'S', 'T'}));
    EXPECT_EQ(device->antennaModel.Get(), "ABCDEFGHIJKLMNOP") << "at most 16 characters";
    EXPECT_EQ(device->maxTilt.load(), 0);
    // Any tilt but 0 lies outside a range of 0..0.
    device->step.store(8);
    Deliver(TiltReply(40));
    EXPECT_EQ(device->currentTilt.load(), 0);
    EXPECT_EQ(device->problemText.Get(), "NO RECOGNIZED ANTENNA MODEL?");
    EXPECT_EQ(
        CTestEngine::LinesFor(*device),
        (std::pair<std::string, std::string>{"POSSIBLE PROBLEM", "NO RECOGNIZED ANTENNA MODEL?"}));
}

TEST_F(Check, AStatusRefusingAuxTextStopsTheCheckWhereItIs) {
    device->SetState(ScanSerial);
    device->step.store(0);
    Deliver(Vendor(cmd::ReadAuxText, 2, {1, 'x'}));
    EXPECT_TRUE(TakeSent().empty());
    Deliver(Vendor(cmd::ReadAuxText, 0, {}));  // cut short: no count byte
    EXPECT_TRUE(TakeSent().empty());
    EXPECT_EQ(device->step.load(), 0);
}

using Tilt = ActuatorFixture;

TEST_F(Tilt, ReadBackClampsAndComputesProgress) {
    struct Case {
        const char* what;
        std::int32_t min, max, start, target;
        std::uint16_t raw;
        std::int32_t current;
        double progress;
        const char* problem;
    } cases[] = {
        {"half way", 0, 100, 20, 80, 50, 50, 50.0, ""},
        {"overshoot within range", 0, 100, 20, 80, 85, 85, 108.0, ""},
        {"no move asked for", 0, 100, 30, 30, 30, 30, 100.0, ""},
        {"negative tilt of a model that allows it", -25, 100, 0, -25, 0xFFE7, -25, 100.0, ""},
        {"above the maximum", 0, 100, 0, 100, 0x0100, 100, 100.0, "NO RECOGNIZED ANTENNA MODEL?"},
        {"0xFFFF is -0.1, below the minimum", 0, 100, 50, 0, 0xFFFF, 0, 100.0,
         "NO RECOGNIZED ANTENNA MODEL?"},
    };
    for (const auto& c : cases) {
        device->minTilt.store(c.min);
        device->maxTilt.store(c.max);
        device->currentTilt.store(c.start);
        device->requestedTilt.store(c.target);
        device->SetState(Testing);
        device->StartSetTilt();
        TakeSent();
        device->step.store(8);
        Deliver(TiltReply(c.raw));
        EXPECT_EQ(device->currentTilt.load(), c.current) << c.what;
        EXPECT_DOUBLE_EQ(device->progress.load(), c.progress) << c.what;
        EXPECT_EQ(device->problemText.Get(), c.problem) << c.what;
        EXPECT_EQ(device->state.load(), Testing) << c.what << ": still moving at step 8";
    }
}

TEST_F(Tilt, SetTiltRunsItsStepsAndEndsReady) {
    device->minTilt.store(0);
    device->maxTilt.store(120);
    device->requestedTilt.store(65);
    Post(MsgSetTilt);
    EXPECT_EQ(device->state.load(), Testing);
    EXPECT_EQ(One().code(), cmd::OpenRequest);
    const std::pair<std::uint32_t, std::uint32_t> exchange[] = {
        {cmd::OpenReply, cmd::PollRequest},     {cmd::PollReply, cmd::PrepareRequest1},
        {cmd::Prepare1Reply, cmd::PollRequest}, {cmd::PollReply, cmd::PrepareRequest2},
        {cmd::Prepare2Reply, cmd::PollRequest}, {cmd::PollReply, cmd::PrepareRequest3},
        {cmd::Prepare3Reply, cmd::PollRequest}, {cmd::PollReply, cmd::SetTiltRequest},
    };
    for (const auto& [reply, request] : exchange) {
        Deliver(Reply(reply));
        EXPECT_EQ(One().code(), request);
    }
    // The move gets 50 s.
    clock.Advance(49000);
    EXPECT_FALSE(device->replyDeadline.Expired());

    // While moving the tilt is asked for every eleventh idle pass.
    ActuatorIdleWork idle;
    for (int pass = 1; pass <= 22; ++pass)
        idle.Pass(*device);
    auto polls = TakeSent();
    ASSERT_EQ(polls.size(), 2u);
    EXPECT_EQ(polls[0].code(), cmd::GetTiltRequest);
    Deliver(TiltReply(40));
    EXPECT_EQ(device->currentTilt.load(), 40);

    Deliver(Reply(cmd::SetTiltDone));
    EXPECT_EQ(One().code(), cmd::PollRequest);
    Deliver(Reply(cmd::PollReply));
    EXPECT_EQ(One().code(), cmd::GetTiltRequest);
    Deliver(TiltReply(65));
    EXPECT_EQ(device->state.load(), ScanSerial);
    EXPECT_EQ(device->step.load(), 8);
    EXPECT_EQ(slider.Position(), 65);
    EXPECT_EQ(CTestEngine::LinesFor(*device).first, "READY");
}

TEST_F(Tilt, ARefusedMoveIsReportedAndTheSliderStopsFollowing) {
    device->maxTilt.store(100);
    device->SetState(Testing);
    device->StartSetTilt();
    TakeSent();
    slider.SetPosition(77);
    device->step.store(8);
    Deliver(Reply(cmd::SetTiltRefused));
    EXPECT_FALSE(device->sliderFollowsTilt.load());
    EXPECT_EQ(One().code(), cmd::PollRequest);
    Deliver(Reply(cmd::PollReply));
    TakeSent();
    Deliver(TiltReply(30));
    EXPECT_EQ(device->state.load(), ScanSerial);
    EXPECT_EQ(slider.Position(), 77);
    EXPECT_EQ(CTestEngine::LinesFor(*device),
              (std::pair<std::string, std::string>{"POSSIBLE PROBLEM", "SET TILT FAILED"}));
    // A failed read at the end leaves the sequence waiting for the watchdog.
    device->SetState(Testing);
    device->step.store(10);
    Deliver(Reply(cmd::GetTiltFailed));
    EXPECT_EQ(device->problemText.Get(), "GET TILT FAILED");
    EXPECT_EQ(device->step.load(), 10);
    clock.Advance(ReplyTimeoutMs + 1);
    EXPECT_TRUE(device->FailIfReplyOverdue());
    EXPECT_EQ(StateText(*device), "FAIL (C)");
}
