#include "ui/dialog.h"

#include "link/shared_state.h"

void DialogHost::CommandQueued(const std::string&) {}
void DialogHost::FileSent(const std::string&, std::uint64_t, const std::string&) {}

Dialog::Dialog(int templateId) : m_nTemplateId(templateId) {}

Dialog::~Dialog() { Detach(); }

void Dialog::Attach(DialogHost* host) {
    m_pHost = host;
    m_bEnded = false;
    m_nResult = 0;
    if (m_hWnd == 0)
        m_hWnd = CreateWindowHandle(this);
}

void Dialog::Detach() {
    if (m_hWnd != 0) {
        DestroyWindowHandle(m_hWnd);
        m_hWnd = 0;
    }
    m_pHost = nullptr;
}

BOOL Dialog::OnInitDialog() { return TRUE; }

void Dialog::OnCancel() {
    g_bAbort.Set();
    FrameworkOnCancel();
}

void Dialog::OnCommand(int) {}

void Dialog::OnTimer(UINT) {}

LRESULT Dialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    if (m_bEnded)
        return 0;
    return OnPostedMessage(message, wParam, lParam);
}

LRESULT Dialog::OnPostedMessage(UINT, WPARAM, LPARAM) { return 0; }

void Dialog::EndDialog(int result) {
    if (m_bEnded)
        return;
    m_bEnded = true;
    m_nResult = result;
    if (m_pHost)
        m_pHost->DialogEnded(result);
}

void Dialog::FrameworkOnOK() { EndDialog(IDOK); }

void Dialog::FrameworkOnCancel() { EndDialog(IDCANCEL); }

void Dialog::SetDlgItemText(int controlId, const std::string& text) {
    if (m_pHost)
        m_pHost->SetItemText(controlId, text);
}

void Dialog::SetProgressPos(int controlId, int position) {
    if (m_pHost)
        m_pHost->SetProgressPos(controlId, position);
}
