// A whole script, end to end: UploadThread and the real LinkThread over a
// pseudo-terminal against the simulated receiver. What the receiver gets
// must be the script's commands and the data files byte for byte.
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <stdlib.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "link/messages.h"
#include "platform/serial_memory.h"
#include "res/strings.h"
#include "link/shared_state.h"
#include "platform/thread.h"
#include "sim/receiver_sim.h"
#include "support/link_harness.h"
#include "support/recording_message_box.h"
#include "support/shared_state_reset.h"
#include "support/temp_folder.h"
#include "support/test_data.h"
#include "upload/upload_thread.h"

namespace {

namespace fs = std::filesystem;

std::string Sha256Hex(const std::string& bytes) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int size = 0;
    EVP_Digest(bytes.data(), bytes.size(), digest, &size, EVP_sha256(), nullptr);
    std::string hex;
    char pair[3];
    for (unsigned int i = 0; i < size; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", digest[i]);
        hex += pair;
    }
    return hex;
}


struct E2eCase {
    const char* name;
    SimOptions options;
    // Over a line inside the process instead of a pseudo-terminal.
    bool memoryLine = false;
};

void PrintTo(const E2eCase& c, std::ostream* out) { *out << c.name; }

class UploadEndToEndTest : public ::testing::TestWithParam<E2eCase> {
protected:
    TempFolder m_temp{"upload_e2e_"};

    void SetUp() override { m_dir = m_temp.Slash(); }

    std::string WriteFile(const std::string& name, const std::string& bytes) {
        fs::create_directories(fs::path(m_dir + name).parent_path());
        std::ofstream(m_dir + name, std::ios::binary) << bytes;
        return m_dir + name;
    }

    std::string m_dir;
    SharedStateReset m_reset;
    InstalledRecordingMessageBox m_messages;
    PostedMessageLog m_linkWindow;    // stands in for the connection wait dialog
    PostedMessageLog m_uploadWindow;  // stands in for the upload progress dialog
};

TEST_P(UploadEndToEndTest, WholeScriptArrivesByteForByte) {
    // A script as it comes from Windows: CR LF, backslashes, names in another
    // letter case than the files.
    const std::string code = TestFileString(6 + 64 * 40 + 29, 11);
    const std::string boot = TestFileString(6 + 64 * 3, 12);
    WriteFile("Code.lzs", code);
    WriteFile("boot/data.bin", boot);
    g_strScriptPath = WriteFile("load.cmd",
                                "CE000001\r\n"
                                "CQ\r\n"
                                "FCODE.LZS\r\n"
                                "CE0002\r\n"
                                "FBoot\\Data.bin\r\n"
                                "CX\r\n");

    std::string reason;
    std::unique_ptr<ReceiverSim> sim = GetParam().memoryLine
                                           ? ReceiverSim::CreateMemoryLine("e2e line", GetParam().options, &reason)
                                           : ReceiverSim::CreatePty(GetParam().options, &reason);
    ASSERT_TRUE(sim) << reason;
    sim->Start();
    ASSERT_TRUE(OpenToolPort(sim->ToolPath()));
    ASSERT_TRUE(StartLinkThread(m_linkWindow));
    ASSERT_TRUE(m_linkWindow.PumpUntilCount(WM_LINK_READY, 1)) << sim->Report().Summary();

    ASSERT_TRUE(AfxBeginThread(UploadThread, m_uploadWindow.ThreadParam()));
    ASSERT_TRUE(m_uploadWindow.PumpUntilCount(WM_UPLOAD_DONE, 1)) << sim->Report().Summary();
    // As the dialog does on WM_UPLOAD_DONE: end the link at once. Everything
    // must already be on the line by now.
    g_bUploadFinished.Set();
    ASSERT_TRUE(m_linkWindow.PumpUntilCount(WM_LINK_CLOSED, 1));
    ASSERT_TRUE(JoinWorkerThreads(kHangGuard));
    EXPECT_EQ(g_dwBytesSent.Load(), boot.size());
    EXPECT_EQ(g_dwFileLength.Load(), boot.size());

    ASSERT_TRUE(sim->WaitUntil([](const SimReport& r) { return r.commands.size() >= 4; }, kHangGuard))
        << "the last command never reached the receiver\n"
        << sim->Report().Summary();
    sim->Stop();
    const SimReport report = sim->Report();
    EXPECT_EQ(report.commands, (std::vector<std::string>{"E000001", "Q", "E0002\\x00\\x00", "X"}));
    ASSERT_EQ(report.files.size(), 2u) << report.Summary();
    EXPECT_TRUE(report.files[0].complete) << report.files[0].problem;
    EXPECT_TRUE(report.files[1].complete) << report.files[1].problem;
    EXPECT_EQ(report.files[0].sha256, Sha256Hex(code));
    EXPECT_EQ(report.files[1].sha256, Sha256Hex(boot));
    EXPECT_TRUE(report.errors.empty()) << report.Summary();
    EXPECT_EQ(m_uploadWindow.Count(WM_UPLOAD_FAILED), 0);
    EXPECT_EQ(m_uploadWindow.Count(WM_UPLOAD_FILE_MISSING), 0);
    EXPECT_EQ(m_uploadWindow.Count(WM_UPLOAD_BAD_COMMAND), 0);
    EXPECT_EQ(m_uploadWindow.Count(WM_UPLOAD_COMMAND), 6);
    EXPECT_EQ(m_messages.Count(), 0u) << "no message box expected";
}

SimOptions NoisyLine() {
    SimOptions options;
    options.strayEvery = 5;
    options.nulBytes = true;
    options.badChecksumEvery = 9;
    options.answerTimeoutMs = 100;
    return options;
}

SimOptions PacedLine() {
    SimOptions options;
    options.paced = true;
    return options;
}

INSTANTIATE_TEST_SUITE_P(Lines, UploadEndToEndTest,
                         ::testing::Values(E2eCase{"Clean", SimOptions{}}, E2eCase{"Noisy", NoisyLine()},
                                           E2eCase{"MemoryLine", NoisyLine(), true},
                                           E2eCase{"MemoryLinePaced", PacedLine(), true}),
                         [](const ::testing::TestParamInfo<E2eCase>& info) { return std::string(info.param.name); });

// The receiver's faults reach the tool over a line inside the process as
// over a pseudo-terminal: the run ends in the communication error, and the
// receiver never gets the closing 'X'.
struct MemoryLineFaultCase {
    const char* name;
    SimFault fault;
};

class MemoryLineFaultTest : public ::testing::TestWithParam<MemoryLineFaultCase> {
protected:
    SharedStateReset m_reset;
    InstalledRecordingMessageBox m_messages;
    PostedMessageLog m_linkWindow;
    PostedMessageLog m_uploadWindow;
};

TEST_P(MemoryLineFaultTest, EndsInTheCommunicationError) {
    TempFolder temp{"memory_fault_"};
    std::ofstream(temp.Slash() + "code.lzs", std::ios::binary) << TestFileString(6 + 64 * 8, 5);
    std::ofstream(temp.Slash() + "load.cmd") << "CE000001\r\nFcode.lzs\r\nCX\r\n";
    g_strScriptPath = temp.Slash() + "load.cmd";
    SimOptions options;
    options.fault = GetParam().fault;
    options.faultAfterUploadFrames = 4;  // the command, the header, two chunks

    std::string reason;
    std::unique_ptr<ReceiverSim> sim = ReceiverSim::CreateMemoryLine("fault line", options, &reason);
    ASSERT_TRUE(sim) << reason;
    sim->Start();
    ASSERT_TRUE(OpenToolPort(sim->ToolPath()));
    ASSERT_TRUE(StartLinkThread(m_linkWindow));
    ASSERT_TRUE(m_linkWindow.PumpUntilCount(WM_LINK_READY, 1)) << sim->Report().Summary();
    ASSERT_TRUE(AfxBeginThread(UploadThread, m_uploadWindow.ThreadParam()));
    ASSERT_TRUE(m_messages.WaitForCount(1, kHangGuard));
    ASSERT_TRUE(m_uploadWindow.PumpUntilCount(WM_UPLOAD_DONE, 1));
    g_bUploadFinished.Set();
    ASSERT_TRUE(m_linkWindow.PumpUntilCount(WM_LINK_CLOSED, 1));
    ASSERT_TRUE(JoinWorkerThreads(kHangGuard));

    EXPECT_EQ(m_messages.Texts(), std::vector<std::string>{LoadResString(IDS_COMMUNICATION_ERROR)});
    EXPECT_TRUE(g_bAbort.IsSet());
    sim->Stop();
    EXPECT_EQ(sim->Report().commands, std::vector<std::string>{"E000001"});
}

INSTANTIATE_TEST_SUITE_P(Faults, MemoryLineFaultTest,
                         ::testing::Values(MemoryLineFaultCase{"HangUp", SimFault::HangUp},
                                           MemoryLineFaultCase{"LineCut", SimFault::HangUpAfterNextFrame},
                                           MemoryLineFaultCase{"Error", SimFault::Error}),
                         [](const ::testing::TestParamInfo<MemoryLineFaultCase>& info) {
                             return std::string(info.param.name);
                         });

// After the line died under the last chunk of the script: the frame was not
// written whole, so the run ends in the communication error and an abort;
// the upload's final wait is not released before the abort, and the file is
// never reported sent.
void ExpectTheLastChunkUnsent(GatedMessageBox& box, PostedMessageLog& linkWindow, PostedMessageLog& uploadWindow) {
    ASSERT_TRUE(box.WaitShown(kHangGuard));
    EXPECT_EQ(box.Texts(), std::vector<std::string>{LoadResString(IDS_COMMUNICATION_ERROR)});
    // While the operator reads the message the chunk still counts as unsent.
    EXPECT_TRUE(g_bOutboxFull);
    box.Dismiss();
    bool abortedAtDone = false;
    ASSERT_TRUE(uploadWindow.PumpUntil([&] {
        // What the upload dialog looks at when the upload says it is done.
        abortedAtDone = g_bAbort.IsSet();
        return uploadWindow.Count(WM_UPLOAD_DONE) == 1;
    }));
    EXPECT_TRUE(abortedAtDone);
    EXPECT_EQ(uploadWindow.Count(WM_UPLOAD_FILE_SENT), 0);
    ASSERT_TRUE(linkWindow.PumpUntilCount(WM_LINK_CLOSED, 1));
    ASSERT_TRUE(JoinWorkerThreads(kHangGuard));
    EXPECT_EQ(box.Texts().size(), 1u);
}

// The adapter is unplugged with the chunk stuck behind a full line: none of
// it goes out.
TEST(UploadLastFrameLostTest, EndsInTheCommunicationErrorNeverInSuccess) {
    SharedStateReset reset;
    GatedMessageBox box;
    ScopedMessageBoxPresenter install(&box);
    TempFolder temp{"upload_lost_"};
    const std::string file = TestFileString(6 + 64 + 10, 3);
    std::ofstream(temp.Slash() + "code.lzs", std::ios::binary) << file;
    std::ofstream(temp.Slash() + "load.cmd") << "Fcode.lzs\r\n";
    g_strScriptPath = temp.Slash() + "load.cmd";

    ScriptedReceiver receiver;
    PostedMessageLog linkWindow;
    PostedMessageLog uploadWindow;
    ASSERT_TRUE(OpenToolPort(receiver.ToolPath()));
    ASSERT_TRUE(StartLinkThread(linkWindow));
    ASSERT_NE(receiver.Exchange("MON:"), std::nullopt);
    ASSERT_NE(receiver.Exchange("OK:"), std::nullopt);
    ASSERT_TRUE(linkWindow.PumpUntilCount(WM_LINK_READY, 1));
    ASSERT_TRUE(AfxBeginThread(UploadThread, uploadWindow.ThreadParam()));
    ASSERT_TRUE(WaitForStateFor([] { return g_bTransferActive.IsSet(); }, kHangGuard));

    // Header and first chunk arrive; the last chunk meets a full line.
    const auto frames = DataFileFrames(std::vector<std::uint8_t>(file.begin(), file.end()));
    ASSERT_EQ(frames.size(), 3u);
    for (std::size_t i = 0; i < 2; ++i) {
        const std::optional<ToolFrame> frame = receiver.Exchange("OK:");
        ASSERT_TRUE(frame.has_value());
        EXPECT_EQ(frame->Text(), std::string(frames[i].begin(), frames[i].end()));
    }
    ASSERT_GT(receiver.Pty().FillTowardsMaster(), 0u);
    receiver.Send("OK:");
    ASSERT_TRUE(receiver.Pty().WaitUntilSlaveInputTaken(kHangGuard));
    receiver.Pty().CloseMaster();
    ExpectTheLastChunkUnsent(box, linkWindow, uploadWindow);
}

// The line dies with the first 5 bytes of the last chunk on it.
TEST(UploadLastFrameLostTest, PartOfTheFrameOutIsNotSent) {
    SharedStateReset reset;
    GatedMessageBox box;
    ScopedMessageBoxPresenter install(&box);
    TempFolder temp{"upload_cut_"};
    std::ofstream(temp.Slash() + "code.lzs", std::ios::binary) << TestFileString(6 + 64 + 10, 3);
    std::ofstream(temp.Slash() + "load.cmd") << "Fcode.lzs\r\n";
    g_strScriptPath = temp.Slash() + "load.cmd";
    SimOptions options;
    options.onUploadFrame = [](unsigned frames) {
        if (frames == 2)  // the header and the first chunk are in
            MemoryLine::LimitNearOutput("cut line", 5);
    };
    std::unique_ptr<ReceiverSim> sim = ReceiverSim::CreateMemoryLine("cut line", options);
    ASSERT_TRUE(sim);
    sim->Start();
    PostedMessageLog linkWindow;
    PostedMessageLog uploadWindow;
    ASSERT_TRUE(OpenToolPort(sim->ToolPath()));
    ASSERT_TRUE(StartLinkThread(linkWindow));
    ASSERT_TRUE(linkWindow.PumpUntilCount(WM_LINK_READY, 1));
    ASSERT_TRUE(AfxBeginThread(UploadThread, uploadWindow.ThreadParam()));
    ExpectTheLastChunkUnsent(box, linkWindow, uploadWindow);
}

// The example scripts shipped with the tool run through as they stand.
struct ExampleCase {
    const char* script;
    std::vector<std::string> files;  // the data files it names, in order
    unsigned commands;               // E, Q and X commands in it
};

void PrintTo(const ExampleCase& c, std::ostream* out) { *out << c.script; }

class ExampleScriptTest : public ::testing::TestWithParam<ExampleCase> {
protected:
    SharedStateReset m_reset;
    InstalledRecordingMessageBox m_messages;
    PostedMessageLog m_linkWindow;
    PostedMessageLog m_uploadWindow;
};

std::string ReadWholeFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

TEST_P(ExampleScriptTest, RunsThrough) {
    const fs::path examples = fs::path(__FILE__).parent_path().parent_path() / "examples";
    g_strScriptPath = (examples / GetParam().script).string();
    ASSERT_TRUE(fs::exists(g_strScriptPath)) << g_strScriptPath;

    std::string reason;
    std::unique_ptr<ReceiverSim> sim = ReceiverSim::CreatePty(SimOptions{}, &reason);
    ASSERT_TRUE(sim) << reason;
    sim->Start();
    ASSERT_TRUE(OpenToolPort(sim->ToolPath()));
    ASSERT_TRUE(StartLinkThread(m_linkWindow));
    ASSERT_TRUE(m_linkWindow.PumpUntilCount(WM_LINK_READY, 1));
    ASSERT_TRUE(AfxBeginThread(UploadThread, m_uploadWindow.ThreadParam()));
    ASSERT_TRUE(m_uploadWindow.PumpUntilCount(WM_UPLOAD_DONE, 1));
    g_bUploadFinished.Set();
    ASSERT_TRUE(m_linkWindow.PumpUntilCount(WM_LINK_CLOSED, 1));
    ASSERT_TRUE(JoinWorkerThreads(kHangGuard));
    const unsigned commands = GetParam().commands;
    ASSERT_TRUE(sim->WaitUntil([commands](const SimReport& r) { return r.commands.size() >= commands; },
                               kHangGuard))
        << sim->Report().Summary();
    sim->Stop();

    const SimReport report = sim->Report();
    ASSERT_EQ(report.files.size(), GetParam().files.size()) << report.Summary();
    for (std::size_t i = 0; i < report.files.size(); ++i) {
        EXPECT_TRUE(report.files[i].complete) << report.files[i].problem;
        EXPECT_EQ(report.files[i].sha256, Sha256Hex(ReadWholeFile(examples / GetParam().files[i])));
    }
    EXPECT_TRUE(report.errors.empty()) << report.Summary();
    EXPECT_EQ(m_uploadWindow.Count(WM_UPLOAD_FAILED) + m_uploadWindow.Count(WM_UPLOAD_FILE_MISSING) +
                  m_uploadWindow.Count(WM_UPLOAD_BAD_COMMAND),
              0);
}

INSTANTIATE_TEST_SUITE_P(Examples, ExampleScriptTest,
                         ::testing::Values(ExampleCase{"load.cmd", {"code.lzs"}, 3},
                                           ExampleCase{"two_files.cmd", {"boot.lzs", "code.lzs"}, 4}),
                         [](const ::testing::TestParamInfo<ExampleCase>& info) {
                             std::string name = info.param.script;
                             return name.substr(0, name.find('.'));
                         });

}  // namespace
