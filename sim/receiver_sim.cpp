#include "sim/receiver_sim.h"

#ifdef __linux__
#include <sys/prctl.h>
#endif

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <deque>
#include <mutex>
#include <thread>
#include <utility>

#include "link/frame_format.h"
#include "sim/sim_frames.h"
#include "sim/sim_line.h"
#include "sim/upload_recorder.h"

namespace {

using std::chrono::milliseconds;
using Clock = std::chrono::steady_clock;

constexpr unsigned kSlowBaud = 19200;
constexpr unsigned kFastBaud = frame::kFastBaudRate;
constexpr std::size_t kOutstandingKept = 64;
// More unread bytes than this on a pty mean the tool is not reading (its
// port is closed, or it has not been started): they are dropped, as a line
// with nobody listening would lose them, so that the tool does not find a
// long backlog of stale frames when it opens the port. Every frame is at
// least 8 bytes, so whatever is left in the queue belongs to the last
// kOutstandingKept frames, whose late answers are still recognised.
constexpr std::size_t kUnreadLimit = 512;
// How long after the handshake the tool's port may take to show 38400 baud
// before that counts as "did not switch".
constexpr milliseconds kSwitchSeenWithin{5000};
// Stray bytes in front of a frame: no 0xFE (it would start a frame on the
// tool's side and take the real frame's first byte with it) and no 0x00.
const std::vector<std::uint8_t> kStrayBytes = {0x55, 0xAA, 0x13, 0xFF, 0x0D};

enum class Phase { Boot, Mon, Handshake, Fast };
enum class Word { Other, Mon, Ok, Error };
// What the tool answered: all the session's steps need to know of it.
enum class Answer { Fast, Ack, Other };

// A frame the simulator sent that may still be answered.
struct SentFrame {
    unsigned number = 0;
    std::uint8_t tag0 = 0, tag1 = 0;
    Word word = Word::Other;
    std::string text;
    bool expectAnswer = true;   // false for a bad checksum or "ERROR"
    bool answered = false;
    bool beforePowerCycle = false;  // sent in an earlier session
    bool handshakeOk = false;       // the "OK:" whose answer completes the handshake
    Answer answer = Answer::Other;  // if answered
};

std::string TagText(std::uint8_t tag0, std::uint8_t tag1) {
    char text[16];
    std::snprintf(text, sizeof text, "[%02X %02X]", tag0, tag1);
    return text;
}

}  // namespace

struct ReceiverSim::Impl {
    SimOptions options;
    std::unique_ptr<SimLine> line;

    // Report and recorder, shared with the caller's threads.
    mutable std::mutex reportMutex;
    std::condition_variable reportChanged;
    SimReport report;
    UploadRecorder recorder;

    // Control, set by the caller's threads.
    mutable std::mutex runMutex;
    std::condition_variable runEnded;  // under runMutex: the thread has finished
    bool running = false;
    bool hangupRequested = false;
    std::atomic<bool> stopRequested{false};
    std::atomic<bool> powered{true};
    std::atomic<bool> powerCycled{false};
    std::thread thread;

    // The session, used by the simulator's thread only.
    Phase phase = Phase::Boot;
    unsigned bootFramesSent = 0;
    bool stoppedAfterError = false;
    TagSequence tags;
    ToolFrameParser parser;
    std::deque<SentFrame> outstanding;
    std::vector<std::uint8_t> input;  // bytes of the last read, reused so that reading allocates nothing
    // Paced: when the tool's last answer was through, if the next frame
    // follows it at once.
    std::optional<Clock::time_point> lineFreeAt;
    unsigned uploadFrames = 0;  // the tool's frames other than ";"
    // Next-unit mode: the tool has sent "X" to this unit; when the next unit
    // powers on (while it is set, the simulator is off).
    bool unitDone = false;
    std::optional<Clock::time_point> nextUnitAt;
    // The handshake "OK:" was answered after its answer time, when the
    // simulator had already gone back to "MON:": the tool has switched, so
    // the handshake is completed at the end of the current answer time.
    bool lateHandshake = false;

    void Run();
    void NewSession();
    bool NextUnitMode() const { return options.nextUnitDelayMs >= 0; }
    bool TakeDoneUnit();
    bool WaitForNextUnit();
    bool Interrupted() const {
        return stopRequested.load() || HangupRequested() || powerCycled.load() || !powered.load();
    }
    bool HangupRequested() const {
        std::lock_guard lock(runMutex);
        return hangupRequested;
    }
    bool Logging() const { return static_cast<bool>(options.log); }
    void Log(const std::string& line) {
        if (Logging())
            options.log(line);
    }
    void AddError(const std::string& error) {
        Log("error: " + error);
        std::lock_guard lock(reportMutex);
        report.errors.push_back(error);
        reportChanged.notify_all();
    }
    template <typename F>
    void UpdateReport(F change) {
        std::lock_guard lock(reportMutex);
        change(report);
        reportChanged.notify_all();
    }

    bool FaultDue(SimFault fault) const {
        return options.fault == fault && uploadFrames >= options.faultAfterUploadFrames;
    }
    void CountUploadFrame();
    std::string NextText(unsigned number) const;
    void SendFrame();
    void AwaitAnswer(SentFrame* current);
    void AwaitToolRead();
    void Listen(milliseconds timeout);
    void TakeInput();
    void HandleToolFrame(const ToolFrame& frame);
    void AfterAnswerTime(const SentFrame& current);
    void CompleteHandshake();
    void CheckToolSwitched();
    void DoHangUp();
};

void ReceiverSim::Impl::NewSession() {
    phase = Phase::Boot;
    bootFramesSent = 0;
    stoppedAfterError = false;
    lateHandshake = false;
    // An answer to a frame of the last session may still be on its way (or
    // the tool may only now read a frame sent while its port was closed);
    // it is ignored, as a receiver that has restarted would.
    for (SentFrame& sent : outstanding)
        sent.beforePowerCycle = true;
    parser.Reset();
    line->SetBaud(kSlowBaud);
    Log("power on: session starts at 19200 baud");
}

std::string ReceiverSim::Impl::NextText(unsigned number) const {
    if ((options.errorAfter != 0 && number == options.errorAfter) || FaultDue(SimFault::Error))
        return std::string(frame::kWordError);
    switch (phase) {
    case Phase::Boot:
        return "BOOT" + std::to_string(bootFramesSent + 1);
    case Phase::Mon:
        return std::string(frame::kWordMon);
    case Phase::Handshake:
    case Phase::Fast:
        break;
    }
    return std::string(frame::kWordOk);
}

void ReceiverSim::Impl::Run() {
    if (options.paced) {
        // Sleeps end within a microsecond rather than the default 50, so
        // that the line's timing is kept closely.
#ifdef __linux__
        prctl(PR_SET_TIMERSLACK, 1000UL, 0UL, 0UL, 0UL);
#endif
    }
    NewSession();
    bool hangUp = false;
    while (!stopRequested.load() && !HangupRequested()) {
        if (FaultDue(SimFault::HangUp)) {
            const auto quietUntil = std::chrono::steady_clock::now() + milliseconds(options.hangupQuietMs);
            for (auto now = std::chrono::steady_clock::now(); now < quietUntil; now = std::chrono::steady_clock::now())
                Listen(std::chrono::ceil<milliseconds>(quietUntil - now));
            Log("hang-up after " + std::to_string(uploadFrames) + " upload frames");
            hangUp = true;
            break;
        }
        if (unitDone && TakeDoneUnit())
            break;
        if (nextUnitAt && WaitForNextUnit())
            continue;
        if (powerCycled.exchange(false)) {
            UpdateReport([&](SimReport&) { recorder.AbandonOpenFile("the receiver was switched off during the file"); });
            NewSession();
        }
        const bool fellSilent = (options.silentAfter != 0 && report.framesSent >= options.silentAfter) ||
                                FaultDue(SimFault::Silent);
        if (!powered.load() || options.silent || stoppedAfterError || fellSilent) {
            Listen(milliseconds(50));
            continue;
        }
        SendFrame();
        if (FaultDue(SimFault::HangUpAfterNextFrame)) {
            Log("hang-up as the tool answers, after " + std::to_string(uploadFrames) + " upload frames");
            hangUp = true;
            break;
        }
        if (options.hangupAfter != 0 && report.framesSent >= options.hangupAfter) {
            Log("hang-up after " + std::to_string(report.framesSent) + " frames");
            hangUp = true;
            break;
        }
    }
    std::lock_guard lock(runMutex);
    running = false;
    if (hangupRequested || hangUp)
        DoHangUp();
    runEnded.notify_all();
}

// The unit the tool has sent "X" to is done: it goes to the report's list
// and the report starts afresh for the next one. True when it was the last.
bool ReceiverSim::Impl::TakeDoneUnit() {
    unitDone = false;
    std::size_t done = 0;
    UpdateReport([&](SimReport& r) {
        SimReport current;
        recorder.Snapshot(&current);
        r.units.push_back({r.handshakes, std::move(current.commands), std::move(current.files), std::move(r.errors)});
        done = r.units.size();
        SimReport fresh;
        fresh.units = std::move(r.units);
        r = std::move(fresh);
        recorder = UploadRecorder(options.keepFileData);
    });
    uploadFrames = 0;
    Log("unit " + std::to_string(done) + " done");
    if (options.units != 0 && done >= options.units)
        return true;
    nextUnitAt = Clock::now() + milliseconds(options.nextUnitDelayMs);
    return false;
}

// Off between two units: true while the delay lasts (having listened for a
// while), false once the next unit has powered on.
bool ReceiverSim::Impl::WaitForNextUnit() {
    const auto now = Clock::now();
    if (now < *nextUnitAt) {
        Listen(std::min(milliseconds(50), std::chrono::ceil<milliseconds>(*nextUnitAt - now)));
        return true;
    }
    nextUnitAt.reset();
    Log("next unit:");
    NewSession();
    return false;
}

void ReceiverSim::Impl::DoHangUp() {
    line->Close();
    UpdateReport([&](SimReport& r) {
        recorder.AbandonOpenFile("the line was hung up during the file");
        r.hungUp = true;
    });
}

void ReceiverSim::Impl::SendFrame() {
    const unsigned number = report.framesSent + 1;  // only this thread changes it
    SentFrame sent;
    sent.number = number;
    sent.text = NextText(number);
    sent.word = sent.text == frame::kWordError ? Word::Error
              : sent.text == frame::kWordMon   ? Word::Mon
              : sent.text == frame::kWordOk    ? Word::Ok
                                               : Word::Other;
    const bool badChecksum = options.badChecksumEvery != 0 && number % options.badChecksumEvery == 0;
    sent.expectAnswer = !badChecksum && sent.word != Word::Error;
    sent.handshakeOk = phase == Phase::Handshake && sent.word == Word::Ok;
    tags.Next(sent.text, &sent.tag0, &sent.tag1);

    std::vector<std::uint8_t> frameBytes = BuildReceiverFrame(sent.tag0, sent.tag1, sent.text, badChecksum);
    std::vector<std::uint8_t> bytes;
    if (options.strayEvery != 0 && number % options.strayEvery == 0)
        bytes = kStrayBytes;
    for (std::size_t i = 0; i < frameBytes.size(); ++i) {
        // NUL bytes in front of the frame and inside it: the tool's port
        // must drop them all.
        if (options.nulBytes && i % 4 == 0)
            bytes.push_back(0x00);
        bytes.push_back(frameBytes[i]);
    }

    if (phase == Phase::Handshake && sent.word == Word::Ok) {
        const std::optional<unsigned> toolBaud = line->ToolBaud();
        if (toolBaud && *toolBaud == kFastBaud)
            AddError("tool's port was at 38400 baud before the handshake \"OK:\" was sent");
    }

    if (FaultDue(SimFault::HangUpAfterNextFrame)) {
        // The answer must not arrive: it is to find the line gone.
        line->HoldToolOutput();
    }
    if (const std::size_t unread = line->UnreadByTool(); unread > kUnreadLimit) {
        line->DiscardUnread();
        Log("the tool is not reading: " + std::to_string(unread) + " unread bytes dropped");
    }
    line->Write(bytes, options.paced, milliseconds(std::max(options.answerTimeoutMs, 1)), std::exchange(lineFreeAt, {}));
    outstanding.push_back(sent);
    while (outstanding.size() > kOutstandingKept)
        outstanding.pop_front();
    UpdateReport([&](SimReport& r) {
        ++r.framesSent;
        if (sent.word == Word::Error)
            ++r.errorsSent;
    });
    if (Logging())
        Log("-> " + sent.text + " " + TagText(sent.tag0, sent.tag1) + (badChecksum ? " (bad checksum)" : "") +
            (bytes.size() > frameBytes.size() ? " (with extra bytes)" : ""));

    if (sent.word == Word::Error) {
        // The receiver waits for the operator to restart it.
        stoppedAfterError = true;
    }
    if (FaultDue(SimFault::HangUpAfterNextFrame)) {
        AwaitToolRead();  // the line goes as the tool answers
        return;
    }
    AwaitAnswer(&outstanding.back());
}

void ReceiverSim::Impl::AwaitAnswer(SentFrame* current) {
    const unsigned number = current->number;
    const auto deadline = Clock::now() + milliseconds(options.answerTimeoutMs);
    SentFrame copy = *current;
    for (;;) {
        const auto now = Clock::now();
        if (now >= deadline || Interrupted())
            break;
        input.clear();
        const SimLine::ReadResult result =
            line->Read(&input, std::chrono::duration_cast<milliseconds>(deadline - now) + milliseconds(1));
        if (result == SimLine::ReadResult::Closed)
            break;
        TakeInput();
        // The frame may have left the outstanding list (answered, or
        // superseded); look it up again by number.
        auto it = std::find_if(outstanding.begin(), outstanding.end(),
                               [&](const SentFrame& f) { return f.number == number; });
        if (it == outstanding.end())
            break;
        copy = *it;
        if (copy.answered && copy.expectAnswer)
            break;
    }
    AfterAnswerTime(copy);
}

// Until the tool has read the frame just sent and has had a moment to
// answer (its answer is held in its port), or the answer time is over.
void ReceiverSim::Impl::AwaitToolRead() {
    const auto deadline = Clock::now() + milliseconds(options.answerTimeoutMs);
    while (line->UnreadByTool() > 0 && Clock::now() < deadline && !Interrupted())
        std::this_thread::sleep_for(milliseconds(1));
    std::this_thread::sleep_for(milliseconds(std::min(options.answerTimeoutMs, 20)));
}

void ReceiverSim::Impl::Listen(milliseconds timeout) {
    input.clear();
    const SimLine::ReadResult result = line->Read(&input, timeout);
    if (result == SimLine::ReadResult::Closed) {
        std::this_thread::sleep_for(timeout);
        return;
    }
    if (!powered.load() || nextUnitAt) {
        parser.Reset();  // nobody is listening
        return;
    }
    TakeInput();
}

void ReceiverSim::Impl::TakeInput() {
    if (input.empty())
        return;
    parser.Feed(input.data(), input.size());
    while (std::optional<ToolFrame> frame = parser.Next())
        HandleToolFrame(*frame);
    for (const std::string& problem : parser.TakeProblems())
        AddError(problem);
}

void ReceiverSim::Impl::HandleToolFrame(const ToolFrame& frame) {
    if (options.paced) {
        lineFreeAt = Clock::now() + std::chrono::nanoseconds(11'000'000'000LL / line->Baud()) *
                                        static_cast<long>(frame.WireSize());
        std::this_thread::sleep_until(*lineFreeAt);
    }
    const Clock::time_point arrived = Clock::now();
    UpdateReport([](SimReport& r) { ++r.framesReceived; });
    const std::string_view text = frame.TextView();
    if (Logging())
        Log("<- " + BytesAsText(reinterpret_cast<const std::uint8_t*>(text.data()), std::min<std::size_t>(text.size(), 24)) +
            (text.size() > 24 ? "..." : "") + " L=" + std::to_string(frame.payload.size()) + " " +
            TagText(frame.tag0(), frame.tag1()));

    auto it = std::find_if(outstanding.rbegin(), outstanding.rend(), [&](const SentFrame& f) {
        return f.tag0 == frame.tag0() && f.tag1 == frame.tag1();
    });
    if (frame.payload.size() < frame::kTagSize || it == outstanding.rend()) {
        AddError("tool frame with tags " + TagText(frame.tag0(), frame.tag1()) +
                 " that answer no unanswered frame");
        return;
    }
    SentFrame& answered = *it;
    if (answered.beforePowerCycle) {
        answered.answered = true;
        Log("(answer to a frame sent before the power cycle: ignored)");
        return;
    }
    if (answered.answered) {
        AddError("second answer to frame " + std::to_string(answered.number) + " (" + answered.text + ")");
        return;
    }
    answered.answered = true;
    answered.answer = text == frame::kAnswerFast ? Answer::Fast
                    : text == frame::kAnswerAck  ? Answer::Ack
                                                 : Answer::Other;
    // Frames before the one answered will not be answered any more.
    const unsigned number = answered.number;
    while (!outstanding.empty() && outstanding.front().number < number)
        outstanding.pop_front();

    if (!answered.expectAnswer) {
        AddError("tool answered frame " + std::to_string(number) + " (" + answered.text + ")" +
                 (answered.word == Word::Error ? "" : " although its checksum was wrong"));
        return;
    }
    const std::size_t length = frame.payload.size();
    switch (answered.word) {
    case Word::Mon:
        if (text != frame::kAnswerFast || length != 6)
            AddError("\"MON:\" answered \"" + std::string(text) + "\" (expected \"FAST\")");
        break;
    case Word::Other:
        if (text != frame::kAnswerAck || length != 3)
            AddError("\"" + answered.text + "\" answered \"" + std::string(text) + "\" (expected \";\")");
        break;
    case Word::Ok: {
        if (text == frame::kAnswerFast) {
            AddError("\"OK:\" answered \"FAST\"");
            break;
        }
        if (answered.handshakeOk && phase == Phase::Mon)
            lateHandshake = true;
        std::string problem;
        {
            std::lock_guard lock(reportMutex);
            problem = recorder.Record(frame, arrived);
            reportChanged.notify_all();
        }
        if (!problem.empty())
            AddError(problem);
        if (text != frame::kAnswerAck)
            CountUploadFrame();
        // The end of a download: in next-unit mode this unit is done.
        if (NextUnitMode() && length == frame::kLengthLetter && text == "X")
            unitDone = true;
        break;
    }
    case Word::Error:
        break;
    }
}

void ReceiverSim::Impl::CountUploadFrame() {
    ++uploadFrames;
    if (options.onUploadFrame)
        options.onUploadFrame(uploadFrames);
}

void ReceiverSim::Impl::AfterAnswerTime(const SentFrame& current) {
    if (Interrupted())
        return;
    if (std::exchange(lateHandshake, false) && phase != Phase::Fast) {
        Log("late answer to the handshake \"OK:\"");
        CompleteHandshake();
    }
    if (!current.expectAnswer)
        return;
    switch (phase) {
    case Phase::Boot:
        if (++bootFramesSent >= options.framesBeforeMon)
            phase = Phase::Mon;
        break;
    case Phase::Mon:
        if (current.answered && current.answer == Answer::Fast)
            phase = Phase::Handshake;
        break;
    case Phase::Handshake:
        if (current.answered && current.answer != Answer::Fast)
            CompleteHandshake();
        else
            phase = Phase::Mon;
        break;
    case Phase::Fast:
        break;
    }
    if (current.answered && current.answer == Answer::Ack && options.idleDelayMs > 0) {
        // An idle link: give both ends a rest before the next poll.
        const auto until = Clock::now() + milliseconds(options.idleDelayMs);
        while (Clock::now() < until && !Interrupted())
            Listen(std::chrono::duration_cast<milliseconds>(until - Clock::now()) + milliseconds(1));
        lineFreeAt = until;
    }
}

void ReceiverSim::Impl::CompleteHandshake() {
    line->SetBaud(kFastBaud);
    phase = Phase::Fast;
    Log("handshake done: now at 38400 baud");
    UpdateReport([](SimReport& r) {
        r.handshakeDone = true;
        ++r.handshakes;
    });
    CheckToolSwitched();
}

void ReceiverSim::Impl::CheckToolSwitched() {
    if (!line->SeesToolSide())
        return;
    // The tool switches once its answer has gone out. It usually has by now;
    // a loaded machine may hold it back for a while, so the bound is generous
    // (the check ends as soon as the switch is seen).
    const auto deadline = Clock::now() + std::max(milliseconds(options.answerTimeoutMs), kSwitchSeenWithin);
    for (;;) {
        const std::optional<unsigned> toolBaud = line->ToolBaud();
        if (toolBaud && *toolBaud == kFastBaud)
            return;
        if (Clock::now() >= deadline || Interrupted()) {
            if (!Interrupted())
                AddError("tool's port did not switch to 38400 baud after the handshake (at " +
                         (toolBaud ? std::to_string(*toolBaud) : std::string("?")) + " baud)");
            return;
        }
        Listen(milliseconds(1));
    }
}

// ---------------------------------------------------------------------------

ReceiverSim::ReceiverSim(std::unique_ptr<Impl> impl) : m_impl(std::move(impl)) {}

ReceiverSim::~ReceiverSim() {
    Stop();
}

std::unique_ptr<ReceiverSim> ReceiverSim::Create(std::unique_ptr<SimLine> line, SimOptions options) {
    if (!line)
        return nullptr;
    auto impl = std::make_unique<Impl>();
    impl->recorder = UploadRecorder(options.keepFileData);
    line->SetAdapterLatency(milliseconds(options.adapterLatencyMs));
    impl->options = std::move(options);
    impl->line = std::move(line);
    return std::unique_ptr<ReceiverSim>(new ReceiverSim(std::move(impl)));
}

std::unique_ptr<ReceiverSim> ReceiverSim::CreatePty(SimOptions options, std::string* reason) {
    return Create(SimLine::CreatePty(reason), std::move(options));
}

std::unique_ptr<ReceiverSim> ReceiverSim::OpenDevice(const std::string& path, SimOptions options,
                                                     std::string* reason) {
    return Create(SimLine::OpenDevice(path, reason), std::move(options));
}

std::unique_ptr<ReceiverSim> ReceiverSim::CreateMemoryLine(const std::string& name, SimOptions options,
                                                           std::string* reason) {
    return Create(SimLine::CreateMemoryLine(name, reason), std::move(options));
}

const std::string& ReceiverSim::ToolPath() const {
    return m_impl->line->ToolPath();
}

void ReceiverSim::Start() {
    std::lock_guard lock(m_impl->runMutex);
    if (m_impl->running || m_impl->thread.joinable() || m_impl->hangupRequested)
        return;
    m_impl->running = true;
    m_impl->thread = std::thread([impl = m_impl.get()] { impl->Run(); });
}

void ReceiverSim::Stop() {
    RequestStop();
    if (m_impl->thread.joinable())
        m_impl->thread.join();
}

void ReceiverSim::RequestStop() noexcept {
    m_impl->stopRequested.store(true);
    m_impl->line->Wake();
}

void ReceiverSim::WaitForEnd() {
    std::unique_lock lock(m_impl->runMutex);
    m_impl->runEnded.wait(lock, [&] { return !m_impl->running; });
}

bool ReceiverSim::WaitUntil(const std::function<bool(const SimReport&)>& pred, std::chrono::milliseconds timeout) {
    std::unique_lock lock(m_impl->reportMutex);
    return m_impl->reportChanged.wait_for(lock, timeout, [&] {
        SimReport snapshot = m_impl->report;
        m_impl->recorder.Snapshot(&snapshot);
        return pred(snapshot);
    });
}

SimReport ReceiverSim::Report() const {
    std::lock_guard lock(m_impl->reportMutex);
    SimReport snapshot = m_impl->report;
    m_impl->recorder.Snapshot(&snapshot);
    return snapshot;
}

void ReceiverSim::PowerOff() {
    m_impl->powered = false;
    m_impl->line->Wake();
}

void ReceiverSim::PowerOn() {
    if (m_impl->powered.exchange(true))
        return;
    m_impl->powerCycled = true;
    m_impl->line->Wake();
}

void ReceiverSim::HangUp() {
    {
        std::lock_guard lock(m_impl->runMutex);
        m_impl->hangupRequested = true;
        if (!m_impl->running && !m_impl->line->IsClosed())
            m_impl->DoHangUp();
    }
    m_impl->line->Wake();
}
