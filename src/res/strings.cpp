#include "res/strings.h"

#include "platform/message_box.h"

namespace {

struct StringEntry {
    UINT id;
    const char* text;
};

constexpr StringEntry kStringTable[] = {
    {IDS_UPDATE_FAILED, "Update failed"},
    {IDS_UNABLE_TO_OPEN_PORT, "Unable to open port"},
    {IDS_COMMUNICATION_ERROR, "Communication error.  Program will exit."},
    {IDS_UNKNOWN_COMMAND, "Unknown command in the script file"},
    {IDS_LZSS_FILE_NOT_FOUND, "LZSS file not found"},
    {IDS_DOWNLOAD_COMPLETED, "Download completed successfully\n\nThe receiver will restart automatically."},
    {IDS_STARTUP_NOTICE,
     "Receiver Downloader  Version 1.1\n\nSelect Com port that the receiver is connected to.\n"
     "Make sure that the receiver is TURNED OFF at this time."},
    {IDS_SELECT_SCRIPT, "Select .CMD script file provided."},
    {IDS_CONNECTION_ESTABLISHED, "Connection established"},
    {IDS_SCRIPT_UNOPENABLE, "Unable to open the script file"},
    {IDS_SCRIPT_NOT_REGULAR, "The script file is not a regular file"},
    {IDS_SCRIPT_UNREADABLE, "Unable to read the script file"},
    {IDS_SCRIPT_NO_COMMAND, "No command in the script file"},
    {IDS_LZSS_NAME_TOO_LONG, "LZSS file name too long"},
    {IDS_LZSS_NOT_REGULAR, "The LZSS file is not a regular file"},
    {IDS_LZSS_UNOPENABLE, "Unable to open the LZSS file"},
    {IDS_LZSS_UNREADABLE, "Unable to read the LZSS file"},
    {IDS_LZSS_TOO_SHORT, "LZSS file too short: a data file must hold at least 6 bytes"},
    {IDS_LZSS_TOO_LARGE, "LZSS file too large to send (4 GiB or more)"},
    {IDS_LZSS_ENDED_EARLY, "LZSS file ended early: it became shorter while it was being sent"},
    {IDS_LZSS_IS_FOLDER, "The LZSS file is a folder"},
    {IDS_SCRIPT_UTF16, "The script file is saved as Unicode (UTF-16): save it as ANSI or UTF-8"},
    {IDS_LZSS_CHANGED, "LZSS file changed since the download started"},
    {IDS_COMMAND_AFTER_RESTART, "Command after X: the receiver has restarted and never gets it"},
    {IDS_LZSS_CASE_DIFFERS, "LZSS file name matches only when letter case is ignored"},
    {IDS_E_ARGUMENT_CUT, "E argument longer than 6 bytes: only the first 6 are sent"},
    {IDS_COMMAND_WITHOUT_C, "is skipped: a command needs C in front"},
    {IDS_TEXT_NOT_A_COMMAND, "is skipped: not a command"},
};

}  // namespace

std::string LoadResString(UINT id) {
    for (const StringEntry& entry : kStringTable)
        if (entry.id == id)
            return entry.text;
    return {};
}

void AfxMessageBox(UINT stringId) {
    ShowMessageBox({stringId, LoadResString(stringId)});
}
