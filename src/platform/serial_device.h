// What a port needs from the system underneath it, and what the port keeps
// for every system. A system's file (serial_termios.cpp, serial_win32.cpp)
// and the line inside the process (serial_memory.cpp) each implement a
// SerialDevice with the system's calls only; the port around it
// (SerialPort, serial_port.cpp) does the rest the same way everywhere: the
// closed and dead state, the count of calls in progress, the input buffer
// handed out a byte at a time, waking, the close sequence, and the
// emergency-restore table.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "platform/serial_port.h"

// What the last read from the driver brought, NULs removed; the reading
// thread's own. Close() never frees it, so a byte already here is handed out
// without a system call or a lock.
struct SerialInput {
    // Bytes taken from the driver per read: more than the largest frame, so
    // that a whole frame that has arrived is taken in one call.
    static constexpr std::size_t kSize = 300;

    std::uint8_t m_abyBytes[kSize];
    std::size_t m_nHead = 0;
    std::size_t m_nTail = 0;

    bool Empty() const { return m_nHead == m_nTail; }
    std::uint8_t Take() { return m_abyBytes[m_nHead++]; }
    // Keeps the count bytes just read into m_abyBytes. NUL bytes are line
    // noise to this protocol: a frame never carries one, so the port drops
    // them before anyone sees them.
    void Keep(std::size_t count) {
        std::uint8_t* const end = std::remove(m_abyBytes, m_abyBytes + count, std::uint8_t{0});
        m_nHead = 0;
        m_nTail = static_cast<std::size_t>(end - m_abyBytes);
    }
};

// What a wait for input ended with: bytes in the buffer, nothing usable
// (only NULs, say), a wake-up, or a closed or failed port.
enum class InputFill { Bytes, Nothing, Woken, Failed };

// The system's handle on an open port as the emergency-restore table keeps
// it: a descriptor on POSIX systems, a HANDLE on Windows.
using SerialHandle = std::intptr_t;
inline constexpr SerialHandle kNoSerialHandle = -1;

// The largest record of original settings a system keeps for the emergency
// restore.
inline constexpr std::size_t kRestoreRecordSize = 192;

// Publishes handle in the emergency-restore table with a copy of record
// (size bytes of a trivially copyable type, at most kRestoreRecordSize),
// which RestoreOpenPortsNow() hands to RestoreFromRecord. Returns the slot,
// or -1 when the table is full (the port then has no emergency restore;
// Close() still restores it). Call it before the first change to the port.
int RegisterForRestore(SerialHandle handle, const void* record, std::size_t size);
// Takes the slot out of the table (-1: nothing). The port does it on Close()
// after restoring the settings and before the handle is closed, so that an
// emergency restore never reaches a handle the system may hand out again.
void UnregisterForRestore(int slot);
// Defined in the system's file: puts the port behind handle back to the
// settings in record. Async-signal-safe on POSIX systems (it runs in
// RestoreOpenPortsNow).
void RestoreFromRecord(SerialHandle handle, const void* record);

// The reasons every system gives in the same words.
std::string UnsupportedSettingsReason(const LineSettings& settings);
std::string OutputStalledReason();

class SerialDevice {
public:
    SerialDevice() = default;
    virtual ~SerialDevice() = default;
    SerialDevice(const SerialDevice&) = delete;
    SerialDevice& operator=(const SerialDevice&) = delete;

    // The system's calls. The port makes them only while it counts them as
    // in progress, so never after Close() has started giving the device
    // back. A call that fails sets *reason, unless the port is closing or
    // dead (the port then says so itself).
    virtual bool GetLineSettings(LineSettings* settings) = 0;
    // See SerialPort::SetLineSettings and SetBaudRate.
    virtual bool SetLineSettings(const LineSettings& settings, std::string* reason) = 0;
    virtual bool SetBaudRate(std::uint32_t baudRate, std::string* reason) = 0;
    // Sleeps until the line delivers, Wake() or Interrupt() is called, or the
    // device fails, and moves what has arrived into m_input (SerialInput::
    // Keep). Bytes that are there are taken before a wake-up is reported;
    // a wake-up that came with bytes is kept for the next call. Never
    // returns Nothing.
    virtual InputFill FillInput() = 0;
    // See SerialPort::Write; *written starts at 0.
    virtual bool Write(const std::uint8_t* data, std::uint32_t size, std::uint32_t* written) = 0;
    // See SerialPort::Drain.
    virtual bool Drain(std::string* reason) = 0;
    // Ends the FillInput in progress, or else the next one that would sleep,
    // with Woken. Any thread; never blocks.
    virtual void Wake() = 0;

    // The close sequence, each step once. Interrupt: Close() has started;
    // every wait in progress or to come returns at once (any thread, never
    // blocks). Restore, once no call is in progress: a bounded drain and the
    // settings the device was found with. Release, once the emergency
    // restore no longer holds the handle: the device given back (its lock,
    // its handles).
    virtual void Interrupt() = 0;
    virtual void Restore() = 0;
    virtual void Release() = 0;

    // See SerialPort::AdapterLatencyMs.
    virtual std::optional<int> AdapterLatencyMs() const { return std::nullopt; }

    // The device is gone. The first reason is kept: later failures are
    // consequences of it. Any thread.
    void MarkDead(const std::string& reason);

protected:
    // Close() has started.
    bool Closing() const { return m_bClosed.load(std::memory_order_acquire); }
    bool Dead() const { return m_bDead.load(std::memory_order_acquire); }

    SerialInput m_input;

private:
    friend class SerialPort;

    // Guards the fields below (the flags are also read without it).
    mutable std::mutex m_mutex;
    std::condition_variable m_idle;
    int m_nActive = 0;
    std::atomic<bool> m_bClosed{false};
    bool m_bReleased = false;  // the device is given back: Close() is over
    std::atomic<bool> m_bDead{false};
    std::string m_strDeadReason;
};
