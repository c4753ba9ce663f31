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

// Gives up the rest of the time slice, so that the other threads see the
// flags this thread has just changed.
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

// Answers InFrame with a word of the link ("FAST" or ";").
void WriteAnswer(std::string_view word) {
    ReplyFrame.m_byLength = static_cast<BYTE>(frame::kTagSize + word.size());
    std::memcpy(&ReplyFrame.m_abyPayload[frame::kTextOffset], word.data(), word.size());
    AddressReplyToInFrame();
    ReplyFrame.WriteFrame();
}

// Answers InFrame with the queued Outbox frame and frees the slot. The copy
// is written before g_bOutboxFull is cleared, so UploadThread cannot refill
// Outbox while it is still being read.
void SendOutbox() {
    ReplyFrame.m_byLength = Outbox.m_byLength;
    std::memcpy(ReplyFrame.m_abyPayload, Outbox.m_abyPayload, Outbox.m_byLength);
    AddressReplyToInFrame();
    ReplyFrame.WriteFrame();
    g_bOutboxFull.Clear();
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
// this thread; clearing g_bOutboxFull releases an UploadThread waiting for
// the slot. The queued frame is never sent.
void AbortOnCommunicationError() {
    AfxMessageBox(IDS_COMMUNICATION_ERROR);
    g_bAbort.Set();
    g_bOutboxFull.Clear();
}

// An "OK:" while a data file is streamed: the answer is held back until the
// next frame of the file is queued (or the file is done), and the port reads
// with the transfer profile so that the next "OK:" is taken at once.
void ServeTransfer(bool* pbFirstTransfer) {
    if (*pbFirstTransfer) {
        SetReadTimeouts(true);
        *pbFirstTransfer = false;
    }
    // UploadThread sets one of the two in every case, abort included.
    WaitForState([] { return g_bTransferDone.IsSet() || g_bOutboxFull.IsSet(); });
    if (g_bOutboxFull)
        SendOutbox();
    if (g_bTransferDone) {
        SetReadTimeouts(false);
        g_bTransferActive.Clear();
    }
}

void AnswerOk(bool* pbSwitchPending, bool* pbFirstTransfer) {
    if (ReplyFrame.m_bFastRequested && !ReplyFrame.m_bFastActive)
        *pbSwitchPending = true;
    if (g_bTransferActive) {
        ServeTransfer(pbFirstTransfer);
    } else if (g_bOutboxFull) {
        SendOutbox();
    } else {
        WriteAnswer(frame::kAnswerAck);
    }
    Yield();
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
            // The port's read time-out paces this loop on an idle line.
            const PortState state = CheckPort();
            if (state == PortState::Closed)
                break;
            if (state == PortState::Failed) {
                // A run already ending needs no message.
                if (!g_bAbort && !g_bUploadFinished)
                    AbortOnCommunicationError();
                break;
            }
            continue;
        }
        g_tLastHeard.Touch();
        if (InFrame.TextBeginsWith(frame::kWordMon)) {
            WriteAnswer(frame::kAnswerFast);
            ReplyFrame.m_bFastRequested = 1;
            Yield();
            continue;
        }
        if (InFrame.TextBeginsWith(frame::kWordError)) {
            // Not answered.
            AbortOnCommunicationError();
            continue;
        }
        if (InFrame.TextBeginsWith(frame::kWordOk)) {
            AnswerOk(&bSwitchPending, &bFirstTransfer);
        } else {
            WriteAnswer(frame::kAnswerAck);
            Yield();
        }
        if (bSwitchPending)
            SwitchSpeed(hwnd, &bSwitchPending);
        ReplyFrame.m_bFastRequested = 0;
    } while (!g_bAbort && !g_bUploadFinished);

    PostMessage(hwnd, WM_LINK_CLOSED, 0, 0);
    g_bLinkRunning.Clear();
    return 0;
}
