// UnitRecord: the station's record of every unit it loaded, `--record FILE`:
// one CSV line per unit (RFC 4180 quoting, CRLF line ends), with a header
// line when the file is new or empty:
//
//   time,port,usb_serial,script,files,bytes,result,message,seconds
//
// time: when the unit ended, ISO 8601 UTC; usb_serial: the adapter's USB
// serial number, "" where the system has none; files: "PATH=SHA256" of each
// data file, joined by ";"; message: the outcome's operator text on one line.
//
// Each line is appended with a single write at the file's end, under the
// file's exclusive lock (platform/whole_lines.h), and synced at once, so
// that lines of many ports, or of stations sharing the file, never
// interleave, and a station killed at any point leaves whole lines only. A line the file does
// not take whole (a full disk) is cut off again, so that the file holds
// whole lines only and the next line starts on a line of its own.
//
// Every field is text the way a spreadsheet and a terminal can take it:
// UTF-8 without control bytes. A byte that is a control byte or not part of
// valid UTF-8 (a file name can be any bytes) is written as \xHH, and a
// backslash as \\, so that the field still gives back its exact bytes. On
// Windows, whose paths are full of backslashes, only a backslash that would
// otherwise read as an escape is doubled (one before "xHH", another
// backslash or an escaped byte): C:\fw\load.cmd stays as it is.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "station/station_output.h"
#include "station/station_port.h"

struct UnitRecordLine {
    std::chrono::system_clock::time_point m_time;
    std::string m_strPort;
    std::string m_strUsbSerial;
    UnitOutcome m_outcome;
};

class UnitRecord {
public:
    UnitRecord() = default;
    UnitRecord(const UnitRecord&) = delete;
    UnitRecord& operator=(const UnitRecord&) = delete;

    // Opens (creates) path for appending, tries it (station_output.h) and
    // writes the header if the file is empty. False with *reason when it
    // cannot be opened or does not take a line; a file made here is removed
    // again then.
    bool Open(const std::string& path, std::string* reason);
    // Closes the record, removing the file if Open made it.
    void Discard() { m_file.Discard(); }
    // Appends one line. False with *reason when the write or sync failed;
    // the file then holds the lines it had before.
    bool Append(const UnitRecordLine& line, std::string* reason);

    static const char* const kHeader;
    // The line for one unit, with its CRLF.
    static std::string Format(const UnitRecordLine& line);
    // One field, escaped as above, and quoted when it holds a comma, a
    // quote, CR or LF.
    static std::string Field(const std::string& text);
    // "2026-12-07T21:40:00Z"
    static std::string UtcTime(std::chrono::system_clock::time_point time);

private:
    StationOutput m_file;
};
