// The link dialogue as a whole: a receiver sending arbitrary bytes.
//
// For each input LinkThread runs on a fresh pseudo-terminal with a real
// upload queued (UploadThread carrying out a script with an 'E', a 'Q', a
// data file and an 'X'). The input, bytes that end any frame left open and
// a sentinel frame go to the tool as a receiver sends them: up to the end of
// the next frame the tool will accept, then a pause for its answer (a short
// one: a receiver that does not wait is fuzzed as well). The answers are
// read until the sentinel is answered or the link ends, then the run is
// cancelled as the operator would. Checked on every answer the tool wrote:
//  - it is a whole frame, addressed 01 FE, with a correct checksum, no stray
//    byte around it;
//  - it answers a frame the receiver sent: the tags are copied from that
//    frame, frames are answered in order and none twice, "FAST" answers only
//    "MON:" and nothing answers "ERROR";
//  - the upload frames among the answers are the upload's frames in order,
//    each once, from the first on;
// and both worker threads end once the run is cancelled.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "link/frame_format.h"
#include "link/link_thread.h"
#include "link/shared_state.h"
#include "platform/thread.h"
#include "platform/window.h"
#include "sim/sim_frames.h"
#include "upload/upload_thread.h"

namespace {

// Answers and the received stream share the pty's buffers with nobody
// reading while the input is written: cut it to fit.
constexpr std::size_t kMaxInput = 2048;
// Guards against a hung run; a run that reaches one is a finding.
constexpr auto kAnswerGuard = std::chrono::seconds(10);
constexpr auto kJoinGuard = std::chrono::seconds(10);
// How long the receiver waits for an answer before it sends on.
constexpr auto kAnswerWait = std::chrono::milliseconds(100);

using Text = std::vector<std::uint8_t>;

// The upload the receiver is offered: its script, data file and the frame
// texts it must receive, in order.
struct Upload {
    std::string folder;
    std::string scriptPath;
    std::vector<Text> frames;
};
Upload g_upload;

void WriteFile(const std::string& path, const std::string& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() ||
        std::fclose(file) != 0)
        FuzzFail("cannot write the upload's files");
}

void PrepareUpload() {
    char folder[] = "/tmp/rd-fuzz-link-XXXXXX";
    if (mkdtemp(folder) == nullptr)
        FuzzFail("no temporary folder");
    g_upload.folder = folder;
    g_upload.scriptPath = g_upload.folder + "/load.cmd";
    WriteFile(g_upload.scriptPath, "CE000001\r\nCQ\r\nFdata.bin\r\nCX\r\n");

    std::string data(140, '\0');
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<char>(i * 37 + 11);
    WriteFile(g_upload.folder + "/data.bin", data);

    auto text = [](std::string_view s) { return Text(s.begin(), s.end()); };
    g_upload.frames.push_back(text("E000001"));
    g_upload.frames.push_back(text("Q"));
    g_upload.frames.push_back(text(std::string_view(data).substr(0, frame::kHeaderDataSize)));
    for (std::size_t at = frame::kHeaderDataSize; at < data.size(); at += frame::kChunkDataSize)
        g_upload.frames.push_back(text("*" + data.substr(at, frame::kChunkDataSize)));
    g_upload.frames.push_back(text("X"));
}

// Takes the messages both threads post; the run is judged on the wire.
class IgnoringWindow : public MessageTarget {
public:
    LRESULT OnMessage(UINT, WPARAM, LPARAM) override { return 0; }
};
IgnoringWindow g_window;
HWND g_hwnd = 0;

void* ThreadParam() {
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(g_hwnd));
}

std::atomic<bool> g_linkEnded{false};

UINT RunLink(void* param) {
    LinkThread(param);
    g_linkEnded.store(true, std::memory_order_release);
    return 0;
}

bool StartsWith(const FrameBytes& received, std::string_view word) {
    const std::size_t textAt = 3 + frame::kTagSize;  // FE 01 L tag0 tag1
    const std::size_t length = received[2];
    if (length < frame::kTagSize + word.size())
        return false;
    return std::equal(word.begin(), word.end(), received.begin() + static_cast<long>(textAt));
}

// May answer be the tool's answer to received?
bool Answers(const ToolFrame& answer, const FrameBytes& received) {
    // The tags are the two bytes behind the length. A frame with fewer than
    // two payload bytes has its checksum there, and after it whatever the
    // previous frame left in the buffer, which is not checked.
    if (answer.tag0() != received[3] || (received.size() > 4 && answer.tag1() != received[4]))
        return false;
    if (StartsWith(received, frame::kWordError))
        return false;
    return (answer.Text() == frame::kAnswerFast) == StartsWith(received, frame::kWordMon);
}

// For the report of a broken invariant: both sides of the dialogue.
void PrintDialogue(const std::vector<ToolFrame>& answers, const std::vector<FrameBytes>& received) {
    for (const FrameBytes& frame : received)
        std::fprintf(stderr, "received %s\n", BytesAsText(frame.data(), frame.size()).c_str());
    for (const ToolFrame& answer : answers)
        std::fprintf(stderr, "answer   %s\n", BytesAsText(answer.payload.data(), answer.payload.size()).c_str());
}

void CheckAnswers(const std::vector<ToolFrame>& answers, const std::vector<FrameBytes>& received) {
    std::size_t next = 0;  // the first received frame not yet answered
    std::size_t uploadFrames = 0;
    for (const ToolFrame& answer : answers) {
        if (answer.payload.size() < frame::kTagSize)
            FuzzFail("an answer without tags");
        while (next < received.size() && !Answers(answer, received[next]))
            ++next;
        if (next == received.size()) {
            PrintDialogue(answers, received);
            FuzzFail("an answer to no frame the receiver sent, out of order, or a second answer");
        }
        ++next;

        const std::string text = answer.Text();
        if (text == frame::kAnswerFast || text == frame::kAnswerAck)
            continue;
        if (uploadFrames == g_upload.frames.size() ||
            Text(text.begin(), text.end()) != g_upload.frames[uploadFrames]) {
            PrintDialogue(answers, received);
            FuzzFail("an upload frame out of order, repeated or not the upload's");
        }
        ++uploadFrames;
    }
}

bool IsSentinelAnswer(const ToolFrame& answer, const FrameBytes& sentinel) {
    return answer.tag0() == sentinel[3] && answer.tag1() == sentinel[4] &&
           answer.Text() == frame::kAnswerAck;
}

// Reads what the tool has written so far, waiting up to wait for the first
// byte. Returns whether anything came.
bool TakeAnswers(PtyPair& pty, ToolFrameParser& parser, std::vector<ToolFrame>& answers,
                 std::chrono::milliseconds wait) {
    const std::vector<std::uint8_t> bytes = pty.ReadMaster(1, wait);
    const std::vector<std::uint8_t> more = pty.ReadMaster(4096, std::chrono::milliseconds(0));
    parser.Feed(bytes.data(), bytes.size());
    parser.Feed(more.data(), more.size());
    while (std::optional<ToolFrame> answer = parser.Next())
        answers.push_back(*answer);
    return !bytes.empty();
}

// Sends the stream a frame at a time, each followed by a pause until an
// answer comes (or kAnswerWait passes); stops early when the link ends.
// Returns the number of frames sent.
std::size_t SendAsReceiver(PtyPair& pty, ToolFrameParser& parser, std::vector<ToolFrame>& answers,
                    const std::vector<std::uint8_t>& stream, const std::vector<std::size_t>& ends) {
    std::size_t from = 0;
    for (std::size_t sent = 0; sent < ends.size(); ++sent) {
        if (g_linkEnded.load(std::memory_order_acquire))
            return sent;
        const std::size_t end = ends[sent];
        if (!pty.WriteMaster(stream.data() + from, end - from))
            FuzzFail("cannot write to the pty");
        from = end;
        const std::size_t before = answers.size();
        const auto deadline = std::chrono::steady_clock::now() + kAnswerWait;
        while (answers.size() == before && std::chrono::steady_clock::now() < deadline)
            TakeAnswers(pty, parser, answers, std::chrono::milliseconds(10));
    }
    return ends.size();
}

// Reads the tool's frames until the sentinel is answered or the link ends.
void ReadAnswers(PtyPair& pty, ToolFrameParser& parser, std::vector<ToolFrame>& answers,
                 const FrameBytes& sentinel) {
    const auto deadline = std::chrono::steady_clock::now() + kAnswerGuard;
    for (;;) {
        if (std::any_of(answers.begin(), answers.end(),
                        [&](const ToolFrame& answer) { return IsSentinelAnswer(answer, sentinel); }))
            return;
        const bool any = TakeAnswers(pty, parser, answers, std::chrono::milliseconds(20));
        if (!any && g_linkEnded.load(std::memory_order_acquire))
            return;
        if (std::chrono::steady_clock::now() >= deadline)
            FuzzFail("the sentinel frame was not answered and the link did not end");
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    SilenceMessageBoxes();
    PrepareUpload();
    g_hwnd = CreateWindowHandle(&g_window);
    std::atexit([] {
        unlink(g_upload.scriptPath.c_str());
        unlink((g_upload.folder + "/data.bin").c_str());
        rmdir(g_upload.folder.c_str());
    });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::vector<std::uint8_t> stream = StreamWithSentinel(data, size, kMaxInput);

    ResetLinkState();
    g_linkEnded.store(false, std::memory_order_release);
    FuzzPort port;
    g_strScriptPath = g_upload.scriptPath;
    if (!AfxBeginThread(RunLink, ThreadParam()) || !AfxBeginThread(UploadThread, ThreadParam()))
        FuzzFail("cannot start the worker threads");

    std::vector<std::size_t> ends;
    std::vector<FrameBytes> received = ExpectedFrames(stream, &ends);
    ToolFrameParser parser;
    std::vector<ToolFrame> answers;
    received.resize(SendAsReceiver(port.Pty(), parser, answers, stream, ends));
    ReadAnswers(port.Pty(), parser, answers, SentinelFrame());

    // Cancel as the operator does: the flag, then the port.
    g_bAbort.Set();
    port.Port().Close();
    if (!JoinWorkerThreads(kJoinGuard))
        FuzzFail("a worker thread did not end after the run was cancelled");
    const std::vector<std::uint8_t> rest = port.Pty().ReadMaster(1 << 20, std::chrono::milliseconds(0));
    parser.Feed(rest.data(), rest.size());
    while (std::optional<ToolFrame> answer = parser.Next())
        answers.push_back(*answer);
    if (!parser.TakeProblems().empty())
        FuzzFail("the tool wrote something that is not a well-formed frame");
    DispatchPostedMessages();

    // RD_FUZZ_SHOW=1 prints each run's dialogue (to see what a seed reaches).
    if (std::getenv("RD_FUZZ_SHOW") != nullptr)
        PrintDialogue(answers, received);
    CheckAnswers(answers, received);
    return 0;
}
