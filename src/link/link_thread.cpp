#include "link/link_thread.h"

#include <cstdint>
#include <cstring>
#include <string_view>
#include <thread>

#include "link/frame_buffer.h"
#include "link/frame_format.h"
#include "link/messages.h"
#include "link/port_setup.h"
#include "link/shared_state.h"
#include "platform/serial_port.h"
#include "platform/window.h"
#include "res/string_ids.h"

namespace {

// Gives up the rest of the time slice after an answer, as the link has
// always done between frames: the flags it changed are atomics, visible to
// the other threads at once; this only lets a thread waiting for them (the
// upload, refilling the Outbox) run before the next read.
void Yield() {
    std::this_thread::yield();
}

// Address bytes swapped and tag bytes copied from the frame being answered.
void AddressReplyToInFrame() {
    ReplyFrame.m_byAddr0 = InFrame.m_byAddr1;
    ReplyFrame.m_byAddr1 = InFrame.m_byAddr0;
    ReplyFrame.m_abyPayload[0] = InFrame.m_abyPayload[0];
    ReplyFrame.m_abyPayload[1] = InFrame.m_abyPayload[1];
}

// Answers InFrame with a word of the link ("FAST" or ";"). False when the
// answer was not written whole.
bool WriteAnswer(std::string_view word) {
    ReplyFrame.m_byLength = static_cast<BYTE>(frame::kTagSize + word.size());
    std::memcpy(&ReplyFrame.m_abyPayload[frame::kTextOffset], word.data(), word.size());
    AddressReplyToInFrame();
    return ReplyFrame.WriteFrame();
}

// Answers InFrame with the queued Outbox frame and frees the slot. The copy
// is written before g_bOutboxFull is cleared, so UploadThread cannot refill
// Outbox while it is still being read. A frame that was not written whole
// has not been taken: the slot stays full (false), and only the abort that
// follows releases UploadThread, so that it can never count the frame as
// sent.
bool SendOutbox() {
    ReplyFrame.m_byLength = Outbox.m_byLength;
    std::memcpy(ReplyFrame.m_abyPayload, Outbox.m_abyPayload, Outbox.m_byLength);
    AddressReplyToInFrame();
    if (!ReplyFrame.WriteFrame())
        return false;
    g_bOutboxFull.Clear();
    return true;
}

// The link flags describe the port. A port just opened by the Connect
// sequence runs at its configured speed, so unless it is already at 38400
// baud no switch has happened on it yet: without this, a second Connect after
// Back would reopen the port at 19200 while m_bFastActive still claimed
// 38400, and the handshake could never complete again.
void MatchLinkFlagsToPort() {
    SerialPort* port = g_hComm.load(std::memory_order_acquire);
    LineSettings settings;
    if (port == nullptr || !port->GetLineSettings(&settings))
        return;
    if (settings.baudRate != frame::kFastBaudRate) {
        ReplyFrame.m_bFastActive = 0;
        ReplyFrame.m_bFastRequested = 0;
    }
}

enum class PortState { Usable, Closed, Failed };

// After a failed read: a port that is closed (by the Connect sequence) or
// failed for good (unplugged, hung up) will never deliver another frame.
PortState CheckPort() {
    SerialPort* port = g_hComm.load(std::memory_order_acquire);
    if (port == nullptr || port->IsClosed())
        return PortState::Closed;
    if (port->IsDead())
        return PortState::Failed;
    return PortState::Usable;
}

// Tells the operator, then stops the run: g_bAbort stops UploadThread and
// this thread; clearing g_bOutboxFull (after the abort, so that no wait can
// take it for a frame sent) releases an UploadThread waiting for the slot.
// The queued frame is never sent.
void AbortOnCommunicationError() {
    AfxMessageBox(IDS_COMMUNICATION_ERROR);
    g_bAbort.Set();
    g_bOutboxFull.Clear();
}

enum class Failed { Read, Write };

// After a read or a write that failed: true when the thread must end. A port
// closed by the Connect sequence ends it quietly. A port that has failed, or
// that did not take a frame whole, is reported, unless the run is already
// ending. A read that failed on a usable port has only dropped bytes or been
// woken.
bool LinkLost(Failed what) {
    const PortState state = CheckPort();
    if (state == PortState::Usable && what == Failed::Read)
        return false;
    if (state != PortState::Closed && !g_bAbort && !g_bUploadFinished)
        AbortOnCommunicationError();
    return true;
}

// An "OK:" while a data file is streamed: the answer is held back until the
// next frame of the file is queued (or the file is done); the port is told
// that a transfer is on. False when the answer was not written whole.
bool ServeTransfer(bool* pbFirstTransfer) {
    if (*pbFirstTransfer) {
        SetReadTimeouts(true);
        *pbFirstTransfer = false;
    }
    // UploadThread sets one of the two in every case, abort included.
    WaitForState([] { return g_bTransferDone.IsSet() || g_bOutboxFull.IsSet(); });
    if (g_bOutboxFull && !SendOutbox())
        return false;
    if (g_bTransferDone) {
        SetReadTimeouts(false);
        g_bTransferActive.Clear();
    }
    return true;
}

// False when the answer was not written whole.
bool AnswerOk(bool* pbSwitchPending, bool* pbFirstTransfer) {
    if (ReplyFrame.m_bFastRequested && !ReplyFrame.m_bFastActive)
        *pbSwitchPending = true;
    bool written = true;
    if (g_bTransferActive)
        written = ServeTransfer(pbFirstTransfer);
    else if (g_bOutboxFull)
        written = SendOutbox();
    else
        written = WriteAnswer(frame::kAnswerAck);
    Yield();
    return written;
}

// Made once the answer to the "OK:" has been written at the old speed.
void SwitchSpeed(HWND hwnd, bool* pbSwitchPending) {
    SwitchToFastSpeed();
    ReplyFrame.m_bFastActive = 1;
    *pbSwitchPending = false;
    PostMessage(hwnd, WM_LINK_READY, 0, 0);
    Yield();
}

}  // namespace

UINT LinkThread(void* param) {
    const HWND hwnd = static_cast<HWND>(reinterpret_cast<std::uintptr_t>(param));
    g_bLinkRunning.Set();
    MatchLinkFlagsToPort();

    bool bSwitchPending = false;
    bool bFirstTransfer = true;
    do {
        if (!InFrame.ReadFrame()) {
            // No frame: a stray byte was dropped, the port was woken for a
            // flag the loop tests, or the port is gone.
            if (LinkLost(Failed::Read))
                break;
            continue;
        }
        g_tLastHeard.Touch();
        if (InFrame.TextBeginsWith(frame::kWordMon)) {
            if (!WriteAnswer(frame::kAnswerFast) && LinkLost(Failed::Write))
                break;
            ReplyFrame.m_bFastRequested = 1;
            Yield();
            continue;
        }
        if (InFrame.TextBeginsWith(frame::kWordError)) {
            // Not answered.
            AbortOnCommunicationError();
            continue;
        }
        bool written = true;
        if (InFrame.TextBeginsWith(frame::kWordOk)) {
            written = AnswerOk(&bSwitchPending, &bFirstTransfer);
        } else {
            written = WriteAnswer(frame::kAnswerAck);
            Yield();
        }
        if (!written && LinkLost(Failed::Write))
            break;
        if (bSwitchPending)
            SwitchSpeed(hwnd, &bSwitchPending);
        ReplyFrame.m_bFastRequested = 0;
    } while (!g_bAbort && !g_bUploadFinished);

    // Cleared first, so that whoever the post wakes finds the link ended.
    g_bLinkRunning.Clear();
    PostMessage(hwnd, WM_LINK_CLOSED, 0, 0);
    return 0;
}
