// FrameBuffer: the image of one link frame in wire order, and the three
// process-wide buffers Outbox, InFrame and ReplyFrame.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "link/frame_format.h"
#include "platform/win_types.h"

class FrameBuffer {
public:
    FrameBuffer();

    // Sum modulo 256 of m_byAddr0, m_byAddr1, m_byLength and the L payload bytes.
    BYTE ComputeChecksum() const;
    // Stores ComputeChecksum() at m_abyPayload[L] and returns it.
    BYTE SetChecksum();
    // True when m_abyPayload[L] equals ComputeChecksum().
    bool VerifyChecksum() const;

    // Reads one frame from g_hComm, one byte per port read, straight into the
    // members. Returns true only for a whole frame that began FE 01 and has a
    // correct checksum. On false, the bytes it consumed are gone (one stray
    // byte per call in front of a frame; FE 02 consumes both) and the members
    // hold whatever was read. The first read waits for a byte until the
    // port's reader is woken (g_bAbort or g_bUploadFinished changed) and then
    // returns false with no byte taken; once an 0xFE has been taken the rest
    // is awaited until it arrives, a read fails (port closed or dead) or
    // g_bAbort is set.
    bool ReadFrame();

    // Sets the checksum and writes the L+6 bytes from m_abyPreamble on to
    // g_hComm in one write. True when all L+6 bytes were written; false means
    // that the port is closed or has failed (there is no port, or it reports
    // IsClosed() or IsDead()).
    bool WriteFrame();

    // The frame text: payload bytes 2 to L-1 (empty when L < 2).
    std::string_view Text() const;
    // True when the frame text begins with word, compared only within the
    // frame's own length (stale bytes behind a short frame never match).
    bool TextBeginsWith(std::string_view word) const;

    // The frame image from the preamble on, L+6 bytes.
    const BYTE* WireBytes() const;
    std::size_t WireSize() const { return m_byLength + frame::kOverhead; }

    // Link flags, used in ReplyFrame only (by LinkThread).
    std::uint32_t m_bFlag0 : 1;
    std::uint32_t m_bFastRequested : 1;
    std::uint32_t m_bFastActive : 1;
    std::uint32_t m_bFlag3 : 1;

    BYTE m_abyPreamble[frame::kPreambleSize];
    BYTE m_byAddr0;
    BYTE m_byAddr1;
    BYTE m_byLength;
    BYTE m_abyPayload[frame::kMaxPayload + 1];  // payload, then the checksum at [L]
};

extern FrameBuffer Outbox;
extern FrameBuffer InFrame;
extern FrameBuffer ReplyFrame;

// UploadThread reaches Outbox through this pointer.
extern FrameBuffer* const g_pOutbox;
