// The system's own full path: the library's absolute() and lexically_normal()
// read \\?\Z:\x as a relative path and \\server\share as a folder of the
// current drive.
#include "platform/utf8_path.h"

#include "platform/system_win32.h"

std::string AbsoluteUtf8Path(const std::string& path) {
    if (path.empty())
        return path;
    const std::wstring wide = Utf8ToWide(path);
    std::wstring full(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetFullPathNameW(wide.c_str(), static_cast<DWORD>(full.size()), full.data(), nullptr);
        if (length == 0)
            return path;
        if (length < full.size()) {
            full.resize(length);
            return WideToUtf8(full);
        }
        full.resize(length);  // too small: length counts the terminating NUL
    }
}
