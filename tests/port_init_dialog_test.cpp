// PortInitDialog: its three results, the abort flag it clears and sets, and
// the link thread it starts. The link is played by stand-in thread
// procedures that post what LinkThread would.
#include "ui/port_init_dialog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>

#include "link/messages.h"
#include "link/shared_state.h"
#include "platform/thread.h"
#include "platform/window.h"
#include "res/resource.h"
#include "support/headless_front_end.h"
#include "support/shared_state_reset.h"

namespace {

HWND HandleOf(void* param) { return static_cast<HWND>(reinterpret_cast<std::uintptr_t>(param)); }

std::atomic<HWND> g_startedWith{0};
std::atomic<bool> g_abortAtStart{true};

UINT LinkComesUp(void* param) {
    g_startedWith = HandleOf(param);
    g_abortAtStart = g_bAbort.IsSet();
    PostMessage(HandleOf(param), WM_LINK_READY, 0, 0);
    return 0;
}

// The operator cancelled just before the link came up.
UINT LinkComesUpAfterAbort(void* param) {
    g_bAbort.Set();
    PostMessage(HandleOf(param), WM_LINK_READY, 0, 0);
    return 0;
}

// The receiver sent "ERROR" during the wait: the link ends on its own.
UINT LinkEndsOnItsOwn(void* param) {
    g_bAbort.Set();
    PostMessage(HandleOf(param), WM_LINK_CLOSED, 0, 0);
    return 0;
}

// No receiver: runs until the dialog aborts it.
UINT LinkWaitsForAbort(void* param) {
    WaitForState([] { return g_bAbort.IsSet(); });
    PostMessage(HandleOf(param), WM_LINK_CLOSED, 0, 0);
    return 0;
}

class PortInitDialogTest : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_TRUE(JoinWorkerThreads(std::chrono::seconds(10))); }

    SharedStateReset m_reset;
    HeadlessFrontEnd m_frontEnd;
};

}  // namespace

TEST_F(PortInitDialogTest, ClearsAbortThenStartsTheLinkWithItsHandle) {
    g_bAbort.Set();  // left by an earlier Back
    PortInitDialog dialog(&LinkComesUp);
    EXPECT_EQ(m_frontEnd.DoModal(dialog), IDOK);
    EXPECT_FALSE(g_abortAtStart.load());
    EXPECT_NE(g_startedWith.load(), 0u);
    EXPECT_TRUE(m_frontEnd.Messages().empty());
}

TEST_F(PortInitDialogTest, LinkReadyAfterAnAbortEndsWithCancel) {
    PortInitDialog dialog(&LinkComesUpAfterAbort);
    EXPECT_EQ(m_frontEnd.DoModal(dialog), IDCANCEL);
}

TEST_F(PortInitDialogTest, LinkClosedLeavesTheDialogOpenUntilTheOperatorActs) {
    PortInitDialog dialog(&LinkEndsOnItsOwn);
    m_frontEnd.QueueAction(IDD_PORT_INIT, [](Dialog& d, int) {
        // Once the link has ended (and its message was handled), go Back.
        if (RunningWorkerThreads() == 0 && g_bAbort.IsSet() && DispatchPostedMessages() == 0)
            d.OnCommand(IDC_BACK);
    });
    EXPECT_EQ(m_frontEnd.DoModal(dialog), IDR_BACK);
}

struct OperatorCase {
    const char* name;
    int controlId;  // 0: the Cancel button / Esc
    int expected;
};

class PortInitOperatorTest : public PortInitDialogTest, public ::testing::WithParamInterface<OperatorCase> {};

TEST_P(PortInitOperatorTest, BackAndCancelSetAbortWhichStopsTheLink) {
    PortInitDialog dialog(&LinkWaitsForAbort);
    const int controlId = GetParam().controlId;
    m_frontEnd.QueueAction(IDD_PORT_INIT, [controlId](Dialog& d, int round) {
        if (round != 3)
            return;
        if (controlId == 0)
            d.OnCancel();
        else
            d.OnCommand(controlId);
    });
    EXPECT_EQ(m_frontEnd.DoModal(dialog), GetParam().expected);
    EXPECT_TRUE(g_bAbort.IsSet());
    EXPECT_TRUE(JoinWorkerThreads(std::chrono::seconds(10)));
}

INSTANTIATE_TEST_SUITE_P(Operator, PortInitOperatorTest,
                         ::testing::Values(OperatorCase{"Back", IDC_BACK, IDR_BACK},
                                           OperatorCase{"Cancel", 0, IDCANCEL}),
                         [](const auto& info) { return std::string(info.param.name); });
