#include "upload/expected_data_files.h"

#include <map>
#include <mutex>
#include <utility>

#include "platform/sha256.h"
#include "upload/data_file.h"
#include "upload/script_check.h"

namespace {

std::mutex g_mutex;
std::optional<std::vector<ExpectedDataFile>> g_expected;

// The SHA-256 of the bytes the upload would send of the file at path, as
// DataFile reads them; "" when they cannot be read whole.
std::string HashOfDataFile(const std::string& path, std::uint64_t* length) {
    DataFile file;
    if (file.Open(path) != UploadFault::None)
        return {};
    *length = file.Length();
    Sha256Stream hash;
    std::uint8_t buffer[65536];
    for (std::uint64_t left = file.Length(); left > 0;) {
        const long count = file.Read(buffer, sizeof buffer);
        if (count <= 0)
            return {};
        hash.Update(buffer, static_cast<std::size_t>(count));
        left -= static_cast<std::uint64_t>(count);
    }
    return hash.Hex();
}

}  // namespace

std::vector<ExpectedDataFile> MeasureDataFiles(const std::string& scriptPath) {
    std::vector<ExpectedDataFile> files;
    std::map<std::string, ExpectedDataFile> measured;  // a file named twice is read once
    for (const ScriptDataFile& named : CheckScript(scriptPath).m_dataFiles) {
        auto [it, added] = measured.try_emplace(named.m_strPath);
        if (added) {
            it->second.m_strPath = named.m_strPath;
            it->second.m_qwSize = named.m_qwLength;
            it->second.m_strSha256 = HashOfDataFile(named.m_strPath, &it->second.m_qwSize);
        }
        files.push_back(it->second);
    }
    return files;
}

void SetExpectedDataFiles(std::vector<ExpectedDataFile> files) {
    std::lock_guard lock(g_mutex);
    g_expected = std::move(files);
}

void ClearExpectedDataFiles() {
    std::lock_guard lock(g_mutex);
    g_expected.reset();
}

std::optional<std::vector<ExpectedDataFile>> ExpectedDataFiles() {
    std::lock_guard lock(g_mutex);
    return g_expected;
}
