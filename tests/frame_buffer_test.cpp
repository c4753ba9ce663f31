#include "link/frame_buffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <thread>
#include <vector>

#include "link/port_setup.h"
#include "link/shared_state.h"
#include "support/pty_pair.h"
#include "support/recording_message_box.h"
#include "support/shared_state_reset.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

constexpr auto kHangGuard = 20s;

// FE 01 05 12 34 "OK:" 1E: a receiver frame with tag bytes 12 34.
const Bytes kOkFrame{0xFE, 0x01, 0x05, 0x12, 0x34, 0x4F, 0x4B, 0x3A, 0x1E};

Bytes Concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts)
        all.insert(all.end(), part.begin(), part.end());
    return all;
}

void Fill(FrameBuffer& buffer, BYTE addr0, BYTE addr1, const Bytes& payload) {
    buffer.m_byAddr0 = addr0;
    buffer.m_byAddr1 = addr1;
    buffer.m_byLength = static_cast<BYTE>(payload.size());
    std::copy(payload.begin(), payload.end(), buffer.m_abyPayload);
}

// The checksum worked out from the wire image alone.
BYTE WireChecksum(const FrameBuffer& buffer) {
    unsigned sum = 0;
    for (std::size_t i = 2; i < buffer.WireSize() - 1; ++i)
        sum += buffer.WireBytes()[i];
    return static_cast<BYTE>(sum);
}

class FrameLayoutTest : public testing::Test {
protected:
    FrameBuffer m_frame;
};

TEST_F(FrameLayoutTest, AcknowledgementChecksum) {
    Fill(m_frame, 0x01, 0xFE, {0x12, 0x34, ';'});
    EXPECT_EQ(m_frame.ComputeChecksum(), 0x83);
    EXPECT_EQ(m_frame.SetChecksum(), 0x83);
    const Bytes wire(m_frame.WireBytes(), m_frame.WireBytes() + m_frame.WireSize());
    EXPECT_EQ(wire, (Bytes{0xFF, 0xFF, 0x01, 0xFE, 0x03, 0x12, 0x34, 0x3B, 0x83}));
    EXPECT_TRUE(m_frame.VerifyChecksum());
}

TEST_F(FrameLayoutTest, OkFrameChecksum) {
    Fill(m_frame, 0xFE, 0x01, {0x12, 0x34, 'O', 'K', ':', 0x1E});
    m_frame.m_byLength = 5;
    EXPECT_EQ(m_frame.ComputeChecksum(), 0x1E);
    EXPECT_TRUE(m_frame.VerifyChecksum());
    m_frame.m_abyPayload[5] = 0x1F;
    EXPECT_FALSE(m_frame.VerifyChecksum());
}

TEST_F(FrameLayoutTest, EmptyPayloadIsSixBytesWithAThreeByteChecksum) {
    Fill(m_frame, 0xFE, 0x01, {});
    m_frame.m_abyPayload[0] = 0x77;  // the checksum slot: not summed
    m_frame.m_abyPayload[1] = 0x55;
    EXPECT_EQ(m_frame.WireSize(), 6u);
    EXPECT_EQ(m_frame.ComputeChecksum(), 0xFF);  // FE + 01 + 00
    m_frame.SetChecksum();
    EXPECT_EQ(m_frame.m_abyPayload[0], 0xFF);
    EXPECT_EQ(m_frame.WireBytes()[5], 0xFF);
    EXPECT_TRUE(m_frame.Text().empty());
}

TEST_F(FrameLayoutTest, LongestPayloadIs261BytesWithTheChecksumAt255) {
    Bytes payload(255, 0xFF);
    Fill(m_frame, 0xFE, 0x01, payload);
    EXPECT_EQ(m_frame.WireSize(), 261u);
    // FE + 01 + FF + 255 * FF, modulo 256.
    const BYTE expected = static_cast<BYTE>(0xFE + 0x01 + 0xFF + 255 * 0xFF);
    EXPECT_EQ(m_frame.ComputeChecksum(), expected);
    m_frame.SetChecksum();
    EXPECT_EQ(m_frame.m_abyPayload[255], expected);
    EXPECT_EQ(m_frame.WireBytes()[260], expected);
    EXPECT_EQ(WireChecksum(m_frame), expected);
}

TEST_F(FrameLayoutTest, WireImageIsTheMembersInOrder) {
    FrameBuffer fresh;
    EXPECT_EQ(fresh.WireBytes()[0], 0xFF);
    EXPECT_EQ(fresh.WireBytes()[1], 0xFF);
    EXPECT_EQ(fresh.m_bFastRequested, 0u);
    EXPECT_EQ(fresh.m_bFastActive, 0u);
    Fill(fresh, 0xAB, 0xCD, {0x10, 0x20, 0x30});
    const BYTE* wire = fresh.WireBytes();
    EXPECT_EQ(wire[2], 0xAB);
    EXPECT_EQ(wire[3], 0xCD);
    EXPECT_EQ(wire[4], 3);
    EXPECT_EQ(wire[5], 0x10);
    EXPECT_EQ(wire[7], 0x30);
}

TEST_F(FrameLayoutTest, TextIsComparedOnlyWithinTheFrame) {
    Fill(m_frame, 0xFE, 0x01, {0x12, 0x34, 'O', 'K', ':'});
    EXPECT_EQ(m_frame.Text(), "OK:");
    EXPECT_TRUE(m_frame.TextBeginsWith("OK:"));
    EXPECT_TRUE(m_frame.TextBeginsWith("OK"));
    EXPECT_FALSE(m_frame.TextBeginsWith("MON:"));
    // A shorter frame read into the same buffer leaves "K:" behind it.
    m_frame.m_byLength = 3;
    EXPECT_EQ(m_frame.Text(), "O");
    EXPECT_FALSE(m_frame.TextBeginsWith("OK:"));
    m_frame.m_byLength = 2;
    EXPECT_EQ(m_frame.Text(), "");
    EXPECT_FALSE(m_frame.TextBeginsWith("O"));
    m_frame.m_byLength = 1;
    EXPECT_EQ(m_frame.Text(), "");
}

// Frames over a real pseudo-terminal, through the port that OpenCommPort
// puts in g_hComm.
class FrameIoTest : public testing::Test {
protected:
    void SetUp() override {
        PortSettings settings;
        settings.m_strDevice = m_pty.SlavePath();
        ASSERT_TRUE(OpenCommPort(settings));
    }

    PtyPair m_pty;
    SharedStateReset m_reset;
    InstalledRecordingMessageBox m_messages;
};

TEST_F(FrameIoTest, StrayBytesAreDroppedOnePerCall) {
    ASSERT_TRUE(m_pty.Deliver(Concat({{0xFF, 0xFF}, kOkFrame})));
    EXPECT_FALSE(InFrame.ReadFrame());
    EXPECT_FALSE(InFrame.ReadFrame());
    ASSERT_TRUE(InFrame.ReadFrame());
    EXPECT_EQ(InFrame.m_byAddr0, 0xFE);
    EXPECT_EQ(InFrame.m_byAddr1, 0x01);
    EXPECT_EQ(InFrame.m_byLength, 5);
    EXPECT_EQ(InFrame.m_abyPayload[0], 0x12);
    EXPECT_EQ(InFrame.m_abyPayload[1], 0x34);
    EXPECT_TRUE(InFrame.TextBeginsWith("OK:"));
}

TEST_F(FrameIoTest, WrongSecondAddressByteConsumesBoth) {
    // FE 02 is rejected with both bytes gone; the frame behind it is read
    // whole by the next call.
    ASSERT_TRUE(m_pty.Deliver(Concat({{0xFE, 0x02}, kOkFrame})));
    EXPECT_FALSE(InFrame.ReadFrame());
    EXPECT_TRUE(InFrame.ReadFrame());
    EXPECT_TRUE(InFrame.TextBeginsWith("OK:"));
}

TEST_F(FrameIoTest, FrameStartingRightAfterAnFeIsLost) {
    // FE FE 01 ...: the second FE is taken as address byte 1, and the 01
    // behind it fails the first check of the next call.
    Bytes bytes = Concat({{0xFE}, kOkFrame});
    ASSERT_TRUE(m_pty.Deliver(bytes));
    g_hComm.load()->Wake();  // so that a call that finds the line empty returns
    for (std::size_t call = 0; call < bytes.size(); ++call)
        EXPECT_FALSE(InFrame.ReadFrame()) << call;
}

TEST_F(FrameIoTest, WrongChecksumIsDroppedAndTheNextCallStartsBehindIt) {
    const Bytes bad = Concat({Bytes(kOkFrame.begin(), kOkFrame.end() - 1), {0x1F}});
    ASSERT_TRUE(m_pty.Deliver(Concat({bad, kOkFrame})));
    EXPECT_FALSE(InFrame.ReadFrame());
    EXPECT_TRUE(InFrame.ReadFrame());
    EXPECT_EQ(InFrame.m_abyPayload[5], 0x1E);
}

// On an idle line the first read sleeps; each flag the link loop tests
// wakes it, and the call returns false with nothing consumed.
TEST_F(FrameIoTest, IdleLineReturnsFalseWhenALinkFlagChanges) {
    for (SharedFlag* flag : {&g_bAbort, &g_bUploadFinished}) {
        for (bool transfer : {false, true}) {
            flag->Clear();
            SetReadTimeouts(transfer);
            // Takes the wake-up that the Clear() may have left.
            g_hComm.load()->Wake();
            EXPECT_FALSE(InFrame.ReadFrame());
            auto reader = std::async(std::launch::async, [] { return InFrame.ReadFrame(); });
            flag->Set();
            ASSERT_EQ(reader.wait_for(kHangGuard), std::future_status::ready) << transfer;
            EXPECT_FALSE(reader.get()) << transfer;
        }
        flag->Clear();
    }
    ASSERT_TRUE(m_pty.Deliver(kOkFrame));
    EXPECT_TRUE(InFrame.ReadFrame());
}

TEST_F(FrameIoTest, NulBytesInsideAFrameAreDiscardedByThePort) {
    ASSERT_TRUE(m_pty.Deliver({0x00, 0xFE, 0x00, 0x01, 0x05, 0x12, 0x00, 0x00, 0x34, 0x4F, 0x4B, 0x00, 0x3A, 0x1E}));
    ASSERT_TRUE(InFrame.ReadFrame());
    EXPECT_TRUE(InFrame.TextBeginsWith("OK:"));
    EXPECT_EQ(InFrame.m_abyPayload[1], 0x34);
}

TEST_F(FrameIoTest, TheRestOfAFrameIsAwaitedUntilItArrives) {
    ASSERT_TRUE(m_pty.Deliver(Bytes(kOkFrame.begin(), kOkFrame.begin() + 4)));
    auto reader = std::async(std::launch::async, [] { return InFrame.ReadFrame(); });
    // Whenever the rest arrives, the waiting reader takes it.
    std::this_thread::sleep_for(20ms);
    ASSERT_TRUE(m_pty.WriteMaster(Bytes(kOkFrame.begin() + 4, kOkFrame.end())));
    ASSERT_EQ(reader.wait_for(kHangGuard), std::future_status::ready);
    EXPECT_TRUE(reader.get());
    EXPECT_TRUE(InFrame.TextBeginsWith("OK:"));
}

TEST_F(FrameIoTest, AbortEndsTheWaitForTheRestOfAFrame) {
    for (bool transfer : {false, true}) {
        g_bAbort.Clear();
        SetReadTimeouts(transfer);
        ASSERT_TRUE(m_pty.Deliver({0xFE, 0x01, 0x05, 0x12}));
        auto reader = std::async(std::launch::async, [] { return InFrame.ReadFrame(); });
        // Without the abort this read would wait for ever.
        ASSERT_TRUE(m_pty.WaitUntilSlaveInputTaken(kHangGuard));
        g_bAbort.Set();
        ASSERT_EQ(reader.wait_for(kHangGuard), std::future_status::ready) << transfer;
        EXPECT_FALSE(reader.get()) << transfer;
    }
}

TEST_F(FrameIoTest, ClosingThePortEndsTheWaitForTheRestOfAFrame) {
    ASSERT_TRUE(m_pty.Deliver({0xFE, 0x01}));
    auto reader = std::async(std::launch::async, [] { return InFrame.ReadFrame(); });
    CloseCommPort();
    ASSERT_EQ(reader.wait_for(kHangGuard), std::future_status::ready);
    EXPECT_FALSE(reader.get());
}

TEST_F(FrameIoTest, AHangUpEndsTheReadAndMarksThePortDead) {
    ASSERT_TRUE(m_pty.Deliver({0xFE, 0x01, 0x05}));
    auto reader = std::async(std::launch::async, [] { return InFrame.ReadFrame(); });
    m_pty.CloseMaster();
    ASSERT_EQ(reader.wait_for(kHangGuard), std::future_status::ready);
    EXPECT_FALSE(reader.get());
    EXPECT_FALSE(InFrame.ReadFrame());
    EXPECT_TRUE(g_hComm.load()->IsDead());
}

TEST_F(FrameIoTest, WriteFrameSendsLPlusSixBytesWithAFreshChecksum) {
    Fill(ReplyFrame, 0x01, 0xFE, {0x12, 0x34, ';'});
    ReplyFrame.m_abyPayload[3] = 0x00;  // stale checksum slot
    EXPECT_TRUE(ReplyFrame.WriteFrame());
    const Bytes expected{0xFF, 0xFF, 0x01, 0xFE, 0x03, 0x12, 0x34, 0x3B, 0x83};
    EXPECT_EQ(m_pty.ReadMaster(expected.size(), kHangGuard), expected);

    // A longest frame next: exactly its 261 bytes follow, nothing more.
    Bytes payload(255);
    for (std::size_t i = 0; i < payload.size(); ++i)
        payload[i] = static_cast<std::uint8_t>(i);
    Fill(ReplyFrame, 0x01, 0xFE, payload);
    EXPECT_TRUE(ReplyFrame.WriteFrame());
    const Bytes wire = m_pty.ReadMaster(261, kHangGuard);
    ASSERT_EQ(wire.size(), 261u);
    EXPECT_TRUE(m_pty.ReadMaster(1, 50ms).empty());
    EXPECT_EQ(wire.back(), WireChecksum(ReplyFrame));
    EXPECT_TRUE(std::equal(payload.begin(), payload.end(), wire.begin() + 5));
}

TEST_F(FrameIoTest, WriteFrameOnAClosedPortFails) {
    CloseCommPort();
    Fill(ReplyFrame, 0x01, 0xFE, {0x12, 0x34, ';'});
    EXPECT_FALSE(ReplyFrame.WriteFrame());
    EXPECT_FALSE(InFrame.ReadFrame());
}

TEST(FrameIoWithoutPort, ReadAndWriteFail) {
    SharedStateReset reset;
    FrameBuffer frame;
    EXPECT_FALSE(frame.ReadFrame());
    EXPECT_FALSE(frame.WriteFrame());
}

}  // namespace
