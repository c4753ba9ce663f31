#include "ui/wx/wx_dialog_view.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "link/shared_state.h"
#include "platform/message_box.h"
#include "platform/window.h"
#include "res/resource.h"
#include "res/strings.h"
#include "support/shared_state_reset.h"
#include "support/wx_test_environment.h"
#include "ui/wx/wx_app.h"
#include "ui/wx/wx_message_box.h"
#include "ui/wx/wx_posted_messages.h"

#include <wx/button.h>
#include <wx/evtloop.h>
#include <wx/gauge.h>
#include <wx/radiobut.h>
#include <wx/statbox.h>
#include <wx/stattext.h>

namespace {

const testing::Environment* const kWxEnvironment =
    testing::AddGlobalTestEnvironment(new WxTestEnvironment("gui_dialog_view_test"));

constexpr UINT WM_PROBE = WM_USER + 100;

// A dialog whose handlers record what reaches them and run what a test
// gives them.
class ProbeDialog : public Dialog {
public:
    explicit ProbeDialog(int templateId) : Dialog(templateId) {}

    std::vector<int> m_commands;
    std::vector<UINT> m_ticks;
    std::vector<LPARAM> m_posted;
    int m_nCancels = 0;
    std::function<void()> m_onInit;
    std::function<void(int)> m_onCommand;
    std::function<void(UINT)> m_onTimer;
    std::function<void(LPARAM)> m_onPosted;

    BOOL OnInitDialog() override {
        if (m_onInit)
            m_onInit();
        return TRUE;
    }
    void OnCancel() override {
        ++m_nCancels;
        Dialog::OnCancel();
    }
    void OnCommand(int controlId) override {
        m_commands.push_back(controlId);
        if (m_onCommand)
            m_onCommand(controlId);
    }
    void OnTimer(UINT timerId) override {
        m_ticks.push_back(timerId);
        if (m_onTimer)
            m_onTimer(timerId);
    }
    using Dialog::EndDialog;
    using Dialog::SetDlgItemText;
    using Dialog::Host;

protected:
    LRESULT OnPostedMessage(UINT message, WPARAM, LPARAM lParam) override {
        if (message == WM_PROBE) {
            m_posted.push_back(lParam);
            if (m_onPosted)
                m_onPosted(lParam);
        }
        return 0;
    }
};

// Ends a modal run that takes far longer than it should, so that a fault
// fails the test instead of hanging it.
class HangGuard {
public:
    HangGuard(WxDialogView& view, int seconds) : m_timer() {
        m_timer.Bind(wxEVT_TIMER, [&view](wxTimerEvent&) {
            ADD_FAILURE() << "modal run did not end";
            view.DialogEnded(-1);
        });
        m_timer.StartOnce(seconds * 1000);
    }

private:
    wxTimer m_timer;
};

const DialogTemplate& Template(int id) { return *FindDialogTemplate(id); }

class DialogViewTest : public testing::Test {
protected:
    SharedStateReset m_reset;
};

TEST_F(DialogViewTest, PortSetupIsBuiltFromItsTemplate) {
    ProbeDialog dialog(IDD_PORT_SETUP);
    WxDialogView view(nullptr, dialog, Template(IDD_PORT_SETUP));
    EXPECT_EQ(view.GetTitle(), "Port Setup");
    EXPECT_TRUE(view.HasFlag(wxCLOSE_BOX));
    EXPECT_FALSE(view.HasFlag(wxMINIMIZE_BOX));
    for (const ControlTemplate& control : Template(IDD_PORT_SETUP).controls) {
        if (control.id == IDC_STATIC)
            continue;
        wxWindow* window = view.FindControlWindow(control.id);
        ASSERT_NE(window, nullptr) << control.caption;
        EXPECT_EQ(window->IsEnabled(), control.enabled) << control.caption;
        EXPECT_EQ(window->GetLabel(), wxString::FromUTF8(control.caption));
    }
    // Exactly the enabled buttons the template names: 19200, 8, 1, Off,
    // Odd, None and the four Com buttons.
    std::vector<int> enabledRadios;
    for (const ControlTemplate& control : Template(IDD_PORT_SETUP).controls)
        if (control.kind == ControlKind::RadioButton && view.FindControlWindow(control.id)->IsEnabled())
            enabledRadios.push_back(control.id);
    EXPECT_EQ(enabledRadios, (std::vector<int>{IDC_BAUD_RATE + 6, IDC_DATA_BITS + 1, IDC_STOP_BITS + 0, IDC_ECHO + 0,
                                               IDC_PARITY + 1, IDC_COM_PORT + 0, IDC_COM_PORT + 1,
                                               IDC_COM_PORT + 2, IDC_COM_PORT + 3, IDC_FLOW_CONTROL + 0}));
    EXPECT_EQ(view.GetDefaultItem(), view.FindControlWindow(IDC_CONNECT));
    // Laid out in dialog units of its font: Connect sits below the groups.
    EXPECT_GT(view.FindControlWindow(IDC_CONNECT)->GetPosition().y,
              view.FindControlWindow(IDC_COM_PORT + 3)->GetPosition().y);
    EXPECT_GT(view.GetClientSize().GetHeight(), view.GetClientSize().GetWidth() * 3 / 4);
}

TEST_F(DialogViewTest, FrameStylesFollowTheTemplates) {
    ProbeDialog init(IDD_PORT_INIT);
    WxDialogView initView(nullptr, init, Template(IDD_PORT_INIT));
    EXPECT_EQ(initView.GetTitle(), "Port Initialization");
    EXPECT_FALSE(initView.HasFlag(wxCLOSE_BOX));
    EXPECT_FALSE(initView.HasFlag(wxSYSTEM_MENU));
    EXPECT_EQ(initView.GetDefaultItem(), initView.FindControlWindow(IDC_BACK));

    ProbeDialog upload(IDD_UPLOAD);
    WxDialogView uploadView(nullptr, upload, Template(IDD_UPLOAD));
    EXPECT_EQ(uploadView.GetTitle(), "Code Upload in Progress");
    EXPECT_TRUE(uploadView.HasFlag(wxCLOSE_BOX));
    EXPECT_TRUE(uploadView.HasFlag(wxMINIMIZE_BOX));
    auto* gauge = dynamic_cast<wxGauge*>(uploadView.FindControlWindow(IDC_PROGRESS));
    ASSERT_NE(gauge, nullptr);
    EXPECT_EQ(gauge->GetRange(), 100);
    EXPECT_EQ(gauge->GetValue(), 0);
    EXPECT_EQ(uploadView.FindControlWindow(IDC_COMMAND_TEXT)->GetLabel(), "Command:");
}

TEST_F(DialogViewTest, HostCallsReachTheControls) {
    ProbeDialog dialog(IDD_UPLOAD);
    WxDialogView view(nullptr, dialog, Template(IDD_UPLOAD));
    auto* gauge = dynamic_cast<wxGauge*>(view.FindControlWindow(IDC_PROGRESS));
    const struct {
        int position;
        int shown;
    } kPositions[] = {{0, 0}, {42, 42}, {100, 100}, {101, 100}, {250, 100}, {-7, 0}, {99, 99}};
    for (const auto& c : kPositions) {
        view.SetProgressPos(IDC_PROGRESS, c.position);
        EXPECT_EQ(gauge->GetValue(), c.shown) << c.position;
    }
    // Text is shown as given: an '&' in a path is not a mnemonic.
    view.SetItemText(IDC_COMMAND_TEXT, "Command: F /tmp/a&b/code.lzs");
    EXPECT_EQ(dynamic_cast<wxStaticText*>(view.FindControlWindow(IDC_COMMAND_TEXT))->GetLabelText(),
              "Command: F /tmp/a&b/code.lzs");
    view.SetItemText(IDC_PERCENT_TEXT, "42 %");
    EXPECT_EQ(dynamic_cast<wxStaticText*>(view.FindControlWindow(IDC_PERCENT_TEXT))->GetLabelText(), "42 %");

    ProbeDialog setup(IDD_PORT_SETUP);
    WxDialogView setupView(nullptr, setup, Template(IDD_PORT_SETUP));
    setupView.SetRadioIndex(IDC_COM_PORT, 2);
    EXPECT_EQ(setupView.GetRadioIndex(IDC_COM_PORT), 2);
    EXPECT_TRUE(dynamic_cast<wxRadioButton*>(setupView.FindControlWindow(IDC_COM_PORT + 2))->GetValue());
    EXPECT_FALSE(dynamic_cast<wxRadioButton*>(setupView.FindControlWindow(IDC_COM_PORT))->GetValue());
    setupView.SetRadioIndex(IDC_BAUD_RATE, 6);
    EXPECT_EQ(setupView.GetRadioIndex(IDC_BAUD_RATE), 6);
    EXPECT_EQ(setupView.GetRadioIndex(IDC_CONNECT), -1);  // not a group
}

// One operator input on a running dialog and what it must lead to.
struct InputCase {
    const char* name;
    int templateId;
    std::function<bool(WxDialogView&)> input;
    bool accepted;
    int result;             // when accepted
    bool abortSet;
    std::vector<int> commands;
};

void PrintTo(const InputCase& c, std::ostream* os) { *os << c.name; }

wxKeyEvent KeyEvent(int keyCode) {
    wxKeyEvent event(wxEVT_CHAR_HOOK);
    event.m_keyCode = keyCode;
    return event;
}

const InputCase kInputCases[] = {
    {"Cancel button", IDD_PORT_SETUP, [](WxDialogView& v) { return v.PressButton(IDCANCEL); }, true, IDCANCEL, true, {}},
    {"Esc key", IDD_PORT_SETUP,
     [](WxDialogView& v) {
         wxKeyEvent key = KeyEvent(WXK_ESCAPE);
         v.ProcessWindowEvent(key);
         return true;
     },
     true, IDCANCEL, true, {}},
    {"close box", IDD_PORT_SETUP, [](WxDialogView& v) {
         v.Close();  // the window vetoes its own closing; the dialog ends
         return true;
     }, true, IDCANCEL, true, {}},
    {"Enter presses Connect", IDD_PORT_SETUP,
     [](WxDialogView& v) {
         v.SetFocus();
         wxKeyEvent key = KeyEvent(WXK_RETURN);
         v.ProcessWindowEvent(key);
         return true;
     },
     true, IDOK, false, {IDC_CONNECT}},
    {"Connect button", IDD_PORT_SETUP, [](WxDialogView& v) { return v.PressButton(IDC_CONNECT); }, true, IDOK, false,
     {IDC_CONNECT}},
    {"Back by Enter", IDD_PORT_INIT,
     [](WxDialogView& v) {
         wxKeyEvent key = KeyEvent(WXK_RETURN);
         v.ProcessWindowEvent(key);
         return true;
     },
     true, IDOK, false, {IDC_BACK}},
    {"no close box while waiting", IDD_PORT_INIT, [](WxDialogView& v) { return v.PressCloseBox(); }, false, 0, false,
     {}},
    {"Esc while waiting", IDD_PORT_INIT, [](WxDialogView& v) { return v.PressEscape(); }, true, IDCANCEL, true, {}},
    {"close box of the upload", IDD_UPLOAD, [](WxDialogView& v) { return v.PressCloseBox(); }, true, IDCANCEL, true,
     {}},
    {"a disabled radio is no button", IDD_PORT_SETUP, [](WxDialogView& v) { return v.PressButton(IDC_BAUD_RATE); },
     false, 0, false, {}},
};

class DialogInputTest : public DialogViewTest, public testing::WithParamInterface<InputCase> {};

TEST_P(DialogInputTest, RoutesTheInputToTheDialog) {
    const InputCase& c = GetParam();
    ProbeDialog dialog(c.templateId);
    // A push button other than Cancel ends the probe with IDOK.
    dialog.m_onCommand = [&dialog](int) { dialog.EndDialog(IDOK); };
    WxDialogView view(nullptr, dialog, Template(c.templateId));
    int cancelInputs = 0;
    view.SetCancelInputHook([&cancelInputs] { ++cancelInputs; });
    HangGuard guard(view, 20);
    bool accepted = false;
    const int result = view.RunModal([&](WxDialogView& shown) {
        shown.CallAfter([&] {
            accepted = c.input(shown);
            if (!accepted)  // nothing happened: end the run for the test
                shown.DialogEnded(-2);
        });
    });
    EXPECT_EQ(accepted, c.accepted);
    EXPECT_EQ(result, c.accepted ? c.result : 0);
    EXPECT_EQ(static_cast<bool>(g_bAbort), c.abortSet);
    EXPECT_EQ(dialog.m_commands, c.commands);
    EXPECT_EQ(dialog.m_nCancels, c.abortSet ? 1 : 0);
    EXPECT_EQ(cancelInputs, c.abortSet ? 1 : 0);
    EXPECT_FALSE(view.IsShown());
    EXPECT_EQ(dialog.GetSafeHwnd(), 0u);  // detached after the run
}

INSTANTIATE_TEST_SUITE_P(Inputs, DialogInputTest, testing::ValuesIn(kInputCases),
                         [](const testing::TestParamInfo<InputCase>& info) {
                             std::string name;
                             for (const char* p = info.param.name; *p; ++p)
                                 name += std::isalnum(static_cast<unsigned char>(*p)) ? *p : '_';
                             return name;
                         });

TEST_F(DialogViewTest, TimerTicksReachTheDialogUntilItEnds) {
    ProbeDialog dialog(IDD_UPLOAD);
    dialog.m_onInit = [&dialog] { dialog.Host()->SetTimer(1, 10); };
    dialog.m_onTimer = [&dialog](UINT) {
        if (dialog.m_ticks.size() == 3)
            dialog.EndDialog(IDOK);
    };
    WxDialogView view(nullptr, dialog, Template(IDD_UPLOAD));
    HangGuard guard(view, 20);
    EXPECT_EQ(view.RunModal({}), IDOK);
    EXPECT_EQ(dialog.m_ticks, (std::vector<UINT>{1, 1, 1}));
}

// While a message box of the dialog is open, its timer keeps ticking.
TEST_F(DialogViewTest, TimerTicksGoOnWhileAMessageBoxIsOpen) {
    ProbeDialog dialog(IDD_UPLOAD);
    size_t ticksWhileOpen = 0;
    WxMessageBoxPresenter presenter(nullptr, [&](const std::string&) {
        const size_t before = dialog.m_ticks.size();
        wxGUIEventLoop nested;
        wxEventLoopActivator activate(&nested);
        for (int slice = 0; slice < 3000 && dialog.m_ticks.size() < before + 3; ++slice)
            nested.DispatchTimeout(10);
        ticksWhileOpen = dialog.m_ticks.size() - before;
    });
    MessageBoxPresenter* previous = SetMessageBoxPresenter(&presenter);
    dialog.m_onInit = [&dialog] { dialog.Host()->SetTimer(1, 10); };
    dialog.m_onTimer = [&dialog](UINT) {
        if (dialog.m_ticks.size() == 1) {
            ShowMessageBox({IDS_LZSS_FILE_NOT_FOUND, "LZSS file not found"});
            dialog.EndDialog(IDCANCEL);
        }
    };
    WxDialogView view(nullptr, dialog, Template(IDD_UPLOAD));
    HangGuard guard(view, 30);
    EXPECT_EQ(view.RunModal({}), IDCANCEL);
    SetMessageBoxPresenter(previous);
    // One dispatch can deliver several ticks on a busy machine: at least
    // three is what shows the timer kept going.
    EXPECT_GE(ticksWhileOpen, 3u);
}

TEST_F(DialogViewTest, DialogEndedDuringInitIsNeverShown) {
    ProbeDialog dialog(IDD_PORT_INIT);
    dialog.m_onInit = [&dialog] { dialog.EndDialog(1001); };
    WxDialogView view(nullptr, dialog, Template(IDD_PORT_INIT));
    bool shown = false;
    EXPECT_EQ(view.RunModal([&shown](WxDialogView&) { shown = true; }), 1001);
    EXPECT_FALSE(shown);
}

// A dialog that ends itself and then runs a nested dialog (as the Connect
// sequence does) is hidden at once and its run returns only after the
// handler has returned.
TEST_F(DialogViewTest, EndingThenRunningANestedDialogReturnsAfterTheHandler) {
    ProbeDialog outer(IDD_PORT_SETUP);
    ProbeDialog inner(IDD_UPLOAD);
    WxDialogView outerView(nullptr, outer, Template(IDD_PORT_SETUP));
    HangGuard guard(outerView, 30);
    bool outerHiddenWhileInnerRuns = false;
    int innerResult = 0;
    bool handlerReturned = false;
    inner.m_onInit = [&inner] { inner.Host()->SetTimer(1, 10); };
    inner.m_onTimer = [&](UINT) {
        outerHiddenWhileInnerRuns = !outerView.IsShown();
        inner.EndDialog(IDOK);
    };
    outer.m_onCommand = [&](int) {
        outer.EndDialog(IDOK);
        WxDialogView innerView(&outerView, inner, Template(IDD_UPLOAD));
        innerResult = innerView.RunModal({});
        handlerReturned = true;
    };
    const int result = outerView.RunModal([](WxDialogView& v) { v.CallAfter([&v] { v.PressButton(IDC_CONNECT); }); });
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(innerResult, IDOK);
    EXPECT_TRUE(outerHiddenWhileInnerRuns);
    EXPECT_TRUE(handlerReturned);
}

// Messages posted by a worker thread are handled on the UI thread, in order,
// also while a message box of the dialog is open; a box asked for by a
// worker thread is shown on the UI thread and holds the worker until it is
// dismissed.
TEST_F(DialogViewTest, PostedMessagesAndWorkerMessageBoxesReachTheUiThread) {
    WxPostedMessagePump pump;
    std::vector<std::string> boxes;
    std::vector<bool> boxOnUiThread;
    std::function<void()> whileBoxOpen;
    WxMessageBoxPresenter presenter(nullptr, [&](const std::string& text) {
        boxes.push_back(text);
        boxOnUiThread.push_back(wxThread::IsMain());
        if (whileBoxOpen) {  // once, for the first box
            std::function<void()> open = std::move(whileBoxOpen);
            whileBoxOpen = nullptr;
            open();
        }
    });
    MessageBoxPresenter* previous = SetMessageBoxPresenter(&presenter);

    ProbeDialog dialog(IDD_UPLOAD);
    WxDialogView view(nullptr, dialog, Template(IDD_UPLOAD));
    HangGuard guard(view, 30);
    std::atomic<bool> workerBoxReturned{false};
    std::thread worker;
    dialog.m_onPosted = [&](LPARAM value) {
        if (value != 1)
            return;
        // The box stays open until messages 2 and 3 have been handled by
        // the nested loop the box runs.
        whileBoxOpen = [&] {
            wxGUIEventLoop nested;
            wxEventLoopActivator activate(&nested);
            while (dialog.m_posted.size() < 3 && !view.HasEnded())
                nested.DispatchTimeout(50);
        };
        ShowMessageBox({0, "first"});
        // Then a worker's box: the worker waits until it has been shown.
        worker = std::thread([&] {
            ShowMessageBox({0, "from worker"});
            workerBoxReturned = true;
            PostMessage(dialog.GetSafeHwnd(), WM_PROBE, 0, 4);
        });
    };
    dialog.m_onPosted = [inner = dialog.m_onPosted, &dialog](LPARAM value) {
        inner(value);
        if (value == 4)
            dialog.EndDialog(IDOK);
    };
    const int result = view.RunModal([&dialog](WxDialogView&) {
        std::thread([hwnd = dialog.GetSafeHwnd()] {
            for (LPARAM value = 1; value <= 3; ++value)
                PostMessage(hwnd, WM_PROBE, 0, value);
        }).detach();
    });
    // The worker may still wait for its box: keep the UI thread serving.
    {
        wxGUIEventLoop serve;
        wxEventLoopActivator activate(&serve);
        for (int slice = 0; slice < 600 && !workerBoxReturned; ++slice)
            serve.DispatchTimeout(50);
    }
    worker.join();
    SetMessageBoxPresenter(previous);
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(dialog.m_posted, (std::vector<LPARAM>{1, 2, 3, 4}));
    EXPECT_EQ(boxes, (std::vector<std::string>{"first", "from worker"}));
    EXPECT_EQ(boxOnUiThread, (std::vector<bool>{true, true}));
    EXPECT_TRUE(workerBoxReturned);
}

}  // namespace
