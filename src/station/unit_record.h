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
// Each line is appended with a single write(2) on a descriptor opened with
// O_APPEND and synced at once, so that lines of many ports, or of stations
// sharing the file, never interleave, and a station killed at any point
// leaves whole lines only.
#pragma once

#include <chrono>
#include <string>
#include <vector>

#include "platform/shared_line_file.h"
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

    // Opens (creates) path for appending and writes the header if the file
    // is empty. False with *reason when it cannot be opened or written.
    bool Open(const std::string& path, std::string* reason);
    // Appends one line. False with *reason when the write or sync failed
    // (the station reports it and goes on).
    bool Append(const UnitRecordLine& line, std::string* reason);

    static const char* const kHeader;
    // The line for one unit, with its CRLF.
    static std::string Format(const UnitRecordLine& line);
    // One field, quoted when it holds a comma, a quote, CR or LF.
    static std::string Field(const std::string& text);
    // "2026-12-07T21:40:00Z"
    static std::string UtcTime(std::chrono::system_clock::time_point time);

private:
    SharedLineFile m_file;
};
