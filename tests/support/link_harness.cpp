#include "support/link_harness.h"

#include <algorithm>
#include <cstring>

#include <gtest/gtest.h>

#include "link/frame_buffer.h"
#include "link/link_thread.h"
#include "link/port_setup.h"
#include "link/shared_state.h"
#include "platform/thread.h"
#include "platform/serial_termios.h"

PostedMessageLog::PostedMessageLog() : m_hwnd(CreateWindowHandle(this)) {}

PostedMessageLog::~PostedMessageLog() {
    DestroyWindowHandle(m_hwnd);
}

void* PostedMessageLog::ThreadParam() const {
    return reinterpret_cast<void*>(static_cast<std::uintptr_t>(m_hwnd));
}

LRESULT PostedMessageLog::OnMessage(UINT message, WPARAM, LPARAM) {
    std::lock_guard lock(m_mutex);
    m_messages.push_back(message);
    return 0;
}

void PostedMessageLog::Pump() {
    DispatchPostedMessages();
}

bool PostedMessageLog::PumpUntil(const std::function<bool()>& pred, std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        DispatchPostedMessages();
        if (pred())
            return true;
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        WaitForPostedMessage(std::chrono::milliseconds(5));
    }
}

bool PostedMessageLog::PumpUntilCount(UINT message, int count, std::chrono::milliseconds timeout) {
    return PumpUntil([&] { return Count(message) >= count; }, timeout);
}

int PostedMessageLog::Count(UINT message) const {
    std::lock_guard lock(m_mutex);
    return static_cast<int>(std::count(m_messages.begin(), m_messages.end(), message));
}

std::vector<UINT> PostedMessageLog::Messages() const {
    std::lock_guard lock(m_mutex);
    return m_messages;
}

bool OpenToolPort(const std::string& path) {
    PortSettings settings;
    settings.m_strDevice = path;
    std::string reason;
    if (OpenCommPort(settings, &reason))
        return true;
    ADD_FAILURE() << "cannot open " << path << ": " << reason;
    return false;
}

bool StartLinkThread(const PostedMessageLog& window) {
    g_bAbort.Clear();
    return AfxBeginThread(LinkThread, window.ThreadParam());
}

unsigned ToolBaud(const PtyPair& pty) {
    return ReadLineSettings(pty.SlaveTermios()).baudRate;
}

ScriptedReceiver::Tags ScriptedReceiver::Send(std::string_view text, bool badChecksum) {
    Tags tags{};
    m_tags.Next(text, &tags.tag0, &tags.tag1);
    m_pty.WriteMaster(BuildReceiverFrame(tags.tag0, tags.tag1, text, badChecksum));
    return tags;
}

void ScriptedReceiver::SendWithTags(std::uint8_t tag0, std::uint8_t tag1, std::string_view text) {
    m_pty.WriteMaster(BuildReceiverFrame(tag0, tag1, text));
}

void ScriptedReceiver::SendRaw(const std::vector<std::uint8_t>& bytes) {
    m_pty.WriteMaster(bytes);
}

std::optional<ToolFrame> ScriptedReceiver::ReadFrame(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (std::optional<ToolFrame> frame = m_parser.Next())
            return frame;
        const auto now = std::chrono::steady_clock::now();
        if (now >= deadline)
            return std::nullopt;
        const std::vector<std::uint8_t> bytes =
            m_pty.ReadMaster(1, std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now));
        if (bytes.empty())
            return std::nullopt;
        m_parser.Feed(bytes.data(), bytes.size());
        // Take whatever else has arrived with it.
        const std::vector<std::uint8_t> more = m_pty.ReadMaster(4096, std::chrono::milliseconds(0));
        m_parser.Feed(more.data(), more.size());
    }
}

std::optional<ToolFrame> ScriptedReceiver::Exchange(std::string_view text, Tags* tags) {
    const Tags sent = Send(text);
    if (tags)
        *tags = sent;
    return ReadFrame();
}

std::vector<ToolFrame> ScriptedReceiver::ReadAvailableFrames() {
    std::vector<ToolFrame> frames;
    for (;;) {
        const std::vector<std::uint8_t> bytes = m_pty.ReadMaster(4096, std::chrono::milliseconds(0));
        if (bytes.empty())
            break;
        m_parser.Feed(bytes.data(), bytes.size());
    }
    while (std::optional<ToolFrame> frame = m_parser.Next())
        frames.push_back(*frame);
    return frames;
}

bool OutboxFeeder::Queue(const std::vector<std::uint8_t>& text) {
    WaitForState([] { return !g_bOutboxFull.IsSet() || g_bAbort.IsSet(); });
    if (g_bOutboxFull)
        return false;
    Outbox.m_byLength = static_cast<BYTE>(frame::kTagSize + text.size());
    std::memcpy(&Outbox.m_abyPayload[frame::kTextOffset], text.data(), text.size());
    g_bOutboxFull.Set();
    return true;
}

bool OutboxFeeder::Queue(std::string_view text) {
    return Queue(std::vector<std::uint8_t>(text.begin(), text.end()));
}

void OutboxFeeder::StartUpload(std::vector<std::string> before, std::vector<std::uint8_t> file,
                               std::vector<std::string> after) {
    Join();
    m_thread = std::thread([before = std::move(before), file = std::move(file), after = std::move(after)] {
        for (const std::string& command : before)
            if (!Queue(command))
                return;
        if (!file.empty()) {
            g_bTransferActive.Set();
            for (const std::vector<std::uint8_t>& text : DataFileFrames(file))
                if (!Queue(text))
                    break;
            g_bTransferDone.Set();
        }
        for (const std::string& command : after)
            if (!Queue(command))
                return;
    });
}

void OutboxFeeder::Join() {
    if (m_thread.joinable())
        m_thread.join();
}

std::vector<std::vector<std::uint8_t>> DataFileFrames(const std::vector<std::uint8_t>& file) {
    std::vector<std::vector<std::uint8_t>> frames;
    const std::size_t header = std::min(file.size(), frame::kHeaderDataSize);
    frames.emplace_back(file.begin(), file.begin() + static_cast<long>(header));
    for (std::size_t at = header; at < file.size(); at += frame::kChunkDataSize) {
        const std::size_t end = std::min(file.size(), at + frame::kChunkDataSize);
        std::vector<std::uint8_t> chunk{frame::kChunkMarker};
        chunk.insert(chunk.end(), file.begin() + static_cast<long>(at), file.begin() + static_cast<long>(end));
        frames.push_back(std::move(chunk));
    }
    return frames;
}

