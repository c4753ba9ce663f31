#include "ui/wx/wx_front_end.h"

#include "link/port_setup.h"
#include "platform/serial_port.h"
#include "platform/thread.h"
#include "res/dialog_templates.h"
#include "res/resource.h"
#include "res/strings.h"
#include "ui/run_outcome.h"
#include "ui/wx/wx_dialog_view.h"
#include "platform/utf8_path.h"

#include <cstdio>
#include <filesystem>
#include <memory>

#include <wx/app.h>
#include <wx/evtloop.h>
#include <wx/filedlg.h>
#include <wx/msgdlg.h>
#include <wx/stattext.h>
#include <wx/utils.h>

namespace {

// The line under the Com Port group that names the device Connect opens
// when one was given on the command line, and why a port failed to open.
constexpr DialogRect kDeviceLine = {7, 151, 210, 9};

constexpr char kScriptFilter[] = "Cmd Scripts (*.cmd)|*.cmd";

}  // namespace

WxFrontEnd::WxFrontEnd(GuiOptions options, RunOutcome* outcome)
    : m_options(std::move(options)), m_pOutcome(outcome) {}

void WxFrontEnd::SetScriptChooser(ScriptChooser chooser) { m_chooser = std::move(chooser); }

void WxFrontEnd::SetDialogShownHook(ShownHook hook) { m_shownHook = std::move(hook); }

WxDialogView* WxFrontEnd::ActiveView() const { return m_views.empty() ? nullptr : m_views.back(); }

int WxFrontEnd::DoModal(Dialog& dialog) {
    const DialogTemplate* dlg = FindDialogTemplate(dialog.TemplateId());
    if (dlg == nullptr)
        return -1;  // the window cannot be created
    // Owned by the innermost dialog still on screen; one that has ended is
    // hidden and would make a poor owner.
    wxWindow* parent = nullptr;
    for (auto it = m_views.rbegin(); it != m_views.rend() && parent == nullptr; ++it)
        if (!(*it)->HasEnded())
            parent = *it;
    WxDialogView view(parent, dialog, *dlg);
    if (m_pOutcome)
        view.SetCancelInputHook([outcome = m_pOutcome] { outcome->NoteCancelled(); });
    if (dlg->id == IDD_PORT_SETUP)
        DecoratePortSetup(view);
    m_views.push_back(&view);
    const int result = view.RunModal(m_shownHook);
    m_views.pop_back();
    if (dlg->id == IDD_PORT_SETUP)
        m_pDeviceLine = nullptr;
    return result;
}

std::string WxFrontEnd::ComButtonCaption(const std::string& caption, int index) {
    PortSettings button;
    button.m_nComPort = index;
    const std::string device = ResolvePortName(PortNameFor(button));
    return device.empty() ? caption : caption + " (" + device + ")";
}

void WxFrontEnd::DecoratePortSetup(WxDialogView& view) {
    const auto buttons = RadioGroup(view.Template(), IDC_COM_PORT);
    for (size_t i = 0; i < buttons.size(); ++i)
        view.SetControlCaption(buttons[i]->id, ComButtonCaption(buttons[i]->caption, static_cast<int>(i)));
    const std::string& device = m_options.m_settings.m_strDevice;
    m_pDeviceLine = view.AddNoteLine(kDeviceLine, device.empty() ? "" : "Connect opens " + device);
}

void WxFrontEnd::ShowDetail(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
    if (m_pDeviceLine) {
        m_pDeviceLine->SetLabelText(wxString::FromUTF8(text.c_str()));
        m_pDeviceLine->SetToolTip(wxString::FromUTF8(text.c_str()));
    }
}

void WxFrontEnd::ShowNotice(const std::string& text) {
    ShowDetail(text);
    wxMessageBox(wxString::FromUTF8(text.c_str()), wxString::FromUTF8(kApplicationName),
                 wxOK | wxICON_WARNING | wxCENTRE);
}

std::string WxFrontEnd::AddDefaultExtension(const std::string& path) {
    namespace fs = std::filesystem;
    const fs::path chosen = PathFromUtf8(path);
    if (path.empty() || chosen.has_extension() || !chosen.has_filename())
        return path;
    std::error_code error;
    if (fs::exists(chosen, error))
        return path;
    return path + ".cmd";
}

bool WxFrontEnd::ChooseScriptFile(std::string* path) {
    if (m_chooser)
        return m_chooser(path);
    // No owner: the Port Setup dialog has already been ended when the
    // script is chosen.
    wxFileDialog dialog(nullptr, "Open", wxString::FromUTF8(m_options.m_strScriptFolder.c_str()), wxEmptyString,
                        kScriptFilter, wxFD_OPEN);
    if (dialog.ShowModal() != wxID_OK)
        return false;
    const wxString chosen = dialog.GetPath();
#ifdef _WIN32
    // Windows names files in UTF-16; the program's paths are UTF-8.
    *path = AddDefaultExtension(std::string(chosen.ToUTF8()));
#else
    // The path in the file system's own encoding, byte for byte.
    *path = AddDefaultExtension(std::string(chosen.fn_str()));
#endif
    return true;
}

bool WxFrontEnd::WaitForWorkerThreads(std::chrono::milliseconds timeout) {
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + timeout;
    // Serve the UI thread's events in short slices: a worker may be waiting
    // for a message box to be shown and dismissed before it can end. The
    // dialogs take no input meanwhile (a second Connect must not start while
    // the first one is still closing its port); a box opened from here is
    // created later and so is not disabled.
    wxWindowDisabler disabler;
    std::unique_ptr<wxGUIEventLoop> ownLoop;
    std::unique_ptr<wxEventLoopActivator> activator;
    if (wxEventLoopBase::GetActive() == nullptr) {
        ownLoop = std::make_unique<wxGUIEventLoop>();
        activator = std::make_unique<wxEventLoopActivator>(ownLoop.get());
    }
    while (!JoinWorkerThreads(std::chrono::milliseconds(0))) {
        if (Clock::now() >= deadline)
            return false;
        wxEventLoopBase::GetActive()->DispatchTimeout(20);
#ifdef __WXMSW__
        wxTheApp->ProcessPendingEvents();  // as in WxDialogView::RunModal
#endif
    }
    return true;
}
