// PortSetupDialog on its own: the radio exchange, the start-up notice, the
// failures that leave it open, and Cancel before any Connect.
#include "ui/port_setup_dialog.h"

#include <gtest/gtest.h>

#include "link/shared_state.h"
#include "res/resource.h"
#include "res/strings.h"
#include "support/headless_front_end.h"
#include "support/shared_state_reset.h"

namespace {

const std::string kNotice = LoadResString(IDS_STARTUP_NOTICE);

class PortSetupDialogTest : public ::testing::Test {
protected:
    SharedStateReset m_reset;
    HeadlessFrontEnd m_frontEnd;
};

// Runs the dialog, performs check(dialog) once it is initialised, then
// cancels it.
template <typename Check>
int RunAndCancel(HeadlessFrontEnd& frontEnd, PortSetupDialog& dialog, Check check) {
    frontEnd.QueueAction(IDD_PORT_SETUP, [&](Dialog&, int round) {
        if (round != 0)
            return;
        check(dialog);
        if (!dialog.IsEnded())
            dialog.OnCancel();
    });
    return frontEnd.DoModal(dialog);
}

}  // namespace

TEST_F(PortSetupDialogTest, ShowsTheNoticeOnceAndLoadsTheDefaults) {
    PortSetupDialog dialog(m_frontEnd);
    RunAndCancel(m_frontEnd, dialog, [](PortSetupDialog& d) {
        d.OnInitDialog();  // a second initialisation shows no second notice
        ASSERT_TRUE(d.UpdateData(TRUE));
        EXPECT_EQ(d.m_settings.m_nBaudRate, 6);
        EXPECT_EQ(d.m_settings.m_nComPort, 0);
        EXPECT_EQ(d.m_settings.m_nDataBits, 1);
        EXPECT_EQ(d.m_settings.m_nEcho, 0);
        EXPECT_EQ(d.m_settings.m_nFlowControl, 0);
        EXPECT_EQ(d.m_settings.m_nParity, 1);
        EXPECT_EQ(d.m_settings.m_nStopBits, 0);
    });
    EXPECT_EQ(m_frontEnd.Messages(), (std::vector<std::string>{kNotice}));
}

TEST_F(PortSetupDialogTest, UpdateDataFetchesTheOperatorsChoice) {
    m_frontEnd.OverrideRadio(IDC_COM_PORT, 3);
    PortSetupDialog dialog(m_frontEnd);
    RunAndCancel(m_frontEnd, dialog, [](PortSetupDialog& d) {
        ASSERT_TRUE(d.UpdateData(TRUE));
        EXPECT_EQ(d.m_settings.m_nComPort, 3);
        EXPECT_EQ(PortNameFor(d.m_settings), "COM4");
    });
}

TEST_F(PortSetupDialogTest, AGroupReportingAnIndexItDoesNotHaveFailsTheUpdate) {
    m_frontEnd.OverrideRadio(IDC_PARITY, 3);
    PortSetupDialog dialog(m_frontEnd);
    RunAndCancel(m_frontEnd, dialog, [](PortSetupDialog& d) {
        d.OnCommand(IDC_CONNECT);
        EXPECT_FALSE(d.IsEnded());
        EXPECT_EQ(d.m_settings.m_nParity, 1);
    });
    EXPECT_EQ(m_frontEnd.Messages(), (std::vector<std::string>{kNotice, LoadResString(IDS_UPDATE_FAILED)}));
    EXPECT_EQ(g_hComm.load(), nullptr);
    EXPECT_EQ(m_frontEnd.Opened(), (std::vector<int>{IDD_PORT_SETUP}));
}

TEST_F(PortSetupDialogTest, APortThatCannotBeOpenedLeavesTheDialogOpenWithADetail) {
    PortSettings settings;
    settings.m_strDevice = "/nonexistent/ttyUSB9";
    PortSetupDialog dialog(m_frontEnd, settings);
    RunAndCancel(m_frontEnd, dialog, [](PortSetupDialog& d) {
        d.OnCommand(IDC_CONNECT);
        EXPECT_FALSE(d.IsEnded());
    });
    EXPECT_EQ(m_frontEnd.Messages(), (std::vector<std::string>{kNotice, LoadResString(IDS_UNABLE_TO_OPEN_PORT)}));
    ASSERT_EQ(m_frontEnd.Details().size(), 1u);
    EXPECT_NE(m_frontEnd.Details()[0].find("/nonexistent/ttyUSB9"), std::string::npos);
    EXPECT_EQ(m_frontEnd.Opened(), (std::vector<int>{IDD_PORT_SETUP}));
}

TEST_F(PortSetupDialogTest, NoComPortSelectedCannotBeOpened) {
    m_frontEnd.OverrideRadio(IDC_COM_PORT, -1);
    PortSetupDialog dialog(m_frontEnd);
    RunAndCancel(m_frontEnd, dialog, [](PortSetupDialog& d) { d.OnCommand(IDC_CONNECT); });
    EXPECT_EQ(m_frontEnd.Messages(), (std::vector<std::string>{kNotice, LoadResString(IDS_UNABLE_TO_OPEN_PORT)}));
}

TEST_F(PortSetupDialogTest, CancelBeforeConnectEndsWithoutOpeningAPort) {
    PortSetupDialog dialog(m_frontEnd);
    EXPECT_EQ(RunAndCancel(m_frontEnd, dialog, [](PortSetupDialog&) {}), IDCANCEL);
    EXPECT_TRUE(g_bAbort.IsSet());
    EXPECT_EQ(g_hComm.load(), nullptr);
}
