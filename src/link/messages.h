// Window messages the worker threads post to the dialogs (wParam 0).
#pragma once

#include "platform/win_types.h"

constexpr UINT WM_LINK_READY = WM_USER + 5;            // LinkThread: port switched to 38400 baud
constexpr UINT WM_LINK_CLOSED = WM_USER + 6;           // LinkThread: thread ending
constexpr UINT WM_UPLOAD_FILE_MISSING = WM_USER + 7;   // UploadThread: data file cannot be opened
constexpr UINT WM_UPLOAD_BAD_COMMAND = WM_USER + 8;    // UploadThread: unknown script command
constexpr UINT WM_UPLOAD_DONE = WM_USER + 9;           // UploadThread: thread ending
constexpr UINT WM_UPLOAD_COMMAND = WM_USER + 10;       // UploadThread: lParam -> command text

// UploadThread: the upload cannot go on for a reason the operator must be told
// in words (the script or a data file cannot be read); lParam -> the text.
// Posted instead of going on, like the two failure messages above.
constexpr UINT WM_UPLOAD_FAILED = WM_USER + 11;

// UploadThread: a data file has gone out whole; wParam = its bytes, lParam ->
// their SHA-256 and the file's path (upload/upload_thread.h).
constexpr UINT WM_UPLOAD_FILE_SENT = WM_USER + 12;
