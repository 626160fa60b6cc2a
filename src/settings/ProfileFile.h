#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace kvq::settings {

// A read-only INI ("profile") file, parsed once and then queried, that gives the
// answers of the classic Windows profile reads:
//
// - Lines end at '\n'; a '\r' just before it is dropped. A UTF-8 BOM at the start is
//   skipped. A NUL byte ends the text of its line.
// - Each line is trimmed of blanks and tabs. Empty lines and lines that begin with ';'
//   are ignored. A ';' elsewhere is part of the text (there are no inline comments),
//   and an indented line is an ordinary line (there are no continuation lines).
// - "[name]" starts a section named by the text between '[' and the last ']', trimmed.
//   A line that begins with '[' and has no ']' is ignored.
// - Any other line is a key: the text before the first '=' is the name, the text after
//   it the value, both trimmed; a value enclosed in one pair of matching double or single
//   quotes loses them. A line without '=' is a key with an empty value. Keys before the
//   first section belong to none and are never found.
// - Names compare case-insensitively (ASCII). Only the first section of a name is
//   searched, and in it only the first key of a name.
//
// Limits, so that a huge or binary file cannot exhaust memory: only the first
// LineLimit bytes of a line are kept (the rest of that line is discarded), and only the
// first FileLimit bytes of a file are read; a line cut off by that limit is dropped
// whole, so a value is never taken from a partly read line.
class ProfileFile {
public:
    static constexpr std::size_t LineLimit = 4096;
    static constexpr std::size_t FileLimit = std::size_t{1} << 20;
    // A value read as text holds at most this many characters (a 1024-byte buffer).
    static constexpr std::size_t ValueLimit = 1023;

    // An empty profile: every read answers its default.
    ProfileFile() = default;

    // Reads and parses the file. A file that cannot be read (missing, a directory or
    // other non-regular file, no permission) gives an empty profile with IsLoaded() false.
    static ProfileFile Load(const std::filesystem::path& file);
    // Parses bytes as if they were the whole file (FileLimit does not apply).
    static ProfileFile FromBytes(std::string_view bytes);

    bool IsLoaded() const { return loaded_; }
    // True when the file was longer than FileLimit and its tail was ignored.
    bool IsCut() const { return cut_; }

    // The value of the key, or nothing when the section or the key is missing.
    std::optional<std::string> Find(std::string_view section, std::string_view key) const;

    // The value cut to ValueLimit characters, or the default when the section or the key
    // is missing.
    std::string ReadString(std::string_view section, std::string_view key,
                           std::string_view defaultText) const;

    // The default when the value is missing or empty; otherwise an optional sign and the
    // leading decimal digits ("12abc" is 12, "abc" is 0). Values outside the 32-bit
    // signed range saturate at its ends rather than wrapping, so a large number can never
    // turn into one of the opposite sign.
    std::int32_t ReadInt(std::string_view section, std::string_view key,
                         std::int32_t defaultValue) const;

private:
    class Parser;

    using Keys = std::map<std::string, std::string>;  // lower-case name -> value
    std::map<std::string, Keys> sections_;            // lower-case name -> its keys
    bool loaded_ = false;
    bool cut_ = false;
};

// One-shot reads: each loads the file afresh. To read several keys, load a ProfileFile
// once and query it.
std::string ReadProfileString(const std::filesystem::path& file, std::string_view section,
                              std::string_view key, std::string_view defaultText);
std::int32_t ReadProfileInt(const std::filesystem::path& file, std::string_view section,
                            std::string_view key, std::int32_t defaultValue);

}  // namespace kvq::settings
