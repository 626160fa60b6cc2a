#pragma once

// What every fuzz target shares: a scratch file for loaders that want a path,
// and the check that turns a broken invariant into a finding.

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

// The file a fuzz target hands to a loader that wants a path. It is an
// anonymous memory file reached through /proc/self/fd, so it never appears in
// a directory: nothing is left behind, even when the run ends in a crash, and
// rewriting it for every input costs no disk.
class ScratchFile {
public:
    explicit ScratchFile(const char* name) : fd_(::memfd_create(name, MFD_CLOEXEC)) {
        if (fd_ < 0) Die("memfd_create");
        path_ = "/proc/self/fd/" + std::to_string(fd_);
    }
    ~ScratchFile() { ::close(fd_); }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    // Replaces the whole content.
    void Write(const std::uint8_t* data, std::size_t size) {
        if (::ftruncate(fd_, 0) != 0) Die("ftruncate");
        std::size_t done = 0;
        while (done < size) {
            const ssize_t n = ::pwrite(fd_, data + done, size - done, static_cast<off_t>(done));
            if (n <= 0) Die("pwrite");
            done += static_cast<std::size_t>(n);
        }
    }
    void Write(const std::string& text) {
        Write(reinterpret_cast<const std::uint8_t*>(text.data()), text.size());
    }

    const std::filesystem::path& Path() const { return path_; }

private:
    // A harness that cannot set itself up must not report inputs as clean.
    [[noreturn]] static void Die(const char* what) {
        std::perror(what);
        std::abort();
    }

    int fd_;
    std::filesystem::path path_;
};

// A broken invariant is a finding: trap, so libFuzzer keeps the input.
#define FUZZ_REQUIRE(condition)                                                         \
    do {                                                                                \
        if (!(condition)) {                                                             \
            std::fprintf(stderr, "invariant broken at %s:%d: %s\n", __FILE__, __LINE__, \
                         #condition);                                                   \
            __builtin_trap();                                                           \
        }                                                                               \
    } while (false)
