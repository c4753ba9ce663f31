#include "fuzz/fuzz_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "link/frame_buffer.h"
#include "link/frame_format.h"
#include "link/shared_state.h"
#include "platform/message_box.h"
#include "sim/sim_frames.h"

void FuzzFail(const char* what) {
    std::fprintf(stderr, "fuzz invariant broken: %s\n", what);
    std::abort();
}

FuzzPort::FuzzPort() {
    std::string reason;
    m_port = SerialPort::Open(m_pty.SlavePath(), &reason);
    if (!m_port || !m_port->SetLineSettings(LineSettings{})) {
        std::fprintf(stderr, "cannot open %s: %s\n", m_pty.SlavePath().c_str(), reason.c_str());
        FuzzFail("the port on a fresh pty could not be opened");
    }
    g_hComm.store(m_port.get(), std::memory_order_release);
}

FuzzPort::~FuzzPort() {
    m_port->Close();
    g_hComm.store(nullptr, std::memory_order_release);
}

std::vector<FrameBytes> ExpectedFrames(const std::vector<std::uint8_t>& stream,
                                       std::vector<std::size_t>* ends) {
    std::vector<std::uint8_t> bytes;
    std::vector<std::size_t> offsets;  // of each byte kept, in stream
    for (std::size_t i = 0; i < stream.size(); ++i) {
        if (stream[i] != 0x00) {
            bytes.push_back(stream[i]);
            offsets.push_back(i);
        }
    }

    std::vector<FrameBytes> frames;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        const std::size_t start = pos;
        if (bytes[pos++] != frame::kReceiverAddr0)
            continue;
        if (pos >= bytes.size() || bytes[pos++] != frame::kReceiverAddr1)
            continue;
        if (pos >= bytes.size())
            break;
        const std::size_t length = bytes[pos++];
        if (bytes.size() - pos < length + 1)
            break;
        pos += length + 1;
        const FrameBytes whole(bytes.begin() + start, bytes.begin() + pos);
        // Both address bytes, the length and the payload.
        const std::uint8_t sum = frame::Checksum(whole.data(), whole.data() + whole.size() - 1);
        if (sum != whole.back())
            continue;
        frames.push_back(whole);
        if (ends)
            ends->push_back(offsets[pos - 1] + 1);
    }
    return frames;
}

std::vector<std::uint8_t> ResyncPadding() {
    return std::vector<std::uint8_t>(2 + 1 + frame::kMaxPayload + 1 + 1, 0x55);
}

FrameBytes SentinelFrame() {
    // A text none of the link's words begins with, so that it is answered at
    // once; tags and checksum hold no 0x00 byte (the port would drop it).
    FrameBytes sentinel = BuildReceiverFrame(0x5A, 0x5B, "\x7F" "END");
    for (std::uint8_t b : sentinel)
        if (b == 0x00)
            FuzzFail("the sentinel frame holds a 0x00 byte");
    return sentinel;
}

std::vector<std::uint8_t> StreamWithSentinel(const std::uint8_t* data, std::size_t size, std::size_t maxInput) {
    std::vector<std::uint8_t> stream(data, data + std::min(size, maxInput));
    const std::vector<std::uint8_t> padding = ResyncPadding();
    const FrameBytes sentinel = SentinelFrame();
    stream.insert(stream.end(), padding.begin(), padding.end());
    stream.insert(stream.end(), sentinel.begin(), sentinel.end());
    return stream;
}

namespace {

class SilentMessageBox : public MessageBoxPresenter {
public:
    void Show(const OperatorMessage&) override {}
};

}  // namespace

void SilenceMessageBoxes() {
    static SilentMessageBox silent;
    SetMessageBoxPresenter(&silent);
}
