#include "link/frame_trace.h"

#include <atomic>
#include <mutex>
#include <utility>

namespace {

std::mutex g_traceMutex;
FrameTraceSink g_traceSink;
std::atomic<bool> g_bTraceInstalled{false};

}  // namespace

void SetFrameTraceSink(FrameTraceSink sink) {
    std::lock_guard lock(g_traceMutex);
    g_traceSink = std::move(sink);
    g_bTraceInstalled.store(static_cast<bool>(g_traceSink), std::memory_order_release);
}

bool FrameTraceEnabled() { return g_bTraceInstalled.load(std::memory_order_acquire); }

void TraceFrame(bool outgoing, const BYTE* bytes, std::size_t size) {
    if (!g_bTraceInstalled.load(std::memory_order_acquire))
        return;
    std::lock_guard lock(g_traceMutex);
    if (g_traceSink)
        g_traceSink(outgoing, bytes, size);
}
