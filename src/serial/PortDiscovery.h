#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "serial/PortNames.h"

namespace kvq::serial {

// One serial port as the port list gives it: in the shape of the platform's
// port registry (a value name and its data "COMn"), so the dialog's filters
// run on it unchanged, plus what the system knows of the device behind it, so
// the user can tell two adapters apart.
struct SerialPortInfo {
    std::string valueName;   // "\Device\Serial0", "/dev/ttyUSB0 Serial"
    std::string data;        // "COM1"
    std::string devicePath;  // "/dev/ttyUSB0"; on Windows the kernel's device, "\Device\Serial0"
    std::string sysfsPath;   // the hardware device in sysfs; empty when not known
    // USB adapters only; empty when not known.
    std::string manufacturer;
    std::string product;
    std::string serialNumber;
    std::string vidPid;  // "0403:6001"
    // The name under /dev/serial/by-id that links to the device: it stays the
    // same when the adapter is plugged in again, whatever tty it gets then.
    std::string stableName;
};

// Where the system keeps what it knows of the ports: sysfs, and the directory
// of stable links to the USB serial devices. Tests put made-up trees there.
inline constexpr const char* DefaultSysfsRoot = "/sys";
inline constexpr const char* DefaultByIdDirectory = "/dev/serial/by-id";

// The adapter as a person knows it, short enough for a menu: manufacturer and
// product, then serial number and VID:PID in brackets,
// "FTDI FT232R USB UART (A10K4TQS, 0403:6001)"; empty when nothing is known.
std::string DescribeAdapter(const SerialPortInfo& port);

// What names this adapter whatever tty or COM number it gets: its stable
// name when the system gives one, otherwise "usb:VID:PID:SERIAL" (or
// "usb:VID:PID" without a serial number); empty for a port with no USB
// adapter known behind it. Either form is accepted as a port name.
std::string AdapterIdentity(const SerialPortInfo& port);

// A short description for menus and messages: the device path, and the USB
// product (or manufacturer, or VID:PID) when known: "/dev/ttyUSB0, FT232R USB UART".
std::string DescribePort(const SerialPortInfo& port);

// The real serial ports that sysfs (normally mounted at "/sys") lists under
// class/tty: ttyS* with a UART behind them, on-board UARTs such as ttyAMA*, and
// USB adapters (ttyUSB*, ttyACM*, ttyXRUSB*, ...); a port that is the kernel's
// console is not free for the bus and is left out. They are numbered COM1,
// COM2, ... in an order that does not depend on the order of plugging: ttyS by
// number, other on-board UARTs by name and number, then adapters by their
// place on the bus.
// Each port's stable name is looked for among the links in byIdDirectory.
std::vector<SerialPortInfo> DiscoverSerialPorts(
    const std::filesystem::path& sysfsRoot = DefaultSysfsRoot,
    const std::filesystem::path& byIdDirectory = DefaultByIdDirectory);

// The filters every port list goes through, as they apply to the registry's
// values: the value name contains "Serial" and the data starts with "COM"
// and a run of decimal digits, read as the port's number (a number too large
// for an int reads as INT_MAX, which names no port the program offers). Text
// after a NUL in either is not looked at. None when the entry fails a filter.
std::optional<int> ListedPortNumber(const SerialPortInfo& port);

// The ports the program works with: the entries of KVQ_SERIAL_PORTS when the
// variable is set (even empty), otherwise DiscoverSerialPorts().
std::vector<SerialPortInfo> ListSerialPorts(
    const std::filesystem::path& sysfsRoot = DefaultSysfsRoot,
    const std::filesystem::path& byIdDirectory = DefaultByIdDirectory);

// Whether the adapter behind a port is the one a USB spec names.
bool MatchesUsbPortSpec(const UsbPortSpec& spec, const SerialPortInfo& port);

// The device of the first of `ports` whose adapter matches the spec.
std::optional<std::string> DeviceForUsbPortSpec(const UsbPortSpec& spec,
                                                const std::vector<SerialPortInfo>& ports);

// The entries that pass the filters and name a port (COM1 and up), by port
// number (of entries with the same number, the first), as a front end offers
// them. The first of them is the port the program uses when none is named.
std::vector<SerialPortInfo> ListedPortsInOrder(const std::vector<SerialPortInfo>& ports);

}  // namespace kvq::serial
