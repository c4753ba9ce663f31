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

// Faults of a script or its data files, beyond the two above. Each is shown
// with the file's path (and the system's reason, where there is one) below
// it (ui/upload_fault_text.h).
constexpr UINT IDS_SCRIPT_UNOPENABLE = 120;
constexpr UINT IDS_SCRIPT_NOT_REGULAR = 121;
constexpr UINT IDS_SCRIPT_UNREADABLE = 122;
constexpr UINT IDS_SCRIPT_NO_COMMAND = 123;
constexpr UINT IDS_LZSS_NAME_TOO_LONG = 124;
constexpr UINT IDS_LZSS_NOT_REGULAR = 125;
constexpr UINT IDS_LZSS_UNOPENABLE = 126;
constexpr UINT IDS_LZSS_UNREADABLE = 127;
constexpr UINT IDS_LZSS_TOO_SHORT = 128;
constexpr UINT IDS_LZSS_TOO_LARGE = 129;
constexpr UINT IDS_LZSS_ENDED_EARLY = 130;

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
