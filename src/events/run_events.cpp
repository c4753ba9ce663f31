#include "events/run_events.h"

#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>

#include <nlohmann/json.hpp>

#include "platform/serial_port.h"
#include "res/resource.h"
#include "res/strings.h"
#include "platform/sha256.h"
#include "ui/run_outcome.h"
#include "upload/script_check.h"
#include "platform/utf8_path.h"

namespace {

using Json = nlohmann::ordered_json;
using Seconds = std::chrono::duration<double>;

// Progress events of one data file are a second apart: the upload dialog's
// refresh, whose ticks may come a little early on the clock read here.
constexpr std::chrono::milliseconds kProgressPeriod{1000};
constexpr std::chrono::milliseconds kTickJitter{20};
// What the upload dialog puts in front of each command it shows.
constexpr char kCommandPrefix[] = "Command: ";

// Rounded to the millisecond, as every time in the events is.
double Millis(double seconds) { return std::round(seconds * 1000.0) / 1000.0; }

// SHA-256 of the first length bytes of path (what the upload will send);
// "" when the file cannot be read that far.
std::string FileSha256(const std::string& path, std::uint64_t length) {
    std::ifstream in(PathFromUtf8(path), std::ios::binary);
    Sha256Stream hash;
    char buffer[65536];
    while (length > 0 && in) {
        in.read(buffer, static_cast<std::streamsize>(std::min<std::uint64_t>(length, sizeof buffer)));
        const auto count = static_cast<std::uint64_t>(in.gcount());
        hash.Update(reinterpret_cast<const std::uint8_t*>(buffer), count);
        length -= count;
    }
    return length == 0 ? hash.Hex() : std::string();
}

// The device a port name opens: a COM name's device, with symlinks
// (/dev/serial/by-id/...) followed.
std::string ResolvedDevice(const std::string& name) {
    const std::string device = ResolvePortName(name);
    std::error_code error;
    const std::filesystem::path canonical = std::filesystem::canonical(PathFromUtf8(device), error);
    return error || device.empty() ? device : Utf8FromPath(canonical);
}

const char* ResultName(int exitStatus) {
    if (exitStatus == kExitSuccess)
        return "success";
    return exitStatus >= kExitSignalBase ? "cancelled" : "error";
}

}  // namespace

struct RunEvents::Impl {
    // A data file as the events know it.
    struct DataFile {
        std::uint64_t size = 0;
        std::string sha256;
    };
    // The data file being sent.
    struct OpenFile {
        std::string path;
        DataFile known;
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
    std::FILE* owned = nullptr;
    TimeSource now;
    TimePoint start;
    std::string port;
    std::string device;
    std::map<std::string, DataFile> files;  // by path, from Started
    std::optional<OpenFile> openFile;
    std::uint64_t bytesDone = 0;            // of the data files sent whole
    // Noted from any thread: a worker shows its messages itself.
    mutable std::mutex textMutex;
    std::string outcomeText;
    std::string details;

    Json Event(const char* name) const {
        Json event;
        event["event"] = name;
        event["t"] = Millis(Seconds(now() - start).count());
        event["port"] = port;
        return event;
    }

    void Write(const Json& event) {
        if (ended)
            return;
        // Paths need not be UTF-8: such bytes are replaced, not a reason to
        // lose the event.
        const std::string line = event.dump(-1, ' ', false, Json::error_handler_t::replace) + "\n";
        std::fputs(line.c_str(), out);
        std::fflush(out);
    }

    void WriteProgress(OpenFile& file, TimePoint at) {
        const double elapsed = std::max(Seconds(at - file.start).count(), 0.001);
        const double rate = static_cast<double>(file.bytes) / elapsed;
        const std::uint64_t left = file.known.size > file.bytes ? file.known.size - file.bytes : 0;
        Json event = Event("progress");
        event["file"] = file.path;
        event["bytes"] = file.bytes;
        event["total"] = file.known.size;
        event["percent"] = file.known.size == 0 ? 100 : file.bytes * 100 / file.known.size;
        event["rate"] = std::llround(rate);
        event["seconds_left"] = Millis(static_cast<double>(left) / rate);
        Write(event);
        file.lastProgress = at;
        file.finalProgressWritten = file.bytes >= file.known.size;
    }

    // The open data file has gone out whole.
    void CloseFileAsSent() {
        if (!openFile)
            return;
        OpenFile& file = *openFile;
        file.bytes = file.known.size;
        if (!file.finalProgressWritten)
            WriteProgress(file, now());
        if (file.known.sha256.empty())
            file.known.sha256 = FileSha256(file.path, file.known.size);
        Json event = Event("file_sent");
        event["file"] = file.path;
        event["bytes"] = file.known.size;
        event["sha256"] = file.known.sha256;
        Write(event);
        bytesDone += file.known.size;
        openFile.reset();
    }

    void OpenDataFile(const std::string& path) {
        OpenFile file;
        file.path = path;
        file.start = now();
        if (auto it = files.find(path); it != files.end()) {
            file.known = it->second;
        } else {
            // Not in the script as checked at the start (it changed since):
            // its length now is what the upload sends.
            std::error_code error;
            const auto size = std::filesystem::file_size(PathFromUtf8(path), error);
            file.known.size = error ? 0 : size;
        }
        openFile = std::move(file);
    }

    std::string EndMessage(int exitStatus) const {
        if (exitStatus == kExitSuccess)
            return LoadResString(IDS_DOWNLOAD_COMPLETED);
        std::lock_guard lock(textMutex);
        if (!outcomeText.empty())
            return outcomeText + details;
        if (exitStatus >= kExitSignalBase)
            return "Cancelled by signal " + std::to_string(exitStatus - kExitSignalBase) + ".";
        return "The download did not complete.";
    }

    void WriteEnd(int exitStatus, const std::string& message) {
        Json event = Event("end");
        event["result"] = ResultName(exitStatus);
        event["message"] = message.empty() ? EndMessage(exitStatus) : message;
        event["exit_status"] = exitStatus;
        event["seconds"] = event["t"];
        event["bytes"] = bytesDone + (openFile ? openFile->bytes : 0);
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

void RunEvents::Started(const std::string& script, const std::vector<ScriptDataFile>& files) {
    std::lock_guard lock(m_impl->mutex);
    Json event = m_impl->Event("started");
    event["script"] = script;
    Json list = Json::array();
    for (const ScriptDataFile& file : files) {
        Impl::DataFile& known = m_impl->files[file.m_strPath];
        known.size = file.m_qwLength;
        known.sha256 = FileSha256(file.m_strPath, file.m_qwLength);
        list.push_back({{"path", file.m_strPath}, {"size", known.size}, {"sha256", known.sha256}});
    }
    event["files"] = std::move(list);
    event["pid"] = static_cast<long long>(getpid());
    m_impl->Write(event);
}

void RunEvents::PortOpened() {
    std::lock_guard lock(m_impl->mutex);
    Json event = m_impl->Event("port_opened");
    event["device"] = m_impl->device;
    m_impl->Write(event);
}

void RunEvents::Waiting() {
    std::lock_guard lock(m_impl->mutex);
    m_impl->Write(m_impl->Event("waiting"));
}

void RunEvents::Connected() {
    std::lock_guard lock(m_impl->mutex);
    m_impl->Write(m_impl->Event("connected"));
}

void RunEvents::Command(const std::string& shownText) {
    std::lock_guard lock(m_impl->mutex);
    // The upload thread goes on to its next command only once the data file
    // before it has gone out whole.
    m_impl->CloseFileAsSent();
    std::string command = shownText;
    if (command.rfind(kCommandPrefix, 0) == 0)
        command.erase(0, std::strlen(kCommandPrefix));
    Json event = m_impl->Event("command");
    event["text"] = shownText;
    event["command"] = command;
    m_impl->Write(event);
    if (!command.empty() && command[0] == 'S')
        m_impl->OpenDataFile(command.substr(1));
}

void RunEvents::Progress(DWORD bytesSent, DWORD fileLength) {
    std::lock_guard lock(m_impl->mutex);
    if (!m_impl->openFile)
        return;
    Impl::OpenFile& file = *m_impl->openFile;
    if (fileLength != file.known.size || bytesSent < file.bytes)
        return;
    file.bytes = bytesSent;
    const TimePoint at = m_impl->now();
    const bool due = !file.lastProgress || at - *file.lastProgress >= kProgressPeriod - kTickJitter;
    if (file.bytes > 0 && !file.finalProgressWritten && due)
        m_impl->WriteProgress(file, at);
}

void RunEvents::UploadFinished() {
    std::lock_guard lock(m_impl->mutex);
    m_impl->CloseFileAsSent();
}

void RunEvents::NoteShown(const std::string& text) {
    std::lock_guard lock(m_impl->textMutex);
    if (m_impl->outcomeText.empty() && !RunOutcome::IsInformational(text))
        m_impl->outcomeText = text;
}

void RunEvents::NoteDetail(const std::string& text) {
    std::lock_guard lock(m_impl->textMutex);
    if (!m_impl->outcomeText.empty())
        m_impl->details += "\n" + text;
}

void RunEvents::End(int exitStatus, const std::string& message) {
    std::lock_guard lock(m_impl->mutex);
    m_impl->WriteEnd(exitStatus, message);
}

bool RunEvents::TryEnd(int exitStatus, const std::string& message) {
    std::unique_lock lock(m_impl->mutex, std::try_to_lock);
    if (!lock.owns_lock())
        return false;
    m_impl->WriteEnd(exitStatus, message);
    return true;
}

bool RunEvents::HasEnded() const {
    std::lock_guard lock(m_impl->mutex);
    return m_impl->ended;
}
