// The command line: accepted forms, usage errors, and the settings and
// front end that follow from it.
#include "app/command_line.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <vector>

#include "link/port_setup.h"
#include "ui/run_outcome.h"

namespace {

bool Parse(std::vector<std::string> args, CommandLine* commandLine, int* status) {
    args.insert(args.begin(), "receiver-downloader");
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    return ParseCommandLine(static_cast<int>(argv.size()), argv.data(), commandLine, status);
}

}  // namespace

TEST(CommandLineTest, AcceptsSeparateAndEqualsForms) {
    CommandLine commandLine;
    int status = -1;
    ASSERT_TRUE(Parse({"--no-gui", "--port=/dev/ttyUSB0", "--script", "load.cmd", "--timeout=30", "--trace",
                       "t.txt"},
                      &commandLine, &status));
    EXPECT_TRUE(commandLine.m_bNoGui);
    EXPECT_EQ(commandLine.m_strDevice, "/dev/ttyUSB0");
    EXPECT_EQ(commandLine.m_strScript, "load.cmd");
    EXPECT_EQ(commandLine.m_nTimeoutSeconds, 30);
    EXPECT_EQ(commandLine.m_strTraceFile, "t.txt");
    EXPECT_EQ(PortNameFor(PortSettingsFor(commandLine)), "/dev/ttyUSB0");
}

TEST(CommandLineTest, ComSelectsTheComPort) {
    CommandLine commandLine;
    int status = -1;
    ASSERT_TRUE(Parse({"--com", "3"}, &commandLine, &status));
    EXPECT_EQ(PortSettingsFor(commandLine).m_nComPort, 2);
    EXPECT_EQ(PortNameFor(PortSettingsFor(commandLine)), "COM3");
}

class CommandLineUsageTest : public ::testing::TestWithParam<std::vector<std::string>> {};

TEST_P(CommandLineUsageTest, IsAUsageError) {
    CommandLine commandLine;
    int status = -1;
    testing::internal::CaptureStderr();
    EXPECT_FALSE(Parse(GetParam(), &commandLine, &status));
    const std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(status, kExitUsage);
    // One line with the error and a pointer to the help, not the help.
    EXPECT_EQ(err.rfind("receiver-downloader: ", 0), 0u) << err;
    EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 2) << err;
    EXPECT_TRUE(err.ends_with("\n(see --help)\n")) << err;
}

INSTANTIATE_TEST_SUITE_P(Errors, CommandLineUsageTest,
                         ::testing::Values(std::vector<std::string>{"--bogus"},
                                           std::vector<std::string>{"--com", "5"},
                                           std::vector<std::string>{"--timeout", "soon"},
                                           std::vector<std::string>{"--port", "/dev/ttyS0", "--com", "1"},
                                           std::vector<std::string>{"--script"},
                                           std::vector<std::string>{"stray-argument"},
                                           std::vector<std::string>{"--units", "3"},
                                           std::vector<std::string>{"--port", "/dev/ttyS0", "/dev/ttyS1"},
                                           std::vector<std::string>{"--all-ports", "--port", "/dev/ttyS0"},
                                           std::vector<std::string>{"--events-handle", "0"},
                                           std::vector<std::string>{"--events-handle", "5", "--events", "e.jsonl"},
                                           std::vector<std::string>{"--events-handle", "5", "--list-ports"}));

TEST(CommandLineTest, AStationsChildRunGetsItsEventsHandleAndTheTerminal) {
    CommandLine commandLine;
    int status = -1;
    ASSERT_TRUE(Parse({"--port", "COM5", "--script", "load.cmd", "--events-handle", "1234"}, &commandLine, &status));
    EXPECT_EQ(commandLine.m_nEventsHandle, 1234u);
    EXPECT_TRUE(WantsTerminal(commandLine, true));
    EXPECT_FALSE(WantsStation(commandLine));
}

TEST(CommandLineTest, ManyPortsMakeAStation) {
    CommandLine commandLine;
    int status = -1;
    ASSERT_TRUE(Parse({"--port", "/dev/ttyUSB0"}, &commandLine, &status));
    EXPECT_FALSE(WantsStation(commandLine));
    ASSERT_TRUE(Parse({"--port", "/dev/ttyUSB0", "--port=/dev/ttyUSB1", "--repeat", "--units", "2"}, &commandLine,
                      &status));
    EXPECT_TRUE(WantsStation(commandLine));
    EXPECT_EQ(commandLine.m_ports, (std::vector<std::string>{"/dev/ttyUSB0", "/dev/ttyUSB1"}));
    EXPECT_EQ(commandLine.m_nUnits, 2);
}

TEST(CommandLineTest, HelpIsNotAnError) {
    CommandLine commandLine;
    int status = -1;
    testing::internal::CaptureStdout();
    EXPECT_FALSE(Parse({"--help"}, &commandLine, &status));
    const std::string help = testing::internal::GetCapturedStdout();
    EXPECT_NE(help.find("--no-gui"), std::string::npos);
    EXPECT_EQ(status, kExitSuccess);
    // Each system's help speaks of its own ports, keys and programs.
    struct Words {
        const char* text;
        bool onWindows;
    };
    for (const Words& words : {Words{"COM7:", true}, Words{"Ctrl-Break", true}, Words{"one program", true},
                               Words{"/dev/ttyUSB0", false}, Words{"/dev/ttyS0", false},
                               Words{"pseudo-terminal", false}, Words{"SIGHUP", false},
                               Words{"receiver-downloader-gui", false}, Words{"receiver-downloader(1)", false}}) {
#ifdef _WIN32
        const bool expected = words.onWindows;
#else
        const bool expected = !words.onWindows;
#endif
        EXPECT_EQ(help.find(words.text) != std::string::npos, expected) << words.text;
    }
}

TEST(CommandLineTest, TerminalWithoutDisplayOrWhenAsked) {
    CommandLine commandLine;
#ifdef _WIN32
    // Windows always has its desktop.
    EXPECT_FALSE(WantsTerminal(commandLine, true));
    EXPECT_TRUE(WantsTerminal(commandLine, false));
    commandLine.m_bNoGui = true;
    EXPECT_TRUE(WantsTerminal(commandLine, true));
#else
    setenv("DISPLAY", ":99", 1);
    EXPECT_FALSE(WantsTerminal(commandLine, true));
    EXPECT_TRUE(WantsTerminal(commandLine, false));
    commandLine.m_bNoGui = true;
    EXPECT_TRUE(WantsTerminal(commandLine, true));
    commandLine.m_bNoGui = false;
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    EXPECT_TRUE(WantsTerminal(commandLine, true));
#endif
}
