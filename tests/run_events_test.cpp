// The run's events on a clock of the test's own: the pace of the progress
// events, the data file's end, and the end event's result and message.
#include "events/run_events.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "events/event_reader.h"
#include "res/resource.h"
#include "res/strings.h"
#include "support/temp_folder.h"
#include "term/terminal_app.h"
#include "ui/run_outcome.h"
#include "support/test_data.h"
#include "upload/script_check.h"

namespace {

using namespace std::chrono_literals;
using Json = nlohmann::json;

constexpr DWORD kFileSize = 10000;

struct Tick {
    int atMs;  // since the data file's command
    DWORD bytes;
    DWORD length = kFileSize;
};

struct ProgressCase {
    const char* name;
    std::vector<Tick> ticks;
    bool finished;                         // the upload ended with the script sent
    std::vector<std::uint64_t> progress;   // bytes of the progress events written
    std::uint64_t endBytes;
};

class RunEventsTest : public ::testing::TestWithParam<ProgressCase> {
protected:
    void SetUp() override {
        m_out = std::tmpfile();
        ASSERT_NE(m_out, nullptr);
        m_events = std::make_unique<RunEvents>(m_out, [this] { return m_now; });
        m_events->SetPort("COM5", "/dev/ttyS4");
        const auto data = TestFileString(kFileSize);
        std::ofstream(m_data) << data;
    }
    void TearDown() override { std::fclose(m_out); }

    std::vector<Json> Lines() {
        std::fflush(m_out);
        std::rewind(m_out);
        std::vector<Json> lines;
        char buffer[4096];
        while (std::fgets(buffer, sizeof buffer, m_out) != nullptr) {
            lines.push_back(Json::parse(buffer));
            EXPECT_EQ(lines.back()["port"], "COM5");
        }
        return lines;
    }

    TempFolder m_temp{"run_events_test."};
    std::string m_data = m_temp.Slash() + "data.bin";
    std::FILE* m_out = nullptr;
    RunEvents::TimePoint m_now{};
    std::unique_ptr<RunEvents> m_events;
};

TEST_P(RunEventsTest, PacesProgressAndReportsTheFile) {
    const ProgressCase& c = GetParam();
    m_events->Started(m_temp.Slash() + "load.cmd", {{m_data, kFileSize, "ab12"}});
    m_events->Command("S" + m_data, "Command: S" + m_data);
    const RunEvents::TimePoint start = m_now;
    for (const Tick& tick : c.ticks) {
        m_now = start + std::chrono::milliseconds(tick.atMs);
        m_events->Progress(tick.bytes, tick.length);
    }
    if (c.finished)
        m_events->FileSent(m_data, kFileSize, "cd34");
    m_events->End({c.finished ? 0 : 130, c.finished ? "success" : "cancelled", "", "end"});

    std::vector<std::uint64_t> progress;
    bool sent = false;
    const std::vector<Json> lines = Lines();
    for (const Json& line : lines) {
        if (line["event"] == "progress") {
            progress.push_back(line["bytes"]);
            EXPECT_EQ(line["total"], kFileSize);
            EXPECT_GT(line["rate"].get<double>(), 0);
        }
        if (line["event"] == "file_sent") {
            sent = true;
            // What went out, not what the start found.
            EXPECT_EQ(line["sha256"], "cd34");
            EXPECT_EQ(lines[0]["files"][0]["sha256"], "ab12");
        }
    }
    EXPECT_EQ(progress, c.progress);
    EXPECT_EQ(sent, c.finished);
    EXPECT_EQ(lines.back()["event"], "end");
    EXPECT_EQ(lines.back()["bytes"], c.endBytes);
}

INSTANTIATE_TEST_SUITE_P(
    Ticks, RunEventsTest,
    ::testing::Values(
        ProgressCase{"OncePerSecond", {{1000, 1000}, {2000, 2000}}, true, {1000, 2000, kFileSize}, kFileSize},
        ProgressCase{"CloserTicksDropped", {{1000, 1000}, {1300, 1500}, {1600, 2000}, {2000, 2500}}, true,
                     {1000, 2500, kFileSize}, kFileSize},
        // A tick that comes a little early on this clock still counts.
        ProgressCase{"SlightlyEarlyTick", {{1000, 1000}, {1995, 2000}}, true, {1000, 2000, kFileSize}, kFileSize},
        ProgressCase{"NothingSentYet", {{1000, 0}}, true, {kFileSize}, kFileSize},
        ProgressCase{"HundredPercentOnce", {{1000, kFileSize}}, true, {kFileSize}, kFileSize},
        // The next file's counters, before its command is handled.
        ProgressCase{"OtherFileIgnored", {{1000, 500, 999}}, true, {kFileSize}, kFileSize},
        ProgressCase{"StoppedMidFile", {{1000, 3000}, {1500, 4000}}, false, {3000}, 4000}),
    [](const auto& info) { return std::string(info.param.name); });

// Names that are not UTF-8: every line stays valid JSON, readable with
// U+FFFD, and the station reads the exact bytes back from the "_hex" fields.
TEST(RunEventsNames, BytesThatAreNotUtf8KeptBesideTheText) {
    const std::string port = "/dev/tty\xff", script = "/w/l\xe9.cmd", data = "/w/\xc3(.bin";
    std::FILE* out = std::tmpfile();
    RunEvents events(out);
    events.SetPort(port, "/dev/\xff");
    events.Started(script, {{data, 10, "ab"}});
    events.PortOpened();
    events.Command("S" + data, "Command: S" + data);
    events.FileSent(data, 10, "cd");
    events.End({0, "success", "completed", "done"});
    std::rewind(out);
    char buffer[4096];
    int lines = 0;
    while (std::fgets(buffer, sizeof buffer, out) != nullptr) {
        ++lines;
        SCOPED_TRACE(buffer);
        const Json json = Json::parse(buffer);  // throws on bytes that are not UTF-8
        EXPECT_EQ(json["port"], "/dev/tty\xef\xbf\xbd");
        const auto event = ParseStationEvent(buffer);
        ASSERT_TRUE(event);
        EXPECT_EQ(event->m_strPort, port);
        const std::string& name = event->m_strEvent;
        if (name == "started") {
            EXPECT_EQ(event->m_strScript, script);
            ASSERT_EQ(event->m_files.size(), 1u);
            EXPECT_EQ(event->m_files[0].m_strPath, data);
        } else if (name == "port_opened") {
            EXPECT_EQ(json["device_hex"], "2f6465762fff");
        } else if (name == "command") {
            EXPECT_EQ(event->m_strCommand, "S" + data);
        } else if (name != "end") {
            EXPECT_EQ(event->m_strFile, data);
        }
    }
    EXPECT_EQ(lines, 6);
    std::fclose(out);
}

OperatorMessage Message(UINT id) { return {id, LoadResString(id)}; }

struct EndCase {
    const char* name;
    int status;
    std::vector<OperatorMessage> shown;
    std::vector<std::string> details;
    const char* result;
    std::string message;
    int cancelSignal = -1;  // NoteCancelled(signal) after the messages; -1: no cancel
};

const std::vector<EndCase> kEndCases = {
    {"Success", 0, {Message(IDS_STARTUP_NOTICE), Message(IDS_DOWNLOAD_COMPLETED)}, {}, "success",
     LoadResString(IDS_DOWNLOAD_COMPLETED)},
    {"PortWithItsReason", 1, {Message(IDS_STARTUP_NOTICE), Message(IDS_UNABLE_TO_OPEN_PORT)},
     {"/dev/ttyUSB7: no such device"}, "error", LoadResString(IDS_UNABLE_TO_OPEN_PORT) + "\n/dev/ttyUSB7: no such device"},
    {"FirstFaultCounts", 1,
     {Message(IDS_COMMUNICATION_ERROR), {IDT_CONNECTION_CANCELLED, kTextConnectionCancelled}}, {}, "error",
     LoadResString(IDS_COMMUNICATION_ERROR)},
    {"Cancelled", 130, {{IDT_CONNECTION_CANCELLED, kTextConnectionCancelled}}, {}, "cancelled",
     kTextConnectionCancelled, 0},
    {"KilledWithoutText", 143, {}, {}, "cancelled", "Cancelled by signal 15.", 15},
    {"FailedWithoutText", 1, {Message(IDS_CONNECTION_ESTABLISHED)}, {}, "error",
     "The download did not complete."},
};

// What a run showed, through the outcome it came to, into the end event.
TEST(RunEventsEnd, MessageTellsTheOutcome) {
    for (const EndCase& c : kEndCases) {
        SCOPED_TRACE(c.name);
        std::FILE* out = std::tmpfile();
        RunEvents events(out);
        RunOutcome outcome;
        for (const OperatorMessage& message : c.shown)
            outcome.NoteMessage(message);
        for (const std::string& text : c.details)
            outcome.NoteDetail(text);
        if (c.cancelSignal >= 0)
            outcome.NoteCancelled(c.cancelSignal);
        events.End(EndReportOf(outcome.Result()));
        events.End(EndReportOf(RunResult{}));  // once only: the first end stands
        std::rewind(out);
        char buffer[4096];
        ASSERT_NE(std::fgets(buffer, sizeof buffer, out), nullptr);
        const Json end = Json::parse(buffer);
        EXPECT_EQ(end["result"], c.result);
        EXPECT_EQ(end["message"], c.message);
        EXPECT_EQ(end["exit_status"], c.status);
        EXPECT_EQ(std::fgets(buffer, sizeof buffer, out), nullptr);
        std::fclose(out);
    }
}

}  // namespace
