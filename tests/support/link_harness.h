// Driving LinkThread in tests: a window that records what the thread posts,
// the port opened and the thread started as the Connect sequence and the
// connection wait dialog do, a scripted receiver on a pty master that writes
// exact frames and reads exact answers, and a stand-in for UploadThread's
// side of the Outbox hand-off.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "platform/window.h"
#include "sim/sim_frames.h"
#include "support/pty_pair.h"
#include "support/test_data.h"

// Only a guard against hangs; never the thing a test asserts.
inline constexpr std::chrono::milliseconds kHangGuard{20000};

// A window that records the messages posted to it, delivered on the test
// thread by Pump().
class PostedMessageLog : public MessageTarget {
public:
    PostedMessageLog();
    ~PostedMessageLog() override;
    PostedMessageLog(const PostedMessageLog&) = delete;
    PostedMessageLog& operator=(const PostedMessageLog&) = delete;

    HWND Handle() const { return m_hwnd; }
    // The thread parameter LinkThread expects.
    void* ThreadParam() const;

    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

    // Delivers what has been posted so far.
    void Pump();
    // Delivers posted messages until pred() holds or timeout passes.
    bool PumpUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout = kHangGuard);
    // Delivers until count messages of this kind have arrived.
    bool PumpUntilCount(UINT message, int count, std::chrono::milliseconds timeout = kHangGuard);

    int Count(UINT message) const;
    std::vector<UINT> Messages() const;

private:
    HWND m_hwnd = 0;
    mutable std::mutex m_mutex;
    std::vector<UINT> m_messages;
};

// Opens the tool's port on path with the Port Setup defaults (19200 8-O-1,
// no flow control), as the Connect sequence does.
bool OpenToolPort(const std::string& path);

// Starts LinkThread as the connection wait dialog does (g_bAbort cleared
// first).
bool StartLinkThread(const PostedMessageLog& window);

// The baud rate the tool's port is set to, read from the slave's termios.
unsigned ToolBaud(const PtyPair& pty);

// Plays the receiver by hand on the master of a pty pair.
class ScriptedReceiver {
public:
    const std::string& ToolPath() const { return m_pty.SlavePath(); }
    PtyPair& Pty() { return m_pty; }

    struct Tags {
        std::uint8_t tag0, tag1;
    };
    // Sends a frame with this text and fresh tags; returns the tags.
    Tags Send(std::string_view text, bool badChecksum = false);
    // Sends a frame with the given tags.
    void SendWithTags(std::uint8_t tag0, std::uint8_t tag1, std::string_view text);
    // Writes raw bytes.
    void SendRaw(const std::vector<std::uint8_t>& bytes);

    // The next frame the tool sends (nullopt if none came before timeout, a
    // hang guard only). Stray bytes in front of it are counted in StrayBytes.
    std::optional<ToolFrame> ReadFrame(std::chrono::milliseconds timeout = kHangGuard);
    // Sends text and returns the tool's answer (which must be the next
    // frame it sends).
    std::optional<ToolFrame> Exchange(std::string_view text, Tags* tags = nullptr);
    // Every whole frame the tool has sent so far, without waiting beyond the
    // bytes already written.
    std::vector<ToolFrame> ReadAvailableFrames();

    std::vector<std::string> TakeProblems() { return m_parser.TakeProblems(); }

private:
    PtyPair m_pty;
    TagSequence m_tags{0x2001};
    ToolFrameParser m_parser;
};

// Stands in for UploadThread's side of the Outbox hand-off: queues each
// frame text in turn (waiting for the slot as UploadThread does), and marks
// a data file's stream with g_bTransferActive / g_bTransferDone.
class OutboxFeeder {
public:
    // Queues one frame (L = 2 + text size) once the slot is free; returns at
    // once if g_bAbort is set while it waits.
    static bool Queue(const std::vector<std::uint8_t>& text);
    static bool Queue(std::string_view text);

    // Runs a whole upload on its own thread: the commands, then the file as
    // header and chunks, then the closing commands.
    void StartUpload(std::vector<std::string> before, std::vector<std::uint8_t> file,
                     std::vector<std::string> after);
    void Join();
    ~OutboxFeeder() { Join(); }

private:
    std::thread m_thread;
};

// The frame texts of a data file: header (first 6 bytes), then '*' chunks
// of 64 bytes and a short last chunk.
std::vector<std::vector<std::uint8_t>> DataFileFrames(const std::vector<std::uint8_t>& file);

