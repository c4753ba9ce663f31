// The operator's texts, by string-table id. The texts are shown exactly as
// they stand here ("\n" is a line break).
#pragma once

#include <string>

#include "res/string_ids.h"

// The two literal texts of the Connect sequence, shown by the Port Setup
// dialog's own message box.
inline constexpr const char kTextConnectionCancelled[] = "Connection Cancelled";
inline constexpr const char kTextFileDoesNotExist[] = "File does not exist";

// The application's name, used as the caption of every message box.
inline constexpr const char kApplicationName[] = "Receiver Downloader";

// Returns the text with this id, or an empty string for an unknown id.
std::string LoadResString(UINT id);
