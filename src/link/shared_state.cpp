#include "link/shared_state.h"

#include <condition_variable>
#include <mutex>

#include "link/frame_buffer.h"
#include "platform/serial_port.h"

namespace {

// Waiters sleep on this condition variable; every flag change bumps the
// generation under the mutex so that a wake-up can never be lost between a
// waiter's test and its sleep.
std::mutex g_stateMutex;
std::condition_variable g_stateChanged;
std::uint64_t g_generation = 0;
std::atomic<StateChangeHook> g_stateChangeHook{nullptr};

void WakeWaiters() {
    {
        std::lock_guard lock(g_stateMutex);
        ++g_generation;
    }
    g_stateChanged.notify_all();
}

}  // namespace

SharedFlag g_bAbort{SharedFlag::kWakesPortReader};
SharedFlag g_bOutboxFull;
SharedFlag g_bTransferActive;
SharedFlag g_bTransferDone;
SharedFlag g_bUploadFinished{SharedFlag::kWakesPortReader};
SharedFlag g_bLinkRunning;

SharedStamp g_tLastHeard;
SharedCounter g_dwBytesSent;
SharedCounter g_dwFileLength;

std::atomic<SerialPort*> g_hComm{nullptr};
std::string g_strScriptPath;

void SharedFlag::Store(std::uint32_t value) {
    m_value.store(value, std::memory_order_release);
    WakeWaiters();
    if (StateChangeHook hook = g_stateChangeHook.load(std::memory_order_acquire))
        hook(this);
    // After the store: a reader woken by this sees the new value.
    if (m_bWakesPortReader)
        if (SerialPort* port = g_hComm.load(std::memory_order_acquire))
            port->Wake();
}

void NotifyStateChanged() {
    WakeWaiters();
    if (StateChangeHook hook = g_stateChangeHook.load(std::memory_order_acquire))
        hook(nullptr);
}

void SetStateChangeHook(StateChangeHook hook) { g_stateChangeHook.store(hook, std::memory_order_release); }

void ResetSharedState() {
    g_dwBytesSent.Store(0);
    g_dwFileLength.Store(0);
    g_bTransferActive.Clear();
    g_bTransferDone.Clear();
    g_bUploadFinished.Clear();
    g_strScriptPath.clear();
}

void ResetLinkState() {
    ResetSharedState();
    g_bAbort.Clear();
    g_bOutboxFull.Clear();
    g_bLinkRunning.Clear();
    Outbox = FrameBuffer();
    InFrame = FrameBuffer();
    ReplyFrame = FrameBuffer();
}

void WaitForState(const std::function<bool()>& condition) {
    std::unique_lock lock(g_stateMutex);
    for (;;) {
        std::uint64_t seen = g_generation;
        lock.unlock();
        if (condition())
            return;
        lock.lock();
        g_stateChanged.wait(lock, [seen] { return g_generation != seen; });
    }
}

bool WaitForStateFor(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock lock(g_stateMutex);
    for (;;) {
        std::uint64_t seen = g_generation;
        lock.unlock();
        if (condition())
            return true;
        lock.lock();
        if (!g_stateChanged.wait_until(lock, deadline, [seen] { return g_generation != seen; })) {
            lock.unlock();
            return condition();
        }
    }
}
