#include "events/run_events.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <map>
#include <mutex>
#include <optional>

#include <nlohmann/json.hpp>

#include "events/event_names.h"
#include "platform/serial_port.h"
#include "platform/utf8_path.h"
#include "platform/whole_lines.h"

namespace {

using Json = nlohmann::ordered_json;
using Seconds = std::chrono::duration<double>;

// Progress events of one data file are a second apart: the upload dialog's
// refresh, whose ticks may come a little early on the clock read here.
constexpr std::chrono::milliseconds kProgressPeriod{1000};
constexpr std::chrono::milliseconds kTickJitter{20};
// Rounded to the millisecond, as every time in the events is.
double Millis(double seconds) { return std::round(seconds * 1000.0) / 1000.0; }

// The device a port name opens: a COM name's device, with symlinks
// (/dev/serial/by-id/...) followed.
std::string ResolvedDevice(const std::string& name) {
    const std::string device = ResolvePortName(name);
    std::error_code error;
    const std::filesystem::path canonical = std::filesystem::canonical(PathFromUtf8(device), error);
    return error || device.empty() ? device : Utf8FromPath(canonical);
}

// Every line as JSON; bytes that are not UTF-8 (paths need not be) are
// replaced rather than lose the event.
std::string Line(const Json& event) { return event.dump(-1, ' ', false, Json::error_handler_t::replace); }

// The end event's fields after event, t and port.
void AddEndFields(Json& event, const RunEndReport& end, std::uint64_t bytes) {
    event[event::field::kResult] = end.m_strResult;
    event[event::field::kOutcome] = end.m_strOutcome;
    event[event::field::kMessage] = end.m_strMessage;
    event[event::field::kExitStatus] = end.m_nExitStatus;
    event[event::field::kSeconds] = event[event::field::kTime];
    event[event::field::kBytes] = bytes;
}

// A name (a path, a port) under key: readable, and when it is not UTF-8,
// its bytes under hexKey as well.
void SetName(Json& object, const char* key, const char* hexKey, const std::string& name) {
    object[key] = name;
    if (!IsUtf8(name))
        object[hexKey] = HexOfBytes(name);
}

}  // namespace

struct RunEvents::Impl {
    // The data file being sent.
    struct OpenFile {
        std::string path;
        std::uint64_t size = 0;  // its length, as the progress counters show it
        TimePoint start;
        std::uint64_t bytes = 0;
        std::optional<TimePoint> lastProgress;
        bool finalProgressWritten = false;
    };

    // Held by every call that reads or writes the state below: the UI
    // thread's, and a forced exit's on the interrupt watcher's thread.
    mutable std::mutex mutex;
    bool ended = false;  // nothing is written after the end
    std::FILE* out = nullptr;
    std::string writeError;  // why a line could not be written: nothing more is
    std::FILE* owned = nullptr;
    TimeSource now;
    TimePoint start;
    std::string port;
    std::string device;
    std::map<std::string, std::uint64_t> sizes;  // of the data files, by path, from Started
    std::optional<OpenFile> openFile;
    std::uint64_t bytesDone = 0;            // of the data files sent whole

    Json Event(const char* name) const {
        Json event;
        event[event::field::kEvent] = name;
        event[event::field::kTime] = Millis(Seconds(now() - start).count());
        SetName(event, event::field::kPort, event::field::kPortHex, port);
        return event;
    }

    // One line in one write. A line the file took only in part is cut off
    // again, so that the file ends with a whole line.
    void Write(const Json& event) {
        if (ended || !writeError.empty())
            return;
        std::fflush(out);
        AppendWholeLine(fileno(out), Line(event) + "\n", &writeError);
    }

    void WriteProgress(OpenFile& file, TimePoint at) {
        const double elapsed = std::max(Seconds(at - file.start).count(), 0.001);
        const double rate = static_cast<double>(file.bytes) / elapsed;
        const std::uint64_t left = file.size > file.bytes ? file.size - file.bytes : 0;
        Json event = Event(event::kProgress);
        SetName(event, event::field::kFile, event::field::kFileHex, file.path);
        event[event::field::kBytes] = file.bytes;
        event[event::field::kTotal] = file.size;
        event[event::field::kPercent] = file.size == 0 ? 100 : file.bytes * 100 / file.size;
        event[event::field::kRate] = std::llround(rate);
        event[event::field::kSecondsLeft] = Millis(static_cast<double>(left) / rate);
        Write(event);
        file.lastProgress = at;
        file.finalProgressWritten = file.bytes >= file.size;
    }

    // The open data file has gone out whole: bytes of it.
    void CloseFileAsSent(const std::string& path, std::uint64_t bytes, const std::string& sha256) {
        if (openFile && openFile->path == path) {
            OpenFile& file = *openFile;
            file.bytes = file.size = bytes;
            if (!file.finalProgressWritten)
                WriteProgress(file, now());
            openFile.reset();
        }
        Json event = Event(event::kFileSent);
        SetName(event, event::field::kFile, event::field::kFileHex, path);
        event[event::field::kBytes] = bytes;
        event[event::field::kSha256] = sha256;
        Write(event);
        bytesDone += bytes;
    }

    void OpenDataFile(const std::string& path) {
        OpenFile file;
        file.path = path;
        file.start = now();
        if (auto it = sizes.find(path); it != sizes.end()) {
            file.size = it->second;
        } else {
            // Not checked at the start (the script was chosen later): its
            // length now is what the upload sends.
            std::error_code error;
            const auto size = std::filesystem::file_size(PathFromUtf8(path), error);
            file.size = error ? 0 : size;
        }
        openFile = std::move(file);
    }

    void WriteEnd(const RunEndReport& end) {
        Json event = Event(event::kEnd);
        AddEndFields(event, end, bytesDone + (openFile ? openFile->bytes : 0));
        Write(event);
        ended = true;
    }
};

RunEvents::RunEvents(std::FILE* out, TimeSource now) : m_impl(std::make_unique<Impl>()) {
    m_impl->out = out;
    m_impl->now = std::move(now);
    m_impl->start = m_impl->now();
}

RunEvents::~RunEvents() {
    if (m_impl->owned != nullptr)
        std::fclose(m_impl->owned);
}

std::unique_ptr<RunEvents> RunEvents::Open(const std::string& path, std::string* reason) {
    if (path == "-")
        return std::make_unique<RunEvents>(stdout);
    // Close-on-exec: a program started from here must not keep it open.
    std::FILE* file = std::fopen(path.c_str(), "we");
    if (file == nullptr) {
        if (reason)
            *reason = std::strerror(errno);
        return nullptr;
    }
    auto events = std::make_unique<RunEvents>(file);
    events->m_impl->owned = file;
    return events;
}

void RunEvents::SetPort(const std::string& name, const std::string& device) {
    std::lock_guard lock(m_impl->mutex);
    m_impl->port = name;
    m_impl->device = device.empty() ? ResolvedDevice(name) : device;
}

void RunEvents::Started(const std::string& script, const std::vector<RunEventsFile>& files) {
    std::lock_guard lock(m_impl->mutex);
    Json event = m_impl->Event(event::kStarted);
    SetName(event, event::field::kScript, event::field::kScriptHex, script);
    Json list = Json::array();
    for (const RunEventsFile& file : files) {
        m_impl->sizes[file.m_strPath] = file.m_nSize;
        Json entry;
        SetName(entry, event::field::kPath, event::field::kPathHex, file.m_strPath);
        entry[event::field::kSize] = file.m_nSize;
        entry[event::field::kSha256] = file.m_strSha256;
        list.push_back(std::move(entry));
    }
    event[event::field::kFiles] = std::move(list);
    event[event::field::kPid] = static_cast<long long>(getpid());
    m_impl->Write(event);
}

void RunEvents::PortOpened(const std::string& warning) {
    std::lock_guard lock(m_impl->mutex);
    Json event = m_impl->Event(event::kPortOpened);
    SetName(event, event::field::kDevice, event::field::kDeviceHex, m_impl->device);
    if (!warning.empty())
        event[event::field::kWarning] = warning;
    m_impl->Write(event);
}

void RunEvents::Waiting() {
    std::lock_guard lock(m_impl->mutex);
    m_impl->Write(m_impl->Event(event::kWaiting));
}

void RunEvents::Connected() {
    std::lock_guard lock(m_impl->mutex);
    m_impl->Write(m_impl->Event(event::kConnected));
}

void RunEvents::Command(const std::string& command, const std::string& shownText) {
    std::lock_guard lock(m_impl->mutex);
    Json event = m_impl->Event(event::kCommand);
    event[event::field::kText] = shownText;
    SetName(event, event::field::kCommand, event::field::kCommandHex, command);
    m_impl->Write(event);
    if (!command.empty() && command[0] == 'S')
        m_impl->OpenDataFile(command.substr(1));
}

void RunEvents::Progress(std::uint32_t bytesSent, std::uint32_t fileLength) {
    std::lock_guard lock(m_impl->mutex);
    if (!m_impl->openFile)
        return;
    Impl::OpenFile& file = *m_impl->openFile;
    if (fileLength != file.size || bytesSent < file.bytes)
        return;
    file.bytes = bytesSent;
    const TimePoint at = m_impl->now();
    const bool due = !file.lastProgress || at - *file.lastProgress >= kProgressPeriod - kTickJitter;
    if (file.bytes > 0 && !file.finalProgressWritten && due)
        m_impl->WriteProgress(file, at);
}

void RunEvents::FileSent(const std::string& path, std::uint64_t bytes, const std::string& sha256) {
    std::lock_guard lock(m_impl->mutex);
    m_impl->CloseFileAsSent(path, bytes, sha256);
}

void RunEvents::End(const RunEndReport& end) {
    std::lock_guard lock(m_impl->mutex);
    m_impl->WriteEnd(end);
}

bool RunEvents::TryEnd(const RunEndReport& end) {
    std::unique_lock lock(m_impl->mutex, std::try_to_lock);
    if (!lock.owns_lock())
        return false;
    m_impl->WriteEnd(end);
    return true;
}

bool RunEvents::HasEnded() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->ended;
}

std::string RunEvents::WriteError() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->writeError;
}

std::string EndEventLine(const std::string& port, double seconds, const RunEndReport& end, std::uint64_t bytes,
                         const std::string& by) {
    Json event;
    event[event::field::kEvent] = event::kEnd;
    event[event::field::kTime] = Millis(seconds);
    SetName(event, event::field::kPort, event::field::kPortHex, port);
    AddEndFields(event, end, bytes);
    event[event::field::kBy] = by;
    return Line(event);
}
