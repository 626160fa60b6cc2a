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

bool IsUsbPortName(std::string_view name) {
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

std::optional<UsbPortName> ParseUsbPortName(std::string_view text, std::string& error) {
    const auto refuse = [&](std::string_view what) {
        error = "'" + std::string(text) + "'" + std::string(what) +
                " (the form is usb:VID:PID or usb:VID:PID:SERIAL, e.g. usb:0403:6001)";
        return std::nullopt;
    };
    if (!IsUsbPortName(text)) return refuse(" is not a USB adapter");
    std::string_view rest = text.substr(4);
    const auto vendorEnd = rest.find(':');
    const auto vendor = UsbId(rest.substr(0, vendorEnd));
    if (!vendor) return refuse(": the vendor id must be four hexadecimal digits");
    rest = vendorEnd == std::string_view::npos ? std::string_view{} : rest.substr(vendorEnd + 1);
    const auto productEnd = rest.find(':');
    const auto product = UsbId(rest.substr(0, productEnd));
    if (!product) return refuse(": the product id must be four hexadecimal digits");
    UsbPortName usb{*vendor, *product, {}};
    if (productEnd != std::string_view::npos) {
        usb.serial = std::string(rest.substr(productEnd + 1));
        if (usb.serial.empty()) return refuse(": the serial number after the last ':' is empty");
    }
    return usb;
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
