// What every system's port keeps to close safely while other threads may be
// reading, writing or waiting on it: whether it is closed or dead, and how
// many calls are in progress. Close() sets m_bClosed, wakes whatever waits,
// then waits on m_idle until m_nActive is back to 0 before it touches the
// device; each call counts itself in with an IoScope.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <string>

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
