// WxFrontEnd: runs the dialogs as wxWidgets windows.
//
// DoModal builds a WxDialogView from the dialog's template and runs it
// modally; ChooseScriptFile shows the Open dialog for the command script.
// On Linux the Port Setup dialog also shows which device each Com button
// opens, and the device chosen on the command line when there is one.
#pragma once

#include "ui/front_end.h"
#include "ui/gui_entry.h"

#include <chrono>
#include <functional>
#include <string>
#include <vector>

class RunOutcome;
class WxDialogView;
class wxStaticText;

class WxFrontEnd : public FrontEnd {
public:
    // outcome (optional, not owned) is told when the operator cancels a
    // dialog.
    explicit WxFrontEnd(GuiOptions options = {}, RunOutcome* outcome = nullptr);

    int DoModal(Dialog& dialog) override;
    bool ChooseScriptFile(std::string* path) override;
    // Keeps the UI thread's events flowing while it waits, so that a worker
    // thread waiting for a message box can finish.
    bool WaitForWorkerThreads(std::chrono::milliseconds timeout) override;
    // Shown on the Port Setup dialog's device line (and on stderr).
    void ShowDetail(const std::string& text) override;
    // A box with a warning sign, and the text on the Port Setup dialog's
    // note line, where it stays.
    void ShowNotice(const std::string& text) override;

    // Replaces the file dialog (tests answer it). The chooser returns false
    // for a cancelled choice.
    using ScriptChooser = std::function<bool(std::string* path)>;
    void SetScriptChooser(ScriptChooser chooser);

    // Called on the UI thread each time a dialog window has come on screen,
    // from inside its modal run.
    using ShownHook = std::function<void(WxDialogView& view)>;
    void SetDialogShownHook(ShownHook hook);

    // The innermost dialog window being run, or nullptr.
    WxDialogView* ActiveView() const;

    // What the Open dialog's default extension does to a chosen path: a
    // name without an extension that does not exist as typed gets ".cmd".
    static std::string AddDefaultExtension(const std::string& path);

    // The caption of a Com button on Linux: "Com1 (/dev/ttyS0)".
    static std::string ComButtonCaption(const std::string& caption, int index);

private:
    void DecoratePortSetup(WxDialogView& view);

    GuiOptions m_options;
    RunOutcome* m_pOutcome;
    ScriptChooser m_chooser;
    ShownHook m_shownHook;
    std::vector<WxDialogView*> m_views;
    wxStaticText* m_pDeviceLine = nullptr;
};
