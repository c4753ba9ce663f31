// PortSetupDialog: the seven port settings and the Connect sequence.
#pragma once

#include "link/port_setup.h"
#include "ui/dialog.h"

class FrontEnd;

class PortSetupDialog : public Dialog {
public:
    // frontEnd runs the nested dialogs and the script choice. settings gives
    // the initial selections (the defaults select the one enabled button of
    // each group and COM1) and, in m_strDevice, a device chosen on the
    // command line that Connect opens instead of the Com buttons' devices.
    explicit PortSetupDialog(FrontEnd& frontEnd, PortSettings settings = {});

    // The seven radio-group indices (m_nBaudRate .. m_nStopBits) and the
    // chosen device.
    PortSettings m_settings;

    // Exchanges the seven indices with their radio groups through the host:
    // to the controls (saveAndValidate false) or from them (true). Returns
    // false, changing no member, when there is no host or a group reports an
    // index it does not have.
    BOOL UpdateData(BOOL saveAndValidate);

    // Loads the radio buttons, then shows the start-up notice (once for the
    // life of this dialog object). Returns TRUE.
    BOOL OnInitDialog() override;

    // IDC_CONNECT runs OnConnect.
    void OnCommand(int controlId) override;

    // The Connect sequence: open the port, wait for the receiver, choose the
    // script, upload, then stop the worker threads and close the port. Ends
    // this dialog (IDOK or IDCANCEL) unless the port could not be opened,
    // UpdateData failed or the operator went Back.
    void OnConnect();

    // How long the Connect sequence waits for the worker threads to stop
    // before it closes the port regardless.
    static constexpr int kWorkerStopTimeoutMs = 5000;

private:
    void RunUploadStage();
    void NoteSlowAdapter();
    void StopWorkersAndClosePort();

    FrontEnd& m_frontEnd;
    bool m_bNoticeShown = false;
    std::string m_strNotedPort;  // the port whose slow adapter was told of
};
