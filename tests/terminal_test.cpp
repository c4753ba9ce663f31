// The terminal contract, end to end: the built receiver-downloader program
// run against a simulated receiver on a pseudo-terminal, with its output,
// exit status and Ctrl-C handling checked as an outside harness sees them.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <future>
#include <fstream>
#include <memory>
#include <regex>
#include <sstream>
#include <thread>
#include <tuple>

#include <nlohmann/json.hpp>

#include "link/messages.h"
#include "link/shared_state.h"
#include "res/resource.h"
#include "res/strings.h"
#include "sim/receiver_sim.h"
#include "support/child_process.h"
#include "support/link_harness.h"
#include "support/shared_state_reset.h"
#include "support/temp_folder.h"
#include "support/test_data.h"
#include "ui/port_init_dialog.h"
#include "ui/run_outcome.h"
#include "term/progress_display.h"
#include "term/terminal_front_end.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Json = nlohmann::json;

namespace {

const std::string kSuccess = LoadResString(IDS_DOWNLOAD_COMPLETED);

// The settings of the pty's tool side, read by opening it for a moment (the
// simulator keeps it open, so they last between the program's opens).
termios ToolSideTermios(const std::string& path) {
    termios tio{};
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    EXPECT_GE(fd, 0) << path;
    EXPECT_EQ(tcgetattr(fd, &tio), 0);
    close(fd);
    return tio;
}

// Settings a port is unlikely to be left with by accident, and that a pty
// keeps: 4800 baud, output processing, VMIN 3 / VTIME 7.
void MakeToolSideDistinct(const std::string& path) {
    const int fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    ASSERT_GE(fd, 0) << path;
    termios tio{};
    ASSERT_EQ(tcgetattr(fd, &tio), 0);
    cfsetispeed(&tio, B4800);
    cfsetospeed(&tio, B4800);
    tio.c_oflag |= OPOST;
    tio.c_iflag |= IGNBRK;
    tio.c_lflag |= IEXTEN;
    tio.c_cc[VMIN] = 3;
    tio.c_cc[VTIME] = 7;
    ASSERT_EQ(tcsetattr(fd, TCSANOW, &tio), 0);
    close(fd);
}

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
        options.keepFileData = true;
        std::string reason;
        m_sim = ReceiverSim::CreatePty(options, &reason);
        ASSERT_TRUE(m_sim) << reason;
        if (!poweredOn)
            m_sim->PowerOff();
        MakeToolSideDistinct(m_sim->ToolPath());
        m_before = ToolSideTermios(m_sim->ToolPath());
        m_sim->Start();
    }

    // The fields of a port's settings that a pty keeps.
    static std::vector<unsigned> KeptFields(const termios& tio) {
        return {static_cast<unsigned>(cfgetospeed(&tio)), static_cast<unsigned>(cfgetispeed(&tio)), tio.c_iflag,
                tio.c_oflag, tio.c_lflag, tio.c_cc[VMIN], tio.c_cc[VTIME]};
    }
    // The program has ended: the port is as it was found.
    void ExpectPortRestored() { EXPECT_EQ(KeptFields(ToolSideTermios(m_sim->ToolPath())), KeptFields(m_before)); }

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

    // The events the program wrote (to a file, or its stdout), each line a
    // whole JSON object with the fields every event has.
    static std::vector<Json> ParseEvents(const std::string& text) {
        std::vector<Json> events;
        std::istringstream lines(text);
        for (std::string line; std::getline(lines, line);) {
            Json event = Json::parse(line, nullptr, /*allow_exceptions=*/false);
            EXPECT_TRUE(event.is_object() && event["event"].is_string() && event["t"].is_number() &&
                        event["port"].is_string())
                << line;
            events.push_back(std::move(event));
        }
        return events;
    }
    std::vector<Json> EventsFile() const {
        std::ifstream in(EventsPath());
        return ParseEvents(std::string(std::istreambuf_iterator<char>(in), {}));
    }
    std::string EventsPath() const { return (m_folder / "events.jsonl").string(); }

    // The run's last event is its end, with this status and a message that
    // begins with the text the terminal showed.
    static void ExpectEnd(const std::vector<Json>& events, const char* result, int status, const std::string& text) {
        ASSERT_FALSE(events.empty());
        const Json& end = events.back();
        EXPECT_EQ(end["event"], "end") << end;
        EXPECT_EQ(end["result"], result) << end;
        EXPECT_EQ(end["exit_status"], status) << end;
        EXPECT_EQ(end["message"].get<std::string>().rfind(text, 0), 0u) << end;
    }

    fs::path m_folder;
    std::unique_ptr<ReceiverSim> m_sim;
    termios m_before{};
};

}  // namespace

TEST_F(TerminalTest, CompleteDownloadExitsZeroWithProgressAndTrace) {
    StartSim();
    WriteData("data.bin", 30000);
    const std::string script = Write("load.cmd", "CE123456\r\nCQ\r\nSdata.bin\r\nCX\r\n");
    const std::string trace = (m_folder / "trace.txt").string();
    ChildProcess child(Args(script, {"--timeout=30", "--trace=" + trace}));
    ASSERT_EQ(child.Wait(120s), 0) << child.Out() << child.Err();
    ExpectPortRestored();

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

    m_sim->WaitUntil([](const SimReport& r) { return r.commands.size() >= 3; }, 30s);
    const SimReport report = m_sim->Report();
    ASSERT_EQ(report.files.size(), 1u) << report.Summary();
    EXPECT_EQ(report.files[0].data, TestFileBytes(30000));
}

// With --events -, stdout carries the events alone, in the order of the
// run, and the operator's texts go to stderr unchanged.
TEST_F(TerminalTest, EventsOnStdoutFollowTheRun) {
    StartSim();
    WriteData("data.bin", 30000);
    const std::string script = Write("load.cmd", "CE123456\r\nSdata.bin\r\nCX\r\n");
    ChildProcess child(Args(script, {"--events", "-"}));
    ASSERT_EQ(child.Wait(120s), 0) << child.Out() << child.Err();
    EXPECT_NE(child.Err().find("Command: E123456\n"), std::string::npos) << child.Err();
    const std::vector<Json> events = ParseEvents(child.Out());
    std::vector<std::string> names;
    for (const Json& event : events)
        if (event["event"] != "progress")
            names.push_back(event["event"]);
    EXPECT_EQ(names, (std::vector<std::string>{"started", "port_opened", "waiting", "connected", "command", "command",
                                               "file_sent", "command", "end"}));
    ExpectEnd(events, "success", 0, kSuccess);
    EXPECT_EQ(events.back()["bytes"], 30000);
    m_sim->WaitUntil([](const SimReport& r) { return r.commands.size() >= 2; }, 30s);
    const SimReport report = m_sim->Report();
    ASSERT_EQ(report.files.size(), 1u) << report.Summary();
    EXPECT_EQ(events[0]["files"][0]["sha256"], report.files[0].sha256) << events[0];
    EXPECT_EQ(events[0]["files"][0]["size"], 30000);
    EXPECT_EQ(events[0]["pid"].is_number(), true);
    const auto sent = std::find_if(events.begin(), events.end(), [](const Json& e) { return e["event"] == "file_sent"; });
    EXPECT_EQ((*sent)["sha256"], report.files[0].sha256);
    // The file's last progress is its 100 %, just before it is reported sent.
    EXPECT_EQ((*(sent - 1))["event"], "progress");
    EXPECT_EQ((*(sent - 1))["percent"], 100);
}

// Events that cannot all be written (/dev/full; a file size limit, as a
// full disk): the download goes on unaffected, the file holds whole lines
// only, the reason is on stderr and the exit status is 1.
TEST_F(TerminalTest, EventsNotWrittenFailTheRunButNotTheDownload) {
    WriteData("data.bin", 30000);
    const std::string script = Write("load.cmd", "CE123456\r\nSdata.bin\r\nCX\r\n");
    for (const auto& [events, limit, reason] : {std::tuple{std::string("/dev/full"), 0L, "No space left on device"},
                                                std::tuple{EventsPath(), 700L, "File too large"}}) {
        SCOPED_TRACE(events);
        StartSim();
        ChildProcess child(Args(script, {"--events", events}), false, {.m_nFileSizeLimit = limit});
        EXPECT_EQ(child.Wait(120s), 1) << child.Out() << child.Err();
        EXPECT_NE(child.Out().find(kSuccess), std::string::npos) << child.Out();
        EXPECT_NE(child.Err().find("cannot write the events to " + events + ": " + reason), std::string::npos)
            << child.Err();
        std::ifstream in(limit > 0 ? events : "");
        const std::string text(std::istreambuf_iterator<char>(in), {});
        EXPECT_TRUE(limit == 0 || (text.ends_with('\n') && ParseEvents(text).size() > 3)) << text;
        m_sim->WaitUntil([](const SimReport& r) { return r.commands.size() == 2; }, 30s);
        const SimReport report = m_sim->Report();
        ASSERT_EQ(report.files.size(), 1u) << report.Summary();
        EXPECT_EQ(report.files[0].data, TestFileBytes(30000));
        EXPECT_EQ(report.commands.back(), "X");
        ExpectPortRestored();
        m_sim->Stop();
    }
}

// Unit after unit on several lines at once: simulated receivers in one
// process, each powering on as a new unit after the tool's "X", loaded by one
// run of the tool per unit; each keeps the record of every unit it served.
TEST_F(TerminalTest, ReceiversInOneProcessTakeUnitAfterUnit) {
    constexpr int kLines = 3;
    constexpr unsigned kUnits = 2;
    SimOptions options;
    options.keepFileData = true;
    // Long enough for the run that served a unit to have ended and put its
    // port back before the next unit talks.
    options.nextUnitDelayMs = 1000;
    options.units = kUnits;
    std::vector<std::unique_ptr<ReceiverSim>> sims;
    for (int i = 0; i < kLines; ++i) {
        sims.push_back(ReceiverSim::CreatePty(options));
        ASSERT_TRUE(sims.back());
        sims.back()->Start();
    }
    WriteData("data.bin", 5000);
    const std::string script = Write("load.cmd", "CE123456\r\nSdata.bin\r\nCX\r\n");
    for (unsigned unit = 1; unit <= kUnits; ++unit) {
        std::vector<std::unique_ptr<ChildProcess>> runs;
        for (const auto& sim : sims)
            runs.push_back(std::make_unique<ChildProcess>(
                std::vector<std::string>{"--no-gui", "--port=" + sim->ToolPath(), "--script", script, "--timeout=30"}));
        for (auto& run : runs)
            EXPECT_EQ(run->Wait(120s), 0) << "unit " << unit << "\n" << run->Out() << run->Err();
    }
    for (const auto& sim : sims) {
        sim->WaitForEnd();  // the simulator ends after its last unit
        const SimReport report = sim->Report();
        ASSERT_EQ(report.units.size(), kUnits) << report.Summary();
        for (const SimUnit& unit : report.units) {
            EXPECT_EQ(unit.commands, (std::vector<std::string>{"E123456", "X"})) << report.Summary();
            ASSERT_EQ(unit.files.size(), 1u) << report.Summary();
            EXPECT_TRUE(unit.files[0].complete);
            EXPECT_EQ(unit.files[0].data, TestFileBytes(5000));
            EXPECT_TRUE(unit.errors.empty()) << report.Summary();
        }
    }
}

struct ErrorCase {
    const char* name;
    const char* script;       // "" for a script that does not exist
    unsigned errorAfter;      // simulated receiver sends "ERROR" as this frame
    bool badPort;
    std::string expected;     // on stdout
    std::string detail;       // on stderr ("" for none expected)
    unsigned silentAfter = 0; // simulated receiver sends nothing after this frame
    int timeout = 30;         // --timeout
};

class TerminalErrorTest : public TerminalTest, public ::testing::WithParamInterface<ErrorCase> {};

TEST_P(TerminalErrorTest, ExitsOneAfterTheMessage) {
    const ErrorCase& c = GetParam();
    SimOptions options;
    options.errorAfter = c.errorAfter;
    options.silentAfter = c.silentAfter;
    StartSim(options);
    WriteData("data.bin", 20000);
    Write("tiny.bin", "12345");
    const std::string script = *c.script ? Write("load.cmd", c.script) : (m_folder / "missing.cmd").string();
    std::vector<std::string> args =
        Args(script, {"--timeout", std::to_string(c.timeout), "--events", EventsPath()});
    if (c.badPort)
        args[1] = "--port=/nonexistent/ttyUSB7";
    ChildProcess child(args);
    EXPECT_EQ(child.Wait(120s), 1) << child.Out() << child.Err();
    ExpectEnd(EventsFile(), "error", 1, c.expected);
    EXPECT_NE(child.Out().find(c.expected + "\n"), std::string::npos) << child.Out();
    EXPECT_EQ(child.Out().find(kSuccess), std::string::npos);
    if (!c.detail.empty()) {
        EXPECT_NE(child.Err().find(c.detail), std::string::npos) << child.Err();
    }
    ExpectPortRestored();
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
                  LoadResString(IDS_COMMUNICATION_ERROR), ""},
        ErrorCase{"ReceiverFallsSilentMidFile", "CE123456\r\nSdata.bin\r\nCX\r\n", 0, false,
                  TerminalFrontEnd::SilenceText(2), "", 60, 2},
        // A script given on the command line is checked before the port is
        // opened: its fault is told although the port does not even exist.
        ErrorCase{"CheckedFirstMissingScript", "", 0, true, kTextFileDoesNotExist, "missing.cmd"},
        ErrorCase{"CheckedFirstUnknownCommand", "CE123456\r\nCZ\r\nCX\r\n", 0, true,
                  LoadResString(IDS_UNKNOWN_COMMAND), "command 2 (Z)"},
        ErrorCase{"CheckedFirstMissingDataFile", "CE123456\nSnothere.bin\nCX\n", 0, true,
                  LoadResString(IDS_LZSS_FILE_NOT_FOUND), "nothere.bin"},
        ErrorCase{"CheckedFirstShortDataFile", "Sdata.bin\r\nStiny.bin\r\nCX\r\n", 0, true,
                  LoadResString(IDS_LZSS_TOO_SHORT), "tiny.bin"},
        ErrorCase{"CheckedFirstNoCommand", "hello\r\n", 0, true, LoadResString(IDS_SCRIPT_NO_COMMAND), ""}),
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

enum class Phase { Wait, Upload };

struct SignalCase {
    const char* name;
    Phase phase;
    std::vector<int> signals;  // sent one right after the other
    int status;
    std::string text;          // on stdout ("" for none expected)
};

class TerminalSignalTest : public TerminalTest, public ::testing::WithParamInterface<SignalCase> {};

// A signal cancels the dialog that is open, tells the operator, and the
// port is given back as it was found, also when a second signal cuts the
// cancel short.
TEST_P(TerminalSignalTest, CancelsRestoresThePortAndExitsWithTheSignal) {
    const SignalCase& c = GetParam();
    SimOptions options;
    options.paced = true;  // a real line's pace: 20 KB take seconds
    StartSim(options, /*poweredOn=*/c.phase == Phase::Upload);
    WriteData("data.bin", 20000);
    ChildProcess child(Args(Write("load.cmd", "CE123456\r\nSdata.bin\r\nCX\r\n"), {"--events", EventsPath()}));
    const std::string phaseText = c.phase == Phase::Wait ? "Waiting for Connection..." : "Command: S";
    ASSERT_TRUE(child.WaitForOutput(phaseText, 60s)) << child.Out() << child.Err();
    for (int signal : c.signals)
        child.Signal(signal);
    EXPECT_EQ(child.Wait(60s), c.status) << child.Out() << child.Err();
    // Every line whole, also after a second signal ended the run at once.
    const std::vector<Json> events = EventsFile();
    if (!c.text.empty()) {
        EXPECT_NE(child.Out().find(c.text + "\n"), std::string::npos) << child.Out();
        ExpectEnd(events, "cancelled", c.status, c.text);
    }
    EXPECT_EQ(child.Out().find(kSuccess), std::string::npos);
    ExpectPortRestored();
    m_sim->Stop();
    for (const std::string& command : m_sim->Report().commands)
        EXPECT_NE(command, "X");
}

INSTANTIATE_TEST_SUITE_P(
    Signals, TerminalSignalTest,
    ::testing::Values(
        SignalCase{"SigintDuringTheWait", Phase::Wait, {SIGINT}, 130, kTextConnectionCancelled},
        SignalCase{"SigtermDuringTheWait", Phase::Wait, {SIGTERM}, 143, kTextConnectionCancelled},
        SignalCase{"SighupDuringTheWait", Phase::Wait, {SIGHUP}, 129, kTextConnectionCancelled},
        SignalCase{"SigintDuringTheUpload", Phase::Upload, {SIGINT}, 130, TerminalFrontEnd::DownloadCancelledText()},
        SignalCase{"SigtermDuringTheUpload", Phase::Upload, {SIGTERM}, 143,
                   TerminalFrontEnd::DownloadCancelledText()},
        SignalCase{"SighupDuringTheUpload", Phase::Upload, {SIGHUP}, 129, TerminalFrontEnd::DownloadCancelledText()},
        // The same signal twice: two different ones pending together are
        // delivered in signal-number order, not in the order sent.
        SignalCase{"SecondSignalExitsAtOnce", Phase::Upload, {SIGINT, SIGINT}, 130, ""}),
    [](const auto& info) { return std::string(info.param.name); });

// A second Ctrl-C once the first has been acted on ends the run at once, and
// the port is still given back, by the emergency restore: the cancel's own
// restore waits behind an answer the line does not take.
TEST_F(TerminalTest, SecondSignalRestoresThePortAtOnce) {
    ScriptedReceiver receiver;
    MakeToolSideDistinct(receiver.ToolPath());
    const termios before = receiver.Pty().SlaveTermios();
    WriteData("data.bin", 3000);
    const std::string trace = (m_folder / "trace.txt").string();
    ChildProcess child({"--no-gui", "--port=" + receiver.ToolPath(), "--script", Write("load.cmd", "Sdata.bin\r\n"),
                        "--trace", trace});
    ASSERT_TRUE(child.WaitForOutput("Waiting for Connection...", 60s)) << child.Out() << child.Err();
    ASSERT_TRUE(receiver.Exchange("MON:") && receiver.Exchange("OK:"));
    ASSERT_TRUE(child.WaitForOutput("Command: S", 60s)) << child.Out() << child.Err();
    ASSERT_GT(receiver.Pty().FillTowardsMaster(), 0u);
    receiver.Send("OK:");
    // Once its trace shows that "OK:" read whole, the program answers it
    // whatever comes: the cancel can no longer stop the write.
    auto framesIn = [&] {
        std::ifstream in(trace);
        int count = 0;
        for (std::string line; std::getline(in, line);)
            count += line.find("  in  ") != std::string::npos;
        return count;
    };
    for (const auto giveUpAt = std::chrono::steady_clock::now() + 60s;
         framesIn() < 3 && std::chrono::steady_clock::now() < giveUpAt;)
        std::this_thread::sleep_for(10ms);
    child.Signal(SIGINT);
    ASSERT_TRUE(child.WaitForOutput(TerminalFrontEnd::DownloadCancelledText(), 60s)) << child.Out() << child.Err();
    child.Signal(SIGINT);
    EXPECT_EQ(child.Wait(60s), 130) << child.Out() << child.Err();
    EXPECT_NE(child.Err().find("Interrupted again: exiting."), std::string::npos) << child.Err();
    EXPECT_EQ(KeptFields(receiver.Pty().SlaveTermios()), KeptFields(before));
}

// --timeout is the receiver's silence since its last frame: a paced upload
// of about 11 s goes through while the receiver talks, and one whose
// receiver falls silent about 6 s in stops about kLimit seconds later.
TEST_F(TerminalTest, SilenceCountsFromTheLastFrameHeard) {
    constexpr int kLimit = 3;
    for (const unsigned silentAfter : {0u, 250u}) {  // upload frames; 0: never silent
        SCOPED_TRACE(silentAfter);
        std::atomic<std::chrono::steady_clock::time_point> silentFrom{std::chrono::steady_clock::time_point::max()};
        SimOptions options;
        options.paced = true;
        options.fault = silentAfter != 0 ? SimFault::Silent : SimFault::None;
        options.faultAfterUploadFrames = silentAfter;
        options.onUploadFrame = [&](unsigned frames) {
            if (frames == silentAfter)
                silentFrom = std::chrono::steady_clock::now();
        };
        StartSim(options);
        WriteData("data.bin", 30000);
        ChildProcess child(Args(Write("load.cmd", "Sdata.bin\r\nCX\r\n"), {"--timeout", std::to_string(kLimit)}));
        EXPECT_EQ(child.Wait(120s), silentAfter != 0 ? 1 : 0) << child.Out() << child.Err();
        const std::chrono::duration<double> silence = std::chrono::steady_clock::now() - silentFrom.load();
        if (silentAfter != 0) {
            EXPECT_GT(silence.count(), kLimit - 1.0);
            EXPECT_LT(silence.count(), kLimit + 20.0);
        }
        m_sim->Stop();  // before its options go
    }
}

// A data file replaced (mv) or rewritten in place after the run started,
// while the file before it is being sent: the run fails with its own
// message, nothing after that file reaches the receiver (no X), and the
// events report exactly the bytes and SHA-256 that went out.
enum class Change { MovedOtherSize, MovedSameSize, RewrittenInPlace };
const char* const kChangeNames[] = {"MovedOtherSize", "MovedSameSize", "RewrittenInPlace"};

class TerminalChangedFileTest : public TerminalTest, public ::testing::WithParamInterface<Change> {};

TEST_P(TerminalChangedFileTest, FailsAfterSendingOnlyWhatItReports) {
    const Change change = GetParam();
    const std::string two = WriteData("two.bin", 3000);
    WriteData("one.bin", 20000);
    SimOptions options;
    options.onUploadFrame = [&](unsigned frames) {
        if (frames != 10)  // one.bin's header and 9 chunks are in
            return;
        const std::string bytes = TestFileString(change == Change::MovedOtherSize ? 2000 : 3000, 7);
        if (change == Change::RewrittenInPlace)
            std::fstream(two, std::ios::in | std::ios::out | std::ios::binary) << bytes;
        else
            fs::rename(Write("new.bin", bytes), two);
    };
    StartSim(options);
    ChildProcess child(Args(Write("load.cmd", "Sone.bin\r\nStwo.bin\r\nCX\r\n"), {"--events", EventsPath()}));
    EXPECT_EQ(child.Wait(120s), 1) << child.Out() << child.Err();
    EXPECT_NE(child.Out().find(LoadResString(IDS_LZSS_CHANGED) + "\n\n" + two), std::string::npos) << child.Out();
    const std::size_t files = change == Change::MovedOtherSize ? 1 : 2;
    m_sim->WaitUntil([&](const SimReport& r) { return r.files.size() == files && r.files.back().complete; }, 30s);
    m_sim->Stop();
    const SimReport report = m_sim->Report();
    EXPECT_EQ(std::count(report.commands.begin(), report.commands.end(), "X"), 0);
    Json got = Json::array(), sent = Json::array();
    std::uint64_t bytes = 0;
    for (const SimFile& file : report.files) {
        got.push_back({file.size, file.sha256});
        bytes += file.size;
    }
    const std::vector<Json> events = EventsFile();
    for (const Json& event : events)
        if (event["event"] == "file_sent")
            sent.push_back({event["bytes"], event["sha256"]});
    EXPECT_EQ(sent, got) << report.Summary();
    EXPECT_EQ(got.size(), files);
    EXPECT_EQ(events.back()["bytes"], bytes);
    EXPECT_EQ(events.back()["outcome"], "data_file_changed");
    ExpectPortRestored();
}

INSTANTIATE_TEST_SUITE_P(Changes, TerminalChangedFileTest,
                         ::testing::Values(Change::MovedOtherSize, Change::MovedSameSize, Change::RewrittenInPlace),
                         [](const auto& info) { return std::string(kChangeNames[static_cast<int>(info.param)]); });

// Output nobody reads any more (stdout into a pipe whose reader has gone)
// does not stop the download.
TEST_F(TerminalTest, BrokenStdoutDoesNotStopTheDownload) {
    StartSim();
    WriteData("data.bin", 3000);
    ChildProcess child(Args(Write("load.cmd", "CE123456\r\nSdata.bin\r\nCX\r\n")), /*closeStdout=*/true);
    EXPECT_EQ(child.Wait(120s), 0) << child.Err();
    m_sim->WaitUntil([](const SimReport& r) { return r.commands.size() >= 2; }, 30s);
    const SimReport report = m_sim->Report();
    ASSERT_EQ(report.files.size(), 1u) << report.Summary();
    EXPECT_EQ(report.files[0].data, TestFileBytes(3000));
    ExpectPortRestored();
}

// The connection wait ends as soon as the link has stopped on its own, even
// when the link says so (g_bLinkRunning cleared) only after its last posted
// message has been handled: the flag change itself wakes the wait.
UINT LinkThatStopsAfterItsLastMessage(void* param) {
    const HWND hwnd = static_cast<HWND>(reinterpret_cast<std::uintptr_t>(param));
    g_bLinkRunning.Set();
    g_bAbort.Set();  // as after "ERROR"
    PostMessage(hwnd, WM_LINK_CLOSED, 0, 0);
    std::this_thread::sleep_for(300ms);  // the front end handles the message meanwhile
    g_bLinkRunning.Clear();
    return 0;
}

TEST(TerminalFrontEndWait, WokenByTheLinkFlags) {
    SharedStateReset reset;
    std::FILE* out = std::tmpfile();
    ASSERT_NE(out, nullptr);
    ProgressDisplay display(out, false);
    RunOutcome outcome;
    TerminalFrontEnd frontEnd(TerminalOptions{}, display, outcome, nullptr, out);
    PortInitDialog dialog(&LinkThatStopsAfterItsLastMessage);
    auto result = std::async(std::launch::async, [&] { return frontEnd.DoModal(dialog); });
    ASSERT_EQ(result.wait_for(30s), std::future_status::ready) << "the wait was not woken";
    EXPECT_EQ(result.get(), IDR_BACK);
    EXPECT_EQ(outcome.ExitStatus(), kExitFailure);
    std::fclose(out);
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
                                           UsageCase{"ScriptNeededWithoutATerminal", {"--no-gui", "--port", "/dev/null"}},
                                           UsageCase{"EmptyPort", {"--no-gui", "--port", "", "--script", "x.cmd"}}),
                         [](const auto& info) { return std::string(info.param.name); });

// No output file (--trace, --events, --record) may name the port, the script,
// a data file or another output, by any path (a symlink here, a path with
// "." in it): it is refused before anything is opened, so nothing is written
// and no file is created (the other output named, too). --record makes the
// run a station.
class OutputGuardTest : public TerminalTest,
                        public ::testing::WithParamInterface<std::tuple<std::string, std::string>> {};

TEST_P(OutputGuardTest, RefusedBeforeAnythingIsOpened) {
    const std::string content = "CE1\r\nSdata.bin\r\nCX\r\n";
    const std::string script = Write("load.cmd", content);
    WriteData("data.bin", 100);
    const auto [option, target] = GetParam();
    const std::string other = option == "--trace" ? "--events" : option == "--events" ? "--trace" : "--events";
    const std::string fresh = (m_folder / "fresh.out").string();
    std::string output = (m_folder / "out.txt").string();
    if (target == "fresh")
        output = (m_folder / "." / "fresh.out").string();
    else
        fs::create_symlink(target == "port" ? fs::path("/dev/null") : m_folder / target, output);
    ChildProcess child({"--no-gui", "--port=/dev/null", "--script", script, option, output, other, fresh});
    EXPECT_EQ(child.Wait(30s), 2) << child.Out() << child.Err();
    EXPECT_NE(child.Err().find(" names "), std::string::npos) << child.Err();
    EXPECT_FALSE(fs::exists(fresh));
    std::ifstream in(script, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), content);
    EXPECT_EQ(fs::file_size(m_folder / "data.bin"), 100u);
}

INSTANTIATE_TEST_SUITE_P(Targets, OutputGuardTest,
                         ::testing::Combine(::testing::Values("--trace", "--events", "--record"),
                                            ::testing::Values("port", "load.cmd", "data.bin", "fresh")),
                         [](const auto& info) {
                             const std::string option = std::get<0>(info.param);
                             const std::string target = std::get<1>(info.param);
                             return option.substr(2) + "_" + target.substr(0, target.find('.'));
                         });

// Started with stdout and stderr closed, the program writes its operator
// text nowhere rather than into its own files: the events and the trace
// hold whole lines of their own only.
TEST_F(TerminalTest, OutputsClosedLeaveTheFilesWhole) {
    StartSim();
    WriteData("data.bin", 3000);
    const std::string events = (m_folder / "events.jsonl").string(), trace = (m_folder / "trace.txt").string();
    ChildProcess child(Args(Write("load.cmd", "CE123456\r\nSdata.bin\r\nCX\r\n"), {"--events", events, "--trace", trace}),
                       false, {.m_bOutputsClosed = true});
    EXPECT_EQ(child.Wait(60s), 0);
    std::ifstream eventLines(events), traceLines(trace);
    std::size_t count = 0;
    for (std::string line; std::getline(eventLines, line); ++count)
        EXPECT_TRUE(Json::parse(line, nullptr, false).is_object()) << line;
    for (std::string line; std::getline(traceLines, line); ++count)
        EXPECT_TRUE(std::regex_match(line, std::regex(R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}  (in |out) .*)"))) << line;
    EXPECT_GT(count, 10u);
}

TEST_F(TerminalTest, DemoRunsAWholeDownloadUnattended) {
    ChildProcess child({"--demo", "--no-gui"});
    EXPECT_EQ(child.Wait(120s), 0) << child.Out() << child.Err();
    EXPECT_NE(child.Out().find(kSuccess), std::string::npos) << child.Out();
    EXPECT_NE(child.Out().find("SHA-256 equal"), std::string::npos) << child.Out();
}

// The demo's receiver thread runs before the watcher starts: Ctrl-C still
// cancels the run.
TEST_F(TerminalTest, DemoCancelledMidFile) {
    ChildProcess child({"--demo", "--no-gui"});
    ASSERT_TRUE(child.WaitForOutput("Command: S", 60s)) << child.Out() << child.Err();
    child.Signal(SIGINT);
    EXPECT_EQ(child.Wait(60s), 130) << child.Out() << child.Err();
    EXPECT_NE(child.Out().find(TerminalFrontEnd::DownloadCancelledText() + "\n"), std::string::npos) << child.Out();
    EXPECT_NE(child.Out().find("the download did not complete"), std::string::npos) << child.Out();
}
