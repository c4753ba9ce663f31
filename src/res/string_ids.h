// The string table's ids, and the message box that shows an entry by id.
//
// The lower layers name an operator message by id only; its text lives in
// res/strings.cpp, which every program that uses them links in (as a Windows
// program carries its string resources).
#pragma once

#include "platform/win_types.h"

constexpr UINT IDS_UPDATE_FAILED = 102;
constexpr UINT IDS_UNABLE_TO_OPEN_PORT = 103;
constexpr UINT IDS_COMMUNICATION_ERROR = 104;
constexpr UINT IDS_UNKNOWN_COMMAND = 105;
constexpr UINT IDS_LZSS_FILE_NOT_FOUND = 106;
constexpr UINT IDS_DOWNLOAD_COMPLETED = 107;
constexpr UINT IDS_STARTUP_NOTICE = 108;
constexpr UINT IDS_SELECT_SCRIPT = 109;
constexpr UINT IDS_CONNECTION_ESTABLISHED = 112;

// Shows the string-table entry with this id in a modal message box (see
// platform/message_box.h for the thread rules).
void AfxMessageBox(UINT stringId);
