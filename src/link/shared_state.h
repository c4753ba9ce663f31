// The state the UI thread, LinkThread and UploadThread share.
//
// Every flag is a 32-bit atomic word used as a boolean. Writes are release
// stores and reads acquire loads: that is what orders the Outbox hand-off
// (the frame's bytes are visible before g_bOutboxFull reads true, and
// LinkThread has finished copying Outbox before it reads false).
//
// Waiting: instead of polling a flag in a loop, a thread that waits for a
// condition over these flags calls WaitForState(), which sleeps until some
// flag changes (every Set/Clear wakes all waiters) and re-tests the
// condition. The conditions are the same ones a poll would test, so each
// wait's exit conditions stay exactly as they would be with polling.
//
// The link thread sleeps in the port's read instead: the flags it tests
// between reads (g_bAbort, g_bUploadFinished) also wake the port held in
// g_hComm (SerialPort::Wake), so that it sees them change at once.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/win_types.h"

class SerialPort;

// One shared flag. Set()/Clear() wake every thread in WaitForState(), and
// for a flag made with kWakesPortReader also the read waiting on g_hComm.
class SharedFlag {
public:
    static constexpr bool kWakesPortReader = true;

    constexpr SharedFlag() = default;
    constexpr explicit SharedFlag(bool wakesPortReader) : m_bWakesPortReader(wakesPortReader) {}

    void Set() { Store(1); }
    void Clear() { Store(0); }
    bool IsSet() const { return m_value.load(std::memory_order_acquire) != 0; }
    explicit operator bool() const { return IsSet(); }

private:
    void Store(std::uint32_t value);
    std::atomic<std::uint32_t> m_value{0};
    bool m_bWakesPortReader = false;
};

// A shared 32-bit counter; written by one thread, read whole by others.
class SharedCounter {
public:
    DWORD Load() const { return m_value.load(std::memory_order_acquire); }
    void Store(DWORD value) { m_value.store(value, std::memory_order_release); }
    void Add(DWORD delta) { m_value.store(Load() + delta, std::memory_order_release); }

private:
    std::atomic<DWORD> m_value{0};
};

extern SharedFlag g_bAbort;            // wakes the port's reader
extern SharedFlag g_bOutboxFull;
extern SharedFlag g_bTransferActive;
extern SharedFlag g_bTransferDone;
extern SharedFlag g_bUploadFinished;   // wakes the port's reader
// Set by LinkThread for as long as it runs (cleared as it ends), so that a
// thread waiting for the link to take a frame can tell that nobody will.
extern SharedFlag g_bLinkRunning;

// When a frame from the receiver was last read whole (steady clock), so that
// a front end can tell a receiver that has fallen silent. Written by
// LinkThread, read by the UI thread; its changes wake nobody (a waiter
// computes a deadline from it and looks again when that deadline comes).
class SharedStamp {
public:
    using TimePoint = std::chrono::steady_clock::time_point;
    void Touch() { m_ticks.store(TimePoint::clock::now().time_since_epoch().count(), std::memory_order_release); }
    TimePoint Load() const {
        return TimePoint(TimePoint::duration(m_ticks.load(std::memory_order_acquire)));
    }

private:
    std::atomic<TimePoint::rep> m_ticks{0};
};

extern SharedStamp g_tLastHeard;

extern SharedCounter g_dwBytesSent;
extern SharedCounter g_dwFileLength;

// The open port; keeps its (closed) value after CloseCommPort, as a handle
// would. Set on the UI thread by OpenCommPort; read by the worker threads.
extern std::atomic<SerialPort*> g_hComm;

// Full path of the chosen command script. Written by the UI thread before
// UploadThread starts, read by UploadThread.
extern std::string g_strScriptPath;

// The application-start reset: zeroes g_dwBytesSent, g_dwFileLength,
// g_bTransferActive, g_bTransferDone and g_bUploadFinished and empties
// g_strScriptPath. g_bAbort, g_bOutboxFull and g_hComm are left alone.
void ResetSharedState();

// Everything the link's threads share, as a fresh process has it: the above,
// the flags it leaves alone (g_bAbort, g_bOutboxFull, g_bLinkRunning) and
// the three frame buffers. For programs that run the link again and again in
// one process (tests, fuzzers, benchmarks); never while a worker runs.
void ResetLinkState();

// Blocks until condition() is true. condition is re-tested after every flag
// change; it must read only shared flags (or state whose changes are
// announced with NotifyStateChanged()).
void WaitForState(const std::function<bool()>& condition);

// The same, giving up after timeout. Returns condition()'s last value.
bool WaitForStateFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout);

// Wakes every WaitForState() so that it re-tests its condition. For state
// outside the flags (the port going dead, say).
void NotifyStateChanged();

// For a thread that waits for flag changes in a wait of its own (a front
// end's event loop): hook is called on the changing thread after every
// Set/Clear, with the flag, and after NotifyStateChanged() with nullptr.
// It must return quickly and must not wait for shared state. nullptr
// removes it.
using StateChangeHook = void (*)(const SharedFlag* flag);
void SetStateChangeHook(StateChangeHook hook);
