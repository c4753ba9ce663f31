// The operator's texts, by string-table id. The texts are shown exactly as
// they stand here ("\n" is a line break).
#pragma once

#include <string>

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

// The two literal texts of the Connect sequence, shown by the Port Setup
// dialog's own message box.
inline constexpr const char kTextConnectionCancelled[] = "Connection Cancelled";
inline constexpr const char kTextFileDoesNotExist[] = "File does not exist";

// The application's name, used as the caption of every message box.
inline constexpr const char kApplicationName[] = "Receiver Downloader";

// Returns the text with this id, or an empty string for an unknown id.
std::string LoadResString(UINT id);

// Shows the string-table entry with this id in a modal message box.
void AfxMessageBox(UINT stringId);
