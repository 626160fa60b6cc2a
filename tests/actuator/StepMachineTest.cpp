// The actuator's step machines: in-step replies advance, out-of-step replies
// are ignored or fail as each sequence demands.

#include <atomic>
#include <fstream>
#include <thread>

#include "ActuatorFixture.h"
#include "status/StatusTexts.h"
#include "status/TestEngine.h"

using namespace kvq::core;
using namespace kvq::actuator;
using namespace kvq::status;

namespace {

using Lines = std::pair<std::string, std::string>;

Bytes Page(std::uint8_t index, std::uint8_t fill) {
    Bytes data = {index};
    data.resize(33, fill);
    return data;
}

}  // namespace

using IdentityReading = ActuatorFixture;

TEST_F(IdentityReading, RunsFromLinkUpToTheCheck) {
    Post(MsgLinkUp);
    EXPECT_EQ(S().state, ReadingIdentity);
    Sent sent = One();
    EXPECT_EQ(sent.message, MsgCommand);
    EXPECT_EQ(sent.sub(), cmd::PreRead1);
    // The first reply gets 5 s, the others 10 s.
    clock.Advance(5000);
    EXPECT_FALSE(Overdue());
    clock.Advance(1);
    EXPECT_TRUE(Overdue());

    Deliver(Vendor(cmd::PreRead1, 0));
    EXPECT_EQ(One().sub(), cmd::PreRead2);
    Deliver(Vendor(cmd::PreRead2, 0));
    sent = One();
    EXPECT_EQ(sent.sub(), cmd::ReadDataPage);
    EXPECT_EQ(sent.payload.back(), 0);
    EXPECT_TRUE(S().At(ReadingStep::AwaitDataPage));
    for (std::uint8_t page = 0; page < 3; ++page) {
        Deliver(Vendor(cmd::ReadDataPage, 0, Page(page, 0x11)));
        sent = One();
        EXPECT_EQ(sent.sub(), cmd::ReadDataPage);
        EXPECT_EQ(sent.payload.back(), page + 1);
    }
    Deliver(Vendor(cmd::ReadDataPage, 0, Page(3, 0x22)));
    EXPECT_EQ(One().code(), cmd::IdentityRequest);
    EXPECT_TRUE(S().At(ReadingStep::AwaitIdentity));
    // Pages of 0x11 hold no valid mark: the page is reset, then counted.
    EXPECT_TRUE(device->ManufacturingData().IsValid());
    EXPECT_EQ(device->ManufacturingData().Counter(122), 1);

    Deliver(TextReply(cmd::IdentityReply, 51, "XXXT0012345"));
    EXPECT_EQ(S().serialNumber, "XXXT0012345");
    EXPECT_EQ(One().code(), cmd::VersionRequest);
    EXPECT_TRUE(S().At(ReadingStep::AwaitVersion));

    const std::uint32_t before = clock.TickCount();
    Deliver(TextReply(cmd::VersionReply, 21, "01.23-build-0042-long"));
    EXPECT_EQ(S().softwareVersion, "01.23-build-0042") << "16 characters kept";
    EXPECT_EQ(S().state, Checking);
    EXPECT_EQ(clock.TickCount() - before, 2000u) << "the check waits 2 s before it asks";
    EXPECT_EQ(One().code(), cmd::VersionRequest);
    EXPECT_TRUE(S().At(CheckStep::AwaitVersion));
}

// Step x reply -> what follows: a reply to identity reading's own vendor
// requests out of step, refused or cut short fails it; anything else is ignored.
TEST_F(IdentityReading, RefusalsAndOutOfStepRepliesFailOrAreIgnored) {
    using enum ReadingStep;
    struct Case {
        const char* what;
        ReadingStep step;
        std::function<CommandBufferPtr()> reply;
        bool fails;
    } cases[] = {
        {"PreRead1 refused", AwaitPreRead1, [] { return Vendor(cmd::PreRead1, 1); }, true},
        {"PreRead2 refused", AwaitPreRead2, [] { return Vendor(cmd::PreRead2, 1); }, true},
        {"PreRead2 out of step", AwaitDataPage, [] { return Vendor(cmd::PreRead2, 0); }, true},
        {"PreRead1 answered twice", AwaitPreRead2, [] { return Vendor(cmd::PreRead1, 0); },
         true},
        {"a page refused", AwaitDataPage, [] { return Vendor(cmd::ReadDataPage, 3, Page(0, 0)); },
         true},
        {"a page out of step", AwaitPreRead1,
         [] { return Vendor(cmd::ReadDataPage, 0, Page(0, 0)); }, true},
        {"a page cut short", AwaitDataPage,
         [] { return Vendor(cmd::ReadDataPage, 0, Bytes(20, 0)); }, true},
        {"a pre-read during the restart after a download", AwaitRestart,
         [] { return Vendor(cmd::PreRead1, 0); }, true},
        {"identity out of step", AwaitDataPage,
         [] { return TextReply(cmd::IdentityReply, 51, "X"); }, false},
        {"identity cut short", AwaitIdentity, [] { return Reply(cmd::IdentityReply, {}, 40); },
         false},
        {"version out of step", AwaitIdentity, [] { return TextReply(cmd::VersionReply, 21, "1"); },
         false},
        {"an unknown code", AwaitPreRead1, [] { return Reply(0x01020C99); }, false},
        {"the restart answered", AwaitRestart, [] { return Vendor(cmd::Restart, 0); }, false},
    };
    for (const auto& c : cases) {
        device->SetState(ReadingIdentity);
        device->SetStep(c.step);
        Edit([&](DeviceSnapshot& r) { r.failCode = FailCode(0); });
        Deliver(c.reply());
        if (c.fails) {
            EXPECT_EQ(S().state, Failed) << c.what;
            EXPECT_EQ(StateText(S()), "FAIL (E)") << c.what;
        } else {
            EXPECT_EQ(S().state, ReadingIdentity) << c.what;
            EXPECT_TRUE(S().At(c.step)) << c.what;
        }
        TakeSent();
    }
}

TEST_F(IdentityReading, PageIndexWrapsAndTextsStopAtThePayloadEnd) {
    device->SetState(ReadingIdentity);
    device->SetStep(ReadingStep::AwaitDataPage);
    Deliver(Vendor(cmd::ReadDataPage, 0, Page(255, 0)));
    EXPECT_EQ(One().payload.back(), 0) << "after page 255 comes page 0";

    device->SetStep(ReadingStep::AwaitIdentity);
    Bytes data(51 - 8, 0);
    const std::string serial = "SN-WITHOUT-NUL";
    data.insert(data.end(), serial.begin(), serial.end());
    Deliver(Reply(cmd::IdentityReply, data));
    EXPECT_EQ(S().serialNumber, serial);
}

using Check = ActuatorFixture;

TEST_F(Check, EndsReadyWithTheTiltReadBack) {
    LoadTable("M-100\t-25\t100\t0\t" + std::string(128, '0') + "\tWide_Range\n");
    device->SetState(Checking);
    device->StartCheck();
    EXPECT_TRUE(TakeSent().empty()) << "the check waits 2 s before it asks";
    Settle();
    EXPECT_EQ(One().code(), cmd::VersionRequest);

    Deliver(TextReply(cmd::VersionReply, 21, "01.23"));
    EXPECT_EQ(One().sub(), cmd::ReadModel);
    Deliver(Vendor(cmd::ReadModel, 0, {5, 'M', '-', '1', '0', '0'}));
    EXPECT_EQ(S().antennaModel, "Wide_Range");
    EXPECT_EQ(S().minTilt, -25);
    EXPECT_EQ(S().maxTilt, 100);
    EXPECT_EQ(slider.Range(), (std::pair<std::int32_t, std::int32_t>{-25, 100}));
    EXPECT_EQ(slider.Ticks().size(), 13u);
    EXPECT_EQ(models.Selected(), "Wide_Range");
    EXPECT_EQ(One().sub(), cmd::ReadAuxText);
    Deliver(Vendor(cmd::ReadAuxText, 0, {3, 'A', 'U', 'X'}));
    EXPECT_EQ(S().auxText, "AUX");

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
    EXPECT_TRUE(S().At(CheckStep::AwaitTilt));
    EXPECT_FALSE(TakesRequests(S())) << "not before the tilt is back";
    Deliver(TiltReply(0xFFE7));  // -2.5 degrees, two's complement
    EXPECT_EQ(S().currentTilt, -25);
    EXPECT_EQ(slider.Position(), -25);
    EXPECT_EQ(S().problemText, "");
    EXPECT_EQ(CTestEngine::LinesFor(S(), true).first, "READY");
    EXPECT_EQ(ActivityOf(S()), Activity::Ready);
}

// An unknown model's range is not known: the problem says so whatever the
// tilt, and no range is claimed.
TEST_F(Check, AnUnknownModelKeepsItsKeyAndClaimsNoRange) {
    device->SetState(Checking);
    device->SetStep(CheckStep::AwaitModel);
    Deliver(Vendor(cmd::ReadModel, 0, {20,  'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J',
                                       'K', 'L', 'M', 'N', 'O', 'P', 'Q', 'R', 'S', 'T'}));
    EXPECT_EQ(S().antennaModel, "ABCDEFGHIJKLMNOP") << "at most 16 characters";
    EXPECT_FALSE(S().modelKnown);
    device->SetStep(CheckStep::AwaitTilt);
    Deliver(TiltReply(40));
    EXPECT_EQ(S().currentTilt, 40) << "the tilt the actuator reports";
    EXPECT_EQ(slider.Position(), 0) << "the slider stays within its range";
    EXPECT_EQ(S().problemText, "NO RECOGNIZED ANTENNA MODEL?");
    EXPECT_EQ(
        CTestEngine::LinesFor(S(), true),
        (std::pair<std::string, std::string>{"POSSIBLE PROBLEM", "NO RECOGNIZED ANTENNA MODEL?"}));
    // Even at 0.0, which the old rule let pass as inside a range of 0..0.
    device->SetStep(CheckStep::AwaitTilt);
    Deliver(TiltReply(0));
    EXPECT_EQ(S().problemText, "NO RECOGNIZED ANTENNA MODEL?");
}

TEST_F(Check, AStatusRefusingAuxTextStopsTheCheckWhereItIs) {
    device->SetState(Checking);
    device->SetStep(CheckStep::AwaitAuxText);
    Deliver(Vendor(cmd::ReadAuxText, 2, {1, 'x'}));
    EXPECT_TRUE(TakeSent().empty());
    Deliver(Vendor(cmd::ReadAuxText, 0, {}));  // cut short: no count byte
    EXPECT_TRUE(TakeSent().empty());
    EXPECT_TRUE(S().At(CheckStep::AwaitAuxText));
}

using Tilt = ActuatorFixture;

// The record keeps the tilt the actuator reports, even outside the model's
// range (after a model change that narrowed it); the slider alone stays in
// range. The move's verdict is the final read-back against the target, and a
// problem is judged on where the move ended.
TEST_F(Tilt, TheFinalReadBackIsTheVerdict) {
    struct Case {
        const char* what;
        std::int32_t min, max, start, target;
        std::uint16_t raw;
        std::int32_t current;
        double progress;
        const char* problem;
        std::int32_t slider;
        Ending ending;
    } cases[] = {
        {"at the target", 0, 100, 20, 80, 80, 80, 100.0, "", 80, Ending::Done},
        {"stopped half way", 0, 100, 20, 80, 50, 50, 50.0, "", 50, Ending::Failed},
        {"overshoot within range", 0, 100, 20, 80, 85, 85, 108.0, "", 85, Ending::Failed},
        {"no move asked for", 0, 100, 30, 30, 30, 30, 100.0, "", 30, Ending::Done},
        {"negative tilt of a model that allows it", -25, 100, 0, -25, 0xFFE7, -25, 100.0, "",
         -25, Ending::Done},
        {"above the maximum", 0, 100, 0, 100, 0x0100, 256, 100.0, "TILT OUTSIDE MODEL RANGE",
         100, Ending::Failed},
        {"0xFFFF is -0.1, below the minimum", 0, 100, 50, 0, 0xFFFF, -1, 100.0,
         "TILT OUTSIDE MODEL RANGE", 0, Ending::Failed},
        {"range 2.0..10.0, moved from 0.0 into it", 20, 100, 0, 50, 50, 50, 100.0, "", 50,
         Ending::Done},
    };
    for (const auto& c : cases) {
        Edit([&](DeviceSnapshot& r) {
            r.minTilt = c.min;
            r.maxTilt = c.max;
            r.modelKnown = true;
            r.currentTilt = c.start;
            r.requestedTilt = c.target;
        });
        slider.SetRange(c.min, c.max);
        device->SetState(Moving);
        device->StartSetTilt();
        TakeSent();
        device->SetStep(MoveStep::AwaitMoveEnd);
        Deliver(TiltReply(0));  // passing through 0.0 while moving judges nothing
        EXPECT_EQ(S().problemText, "") << c.what;
        device->SetStep(MoveStep::AwaitFinalTilt);  // which also moves the slider
        Deliver(TiltReply(c.raw));
        EXPECT_EQ(S().currentTilt, c.current) << c.what;
        EXPECT_DOUBLE_EQ(S().progress, c.progress) << c.what;
        EXPECT_EQ(S().problemText, c.problem) << c.what;
        EXPECT_EQ(S().state, Checking) << c.what << ": the move ended";
        EXPECT_EQ(slider.Position(), c.slider) << c.what;
        EXPECT_EQ(S().outcome.operation, Operation::Move) << c.what;
        EXPECT_EQ(S().outcome.ending, c.ending) << c.what << ": " << S().outcome.reason;
        EXPECT_EQ(ActivityOf(S()), Activity::Ready) << c.what;
    }
}

TEST_F(Tilt, SetTiltRunsItsStepsAndEndsReady) {
    Edit([&](DeviceSnapshot& r) {
        r.minTilt = 0;
        r.maxTilt = 120;
        r.modelKnown = true;
    });
    Post(MsgSetTilt, 65);
    EXPECT_EQ(S().state, Moving);
    EXPECT_EQ(ActivityOf(S()), Activity::Moving);
    EXPECT_EQ(S().outcome, (Outcome{Operation::Move, Ending::None, ""})) << "under way";
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
    // While moving the tilt is asked for about every 550 ms, and only then.
    std::vector<Sent> polls;
    for (int poll = 0; poll < 2; ++poll) {
        const auto due = device->NextIdleWork();
        ASSERT_TRUE(due);
        clock.Set(*due - 1);
        device->IdleWork(clock.TickCount());
        EXPECT_TRUE(TakeSent().empty()) << "not before its time";
        clock.Set(*due);
        device->IdleWork(clock.TickCount());
        EXPECT_EQ(device->NextIdleWork(), clock.TickCount() + 550);
        for (auto& sent : TakeSent())
            polls.push_back(sent);
    }
    // The move gets 50 s.
    clock.Advance(49000 - 1100);
    EXPECT_FALSE(Overdue());
    ASSERT_EQ(polls.size(), 2u);
    EXPECT_EQ(polls[0].code(), cmd::GetTiltRequest);
    Deliver(TiltReply(40));
    EXPECT_EQ(S().currentTilt, 40);

    Deliver(Reply(cmd::SetTiltDone));
    EXPECT_EQ(One().code(), cmd::PollRequest);
    Deliver(Reply(cmd::PollReply));
    EXPECT_EQ(One().code(), cmd::GetTiltRequest);
    Deliver(TiltReply(65));
    EXPECT_EQ(S().state, Checking);
    EXPECT_TRUE(S().CheckComplete());
    EXPECT_EQ(S().outcome, (Outcome{Operation::Move, Ending::Done, ""}));
    EXPECT_EQ(slider.Position(), 65);
    EXPECT_EQ(CTestEngine::LinesFor(S(), true).first, "READY");
}

TEST_F(Tilt, ARefusedMoveIsReportedAndTheSliderStopsFollowing) {
    Edit([&](DeviceSnapshot& r) {
        r.maxTilt = 100;
        r.modelKnown = true;
        r.requestedTilt = 60;
    });
    device->SetState(Moving);
    device->StartSetTilt();
    TakeSent();
    slider.SetPosition(77);
    device->SetStep(MoveStep::AwaitMoveEnd);
    Deliver(Reply(cmd::SetTiltRefused));
    EXPECT_EQ(One().code(), cmd::PollRequest);
    Deliver(Reply(cmd::PollReply));
    TakeSent();
    Deliver(TiltReply(30));
    EXPECT_EQ(S().state, Checking);
    EXPECT_EQ(slider.Position(), 77);
    EXPECT_EQ(CTestEngine::LinesFor(S(), true),
              (std::pair<std::string, std::string>{"POSSIBLE PROBLEM", "SET TILT FAILED"}));
    EXPECT_EQ(S().outcome.ending, Ending::Failed);
    EXPECT_NE(S().outcome.reason.find("refused"), std::string::npos) << S().outcome.reason;
}

// A tilt that cannot be read at the end ends the move (it used to wait for
// the watchdog's "FAIL (C)"), failed: where the actuator stands is not known.
TEST_F(Tilt, AFailedFinalReadEndsTheMoveFailed) {
    Edit([&](DeviceSnapshot& r) {
        r.maxTilt = 100;
        r.modelKnown = true;
        r.requestedTilt = 60;
    });
    device->SetState(Moving);
    device->StartSetTilt();
    TakeSent();
    device->SetStep(MoveStep::AwaitFinalTilt);
    Deliver(Reply(cmd::GetTiltFailed));
    EXPECT_EQ(S().problemText, "GET TILT FAILED");
    EXPECT_EQ(S().state, Checking);
    EXPECT_EQ(S().outcome.ending, Ending::Failed);
    clock.Advance(LongReplyTimeoutMs + 1);
    EXPECT_FALSE(device->FailIfReplyOverdue()) << "nothing is awaited any more";
}

// What a front end reports at the end of the check comes from one snapshot:
// ready with the tilt back, and the lines of that same moment. A reader that
// looks while the read-back lands must never see the check ready without the
// problem the read-back brings (it once reported READY beside "NO RECOGNIZED
// ANTENNA MODEL?").
TEST_F(Check, EveryReadySnapshotCarriesItsOwnOutcome) {
    struct Case {
        const char* what;
        bool knownModel;
        std::function<CommandBufferPtr()> reply;
        Lines lines;
    } cases[] = {
        {"known model, tilt in range", true, [] { return TiltReply(40); }, {"READY", ""}},
        {"unknown model",
         false,
         [] { return TiltReply(40); },
         {"POSSIBLE PROBLEM", "NO RECOGNIZED ANTENNA MODEL?"}},
        {"known model, tilt read refused",
         true,
         [] { return Reply(cmd::GetTiltFailed); },
         {"POSSIBLE PROBLEM", "GET TILT FAILED"}},
    };
    LoadTable("M-100\t0\t100\t0\t" + std::string(128, '0') + "\tWide_Range\n");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Edit([](DeviceSnapshot& r) {
            r.minTilt = 0;
            r.maxTilt = 0;
            r.modelKnown = false;
        });
        device->SetState(Checking);
        device->StartCheck();
        Settle();
        if (c.knownModel) device->SelectModelByKey("M-100");
        device->SetStep(CheckStep::AwaitPoll4);
        Deliver(Reply(cmd::PollReply));
        ASSERT_TRUE(S().At(CheckStep::AwaitTilt));
        ASSERT_FALSE(TakesRequests(S())) << "not before the tilt is back";
        TakeSent();

        std::atomic<bool> done{false};
        std::atomic<int> inconsistent{0};
        std::thread reader([&] {
            while (!done.load()) {
                const DeviceSnapshot seen = device->Snapshot();
                if (TakesRequests(seen) && CTestEngine::LinesFor(seen, true) != c.lines)
                    ++inconsistent;
            }
        });
        Deliver(c.reply());
        done.store(true);
        reader.join();
        EXPECT_EQ(inconsistent.load(), 0);
        EXPECT_TRUE(TakesRequests(S()));
        EXPECT_EQ(CTestEngine::LinesFor(S(), true), c.lines);
    }
}
