// The station: the built program loading many simulated receivers at once,
// each on a pseudo-terminal of this process. Every run is checked against
// what each receiver got: the exit status, the summary, the events and the
// record, and that every port is given back as it was found.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <condition_variable>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#include "res/strings.h"
#include "sim/receiver_sim.h"
#include "support/child_process.h"
#include "support/temp_folder.h"
#include "support/test_data.h"
#include "station/station_display.h"
#include "events/event_reader.h"
#include "term/terminal_front_end.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

constexpr std::size_t kDataSize = 3000;
constexpr unsigned kMidFile = 3 + (kDataSize - 6 + 63) / 64 / 2;  // upload frames: E, Q, header, half the chunks
constexpr int kTimeout = 5;
constexpr auto kBound = 120s;

enum class Role { Clean, HangUpMidFile, Silent, Error };

std::vector<std::string> SplitCsv(const std::string& line) {
    std::vector<std::string> fields(1);
    bool quoted = false;
    for (std::size_t i = 0; i < line.size(); ++i) {
        const char c = line[i];
        if (c == '"' && quoted && i + 1 < line.size() && line[i + 1] == '"')
            fields.back() += line[++i];
        else if (c == '"')
            quoted = !quoted;
        else if (c == ',' && !quoted)
            fields.emplace_back();
        else
            fields.back() += c;
    }
    return fields;
}

std::string KeptFields(int fd) {
    termios tio{};
    tcgetattr(fd, &tio);
    return std::to_string(cfgetospeed(&tio)) + " " + std::to_string(tio.c_iflag) + " " +
           std::to_string(tio.c_oflag) + " " + std::to_string(tio.c_lflag) + " " + std::to_string(tio.c_cc[VMIN]);
}

class StationTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::ofstream(m_temp.Path() / "load.cmd", std::ios::binary) << "CE123456\r\nCQ\r\nSdata.bin\r\nCX\r\n";
        const std::vector<std::uint8_t> data = TestFileBytes(kDataSize);
        std::ofstream(m_temp.Path() / "data.bin", std::ios::binary).write(reinterpret_cast<const char*>(data.data()),
                                                                          data.size());
        m_strSha256 = Sha256Hex(data.data(), data.size());
    }
    void TearDown() override {
        Release();
        for (auto& sim : m_sims)
            sim->Stop();
        for (int fd : m_ports)
            close(fd);
    }

    // A receiver per role, and its port opened by this test in a state no
    // tool sets, to be found again afterwards.
    // units > 0: each receiver powers on as the next unit after "X", that many times.
    void AddReceivers(const std::vector<Role>& roles, const std::function<void(unsigned)>& onFrame = {},
                      unsigned units = 0) {
        for (Role role : roles) {
            SimOptions options;
            options.nextUnitDelayMs = units > 0 ? 1000 : -1;  // the served unit's run has ended by then
            options.units = units;
            options.silent = role == Role::Silent;
            options.fault = role == Role::HangUpMidFile ? SimFault::HangUp : role == Role::Error ? SimFault::Error
                                                                                                : SimFault::None;
            options.faultAfterUploadFrames = role == Role::Error ? 1 : kMidFile;
            options.onUploadFrame = onFrame;
            std::string reason;
            m_sims.push_back(ReceiverSim::CreatePty(options, &reason));
            ASSERT_TRUE(m_sims.back()) << reason;
            m_sims.back()->Start();
            const int fd = open(m_sims.back()->ToolPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
            ASSERT_GE(fd, 0);
            termios tio{};
            tcgetattr(fd, &tio);
            tio.c_iflag = IGNBRK | IGNPAR;
            tio.c_lflag = NOFLSH | IEXTEN;
            tio.c_cc[VMIN] = 3;
            cfsetspeed(&tio, B9600);
            tcsetattr(fd, TCSANOW, &tio);
            m_ports.push_back(fd);
            m_found.push_back(KeptFields(fd));
        }
    }

    std::unique_ptr<ChildProcess> StartStation(std::vector<std::string> args) {
        args.insert(args.begin(), {"--no-gui", "--script", (m_temp.Path() / "load.cmd").string(), "--record",
                                   Record(), "--events", Events()});
        for (const auto& sim : m_sims)
            args.insert(args.end(), {"--port", sim->ToolPath()});
        return std::make_unique<ChildProcess>(args);
    }

    // Each port's events, in order.
    std::map<std::string, std::vector<StationEvent>> EventsByPort() const {
        std::map<std::string, std::vector<StationEvent>> events;
        std::ifstream file(Events());
        for (std::string line; std::getline(file, line);)
            if (const auto event = ParseStationEvent(line))
                events[event->m_strPort].push_back(*event);
        return events;
    }

    // The record's lines after the header, split into fields.
    std::vector<std::vector<std::string>> RecordLines() const {
        std::ifstream file(Record(), std::ios::binary);
        std::vector<std::vector<std::string>> lines;
        std::string line;
        std::getline(file, line);
        EXPECT_EQ(line, "time,port,usb_serial,script,files,bytes,result,message,seconds\r");
        while (std::getline(file, line)) {
            EXPECT_EQ(line.back(), '\r');
            line.pop_back();
            lines.push_back(SplitCsv(line));
            EXPECT_EQ(lines.back().size(), 9u) << line;
        }
        return lines;
    }

    void ExpectPortsGivenBack() const {
        for (std::size_t i = 0; i < m_ports.size(); ++i) {
            if (!m_sims[i]->Report().hungUp) {
                EXPECT_EQ(KeptFields(m_ports[i]), m_found[i]) << m_sims[i]->ToolPath();
            }
        }
    }

    // Lets go of receivers held by a test's frame hook.
    void Release() {
        std::lock_guard lock(m_mutex);
        m_bReleased = true;
        m_changed.notify_all();
    }

    std::string Record() const { return (m_temp.Path() / "units.csv").string(); }
    std::string Events() const { return (m_temp.Path() / "events.jsonl").string(); }

    TempFolder m_temp{"station."};
    std::string m_strSha256;
    std::vector<std::unique_ptr<ReceiverSim>> m_sims;
    std::vector<int> m_ports;
    std::vector<std::string> m_found;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_bReleased = false;
    unsigned m_nHeld = 0;
};

TEST_F(StationTest, EightReceiversThreeFaultsEachReportedWithItsReason) {
    const std::string comm = LoadResString(IDS_COMMUNICATION_ERROR);
    const std::string ok = LoadResString(IDS_DOWNLOAD_COMPLETED);
    const std::vector<std::pair<Role, std::string>> expected = {
        {Role::Clean, ok}, {Role::HangUpMidFile, comm}, {Role::Clean, ok}, {Role::Silent, TerminalFrontEnd::TimeoutText(kTimeout)},
        {Role::Clean, ok}, {Role::Error, comm},         {Role::Clean, ok}, {Role::Clean, ok}};
    std::vector<Role> roles;
    for (const auto& [role, message] : expected)
        roles.push_back(role);
    AddReceivers(roles);
    auto station = StartStation({"--timeout", std::to_string(kTimeout)});
    const int status = station->Wait(kBound);
    const std::string out = station->Out();
    SCOPED_TRACE(out + station->Err());
    EXPECT_EQ(status, 1);
    EXPECT_NE(out.find("Summary: 8 ports, 5 succeeded, 3 failed"), std::string::npos);

    auto events = EventsByPort();
    const auto record = RecordLines();
    ASSERT_EQ(record.size(), 8u);
    for (std::size_t i = 0; i < m_sims.size(); ++i) {
        const std::string port = m_sims[i]->ToolPath();
        const bool clean = expected[i].first == Role::Clean;
        // A child may end before its receiver has read the last frame.
        if (clean)
            m_sims[i]->WaitUntil([](const SimReport& r) { return !r.commands.empty() && r.commands.back() == "X"; },
                                 kBound);
        const SimReport report = m_sims[i]->Report();
        SCOPED_TRACE(port + " receiver: " + report.Summary());
        // The summary's line of the port: its result and, for a failure, why.
        const std::size_t at = out.find("\n" + port + " ", out.find("Summary:"));
        ASSERT_NE(at, std::string::npos);
        const std::string line = out.substr(at + 1, out.find('\n', at + 1) - at - 1);
        EXPECT_NE(line.find(clean ? " ok " : " FAILED "), std::string::npos) << line;
        EXPECT_NE(line.find(StationDisplay::OneLine(expected[i].second)), std::string::npos) << line;

        ASSERT_FALSE(events[port].empty());
        const StationEvent& end = events[port].back();
        EXPECT_EQ(end.m_strEvent, "end");
        EXPECT_EQ(end.m_strResult, clean ? "success" : "error");
        EXPECT_EQ(std::count(report.commands.begin(), report.commands.end(), "X"), clean ? 1 : 0);
        const auto unit = std::find_if(record.begin(), record.end(), [&](const auto& r) { return r[1] == port; });
        ASSERT_NE(unit, record.end());
        EXPECT_EQ((*unit)[6], end.m_strResult);
        EXPECT_NE((*unit)[4].find("data.bin=" + m_strSha256), std::string::npos) << (*unit)[4];
        if (clean) {
            ASSERT_EQ(report.files.size(), 1u);
            EXPECT_EQ(report.files[0].sha256, m_strSha256);
            const auto sent = std::find_if(events[port].begin(), events[port].end(),
                                           [](const StationEvent& e) { return e.m_strEvent == "file_sent"; });
            ASSERT_NE(sent, events[port].end());
            EXPECT_EQ(sent->m_strSha256, report.files[0].sha256);
            EXPECT_EQ((*unit)[5], std::to_string(kDataSize));
        }
    }
    ExpectPortsGivenBack();
}

TEST_F(StationTest, RepeatLoadsThreeUnitsPerPort) {
    AddReceivers({Role::Clean, Role::Clean, Role::Clean}, {}, 3);
    auto station = StartStation({"--repeat", "--units", "3"});
    const int status = station->Wait(kBound);
    SCOPED_TRACE(station->Out() + station->Err());
    EXPECT_EQ(status, 0);
    EXPECT_NE(station->Out().find("Summary: 3 ports, 3 succeeded, 0 failed"), std::string::npos);
    const auto record = RecordLines();
    EXPECT_EQ(record.size(), 9u);
    for (const auto& unit : record)
        EXPECT_EQ(unit[6], "success");
    for (const auto& sim : m_sims) {
        sim->WaitUntil([](const SimReport& r) { return r.units.size() >= 3; }, kBound);
        const SimReport report = sim->Report();
        ASSERT_EQ(report.units.size(), 3u) << report.Summary();
        for (const SimUnit& unit : report.units) {
            EXPECT_EQ(unit.commands, (std::vector<std::string>{"E123456", "Q", "X"}));
            ASSERT_EQ(unit.files.size(), 1u);
            EXPECT_EQ(unit.files[0].sha256, m_strSha256);
            EXPECT_TRUE(unit.errors.empty()) << report.Summary();
        }
    }
    ExpectPortsGivenBack();
}

TEST_F(StationTest, CtrlCMidFileCancelsEveryPortAndGivesItBack) {
    // Every receiver holds the upload halfway through the file until the
    // station has been interrupted.
    AddReceivers({Role::Clean, Role::Clean, Role::Clean, Role::Clean}, [this](unsigned frames) {
        if (frames != kMidFile)
            return;
        std::unique_lock lock(m_mutex);
        ++m_nHeld;
        m_changed.notify_all();
        m_changed.wait_for(lock, kBound, [this] { return m_bReleased; });
    });
    auto station = StartStation({});
    {
        std::unique_lock lock(m_mutex);
        ASSERT_TRUE(m_changed.wait_for(lock, kBound, [this] { return m_nHeld == m_sims.size(); }));
    }
    station->Signal(SIGINT);
    const int status = station->Wait(kBound);
    Release();
    SCOPED_TRACE(station->Out() + station->Err());
    EXPECT_EQ(status, 130);
    auto events = EventsByPort();
    for (const auto& sim : m_sims) {
        const auto& mine = events[sim->ToolPath()];
        ASSERT_FALSE(mine.empty());
        EXPECT_EQ(mine.back().m_strResult, "cancelled");
        EXPECT_EQ(mine.front().m_strEvent, "started");
        EXPECT_EQ(kill(static_cast<pid_t>(mine.front().m_nPid), 0), -1) << "a child is still running";
        const SimReport report = sim->Report();
        EXPECT_EQ(std::count(report.commands.begin(), report.commands.end(), "X"), 0);
    }
    EXPECT_EQ(RecordLines().size(), m_sims.size());
    ExpectPortsGivenBack();
}

}  // namespace
