#include "sim/receiver_sim.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <optional>

#include "sim/sim_frames.h"
#include "sim/upload_recorder.h"
#include "sim/usb_adapter.h"

namespace {

using namespace std::chrono_literals;
constexpr std::chrono::milliseconds kHangGuard{20000};

// ---------------------------------------------------------------------------
// Frames

TEST(SimFramesTest, ReceiverFrameIsLaidOutAsOnTheWire) {
    // FE 01 05 12 34 "OK:" 1E
    EXPECT_EQ(BuildReceiverFrame(0x12, 0x34, "OK:"),
              (std::vector<std::uint8_t>{0xFE, 0x01, 0x05, 0x12, 0x34, 'O', 'K', ':', 0x1E}));
    EXPECT_EQ(ReceiverFrameChecksum(0x12, 0x34, "OK:"), 0x1E);
    const std::vector<std::uint8_t> bad = BuildReceiverFrame(0x12, 0x34, "OK:", true);
    EXPECT_NE(bad.back(), 0x1E);
    EXPECT_NE(bad.back(), 0x00);
}

TEST(SimFramesTest, TagsChangeEveryFrameAndNeverProduceANulByte) {
    const std::string_view texts[] = {"OK:", "MON:", "BOOT1", "ERROR", "", "A"};
    TagSequence tags(0x0000);
    std::uint8_t last0 = 0, last1 = 0;
    for (int i = 0; i < 200000; ++i) {
        const std::string_view text = texts[i % std::size(texts)];
        std::uint8_t tag0 = 0, tag1 = 0;
        tags.Next(text, &tag0, &tag1);
        ASSERT_NE(tag0, 0);
        ASSERT_NE(tag1, 0);
        ASSERT_NE(ReceiverFrameChecksum(tag0, tag1, text), 0);
        ASSERT_FALSE(tag0 == last0 && tag1 == last1);
        last0 = tag0;
        last1 = tag1;
    }
}

std::vector<std::uint8_t> ToolBytes(std::uint8_t a0, std::uint8_t a1, std::uint8_t t0, std::uint8_t t1,
                                    std::string_view text, int checksumDelta = 0) {
    std::vector<std::uint8_t> bytes;
    bytes.reserve(text.size() + 8);
    for (std::uint8_t b : {std::uint8_t{0xFF}, std::uint8_t{0xFF}, a0, a1,
                           static_cast<std::uint8_t>(text.size() + 2), t0, t1})
        bytes.push_back(b);
    for (char c : text)
        bytes.push_back(static_cast<std::uint8_t>(c));
    bytes.push_back(static_cast<std::uint8_t>(frame::Checksum(bytes.data() + 2, bytes.data() + bytes.size()) +
                                              checksumDelta));
    return bytes;
}

TEST(SimFramesTest, ParserSplitsTheToolsStreamAndReportsFaults) {
    ToolFrameParser parser;
    // The acknowledgement frame FF FF 01 FE 03 12 34 3B 83, fed in two parts.
    const std::vector<std::uint8_t> ack = {0xFF, 0xFF, 0x01, 0xFE, 0x03, 0x12, 0x34, 0x3B, 0x83};
    parser.Feed(ack.data(), 4);
    EXPECT_FALSE(parser.Next());
    parser.Feed(ack.data() + 4, ack.size() - 4);
    std::optional<ToolFrame> frame = parser.Next();
    ASSERT_TRUE(frame);
    EXPECT_EQ(frame->Text(), ";");
    EXPECT_EQ(frame->tag0(), 0x12);
    EXPECT_EQ(frame->tag1(), 0x34);
    EXPECT_TRUE(parser.TakeProblems().empty());

    // Stray bytes, a wrong address (still returned), a bad checksum (dropped).
    std::vector<std::uint8_t> stream = {0x41, 0x42};
    for (auto part : {ToolBytes(0xFE, 0x01, 1, 2, "X"), ToolBytes(0x01, 0xFE, 3, 4, "Q", 1),
                      ToolBytes(0x01, 0xFE, 5, 6, "E123456")})
        stream.insert(stream.end(), part.begin(), part.end());
    parser.Feed(stream.data(), stream.size());
    std::vector<std::string> texts;
    while (std::optional<ToolFrame> f = parser.Next())
        texts.push_back(f->Text());
    EXPECT_EQ(texts, (std::vector<std::string>{"X", "E123456"}));
    const std::vector<std::string> problems = parser.TakeProblems();
    ASSERT_EQ(problems.size(), 3u);
    EXPECT_NE(problems[0].find("stray"), std::string::npos);
    EXPECT_NE(problems[1].find("address"), std::string::npos);
    EXPECT_NE(problems[2].find("checksum"), std::string::npos);
}

// ---------------------------------------------------------------------------
// Rebuilding the upload

ToolFrame Frame(const std::vector<std::uint8_t>& text) {
    ToolFrame frame;
    frame.addr0 = 0x01;
    frame.addr1 = 0xFE;
    frame.payload.reserve(text.size() + 2);
    frame.payload.push_back(0x11);
    frame.payload.push_back(0x22);
    for (std::uint8_t b : text)
        frame.payload.push_back(b);
    return frame;
}

std::vector<std::uint8_t> Bytes(std::string_view text) {
    return {text.begin(), text.end()};
}

std::vector<std::uint8_t> Chunk(std::size_t size, std::uint8_t fill) {
    std::vector<std::uint8_t> chunk(size + 1, fill);
    chunk[0] = '*';
    return chunk;
}

struct RecorderCase {
    const char* name;
    std::vector<std::vector<std::uint8_t>> frames;
    std::vector<std::string> commands;
    std::vector<std::size_t> fileSizes;
    std::vector<bool> complete;
    std::size_t errors;
};

class UploadRecorderTest : public ::testing::TestWithParam<RecorderCase> {};

TEST_P(UploadRecorderTest, RebuildsCommandsAndFiles) {
    UploadRecorder recorder;
    std::size_t errors = 0;
    for (const auto& text : GetParam().frames)
        errors += recorder.Record(Frame(text)).empty() ? 0 : 1;
    SimReport report;
    recorder.Snapshot(&report);
    EXPECT_EQ(report.commands, GetParam().commands);
    ASSERT_EQ(report.files.size(), GetParam().fileSizes.size());
    for (std::size_t i = 0; i < report.files.size(); ++i) {
        EXPECT_EQ(report.files[i].size, GetParam().fileSizes[i]) << "file " << i;
        EXPECT_EQ(report.files[i].complete, GetParam().complete[i]) << "file " << i;
    }
    EXPECT_EQ(errors, GetParam().errors);
}

const std::vector<std::uint8_t> kHeader = Bytes("HEADER");
const std::vector<std::uint8_t> kStarHeader = Bytes("*EADER");  // a header may begin with '*'

INSTANTIATE_TEST_SUITE_P(
    Sequences, UploadRecorderTest,
    ::testing::Values(
        RecorderCase{"commands", {Bytes(";"), Bytes(std::string_view("E12\0\0\0\0", 7)), Bytes("Q"), Bytes("X")},
                     {"E12\\x00\\x00\\x00\\x00", "Q", "X"}, {}, {}, 0},
        RecorderCase{"file_short_end", {kHeader, Chunk(64, 1), Chunk(10, 2), Bytes("X")}, {"X"}, {80}, {true}, 0},
        RecorderCase{"file_five_byte_end", {kHeader, Chunk(5, 1)}, {}, {11}, {true}, 0},
        RecorderCase{"file_ended_by_command", {kHeader, Chunk(64, 1), Bytes("X")}, {"X"}, {70}, {true}, 0},
        RecorderCase{"header_only_then_header", {kStarHeader, kHeader, Chunk(3, 1)}, {}, {6, 9}, {true, true}, 0},
        RecorderCase{"file_still_open", {kHeader, Chunk(64, 1)}, {}, {70}, {false}, 0},
        RecorderCase{"chunk_before_header", {Chunk(64, 1), Bytes("Q")}, {"Q"}, {}, {}, 1},
        RecorderCase{"chunk_after_short_chunk", {kHeader, Chunk(4, 1), Chunk(64, 1)}, {}, {10}, {true}, 1},
        RecorderCase{"unknown_frame", {Bytes("Z"), Bytes("FAST"), Bytes("E1")}, {}, {}, {}, 3}),
    [](const ::testing::TestParamInfo<RecorderCase>& info) { return info.param.name; });

TEST(SimReportTest, SummaryGivesSizesAndSha256) {
    // Hashed in pieces, with a digest taken half way.
    Sha256Stream stream;
    stream.Update(reinterpret_cast<const std::uint8_t*>("a"), 1);
    EXPECT_EQ(stream.Hex(), Sha256Hex(reinterpret_cast<const std::uint8_t*>("a"), 1));
    stream.Update(reinterpret_cast<const std::uint8_t*>("bc"), 2);
    EXPECT_EQ(stream.Hex(), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");

    SimReport report;
    report.commands = {"E123456", "X"};
    SimFile file;
    file.size = 3;
    file.sha256 = stream.Hex();
    file.complete = true;
    file.chunks = 2;
    file.seconds = 0.5;
    report.files.push_back(file);
    report.errors.push_back("something odd");
    const std::string summary = report.Summary();
    EXPECT_NE(summary.find("E123456 X"), std::string::npos) << summary;
    EXPECT_NE(summary.find("3 bytes, SHA-256 ba7816bf"), std::string::npos) << summary;
    EXPECT_NE(summary.find("2 chunks in 0.500 s (4.0 chunks/s)"), std::string::npos) << summary;
    EXPECT_NE(summary.find("something odd"), std::string::npos) << summary;
}

TEST(UploadRecorderBytesTest, HashesAlwaysAndKeepsTheBytesOnlyWhenAsked) {
    const std::vector<std::vector<std::uint8_t>> frames = {kHeader, Chunk(64, 7), Chunk(64, 8)};
    std::vector<std::uint8_t> bytes = kHeader;
    bytes.insert(bytes.end(), 128, 7);
    std::fill(bytes.end() - 64, bytes.end(), 8);
    for (const bool keep : {false, true}) {
        UploadRecorder recorder(keep);
        for (const auto& text : frames)
            ASSERT_EQ(recorder.Record(Frame(text)), "");
        SimReport open;
        recorder.Snapshot(&open);  // still open: the digest of what came so far
        recorder.Record(Frame(Bytes("X")));
        SimReport closed;
        recorder.Snapshot(&closed);
        for (const SimReport* report : {&open, &closed}) {
            ASSERT_EQ(report->files.size(), 1u);
            EXPECT_EQ(report->files[0].size, bytes.size());
            EXPECT_EQ(report->files[0].chunks, 2u);
            EXPECT_EQ(report->files[0].sha256, Sha256Hex(bytes.data(), bytes.size()));
            EXPECT_EQ(report->files[0].data, keep ? bytes : std::vector<std::uint8_t>{}) << keep;
        }
        EXPECT_TRUE(closed.files[0].complete);
    }
}

// ---------------------------------------------------------------------------
// The simulator's session, against a tool played by hand on the pty slave.

class ScriptedTool {
public:
    explicit ScriptedTool(const std::string& path) {
        m_fd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        EXPECT_GE(m_fd, 0) << path;
    }
    ~ScriptedTool() {
        if (m_fd >= 0)
            close(m_fd);
    }

    struct Received {
        std::uint8_t tag0, tag1;
        std::string text;
        bool checksumOk;
    };

    // Reads raw bytes until at least count have come (or the hang guard).
    // False when the line was hung up.
    bool ReadRaw(std::size_t count) {
        const auto deadline = std::chrono::steady_clock::now() + kHangGuard;
        while (m_raw.size() < count && std::chrono::steady_clock::now() < deadline) {
            pollfd in = {m_fd, POLLIN, 0};
            if (poll(&in, 1, 50) <= 0)
                continue;
            std::uint8_t buffer[512];
            const ssize_t n = read(m_fd, buffer, sizeof buffer);
            if (n > 0)
                m_raw.insert(m_raw.end(), buffer, buffer + n);
            else if (n == 0 || errno == EIO)
                return false;
        }
        return m_raw.size() >= count;
    }

    // The next frame from the simulator, NUL bytes and stray bytes dropped
    // (as the tool's port and reader do).
    std::optional<Received> Next() {
        for (;;) {
            std::size_t at = 0;
            std::vector<std::uint8_t> clean;
            for (std::uint8_t b : m_raw)
                if (b != 0x00)
                    clean.push_back(b);
            m_nuls += m_raw.size() - clean.size();
            m_raw = clean;
            while (at < m_raw.size() && m_raw[at] != 0xFE)
                ++at;
            m_stray += at;
            m_raw.erase(m_raw.begin(), m_raw.begin() + static_cast<long>(at));
            if (m_raw.size() >= 3 && m_raw.size() >= m_raw[2] + 4u) {
                const std::size_t length = m_raw[2];
                Received frame{m_raw[3], m_raw[4],
                               std::string(m_raw.begin() + 5, m_raw.begin() + 3 + static_cast<long>(length)),
                               frame::Checksum(m_raw.data(), m_raw.data() + 3 + length) == m_raw[3 + length]};
                m_raw.erase(m_raw.begin(), m_raw.begin() + 4 + static_cast<long>(length));
                return frame;
            }
            if (!ReadRaw(m_raw.size() + 1))
                return std::nullopt;
        }
    }

    void Answer(const Received& to, std::string_view text) {
        const std::vector<std::uint8_t> bytes = ToolBytes(0x01, 0xFE, to.tag0, to.tag1, text);
        ASSERT_EQ(write(m_fd, bytes.data(), bytes.size()), static_cast<ssize_t>(bytes.size()));
    }

    void SetBaud(speed_t speed) {
        termios tio{};
        ASSERT_EQ(tcgetattr(m_fd, &tio), 0);
        cfsetispeed(&tio, speed);
        cfsetospeed(&tio, speed);
        ASSERT_EQ(tcsetattr(m_fd, TCSANOW, &tio), 0);
    }

    // Answers frames as the tool would up to and including the handshake.
    void Handshake() {
        for (;;) {
            std::optional<Received> frame = Next();
            ASSERT_TRUE(frame);
            if (frame->text == "MON:") {
                Answer(*frame, "FAST");
            } else if (frame->text == "OK:") {
                // Switched before the answer leaves, so that the simulator
                // finds the port at 38400 however soon it looks.
                SetBaud(B38400);
                Answer(*frame, ";");
                return;
            } else {
                Answer(*frame, ";");
            }
        }
    }

    // Bytes waiting to be read.
    std::size_t Pending() const {
        int count = 0;
        return ioctl(m_fd, FIONREAD, &count) == 0 ? static_cast<std::size_t>(count) : 0;
    }

    std::size_t m_stray = 0, m_nuls = 0;

private:
    int m_fd = -1;
    std::vector<std::uint8_t> m_raw;
};

std::unique_ptr<ReceiverSim> MakeSim(SimOptions options) {
    std::string reason;
    std::unique_ptr<ReceiverSim> sim = ReceiverSim::CreatePty(std::move(options), &reason);
    EXPECT_TRUE(sim) << reason;
    return sim;
}

// Where the test plays the tool, the answer time is far beyond any stall of
// a loaded machine: every frame is answered, so no wait lasts that long.
constexpr int kPatientMs = 20000;

TEST(ReceiverSimTest, LeadsTheHandshakeAndRecordsWhatFollows) {
    SimOptions options;
    options.framesBeforeMon = 3;
    options.answerTimeoutMs = kPatientMs;
    std::unique_ptr<ReceiverSim> sim = MakeSim(options);
    ASSERT_TRUE(sim);
    ScriptedTool tool(sim->ToolPath());
    sim->Start();

    std::vector<std::string> texts;
    for (int i = 0; i < 5; ++i) {
        std::optional<ScriptedTool::Received> frame = tool.Next();
        ASSERT_TRUE(frame);
        EXPECT_TRUE(frame->checksumOk);
        texts.push_back(frame->text);
        if (frame->text == "OK:")
            tool.SetBaud(B38400);
        tool.Answer(*frame, frame->text == "MON:" ? "FAST" : ";");
    }
    EXPECT_EQ(texts, (std::vector<std::string>{"BOOT1", "BOOT2", "BOOT3", "MON:", "OK:"}));
    ASSERT_TRUE(sim->WaitUntil([](const SimReport& r) { return r.handshakeDone; }, kHangGuard));

    // After the handshake: "OK:" frames; an 'E' command and a file.
    std::optional<ScriptedTool::Received> ok = tool.Next();
    ASSERT_TRUE(ok);
    EXPECT_EQ(ok->text, "OK:");
    tool.Answer(*ok, std::string("E1\0\0\0\0\0", 7));
    for (std::string text : {std::string("ABCDEF"), std::string("*") + std::string(64, 'x'), std::string("*yz")}) {
        ok = tool.Next();
        ASSERT_TRUE(ok);
        EXPECT_EQ(ok->text, "OK:");
        tool.Answer(*ok, text);
    }
    ASSERT_TRUE(sim->WaitUntil([](const SimReport& r) { return !r.files.empty() && r.files[0].complete; },
                               kHangGuard));
    sim->Stop();
    const SimReport report = sim->Report();
    EXPECT_EQ(report.commands, std::vector<std::string>{"E1\\x00\\x00\\x00\\x00\\x00"});
    ASSERT_EQ(report.files.size(), 1u);
    EXPECT_EQ(report.files[0].size, 6u + 64u + 2u);
    EXPECT_TRUE(report.errors.empty()) << report.Summary();
}

// Faults of the tool that the simulator must record.
struct ToolFaultCase {
    const char* name;
    const char* expectedError;  // a part of the error text
};

class ReceiverSimToolFaultTest : public ::testing::TestWithParam<ToolFaultCase> {};

TEST_P(ReceiverSimToolFaultTest, RecordsTheViolation) {
    SimOptions options;
    options.framesBeforeMon = 1;
    options.answerTimeoutMs = 2000;
    std::unique_ptr<ReceiverSim> sim = MakeSim(options);
    ASSERT_TRUE(sim);
    ScriptedTool tool(sim->ToolPath());
    sim->Start();
    const std::string fault = GetParam().name;

    std::optional<ScriptedTool::Received> boot = tool.Next();
    ASSERT_TRUE(boot);
    if (fault == "wrong_tags") {
        ScriptedTool::Received other = *boot;
        other.tag1 = static_cast<std::uint8_t>(other.tag1 + 0x40);
        tool.Answer(other, ";");
    } else if (fault == "fast_to_other_text") {
        tool.Answer(*boot, "FAST");
    } else if (fault == "switched_early") {
        tool.Answer(*boot, ";");
        std::optional<ScriptedTool::Received> mon = tool.Next();
        ASSERT_TRUE(mon);
        // Switched before the answer leaves, so that the port is certainly
        // at 38400 when the simulator sends the handshake's "OK:".
        tool.SetBaud(B38400);
        tool.Answer(*mon, "FAST");
    } else if (fault == "never_switched") {
        tool.Answer(*boot, ";");
        std::optional<ScriptedTool::Received> mon = tool.Next();
        ASSERT_TRUE(mon);
        tool.Answer(*mon, "FAST");
        std::optional<ScriptedTool::Received> ok = tool.Next();
        ASSERT_TRUE(ok);
        tool.Answer(*ok, ";");
    } else if (fault == "answered_twice") {
        tool.Answer(*boot, ";");
        tool.Answer(*boot, ";");
    }
    const std::string expected = GetParam().expectedError;
    EXPECT_TRUE(sim->WaitUntil(
        [&](const SimReport& r) {
            for (const std::string& error : r.errors)
                if (error.find(expected) != std::string::npos)
                    return true;
            return false;
        },
        kHangGuard))
        << sim->Report().Summary();
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ReceiverSimToolFaultTest,
    ::testing::Values(ToolFaultCase{"wrong_tags", "answer no unanswered frame"},
                      ToolFaultCase{"fast_to_other_text", "answered \"FAST\" (expected \";\")"},
                      ToolFaultCase{"switched_early", "before the handshake"},
                      ToolFaultCase{"never_switched", "did not switch to 38400"},
                      ToolFaultCase{"answered_twice", "second answer"}),
    [](const ::testing::TestParamInfo<ToolFaultCase>& info) { return info.param.name; });

// The tool answers the handshake "OK:" so late that the simulator has gone
// back to "MON:": the tool has switched, so that answer completes the
// handshake, and the "FAST" to the new "MON:" is no second one.
TEST(ReceiverSimTest, LateHandshakeAnswerStillCompletesIt) {
    SimOptions options;
    options.answerTimeoutMs = 100;
    std::unique_ptr<ReceiverSim> sim = MakeSim(options);
    ASSERT_TRUE(sim);
    ScriptedTool tool(sim->ToolPath());
    sim->Start();
    std::optional<ScriptedTool::Received> frame = tool.Next();
    for (; frame && frame->text != "OK:"; frame = tool.Next())
        tool.Answer(*frame, frame->text == "MON:" ? "FAST" : ";");
    ASSERT_TRUE(frame);
    const ScriptedTool::Received handshakeOk = *frame;
    tool.SetBaud(B38400);
    frame = tool.Next();  // the simulator has given up on the answer
    ASSERT_TRUE(frame);
    ASSERT_EQ(frame->text, "MON:");
    tool.Answer(handshakeOk, ";");
    tool.Answer(*frame, "FAST");
    do {  // to the first "OK:" of the fast line
        frame = tool.Next();
        ASSERT_TRUE(frame);
        tool.Answer(*frame, frame->text == "MON:" ? "FAST" : ";");
    } while (frame->text != "OK:");
    ASSERT_TRUE(sim->WaitUntil([](const SimReport& r) { return r.framesReceived >= 6; }, kHangGuard));
    sim->Stop();
    EXPECT_EQ(sim->Report().handshakes, 1u);
    EXPECT_TRUE(sim->Report().errors.empty()) << sim->Report().Summary();
}

TEST(ReceiverSimTest, InjectsLineFaults) {
    SimOptions options;
    options.framesBeforeMon = 20;
    options.nulBytes = true;
    options.strayEvery = 2;
    options.badChecksumEvery = 3;
    options.errorAfter = 7;
    std::unique_ptr<ReceiverSim> sim = MakeSim(options);
    ASSERT_TRUE(sim);
    ScriptedTool tool(sim->ToolPath());
    sim->Start();
    for (unsigned n = 1; n <= 7; ++n) {
        std::optional<ScriptedTool::Received> frame = tool.Next();
        ASSERT_TRUE(frame) << n;
        EXPECT_EQ(frame->checksumOk, n % 3 != 0) << n;
        if (n == 7) {
            EXPECT_EQ(frame->text, "ERROR");
        } else {
            EXPECT_EQ(frame->text.rfind("BOOT", 0), 0u) << frame->text;
            if (frame->checksumOk)
                tool.Answer(*frame, ";");
        }
    }
    EXPECT_GT(tool.m_nuls, 7u);
    EXPECT_EQ(tool.m_stray, 3u * 5u);  // frames 2, 4, 6: the five stray bytes, the 0xFF among them
    ASSERT_TRUE(sim->WaitUntil([](const SimReport& r) { return r.errorsSent == 1; }, kHangGuard));
    sim->Stop();
    EXPECT_EQ(sim->Report().framesSent, 7u);
    EXPECT_TRUE(sim->Report().errors.empty()) << sim->Report().Summary();
}

TEST(ReceiverSimTest, HangsUpAfterNFrames) {
    SimOptions options;
    options.hangupAfter = 3;
    options.answerTimeoutMs = kPatientMs;
    std::unique_ptr<ReceiverSim> sim = MakeSim(options);
    ASSERT_TRUE(sim);
    ScriptedTool tool(sim->ToolPath());
    sim->Start();
    for (int i = 0; i < 3; ++i) {
        std::optional<ScriptedTool::Received> frame = tool.Next();
        ASSERT_TRUE(frame);
        tool.Answer(*frame, frame->text == "MON:" ? "FAST" : ";");
    }
    EXPECT_FALSE(tool.Next());  // the line is gone
    EXPECT_TRUE(sim->WaitUntil([](const SimReport& r) { return r.hungUp; }, kHangGuard));
    EXPECT_EQ(sim->Report().framesSent, 3u);
}

TEST(ReceiverSimTest, SilentReceiverSendsNothingButStillListens) {
    SimOptions options;
    options.silent = true;
    std::unique_ptr<ReceiverSim> sim = MakeSim(options);
    ASSERT_TRUE(sim);
    ScriptedTool tool(sim->ToolPath());
    sim->Start();
    tool.Answer({0x12, 0x34, "", true}, ";");
    ASSERT_TRUE(sim->WaitUntil([](const SimReport& r) { return !r.errors.empty(); }, kHangGuard));
    EXPECT_EQ(sim->Report().framesSent, 0u);
    EXPECT_EQ(sim->Report().framesReceived, 1u);
}

TEST(ReceiverSimTest, PowerCycleStartsANewSession) {
    SimOptions options;
    options.framesBeforeMon = 1;
    options.answerTimeoutMs = kPatientMs;
    std::unique_ptr<ReceiverSim> sim = MakeSim(options);
    ASSERT_TRUE(sim);
    ScriptedTool tool(sim->ToolPath());
    sim->Start();
    tool.Handshake();
    ASSERT_TRUE(sim->WaitUntil([](const SimReport& r) { return r.handshakes == 1; }, kHangGuard));
    sim->PowerOff();
    sim->PowerOn();
    tool.SetBaud(B19200);
    // Frames of the old session may still come; the new one starts at BOOT1.
    std::optional<ScriptedTool::Received> frame;
    do {
        frame = tool.Next();
        ASSERT_TRUE(frame);
        if (frame->text != "BOOT1")
            tool.Answer(*frame, ";");
    } while (frame->text != "BOOT1");
    tool.Answer(*frame, ";");
    tool.Handshake();
    ASSERT_TRUE(sim->WaitUntil([](const SimReport& r) { return r.handshakes == 2; }, kHangGuard))
        << sim->Report().Summary();
    sim->Stop();
    EXPECT_TRUE(sim->Report().errors.empty()) << sim->Report().Summary();
}

TEST(ReceiverSimTest, ToolStartedLateFindsNoLongBacklog) {
    // Stray and NUL bytes make each frame about 19 bytes on the line, so
    // that the backlog passes 512 bytes well within 40 frames while the
    // answer time stays long enough for the handshake on a loaded machine.
    SimOptions options;
    options.answerTimeoutMs = 100;
    options.strayEvery = 1;
    options.nulBytes = true;
    std::unique_ptr<ReceiverSim> sim = MakeSim(options);
    ASSERT_TRUE(sim);
    sim->Start();
    // Nobody reads: about 760 bytes of frames go out.
    ASSERT_TRUE(sim->WaitUntil([](const SimReport& r) { return r.framesSent >= 40; }, kHangGuard));
    ScriptedTool tool(sim->ToolPath());
    constexpr std::size_t kOneFrameOnTheLine = 32;  // the longest "BOOTn" with its stray and NUL bytes
    EXPECT_LE(tool.Pending(), 512u + kOneFrameOnTheLine);
    tool.Handshake();
    ASSERT_TRUE(sim->WaitUntil([](const SimReport& r) { return r.handshakeDone; }, kHangGuard));
    sim->Stop();
    EXPECT_TRUE(sim->Report().errors.empty()) << sim->Report().Summary();
}

TEST(ReceiverSimTest, PacedRunStillCompletesTheHandshake) {
    SimOptions options;
    options.paced = true;
    options.framesBeforeMon = 1;
    options.answerTimeoutMs = kPatientMs;
    std::unique_ptr<ReceiverSim> sim = MakeSim(options);
    ASSERT_TRUE(sim);
    ScriptedTool tool(sim->ToolPath());
    sim->Start();
    tool.Handshake();
    EXPECT_TRUE(sim->WaitUntil([](const SimReport& r) { return r.handshakeDone; }, kHangGuard));
}

TEST(ReceiverSimTest, CannotOpenAMissingDevice) {
    std::string reason;
    EXPECT_FALSE(ReceiverSim::OpenDevice("/nonexistent/tty", SimOptions{}, &reason));
    EXPECT_NE(reason.find("/nonexistent/tty"), std::string::npos);
}

// The adapter's rule: a byte goes at the chip's next transfer, which comes
// every latency from the last one, or at once when a packet is full.
TEST(UsbAdapterModelTest, PassesBytesOnAtItsTransfers) {
    using ms = std::chrono::milliseconds;
    const UsbAdapterModel::Clock::time_point t0{};
    struct Case {
        const char* name;
        int latencyMs;
        std::vector<std::pair<int, int>> arrivals;  // ms after t0, count
        std::vector<int> deliveries;                // ms after t0, per byte
    };
    const auto many = [](std::size_t count, int ms) { return std::vector<int>(count, ms); };
    std::vector<int> fullThenOne = many(UsbAdapterModel::kPacketBytes, 1);
    fullThenOne.push_back(17);
    const Case cases[] = {
        {"OkFrameWaitsForTheTimer", 16, {{3, 9}}, many(9, 16)},
        {"TheTimerRunsWhileIdle", 16, {{20, 1}, {50, 1}}, {32, 64}},
        {"AFrameAcrossATransferEndsAtTheNext", 16, {{15, 1}, {17, 1}}, {16, 32}},
        {"AFullPacketGoesAtOnce", 16, {{1, static_cast<int>(UsbAdapterModel::kPacketBytes) + 1}}, fullThenOne},
        {"NoAdapter", 0, {{3, 2}}, many(2, 3)},
    };
    for (const Case& c : cases) {
        UsbAdapterModel adapter(ms(c.latencyMs), t0);
        std::vector<UsbAdapterModel::Clock::time_point> arrivals, deliveries;
        for (const auto& [at, count] : c.arrivals)
            arrivals.insert(arrivals.end(), static_cast<std::size_t>(count), t0 + ms(at));
        adapter.Deliver(arrivals, &deliveries);
        std::vector<int> got;
        for (const auto& delivery : deliveries)
            got.push_back(static_cast<int>(std::chrono::duration_cast<ms>(delivery - t0).count()));
        EXPECT_EQ(got, c.deliveries) << c.name;
    }
}

// --adapter-latency-ms: each frame reaches the tool at the adapter's next
// transfer, so the handshake's three frames cannot be through sooner than
// three timers after the simulator was made.
TEST(ReceiverSimTest, FramesGoThroughTheAdapter) {
    constexpr std::chrono::milliseconds kLatency{300};
    SimOptions options;
    options.framesBeforeMon = 1;
    options.answerTimeoutMs = kPatientMs;
    options.adapterLatencyMs = static_cast<int>(kLatency.count());
    const auto made = std::chrono::steady_clock::now();
    std::unique_ptr<ReceiverSim> sim = MakeSim(options);
    ASSERT_TRUE(sim);
    ScriptedTool tool(sim->ToolPath());
    sim->Start();
    tool.Handshake();
    EXPECT_GE(std::chrono::steady_clock::now() - made, 3 * kLatency);
    EXPECT_TRUE(sim->WaitUntil([](const SimReport& r) { return r.handshakeDone; }, kHangGuard));
}

}  // namespace
