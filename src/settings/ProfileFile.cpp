#include "settings/ProfileFile.h"

#include <algorithm>
#include <fstream>
#include <limits>
#include <system_error>
#include <vector>

#include "core/Text.h"

using namespace kvq::core;

namespace kvq::settings {

namespace {

constexpr std::string_view Utf8Bom = "\xEF\xBB\xBF";

std::string_view Unquote(std::string_view value) {
    if (value.size() >= 2 && value.front() == value.back() &&
        (value.front() == '"' || value.front() == '\'')) {
        return value.substr(1, value.size() - 2);
    }
    return value;
}

// ASCII only: names are compared the way the platform's ANSI reads compared them,
// and bytes above 0x7F must not depend on the locale.
std::string Lower(std::string_view text) {
    std::string lower(text);
    for (char& c : lower) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return lower;
}

std::int32_t ParseLeadingInt(std::string_view text) {
    std::size_t i = 0;
    bool negative = false;
    if (!text.empty() && (text.front() == '+' || text.front() == '-')) {
        negative = text.front() == '-';
        i = 1;
    }
    // Accumulate the magnitude, pinned just past the range so it cannot overflow.
    constexpr std::int64_t pinned = std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1;
    std::int64_t magnitude = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        magnitude = std::min(magnitude * 10 + (text[i] - '0'), pinned);
    }
    if (negative) {
        return static_cast<std::int32_t>(-magnitude);  // -pinned is exactly INT32_MIN
    }
    return static_cast<std::int32_t>(std::min<std::int64_t>(magnitude, pinned - 1));
}

}  // namespace

// Splits the bytes into lines with a bounded buffer and files each line into the profile.
class ProfileFile::Parser {
public:
    explicit Parser(ProfileFile& profile) : profile_(profile) {}

    void Feed(std::string_view bytes) {
        for (const char c : bytes) {
            if (c == '\n') {
                EndLine();
                continue;
            }
            ++lineLength_;
            if (line_.size() < KeptBytes()) {
                line_.push_back(c);
            }
        }
    }

    // Files the last line when the file does not end with a line break.
    void Finish() {
        if (lineLength_ > 0) {
            EndLine();
        }
    }

private:
    // The first line may carry a BOM that does not count against the line limit.
    std::size_t KeptBytes() const { return firstLine_ ? LineLimit + Utf8Bom.size() : LineLimit; }

    void EndLine() {
        // Only a '\r' that really ends the line is a line-end byte; in a line longer than
        // the limit it was never kept.
        if (lineLength_ == line_.size() && !line_.empty() && line_.back() == '\r') {
            line_.pop_back();
        }
        std::string_view text = line_;
        if (firstLine_) {
            if (text.starts_with(Utf8Bom)) {
                text.remove_prefix(Utf8Bom.size());
            }
            text = text.substr(0, LineLimit);
            firstLine_ = false;
        }
        ParseLine(text);
        line_.clear();
        lineLength_ = 0;
    }

    void ParseLine(std::string_view text) {
        text = Trim(text.substr(0, text.find('\0')));
        if (text.empty() || text.front() == ';') {
            return;
        }
        if (text.front() == '[') {
            const auto close = text.rfind(']');
            if (close == std::string_view::npos) {
                return;
            }
            auto [it, added] =
                profile_.sections_.try_emplace(Lower(Trim(text.substr(1, close - 1))));
            // A repeated section is never searched, so its lines are skipped.
            section_ = added ? &it->second : nullptr;
            return;
        }
        if (section_ == nullptr) {
            return;
        }
        std::string_view key = text;
        std::string_view value;
        if (const auto equals = text.find('='); equals != std::string_view::npos) {
            key = Trim(text.substr(0, equals));
            value = Unquote(Trim(text.substr(equals + 1)));
        }
        section_->try_emplace(Lower(key), value);  // the first key of a name wins
    }

    ProfileFile& profile_;
    Keys* section_ = nullptr;  // where keys go; none before the first section
    std::string line_;
    std::size_t lineLength_ = 0;  // bytes seen in the line, kept or not
    bool firstLine_ = true;
};

ProfileFile ProfileFile::Load(const std::filesystem::path& file) {
    ProfileFile profile;
    // Only regular files: opening a FIFO would block, and a device could be endless.
    std::error_code error;
    if (!std::filesystem::is_regular_file(file, error)) {
        return profile;
    }
    std::ifstream in(file, std::ios::binary);
    if (!in) {
        return profile;
    }
    Parser parser(profile);
    std::vector<char> buffer(64 * 1024);
    std::size_t total = 0;
    while (total < FileLimit) {
        const auto wanted = std::min(buffer.size(), FileLimit - total);
        in.read(buffer.data(), static_cast<std::streamsize>(wanted));
        const auto got = static_cast<std::size_t>(in.gcount());
        if (got == 0) {
            break;
        }
        parser.Feed({buffer.data(), got});
        total += got;
    }
    if (in.bad()) {
        return ProfileFile{};
    }
    profile.loaded_ = true;
    if (total == FileLimit && in.peek() != std::ifstream::traits_type::eof()) {
        profile.cut_ = true;  // the partly read last line is not filed
    } else {
        parser.Finish();
    }
    return profile;
}

ProfileFile ProfileFile::FromBytes(std::string_view bytes) {
    ProfileFile profile;
    Parser parser(profile);
    parser.Feed(bytes);
    parser.Finish();
    profile.loaded_ = true;
    return profile;
}

std::optional<std::string> ProfileFile::Find(std::string_view section, std::string_view key) const {
    const auto keys = sections_.find(Lower(section));
    if (keys == sections_.end()) {
        return std::nullopt;
    }
    const auto value = keys->second.find(Lower(key));
    if (value == keys->second.end()) {
        return std::nullopt;
    }
    return value->second;
}

std::string ProfileFile::ReadString(std::string_view section, std::string_view key,
                                    std::string_view defaultText) const {
    auto value = Find(section, key);
    if (!value) {
        return std::string(defaultText);
    }
    if (value->size() > ValueLimit) {
        value->resize(ValueLimit);
    }
    return std::move(*value);
}

std::int32_t ProfileFile::ReadInt(std::string_view section, std::string_view key,
                                  std::int32_t defaultValue) const {
    const std::string text = ReadString(section, key, "");
    if (text.empty()) {
        return defaultValue;
    }
    return ParseLeadingInt(text);
}

std::string ReadProfileString(const std::filesystem::path& file, std::string_view section,
                              std::string_view key, std::string_view defaultText) {
    return ProfileFile::Load(file).ReadString(section, key, defaultText);
}

std::int32_t ReadProfileInt(const std::filesystem::path& file, std::string_view section,
                            std::string_view key, std::int32_t defaultValue) {
    return ProfileFile::Load(file).ReadInt(section, key, defaultValue);
}

}  // namespace kvq::settings
