// UploadDialog: the timer figure, the command line, the end of an upload in
// each of its ways, and messages that arrive after the dialog has ended.
// The upload thread is played by stand-in thread procedures that post what
// an upload would.
#include "ui/upload_dialog.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <limits>
#include <thread>

#include "link/messages.h"
#include "link/shared_state.h"
#include "platform/thread.h"
#include "platform/window.h"
#include "res/resource.h"
#include "res/strings.h"
#include "support/headless_front_end.h"
#include "support/shared_state_reset.h"
#include "upload/upload_fault.h"

namespace {

const std::string kSuccess = LoadResString(IDS_DOWNLOAD_COMPLETED);
const std::string kFileMissing = LoadResString(IDS_LZSS_FILE_NOT_FOUND);
const std::string kBadCommand = LoadResString(IDS_UNKNOWN_COMMAND);

HWND HandleOf(void* param) { return static_cast<HWND>(reinterpret_cast<std::uintptr_t>(param)); }

std::atomic<HWND> g_startedWith{0};
std::atomic<bool> g_lateMessageAccepted{true};

UINT PostCommandsThenDone(void* param) {
    const HWND hwnd = HandleOf(param);
    g_startedWith = hwnd;
    // The text lives in a buffer this thread reuses at once: the dialog must
    // still see each command as it was posted.
    char buffer[16];
    std::strcpy(buffer, "E123456");
    PostMessageText(hwnd, WM_UPLOAD_COMMAND, buffer);
    std::strcpy(buffer, "Q");
    PostMessageText(hwnd, WM_UPLOAD_COMMAND, buffer);
    std::memset(buffer, 'Z', sizeof buffer - 1);
    PostMessage(hwnd, WM_UPLOAD_DONE, 0, 0);
    return 0;
}

UINT PostFileMissingThenDone(void* param) {
    PostMessage(HandleOf(param), WM_UPLOAD_FILE_MISSING, 0, 0);
    PostMessage(HandleOf(param), WM_UPLOAD_DONE, 0, 0);
    return 0;
}

UINT PostBadCommandThenDone(void* param) {
    PostMessage(HandleOf(param), WM_UPLOAD_BAD_COMMAND, 0, 0);
    PostMessage(HandleOf(param), WM_UPLOAD_DONE, 0, 0);
    return 0;
}

UINT PostFailedThenDone(void* param) {
    PostMessageText(HandleOf(param), WM_UPLOAD_FAILED, "/jobs/code.lzs", PackFault(UploadFault::DataFileUnreadable, EIO));
    PostMessage(HandleOf(param), WM_UPLOAD_DONE, 0, 0);
    return 0;
}

// Waits for the operator's cancel, then ends as the upload thread does.
UINT DoneAfterAbort(void* param) {
    WaitForState([] { return g_bAbort.IsSet(); });
    PostMessage(HandleOf(param), WM_UPLOAD_DONE, 0, 0);
    return 0;
}

// The receiver's "ERROR": the link sets g_bAbort, the upload thread ends.
UINT AbortThenDone(void* param) {
    g_bAbort.Set();
    PostMessage(HandleOf(param), WM_UPLOAD_DONE, 0, 0);
    return 0;
}

// Posts once the dialog has ended and its handle is gone.
UINT DoneThenLateMessage(void* param) {
    const HWND hwnd = HandleOf(param);
    PostMessage(hwnd, WM_UPLOAD_DONE, 0, 0);
    const auto giveUpAt = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (IsWindowAlive(hwnd) && std::chrono::steady_clock::now() < giveUpAt)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    g_lateMessageAccepted = PostMessage(hwnd, WM_UPLOAD_FILE_MISSING, 0, 0);
    return 0;
}

UINT DoNothing(void*) { return 0; }

class UploadDialogTest : public ::testing::Test {
protected:
    void TearDown() override { JoinWorkerThreads(std::chrono::seconds(10)); }

    SharedStateReset m_reset;
    HeadlessFrontEnd m_frontEnd;
};

}  // namespace

struct FigureCase {
    DWORD sent;
    DWORD length;
    int expected;
};

class ProgressFigureTest : public ::testing::TestWithParam<FigureCase> {};

TEST_P(ProgressFigureTest, IsThePercentageKeptWithin0To100) {
    const FigureCase& c = GetParam();
    EXPECT_EQ(UploadDialog::ProgressFigure(c.sent, c.length), c.expected);
}

constexpr DWORD kMax = std::numeric_limits<DWORD>::max();

INSTANTIATE_TEST_SUITE_P(
    Figures, ProgressFigureTest,
    ::testing::Values(FigureCase{0, 1, 0}, FigureCase{1, 3, 33}, FigureCase{50, 100, 50}, FigureCase{99, 100, 99},
                      FigureCase{100, 100, 100},
                      // A second file's count on top of the first's: never above 100.
                      FigureCase{250, 100, 100},
                      // Products beyond 32 bits (files above 42 MB) keep their value.
                      FigureCase{50'000'000, 100'000'000, 50}, FigureCase{kMax / 2, kMax, 49},
                      FigureCase{kMax, kMax, 100}, FigureCase{kMax, 1, 100}));

TEST_F(UploadDialogTest, TimerShowsNothingUntilADataFileIsOpen) {
    UploadDialog dialog(&DoNothing);
    g_dwBytesSent.Store(500);
    m_frontEnd.QueueAction(IDD_UPLOAD, [](Dialog& d, int round) {
        if (round == 0) {
            d.OnTimer(UploadDialog::kTimerId);
            d.OnCancel();
        }
    });
    m_frontEnd.m_bTimersRun = false;
    m_frontEnd.DoModal(dialog);
    EXPECT_TRUE(m_frontEnd.Positions().empty());
    EXPECT_TRUE(m_frontEnd.TextsOf(IDC_PERCENT_TEXT).empty());
}

TEST_F(UploadDialogTest, TimerShowsTheFigureOnTheBarAndAsText) {
    UploadDialog dialog(&DoNothing);
    m_frontEnd.m_bTimersRun = false;
    m_frontEnd.QueueAction(IDD_UPLOAD, [](Dialog& d, int round) {
        if (round != 0)
            return;
        g_dwFileLength.Store(2000);
        g_dwBytesSent.Store(500);
        d.OnTimer(UploadDialog::kTimerId);
        g_dwBytesSent.Store(2000);
        d.OnTimer(UploadDialog::kTimerId);
        g_dwBytesSent.Store(9000);  // more than the length: shown as 100
        d.OnTimer(UploadDialog::kTimerId);
        d.OnCancel();
    });
    m_frontEnd.DoModal(dialog);
    EXPECT_EQ(m_frontEnd.Positions(), (std::vector<int>{25, 100, 100}));
    EXPECT_EQ(m_frontEnd.TextsOf(IDC_PERCENT_TEXT), (std::vector<std::string>{"25 %", "100 %", "100 %"}));
}

TEST_F(UploadDialogTest, InitStartsTheOneSecondTimerAndTheThreadWithItsHandle) {
    UploadDialog dialog(&PostCommandsThenDone);
    m_frontEnd.DoModal(dialog);
    EXPECT_EQ(m_frontEnd.Timers(), (std::vector<std::pair<UINT, UINT>>{{1u, 1000u}}));
    EXPECT_NE(g_startedWith.load(), 0u);
    EXPECT_FALSE(IsWindowAlive(g_startedWith.load()));
}

TEST_F(UploadDialogTest, DoneShowsEachCommandThenEndsWithSuccess) {
    UploadDialog dialog(&PostCommandsThenDone);
    const int result = m_frontEnd.DoModal(dialog);
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(m_frontEnd.TextsOf(IDC_COMMAND_TEXT),
              (std::vector<std::string>{"Command: E123456", "Command: Q"}));
    EXPECT_EQ(m_frontEnd.Messages(), (std::vector<std::string>{kSuccess}));
    EXPECT_TRUE(g_bUploadFinished.IsSet());
    EXPECT_FALSE(g_bAbort.IsSet());
}

struct FailureCase {
    const char* name;
    ThreadProc proc;
    std::string text;
};

class UploadFailureTest : public UploadDialogTest, public ::testing::WithParamInterface<FailureCase> {};

// After a failure is reported nothing more may be sent: g_bAbort is set
// before the operator sees the message, and the WM_UPLOAD_DONE that follows
// (handled while the box is still open, as a GUI does) claims no success.
TEST_P(UploadFailureTest, SetsAbortBeforeTheMessageAndShowsNoSuccess) {
    m_frontEnd.SetWhileMessageShown([](const std::string&) {
        // Give the thread time to post its WM_UPLOAD_DONE, then deliver it.
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        DispatchPostedMessages();
    });
    UploadDialog dialog(GetParam().proc);
    m_frontEnd.DoModal(dialog);
    const auto shown = m_frontEnd.ShownMessages();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, GetParam().text);
    EXPECT_TRUE(shown[0].abortSet);
    EXPECT_TRUE(g_bAbort.IsSet());
}

INSTANTIATE_TEST_SUITE_P(Failures, UploadFailureTest,
                         ::testing::Values(FailureCase{"FileMissing", &PostFileMissingThenDone, kFileMissing},
                                           FailureCase{"BadCommand", &PostBadCommandThenDone, kBadCommand},
                                           FailureCase{"Failed", &PostFailedThenDone,
                                                       "Unable to read the LZSS file\n\n/jobs/code.lzs\n\n"
                                                       "Input/output error"}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(UploadDialogTest, FailureEndsTheDialogWithCancel) {
    UploadDialog dialog(&PostFileMissingThenDone);
    EXPECT_EQ(m_frontEnd.DoModal(dialog), IDCANCEL);
    // The WM_UPLOAD_DONE queued behind the failure reached no live dialog.
    EXPECT_EQ(m_frontEnd.Messages(), (std::vector<std::string>{kFileMissing}));
}

TEST_F(UploadDialogTest, CancelSetsAbortAndShowsNothing) {
    UploadDialog dialog(&DoneAfterAbort);
    m_frontEnd.QueueAction(IDD_UPLOAD, [](Dialog& d, int round) {
        if (round == 0)
            d.OnCancel();
    });
    EXPECT_EQ(m_frontEnd.DoModal(dialog), IDCANCEL);
    EXPECT_TRUE(g_bAbort.IsSet());
    ASSERT_TRUE(JoinWorkerThreads(std::chrono::seconds(10)));
    DispatchPostedMessages();
    EXPECT_TRUE(m_frontEnd.Messages().empty());
}

TEST_F(UploadDialogTest, DoneAfterReceiverErrorShowsNoSuccess) {
    UploadDialog dialog(&AbortThenDone);
    EXPECT_EQ(m_frontEnd.DoModal(dialog), IDOK);
    EXPECT_TRUE(g_bUploadFinished.IsSet());
    EXPECT_TRUE(m_frontEnd.Messages().empty());
}

TEST_F(UploadDialogTest, MessagesPostedAfterTheDialogEndedAreDropped) {
    g_lateMessageAccepted = true;
    UploadDialog dialog(&DoneThenLateMessage);
    EXPECT_EQ(m_frontEnd.DoModal(dialog), IDOK);
    ASSERT_TRUE(JoinWorkerThreads(std::chrono::seconds(10)));
    EXPECT_EQ(DispatchPostedMessages(), 0);
    EXPECT_FALSE(g_lateMessageAccepted.load());
    EXPECT_EQ(m_frontEnd.Messages(), (std::vector<std::string>{kSuccess}));
}
