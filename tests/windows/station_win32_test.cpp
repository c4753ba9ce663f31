// The Windows station's children: the command line they get, split again as
// the system splits it, and how their ends are told.
#include "station/station_child_win32.h"

#include <gtest/gtest.h>
// After windows.h (through the header above), which it needs.
#include <shellapi.h>

TEST(StationChildWin32, TheCommandLineSplitsIntoTheSameArguments) {
    const std::vector<std::string> args = {
        "C:\\Program Files\\Receiver Downloader\\receiver-downloader.exe",
        "--script", "C:\\Ladung für Empfänger\\lädt.cmd", "", "two words", "a\"quote", "ends\\",
        "ends with space\\", "\\\\server\\share\\", "back\\\\\"slashes", "tab\there", "--events-handle", "1234"};
    const std::wstring line = WindowsCommandLine(args);
    int count = 0;
    wchar_t** split = CommandLineToArgvW(line.c_str(), &count);
    ASSERT_NE(split, nullptr);
    ASSERT_EQ(count, static_cast<int>(args.size())) << WideToUtf8(line);
    for (int i = 0; i < count; ++i)
        EXPECT_EQ(WideToUtf8(split[i]), args[static_cast<std::size_t>(i)]) << WideToUtf8(line);
    LocalFree(split);
}

TEST(StationChildWin32, EachEndToldApart) {
    struct Case {
        DWORD code;
        bool killed;
        int status;
        bool signalled;
        const char* how;
    };
    const Case cases[] = {
        {0, false, 0, false, "exited with status 0"},
        {130, false, 130, false, "exited with status 130"},
        {1, true, 137, true, "was killed (TerminateProcess)"},
        {0xC000013AUL, false, 130, true, "was ended by Ctrl-C (0xC000013A)"},
        {0xC0000005UL, false, static_cast<int>(0xC0000005UL), true, "crashed (exception 0xC0000005)"},
    };
    for (const Case& c : cases) {
        const ChildExit exit = DescribeChildExit(c.code, c.killed);
        EXPECT_EQ(exit.m_nStatus, c.status) << c.how;
        EXPECT_EQ(exit.m_bSignalled, c.signalled) << c.how;
        EXPECT_EQ(exit.m_strHow, c.how);
    }
}
