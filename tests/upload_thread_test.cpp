// UploadThread against a stand-in for LinkThread's side of the Outbox: the
// frames it queues, the messages it posts, the counters, and how it ends
// (script end, failures, abort at each of its waits).
#include "upload/upload_thread.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <ctime>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "link/frame_buffer.h"
#include "link/messages.h"
#include "link/shared_state.h"
#include "platform/clock.h"
#include "platform/sha256.h"
#include "platform/thread.h"
#include "platform/window.h"
#include "support/temp_folder.h"
#include "support/test_data.h"
#include "upload/upload_fault.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using namespace std::string_literals;

// A safety net against hangs only; nothing is asserted about time.
constexpr auto kPatience = 20s;

// One frame as LinkThread would send it: the length byte and the frame text
// (payload bytes 2 to L-1).
struct Frame {
    int length;
    std::string text;
    bool operator==(const Frame&) const = default;
};

std::string Printable(const std::string& bytes) {
    std::string out;
    for (unsigned char c : bytes) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02x", c);
            out += hex;
        }
    }
    return out;
}

std::ostream& operator<<(std::ostream& out, const Frame& frame) {
    return out << "{" << frame.length << ", \"" << Printable(frame.text.substr(0, 20))
               << (frame.text.size() > 20 ? "..." : "") << "\"}";
}

// The counters as the link saw them when it took a frame.
struct Progress {
    DWORD sent;
    DWORD length;
};

// Stands in for LinkThread's side of the Outbox: whenever g_bOutboxFull is
// set it copies the frame and clears the flag, as LinkThread does after
// writing the frame. It can be held (it then takes nothing more) and
// stopped; g_bLinkRunning is set while it runs.
class FakeLink {
public:
    ~FakeLink() { Stop(); }

    // Starts taking frames; it holds itself after takeLimit frames.
    void Start(std::size_t takeLimit = SIZE_MAX) {
        m_takeLimit = takeLimit;
        m_stop = false;
        g_bLinkRunning.Set();
        m_thread = std::thread([this] { Run(); });
    }
    // Takes frames again, up to takeLimit in all.
    void Release(std::size_t takeLimit = SIZE_MAX) {
        m_takeLimit = takeLimit;
        NotifyStateChanged();
    }
    void Stop() {
        if (!m_thread.joinable())
            return;
        m_stop = true;
        NotifyStateChanged();
        m_thread.join();
        g_bLinkRunning.Clear();
    }
    std::vector<Frame> Frames() {
        std::lock_guard lock(m_mutex);
        return m_frames;
    }
    std::vector<Progress> Samples() {
        std::lock_guard lock(m_mutex);
        return m_samples;
    }
    std::size_t Taken() const { return m_taken; }
    // True once the link has taken n frames and the next one is queued.
    bool HoldsNextAfter(std::size_t n) const { return m_freed.load() == n && g_bOutboxFull.IsSet(); }

private:
    void Run() {
        for (;;) {
            WaitForState([this] { return m_stop || (g_bOutboxFull && m_taken < m_takeLimit); });
            if (m_stop)
                return;
            const FrameBuffer& outbox = *g_pOutbox;
            Frame frame{outbox.m_byLength,
                        std::string(reinterpret_cast<const char*>(outbox.m_abyPayload) + 2,
                                    outbox.m_byLength >= 2 ? outbox.m_byLength - 2 : 0)};
            {
                std::lock_guard lock(m_mutex);
                m_frames.push_back(frame);
                m_samples.push_back({g_dwBytesSent.Load(), g_dwFileLength.Load()});
            }
            // Counted before the slot is freed, so that the count is whole
            // once the upload thread finds the slot free; m_freed follows
            // the freeing, so that a full slot seen after it holds the next
            // frame.
            ++m_taken;
            g_bOutboxFull.Clear();
            ++m_freed;
            NotifyStateChanged();
        }
    }

    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<std::size_t> m_takeLimit{SIZE_MAX};
    std::atomic<std::size_t> m_taken{0};
    std::atomic<std::size_t> m_freed{0};
    std::mutex m_mutex;
    std::vector<Frame> m_frames;
    std::vector<Progress> m_samples;
};

struct Posted {
    UINT message;
    std::string text;  // the text carried by WM_UPLOAD_COMMAND / WM_UPLOAD_FAILED
    UploadFault fault = UploadFault::None;  // WM_UPLOAD_FAILED's code
    bool operator==(const Posted&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Posted& posted) {
    switch (posted.message) {
    case WM_UPLOAD_COMMAND: out << "COMMAND"; break;
    case WM_UPLOAD_FILE_MISSING: out << "FILE_MISSING"; break;
    case WM_UPLOAD_BAD_COMMAND: out << "BAD_COMMAND"; break;
    case WM_UPLOAD_DONE: out << "DONE"; break;
    case WM_UPLOAD_FAILED: out << "FAILED"; break;
    case WM_UPLOAD_FILE_SENT: out << "FILE_SENT"; break;
    default: out << posted.message;
    }
    return out << "(" << Printable(posted.text) << ", " << static_cast<int>(posted.fault) << ")";
}

const Posted kDone{WM_UPLOAD_DONE, ""};
const Posted kFileMissing{WM_UPLOAD_FILE_MISSING, ""};
const Posted kBadCommand{WM_UPLOAD_BAD_COMMAND, ""};
Posted Command(const std::string& text) { return {WM_UPLOAD_COMMAND, text}; }
Posted Failed(UploadFault fault, const std::string& path) { return {WM_UPLOAD_FAILED, path, fault}; }
// The file's bytes as sent, their count and SHA-256.
Posted Sent(const std::string& path, const std::string& data) {
    return {WM_UPLOAD_FILE_SENT,
            SentDataFileText({path, data.size(), Sha256Hex(reinterpret_cast<const std::uint8_t*>(data.data()), data.size())}) +
                " " + std::to_string(data.size())};
}

// The window the thread posts to. Texts are copied while the message is
// delivered, which is after the thread has ended in most tests: a text that
// lived in the thread's own buffers would be gone by then.
class Recorder : public MessageTarget {
public:
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        std::string text;
        if ((message == WM_UPLOAD_COMMAND || message == WM_UPLOAD_FAILED || message == WM_UPLOAD_FILE_SENT) && lParam)
            text = reinterpret_cast<const char*>(lParam);
        if (message == WM_UPLOAD_FILE_SENT)
            text += " " + std::to_string(wParam);
        m_posted.push_back({message, text, message == WM_UPLOAD_FAILED ? FaultCodeOf(wParam) : UploadFault::None});
        return 0;
    }
    std::vector<Posted> m_posted;
};

// A calendar clock that moves on by one second at every reading.
class SteppingClock : public Clock {
public:
    std::int64_t NowSeconds() override {
        std::int64_t now = kStart + m_readings++;
        NotifyStateChanged();  // lets a test wait for a number of readings
        return now;
    }
    int Readings() const { return m_readings; }
    static constexpr std::int64_t kStart = 1'000'000;

private:
    std::atomic<int> m_readings{0};
};

// A calendar clock that stands still.
class FrozenClock : public Clock {
public:
    std::int64_t NowSeconds() override { return 42; }
};


// The frames a data file of these bytes (6 or more) must travel in.
std::vector<Frame> FileFrames(const std::string& data) {
    std::vector<Frame> frames{{8, data.substr(0, 6)}};
    for (std::size_t at = 6; at < data.size(); at += 64) {
        std::string piece = data.substr(at, 64);
        frames.push_back({static_cast<int>(piece.size() + 3), "*" + piece});
    }
    return frames;
}

class UploadThreadTest : public ::testing::Test {
protected:
    TempFolder m_temp{"upload_thread_"};

    void SetUp() override {
        m_dir = m_temp.Slash();
        ResetSharedState();
        g_bAbort.Clear();
        g_bOutboxFull.Clear();
        g_bLinkRunning.Clear();
        g_pOutbox->m_byLength = 0;
        m_hwnd = CreateWindowHandle(&m_recorder);
    }

    void TearDown() override {
        // Whatever a failed test left waiting ends now.
        g_bAbort.Set();
        m_link.Stop();
        EXPECT_TRUE(JoinWorkerThreads(kPatience));
        SetClock(nullptr);
        SetPostedMessageHook({});
        DestroyWindowHandle(m_hwnd);
        ResetSharedState();
        g_bAbort.Clear();
        g_bOutboxFull.Clear();
    }

    std::string WriteFile(const std::string& name, const std::string& bytes) {
        fs::create_directories(fs::path(m_dir + name).parent_path());
        std::ofstream(m_dir + name, std::ios::binary) << bytes;
        return m_dir + name;
    }

    void StartUpload(const std::string& script) {
        g_strScriptPath = WriteFile("load.cmd", script);
        ASSERT_TRUE(AfxBeginThread(UploadThread, reinterpret_cast<void*>(static_cast<std::uintptr_t>(m_hwnd))));
    }

    // Waits for the thread to end and delivers what it posted.
    void Finish() {
        ASSERT_TRUE(JoinWorkerThreads(kPatience)) << "UploadThread did not end";
        DispatchPostedMessages();
    }

    // Runs the script with a link that takes every frame.
    std::vector<Frame> RunScript(const std::string& script) {
        m_link.Start();
        StartUpload(script);
        Finish();
        // After a failure the thread does not wait for its last frame to go.
        EXPECT_TRUE(WaitFor([] { return !g_bOutboxFull.IsSet(); }));
        m_link.Stop();
        return m_link.Frames();
    }

    static bool WaitFor(const std::function<bool()>& condition) { return WaitForStateFor(condition, kPatience); }

    // The text left in the Outbox slot (a frame nobody took).
    static Frame OutboxFrame() {
        return {g_pOutbox->m_byLength,
                std::string(reinterpret_cast<const char*>(g_pOutbox->m_abyPayload) + 2, g_pOutbox->m_byLength - 2)};
    }

    std::vector<Posted>& Posts() { return m_recorder.m_posted; }

    std::string m_dir;
    Recorder m_recorder;
    HWND m_hwnd = 0;
    FakeLink m_link;
};

// ---------------------------------------------------------------------------
// Data files: header and chunk frames, counters.

struct FileCase {
    std::size_t size;
    std::vector<int> lengths;  // frame lengths, in order
};

void PrintTo(const FileCase& c, std::ostream* out) { *out << c.size << " bytes"; }

class DataFileFramesTest : public UploadThreadTest, public ::testing::WithParamInterface<FileCase> {};

TEST_P(DataFileFramesTest, TravelsAsHeaderAndChunks) {
    const FileCase& c = GetParam();
    const std::string data = TestFileString(c.size, static_cast<unsigned>(c.size));
    const std::string path = WriteFile("data.bin", data);

    std::vector<Frame> frames = RunScript("Sdata.bin\r\n");

    std::vector<int> lengths;
    for (const Frame& frame : frames)
        lengths.push_back(frame.length);
    EXPECT_EQ(lengths, c.lengths);
    EXPECT_EQ(frames, FileFrames(data));
    EXPECT_EQ(Posts(), (std::vector<Posted>{Command("S" + path), Sent(path, data), kDone}));
    EXPECT_EQ(g_dwFileLength.Load(), c.size);
    EXPECT_EQ(g_dwBytesSent.Load(), c.size) << "progress must reach 100 % per file";
    EXPECT_TRUE(g_bTransferActive.IsSet());  // LinkThread, not this thread, clears it
    EXPECT_TRUE(g_bTransferDone.IsSet());
}

INSTANTIATE_TEST_SUITE_P(Sizes, DataFileFramesTest,
                         ::testing::Values(FileCase{6, {8}}, FileCase{7, {8, 4}}, FileCase{69, {8, 66}},
                                           FileCase{70, {8, 67}}, FileCase{71, {8, 67, 4}},
                                           FileCase{100, {8, 67, 33}}, FileCase{133, {8, 67, 66}},
                                           FileCase{134, {8, 67, 67}}, FileCase{135, {8, 67, 67, 4}}),
                         [](const ::testing::TestParamInfo<FileCase>& info) {
                             return "Bytes" + std::to_string(info.param.size);
                         });

TEST_F(UploadThreadTest, ShortFileIsRefusedBeforeAnythingOfItIsSent) {
    const std::string path = WriteFile("tiny.bin", "\x11\x22\x33");
    EXPECT_EQ(RunScript("CE1\r\nStiny.bin\r\nCX\r\n"), (std::vector<Frame>{{9, "E1\0\0\0\0\0"s}}));
    EXPECT_EQ(Posts(), (std::vector<Posted>{Command("E1"), Failed(UploadFault::DataFileTooShort, path), kDone}));
    EXPECT_FALSE(g_bTransferActive.IsSet());
    EXPECT_EQ(g_dwFileLength.Load(), 0u);
}

TEST_F(UploadThreadTest, LargeFileArrivesWholeInOrder) {
    const std::string data = TestFileString(3 * 1024 * 1024 + 17, 7);
    WriteFile("big.lzs", data);
    std::vector<Frame> frames = RunScript("Sbig.lzs\r\n");
    ASSERT_EQ(frames.size(), 1 + (data.size() - 6 + 63) / 64);
    std::string received = frames[0].text;
    for (std::size_t i = 1; i < frames.size(); ++i) {
        ASSERT_EQ(frames[i].text[0], '*');
        received += frames[i].text.substr(1);
    }
    EXPECT_TRUE(received == data) << "data differ";
    EXPECT_EQ(g_dwFileLength.Load(), data.size());
    EXPECT_EQ(g_dwBytesSent.Load(), data.size());
}

TEST_F(UploadThreadTest, ProgressRunsFromZeroToTheLengthForEachFile) {
    const std::string one = TestFileString(1000, 1);
    const std::string two = TestFileString(150, 2);
    WriteFile("one.bin", one);
    WriteFile("two.bin", two);
    std::vector<Frame> frames = RunScript("Sone.bin\r\nCE1\r\nStwo.bin\r\n");
    ASSERT_EQ(frames.size(), FileFrames(one).size() + 1 + FileFrames(two).size());

    std::vector<Progress> samples = m_link.Samples();
    for (std::size_t i = 0; i < samples.size(); ++i) {
        SCOPED_TRACE("frame " + std::to_string(i));
        EXPECT_LE(samples[i].sent, samples[i].length) << "above 100 %";
        // Each file starts from its own zero; the first frame of the second
        // file is seen with the second file's length.
        if (i == FileFrames(one).size() + 1) {
            EXPECT_EQ(samples[i].length, two.size());
            EXPECT_LE(samples[i].sent, 6u);
        }
    }
    EXPECT_EQ(g_dwFileLength.Load(), two.size());
    EXPECT_EQ(g_dwBytesSent.Load(), two.size());
}

TEST_F(UploadThreadTest, FileOfFourGibibytesIsRefused) {
    const std::string path = m_dir + "huge.bin";
    int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0600);
    ASSERT_GE(fd, 0);
    const bool sized = ::ftruncate(fd, 0x100000000LL) == 0;  // sparse: takes no space
    ::close(fd);
    if (!sized)
        GTEST_SKIP() << "no sparse file here";
    EXPECT_EQ(RunScript("CE1\r\nShuge.bin\r\nCX\r\n"), (std::vector<Frame>{{9, "E1\0\0\0\0\0"s}}));
    EXPECT_EQ(Posts(), (std::vector<Posted>{Command("E1"), Failed(UploadFault::DataFileTooLarge, path), kDone}));
    EXPECT_FALSE(g_bTransferActive.IsSet());
}

// ---------------------------------------------------------------------------
// Letter commands.

TEST_F(UploadThreadTest, LetterCommandsAndTheEFieldZeroFill) {
    std::vector<Frame> frames =
        RunScript("CE12\r\nCE\r\nce0123456789\r\nCEa"s + '\0' + "b\r\nCQ\r\ncx\r\n");
    EXPECT_EQ(frames, (std::vector<Frame>{{9, "E12\0\0\0\0"s},
                                          {9, "E\0\0\0\0\0\0"s},
                                          {9, "E012345"},
                                          {9, "Ea\0\0\0\0\0"s},  // the text ends at its NUL
                                          {3, "Q"},
                                          {3, "X"}}));
    // Every text is the command's own, although the thread has long moved
    // on (and ended) by the time the messages are delivered.
    EXPECT_EQ(Posts(), (std::vector<Posted>{Command("E12"), Command("E"), Command("E0123456789"), Command("Ea"),
                                            Command("Q"), Command("X"), kDone}));
    EXPECT_EQ(g_dwFileLength.Load(), 0u);  // no data file: no progress to show
}

TEST_F(UploadThreadTest, WholeScriptInOrder) {
    const std::string code = TestFileString(200, 3);
    const std::string path = WriteFile("code.lzs", code);
    std::vector<Frame> expected{{9, "E000001"}, {3, "Q"}};
    for (const Frame& frame : FileFrames(code))
        expected.push_back(frame);
    expected.push_back({3, "X"});
    // LF-only line ends, as a script made on Linux has them.
    EXPECT_EQ(RunScript("CE000001\nCQ\nFcode.lzs\nCX\n"), expected);
    EXPECT_EQ(Posts(), (std::vector<Posted>{Command("E000001"), Command("Q"), Command("S" + path), Sent(path, code),
                                            Command("X"), kDone}));
}

// ---------------------------------------------------------------------------
// Windows-made scripts.

TEST_F(UploadThreadTest, WindowsScriptFindsItsFilesWhateverTheCase) {
    const std::string data = TestFileString(80, 4);
    const std::string path = WriteFile("Lzss/Code.lzs", data);
    EXPECT_EQ(RunScript("CE1\r\nFLZSS\\CODE.LZS\r\nCX\r\n").size(), 1 + FileFrames(data).size() + 1);
    EXPECT_EQ(Posts(), (std::vector<Posted>{Command("E1"), Command("S" + path), Sent(path, data), Command("X"), kDone}));
}

// ---------------------------------------------------------------------------
// Failures: reported once, then nothing more is queued and the thread ends.

struct FailureCase {
    const char* name;
    std::string script;
    std::vector<Frame> frames;  // what goes out before the failure
    Posted failure;             // FAILED is matched by a part of its text
};

void PrintTo(const FailureCase& c, std::ostream* out) { *out << c.name; }

class UploadFailureTest : public UploadThreadTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(UploadFailureTest, ReportsAndStops) {
    const FailureCase& c = GetParam();
    WriteFile("dir/inside.bin", "x");
    WriteFile("good.bin", "123456");
    WriteFile("tiny.bin", "12345");
    WriteFile("empty.bin", "");
    ASSERT_EQ(::symlink("/dev/null", (m_dir + "device.bin").c_str()), 0);
    ASSERT_EQ(::symlink("/dev/zero", (m_dir + "zero.bin").c_str()), 0);
    ASSERT_EQ(::mkfifo((m_dir + "fifo.bin").c_str(), 0600), 0);
    // Its length reads as 0 (and reading it fails with an I/O error).
    ASSERT_EQ(::symlink("/proc/self/mem", (m_dir + "unreadable.bin").c_str()), 0);

    EXPECT_EQ(RunScript(c.script), c.frames);
    std::vector<Posted> posted = Posts();
    ASSERT_GE(posted.size(), 2u);
    EXPECT_EQ(posted.back(), kDone);
    Posted failure = posted[posted.size() - 2];
    if (c.failure.message == WM_UPLOAD_FAILED) {
        EXPECT_EQ(failure.message, WM_UPLOAD_FAILED) << failure;
        EXPECT_EQ(failure.fault, c.failure.fault) << failure;
        EXPECT_EQ(failure.text.rfind(c.failure.text, 0), 0u) << failure.text;
    } else {
        EXPECT_EQ(failure, c.failure);
    }
    for (std::size_t i = 0; i + 2 < posted.size(); ++i)
        EXPECT_EQ(posted[i].message, WM_UPLOAD_COMMAND) << "one failure message only";
}

const std::string kTail = "CQ\r\nSgood.bin\r\nCX\r\n";  // never reached
const Frame kE1{9, "E1\0\0\0\0\0"s};

// clang-format off
INSTANTIATE_TEST_SUITE_P(Failures, UploadFailureTest, ::testing::Values(
    FailureCase{"MissingFile", "CE1\r\nSmissing.bin\r\n" + kTail, {kE1}, kFileMissing},
    FailureCase{"UnknownCommand", "CE1\r\nCZ\r\n" + kTail, {kE1}, kBadCommand},
    FailureCase{"LowerCaseUnknownLetter", "CE1\r\nCz\r\n" + kTail, {kE1}, kBadCommand},
    FailureCase{"Utf16Script", "C\0E\0001\0\r\0\n\0"s + "C\0Q\0\r\0\n\0"s, {}, Failed(UploadFault::ScriptUtf16, "")},
    FailureCase{"Utf16ScriptWithMark", "\xFF\xFE" "C\0E\0001\0\r\0\n\0"s, {}, Failed(UploadFault::ScriptUtf16, "")},
    FailureCase{"Utf16BigEndianScript", "\xFE\xFF" "\0C\0E\0001\0\r\0\n"s, {}, Failed(UploadFault::ScriptUtf16, "")},
    FailureCase{"LetterS", "CE1\r\nCS\r\n" + kTail, {kE1}, kFileMissing},
    FailureCase{"DirectoryNamed", "CE1\r\nS\r\n" + kTail, {kE1}, Failed(UploadFault::DataFileIsFolder, "")},
    FailureCase{"SubdirectoryNamed", "CE1\r\nSdir\r\n" + kTail, {kE1}, Failed(UploadFault::DataFileIsFolder, "")},
    FailureCase{"NulInName", "CE1\r\nSgood"s + '\0' + ".bin\r\n" + kTail, {kE1}, kFileMissing},
    FailureCase{"PathTooLong", "CE1\r\nS" + std::string(PATH_MAX, 'n') + "\r\n" + kTail, {kE1},
                Failed(UploadFault::DataFileNameTooLong, "")},
    FailureCase{"NameTooLong", "CE1\r\nS" + std::string(300, 'n') + "\r\n" + kTail, {kE1},
                Failed(UploadFault::DataFileNameTooLong, "")},
    FailureCase{"Device", "CE1\r\nSdevice.bin\r\n" + kTail, {kE1}, Failed(UploadFault::DataFileNotRegular, "")},
    FailureCase{"DevZero", "CE1\r\nSzero.bin\r\n" + kTail, {kE1}, Failed(UploadFault::DataFileNotRegular, "")},
    FailureCase{"Fifo", "CE1\r\nSfifo.bin\r\n" + kTail, {kE1}, Failed(UploadFault::DataFileNotRegular, "")},
    FailureCase{"FiveBytes", "CE1\r\nStiny.bin\r\n" + kTail, {kE1}, Failed(UploadFault::DataFileTooShort, "")},
    FailureCase{"EmptyFile", "CE1\r\nSempty.bin\r\n" + kTail, {kE1}, Failed(UploadFault::DataFileTooShort, "")},
    FailureCase{"NoLength", "CE1\r\nSunreadable.bin\r\n" + kTail, {kE1},
                Failed(UploadFault::DataFileTooShort, "")},
    FailureCase{"NoCommand", "nothing to do here\r\n", {}, Failed(UploadFault::NoCommand, "")}),
    [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });
// clang-format on

// A data file changed by another program while it is sent goes out as it
// was when opened, or not whole and with a failure. The link holds after
// `taken` frames while the file is cut to (or grown to) newSize.
struct ChangedFileCase {
    const char* name;
    std::size_t size, taken, newSize;
};

class ChangedFileTest : public UploadThreadTest, public ::testing::WithParamInterface<ChangedFileCase> {};

TEST_P(ChangedFileTest, GoesOutAsItWasWhenOpened) {
    const ChangedFileCase& c = GetParam();
    const std::string data = TestFileString(c.size, 9);
    const std::string path = WriteFile("data.bin", data);
    m_link.Start(c.taken);
    StartUpload("Sdata.bin\r\nCX\r\n");
    ASSERT_TRUE(WaitFor([&] { return m_link.HoldsNextAfter(c.taken); }));
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(c.newSize)), 0);
    m_link.Release();
    Finish();
    m_link.Stop();

    std::string received;  // the file's bytes as the frames carried them (the X adds none)
    for (const Frame& frame : m_link.Frames())
        received += frame.text.substr(received.empty() ? 0 : 1);
    if (c.newSize > c.size) {
        EXPECT_TRUE(received == data) << "nothing beyond the length at open";
        EXPECT_EQ(Posts(), (std::vector<Posted>{Command("S" + path), Sent(path, data), Command("X"), kDone}));
    } else {
        EXPECT_TRUE(data.compare(0, received.size(), received) == 0) << "only bytes of the file, in order";
        EXPECT_EQ(Posts(), (std::vector<Posted>{Command("S" + path), Failed(UploadFault::DataFileEndedEarly, path),
                                                kDone}));
        EXPECT_TRUE(g_bTransferDone.IsSet()) << "LinkThread's transfer wait would never end";
    }
}

INSTANTIATE_TEST_SUITE_P(Changes, ChangedFileTest,
                         ::testing::Values(ChangedFileCase{"Shrinks", 64 * 1024, 3, 1000},
                                           ChangedFileCase{"ShrinksToNothing", 5000, 1, 0},
                                           ChangedFileCase{"Grows", 1000, 2, 9000}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UploadThreadTest, MissingScriptIsReportedAndNothingSent) {
    m_link.Start();
    g_strScriptPath = m_dir + "nowhere.cmd";
    ASSERT_TRUE(AfxBeginThread(UploadThread, reinterpret_cast<void*>(static_cast<std::uintptr_t>(m_hwnd))));
    Finish();
    EXPECT_EQ(m_link.Frames(), std::vector<Frame>{});
    EXPECT_EQ(Posts(), (std::vector<Posted>{Failed(UploadFault::ScriptUnopenable, g_strScriptPath), kDone}));
}

// ---------------------------------------------------------------------------
// The end of the script: success only once the last frame is out.

class LastFrameTest : public UploadThreadTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(LastFrameTest, DoneIsPostedOnlyAfterTheLinkTookTheLastFrame) {
    WriteFile("data.bin", TestFileString(100, 5));
    // Record, for every message as it is posted, whether a frame was still
    // waiting in the Outbox.
    std::mutex mutex;
    std::condition_variable posted;
    std::vector<bool> outboxFullAtPost;
    SetPostedMessageHook([&] {
        std::lock_guard lock(mutex);
        outboxFullAtPost.push_back(g_bOutboxFull.IsSet());
        posted.notify_all();
    });
    const std::size_t frameCount = std::string(GetParam()) == "CX" ? 1 : FileFrames(TestFileString(100, 5)).size();
    m_link.Start(frameCount - 1);  // holds the last frame back
    StartUpload(GetParam());
    ASSERT_TRUE(WaitFor([&] { return m_link.HoldsNextAfter(frameCount - 1); }));
    {
        // Give a thread that would post WM_UPLOAD_DONE now the time to do it.
        std::unique_lock lock(mutex);
        posted.wait_for(lock, 300ms, [&] { return outboxFullAtPost.size() > 1; });
    }
    m_link.Release();
    Finish();
    ASSERT_EQ(m_link.Taken(), frameCount);
    ASSERT_FALSE(Posts().empty());
    EXPECT_EQ(Posts().back(), kDone);
    std::lock_guard lock(mutex);
    EXPECT_FALSE(outboxFullAtPost.back()) << "WM_UPLOAD_DONE posted while the last frame was still queued";
}

INSTANTIATE_TEST_SUITE_P(LastCommand, LastFrameTest, ::testing::Values("CX", "Sdata.bin"));

// ---------------------------------------------------------------------------
// Abort, at the start and at each wait.

TEST_F(UploadThreadTest, AbortBeforeStartActsOnNothing) {
    g_bAbort.Set();
    EXPECT_EQ(RunScript("CE1\r\nCQ\r\n"), std::vector<Frame>{});
    EXPECT_EQ(Posts(), std::vector<Posted>{kDone});
}

// The header's wait for the slot follows the opening of the data file with
// no test of g_bAbort in between: once g_bTransferActive is set, an abort
// finds the thread in (or on its way into) that plain wait.
TEST_F(UploadThreadTest, PlainWaitOutlastsAnAbortUntilTheLinkStops) {
    WriteFile("data.bin", TestFileString(100, 8));
    m_link.Start(0);  // running, takes nothing
    StartUpload("CE1\r\nSdata.bin\r\n");
    ASSERT_TRUE(WaitFor([] { return g_bTransferActive.IsSet() && g_bOutboxFull.IsSet(); }));
    g_bAbort.Set();
    // The link still runs and might take the frame: the wait goes on.
    std::this_thread::sleep_for(50ms);
    EXPECT_EQ(RunningWorkerThreads(), 1);
    m_link.Stop();  // nobody will take it now
    Finish();
    EXPECT_EQ(OutboxFrame(), kE1) << "the queued frame must not be overwritten";
    EXPECT_TRUE(g_bTransferDone.IsSet());
    EXPECT_EQ(Posts(), std::vector<Posted>{kDone}) << "no command is listed whose frame never went out";
}

TEST_F(UploadThreadTest, PlainWaitEndsWhenTheLinkStopsOnTheReceiversError) {
    WriteFile("data.bin", TestFileString(100, 8));
    m_link.Start(0);
    StartUpload("CE1\r\nSdata.bin\r\n");
    ASSERT_TRUE(WaitFor([] { return g_bTransferActive.IsSet() && g_bOutboxFull.IsSet(); }));
    // LinkThread on "ERROR": sets g_bAbort and clears g_bOutboxFull; it goes
    // on running until the end of its pass.
    g_bAbort.Set();
    g_bOutboxFull.Clear();
    Finish();
    EXPECT_FALSE(g_bOutboxFull.IsSet()) << "nothing is queued after an abort";
    EXPECT_TRUE(g_bTransferDone.IsSet());
    EXPECT_EQ(Posts(), std::vector<Posted>{kDone}) << "no command is listed whose frame never went out";
}

// Abortable waits: the link keeps running but takes nothing.
class AbortableWaitTest : public UploadThreadTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(AbortableWaitTest, EndsOnAbortWithoutTouchingTheSlot) {
    m_link.Start(0);
    StartUpload(std::string("CE1\r\n") + GetParam() + "\r\nCE2\r\n");
    ASSERT_TRUE(WaitFor([] { return g_bOutboxFull.IsSet(); }));
    // Time to reach the wait; a wait that ignored g_bAbort would then hang.
    std::this_thread::sleep_for(50ms);
    g_bAbort.Set();
    Finish();
    EXPECT_EQ(OutboxFrame(), kE1);
    EXPECT_EQ(Posts(), std::vector<Posted>{kDone});
}

INSTANTIATE_TEST_SUITE_P(Letters, AbortableWaitTest, ::testing::Values("CQ", "CX"));

TEST_F(UploadThreadTest, AbortEndsTheWaitAfterAQ) {
    FrozenClock clock;  // the five seconds never pass
    SetClock(&clock);
    m_link.Start(0);
    StartUpload("CQ\r\nCE1\r\n");
    ASSERT_TRUE(WaitFor([] { return g_bOutboxFull.IsSet(); }));
    g_bAbort.Set();
    Finish();
    EXPECT_EQ(OutboxFrame(), (Frame{3, "Q"}));
    EXPECT_EQ(Posts(), std::vector<Posted>{kDone});
}

// The link takes E1, then fails before it takes X, as LinkThread does on a
// communication error (g_bAbort set, then the slot cleared): X is never
// listed, neither before nor after the error the link shows.
TEST_F(UploadThreadTest, CommandTheLinkNeverTookIsNeverListed) {
    m_link.Start(1);
    StartUpload("CE1\r\nCX\r\n");
    ASSERT_TRUE(WaitFor([&] { return m_link.HoldsNextAfter(1); }));
    g_bAbort.Set();
    g_bOutboxFull.Clear();
    Finish();
    EXPECT_EQ(Posts(), (std::vector<Posted>{Command("E1"), kDone}));
}

// Abort while a data file is being sent: in the wait for the slot of the
// header, of a full chunk and of the last chunk. The link holds itself after
// `taken` frames; the file is closed and g_bTransferDone set all the same.
struct TransferAbortCase {
    const char* name;
    std::size_t fileSize;
    std::size_t taken;  // frames the link takes before it holds
    DWORD sentAtAbort;  // g_dwBytesSent when the thread has ended
};

void PrintTo(const TransferAbortCase& c, std::ostream* out) { *out << c.name; }

class TransferAbortTest : public UploadThreadTest, public ::testing::WithParamInterface<TransferAbortCase> {};

TEST_P(TransferAbortTest, ClosesTheFileAndEndsTheTransfer) {
    const TransferAbortCase& c = GetParam();
    const std::string data = TestFileString(c.fileSize, 6);
    const std::string path = WriteFile("data.bin", data);
    m_link.Start(c.taken);
    StartUpload("CE1\r\nSdata.bin\r\nCX\r\n");
    ASSERT_TRUE(WaitFor(
        [&] { return g_bTransferActive.IsSet() && m_link.HoldsNextAfter(c.taken); }));
    g_bAbort.Set();
    m_link.Stop();
    Finish();
    EXPECT_TRUE(g_bTransferDone.IsSet());
    EXPECT_EQ(g_dwBytesSent.Load(), c.sentAtAbort);
    // Listed: the commands whose frames the link took (E1, then the file's
    // header).
    const std::vector<Posted> listed{Command("E1"), Command("S" + path)};
    std::vector<Posted> expectedPosts(listed.begin(), listed.begin() + std::min<std::size_t>(c.taken, 2));
    expectedPosts.push_back(kDone);
    EXPECT_EQ(Posts(), expectedPosts);
    // The frame left queued is the one the link did not take.
    std::vector<Frame> expected{kE1};
    for (const Frame& frame : FileFrames(data))
        expected.push_back(frame);
    EXPECT_EQ(OutboxFrame(), expected[c.taken]);
}

INSTANTIATE_TEST_SUITE_P(Waits, TransferAbortTest,
                         ::testing::Values(TransferAbortCase{"Header", 200, 0, 0},
                                           TransferAbortCase{"FullChunk", 200, 2, 70},
                                           TransferAbortCase{"LastChunk", 100, 2, 70}),
                         [](const ::testing::TestParamInfo<TransferAbortCase>& info) {
                             return std::string(info.param.name);
                         });

// ---------------------------------------------------------------------------
// The wait after a 'Q' frame that nobody takes.

TEST_F(UploadThreadTest, QFrameNobodyTakesHoldsTheThreadFiveClockSeconds) {
    SteppingClock clock;
    SetClock(&clock);
    m_link.Start(0);
    StartUpload("CQ\r\nCE1\r\n");
    // The thread goes on once the clock has moved on by five seconds: it then
    // waits for the slot of the E frame, which still holds the Q.
    ASSERT_TRUE(WaitFor([&] { return clock.Readings() >= 6; }));
    std::this_thread::sleep_for(50ms);  // a thread that read on would show it
    m_link.Release();
    Finish();
    EXPECT_EQ(clock.Readings(), 6) << "first reading t0, last t0 + 5";
    EXPECT_EQ(m_link.Frames(), (std::vector<Frame>{{3, "Q"}, kE1}));
    EXPECT_EQ(Posts(), (std::vector<Posted>{Command("Q"), Command("E1"), kDone}));
}

// The 'Q' wait counts on the monotonic clock: a step of the calendar clock
// must neither end it early nor stretch it until an abort.
TEST(SystemClockTest, CountsSecondsOfTheMonotonicClock) {
    timespec before{}, after{};
    ::clock_gettime(CLOCK_MONOTONIC, &before);
    const std::int64_t now = GetClock().NowSeconds();
    ::clock_gettime(CLOCK_MONOTONIC, &after);
    EXPECT_GE(now, before.tv_sec);
    EXPECT_LE(now, after.tv_sec);
}

TEST_F(UploadThreadTest, QFrameTakenAtOnceLetsTheThreadGoOn) {
    FrozenClock clock;  // the wait can end only by the frame being taken
    SetClock(&clock);
    EXPECT_EQ(RunScript("CQ\r\nCQ\r\nCE1\r\n"), (std::vector<Frame>{{3, "Q"}, {3, "Q"}, kE1}));
}

}  // namespace
