#include <dirent.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <functional>
#include <numeric>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "SerialTestSupport.h"
#include "serial/SerialLinePosix.h"

using namespace kvq::serial;
using namespace kvq::testing;

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

Bytes Pattern(std::size_t count, std::uint8_t first = 0) {
    Bytes bytes(count);
    std::iota(bytes.begin(), bytes.end(), first);
    return bytes;
}

int OpenDescriptorCount() {
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir) != nullptr) {
            ++count;
        }
        ::closedir(dir);
    }
    return count;
}

// Everything the port must change, switched the wrong way, so the test sees
// the port clear it rather than find it cleared already.
termios Untidy(termios settings) {
    settings.c_iflag |= BRKINT | ICRNL | IXON | IXOFF | IXANY | INPCK | ISTRIP | INLCR | PARMRK;
    settings.c_oflag |= OPOST;
    settings.c_lflag |= ECHO | ECHONL | ICANON | ISIG | IEXTEN;
    settings.c_cflag &= ~static_cast<tcflag_t>(CSIZE | CLOCAL);
    settings.c_cflag |= CS7 | PARENB | CSTOPB | CRTSCTS;
    settings.c_cc[VMIN] = 1;
    settings.c_cc[VTIME] = 5;
    cfsetispeed(&settings, B4800);
    cfsetospeed(&settings, B4800);
    return settings;
}

void ExpectSameSettings(const termios& actual, const termios& expected) {
    EXPECT_EQ(actual.c_iflag, expected.c_iflag);
    EXPECT_EQ(actual.c_oflag, expected.c_oflag);
    EXPECT_EQ(actual.c_cflag, expected.c_cflag);
    EXPECT_EQ(actual.c_lflag, expected.c_lflag);
    EXPECT_EQ(actual.c_cc[VMIN], expected.c_cc[VMIN]);
    EXPECT_EQ(actual.c_cc[VTIME], expected.c_cc[VTIME]);
    EXPECT_EQ(cfgetispeed(&actual), cfgetispeed(&expected));
    EXPECT_EQ(cfgetospeed(&actual), cfgetospeed(&expected));
}

class SerialPortTest : public ::testing::Test {
protected:
    void OpenPort(std::int32_t baudRate = 115200) {
        ASSERT_EQ(port_.Open(pty_.SlavePath(), baudRate), OpenOutcome::Opened);
        ASSERT_EQ(port_.IsOpen.load(), 1) << DescribeOpenFailure(
            port_.LastOpenFailure(), pty_.SlavePath(), port_.LastOpenError());
    }
    // Answers the settings as the slave took them (a pseudo-terminal keeps
    // CS8 and no parity whatever it is told).
    termios UntidySlave() {
        pty_.SetSlaveSettings(Untidy(pty_.SlaveSettings()));
        const termios taken = pty_.SlaveSettings();
        EXPECT_NE(taken.c_lflag & ICANON, 0u);
        EXPECT_EQ(cfgetospeed(&taken), static_cast<speed_t>(B4800));
        return taken;
    }
    void Send(const Bytes& bytes) { port_.Write(bytes); }
    // What the port has, waiting up to `wait` for the first of it.
    Bytes Receive(std::chrono::milliseconds wait = 200ms) {
        Bytes got;
        if (port_.Wait(wait, true) != LineEvent::Input) return got;
        std::this_thread::sleep_for(5ms);  // the rest of what was written together
        std::uint8_t chunk[256];
        for (std::size_t n; (n = port_.Read(chunk)) > 0;)
            got.insert(got.end(), chunk, chunk + n);
        return got;
    }

    ScopedPortMap noPortMap_{std::nullopt};
    PseudoTerminal pty_;
    SerialLinePosix port_;
};

// ---- configuration -------------------------------------------------------

struct SpeedCase {
    std::int32_t requested;
    speed_t expectedSpeed;
    std::int32_t expectedRate;
    friend void PrintTo(const SpeedCase& c, std::ostream* os) { *os << c.requested; }
};

class SerialPortSettingsTest : public SerialPortTest,
                               public ::testing::WithParamInterface<SpeedCase> {};

TEST_P(SerialPortSettingsTest, OpenConfiguresRaw8N1WithoutFlowControl) {
    UntidySlave();
    OpenPort(GetParam().requested);

    EXPECT_EQ(port_.LastOpenFailure(), OpenFailure::None);
    EXPECT_EQ(port_.BaudRate(), GetParam().expectedRate);

    const termios s = pty_.SlaveSettings();
    EXPECT_EQ(cfgetispeed(&s), GetParam().expectedSpeed);
    EXPECT_EQ(cfgetospeed(&s), GetParam().expectedSpeed);
    EXPECT_EQ(s.c_cflag & CSIZE, static_cast<tcflag_t>(CS8));
    EXPECT_EQ(s.c_cflag & (PARENB | CSTOPB | CRTSCTS), 0u);
    EXPECT_EQ(s.c_cflag & (CREAD | CLOCAL), static_cast<tcflag_t>(CREAD | CLOCAL));
    EXPECT_EQ(s.c_iflag & (IGNBRK | BRKINT | PARMRK | ISTRIP | INLCR | IGNCR | ICRNL | IXON |
                           IXOFF | IXANY | INPCK),
              0u);
    EXPECT_EQ(s.c_oflag & OPOST, 0u);
    EXPECT_EQ(s.c_lflag & (ECHO | ECHONL | ICANON | ISIG | IEXTEN), 0u);
    EXPECT_EQ(s.c_cc[VMIN], 0);
    EXPECT_EQ(s.c_cc[VTIME], 0);
}

INSTANTIATE_TEST_SUITE_P(Rates, SerialPortSettingsTest,
                         ::testing::Values(SpeedCase{9600, B9600, 9600},
                                           SpeedCase{115200, B115200, 115200},
                                           SpeedCase{57600, B115200, 115200},
                                           SpeedCase{0, B115200, 115200}),
                         [](const auto& param) { return std::to_string(param.param.requested); });

TEST_F(SerialPortTest, CloseRestoresSettingsAndReleasesExclusivity) {
    const termios before = UntidySlave();
    OpenPort();
    EXPECT_EQ(pty_.SlaveExclusive(), 1);

    port_.Close();
    EXPECT_EQ(port_.IsOpen.load(), 0);
    EXPECT_EQ(pty_.SlaveExclusive(), 0);
    ExpectSameSettings(pty_.SlaveSettings(), before);

    // Without the flag cleared a user without privileges could not get back in.
    const int again = ::open(pty_.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    EXPECT_GE(again, 0) << "reopen failed, errno " << errno;
    ::close(again);
}

TEST_F(SerialPortTest, DestructorClosesAPortStillOpen) {
    const termios before = pty_.SlaveSettings();
    const int descriptors = OpenDescriptorCount();
    {
        SerialLinePosix other;
        other.Open(pty_.SlavePath(), 9600);
        ASSERT_EQ(other.IsOpen.load(), 1);
    }
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
    EXPECT_EQ(pty_.SlaveExclusive(), 0);
    ExpectSameSettings(pty_.SlaveSettings(), before);
}

TEST_F(SerialPortTest, OpenOnAnOpenPortClosesTheFirstDevice) {
    PseudoTerminal second;
    const termios before = UntidySlave();
    const int descriptors = OpenDescriptorCount();
    OpenPort();

    port_.Open(second.SlavePath(), 115200);
    EXPECT_EQ(port_.IsOpen.load(), 1);
    EXPECT_EQ(second.SlaveExclusive(), 1);
    EXPECT_EQ(pty_.SlaveExclusive(), 0);
    ExpectSameSettings(pty_.SlaveSettings(), before);

    port_.Close();
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
}

// ---- exclusive access ------------------------------------------------------

TEST_F(SerialPortTest, SecondOpenOfAHeldPortIsBusyUntilTheFirstCloses) {
    OpenPort();
    SerialLinePosix second;

    EXPECT_EQ(second.Open(pty_.SlavePath(), 115200), OpenOutcome::Failed);
    EXPECT_EQ(second.IsOpen.load(), 0);
    EXPECT_EQ(second.LastOpenFailure(), OpenFailure::Busy);
    // The refused open must leave the holder's exclusive flag and line alone.
    EXPECT_EQ(pty_.SlaveExclusive(), 1);
    pty_.Write({0x5A});
    EXPECT_EQ(Receive(), (Bytes{0x5A}));

    port_.Close();
    EXPECT_EQ(second.Open(pty_.SlavePath(), 115200), OpenOutcome::Opened);
    EXPECT_EQ(second.IsOpen.load(), 1);
    EXPECT_EQ(second.LastOpenFailure(), OpenFailure::None);
}

// ---- names and failures ------------------------------------------------------

TEST_F(SerialPortTest, UsbOpensNothingAndKeepsTheLastOutcome) {
    const int descriptors = OpenDescriptorCount();
    port_.Open("/dev/kvq-no-such-device", 115200);
    EXPECT_EQ(port_.Open("USB", 115200), OpenOutcome::NotTried);
    EXPECT_EQ(port_.IsOpen.load(), 0);
    EXPECT_EQ(port_.LastOpenFailure(), OpenFailure::NoSuchDevice);
    EXPECT_EQ(OpenDescriptorCount(), descriptors);

    // On an open port it still leaves the port closed, not leaked.
    OpenPort();
    EXPECT_EQ(port_.Open("USB", 115200), OpenOutcome::NotTried);
    EXPECT_EQ(port_.IsOpen.load(), 0);
    EXPECT_EQ(port_.LastOpenFailure(), OpenFailure::None);
    EXPECT_EQ(pty_.SlaveExclusive(), 0);
    EXPECT_EQ(OpenDescriptorCount(), descriptors);
}

struct FailureCase {
    const char* label;
    const char* name;
    OpenFailure failure;
    int error;  // -1: not checked
    friend void PrintTo(const FailureCase& c, std::ostream* os) { *os << '"' << c.name << '"'; }
};

class SerialPortFailureTest : public SerialPortTest,
                              public ::testing::WithParamInterface<FailureCase> {};

TEST_P(SerialPortFailureTest, FailedOpenKeepsItsReasonAndTheNextGoodOpenClearsIt) {
    const FailureCase& c = GetParam();
    const int descriptors = OpenDescriptorCount();

    EXPECT_EQ(port_.Open(c.name, 115200), OpenOutcome::Failed);
    EXPECT_EQ(port_.IsOpen.load(), 0);
    EXPECT_EQ(port_.LastOpenFailure(), c.failure);
    if (c.error >= 0) {
        EXPECT_EQ(port_.LastOpenError(), c.error);
    }
    EXPECT_EQ(OpenDescriptorCount(), descriptors);

    OpenPort();
    EXPECT_EQ(port_.LastOpenFailure(), OpenFailure::None);
    EXPECT_EQ(port_.LastOpenError(), 0);
}

INSTANTIATE_TEST_SUITE_P(
    Names, SerialPortFailureTest,
    ::testing::Values(FailureCase{"MissingDevice", "/dev/kvq-no-such-device",
                                  OpenFailure::NoSuchDevice, ENOENT},
                      FailureCase{"UnmappedComName", "COM7", OpenFailure::NoSuchDevice, -1},
                      FailureCase{"LowerCaseUsb", "usb", OpenFailure::NoSuchDevice, -1},
                      FailureCase{"EmptyName", "", OpenFailure::NoSuchDevice, -1},
                      FailureCase{"NotATerminal", "/dev/null", OpenFailure::NotASerialPort, ENOTTY},
                      FailureCase{"Directory", "/", OpenFailure::Other, EISDIR}),
    [](const auto& param) { return std::string(param.param.label); });

TEST_F(SerialPortTest, ComNameOpensTheMappedDevice) {
    ScopedPortMap map("COM3=" + pty_.SlavePath());
    port_.Open("COM3", 9600);
    EXPECT_EQ(port_.IsOpen.load(), 1);
    EXPECT_EQ(pty_.SlaveExclusive(), 1);
    const termios s = pty_.SlaveSettings();
    EXPECT_EQ(cfgetospeed(&s), static_cast<speed_t>(B9600));
}

TEST_F(SerialPortTest, UnreadableDeviceIsPermissionDenied) {
    ASSERT_EQ(::chmod(pty_.SlavePath().c_str(), 0), 0);
    const int probe = ::open(pty_.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
    if (probe >= 0) {
        ::close(probe);
        GTEST_SKIP() << "this user ignores file modes (root); the unprivileged run "
                        "(serial_tests_unprivileged) covers permission denied";
    }
    EXPECT_EQ(port_.Open(pty_.SlavePath(), 115200), OpenOutcome::Failed);
    EXPECT_EQ(port_.IsOpen.load(), 0);
    EXPECT_EQ(port_.LastOpenFailure(), OpenFailure::PermissionDenied);
    EXPECT_EQ(port_.LastOpenError(), EACCES);
}

// ---- waiting and reading ------------------------------------------------------

TEST_F(SerialPortTest, WaitEndsAtItsTimeOnASilentLine) {
    OpenPort();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port_.Wait(20ms, true), LineEvent::TimedOut);
    const auto took = std::chrono::steady_clock::now() - start;
    EXPECT_GE(took, 19ms);
    EXPECT_LT(took, 60ms);
    std::uint8_t chunk[8];
    EXPECT_EQ(port_.Read(chunk), 0u);
    EXPECT_EQ(port_.ReceivedSinceAsked.load(), 0);
}

TEST_F(SerialPortTest, ReadGivesTheBytesInOrderUntranslatedAndRaisesReceivedSinceAsked) {
    OpenPort();
    pty_.Write({0x7E, 0x0A, 0x0D, 0x11, 0x13});  // line ends and XON/XOFF pass as they are
    EXPECT_EQ(Receive(), (Bytes{0x7E, 0x0A, 0x0D, 0x11, 0x13}));
    EXPECT_EQ(port_.ReceivedSinceAsked.load(), 1);
    std::uint8_t chunk[8];
    EXPECT_EQ(port_.Read(chunk), 0u);
}

// What ends a wait: input (when watched), a wake-up from another thread or one
// given before the wait, or the time.
TEST_F(SerialPortTest, WaitEndsOnInputOrAWakeUp) {
    OpenPort();
    struct Case {
        const char* what;
        std::function<void()> before;
        std::function<void()> during;
        bool watchInput;
        LineEvent expected;
    } cases[] = {
        {"input arriving", {}, [&] { pty_.Write({0x33}); }, true, LineEvent::Input},
        {"a wake from another thread", {}, [&] { port_.Wake(); }, true, LineEvent::WokenUp},
        {"a wake given before", [&] { port_.Wake(); }, {}, true, LineEvent::WokenUp},
        {"input while only the wake counts",
         {},
         [&] { pty_.Write({0x44}); },
         false,
         LineEvent::TimedOut},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        if (c.before) c.before();
        std::thread other([&] {
            std::this_thread::sleep_for(5ms);
            if (c.during) c.during();
        });
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(port_.Wait(c.expected == LineEvent::TimedOut ? 60ms : 2000ms, c.watchInput),
                  c.expected);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1000ms);
        other.join();
        port_.Discard();
        EXPECT_EQ(port_.Wait(0ms, true), LineEvent::TimedOut) << "the wake is used up";
    }
}

TEST_F(SerialPortTest, HungUpLineNeitherSpinsNorHangs) {
    OpenPort();
    pty_.CloseMaster();

    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(port_.Wait(30ms, true), LineEvent::TimedOut) << "a hang-up is no input";
    EXPECT_GE(std::chrono::steady_clock::now() - start, 25ms);
    std::uint8_t chunk[8];
    EXPECT_EQ(port_.Read(chunk), 0u);

    Send(Pattern(10));  // must come back, not hang
    port_.Close();
    EXPECT_EQ(port_.IsOpen.load(), 0);
}

// ---- writing -----------------------------------------------------------------

TEST_F(SerialPortTest, FrameGoesOutWholeAndOnlyOnce) {
    OpenPort();
    const Bytes frame = Pattern(300, 0x70);  // includes 0x0A and 0x0D on the way
    Send(frame);
    EXPECT_EQ(pty_.Read(frame.size(), 500ms), frame);
    EXPECT_TRUE(pty_.Read(1, 30ms).empty());
}

// Fills the line as far as the kernel takes it, from the far side of the port.
std::size_t FillLine(int fd) {
    const Bytes filler(4096, 0xEE);
    std::size_t total = 0;
    for (;;) {
        const ssize_t written = ::write(fd, filler.data(), filler.size());
        if (written <= 0) {
            return total;
        }
        total += static_cast<std::size_t>(written);
    }
}

TEST_F(SerialPortTest, FrameTheDriverCannotTakeAtOnceIsFinishedOnceThereIsRoom) {
    OpenPort();
    const std::size_t filled = FillLine(pty_.Slave());
    ASSERT_GT(filled, 0u);

    const Bytes frame = Pattern(256);
    Bytes received;
    std::thread reader([&] {
        std::this_thread::sleep_for(20ms);
        received = pty_.Read(filled + frame.size(), 1000ms);
    });
    Send(frame);
    reader.join();

    ASSERT_EQ(received.size(), filled + frame.size());
    EXPECT_EQ(Bytes(received.end() - static_cast<std::ptrdiff_t>(frame.size()), received.end()),
              frame);
    EXPECT_TRUE(pty_.Read(1, 30ms).empty());
}

TEST_F(SerialPortTest, SendOnAStuckLineGivesUp) {
    OpenPort();
    ASSERT_GT(FillLine(pty_.Slave()), 0u);
    const auto start = std::chrono::steady_clock::now();
    Send(Pattern(256));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 500ms);
}

// ---- closed port ---------------------------------------------------------------

TEST_F(SerialPortTest, OperationsOnAClosedPortDoNothing) {
    port_.Close();
    std::uint8_t chunk[8];
    EXPECT_EQ(port_.Read(chunk), 0u);
    EXPECT_EQ(port_.ReceivedSinceAsked.load(), 0);
    EXPECT_EQ(port_.Wait(10ms, true), LineEvent::TimedOut);

    OpenPort();
    Send({1, 2, 3});
    ASSERT_EQ(pty_.Read(3, 200ms), (Bytes{1, 2, 3}));
    port_.Close();
    // The settings put back at close echo, which would send a byte back.
    termios raw = pty_.SlaveSettings();
    cfmakeraw(&raw);
    pty_.SetSlaveSettings(raw);
    Send({9, 9});
    EXPECT_TRUE(pty_.Read(1, 50ms).empty());
    pty_.Write({0x44});
    EXPECT_EQ(port_.Read(chunk), 0u);
    EXPECT_EQ(port_.ReceivedSinceAsked.load(), 0);
    port_.Discard();

    // What came while closed is not read after the next open.
    OpenPort();
    EXPECT_TRUE(Receive(30ms).empty());
}

// ---- flags read from other threads ------------------------------------------------

TEST_F(SerialPortTest, FlagsCanBeReadWhileTheLinkThreadWorks) {
    std::atomic<bool> done{false};
    std::atomic<int> seenReceived{0};
    std::thread watcher([&] {
        while (!done) {
            if (port_.ReceivedSinceAsked.exchange(0) != 0) {
                ++seenReceived;
            }
            (void)port_.IsOpen.load();
            (void)port_.LastOpenFailure();
            (void)port_.BaudRate();
            port_.Wake();
        }
    });
    for (int round = 0; round < 5; ++round) {
        OpenPort(round % 2 == 0 ? 9600 : 115200);
        pty_.Write({static_cast<std::uint8_t>(round)});
        std::uint8_t chunk[8];
        std::size_t got = 0;
        for (int i = 0; i < 100 && got == 0; ++i) {
            port_.Wait(20ms, true);
            got = port_.Read(chunk);
        }
        EXPECT_EQ(got, 1u);
        port_.Close();
        port_.Open("/dev/kvq-no-such-device", 115200);
    }
    done = true;
    watcher.join();
    EXPECT_GT(seenReceived + port_.ReceivedSinceAsked.load(), 0);
}

// ---- messages ---------------------------------------------------------------------

struct DescriptionCase {
    const char* what;
    OpenFailure failure;
    int error;
    OpenFailureFacts facts;
    const char* mustSay;
    const char* mustNotSay;
};

// What the user is told to do: the holder of a busy port when known, the group
// to join only when joining it would help.
TEST(DescribeOpenFailureTest, NamesThePortTheReasonAndWhatHelps) {
    ScopedPortMap map(std::string("COM1=/dev/ttyUSB0"));
    const DescriptionCase cases[] = {
        {"missing", OpenFailure::NoSuchDevice, ENOENT, {}, "does not exist", "permission"},
        {"busy, holder unknown", OpenFailure::Busy, EBUSY, {},
         "another program is using it. Close that program", "process"},
        {"busy, holder known", OpenFailure::Busy, EBUSY, {"minicom (process 4711)", "", false, false},
         "another program is using it (minicom (process 4711)). Close that program", ""},
        {"denied, joining helps", OpenFailure::PermissionDenied, EACCES,
         {"", "dialout", true, false},
         "Add your user to the dialout group (sudo usermod -aG dialout $USER) and log in again.",
         ""},
        {"denied, other group", OpenFailure::PermissionDenied, EACCES, {"", "uucp", true, false},
         "Add your user to the uucp group", "dialout"},
        {"denied, already a member", OpenFailure::PermissionDenied, EACCES,
         {"", "dialout", false, true}, "log out and in again", "usermod"},
        {"denied, no group would help", OpenFailure::PermissionDenied, EACCES,
         {"", "root", false, false}, "Ask the administrator", "usermod"},
        {"not a terminal", OpenFailure::NotASerialPort, ENOTTY, {}, "not a serial port", ""},
        {"other", OpenFailure::Other, EIO, {}, "error 5", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string text = DescribeOpenFailure(c.failure, "COM1", c.error, c.facts);
        EXPECT_NE(text.find("Cannot open serial port COM1 (/dev/ttyUSB0): "), std::string::npos)
            << text;
        EXPECT_NE(text.find(c.mustSay), std::string::npos) << text;
        if (c.mustNotSay[0] != '\0') {
            EXPECT_EQ(text.find(c.mustNotSay), std::string::npos) << text;
        }
    }
    const std::string unmapped = DescribeOpenFailure(OpenFailure::Busy, "COM2", EBUSY);
    EXPECT_NE(unmapped.find("serial port COM2:"), std::string::npos) << unmapped;
}

// The facts come from the system: the process holding a busy port, and for a
// denied device the group, offered only when the group may read and write it.
TEST_F(SerialPortTest, FactsNameTheHolderAndTheGroup) {
    OpenPort();
    SerialLinePosix second;
    ASSERT_EQ(second.Open(pty_.SlavePath(), 115200), OpenOutcome::Failed);
    ASSERT_EQ(second.LastOpenFailure(), OpenFailure::Busy);
    const std::string self = "(process " + std::to_string(getpid()) + ")";
    EXPECT_NE(GatherOpenFailureFacts(OpenFailure::Busy, pty_.SlavePath()).holder.find(self),
              std::string::npos);
    EXPECT_NE(DescribeOpenFailure(OpenFailure::Busy, pty_.SlavePath(), EBUSY).find(self),
              std::string::npos);
    port_.Close();
    EXPECT_EQ(GatherOpenFailureFacts(OpenFailure::Busy, "/dev/kvq-missing").holder, "");

    // A file of our own group: we are in it, so joining would not help.
    char path[] = "/tmp/kvq-facts-XXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    for (const mode_t mode : {mode_t{0660}, mode_t{0600}}) {
        ASSERT_EQ(chmod(path, mode), 0);
        const OpenFailureFacts facts = GatherOpenFailureFacts(OpenFailure::PermissionDenied, path);
        EXPECT_FALSE(facts.joiningGroupHelps) << mode;
        EXPECT_FALSE(facts.membershipNotActive) << mode;
    }
    unlink(path);
    EXPECT_EQ(GatherOpenFailureFacts(OpenFailure::PermissionDenied, "/dev/kvq-missing").group, "");
}

}  // namespace
