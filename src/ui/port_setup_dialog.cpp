#include "ui/port_setup_dialog.h"

#include <unistd.h>

#include <chrono>
#include <utility>

#include "link/shared_state.h"
#include "platform/message_box.h"
#include "res/resource.h"
#include "res/strings.h"
#include "ui/front_end.h"
#include "ui/latency_notice.h"
#include "ui/port_init_dialog.h"
#include "ui/upload_dialog.h"
#include "ui/upload_fault_text.h"
#include "upload/regular_file.h"

namespace {

// The seven radio groups: first button id, number of buttons, member.
struct RadioGroup {
    int firstButtonId;
    int buttonCount;
    int PortSettings::*member;
};

// In the order the settings are exchanged with the controls.
constexpr RadioGroup kRadioGroups[] = {
    {IDC_BAUD_RATE, 8, &PortSettings::m_nBaudRate},
    {IDC_COM_PORT, 4, &PortSettings::m_nComPort},
    {IDC_DATA_BITS, 2, &PortSettings::m_nDataBits},
    {IDC_ECHO, 2, &PortSettings::m_nEcho},
    {IDC_FLOW_CONTROL, 2, &PortSettings::m_nFlowControl},
    {IDC_PARITY, 3, &PortSettings::m_nParity},
    {IDC_STOP_BITS, 2, &PortSettings::m_nStopBits},
};

// Whether the chosen script opens for reading. Never waits in open(): a FIFO
// with no writer would hold the dialog for good.
RegularFileOpen TryOpenScript(const std::string& path) {
    int fd = -1;
    long long size = 0;
    int error = 0;
    const RegularFileOpen result = OpenRegularFile(path, &fd, &size, &error);
    if (fd >= 0)
        ::close(fd);
    return result;
}

}  // namespace

PortSetupDialog::PortSetupDialog(FrontEnd& frontEnd, PortSettings settings)
    : Dialog(IDD_PORT_SETUP), m_settings(std::move(settings)), m_frontEnd(frontEnd) {}

BOOL PortSetupDialog::UpdateData(BOOL saveAndValidate) {
    DialogHost* host = Host();
    if (host == nullptr)
        return FALSE;
    if (!saveAndValidate) {
        for (const RadioGroup& group : kRadioGroups)
            host->SetRadioIndex(group.firstButtonId, m_settings.*group.member);
        return TRUE;
    }
    PortSettings fetched = m_settings;
    for (const RadioGroup& group : kRadioGroups) {
        const int index = host->GetRadioIndex(group.firstButtonId);
        if (index < -1 || index >= group.buttonCount)
            return FALSE;
        fetched.*group.member = index;
    }
    m_settings = std::move(fetched);
    return TRUE;
}

BOOL PortSetupDialog::OnInitDialog() {
    Dialog::OnInitDialog();
    UpdateData(FALSE);
    // Shown before the dialog is first seen, and once only: Back returns to
    // this dialog without initialising it again.
    if (!m_bNoticeShown) {
        m_bNoticeShown = true;
        AfxMessageBox(IDS_STARTUP_NOTICE);
    }
    return TRUE;
}

void PortSetupDialog::OnCommand(int controlId) {
    if (controlId == IDC_CONNECT)
        OnConnect();
}

void PortSetupDialog::OnConnect() {
    if (!UpdateData(TRUE)) {
        AfxMessageBox(IDS_UPDATE_FAILED);
        return;
    }
    std::string reason;
    if (!OpenCommPort(m_settings, &reason)) {
        // OpenCommPort has shown "Unable to open port"; no port is open.
        const std::string device = ResolvePortName(PortNameFor(m_settings));
        m_frontEnd.ShowDetail((device.empty() ? PortNameFor(m_settings) : device) +
                              (reason.empty() ? std::string() : ": " + reason));
        return;
    }
    NoteSlowAdapter();

    PortInitDialog waitDialog;
    switch (m_frontEnd.DoModal(waitDialog)) {
    case IDOK:
        AfxMessageBox(IDS_CONNECTION_ESTABLISHED);
        EndDialog(IDOK);
        RunUploadStage();
        // The link thread must not wait for the rest of a data file that
        // will not come.
        g_bTransferDone.Set();
        break;
    case IDCANCEL:
        ShowMessageBox({IDT_CONNECTION_CANCELLED, kTextConnectionCancelled});
        OnCancel();
        break;
    default:  // Back: the operator may change the settings and connect again.
        break;
    }
    StopWorkersAndClosePort();
}

// A USB adapter that holds the receiver's frames back is worth knowing
// about before the download starts: once per port.
void PortSetupDialog::NoteSlowAdapter() {
    const SerialPort* port = g_hComm.load();
    const std::string name = PortNameFor(m_settings);
    if (port == nullptr || name == m_strNotedPort)
        return;
    const std::string notice = LatencyNoticeText(name, port->AdapterLatencyMs());
    if (notice.empty())
        return;
    m_strNotedPort = name;
    m_frontEnd.ShowNotice(notice);
}

void PortSetupDialog::RunUploadStage() {
    AfxMessageBox(IDS_SELECT_SCRIPT);
    std::string path;
    if (!m_frontEnd.ChooseScriptFile(&path))
        return;
    switch (TryOpenScript(path)) {
    case RegularFileOpen::Opened:
        break;
    case RegularFileOpen::Directory:
    case RegularFileOpen::NotRegular:
        ShowMessageBox(UploadFaultMessage({UploadFault::ScriptNotRegular, 0, "", path, 0}));
        return;
    default:
        ShowMessageBox({IDT_FILE_DOES_NOT_EXIST, kTextFileDoesNotExist});
        return;
    }
    g_strScriptPath = path;
    UploadDialog uploadDialog;
    m_frontEnd.DoModal(uploadDialog);
}

void PortSetupDialog::StopWorkersAndClosePort() {
    // The link thread reads the port until it sees one of the two flags.
    // After the upload g_bUploadFinished is set; after Back, Cancel or a
    // failure g_bAbort is. When neither is (no script chosen, or it could not
    // be opened) nothing more is to be sent, so abort. Closing the port only
    // once the threads are gone keeps its descriptor from being read after
    // it was released (and perhaps reused by the next open).
    if (!g_bUploadFinished && !g_bAbort)
        g_bAbort.Set();
    m_frontEnd.WaitForWorkerThreads(std::chrono::milliseconds(kWorkerStopTimeoutMs));
    CloseCommPort();
}
