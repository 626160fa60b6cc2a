#include "settings/System.h"

#include "settings/ProfileFile.h"

CSystem::~CSystem() = default;

void CSystem::ReadProfileText(const ProfileFile& file, std::string_view section,
                              std::string_view key, std::string_view defaultText,
                              std::string& field) {
    std::string text = file.ReadString(section, key, defaultText);
    if (!text.empty()) {
        field = std::move(text);
    }
}

void CSystem::ReadProfileInt(const ProfileFile& file, std::string_view section,
                             std::string_view key, std::int32_t defaultValue, std::int32_t& field) {
    field = file.ReadInt(section, key, defaultValue);
}
