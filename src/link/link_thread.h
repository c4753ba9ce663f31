// LinkThread: conducts the dialogue with the receiver on g_hComm.
//
// The receiver leads: every frame it sends is read into InFrame and answered
// with at most one frame built in ReplyFrame. "MON:" is answered "FAST"; the
// next "OK:" is answered at the old speed and then the port moves to 38400
// baud (WM_LINK_READY). Each later "OK:" lets the queued Outbox frame out, or
// is answered ";". "ERROR" aborts the run after the operator has been told.
#pragma once

#include "platform/win_types.h"

// Thread procedure; param is the HWND (cast to void*) of the window that
// receives WM_LINK_READY and WM_LINK_CLOSED. Returns 0.
//
// Runs until g_bAbort or g_bUploadFinished is found set at the end of a
// pass, or until the port is closed (quietly) or fails for good (the
// operator is shown the communication error, g_bAbort is set and
// g_bOutboxFull cleared). g_tLastHeard is touched for every whole frame
// read. g_bLinkRunning is set while it runs; WM_LINK_CLOSED
// is posted as it ends.
UINT LinkThread(void* param);
