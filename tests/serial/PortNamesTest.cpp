#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>

#include "serial/PortDiscovery.h"
#include "serial/PortNames.h"
#include "SerialTestSupport.h"

using namespace kvq::serial;

namespace {

struct NameCase {
    const char* label;
    std::optional<std::string> portMap;  // nullopt: variable not set
    std::string name;
    std::optional<std::string> expected;
    friend void PrintTo(const NameCase& c, std::ostream* os) {
        *os << '"' << c.name << "\" with " << (c.portMap ? '"' + *c.portMap + '"' : "no map");
    }
};

class PortNameTest : public ::testing::TestWithParam<NameCase> {};

TEST_P(PortNameTest, ResolvesThroughTheVariable) {
    const NameCase& c = GetParam();
#ifdef _WIN32
    // Windows's C runtime cannot hold an empty variable: setting it empty removes it.
    if (c.portMap && c.portMap->empty()) GTEST_SKIP() << "no empty variables on Windows";
#endif
    ScopedPortMap map(c.portMap);
    EXPECT_EQ(DevicePathForPortName(c.name), c.expected);
}

const std::string Two = "COM1=/dev/ttyUSB0;COM3=/tmp/vtty";

INSTANTIATE_TEST_SUITE_P(
    Names, PortNameTest,
    ::testing::Values(
        NameCase{"NoVariablePath", std::nullopt, "/dev/ttyS0", "/dev/ttyS0"},
        NameCase{"Mapped", Two, "COM3", "/tmp/vtty"},
        NameCase{"FirstEntry", Two, "COM1", "/dev/ttyUSB0"},
        NameCase{"Unmapped", Two, "COM2", std::nullopt},
        NameCase{"PathBesideMap", Two, "/tmp/other", "/tmp/other"},
        NameCase{"EmptyVariable", "", "COM1", std::nullopt},
        NameCase{"Blanks", " \tCOM3 = /tmp/vtty ;  ; COM1=\t/dev/ttyS4 ", "COM1", "/dev/ttyS4"},
        NameCase{"BlanksFirst", " \tCOM3 = /tmp/vtty ;  ; ", "COM3", "/tmp/vtty"},
        NameCase{"NoEquals", "COM1;COM3=/tmp/vtty", "COM3", "/tmp/vtty"},
        NameCase{"NoEqualsSkipped", "COM1/dev/ttyS0;COM3=/tmp/vtty", "COM1", std::nullopt},
        NameCase{"EmptyPath", "COM1=;COM3=/tmp/vtty", "COM1", std::nullopt},
        NameCase{"RelativePath", "COM1=ttyUSB0", "COM1", std::nullopt},
        NameCase{"NotAComName", "PORT1=/dev/ttyS0;COMX=/dev/ttyS1;COM=/dev/ttyS2", "COMX",
                 std::nullopt},
        NameCase{"LowerCaseEntry", "com3=/tmp/vtty", "COM3", std::nullopt},
        NameCase{"LowerCaseName", Two, "com3", std::nullopt},
        NameCase{"FirstOfTwoWins", "COM3=/tmp/a;COM3=/tmp/b", "COM3", "/tmp/a"},
        NameCase{"SecondEqualsInPath", "COM3=/tmp/a=b", "COM3", "/tmp/a=b"},
        NameCase{"EmptyName", Two, "", std::nullopt}, NameCase{"Usb", Two, "USB", std::nullopt},
        NameCase{"NoDigitsAfterCom", "COM=/tmp/a", "COM", std::nullopt}),
    [](const auto& param) { return std::string(param.param.label); });

// Without the variable, COM names come from the ports this machine has.
TEST(PortNameDiscoveryTest, WithoutTheVariableComNamesAreThisMachinesPorts) {
    ScopedPortMap map(std::nullopt);
    std::optional<std::string> com1;
    for (const auto& port : DiscoverSerialPorts()) {
        if (port.data == "COM1") com1 = port.devicePath;
    }
    EXPECT_EQ(DevicePathForPortName("COM1"), com1);
    EXPECT_EQ(DevicePathForPortName("COM0"), std::nullopt);
}

TEST(PortMapTest, KeepsOnlyWellFormedEntriesInOrder) {
    const PortMap map = ParsePortMap("COM8=/dev/ttyACM0; bad ;COM2=/dev/ttyUSB1;COM8=/dev/x");
    ASSERT_EQ(map.size(), 2u);
    EXPECT_EQ(map[0].comName, "COM8");
    EXPECT_EQ(map[0].devicePath, "/dev/ttyACM0");
    EXPECT_EQ(map[1].comName, "COM2");
    EXPECT_EQ(map[1].devicePath, "/dev/ttyUSB1");
}

// A USB spec is read whole or refused with a reason: the ids are four
// hexadecimal digits, a serial number given is not empty.
TEST(UsbPortSpecTest, ReadsWellFormedSpecsAndSaysWhatIsWrongWithOthers) {
    struct Case {
        const char* text;
        std::optional<UsbPortSpec> spec;
        const char* says;  // part of the error for a refused spec
    } cases[] = {
        {"usb:0403:6001", UsbPortSpec{"0403", "6001", ""}, ""},
        {"usb:0403:6001:A10K4TQS", UsbPortSpec{"0403", "6001", "A10K4TQS"}, ""},
        {"Usb:1A86:7523", UsbPortSpec{"1a86", "7523", ""}, ""},
        {"usb:0403:6001:with:colons", UsbPortSpec{"0403", "6001", "with:colons"}, ""},
        {"usb:", std::nullopt, "vendor id"},
        {"usb:0403", std::nullopt, "product id"},
        {"usb:0403:", std::nullopt, "product id"},
        {"usb:403:6001", std::nullopt, "vendor id"},
        {"usb:04030:6001", std::nullopt, "vendor id"},
        {"usb:0x03:6001", std::nullopt, "vendor id"},
        {"usb:0403:60g1", std::nullopt, "product id"},
        {"usb:0403:6001:", std::nullopt, "serial number"},
        {"ubs:0403:6001", std::nullopt, "not a USB adapter"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        std::string error;
        const auto spec = ParseUsbPortSpec(c.text, error);
        ASSERT_EQ(spec.has_value(), c.spec.has_value()) << error;
        if (spec) {
            EXPECT_EQ(spec->vendor, c.spec->vendor);
            EXPECT_EQ(spec->product, c.spec->product);
            EXPECT_EQ(spec->serial, c.spec->serial);
            EXPECT_TRUE(error.empty()) << error;
        } else {
            EXPECT_NE(error.find(c.says), std::string::npos) << error;
            EXPECT_NE(error.find("usb:VID:PID"), std::string::npos) << error;
        }
    }
}

// A spec that is malformed or matches no adapter names no device, whatever
// the port map holds.
TEST(UsbPortSpecTest, NamesNoDeviceWithoutAMatchingAdapter) {
    ScopedPortMap map(std::string("COM1=/tmp/vtty"));
    EXPECT_EQ(DevicePathForPortName("usb:0403:6001"), std::nullopt);
    EXPECT_EQ(DevicePathForPortName("usb:nonsense"), std::nullopt);
}

}  // namespace
