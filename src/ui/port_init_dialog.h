// PortInitDialog: "Power on the receiver.  Waiting for Connection..."
//
// Starts LinkThread and waits for it to report the link up (IDOK), or for
// the operator: Back (IDR_BACK, 1001) or Cancel (IDCANCEL). g_bAbort is set
// by Back and Cancel, which stops the LinkThread of this attempt.
#pragma once

#include "platform/thread.h"
#include "ui/dialog.h"

class PortInitDialog : public Dialog {
public:
    // linkThread is the thread procedure started with the dialog's handle;
    // tests may give a stand-in that posts what a link would.
    explicit PortInitDialog(ThreadProc linkThread = nullptr);

    // Clears g_bAbort, then starts the link thread. Returns TRUE.
    BOOL OnInitDialog() override;
    // IDC_BACK runs OnBack.
    void OnCommand(int controlId) override;

    // WM_LINK_READY: IDOK, or IDCANCEL when g_bAbort is already set.
    LRESULT OnLinkReady(WPARAM wParam, LPARAM lParam);
    // WM_LINK_CLOSED: ignored; the dialog stays open.
    LRESULT OnLinkClosed(WPARAM wParam, LPARAM lParam);
    // Sets g_bAbort and ends the dialog with IDR_BACK.
    void OnBack();

protected:
    LRESULT OnPostedMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    ThreadProc m_pfnLinkThread;
};
