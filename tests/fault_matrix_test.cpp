// The fault matrix: the built program in terminal mode against the simulated
// receiver, one cell per fault and the point of the run where it strikes.
// Every cell holds the program to one promise: EITHER it exits 0 with the
// success text and the receiver holds every command in order and every byte
// of every data file exactly once, as the file was when the run started; OR
// it exits non-zero with the fault's own message, after sending nothing past
// the fault (never the closing 'X'), with the port's settings given back and
// within a bound, leaving no descriptor or thread behind.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <fstream>
#include <map>
#include <thread>
#include <regex>

#include "res/strings.h"
#include "sim/receiver_sim.h"
#include "support/child_process.h"
#include "support/temp_folder.h"
#include "support/test_data.h"
#include "term/terminal_front_end.h"

namespace fs = std::filesystem;
using namespace std::chrono_literals;

namespace {

// What goes wrong, and where in the run (for the faults that strike at a
// point of it). LineCut: the line goes as the program answers, so that its
// write fails.
enum class Fault { None, HangUp, LineCut, Silent, Error, SigInt, SigTerm, SigHup, Shrink, Grow };
enum class At { Connect, Commands, MidFile, LastChunk, Closing };
// What a path of the run names.
enum class Kind { File, Missing, Fifo, Directory, DevZero, Port };

constexpr std::size_t kDataSize = 3000;
constexpr std::size_t kBigDataSize = 20000;  // more than stdio reads ahead
constexpr int kSilenceLimit = 5;             // --timeout of the silent cells
constexpr auto kBound = 60s;                 // a run that lasts longer hangs
const char kScript[] = "CE123456\r\nCQ\r\nSdata.bin\r\nCX\r\n";
const char kWaiting[] = "Waiting for Connection...";

// Noise on the line (see SimOptions).
struct Noise {
    unsigned strayEvery = 0;
    bool nulBytes = false;
    unsigned badChecksumEvery = 0;
};

struct Cell {
    const char* name;
    Fault fault = Fault::None;
    At at = At::Connect;
    Noise line{};
    std::string script = kScript;
    Kind scriptKind = Kind::File;
    std::size_t dataSize = kDataSize;
    Kind dataKind = Kind::File;
    // After "--no-gui --script=FILE"; "{port}", "{script}", "{data}" are
    // replaced.
    std::vector<std::string> args = {"--port={port}"};
    // 0: success, with these commands and the data file this many times.
    // Otherwise the exit status and a pattern of the message.
    int exit = 0;
    std::string message = "";
    std::vector<std::string> commands = {"E123456", "Q", "X"};
    unsigned files = 1;
    bool refusedBeforePort = false;  // nothing of the script may reach the line
};

// Names the cell in failure reports, not its bytes.
void PrintTo(const Cell& cell, std::ostream* os) {
    *os << cell.name;
}

std::string Literal(const std::string& text) {
    return std::regex_replace(text, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
}

const std::string kComm = Literal(LoadResString(IDS_COMMUNICATION_ERROR));
const std::string kNotFound = Literal(LoadResString(IDS_LZSS_FILE_NOT_FOUND));
const std::string kUnknown = Literal(LoadResString(IDS_UNKNOWN_COMMAND));
const std::string kConnectCancelled = Literal(kTextConnectionCancelled);
const std::string kCancelled = Literal(TerminalFrontEnd::DownloadCancelledText());
const std::string kSilence = Literal(TerminalFrontEnd::SilenceText(kSilenceLimit));
const std::string kDataNotRegular = Literal(LoadResString(IDS_LZSS_NOT_REGULAR));
const std::string kScriptNotRegular = Literal(LoadResString(IDS_SCRIPT_NOT_REGULAR));
const std::string kShort = Literal(LoadResString(IDS_LZSS_TOO_SHORT));
const std::string kShrunk = Literal(LoadResString(IDS_LZSS_ENDED_EARLY));
const std::string kIsFolder = Literal(LoadResString(IDS_LZSS_IS_FOLDER));
const std::string kUtf16 = Literal(LoadResString(IDS_SCRIPT_UTF16));
const std::string kNoCommand = Literal(LoadResString(IDS_SCRIPT_NO_COMMAND));
const std::string kNameTooLong = Literal(LoadResString(IDS_LZSS_NAME_TOO_LONG));
const std::string kTrace = "--trace .* names ";

int SignalOf(Fault fault) {
    return fault == Fault::SigInt ? SIGINT : fault == Fault::SigTerm ? SIGTERM : fault == Fault::SigHup ? SIGHUP : 0;
}

std::size_t Chunks(std::size_t size) {
    return size > 6 ? (size - 6 + 63) / 64 : 0;
}

// The tool's upload frames (E, Q, header, chunks) taken when the fault
// strikes: after 'E'; halfway through the file; all but the last chunk; all
// but 'X'.
unsigned FaultPoint(const Cell& c) {
    switch (c.at) {
    case At::Connect:
        return 0;
    case At::Commands:
        return 1;
    case At::MidFile:
        return static_cast<unsigned>(3 + Chunks(c.dataSize) / 2);
    case At::LastChunk:
        return static_cast<unsigned>(2 + Chunks(c.dataSize));
    case At::Closing:
        return static_cast<unsigned>(3 + Chunks(c.dataSize));
    }
    return 0;
}

std::size_t CountEntries(const char* folder) {
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
}

// The test process's threads once those that have been joined are gone
// from /proc (which may lag the join a little); gives up after a bound.
std::size_t SettledThreads(std::size_t expected) {
    for (int i = 0; i < 500 && CountEntries("/proc/self/task") != expected; ++i)
        std::this_thread::sleep_for(10ms);
    return CountEntries("/proc/self/task");
}

// A line state no tool sets on its own: it must be found again afterwards.
void SetFoundState(int fd) {
    termios tio{};
    tcgetattr(fd, &tio);
    tio.c_iflag = IGNBRK | IGNPAR;
    tio.c_oflag = OPOST;
    tio.c_lflag = NOFLSH | IEXTEN;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 3;
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    tcsetattr(fd, TCSANOW, &tio);
}

// The fields a pseudo-terminal keeps, as text for a readable failure.
std::string KeptFields(int fd) {
    termios tio{};
    tcgetattr(fd, &tio);
    return "speed " + std::to_string(cfgetospeed(&tio)) + "/" + std::to_string(cfgetispeed(&tio)) + " iflag " +
           std::to_string(tio.c_iflag) + " oflag " + std::to_string(tio.c_oflag) + " lflag " +
           std::to_string(tio.c_lflag) + " VMIN " + std::to_string(tio.c_cc[VMIN]) + " VTIME " +
           std::to_string(tio.c_cc[VTIME]);
}

std::string Sha256(const std::vector<std::uint8_t>& data) { return Sha256Hex(data.data(), data.size()); }

void MakePath(const fs::path& path, Kind kind, const std::string& content, const std::string& port) {
    switch (kind) {
    case Kind::File:
        std::ofstream(path, std::ios::binary) << content;
        break;
    case Kind::Fifo:
        ASSERT_EQ(mkfifo(path.c_str(), 0600), 0);
        break;
    case Kind::Directory:
        fs::create_directory(path);
        break;
    case Kind::Port:
        fs::create_symlink(port, path);
        break;
    case Kind::Missing:
    case Kind::DevZero:
        break;
    }
}

std::string Substitute(std::string text, const std::map<std::string, std::string>& values) {
    for (const auto& [key, value] : values)
        for (std::size_t at; (at = text.find(key)) != std::string::npos;)
            text.replace(at, key.size(), value);
    return text;
}

class FaultMatrixTest : public ::testing::TestWithParam<Cell> {
protected:
    TempFolder m_temp{"fault_matrix."};
};

TEST_P(FaultMatrixTest, SucceedsWholeOrFailsCleanly) {
    const Cell& c = GetParam();
    ASSERT_TRUE(fs::exists(ProgramPath())) << ProgramPath();
    // A sanitizer's runtime starts a thread of its own with the first thread
    // the test makes; start one first so that the count below includes it.
    // A joined thread can still be listed for a moment: count once the
    // number has held still.
    std::thread([] {}).join();
    const std::size_t fdsBefore = CountEntries("/proc/self/fd");
    std::size_t threadsBefore = CountEntries("/proc/self/task");
    for (int i = 0; i < 100; ++i) {
        std::this_thread::sleep_for(10ms);
        const std::size_t now = CountEntries("/proc/self/task");
        if (now == threadsBefore)
            break;
        threadsBefore = now;
    }
    {
        const unsigned point = FaultPoint(c);
        std::atomic<ChildProcess*> running{nullptr};
        std::atomic<unsigned> taken{0};
        const fs::path data = m_temp.Path() / "data.bin";
        const std::vector<std::uint8_t> original = TestFileBytes(c.dataSize);

        SimOptions options;
        options.strayEvery = c.line.strayEvery;
        options.nulBytes = c.line.nulBytes;
        options.badChecksumEvery = c.line.badChecksumEvery;
        const std::map<Fault, SimFault> byReceiver = {{Fault::HangUp, SimFault::HangUp},
                                                      {Fault::LineCut, SimFault::HangUpAfterNextFrame},
                                                      {Fault::Silent, SimFault::Silent},
                                                      {Fault::Error, SimFault::Error}};
        if (byReceiver.contains(c.fault)) {
            options.fault = byReceiver.at(c.fault);
            options.faultAfterUploadFrames = point;
            // Time for the tool to queue its next frame (X before the last
            // one) before the line drops.
            options.hangupQuietMs = 300;
            if (c.at == At::Connect && c.fault != Fault::Silent) {
                // Before the handshake: during the boot frames.
                options.fault = SimFault::None;
                (c.fault == Fault::HangUp ? options.hangupAfter : options.errorAfter) = 2;
            }
        }
        options.onUploadFrame = [&](unsigned frames) {
            taken = frames;
            if (frames != point || c.at == At::Connect)
                return;
            if (SignalOf(c.fault) != 0) {
                // The receiver holds its next frame until the program has
                // ended: the cancel takes effect exactly here.
                running.load()->Signal(SignalOf(c.fault));
                running.load()->WaitForOutputClosed(kBound);
            } else if (c.fault == Fault::Shrink) {
                fs::resize_file(data, c.dataSize / 4);
            } else if (c.fault == Fault::Grow) {
                std::ofstream(data, std::ios::binary | std::ios::app) << TestFileString(5000, 2);
            }
        };
        std::string reason;
        std::unique_ptr<ReceiverSim> sim = ReceiverSim::CreatePty(options, &reason);
        ASSERT_TRUE(sim) << reason;
        sim->PowerOff();  // on once the program waits for it
        sim->Start();

        const fs::path scriptPath = c.scriptKind == Kind::DevZero ? fs::path("/dev/zero") : m_temp.Path() / "load.cmd";
        MakePath(scriptPath, c.scriptKind, c.script, sim->ToolPath());
        MakePath(data, c.dataKind, std::string(original.begin(), original.end()), sim->ToolPath());

        const int port = open(sim->ToolPath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
        ASSERT_GE(port, 0);
        SetFoundState(port);
        const std::string found = KeptFields(port);

        std::vector<std::string> args = {"--no-gui", "--script=" + scriptPath.string()};
        for (const std::string& arg : c.args)
            args.push_back(Substitute(arg, {{"{port}", sim->ToolPath()},
                                            {"{script}", scriptPath.string()},
                                            {"{data}", data.string()}}));
        if (c.fault == Fault::Silent)
            args.push_back("--timeout=" + std::to_string(kSilenceLimit));
        const auto giveUpAt = std::chrono::steady_clock::now() + kBound;
        ChildProcess child(args);
        running = &child;
        if (child.WaitForOutput(kWaiting, kBound)) {
            if (c.at == At::Connect && SignalOf(c.fault) != 0)
                child.Signal(SignalOf(c.fault));
            else
                sim->PowerOn();
        }
        const int status = child.Wait(
            std::max(1s, std::chrono::ceil<std::chrono::seconds>(giveUpAt - std::chrono::steady_clock::now())));
        // The program may end before the receiver has read its last frame.
        if (status == 0)
            sim->WaitUntil([&c](const SimReport& r) { return r.commands.size() >= c.commands.size(); }, kBound);
        sim->Stop();
        const std::string said = child.Out() + child.Err();
        const SimReport report = sim->Report();
        const std::string left = KeptFields(port);
        close(port);
        SCOPED_TRACE("exit " + std::to_string(status) + "\n" + said + "\nreceiver: " + report.Summary());

        ASSERT_NE(status, -1) << "still running after " << kBound.count() << " s";
        EXPECT_TRUE(report.errors.empty());
        if (c.exit == 0) {
            EXPECT_EQ(status, 0);
            EXPECT_NE(said.find(LoadResString(IDS_DOWNLOAD_COMPLETED)), std::string::npos);
            EXPECT_EQ(report.commands, c.commands);
            EXPECT_EQ(report.files.size(), c.files);
            for (const SimFile& file : report.files) {
                EXPECT_TRUE(file.complete) << file.problem;
                EXPECT_EQ(file.sha256, Sha256(original));
            }
        } else {
            EXPECT_EQ(status, c.exit);
            EXPECT_TRUE(std::regex_search(said, std::regex(c.message, std::regex::icase))) << "wanted: " << c.message;
            EXPECT_EQ(said.find(LoadResString(IDS_DOWNLOAD_COMPLETED)), std::string::npos);
            EXPECT_EQ(std::count(report.commands.begin(), report.commands.end(), "X"), 0);
            // Only a cut line takes an X that the receiver never gets.
            if (c.fault != Fault::LineCut)
                EXPECT_EQ(said.find("Command: X"), std::string::npos) << "a command listed that never went out";
            if (c.fault != Fault::None && c.fault != Fault::Shrink) {
                // One more when an answer came so late that the receiver
                // had asked again before the fault: both asks are answered.
                EXPECT_GE(taken.load(), point) << "upload frames taken; the fault came after " << point;
                EXPECT_LE(taken.load(), point + 1) << "upload frames taken; the fault came after " << point;
            }
            if (c.refusedBeforePort) {
                EXPECT_EQ(report.framesReceived, 0u) << "the program answered the receiver";
            }
        }
        if (!report.hungUp) {
            EXPECT_EQ(left, found) << "the port's settings were not given back";
        }
    }
    EXPECT_EQ(CountEntries("/proc/self/fd"), fdsBefore) << "descriptors left open";
    EXPECT_EQ(SettledThreads(threadsBefore), threadsBefore) << "threads left running";
}

INSTANTIATE_TEST_SUITE_P(
    Cells, FaultMatrixTest,
    ::testing::Values(
        // A noisy line: the program rides it out.
        Cell{.name = "CleanLine"},
        Cell{.name = "StrayBytesEvery3rdFrame", .line = {.strayEvery = 3}},
        Cell{.name = "NulBytes", .line = {.nulBytes = true}},
        Cell{.name = "BadChecksumEvery4thFrame", .line = {.badChecksumEvery = 4}},
        Cell{.name = "BadChecksumEvery2ndFrame", .line = {.badChecksumEvery = 2}},
        Cell{.name = "NoiseNulsAndBadChecksums", .line = {.strayEvery = 5, .nulBytes = true, .badChecksumEvery = 7}},

        // The receiver hangs up, falls silent or sends "ERROR" at each point.
        Cell{.name = "HangUpBeforeHandshake", .fault = Fault::HangUp, .at = At::Connect, .exit = 1, .message = kComm},
        Cell{.name = "HangUpDuringCommands", .fault = Fault::HangUp, .at = At::Commands, .exit = 1, .message = kComm},
        Cell{.name = "HangUpMidFile", .fault = Fault::HangUp, .at = At::MidFile, .exit = 1, .message = kComm},
        Cell{.name = "HangUpAtLastChunk", .fault = Fault::HangUp, .at = At::LastChunk, .exit = 1, .message = kComm},
        Cell{.name = "HangUpBeforeX", .fault = Fault::HangUp, .at = At::Closing, .exit = 1, .message = kComm},
        Cell{.name = "LineCutAsTheLastChunkGoesOut", .fault = Fault::LineCut, .at = At::LastChunk, .exit = 1,
             .message = kComm},
        Cell{.name = "LineCutAsXGoesOut", .fault = Fault::LineCut, .at = At::Closing, .exit = 1, .message = kComm},
        Cell{.name = "SilentBeforeHandshake", .fault = Fault::Silent, .at = At::Connect, .exit = 1,
             .message = Literal(TerminalFrontEnd::TimeoutText(kSilenceLimit))},
        Cell{.name = "SilentDuringCommands", .fault = Fault::Silent, .at = At::Commands, .exit = 1,
             .message = kSilence},
        Cell{.name = "SilentMidFile", .fault = Fault::Silent, .at = At::MidFile, .exit = 1, .message = kSilence},
        Cell{.name = "SilentAtLastChunk", .fault = Fault::Silent, .at = At::LastChunk, .exit = 1,
             .message = kSilence},
        Cell{.name = "ErrorBeforeHandshake", .fault = Fault::Error, .at = At::Connect, .exit = 1, .message = kComm},
        Cell{.name = "ErrorDuringCommands", .fault = Fault::Error, .at = At::Commands, .exit = 1, .message = kComm},
        Cell{.name = "ErrorMidFile", .fault = Fault::Error, .at = At::MidFile, .exit = 1, .message = kComm},
        Cell{.name = "ErrorAtLastChunk", .fault = Fault::Error, .at = At::LastChunk, .exit = 1, .message = kComm},

        // The operator (or the system) stops the program at each point.
        Cell{.name = "SigIntBeforeHandshake", .fault = Fault::SigInt, .at = At::Connect, .exit = 130,
             .message = kConnectCancelled},
        Cell{.name = "SigIntDuringCommands", .fault = Fault::SigInt, .at = At::Commands, .exit = 130,
             .message = kCancelled},
        Cell{.name = "SigIntMidFile", .fault = Fault::SigInt, .at = At::MidFile, .exit = 130, .message = kCancelled},
        Cell{.name = "SigIntAtLastChunk", .fault = Fault::SigInt, .at = At::LastChunk, .exit = 130,
             .message = kCancelled},
        Cell{.name = "SigTermBeforeHandshake", .fault = Fault::SigTerm, .at = At::Connect, .exit = 143,
             .message = kConnectCancelled},
        Cell{.name = "SigTermDuringCommands", .fault = Fault::SigTerm, .at = At::Commands, .exit = 143,
             .message = kCancelled},
        Cell{.name = "SigTermMidFile", .fault = Fault::SigTerm, .at = At::MidFile, .exit = 143, .message = kCancelled},
        Cell{.name = "SigTermAtLastChunk", .fault = Fault::SigTerm, .at = At::LastChunk, .exit = 143,
             .message = kCancelled},
        Cell{.name = "SigHupMidFile", .fault = Fault::SigHup, .at = At::MidFile, .exit = 129, .message = kCancelled},

        // Data files.
        Cell{.name = "MissingDataFile", .dataKind = Kind::Missing, .exit = 1, .message = kNotFound,
             .refusedBeforePort = true},
        Cell{.name = "DataFileIsADirectory", .dataKind = Kind::Directory, .exit = 1, .message = kIsFolder,
             .refusedBeforePort = true},
        Cell{.name = "DataFileIsAFifo", .dataKind = Kind::Fifo, .exit = 1, .message = kDataNotRegular,
             .refusedBeforePort = true},
        Cell{.name = "DataFileIsThePort", .dataKind = Kind::Port, .exit = 1, .message = kDataNotRegular,
             .refusedBeforePort = true},
        Cell{.name = "EmptyDataFile", .dataSize = 0, .exit = 1, .message = kShort, .refusedBeforePort = true},
        Cell{.name = "FiveByteDataFile", .dataSize = 5, .exit = 1, .message = kShort, .refusedBeforePort = true},
        Cell{.name = "HeaderOnlyDataFile", .dataSize = 6},
        Cell{.name = "DataFileOfOneFullChunk", .dataSize = 6 + 64},
        Cell{.name = "DataFileEndingInAFullChunk", .dataSize = 6 + 64 * 40},
        Cell{.name = "DataFileShrinksMidFile", .fault = Fault::Shrink, .at = At::MidFile, .dataSize = kBigDataSize,
             .exit = 1, .message = kShrunk},
        Cell{.name = "DataFileGrowsMidFile", .fault = Fault::Grow, .at = At::MidFile, .dataSize = kBigDataSize},
        Cell{.name = "DataFileNameTooLong", .script = "CE123456\r\nS" + std::string(5000, 'a') + "\r\nCX\r\n",
             .exit = 1, .message = kNameTooLong, .refusedBeforePort = true},

        // Scripts: line ends of every system, and hostile ones.
        Cell{.name = "LfOnlyScript", .script = "CE123456\nCQ\nSdata.bin\nCX\n"},
        Cell{.name = "CrOnlyScript", .script = "CE123456\rCQ\rSdata.bin\rCX\r"},
        Cell{.name = "MixedLineEndsNoFinalEnd", .script = "CE123456\r\nCQ\nSdata.bin\rCX"},
        Cell{.name = "LowerCaseTwoFiles", .script = "ce123456\r\ncq\r\nfdata.bin\r\nsDATA.BIN\r\ncx\r\n", .files = 2},
        Cell{.name = "LongEArgument", .script = "CE" + std::string(300, '7') + "\r\nCQ\r\nSdata.bin\r\nCX\r\n",
             .commands = {"E777777", "Q", "X"}},
        Cell{.name = "UnknownCommand", .script = "CE123456\r\nCZ\r\nSdata.bin\r\nCX\r\n", .exit = 1,
             .message = kUnknown, .refusedBeforePort = true},
        Cell{.name = "UnknownCommandAfterTheFile", .script = "CE123456\r\nSdata.bin\r\nCZ\r\nCX\r\n", .exit = 1,
             .message = kUnknown, .refusedBeforePort = true},
        Cell{.name = "Utf16Script", .script = std::string("C\0E\0" "1\0\r\0\n\0", 10), .exit = 1, .message = kUtf16,
             .refusedBeforePort = true},
        Cell{.name = "EmptyScript", .script = "", .exit = 1, .message = kNoCommand, .refusedBeforePort = true},
        Cell{.name = "ScriptWithoutCommands", .script = "hello world\r\n", .exit = 1, .message = kNoCommand,
             .refusedBeforePort = true},
        Cell{.name = "MissingScript", .scriptKind = Kind::Missing, .exit = 1,
             .message = Literal(kTextFileDoesNotExist), .refusedBeforePort = true},
        Cell{.name = "ScriptIsADirectory", .scriptKind = Kind::Directory, .exit = 1,
             .message = kScriptNotRegular, .refusedBeforePort = true},
        Cell{.name = "ScriptIsAFifo", .scriptKind = Kind::Fifo, .exit = 1, .message = kScriptNotRegular,
             .refusedBeforePort = true},
        Cell{.name = "ScriptIsDevZero", .scriptKind = Kind::DevZero, .exit = 1, .message = kScriptNotRegular,
             .refusedBeforePort = true},

        // Command lines that would corrupt the line, the script or a file.
        Cell{.name = "EmptyPortName", .args = {"--port", ""}, .exit = 2, .message = "--port.*empty",
             .refusedBeforePort = true},
        Cell{.name = "TraceIsThePort", .args = {"--port={port}", "--trace={port}"}, .exit = 2, .message = kTrace,
             .refusedBeforePort = true},
        Cell{.name = "TraceIsTheScript", .args = {"--port={port}", "--trace={script}"}, .exit = 2, .message = kTrace,
             .refusedBeforePort = true},
        Cell{.name = "TraceIsTheDataFile", .args = {"--port={port}", "--trace={data}"}, .exit = 2, .message = kTrace,
             .refusedBeforePort = true}),
    [](const auto& info) { return std::string(info.param.name); });

}  // namespace
