#include "ui/wx/wx_dialog_view.h"

#include "ui/wx/wx_posted_messages.h"

#include <algorithm>

#include <wx/app.h>
#include <wx/button.h>
#include <wx/evtloop.h>
#include <wx/gauge.h>
#include <wx/radiobut.h>
#include <wx/statbox.h>
#include <wx/stattext.h>
#include <wx/settings.h>
#include <wx/utils.h>

namespace {

long FrameStyle(const DialogTemplate& dlg) {
    // A modal frame with a title bar; the system menu brings the close box.
    long style = wxCAPTION;
    if (dlg.systemMenu)
        style |= wxSYSTEM_MENU | wxCLOSE_BOX;
    if (dlg.minimizeBox)
        style |= wxMINIMIZE_BOX | wxSYSTEM_MENU;
    return style;
}

wxString FromUtf8OrLatin1(const std::string& text) {
    wxString s = wxString::FromUTF8(text.c_str(), text.size());
    if (s.empty() && !text.empty())
        s = wxString(text.c_str(), wxConvISO8859_1, text.size());  // a path in 8-bit bytes
    return s;
}

}  // namespace

WxDialogView::WxDialogView(wxWindow* parent, Dialog& dialog, const DialogTemplate& dlg)
    : wxDialog(parent, wxID_ANY, wxString::FromUTF8(dlg.caption), wxDefaultPosition, wxDefaultSize,
               FrameStyle(dlg)),
      m_dialog(dialog),
      m_template(dlg) {
    // The template's font is the dialog font of the system the templates
    // were drawn for; here the desktop's own dialog font takes its place, so
    // that the units measure what GTK's widgets need at their smallest.
    SetFont(wxSystemSettings::GetFont(wxSYS_DEFAULT_GUI_FONT));
    SetClientSize(ToPixels({0, 0, dlg.cx, dlg.cy}).GetSize());
    BuildControls();
    Bind(wxEVT_BUTTON, &WxDialogView::OnButtonEvent, this);
    Bind(wxEVT_CHAR_HOOK, &WxDialogView::OnCharHook, this);
    Bind(wxEVT_CLOSE_WINDOW, &WxDialogView::OnCloseEvent, this);
    Bind(wxEVT_TIMER, &WxDialogView::OnTimerEvent, this);
    CentreOnScreen();
}

WxDialogView::~WxDialogView() {
    for (auto& [id, timer] : m_timers)
        timer->Stop();
    m_dialog.Detach();
}

wxRect WxDialogView::ToPixels(const DialogRect& rect) {
    wxPoint origin = ConvertDialogToPixels(wxPoint(rect.x, rect.y));
    wxSize size = ConvertDialogToPixels(wxSize(rect.cx, rect.cy));
    return wxRect(origin, size);
}

void WxDialogView::BuildControls() {
    // Template order is creation order, which is also the tab order.
    for (const ControlTemplate& control : m_template.controls) {
        wxWindow* window = CreateControl(control);
        if (!control.enabled)
            window->Disable();
        if (control.id != IDC_STATIC)
            m_controls[control.id] = window;
    }
}

wxWindow* WxDialogView::CreateControl(const ControlTemplate& control) {
    const wxRect r = ToPixels(control.rect);
    const wxString caption = wxString::FromUTF8(control.caption);
    const wxWindowID id = control.id == IDC_STATIC ? wxID_ANY : control.id;
    switch (control.kind) {
    case ControlKind::PushButton: {
        auto* button = new wxButton(this, id, caption, r.GetPosition(), r.GetSize());
        if (control.defaultButton)
            button->SetDefault();
        return button;
    }
    case ControlKind::GroupBox:
        return new wxStaticBox(this, id, caption, r.GetPosition(), r.GetSize());
    case ControlKind::RadioButton:
        return new wxRadioButton(this, id, caption, r.GetPosition(), r.GetSize(),
                                 control.groupStart ? wxRB_GROUP : 0);
    case ControlKind::StaticText: {
        long style = wxALIGN_LEFT | wxST_NO_AUTORESIZE;
        if (control.noWrap)
            style |= wxST_ELLIPSIZE_MIDDLE;
        auto* text = new wxStaticText(this, id, wxEmptyString, r.GetPosition(), r.GetSize(), style);
        text->SetLabelText(caption);
        return text;
    }
    case ControlKind::ProgressBar: {
        auto* gauge = new wxGauge(this, id, 100, r.GetPosition(), r.GetSize(),
                                  wxGA_HORIZONTAL | wxGA_SMOOTH | (control.bordered ? wxBORDER_SIMPLE : 0));
        gauge->SetValue(0);
        return gauge;
    }
    }
    return nullptr;
}

wxWindow* WxDialogView::FindControlWindow(int controlId) const {
    auto it = m_controls.find(controlId);
    return it == m_controls.end() ? nullptr : it->second;
}

void WxDialogView::SetControlCaption(int controlId, const std::string& caption) {
    wxWindow* window = FindControlWindow(controlId);
    if (!window)
        return;
    if (auto* text = dynamic_cast<wxStaticText*>(window))
        text->SetLabelText(FromUtf8OrLatin1(caption));
    else
        window->SetLabel(FromUtf8OrLatin1(caption));
}

wxStaticText* WxDialogView::AddNoteLine(const DialogRect& rect, const std::string& text) {
    const wxRect r = ToPixels(rect);
    auto* line = new wxStaticText(this, wxID_ANY, wxEmptyString, r.GetPosition(), r.GetSize(),
                                  wxALIGN_LEFT | wxST_NO_AUTORESIZE | wxST_ELLIPSIZE_MIDDLE);
    line->SetLabelText(FromUtf8OrLatin1(text));
    line->SetToolTip(FromUtf8OrLatin1(text));
    return line;
}

int WxDialogView::RunModal(const std::function<void(WxDialogView&)>& onShown) {
    m_dialog.Attach(this);
    m_dialog.OnInitDialog();
    if (!m_bEnded) {
        // Everything else of the application waits while this dialog runs.
        wxWindowDisabler disabler(this);
        Show();
        Raise();
        if (const ControlTemplate* def = DefaultButton(m_template))
            FindControlWindow(def->id)->SetFocus();
        if (onShown)
            onShown(*this);
        wxGUIEventLoop loop;
        wxEventLoopActivator activator(&loop);
        ScheduleDispatchOfPostedMessages();  // a dispatch may be held up below this run
        while (!m_bEnded) {
            loop.Dispatch();
#ifdef __WXMSW__
            // On Windows events queued from other threads (CallAfter) wait
            // for idle time, which a loop run by Dispatch() never has.
            wxTheApp->ProcessPendingEvents();
#endif
        }
    }
    Hide();
    const int result = m_dialog.Result();
    m_dialog.Detach();
    return result;
}

bool WxDialogView::AcceptsInput() const { return !m_bEnded && !m_dialog.IsEnded() && IsEnabled(); }

bool WxDialogView::PressButton(int controlId) {
    auto* button = dynamic_cast<wxButton*>(FindControlWindow(controlId));
    if (!button || !button->IsEnabled() || !AcceptsInput())
        return false;
    wxCommandEvent event(wxEVT_BUTTON, controlId);
    event.SetEventObject(button);
    button->GetEventHandler()->ProcessEvent(event);
    return true;
}

void WxDialogView::CancelByOperator() {
    if (m_onCancelInput)
        m_onCancelInput();
    m_dialog.OnCancel();
}

bool WxDialogView::PressEscape() {
    if (!AcceptsInput())
        return false;
    CancelByOperator();
    return true;
}

bool WxDialogView::PressEnter() {
    // Enter on a focused push button presses it; anywhere else it presses
    // the default push button.
    wxWindow* focus = FindFocus();
    for (const auto& [id, window] : m_controls)
        if (window == focus && dynamic_cast<wxButton*>(window))
            return PressButton(id);
    const ControlTemplate* def = DefaultButton(m_template);
    return def ? PressButton(def->id) : false;
}

bool WxDialogView::PressCloseBox() {
    if (!m_template.systemMenu || !AcceptsInput())
        return false;
    CancelByOperator();
    return true;
}

void WxDialogView::OnButtonEvent(wxCommandEvent& event) {
    if (!AcceptsInput() || !FindControlWindow(event.GetId()))
        return;
    if (event.GetId() == IDCANCEL)
        CancelByOperator();
    else
        m_dialog.OnCommand(event.GetId());
}

void WxDialogView::OnCharHook(wxKeyEvent& event) {
    switch (event.GetKeyCode()) {
    case WXK_ESCAPE:
        PressEscape();
        return;
    case WXK_RETURN:
    case WXK_NUMPAD_ENTER:
        if (!event.HasAnyModifiers()) {
            PressEnter();
            return;
        }
        break;
    default:
        break;
    }
    event.Skip();
}

void WxDialogView::OnCloseEvent(wxCloseEvent& event) {
    // The window is never destroyed by a close request: the modal run owns it.
    if (event.CanVeto())
        event.Veto();
    PressCloseBox();
}

void WxDialogView::OnTimerEvent(wxTimerEvent& event) {
    // The tick is handed on through the event queue rather than handled in
    // the timer's own callback: a handler that opens a message box would
    // otherwise hold that callback, and with it every later tick, until the
    // box is closed. Ticks go on while another window holds the input.
    const UINT timerId = static_cast<UINT>(event.GetId());
    CallAfter([this, timerId] {
        if (!m_bEnded && !m_dialog.IsEnded())
            m_dialog.OnTimer(timerId);
    });
}

std::vector<wxRadioButton*> WxDialogView::RadioButtons(int firstButtonId) const {
    std::vector<wxRadioButton*> buttons;
    for (const ControlTemplate* control : RadioGroup(m_template, firstButtonId))
        if (auto* button = dynamic_cast<wxRadioButton*>(FindControlWindow(control->id)))
            buttons.push_back(button);
    return buttons;
}

void WxDialogView::SetItemText(int controlId, const std::string& text) {
    SetControlCaption(controlId, text);
    if (auto* window = FindControlWindow(controlId)) {
        const ControlTemplate* control = FindControl(m_template, controlId);
        if (control && control->noWrap)  // a clipped line shows all of itself on hover
            window->SetToolTip(FromUtf8OrLatin1(text));
    }
}

void WxDialogView::SetProgressPos(int controlId, int position) {
    if (auto* gauge = dynamic_cast<wxGauge*>(FindControlWindow(controlId)))
        gauge->SetValue(std::clamp(position, 0, gauge->GetRange()));
}

int WxDialogView::GetRadioIndex(int firstButtonId) {
    const std::vector<wxRadioButton*> buttons = RadioButtons(firstButtonId);
    for (size_t i = 0; i < buttons.size(); ++i)
        if (buttons[i]->GetValue())
            return static_cast<int>(i);
    return -1;
}

void WxDialogView::SetRadioIndex(int firstButtonId, int index) {
    // Selecting one button clears the others of its group; a group cannot be
    // left with none selected, so -1 leaves the selection as it is.
    const std::vector<wxRadioButton*> buttons = RadioButtons(firstButtonId);
    if (index >= 0 && index < static_cast<int>(buttons.size()))
        buttons[index]->SetValue(true);
}

void WxDialogView::SetTimer(UINT id, UINT periodMs) {
    auto& timer = m_timers[id];
    if (!timer)
        timer = std::make_unique<wxTimer>(this, static_cast<int>(id));
    timer->Start(static_cast<int>(periodMs));
}

void WxDialogView::DialogEnded(int) {
    m_bEnded = true;
    for (auto& [id, timer] : m_timers)
        timer->Stop();
    Hide();
}
