#include "platform/win32_api.h"

#include "ui/term/stdin_wait.h"

bool WaitForStandardInput(std::chrono::milliseconds timeout) {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    // A console's handle is signalled when input events are queued; the
    // line read after it returns early on Ctrl-C. A pipe or file cannot be
    // waited on this way: the read itself waits, and Ctrl-C ends it.
    if (GetFileType(input) != FILE_TYPE_CHAR)
        return true;
    return WaitForSingleObject(input, static_cast<DWORD>(timeout.count())) == WAIT_OBJECT_0;
}
