// The frame reader fed any byte stream from the port.
//
// The input goes down a real pseudo-terminal to the tool's port, followed by
// bytes that end any frame left open and a sentinel frame. FrameBuffer::
// ReadFrame() is called until it returns the sentinel; the frames it accepts
// on the way must be exactly those a one-stray-byte-per-attempt reader
// accepts from the same stream (ExpectedFrames), each with a correct
// checksum, and no attempt may overrun the buffer or hang.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "link/frame_buffer.h"
#include "link/frame_format.h"
#include "link/shared_state.h"

namespace {

// The pty holds about 4 KiB on the way to the port; the whole stream is put
// there before reading starts, so the input is cut to fit with room to spare.
constexpr std::size_t kMaxInput = 2048;

FrameBytes Received(const FrameBuffer& in) {
    FrameBytes bytes{in.m_byAddr0, in.m_byAddr1, in.m_byLength};
    bytes.insert(bytes.end(), in.m_abyPayload, in.m_abyPayload + in.m_byLength + 1);
    return bytes;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SilenceMessageBoxes();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> stream = StreamWithSentinel(data, size, kMaxInput);
    const FrameBytes sentinel = SentinelFrame();
    const std::vector<FrameBytes> expected = ExpectedFrames(stream);

    ResetLinkState();
    FuzzPort port;
    if (!port.Pty().Deliver(stream))
        FuzzFail("the stream did not reach the port");

    std::vector<FrameBytes> accepted;
    // Every attempt takes at least one byte: more attempts than bytes means
    // the reader has stopped consuming.
    for (std::size_t attempts = 0; attempts <= stream.size(); ++attempts) {
        InFrame = FrameBuffer();
        if (!InFrame.ReadFrame())
            continue;
        if (!InFrame.VerifyChecksum() || InFrame.m_byAddr0 != frame::kReceiverAddr0 ||
            InFrame.m_byAddr1 != frame::kReceiverAddr1)
            FuzzFail("a frame was accepted that is not a well-formed receiver frame");
        accepted.push_back(Received(InFrame));
        if (accepted.back() != sentinel)
            continue;
        // A sentinel inside the input ends the run early; what was read up
        // to it must still match.
        if (accepted.size() > expected.size() ||
            !std::equal(accepted.begin(), accepted.end(), expected.begin()))
            FuzzFail("the frames accepted differ from the frames in the stream");
        return 0;
    }
    FuzzFail("the sentinel frame behind the input was never read");
}
