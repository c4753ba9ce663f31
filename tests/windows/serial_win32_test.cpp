// The Win32 serial port: the DCB translation as a pure function, and the
// port itself on a COM port whose far end echoes every byte preceded by a
// 0x00 (scripts/test-windows.sh maps COM5 to a pseudo-terminal with such an
// echo on it and names it in RD_TEST_COM_PORT).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/serial_win32.h"

namespace {

DCB PortReported() {
    DCB dcb{};
    dcb.DCBlength = sizeof dcb;
    dcb.BaudRate = 9600;
    dcb.ByteSize = 7;
    dcb.Parity = EVENPARITY;
    dcb.StopBits = TWOSTOPBITS;
    dcb.fOutX = TRUE;
    dcb.fInX = TRUE;
    dcb.fAbortOnError = TRUE;
    dcb.fOutxDsrFlow = TRUE;  // not ours to change
    dcb.XonChar = 0x11;
    dcb.XoffLim = 77;
    return dcb;
}

TEST(DcbTranslation, SettingsBecomeTheFieldsOfTheTable) {
    struct Case {
        LineSettings settings;
        BYTE parity;
        DWORD fParity;
        BYTE stopBits;
        DWORD ctsFlow;
        DWORD rtsControl;
    };
    const Case cases[] = {
        {{19200, 8, ParityMode::Odd, 1, FlowControl::None}, ODDPARITY, TRUE, ONESTOPBIT, FALSE, RTS_CONTROL_ENABLE},
        {{38400, 7, ParityMode::Even, 2, FlowControl::Hardware}, EVENPARITY, TRUE, TWOSTOPBITS, TRUE,
         RTS_CONTROL_TOGGLE},
        {{300, 8, ParityMode::None, 1, FlowControl::None}, NOPARITY, FALSE, ONESTOPBIT, FALSE, RTS_CONTROL_ENABLE},
    };
    for (const Case& c : cases) {
        const std::optional<DCB> dcb = ApplyLineSettings(PortReported(), c.settings);
        ASSERT_TRUE(dcb);
        EXPECT_EQ(dcb->BaudRate, c.settings.baudRate);
        EXPECT_EQ(dcb->ByteSize, c.settings.dataBits);
        EXPECT_EQ(dcb->Parity, c.parity);
        EXPECT_EQ(dcb->fParity, c.fParity);
        EXPECT_EQ(dcb->StopBits, c.stopBits);
        EXPECT_EQ(dcb->fOutxCtsFlow, c.ctsFlow);
        EXPECT_EQ(dcb->fRtsControl, c.rtsControl);
        EXPECT_EQ(dcb->fDtrControl, static_cast<DWORD>(DTR_CONTROL_ENABLE));
        EXPECT_FALSE(dcb->fOutX || dcb->fInX || dcb->fAbortOnError);
        EXPECT_TRUE(dcb->fNull);
        // Fields the table does not name keep the port's values.
        EXPECT_TRUE(dcb->fOutxDsrFlow);
        EXPECT_EQ(dcb->XonChar, 0x11);
        EXPECT_EQ(dcb->XoffLim, 77);
        EXPECT_EQ(ReadLineSettings(*dcb), c.settings);
    }
    EXPECT_FALSE(ApplyLineSettings(PortReported(), {19200, 6, ParityMode::Odd, 1, FlowControl::None}));
    EXPECT_FALSE(ApplyLineSettings(PortReported(), {19200, 8, ParityMode::Odd, 3, FlowControl::None}));
}

TEST(PortNames, AnyComNumberAndDevicePaths) {
    EXPECT_EQ(ResolvePortName("COM1"), "\\\\.\\COM1");
    EXPECT_EQ(ResolvePortName("com17"), "\\\\.\\COM17");
    EXPECT_EQ(ResolvePortName("\\\\.\\COM3"), "\\\\.\\COM3");
    for (const char* bad : {"", "COM", "COM0", "COMX", "LPT1", "/dev/ttyS0", "COM1 "})
        EXPECT_EQ(ResolvePortName(bad), "") << bad;
}

TEST(OpenFailures, SayWhy) {
    std::string reason;
    EXPECT_FALSE(SerialPort::Open("COM0", &reason));
    EXPECT_EQ(reason, "no such port");
    EXPECT_FALSE(SerialPort::Open("COM250", &reason));
    EXPECT_EQ(reason, "no such port");
}

class EchoPort : public ::testing::Test {
protected:
    void SetUp() override {
        const char* name = std::getenv("RD_TEST_COM_PORT");
        if (!name)
            GTEST_SKIP() << "RD_TEST_COM_PORT names no COM port with an echo on it";
        m_strName = name;
        std::string reason;
        m_port = SerialPort::Open(m_strName, &reason);
        ASSERT_TRUE(m_port) << reason;
    }

    // Reads until count bytes have come or the line stays quiet.
    std::string ReadBytes(std::size_t count) {
        std::string bytes;
        int quiet = 0;
        while (bytes.size() < count && quiet < 2000) {
            BYTE byte = 0;
            DWORD got = 0;
            if (!m_port->ReadByte(&byte, &got)) {
                ADD_FAILURE() << "read failed: " << m_port->DeadReason();
                break;
            }
            if (got == 1) {
                bytes += static_cast<char>(byte);
                quiet = 0;
            } else {
                ++quiet;
            }
        }
        return bytes;
    }

    std::string m_strName;
    std::unique_ptr<SerialPort> m_port;
};

TEST_F(EchoPort, ConfiguredWrittenReadWithoutNulsAndSpeedSwitched) {
    const LineSettings wanted{19200, 8, ParityMode::Odd, 1, FlowControl::None};
    ASSERT_TRUE(m_port->SetLineSettings(wanted));
    LineSettings actual;
    ASSERT_TRUE(m_port->GetLineSettings(&actual));
    EXPECT_EQ(actual.baudRate, 19200u);

    const std::string frame = "\x02\x01" "AB:MON:\xff\x7f";
    DWORD written = 0;
    ASSERT_TRUE(m_port->Write(frame.data(), static_cast<DWORD>(frame.size()), &written));
    EXPECT_EQ(written, frame.size());
    EXPECT_EQ(ReadBytes(frame.size()), frame);

    ASSERT_TRUE(m_port->SetBaudRate(38400));
    ASSERT_TRUE(m_port->GetLineSettings(&actual));
    EXPECT_EQ(actual.baudRate, 38400u);
    m_port->SetReadProfile(ReadProfile::Transfer);
    ASSERT_TRUE(m_port->Write("OK", 2, &written));
    EXPECT_EQ(ReadBytes(2), "OK");
}

// Wine does not keep a device's share mode (a second open of a COM port
// succeeds there); Windows' serial drivers refuse it.
bool UnderWine() { return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr; }

TEST_F(EchoPort, ExclusiveWhileOpenFreeAfterClose) {
    std::string reason;
    if (!UnderWine()) {
        EXPECT_FALSE(SerialPort::Open(m_strName, &reason));
        EXPECT_EQ(reason, "in use by another program");
    }
    m_port->Close();
    BYTE byte = 0;
    DWORD got = 0;
    EXPECT_FALSE(m_port->ReadByte(&byte, &got));
    EXPECT_TRUE(SerialPort::Open(m_strName, &reason)) << reason;
}

}  // namespace
