#include "ui/AdapterMemory.h"

#include <cstdlib>
#include <fstream>
#include <system_error>

namespace kvq::ui {

namespace fs = std::filesystem;

namespace {

// Longer than any device name or USB identity; a longer first line is no
// identity this program wrote.
constexpr std::size_t MaxIdentityLength = 1024;

std::optional<fs::path> AbsoluteDirectory(const std::optional<std::string>& text) {
    if (!text || text->empty()) return std::nullopt;
    fs::path directory(*text);
    if (!directory.is_absolute()) return std::nullopt;
    return directory;
}

}  // namespace

std::string AdapterMemoryFile::Recall() {
    std::ifstream in(file_, std::ios::binary);
    std::string line;
    if (!in || !std::getline(in, line)) return {};
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.size() > MaxIdentityLength) return {};
    return line;
}

bool AdapterMemoryFile::Remember(const std::string& identity) {
    if (identity.size() > MaxIdentityLength || identity.find('\n') != std::string::npos)
        return false;
    std::error_code error;
    fs::create_directories(file_.parent_path(), error);
    if (error) return false;
    fs::path fresh = file_;
    fresh += ".new";
    {
        std::ofstream out(fresh, std::ios::binary | std::ios::trunc);
        if (!out) return false;
        out << identity << '\n';
        out.flush();
        if (!out) {
            out.close();
            fs::remove(fresh, error);
            return false;
        }
    }
    fs::rename(fresh, file_, error);
    if (error) {
        std::error_code ignored;
        fs::remove(fresh, ignored);
        return false;
    }
    return true;
}

std::optional<std::string> ProcessEnvironment(const char* name) {
    if (const char* value = std::getenv(name)) return std::string(value);
    return std::nullopt;
}

std::optional<fs::path> UserAdapterMemoryFile(const EnvironmentLookup& environment) {
    const fs::path leaf = fs::path("kvq") / "adapter";
#ifdef _WIN32
    if (const auto appData = AbsoluteDirectory(environment("APPDATA"))) return *appData / leaf;
    return std::nullopt;
#else
    if (const auto config = AbsoluteDirectory(environment("XDG_CONFIG_HOME")))
        return *config / leaf;
    if (const auto home = AbsoluteDirectory(environment("HOME"))) return *home / ".config" / leaf;
    return std::nullopt;
#endif
}

}  // namespace kvq::ui
