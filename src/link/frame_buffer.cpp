#include "link/frame_buffer.h"

#include <cstddef>
#include <cstring>
#include <type_traits>

#include "link/frame_trace.h"
#include "link/shared_state.h"
#include "platform/serial_port.h"

// The image from m_abyPreamble on must be exactly the bytes on the wire.
static_assert(std::is_standard_layout_v<FrameBuffer>);
static_assert(offsetof(FrameBuffer, m_byAddr0) == offsetof(FrameBuffer, m_abyPreamble) + 2);
static_assert(offsetof(FrameBuffer, m_byAddr1) == offsetof(FrameBuffer, m_abyPreamble) + 3);
static_assert(offsetof(FrameBuffer, m_byLength) == offsetof(FrameBuffer, m_abyPreamble) + 4);
static_assert(offsetof(FrameBuffer, m_abyPayload) == offsetof(FrameBuffer, m_abyPreamble) + 5);
static_assert(sizeof(FrameBuffer::m_abyPayload) >= frame::kMaxPayload + 1);

FrameBuffer Outbox;
FrameBuffer InFrame;
FrameBuffer ReplyFrame;
FrameBuffer* const g_pOutbox = &Outbox;

FrameBuffer::FrameBuffer()
    : m_bFlag0(0), m_bFastRequested(0), m_bFastActive(0), m_bFlag3(0),
      m_abyPreamble{frame::kPreambleByte, frame::kPreambleByte}, m_byAddr0(0), m_byAddr1(0),
      m_byLength(0), m_abyPayload{} {}

BYTE FrameBuffer::ComputeChecksum() const {
    // The sum covers L+3 bytes (up to 258), so it is formed in a wide type and
    // only its low 8 bits are kept.
    unsigned sum = unsigned{m_byAddr0} + m_byAddr1 + m_byLength;
    sum += frame::Checksum(m_abyPayload, m_abyPayload + m_byLength);
    return static_cast<BYTE>(sum);
}

BYTE FrameBuffer::SetChecksum() {
    m_abyPayload[m_byLength] = ComputeChecksum();
    return m_abyPayload[m_byLength];
}

bool FrameBuffer::VerifyChecksum() const {
    return m_abyPayload[m_byLength] == ComputeChecksum();
}

namespace {

// Reads one byte, repeating the read while it delivers nothing, until a byte
// arrives, a read fails, or g_bAbort is set. True when a byte was stored.
bool ReadByteWaiting(SerialPort* port, BYTE* byte) {
    for (;;) {
        std::uint32_t count = 0;
        if (!port->ReadByte(byte, &count))
            return false;
        if (count == 1)
            return true;
        if (g_bAbort)
            return false;
    }
}

}  // namespace

bool FrameBuffer::ReadFrame() {
    SerialPort* port = g_hComm.load(std::memory_order_acquire);
    if (port == nullptr)
        return false;

    // Resynchronisation is one byte per call: whatever this call consumes
    // before it fails is gone.
    std::uint32_t count = 0;
    port->ReadByte(&m_byAddr0, &count);
    if (count != 1 || m_byAddr0 != frame::kReceiverAddr0)
        return false;
    if (!ReadByteWaiting(port, &m_byAddr1) || m_byAddr1 != frame::kReceiverAddr1)
        return false;
    if (!ReadByteWaiting(port, &m_byLength) || g_bAbort)
        return false;
    for (unsigned i = 0; i <= m_byLength; ++i) {
        if (!ReadByteWaiting(port, &m_abyPayload[i]))
            return false;
        if (g_bAbort)
            return false;
    }
    if (!VerifyChecksum())
        return false;
    if (FrameTraceEnabled()) {
        // As received: the two address bytes, the length, the payload and
        // the checksum (the receiver sends no preamble).
        BYTE received[frame::kMaxFrameSize];
        std::size_t size = 0;
        received[size++] = m_byAddr0;
        received[size++] = m_byAddr1;
        received[size++] = m_byLength;
        for (unsigned i = 0; i <= m_byLength; ++i)
            received[size++] = m_abyPayload[i];
        TraceFrame(false, received, size);
    }
    return true;
}

bool FrameBuffer::WriteFrame() {
    SetChecksum();
    SerialPort* port = g_hComm.load(std::memory_order_acquire);
    if (port == nullptr)
        return false;
    std::uint32_t written = 0;
    port->Write(WireBytes(), static_cast<DWORD>(WireSize()), &written);
    TraceFrame(true, WireBytes(), written);
    return written == WireSize();
}

const BYTE* FrameBuffer::WireBytes() const {
    // The wire image spans several members; it is reached through the
    // object's own bytes so that reading across them is well defined.
    return reinterpret_cast<const BYTE*>(this) + offsetof(FrameBuffer, m_abyPreamble);
}

std::string_view FrameBuffer::Text() const {
    if (m_byLength <= frame::kTextOffset)
        return {};
    return {reinterpret_cast<const char*>(&m_abyPayload[frame::kTextOffset]),
            static_cast<std::size_t>(m_byLength - frame::kTextOffset)};
}

bool FrameBuffer::TextBeginsWith(std::string_view word) const {
    return Text().starts_with(word);
}
