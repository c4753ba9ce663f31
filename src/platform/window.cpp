#include "platform/window.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <unordered_map>
#include <utility>

namespace {

struct PostedMessage {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool hasText;
    std::string text;
};

struct Registry {
    std::mutex mutex;
    std::condition_variable posted;
    std::unordered_map<HWND, MessageTarget*> windows;
    std::deque<PostedMessage> queue;
    HWND nextHandle = 1;
    bool wakeRequested = false;
    std::function<void()> hook;
    // Serialises delivery against DestroyWindowHandle so that a handler is
    // never running for a window whose owner has just been told it is gone.
    std::recursive_mutex delivery;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

bool Enqueue(PostedMessage message) {
    Registry& r = TheRegistry();
    std::function<void()> hook;
    {
        std::lock_guard lock(r.mutex);
        if (!r.windows.contains(message.hwnd))
            return false;
        r.queue.push_back(std::move(message));
        hook = r.hook;
    }
    r.posted.notify_all();
    if (hook)
        hook();
    return true;
}

}  // namespace

HWND CreateWindowHandle(MessageTarget* target) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    HWND hwnd = r.nextHandle++;
    if (r.nextHandle == 0)
        r.nextHandle = 1;
    r.windows[hwnd] = target;
    return hwnd;
}

void DestroyWindowHandle(HWND hwnd) {
    Registry& r = TheRegistry();
    std::lock_guard deliveryLock(r.delivery);
    std::lock_guard lock(r.mutex);
    r.windows.erase(hwnd);
    std::erase_if(r.queue, [hwnd](const PostedMessage& m) { return m.hwnd == hwnd; });
}

bool IsWindowAlive(HWND hwnd) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    return r.windows.contains(hwnd);
}

bool PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    return Enqueue({hwnd, message, wParam, lParam, false, {}});
}

bool PostMessageText(HWND hwnd, UINT message, const char* text, WPARAM wParam) {
    return Enqueue({hwnd, message, wParam, 0, true, text ? std::string(text) : std::string()});
}

int DispatchPostedMessages() {
    Registry& r = TheRegistry();
    std::lock_guard deliveryLock(r.delivery);
    int delivered = 0;
    for (;;) {
        PostedMessage message;
        MessageTarget* target = nullptr;
        {
            std::lock_guard lock(r.mutex);
            if (r.queue.empty())
                break;
            message = std::move(r.queue.front());
            r.queue.pop_front();
            auto it = r.windows.find(message.hwnd);
            if (it == r.windows.end())
                continue;
            target = it->second;
        }
        LPARAM lParam = message.hasText ? reinterpret_cast<LPARAM>(message.text.c_str()) : message.lParam;
        target->OnMessage(message.message, message.wParam, lParam);
        ++delivered;
    }
    return delivered;
}

void WaitForPostedMessage(std::chrono::milliseconds timeout) {
    Registry& r = TheRegistry();
    std::unique_lock lock(r.mutex);
    r.posted.wait_for(lock, timeout, [&r] { return !r.queue.empty() || r.wakeRequested; });
    r.wakeRequested = false;
}

void WaitForPostedMessage() {
    Registry& r = TheRegistry();
    std::unique_lock lock(r.mutex);
    r.posted.wait(lock, [&r] { return !r.queue.empty() || r.wakeRequested; });
    r.wakeRequested = false;
}

void WakeMessageLoop() {
    Registry& r = TheRegistry();
    std::function<void()> hook;
    {
        std::lock_guard lock(r.mutex);
        r.wakeRequested = true;
        hook = r.hook;
    }
    r.posted.notify_all();
    if (hook)
        hook();
}

void SetPostedMessageHook(std::function<void()> hook) {
    Registry& r = TheRegistry();
    std::lock_guard lock(r.mutex);
    r.hook = std::move(hook);
}
