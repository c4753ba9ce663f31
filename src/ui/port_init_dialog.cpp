#include "ui/port_init_dialog.h"

#include <cstdint>

#include "link/link_thread.h"
#include "link/messages.h"
#include "link/shared_state.h"
#include "res/resource.h"

PortInitDialog::PortInitDialog(ThreadProc linkThread)
    : Dialog(IDD_PORT_INIT), m_pfnLinkThread(linkThread ? linkThread : &LinkThread) {}

BOOL PortInitDialog::OnInitDialog() {
    Dialog::OnInitDialog();
    // An abort left by an earlier attempt (Back) must not stop this one.
    g_bAbort.Clear();
    AfxBeginThread(m_pfnLinkThread, reinterpret_cast<void*>(static_cast<std::uintptr_t>(GetSafeHwnd())));
    return TRUE;
}

void PortInitDialog::OnCommand(int controlId) {
    if (controlId == IDC_BACK)
        OnBack();
}

LRESULT PortInitDialog::OnLinkReady(WPARAM, LPARAM) {
    if (g_bAbort)
        FrameworkOnCancel();
    else
        FrameworkOnOK();
    return 0;
}

LRESULT PortInitDialog::OnLinkClosed(WPARAM, LPARAM) { return 0; }

void PortInitDialog::OnBack() {
    g_bAbort.Set();
    EndDialog(IDR_BACK);
}

LRESULT PortInitDialog::OnPostedMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_LINK_READY:
        return OnLinkReady(wParam, lParam);
    case WM_LINK_CLOSED:
        return OnLinkClosed(wParam, lParam);
    default:
        return 0;
    }
}
