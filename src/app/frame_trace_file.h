// FrameTraceFile: writes every frame crossing the port to a file, one line
// per frame, with a timestamp, its direction, its bytes in hex and its
// printable text:
//
//   2026-12-07 13:45:01.123  in  FE 01 FE 01 07 12 34 4D 4F 4E 3A xx  |....".4MON:.|
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdio>
#include <string>

#include "platform/win_types.h"

class FrameTraceFile {
public:
    FrameTraceFile() = default;
    ~FrameTraceFile();
    FrameTraceFile(const FrameTraceFile&) = delete;
    FrameTraceFile& operator=(const FrameTraceFile&) = delete;

    // Creates (truncates) path and installs the frame trace sink. False,
    // with *reason set, when the file cannot be created.
    bool Open(const std::string& path, std::string* reason);
    // Removes the sink and closes the file. Idempotent.
    void Close();

    // One trace line (without the line break). Local time.
    static std::string FormatLine(std::chrono::system_clock::time_point when, bool outgoing, const BYTE* bytes,
                                  std::size_t size);

private:
    std::FILE* m_pFile = nullptr;
};
