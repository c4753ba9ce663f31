// The serial port, in terms no particular system's serial calls show
// through. The port itself (serial_port.cpp) is the same on every system:
// its state, the count of calls in progress, reading, closing, waking and
// the emergency-restore table. Under it a SerialDevice (serial_device.h)
// makes the system's calls: serial_termios.cpp on POSIX systems,
// serial_win32.cpp on Windows, serial_memory.cpp for a line inside the
// process.
//
// A SerialPort is opened by name, configured with LineSettings, read one
// byte at a time, written a frame at a time, and closed.
//
// Names: "COM1".."COM4" name the system's first four serial ports; a name
// that contains a '/' is a device path and is opened as given (symlinks such
// as /dev/serial/by-id/... are followed). Windows takes any "COMn" (also
// as "COMn:") and "\\.\" device paths instead. Anything else cannot be opened.
//
// Opening is exclusive: a second open of a port in use fails. The port's
// original settings are saved and restored on Close().
//
// Received 0x00 bytes are discarded here and never reach ReadByte's caller.
//
// Reading: the port takes what the line has delivered in one system call
// into a small buffer of its own and hands it out a byte per ReadByte call.
// With nothing buffered, ReadByte sleeps until a byte arrives, Wake() is
// called, the port is closed, or it fails; there is no read time-out and
// nothing polls, so an idle line costs no processor time.
//
// Dead versus idle: a hang-up, an error condition, an I/O error, or an end of
// file from the driver means the device is gone (an unplugged USB adapter).
// The port then stays dead: every later read and write fails at once and
// IsDead() tells the caller why.
//
// Emergency restore: while a port is open, its handle and the settings it
// was found with are also kept in a fixed table that RestoreOpenPortsNow()
// reads without locks or allocation, for an exit that cannot wait for
// Close() (a second Ctrl-C, a fatal signal).
//
// Threads: one thread reads and one thread writes at a time (the link
// thread does both); Wake() and Close() may be called from any thread.
// Close() wakes a waiting read or write, waits until no read or write is in
// progress, lets queued output drain (bounded), restores the original
// settings, releases the lock and closes the device. After Close() every call
// fails at once; the object itself stays valid (callers may still hold it).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

enum class ParityMode { None, Odd, Even };
enum class FlowControl { None, Hardware };

// The line settings of the port, in the terms the port setup uses.
struct LineSettings {
    std::uint32_t baudRate = 19200;  // a standard rate from 50 to 230400
    int dataBits = 8;                // 7 or 8
    ParityMode parity = ParityMode::Odd;
    int stopBits = 1;  // 1 or 2
    // None: no flow control, DTR and RTS raised while open.
    // Hardware: CTS/RTS handshake, DTR raised.
    FlowControl flowControl = FlowControl::None;

    bool operator==(const LineSettings&) const = default;
};

// Bits one character takes on the line: start bit, data bits, parity bit
// (if any) and stop bits.
int BitsPerCharacter(const LineSettings& settings);

// The link's two phases: the dialogue (Normal) and a data file being
// streamed (Transfer). Both read the same way (see ReadByte): a byte is
// handed out the moment it is there and an idle line is slept on until a
// byte or a wake-up comes. The port keeps the phase it was last given.
enum class ReadProfile { Normal, Transfer };

// Output that has made no progress for this long counts as stuck behind a
// line stalled by hardware flow control (see Drain).
inline constexpr int kDrainStallLimitMs = 2000;

// The system's device path for a COM name (any letter case): on POSIX
// systems "COM1".."COM4" only, "" for other COM names; a path (any name with
// a '/') unchanged. Used for display as well as for Open.
std::string ResolvePortName(const std::string& name);

// Puts every open port back to the settings it had before it was opened,
// leaving it open. Async-signal-safe on POSIX systems: may be called from a
// signal handler or just before _exit(). A port being closed on another
// thread at the same moment may be skipped (its Close() restores it).
void RestoreOpenPortsNow();

// For SIGINT, SIGTERM and SIGHUP, where they still have the default
// disposition: installs a handler that calls RestoreOpenPortsNow() and then
// lets the signal take its default effect (the process ends by the signal).
// A front end that handles these signals itself installs its own handlers
// afterwards and falls back to these when it removes them. (Windows: a
// console control handler that does the same.)
void RestorePortsOnFatalSignals();

// The latency timer of the USB adapter behind the port named, in
// milliseconds, as the system reports it now: Linux's sysfs (latency_timer
// of the tty's device), Windows' device parameters (LatencyTimer). nullopt
// when there is no such adapter or its driver keeps no timer. It only reads:
// on Linux an open port asks for low latency, which the common adapters'
// driver answers by setting the timer to 1 ms (see
// SerialPort::AdapterLatencyMs).
std::optional<int> AdapterLatencyMs(const std::string& name);

class SerialDevice;

// An open port: the system's own (OpenSystemPort) or one end of a line inside
// the process (platform/serial_memory.h). Both keep the contract described
// above; callers hold a SerialPort and need not know which they have.
class SerialPort {
public:
    // Opens the port by name: the near end of the memory line registered
    // under that name when there is one (see MemoryLine), else the system's
    // port (OpenSystemPort). Same failure contract as OpenSystemPort.
    static std::unique_ptr<SerialPort> Open(const std::string& name, std::string* reason = nullptr);

    // Opens the system's port in raw mode, keeping its current line
    // settings, with the normal read profile; on Linux it also asks the
    // driver for low latency (given back on Close()). On failure returns
    // nullptr, leaves nothing open and sets *reason (if given) to the
    // system's reason, e.g. "device busy", "no such device", "permission
    // denied (add the user to the 'dialout' group)", "not a terminal".
    static std::unique_ptr<SerialPort> OpenSystemPort(const std::string& name, std::string* reason = nullptr);

    // A port over device, which the system's file has opened (devicePath is
    // what it opened). restoreSlot is the emergency-restore slot the device
    // holds (RegisterForRestore), -1 for none; the port frees it on Close().
    SerialPort(std::string devicePath, std::unique_ptr<SerialDevice> device, int restoreSlot = -1);
    // Closes the port (see Close).
    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Reads the current line settings. False if the port is closed or dead or
    // the settings cannot be read.
    bool GetLineSettings(LineSettings* settings);

    // Applies settings in raw mode with no software flow control, after the
    // output already written has left the port. Output stuck for
    // kDrainStallLimitMs behind a stalled line is discarded rather than sent
    // under the new settings. On failure the port keeps its previous
    // settings and stays open, and *reason (if given) says why.
    bool SetLineSettings(const LineSettings& settings, std::string* reason = nullptr);

    // Changes only the speed (in and out), after the output already written
    // has left the port. On failure the port keeps its speed, and *reason
    // (if given) says why.
    bool SetBaudRate(std::uint32_t baudRate, std::string* reason = nullptr);

    void SetReadProfile(ReadProfile profile);
    ReadProfile GetReadProfile() const;

    // Reads one byte: at once from the port's buffer, or else sleeps until
    // the line delivers, Wake() is called, or the port is closed or fails.
    // Returns true with *count 1 (byte stored) or 0 (woken, no byte);
    // false with *count 0 when the port is closed or dead. Bytes already
    // buffered are handed out before a pending wake-up is reported. One
    // thread reads at a time.
    bool ReadByte(std::uint8_t* byte, std::uint32_t* count);

    // Makes the ReadByte that is sleeping, or else the next one that would
    // sleep, return at once with *count 0, so that its caller can look at
    // the state it waits on. A wake-up is kept until a read reports it;
    // several before that report count as one. Any thread; never blocks; a
    // no-op on a closed port.
    void Wake();

    // Writes all size bytes, looping over partial writes and retrying
    // interrupted calls; returns when the bytes have been handed to the
    // driver. *written is the count actually written; false if it is less
    // than size, which happens only when the port is closed or has failed
    // (IsClosed() or IsDead() then says which).
    bool Write(const void* data, std::uint32_t size, std::uint32_t* written);

    // Blocks until everything written has physically left the port. Gives up
    // (false, with *reason if given) when the output queue has made no
    // progress for kDrainStallLimitMs (a line stalled by hardware flow
    // control), or when the port is closed or dead.
    bool Drain(std::string* reason = nullptr);

    // Idempotent. See the file comment for what it waits for.
    void Close();

    bool IsClosed() const;
    bool IsDead() const;
    // Why the port went dead ("device disconnected (hang-up)", "device
    // disconnected (I/O error)", ...); "" while alive.
    std::string DeadReason() const;

    // The device path that was opened (a memory line's name).
    const std::string& DevicePath() const { return m_strDevicePath; }

    // The latency timer of the USB adapter behind the port, in milliseconds,
    // as read once the port was open (on Linux after asking for low
    // latency). nullopt when unknown: no such adapter, a driver that keeps no
    // timer, a pseudo-terminal, a memory line.
    std::optional<int> AdapterLatencyMs() const;

private:
    class IoScope;

    bool Usable() const;
    // Makes call (a device call taking a reason) as a call in progress; on
    // failure sets *reason (if given) to the device's reason, or else to why
    // the port refused or ended it (closed, dead).
    template <typename Call>
    bool Attempt(std::string* reason, Call call);

    const std::string m_strDevicePath;
    const std::unique_ptr<SerialDevice> m_device;
    int m_nRestoreSlot;
    std::atomic<ReadProfile> m_readProfile{ReadProfile::Normal};
};
