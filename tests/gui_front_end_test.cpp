#include "ui/wx/wx_front_end.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "link/shared_state.h"
#include "platform/message_box.h"
#include "res/resource.h"
#include "res/strings.h"
#include "sim/receiver_sim.h"
#include "support/shared_state_reset.h"
#include "support/temp_folder.h"
#include "support/wx_test_environment.h"
#include "ui/downloader_app.h"
#include "ui/run_outcome.h"
#include "ui/wx/wx_app.h"
#include "ui/wx/wx_dialog_view.h"
#include "ui/wx/wx_message_box.h"
#include "ui/wx/wx_posted_messages.h"

#include <wx/gauge.h>
#include <wx/radiobut.h>
#include <wx/stattext.h>
#include <wx/timer.h>

namespace fs = std::filesystem;

namespace {

const testing::Environment* const kWxEnvironment =
    testing::AddGlobalTestEnvironment(new WxTestEnvironment("gui_front_end_test"));

std::string Text(UINT id) { return LoadResString(id); }

// Saves what the screen shows of a window as a PNG, when a folder for
// screenshots is given (RD_SCREENSHOT_DIR; scripts/gui-screenshot.sh sets
// it). The X server's own picture is taken with ImageMagick's import.
void SaveScreenshot(wxWindow& window, const std::string& name) {
    const char* folder = std::getenv("RD_SCREENSHOT_DIR");
    if (folder == nullptr || *folder == '\0')
        return;
    window.Update();
    wxTheApp->SafeYieldFor(nullptr, wxEVT_CATEGORY_UI);  // let it be drawn
    const wxRect r = window.GetScreenRect();
    const std::string path = std::string(folder) + "/" + name + ".png";
    const std::string command = "import -window root -crop " + std::to_string(r.GetWidth()) + "x" +
                                std::to_string(r.GetHeight()) + "+" + std::to_string(r.GetX()) + "+" +
                                std::to_string(r.GetY()) + " '" + path + "'";
    EXPECT_EQ(std::system(command.c_str()), 0) << command;
}

// Plays the operator: every tick it looks at the dialog on screen and, when
// it is the one the next step expects, gives it that step's input. The
// input itself goes through the event queue, so that the nested runs it
// starts are not run inside the timer's own callback. A run that takes far
// too long is cancelled with Esc and fails the test.
class Operator {
public:
    struct Step {
        int templateId;
        std::function<bool(WxDialogView&)> input;
    };

    Operator(WxFrontEnd& frontEnd, std::vector<Step> steps) : m_frontEnd(frontEnd), m_steps(std::move(steps)) {
        m_ticker.Bind(wxEVT_TIMER, [this](wxTimerEvent&) { Tick(); });
        m_ticker.Start(50);
        m_started = std::chrono::steady_clock::now();
    }

    size_t StepsDone() const { return m_nextStep; }

private:
    void Tick() {
        WxDialogView* view = m_frontEnd.ActiveView();
        if (std::chrono::steady_clock::now() - m_started > std::chrono::seconds(90)) {
            if (!m_bGaveUp)
                ADD_FAILURE() << "the run did not end; step " << m_nextStep;
            m_bGaveUp = true;
            g_bAbort.Set();
            if (view)
                view->CallAfter([view] { view->PressEscape(); });
            return;
        }
        if (m_bBusy || m_nextStep >= m_steps.size() || view == nullptr || view->HasEnded() || !view->IsShown())
            return;
        if (view->TemplateId() != m_steps[m_nextStep].templateId)
            return;
        // Let a window that has just come up settle (and be drawn) first.
        if (view != m_pLastView) {
            m_pLastView = view;
            m_nTicksSeen = 0;
        }
        if (++m_nTicksSeen < 4)
            return;
        m_nTicksSeen = 0;
        m_bBusy = true;
        view->CallAfter([this, view] {
            // The step counts as done before its input runs: the input may
            // run nested dialogs whose own steps follow. Refused input (the
            // window is disabled for a moment) returns at once and is tried
            // again on a later tick.
            m_bBusy = false;
            const size_t step = m_nextStep++;
            if (!m_steps[step].input(*view))
                m_nextStep = step;
        });
    }

    WxFrontEnd& m_frontEnd;
    std::vector<Step> m_steps;
    size_t m_nextStep = 0;
    bool m_bBusy = false;
    bool m_bGaveUp = false;
    WxDialogView* m_pLastView = nullptr;
    int m_nTicksSeen = 0;
    wxTimer m_ticker;
    std::chrono::steady_clock::time_point m_started;
};

bool Press(WxDialogView& view, int id) { return view.PressButton(id); }

class GuiRunTest : public testing::Test {
protected:
    TempFolder m_temp{"rd-gui-"};

    void SetUp() override { m_folder = m_temp.Path(); }

    std::string WriteFile(const std::string& name, const std::string& bytes) {
        const fs::path path = m_folder / name;
        std::ofstream(path, std::ios::binary) << bytes;
        return path.string();
    }

    // Runs the application as RunGui does, with the message boxes recorded
    // instead of waiting for a click, and the script chosen by the test.
    void RunApplication(const std::string& device, std::vector<Operator::Step> steps) {
        PortSettings settings;
        settings.m_strDevice = device;
        RunApplication(settings, std::move(steps));
    }
    void RunApplication(const PortSettings& settings, std::vector<Operator::Step> steps) {
        GuiOptions options;
        options.m_settings = settings;
        WxFrontEnd frontEnd(options, &m_outcome);
        frontEnd.SetScriptChooser([this](std::string* path) {
            if (m_strScript.empty())
                return false;
            *path = m_strScript;
            return true;
        });
        frontEnd.SetDialogShownHook([this](WxDialogView& view) { m_shown.push_back(view.TemplateId()); if (m_onShown) m_onShown(view); });
        WxMessageBoxPresenter presenter(&m_outcome, [this](const std::string& text) {
            EXPECT_TRUE(wxThread::IsMain()) << text;
            m_boxes.push_back(text);
        });
        Operator player(frontEnd, std::move(steps));
        RunDownloaderApp(options, frontEnd, presenter, m_outcome);
        m_nStepsDone = player.StepsDone();
    }

    SharedStateReset m_reset;
    fs::path m_folder;
    std::string m_strScript;
    RunOutcome m_outcome;
    std::vector<std::string> m_boxes;
    std::vector<int> m_shown;
    std::function<void(WxDialogView&)> m_onShown;
    size_t m_nStepsDone = 0;
};

std::string DataFileBytes(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>((i * 7 + i / 251) & 0xFF);
    return bytes;
}

std::vector<int> EnabledRadioIds(WxDialogView& view) {
    std::vector<int> ids;
    for (const ControlTemplate& control : view.Template().controls)
        if (control.kind == ControlKind::RadioButton && view.FindControlWindow(control.id)->IsEnabled())
            ids.push_back(control.id);
    return ids;
}

bool HasLabel(wxWindow& parent, const wxString& label) {
    for (wxWindow* child : parent.GetChildren())
        if (child->GetLabel() == label)
            return true;
    return false;
}

TEST_F(GuiRunTest, CompletesADownloadAgainstTheSimulatedReceiver) {
    std::string reason;
    // Paced like a real line, so that the upload lasts a few seconds and
    // the progress dialog can be seen at work.
    SimOptions simOptions;
    simOptions.paced = true;
    simOptions.keepFileData = true;
    auto sim = ReceiverSim::CreatePty(simOptions, &reason);
    ASSERT_TRUE(sim) << reason;
    sim->Start();
    const std::string data = DataFileBytes(6000);
    WriteFile("code.lzs", data);
    m_strScript = WriteFile("load.cmd", "CE123456\r\nScode.lzs\r\nCX\r\n");

    bool portSetupChecked = false;
    int highestBar = -1;
    m_onShown = [&](WxDialogView& view) {
        if (view.TemplateId() == IDD_PORT_SETUP) {
            // The start-up notice came first, before the window was shown.
            EXPECT_EQ(m_boxes, (std::vector<std::string>{Text(IDS_STARTUP_NOTICE)}));
            EXPECT_EQ(EnabledRadioIds(view),
                      (std::vector<int>{IDC_BAUD_RATE + 6, IDC_DATA_BITS + 1, IDC_STOP_BITS + 0, IDC_ECHO + 0,
                                        IDC_PARITY + 1, IDC_COM_PORT + 0, IDC_COM_PORT + 1, IDC_COM_PORT + 2,
                                        IDC_COM_PORT + 3, IDC_FLOW_CONTROL + 0}));
            for (int id : {IDC_BAUD_RATE + 6, IDC_DATA_BITS + 1, IDC_STOP_BITS + 0, IDC_ECHO + 0, IDC_PARITY + 1,
                           IDC_COM_PORT + 0, IDC_FLOW_CONTROL + 0})
                EXPECT_TRUE(static_cast<wxRadioButton*>(view.FindControlWindow(id))->GetValue()) << id;
            EXPECT_EQ(view.FindControlWindow(IDC_COM_PORT)->GetLabel(), "Com1 (/dev/ttyS0)");
            EXPECT_EQ(view.FindControlWindow(IDC_COM_PORT + 3)->GetLabel(), "Com4 (/dev/ttyS3)");
            EXPECT_TRUE(HasLabel(view, wxString::FromUTF8("Connect opens " + sim->ToolPath())));
            EXPECT_EQ(view.GetDefaultItem(), view.FindControlWindow(IDC_CONNECT));
            EXPECT_TRUE(view.FindControlWindow(IDC_CONNECT)->IsEnabled());
            EXPECT_TRUE(view.FindControlWindow(IDCANCEL)->IsEnabled());
            portSetupChecked = true;
        }
    };
    std::vector<Operator::Step> steps = {
        {IDD_PORT_SETUP, [](WxDialogView& v) { SaveScreenshot(v, "1-port-setup"); return Press(v, IDC_CONNECT); }},
    };
    // While the upload runs, watch the bar (and take its picture once it moves).
    wxTimer watcher;
    bool uploadPictured = false;
    m_onShown = [inner = m_onShown, &watcher, &highestBar, &uploadPictured](WxDialogView& view) {
        inner(view);
        if (view.TemplateId() != IDD_UPLOAD)
            return;
        watcher.Bind(wxEVT_TIMER, [&view, &highestBar, &uploadPictured](wxTimerEvent&) {
            if (view.HasEnded())
                return;
            const int position = static_cast<wxGauge*>(view.FindControlWindow(IDC_PROGRESS))->GetValue();
            highestBar = std::max(highestBar, position);
            if (position > 0 && !uploadPictured) {
                uploadPictured = true;
                SaveScreenshot(view, "3-code-upload");
            }
        });
        watcher.Start(100);
    };
    RunApplication(sim->ToolPath(), steps);
    watcher.Stop();

    EXPECT_TRUE(portSetupChecked);
    EXPECT_EQ(m_nStepsDone, steps.size());
    EXPECT_EQ(m_shown, (std::vector<int>{IDD_PORT_SETUP, IDD_PORT_INIT, IDD_UPLOAD}));
    EXPECT_EQ(m_boxes, (std::vector<std::string>{Text(IDS_STARTUP_NOTICE), Text(IDS_CONNECTION_ESTABLISHED),
                                                 Text(IDS_SELECT_SCRIPT), Text(IDS_DOWNLOAD_COMPLETED)}));
    EXPECT_EQ(m_outcome.ExitStatus(), kExitSuccess);
    EXPECT_LE(highestBar, 100);
    ASSERT_TRUE(sim->WaitUntil([](const SimReport& r) { return r.commands.size() >= 2; }, std::chrono::seconds(60)));
    const SimReport report = sim->Report();
    EXPECT_TRUE(report.handshakeDone);
    EXPECT_EQ(report.commands, (std::vector<std::string>{"E123456", "X"}));
    ASSERT_EQ(report.files.size(), 1u);
    EXPECT_TRUE(report.files[0].complete) << report.files[0].problem;
    EXPECT_EQ(std::string(report.files[0].data.begin(), report.files[0].data.end()), data);
    EXPECT_TRUE(report.errors.empty()) << report.Summary();
}

// Back returns to Port Setup (the notice is not shown again) and a second
// Connect starts a new wait; Cancel there ends the application.
TEST_F(GuiRunTest, BackThenConnectAgainThenCancel) {
    SimOptions options;
    options.silent = true;  // a receiver that is still switched off
    std::string reason;
    auto sim = ReceiverSim::CreatePty(options, &reason);
    ASSERT_TRUE(sim) << reason;
    sim->Start();
    RunApplication(sim->ToolPath(), {
                                        {IDD_PORT_SETUP, [](WxDialogView& v) { return Press(v, IDC_CONNECT); }},
                                        {IDD_PORT_INIT,
                                         [](WxDialogView& v) {
                                             SaveScreenshot(v, "2-port-initialization");
                                             return Press(v, IDC_BACK);
                                         }},
                                        {IDD_PORT_SETUP, [](WxDialogView& v) { return Press(v, IDC_CONNECT); }},
                                        {IDD_PORT_INIT, [](WxDialogView& v) { return Press(v, IDCANCEL); }},
                                    });
    EXPECT_EQ(m_nStepsDone, 4u);
    EXPECT_EQ(m_shown, (std::vector<int>{IDD_PORT_SETUP, IDD_PORT_INIT, IDD_PORT_INIT}));
    EXPECT_EQ(m_boxes, (std::vector<std::string>{Text(IDS_STARTUP_NOTICE), kTextConnectionCancelled}));
    EXPECT_EQ(m_outcome.ExitStatus(), kExitCancelled);
    EXPECT_TRUE(g_bAbort);
}

// A device that cannot be opened: "Unable to open port", the reason on the
// device line, and the Port Setup dialog stays for another try.
TEST_F(GuiRunTest, PortThatCannotBeOpenedLeavesPortSetupOpen) {
    const std::string device = (m_folder / "no-such-tty").string();
    wxString deviceLine;
    RunApplication(device, {
                               {IDD_PORT_SETUP, [](WxDialogView& v) { return Press(v, IDC_CONNECT); }},
                               {IDD_PORT_SETUP,
                                [&](WxDialogView& v) {
                                    for (wxWindow* child : v.GetChildren())
                                        if (child->GetLabel().StartsWith(wxString::FromUTF8(device)))
                                            deviceLine = child->GetLabel();
                                    return !deviceLine.empty() && Press(v, IDCANCEL);
                                }},
                           });
    EXPECT_EQ(m_boxes, (std::vector<std::string>{Text(IDS_STARTUP_NOTICE), Text(IDS_UNABLE_TO_OPEN_PORT)}));
    EXPECT_TRUE(deviceLine.StartsWith(wxString::FromUTF8(device + ": "))) << deviceLine;
    EXPECT_EQ(m_shown, (std::vector<int>{IDD_PORT_SETUP}));
    EXPECT_EQ(m_outcome.ExitStatus(), kExitCancelled);
}

// --com N reaches the Port Setup dialog: its button is selected, and
// Connect opens that port.
TEST_F(GuiRunTest, ComPortFromTheCommandLineIsSelected) {
    PortSettings settings;
    settings.m_nComPort = 2;
    int selected = -1;
    RunApplication(settings, {{IDD_PORT_SETUP, [&](WxDialogView& v) {
                                   for (int i = 0; i < 4; ++i)
                                       if (static_cast<wxRadioButton*>(v.FindControlWindow(IDC_COM_PORT + i))->GetValue())
                                           selected = i;
                                   return Press(v, IDCANCEL);
                               }}});
    EXPECT_EQ(selected, 2);
    EXPECT_EQ(m_outcome.ExitStatus(), kExitCancelled);
}

// The receiver answers "ERROR" in the middle of the upload: the link
// thread's own message box is shown by the UI thread, and no success follows.
TEST_F(GuiRunTest, ReceiverErrorDuringTheUploadIsReportedOnce) {
    SimOptions options;
    options.fault = SimFault::Error;
    options.faultAfterUploadFrames = 30;  // in the middle of the data file
    std::string reason;
    auto sim = ReceiverSim::CreatePty(options, &reason);
    ASSERT_TRUE(sim) << reason;
    sim->Start();
    WriteFile("code.lzs", DataFileBytes(60000));
    m_strScript = WriteFile("load.cmd", "CE123456\r\nScode.lzs\r\nCX\r\n");
    RunApplication(sim->ToolPath(), {{IDD_PORT_SETUP, [](WxDialogView& v) { return Press(v, IDC_CONNECT); }}});
    EXPECT_EQ(std::count(m_boxes.begin(), m_boxes.end(), Text(IDS_COMMUNICATION_ERROR)), 1);
    EXPECT_EQ(std::count(m_boxes.begin(), m_boxes.end(), Text(IDS_DOWNLOAD_COMPLETED)), 0);
    EXPECT_EQ(m_outcome.ExitStatus(), kExitFailure);
    sim->Stop();  // the count follows the write, which the program may have read first
    EXPECT_EQ(sim->Report().errorsSent, 1u);
}

// Cancel in the progress dialog stops the upload: no message, nothing more
// reaches the receiver, and the application ends as cancelled.
TEST_F(GuiRunTest, CancelDuringTheUploadStopsIt) {
    SimOptions options;
    options.paced = true;  // an upload long enough to be cancelled
    std::string reason;
    auto sim = ReceiverSim::CreatePty(options, &reason);
    ASSERT_TRUE(sim) << reason;
    sim->Start();
    WriteFile("code.lzs", DataFileBytes(200000));
    m_strScript = WriteFile("load.cmd", "CE123456\r\nScode.lzs\r\nCX\r\n");
    RunApplication(sim->ToolPath(), {{IDD_PORT_SETUP, [](WxDialogView& v) { return Press(v, IDC_CONNECT); }},
                                     {IDD_UPLOAD, [&sim](WxDialogView& v) {
                                          // Once the file has started to arrive.
                                          return !sim->Report().files.empty() && Press(v, IDCANCEL);
                                      }}});
    EXPECT_EQ(m_nStepsDone, 2u);
    EXPECT_EQ(m_boxes, (std::vector<std::string>{Text(IDS_STARTUP_NOTICE), Text(IDS_CONNECTION_ESTABLISHED),
                                                 Text(IDS_SELECT_SCRIPT)}));
    EXPECT_EQ(m_outcome.ExitStatus(), kExitCancelled);
    const SimReport report = sim->Report();
    EXPECT_EQ(report.commands, (std::vector<std::string>{"E123456"}));
    ASSERT_EQ(report.files.size(), 1u);
    EXPECT_LT(report.files[0].size, 200000u);
}

TEST(ScriptFileName, DefaultExtensionIsAddedToANameWithoutOne) {
    const TempFolder temp("rd-ext-");
    const std::string folder = temp.Path().string();
    std::ofstream(folder + "/README") << "x";
    const struct {
        std::string typed;
        std::string expected;
    } kCases[] = {
        {folder + "/load", folder + "/load.cmd"},
        {folder + "/load.cmd", folder + "/load.cmd"},
        {folder + "/load.txt", folder + "/load.txt"},
        {folder + "/README", folder + "/README"},  // exists as typed
        {"", ""},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(WxFrontEnd::AddDefaultExtension(c.typed), c.expected) << c.typed;
}

}  // namespace
