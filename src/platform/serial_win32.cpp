// The serial port on Windows: a communications resource opened by name with
// CreateFileA (exclusive, overlapped), configured with SetupComm,
// GetCommState/SetCommState and SetCommTimeouts.
//
// How the port waits: every read, write and device request is overlapped,
// and its caller sleeps in WaitForMultipleObjects on the request's event
// together with the port's close event (set for good by Close()) and, for a
// read, its wake event (set by Wake() until a read reports it). Nothing
// polls: an idle line costs no processor time.
//
// How the port reads: the port has no read time-out, so a read completes
// when the count it asked for has come. It asks for the bytes the driver
// holds already (ClearCommError's cbInQue), which completes at once, or, with
// none there, for one byte, which it sleeps on. Received 0x00 bytes are
// dropped here too: not every driver honours fNull (Wine passes them).
#include "platform/serial_win32.h"

#include "platform/serial_activity.h"

#include <winioctl.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>

// ---------------------------------------------------------------------------
// Line settings to and from the DCB.

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
        dcb.fRtsControl = RTS_CONTROL_HANDSHAKE;
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
    dcb.fOutxDsrFlow = FALSE;
    dcb.fDsrSensitivity = FALSE;
    dcb.fErrorChar = FALSE;
    dcb.fAbortOnError = FALSE;
    return dcb;
}

LineSettings ReadLineSettings(const DCB& dcb) {
    LineSettings settings;
    settings.baudRate = dcb.BaudRate;
    settings.dataBits = dcb.ByteSize;
    settings.parity = !dcb.fParity || dcb.Parity == NOPARITY ? ParityMode::None
                      : dcb.Parity == EVENPARITY             ? ParityMode::Even
                                                             : ParityMode::Odd;
    settings.stopBits = dcb.StopBits == TWOSTOPBITS ? 2 : 1;
    settings.flowControl = dcb.fOutxCtsFlow ? FlowControl::Hardware : FlowControl::None;
    return settings;
}

COMMTIMEOUTS PortTimeouts() {
    // All zero: no time-out on reads or writes.
    return COMMTIMEOUTS{};
}

// ---------------------------------------------------------------------------
// The port.

namespace {

// The driver's output queue asked for: more than the largest frame (the
// input queue asked for is as large as the port's own input buffer).
constexpr DWORD kOutputQueueSize = 300;
// How long the output queue is waited on between two looks at it when the
// line's speed is not known.
constexpr DWORD kDrainGuessMs = 10;
// COM1..COM256: the names the system gives serial ports.
constexpr unsigned kHighestComNumber = 256;
constexpr char kDevicePrefix[] = "\\\\.\\";

// The serial driver's request that sets only the speed (winioctl.h's
// IOCTL_SERIAL_SET_BAUD_RATE lives in the driver kit's ntddser.h).
constexpr DWORD kIoctlSerialSetBaudRate = CTL_CODE(FILE_DEVICE_SERIAL_PORT, 1, METHOD_BUFFERED, FILE_ANY_ACCESS);
struct SerialBaudRate {
    ULONG BaudRate;
};

using Clock = std::chrono::steady_clock;

// The number n of "COMn" (any letter case), 1..kHighestComNumber; 0 for any
// other name.
unsigned ComNumber(const std::string& name) {
    if (name.size() < 4 || name.size() > 6)
        return 0;
    for (int i = 0; i < 3; ++i)
        if (std::toupper(static_cast<unsigned char>(name[i])) != "COM"[i])
            return 0;
    unsigned number = 0;
    for (std::size_t i = 3; i < name.size(); ++i) {
        if (name[i] < '0' || name[i] > '9')
            return 0;
        number = number * 10 + static_cast<unsigned>(name[i] - '0');
    }
    return name[3] != '0' && number <= kHighestComNumber ? number : 0;
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

// An event for overlapped calls and the close signal: manual reset.
HANDLE NewManualEvent() { return CreateEventW(nullptr, TRUE, FALSE, nullptr); }

// Milliseconds one character takes on the line; 0 when the speed is not known.
double CharacterTimeMs(const DCB& dcb) {
    if (dcb.BaudRate == 0)
        return 0;
    const LineSettings line = ReadLineSettings(dcb);
    const int bits = 1 + line.dataBits + (line.parity == ParityMode::None ? 0 : 1) + line.stopBits;
    return bits * 1000.0 / dcb.BaudRate;
}

// The emergency-restore table: one slot per open port. A slot is claimed,
// its records written, and only then its handle published; a reader that
// sees a handle therefore sees the records that belong to it.
struct RestoreSlot {
    std::atomic<bool> m_bClaimed{false};
    std::atomic<HANDLE> m_hPort{nullptr};
    DCB m_dcbOriginal{};
    COMMTIMEOUTS m_ctoOriginal{};
};
constexpr std::size_t kRestoreSlots = 16;
RestoreSlot g_restoreSlots[kRestoreSlots];

int RegisterForRestore(HANDLE port, const DCB& dcb, const COMMTIMEOUTS& timeouts) {
    for (std::size_t i = 0; i < kRestoreSlots; ++i) {
        bool expected = false;
        if (!g_restoreSlots[i].m_bClaimed.compare_exchange_strong(expected, true, std::memory_order_acq_rel))
            continue;
        g_restoreSlots[i].m_dcbOriginal = dcb;
        g_restoreSlots[i].m_ctoOriginal = timeouts;
        g_restoreSlots[i].m_hPort.store(port, std::memory_order_release);
        return static_cast<int>(i);
    }
    return -1;
}

void UnregisterForRestore(int slot) {
    if (slot < 0)
        return;
    g_restoreSlots[slot].m_hPort.store(nullptr, std::memory_order_release);
    g_restoreSlots[slot].m_bClaimed.store(false, std::memory_order_release);
}

// Console events that end the process: the ports are put back first, then
// the next handler (in the end the system's, which exits) takes the event.
BOOL WINAPI RestoreOnConsoleEvent(DWORD) {
    RestoreOpenPortsNow();
    return FALSE;
}

}  // namespace

void RestoreOpenPortsNow() {
    for (RestoreSlot& slot : g_restoreSlots) {
        const HANDLE port = slot.m_hPort.load(std::memory_order_acquire);
        if (port == nullptr)
            continue;
        DCB dcb = slot.m_dcbOriginal;
        COMMTIMEOUTS timeouts = slot.m_ctoOriginal;
        SetCommTimeouts(port, &timeouts);
        SetCommState(port, &dcb);
    }
}

void RestorePortsOnFatalSignals() {
    // Windows runs console control handlers on a thread of their own, last
    // installed first: a front end's handler installed later is asked first.
    static std::once_flag installed;
    std::call_once(installed, [] { SetConsoleCtrlHandler(RestoreOnConsoleEvent, TRUE); });
}

std::string ResolvePortName(const std::string& name) {
    if (name.rfind(kDevicePrefix, 0) == 0)
        return name;
    const unsigned number = ComNumber(name);
    return number == 0 ? std::string() : kDevicePrefix + ("COM" + std::to_string(number));
}

struct Win32PortState : SerialActivity {
    std::string m_strDevicePath;
    HANDLE m_hPort = INVALID_HANDLE_VALUE;
    // Set from the start of Close() on, so that a wait returns at once.
    HANDLE m_hCloseEvent = nullptr;
    // Auto-reset: set by Wake() until a read's wait takes it.
    HANDLE m_hWakeEvent = nullptr;
    HANDLE m_hReadEvent = nullptr;
    HANDLE m_hWriteEvent = nullptr;
    DCB m_dcbOriginal{};
    COMMTIMEOUTS m_ctoOriginal{};
    int m_nRestoreSlot = -1;
    std::atomic<ReadProfile> m_readProfile{ReadProfile::Normal};

    // Writes and device requests (the speed switch) take turns on the
    // write event.
    std::mutex m_writeMutex;
    SerialInput m_input;

    void MarkFailed(DWORD error);
    InputFill FillInput();
    bool Transfer(HANDLE event, bool wakeable, DWORD* transferred, DWORD* wokenBy,
                  const std::function<BOOL(OVERLAPPED*)>& start);
    bool WaitOutputDrained(bool stopOnClose);
    bool ApplyState(const DCB& wanted);
    bool SetSpeed(DWORD baudRate);
    void Release();
    void CloseHandles();
};

// The port as callers see it; its state is Win32PortState.
class Win32Port final : public SerialPort {
public:
    explicit Win32Port(std::unique_ptr<Win32PortState> impl);
    ~Win32Port() override;

    bool GetLineSettings(LineSettings* settings) override;
    bool SetLineSettings(const LineSettings& settings) override;
    bool SetBaudRate(DWORD baudRate) override;
    void SetReadProfile(ReadProfile profile) override;
    ReadProfile GetReadProfile() const override;
    bool ReadByte(BYTE* byte, DWORD* count) override;
    void Wake() override;
    bool Write(const void* data, DWORD size, DWORD* written) override;
    bool Drain() override;
    void Close() override;
    bool IsClosed() const override;
    bool IsDead() const override;
    std::string DeadReason() const override;
    const std::string& DevicePath() const override;

private:
    std::unique_ptr<Win32PortState> m_impl;
};

// A transfer that fails while the port is open: an unplugged USB adapter
// completes its pending requests with one of the first group.
void Win32PortState::MarkFailed(DWORD error) {
    if (m_bClosed.load(std::memory_order_acquire))
        return;
    switch (error) {
    case ERROR_OPERATION_ABORTED:
    case ERROR_ACCESS_DENIED:
    case ERROR_DEVICE_NOT_CONNECTED:
    case ERROR_BAD_COMMAND:
    case ERROR_GEN_FAILURE:
    case ERROR_FILE_NOT_FOUND:
        MarkDead("device disconnected (" + SystemErrorText(error) + ")");
        break;
    default:
        MarkDead(SystemErrorText(error));
    }
}

// Starts an overlapped request on event and sleeps until it completes, the
// port is closed, or (wakeable) Wake() is called; a request cut short is
// cancelled and waited out. True when the request completed (*transferred
// bytes, possibly fewer after a cancel); false when it failed (the port is
// then marked) or Close() started. *wokenBy is the wait's result.
bool Win32PortState::Transfer(HANDLE event, bool wakeable, DWORD* transferred, DWORD* wokenBy,
                                const std::function<BOOL(OVERLAPPED*)>& start) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = event;
    ResetEvent(event);
    *transferred = 0;
    *wokenBy = WAIT_OBJECT_0;
    if (start(&overlapped))
        return GetOverlappedResult(m_hPort, &overlapped, transferred, FALSE) != 0;
    DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING) {
        MarkFailed(error);
        return false;
    }
    const HANDLE waits[3] = {event, m_hCloseEvent, m_hWakeEvent};
    *wokenBy = WaitForMultipleObjects(wakeable ? 3 : 2, waits, FALSE, INFINITE);
    if (*wokenBy != WAIT_OBJECT_0)
        CancelIoEx(m_hPort, &overlapped);
    if (GetOverlappedResult(m_hPort, &overlapped, transferred, TRUE))
        return *wokenBy != WAIT_OBJECT_0 + 1;
    error = GetLastError();
    if (*wokenBy == WAIT_OBJECT_0 + 2 && error == ERROR_OPERATION_ABORTED)
        return true;  // our own cancel after a wake-up
    if (*wokenBy == WAIT_OBJECT_0)
        MarkFailed(error);
    return false;
}

// Sleeps until the line delivers, Wake() is called, Close() starts or the
// device fails, and moves what has arrived into the input buffer. Bytes that
// came are taken before a wake-up is reported; the wake-up is then kept for
// the next read that would sleep.
InputFill Win32PortState::FillInput() {
    for (;;) {
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(m_hPort, &errors, &status)) {
            MarkFailed(GetLastError());
            return InputFill::Failed;
        }
        const DWORD wanted = std::clamp<DWORD>(status.cbInQue, 1, SerialInput::kSize);
        DWORD count = 0;
        DWORD wokenBy = WAIT_OBJECT_0;
        const bool done = Transfer(m_hReadEvent, true, &count, &wokenBy, [&](OVERLAPPED* overlapped) {
            return ReadFile(m_hPort, m_input.m_abyBytes, wanted, nullptr, overlapped);
        });
        if (!done)
            return InputFill::Failed;
        if (count == 0 && wokenBy == WAIT_OBJECT_0) {
            // Without a read time-out a read ends early only at end of file,
            // which a serial driver reports once the device is gone.
            MarkDead("device disconnected (end of file)");
            return InputFill::Failed;
        }
        m_input.Keep(count);
        const bool woken = wokenBy == WAIT_OBJECT_0 + 2;
        if (!m_input.Empty()) {
            if (woken)
                SetEvent(m_hWakeEvent);  // reported at the next read that would sleep
            return InputFill::Bytes;
        }
        if (woken)
            return InputFill::Woken;
    }
}

// Waits until the driver's output queue is empty, sleeping for as long as
// the queued bytes need at the line's speed between looks at it. Gives up
// (false) when the queue has not shrunk for kDrainStallLimitMs (a line
// stalled by hardware flow control), or, with stopOnClose, when Close()
// starts.
bool Win32PortState::WaitOutputDrained(bool stopOnClose) {
    DWORD lastQueued = MAXDWORD;
    Clock::time_point lastProgress = Clock::now();
    for (;;) {
        DWORD errors = 0;
        COMSTAT status{};
        if (!ClearCommError(m_hPort, &errors, &status))
            break;  // no queue count from this driver: rely on the flush
        if (status.cbOutQue == 0)
            break;
        if (status.cbOutQue < lastQueued) {
            lastQueued = status.cbOutQue;
            lastProgress = Clock::now();
        } else if (Clock::now() - lastProgress >= std::chrono::milliseconds(kDrainStallLimitMs)) {
            return false;
        }
        DCB dcb{};
        dcb.DCBlength = sizeof(DCB);
        const double characterMs = GetCommState(m_hPort, &dcb) ? CharacterTimeMs(dcb) : 0;
        const DWORD waitMs = characterMs > 0 ? std::clamp<DWORD>(static_cast<DWORD>(status.cbOutQue * characterMs) + 1,
                                                                 1, kDrainStallLimitMs)
                                             : kDrainGuessMs;
        if (!stopOnClose)
            Sleep(waitMs);
        else if (WaitForSingleObject(m_hCloseEvent, waitMs) == WAIT_OBJECT_0)
            return false;
    }
    // The queue is empty: the last bytes are at most in the transmitter.
    FlushFileBuffers(m_hPort);
    return true;
}

// Writes a whole state record once the output before it has left the port;
// output stuck behind a stalled line is discarded rather than sent under the
// new settings. On failure puts the previous record back, since SetCommState
// may have applied part of it.
bool Win32PortState::ApplyState(const DCB& wanted) {
    DCB previous{};
    previous.DCBlength = sizeof(DCB);
    if (!GetCommState(m_hPort, &previous))
        return false;
    if (!WaitOutputDrained(true)) {
        if (m_bClosed.load(std::memory_order_acquire))
            return false;
        PurgeComm(m_hPort, PURGE_TXABORT | PURGE_TXCLEAR);
    }
    DCB copy = wanted;
    if (SetCommState(m_hPort, &copy))
        return true;
    SetCommState(m_hPort, &previous);
    return false;
}

// Changes only the speed, with the driver's own request for it: line
// control and handshake stay exactly as they are. (SetCommState rewrites
// them all, and a driver may refuse one it cannot keep though the speed
// alone would do: Wine's pseudo-terminal ports refuse a second parity
// setting.)
bool Win32PortState::SetSpeed(DWORD baudRate) {
    if (!WaitOutputDrained(true)) {
        if (m_bClosed.load(std::memory_order_acquire))
            return false;
        PurgeComm(m_hPort, PURGE_TXABORT | PURGE_TXCLEAR);
    }
    SerialBaudRate speed{};
    speed.BaudRate = baudRate;
    std::lock_guard writeLock(m_writeMutex);
    DWORD returned = 0;
    DWORD wokenBy = WAIT_OBJECT_0;
    return Transfer(m_hWriteEvent, false, &returned, &wokenBy, [&](OVERLAPPED* overlapped) {
        return DeviceIoControl(m_hPort, kIoctlSerialSetBaudRate, &speed, sizeof speed, nullptr, 0, nullptr,
                               overlapped);
    });
}

void Win32PortState::CloseHandles() {
    for (HANDLE* handle : {&m_hReadEvent, &m_hWriteEvent, &m_hWakeEvent, &m_hCloseEvent}) {
        if (*handle)
            CloseHandle(*handle);
        *handle = nullptr;
    }
    if (m_hPort != INVALID_HANDLE_VALUE)
        CloseHandle(m_hPort);
    m_hPort = INVALID_HANDLE_VALUE;
}

// Gives the port back: bounded drain, the original state and time-outs,
// handles closed. Runs with no I/O call in progress.
void Win32PortState::Release() {
    if (m_hPort != INVALID_HANDLE_VALUE && !m_bDead) {
        if (!WaitOutputDrained(false))
            PurgeComm(m_hPort, PURGE_TXABORT | PURGE_TXCLEAR);
        SetCommTimeouts(m_hPort, &m_ctoOriginal);
        SetCommState(m_hPort, &m_dcbOriginal);
    }
    // Before the handle is closed, so that an emergency restore never
    // reaches a handle value the system may hand out again.
    UnregisterForRestore(m_nRestoreSlot);
    m_nRestoreSlot = -1;
    CloseHandles();
}

Win32Port::Win32Port(std::unique_ptr<Win32PortState> impl) : m_impl(std::move(impl)) {}

Win32Port::~Win32Port() { Close(); }

std::unique_ptr<SerialPort> SerialPort::OpenSystemPort(const std::string& name, std::string* reason) {
    auto fail = [reason](const std::string& why) -> std::unique_ptr<SerialPort> {
        if (reason)
            *reason = why;
        return nullptr;
    };
    const std::string path = ResolvePortName(name);
    if (path.empty())
        return fail("no such port");

    auto impl = std::make_unique<Win32PortState>();
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
        UnregisterForRestore(impl->m_nRestoreSlot);
        impl->CloseHandles();
        return fail(why);
    };

    impl->m_dcbOriginal.DCBlength = sizeof(DCB);
    if (GetFileType(impl->m_hPort) != FILE_TYPE_CHAR || !GetCommState(impl->m_hPort, &impl->m_dcbOriginal) ||
        !GetCommTimeouts(impl->m_hPort, &impl->m_ctoOriginal))
        return failOpen("not a serial port");
    if (!SetupComm(impl->m_hPort, SerialInput::kSize, kOutputQueueSize))
        return failOpen(SystemErrorText(GetLastError()));
    // From the first change on, an emergency exit must be able to undo it.
    impl->m_nRestoreSlot = RegisterForRestore(impl->m_hPort, impl->m_dcbOriginal, impl->m_ctoOriginal);
    configured = true;
    DCB raw = MakeRawKeepingLine(impl->m_dcbOriginal);
    if (!SetCommState(impl->m_hPort, &raw))
        return failOpen(SystemErrorText(GetLastError()));
    COMMTIMEOUTS timeouts = PortTimeouts();
    if (!SetCommTimeouts(impl->m_hPort, &timeouts))
        return failOpen(SystemErrorText(GetLastError()));
    impl->m_hCloseEvent = NewManualEvent();
    impl->m_hWakeEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    impl->m_hReadEvent = NewManualEvent();
    impl->m_hWriteEvent = NewManualEvent();
    if (!impl->m_hCloseEvent || !impl->m_hWakeEvent || !impl->m_hReadEvent || !impl->m_hWriteEvent)
        return failOpen(SystemErrorText(GetLastError()));
    return std::make_unique<Win32Port>(std::move(impl));
}

bool Win32Port::GetLineSettings(LineSettings* settings) {
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

bool Win32Port::SetLineSettings(const LineSettings& settings) {
    IoScope io(*m_impl);
    if (!io)
        return false;
    DCB current{};
    current.DCBlength = sizeof(DCB);
    if (!GetCommState(m_impl->m_hPort, &current))
        return false;
    const std::optional<DCB> wanted = ApplyLineSettings(current, settings);
    return wanted && m_impl->ApplyState(*wanted);
}

bool Win32Port::SetBaudRate(DWORD baudRate) {
    IoScope io(*m_impl);
    return io && baudRate != 0 && m_impl->SetSpeed(baudRate);
}

void Win32Port::SetReadProfile(ReadProfile profile) {
    m_impl->m_readProfile.store(profile, std::memory_order_release);
}

ReadProfile Win32Port::GetReadProfile() const { return m_impl->m_readProfile.load(std::memory_order_acquire); }

bool Win32Port::ReadByte(BYTE* byte, DWORD* count) { return ReadBufferedByte(*m_impl, byte, count); }

void Win32Port::Wake() {
    IoScope io(*m_impl);
    if (io)
        SetEvent(m_impl->m_hWakeEvent);
}

bool Win32Port::Write(const void* data, DWORD size, DWORD* written) {
    *written = 0;
    IoScope io(*m_impl);
    if (!io)
        return false;
    Win32PortState& port = *m_impl;
    std::lock_guard writeLock(port.m_writeMutex);
    const BYTE* bytes = static_cast<const BYTE*>(data);
    while (*written < size) {
        DWORD count = 0;
        DWORD wokenBy = WAIT_OBJECT_0;
        const bool done = port.Transfer(port.m_hWriteEvent, false, &count, &wokenBy, [&](OVERLAPPED* overlapped) {
            return WriteFile(port.m_hPort, bytes + *written, size - *written, nullptr, overlapped);
        });
        *written += count;
        if (!done)
            return false;
        if (count == 0) {
            // No write time-out is set: a write that takes nothing means the
            // driver refuses the port.
            port.MarkDead("the port takes no output");
            return false;
        }
    }
    return true;
}

bool Win32Port::Drain() {
    IoScope io(*m_impl);
    return io && m_impl->WaitOutputDrained(true);
}

void Win32Port::Close() {
    Win32PortState& port = *m_impl;
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

bool Win32Port::IsClosed() const { return m_impl->m_bClosed.load(std::memory_order_acquire); }

bool Win32Port::IsDead() const { return m_impl->m_bDead.load(std::memory_order_acquire); }

std::string Win32Port::DeadReason() const {
    std::lock_guard lock(m_impl->m_mutex);
    return m_impl->m_strDeadReason;
}

const std::string& Win32Port::DevicePath() const { return m_impl->m_strDevicePath; }
