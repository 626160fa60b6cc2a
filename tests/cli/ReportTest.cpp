#include <gtest/gtest.h>

#include "actuator/VLX400E.h"
#include "cli/Report.h"
#include "serial/PortDiscovery.h"

using namespace kvq::actuator;
using namespace kvq::cli;

// Texts from the actuator are bytes, not known to be UTF-8: every line must
// still be valid JSON, ASCII only, and a person's UTF-8 must survive.
TEST(KvqctlJson, AnyBytesGiveOneValidAsciiLine) {
    DeviceSnapshot device;
    device.softwareVersion = std::string("i\xDD;_5\xAFI\xBA", 8);
    device.antennaModel = "Panel \xC3\xA9t\xC3\xA9";  // UTF-8 "été"
    device.serialNumber = std::string("A\"B\\C\n\x01", 7);
    device.problemText = std::string("\xC3", 1);  // a cut UTF-8 sequence
    const std::string line = JsonLine(DeviceJson({"READY", ""}, device));
    EXPECT_EQ(line.find('\n'), std::string::npos);
    for (const char c : line)
        EXPECT_LT(static_cast<unsigned char>(c), 0x80) << line;
    const auto parsed = nlohmann::json::parse(line);
    EXPECT_EQ(parsed["softwareVersion"], "i\u00dd;_5\u00afI\u00ba");
    EXPECT_EQ(parsed["antennaModel"], "Panel \u00e9t\u00e9");
    EXPECT_EQ(parsed["serialNumber"], std::string("A\"B\\C\n\x01", 7));
    EXPECT_EQ(parsed["problemText"], "\u00c3");
}

TEST(KvqctlJson, ReadyAndProgressComeFromTheRecord) {
    using enum ActuatorState;
    struct Case {
        ActuatorState state;
        bool complete;  // the check is over and its tilt is back
        const char* problem;
        double progress;
        bool ready;
        int shownProgress;
        const char* activity;
    } cases[] = {
        {Checking, true, "", 100.0, true, 0, "ready"},
        {Checking, true, "NO RECOGNIZED ANTENNA MODEL?", 0, false, 0, "ready"},
        {Checking, false, "", 37.9, false, 37, "checking"},
        {Updating, false, "", 55.5, false, 55, "updating"},
        {Moving, false, "", 140.0, false, 100, "moving"},
        {Looking, false, "", 12.0, false, 0, "looking"},
        {Failed, false, "", 80.0, false, 0, "failed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.state));
        DeviceSnapshot device;
        device.state = c.state;
        if (c.complete) device.step = CheckStep::Complete;
        device.problemText = c.problem;
        device.progress = c.progress;
        const auto json = DeviceJson({"", ""}, device);
        EXPECT_EQ(json["ready"], c.ready);
        EXPECT_EQ(json["progress"], c.shownProgress);
        EXPECT_EQ(json["activity"], c.activity);
    }
}

// What is not known is null, never a placeholder; stateText is a word for the
// activity; the state number stays the record's code.
TEST(KvqctlJson, UnknownValuesAreNull) {
    DeviceSnapshot looking;
    const auto none = DeviceJson({"LOOKING FOR DEVICE", "TORVIN E-VLX400 ?"}, looking);
    for (const char* key : {"serialNumber", "softwareVersion", "antennaModel", "minTilt",
                            "maxTilt", "currentTilt", "requestedTilt"})
        EXPECT_TRUE(none[key].is_null()) << key << ": " << none[key];
    EXPECT_EQ(none["stateText"], "LOOKING");
    EXPECT_EQ(none["state"], 0);

    DeviceSnapshot ready;
    ready.state = ActuatorState::Checking;
    ready.step = CheckStep::Complete;
    ready.serialNumber = "S-1";
    ready.softwareVersion = "01.23";
    ready.antennaModel = "AP0013";  // not in the table: no range
    ready.tiltKnown = true;
    ready.currentTilt = 35;
    const auto json = DeviceJson({"READY", ""}, ready);
    EXPECT_EQ(json["stateText"], "READY");
    EXPECT_EQ(json["state"], 9);
    EXPECT_EQ(json["serialNumber"], "S-1");
    EXPECT_EQ(json["currentTilt"], 35);
    EXPECT_TRUE(json["minTilt"].is_null());
    EXPECT_TRUE(json["maxTilt"].is_null());
    EXPECT_TRUE(json["requestedTilt"].is_null()) << "no move was asked for";
}

// Each port with its adapter, and under an adapter the name that finds it
// again after a replug: the stable link when there is one, else its USB identity.
TEST(KvqctlPorts, ListEachAdapterWithTheNameThatFindsItAgain) {
    kvq::serial::SerialPortInfo builtIn;
    builtIn.data = "COM1";
    builtIn.devicePath = "/dev/ttyS0";
    kvq::serial::SerialPortInfo ftdi;
    ftdi.data = "COM2";
    ftdi.devicePath = "/dev/ttyUSB0";
    ftdi.manufacturer = "FTDI";
    ftdi.product = "USB-RS485";
    ftdi.serialNumber = "A1B2C3";
    ftdi.vidPid = "0403:6001";
    ftdi.stableName = "/dev/serial/by-id/usb-FTDI_USB-RS485_A1B2C3-if00-port0";
    kvq::serial::SerialPortInfo unlinked;
    unlinked.data = "COM3";
    unlinked.devicePath = "/dev/ttyUSB1";
    unlinked.vidPid = "1a86:7523";
    const std::vector ports = {builtIn, ftdi, unlinked};
    EXPECT_EQ(PortsReport(ports),
              "COM1  /dev/ttyS0\n"
              "COM2  /dev/ttyUSB0  FTDI USB-RS485 [0403:6001]  serial A1B2C3\n"
              "      /dev/serial/by-id/usb-FTDI_USB-RS485_A1B2C3-if00-port0\n"
              "COM3  /dev/ttyUSB1 [1a86:7523]\n"
              "      usb:1a86:7523\n");
    const auto json = PortsJson(ports);
    ASSERT_EQ(json.size(), 3u);
    EXPECT_EQ(json[0]["identity"], "");
    EXPECT_EQ(json[1]["stableName"], ftdi.stableName);
    EXPECT_EQ(json[1]["identity"], ftdi.stableName);
    EXPECT_EQ(json[2]["stableName"], "");
    EXPECT_EQ(json[2]["identity"], "usb:1a86:7523");
}
