// LinkThread: answers the receiver's frames on g_hComm.
#pragma once

#include "platform/win_types.h"

// Thread procedure; param is the HWND (cast to void*) of the window that
// receives WM_LINK_READY and WM_LINK_CLOSED. Returns 0.
UINT LinkThread(void* param);

