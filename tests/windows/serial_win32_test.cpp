// The Win32 serial port: the DCB translation as a pure function, port names,
// and the port itself on a COM port whose far end echoes every byte preceded
// by a 0x00 (scripts/test-windows.sh maps COM5 to a pseudo-terminal with such
// an echo on it and names it in RD_TEST_COM_PORT).
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>

#include "platform/serial_win32.h"

namespace {

// A state a port might report: software flow on, errors aborting, DSR
// handshake, NULs kept.
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
    dcb.fOutxDsrFlow = TRUE;
    dcb.fDsrSensitivity = TRUE;
    dcb.XonChar = 0x11;
    dcb.XoffLim = 77;
    return dcb;
}

TEST(DcbTranslation, SettingsBecomeTheFieldsAndReadBack) {
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
         RTS_CONTROL_HANDSHAKE},
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
        EXPECT_EQ(dcb->fDtrControl, static_cast<std::uint32_t>(DTR_CONTROL_ENABLE));
        // Raw: binary, NULs discarded, no software or DSR flow, no abort.
        EXPECT_TRUE(dcb->fBinary && dcb->fNull);
        EXPECT_FALSE(dcb->fOutX || dcb->fInX || dcb->fAbortOnError || dcb->fOutxDsrFlow || dcb->fDsrSensitivity);
        // Fields the translation does not name keep the port's values.
        EXPECT_EQ(dcb->XonChar, 0x11);
        EXPECT_EQ(dcb->XoffLim, 77);
        EXPECT_EQ(ReadLineSettings(*dcb), c.settings);
    }
    for (const LineSettings& refused : {LineSettings{19200, 6, ParityMode::Odd, 1, FlowControl::None},
                                        LineSettings{19200, 8, ParityMode::Odd, 3, FlowControl::None},
                                        LineSettings{0, 8, ParityMode::Odd, 1, FlowControl::None}})
        EXPECT_FALSE(ApplyLineSettings(PortReported(), refused));
}

TEST(PortNames, AnyComNumberAndDevicePaths) {
    const std::pair<const char*, const char*> cases[] = {
        {"COM1", "\\\\.\\COM1"}, {"com17", "\\\\.\\COM17"}, {"COM256", "\\\\.\\COM256"}, {"COM7:", "\\\\.\\COM7"},
        {"com7:", "\\\\.\\COM7"}, {"COM7::", ""}, {":", ""},
        {"\\\\.\\COM3", "\\\\.\\COM3"}, {"COM257", ""}, {"COM0", ""}, {"COM01", ""}, {"COM", ""},
        {"COMX", ""}, {"LPT1", ""}, {"/dev/ttyS0", ""}, {"COM1 ", ""}, {"", ""},
    };
    for (const auto& [name, path] : cases)
        EXPECT_EQ(ResolvePortName(name), path) << name;
}

TEST(OpenFailures, SayWhy) {
    std::string reason;
    EXPECT_FALSE(SerialPort::Open("COM0", &reason));
    EXPECT_EQ(reason, "no such port");
    EXPECT_FALSE(SerialPort::Open("COM249", &reason));
    EXPECT_EQ(reason, "no such port");
}

// Wine keeps no share mode on a device (a second open of a COM port
// succeeds there); Windows' serial drivers refuse it.
bool UnderWine() { return GetProcAddress(GetModuleHandleA("ntdll.dll"), "wine_get_version") != nullptr; }

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

    // Reads count bytes; a read that fails or is woken ends it early.
    std::string ReadBytes(std::size_t count) {
        std::string bytes;
        while (bytes.size() < count) {
            std::uint8_t byte = 0;
            std::uint32_t got = 0;
            if (!m_port->ReadByte(&byte, &got) || got == 0) {
                ADD_FAILURE() << "read ended after " << bytes.size() << " bytes: " << m_port->DeadReason();
                break;
            }
            bytes += static_cast<char>(byte);
        }
        return bytes;
    }

    void Send(const std::string& bytes) {
        std::uint32_t written = 0;
        ASSERT_TRUE(m_port->Write(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &written));
        EXPECT_EQ(written, bytes.size());
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
    EXPECT_EQ(actual.dataBits, 8);

    // Every byte value but 0x00, which the echo also puts before each byte.
    std::string frame;
    for (int value = 1; value < 256; ++value)
        frame += static_cast<char>(value);
    Send(frame);
    EXPECT_EQ(ReadBytes(frame.size()), frame);
    EXPECT_TRUE(m_port->Drain());

    ASSERT_TRUE(m_port->SetBaudRate(38400));
    ASSERT_TRUE(m_port->GetLineSettings(&actual));
    EXPECT_EQ(actual.baudRate, 38400u);
    m_port->SetReadProfile(ReadProfile::Transfer);
    Send("OK:");
    EXPECT_EQ(ReadBytes(3), "OK:");
}

TEST_F(EchoPort, WakeEndsASleepingReadAndIsKeptUntilReported) {
    // Whether Wake() comes before the read sleeps or after, the read
    // reports it: a wake-up is kept until a read takes it.
    bool ok = false;
    std::uint32_t got = 99;
    std::thread reader([&] {
        std::uint8_t byte = 0;
        ok = m_port->ReadByte(&byte, &got);
    });
    m_port->Wake();
    reader.join();
    EXPECT_TRUE(ok);
    EXPECT_EQ(got, 0u);
    // Several wake-ups before a read count as one, and a byte that comes
    // is still handed out.
    m_port->Wake();
    m_port->Wake();
    Send("A");
    std::uint8_t byte = 0;
    got = 0;
    while (m_port->ReadByte(&byte, &got) && got == 0) {
    }
    EXPECT_EQ(byte, 'A');
    EXPECT_FALSE(m_port->IsDead()) << m_port->DeadReason();
}

TEST_F(EchoPort, CloseFromAnotherThreadEndsASleepingRead) {
    bool ok = true;
    std::thread reader([&] {
        std::uint8_t byte = 0;
        std::uint32_t got = 0;
        // Returns false only once the port is closed.
        while ((ok = m_port->ReadByte(&byte, &got))) {
        }
    });
    m_port->Close();
    reader.join();
    EXPECT_FALSE(ok);
    EXPECT_TRUE(m_port->IsClosed());
    EXPECT_FALSE(m_port->IsDead());
    std::uint32_t written = 0;
    EXPECT_FALSE(m_port->Write("x", 1, &written));
}

TEST_F(EchoPort, ExclusiveWhileOpenFreeAfterClose) {
    std::string reason;
    if (!UnderWine()) {
        EXPECT_FALSE(SerialPort::Open(m_strName, &reason));
        EXPECT_EQ(reason, "in use by another program");
    }
    m_port->Close();
    EXPECT_TRUE(SerialPort::Open(m_strName, &reason)) << reason;
}

}  // namespace
