#include "link/port_setup.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <vector>

#include "link/shared_state.h"
#include "support/pty_pair.h"
#include "support/recording_message_box.h"
#include "support/shared_state_reset.h"

namespace {

using namespace std::chrono_literals;

const std::vector<std::string> kUnableToOpen{"Unable to open port"};

class PortSetupTest : public testing::Test {
protected:
    PortSettings SettingsForPty() const {
        PortSettings settings;
        settings.m_strDevice = m_pty.SlavePath();
        return settings;
    }

    // The pty outlives the reset, which closes the port on it.
    PtyPair m_pty;
    SharedStateReset m_reset;
    InstalledRecordingMessageBox m_messages;
};

TEST_F(PortSetupTest, DefaultsGive19200OddParityOneStopBitNoFlowControlRaw) {
    ASSERT_TRUE(OpenCommPort(SettingsForPty()));
    SerialPort* port = g_hComm.load();
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->DevicePath(), m_pty.SlavePath());
    EXPECT_EQ(port->GetReadProfile(), ReadProfile::Normal);

    const termios tio = m_pty.SlaveTermios();
    EXPECT_EQ(cfgetospeed(&tio), B19200);
    EXPECT_EQ(cfgetispeed(&tio), B19200);
    EXPECT_TRUE(tio.c_cflag & PARODD);
    EXPECT_FALSE(tio.c_cflag & CSTOPB);
    EXPECT_FALSE(tio.c_cflag & CRTSCTS);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | IXANY), 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(m_messages.Count(), 0u);
}

TEST_F(PortSetupTest, OperatorChoicesReachTheDevice) {
    PortSettings settings = SettingsForPty();
    settings.m_nBaudRate = 5;      // 9600
    settings.m_nStopBits = 1;      // two
    settings.m_nFlowControl = 1;   // hardware
    ASSERT_TRUE(OpenCommPort(settings));
    const termios tio = m_pty.SlaveTermios();
    EXPECT_EQ(cfgetospeed(&tio), B9600);
    EXPECT_TRUE(tio.c_cflag & CSTOPB);
    EXPECT_TRUE(tio.c_cflag & CRTSCTS);
}

TEST_F(PortSetupTest, SwitchToFastSpeedChangesOnlyTheSpeed) {
    ASSERT_TRUE(OpenCommPort(SettingsForPty()));
    termios expected = m_pty.SlaveTermios();
    SwitchToFastSpeed();
    const termios after = m_pty.SlaveTermios();
    EXPECT_EQ(cfgetospeed(&after), B38400);
    EXPECT_EQ(cfgetispeed(&after), B38400);
    cfsetispeed(&expected, B38400);
    cfsetospeed(&expected, B38400);
    EXPECT_EQ(std::memcmp(&after, &expected, sizeof after), 0);
    EXPECT_EQ(m_messages.Count(), 0u);
}

TEST_F(PortSetupTest, AnswerWrittenBeforeTheSpeedChangeArrivesWhole) {
    ASSERT_TRUE(OpenCommPort(SettingsForPty()));
    const std::vector<std::uint8_t> answer{0xFF, 0xFF, 0x01, 0xFE, 0x03, 0x12, 0x34, 0x3B, 0x83};
    DWORD written = 0;
    ASSERT_TRUE(g_hComm.load()->Write(answer.data(), static_cast<DWORD>(answer.size()), &written));
    SwitchToFastSpeed();
    EXPECT_EQ(m_pty.ReadMaster(answer.size(), 20s), answer);
}

TEST_F(PortSetupTest, SwitchToFastSpeedOnAClosedPortSaysSoAndGoesOn) {
    ASSERT_TRUE(OpenCommPort(SettingsForPty()));
    CloseCommPort();
    SwitchToFastSpeed();
    EXPECT_EQ(m_messages.Texts(), kUnableToOpen);
}

TEST_F(PortSetupTest, SetReadTimeoutsSwitchesTheProfile) {
    ASSERT_TRUE(OpenCommPort(SettingsForPty()));
    SetReadTimeouts(true);
    EXPECT_EQ(g_hComm.load()->GetReadProfile(), ReadProfile::Transfer);
    SetReadTimeouts(false);
    EXPECT_EQ(g_hComm.load()->GetReadProfile(), ReadProfile::Normal);
    EXPECT_EQ(m_messages.Count(), 0u);
}

TEST_F(PortSetupTest, ComIndexOutsideTheGroupOpensNothing) {
    for (int index : {4, -1, 100}) {
        m_messages.Clear();
        PortSettings settings;
        settings.m_nComPort = index;
        std::string reason;
        EXPECT_FALSE(OpenCommPort(settings, &reason)) << index;
        EXPECT_EQ(m_messages.Texts(), kUnableToOpen) << index;
        EXPECT_EQ(g_hComm.load(), nullptr) << index;
        EXPECT_FALSE(reason.empty()) << index;
    }
}

TEST_F(PortSetupTest, APortInUseGivesUnableToOpenPortAndCanBeOpenedOnceFreed) {
    std::string reason;
    std::unique_ptr<SerialPort> otherProgram = SerialPort::Open(m_pty.SlavePath(), &reason);
    ASSERT_NE(otherProgram, nullptr) << reason;

    reason.clear();
    EXPECT_FALSE(OpenCommPort(SettingsForPty(), &reason));
    EXPECT_EQ(m_messages.Texts(), kUnableToOpen);
    EXPECT_EQ(g_hComm.load(), nullptr);
    EXPECT_NE(reason.find("busy"), std::string::npos) << reason;

    otherProgram->Close();
    m_messages.Clear();
    EXPECT_TRUE(OpenCommPort(SettingsForPty(), &reason)) << reason;
    EXPECT_EQ(m_messages.Count(), 0u);
}

TEST_F(PortSetupTest, AMissingDeviceOrNonTerminalGivesUnableToOpenPort) {
    for (const char* device : {"/dev/rd-no-such-serial-device", "/dev/null"}) {
        m_messages.Clear();
        PortSettings settings;
        settings.m_strDevice = device;
        std::string reason;
        EXPECT_FALSE(OpenCommPort(settings, &reason)) << device;
        EXPECT_EQ(m_messages.Texts(), kUnableToOpen) << device;
        EXPECT_EQ(g_hComm.load(), nullptr) << device;
        EXPECT_FALSE(reason.empty()) << device;
    }
}

// A speed the port setup has no button for (left unselected) cannot be
// applied: the port's own reason reaches the detail line.
TEST_F(PortSetupTest, SettingsThePortRefusesGiveItsReason) {
    termios odd = m_pty.SlaveTermios();
    cfsetospeed(&odd, B460800);
    cfsetispeed(&odd, B460800);
    ASSERT_EQ(tcsetattr(m_pty.SlaveFd(), TCSANOW, &odd), 0);
    PortSettings settings = SettingsForPty();
    settings.m_nBaudRate = -1;
    std::string reason;
    EXPECT_FALSE(OpenCommPort(settings, &reason));
    EXPECT_EQ(m_messages.Texts(), kUnableToOpen);
    EXPECT_EQ(g_hComm.load(), nullptr);
    EXPECT_EQ(reason, "cannot apply the line settings: unsupported line settings (0 baud 8O1)");
}

TEST_F(PortSetupTest, CloseKeepsTheStaleHandleAndFreesTheDevice) {
    ASSERT_TRUE(OpenCommPort(SettingsForPty()));
    SerialPort* port = g_hComm.load();
    CloseCommPort();
    EXPECT_EQ(g_hComm.load(), port);
    EXPECT_TRUE(port->IsClosed());
    BYTE byte = 0;
    DWORD count = 0;
    EXPECT_FALSE(port->ReadByte(&byte, &count));

    // A later Connect opens and configures the port afresh.
    ASSERT_TRUE(OpenCommPort(SettingsForPty()));
    EXPECT_NE(g_hComm.load(), nullptr);
    EXPECT_FALSE(g_hComm.load()->IsClosed());
}

TEST_F(PortSetupTest, CloseLetsQueuedOutputGoOut) {
    ASSERT_TRUE(OpenCommPort(SettingsForPty()));
    std::vector<std::uint8_t> frame(261);
    for (std::size_t i = 0; i < frame.size(); ++i)
        frame[i] = static_cast<std::uint8_t>(i);
    DWORD written = 0;
    ASSERT_TRUE(g_hComm.load()->Write(frame.data(), static_cast<DWORD>(frame.size()), &written));
    CloseCommPort();
    EXPECT_EQ(m_pty.ReadMaster(frame.size(), 20s), frame);
}

TEST(PortNames, ComIndexOrChosenDevice) {
    PortSettings settings;
    const char* expected[] = {"COM1", "COM2", "COM3", "COM4"};
    for (int index = 0; index < 4; ++index) {
        settings.m_nComPort = index;
        EXPECT_EQ(PortNameFor(settings), expected[index]);
    }
    settings.m_nComPort = 4;
    EXPECT_EQ(PortNameFor(settings), "");
    settings.m_nComPort = -1;
    EXPECT_EQ(PortNameFor(settings), "");
    settings.m_strDevice = "/dev/ttyUSB0";
    EXPECT_EQ(PortNameFor(settings), "/dev/ttyUSB0");
    settings.m_nComPort = 3;
    settings.m_strDevice.clear();
    EXPECT_EQ(ResolvePortName(PortNameFor(settings)), "/dev/ttyS3");
}

// Each row of the translation table, and an out-of-range index that leaves
// the row as it was.
struct TranslationRow {
    const char* name;
    void (*choose)(PortSettings&);
    void (*expect)(LineSettings&);
};

void PrintTo(const TranslationRow& row, std::ostream* os) {
    *os << row.name;
}

LineSettings Unusual() {
    LineSettings line;
    line.baudRate = 115200;
    line.dataBits = 5;
    line.parity = ParityMode::Even;
    line.stopBits = 2;
    line.flowControl = FlowControl::Hardware;
    return line;
}

// Settings that name no row at all: every index out of range.
PortSettings NoChoice() {
    PortSettings settings;
    settings.m_nBaudRate = -1;
    settings.m_nDataBits = -1;
    settings.m_nFlowControl = -1;
    settings.m_nParity = -1;
    settings.m_nStopBits = -1;
    return settings;
}

class TranslationTable : public testing::TestWithParam<TranslationRow> {};

TEST_P(TranslationTable, SetsOnlyItsRow) {
    PortSettings settings = NoChoice();
    GetParam().choose(settings);
    LineSettings expected = Unusual();
    GetParam().expect(expected);
    EXPECT_EQ(TranslatePortSettings(Unusual(), settings), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, TranslationTable,
    testing::Values(
        TranslationRow{"Nothing", [](PortSettings&) {}, [](LineSettings&) {}},
        TranslationRow{"Baud300", [](PortSettings& s) { s.m_nBaudRate = 0; }, [](LineSettings& l) { l.baudRate = 300; }},
        TranslationRow{"Baud600", [](PortSettings& s) { s.m_nBaudRate = 1; }, [](LineSettings& l) { l.baudRate = 600; }},
        TranslationRow{"Baud1200", [](PortSettings& s) { s.m_nBaudRate = 2; }, [](LineSettings& l) { l.baudRate = 1200; }},
        TranslationRow{"Baud2400", [](PortSettings& s) { s.m_nBaudRate = 3; }, [](LineSettings& l) { l.baudRate = 2400; }},
        TranslationRow{"Baud4800", [](PortSettings& s) { s.m_nBaudRate = 4; }, [](LineSettings& l) { l.baudRate = 4800; }},
        TranslationRow{"Baud9600", [](PortSettings& s) { s.m_nBaudRate = 5; }, [](LineSettings& l) { l.baudRate = 9600; }},
        TranslationRow{"Baud19200", [](PortSettings& s) { s.m_nBaudRate = 6; }, [](LineSettings& l) { l.baudRate = 19200; }},
        TranslationRow{"Baud38400", [](PortSettings& s) { s.m_nBaudRate = 7; }, [](LineSettings& l) { l.baudRate = 38400; }},
        TranslationRow{"BaudOutOfRange", [](PortSettings& s) { s.m_nBaudRate = 8; }, [](LineSettings&) {}},
        TranslationRow{"SevenBits", [](PortSettings& s) { s.m_nDataBits = 0; }, [](LineSettings& l) { l.dataBits = 7; }},
        TranslationRow{"EightBits", [](PortSettings& s) { s.m_nDataBits = 1; }, [](LineSettings& l) { l.dataBits = 8; }},
        TranslationRow{"DataBitsOutOfRange", [](PortSettings& s) { s.m_nDataBits = 2; }, [](LineSettings&) {}},
        TranslationRow{"NoFlowControl", [](PortSettings& s) { s.m_nFlowControl = 0; },
                       [](LineSettings& l) { l.flowControl = FlowControl::None; }},
        TranslationRow{"HardwareFlowControl", [](PortSettings& s) { s.m_nFlowControl = 1; },
                       [](LineSettings& l) { l.flowControl = FlowControl::Hardware; }},
        TranslationRow{"ParityNone", [](PortSettings& s) { s.m_nParity = 0; },
                       [](LineSettings& l) { l.parity = ParityMode::None; }},
        TranslationRow{"ParityOdd", [](PortSettings& s) { s.m_nParity = 1; },
                       [](LineSettings& l) { l.parity = ParityMode::Odd; }},
        TranslationRow{"ParityEven", [](PortSettings& s) { s.m_nParity = 2; },
                       [](LineSettings& l) { l.parity = ParityMode::Even; }},
        TranslationRow{"ParityOutOfRange", [](PortSettings& s) { s.m_nParity = 3; }, [](LineSettings&) {}},
        TranslationRow{"OneStopBit", [](PortSettings& s) { s.m_nStopBits = 0; }, [](LineSettings& l) { l.stopBits = 1; }},
        TranslationRow{"TwoStopBits", [](PortSettings& s) { s.m_nStopBits = 1; }, [](LineSettings& l) { l.stopBits = 2; }},
        TranslationRow{"EchoIsNotAPortSetting", [](PortSettings& s) { s.m_nEcho = 1; }, [](LineSettings&) {}}),
    [](const testing::TestParamInfo<TranslationRow>& info) { return info.param.name; });

TEST(TranslationDefaults, GiveTheLinkSettings) {
    const LineSettings line = TranslatePortSettings(Unusual(), PortSettings{});
    EXPECT_EQ(line.baudRate, 19200u);
    EXPECT_EQ(line.dataBits, 8);
    EXPECT_EQ(line.parity, ParityMode::Odd);
    EXPECT_EQ(line.stopBits, 1);
    EXPECT_EQ(line.flowControl, FlowControl::None);
}

}  // namespace
