// The settings file reader on arbitrary file contents, through the tool's own
// start-up read (CKVQSystem::InitialiseFrom) and the profile file underneath.
// Whatever the file holds, every text setting stays within the 1023
// characters a value may have, without a line break or a NUL in it, and the
// file read from disk answers as the same bytes parsed in memory.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "FuzzSupport.h"
#include "settings/KVQSystem.h"
#include "settings/ProfileFile.h"

using namespace kvq::settings;

namespace {

void RequireText(const std::string& text) {
    FUZZ_REQUIRE(text.size() <= ProfileFile::ValueLimit);
    FUZZ_REQUIRE(text.find_first_of(std::string_view("\n\0", 2)) == std::string::npos);
}

constexpr std::string_view Keys[] = {
    "LogFileName",  "SiteId",           "SerialPort",  "CycleTestCount",    "CycleTestMin",
    "CycleTestMax", "EnforceProcess",   "PrintLabel",  "FinalPosition",     "SNPrefix",
    "LabelMfgCode", "VersionIndicated", "CSVFileName", "ProductLabelTitle", "Variant",
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static ScratchFile file("kvq-fuzz-settings");
    file.Write(data, size);
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);

    CKVQSystem settings;
    settings.InitialiseFrom(file.Path());
    for (const std::string* text :
         {&settings.SiteId, &settings.LogFileName, &settings.SerialPort, &settings.SNPrefix,
          &settings.LabelMfgCode, &settings.VersionIndicated, &settings.CSVFileName,
          &settings.ProductLabelTitle, &settings.Variant}) {
        RequireText(*text);
    }

    const ProfileFile loaded = ProfileFile::Load(file.Path());
    FUZZ_REQUIRE(loaded.IsLoaded());
    FUZZ_REQUIRE(loaded.IsCut() == (size > ProfileFile::FileLimit));
    if (!loaded.IsCut()) {
        const ProfileFile parsed = ProfileFile::FromBytes(bytes);
        for (const std::string_view key : Keys) {
            FUZZ_REQUIRE(loaded.Find(CKVQSystem::Section, key) ==
                         parsed.Find(CKVQSystem::Section, key));
        }
        // The setting the tool acts on is the file's value, cut to its limit, or the default.
        FUZZ_REQUIRE(settings.Variant ==
                     parsed.ReadString(CKVQSystem::Section, "Variant", "E-VLX400"));
    }

    // Names the file may or may not hold, taken from its own bytes.
    const std::string_view section = bytes.substr(0, std::min<std::size_t>(size, 12));
    const std::string_view key = bytes.substr(std::min<std::size_t>(size, 12), 12);
    RequireText(loaded.ReadString(section, key, ""));
    (void)loaded.ReadInt(section, key, -1);
    for (const std::string_view name : Keys)
        (void)loaded.ReadInt(CKVQSystem::Section, name, 0);
    return 0;
}
