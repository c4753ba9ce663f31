// A Windows console draws a live view only with its virtual-terminal
// processing on (Windows 10 and later); the C library's isatty() also says
// yes for the null device, so the console itself is asked.
#include "platform/console.h"

#include <io.h>

#include "platform/system_win32.h"

bool EnableLiveConsole(std::FILE* out) {
    const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(out)));
    DWORD mode = 0;
    if (handle == INVALID_HANDLE_VALUE || !GetConsoleMode(handle, &mode))
        return false;
    return (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0 ||
           SetConsoleMode(handle, mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
}
