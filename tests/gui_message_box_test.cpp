#include "ui/wx/wx_message_box.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <functional>
#include <chrono>
#include <string>
#include <future>
#include <thread>
#include <vector>

#include "res/strings.h"
#include "support/wx_test_environment.h"
#include "ui/run_outcome.h"
#include "ui/wx/wx_app.h"

#include <wx/evtloop.h>
#include <wx/thread.h>

namespace {

const testing::Environment* const kWxEnvironment =
    testing::AddGlobalTestEnvironment(new WxTestEnvironment("gui_message_box_test"));

// Runs the UI thread's event loop until done() or a generous guard time.
bool ServeUntil(const std::function<bool()>& done) {
    wxGUIEventLoop loop;
    wxEventLoopActivator activate(&loop);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        loop.DispatchTimeout(20);
    }
    return true;
}

TEST(WxMessageBoxPresenter, OnTheUiThreadTheBoxIsShownAtOnceAndRecorded) {
    RunOutcome outcome;
    std::vector<std::string> shown;
    WxMessageBoxPresenter presenter(&outcome, [&](const std::string& text) { shown.push_back(text); });
    presenter.Show({IDS_CONNECTION_ESTABLISHED, LoadResString(IDS_CONNECTION_ESTABLISHED)});
    presenter.Show({IDS_DOWNLOAD_COMPLETED, LoadResString(IDS_DOWNLOAD_COMPLETED)});
    EXPECT_EQ(shown, (std::vector<std::string>{"Connection established",
                                               "Download completed successfully\n\nThe receiver will restart "
                                               "automatically."}));
    EXPECT_EQ(outcome.Messages(), shown);
    EXPECT_EQ(outcome.ExitStatus(), kExitSuccess);
}

// A worker thread's box is shown by the UI thread, and the worker goes on
// only once the operator has dismissed it.
TEST(WxMessageBoxPresenter, AWorkerWaitsUntilTheUiThreadHasDismissedItsBox) {
    RunOutcome outcome;
    std::atomic<bool> workerReturned{false};
    std::vector<std::string> shown;
    bool workerHeldWhileOpen = true;
    WxMessageBoxPresenter presenter(&outcome, [&](const std::string& text) {
        EXPECT_TRUE(wxThread::IsMain());
        shown.push_back(text);
        // The operator reads the box for a few rounds of the event loop.
        wxGUIEventLoop nested;
        wxEventLoopActivator activate(&nested);
        for (int round = 0; round < 5; ++round) {
            nested.DispatchTimeout(10);
            workerHeldWhileOpen = workerHeldWhileOpen && !workerReturned;
        }
    });
    std::thread worker([&] {
        presenter.Show({IDS_COMMUNICATION_ERROR, LoadResString(IDS_COMMUNICATION_ERROR)});
        workerReturned = true;
    });
    const bool served = ServeUntil([&] { return workerReturned.load(); });
    worker.join();
    ASSERT_TRUE(served);
    EXPECT_EQ(shown, (std::vector<std::string>{"Communication error.  Program will exit."}));
    EXPECT_TRUE(workerHeldWhileOpen);
    EXPECT_EQ(outcome.ExitStatus(), kExitFailure);
}

// When the application ends, no event loop will show a worker's box: the
// worker waiting for it is released, and a later one does not wait at all.
TEST(WxMessageBoxPresenter, WorkersWaitingAtTheEndAreReleased) {
    std::vector<std::string> shown;
    WxMessageBoxPresenter presenter(nullptr, [&](const std::string& text) { shown.push_back(text); });
    auto worker = [&] {
        return std::async(std::launch::async, [&] {
            presenter.Show({IDS_COMMUNICATION_ERROR, LoadResString(IDS_COMMUNICATION_ERROR)});
        });
    };
    auto waiting = worker();
    EXPECT_EQ(waiting.wait_for(std::chrono::milliseconds(100)), std::future_status::timeout);
    presenter.ReleaseWaiters();
    EXPECT_EQ(waiting.wait_for(std::chrono::seconds(30)), std::future_status::ready);
    EXPECT_EQ(worker().wait_for(std::chrono::seconds(30)), std::future_status::ready);
    // The queued call that was to show the first box does nothing now.
    wxTheApp->ProcessPendingEvents();
    EXPECT_TRUE(shown.empty());
}

// Boxes asked for while one is open stack on top of it, as boxes of
// several threads would; each is shown once and releases its own worker.
TEST(WxMessageBoxPresenter, BoxesFromSeveralWorkersAreEachShownOnce) {
    constexpr int kWorkers = 4;
    std::atomic<int> returned{0};
    std::vector<std::string> shown;
    WxMessageBoxPresenter presenter(nullptr, [&](const std::string& text) {
        shown.push_back(text);
        wxGUIEventLoop nested;
        wxEventLoopActivator activate(&nested);
        nested.DispatchTimeout(10);  // other boxes may be asked for meanwhile
    });
    std::vector<std::thread> workers;
    for (int i = 0; i < kWorkers; ++i)
        workers.emplace_back([&, i] {
            presenter.Show({0, "box " + std::to_string(i)});
            ++returned;
        });
    const bool served = ServeUntil([&] { return returned.load() == kWorkers; });
    for (std::thread& worker : workers)
        worker.join();
    ASSERT_TRUE(served);
    std::sort(shown.begin(), shown.end());
    EXPECT_EQ(shown, (std::vector<std::string>{"box 0", "box 1", "box 2", "box 3"}));
}

}  // namespace
