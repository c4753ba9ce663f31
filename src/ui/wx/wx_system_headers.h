// Windows only, read before anything else in each file of this library (the
// build names it with -include): wxWidgets' headers bring in <windows.h> and
// define inline functions over the system's HWND, while the tool's own HWND
// (platform/win_types.h) is a small window id. The system's headers and every
// wx header this library uses are read here with the system's HWND renamed
// to Win32Hwnd; from then on HWND is the tool's.
#pragma once

#ifndef _WIN32
#error "Windows only"
#endif

#define HWND Win32Hwnd
#include <windows.h>

#include <wx/app.h>
#include <wx/button.h>
#include <wx/dialog.h>
#include <wx/evtloop.h>
#include <wx/filedlg.h>
#include <wx/gauge.h>
#include <wx/log.h>
#include <wx/msgdlg.h>
#include <wx/radiobut.h>
#include <wx/settings.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/thread.h>
#include <wx/timer.h>
#include <wx/utils.h>
#undef HWND

#include "platform/system_win32.h"
