// The port list of Windows reads the registry's SERIALCOMM values as they
// stand; the filters then decide which are ports. Under Wine the test may
// write its own values into the key (it is the machine's volatile hardware
// map, rebuilt at every start) and removes them again.

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include "serial/PortDiscovery.h"

using namespace kvq::serial;

namespace {

const char* const SerialComm = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

class RegistryValues {
public:
    RegistryValues() {
        if (::RegCreateKeyExA(HKEY_LOCAL_MACHINE, SerialComm, 0, nullptr, REG_OPTION_VOLATILE,
                              KEY_ALL_ACCESS, nullptr, &key_, nullptr) != ERROR_SUCCESS)
            key_ = nullptr;
    }
    ~RegistryValues() {
        for (const auto& name : written_)
            ::RegDeleteValueA(key_, name.c_str());
        if (key_ != nullptr) ::RegCloseKey(key_);
    }
    RegistryValues(const RegistryValues&) = delete;
    RegistryValues& operator=(const RegistryValues&) = delete;

    bool Usable() const { return key_ != nullptr; }
    void Set(const std::string& name, DWORD type, const void* data, DWORD size) {
        ASSERT_EQ(::RegSetValueExA(key_, name.c_str(), 0, type, static_cast<const BYTE*>(data), size),
                  ERROR_SUCCESS);
        written_.push_back(name);
    }
    void SetText(const std::string& name, const std::string& text) {
        Set(name, REG_SZ, text.c_str(), static_cast<DWORD>(text.size() + 1));
    }

private:
    HKEY key_ = nullptr;
    std::vector<std::string> written_;
};

std::optional<SerialPortInfo> Find(const std::vector<SerialPortInfo>& ports,
                                   const std::string& valueName) {
    const auto it = std::find_if(ports.begin(), ports.end(),
                                 [&](const auto& p) { return p.valueName == valueName; });
    if (it == ports.end()) return std::nullopt;
    return *it;
}

TEST(PortListWin32Test, ListsTheValuesAsTheyStandAndTheFiltersChooseThePorts) {
    RegistryValues values;
    if (!values.Usable()) GTEST_SKIP() << "the SERIALCOMM key cannot be written here";
    values.SetText("\\Device\\Serial90", "COM90");
    values.SetText("\\Device\\VCP0", "COM3");        // no "Serial" in the name
    values.SetText("\\Device\\Serial91", "com7");    // lower case
    values.SetText("\\Device\\Serial92", "COM12x");  // digits, then more
    values.SetText("\\Device\\Serial93", "COMx1");   // no digits after COM
    // The type is not looked at: the data is read as a text up to its NUL.
    const char binary[] = {'C', 'O', 'M', '4', '\0', 'Z'};
    values.Set("\\Device\\Serial94", REG_BINARY, binary, sizeof binary);

    struct Expected {
        const char* valueName;
        const char* data;
        std::optional<int> number;
    };
    const Expected expected[] = {
        {"\\Device\\Serial90", "COM90", 90}, {"\\Device\\VCP0", "COM3", std::nullopt},
        {"\\Device\\Serial91", "com7", std::nullopt}, {"\\Device\\Serial92", "COM12x", 12},
        {"\\Device\\Serial93", "COMx1", std::nullopt}, {"\\Device\\Serial94", "COM4", 4},
    };
    const auto ports = DiscoverSerialPorts();
    for (const auto& e : expected) {
        const auto port = Find(ports, e.valueName);
        ASSERT_TRUE(port) << e.valueName;
        EXPECT_EQ(port->data, e.data) << e.valueName;
        EXPECT_EQ(port->devicePath, e.valueName);
        EXPECT_EQ(ListedPortNumber(*port), e.number) << e.valueName;
    }
}

// The port the test script maps is in the list as Wine names it.
TEST(PortListWin32Test, AMappedPortIsListed) {
    const char* mapped = std::getenv("KVQ_TEST_SIM_PORT");
    if (mapped == nullptr) GTEST_SKIP() << "KVQ_TEST_SIM_PORT is not set";
    const auto ports = ListSerialPorts();
    const auto it = std::find_if(ports.begin(), ports.end(),
                                 [&](const auto& p) { return p.data == mapped; });
    ASSERT_NE(it, ports.end());
    EXPECT_NE(it->valueName.find("Serial"), std::string::npos);
    EXPECT_EQ(ListedPortNumber(*it), std::atoi(mapped + 3));
}

}  // namespace
