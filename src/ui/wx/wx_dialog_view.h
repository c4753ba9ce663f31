// WxDialogView: one dialog template built as a wxDialog, hosting the
// toolkit-neutral Dialog that holds the logic.
//
// The view creates its controls from the template data (places and sizes in
// dialog units of the template's font), routes the operator's input to the
// dialog (push buttons, Esc, Enter, the close box where the template has
// one), runs the dialog's timers and shows what the dialog sets.
//
// Modal run: RunModal() shows the window, disables the other windows of the
// application and runs an event loop of its own until the dialog has ended.
// Ending only hides the window and sets a flag; the loop sees the flag once
// the handler that ended the dialog has returned. That keeps a dialog which
// ends itself and then opens nested message boxes and dialogs (the Connect
// sequence) from quitting any event loop but its own.
#pragma once

// The project's headers before wx's: wx defines TRUE and FALSE as macros.
#include "res/dialog_templates.h"
#include "ui/dialog.h"

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <wx/dialog.h>
#include <wx/timer.h>

class wxRadioButton;
class wxStaticText;

class WxDialogView : public wxDialog, public DialogHost {
public:
    // Builds the window for dialog's template (which must exist). The
    // dialog is not attached yet; RunModal does that.
    WxDialogView(wxWindow* parent, Dialog& dialog, const DialogTemplate& dlg);
    ~WxDialogView() override;

    // Attaches the dialog, calls OnInitDialog (before the window is first
    // shown), then runs modally until the dialog ends; detaches it and
    // returns its result. onShown (if set) is called once the window is on
    // screen.
    int RunModal(const std::function<void(WxDialogView&)>& onShown);

    int TemplateId() const { return m_template.id; }
    const DialogTemplate& Template() const { return m_template; }
    Dialog& LogicDialog() { return m_dialog; }

    // The window built for a control id of the template, or nullptr.
    wxWindow* FindControlWindow(int controlId) const;

    // Sets the caption of a push or radio button, or the text of a static
    // text, as shown (the template's text is the default).
    void SetControlCaption(int controlId, const std::string& caption);

    // Adds a line of text below the controls of the template at the given
    // place (dialog units); returns it. Used for what the host system adds
    // to a template (the device a port choice opens).
    wxStaticText* AddNoteLine(const DialogRect& rect, const std::string& text);

    // Operator input, as the window's event handlers deliver it. Each
    // returns false when the input has no effect (disabled or missing
    // button, dialog already ended, no close box).
    bool PressButton(int controlId);
    bool PressEscape();
    bool PressEnter();
    bool PressCloseBox();

    bool HasEnded() const { return m_bEnded; }

    // Called when the operator's input cancels the dialog (Cancel, Esc, the
    // close box), before the dialog's OnCancel runs.
    void SetCancelInputHook(std::function<void()> hook) { m_onCancelInput = std::move(hook); }

    // --- DialogHost --------------------------------------------------------
    void SetItemText(int controlId, const std::string& text) override;
    void SetProgressPos(int controlId, int position) override;
    int GetRadioIndex(int firstButtonId) override;
    void SetRadioIndex(int firstButtonId, int index) override;
    void SetTimer(UINT id, UINT periodMs) override;
    void DialogEnded(int result) override;

private:
    void BuildControls();
    wxWindow* CreateControl(const ControlTemplate& control);
    wxRect ToPixels(const DialogRect& rect);
    std::vector<wxRadioButton*> RadioButtons(int firstButtonId) const;

    void OnButtonEvent(wxCommandEvent& event);
    void OnCharHook(wxKeyEvent& event);
    void OnCloseEvent(wxCloseEvent& event);
    void OnTimerEvent(wxTimerEvent& event);

    // Input reaches the dialog only while it has not ended.
    bool AcceptsInput() const;
    void CancelByOperator();

    Dialog& m_dialog;
    const DialogTemplate& m_template;
    std::map<int, wxWindow*> m_controls;
    std::map<UINT, std::unique_ptr<wxTimer>> m_timers;
    bool m_bEnded = false;
    bool m_bRunning = false;
    std::function<void()> m_onCancelInput;
};
