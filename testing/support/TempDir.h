#pragma once

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <stdexcept>
#include <string>
#include <string_view>
#include <system_error>

// A fresh directory under the system's temporary directory, named from the
// prefix, removed with everything in it (even what a test left unwritable).
class TempDir {
public:
    explicit TempDir(const std::string& prefix = "kvq-test-") {
#ifdef _WIN32
        // No mkdtemp there: a fresh name, which create_directory refuses to share.
        std::random_device random;
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            auto candidate =
                std::filesystem::temp_directory_path() / (prefix + std::to_string(random()));
            if (std::filesystem::create_directory(candidate)) path_ = candidate;
        }
        if (path_.empty()) throw std::runtime_error("cannot create a temporary directory");
#else
        std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "XXXXXX")).string();
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("cannot create a temporary directory");
        }
        path_ = pattern;
#endif
    }
    ~TempDir() {
        namespace fs = std::filesystem;
        std::error_code error;
        // Each directory is opened up before the walk enters it.
        fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, error);
        for (fs::recursive_directory_iterator it(path_, error), end; !error && it != end;
             it.increment(error)) {
            if (it->is_directory(error) && !it->is_symlink(error))
                fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
        }
        fs::remove_all(path_, error);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::filesystem::path& path() const { return path_; }

    // Writes the file (and the directories it lies in) and returns its path.
    std::filesystem::path Write(const std::filesystem::path& name, std::string_view bytes) const {
        const auto file = path_ / name;
        std::filesystem::create_directories(file.parent_path());
        std::ofstream out(file, std::ios::binary);
        out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
        if (!out) throw std::runtime_error("cannot write " + file.string());
        return file;
    }

private:
    std::filesystem::path path_;
};
