#include "ui/wx/wx_posted_messages.h"

#include "platform/window.h"

#include <atomic>
#include <mutex>

#include <wx/app.h>

namespace {

std::mutex g_pumpMutex;
bool g_bPumpActive = false;
// One dispatch scheduled at a time: it delivers everything queued by then,
// and a message posted while it runs schedules the next one.
std::atomic<bool> g_bDispatchScheduled{false};

void DispatchOnUiThread() {
    g_bDispatchScheduled.store(false, std::memory_order_release);
    DispatchPostedMessages();
}

// Called on the posting thread after each message is queued. The hook may
// still be called by a poster that fetched it just before it was removed,
// hence the flag checked under the mutex.
void ScheduleDispatch() {
    std::lock_guard lock(g_pumpMutex);
    if (!g_bPumpActive || wxTheApp == nullptr)
        return;
    if (g_bDispatchScheduled.exchange(true, std::memory_order_acq_rel))
        return;
    wxTheApp->CallAfter(&DispatchOnUiThread);
}

}  // namespace

void ScheduleDispatchOfPostedMessages() { ScheduleDispatch(); }

WxPostedMessagePump::WxPostedMessagePump() {
    {
        std::lock_guard lock(g_pumpMutex);
        g_bPumpActive = true;
        g_bDispatchScheduled.store(false);
    }
    SetPostedMessageHook(&ScheduleDispatch);
    ScheduleDispatch();  // whatever was queued before the pump existed
}

WxPostedMessagePump::~WxPostedMessagePump() {
    SetPostedMessageHook({});
    std::lock_guard lock(g_pumpMutex);
    g_bPumpActive = false;
}
