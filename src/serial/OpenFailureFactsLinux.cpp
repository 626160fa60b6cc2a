// What Linux can tell about a serial device that would not open: which
// process holds it (from /proc), and whether the user could get at it by
// joining the device's group.

#include <grp.h>
#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

#include "serial/SerialLine.h"

namespace kvq::serial {

namespace {

namespace fs = std::filesystem;

// The first process with a descriptor open on the device: "name (process N)".
std::string HolderOf(const fs::path& device) {
    std::error_code error;
    const fs::path target = fs::canonical(device, error);
    if (error) return {};
    for (fs::directory_iterator process("/proc", error), end; !error && process != end;
         process.increment(error)) {
        const std::string pid = process->path().filename().string();
        if (pid.empty() || !std::all_of(pid.begin(), pid.end(), [](char c) { return c >= '0' && c <= '9'; })) continue;
        std::error_code fdError;
        // Another user's descriptors are not readable: that process is skipped.
        for (fs::directory_iterator fd(process->path() / "fd", fdError), fdEnd;
             !fdError && fd != fdEnd; fd.increment(fdError)) {
            std::error_code linkError;
            if (fs::read_symlink(fd->path(), linkError) != target || linkError) continue;
            std::string name;
            std::ifstream comm(process->path() / "comm");
            std::getline(comm, name);
            if (name.empty()) name = "a program";
            return name + " (process " + pid + ")";
        }
    }
    return {};
}

std::vector<gid_t> ProcessGroups() {
    std::vector<gid_t> groups(static_cast<std::size_t>(std::max(0, getgroups(0, nullptr))));
    const int count = getgroups(static_cast<int>(groups.size()), groups.data());
    groups.resize(static_cast<std::size_t>(std::max(0, count)));
    groups.push_back(getegid());
    return groups;
}

// The groups the account is in, as a new login would have them.
std::vector<gid_t> AccountGroups() {
    std::vector<char> buffer(16384);
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer.data(), buffer.size(), &found) != 0 || !found)
        return {};
    int count = 64;
    std::vector<gid_t> groups(static_cast<std::size_t>(count));
    if (getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) {
        groups.resize(static_cast<std::size_t>(count));
        if (getgrouplist(found->pw_name, found->pw_gid, groups.data(), &count) < 0) return {};
    }
    groups.resize(static_cast<std::size_t>(count));
    return groups;
}

std::string GroupName(gid_t gid) {
    std::vector<char> buffer(16384);
    group entry{};
    group* found = nullptr;
    if (getgrgid_r(gid, &entry, buffer.data(), buffer.size(), &found) != 0 || !found) return {};
    return found->gr_name;
}

bool Holds(const std::vector<gid_t>& groups, gid_t gid) {
    return std::find(groups.begin(), groups.end(), gid) != groups.end();
}

}  // namespace

OpenFailureFacts GatherOpenFailureFacts(OpenFailure failure, const std::string& devicePath) {
    OpenFailureFacts facts;
    if (failure == OpenFailure::Busy) facts.holder = HolderOf(devicePath);
    if (failure == OpenFailure::PermissionDenied) {
        struct stat info {};
        if (::stat(devicePath.c_str(), &info) != 0) return facts;
        facts.group = GroupName(info.st_gid);
        // Joining helps only when the group may read and write the device,
        // and root's group (0) is nobody's to join.
        const bool groupMay = (info.st_mode & S_IRGRP) && (info.st_mode & S_IWGRP);
        if (facts.group.empty() || !groupMay || info.st_gid == 0) return facts;
        if (Holds(ProcessGroups(), info.st_gid)) return facts;
        if (Holds(AccountGroups(), info.st_gid)) {
            facts.membershipNotActive = true;
        } else {
            facts.joiningGroupHelps = true;
        }
    }
    return facts;
}

}  // namespace kvq::serial
