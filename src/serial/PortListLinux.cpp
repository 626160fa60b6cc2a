// The port list of Linux: the serial ports sysfs knows, in the registry's
// shape, with what sysfs tells of the device behind each.

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <fstream>
#include <optional>
#include <sstream>
#include <string_view>
#include <system_error>
#include <tuple>

#include "serial/PortDiscovery.h"

namespace kvq::serial {

namespace fs = std::filesystem;

namespace {

// Which kind of tty a name is, and where it goes in the numbering.
enum class PortKind { BuiltIn, OnBoard, Adapter };

struct KnownPrefix {
    std::string_view prefix;
    PortKind kind;
};

// Longer prefixes first, so "ttyS" does not take "ttySAC0".
constexpr KnownPrefix KnownPrefixes[] = {
    {"ttyCH343USB", PortKind::Adapter}, {"ttyXRUSB", PortKind::Adapter},
    {"ttyUSB", PortKind::Adapter},      {"ttyACM", PortKind::Adapter},
    {"ttymxc", PortKind::OnBoard},      {"ttySAC", PortKind::OnBoard},
    {"ttyTHS", PortKind::OnBoard},      {"ttyAMA", PortKind::OnBoard},
    {"ttyS", PortKind::BuiltIn},
};

struct TtyName {
    PortKind kind;
    std::string_view prefix;
    unsigned long number;
};

// Only a known prefix followed by digits and nothing else names a port.
std::optional<TtyName> ClassifyTty(std::string_view name) {
    for (const auto& known : KnownPrefixes) {
        if (name.substr(0, known.prefix.size()) != known.prefix) continue;
        const auto digits = name.substr(known.prefix.size());
        if (digits.empty() || digits.size() > 6 ||
            !std::all_of(digits.begin(), digits.end(),
                         [](char c) { return std::isdigit(static_cast<unsigned char>(c)); })) {
            return std::nullopt;
        }
        return TtyName{known.kind, known.prefix,
                       std::strtoul(std::string(digits).c_str(), nullptr, 10)};
    }
    return std::nullopt;
}

// A sysfs attribute's first line, without its blanks; empty when unreadable.
std::string ReadAttribute(const fs::path& file) {
    std::ifstream in(file);
    std::string line;
    if (!in || !std::getline(in, line)) return {};
    const auto first = line.find_first_not_of(" \t\r\n");
    if (first == std::string::npos) return {};
    const auto last = line.find_last_not_of(" \t\r\n");
    return line.substr(first, last - first + 1);
}

// A serial8250 slot exists for every possible port whether a UART is there or
// not; the kernel reports type 0 (unknown) and no I/O address for the empty ones.
bool HasUart(const fs::path& ttyDirectory) {
    const std::string type = ReadAttribute(ttyDirectory / "type");
    if (!type.empty()) return std::strtol(type.c_str(), nullptr, 10) != 0;
    const std::string port = ReadAttribute(ttyDirectory / "port");
    if (!port.empty()) return std::strtoul(port.c_str(), nullptr, 0) != 0;
    return true;  // a driver without these attributes: the device link is all we have
}

// A port that carries the kernel's console is the system's: its messages (and
// perhaps a login prompt) would go out on the bus.
bool IsConsole(const fs::path& sysfsRoot, const fs::path& ttyDirectory, const std::string& name) {
    const std::string flag = ReadAttribute(ttyDirectory / "console");
    if (!flag.empty()) return flag == "Y";
    // Kernels without the attribute list the consoles in one place.
    std::istringstream active(ReadAttribute(sysfsRoot / "class" / "tty" / "console" / "active"));
    for (std::string console; active >> console;) {
        if (console == name) return true;
    }
    return false;
}

// The USB device above a tty's device: the nearest ancestor with an idVendor.
void FillUsbDetails(SerialPortInfo& info, const fs::path& device, const fs::path& sysfsRoot) {
    std::error_code error;
    const fs::path root = fs::weakly_canonical(sysfsRoot, error);
    for (fs::path at = device; !at.empty() && at != at.root_path(); at = at.parent_path()) {
        if (!root.empty() && at == root) break;
        if (!fs::exists(at / "idVendor", error)) continue;
        info.manufacturer = ReadAttribute(at / "manufacturer");
        info.product = ReadAttribute(at / "product");
        info.serialNumber = ReadAttribute(at / "serial");
        const std::string vendor = ReadAttribute(at / "idVendor");
        const std::string product = ReadAttribute(at / "idProduct");
        if (!vendor.empty() || !product.empty()) info.vidPid = vendor + ":" + product;
        return;
    }
}

// The link in the by-id directory that points at the tty (the kernel's udev
// rules make them relative, "../../ttyUSB0"); empty when there is none.
std::string StableNameOf(const fs::path& byIdDirectory, const std::string& kernelName) {
    std::error_code error;
    std::string found;
    for (fs::directory_iterator it(byIdDirectory, error), end; !error && it != end;
         it.increment(error)) {
        std::error_code linkError;
        const fs::path target = fs::read_symlink(it->path(), linkError);
        if (linkError || target.filename() != kernelName) continue;
        // Of several links to one tty, the first by name, so the answer does
        // not depend on the directory's order.
        const std::string name = it->path().string();
        if (found.empty() || name < found) found = name;
    }
    return found;
}

// Compares texts with runs of digits taken as numbers, so "usb1/1-2" comes
// before "usb1/1-10".
bool NaturalLess(std::string_view a, std::string_view b) {
    std::size_t i = 0, j = 0;
    auto digit = [](char c) { return std::isdigit(static_cast<unsigned char>(c)) != 0; };
    while (i < a.size() && j < b.size()) {
        if (digit(a[i]) && digit(b[j])) {
            std::size_t ei = i, ej = j;
            while (ei < a.size() && digit(a[ei]))
                ++ei;
            while (ej < b.size() && digit(b[ej]))
                ++ej;
            auto na = a.substr(i, ei - i), nb = b.substr(j, ej - j);
            while (na.size() > 1 && na.front() == '0')
                na.remove_prefix(1);
            while (nb.size() > 1 && nb.front() == '0')
                nb.remove_prefix(1);
            if (na.size() != nb.size()) return na.size() < nb.size();
            if (na != nb) return na < nb;
            i = ei;
            j = ej;
        } else {
            if (a[i] != b[j]) return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

struct Found {
    TtyName name;
    std::string kernelName;
    SerialPortInfo info;
};

}  // namespace

std::vector<SerialPortInfo> DiscoverSerialPorts(const fs::path& sysfsRoot,
                                                const fs::path& byIdDirectory) {
    std::vector<Found> found;
    std::error_code error;
    const fs::path classTty = sysfsRoot / "class" / "tty";
    for (fs::directory_iterator it(classTty, error), end; !error && it != end;
         it.increment(error)) {
        const std::string kernelName = it->path().filename().string();
        const auto name = ClassifyTty(kernelName);
        if (!name) continue;
        std::error_code ignored;
        const fs::path ttyDirectory = fs::canonical(it->path(), ignored);
        if (ignored) continue;
        // Virtual terminals and pseudo-terminals have no device behind them.
        const fs::path device = fs::canonical(ttyDirectory / "device", ignored);
        if (ignored) continue;
        if (name->kind == PortKind::BuiltIn && !HasUart(ttyDirectory)) continue;
        if (IsConsole(sysfsRoot, ttyDirectory, kernelName)) continue;

        SerialPortInfo info;
        info.devicePath = "/dev/" + kernelName;
        info.sysfsPath = device.string();
        if (name->kind == PortKind::Adapter) {
            FillUsbDetails(info, device, sysfsRoot);
            info.stableName = StableNameOf(byIdDirectory, kernelName);
        }
        found.push_back({*name, kernelName, std::move(info)});
    }

    std::sort(found.begin(), found.end(), [](const Found& a, const Found& b) {
        if (a.name.kind != b.name.kind) return a.name.kind < b.name.kind;
        if (a.name.kind == PortKind::Adapter) {
            if (a.info.sysfsPath != b.info.sysfsPath)
                return NaturalLess(a.info.sysfsPath, b.info.sysfsPath);
            return NaturalLess(a.kernelName, b.kernelName);
        }
        return std::tie(a.name.prefix, a.name.number) < std::tie(b.name.prefix, b.name.number);
    });

    std::vector<SerialPortInfo> ports;
    for (auto& entry : found) {
        SerialPortInfo info = std::move(entry.info);
        info.data = "COM" + std::to_string(ports.size() + 1);
        // The platform's registry names built-in ports \Device\SerialN; the
        // filters only ask that the name says "Serial".
        info.valueName = entry.name.kind == PortKind::BuiltIn
                             ? "\\Device\\Serial" + std::to_string(entry.name.number)
                             : info.devicePath + " Serial";
        ports.push_back(std::move(info));
    }
    return ports;
}

}  // namespace kvq::serial
