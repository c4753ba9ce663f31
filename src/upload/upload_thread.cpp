#include "upload/upload_thread.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "link/frame_buffer.h"
#include "link/frame_format.h"
#include "link/messages.h"
#include "link/shared_state.h"
#include "platform/clock.h"
#include "platform/sha256.h"
#include "platform/window.h"
#include "upload/data_file.h"
#include "upload/expected_data_files.h"
#include "upload/script_reader.h"
#include "upload/upload_fault.h"

namespace {

// A 'Q' frame that nobody takes holds the thread until the one-second
// (monotonic) clock has moved on by this much (so more than 4 and at most 5
// seconds).
constexpr std::int64_t kQWaitSeconds = 5;
// The 'Q' wait sleeps in slices this long between readings of the clock.
constexpr std::chrono::milliseconds kQWaitSlice{100};

// What the script's execution does after one command.
enum class Next { Go, Stop };

// Plain wait for the Outbox slot. It ends when LinkThread has taken the
// frame before, or, after an abort, once LinkThread has stopped (then nobody
// will ever take it). True when a frame may be queued now: the slot is free
// and there is no abort.
bool WaitForFreeSlot() {
    WaitForState([] { return !g_bOutboxFull || (g_bAbort && !g_bLinkRunning); });
    return !g_bOutboxFull && !g_bAbort;
}

// Abortable wait for the Outbox slot: also ends as soon as g_bAbort is set
// (at once when it is set already). True when a frame may be queued now.
// After an abort the slot is never written, even if it has become free: it
// may still be in LinkThread's hands.
bool WaitForFreeSlotOrAbort() {
    WaitForState([] { return !g_bOutboxFull || g_bAbort; });
    return !g_bOutboxFull && !g_bAbort;
}

// Writes the frame's length and text into Outbox (from payload byte 2 on;
// LinkThread fills in the tag bytes). Only while the slot is free.
void FillOutbox(BYTE length, const BYTE* text, std::size_t textSize) {
    g_pOutbox->m_byLength = length;
    std::memcpy(g_pOutbox->m_abyPayload + frame::kTextOffset, text, textSize);
}

// The bytes of a data file put into frames so far, and their SHA-256.
class FramedBytes {
public:
    void Add(const BYTE* data, std::size_t size) {
        m_hash.Update(data, size);
        m_qwCount += size;
    }
    std::uint64_t Count() const { return m_qwCount; }
    std::string Sha256() const { return m_hash.Hex(); }

private:
    Sha256Stream m_hash;
    std::uint64_t m_qwCount = 0;
};

class ScriptExecutor {
public:
    explicit ScriptExecutor(HWND hwnd)
        : m_hwnd(hwnd), m_reader(g_strScriptPath), m_expected(ExpectedDataFiles()) {}

    // Works through the script until its end, a failure or an abort.
    void Run();

private:
    Next Execute();
    Next SendE();
    Next SendLetter(char letter);
    Next SendDataFile();
    bool SendFileContents(DataFile& file, FramedBytes& framed);
    void EndDataFile(DataFile& file);
    Next ReportFileSent(const DataFile& file, const FramedBytes& framed, const ExpectedDataFile* expected);
    const ExpectedDataFile* ExpectedFor(const std::string& path) const;
    // The failures: the command queued before is told first, once the link
    // has taken its frame (the wait ends on an abort), so that the window
    // lists what went out, then the failure.
    Next Stop(UINT message);
    Next ReportFault(UploadFault fault, const std::string& path, int error);
    void WaitUntilTaken();
    void WaitForLastFrame();
    bool WaitForSlot();
    bool WaitForSlotOrAbort();
    void QueueCommand(const std::string& text);
    void TellTakenCommand();

    HWND m_hwnd;
    ScriptReader m_reader;
    // The command whose frame waits in the Outbox and has not been told to
    // the window yet ("" when none): it is told once the link has taken the
    // frame, never for a frame that may not have gone out.
    std::string m_strUntold;
    // What the run checked of its data files at its start; nullopt: nothing.
    const std::optional<std::vector<ExpectedDataFile>> m_expected;
};

void ScriptExecutor::Run() {
    int result = m_reader.GetFirstCommand();
    if (result == 0 && !m_reader.HasFailed() && !g_bAbort) {
        // Nothing to send: no download can be said to have happened.
        ReportFault(UploadFault::NoCommand, m_reader.Path(), 0);
        return;
    }
    for (;;) {
        if (g_bAbort)
            return;
        if (result == 0)
            break;
        if (Execute() == Next::Stop)
            return;
        result = m_reader.GetNextCommand();
    }
    if (m_reader.HasFailed()) {
        ReportFault(m_reader.Fault(), m_reader.Path(), m_reader.Error());
        return;
    }
    WaitForLastFrame();
}

// Decides by the command's first byte alone, case-sensitively (the reader
// has brought the letter to upper case).
Next ScriptExecutor::Execute() {
    switch (m_reader.m_szCommand[0]) {
    case 'E':
        return SendE();
    case 'Q':
    case 'X':
        return SendLetter(m_reader.m_szCommand[0]);
    case 'S':
        return SendDataFile();
    default:
        return Stop(WM_UPLOAD_BAD_COMMAND);
    }
}

// 'E' and its first 6 argument bytes in a 7-byte field, zero bytes after a
// shorter text (the text ends at its first NUL, as with strncpy).
Next ScriptExecutor::SendE() {
    if (!WaitForSlot())
        return Next::Go;
    BYTE text[frame::kEFieldSize] = {};
    for (std::size_t i = 0; i < frame::kEFieldSize && m_reader.m_szCommand[i] != 0; ++i)
        text[i] = static_cast<BYTE>(m_reader.m_szCommand[i]);
    FillOutbox(frame::kLengthE, text, sizeof text);
    QueueCommand(m_reader.m_szCommand);
    return Next::Go;
}

Next ScriptExecutor::SendLetter(char letter) {
    if (!WaitForSlotOrAbort())
        return Next::Go;
    const BYTE text[1] = {static_cast<BYTE>(letter)};
    FillOutbox(frame::kLengthLetter, text, sizeof text);
    QueueCommand(std::string(1, letter));
    if (letter == 'Q')
        WaitUntilTaken();
    return Next::Go;
}

// After a 'Q' frame: gives LinkThread until the one-second clock has moved on
// by kQWaitSeconds to take it, then goes on whether or not it was taken.
// Sleeps in short slices so that the clock is read again between them.
void ScriptExecutor::WaitUntilTaken() {
    Clock& clock = GetClock();
    const std::int64_t start = clock.NowSeconds();
    std::int64_t elapsed = 0;
    while (!g_bAbort && elapsed < kQWaitSeconds && g_bOutboxFull) {
        WaitForStateFor([] { return g_bAbort || !g_bOutboxFull; }, kQWaitSlice);
        elapsed = clock.NowSeconds() - start;
    }
    TellTakenCommand();
}

Next ScriptExecutor::SendDataFile() {
    DataFile file;
    // The reader's full text: not cut to m_szCommand's size.
    const UploadFault fault = file.Open(m_reader.m_strCommand.substr(1));
    if (fault == UploadFault::DataFileMissing)
        return Stop(WM_UPLOAD_FILE_MISSING);
    if (fault != UploadFault::None)
        return ReportFault(fault, file.Path(), file.Error());
    // A file of another length than the one checked at the start is not
    // the file checked: nothing of it goes out.
    const ExpectedDataFile* expected = ExpectedFor(file.Path());
    if (m_expected && (!expected || expected->m_qwSize != file.Length()))
        return ReportFault(UploadFault::DataFileChanged, file.Path(), 0);
    g_bTransferActive.Set();
    // Progress runs from 0 to the file's length for each data file.
    g_dwBytesSent.Store(0);
    g_dwFileLength.Store(static_cast<DWORD>(file.Length()));
    FramedBytes framed;
    const bool sent = SendFileContents(file, framed);
    EndDataFile(file);
    if (!sent)
        return ReportFault(file.Fault(), file.Path(), file.Error());
    return ReportFileSent(file, framed, expected);
}

// Waits until the link has taken the file's last frame (as the next command
// would wait for the slot), then reports the bytes that went out and their
// SHA-256, and fails when they are not the bytes checked at the start.
// Nothing is reported after an abort: the last frame may never have gone.
Next ScriptExecutor::ReportFileSent(const DataFile& file, const FramedBytes& framed,
                                    const ExpectedDataFile* expected) {
    if (!WaitForSlotOrAbort())
        return Next::Go;
    const SentDataFile sent{file.Path(), framed.Count(), framed.Sha256()};
    PostMessageText(m_hwnd, WM_UPLOAD_FILE_SENT, SentDataFileText(sent).c_str(), static_cast<WPARAM>(sent.m_qwBytes));
    if (m_expected && (sent.m_qwBytes != expected->m_qwSize || sent.m_strSha256 != expected->m_strSha256))
        return ReportFault(UploadFault::DataFileChanged, file.Path(), 0);
    return Next::Go;
}

const ExpectedDataFile* ScriptExecutor::ExpectedFor(const std::string& path) const {
    if (!m_expected)
        return nullptr;
    const auto found = std::find_if(m_expected->begin(), m_expected->end(),
                                    [&](const ExpectedDataFile& file) { return file.m_strPath == path; });
    return found == m_expected->end() ? nullptr : &*found;
}

// The header frame (file bytes 0 to 5; the file has at least those), then
// the rest in chunks of 64 bytes and one last shorter chunk, up to the
// length the file had when it was opened, each added to framed as it is
// queued. False when a read failed or the file ended before that length;
// true at that length or on abort.
bool ScriptExecutor::SendFileContents(DataFile& file, FramedBytes& framed) {
    BYTE header[frame::kHeaderDataSize] = {};
    long count = file.Read(header, sizeof header);
    if (count != static_cast<long>(sizeof header))
        return false;
    if (!WaitForSlot())
        return true;
    FillOutbox(frame::kLengthHeader, header, sizeof header);
    framed.Add(header, sizeof header);
    // The data file's command is told with its header frame.
    QueueCommand("S" + file.Path());
    g_dwBytesSent.Add(static_cast<DWORD>(count));

    BYTE chunk[1 + frame::kChunkDataSize];
    chunk[0] = frame::kChunkMarker;
    while (!g_bAbort) {
        count = file.Read(chunk + 1, frame::kChunkDataSize);
        if (count < 0)
            return false;
        if (count == 0 || !WaitForSlot())
            break;
        FillOutbox(static_cast<BYTE>(frame::kTagSize + 1 + count), chunk, 1 + count);
        framed.Add(chunk + 1, static_cast<std::size_t>(count));
        g_bOutboxFull.Set();
        g_dwBytesSent.Add(static_cast<DWORD>(count));
        if (count < static_cast<long>(frame::kChunkDataSize))
            break;
    }
    return true;
}

// Closes the data file and tells LinkThread that the transfer is over, also
// after an abort or a failure: its wait inside the transfer ends on this.
void ScriptExecutor::EndDataFile(DataFile& file) {
    file.Close();
    g_bTransferDone.Set();
}

Next ScriptExecutor::Stop(UINT message) {
    WaitForSlotOrAbort();
    PostMessage(m_hwnd, message, 0, 0);
    return Next::Stop;
}

Next ScriptExecutor::ReportFault(UploadFault fault, const std::string& path, int error) {
    WaitForSlotOrAbort();
    PostMessageText(m_hwnd, WM_UPLOAD_FAILED, path.c_str(), PackFault(fault, error));
    return Next::Stop;
}

// The end of the script: everything is queued, but success may be reported
// only once LinkThread has written the last frame (it clears g_bOutboxFull
// after the write). An abort ends the wait.
void ScriptExecutor::WaitForLastFrame() {
    WaitForState([] { return !g_bOutboxFull || g_bAbort; });
    TellTakenCommand();
}

bool ScriptExecutor::WaitForSlot() {
    const bool free = WaitForFreeSlot();
    TellTakenCommand();
    return free;
}

bool ScriptExecutor::WaitForSlotOrAbort() {
    const bool free = WaitForFreeSlotOrAbort();
    TellTakenCommand();
    return free;
}

void ScriptExecutor::QueueCommand(const std::string& text) {
    m_strUntold = text;
    g_bOutboxFull.Set();
}

// A command is told only once its frame has left the Outbox with no abort:
// a link that fails clears the slot after setting g_bAbort, so a frame it
// never sent is never listed (after the error, as if it had run). A frame
// taken just before an abort stays untold, as a data file's end does.
// The message carries its own copy of the text: the reader's buffer is
// overwritten by the next command and gone when the thread ends.
void ScriptExecutor::TellTakenCommand() {
    if (m_strUntold.empty() || g_bOutboxFull || g_bAbort)
        return;
    PostMessageText(m_hwnd, WM_UPLOAD_COMMAND, m_strUntold.c_str());
    m_strUntold.clear();
}

}  // namespace

// The path, then the digest after the last line feed (a digest holds none).
std::string SentDataFileText(const SentDataFile& file) { return file.m_strPath + "\n" + file.m_strSha256; }

SentDataFile SentDataFileOf(WPARAM wParam, const char* text) {
    SentDataFile file;
    file.m_qwBytes = static_cast<std::uint64_t>(wParam);
    file.m_strPath = text ? text : "";
    if (const std::size_t end = file.m_strPath.rfind('\n'); end != std::string::npos) {
        file.m_strSha256 = file.m_strPath.substr(end + 1);
        file.m_strPath.resize(end);
    }
    return file;
}

UINT UploadThread(void* param) {
    const HWND hwnd = static_cast<HWND>(reinterpret_cast<std::uintptr_t>(param));
    {
        ScriptExecutor executor(hwnd);
        executor.Run();
    }  // script and data file closed before the end is announced
    PostMessage(hwnd, WM_UPLOAD_DONE, 0, 0);
    return 0;
}
