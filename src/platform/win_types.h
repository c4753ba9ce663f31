// Small integer and handle types in the manner of the window system the
// dialogs, the link thread and the platform's stand-ins are written against
// (the serial port uses plain types). Nothing here depends on Linux. On
// Windows the integer types and constants agree with the system's own; the
// one type that differs is HWND (the system's a pointer, the tool's a small
// window id), so a file that needs both reads <windows.h> with the system's
// HWND renamed (interrupt_watcher_win32.cpp, ui/wx/wx_system_headers.h).
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
