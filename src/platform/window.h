// Window handles and posted messages.
//
// A window is anything that receives posted messages: a dialog's logic
// registers itself with CreateWindowHandle() and gets a small id (HWND).
// Worker threads post to that id; the front end that runs the dialog
// delivers the messages on its UI thread with DispatchPostedMessages().
//
// Contract:
//  - PostMessage() never blocks and never fails loudly: posting to a handle
//    that was never created or has been destroyed drops the message.
//  - A message is delivered only if its window is still alive at delivery
//    time, in the order in which it was posted, on the thread that calls
//    DispatchPostedMessages().
//  - A message posted with text owns a copy of that text; during delivery the
//    handler sees lParam pointing at its NUL-terminated bytes. The copy is
//    freed after the handler returns.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include "platform/win_types.h"

class MessageTarget {
public:
    virtual ~MessageTarget() = default;
    // Called on the dispatching thread for each message addressed to this
    // window. The result is ignored by the dispatcher, as for PostMessage.
    virtual LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) = 0;
};

// Registers target and returns its new handle. Target must outlive the
// handle (call DestroyWindowHandle before destroying the target).
HWND CreateWindowHandle(MessageTarget* target);

// After this returns, no message for hwnd is delivered any more, including
// messages already queued. Safe to call with a dead or zero handle.
void DestroyWindowHandle(HWND hwnd);

bool IsWindowAlive(HWND hwnd);

// Queues a message for hwnd and wakes the UI thread. Returns false (and
// drops the message) when hwnd is not a live window.
bool PostMessage(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);

// The same, with a copy of text carried by the message; lParam at delivery
// points at the copy.
bool PostMessageText(HWND hwnd, UINT message, const char* text, WPARAM wParam = 0);

// Delivers every queued message whose window is alive. Returns the number
// delivered. To be called on the UI thread only.
int DispatchPostedMessages();

// Blocks until a message is queued or the timeout passes (or a wake-up is
// requested with WakeMessageLoop). Does not dispatch.
void WaitForPostedMessage(std::chrono::milliseconds timeout);
// The same without a time limit.
void WaitForPostedMessage();

// Wakes WaitForPostedMessage without a message (used by signal handlers'
// helper threads and by front ends that need to re-check their own state).
void WakeMessageLoop();

// A front end whose UI thread sleeps in its own event loop (wxWidgets)
// installs a hook that is called, from the posting thread, after each
// message is queued, so that it can schedule DispatchPostedMessages() on
// its UI thread. Pass an empty function to remove it.
void SetPostedMessageHook(std::function<void()> hook);
