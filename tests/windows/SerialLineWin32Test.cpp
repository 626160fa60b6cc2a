// The Win32 serial line against a real COM port: under Wine, a port mapped to
// the pseudo-terminal of a simulated actuator running on Linux, named by
// KVQ_TEST_SIM_PORT (scripts/test-windows.sh sets it up). Without it the
// tests that need the port are skipped.

#include <windows.h>

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "hdlc/FrameCodec.h"
#include "serial/SerialLineWin32.h"

using namespace kvq::serial;
namespace hdlc = kvq::hdlc;

namespace {

using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

std::string SimPort() {
    const char* port = std::getenv("KVQ_TEST_SIM_PORT");
    return port ? port : "";
}

#define REQUIRE_SIM_PORT()                                                   \
    if (SimPort().empty()) GTEST_SKIP() << "KVQ_TEST_SIM_PORT is not set"

std::vector<std::uint8_t> Encoded(std::vector<std::uint8_t> body) {
    hdlc::FrameBytes bytes;
    hdlc::EncodeFrame(body, bytes);
    return {bytes.data(), bytes.data() + bytes.size()};
}

// SNRM to the actuator's address, and the UA it answers.
const std::vector<std::uint8_t> Snrm = Encoded({0x14, 0x93});
const std::vector<std::uint8_t> Ua = Encoded({0x14, 0x73});

// Collects what comes within the time, each Read after a Wait.
std::vector<std::uint8_t> ReadFor(SerialLine& line, std::size_t wanted, milliseconds time) {
    std::vector<std::uint8_t> got;
    const auto end = Clock::now() + time;
    while (got.size() < wanted && Clock::now() < end) {
        line.Wait(std::chrono::duration_cast<std::chrono::microseconds>(end - Clock::now()), true);
        std::uint8_t buffer[64];
        for (std::size_t n; (n = line.Read(buffer)) > 0;)
            got.insert(got.end(), buffer, buffer + n);
    }
    return got;
}

TEST(SerialLineWin32Test, AFrameGoesOutWholeAndTheAnswerWakesTheWait) {
    REQUIRE_SIM_PORT();
    SerialLineWin32 line;
    ASSERT_EQ(line.Open(SimPort(), 115200), OpenOutcome::Opened) << line.LastOpenError();
    EXPECT_EQ(line.IsOpen.load(), 1);
    EXPECT_EQ(line.BaudRate(), 115200);
    for (int round = 0; round < 3; ++round) {
        line.ReceivedSinceAsked = 0;
        line.Write(Snrm);
        EXPECT_EQ(ReadFor(line, Ua.size(), milliseconds(1000)), Ua) << "round " << round;
        EXPECT_EQ(line.ReceivedSinceAsked.load(), 1);
    }
    // An answer that came is dropped by Discard.
    line.Write(Snrm);
    std::this_thread::sleep_for(milliseconds(100));
    line.Discard();
    std::uint8_t buffer[64];
    EXPECT_EQ(line.Read(buffer), 0u);
    line.Close();
    EXPECT_EQ(line.IsOpen.load(), 0);
    EXPECT_EQ(line.Read(buffer), 0u);
}

TEST(SerialLineWin32Test, WaitEndsAtItsDeadlineOrOnAWake) {
    REQUIRE_SIM_PORT();
    SerialLineWin32 line;
    ASSERT_EQ(line.Open(SimPort(), 115200), OpenOutcome::Opened);

    auto start = Clock::now();
    EXPECT_EQ(line.Wait(milliseconds(30), true), LineEvent::TimedOut);
    auto took = Clock::now() - start;
    EXPECT_GE(took, milliseconds(29));
    EXPECT_LT(took, milliseconds(1000));

    // A wake from another thread ends a long wait.
    std::thread waker([&line] {
        std::this_thread::sleep_for(milliseconds(50));
        line.Wake();
    });
    start = Clock::now();
    EXPECT_EQ(line.Wait(std::chrono::seconds(10), true), LineEvent::WokenUp);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    waker.join();

    // A wake that came first ends the next wait at once, and only that one.
    line.Wake();
    EXPECT_EQ(line.Wait(std::chrono::seconds(10), false), LineEvent::WokenUp);
    EXPECT_EQ(line.Wait(milliseconds(20), true), LineEvent::TimedOut);
}

TEST(SerialLineWin32Test, APortHeldIsBusyAndTheHolderKeepsIt) {
    REQUIRE_SIM_PORT();
    SerialLineWin32 holder;
    ASSERT_EQ(holder.Open(SimPort(), 115200), OpenOutcome::Opened);
    SerialLineWin32 second;
    EXPECT_EQ(second.Open(SimPort(), 115200), OpenOutcome::Failed);
    EXPECT_EQ(second.IsOpen.load(), 0);
    EXPECT_EQ(second.LastOpenFailure(), OpenFailure::Busy) << second.LastOpenError();
    EXPECT_NE(DescribeOpenFailure(second.LastOpenFailure(), SimPort(), second.LastOpenError())
                  .find("another program is using it"),
              std::string::npos);
    // The refused open did not disturb the holder.
    holder.Write(Snrm);
    EXPECT_EQ(ReadFor(holder, Ua.size(), milliseconds(1000)), Ua);
    holder.Close();
    EXPECT_EQ(second.Open(SimPort(), 115200), OpenOutcome::Opened);
}

TEST(SerialLineWin32Test, TheSettingsFoundAtOpenAreBackAfterClose) {
    REQUIRE_SIM_PORT();
    const std::string device = "\\\\.\\" + SimPort();
    const auto withState = [&](auto&& use) {
        HANDLE port = ::CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(port, INVALID_HANDLE_VALUE) << ::GetLastError();
        DCB state{};
        state.DCBlength = sizeof state;
        ASSERT_TRUE(::GetCommState(port, &state));
        use(port, state);
        ::CloseHandle(port);
    };
    // Another program left the port at 9600 baud with hardware flow control.
    DCB original{};
    withState([&](HANDLE port, DCB& state) {
        original = state;
        state.BaudRate = 9600;
        state.fOutxCtsFlow = 1;
        state.fRtsControl = RTS_CONTROL_HANDSHAKE;
        ASSERT_TRUE(::SetCommState(port, &state));
    });
    {
        SerialLineWin32 line;
        ASSERT_EQ(line.Open(SimPort(), 115200), OpenOutcome::Opened);
        withState([](HANDLE, DCB&) {});  // while we hold it nobody else gets in
    }
    withState([&](HANDLE port, DCB& state) {
        EXPECT_EQ(state.BaudRate, 9600u);
        EXPECT_EQ(state.fOutxCtsFlow, 1u);
        ::SetCommState(port, &original);
    });
}

TEST(SerialLineWin32Test, OpenFailuresSayWhy) {
    struct Case {
        const char* name;
        OpenOutcome outcome;
        OpenFailure failure;
    };
    const Case cases[] = {
        {"COM77", OpenOutcome::Failed, OpenFailure::NoSuchDevice},
        {"\\\\.\\COM78", OpenOutcome::Failed, OpenFailure::NoSuchDevice},
        {"LPT-X", OpenOutcome::Failed, OpenFailure::NoSuchDevice},
        {"", OpenOutcome::Failed, OpenFailure::NoSuchDevice},
        {"USB", OpenOutcome::NotTried, OpenFailure::None},
    };
    for (const Case& c : cases) {
        SerialLineWin32 line;
        EXPECT_EQ(line.Open(c.name, 115200), c.outcome) << c.name;
        EXPECT_EQ(line.LastOpenFailure(), c.failure) << c.name;
        EXPECT_EQ(line.IsOpen.load(), 0) << c.name;
        // Everything is harmless on a line that is not open.
        line.Write(Snrm);
        line.Discard();
        std::uint8_t buffer[8];
        EXPECT_EQ(line.Read(buffer), 0u);
        EXPECT_EQ(line.Wait(milliseconds(1), true), LineEvent::TimedOut);
        line.Close();
    }
    EXPECT_EQ(DescribeOpenFailure(OpenFailure::NoSuchDevice, "COM77"),
              "Cannot open serial port COM77: the port does not exist or is not connected.");
}

}  // namespace
