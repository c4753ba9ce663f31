#include "ui/term/stdin_wait.h"

#include <poll.h>
#include <unistd.h>

bool WaitForStandardInput(std::chrono::milliseconds timeout) {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    return poll(&input, 1, static_cast<int>(timeout.count())) > 0;
}
