#include "support/temp_folder.h"

#include <random>
#include <stdexcept>
#include <system_error>

TempFolder::TempFolder(const std::string& prefix) {
    // create_directory fails for a name that exists: the folder is ours alone.
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    std::random_device seed;
    std::mt19937 random(seed());
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path candidate = base / (prefix + std::to_string(random() % 1000000u));
        std::error_code error;
        if (std::filesystem::create_directory(candidate, error)) {
            m_path = candidate;
            return;
        }
        if (error)
            throw std::runtime_error("cannot make a temporary folder " + candidate.string() + ": " + error.message());
    }
    throw std::runtime_error("cannot make a temporary folder in " + base.string());
}

TempFolder::~TempFolder() {
    std::error_code error;
    std::filesystem::remove_all(m_path, error);
}
