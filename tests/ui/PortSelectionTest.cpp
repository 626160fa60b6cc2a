// The dialog's choice of serial port, without Qt: the registry filters over a
// made-up port list, the Communication menu's marks, the initial port, and the
// change of port against a link thread played by the test.

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "core/MainDataStore.h"
#include "core/ThreadMessages.h"
#include "ui/PortSelection.h"

using namespace kvq::core;
using namespace kvq::serial;
using namespace kvq::ui;

namespace {

using std::chrono::milliseconds;

SerialPortInfo Entry(std::string name, std::string data) {
    SerialPortInfo port;
    port.valueName = std::move(name);
    port.data = std::move(data);
    return port;
}

// The menu as a text, one letter a port: 'x' checked, 'o' enabled, '-' greyed.
std::string Menu(const PortSelection& ports) {
    std::string text;
    for (int n = 1; n <= MenuPortCount; ++n) {
        const auto& item = ports.Item(n);
        text += item.checked ? 'x' : item.enabled ? 'o' : '-';
    }
    return text;
}

struct EnumerationCase {
    const char* label;
    std::vector<SerialPortInfo> ports;
    int count;
    const char* menu;  // after InitialisePortMenu and marking the initial port
    const char* initial;
};

TEST(PortEnumeration, FiltersCountsAndOffersPorts) {
    const EnumerationCase cases[] = {
        {"two ports",
         {Entry("\\Device\\Serial0", "COM1"), Entry("\\Device\\Serial1", "COM3")},
         2,
         "x-o-----",
         "COM1"},
        // Ports past COM8 are listed after Com 8 and can be the initial port.
        {"COM12 alone is the initial port",
         {Entry("\\Device\\Serial0", "COM12")},
         1,
         "--------",
         "COM12"},
        {"the lowest present port, past COM8 too",
         {Entry("\\Device\\Serial0", "COM12"), Entry("\\Device\\Serial1", "COM9")},
         2,
         "--------",
         "COM9"},
        {"lower-case data is no port", {Entry("\\Device\\Serial0", "com3")}, 0, "x-------", "COM1"},
        {"a name without Serial is no port",
         {Entry("\\Device\\VCP0", "COM2"), Entry("\\Device\\serial1", "COM4")},
         0,
         "x-------",
         "COM1"},
        {"leading digits only; none is no port",
         {Entry("/dev/ttyUSB0 Serial", "COM5x"), Entry("\\Device\\Serial9", "COMx5"),
          Entry("\\Device\\Serial8", "COM")},
         1,
         "----x---",
         "COM5"},
        {"COM0 and a number too big for an int are counted, not offered",
         {Entry("\\Device\\Serial0", "COM0"), Entry("\\Device\\Serial1", "COM99999999999"),
          Entry("\\Device\\Serial2", "COM8")},
         3,
         "-------x",
         "COM8"},
        {"the lowest present port is the initial one",
         {Entry("\\Device\\Serial5", "COM6"), Entry("\\Device\\Serial2", "COM2")},
         2,
         "-x---o--",
         "COM2"},
        {"data ends at its NUL",
         {Entry("\\Device\\Serial0", std::string("CO\0M1", 5))},
         0,
         "x-------",
         "COM1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        PortSelection ports;
        EXPECT_EQ(ports.EnumerateSerialPorts(c.ports), c.count);
        ports.InitialisePortMenu();
        EXPECT_EQ(ports.ChooseInitialPort(), c.initial);
        ports.MarkPortMenu(ports.CurrentPort());
        EXPECT_EQ(Menu(ports), c.menu);
    }
}

TEST(PortMenu, MarksFollowThePortNumber) {
    PortSelection ports;
    ports.EnumerateSerialPorts(
        {Entry("\\Device\\Serial0", "COM1"), Entry("\\Device\\Serial1", "COM3")});
    ports.InitialisePortMenu();
    EXPECT_EQ(Menu(ports), "o-o-----");
    const struct {
        int port;
        const char* menu;
    } steps[] = {
        {3, "o-x-----"},   // checks only that port
        {1, "x-o-----"},   // the old mark goes
        {9, "o-o-----"},   // out of range: nothing checked, nothing greyed
        {2, "oxo-----"},   // a greyed port can carry the mark
        {0, "--------"},   // 0 and -1 grey everything
        {-1, "--------"},  //
    };
    for (const auto& step : steps) {
        ports.MarkPortMenu(step.port);
        EXPECT_EQ(Menu(ports), step.menu) << "MarkPortMenu(" << step.port << ")";
    }
}

TEST(PortMenu, PortsPastCom8FollowCom8) {
    PortSelection ports;
    EXPECT_EQ(ports.EnumerateSerialPorts(
                  {Entry("\\Device\\Serial0", "COM12"), Entry("\\Device\\Serial1", "COM2"),
                   Entry("\\Device\\Serial2", "COM300"), Entry("\\Device\\Serial3", "COM9")}),
              4);
    ports.InitialisePortMenu();
    EXPECT_EQ(ports.MenuPorts(), (std::vector<int>{1, 2, 3, 4, 5, 6, 7, 8, 9, 12}))
        << "COM300 is beyond the menu";
    EXPECT_EQ(ports.ChooseInitialPort(), "COM2");
    EXPECT_TRUE(ports.Item(12).enabled);
    EXPECT_FALSE(ports.Item(10).enabled);
    ports.MarkPortMenu(12);
    EXPECT_TRUE(ports.Item(12).checked);
    EXPECT_FALSE(ports.Item(2).checked);
    EXPECT_EQ(Menu(ports), "-o------");
    EXPECT_EQ(ports.MenuText(12), "Com 12");
    // Command ids of their own, clear of the eight fixed ones and About.
    std::vector<int> ids;
    for (const int n : ports.MenuPorts())
        ids.push_back(PortMenuId(n));
    ids.push_back(AboutMenuId);
    std::sort(ids.begin(), ids.end());
    EXPECT_EQ(std::adjacent_find(ids.begin(), ids.end()), ids.end());
    EXPECT_EQ(PortMenuId(8), 32780);
}

TEST(PortMenu, NamesAndTexts) {
    EXPECT_EQ(PortNameOf(1), "COM1");
    EXPECT_EQ(PortNameOf(8), "COM8");
    EXPECT_EQ(PortNameOf(0), "");
    EXPECT_EQ(PortNameOf(9), "COM9");
    EXPECT_EQ(PortNameOf(255), "COM255");
    EXPECT_EQ(PortNameOf(256), "");

    // An adapter is shown as the user knows it, a port without one by its device.
    PortSelection ports;
    SerialPortInfo usb = Entry("/dev/ttyUSB0 Serial", "COM2");
    usb.devicePath = "/dev/ttyUSB0";
    usb.product = "FT232R USB UART";
    SerialPortInfo full = Entry("/dev/ttyUSB1 Serial", "COM4");
    full.devicePath = "/dev/ttyUSB1";
    full.manufacturer = "FTDI";
    full.product = "USB-RS485";
    full.serialNumber = "A1B2C3";
    full.vidPid = "0403:6001";
    SerialPortInfo bare = Entry("/dev/ttyUSB2 Serial", "COM5");
    bare.devicePath = "/dev/ttyUSB2";
    bare.vidPid = "1a86:7523";
    SerialPortInfo builtIn = Entry("\\Device\\Serial0", "COM1");
    builtIn.devicePath = "/dev/ttyS0";
    ports.EnumerateSerialPorts({builtIn, usb, full, bare});
    EXPECT_EQ(ports.MenuText(1), "Com 1  (/dev/ttyS0)");
    EXPECT_EQ(ports.MenuText(2), "Com 2  FT232R USB UART");
    EXPECT_EQ(ports.MenuText(3), "Com 3");
    EXPECT_EQ(ports.MenuText(4), "Com 4  FTDI USB-RS485 (A1B2C3, 0403:6001)");
    EXPECT_EQ(ports.MenuText(5), "Com 5  (1a86:7523)");
    EXPECT_EQ(PortMenuIds[8], 32780) << "32779 is Help > About...";
}

// A link thread that answers MsgReopenPort by "opening" the named port after
// a delay: PortOpened 1 for the names it can open, 0 for the others.
class FakeLinkThread {
public:
    FakeLinkThread(CMainDataStore& context, std::string openable, milliseconds delay)
        : context_(context), openable_(std::move(openable)), delay_(delay), id_(NewThreadId()) {
        CreateMessageQueue(id_);
        thread_ = std::thread([this] {
            while (!stop_.load()) {
                ThreadMessage message;
                if (!WaitMessage(id_, 10) || !TakeMessage(id_, message)) continue;
                if (message.number != MsgReopenPort) continue;
                ++reopens_;
                std::this_thread::sleep_for(delay_);
                context_.PortOpened.store(context_.SelectedPortName() == openable_ ? 1 : 0);
            }
        });
    }
    ~FakeLinkThread() {
        stop_.store(true);
        thread_.join();
        DestroyMessageQueue(id_);
    }
    ThreadId Id() const { return id_; }
    int Reopens() const { return reopens_.load(); }

private:
    CMainDataStore& context_;
    std::string openable_;
    milliseconds delay_;
    ThreadId id_;
    std::atomic<bool> stop_{false};
    std::atomic<int> reopens_{0};
    std::thread thread_;
};

// A memory held in the test, counting what is written to it.
class MemoryForTest final : public AdapterMemory {
public:
    explicit MemoryForTest(std::string kept = {}) : kept_(std::move(kept)) {}
    std::string Recall() override { return kept_; }
    bool Remember(const std::string& identity) override {
        kept_ = identity;
        ++writes_;
        return true;
    }
    const std::string& Kept() const { return kept_; }
    int Writes() const { return writes_; }

private:
    std::string kept_;
    int writes_ = 0;
};

// Three adapters and a built-in port, numbered as they happen to be plugged
// in today.
std::vector<SerialPortInfo> PluggedToday() {
    auto adapter = [](const char* com, const char* device, const char* vidPid, const char* serial,
                      const char* stable) {
        SerialPortInfo port = Entry(std::string(device) + " Serial", com);
        port.devicePath = device;
        port.vidPid = vidPid;
        port.serialNumber = serial;
        port.stableName = stable;
        return port;
    };
    SerialPortInfo builtIn = Entry("\\Device\\Serial0", "COM1");
    builtIn.devicePath = "/dev/ttyS0";
    return {builtIn, adapter("COM2", "/dev/ttyUSB0", "1a86:7523", "", ""),
            adapter("COM3", "/dev/ttyUSB1", "0403:6001", "A1B2C3",
                    "/dev/serial/by-id/usb-FTDI_USB-RS485_A1B2C3-if00-port0"),
            adapter("COM4", "/dev/ttyUSB2", "0403:6001", "Z9Y8X7", "")};
}

// The dialog starts on the adapter chosen last, wherever it is plugged in
// now; without it, on the lowest present port as always.
TEST(RememberedAdapter, TheInitialPortIsTheRememberedAdapterWhenPresent) {
    struct Case {
        const char* remembered;
        const char* initial;
    } cases[] = {
        {"/dev/serial/by-id/usb-FTDI_USB-RS485_A1B2C3-if00-port0", "COM3"},
        {"usb:0403:6001:Z9Y8X7", "COM4"},
        {"usb:1a86:7523", "COM2"},
        {"usb:0403:6001", "COM3"},  // a usb: name without serial number: the first that matches
        {"USB:0403:6001:z9y8x7", "COM1"},                         // serial numbers are exact
        {"/dev/serial/by-id/usb-FTDI_other-if00-port0", "COM1"},  // not plugged in
        {"usb:0403", "COM1"},                                     // not a usb: name
        {"COM4", "COM1"},                                         // a number is no identity
        {"", "COM1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.remembered);
        MemoryForTest memory(c.remembered);
        PortSelection ports;
        ports.SetMemory(&memory);
        ports.EnumerateSerialPorts(PluggedToday());
        EXPECT_EQ(ports.ChooseInitialPort(), c.initial);
        EXPECT_EQ(memory.Writes(), 0) << "starting is no choice of the user's";
    }
    // The built-in port is gone today: the remembered adapter still wins over
    // the lowest port.
    auto noBuiltIn = PluggedToday();
    noBuiltIn.erase(noBuiltIn.begin());
    MemoryForTest memory("usb:0403:6001:Z9Y8X7");
    PortSelection ports;
    ports.SetMemory(&memory);
    ports.EnumerateSerialPorts(noBuiltIn);
    EXPECT_EQ(ports.ChooseInitialPort(), "COM4");
    EXPECT_EQ(ports.CurrentPort(), 4);
}

class PortChange : public ::testing::Test {
protected:
    void SetUp() override {
        ports.EnumerateSerialPorts({Entry("\\Device\\Serial0", "COM1"),
                                    Entry("\\Device\\Serial1", "COM2"),
                                    Entry("\\Device\\Serial2", "COM3")});
        ports.InitialisePortMenu();
        context.SetSelectedPortName(ports.ChooseInitialPort());
        context.PortOpened.store(1);  // COM1 is open
    }
    CMainDataStore context;
    PortSelection ports;
};

TEST_F(PortChange, ReportsTheOutcomeOfThisReopenOnly) {
    const MessageText problem{"   Problem opening port?", "Serial Port Problem",
                              MessageText::Icon::Information};
    const MessageText changed{"   Communication has been changed to serial port 2.         ",
                              "Serial Port Success", MessageText::Icon::Information};
    FakeLinkThread link(context, "COM2", milliseconds(150));

    // A port that does not open: the box says so, the port in use stays, but
    // the link goes on with the new name.
    EXPECT_EQ(ports.ChangePort(3, context, link.Id()), problem);
    EXPECT_EQ(ports.CurrentPort(), 1);
    EXPECT_EQ(context.SelectedPortName(), "COM3");

    // One that opens.
    EXPECT_EQ(ports.ChangePort(2, context, link.Id()), changed);
    EXPECT_EQ(ports.CurrentPort(), 2);
    EXPECT_EQ(context.SelectedPortName(), "COM2");

    // The port in use: nothing at all.
    EXPECT_EQ(ports.ChangePort(2, context, link.Id()), std::nullopt);
    EXPECT_EQ(link.Reopens(), 2);
}

TEST_F(PortChange, AReopenSlowerThanTheAllowanceIsNoSuccessOfTheOldPort) {
    // PortOpened is still 1 from COM1 when the allowance ends.
    FakeLinkThread link(context, "COM2", milliseconds(400));
    const auto start = std::chrono::steady_clock::now();
    const auto box = ports.ChangePort(2, context, link.Id(), milliseconds(100));
    EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(300));
    ASSERT_TRUE(box);
    EXPECT_EQ(box->text, "   Problem opening port?");
    EXPECT_EQ(ports.CurrentPort(), 1);
}

TEST_F(PortChange, BeforeTheLinkThreadExistsTheNameWaitsForIt) {
    const auto start = std::chrono::steady_clock::now();
    const auto box = ports.ChangePort(3, context, 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, milliseconds(500)) << "nothing to wait for";
    ASSERT_TRUE(box);
    EXPECT_EQ(box->caption, "Serial Port Problem");
    EXPECT_EQ(ports.CurrentPort(), 1);
    EXPECT_EQ(context.SelectedPortName(), "COM3");
}

// The port the user switches to is remembered by its adapter once it opens;
// one that does not open is not, and a port without an adapter forgets.
TEST(RememberedAdapter, AChoiceThatOpensIsRememberedByItsAdapter) {
    CMainDataStore context;
    MemoryForTest memory;
    PortSelection ports;
    ports.SetMemory(&memory);
    ports.EnumerateSerialPorts(PluggedToday());
    ports.InitialisePortMenu();
    context.SetSelectedPortName(ports.ChooseInitialPort());
    context.PortOpened.store(1);
    FakeLinkThread link(context, "COM3", milliseconds(20));
    {
        FakeLinkThread failing(context, "none", milliseconds(20));
        ports.ChangePort(4, context, failing.Id());
        EXPECT_EQ(memory.Writes(), 0) << "COM4 did not open";
    }
    ports.ChangePort(3, context, link.Id());
    EXPECT_EQ(memory.Kept(), "/dev/serial/by-id/usb-FTDI_USB-RS485_A1B2C3-if00-port0");

    FakeLinkThread opensAll(context, "COM1", milliseconds(20));
    ports.ChangePort(1, context, opensAll.Id());
    EXPECT_EQ(memory.Kept(), "") << "the built-in port has no adapter to remember";
    EXPECT_EQ(memory.Writes(), 2);

    // Nothing kept and nothing to keep: not even an empty file is written.
    MemoryForTest empty;
    PortSelection builtIns;
    builtIns.SetMemory(&empty);
    builtIns.EnumerateSerialPorts(
        {Entry("\\Device\\Serial0", "COM1"), Entry("\\Device\\Serial1", "COM5")});
    context.SetSelectedPortName(builtIns.ChooseInitialPort());
    FakeLinkThread com5(context, "COM5", milliseconds(20));
    EXPECT_EQ(builtIns.ChangePort(5, context, com5.Id())->caption, "Serial Port Success");
    EXPECT_EQ(empty.Writes(), 0);
}

}  // namespace
