#include "serial/PortNames.h"

#include <algorithm>
#include <cctype>

#include "core/Text.h"

using namespace kvq::core;

namespace kvq::serial {

namespace {

constexpr std::string_view Blanks = " \t\r\n";

}  // namespace

bool IsComName(std::string_view name) {
    constexpr std::string_view prefix = "COM";
    if (name.size() <= prefix.size() || name.substr(0, prefix.size()) != prefix) {
        return false;
    }
    const auto digits = name.substr(prefix.size());
    return std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool IsUsbPortSpec(std::string_view name) {
    constexpr std::string_view prefix = "usb:";
    if (name.size() < prefix.size()) return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(name[i])) != prefix[i]) return false;
    }
    return true;
}

namespace {

// Four hexadecimal digits, in lower case; nullopt for anything else.
std::optional<std::string> UsbId(std::string_view text) {
    if (text.size() != 4) return std::nullopt;
    std::string id;
    for (const char c : text) {
        if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
        id += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    return id;
}

}  // namespace

std::optional<UsbPortSpec> ParseUsbPortSpec(std::string_view text, std::string& error) {
    const std::string shape =
        " (the form is usb:VID:PID or usb:VID:PID:SERIAL, e.g. usb:0403:6001)";
    if (!IsUsbPortSpec(text)) {
        error = "'" + std::string(text) + "' is not a USB adapter" + shape;
        return std::nullopt;
    }
    std::string_view rest = text.substr(4);
    const auto vendorEnd = rest.find(':');
    const auto vendor = UsbId(rest.substr(0, vendorEnd));
    if (!vendor) {
        error =
            "'" + std::string(text) + "': the vendor id must be four hexadecimal digits" + shape;
        return std::nullopt;
    }
    rest = vendorEnd == std::string_view::npos ? std::string_view{} : rest.substr(vendorEnd + 1);
    const auto productEnd = rest.find(':');
    const auto product = UsbId(rest.substr(0, productEnd));
    if (!product) {
        error =
            "'" + std::string(text) + "': the product id must be four hexadecimal digits" + shape;
        return std::nullopt;
    }
    UsbPortSpec spec{*vendor, *product, {}};
    if (productEnd != std::string_view::npos) {
        spec.serial = std::string(rest.substr(productEnd + 1));
        if (spec.serial.empty()) {
            error = "'" + std::string(text) + "': the serial number after the last ':' is empty" +
                    shape;
            return std::nullopt;
        }
    }
    return spec;
}

PortMap ParsePortMap(std::string_view text) {
    PortMap map;
    while (!text.empty()) {
        const auto end = text.find(';');
        const auto entry = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);

        const auto equals = entry.find('=');
        if (equals == std::string_view::npos) {
            continue;
        }
        const auto name = Trim(entry.substr(0, equals), Blanks);
        const auto path = Trim(entry.substr(equals + 1), Blanks);
        if (!IsComName(name) || path.empty() || path.front() != '/') {
            continue;
        }
        const bool known = std::any_of(map.begin(), map.end(),
                                       [&](const PortMapEntry& e) { return e.comName == name; });
        if (!known) {
            map.push_back({std::string(name), std::string(path)});
        }
    }
    return map;
}

}  // namespace kvq::serial
