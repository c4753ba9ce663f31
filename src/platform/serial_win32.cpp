// The serial port on Windows: a communications resource opened by name with
// CreateFileA, configured with SetupComm, GetCommState/SetCommState and
// SetCommTimeouts, and driven with overlapped ReadFile/WriteFile so that a
// wait can end on either the transfer or the port's close event.
#include "platform/serial_win32.h"

#include <winioctl.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <condition_variable>
#include <mutex>

namespace {

// Bytes taken from the driver per read, as large as the input queue.
constexpr DWORD kInputBufferSize = 300;
constexpr DWORD kOutputQueueSize = 300;

constexpr char kDevicePrefix[] = "\\\\.\\";

// The serial driver's request that sets only the speed (ntddser.h, which
// needs the driver kit's headers around it).
constexpr DWORD kIoctlSerialSetBaudRate = CTL_CODE(FILE_DEVICE_SERIAL_PORT, 1, METHOD_BUFFERED, FILE_ANY_ACCESS);
struct SerialBaudRate {
    ULONG BaudRate;
};

bool IsComName(const std::string& name) {
    if (name.size() < 4 || std::toupper(static_cast<unsigned char>(name[0])) != 'C' ||
        std::toupper(static_cast<unsigned char>(name[1])) != 'O' ||
        std::toupper(static_cast<unsigned char>(name[2])) != 'M' || name[3] == '0')
        return false;
    return std::all_of(name.begin() + 3, name.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::string OpenFailureReason(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
        return "no such port";
    case ERROR_ACCESS_DENIED:
    case ERROR_SHARING_VIOLATION:
        return "in use by another program";
    default:
        return SystemErrorText(error);
    }
}

// A handle event for overlapped calls: manual reset, not signalled.
HANDLE NewEvent() { return CreateEventW(nullptr, TRUE, FALSE, nullptr); }

}  // namespace

std::string ResolvePortName(const std::string& name) {
    if (name.rfind(kDevicePrefix, 0) == 0)
        return name;
    if (!IsComName(name))
        return {};
    std::string upper = name;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return kDevicePrefix + upper;
}

std::optional<DCB> ApplyLineSettings(const DCB& current, const LineSettings& settings) {
    if ((settings.dataBits != 7 && settings.dataBits != 8) || (settings.stopBits != 1 && settings.stopBits != 2) ||
        settings.baudRate == 0)
        return std::nullopt;
    DCB dcb = MakeRawKeepingLine(current);
    dcb.BaudRate = settings.baudRate;
    dcb.ByteSize = static_cast<BYTE>(settings.dataBits);
    dcb.fDtrControl = DTR_CONTROL_ENABLE;
    if (settings.flowControl == FlowControl::Hardware) {
        dcb.fOutxCtsFlow = TRUE;
        dcb.fRtsControl = RTS_CONTROL_TOGGLE;
    } else {
        dcb.fOutxCtsFlow = FALSE;
        dcb.fRtsControl = RTS_CONTROL_ENABLE;
    }
    switch (settings.parity) {
    case ParityMode::None:
        dcb.fParity = FALSE;
        dcb.Parity = NOPARITY;
        break;
    case ParityMode::Odd:
        dcb.fParity = TRUE;
        dcb.Parity = ODDPARITY;
        break;
    case ParityMode::Even:
        dcb.fParity = TRUE;
        dcb.Parity = EVENPARITY;
        break;
    }
    dcb.StopBits = settings.stopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;
    return dcb;
}

DCB MakeRawKeepingLine(const DCB& current) {
    DCB dcb = current;
    dcb.DCBlength = sizeof(DCB);
    dcb.fBinary = TRUE;
    dcb.fOutX = FALSE;
    dcb.fInX = FALSE;
    dcb.fNull = TRUE;
    dcb.fAbortOnError = FALSE;
    return dcb;
}

LineSettings ReadLineSettings(const DCB& dcb) {
    LineSettings settings;
    settings.baudRate = dcb.BaudRate;
    settings.dataBits = dcb.ByteSize;
    settings.parity = dcb.Parity == ODDPARITY    ? ParityMode::Odd
                      : dcb.Parity == EVENPARITY ? ParityMode::Even
                                                 : ParityMode::None;
    settings.stopBits = dcb.StopBits == TWOSTOPBITS ? 2 : 1;
    settings.flowControl = dcb.fOutxCtsFlow ? FlowControl::Hardware : FlowControl::None;
    return settings;
}

COMMTIMEOUTS ReadTimeouts(DWORD waitMs) {
    // The total time-out bounds the wait for the first byte; once bytes
    // flow, a pause of one interval ends the read, so a byte is handed on
    // about a millisecond after it arrives. (The documented MAXDWORD
    // interval and multiplier with a constant, "return on the first byte",
    // is not honoured by every driver: Wine waits out the whole total.)
    COMMTIMEOUTS timeouts{};
    timeouts.ReadIntervalTimeout = 1;
    timeouts.ReadTotalTimeoutMultiplier = 0;
    timeouts.ReadTotalTimeoutConstant = waitMs;
    timeouts.WriteTotalTimeoutMultiplier = 0;
    timeouts.WriteTotalTimeoutConstant = 0;
    return timeouts;
}

struct SerialPort::Impl {
    std::string m_strDevicePath;
    HANDLE m_hPort = INVALID_HANDLE_VALUE;
    // Signalled when Close() starts, so that a read or write waiting on its
    // own event returns at once.
    HANDLE m_hCloseEvent = nullptr;
    HANDLE m_hReadEvent = nullptr;
    HANDLE m_hWriteEvent = nullptr;
    DCB m_dcbOriginal{};
    COMMTIMEOUTS m_ctoOriginal{};
    std::atomic<ReadProfile> m_readProfile{ReadProfile::Normal};
    DWORD m_dwReadWaitApplied = 0;  // reader only

    mutable std::mutex m_mutex;
    std::condition_variable m_idle;
    int m_nActive = 0;
    std::atomic<bool> m_bClosed{false};
    bool m_bReleased = false;
    std::atomic<bool> m_bDead{false};
    std::string m_strDeadReason;

    std::mutex m_readMutex;
    std::mutex m_writeMutex;
    BYTE m_abyInput[kInputBufferSize];
    std::size_t m_nInputHead = 0;
    std::size_t m_nInputTail = 0;

    bool InputEmpty() const { return m_nInputHead == m_nInputTail; }
    void MarkDead(const std::string& reason);
    void MarkFailed(DWORD error);
    bool WaitOverlapped(OVERLAPPED* overlapped, DWORD* transferred);
    bool FillInput(DWORD waitMs);
    bool DrainOutput();
    bool ChangeState(const DCB& wanted);
    void Release();
    void CloseHandles();
};

namespace {

// Counts an I/O call as in progress for its lifetime, unless the port is
// already closed or dead.
class IoScope {
public:
    explicit IoScope(SerialPort::Impl& port) : m_port(port) {
        std::lock_guard lock(m_port.m_mutex);
        m_bEntered = !m_port.m_bClosed && !m_port.m_bDead;
        if (m_bEntered)
            ++m_port.m_nActive;
    }
    ~IoScope() {
        if (!m_bEntered)
            return;
        std::lock_guard lock(m_port.m_mutex);
        if (--m_port.m_nActive == 0)
            m_port.m_idle.notify_all();
    }
    IoScope(const IoScope&) = delete;
    IoScope& operator=(const IoScope&) = delete;
    explicit operator bool() const { return m_bEntered; }

private:
    SerialPort::Impl& m_port;
    bool m_bEntered;
};

}  // namespace

void SerialPort::Impl::MarkDead(const std::string& reason) {
    std::lock_guard lock(m_mutex);
    if (m_bDead)
        return;
    m_strDeadReason = reason;
    m_bDead = true;
}

// A transfer that fails while the port is open means the device is gone
// (an unplugged USB adapter reports it as one of these).
void SerialPort::Impl::MarkFailed(DWORD error) {
    if (m_bClosed)
        return;
    switch (error) {
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_BAD_COMMAND:
    case ERROR_ACCESS_DENIED:
    case ERROR_GEN_FAILURE:
    case ERROR_OPERATION_ABORTED:
        MarkDead("device disconnected (" + SystemErrorText(error) + ")");
        break;
    default:
        MarkDead(SystemErrorText(error));
    }
}

// Waits for an overlapped call that returned ERROR_IO_PENDING, or for
// Close(), which cancels it. True with *transferred when it completed.
bool SerialPort::Impl::WaitOverlapped(OVERLAPPED* overlapped, DWORD* transferred) {
    const HANDLE waits[2] = {overlapped->hEvent, m_hCloseEvent};
    const DWORD woken = WaitForMultipleObjects(2, waits, FALSE, INFINITE);
    if (woken != WAIT_OBJECT_0) {
        CancelIoEx(m_hPort, overlapped);
        GetOverlappedResult(m_hPort, overlapped, transferred, TRUE);
        return false;
    }
    if (!GetOverlappedResult(m_hPort, overlapped, transferred, FALSE)) {
        const DWORD error = GetLastError();
        // A read time-out is a result, not a failure (Wine reports it as a
        // status where Windows completes with the bytes read so far).
        if (error == WAIT_TIMEOUT || error == ERROR_TIMEOUT || error == ERROR_SEM_TIMEOUT) {
            *transferred = static_cast<DWORD>(overlapped->InternalHigh);
            return true;
        }
        MarkFailed(error);
        return false;
    }
    return true;
}

// Waits up to waitMs for bytes and moves what has arrived into the input
// buffer, dropping 0x00 bytes (not every driver honours fNull). True with an
// empty buffer on time-out; false when the port is being closed or has gone
// dead.
bool SerialPort::Impl::FillInput(DWORD waitMs) {
    if (m_dwReadWaitApplied != waitMs) {
        COMMTIMEOUTS timeouts = ReadTimeouts(waitMs);
        if (SetCommTimeouts(m_hPort, &timeouts))
            m_dwReadWaitApplied = waitMs;
    }
    OVERLAPPED overlapped{};
    overlapped.hEvent = m_hReadEvent;
    ResetEvent(m_hReadEvent);
    DWORD count = 0;
    if (!ReadFile(m_hPort, m_abyInput, kInputBufferSize, &count, &overlapped)) {
        const DWORD error = GetLastError();
        if (error != ERROR_IO_PENDING) {
            MarkFailed(error);
            return false;
        }
        if (!WaitOverlapped(&overlapped, &count))
            return false;
    }
    // NUL bytes are line noise to this protocol: a frame never carries one.
    BYTE* const end = std::remove(m_abyInput, m_abyInput + count, BYTE{0});
    m_nInputHead = 0;
    m_nInputTail = static_cast<std::size_t>(end - m_abyInput);
    return true;
}

// Lets the output already written leave the port. A line held by hardware
// flow control could hold it for ever: its output is discarded instead
// (false), rather than sent later under other settings.
bool SerialPort::Impl::DrainOutput() {
    DWORD errors = 0;
    COMSTAT status{};
    if (ClearCommError(m_hPort, &errors, &status) && status.fCtsHold && status.cbOutQue > 0) {
        PurgeComm(m_hPort, PURGE_TXABORT | PURGE_TXCLEAR);
        return false;
    }
    return FlushFileBuffers(m_hPort) != 0;
}

// Writes a whole state record once the output before it has gone; on
// failure puts the previous record back, since SetCommState may have
// applied part of it.
bool SerialPort::Impl::ChangeState(const DCB& wanted) {
    DCB previous{};
    previous.DCBlength = sizeof(DCB);
    if (!GetCommState(m_hPort, &previous))
        return false;
    DrainOutput();
    DCB copy = wanted;
    if (SetCommState(m_hPort, &copy))
        return true;
    SetCommState(m_hPort, &previous);
    return false;
}

void SerialPort::Impl::CloseHandles() {
    for (HANDLE* handle : {&m_hReadEvent, &m_hWriteEvent, &m_hCloseEvent}) {
        if (*handle)
            CloseHandle(*handle);
        *handle = nullptr;
    }
    if (m_hPort != INVALID_HANDLE_VALUE)
        CloseHandle(m_hPort);
    m_hPort = INVALID_HANDLE_VALUE;
}

// Gives the port back: output drained (unless held), the original state and
// time-outs restored, handles closed. Runs with no I/O call in progress.
void SerialPort::Impl::Release() {
    if (m_hPort != INVALID_HANDLE_VALUE && !m_bDead) {
        DrainOutput();
        SetCommTimeouts(m_hPort, &m_ctoOriginal);
        SetCommState(m_hPort, &m_dcbOriginal);
    }
    CloseHandles();
}

SerialPort::SerialPort(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}

SerialPort::~SerialPort() { Close(); }

std::unique_ptr<SerialPort> SerialPort::Open(const std::string& name, std::string* reason) {
    auto fail = [reason](const std::string& why) -> std::unique_ptr<SerialPort> {
        if (reason)
            *reason = why;
        return nullptr;
    };
    const std::string path = ResolvePortName(name);
    if (path.empty())
        return fail("no such port");

    auto impl = std::make_unique<Impl>();
    impl->m_strDevicePath = path;
    // Share mode 0: exclusive, a second open fails while this one lasts.
    impl->m_hPort = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (impl->m_hPort == INVALID_HANDLE_VALUE)
        return fail(OpenFailureReason(GetLastError()));

    // Everything below undoes what was done so far before it reports.
    bool configured = false;
    auto failOpen = [&](const std::string& why) {
        if (configured) {
            SetCommTimeouts(impl->m_hPort, &impl->m_ctoOriginal);
            SetCommState(impl->m_hPort, &impl->m_dcbOriginal);
        }
        impl->CloseHandles();
        return fail(why);
    };

    impl->m_dcbOriginal.DCBlength = sizeof(DCB);
    if (GetFileType(impl->m_hPort) != FILE_TYPE_CHAR || !GetCommState(impl->m_hPort, &impl->m_dcbOriginal) ||
        !GetCommTimeouts(impl->m_hPort, &impl->m_ctoOriginal))
        return failOpen("not a serial port");
    if (!SetupComm(impl->m_hPort, kInputBufferSize, kOutputQueueSize))
        return failOpen(SystemErrorText(GetLastError()));
    configured = true;
    DCB raw = MakeRawKeepingLine(impl->m_dcbOriginal);
    if (!SetCommState(impl->m_hPort, &raw))
        return failOpen(SystemErrorText(GetLastError()));
    COMMTIMEOUTS timeouts = ReadTimeouts(kNormalReadTimeoutMs);
    if (!SetCommTimeouts(impl->m_hPort, &timeouts))
        return failOpen(SystemErrorText(GetLastError()));
    impl->m_dwReadWaitApplied = kNormalReadTimeoutMs;
    impl->m_hCloseEvent = NewEvent();
    impl->m_hReadEvent = NewEvent();
    impl->m_hWriteEvent = NewEvent();
    if (!impl->m_hCloseEvent || !impl->m_hReadEvent || !impl->m_hWriteEvent)
        return failOpen(SystemErrorText(GetLastError()));
    return std::unique_ptr<SerialPort>(new SerialPort(std::move(impl)));
}

bool SerialPort::GetLineSettings(LineSettings* settings) {
    IoScope io(*m_impl);
    if (!io)
        return false;
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    if (!GetCommState(m_impl->m_hPort, &dcb))
        return false;
    *settings = ReadLineSettings(dcb);
    return true;
}

bool SerialPort::SetLineSettings(const LineSettings& settings) {
    IoScope io(*m_impl);
    if (!io)
        return false;
    DCB current{};
    current.DCBlength = sizeof(DCB);
    if (!GetCommState(m_impl->m_hPort, &current))
        return false;
    const std::optional<DCB> wanted = ApplyLineSettings(current, settings);
    return wanted && m_impl->ChangeState(*wanted);
}

bool SerialPort::SetBaudRate(DWORD baudRate) {
    IoScope io(*m_impl);
    if (!io || baudRate == 0)
        return false;
    Impl& port = *m_impl;
    port.DrainOutput();
    // Only the speed: the driver's own request for it, which leaves the
    // line control and handshake exactly as they are (a full SetCommState
    // would rewrite them all, and some drivers refuse settings they cannot
    // keep, such as parity on a pseudo-terminal).
    SerialBaudRate speed{};
    speed.BaudRate = baudRate;
    OVERLAPPED overlapped{};
    overlapped.hEvent = port.m_hWriteEvent;
    std::lock_guard writeLock(port.m_writeMutex);
    ResetEvent(port.m_hWriteEvent);
    DWORD returned = 0;
    if (DeviceIoControl(port.m_hPort, kIoctlSerialSetBaudRate, &speed, sizeof speed, nullptr, 0, &returned,
                        &overlapped))
        return true;
    if (GetLastError() != ERROR_IO_PENDING)
        return false;
    const HANDLE waits[2] = {overlapped.hEvent, port.m_hCloseEvent};
    if (WaitForMultipleObjects(2, waits, FALSE, INFINITE) != WAIT_OBJECT_0) {
        CancelIoEx(port.m_hPort, &overlapped);
        GetOverlappedResult(port.m_hPort, &overlapped, &returned, TRUE);
        return false;
    }
    return GetOverlappedResult(port.m_hPort, &overlapped, &returned, FALSE) != 0;
}

void SerialPort::SetReadProfile(ReadProfile profile) {
    m_impl->m_readProfile.store(profile, std::memory_order_release);
}

ReadProfile SerialPort::GetReadProfile() const { return m_impl->m_readProfile.load(std::memory_order_acquire); }

bool SerialPort::ReadByte(BYTE* byte, DWORD* count) {
    *count = 0;
    IoScope io(*m_impl);
    if (!io)
        return false;
    Impl& port = *m_impl;
    std::lock_guard readLock(port.m_readMutex);
    if (port.InputEmpty()) {
        // Both profiles hand out a byte the moment it is there; they differ
        // only in how long an idle line is waited on.
        const DWORD waitMs = GetReadProfile() == ReadProfile::Transfer ? kTransferIdleWaitMs : kNormalReadTimeoutMs;
        if (!port.FillInput(waitMs))
            return false;
        if (port.InputEmpty())
            return true;
    }
    *byte = port.m_abyInput[port.m_nInputHead++];
    *count = 1;
    return true;
}

bool SerialPort::Write(const void* data, DWORD size, DWORD* written) {
    *written = 0;
    IoScope io(*m_impl);
    if (!io)
        return false;
    Impl& port = *m_impl;
    std::lock_guard writeLock(port.m_writeMutex);
    const BYTE* bytes = static_cast<const BYTE*>(data);
    while (*written < size) {
        OVERLAPPED overlapped{};
        overlapped.hEvent = port.m_hWriteEvent;
        ResetEvent(port.m_hWriteEvent);
        DWORD count = 0;
        if (!WriteFile(port.m_hPort, bytes + *written, size - *written, &count, &overlapped)) {
            const DWORD error = GetLastError();
            if (error != ERROR_IO_PENDING) {
                port.MarkFailed(error);
                return false;
            }
            if (!port.WaitOverlapped(&overlapped, &count)) {
                *written += count;
                return false;
            }
        }
        if (count == 0)
            return false;  // no write time-out is set, so nothing taken means the driver refuses
        *written += count;
    }
    return true;
}

bool SerialPort::Drain() {
    IoScope io(*m_impl);
    return io && m_impl->DrainOutput();
}

void SerialPort::Close() {
    Impl& port = *m_impl;
    {
        std::unique_lock lock(port.m_mutex);
        if (port.m_bClosed) {
            // Another thread is closing it: return once it is really closed.
            port.m_idle.wait(lock, [&] { return port.m_bReleased; });
            return;
        }
        port.m_bClosed = true;
        if (port.m_hCloseEvent)
            SetEvent(port.m_hCloseEvent);
        port.m_idle.wait(lock, [&] { return port.m_nActive == 0; });
    }
    port.Release();
    {
        std::lock_guard lock(port.m_mutex);
        port.m_bReleased = true;
    }
    port.m_idle.notify_all();
}

bool SerialPort::IsClosed() const { return m_impl->m_bClosed.load(std::memory_order_acquire); }

bool SerialPort::IsDead() const { return m_impl->m_bDead.load(std::memory_order_acquire); }

std::string SerialPort::DeadReason() const {
    std::lock_guard lock(m_impl->m_mutex);
    return m_impl->m_strDeadReason;
}

const std::string& SerialPort::DevicePath() const { return m_impl->m_strDevicePath; }
