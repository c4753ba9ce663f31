// UploadDialog: "Code Upload in Progress".
//
// Starts UploadThread and shows, from its posted messages, the command being
// carried out and, once a second from the shared counters, how much of the
// current data file has been handed to the link.
#pragma once

#include "platform/message_box.h"
#include "platform/thread.h"
#include "ui/dialog.h"

class UploadDialog : public Dialog {
public:
    // uploadThread is the thread procedure started with the dialog's handle;
    // tests may give a stand-in that posts what an upload would.
    explicit UploadDialog(ThreadProc uploadThread = nullptr);

    static constexpr UINT kTimerId = 1;
    static constexpr UINT kTimerPeriodMs = 1000;

    // Starts the 1-second timer, then the upload thread. Returns TRUE.
    BOOL OnInitDialog() override;

    // Refreshes the bar and the percentage from g_dwBytesSent and
    // g_dwFileLength; does nothing while the length is 0.
    void OnTimer(UINT timerId) override;

    // "Command: %s" with the text lParam points at.
    LRESULT OnUploadCommand(WPARAM wParam, LPARAM lParam);
    // A data file has gone out whole: passed to the host (SentDataFileOf).
    LRESULT OnUploadFileSent(WPARAM wParam, LPARAM lParam);
    // Each of these sets g_bAbort before its message is shown, so that
    // nothing more is sent and a WM_UPLOAD_DONE handled while the message is
    // open shows no success; then the dialog ends with IDCANCEL.
    LRESULT OnUploadFileMissing(WPARAM wParam, LPARAM lParam);   // "LZSS file not found"
    LRESULT OnUploadBadCommand(WPARAM wParam, LPARAM lParam);    // "Unknown command in the script file"
    // The fault in wParam (PackFault) on the file whose path lParam points at,
    // in the words of UploadFaultText.
    LRESULT OnUploadFailed(WPARAM wParam, LPARAM lParam);
    // Sets g_bUploadFinished, ends with IDOK and, unless g_bAbort is set,
    // shows the success message.
    LRESULT OnUploadDone(WPARAM wParam, LPARAM lParam);

    // The percentage of a data file of length bytes of which sent have been
    // handed to the link, computed without overflow and kept within 0..100.
    // length must not be 0.
    static int ProgressFigure(DWORD sent, DWORD length);

protected:
    LRESULT OnPostedMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

private:
    void ReportFailure(const OperatorMessage& message);

    ThreadProc m_pfnUploadThread;
};
