#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <optional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "SimTestSupport.h"

using namespace kvq::hdlc;
using namespace kvq::sim;
namespace hdlc = kvq::hdlc;

using namespace std::chrono_literals;

extern char** environ;

namespace {

// vlx400-sim as a child process, its stdout and stderr on pipes.
class SimProcess {
public:
    explicit SimProcess(std::vector<std::string> arguments) {
        int out[2];
        int err[2];
        if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
            throw std::runtime_error("cannot make pipes");
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], 1);
        posix_spawn_file_actions_adddup2(&actions, err[1], 2);
        posix_spawnattr_t attributes;
        posix_spawnattr_init(&attributes);
        sigset_t none;
        sigemptyset(&none);
        posix_spawnattr_setsigmask(&attributes, &none);
        posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK);

        arguments.insert(arguments.begin(), VLX400_SIM_PATH);
        std::vector<char*> argv;
        for (auto& argument : arguments)
            argv.push_back(argument.data());
        argv.push_back(nullptr);
        const int failed =
            ::posix_spawn(&pid_, VLX400_SIM_PATH, &actions, &attributes, argv.data(), environ);
        posix_spawn_file_actions_destroy(&actions);
        posix_spawnattr_destroy(&attributes);
        ::close(out[1]);
        ::close(err[1]);
        out_ = out[0];
        err_ = err[0];
        if (failed != 0) {
            pid_ = -1;
            throw std::runtime_error("cannot start " VLX400_SIM_PATH);
        }
    }
    ~SimProcess() {
        if (pid_ > 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, nullptr, 0);
        }
        ::close(out_);
        ::close(err_);
    }
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    void Signal(int number) const { ::kill(pid_, number); }

    // The first line on stdout, without its newline.
    std::optional<std::string> ReadLine(std::chrono::milliseconds wait) const {
        std::string line;
        const auto deadline = std::chrono::steady_clock::now() + wait;
        while (std::chrono::steady_clock::now() < deadline) {
            pollfd entry{out_, POLLIN, 0};
            if (::poll(&entry, 1, 10) <= 0) continue;
            char octet;
            if (::read(out_, &octet, 1) != 1) return std::nullopt;
            if (octet == '\n') return line;
            line += octet;
        }
        return std::nullopt;
    }

    // Everything on a pipe up to its end (the process has ended).
    static std::string Drain(int fd) {
        std::string text;
        char chunk[256];
        ssize_t got;
        while ((got = ::read(fd, chunk, sizeof chunk)) > 0)
            text.append(chunk, static_cast<std::size_t>(got));
        return text;
    }
    std::string Stdout() const { return Drain(out_); }
    std::string Stderr() const { return Drain(err_); }

    // The wait status once the process ends within the time; none otherwise.
    std::optional<int> WaitExit(std::chrono::milliseconds wait) {
        const auto deadline = std::chrono::steady_clock::now() + wait;
        while (true) {
            int status = 0;
            if (::waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return status;
            }
            if (std::chrono::steady_clock::now() >= deadline) return std::nullopt;
            std::this_thread::sleep_for(2ms);
        }
    }

private:
    pid_t pid_ = -1;
    int out_ = -1;
    int err_ = -1;
};

}  // namespace

TEST(SimExecutable, ServesItsPseudoTerminalUntilAStopSignal) {
    for (const int stopSignal : {SIGTERM, SIGINT}) {
        SCOPED_TRACE(strsignal(stopSignal));
        SimProcess sim({"--no-pace"});
        const auto path = sim.ReadLine(5000ms);
        ASSERT_TRUE(path);
        ASSERT_EQ(path->rfind("/dev/", 0), 0u) << *path;

        ToolPort port(*path, B115200);
        port.Write({0x7E, 0x14, 0x93, 0xA4, 0x5B, 0x7E});
        EXPECT_EQ(port.Read(6, 1000ms), (Bytes{0x7E, 0x14, 0x73, 0xAA, 0xBC, 0x7E}));

        sim.Signal(stopSignal);
        const auto status = sim.WaitExit(1000ms);
        ASSERT_TRUE(status) << "still running a second after the signal";
        ASSERT_TRUE(WIFEXITED(*status)) << "ended by signal " << WTERMSIG(*status);
        EXPECT_EQ(WEXITSTATUS(*status), 0);
    }
}

TEST(SimExecutable, ExitCodesForBadInput) {
    const struct {
        std::vector<std::string> arguments;
        int exitCode;
    } cases[] = {
        {{"--bogus"}, 2},
        {{"--drop", "2"}, 2},
        {{"--reply-delay"}, 2},
        {{"stray"}, 2},
        {{"--device", "/nonexistent/ttyS9"}, 1},
        {{"--refuse", "bogus"}, 2},
        {{"--tilt", "6.55"}, 2},
        {{"--echo", "--serial", "X1"}, 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.arguments.front());
        SimProcess sim(c.arguments);
        const auto status = sim.WaitExit(2000ms);
        ASSERT_TRUE(status);
        ASSERT_TRUE(WIFEXITED(*status));
        EXPECT_EQ(WEXITSTATUS(*status), c.exitCode);
        const std::string error = sim.Stderr();
        EXPECT_EQ(error.rfind("vlx400-sim: ", 0), 0u) << error;
        EXPECT_EQ(std::count(error.begin(), error.end(), '\n'), 1) << error;
        EXPECT_EQ(sim.Stdout(), "");
    }
}

TEST(SimExecutable, HelpGoesToStdout) {
    SimProcess sim({"--help"});
    const auto status = sim.WaitExit(2000ms);
    ASSERT_TRUE(status && WIFEXITED(*status));
    EXPECT_EQ(WEXITSTATUS(*status), 0);
    const std::string usage = sim.Stdout();
    EXPECT_NE(usage.find("--reply-delay MS"), std::string::npos);
    EXPECT_NE(usage.find("--refuse NAME"), std::string::npos);
}

TEST(SimExecutable, IsTheActuatorItsOptionsDescribeOrAnEcho) {
    // OpenRequest, then IdentityRequest.
    const Bytes open{0x12, 0x34, 0x56, 0x78, 0x01, 0x02, 0x0C, 0x01, 0x00, 0x01};
    const Bytes identity{0x12, 0x34, 0x56, 0x78, 0x01, 0x02, 0x0C, 0x0C};
    const auto exchange = [](ToolPort& port, std::uint8_t ns, const Bytes& payload) {
        Bytes body{0x14, hdlc::IControl(ns, ns), 0xC0, 0x00,
                   static_cast<std::uint8_t>(payload.size())};
        body.insert(body.end(), payload.begin(), payload.end());
        port.Send(body);
        const auto frames = GoodFrames(port.ReadFrameLine(1000ms));
        // The answer's payload, without address, control, header and FCS.
        return frames.size() == 1 && frames[0].size() >= 7
                   ? Bytes(frames[0].begin() + 5, frames[0].end() - 2)
                   : Bytes{};
    };

    {
        SimProcess sim({"--no-pace", "--serial", "XXXT0000077", "--refuse", "open"});
        const auto path = sim.ReadLine(5000ms);
        ASSERT_TRUE(path);
        ToolPort port(*path, B115200);
        port.Write({0x7E, 0x14, 0x93, 0xA4, 0x5B, 0x7E});
        ASSERT_EQ(port.Read(6, 1000ms), (Bytes{0x7E, 0x14, 0x73, 0xAA, 0xBC, 0x7E}));
        EXPECT_EQ(exchange(port, 0, open), Bytes{}) << "refused: acknowledged with RR only";
        const Bytes reply = exchange(port, 1, identity);
        ASSERT_EQ(reply.size(), 51u + 12u);
        EXPECT_EQ(std::string(reply.begin() + 51, reply.end() - 1), "XXXT0000077");
    }
    {
        SimProcess sim({"--no-pace", "--echo"});
        const auto path = sim.ReadLine(5000ms);
        ASSERT_TRUE(path);
        ToolPort port(*path, B115200);
        port.Write({0x7E, 0x14, 0x93, 0xA4, 0x5B, 0x7E});
        ASSERT_EQ(port.Read(6, 1000ms), (Bytes{0x7E, 0x14, 0x73, 0xAA, 0xBC, 0x7E}));
        EXPECT_EQ(exchange(port, 0, open), open);
    }
    {
        // Behind an adapter that hears itself: the SNRM comes back before the UA.
        SimProcess sim({"--no-pace", "--adapter-echo"});
        const auto path = sim.ReadLine(5000ms);
        ASSERT_TRUE(path);
        ToolPort port(*path, B115200);
        port.Write({0x7E, 0x14, 0x93, 0xA4, 0x5B, 0x7E});
        ASSERT_EQ(port.Read(12, 1000ms),
                  (Bytes{0x7E, 0x14, 0x93, 0xA4, 0x5B, 0x7E, 0x7E, 0x14, 0x73, 0xAA, 0xBC, 0x7E}));
    }
}
