// The serial port, in terms no particular system's serial calls show
// through: each system implements this interface in one file of its own
// (serial_termios.cpp on POSIX systems).
//
// A SerialPort is opened by name, configured with LineSettings, read one
// byte at a time, written a frame at a time, and closed.
//
// Names: "COM1".."COM4" name the system's first four serial ports; a name
// that contains a '/' is a device path and is opened as given (symlinks such
// as /dev/serial/by-id/... are followed). Anything else cannot be opened.
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
// Emergency restore: while a port is open, its descriptor and original
// termios are also kept in a fixed table that RestoreOpenPortsNow() reads
// with async-signal-safe calls only, for an exit that cannot wait for
// Close() (a second Ctrl-C, a fatal signal).
//
// Threads: one thread reads and one thread writes at a time (the link
// thread does both); Wake() and Close() may be called from any thread.
// Close() wakes a waiting read or write, waits until no read or write is in
// progress, lets queued output drain (bounded), restores the original
// settings, releases the lock and closes the device. After Close() every call
// fails at once; the object itself stays valid (callers may still hold it).
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/win_types.h"

enum class ParityMode { None, Odd, Even };
enum class FlowControl { None, Hardware };

// The line settings of the port, in the terms the port setup uses.
struct LineSettings {
    DWORD baudRate = 19200;     // a standard rate from 50 to 230400
    int dataBits = 8;           // 7 or 8
    ParityMode parity = ParityMode::Odd;
    int stopBits = 1;           // 1 or 2
    // None: no flow control, DTR and RTS raised while open.
    // Hardware: CTS/RTS handshake, DTR raised.
    FlowControl flowControl = FlowControl::None;

    bool operator==(const LineSettings&) const = default;
};

// The link's two phases: the dialogue (Normal) and a data file being
// streamed (Transfer). Both read the same way (see ReadByte): a byte is
// handed out the moment it is there and an idle line is slept on until a
// byte or a wake-up comes. The port keeps the phase it was last given.
enum class ReadProfile { Normal, Transfer };

// Output that has made no progress for this long counts as stuck behind a
// line stalled by hardware flow control (see Drain).
inline constexpr int kDrainStallLimitMs = 2000;

// The system's device path for "COM1".."COM4" (any letter case); "" for
// other COM names; a path (any name with a '/') unchanged. Used for display
// as well as for Open.
std::string ResolvePortName(const std::string& name);

// Puts every open port back to the settings it had before it was opened
// (tcsetattr, TCSANOW), leaving it open. Async-signal-safe: may be called
// from a signal handler or just before _exit(). A port being closed on
// another thread at the same moment may be skipped (its Close() restores it).
void RestoreOpenPortsNow();

// For SIGINT, SIGTERM and SIGHUP, where they still have the default
// disposition: installs a handler that calls RestoreOpenPortsNow() and then
// lets the signal take its default effect (the process ends by the signal).
// A front end that handles these signals itself installs its own handlers
// afterwards and falls back to these when it removes them.
void RestorePortsOnFatalSignals();

// A serial port: the system's own (OpenSystemPort, defined in the system's
// file) or one end of a line inside the process (platform/serial_memory.h).
// Both keep the contract described above; callers hold a SerialPort and need
// not know which they have.
class SerialPort {
public:
    // Opens the port by name: the near end of the memory line registered
    // under that name when there is one (see MemoryLine), else the system's
    // port (OpenSystemPort). Same failure contract as OpenSystemPort.
    static std::unique_ptr<SerialPort> Open(const std::string& name, std::string* reason = nullptr);

    // Opens the system's port in raw mode, keeping its current line
    // settings, with the normal read profile. On failure returns nullptr,
    // leaves nothing open and sets *reason (if given) to the system's reason,
    // e.g. "device busy", "no such device", "permission denied (add the user
    // to the 'dialout' group)", "not a terminal".
    static std::unique_ptr<SerialPort> OpenSystemPort(const std::string& name, std::string* reason = nullptr);

    // Closes the port (see Close).
    virtual ~SerialPort() = default;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Reads the current line settings. False if the port is closed or dead or
    // the settings cannot be read.
    virtual bool GetLineSettings(LineSettings* settings) = 0;

    // Applies settings in raw mode with no software flow control, after the
    // output already written has left the port. Output stuck for
    // kDrainStallLimitMs behind a stalled line is discarded rather than sent
    // under the new settings. On failure the port keeps its previous
    // settings and stays open.
    virtual bool SetLineSettings(const LineSettings& settings) = 0;

    // Changes only the speed (in and out), after the output already written
    // has left the port. On failure the port keeps its speed.
    virtual bool SetBaudRate(DWORD baudRate) = 0;

    virtual void SetReadProfile(ReadProfile profile) = 0;
    virtual ReadProfile GetReadProfile() const = 0;

    // Reads one byte: at once from the port's buffer, or else sleeps until
    // the line delivers, Wake() is called, or the port is closed or fails.
    // Returns true with *count 1 (byte stored) or 0 (woken, no byte);
    // false with *count 0 when the port is closed or dead. Bytes already
    // buffered are handed out before a pending wake-up is reported. One
    // thread reads at a time.
    virtual bool ReadByte(BYTE* byte, DWORD* count) = 0;

    // Makes the ReadByte that is sleeping, or else the next one that would
    // sleep, return at once with *count 0, so that its caller can look at
    // the state it waits on. A wake-up is kept until a read reports it;
    // several before that report count as one. Any thread; never blocks; a
    // no-op on a closed port.
    virtual void Wake() = 0;

    // Writes all size bytes, looping over partial writes and retrying
    // interrupted calls; returns when the bytes have been handed to the
    // driver. *written is the count actually written; false if it is less
    // than size, which happens only when the port is closed or has failed
    // (IsClosed() or IsDead() then says which).
    virtual bool Write(const void* data, DWORD size, DWORD* written) = 0;

    // Blocks until everything written has physically left the port. Gives up
    // (false) when the output queue has made no progress for
    // kDrainStallLimitMs (a line stalled by hardware flow control), or when
    // the port is closed or dead.
    virtual bool Drain() = 0;

    // Idempotent. See the file comment for what it waits for.
    virtual void Close() = 0;

    virtual bool IsClosed() const = 0;
    virtual bool IsDead() const = 0;
    // Why the port went dead ("device disconnected (hang-up)", "device
    // disconnected (I/O error)", ...); "" while alive.
    virtual std::string DeadReason() const = 0;

    // The device path that was opened (a memory line's name).
    virtual const std::string& DevicePath() const = 0;

protected:
    SerialPort() = default;
};
