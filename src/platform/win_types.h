// Small integer and handle types in the manner of the window system the
// dialogs and threads are written against. Nothing here depends on Linux.
// On Windows the integer types and constants agree with the system's own,
// so that a file may include both (<windows.h> first, through
// platform/system_win32.h, which also renames the one type that differs,
// the system's HWND).
#pragma once

#include <cstdint>

using BOOL = int;
using BYTE = std::uint8_t;
using UINT = unsigned int;
#ifdef _WIN32
using DWORD = unsigned long;  // 32 bits there, and the system's own type
#else
using DWORD = std::uint32_t;
#endif
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

// A window handle is a small id handed out by the window registry
// (window.h). 0 is never a live window.
using HWND = std::uint32_t;

// <windows.h> defines these as macros with the same values.
#ifndef TRUE
constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;
#endif

#ifndef WM_USER
constexpr UINT WM_USER = 0x0400;
constexpr UINT WM_TIMER = 0x0113;
#endif

// Modal results of the dialogs.
#ifndef IDOK
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
#endif
