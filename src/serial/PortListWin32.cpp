// The port list of Windows: the values of the registry's SERIALCOMM key, as
// they stand. Which of them are ports the program offers is decided by the
// filters every port list goes through (ListedPortNumber).

#include <windows.h>

#include <cstring>
#include <vector>

#include "serial/PortDiscovery.h"

namespace kvq::serial {

namespace {

// The largest value name the registry allows, and as much data, asked afresh
// for every value.
constexpr DWORD NameCapacity = 16383;
constexpr DWORD DataCapacity = 16383;

class RegistryKey {
public:
    explicit RegistryKey(const char* path) {
        // KEY_READ (0x20019): query and enumerate values, nothing more.
        if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, path, 0, KEY_READ, &key_) != ERROR_SUCCESS)
            key_ = nullptr;
    }
    ~RegistryKey() {
        if (key_ != nullptr) ::RegCloseKey(key_);
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;

    HKEY Handle() const { return key_; }

private:
    HKEY key_ = nullptr;
};

}  // namespace

// What Windows knows of a USB adapter (its hardware id and serial number in
// the device's registry key) is not looked up yet: the ports carry their
// registry names only.
std::vector<SerialPortInfo> DiscoverSerialPorts(const std::filesystem::path&,
                                                const std::filesystem::path&) {
    std::vector<SerialPortInfo> ports;
    const RegistryKey key("HARDWARE\\DEVICEMAP\\SERIALCOMM");
    if (key.Handle() == nullptr) return ports;  // no key: no ports
    DWORD values = 0;
    if (::RegQueryInfoKeyA(key.Handle(), nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
                           &values, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
        return ports;
    }
    // One byte more than asked for each, so both end in a NUL whatever comes.
    std::vector<char> name(NameCapacity + 1);
    std::vector<BYTE> data(DataCapacity + 1);
    for (DWORD index = 0; index < values; ++index) {
        DWORD nameLength = NameCapacity;
        DWORD dataLength = DataCapacity;
        std::memset(data.data(), 0, data.size());
        if (::RegEnumValueA(key.Handle(), index, name.data(), &nameLength, nullptr, nullptr,
                            data.data(), &dataLength) != ERROR_SUCCESS) {
            continue;  // a value that cannot be read is left out
        }
        // The value's type is not looked at: its data is read as a text up
        // to the first NUL.
        SerialPortInfo info;
        info.valueName.assign(name.data(), nameLength);
        info.data = reinterpret_cast<const char*>(data.data());
        // The kernel's device behind the port, to tell ports apart in messages.
        info.devicePath = info.valueName;
        ports.push_back(std::move(info));
    }
    return ports;
}

}  // namespace kvq::serial
