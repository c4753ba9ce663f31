// FrameTraceFile: the trace line, and the file filled through the frame
// trace sink.
#include "app/frame_trace_file.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "link/frame_trace.h"

TEST(FrameTraceFileTest, LineHasTimeDirectionHexAndText) {
    const BYTE bytes[] = {0xFE, 0x01, 0x06, 0x12, 0x34, 'M', 'O', 'N', ':', 0x5B};
    const auto when = std::chrono::system_clock::from_time_t(0) + std::chrono::milliseconds(1234);
    const std::string line = FrameTraceFile::FormatLine(when, false, bytes, sizeof bytes);
    // The date depends on the local time zone; the rest does not.
    ASSERT_GE(line.size(), 23u);
    EXPECT_EQ(line.substr(19, 4), ".234");
    EXPECT_EQ(line.substr(23), "  in   FE 01 06 12 34 4D 4F 4E 3A 5B  |....4MON:[|");
    const std::string out = FrameTraceFile::FormatLine(when, true, bytes, 2);
    EXPECT_EQ(out.substr(23), "  out  FE 01  |..|");
}

TEST(FrameTraceFileTest, WritesEachTracedFrameAndStopsWhenClosed) {
    std::string path = (std::filesystem::temp_directory_path() / "frame_trace_file_test.XXXXXX").string();
    const int fd = mkstemp(path.data());
    ASSERT_GE(fd, 0);
    close(fd);
    {
        FrameTraceFile trace;
        std::string reason;
        ASSERT_TRUE(trace.Open(path, &reason)) << reason;
        const BYTE answer[] = {0xFF, 0xFF, 0x01, 0xFE, 0x03, 0x12, 0x34, ';', 0x6B};
        TraceFrame(true, answer, sizeof answer);
        trace.Close();
        TraceFrame(true, answer, sizeof answer);
    }
    std::ifstream file(path);
    std::stringstream content;
    content << file.rdbuf();
    file.close();  // Windows removes no file that is open
    std::filesystem::remove(path);
    const std::string text = content.str();
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1);
    EXPECT_NE(text.find("out  FF FF 01 FE 03 12 34 3B 6B  |......4;k|"), std::string::npos) << text;
    EXPECT_FALSE(FrameTraceEnabled());
}

TEST(FrameTraceFileTest, AFileThatCannotBeCreatedIsReported) {
    FrameTraceFile trace;
    std::string reason;
    EXPECT_FALSE(trace.Open("/nonexistent-folder/trace.txt", &reason));
    EXPECT_FALSE(reason.empty());
    EXPECT_FALSE(FrameTraceEnabled());
}
