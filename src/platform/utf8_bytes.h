// A POSIX file name is any bytes, which need not be UTF-8. Where a name must
// be shown or kept as text (events, the record, the station's table), these
// tell the UTF-8 from the rest, and give the bytes a form that keeps them.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

// The length of the well-formed UTF-8 sequence that starts at text[at] (1 to
// 4 bytes), or 0 when the bytes there are none (a stray continuation byte,
// an overlong form, a surrogate, a sequence cut short).
std::size_t Utf8SequenceAt(std::string_view text, std::size_t at);
bool IsUtf8(std::string_view text);

// The bytes as lower-case hex pairs, and back; nullopt when hex is not
// pairs of hex digits.
std::string HexOfBytes(std::string_view bytes);
std::optional<std::string> BytesOfHex(std::string_view hex);
