// Small integer and handle types in the manner of the window system the
// dialogs and threads are written against. Nothing here depends on Linux.
#pragma once

#include <cstdint>

using BOOL = int;
using BYTE = std::uint8_t;
using UINT = unsigned int;
using DWORD = std::uint32_t;
using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

// A window handle is a small id handed out by the window registry
// (window.h). 0 is never a live window.
using HWND = std::uint32_t;

constexpr BOOL TRUE = 1;
constexpr BOOL FALSE = 0;

constexpr UINT WM_USER = 0x0400;
constexpr UINT WM_TIMER = 0x0113;

// Modal results of the dialogs.
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
