#include "support/shared_state_reset.h"

#include "link/port_setup.h"
#include "link/shared_state.h"
#include "platform/thread.h"

bool ResetAllSharedState(std::chrono::milliseconds joinTimeout) {
    bool joined = true;
    if (RunningWorkerThreads() > 0) {
        g_bAbort.Set();
        CloseCommPort();
        joined = JoinWorkerThreads(joinTimeout);
    }
    CloseCommPort();
    g_hComm.store(nullptr, std::memory_order_release);

    ResetLinkState();
    return joined;
}

SharedStateReset::SharedStateReset() {
    ResetAllSharedState();
}

SharedStateReset::~SharedStateReset() {
    ResetAllSharedState();
}
