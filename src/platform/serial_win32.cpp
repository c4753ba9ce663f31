// The serial device on Windows, under the port of serial_port.cpp: a
// communications resource opened by name with CreateFileA (exclusive,
// overlapped), configured with SetupComm, GetCommState/SetCommState and
// SetCommTimeouts.
//
// How the port waits: every read, write and device request is overlapped,
// and its caller sleeps in WaitForMultipleObjects on the request's event
// together with the port's close event (set for good once Close() starts) and, for a
// read, its wake event (set by Wake() until a read reports it). Nothing
// polls: an idle line costs no processor time.
//
// How the port reads: the port has no read time-out, so a read completes
// when the count it asked for has come. It asks for the bytes the driver
// holds already (ClearCommError's cbInQue), which completes at once, or, with
// none there, for one byte, which it sleeps on. Received 0x00 bytes are
// dropped here too: not every driver honours fNull (Wine passes them).
#include "platform/serial_win32.h"

#include "platform/serial_device.h"

#include <winioctl.h>
// after <windows.h>
#include <initguid.h>
#include <devguid.h>
#include <setupapi.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
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

// The number n of "COMn" or "COMn:" (any letter case), 1..kHighestComNumber;
// 0 for any other name.
unsigned ComNumber(std::string name) {
    if (!name.empty() && name.back() == ':')
        name.pop_back();
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
    return BitsPerCharacter(ReadLineSettings(dcb)) * 1000.0 / dcb.BaudRate;
}

// What the emergency restore puts back.
struct RestoreRecord {
    DCB m_dcbOriginal;
    COMMTIMEOUTS m_ctoOriginal;
};
static_assert(sizeof(RestoreRecord) <= kRestoreRecordSize);

HANDLE HandleOf(SerialHandle handle) { return reinterpret_cast<HANDLE>(handle); }

void PutBack(HANDLE port, RestoreRecord record) {
    SetCommTimeouts(port, &record.m_ctoOriginal);
    SetCommState(port, &record.m_dcbOriginal);
}

// Console events that end the process: the ports are put back first, then
// the next handler (in the end the system's, which exits) takes the event.
BOOL WINAPI RestoreOnConsoleEvent(DWORD) {
    RestoreOpenPortsNow();
    return FALSE;
}

// A communications resource opened for overlapped calls. Every call's caller
// sleeps in WaitForMultipleObjects on the request's event together with the
// close event (set for good by Interrupt()) and, for a read, the wake event
// (set by Wake() until a read reports it).
class Win32Device final : public SerialDevice {
public:
    Win32Device(HANDLE port, const RestoreRecord& original, std::optional<int> latencyMs)
        : m_hPort(port), m_original(original), m_latencyMs(latencyMs) {}
    ~Win32Device() override { CloseHandles(); }

    // The four events; false (with the system's error) when one cannot be made.
    bool CreateEvents();

    bool GetLineSettings(LineSettings* settings) override;
    bool SetLineSettings(const LineSettings& settings, std::string* reason) override;
    bool SetBaudRate(std::uint32_t baudRate, std::string* reason) override;
    InputFill FillInput() override;
    bool Write(const std::uint8_t* data, std::uint32_t size, std::uint32_t* written) override;
    bool Drain(std::string* reason) override { return WaitOutputDrained(true, reason); }
    void Wake() override { SetEvent(m_hWakeEvent); }
    void Interrupt() override { SetEvent(m_hCloseEvent); }
    void Restore() override;
    void Release() override { CloseHandles(); }
    std::optional<int> AdapterLatencyMs() const override { return m_latencyMs; }

private:
    void MarkFailed(DWORD error);
    bool Transfer(HANDLE event, bool wakeable, DWORD* transferred, DWORD* wokenBy,
                  const std::function<BOOL(OVERLAPPED*)>& start);
    bool WaitOutputDrained(bool stopOnClose, std::string* reason);
    bool ApplyState(const DCB& wanted, std::string* reason);
    bool SetSpeed(DWORD baudRate);
    void CloseHandles();

    HANDLE m_hPort;
    // Set from the start of Close() on, so that a wait returns at once.
    HANDLE m_hCloseEvent = nullptr;
    // Auto-reset: set by Wake() until a read's wait takes it.
    HANDLE m_hWakeEvent = nullptr;
    HANDLE m_hReadEvent = nullptr;
    HANDLE m_hWriteEvent = nullptr;
    const RestoreRecord m_original;
    const std::optional<int> m_latencyMs;
    // Writes and device requests (the speed switch) take turns on the
    // write event.
    std::mutex m_writeMutex;
};

bool Win32Device::CreateEvents() {
    m_hCloseEvent = NewManualEvent();
    m_hWakeEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    m_hReadEvent = NewManualEvent();
    m_hWriteEvent = NewManualEvent();
    return m_hCloseEvent && m_hWakeEvent && m_hReadEvent && m_hWriteEvent;
}

// A transfer that fails while the port is open: an unplugged USB adapter
// completes its pending requests with one of the first group.
void Win32Device::MarkFailed(DWORD error) {
    if (Closing())
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
bool Win32Device::Transfer(HANDLE event, bool wakeable, DWORD* transferred, DWORD* wokenBy,
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
// device fails, and moves what has arrived into the input buffer. It asks
// for the bytes the driver holds already (ClearCommError's cbInQue), which
// completes at once, or, with none there, for one byte, which it sleeps on.
// Bytes that came are taken before a wake-up is reported; the wake-up is
// then kept for the next read that would sleep.
InputFill Win32Device::FillInput() {
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

bool Win32Device::Write(const std::uint8_t* data, std::uint32_t size, std::uint32_t* written) {
    std::lock_guard writeLock(m_writeMutex);
    while (*written < size) {
        DWORD count = 0;
        DWORD wokenBy = WAIT_OBJECT_0;
        const bool done = Transfer(m_hWriteEvent, false, &count, &wokenBy, [&](OVERLAPPED* overlapped) {
            return WriteFile(m_hPort, data + *written, size - *written, nullptr, overlapped);
        });
        *written += count;
        if (!done)
            return false;
        if (count == 0) {
            // No write time-out is set: a write that takes nothing means the
            // driver refuses the port.
            MarkDead("the port takes no output");
            return false;
        }
    }
    return true;
}

// Waits until the driver's output queue is empty, sleeping for as long as
// the queued bytes need at the line's speed between looks at it. Gives up
// (false, *reason if given) when the queue has not shrunk for
// kDrainStallLimitMs (a line stalled by hardware flow control), or, with
// stopOnClose, when Close() starts.
bool Win32Device::WaitOutputDrained(bool stopOnClose, std::string* reason) {
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
            if (reason)
                *reason = OutputStalledReason();
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

bool Win32Device::GetLineSettings(LineSettings* settings) {
    DCB dcb{};
    dcb.DCBlength = sizeof(DCB);
    if (!GetCommState(m_hPort, &dcb))
        return false;
    *settings = ReadLineSettings(dcb);
    return true;
}

bool Win32Device::SetLineSettings(const LineSettings& settings, std::string* reason) {
    DCB current{};
    current.DCBlength = sizeof(DCB);
    if (!GetCommState(m_hPort, &current)) {
        *reason = SystemErrorText(GetLastError());
        return false;
    }
    const std::optional<DCB> wanted = ApplyLineSettings(current, settings);
    if (!wanted) {
        *reason = UnsupportedSettingsReason(settings);
        return false;
    }
    return ApplyState(*wanted, reason);
}

// Writes a whole state record once the output before it has left the port;
// output stuck behind a stalled line is discarded rather than sent under the
// new settings. On failure puts the previous record back, since SetCommState
// may have applied part of it.
bool Win32Device::ApplyState(const DCB& wanted, std::string* reason) {
    DCB previous{};
    previous.DCBlength = sizeof(DCB);
    if (!GetCommState(m_hPort, &previous)) {
        *reason = SystemErrorText(GetLastError());
        return false;
    }
    if (!WaitOutputDrained(true, nullptr)) {
        if (Closing())
            return false;
        PurgeComm(m_hPort, PURGE_TXABORT | PURGE_TXCLEAR);
    }
    DCB copy = wanted;
    if (SetCommState(m_hPort, &copy))
        return true;
    *reason = SystemErrorText(GetLastError());
    SetCommState(m_hPort, &previous);
    return false;
}

bool Win32Device::SetBaudRate(std::uint32_t baudRate, std::string* reason) {
    if (baudRate == 0) {
        *reason = "unsupported speed (0 baud)";
        return false;
    }
    return SetSpeed(baudRate);
}

// Changes only the speed, with the driver's own request for it: line
// control and handshake stay exactly as they are. (SetCommState rewrites
// them all, and a driver may refuse one it cannot keep though the speed
// alone would do: Wine's pseudo-terminal ports refuse a second parity
// setting.) A refusal marks the port failed (Transfer), which says why.
bool Win32Device::SetSpeed(DWORD baudRate) {
    if (!WaitOutputDrained(true, nullptr)) {
        if (Closing())
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

// Bounded drain, the original state and time-outs, unless the device is gone.
void Win32Device::Restore() {
    if (Dead())
        return;
    if (!WaitOutputDrained(false, nullptr))
        PurgeComm(m_hPort, PURGE_TXABORT | PURGE_TXCLEAR);
    PutBack(m_hPort, m_original);
}

void Win32Device::CloseHandles() {
    for (HANDLE* handle : {&m_hReadEvent, &m_hWriteEvent, &m_hWakeEvent, &m_hCloseEvent}) {
        if (*handle)
            CloseHandle(*handle);
        *handle = nullptr;
    }
    if (m_hPort != INVALID_HANDLE_VALUE)
        CloseHandle(m_hPort);
    m_hPort = INVALID_HANDLE_VALUE;
}

}  // namespace

void RestoreFromRecord(SerialHandle handle, const void* record) {
    RestoreRecord saved;
    std::memcpy(&saved, record, sizeof saved);
    PutBack(HandleOf(handle), saved);
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

std::optional<int> AdapterLatencyMs(const std::string& name) {
    const std::string path = ResolvePortName(name);
    if (path.empty())
        return std::nullopt;
    const HDEVINFO devices = SetupDiGetClassDevsW(&GUID_DEVCLASS_PORTS, nullptr, nullptr, DIGCF_PRESENT);
    if (devices == INVALID_HANDLE_VALUE)
        return std::nullopt;
    std::optional<int> latencyMs;
    SP_DEVINFO_DATA device{};
    device.cbSize = sizeof device;
    for (DWORD i = 0; SetupDiEnumDeviceInfo(devices, i, &device); ++i) {
        const HKEY parameters = SetupDiOpenDevRegKey(devices, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, KEY_READ);
        if (parameters == INVALID_HANDLE_VALUE)
            continue;
        const bool found = _stricmp(ResolvePortName(RegistryText(parameters, L"PortName")).c_str(), path.c_str()) == 0;
        if (found)
            latencyMs = AdapterLatencyOf(parameters);
        RegCloseKey(parameters);
        if (found)
            break;
    }
    SetupDiDestroyDeviceInfoList(devices);
    return latencyMs;
}

std::optional<int> AdapterLatencyOf(HKEY parameters) {
    const std::optional<DWORD> ms = RegistryNumber(parameters, L"LatencyTimer");
    return ms ? std::optional<int>(static_cast<int>(*ms)) : std::nullopt;
}

std::unique_ptr<SerialPort> SerialPort::OpenSystemPort(const std::string& name, std::string* reason) {
    auto fail = [reason](const std::string& why) -> std::unique_ptr<SerialPort> {
        if (reason)
            *reason = why;
        return nullptr;
    };
    const std::string path = ResolvePortName(name);
    if (path.empty())
        return fail("no such port");

    // Share mode 0: exclusive, a second open fails while this one lasts.
    const HANDLE port = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OVERLAPPED, nullptr);
    if (port == INVALID_HANDLE_VALUE)
        return fail(OpenFailureReason(GetLastError()));

    // Everything below undoes what was done so far before it reports (the
    // device closes its handles when it goes).
    RestoreRecord original{};
    original.m_dcbOriginal.DCBlength = sizeof(DCB);
    if (GetFileType(port) != FILE_TYPE_CHAR || !GetCommState(port, &original.m_dcbOriginal) ||
        !GetCommTimeouts(port, &original.m_ctoOriginal)) {
        CloseHandle(port);
        return fail("not a serial port");
    }
    // The driver keeps the adapter's timer in the device's parameters; the
    // program cannot change it without the rights to, so it only reads it.
    auto device = std::make_unique<Win32Device>(port, original, ::AdapterLatencyMs(path));
    int restoreSlot = -1;
    bool configured = false;
    auto failOpen = [&](const std::string& why) {
        if (configured)
            PutBack(port, original);
        UnregisterForRestore(restoreSlot);
        return fail(why);
    };

    if (!SetupComm(port, SerialInput::kSize, kOutputQueueSize))
        return failOpen(SystemErrorText(GetLastError()));
    // From the first change on, an emergency exit must be able to undo it.
    restoreSlot = RegisterForRestore(reinterpret_cast<SerialHandle>(port), &original, sizeof original);
    configured = true;
    DCB raw = MakeRawKeepingLine(original.m_dcbOriginal);
    if (!SetCommState(port, &raw))
        return failOpen(SystemErrorText(GetLastError()));
    COMMTIMEOUTS timeouts = PortTimeouts();
    if (!SetCommTimeouts(port, &timeouts))
        return failOpen(SystemErrorText(GetLastError()));
    if (!device->CreateEvents())
        return failOpen(SystemErrorText(GetLastError()));
    return std::make_unique<SerialPort>(path, std::move(device), restoreSlot);
}
