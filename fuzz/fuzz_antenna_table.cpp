// The antenna table loader on arbitrary file contents, then the look-ups over
// what it kept. Whatever the file holds, every stored model must be one the
// rest of the tool can use: a key of 1 to 15 characters and a name of at most
// 31, neither with a blank, a line break or a NUL in it, a tilt range that is
// not upside down, and look-ups that find the first model of a key or name.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "antenna/AntennaTable.h"
#include "antenna/AntennaTableFile.h"
#include "FuzzSupport.h"

using namespace kvq::antenna;

namespace {

bool HasSeparator(std::string_view text) {
    return text.find_first_of(std::string_view(" \t\r\v\f\n\0", 7)) != std::string_view::npos;
}

void RequireFoundAt(const CAntennaTable& table, std::optional<int> found, int atMost,
                    std::string_view text, bool byKey) {
    FUZZ_REQUIRE(found.has_value() && *found >= 0 && *found <= atMost);
    AntennaRecord record;
    FUZZ_REQUIRE(table.GetRecord(*found, record));
    FUZZ_REQUIRE((byKey ? record.key : record.displayName) == text);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static ScratchFile file("kvq-fuzz-antenna-table");
    file.Write(data, size);

    CAntennaTable table;
    const bool loaded = LoadAntennaTableFile(file.Path(), table);
    const int count = table.RecordCount();
    FUZZ_REQUIRE(count >= 0 && count <= CAntennaTable::MaxRecords);
    FUZZ_REQUIRE(count <= CountLines(file.Path()));
    // Without the header only the first line is read.
    FUZZ_REQUIRE(loaded || count <= 1);
    FUZZ_REQUIRE(loaded == table.LoadFailureText().empty());
    FUZZ_REQUIRE(table.LoadWarnings().size() <= CAntennaTable::MaxLoadWarnings + 1);

    AntennaRecord record;
    for (int index = 0; index < count; ++index) {
        FUZZ_REQUIRE(table.GetRecord(index, record));
        FUZZ_REQUIRE(!record.key.empty() && record.key.size() <= AntennaRecord::MaxKeyLength);
        FUZZ_REQUIRE(!record.displayName.empty() &&
                     record.displayName.size() <= AntennaRecord::MaxDisplayNameLength);
        FUZZ_REQUIRE(!HasSeparator(record.key) && !HasSeparator(record.displayName));
        FUZZ_REQUIRE(record.minTilt <= record.maxTilt);
        RequireFoundAt(table, table.FindByKey(record.key), index, record.key, true);
        RequireFoundAt(table, table.FindByName(record.displayName), index, record.displayName,
                       false);
    }
    FUZZ_REQUIRE(!table.GetRecord(count, record));
    FUZZ_REQUIRE(!table.GetRecord(-1, record));

    // Look-ups of texts the table may not hold: a hit must be what was asked for.
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    for (std::size_t length : {std::size_t{1}, std::size_t{8}, std::size_t{15}, std::size_t{31}}) {
        const std::string_view text = bytes.substr(0, std::min(length, bytes.size()));
        if (const auto found = table.FindByKey(text)) {
            RequireFoundAt(table, found, count - 1, text, true);
        }
        if (const auto found = table.FindByName(text)) {
            RequireFoundAt(table, found, count - 1, text, false);
        }
    }
    FUZZ_REQUIRE(ParseConfigHex(bytes, record) == static_cast<int>(AntennaRecord::ConfigPairCount));
    return 0;
}
