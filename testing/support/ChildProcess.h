#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

extern char** environ;

namespace kvq::testing {

// A program run by a test, in a directory of the test's choosing, with its
// output collected in files there. Its environment is the test's, with the
// "NAME=value" entries of `environment` put in (set here, not in the test's
// own environment, which other threads may be reading).
class ChildProcess {
public:
    ChildProcess(const std::string& program, const std::vector<std::string>& args,
                 const std::filesystem::path& directory, const std::string& tag = "child",
                 const std::vector<std::string>& environment = {})
        : directory_(directory),
          out_(directory / (tag + ".out")),
          err_(directory / (tag + ".err")) {
        std::vector<std::string> all = {program};
        all.insert(all.end(), args.begin(), args.end());
        std::vector<char*> argv;
        for (auto& a : all)
            argv.push_back(a.data());
        argv.push_back(nullptr);

        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
        posix_spawn_file_actions_addopen(&actions, 1, out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addopen(&actions, 2, err_.c_str(), O_WRONLY | O_CREAT | O_TRUNC,
                                         0644);
        posix_spawn_file_actions_addchdir_np(&actions, directory.c_str());
        std::vector<std::string> variables = environment;
        for (char** entry = environ; *entry; ++entry) {
            const std::string inherited = *entry;
            const std::string name = inherited.substr(0, inherited.find('=') + 1);
            const bool replaced =
                std::any_of(environment.begin(), environment.end(),
                            [&](const std::string& e) { return e.rfind(name, 0) == 0; });
            if (!replaced) variables.push_back(inherited);
        }
        std::vector<char*> envp;
        for (auto& v : variables)
            envp.push_back(v.data());
        envp.push_back(nullptr);
        if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), envp.data()) != 0)
            pid_ = -1;
        posix_spawn_file_actions_destroy(&actions);
    }
    ~ChildProcess() {
        if (pid_ > 0 && !status_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const { return pid_ > 0; }
    void Signal(int signal) const {
        if (pid_ > 0 && !status_) kill(pid_, signal);
    }
    // The exit code (128 + signal for a signal), or nothing if it is still
    // running after the limit.
    std::optional<int> Wait(std::chrono::milliseconds limit) {
        const auto end = std::chrono::steady_clock::now() + limit;
        while (!status_) {
            int status = 0;
            const pid_t done = waitpid(pid_, &status, WNOHANG);
            if (done == pid_) {
                status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
                break;
            }
            if (done < 0 || std::chrono::steady_clock::now() > end) return std::nullopt;
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        return status_;
    }
    std::string Out() const { return Read(out_); }
    std::string Err() const { return Read(err_); }
    // The last line of the output.
    std::string LastLine() const {
        std::istringstream lines(Out());
        std::string line, last;
        while (std::getline(lines, line)) {
            if (!line.empty()) last = line;
        }
        return last;
    }

private:
    static std::string Read(const std::filesystem::path& path) {
        std::ifstream in(path);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    std::filesystem::path directory_;
    std::filesystem::path out_;
    std::filesystem::path err_;
    pid_t pid_ = -1;
    std::optional<int> status_;
};

}  // namespace kvq::testing
