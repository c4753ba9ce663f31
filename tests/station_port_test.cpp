// The station's reading of a port's events, recorded from runs of the
// program: the unit's outcome, the phase shown, and the record line.
#include "station/station_port.h"

#include <gtest/gtest.h>

#include <sys/resource.h>
#include <sys/stat.h>

#include <csignal>
#include <cstring>
#include <fstream>
#include <sstream>

#include "support/temp_folder.h"
#include "station/station_display.h"
#include "station/station_output.h"
#include "station/station_ports.h"
#include "station/unit_record.h"

namespace {

namespace fs = std::filesystem;

const char kStarted[] =
    R"({"event":"started","t":0.001,"port":"/dev/pts/7","script":"/w/load.cmd","files":)"
    R"([{"path":"/w/data.bin","size":3000,"sha256":"ab12"}],"pid":42})";
const char kWaiting[] = R"({"event":"waiting","t":0.01,"port":"/dev/pts/7"})";
const char kConnected[] = R"({"event":"connected","t":1.2,"port":"/dev/pts/7"})";
const char kProgress[] = R"({"event":"progress","t":1.5,"port":"/dev/pts/7","file":"/w/data.bin","bytes":1500,)"
                         R"("total":3000,"percent":50,"rate":2980.5,"seconds_left":0.5})";
const char kSuccess[] = R"({"event":"end","t":2.1,"port":"/dev/pts/7","result":"success","message":"Download )"
                        R"(completed successfully.","exit_status":0,"seconds":2.1,"bytes":3000})";
const char kFileSent[] = R"({"event":"file_sent","t":2,"port":"/dev/pts/7","file":"/w/data.bin","bytes":3000,)"
                         R"("sha256":"cd34"})";
const char kError[] = R"({"event":"end","t":2.1,"port":"/dev/pts/7","result":"error","message":"Communication )"
                      R"(error.\nTry again.","exit_status":1,"seconds":1.9,"bytes":1000})";

struct Case {
    const char* name;
    std::vector<std::string> lines;
    ChildExit exit;
    const char* result;
    const char* message;  // a part of it
    bool connected;
    std::string phaseAfterLines;
    const char* sha256 = "ab12";  // the data file's in the record: what was sent, else what the start found
};

void PrintTo(const Case& c, std::ostream* os) { *os << c.name; }

ChildExit Exited(int status) { return {status, false, "exited with status " + std::to_string(status)}; }
const ChildExit kSegv{139, true, "killed by signal 11 (Segmentation fault)"};

class StationPortTest : public ::testing::TestWithParam<Case> {};

TEST_P(StationPortTest, OutcomeFollowsTheEventsAndTheExit) {
    const Case& c = GetParam();
    StationPort port("/dev/pts/7");
    port.BeginUnit();
    EventLineSplitter splitter;
    std::string stream;
    for (const std::string& line : c.lines)
        stream += line + "\n";
    std::vector<std::string> lines;
    // In pieces that cut lines, as a pipe delivers them.
    for (std::size_t at = 0; at < stream.size(); at += 7)
        splitter.Feed(stream.data() + at, std::min<std::size_t>(7, stream.size() - at), &lines);
    ASSERT_EQ(lines, c.lines);
    for (const std::string& line : lines)
        if (const auto event = ParseStationEvent(line))
            port.Apply(*event);
    EXPECT_EQ(port.PhaseText(), c.phaseAfterLines);
    const UnitOutcome outcome = port.EndUnit(c.exit, "", 0);
    EXPECT_EQ(outcome.m_strResult, c.result);
    EXPECT_NE(outcome.m_strMessage.find(c.message), std::string::npos) << outcome.m_strMessage;
    EXPECT_EQ(outcome.m_bSuccess, std::string(c.result) == "success");
    EXPECT_EQ(outcome.m_bConnected, c.connected);
    for (const StationEventFile& file : outcome.m_files)
        EXPECT_EQ(file.m_strSha256, c.sha256) << file.m_strPath;
    port.Count(outcome);
    EXPECT_EQ(port.UnitsOk() + port.UnitsFailed(), 1);
}

INSTANTIATE_TEST_SUITE_P(
    Runs, StationPortTest,
    ::testing::Values(
        Case{"Success", {kStarted, kWaiting, kConnected, kProgress, kSuccess}, Exited(0), "success", "completed",
             true, "ending"},
        Case{"FileSent", {kStarted, kWaiting, kConnected, kProgress, kFileSent, kSuccess}, Exited(0), "success",
             "completed", true, "ending", "cd34"},
        Case{"Error", {kStarted, kWaiting, kConnected, kError}, Exited(1), "error", "Communication error.\nTry",
             true, "ending"},
        Case{"CrashMidFile", {kStarted, kWaiting, kConnected, kProgress}, kSegv, "error",
             "killed by signal 11 (Segmentation fault) without reporting its result", true, "loading data.bin"},
        Case{"UsageErrorBeforeAnyEvent", {}, Exited(2), "error", "exited with status 2 without", false, "starting"},
        Case{"SuccessButNonZeroExit", {kStarted, kConnected, kSuccess}, Exited(1), "error",
             "reported success but exited with status 1", true, "ending"},
        Case{"GarbageAndUnknownLinesSkipped",
             {"not json", "[1,2]", R"({"event":7})", R"({"event":"later_kind","x":1})", kWaiting, kSuccess},
             Exited(0), "success", "completed", false, "ending"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(StationPortTest, ProgressShowsRateAndTimeLeft) {
    StationPort port("p");
    port.BeginUnit();
    port.Apply(*ParseStationEvent(kProgress));
    EXPECT_EQ(port.PercentText(), "50 %");
    EXPECT_EQ(port.RateText(), "3.0 kB/s");
    EXPECT_EQ(port.TimeLeftText(), "0:01");
    EXPECT_EQ(FormatDuration(3725), "1:02:05");
}

TEST(UnitRecordTest, LinesQuoteAsRfc4180AndAppendUnderOneHeader) {
    EXPECT_EQ(UnitRecord::Field("plain"), "plain");
    EXPECT_EQ(UnitRecord::Field("a,b"), "\"a,b\"");
    EXPECT_EQ(UnitRecord::Field("say \"hi\""), "\"say \"\"hi\"\"\"");
    EXPECT_EQ(UnitRecord::UtcTime(std::chrono::system_clock::from_time_t(1796679296)), "2026-12-07T21:34:56Z");

    TempFolder temp("unit_record.");
    const std::string path = (temp.Path() / "units.csv").string();
    StationPort port("/dev/pts/7");
    port.BeginUnit();
    for (const char* line : {kStarted, kConnected, kError})
        port.Apply(*ParseStationEvent(line));
    const UnitRecordLine line{std::chrono::system_clock::from_time_t(1796679296), "/dev/pts/7", "A1,B2",
                              port.EndUnit(Exited(1), "", 0)};
    for (int open = 0; open < 2; ++open) {
        UnitRecord record;
        std::string reason;
        ASSERT_TRUE(record.Open(path, &reason)) << reason;
        ASSERT_TRUE(record.Append(line, &reason)) << reason;
    }
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    const std::string unit = "2026-12-07T21:34:56Z,/dev/pts/7,\"A1,B2\",/w/load.cmd,/w/data.bin=ab12,1000,error,"
                             "Communication error. Try again.,1.900\r\n";
    EXPECT_EQ(text.str(), std::string(UnitRecord::kHeader) + unit + unit);
}

// A line the file takes only in part (a file size limit, as a full disk) is
// cut off again: the record keeps whole lines, and once there is room, the
// next line starts on a line of its own.
TEST(UnitRecordTest, LineNotTakenWholeIsCutBack) {
    TempFolder temp("unit_record.");
    const std::string path = (temp.Path() / "units.csv").string();
    UnitRecord record;
    std::string reason;
    ASSERT_TRUE(record.Open(path, &reason)) << reason;
    StationPort port("/dev/pts/7");
    port.BeginUnit();
    const UnitRecordLine line{std::chrono::system_clock::now(), "/dev/pts/7", "", port.EndUnit(Exited(1), "", 0)};
    const auto ignored = std::signal(SIGXFSZ, SIG_IGN);
    rlimit before{};
    getrlimit(RLIMIT_FSIZE, &before);
    rlimit limit = before;
    limit.rlim_cur = std::strlen(UnitRecord::kHeader) + 20;
    setrlimit(RLIMIT_FSIZE, &limit);
    EXPECT_FALSE(record.Append(line, &reason));
    setrlimit(RLIMIT_FSIZE, &before);
    std::signal(SIGXFSZ, ignored);
    EXPECT_EQ(reason, std::strerror(EFBIG));
    EXPECT_EQ(fs::file_size(path), std::strlen(UnitRecord::kHeader));
    ASSERT_TRUE(record.Append(line, &reason)) << reason;
    std::ifstream file(path, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(file), {}), UnitRecord::kHeader + UnitRecord::Format(line));
}

// The files the station writes are tried before it starts: what takes no
// line is refused, with nothing left changed or made.
TEST(StationOutputTest, TriedBeforeTheStationStarts) {
    TempFolder temp("station_output.");
    const std::string fifo = temp.Slash() + "fifo", kept = temp.Slash() + "kept", made = temp.Slash() + "made";
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    std::ofstream(kept) << "a whole line\n";
    const std::pair<std::string, const char*> targets[] = {
        {"/dev/full", "No space left on device"}, {"/proc/version", "Input/output error"},
        {temp.Path().string(), "Is a directory"}, {fifo, "a FIFO that no program reads"}, {kept, ""}, {made, ""}};
    for (const auto& [path, refusal] : targets) {
        StationOutput output;
        std::string reason;
        EXPECT_EQ(output.Open(path, true, &reason), *refusal == '\0') << path;
        EXPECT_EQ(reason, refusal) << path;
        output.Discard();
    }
    EXPECT_EQ(fs::file_size(kept), 13u);
    EXPECT_FALSE(fs::exists(made));
}

// Names of any bytes: shown with their control and stray bytes escaped,
// recorded so that the exact bytes can be read back.
TEST(StationTextTest, NamesShownSafelyAndRecordedExactly) {
    const std::tuple<std::string, std::string, std::string> names[] = {
        {"/dev/ttyUSB0", "/dev/ttyUSB0", "/dev/ttyUSB0"},
        {"/dev/\x1b[2Jx\x7f", "/dev/\\x1b[2Jx\\x7f", "/dev/\\x1b[2Jx\\x7f"},
        {"/w/f\xff\xc3.bin", "/w/f\\xff\\xc3.bin", "/w/f\\xff\\xc3.bin"},
        {"\xc3\xa9\xc2\x9b\xe2\x82\xac", "\xc3\xa9\\xc2\\x9b\xe2\x82\xac", "\xc3\xa9\\xc2\\x9b\xe2\x82\xac"},
        {"C:\\fw,1", "C:\\fw,1", "\"C:\\\\fw,1\""}};
    for (const auto& [name, shown, recorded] : names) {
        EXPECT_EQ(StationDisplay::Escaped(name), shown);
        EXPECT_EQ(UnitRecord::Field(name), recorded);
    }
}

// A slow adapter's warning, which every unit's run gives when it opens the
// port, is told to the operator once per port, not once per unit.
TEST(StationPortWarningTest, SlowAdapterToldOncePerPort) {
    const std::string warning = "/dev/ttyUSB0: the adapter's latency timer is 16 ms";
    const auto opened = ParseStationEvent(R"({"event":"port_opened","t":0.01,"port":"/dev/ttyUSB0",)"
                                          R"("device":"/dev/ttyUSB0","warning":")" + warning + "\"}");
    ASSERT_TRUE(opened);
    StationPort port("/dev/ttyUSB0");
    std::vector<std::string> told;
    for (int unit = 0; unit < 3; ++unit) {
        port.BeginUnit();
        port.Apply(*opened);
        told.push_back(port.TakeWarning());
        port.Count(port.EndUnit(Exited(0), "", 1));
    }
    EXPECT_EQ(told, (std::vector<std::string>{warning, "", ""}));
}

TEST(StationPortsTest, FileListingAndRepeats) {
    TempFolder temp("station_ports.");
    std::ofstream(temp.Path() / "ports") << "# bench 1\n /dev/ttyUSB0 \n\n/dev/ttyUSB1\r\n";
    std::vector<std::string> ports;
    std::string reason;
    ASSERT_TRUE(ReadPortsFile((temp.Path() / "ports").string(), &ports, &reason)) << reason;
    EXPECT_EQ(ports, (std::vector<std::string>{"/dev/ttyUSB0", "/dev/ttyUSB1"}));
    EXPECT_FALSE(ReadPortsFile(temp.Path().string(), &ports, &reason));
    EXPECT_EQ(reason, temp.Path().string() + " is a directory");
    EXPECT_EQ(FindRepeatedPort({"/dev/ttyUSB0", "/dev/../dev/ttyUSB0"}), "/dev/../dev/ttyUSB0");
    EXPECT_EQ(FindRepeatedPort({"COM1", "/dev/ttyS1", "com1"}), "com1");
    EXPECT_EQ(PortsOfListing({{"/dev/serial/by-id/a", "", "/dev/ttyUSB0"}, {"/dev/serial/by-id/b", "", "/dev/ttyUSB9"},
                              {"/dev/ttyUSB0", "", ""}}),
              (std::vector<std::string>{"/dev/serial/by-id/b", "/dev/ttyUSB0"}));
}

}  // namespace
