// <windows.h> for the files that call the Win32 API directly and also use
// the tool's own types (win_types.h). The two agree on every name but HWND:
// the tool's is a small id for its posted-message windows, the system's a
// pointer, here called Win32Hwnd.
#pragma once

#ifndef _WIN32
#error "Windows only"
#endif

#define HWND Win32Hwnd
#include <windows.h>
#undef HWND

#include <string>

#include "platform/win_types.h"

// UTF-8 (the tool's strings) to UTF-16 (the system's wide calls) and back.
std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);

// The system's text for an error code (GetLastError()), without the
// trailing period and line end; "error N" when the system has none.
std::string SystemErrorText(DWORD error);
