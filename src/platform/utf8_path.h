// File names are UTF-8 strings everywhere inside the program. On Windows,
// std::filesystem::path converts a plain std::string through the C library's
// locale rather than as UTF-8 (a name beyond ASCII comes out garbled and is
// not found), so every conversion between the two goes through these.
// Elsewhere they pass the bytes through unchanged.
#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

inline std::filesystem::path PathFromUtf8(std::string_view text) {
    return std::filesystem::path(std::u8string(text.begin(), text.end()));
}

inline std::string Utf8FromPath(const std::filesystem::path& path) {
    const std::u8string text = path.u8string();
    return std::string(text.begin(), text.end());
}

// The absolute, normal form of a UTF-8 path, as a file dialog gives it; the
// path as it is when the current folder cannot be found. On Windows the
// system builds it (GetFullPathNameW), so that the prefixes of long paths
// (\\?\), devices (\\.\) and network shares (\\server\share) are kept,
// and a device name such as COM7 or COM7: comes out as \\.\COM7.
std::string AbsoluteUtf8Path(const std::string& path);
