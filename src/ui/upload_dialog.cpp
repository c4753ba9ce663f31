#include "ui/upload_dialog.h"

#include <algorithm>
#include <cstdint>
#include <string>

#include "link/messages.h"
#include "link/shared_state.h"
#include "platform/message_box.h"
#include "res/resource.h"
#include "res/strings.h"
#include "ui/upload_fault_text.h"
#include "upload/upload_thread.h"

UploadDialog::UploadDialog(ThreadProc uploadThread)
    : Dialog(IDD_UPLOAD), m_pfnUploadThread(uploadThread ? uploadThread : &UploadThread) {}

BOOL UploadDialog::OnInitDialog() {
    Dialog::OnInitDialog();
    if (DialogHost* host = Host())
        host->SetTimer(kTimerId, kTimerPeriodMs);
    AfxBeginThread(m_pfnUploadThread, reinterpret_cast<void*>(static_cast<std::uintptr_t>(GetSafeHwnd())));
    return TRUE;
}

int UploadDialog::ProgressFigure(DWORD sent, DWORD length) {
    // 64-bit product: sent * 100 overflows 32 bits for files above 42 MB.
    const std::uint64_t figure = static_cast<std::uint64_t>(sent) * 100u / length;
    return static_cast<int>(std::min<std::uint64_t>(figure, 100));
}

void UploadDialog::OnTimer(UINT) {
    const DWORD length = g_dwFileLength.Load();
    if (length == 0)
        return;
    const int figure = ProgressFigure(g_dwBytesSent.Load(), length);
    SetProgressPos(IDC_PROGRESS, figure);
    SetDlgItemText(IDC_PERCENT_TEXT, std::to_string(figure) + " %");
}

LRESULT UploadDialog::OnUploadCommand(WPARAM, LPARAM lParam) {
    const std::string command = lParam ? reinterpret_cast<const char*>(lParam) : "";
    if (DialogHost* host = Host())
        host->CommandQueued(command);
    SetDlgItemText(IDC_COMMAND_TEXT, "Command: " + command);
    return 0;
}

LRESULT UploadDialog::OnUploadFileSent(WPARAM wParam, LPARAM lParam) {
    const SentDataFile file = SentDataFileOf(wParam, reinterpret_cast<const char*>(lParam));
    if (DialogHost* host = Host())
        host->FileSent(file.m_strPath, file.m_qwBytes, file.m_strSha256);
    return 0;
}

void UploadDialog::ReportFailure(const OperatorMessage& message) {
    // Stop both worker threads before the operator reads the message: nothing
    // more may reach the receiver once it has been reported as failed, and a
    // WM_UPLOAD_DONE handled while the message is open must not claim success.
    g_bAbort.Set();
    ShowMessageBox(message);
    FrameworkOnCancel();
}

LRESULT UploadDialog::OnUploadFileMissing(WPARAM, LPARAM) {
    ReportFailure({IDS_LZSS_FILE_NOT_FOUND, LoadResString(IDS_LZSS_FILE_NOT_FOUND)});
    return 0;
}

LRESULT UploadDialog::OnUploadBadCommand(WPARAM, LPARAM) {
    ReportFailure({IDS_UNKNOWN_COMMAND, LoadResString(IDS_UNKNOWN_COMMAND)});
    return 0;
}

LRESULT UploadDialog::OnUploadFailed(WPARAM wParam, LPARAM lParam) {
    const char* path = reinterpret_cast<const char*>(lParam);
    UploadFaultReport fault;
    fault.m_code = FaultCodeOf(wParam);
    fault.m_strPath = path ? path : "";
    fault.m_nError = FaultErrorOf(wParam);
    ReportFailure(UploadFaultMessage(fault));
    return 0;
}

LRESULT UploadDialog::OnUploadDone(WPARAM, LPARAM) {
    g_bUploadFinished.Set();
    FrameworkOnOK();
    if (!g_bAbort)
        AfxMessageBox(IDS_DOWNLOAD_COMPLETED);
    return 0;
}

LRESULT UploadDialog::OnPostedMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_UPLOAD_COMMAND:
        return OnUploadCommand(wParam, lParam);
    case WM_UPLOAD_FILE_SENT:
        return OnUploadFileSent(wParam, lParam);
    case WM_UPLOAD_FILE_MISSING:
        return OnUploadFileMissing(wParam, lParam);
    case WM_UPLOAD_BAD_COMMAND:
        return OnUploadBadCommand(wParam, lParam);
    case WM_UPLOAD_FAILED:
        return OnUploadFailed(wParam, lParam);
    case WM_UPLOAD_DONE:
        return OnUploadDone(wParam, lParam);
    default:
        return 0;
    }
}
