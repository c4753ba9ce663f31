#include "platform/console.h"

#include <unistd.h>

bool EnableLiveConsole(std::FILE* out) { return isatty(fileno(out)) == 1; }
