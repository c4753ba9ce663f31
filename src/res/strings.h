// The operator's texts, by string-table id. The texts are shown exactly as
// they stand here ("\n" is a line break).
#pragma once

#include <string>

#include "res/string_ids.h"

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
constexpr UINT IDS_LZSS_CHANGED = 134;
constexpr UINT IDS_LZSS_IS_FOLDER = 137;
constexpr UINT IDS_SCRIPT_UTF16 = 138;
// What a script check finds that the upload carries out, but not as meant.
constexpr UINT IDS_COMMAND_AFTER_RESTART = 131;
constexpr UINT IDS_LZSS_CASE_DIFFERS = 132;
constexpr UINT IDS_E_ARGUMENT_CUT = 133;
// A line of text that carries no command, after the text itself.
constexpr UINT IDS_COMMAND_WITHOUT_C = 135;
constexpr UINT IDS_TEXT_NOT_A_COMMAND = 136;

// The two literal texts of the Connect sequence, shown by the Port Setup
// dialog's own message box. They are not in the string table; their ids only
// say what the box reports.
inline constexpr const char kTextConnectionCancelled[] = "Connection Cancelled";
inline constexpr const char kTextFileDoesNotExist[] = "File does not exist";
constexpr UINT IDT_CONNECTION_CANCELLED = 1001;
constexpr UINT IDT_FILE_DOES_NOT_EXIST = 1002;

// The application's name, used as the caption of every message box.
inline constexpr const char kApplicationName[] = "Receiver Downloader";

// Returns the text with this id, or an empty string for an unknown id.
std::string LoadResString(UINT id);
