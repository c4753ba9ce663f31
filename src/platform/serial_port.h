// The serial port: the one place that knows about termios.
//
// A SerialPort is opened by name, configured with LineSettings, read one
// byte at a time under one of two time-out profiles, written a frame at a
// time, and closed. It stands in for the handle, DCB and COMMTIMEOUTS calls
// of the system the tool was first written for.
//
// Names: "COM1".."COM4" open /dev/ttyS0../dev/ttyS3; a name that contains a
// '/' is a device path and is opened as given (symlinks such as
// /dev/serial/by-id/... are followed). Anything else cannot be opened.
//
// Opening: O_RDWR|O_NOCTTY|O_NONBLOCK|O_CLOEXEC, refused unless the path is
// a terminal, then flock(LOCK_EX|LOCK_NB) and TIOCEXCL, so that a second
// open of a port in use fails (also for root, whom TIOCEXCL lets through but
// flock does not). The original termios is saved and restored on Close().
//
// Received 0x00 bytes are discarded here and never reach ReadByte's caller.
//
// Read time-out profiles:
//  - Normal: a 1-byte read returns as soon as a byte is there, or with none
//    after about 1 ms.
//  - Transfer: a read returns at once with a byte that has already arrived;
//    on an idle line it waits for the next byte for a short while
//    (kTransferIdleWaitMs) instead of returning empty immediately, so that a
//    caller polling in a loop sleeps in poll() rather than spinning. A byte
//    that arrives is returned the moment it arrives, so throughput is that of
//    an immediate read.
//
// Dead versus idle: a hang-up, an error condition, EIO, or a zero-byte read
// after poll() reported the port readable means the device is gone (an
// unplugged USB adapter). The port then stays dead: every later read and
// write fails at once and IsDead() tells the caller why.
//
// Emergency restore: while a port is open, its descriptor and original
// termios are also kept in a fixed table that RestoreOpenPortsNow() reads
// with async-signal-safe calls only, for an exit that cannot wait for
// Close() (a second Ctrl-C, a fatal signal).
//
// Threads: one thread does the I/O; Close() may be called from another
// thread while a read is waiting. Close() wakes that read, waits until no
// read or write is in progress, lets queued output drain (bounded), restores
// the original settings, releases the lock and closes the descriptor. After
// Close() every call fails at once; the descriptor number is never reused by
// this object.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "platform/win_types.h"

enum class ParityMode { None, Odd, Even };
enum class FlowControl { None, Hardware };

// The line settings of the port, in the terms the port setup uses.
struct LineSettings {
    DWORD baudRate = 19200;     // a standard rate from 50 to 230400 (BaudToSpeed)
    int dataBits = 8;           // 7 or 8
    ParityMode parity = ParityMode::Odd;
    int stopBits = 1;           // 1 or 2
    // None: no flow control, DTR and RTS raised while open.
    // Hardware: CTS/RTS handshake (CRTSCTS), DTR raised.
    FlowControl flowControl = FlowControl::None;

    bool operator==(const LineSettings&) const = default;
};

enum class ReadProfile { Normal, Transfer };

inline constexpr int kNormalReadTimeoutMs = 1;
inline constexpr int kTransferIdleWaitMs = 50;
inline constexpr int kDrainStallLimitMs = 2000;

// Maps "COM1".."COM4" to their device paths; returns "" for other COM names
// and returns a path unchanged. Used for display as well as for Open.
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

class SerialPort {
public:
    // Opens the port in raw mode, keeping its current line settings, with the
    // normal read profile. On failure returns nullptr, leaves nothing open and
    // sets *reason (if given) to the system's reason, e.g. "device busy",
    // "no such device", "permission denied (add the user to the 'dialout'
    // group)", "not a terminal".
    static std::unique_ptr<SerialPort> Open(const std::string& name, std::string* reason = nullptr);

    ~SerialPort();
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;

    // Reads the current line settings. False if the port is closed or dead or
    // the settings cannot be read.
    bool GetLineSettings(LineSettings* settings);

    // Applies settings in raw mode with no software flow control, after the
    // output already written has left the port (TCSADRAIN). Output stuck for
    // kDrainStallLimitMs behind a stalled line is discarded rather than sent
    // under the new settings. On failure the port keeps its previous
    // settings and stays open.
    bool SetLineSettings(const LineSettings& settings);

    // Changes only the speed (in and out), after the output already written
    // has left the port (TCSADRAIN). On failure the port keeps its speed.
    bool SetBaudRate(DWORD baudRate);

    void SetReadProfile(ReadProfile profile);
    ReadProfile GetReadProfile() const;

    // Reads at most one byte under the current profile. Returns true when the
    // call itself worked, with *count 1 (byte stored) or 0 (time-out).
    // Returns false with *count 0 when the port is closed or dead.
    bool ReadByte(BYTE* byte, DWORD* count);

    // Writes all size bytes, looping over partial writes and retrying EINTR;
    // returns when the bytes have been handed to the driver. *written is the
    // count actually written; false if it is less than size.
    bool Write(const void* data, DWORD size, DWORD* written);

    // Blocks until everything written has physically left the port. Gives up
    // (false) when the output queue has made no progress for
    // kDrainStallLimitMs (a line stalled by hardware flow control), or when
    // the port is closed or dead.
    bool Drain();

    // Idempotent. See the file comment for what it waits for.
    void Close();

    bool IsClosed() const;
    bool IsDead() const;
    // Why the port went dead ("device disconnected (hang-up)", "device
    // disconnected (I/O error)", ...); "" while alive.
    std::string DeadReason() const;

    // The device path that was opened.
    const std::string& DevicePath() const;

    struct Impl;  // opaque: defined where termios is

private:
    explicit SerialPort(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> m_impl;
};
