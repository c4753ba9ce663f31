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
#include <numeric>
#include <set>
#include <sys/stat.h>
#include <sstream>
#include <thread>

#include "res/strings.h"
#include "sim/receiver_sim.h"
#include "support/child_process.h"
#include "support/temp_folder.h"
#include "support/test_data.h"
#include "station/station_display.h"
#include "station/station_output.h"
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

    std::unique_ptr<ChildProcess> StartStation(std::vector<std::string> args, ChildStart start = {}) {
        args.insert(args.begin(), {"--no-gui", "--script", (m_temp.Path() / "load.cmd").string(), "--record",
                                   Record(), "--events", Events()});
        for (const auto& sim : m_sims)
            args.insert(args.end(), {"--port", sim->ToolPath()});
        return std::make_unique<ChildProcess>(args, false, start);
    }

    // Each port's events, in order (none where they went to a device).
    std::map<std::string, std::vector<StationEvent>> EventsByPort() const {
        std::map<std::string, std::vector<StationEvent>> events;
        std::ifstream file(fs::is_regular_file(Events()) ? Events() : "");
        for (std::string line; std::getline(file, line);)
            if (const auto event = ParseStationEvent(line))
                events[event->m_strPort].push_back(*event);
        return events;
    }

    // The record's lines after the header, split into fields.
    std::vector<std::vector<std::string>> RecordLines() const {
        std::vector<std::vector<std::string>> lines;
        if (!fs::is_regular_file(Record()))
            return lines;
        std::ifstream in(Record(), std::ios::binary);
        std::stringstream file(std::string(std::istreambuf_iterator<char>(in), {}));
        EXPECT_TRUE(file.str().ends_with("\r\n")) << "a torn last line";
        std::string line;
        std::getline(file, line);
        EXPECT_EQ(line, "time,port,usb_serial,script,files,bytes,result,message,seconds\r");
        while (std::getline(file, line)) {
            EXPECT_TRUE(line.ends_with('\r')) << line;
            if (line.ends_with('\r'))
                line.pop_back();
            lines.push_back(SplitCsv(line));
            EXPECT_EQ(lines.back().size(), 9u) << line;
            if (lines.back().size() != 9)
                lines.pop_back();
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

    // A frame hook: each receiver holds its upload halfway through the file
    // (after skip such points of earlier units) until Release().
    std::function<void(unsigned)> HoldMidFile(unsigned skip = 0) {
        return [this, skip](unsigned frames) {
            std::unique_lock lock(m_mutex);
            if (frames != kMidFile || ++m_nMidFiles <= skip)
                return;
            ++m_nHeld;
            m_changed.notify_all();
            m_changed.wait_for(lock, kBound, [this] { return m_bReleased; });
        };
    }
    bool AllHeld() {
        std::unique_lock lock(m_mutex);
        return m_changed.wait_for(lock, kBound, [this] { return m_nHeld == m_sims.size(); });
    }

    // Lets go of receivers held by a test's frame hook.
    void Release() {
        std::lock_guard lock(m_mutex);
        m_bReleased = true;
        m_changed.notify_all();
    }

    std::string Record() const { return m_strRecord; }
    std::string Events() const { return m_strEvents; }

    TempFolder m_temp{"station."};
    std::string m_strRecord = (m_temp.Path() / "units.csv").string();
    std::string m_strEvents = (m_temp.Path() / "events.jsonl").string();
    std::string m_strSha256;
    std::vector<std::unique_ptr<ReceiverSim>> m_sims;
    std::vector<int> m_ports;
    std::vector<std::string> m_found;
    std::mutex m_mutex;
    std::condition_variable m_changed;
    bool m_bReleased = false;
    unsigned m_nHeld = 0;
    unsigned m_nMidFiles = 0;
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
    EXPECT_NE(out.find("Summary: 8 ports, 8 units: 5 succeeded, 3 failed"), std::string::npos);

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
    EXPECT_NE(station->Out().find("Summary: 3 ports, 9 units: 9 succeeded, 0 failed"), std::string::npos);
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
    AddReceivers({Role::Clean, Role::Clean, Role::Clean, Role::Clean}, HoldMidFile());
    auto station = StartStation({});
    ASSERT_TRUE(AllHeld());
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

// The station's fault cells: a fault (signals sent to the first port's child
// or to the station, the data file replaced, the output files' targets) and
// the moment it strikes; every cell is held to the same invariants
// (ExpectInvariants).
enum class Target { None, Child, Station, StationSettingUp, DataFile };
// Where the record and the events go: a file size limit (as a full disk)
// that the record, 512 bytes short of it, and the events reach mid-run.
enum class Outputs { Usual, RecordDevFull, EventsDevFull, RecordReadOnly, EventsReadOnly, FileSizeLimit, RecordIsDataFile };
constexpr long kSizeLimit = 4096;
enum class Moment { Start, Waiting, MidFile, SecondUnitMidFile };

struct Cell {
    const char* name;
    std::vector<Role> roles;
    Target target;
    std::vector<int> signals;
    Moment moment;
    std::vector<std::string> args;
    int status;                // the station's exit status
    const char* summary;       // a part of its output
    const char* message = "";  // a part of the first port's last record line
    std::size_t lines = 0;     // record lines
    unsigned units = 0;        // each receiver's units (--repeat)
    ChildStart start = {};
    unsigned fileCommands = 1;
    Outputs outputs = Outputs::Usual;
};
void PrintTo(const Cell& c, std::ostream* os) { *os << c.name; }

class StationFaultTest : public StationTest, public ::testing::WithParamInterface<Cell> {
protected:
    // The first event called name of port's latest run, waited for.
    StationEvent WaitForEvent(const std::string& port, const std::string& name) {
        for (int i = 0; i < 6000; ++i, std::this_thread::sleep_for(20ms)) {
            auto events = EventsByPort();
            const auto& mine = events[port];
            auto at = std::find_if(mine.rbegin(), mine.rend(), [](auto& e) { return e.m_strEvent == "started"; });
            for (auto it = at == mine.rend() ? mine.begin() : at.base() - 1; it != mine.end(); ++it)
                if (it->m_strEvent == name)
                    return *it;
        }
        ADD_FAILURE() << "no " << name << " event of " << port;
        return {};
    }

    void Strike(const Cell& c, ChildProcess& station) {
        pid_t pid = 0;
        int fifo = -1;  // the station reads its ports from it: it sets up until they are written
        for (int i = 0; c.target == Target::StationSettingUp && fifo < 0 && i < 6000; ++i, std::this_thread::sleep_for(10ms))
            fifo = open(Fifo().c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (c.moment == Moment::Waiting) {
            for (const auto& sim : m_sims)
                WaitForEvent(sim->ToolPath(), "waiting");
        } else if (c.moment != Moment::Start) {
            ASSERT_TRUE(AllHeld());
            WaitForEvent(m_sims[0]->ToolPath(), "progress");  // so that bytes have been reported
        }
        if (c.target == Target::Child) {
            ASSERT_GT(pid = static_cast<pid_t>(WaitForEvent(m_sims[0]->ToolPath(), "started").m_nPid), 0);
        }
        for (const int signal : c.signals)
            pid > 0 ? (void)kill(pid, signal) : station.Signal(signal);
        if (c.target == Target::DataFile) {  // another length: refused before any of it goes out
            std::ofstream(m_temp.Path() / "new.bin") << std::string(2000, 'n');
            fs::rename(m_temp.Path() / "new.bin", m_temp.Path() / "data.bin");
        }
        if (fifo >= 0) {
            EXPECT_EQ(write(fifo, "/dev/null\n", 10), 10);
            close(fifo);
        }
        // A killed station's children hear of it from the kernel once it
        // has gone: the receivers stay held until then (the test releases
        // them after the station's end), or a child could finish its unit in
        // between, loaded but never recorded.
        if (c.target != Target::Station || c.signals.back() != SIGKILL)
            Release();
    }

    // The units a receiver got whole: every command, each data file with its SHA-256.
    std::size_t Loaded(const SimReport& r, unsigned files) const {
        auto whole = [&](const std::vector<std::string>& commands, const std::vector<SimFile>& got) {
            return std::count(commands.begin(), commands.end(), "X") == 1 && got.size() == files &&
                   std::all_of(got.begin(), got.end(), [&](const SimFile& f) { return f.sha256 == m_strSha256; });
        };
        return whole(r.commands, r.files) +
               std::count_if(r.units.begin(), r.units.end(), [&](auto& u) { return whole(u.commands, u.files); });
    }

    void ExpectInvariants(const Cell& c, int status, ChildProcess& station) {
        SCOPED_TRACE(station.Out() + station.Err());
        EXPECT_EQ(status, c.status);
        EXPECT_NE((station.Out() + station.Err()).find(c.summary), std::string::npos);
        std::ifstream file(fs::is_regular_file(Events()) ? Events() : "");
        for (std::string line; std::getline(file, line);)
            EXPECT_TRUE(ParseStationEvent(line)) << line;
        EXPECT_TRUE(!file.is_open() || file.eof()) << "a torn last line";
        auto events = EventsByPort();
        auto record = c.status == 2 ? std::vector<std::vector<std::string>>{} : RecordLines();
        std::erase_if(record, [&](auto& line) { return std::none_of(m_sims.begin(), m_sims.end(), [&](auto& sim) { return sim->ToolPath() == line[1]; }); });
        // The units the summary names as having no record line: port, unit, result.
        std::map<std::string, std::size_t> lost, lostOk;
        std::istringstream out(station.Out().substr(std::min(station.Out().find("has no line for"), station.Out().size())));
        std::string row, port, unit, result;
        for (std::getline(out, row), std::getline(out, row); std::getline(out, row) && !row.empty();) {
            std::istringstream(row) >> port >> unit >> result;
            ++lost[port], lostOk[port] += result == "success";
        }
        const bool cut = c.outputs == Outputs::FileSizeLimit;  // every record line, and the events from mid-run, lost
        EXPECT_EQ(record.size(), cut ? 0 : c.lines);
        EXPECT_EQ(std::accumulate(lost.begin(), lost.end(), 0u, [](auto n, auto& p) { return n + p.second; }), cut ? c.lines : 0);
        if (c.status == 2) {  // refused before anything starts
            EXPECT_EQ(fs::exists(m_temp.Path() / "units.csv"), c.outputs == Outputs::RecordReadOnly);
            EXPECT_EQ(fs::exists(m_temp.Path() / "events.jsonl") ? fs::file_size(m_temp.Path() / "events.jsonl") : 9,
                      c.outputs == Outputs::RecordDevFull ? 17 : c.outputs == Outputs::EventsReadOnly ? 0 : 9);
            std::ifstream in(m_temp.Path() / "data.bin", std::ios::binary);
            const std::string data(std::istreambuf_iterator<char>(in), {});
            EXPECT_EQ(Sha256Hex(reinterpret_cast<const std::uint8_t*>(data.data()), data.size()), m_strSha256);
            for (const auto& sim : m_sims)
                EXPECT_EQ(sim->Report().framesReceived, 0u);
        }
        // No process of ours is left (a zombie is gone too); then every port is as it was found.
        auto gone = [](long long pid, std::string stat = {}) {
            return !std::getline(std::ifstream("/proc/" + std::to_string(pid) + "/stat"), stat) ||
                   stat.substr(stat.rfind(')') + 2, 1) == "Z";
        };
        for (const auto& [port, list] : events)
            for (const StationEvent& e : list)
                for (int i = 0; e.m_strEvent == "started" && !gone(e.m_nPid); ++i, std::this_thread::sleep_for(20ms))
                    ASSERT_LT(i, 3000) << "process " << e.m_nPid << " of " << port << " is still running";
        ExpectPortsGivenBack();
        for (const auto& sim : m_sims) {
            const std::string port = sim->ToolPath();
            std::multiset<std::string> ends;  // result, bytes, message
            std::size_t started = 0, successes = 0;
            for (const StationEvent& e : events[port]) {
                started += e.m_strEvent == "started";
                if (e.m_strEvent == "end")
                    ends.insert(e.m_strResult + "," + std::to_string(e.m_nBytes) + "," + StationDisplay::OneLine(e.m_strText));
            }
            EXPECT_TRUE(ends.size() == started || status == 128 + SIGKILL || cut) << port << ": a run without one end";
            successes += lostOk[port];
            for (const auto& line : record) {
                if (line[1] != port)
                    continue;
                successes += line[6] == "success";
                const auto end = ends.find(line[6] + "," + line[5] + "," + line[7]);
                EXPECT_NE(end, ends.end()) << port << ": no end event agrees with " << line[6] << " " << line[7];
                if (end != ends.end())
                    ends.erase(end);
                EXPECT_EQ(std::count(line[4].begin(), line[4].end(), '='), c.fileCommands) << "files of " << port;
                EXPECT_TRUE(line[7].find(c.message) != std::string::npos || port != m_sims[0]->ToolPath()) << line[7];
                EXPECT_TRUE(line[5] != "0" || c.moment < Moment::MidFile) << "the bytes sent before the fault";
            }
            sim->WaitUntil([&](const SimReport& r) { return Loaded(r, c.fileCommands) >= successes; }, 10s);
            EXPECT_EQ(Loaded(sim->Report(), c.fileCommands), successes) << port << ": " << sim->Report().Summary();
        }
    }

    std::string Fifo() const { return (m_temp.Path() / "ports.fifo").string(); }
};

TEST_P(StationFaultTest, EveryUnitAccountedForAndEveryPortGivenBack) {
    const Cell& c = GetParam();
    std::string files;
    for (unsigned i = 0; i < c.fileCommands; ++i)
        files += "Sdata.bin\r\n";
    std::ofstream(m_temp.Path() / "load.cmd", std::ios::binary) << "CE123456\r\nCQ\r\n" + files + "CX\r\n";
    // Mid-file, every receiver holds its next frame until the fault has struck.
    const unsigned skip = c.moment == Moment::SecondUnitMidFile ? c.roles.size() : 0;
    AddReceivers(c.roles, c.moment >= Moment::MidFile ? HoldMidFile(skip) : nullptr, c.units);
    std::vector<std::string> args = c.args;
    const std::string record = Record(), events = Events();
    switch (c.outputs) {
    case Outputs::RecordDevFull: m_strRecord = "/dev/full", std::ofstream(events) << "{\"event\":\"kept\"}\n"; break;  // kept as it is
    case Outputs::EventsDevFull: m_strEvents = "/dev/full"; break;
    case Outputs::RecordIsDataFile: m_strRecord = (m_temp.Path() / "data.bin").string(); break;
    case Outputs::RecordReadOnly: case Outputs::EventsReadOnly: {
        const std::string& path = c.outputs == Outputs::RecordReadOnly ? record : events;
        std::ofstream(path) << (path == record ? "time,port,usb_serial,script,files,bytes,result,message,seconds\r\n" : "");
        fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
        break;
    }
    case Outputs::FileSizeLimit: {  // one earlier unit's line, and room for the station's try of the file
        std::string text = "time,port,usb_serial,script,files,bytes,result,message,seconds\r\nT,/dev/old,,s,f,0,success,,1\r\n";
        text.insert(text.size() - 4, kSizeLimit - StationOutput::kProbeBytes - text.size(), 'x');
        std::ofstream(record, std::ios::binary) << text;
        break;
    }
    case Outputs::Usual: break;
    }
    if (c.target == Target::StationSettingUp) {
        ASSERT_EQ(mkfifo(Fifo().c_str(), 0600), 0);
        args.insert(args.end(), {"--ports-from", Fifo()});
    }
    auto station = StartStation(args, c.start);
    Strike(c, *station);
    const int status = station->Wait(kBound);
    Release();
    ExpectInvariants(c, status, *station);
}

using enum Target;
using enum Moment;
const Role kClean = Role::Clean, kSilent = Role::Silent;
const char kKilled[] = "killed by signal 9", kEnded[] = "no event for 12 s: ended by the station";

INSTANTIATE_TEST_SUITE_P(
    Cells, StationFaultTest,
    ::testing::Values(
        Cell{"ChildKilledMidFile", {kClean, kClean}, Child, {SIGKILL}, MidFile, {}, 1, "1 succeeded, 1 failed", kKilled, 2},
        Cell{"ChildKilledWhileWaiting", {kSilent}, Child, {SIGKILL}, Waiting, {}, 1, "FAILED", kKilled, 1},
        Cell{"ChildStoppedMidFile", {kClean}, Child, {SIGSTOP}, MidFile, {"--timeout", "2"}, 1, "FAILED", kEnded, 1},
        Cell{"ChildStoppedWhileWaiting", {kSilent}, Child, {SIGSTOP}, Waiting, {"--timeout", "2"}, 1, "FAILED", kEnded, 1},
        Cell{"StationKilledMidFile", {kClean, kClean}, Station, {SIGKILL}, MidFile, {}, 128 + SIGKILL, ""},
        Cell{"StationKilledWhileWaiting", {kSilent, kSilent}, Station, {SIGKILL}, Waiting, {}, 128 + SIGKILL, ""},
        Cell{"RepeatOneGoodOneKilled", {kClean}, Child, {SIGKILL}, SecondUnitMidFile, {"--repeat", "--units", "2"}, 1,
             "1 port, 2 units: 1 succeeded, 1 failed", "", 2, 2},
        Cell{"RepeatPortLoadedNoUnit", {kSilent}, Child, {SIGINT}, Waiting, {"--repeat"}, 1, "no unit"},
        Cell{"SigintIgnoredSigtermCancels", {kClean}, Station, {SIGINT, SIGTERM}, MidFile, {}, 143, "Summary: 1 port",
             "", 1, 0, {.m_bSigintIgnored = true}},
        Cell{"SigtermWhileSettingUp", {}, StationSettingUp, {SIGTERM}, Start, {}, 143, "Summary: 1 port"},
        Cell{"OutputsClosed", {kClean, kClean}, None, {}, Start, {}, 0, "", "", 2, 0, {.m_bOutputsClosed = true}},
        Cell{"StartedEventOverOneMiB", {kSilent}, None, {}, Start, {"--timeout", "1"}, 1, "FAILED", "No connection", 1,
             0, {}, 10000},
        Cell{"RecordOnDevFull", {kClean}, None, {}, Start, {}, 2, "record /dev/full: No space left on device", "", 0, 0,
             {}, 1, Outputs::RecordDevFull},
        Cell{"EventsOnDevFull", {kClean}, None, {}, Start, {}, 2, "events to /dev/full: No space left on device", "", 0,
             0, {}, 1, Outputs::EventsDevFull},
        Cell{"RecordReadOnly", {kClean}, None, {}, Start, {}, 2, "units.csv: Permission denied", "", 0, 0,
             {.m_bFileModesBind = true}, 1, Outputs::RecordReadOnly},
        Cell{"EventsReadOnly", {kClean}, None, {}, Start, {}, 2, "events.jsonl: Permission denied", "", 0, 0,
             {.m_bFileModesBind = true}, 1, Outputs::EventsReadOnly},
        Cell{"RecordIsTheDataFile", {kClean}, None, {}, Start, {}, 2, "names a data file", "", 0, 0, {}, 1,
             Outputs::RecordIsDataFile},
        // Lines of the record over 512 bytes (four data files): not one fits.
        Cell{"FullFileSystem", {kClean, kClean}, None, {}, Start, {}, 1, "Events: only the first", "", 2, 0,
             {.m_nFileSizeLimit = kSizeLimit}, 4, Outputs::FileSizeLimit},
        Cell{"DataFileReplacedMidRun", {kClean, kClean}, DataFile, {}, MidFile, {}, 1, "2 units: 0 succeeded, 2 failed",
             "LZSS file changed", 2, 0, {}, 2},
        Cell{"MixedStation", {Role::HangUpMidFile, kSilent, Role::Error, kClean}, None, {}, Start, {"--timeout", "5"},
             1, "4 ports, 4 units: 1 succeeded, 3 failed", "Communication error", 4}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
