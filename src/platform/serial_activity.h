// What every system's port keeps to close safely while other threads may be
// reading, writing or waiting on it: whether it is closed or dead, and how
// many calls are in progress. Close() sets m_bClosed, wakes whatever waits,
// then waits on m_idle until m_nActive is back to 0 before it touches the
// device; each call counts itself in with an IoScope. Also the input buffer
// and the ReadByte() every system's port hands bytes out with.
#pragma once

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <string>

#include "platform/win_types.h"

struct SerialActivity {
    // Guards the fields below (the flags are also read without it).
    mutable std::mutex m_mutex;
    std::condition_variable m_idle;
    int m_nActive = 0;
    std::atomic<bool> m_bClosed{false};
    bool m_bReleased = false;  // the device is given back: Close() is over
    std::atomic<bool> m_bDead{false};
    std::string m_strDeadReason;

    bool Usable() const {
        return !m_bClosed.load(std::memory_order_acquire) && !m_bDead.load(std::memory_order_acquire);
    }

    // The first reason is kept: later failures are consequences of it.
    void MarkDead(const std::string& reason) {
        std::lock_guard lock(m_mutex);
        if (m_bDead)
            return;
        m_strDeadReason = reason;
        m_bDead = true;
    }
};

// Counts an I/O call as in progress for its lifetime, unless the port is
// already closed or dead (then false: the call must fail at once).
class IoScope {
public:
    explicit IoScope(SerialActivity& port) : m_port(port) {
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
    SerialActivity& m_port;
    bool m_bEntered;
};

// What the last read from the driver brought, NULs removed; the reading
// thread's own. Close() never frees it, so a byte already here is handed out
// without a system call or a lock.
struct SerialInput {
    // Bytes taken from the driver per read: more than the largest frame, so
    // that a whole frame that has arrived is taken in one call.
    static constexpr std::size_t kSize = 300;

    BYTE m_abyBytes[kSize];
    std::size_t m_nHead = 0;
    std::size_t m_nTail = 0;

    bool Empty() const { return m_nHead == m_nTail; }
    BYTE Take() { return m_abyBytes[m_nHead++]; }
    // Keeps the count bytes just read into m_abyBytes. NUL bytes are line
    // noise to this protocol: a frame never carries one, so the port drops
    // them before anyone sees them.
    void Keep(std::size_t count) {
        BYTE* const end = std::remove(m_abyBytes, m_abyBytes + count, BYTE{0});
        m_nHead = 0;
        m_nTail = static_cast<std::size_t>(end - m_abyBytes);
    }
};

// What a wait for input ended with: bytes in the buffer, nothing usable
// (only NULs, say), a wake-up, or a closed or failed port.
enum class InputFill { Bytes, Nothing, Woken, Failed };

// ReadByte() of every system's port (a SerialActivity with an m_input and a
// FillInput() that sleeps until the line delivers or the port is woken): the
// next buffered byte, or one wait for more. A wake-up is a success with
// *count 0; false when the port is closed, dead or fails.
template <typename Port>
bool ReadBufferedByte(Port& port, BYTE* byte, DWORD* count) {
    *count = 0;
    if (!port.Usable())
        return false;
    if (port.m_input.Empty()) {
        IoScope io(port);
        if (!io)
            return false;
        switch (port.FillInput()) {
        case InputFill::Bytes:
            break;
        case InputFill::Woken:
            return true;
        case InputFill::Nothing:
        case InputFill::Failed:
            return false;
        }
    }
    *byte = port.m_input.Take();
    *count = 1;
    return true;
}
