#include "platform/thread.h"

#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace {

std::mutex g_mutex;
std::condition_variable g_threadEnded;
int g_running = 0;

}  // namespace

bool AfxBeginThread(ThreadProc fn, void* param) {
    {
        std::lock_guard lock(g_mutex);
        ++g_running;
    }
    try {
        std::thread([fn, param] {
            fn(param);
            std::lock_guard lock(g_mutex);
            --g_running;
            g_threadEnded.notify_all();
        }).detach();
    } catch (const std::system_error&) {
        std::lock_guard lock(g_mutex);
        --g_running;
        g_threadEnded.notify_all();
        return false;
    }
    return true;
}

bool JoinWorkerThreads(std::chrono::milliseconds timeout) {
    std::unique_lock lock(g_mutex);
    return g_threadEnded.wait_for(lock, timeout, [] { return g_running == 0; });
}

int RunningWorkerThreads() {
    std::lock_guard lock(g_mutex);
    return g_running;
}
