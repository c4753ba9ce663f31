// A fresh folder under the system's temporary directory for one test, removed
// with everything in it when the object goes.
#pragma once

#include <filesystem>
#include <string>

class TempFolder {
public:
    // Makes <tmp>/<prefix>NNNNNN (a random number); throws std::runtime_error if it cannot.
    explicit TempFolder(const std::string& prefix);
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& Path() const { return m_path; }
    // The path with a trailing '/', for joining names by concatenation.
    std::string Slash() const { return m_path.string() + "/"; }

private:
    std::filesystem::path m_path;
};
