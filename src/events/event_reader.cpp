#include "events/event_reader.h"

#include <nlohmann/json.hpp>

namespace {

using nlohmann::json;

template <typename T>
void Take(const json& object, const char* key, T* into) {
    const auto it = object.find(key);
    if (it == object.end())
        return;
    if constexpr (std::is_same_v<T, std::string>) {
        if (it->is_string())
            *into = it->template get<std::string>();
    } else if constexpr (std::is_floating_point_v<T>) {
        if (it->is_number())
            *into = it->template get<T>();
    } else if constexpr (std::is_unsigned_v<T>) {
        if (it->is_number_unsigned() || (it->is_number_integer() && it->template get<long long>() >= 0))
            *into = it->template get<T>();
    } else {
        if (it->is_number())
            *into = static_cast<T>(it->template get<double>());
    }
}

std::vector<StationEventFile> TakeFiles(const json& object) {
    std::vector<StationEventFile> files;
    const auto it = object.find("files");
    if (it == object.end() || !it->is_array())
        return files;
    for (const json& entry : *it) {
        if (!entry.is_object())
            continue;
        StationEventFile file;
        Take(entry, "path", &file.m_strPath);
        Take(entry, "size", &file.m_nSize);
        Take(entry, "sha256", &file.m_strSha256);
        files.push_back(std::move(file));
    }
    return files;
}

}  // namespace

std::optional<StationEvent> ParseStationEvent(const std::string& line) {
    const json object = json::parse(line, nullptr, false);
    if (!object.is_object() || !object.contains("event") || !object["event"].is_string())
        return std::nullopt;
    StationEvent event;
    Take(object, "event", &event.m_strEvent);
    Take(object, "t", &event.m_dTime);
    Take(object, "port", &event.m_strPort);
    Take(object, "script", &event.m_strScript);
    event.m_files = TakeFiles(object);
    Take(object, "pid", &event.m_nPid);
    Take(object, event.m_strEvent == "end" ? "message" : "text", &event.m_strText);
    Take(object, "file", &event.m_strFile);
    Take(object, "bytes", &event.m_nBytes);
    Take(object, "total", &event.m_nTotal);
    Take(object, "percent", &event.m_nPercent);
    Take(object, "rate", &event.m_dRate);
    Take(object, "seconds_left", &event.m_dSecondsLeft);
    Take(object, "result", &event.m_strResult);
    Take(object, "exit_status", &event.m_nExitStatus);
    Take(object, "seconds", &event.m_dSeconds);
    Take(object, "sha256", &event.m_strSha256);
    return event;
}

void EventLineSplitter::Feed(const char* data, std::size_t size, std::vector<std::string>* lines) {
    for (std::size_t i = 0; i < size; ++i) {
        const char c = data[i];
        if (c == '\n') {
            if (!m_bDiscarding)
                lines->push_back(std::move(m_strPending));
            m_strPending.clear();
            m_bDiscarding = false;
        } else if (!m_bDiscarding) {
            m_strPending.push_back(c);
            if (m_strPending.size() > kMaxLine) {
                m_strPending = std::string();
                m_bDiscarding = true;
                ++m_nDropped;
            }
        }
    }
}
