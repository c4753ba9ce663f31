// What the run checked of each data file at its start: its size and the
// SHA-256 of its bytes. A front end that reports these figures as the run
// starts (the terminal's "started" event) sets them before the upload
// begins; the upload then holds every data file it sends against them, so
// that a file replaced or rewritten since never goes out under the figures
// reported for it. Where nothing was set (the GUI), nothing is compared.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct ExpectedDataFile {
    std::string m_strPath;       // as found on disk (letter case resolved)
    std::uint64_t m_qwSize = 0;
    std::string m_strSha256;     // lower-case hex; "" when the bytes could not be read

    bool operator==(const ExpectedDataFile&) const = default;
};

// Each data file that the script at scriptPath names and that passes the
// script check (CheckScript), in script order, with the SHA-256 of the
// bytes the upload would send of it (read as the upload reads them).
std::vector<ExpectedDataFile> MeasureDataFiles(const std::string& scriptPath);

// The figures uploads started from now on compare against (a copy is
// taken). Any thread.
void SetExpectedDataFiles(std::vector<ExpectedDataFile> files);
// From now on nothing is compared.
void ClearExpectedDataFiles();
// The figures set, or nullopt when none are.
std::optional<std::vector<ExpectedDataFile>> ExpectedDataFiles();

// Sets the figures for its lifetime.
class ScopedExpectedDataFiles {
public:
    explicit ScopedExpectedDataFiles(std::vector<ExpectedDataFile> files) { SetExpectedDataFiles(std::move(files)); }
    ~ScopedExpectedDataFiles() { ClearExpectedDataFiles(); }
    ScopedExpectedDataFiles(const ScopedExpectedDataFiles&) = delete;
    ScopedExpectedDataFiles& operator=(const ScopedExpectedDataFiles&) = delete;
};
