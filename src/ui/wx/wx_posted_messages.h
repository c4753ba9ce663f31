// Delivery of posted window messages in the GUI.
//
// While a WxPostedMessagePump exists, every message a worker thread posts
// schedules DispatchPostedMessages() on the UI thread through wx's event
// queue, so the messages are handled by whichever event loop is running
// there: a dialog's modal loop or the nested loop of an open message box.
// Worker threads never touch a widget themselves.
#pragma once

class WxPostedMessagePump {
public:
    WxPostedMessagePump();
    // Removes the hook; after this returns no further dispatch is scheduled.
    ~WxPostedMessagePump();
    WxPostedMessagePump(const WxPostedMessagePump&) = delete;
    WxPostedMessagePump& operator=(const WxPostedMessagePump&) = delete;
};

// Schedules a dispatch of what is queued now, when a pump exists. Called on
// the UI thread before a nested event loop runs (a message box opened by a
// message handler): the dispatch that is running is held up inside that
// handler, and the messages behind it must still be handled meanwhile.
void ScheduleDispatchOfPostedMessages();
