#include "antenna/AntennaTableFile.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <fstream>
#include <optional>
#include <system_error>
#include <unordered_set>
#include <utility>
#include <vector>

namespace kvq::antenna {

namespace fs = std::filesystem;

namespace {

constexpr std::string_view HeaderKey = "AT-VERSION";
constexpr std::string_view TableExtension = ".ascu";
constexpr std::size_t RecordColumns = 6;
constexpr std::size_t ConfigGroupDigits = 8;

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\v' || c == '\f';
}

std::optional<std::uint16_t> HexValue(char c) {
    if (c >= '0' && c <= '9') return static_cast<std::uint16_t>(c - '0');
    if (c >= 'A' && c <= 'F') return static_cast<std::uint16_t>(c - 'A' + 10);
    if (c >= 'a' && c <= 'f') return static_cast<std::uint16_t>(c - 'a' + 10);
    return std::nullopt;
}

// Four hexadecimal digits, or none.
std::optional<std::uint16_t> HexPiece(std::string_view piece) {
    std::uint16_t value = 0;
    for (const char c : piece) {
        const auto digit = HexValue(c);
        if (!digit) return std::nullopt;
        value = static_cast<std::uint16_t>((value << 4) | *digit);
    }
    return value;
}

// A file's text shown in a warning: short, and without control characters.
std::string Quote(std::string_view text) {
    constexpr std::size_t shown = 24;
    std::size_t length = std::min(text.size(), shown);
    if (length < text.size()) {
        // Do not end inside a multi-byte character.
        while (length > 0 && (static_cast<unsigned char>(text[length]) & 0xC0) == 0x80)
            --length;
    }
    std::string out = "\"";
    for (const char c : text.substr(0, length)) {
        const auto byte = static_cast<unsigned char>(c);
        out += (byte < 0x20 || byte == 0x7F) ? '?' : c;
    }
    if (length < text.size()) out += "...";
    out += '"';
    return out;
}

enum class NumberSyntax { Ok, NotANumber };

// Accumulates digits without overflow: anything this large is out of every range.
constexpr long long Saturation = 1LL << 40;

// Optional sign, then decimal digits, "0x"/"0X" and hexadecimal digits, or a
// leading "0" and octal digits; the whole text must be the number.
NumberSyntax ParseSigned(std::string_view text, long long& value) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    int base = 10;
    if (text.size() - i >= 2 && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    } else if (i < text.size() && text[i] == '0') {
        base = 8;
    }
    if (i == text.size()) return NumberSyntax::NotANumber;
    long long magnitude = 0;
    for (; i < text.size(); ++i) {
        const auto digit = HexValue(text[i]);
        if (!digit || *digit >= base) return NumberSyntax::NotANumber;
        magnitude = std::min(Saturation, magnitude * base + *digit);
    }
    value = negative ? -magnitude : magnitude;
    return NumberSyntax::Ok;
}

// Optional sign and decimal digits; a negative value is left to the range check.
NumberSyntax ParseDecimal(std::string_view text, long long& value) {
    std::size_t i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    if (i == text.size()) return NumberSyntax::NotANumber;
    long long magnitude = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < '0' || text[i] > '9') return NumberSyntax::NotANumber;
        magnitude = std::min(Saturation, magnitude * 10 + (text[i] - '0'));
    }
    value = negative ? -magnitude : magnitude;
    return NumberSyntax::Ok;
}

bool FitsInt16(long long value) {
    return value >= INT16_MIN && value <= INT16_MAX;
}

// The file's first MaxTableFileBytes; a larger file ends at its last whole line.
struct TableText {
    std::string bytes;
    bool cut = false;
};

std::optional<TableText> ReadTableText(const fs::path& path) {
    std::error_code error;
    // Only regular files: opening a FIFO or a device for reading could block.
    if (!fs::is_regular_file(path, error)) return std::nullopt;
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    TableText text;
    std::array<char, 64 * 1024> chunk{};
    while (text.bytes.size() <= MaxTableFileBytes) {
        in.read(chunk.data(), static_cast<std::streamsize>(chunk.size()));
        const auto got = static_cast<std::size_t>(in.gcount());
        text.bytes.append(chunk.data(), std::min(got, MaxTableFileBytes + 1 - text.bytes.size()));
        if (!in) break;
    }
    if (in.bad()) return std::nullopt;
    if (text.bytes.size() > MaxTableFileBytes) {
        text.cut = true;
        // The line that crosses the limit is not whole; a piece of it must not become a record.
        const auto lastNewline = text.bytes.rfind('\n', MaxTableFileBytes - 1);
        text.bytes.resize(lastNewline == std::string::npos ? 0 : lastNewline + 1);
    }
    return text;
}

// Calls handle(line) for each line without its '\n' until it answers false.
template <class Handler>
int ForEachLine(std::string_view bytes, Handler&& handle) {
    int count = 0;
    std::size_t start = 0;
    while (start < bytes.size()) {
        std::size_t end = bytes.find('\n', start);
        if (end == std::string_view::npos) end = bytes.size();
        ++count;
        if (!handle(bytes.substr(start, end - start))) break;
        start = end + 1;
    }
    return count;
}

int CountLinesIn(std::string_view bytes) {
    return ForEachLine(bytes, [](std::string_view) { return true; });
}

// The first six columns of a line, and whether more follow.
struct Columns {
    std::array<std::string_view, RecordColumns> column{};
    std::size_t count = 0;
    bool more = false;
};

Columns SplitColumns(std::string_view text) {
    Columns columns;
    std::size_t i = 0;
    while (i < text.size()) {
        while (i < text.size() && IsBlank(text[i]))
            ++i;
        if (i == text.size()) break;
        const std::size_t start = i;
        while (i < text.size() && !IsBlank(text[i]))
            ++i;
        if (columns.count == RecordColumns) {
            columns.more = true;
            break;
        }
        columns.column[columns.count++] = text.substr(start, i - start);
    }
    return columns;
}

class TableFileReader {
public:
    explicit TableFileReader(CAntennaTable& table) : table_(table) {}

    void Read(std::string_view bytes) {
        int index = 0;
        ForEachLine(bytes, [&](std::string_view line) {
            // Only the very first line can be the header; without it the rest is not read.
            if (index >= 1 && !headerSeen_) return false;
            return HandleLine(line, ++index);
        });
    }

    bool HeaderSeen() const { return headerSeen_; }

private:
    void Warn(int line, std::string text) { table_.AddLoadWarning(line, std::move(text)); }

    // False to stop reading.
    bool HandleLine(std::string_view whole, int line) {
        const std::string_view text = whole.substr(0, MaxTableLineLength);
        if (text.find('\0') != std::string_view::npos) {
            Warn(line, "the line contains a NUL character; line ignored");
            return true;
        }
        const Columns columns = SplitColumns(text);
        if (whole.size() > text.size() && !AcceptLongLine(whole, text, columns, line)) return true;
        if (columns.count == 0) return true;
        if (columns.column[0] == HeaderKey) {
            HandleHeader(columns, line);
            return true;
        }
        return HandleRecord(columns, line);
    }

    // A line over the length limit is kept only when the columns it needs end
    // before the cut: a cut key or name could name a different model.
    bool AcceptLongLine(std::string_view whole, std::string_view text, const Columns& columns,
                        int line) {
        const std::string_view rest = whole.substr(text.size());
        const bool restHasText =
            std::any_of(rest.begin(), rest.end(), [](char c) { return !IsBlank(c); });
        if (restHasText) {
            const bool cutInColumn = !IsBlank(text.back()) && !IsBlank(rest.front());
            std::size_t wholeColumns = columns.more ? RecordColumns + 1 : columns.count;
            if (cutInColumn && !columns.more) --wholeColumns;
            const std::size_t needed =
                (wholeColumns >= 1 && columns.column[0] == HeaderKey) ? 2 : RecordColumns;
            if (wholeColumns < needed) {
                Warn(line, "the line is longer than " + std::to_string(MaxTableLineLength) +
                               " characters and is cut within its columns; line ignored");
                return false;
            }
        }
        Warn(line, "the line is longer than " + std::to_string(MaxTableLineLength) +
                       " characters; the rest of it was ignored");
        return true;
    }

    void HandleHeader(const Columns& columns, int line) {
        headerSeen_ = true;
        if (columns.count < 2) {
            Warn(line, "the AT-VERSION line gives no table version");
            return;
        }
        long long version = 0;
        if (ParseSigned(columns.column[1], version) != NumberSyntax::Ok || !FitsInt16(version)) {
            Warn(line, "the table version " + Quote(columns.column[1]) +
                           " is not a number from -32768 to 32767; version left unchanged");
            return;
        }
        table_.SetTableVersion(static_cast<std::int16_t>(version));
    }

    bool HandleRecord(const Columns& columns, int line) {
        AntennaRecord record;
        const std::string_view key = columns.column[0];
        if (key.size() > AntennaRecord::MaxKeyLength) {
            Warn(line, "the key " + Quote(key) + " is longer than " +
                           std::to_string(AntennaRecord::MaxKeyLength) +
                           " characters; line ignored");
            return true;
        }
        record.key = std::string(key);

        // Without both tilt limits the model would get a range it does not have.
        if (columns.count < 3) {
            Warn(line, "the line gives no minimum and maximum tilt; line ignored");
            return true;
        }
        // A number column that is not wholly a number rejects the line: taking
        // it as missing would assign a model with a tilt range of 0 to 0.
        std::size_t scanned = 1;
        static constexpr std::array<const char*, 3> numberNames = {"minimum tilt", "maximum tilt",
                                                                   "auxiliary value"};
        std::array<long long, 3> numbers{};
        for (std::size_t n = 0; n < numbers.size() && scanned < columns.count; ++n) {
            const std::string_view column = columns.column[scanned];
            const bool isAux = n == 2;
            const NumberSyntax syntax =
                isAux ? ParseDecimal(column, numbers[n]) : ParseSigned(column, numbers[n]);
            if (syntax != NumberSyntax::Ok) {
                Warn(line, std::string("the ") + numberNames[n] + " " + Quote(column) +
                               (isAux ? " is not a decimal number" : " is not a number") +
                               "; line ignored");
                return true;
            }
            const bool inRange =
                isAux ? (numbers[n] >= 0 && numbers[n] <= UINT16_MAX) : FitsInt16(numbers[n]);
            if (!inRange) {
                Warn(line, std::string("the ") + numberNames[n] + " " + Quote(column) +
                               (isAux ? " is outside 0..65535" : " is outside -32768..32767") +
                               "; line ignored");
                return true;
            }
            ++scanned;
        }
        scanned = columns.count;
        record.minTilt = static_cast<std::int16_t>(numbers[0]);
        record.maxTilt = static_cast<std::int16_t>(numbers[1]);
        record.auxValue = static_cast<std::uint16_t>(numbers[2]);
        if (record.minTilt > record.maxTilt) {
            Warn(line, "the minimum tilt " + std::to_string(record.minTilt) +
                           " is greater than the maximum tilt " + std::to_string(record.maxTilt) +
                           "; line ignored");
            return true;
        }

        std::string_view config;
        if (scanned >= 5) {
            config = columns.column[4];
            if (!CheckConfig(config, line)) return true;
        }
        if (scanned >= 6) {
            const std::string_view name = columns.column[5];
            if (name.size() > AntennaRecord::MaxDisplayNameLength) {
                Warn(line, "the display name " + Quote(name) + " is longer than " +
                               std::to_string(AntennaRecord::MaxDisplayNameLength) +
                               " characters; line ignored");
                return true;
            }
            record.displayName = std::string(name);
            if (columns.more) {
                Warn(line,
                     "the columns after the display name were ignored (a display name cannot "
                     "contain a blank)");
            }
        } else {
            record.displayName = record.key;
        }
        if (scanned < 5) {
            Warn(line, "the line ends after column " + std::to_string(scanned) +
                           "; a missing auxiliary value was taken as 0 and the configuration "
                           "as not supplied");
        }
        ParseConfigHex(config, record);

        if (!table_.AppendRecord(record)) {
            Warn(line, "the table holds at most " + std::to_string(CAntennaTable::MaxRecords) +
                           " models; the rest of the file was ignored");
            return false;
        }
        if (!keys_.insert(record.key).second) {
            Warn(line, "the key " + Quote(record.key) +
                           " was given before; the first model with it is the one used");
        }
        if (!names_.insert(record.displayName).second) {
            Warn(line, "the display name " + Quote(record.displayName) +
                           " was given before; choosing it selects the first model with it");
        }
        return true;
    }

    // A half-read value would go to the actuator, so a bad configuration text rejects the line.
    bool CheckConfig(std::string_view config, int line) {
        if (config.size() > MaxConfigDigits) {
            Warn(line, "the configuration text has " + std::to_string(config.size()) +
                           " digits, more than " + std::to_string(MaxConfigDigits) +
                           "; line ignored");
            return false;
        }
        const std::size_t groups = config.size() / ConfigGroupDigits;
        for (std::size_t group = 0; group < groups; ++group) {
            const std::string_view digits =
                config.substr(group * ConfigGroupDigits, ConfigGroupDigits);
            if (!std::all_of(digits.begin(), digits.end(),
                             [](char c) { return HexValue(c).has_value(); })) {
                Warn(line, "configuration group " + std::to_string(group + 1) + " " +
                               Quote(digits) + " is not hexadecimal; line ignored");
                return false;
            }
        }
        const std::size_t leftOver = config.size() % ConfigGroupDigits;
        if (leftOver != 0) {
            Warn(line, "the last " + std::to_string(leftOver) +
                           " characters of the configuration text do not make a group of " +
                           std::to_string(ConfigGroupDigits) + "; they were ignored");
        }
        return true;
    }

    CAntennaTable& table_;
    bool headerSeen_ = false;
    std::unordered_set<std::string> keys_;
    std::unordered_set<std::string> names_;
};

// Searches dir for the greatest "*.ascu" name; prefix is dir relative to the
// top of the search. ancestors guards against a directory link that loops.
std::string FindIn(const fs::path& dir, const std::string& prefix,
                   std::vector<fs::path>& ancestors) {
    std::error_code error;
    const fs::path canonical = fs::canonical(dir, error);
    if (error || std::find(ancestors.begin(), ancestors.end(), canonical) != ancestors.end()) {
        return {};
    }
    fs::directory_iterator entries(dir, fs::directory_options::skip_permission_denied, error);
    if (error) return {};  // unreadable: skipped
    ancestors.push_back(canonical);
    std::string best;
    for (; !error && entries != fs::directory_iterator(); entries.increment(error)) {
        const std::string name = entries->path().filename().string();
        if (name.size() < TableExtension.size() ||
            name.compare(name.size() - TableExtension.size(), TableExtension.size(),
                         TableExtension) != 0) {
            continue;
        }
        std::error_code typeError;
        std::string candidate;
        if (entries->is_directory(typeError)) {
            candidate = FindIn(entries->path(), prefix + name + "/", ancestors);
        } else if (entries->is_regular_file(typeError)) {
            candidate = prefix + name;
        } else {
            continue;  // a FIFO, device or broken link is no table
        }
        // std::string compares byte-wise; equal-or-greater replaces.
        if (candidate >= best) best = std::move(candidate);
    }
    ancestors.pop_back();
    return best;
}

}  // namespace

std::string FindAntennaTableFile(const fs::path& directory) {
    std::vector<fs::path> ancestors;
    return FindIn(directory, "", ancestors);
}

bool LoadAntennaTableFile(const fs::path& path, CAntennaTable& table) {
    table.Clear();
    table.SetSourceFile(path.string());
    bool headerSeen = false;
    const std::optional<TableText> text = ReadTableText(path);
    if (!text) {
        table.AddLoadWarning(0, "the file cannot be read");
    } else {
        const int lines = CountLinesIn(text->bytes);
        if (!table.SetCapacity(std::min(lines, CAntennaTable::MaxRecords))) {
            table.AddLoadWarning(0, "there is not enough memory for the table");
        } else {
            TableFileReader reader(table);
            reader.Read(text->bytes);
            headerSeen = reader.HeaderSeen();
            if (!headerSeen) {
                table.AddLoadWarning(lines == 0 ? 0 : 1,
                                     lines == 0 ? "the file is empty"
                                                : "the first line is not the AT-VERSION header "
                                                  "line; nothing after it was read");
            }
        }
        if (text->cut) {
            table.AddLoadWarning(0, "the file is larger than " + std::to_string(MaxTableFileBytes) +
                                        " bytes; the rest of it was ignored");
        }
    }
    if (!headerSeen) {
        table.SetLoadFailureText("Antenna table " + path.string() +
                                 " failed to load, please refer to the User Manual for further "
                                 "instructions.     ");
    }
    return headerSeen;
}

int ParseConfigHex(std::string_view text, AntennaRecord& record) {
    const std::size_t groups =
        std::min(text.size() / ConfigGroupDigits, AntennaRecord::ConfigPairCount);
    for (std::size_t i = 0; i < AntennaRecord::ConfigPairCount; ++i) {
        if (i < groups) {
            const std::string_view group = text.substr(i * ConfigGroupDigits, ConfigGroupDigits);
            record.configFirst[i] =
                HexPiece(group.substr(0, 4)).value_or(AntennaRecord::NoConfigValue);
            record.configSecond[i] =
                HexPiece(group.substr(4, 4)).value_or(AntennaRecord::NoConfigValue);
        } else {
            record.configFirst[i] = AntennaRecord::NoConfigValue;
            record.configSecond[i] = AntennaRecord::NoConfigValue;
        }
    }
    return static_cast<int>(AntennaRecord::ConfigPairCount);
}

int CountLines(const fs::path& path) {
    const std::optional<TableText> text = ReadTableText(path);
    return text ? CountLinesIn(text->bytes) : 0;
}

}  // namespace kvq::antenna
