// The terminal contract, end to end: the built receiver-downloader program
// run against a simulated receiver on a pseudo-terminal, with its output,
// exit status and Ctrl-C handling checked as an outside harness sees them.
#include <gtest/gtest.h>
#include <signal.h>

#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>

#include "res/strings.h"
#include "sim/receiver_sim.h"
#include "support/child_process.h"
#include "support/temp_folder.h"
#include "support/test_data.h"
#include "ui/term/terminal_front_end.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

const std::string kSuccess = LoadResString(IDS_DOWNLOAD_COMPLETED);

class TerminalTest : public ::testing::Test {
protected:
    TempFolder m_temp{"terminal_test."};

    void SetUp() override {
        ASSERT_TRUE(fs::exists(ProgramPath())) << ProgramPath();
        m_folder = m_temp.Path();
    }
    void TearDown() override {
        if (m_sim)
            m_sim->Stop();
    }

    void StartSim(SimOptions options = {}, bool poweredOn = true) {
        std::string reason;
        m_sim = ReceiverSim::CreatePty(options, &reason);
        ASSERT_TRUE(m_sim) << reason;
        if (!poweredOn)
            m_sim->PowerOff();
        m_sim->Start();
    }

    std::string Write(const std::string& name, const std::string& content) {
        std::ofstream(m_folder / name, std::ios::binary) << content;
        return (m_folder / name).string();
    }
    std::string WriteData(const std::string& name, std::size_t size) {
        const auto data = TestFileBytes(size);
        return Write(name, std::string(data.begin(), data.end()));
    }

    // The usual command line against the simulated receiver.
    std::vector<std::string> Args(const std::string& script, std::vector<std::string> extra = {}) {
        std::vector<std::string> args{"--no-gui", "--port=" + m_sim->ToolPath(), "--script", script};
        args.insert(args.end(), extra.begin(), extra.end());
        return args;
    }

    fs::path m_folder;
    std::unique_ptr<ReceiverSim> m_sim;
};

}  // namespace

TEST_F(TerminalTest, CompleteDownloadExitsZeroWithProgressAndTrace) {
    StartSim();
    WriteData("data.bin", 30000);
    const std::string script = Write("load.cmd", "CE123456\r\nCQ\r\nSdata.bin\r\nCX\r\n");
    const std::string trace = (m_folder / "trace.txt").string();
    ChildProcess child(Args(script, {"--timeout=30", "--trace=" + trace}));
    ASSERT_EQ(child.Wait(120s), 0) << child.Out() << child.Err();

    const std::string out = child.Out();
    for (const std::string& text : {LoadResString(IDS_STARTUP_NOTICE), LoadResString(IDS_CONNECTION_ESTABLISHED),
                                    LoadResString(IDS_SELECT_SCRIPT), std::string("Command: E123456\n"),
                                    std::string("Command: Q\n"), std::string("Command: X\n"), kSuccess})
        EXPECT_NE(out.find(text), std::string::npos) << "missing: " << text << "\n" << out;
    // Every percentage line is within 0..100.
    const std::regex percent(R"(^(\d+) %$)");
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
        std::smatch match;
        if (std::regex_match(line, match, percent)) {
            EXPECT_LE(std::stoi(match[1]), 100) << line;
        }
    }

    std::ifstream traceFile(trace);
    std::stringstream traced;
    traced << traceFile.rdbuf();
    bool monIn = false, fastOut = false;
    for (std::string line; std::getline(traced, line);) {
        monIn = monIn || (line.find("  in  ") != std::string::npos && line.find("4D 4F 4E 3A") != std::string::npos &&
                          line.find("MON:") != std::string::npos);
        fastOut = fastOut || (line.find("  out ") != std::string::npos && line.find("46 41 53 54") != std::string::npos &&
                              line.find("FAST") != std::string::npos);
    }
    EXPECT_TRUE(monIn);
    EXPECT_TRUE(fastOut);

    m_sim->WaitUntil([](const SimReport& r) { return r.commands.size() >= 3; }, 5s);
    const SimReport report = m_sim->Report();
    ASSERT_EQ(report.files.size(), 1u) << report.Summary();
    EXPECT_EQ(report.files[0].data, TestFileBytes(30000));
}

struct ErrorCase {
    const char* name;
    const char* script;       // "" for a script that does not exist
    unsigned errorAfter;      // simulated receiver sends "ERROR" as this frame
    bool badPort;
    std::string expected;     // on stdout
    std::string detail;       // on stderr ("" for none expected)
};

class TerminalErrorTest : public TerminalTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(TerminalErrorTest, ExitsOneAfterTheMessage) {
    const ErrorCase& c = GetParam();
    SimOptions options;
    options.errorAfter = c.errorAfter;
    StartSim(options);
    WriteData("data.bin", 20000);
    const std::string script = *c.script ? Write("load.cmd", c.script) : (m_folder / "missing.cmd").string();
    std::vector<std::string> args = Args(script, {"--timeout", "30"});
    if (c.badPort)
        args[1] = "--port=/nonexistent/ttyUSB7";
    ChildProcess child(args);
    EXPECT_EQ(child.Wait(120s), 1) << child.Out() << child.Err();
    EXPECT_NE(child.Out().find(c.expected + "\n"), std::string::npos) << child.Out();
    EXPECT_EQ(child.Out().find(kSuccess), std::string::npos);
    if (!c.detail.empty()) {
        EXPECT_NE(child.Err().find(c.detail), std::string::npos) << child.Err();
    }
}

INSTANTIATE_TEST_SUITE_P(
    Errors, TerminalErrorTest,
    ::testing::Values(
        ErrorCase{"BadPort", "CX\r\n", 0, true, LoadResString(IDS_UNABLE_TO_OPEN_PORT), "/nonexistent/ttyUSB7"},
        ErrorCase{"MissingScript", "", 0, false, kTextFileDoesNotExist, ""},
        ErrorCase{"UnknownCommand", "CE123456\r\nCZ\r\nCX\r\n", 0, false, LoadResString(IDS_UNKNOWN_COMMAND), ""},
        ErrorCase{"MissingDataFile", "CE123456\r\nSnothere.bin\r\nCX\r\n", 0, false,
                  LoadResString(IDS_LZSS_FILE_NOT_FOUND), ""},
        ErrorCase{"ReceiverError", "CE123456\r\nSdata.bin\r\nCX\r\n", 60, false,
                  LoadResString(IDS_COMMUNICATION_ERROR), ""}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(TerminalTest, ConnectionWaitTimesOut) {
    StartSim({}, /*poweredOn=*/false);
    ChildProcess child(Args(Write("load.cmd", "CX\r\n"), {"--timeout=1"}));
    EXPECT_EQ(child.Wait(60s), 1) << child.Out() << child.Err();
    EXPECT_NE(child.Out().find(TerminalFrontEnd::TimeoutText(1)), std::string::npos) << child.Out();
}

// Without --timeout: the run must still end once the link has stopped.
TEST_F(TerminalTest, ReceiverErrorDuringTheWaitEndsTheRun) {
    SimOptions options;
    options.errorAfter = 1;
    StartSim(options);
    ChildProcess child(Args(Write("load.cmd", "CX\r\n")));
    EXPECT_EQ(child.Wait(60s), 1) << child.Out() << child.Err();
    EXPECT_NE(child.Out().find(LoadResString(IDS_COMMUNICATION_ERROR) + "\n"), std::string::npos) << child.Out();
}

TEST_F(TerminalTest, CtrlCDuringTheWaitCancelsTheConnection) {
    StartSim({}, /*poweredOn=*/false);
    ChildProcess child(Args(Write("load.cmd", "CX\r\n")));
    ASSERT_TRUE(child.WaitForOutput("Waiting for Connection...", 30s)) << child.Out() << child.Err();
    child.Signal(SIGINT);
    EXPECT_EQ(child.Wait(60s), 130) << child.Out() << child.Err();
    EXPECT_NE(child.Out().find(std::string(kTextConnectionCancelled) + "\n"), std::string::npos) << child.Out();
}

TEST_F(TerminalTest, CtrlCDuringTheUploadCancelsIt) {
    SimOptions options;
    options.paced = true;  // a real line's pace: 20 KB take seconds
    StartSim(options);
    WriteData("data.bin", 20000);
    ChildProcess child(Args(Write("load.cmd", "CE123456\r\nSdata.bin\r\nCX\r\n")));
    ASSERT_TRUE(child.WaitForOutput("Command: S", 60s)) << child.Out() << child.Err();
    child.Signal(SIGINT);
    EXPECT_EQ(child.Wait(60s), 130) << child.Out() << child.Err();
    EXPECT_EQ(child.Out().find(kSuccess), std::string::npos);
    m_sim->Stop();
    for (const std::string& command : m_sim->Report().commands)
        EXPECT_NE(command, "X");
}

struct UsageCase {
    const char* name;
    std::vector<std::string> args;
};

class TerminalUsageTest : public TerminalTest, public ::testing::WithParamInterface<UsageCase> {};

TEST_P(TerminalUsageTest, ExitsTwoWithHelp) {
    ChildProcess child(GetParam().args);
    EXPECT_EQ(child.Wait(30s), 2) << child.Out() << child.Err();
    EXPECT_NE(child.Err().find("--script"), std::string::npos) << child.Err();
}

INSTANTIATE_TEST_SUITE_P(Usage, TerminalUsageTest,
                         ::testing::Values(UsageCase{"UnknownOption", {"--bogus"}},
                                           UsageCase{"MissingValue", {"--no-gui", "--port"}},
                                           UsageCase{"ScriptNeededWithoutATerminal", {"--no-gui", "--port", "/dev/null"}}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(TerminalTest, DemoRunsAWholeDownloadUnattended) {
    ChildProcess child({"--demo", "--no-gui"});
    EXPECT_EQ(child.Wait(120s), 0) << child.Out() << child.Err();
    EXPECT_NE(child.Out().find(kSuccess), std::string::npos) << child.Out();
    EXPECT_NE(child.Out().find("SHA-256 equal"), std::string::npos) << child.Out();
}
