#include "serial/SerialLineWin32.h"

#include <windows.h>

#include <algorithm>
#include <cctype>
#include <array>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "serial/PortNames.h"

namespace kvq::serial {

namespace {

using SteadyClock = std::chrono::steady_clock;

// How long a frame may take to go out beyond its own wire time before the
// write is given up: only a stuck line ever needs it.
constexpr auto WriteWait = std::chrono::milliseconds(100);
// How long aborted I/O may take to report back before the handle is closed.
constexpr DWORD AbortWaitMs = 1000;
// The driver's queues, as large as the longest frame needs and more.
constexpr DWORD QueueSize = 512;
// How long a read of octets already queued may take.
constexpr DWORD TakeWaitMs = 100;

// Not in every SDK's headers; Windows 10 (1803) and later know it.
#ifndef CREATE_WAITABLE_TIMER_HIGH_RESOLUTION
#define CREATE_WAITABLE_TIMER_HIGH_RESOLUTION 0x00000002
#endif

OpenFailure FailureForError(DWORD error) {
    switch (error) {
        case ERROR_FILE_NOT_FOUND:
        case ERROR_PATH_NOT_FOUND:
        case ERROR_DEV_NOT_EXIST:
        case ERROR_BAD_UNIT:
        case ERROR_INVALID_NAME:
            return OpenFailure::NoSuchDevice;
        // A COM port held by another handle answers "access denied", not a
        // sharing violation: it is the port's way of saying busy.
        case ERROR_ACCESS_DENIED:
        case ERROR_SHARING_VIOLATION:
        case ERROR_BUSY:
            return OpenFailure::Busy;
        case ERROR_INVALID_FUNCTION:
        case ERROR_NOT_SUPPORTED:
            return OpenFailure::NotASerialPort;
        default:
            return OpenFailure::Other;
    }
}

// The name CreateFileA opens: the device namespace, so that COM10 and above
// are reached as well as COM1..COM9.
std::string DeviceNameFor(const std::string& name) {
    if (name.rfind("\\\\.\\", 0) == 0) return name;
    if (IsComName(name)) return "\\\\.\\" + name;
    return {};
}

// The name of the claim on a port: one per device, whatever case it was named in.
std::string ClaimNameFor(const std::string& device) {
    std::string name = "Local\\kvq-serial-port-";
    for (char c : device.substr(4)) {
        name += c == '\\' ? '/' : static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    }
    return name;
}

// 10 bits an octet (start, 8 data, stop) at the line's rate.
std::chrono::microseconds WireTime(std::size_t octets, std::int32_t rate) {
    return std::chrono::microseconds(static_cast<std::int64_t>(octets) * 10 * 1000000 /
                                     std::max<std::int32_t>(rate, 1));
}

}  // namespace

struct SerialLineWin32::Platform {
    HANDLE port = INVALID_HANDLE_VALUE;
    DCB savedState{};                // the settings found at open, put back at close
    COMMTIMEOUTS savedTimeouts{};
    bool gone = false;               // the device failed a read; only a new open helps

    // While the link waits for input, a read of one octet is kept pending: its
    // event is the line's part of the wait. What it brought, and what a read
    // of the octets already queued brought, waits in `received` until Read.
    OVERLAPPED readRequest{};
    bool readPending = false;
    std::array<std::uint8_t, QueueSize> readBuffer{};
    std::vector<std::uint8_t> received;
    std::size_t receivedOffset = 0;

    // The frame going out stays here until the driver has taken it.
    OVERLAPPED writeRequest{};
    bool writePending = false;
    std::vector<std::uint8_t> writeBuffer;
    SteadyClock::time_point writeDeadline{};

    // Held while the port is open: a claim on its name that other instances
    // of the tool see even where the driver lets a port be opened twice
    // (Wine, some virtual port drivers).
    HANDLE claim = nullptr;

    HANDLE wakeEvent = nullptr;  // auto-reset: one wake-up ends one wait
    HANDLE timer = nullptr;      // the wait's deadline, to the microsecond where the system can

    bool Open() const { return port != INVALID_HANDLE_VALUE; }

    std::size_t Buffered() const { return received.size() - receivedOffset; }

    void Keep(std::size_t count) {
        if (receivedOffset == received.size()) {
            received.clear();
            receivedOffset = 0;
        }
        received.insert(received.end(), readBuffer.begin(),
                        readBuffer.begin() + static_cast<std::ptrdiff_t>(count));
    }

    // Takes the result of the pending read if it has finished; with wait,
    // waits for it (only after it was aborted). True while it is still pending.
    bool CollectRead(bool wait) {
        if (!readPending) return false;
        DWORD got = 0;
        if (::GetOverlappedResult(port, &readRequest, &got, wait ? TRUE : FALSE)) {
            readPending = false;
            Keep(got);
            return false;
        }
        const DWORD error = ::GetLastError();
        if (error == ERROR_IO_INCOMPLETE) return true;
        readPending = false;
        // An abort (a purge) is ours; anything else means the device went away.
        if (error != ERROR_OPERATION_ABORTED) gone = true;
        return false;
    }

    // Starts a read of count octets: it finishes at once when they are
    // queued, otherwise it stays pending until the first octet comes.
    void StartRead(DWORD count) {
        if (readPending || gone || !Open()) return;
        ::ResetEvent(readRequest.hEvent);
        DWORD got = 0;
        if (::ReadFile(port, readBuffer.data(), count, &got, &readRequest)) {
            Keep(got);
            return;
        }
        const DWORD error = ::GetLastError();
        if (error == ERROR_IO_PENDING) {
            readPending = true;
        } else if (error != ERROR_OPERATION_ABORTED) {
            gone = true;
        }
    }

    // The read a wait leaves pending: one octet. (Asked for more, Wine's read
    // waits for all of them despite the time-outs, and one octet is enough
    // to end a wait.)
    void StartWaitRead() { StartRead(1); }

    // Takes the octets already queued without waiting. Not while a read is
    // pending: the octet it is about to take comes first.
    void TakeQueued() {
        if (readPending || gone || !Open()) return;
        DWORD errors = 0;
        COMSTAT status{};
        // Also clears a line error, which would otherwise stop the next read.
        if (!::ClearCommError(port, &errors, &status) || status.cbInQue == 0) return;
        StartRead(std::min<DWORD>(status.cbInQue, static_cast<DWORD>(readBuffer.size())));
        // The octets are there, so the read finishes at once; a driver that
        // still says pending gets a moment before the read is taken back.
        if (readPending) ::WaitForSingleObject(readRequest.hEvent, TakeWaitMs);
        CollectRead(false);
        AbandonRead();
    }

    // Lets a request finish within waitMs, else takes it back. False when
    // even that was not reported: its buffer then stays its own until the
    // handle is closed, and the line is treated as gone.
    bool Settle(OVERLAPPED& request, DWORD waitMs) {
        if (::WaitForSingleObject(request.hEvent, waitMs) != WAIT_OBJECT_0) {
            ::CancelIoEx(port, &request);
            if (::WaitForSingleObject(request.hEvent, AbortWaitMs) != WAIT_OBJECT_0) {
                gone = true;
                return false;
            }
        }
        DWORD ignored = 0;
        ::GetOverlappedResult(port, &request, &ignored, FALSE);
        return true;
    }

    // Takes the pending read back. (A purge is meant to abort it, but
    // Wine's does not.)
    void AbandonRead() {
        if (readPending && Settle(readRequest, 0)) readPending = false;
    }

    // Waits for the frame still going out, at most until its deadline.
    void FinishWrite() {
        if (!writePending) return;
        const auto left = std::chrono::ceil<std::chrono::milliseconds>(writeDeadline -
                                                                       SteadyClock::now());
        if (Settle(writeRequest, left.count() > 0 ? static_cast<DWORD>(left.count()) : 0))
            writePending = false;
    }

    void DropInput() {
        received.clear();
        receivedOffset = 0;
    }
};

SerialLineWin32::SerialLineWin32() : platform_(std::make_unique<Platform>()) {
    Platform& p = *platform_;
    p.wakeEvent = ::CreateEventA(nullptr, FALSE, FALSE, nullptr);
    p.readRequest.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    p.writeRequest.hEvent = ::CreateEventA(nullptr, TRUE, FALSE, nullptr);
    // A high-resolution timer ends a wait on the microsecond it is meant for;
    // where the system does not have one, a plain timer does.
    p.timer = ::CreateWaitableTimerExW(nullptr, nullptr, CREATE_WAITABLE_TIMER_HIGH_RESOLUTION,
                                       TIMER_ALL_ACCESS);
    if (p.timer == nullptr) p.timer = ::CreateWaitableTimerExW(nullptr, nullptr, 0, TIMER_ALL_ACCESS);
}

SerialLineWin32::~SerialLineWin32() {
    Close();
    const Platform& p = *platform_;
    for (HANDLE handle : {p.wakeEvent, p.readRequest.hEvent, p.writeRequest.hEvent, p.timer}) {
        if (handle != nullptr) ::CloseHandle(handle);
    }
}

std::unique_ptr<SerialLine> MakeSystemSerialLine() {
    return std::make_unique<SerialLineWin32>();
}

std::string SystemErrorText(int error) {
    char* text = nullptr;
    const DWORD length = ::FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(error), 0, reinterpret_cast<char*>(&text), 0, nullptr);
    std::string message = length > 0 && text != nullptr ? std::string(text, length) : std::string();
    if (text != nullptr) ::LocalFree(text);
    // The system's texts end in a full stop and a line break; the caller adds its own.
    while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                message.back() == ' ' || message.back() == '.')) {
        message.pop_back();
    }
    return message.empty() ? "system error" : message;
}

OpenOutcome SerialLineWin32::Open(const std::string& name, std::int32_t baudRate) {
    // Normally called on a closed port; never leak the handle if it is not.
    Close();
    IsOpen = 0;
    if (name == "USB") {
        return OpenOutcome::NotTried;
    }

    Platform& p = *platform_;
    if (p.wakeEvent == nullptr || p.readRequest.hEvent == nullptr ||
        p.writeRequest.hEvent == nullptr || p.timer == nullptr) {
        NoteFailed(OpenFailure::Other, static_cast<int>(ERROR_NOT_ENOUGH_MEMORY));
        return OpenOutcome::Failed;
    }
    bool stateSaved = false;
    const auto fail = [&](DWORD error, OpenFailure failure) {
        if (p.claim != nullptr) {
            ::CloseHandle(p.claim);
            p.claim = nullptr;
        }
        if (p.Open()) {
            if (stateSaved) {
                ::SetCommTimeouts(p.port, &p.savedTimeouts);
                ::SetCommState(p.port, &p.savedState);
            }
            ::CloseHandle(p.port);
        }
        p.port = INVALID_HANDLE_VALUE;
        NoteFailed(failure, static_cast<int>(error));
        return OpenOutcome::Failed;
    };

    const std::string device = DeviceNameFor(name);
    if (device.empty()) {
        return fail(ERROR_FILE_NOT_FOUND, OpenFailure::NoSuchDevice);
    }
    p.claim = ::CreateMutexA(nullptr, FALSE, ClaimNameFor(device).c_str());
    if (p.claim == nullptr || ::GetLastError() == ERROR_ALREADY_EXISTS) {
        return fail(ERROR_ACCESS_DENIED, OpenFailure::Busy);
    }
    // No sharing: while this handle is open nobody else gets the port.
    p.port = ::CreateFileA(device.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_FLAG_OVERLAPPED, nullptr);
    if (!p.Open()) {
        const DWORD error = ::GetLastError();
        return fail(error, FailureForError(error));
    }
    // A file or another device opens as well; only a port has a state.
    if (!::GetCommState(p.port, &p.savedState) || !::GetCommTimeouts(p.port, &p.savedTimeouts)) {
        const DWORD error = ::GetLastError();
        return fail(error, OpenFailure::NotASerialPort);
    }
    stateSaved = true;
    if (!::SetupComm(p.port, QueueSize, QueueSize)) {
        const DWORD error = ::GetLastError();
        return fail(error, FailureForError(error));
    }

    // A read returns at once with what has arrived, and one made when
    // nothing has waits for the first octet: the wait for input is then the
    // read's own event. Writes have no time-out of the driver's; Write bounds them.
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = MAXDWORD;
    timeouts.ReadTotalTimeoutMultiplier = MAXDWORD;
    timeouts.ReadTotalTimeoutConstant = MAXDWORD - 1;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 0;
    if (!::SetCommTimeouts(p.port, &timeouts)) {
        const DWORD error = ::GetLastError();
        return fail(error, FailureForError(error));
    }

    const std::int32_t rate = RateFor(baudRate);
    DCB state = p.savedState;
    state.DCBlength = sizeof state;
    state.BaudRate = static_cast<DWORD>(rate);
    state.ByteSize = 8;
    state.Parity = NOPARITY;
    state.StopBits = ONESTOPBIT;
    state.ErrorChar = static_cast<char>(0xFF);
    state.fBinary = 1;
    state.fParity = 0;
    state.fOutxCtsFlow = 0;
    state.fOutxDsrFlow = 0;
    state.fDtrControl = DTR_CONTROL_ENABLE;
    state.fDsrSensitivity = 0;
    state.fOutX = 0;
    state.fInX = 0;
    state.fErrorChar = 0;
    state.fNull = 0;
    state.fRtsControl = RTS_CONTROL_ENABLE;
    // Left on by another program, a line error would stop every read until
    // the error is cleared.
    state.fAbortOnError = 0;
    if (!::SetCommState(p.port, &state)) {
        const DWORD error = ::GetLastError();
        return fail(error, FailureForError(error));
    }
    // A driver that took the call but not the speed would leave the link
    // talking at the wrong rate.
    DCB applied{};
    applied.DCBlength = sizeof applied;
    if (!::GetCommState(p.port, &applied) || applied.BaudRate != state.BaudRate ||
        applied.ByteSize != 8) {
        return fail(ERROR_INVALID_PARAMETER, OpenFailure::Other);
    }

    ::PurgeComm(p.port, PURGE_TXABORT | PURGE_TXCLEAR);
    ::PurgeComm(p.port, PURGE_RXABORT | PURGE_RXCLEAR);
    p.gone = false;
    p.DropInput();
    NoteOpened(rate);
    return OpenOutcome::Opened;
}

void SerialLineWin32::Close() {
    Platform& p = *platform_;
    if (!p.Open()) {
        return;
    }
    IsOpen = 0;
    ::PurgeComm(p.port, PURGE_TXABORT | PURGE_TXCLEAR | PURGE_RXABORT | PURGE_RXCLEAR);
    p.AbandonRead();
    p.writeDeadline = SteadyClock::now();
    p.FinishWrite();
    ::SetCommTimeouts(p.port, &p.savedTimeouts);
    ::SetCommState(p.port, &p.savedState);
    ::CloseHandle(p.port);
    p.port = INVALID_HANDLE_VALUE;
    if (p.claim != nullptr) ::CloseHandle(p.claim);
    p.claim = nullptr;
    // Whatever was still pending ended with the handle.
    p.readPending = false;
    p.writePending = false;
    p.DropInput();
}

void SerialLineWin32::Discard() {
    Platform& p = *platform_;
    if (!p.Open()) return;
    ::PurgeComm(p.port, PURGE_RXABORT | PURGE_RXCLEAR);
    p.AbandonRead();
    p.DropInput();
}

void SerialLineWin32::Write(std::span<const std::uint8_t> frame) {
    Platform& p = *platform_;
    if (!p.Open() || frame.empty()) {
        return;
    }
    p.FinishWrite();
    p.writeBuffer.assign(frame.begin(), frame.end());
    ::ResetEvent(p.writeRequest.hEvent);
    if (::WriteFile(p.port, p.writeBuffer.data(), static_cast<DWORD>(p.writeBuffer.size()), nullptr,
                    &p.writeRequest)) {
        return;
    }
    if (::GetLastError() == ERROR_IO_PENDING) {
        p.writePending = true;
        p.writeDeadline = SteadyClock::now() + WireTime(frame.size(), BaudRate()) + WriteWait;
    }
    // Any other failure: the line is gone; the link notices the missing answer.
}

LineEvent SerialLineWin32::Wait(std::chrono::microseconds timeout, bool watchInput) {
    Platform& p = *platform_;
    // A wake-up that came before the call ends it at once, and is used up.
    if (::WaitForSingleObject(p.wakeEvent, 0) == WAIT_OBJECT_0) {
        return LineEvent::WokenUp;
    }
    // A device that failed only answers a new open: then only the wake and
    // the time end the wait, or the link would spin on it.
    bool lineUsable = watchInput && p.Open() && !p.gone;
    if (lineUsable) {
        p.CollectRead(false);
        if (p.Buffered() == 0) p.TakeQueued();
        if (p.Buffered() == 0) p.StartWaitRead();
        if (p.Buffered() > 0) return LineEvent::Input;
        lineUsable = p.readPending;
    }

    // The deadline in 100 ns units, relative (negative); at least one unit,
    // since zero would mean the start of the calendar.
    const auto units = std::max<std::int64_t>(timeout.count() * 10, 1);
    LARGE_INTEGER due{};
    due.QuadPart = -units;
    if (!::SetWaitableTimer(p.timer, &due, 0, nullptr, nullptr, FALSE)) {
        return LineEvent::TimedOut;
    }
    const HANDLE handles[3] = {p.wakeEvent, p.timer, p.readRequest.hEvent};
    for (;;) {
        const DWORD count = lineUsable ? 3 : 2;
        const DWORD result = ::WaitForMultipleObjects(count, handles, FALSE, INFINITE);
        if (result == WAIT_OBJECT_0) {
            ::CancelWaitableTimer(p.timer);
            return LineEvent::WokenUp;
        }
        if (result != WAIT_OBJECT_0 + 2) {
            return LineEvent::TimedOut;  // the timer, or a wait that failed
        }
        p.CollectRead(false);
        if (p.Buffered() > 0) {
            ::CancelWaitableTimer(p.timer);
            return LineEvent::Input;
        }
        // An empty or aborted read: ask again, unless the device went away.
        p.StartWaitRead();
        if (p.Buffered() > 0) {
            ::CancelWaitableTimer(p.timer);
            return LineEvent::Input;
        }
        lineUsable = p.readPending;
    }
}

std::size_t SerialLineWin32::Read(std::span<std::uint8_t> into) {
    Platform& p = *platform_;
    if (!p.Open() || into.empty()) {
        return 0;
    }
    // What has come so far, whole: a short answer means nothing more is there.
    p.CollectRead(false);
    p.TakeQueued();
    const std::size_t count = std::min(into.size(), p.Buffered());
    if (count == 0) {
        return 0;
    }
    std::memcpy(into.data(), p.received.data() + p.receivedOffset, count);
    p.receivedOffset += count;
    ReceivedSinceAsked = 1;
    return count;
}

bool SerialLineWin32::Vanished() const {
    return platform_->Open() && platform_->gone;
}

void SerialLineWin32::Wake() {
    if (platform_->wakeEvent != nullptr) ::SetEvent(platform_->wakeEvent);
}

}  // namespace kvq::serial
