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

// The absolute, lexically normal form of a UTF-8 path, as a file dialog
// gives it; the path as it is when the current folder cannot be found.
inline std::string AbsoluteUtf8Path(const std::string& path) {
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(PathFromUtf8(path), error);
    return error ? path : Utf8FromPath(absolute.lexically_normal());
}

// A POSIX file name is any bytes, which need not be UTF-8. Where a name must
// be shown or kept as text (events, the record, the station's table), these
// tell the UTF-8 from the rest, and give the bytes a form that keeps them.

// The length of the well-formed UTF-8 sequence that starts at text[at] (1 to
// 4 bytes), or 0 when the bytes there are none (a stray continuation byte,
// an overlong form, a surrogate, a sequence cut short).
std::size_t Utf8SequenceAt(std::string_view text, std::size_t at);
bool IsUtf8(std::string_view text);

// The bytes as lower-case hex pairs, and back; nullopt when hex is not
// pairs of hex digits.
std::string HexOfBytes(std::string_view bytes);
std::optional<std::string> BytesOfHex(std::string_view hex);
