#include "link/link_thread.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

#include "link/frame_buffer.h"
#include "link/messages.h"
#include "link/port_setup.h"
#include "link/shared_state.h"
#include "platform/serial_port.h"
#include "platform/thread.h"
#include "res/strings.h"
#include "sim/receiver_sim.h"
#include "support/link_harness.h"
#include "support/recording_message_box.h"
#include "support/shared_state_reset.h"

namespace {

using namespace std::chrono_literals;

// Expects an answer from the tool to the frame with these tags.
void ExpectAnswer(const std::optional<ToolFrame>& frame, ScriptedReceiver::Tags tags, std::string_view text) {
    ASSERT_TRUE(frame.has_value()) << "no answer";
    EXPECT_EQ(frame->addr0, 0x01);
    EXPECT_EQ(frame->addr1, 0xFE);
    EXPECT_EQ(frame->tag0(), tags.tag0);
    EXPECT_EQ(frame->tag1(), tags.tag1);
    EXPECT_EQ(frame->Text(), text);
    EXPECT_EQ(frame->payload.size(), text.size() + 2);
}

SerialPort* ToolPort() {
    return g_hComm.load();
}

class LinkThreadTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(OpenToolPort(receiver.ToolPath()));
        ASSERT_TRUE(StartLinkThread(window));
    }

    // Lets the thread end on g_bUploadFinished (which wakes its read) and
    // waits for it.
    void FinishLink() {
        g_bUploadFinished.Set();
        ASSERT_TRUE(window.PumpUntilCount(WM_LINK_CLOSED, 1));
        ASSERT_TRUE(JoinWorkerThreads(kHangGuard));
    }

    // MON: -> FAST, OK: -> ";" at 19200, then the switch.
    void Handshake() {
        ScriptedReceiver::Tags tags{};
        ExpectAnswer(receiver.Exchange("MON:", &tags), tags, "FAST");
        ExpectAnswer(receiver.Exchange("OK:", &tags), tags, ";");
        ASSERT_TRUE(window.PumpUntilCount(WM_LINK_READY, 1));
        EXPECT_EQ(ToolBaud(receiver.Pty()), 38400u);
    }

    // Sends a frame and reads the answer, which must carry its tags: proves
    // that nothing else was sent in between and that every message the
    // thread posted before this answer is queued.
    void Sync() {
        ScriptedReceiver::Tags tags{};
        ExpectAnswer(receiver.Exchange("SYNC", &tags), tags, ";");
        window.Pump();
    }

    SharedStateReset reset;
    InstalledRecordingMessageBox messages;
    PostedMessageLog window;
    ScriptedReceiver receiver;
};

TEST_F(LinkThreadTest, NormalRunFrameByFrame) {
    ScriptedReceiver::Tags tags{};
    // Other text before "MON:" is answered ";", an early "OK:" too.
    ExpectAnswer(receiver.Exchange("BOOT", &tags), tags, ";");
    ExpectAnswer(receiver.Exchange("OK:", &tags), tags, ";");
    window.Pump();
    EXPECT_EQ(window.Count(WM_LINK_READY), 0);
    EXPECT_EQ(ToolBaud(receiver.Pty()), 19200u);

    Handshake();
    ExpectAnswer(receiver.Exchange("OK:", &tags), tags, ";");

    // A command waits in Outbox for the next "OK:" and goes out with its tags.
    ASSERT_TRUE(OutboxFeeder::Queue(std::string("E123456")));
    ExpectAnswer(receiver.Exchange("BOOT", &tags), tags, ";");  // not an "OK:": stays queued
    EXPECT_TRUE(g_bOutboxFull);
    ExpectAnswer(receiver.Exchange("OK:", &tags), tags, "E123456");
    ASSERT_TRUE(WaitForStateFor([] { return !g_bOutboxFull.IsSet(); }, kHangGuard));

    // A data file: transfer profile from the first "OK:" of the stream, the
    // header, a full chunk, the last chunk, then the normal profile again.
    const std::vector<std::uint8_t> file = TestFileBytes(6 + 64 + 10);
    const auto frames = DataFileFrames(file);
    ASSERT_EQ(frames.size(), 3u);
    g_bTransferActive.Set();
    for (std::size_t i = 0; i + 1 < frames.size(); ++i) {
        tags = receiver.Send("OK:");
        // The answer is held until the frame is queued.
        ASSERT_TRUE(OutboxFeeder::Queue(frames[i]));
        ExpectAnswer(receiver.ReadFrame(), tags, std::string(frames[i].begin(), frames[i].end()));
        EXPECT_EQ(ToolPort()->GetReadProfile(), ReadProfile::Transfer);
    }
    // The last chunk and the end of the file are both known before its
    // "OK:" arrives, so that "OK:" is the one that ends the transfer (set
    // after the frame is taken, the end would only be seen at the next one).
    ASSERT_TRUE(OutboxFeeder::Queue(frames.back()));
    g_bTransferDone.Set();
    ExpectAnswer(receiver.Exchange("OK:", &tags), tags, std::string(frames.back().begin(), frames.back().end()));
    ASSERT_TRUE(WaitForStateFor([] { return !g_bTransferActive.IsSet(); }, kHangGuard));
    EXPECT_EQ(ToolPort()->GetReadProfile(), ReadProfile::Normal);

    ASSERT_TRUE(OutboxFeeder::Queue(std::string("X")));
    ExpectAnswer(receiver.Exchange("OK:", &tags), tags, "X");
    ExpectAnswer(receiver.Exchange("OK:", &tags), tags, ";");

    FinishLink();
    EXPECT_EQ(window.Messages(), (std::vector<UINT>{WM_LINK_READY, WM_LINK_CLOSED}));
    EXPECT_EQ(messages.Count(), 0u);
    EXPECT_FALSE(g_bLinkRunning);
    EXPECT_TRUE(ReplyFrame.m_bFastActive);
    EXPECT_FALSE(ReplyFrame.m_bFastRequested);
}

TEST_F(LinkThreadTest, MonWhileAlreadyFastMakesNoSecondSwitch) {
    Handshake();
    ScriptedReceiver::Tags tags{};
    ExpectAnswer(receiver.Exchange("MON:", &tags), tags, "FAST");
    ExpectAnswer(receiver.Exchange("OK:", &tags), tags, ";");
    Sync();
    EXPECT_EQ(window.Count(WM_LINK_READY), 1);
    EXPECT_EQ(ToolBaud(receiver.Pty()), 38400u);
    FinishLink();
    EXPECT_FALSE(ReplyFrame.m_bFastRequested);
    EXPECT_TRUE(ReplyFrame.m_bFastActive);
}

TEST_F(LinkThreadTest, TwoMonInARowSwitchOnce) {
    ScriptedReceiver::Tags tags{};
    ExpectAnswer(receiver.Exchange("MON:", &tags), tags, "FAST");
    ExpectAnswer(receiver.Exchange("MON:", &tags), tags, "FAST");
    ExpectAnswer(receiver.Exchange("OK:", &tags), tags, ";");
    ASSERT_TRUE(window.PumpUntilCount(WM_LINK_READY, 1));
    Sync();
    EXPECT_EQ(window.Count(WM_LINK_READY), 1);
    EXPECT_EQ(ToolBaud(receiver.Pty()), 38400u);
    FinishLink();
}

TEST_F(LinkThreadTest, OtherTextAfterFastCancelsTheSwitch) {
    ScriptedReceiver::Tags tags{};
    ExpectAnswer(receiver.Exchange("MON:", &tags), tags, "FAST");
    ExpectAnswer(receiver.Exchange("BOOT", &tags), tags, ";");
    ExpectAnswer(receiver.Exchange("OK:", &tags), tags, ";");
    Sync();
    EXPECT_EQ(window.Count(WM_LINK_READY), 0);
    EXPECT_EQ(ToolBaud(receiver.Pty()), 19200u);
    // The next "MON:" opens the handshake again.
    Handshake();
    FinishLink();
}

TEST_F(LinkThreadTest, OutboxFrameGoesOutAtTheOldSpeedBeforeTheSwitch) {
    ScriptedReceiver::Tags tags{};
    ExpectAnswer(receiver.Exchange("MON:", &tags), tags, "FAST");
    ASSERT_TRUE(OutboxFeeder::Queue(std::string("Q")));

    // Fill the line towards the receiver so that the tool's answer cannot
    // be written whole until the receiver reads: until then the port must
    // stay at 19200 baud.
    PtyPair& pty = receiver.Pty();
    ASSERT_GT(pty.FillTowardsMaster(), 0u);

    tags = receiver.Send("OK:");
    // Wait until the tool has taken the whole "OK:" frame off the line.
    int pending = 1;
    for (auto deadline = std::chrono::steady_clock::now() + kHangGuard;
         pending > 0 && std::chrono::steady_clock::now() < deadline;) {
        ASSERT_EQ(ioctl(pty.SlaveFd(), FIONREAD, &pending), 0);
        if (pending > 0)
            std::this_thread::sleep_for(1ms);
    }
    ASSERT_EQ(pending, 0);
    for (int i = 0; i < 20; ++i) {
        EXPECT_EQ(ToolBaud(pty), 19200u);
        std::this_thread::sleep_for(1ms);
    }
    window.Pump();
    EXPECT_EQ(window.Count(WM_LINK_READY), 0);

    // Reading the line lets the answer out; then the switch follows.
    ExpectAnswer(receiver.ReadFrame(), tags, "Q");
    EXPECT_FALSE(receiver.TakeProblems().empty());  // the filler bytes
    ASSERT_TRUE(window.PumpUntilCount(WM_LINK_READY, 1));
    EXPECT_EQ(ToolBaud(pty), 38400u);
    EXPECT_FALSE(g_bOutboxFull);
    FinishLink();
}

// How the start of the frame text is classified, seen through the answer
// while a frame is queued: "OK:" lets it out, other text is answered ";",
// "MON:" is answered "FAST".
struct ClassifyCase {
    const char* name;
    const char* text;
    const char* answer;  // "(queued)" for the Outbox frame
};

class LinkClassifyTest : public LinkThreadTest, public ::testing::WithParamInterface<ClassifyCase> {};

TEST_P(LinkClassifyTest, AnswersByTheStartOfTheText) {
    ASSERT_TRUE(OutboxFeeder::Queue(std::string("Q")));
    ScriptedReceiver::Tags tags{};
    const std::optional<ToolFrame> answer = receiver.Exchange(GetParam().text, &tags);
    const std::string expected = std::strcmp(GetParam().answer, "(queued)") == 0 ? "Q" : GetParam().answer;
    ExpectAnswer(answer, tags, expected);
    if (expected == "Q") {
        // Cleared once the frame has been written, so just after it arrives.
        EXPECT_TRUE(WaitForStateFor([] { return !g_bOutboxFull.IsSet(); }, kHangGuard));
    } else {
        EXPECT_TRUE(g_bOutboxFull);
    }
    FinishLink();
}

INSTANTIATE_TEST_SUITE_P(
    Texts, LinkClassifyTest,
    ::testing::Values(ClassifyCase{"ok", "OK:", "(queued)"}, ClassifyCase{"ok_more", "OK:more", "(queued)"},
                      ClassifyCase{"okx", "OKX", ";"}, ClassifyCase{"ok_short", "OK", ";"},
                      ClassifyCase{"ok_lower", "ok:", ";"}, ClassifyCase{"empty", "", ";"},
                      ClassifyCase{"mon", "MON:", "FAST"}, ClassifyCase{"mon_ok", "MON:OK:", "FAST"},
                      ClassifyCase{"mon_short", "MON", ";"}, ClassifyCase{"erro", "ERRO", ";"},
                      ClassifyCase{"space_ok", " OK:", ";"}),
    [](const ::testing::TestParamInfo<ClassifyCase>& info) { return info.param.name; });

TEST_F(LinkThreadTest, StaleBytesBehindAShortFrameDoNotMakeItOk) {
    ASSERT_TRUE(OutboxFeeder::Queue(std::string("Q")));
    ScriptedReceiver::Tags tags{};
    // Leaves ':' at payload byte 4 of InFrame.
    ExpectAnswer(receiver.Exchange("ab:", &tags), tags, ";");
    // Text "O" whose checksum byte (payload byte 3) is 'K': read past its
    // length, the buffer would say "OK:".
    ASSERT_EQ(ReceiverFrameChecksum(0x7D, 0x7D, "O"), 'K');
    receiver.SendWithTags(0x7D, 0x7D, "O");
    ExpectAnswer(receiver.ReadFrame(), {0x7D, 0x7D}, ";");
    EXPECT_TRUE(g_bOutboxFull);
    ExpectAnswer(receiver.Exchange("OK:", &tags), tags, "Q");
    FinishLink();
}

TEST_F(LinkThreadTest, ErrorWhileAFrameIsQueuedAbortsAfterTheMessage) {
    GatedMessageBox box;
    ScopedMessageBoxPresenter install(&box);
    Handshake();
    ASSERT_TRUE(OutboxFeeder::Queue(std::string("X")));
    receiver.Send("ERRORS FOLLOW");
    ASSERT_TRUE(box.WaitShown(kHangGuard));
    // The thread waits for the operator before it stops anything.
    EXPECT_TRUE(g_bOutboxFull);
    EXPECT_FALSE(g_bAbort);
    box.Dismiss();
    ASSERT_TRUE(window.PumpUntilCount(WM_LINK_CLOSED, 1));
    ASSERT_TRUE(JoinWorkerThreads(kHangGuard));
    EXPECT_TRUE(g_bAbort);
    EXPECT_FALSE(g_bOutboxFull);
    EXPECT_EQ(box.Texts(), std::vector<std::string>{"Communication error.  Program will exit."});
    // "ERROR" is not answered and the queued frame never went out.
    EXPECT_TRUE(receiver.ReadAvailableFrames().empty());
}

// An "OK:" while a second data file starts (g_bTransferDone still set from
// the first): no profile change, the wait ends at once, the queued frame is
// sent if there is one and nothing otherwise, and transfer mode ends.
class SecondDataFileTest : public LinkThreadTest, public ::testing::WithParamInterface<bool> {};

TEST_P(SecondDataFileTest, LeavesTransferModeAtTheFirstOk) {
    const bool headerQueued = GetParam();
    Handshake();
    g_bTransferDone.Set();
    g_bTransferActive.Set();
    const std::vector<std::uint8_t> header = {'H', 'E', 'A', 'D', 'E', 'R'};
    if (headerQueued) {
        ASSERT_TRUE(OutboxFeeder::Queue(header));
    }

    const ScriptedReceiver::Tags okTags = receiver.Send("OK:");
    if (headerQueued) {
        ExpectAnswer(receiver.ReadFrame(), okTags, "HEADER");
    } else {
        // Unanswered: the next answer belongs to the next frame.
        ScriptedReceiver::Tags tags{};
        ExpectAnswer(receiver.Exchange("BOOT", &tags), tags, ";");
    }
    ASSERT_TRUE(WaitForStateFor([] { return !g_bTransferActive.IsSet(); }, kHangGuard));
    EXPECT_EQ(ToolPort()->GetReadProfile(), ReadProfile::Normal);

    // The rest of the file goes out through the ordinary "OK:" handling.
    ScriptedReceiver::Tags tags{};
    ASSERT_TRUE(OutboxFeeder::Queue(std::string("*chunk")));
    ExpectAnswer(receiver.Exchange("OK:", &tags), tags, "*chunk");
    ExpectAnswer(receiver.Exchange("OK:", &tags), tags, ";");
    FinishLink();
}

INSTANTIATE_TEST_SUITE_P(HeaderQueued, SecondDataFileTest, ::testing::Bool());

TEST_F(LinkThreadTest, EndsOnUploadFinishedAfterAtMostOneMoreFrame) {
    Handshake();
    g_bUploadFinished.Set();
    for (int i = 0; i < 5; ++i)
        receiver.Send("OK:");
    ASSERT_TRUE(window.PumpUntilCount(WM_LINK_CLOSED, 1));
    ASSERT_TRUE(JoinWorkerThreads(kHangGuard));
    EXPECT_LE(receiver.ReadAvailableFrames().size(), 1u);
    EXPECT_FALSE(g_bLinkRunning);
}

TEST_F(LinkThreadTest, ClosedPortEndsTheThreadQuietly) {
    Handshake();
    CloseCommPort();
    ASSERT_TRUE(window.PumpUntilCount(WM_LINK_CLOSED, 1));
    ASSERT_TRUE(JoinWorkerThreads(kHangGuard));
    EXPECT_EQ(messages.Count(), 0u);
    EXPECT_FALSE(g_bAbort);
}

TEST_F(LinkThreadTest, HangUpShowsTheCommunicationErrorAndAborts) {
    Handshake();
    ASSERT_TRUE(OutboxFeeder::Queue(std::string("X")));
    receiver.Pty().CloseMaster();
    ASSERT_TRUE(window.PumpUntilCount(WM_LINK_CLOSED, 1));
    ASSERT_TRUE(JoinWorkerThreads(kHangGuard));
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{LoadResString(IDS_COMMUNICATION_ERROR)});
    EXPECT_TRUE(g_bAbort);
    EXPECT_FALSE(g_bOutboxFull);
}

// Every way the link ends on a line that has gone quiet: it sees the end at
// once (nothing arrives to wake it), and whoever WM_LINK_CLOSED wakes finds
// g_bLinkRunning already clear.
struct EndCase {
    const char* name;
    void (*end)(ScriptedReceiver& receiver);
    bool aborted;   // g_bAbort set afterwards
    bool reported;  // the communication error shown
};

void PrintTo(const EndCase& c, std::ostream* os) { *os << c.name; }

class LinkEndTest : public LinkThreadTest, public ::testing::WithParamInterface<EndCase> {};

TEST_P(LinkEndTest, EndsAtOnceAndIsNoLongerRunningWhenItSaysSo) {
    Handshake();
    std::atomic<int> postsWhileRunning{0};
    SetPostedMessageHook([&] { postsWhileRunning += g_bLinkRunning.IsSet() ? 1 : 0; });
    GetParam().end(receiver);
    const bool closed = window.PumpUntilCount(WM_LINK_CLOSED, 1);
    SetPostedMessageHook({});
    ASSERT_TRUE(closed);
    ASSERT_TRUE(JoinWorkerThreads(kHangGuard));
    EXPECT_EQ(postsWhileRunning, 0);
    EXPECT_EQ(g_bAbort.IsSet(), GetParam().aborted);
    EXPECT_EQ(messages.Count(), GetParam().reported ? 1u : 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Ends, LinkEndTest,
    ::testing::Values(EndCase{"upload_finished", [](ScriptedReceiver&) { g_bUploadFinished.Set(); }, false, false},
                      EndCase{"abort", [](ScriptedReceiver&) { g_bAbort.Set(); }, true, false},
                      EndCase{"port_closed", [](ScriptedReceiver&) { CloseCommPort(); }, false, false},
                      EndCase{"hang_up", [](ScriptedReceiver& r) { r.Pty().CloseMaster(); }, true, true},
                      EndCase{"receiver_error", [](ScriptedReceiver& r) { r.Send("ERROR"); }, true, true}),
    [](const ::testing::TestParamInfo<EndCase>& info) { return info.param.name; });

TEST_F(LinkThreadTest, BadFramesAreDroppedUnanswered) {
    ScriptedReceiver::Tags tags{};
    receiver.Send("OK:", /*badChecksum=*/true);
    receiver.SendRaw({0x55, 0xFF, 0xFE, 0x02, 0x13});  // stray, and FE 02
    receiver.SendRaw({0x00, 0x00});                     // NULs are discarded by the port
    ExpectAnswer(receiver.Exchange("MON:", &tags), tags, "FAST");
    FinishLink();
}

// ---------------------------------------------------------------------------
// Against the simulated receiver, end to end.

class LinkWithSimTest : public ::testing::Test {
protected:
    std::unique_ptr<ReceiverSim> StartSim(SimOptions options) {
        options.keepFileData = true;
        std::string reason;
        std::unique_ptr<ReceiverSim> sim = ReceiverSim::CreatePty(std::move(options), &reason);
        EXPECT_TRUE(sim) << reason;
        if (sim)
            sim->Start();
        return sim;
    }

    SharedStateReset reset;
    InstalledRecordingMessageBox messages;
    PostedMessageLog window;
};

struct SimRunCase {
    const char* name;
    SimOptions options;
};

class LinkUploadWithSimTest : public LinkWithSimTest, public ::testing::WithParamInterface<SimRunCase> {};

TEST_P(LinkUploadWithSimTest, UploadArrivesWhole) {
    std::unique_ptr<ReceiverSim> sim = StartSim(GetParam().options);
    ASSERT_TRUE(sim);
    ASSERT_TRUE(OpenToolPort(sim->ToolPath()));
    ASSERT_TRUE(StartLinkThread(window));
    ASSERT_TRUE(window.PumpUntilCount(WM_LINK_READY, 1));

    const std::vector<std::uint8_t> file = TestFileBytes(6 + 64 * 20 + 17, 7);
    OutboxFeeder feeder;
    feeder.StartUpload({"E123456", "Q"}, file, {"X"});
    ASSERT_TRUE(sim->WaitUntil([](const SimReport& r) { return r.commands.size() == 3; }, kHangGuard))
        << sim->Report().Summary();
    feeder.Join();
    g_bUploadFinished.Set();
    ASSERT_TRUE(window.PumpUntilCount(WM_LINK_CLOSED, 1));
    ASSERT_TRUE(JoinWorkerThreads(kHangGuard));
    sim->Stop();

    const SimReport report = sim->Report();
    EXPECT_TRUE(report.handshakeDone);
    EXPECT_EQ(report.commands, (std::vector<std::string>{"E123456", "Q", "X"}));
    ASSERT_EQ(report.files.size(), 1u);
    EXPECT_TRUE(report.files[0].complete) << report.files[0].problem;
    EXPECT_EQ(report.files[0].data, file);
    EXPECT_TRUE(report.errors.empty()) << report.Summary();
    EXPECT_EQ(messages.Count(), 0u);
    EXPECT_EQ(window.Count(WM_LINK_READY), 1);
}

SimOptions Faults(unsigned stray, bool nul, unsigned badChecksum) {
    SimOptions options;
    options.strayEvery = stray;
    options.nulBytes = nul;
    options.badChecksumEvery = badChecksum;
    options.answerTimeoutMs = 100;
    return options;
}

INSTANTIATE_TEST_SUITE_P(Lines, LinkUploadWithSimTest,
                         ::testing::Values(SimRunCase{"clean", SimOptions{}},
                                           SimRunCase{"stray", Faults(3, false, 0)},
                                           SimRunCase{"nul", Faults(0, true, 0)},
                                           SimRunCase{"bad_checksum", Faults(0, false, 5)},
                                           SimRunCase{"all", Faults(4, true, 7)}),
                         [](const ::testing::TestParamInfo<SimRunCase>& info) { return info.param.name; });

TEST_F(LinkWithSimTest, ErrorFromTheReceiverAbortsTheRun) {
    SimOptions options;
    options.errorAfter = 6;  // after the handshake
    std::unique_ptr<ReceiverSim> sim = StartSim(options);
    ASSERT_TRUE(sim);
    ASSERT_TRUE(OpenToolPort(sim->ToolPath()));
    ASSERT_TRUE(StartLinkThread(window));
    ASSERT_TRUE(window.PumpUntilCount(WM_LINK_CLOSED, 1));
    ASSERT_TRUE(JoinWorkerThreads(kHangGuard));
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{LoadResString(IDS_COMMUNICATION_ERROR)});
    EXPECT_TRUE(g_bAbort);
    sim->Stop();
    EXPECT_EQ(sim->Report().errorsSent, 1u);
    EXPECT_TRUE(sim->Report().errors.empty()) << sim->Report().Summary();
}

TEST_F(LinkWithSimTest, HangUpOfTheLineShowsTheCommunicationError) {
    SimOptions options;
    options.hangupAfter = 8;
    std::unique_ptr<ReceiverSim> sim = StartSim(options);
    ASSERT_TRUE(sim);
    ASSERT_TRUE(OpenToolPort(sim->ToolPath()));
    ASSERT_TRUE(StartLinkThread(window));
    ASSERT_TRUE(window.PumpUntilCount(WM_LINK_CLOSED, 1));
    ASSERT_TRUE(JoinWorkerThreads(kHangGuard));
    EXPECT_EQ(messages.Texts(), std::vector<std::string>{LoadResString(IDS_COMMUNICATION_ERROR)});
    EXPECT_TRUE(g_bAbort);
    EXPECT_TRUE(sim->WaitUntil([](const SimReport& r) { return r.hungUp; }, kHangGuard));
}

// Back in the connection wait dialog, then Connect again in the same run:
// the port is reopened at 19200 and the receiver restarted; the second
// handshake must complete.
TEST_F(LinkWithSimTest, SecondConnectAfterBackCompletesTheHandshake) {
    std::unique_ptr<ReceiverSim> sim = StartSim(SimOptions{});
    ASSERT_TRUE(sim);
    ASSERT_TRUE(OpenToolPort(sim->ToolPath()));
    ASSERT_TRUE(StartLinkThread(window));
    ASSERT_TRUE(window.PumpUntilCount(WM_LINK_READY, 1));
    ASSERT_TRUE(sim->WaitUntil([](const SimReport& r) { return r.handshakes == 1; }, kHangGuard));

    // Back: abort, the Connect sequence closes the port; the receiver is
    // switched off.
    g_bAbort.Set();
    CloseCommPort();
    ASSERT_TRUE(window.PumpUntilCount(WM_LINK_CLOSED, 1));
    ASSERT_TRUE(JoinWorkerThreads(kHangGuard));
    sim->PowerOff();

    ASSERT_TRUE(OpenToolPort(sim->ToolPath()));
    EXPECT_EQ(ToolPort()->GetReadProfile(), ReadProfile::Normal);
    ASSERT_TRUE(StartLinkThread(window));
    sim->PowerOn();
    ASSERT_TRUE(window.PumpUntilCount(WM_LINK_READY, 2));
    ASSERT_TRUE(sim->WaitUntil([](const SimReport& r) { return r.handshakes >= 2; }, kHangGuard))
        << sim->Report().Summary();
    LineSettings settings;
    ASSERT_TRUE(ToolPort()->GetLineSettings(&settings));
    EXPECT_EQ(settings.baudRate, 38400u);

    g_bUploadFinished.Set();
    ASSERT_TRUE(window.PumpUntilCount(WM_LINK_CLOSED, 2));
    ASSERT_TRUE(JoinWorkerThreads(kHangGuard));
    sim->Stop();
    EXPECT_TRUE(sim->Report().errors.empty()) << sim->Report().Summary();
    EXPECT_EQ(messages.Count(), 0u);
}

}  // namespace
