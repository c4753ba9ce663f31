#include "events/event_reader.h"

#include <nlohmann/json.hpp>

#include "events/event_names.h"
#include "platform/utf8_path.h"

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

// A name: its bytes from hexKey where the writer gave them (it is not
// UTF-8), else the readable text under key.
void TakeName(const json& object, const char* key, const char* hexKey, std::string* into) {
    Take(object, key, into);
    std::string hex;
    Take(object, hexKey, &hex);
    if (const auto bytes = BytesOfHex(hex); bytes && !hex.empty())
        *into = *bytes;
}

std::vector<StationEventFile> TakeFiles(const json& object) {
    std::vector<StationEventFile> files;
    const auto it = object.find(event::field::kFiles);
    if (it == object.end() || !it->is_array())
        return files;
    for (const json& entry : *it) {
        if (!entry.is_object())
            continue;
        StationEventFile file;
        TakeName(entry, event::field::kPath, event::field::kPathHex, &file.m_strPath);
        Take(entry, event::field::kSize, &file.m_nSize);
        Take(entry, event::field::kSha256, &file.m_strSha256);
        files.push_back(std::move(file));
    }
    return files;
}

}  // namespace

std::optional<StationEvent> ParseStationEvent(const std::string& line) {
    const json object = json::parse(line, nullptr, false);
    if (!object.is_object() || !object.contains(event::field::kEvent) || !object[event::field::kEvent].is_string())
        return std::nullopt;
    StationEvent event;
    Take(object, event::field::kEvent, &event.m_strEvent);
    Take(object, event::field::kTime, &event.m_dTime);
    TakeName(object, event::field::kPort, event::field::kPortHex, &event.m_strPort);
    TakeName(object, event::field::kScript, event::field::kScriptHex, &event.m_strScript);
    event.m_files = TakeFiles(object);
    Take(object, event::field::kPid, &event.m_nPid);
    Take(object, event::field::kWarning, &event.m_strWarning);
    Take(object, event.m_strEvent == event::kEnd ? event::field::kMessage : event::field::kText, &event.m_strText);
    TakeName(object, event::field::kCommand, event::field::kCommandHex, &event.m_strCommand);
    TakeName(object, event::field::kFile, event::field::kFileHex, &event.m_strFile);
    Take(object, event::field::kBytes, &event.m_nBytes);
    Take(object, event::field::kTotal, &event.m_nTotal);
    Take(object, event::field::kPercent, &event.m_nPercent);
    Take(object, event::field::kRate, &event.m_dRate);
    Take(object, event::field::kSecondsLeft, &event.m_dSecondsLeft);
    Take(object, event::field::kResult, &event.m_strResult);
    Take(object, event::field::kOutcome, &event.m_strOutcome);
    Take(object, event::field::kExitStatus, &event.m_nExitStatus);
    Take(object, event::field::kSeconds, &event.m_dSeconds);
    Take(object, event::field::kSha256, &event.m_strSha256);
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
