#include "ui/front_end.h"

#include "platform/thread.h"

bool FrontEnd::WaitForWorkerThreads(std::chrono::milliseconds timeout) {
    return JoinWorkerThreads(timeout);
}

void FrontEnd::ShowDetail(const std::string&) {}

void FrontEnd::ShowNotice(const std::string& text) { ShowDetail(text); }
