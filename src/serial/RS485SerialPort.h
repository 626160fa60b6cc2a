#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

class CMainDataStore;

// Why the last Open failed, so a front end can say it in a sentence.
enum class OpenFailure : std::uint8_t {
    None,              // the last open succeeded (or none was tried)
    NoSuchDevice,      // the name maps to no device, or the device does not exist
    Busy,              // another program (or another open here) holds the port
    PermissionDenied,  // the user may not open the device
    NotASerialPort,    // the device exists but is not a terminal
    Other,             // anything else; see LastOpenError()
};

// The program's only access to the serial line: an RS-485 adapter on a serial
// port, 8N1, no flow control, DTR and RTS on, 9600 or 115200 baud. Only the link
// thread calls the operations; other threads read the flags.
class CRS485SerialPort {
public:
    static constexpr std::size_t TransmitSize = 256;

    explicit CRS485SerialPort(CMainDataStore& context);
    virtual ~CRS485SerialPort();
    CRS485SerialPort(const CRS485SerialPort&) = delete;
    CRS485SerialPort& operator=(const CRS485SerialPort&) = delete;

    // Opens "COMn" (through the port map) or a device path starting with '/'.
    // A rate of 9600 gives 9600, anything else 115200. The outcome shows in
    // IsOpen, in the context's PortOpened and in LastOpenFailure. The name "USB"
    // opens nothing and leaves PortOpened as it was.
    void Open(const std::string& name, std::int32_t baudRate);
    // Purges, restores the settings found at open, releases exclusivity, closes.
    void Close();
    void Purge();
    bool HasInput();
    // One byte, waiting at most about 20 ms for it.
    bool ReadByte(std::uint8_t& byte);
    void ResetTransmit();
    void AppendTransmit(const std::uint8_t* bytes, std::size_t count);
    // Writes the transmit buffer in one call; the buffer stays as it is.
    void SendTransmit();

    std::int32_t BaudRate() const { return baudRate_.load(); }
    OpenFailure LastOpenFailure() const { return lastFailure_.load(); }
    int LastOpenError() const { return lastError_.load(); }  // errno of the failed call

    std::atomic<std::uint8_t> ReceivedSinceAsked{0};
    std::atomic<std::uint8_t> IsOpen{0};

private:
    struct Platform;  // the open device and the settings found at open
    CMainDataStore& context_;
    std::unique_ptr<Platform> platform_;
    std::array<std::uint8_t, TransmitSize> transmit_{};
    std::size_t transmitLength_ = 0;  // 0 .. TransmitSize; appends beyond a full buffer are dropped
    std::atomic<std::int32_t> baudRate_{0};
    std::atomic<OpenFailure> lastFailure_{OpenFailure::None};
    std::atomic<int> lastError_{0};
};

// One sentence for the user about why the port could not be opened, with the
// dialout hint when permission was denied.
std::string DescribeOpenFailure(OpenFailure failure, const std::string& portName, int error = 0);
