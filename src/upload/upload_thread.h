// UploadThread: carries out the command script chosen by the operator.
//
// It reads g_strScriptPath command by command (ScriptReader) and puts each
// command, and each data file as a header frame and 64-byte chunk frames,
// into the one-slot Outbox for LinkThread to send on the receiver's next
// "OK:". It never touches the port.
//
// Frames (m_byLength, then the frame text from payload byte 2 on):
//   'E'      9    'E' + first 6 argument bytes, zero bytes after a shorter text
//   'Q'/'X'  3    the letter
//   header   8    data file bytes 0..5 (a shorter file is refused)
//   chunk    n+3  '*' + the next n file bytes, n = 64 except for the last
//
// Messages posted to the window given as the thread's parameter:
//   WM_UPLOAD_COMMAND       text: the command ('E...', "Q", "X", or 'S' + the
//                           data file's path), once the link has taken its
//                           frame (a data file's: its header) with no abort,
//                           so that a command whose frame never went out is
//                           never listed (after a communication error, say)
//   WM_UPLOAD_FILE_MISSING  a data file does not exist
//   WM_UPLOAD_BAD_COMMAND   a command letter other than E, Q, S, X
//   WM_UPLOAD_FAILED        why the upload cannot go on (the script or a data
//                           file cannot be read, holds no command, is too
//                           short ...): wParam = PackFault(code, errno),
//                           text: the path of the file concerned
//   WM_UPLOAD_FILE_SENT     a data file's last frame has been taken by the
//                           link: wParam = the bytes sent, text: their
//                           path and SHA-256 (hashed as they were put into
//                           frames; see SentDataFileOf)
//   WM_UPLOAD_DONE          exactly once, as the thread ends
// A failure message follows the command of the frame queued before it (told
// once taken, or not at all after an abort); after it nothing more is
// queued: the thread ends.
//
// Where the run has set what it checked of its data files at its start
// (expected_data_files.h), each data file is held against it: one whose
// length at opening differs fails before anything of it is queued, one
// whose bytes as sent differ fails once it has gone out (after
// WM_UPLOAD_FILE_SENT), both with DataFileChanged, and nothing after it is
// queued (no closing X).
//
// The thread ends at the end of the script, after a failure, or when it finds
// g_bAbort set. At the end of the script it first waits until LinkThread has
// written the last queued frame to the port (or g_bAbort is set), so that
// WM_UPLOAD_DONE after a whole script means that everything has gone out.
//
// A data file is sent as it was when opened: its length at that moment is
// what is sent; one that turns out shorter fails (DataFileEndedEarly).
//
// Progress: per data file, g_dwBytesSent runs from 0 (set as the file opens,
// with g_dwFileLength = its length) to the file's length, header included.
// Both are 32-bit; a reader that multiplies g_dwBytesSent by 100 must do so in
// 64 bits (files above 42 MB). Data files of 4 GiB or more are refused.
#pragma once

#include <cstdint>
#include <string>

#include "platform/win_types.h"

// What WM_UPLOAD_FILE_SENT reports.
struct SentDataFile {
    std::string m_strPath;
    std::uint64_t m_qwBytes = 0;
    std::string m_strSha256;  // lower-case hex
};
// The message's text for file, and the file back from the message.
std::string SentDataFileText(const SentDataFile& file);
SentDataFile SentDataFileOf(WPARAM wParam, const char* text);

// Thread procedure for AfxBeginThread; param is the HWND of the window that
// receives the messages, cast through std::uintptr_t. Returns 0.
UINT UploadThread(void* param);
