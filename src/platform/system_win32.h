// <windows.h> and the text helpers of the files that call the Win32 API
// directly.
#pragma once

#ifndef _WIN32
#error "Windows only"
#endif

#include <windows.h>

#include <optional>
#include <string>

// UTF-8 (the tool's strings) to UTF-16 (the system's wide calls) and back.
std::wstring Utf8ToWide(const std::string& text);
std::string WideToUtf8(const std::wstring& text);

// The system's text for an error code (GetLastError()), without the
// trailing period and line end; "error N" when the system has none.
std::string SystemErrorText(DWORD error);

// A value of an open registry key: a string (REG_SZ), "" when there is none;
// a number (REG_DWORD), nullopt when there is none.
std::string RegistryText(HKEY key, const wchar_t* name);
std::optional<DWORD> RegistryNumber(HKEY key, const wchar_t* name);
