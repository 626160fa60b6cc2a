// Serial port discovery over a made-up sysfs tree: which ttys are real ports,
// the order of their COM numbers, what is known of USB adapters, and the
// environment variable that replaces discovery.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "SerialTestSupport.h"
#include "serial/PortDiscovery.h"
#include "serial/PortNames.h"
#include "support/TempDir.h"

using namespace kvq::serial;

namespace {

namespace fs = std::filesystem;

// A sysfs tree as the kernel lays it out: devices under devices/, and
// class/tty/<name> linking to them.
class FakeSysfs {
public:
    FakeSysfs() {
        fs::create_directories(root_ / "class" / "tty");
        fs::create_directories(ById());
    }
    const fs::path& Root() const { return root_; }
    // Stands in for /dev/serial/by-id.
    fs::path ById() const { return root_ / "by-id"; }
    // A stable link as udev makes it: relative, to the tty in /dev.
    void AddStableLink(const std::string& name, const std::string& tty) {
        fs::create_symlink(fs::path("../../") / tty, ById() / name);
    }

    // A tty under `parent` (a device directory relative to devices/); with a
    // device link unless `virtualTty`.
    fs::path AddTty(const std::string& parent, const std::string& name,
                    std::vector<std::pair<std::string, std::string>> attributes = {},
                    bool virtualTty = false) {
        const fs::path device = root_ / "devices" / parent;
        const fs::path tty = device / "tty" / name;
        fs::create_directories(tty);
        for (const auto& [file, value] : attributes)
            Write(tty / file, value);
        if (!virtualTty) fs::create_directory_symlink(fs::relative(device, tty), tty / "device");
        fs::create_directory_symlink(fs::relative(tty, root_ / "class" / "tty"),
                                     root_ / "class" / "tty" / name);
        return device;
    }
    // A USB device's identity at `usbDevice` (relative to devices/).
    void AddUsbIdentity(const std::string& usbDevice, const std::string& vendor,
                        const std::string& product, const std::string& manufacturer,
                        const std::string& productName, const std::string& serial) {
        const fs::path at = root_ / "devices" / usbDevice;
        fs::create_directories(at);
        Write(at / "idVendor", vendor);
        Write(at / "idProduct", product);
        if (!manufacturer.empty()) Write(at / "manufacturer", manufacturer);
        if (!productName.empty()) Write(at / "product", productName);
        if (!serial.empty()) Write(at / "serial", serial);
    }

private:
    static void Write(const fs::path& file, const std::string& value) {
        std::ofstream(file) << value << "\n";
    }
    TempDir dir_{"kvq-sysfs-"};
    fs::path root_ = dir_.path();
};

// A machine with real 16550s, empty 8250 slots, Raspberry Pi style UARTs,
// three USB adapters plugged in any order, consoles, and ttys that are no ports.
class PortDiscovery : public ::testing::Test {
protected:
    void SetUp() override {
        sysfs.AddTty("pnp0/00:01", "ttyS0", {{"type", "4"}, {"port", "0x3F8"}});
        sysfs.AddTty("platform/serial8250", "ttyS1", {{"type", "0"}, {"port", "0x0"}});
        sysfs.AddTty("platform/serial8250", "ttyS2", {{"port", "0x0"}});
        sysfs.AddTty("pnp0/00:02", "ttyS10", {{"type", "4"}, {"port", "0x2E8"}});
        sysfs.AddTty("pnp0/00:03", "ttyS3", {{"type", "4"}, {"port", "0x2F8"}, {"console", "N"}});
        // Real UARTs, but the kernel's console: one says so itself, the other
        // is named in the list of active consoles.
        sysfs.AddTty("pnp0/00:04", "ttyS4", {{"type", "4"}, {"port", "0x3E8"}, {"console", "Y"}});
        sysfs.AddTty("platform/fe215040.serial", "ttyAMA1");
        sysfs.AddTty("virtual/tty", "console", {{"active", "tty0 ttyAMA1"}}, true);
        sysfs.AddTty("platform/fe201000.serial", "ttyAMA0");
        const std::string usb = "pci0000:00/0000:00:14.0/usb1/";
        sysfs.AddUsbIdentity(usb + "1-10", "0403", "6001", "FTDI", "FT232R USB UART", "A10K4TQS");
        sysfs.AddTty(usb + "1-10/1-10:1.0/ttyUSB0", "ttyUSB0");
        sysfs.AddUsbIdentity(usb + "1-2", "1a86", "7523", "", "", "");
        sysfs.AddTty(usb + "1-2/1-2:1.0/ttyUSB1", "ttyUSB1");
        sysfs.AddUsbIdentity(usb + "1-3", "2341", "0043", "Arduino", "", "");
        sysfs.AddTty(usb + "1-3/1-3:1.0", "ttyACM0");
        sysfs.AddTty("virtual/tty", "tty0", {}, true);
        sysfs.AddTty("virtual/tty", "ttyS7", {{"type", "4"}}, true);  // no device behind it
        sysfs.AddTty("platform/foo", "ttyUSB", {});                   // no number
        sysfs.AddTty("platform/bar", "ttyS4x", {{"type", "4"}});      // not a port name
    }
    FakeSysfs sysfs;
    ScopedPortMap noVariable{std::nullopt};
};

TEST_F(PortDiscovery, ListsRealPortsInAStableOrderInTheRegistryShape) {
    struct Expected {
        const char* valueName;
        const char* data;
        const char* devicePath;
        const char* vidPid;
        const char* description;
    } expected[] = {
        // Built-in ports by number (3 before 10), empty 8250 slots left out.
        {"\\Device\\Serial0", "COM1", "/dev/ttyS0", "", "/dev/ttyS0"},
        {"\\Device\\Serial3", "COM2", "/dev/ttyS3", "", "/dev/ttyS3"},
        {"\\Device\\Serial10", "COM3", "/dev/ttyS10", "", "/dev/ttyS10"},
        {"/dev/ttyAMA0 Serial", "COM4", "/dev/ttyAMA0", "", "/dev/ttyAMA0"},
        // Adapters by their place on the bus: port 2, 3, then 10 of the hub.
        {"/dev/ttyUSB1 Serial", "COM5", "/dev/ttyUSB1", "1a86:7523", "/dev/ttyUSB1, 1a86:7523"},
        {"/dev/ttyACM0 Serial", "COM6", "/dev/ttyACM0", "2341:0043", "/dev/ttyACM0, Arduino"},
        {"/dev/ttyUSB0 Serial", "COM7", "/dev/ttyUSB0", "0403:6001",
         "/dev/ttyUSB0, FT232R USB UART"},
    };
    const auto ports = DiscoverSerialPorts(sysfs.Root());
    ASSERT_EQ(ports.size(), std::size(expected));
    for (std::size_t i = 0; i < ports.size(); ++i) {
        SCOPED_TRACE(expected[i].devicePath);
        EXPECT_EQ(ports[i].valueName, expected[i].valueName);
        EXPECT_EQ(ports[i].data, expected[i].data);
        EXPECT_EQ(ports[i].devicePath, expected[i].devicePath);
        EXPECT_EQ(ports[i].vidPid, expected[i].vidPid);
        EXPECT_EQ(DescribePort(ports[i]), expected[i].description);
    }
    EXPECT_EQ(ports[6].manufacturer, "FTDI");
    EXPECT_EQ(ports[6].serialNumber, "A10K4TQS");
    EXPECT_NE(ports[6].sysfsPath.find("1-10:1.0/ttyUSB0"), std::string::npos) << ports[6].sysfsPath;
}

// What tells one adapter from another: the stable link udev keeps for it, and
// the USB identity. Only adapters get them; a link to another tty is ignored.
TEST_F(PortDiscovery, NamesEachAdapterByWhatStaysTheSameAcrossReplugs) {
    const std::string ftdi = "usb-FTDI_FT232R_USB_UART_A10K4TQS-if00-port0";
    sysfs.AddStableLink(ftdi, "ttyUSB0");
    sysfs.AddStableLink("usb-Arduino_Uno-if00", "ttyACM0");
    sysfs.AddStableLink("zz-later-alias", "ttyUSB0");  // a second link: the first by name wins
    sysfs.AddStableLink("pci-serial-ttyS0", "ttyS0");  // not an adapter: not asked
    sysfs.AddStableLink("usb-gone-if00", "ttyUSB9");   // no such port
    struct Expected {
        const char* devicePath;
        std::string stableName;
        std::string identity;
        const char* adapter;
    } expected[] = {
        {"/dev/ttyS0", "", "", ""},
        {"/dev/ttyS3", "", "", ""},
        {"/dev/ttyS10", "", "", ""},
        {"/dev/ttyAMA0", "", "", ""},
        {"/dev/ttyUSB1", "", "usb:1a86:7523", "(1a86:7523)"},
        {"/dev/ttyACM0", (sysfs.ById() / "usb-Arduino_Uno-if00").string(),
         (sysfs.ById() / "usb-Arduino_Uno-if00").string(), "Arduino (2341:0043)"},
        {"/dev/ttyUSB0", (sysfs.ById() / ftdi).string(), (sysfs.ById() / ftdi).string(),
         "FTDI FT232R USB UART (A10K4TQS, 0403:6001)"},
    };
    const auto ports = DiscoverSerialPorts(sysfs.Root(), sysfs.ById());
    ASSERT_EQ(ports.size(), std::size(expected));
    for (std::size_t i = 0; i < ports.size(); ++i) {
        SCOPED_TRACE(expected[i].devicePath);
        EXPECT_EQ(ports[i].devicePath, expected[i].devicePath);
        EXPECT_EQ(ports[i].stableName, expected[i].stableName);
        EXPECT_EQ(AdapterIdentity(ports[i]), expected[i].identity);
        EXPECT_EQ(DescribeAdapter(ports[i]), expected[i].adapter);
    }
    // Without a stable link, the serial number makes the identity.
    SerialPortInfo unlinked = ports[6];
    unlinked.stableName.clear();
    EXPECT_EQ(AdapterIdentity(unlinked), "usb:0403:6001:A10K4TQS");
    EXPECT_TRUE(DiscoverSerialPorts(sysfs.Root(), "/nonexistent/by-id")[6].stableName.empty());
}

// A usb: name finds its adapter on whatever tty it has now, and each name
// names exactly the adapters it should.
TEST_F(PortDiscovery, AUsbNameFindsItsAdapterWhereverItIsPlugged) {
    const auto ports = DiscoverSerialPorts(sysfs.Root(), sysfs.ById());
    struct Case {
        const char* name;
        std::optional<std::string> device;
    } cases[] = {
        {"usb:0403:6001", "/dev/ttyUSB0"},        {"usb:0403:6001:A10K4TQS", "/dev/ttyUSB0"},
        {"USB:0403:6001", "/dev/ttyUSB0"},         // prefix in any case
        {"usb:1A86:7523", "/dev/ttyUSB1"},         // hex in any case
        {"usb:0403:6001:a10k4tqs", std::nullopt},  // the serial number is exact
        {"usb:0403:6001:OTHER", std::nullopt},    {"usb:2341:0043", "/dev/ttyACM0"},
        {"usb:2341:0043:X", std::nullopt},  // no serial number known: a named one cannot match
        {"usb:0403:6015", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::string error;
        const auto usb = ParseUsbPortName(c.name, error);
        ASSERT_TRUE(usb) << error;
        EXPECT_EQ(DeviceForUsbPortName(*usb, ports), c.device);
    }

    // Plugged in again, the FTDI adapter is ttyUSB2 at another place on the bus.
    FakeSysfs replugged;
    replugged.AddUsbIdentity("usb2/2-1", "0403", "6001", "FTDI", "FT232R USB UART", "A10K4TQS");
    replugged.AddTty("usb2/2-1/2-1:1.0/ttyUSB2", "ttyUSB2");
    std::string error;
    EXPECT_EQ(DeviceForUsbPortName(*ParseUsbPortName("usb:0403:6001:A10K4TQS", error),
                                   DiscoverSerialPorts(replugged.Root(), replugged.ById())),
              "/dev/ttyUSB2");
}

TEST_F(PortDiscovery, TheVariableReplacesDiscoveryCompletely) {
    {
        // Only the named ports, in the variable's order; a path that discovery
        // knows keeps what is known of its adapter.
        ScopedPortMap map(std::string("COM3=/dev/ttyUSB0;COM1=/tmp/vtty"));
        const auto ports = ListSerialPorts(sysfs.Root());
        ASSERT_EQ(ports.size(), 2u);
        EXPECT_EQ(ports[0].data, "COM3");
        EXPECT_EQ(ports[0].valueName, "/dev/ttyUSB0 Serial");
        EXPECT_EQ(ports[0].product, "FT232R USB UART");
        EXPECT_EQ(ports[1].data, "COM1");
        EXPECT_EQ(ports[1].devicePath, "/tmp/vtty");
        EXPECT_EQ(DescribePort(ports[1]), "/tmp/vtty");
    }
    {
        ScopedPortMap empty(std::string(""));
        EXPECT_TRUE(ListSerialPorts(sysfs.Root()).empty()) << "set but empty: no ports at all";
    }
    EXPECT_EQ(ListSerialPorts(sysfs.Root()).size(), 7u) << "unset: discovery";
}

// What a front end offers and uses when no port is named: the entries that
// pass the filters and name a port, by number, past COM8 too.
TEST(ListedPortsInOrder, KeepsNamedPortsByNumberFirstOfEachNumber) {
    auto port = [](const char* valueName, const char* data, const char* device) {
        SerialPortInfo info;
        info.valueName = valueName;
        info.data = data;
        info.devicePath = device;
        return info;
    };
    const std::vector<SerialPortInfo> listed = {
        port("/dev/ttyUSB3 Serial", "COM12", "/dev/ttyUSB3"),
        port("\\Device\\Serial1", "COM3", "/dev/ttyS1"),
        port("/dev/ttyUSB0", "COM2", "/dev/ttyUSB0"),          // name without "Serial"
        port("\\Device\\Serial9", "com1", "/dev/ttyS9"),       // lower case
        port("\\Device\\Serial8", "COM0", "/dev/ttyS8"),       // names no port
        port("/dev/ttyUSB1 Serial", "COM3", "/dev/ttyUSB1"),   // a second COM3
        port("/dev/ttyUSB2 Serial", "COM9x", "/dev/ttyUSB2"),  // digits then text
        port("/dev/ttyUSB4 Serial", "COM99999999999", "/dev/ttyUSB4"),
    };
    const auto ordered = ListedPortsInOrder(listed);
    std::vector<std::string> devices;
    for (const auto& entry : ordered)
        devices.push_back(entry.data + "=" + entry.devicePath);
    EXPECT_EQ(devices, (std::vector<std::string>{"COM3=/dev/ttyS1", "COM9x=/dev/ttyUSB2",
                                                 "COM12=/dev/ttyUSB3"}));
    EXPECT_TRUE(ListedPortsInOrder({}).empty());
}

TEST(PortDiscoveryWithoutSysfs, NoSysfsMeansNoPorts) {
    EXPECT_TRUE(DiscoverSerialPorts("/nonexistent/kvq-sysfs").empty());
}

}  // namespace
