#include "platform/serial_port.h"

#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <future>
#include <optional>
#include <thread>
#include <vector>

#include "platform/serial_termios.h"
#include "support/pty_pair.h"
#include "support/temp_folder.h"

namespace {

using namespace std::chrono_literals;
using Bytes = std::vector<std::uint8_t>;

// Generous: only a guard against a hang, never the thing asserted.
constexpr auto kHangGuard = 20s;

class SerialPortTest : public testing::Test {
protected:
    std::unique_ptr<SerialPort> OpenPort() {
        std::string reason;
        std::unique_ptr<SerialPort> port = SerialPort::Open(m_pty.SlavePath(), &reason);
        EXPECT_NE(port, nullptr) << reason;
        return port;
    }

    // Reads until count bytes have come or the line has been idle for a
    // long while; reports what came.
    static Bytes ReadBytes(SerialPort& port, std::size_t count) {
        Bytes bytes;
        const auto giveUp = std::chrono::steady_clock::now() + kHangGuard;
        while (bytes.size() < count && std::chrono::steady_clock::now() < giveUp) {
            std::uint8_t byte = 0;
            std::uint32_t got = 0;
            if (!port.ReadByte(&byte, &got))
                break;
            if (got == 1)
                bytes.push_back(byte);
        }
        return bytes;
    }

    PtyPair m_pty;
};

TEST_F(SerialPortTest, OpensInRawModeWithNoSoftwareFlowControl) {
    auto port = OpenPort();
    ASSERT_NE(port, nullptr);
    const termios tio = m_pty.SlaveTermios();
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u);
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | ICRNL | PARMRK | ISTRIP), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(port->DevicePath(), m_pty.SlavePath());
    EXPECT_EQ(port->GetReadProfile(), ReadProfile::Normal);
    EXPECT_FALSE(port->IsClosed());
    EXPECT_FALSE(port->IsDead());
}

// A pseudo-terminal keeps the speed, CSTOPB, PARODD and CRTSCTS (it forces
// CS8 and clears PARENB), so those are what is read back.
TEST_F(SerialPortTest, LineSettingsReachTheDevice) {
    auto port = OpenPort();
    ASSERT_NE(port, nullptr);

    LineSettings settings;
    settings.baudRate = 2400;
    settings.parity = ParityMode::Odd;
    settings.stopBits = 2;
    settings.flowControl = FlowControl::Hardware;
    ASSERT_TRUE(port->SetLineSettings(settings));
    termios tio = m_pty.SlaveTermios();
    EXPECT_EQ(cfgetospeed(&tio), B2400);
    EXPECT_TRUE(tio.c_cflag & PARODD);
    EXPECT_TRUE(tio.c_cflag & CSTOPB);
    EXPECT_TRUE(tio.c_cflag & CRTSCTS);

    settings.baudRate = 19200;
    settings.stopBits = 1;
    settings.flowControl = FlowControl::None;
    settings.parity = ParityMode::Even;
    ASSERT_TRUE(port->SetLineSettings(settings));
    tio = m_pty.SlaveTermios();
    EXPECT_EQ(cfgetospeed(&tio), B19200);
    EXPECT_FALSE(tio.c_cflag & PARODD);
    EXPECT_FALSE(tio.c_cflag & CSTOPB);
    EXPECT_FALSE(tio.c_cflag & CRTSCTS);

    LineSettings readBack;
    ASSERT_TRUE(port->GetLineSettings(&readBack));
    EXPECT_EQ(readBack.baudRate, 19200u);
    EXPECT_EQ(readBack.stopBits, 1);
    EXPECT_EQ(readBack.flowControl, FlowControl::None);
}

TEST_F(SerialPortTest, RejectedSettingsLeaveThePortAsItWas) {
    auto port = OpenPort();
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(port->SetBaudRate(9600));
    LineSettings bad;
    bad.baudRate = 12345;
    EXPECT_FALSE(port->SetLineSettings(bad));
    EXPECT_FALSE(port->SetBaudRate(12345));
    const termios tio = m_pty.SlaveTermios();
    EXPECT_EQ(cfgetospeed(&tio), B9600);
    EXPECT_FALSE(port->IsClosed());
    EXPECT_FALSE(port->IsDead());
}

TEST_F(SerialPortTest, SetBaudRateChangesOnlyTheSpeed) {
    auto port = OpenPort();
    ASSERT_NE(port, nullptr);
    LineSettings settings;
    settings.stopBits = 2;
    settings.flowControl = FlowControl::Hardware;
    ASSERT_TRUE(port->SetLineSettings(settings));
    termios expected = m_pty.SlaveTermios();
    ASSERT_TRUE(port->SetBaudRate(38400));
    const termios after = m_pty.SlaveTermios();
    cfsetispeed(&expected, B38400);
    cfsetospeed(&expected, B38400);
    EXPECT_EQ(after.c_cflag, expected.c_cflag);
    EXPECT_EQ(after.c_iflag, expected.c_iflag);
    EXPECT_EQ(after.c_oflag, expected.c_oflag);
    EXPECT_EQ(after.c_lflag, expected.c_lflag);
    EXPECT_EQ(cfgetospeed(&after), B38400);
}

class ReadProfileTest : public SerialPortTest, public testing::WithParamInterface<ReadProfile> {};

TEST_P(ReadProfileTest, ReturnsAByteThatIsThereAndNoneWhenWoken) {
    auto port = OpenPort();
    ASSERT_NE(port, nullptr);
    port->SetReadProfile(GetParam());
    EXPECT_EQ(port->GetReadProfile(), GetParam());

    std::uint8_t byte = 0;
    std::uint32_t count = 7;
    port->Wake();
    EXPECT_TRUE(port->ReadByte(&byte, &count));
    EXPECT_EQ(count, 0u);

    ASSERT_TRUE(m_pty.Deliver({0x5A, 0xA5}));
    port->Wake();  // bytes that are there come first
    EXPECT_TRUE(port->ReadByte(&byte, &count));
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(byte, 0x5A);
    EXPECT_TRUE(port->ReadByte(&byte, &count));
    EXPECT_EQ(count, 1u);
    EXPECT_EQ(byte, 0xA5);
    EXPECT_TRUE(port->ReadByte(&byte, &count));
    EXPECT_EQ(count, 0u);
}

INSTANTIATE_TEST_SUITE_P(Profiles, ReadProfileTest, testing::Values(ReadProfile::Normal, ReadProfile::Transfer),
                         [](const testing::TestParamInfo<ReadProfile>& info) {
                             return info.param == ReadProfile::Normal ? "Normal" : "Transfer";
                         });

// A read on an idle line sleeps until something happens; what ends it.
struct IdleReadCase {
    const char* name;
    int wakesBefore;                 // Wake() calls before the read starts
    void (*during)(SerialPort&, PtyPair&);
    bool result;
    std::uint32_t count;
};

void PrintTo(const IdleReadCase& c, std::ostream* os) { *os << c.name; }

class IdleReadTest : public SerialPortTest, public testing::WithParamInterface<IdleReadCase> {};

TEST_P(IdleReadTest, SleepsUntilSomethingHappens) {
    auto port = OpenPort();
    ASSERT_NE(port, nullptr);
    std::uint8_t byte = 0;
    std::uint32_t count = 9;
    if (GetParam().wakesBefore > 0) {
        // Any number of wake-ups before a read are reported once.
        for (int i = 0; i < GetParam().wakesBefore; ++i)
            port->Wake();
        EXPECT_TRUE(port->ReadByte(&byte, &count));
        EXPECT_EQ(count, 0u);
    }
    std::promise<void> reading;
    auto reader = std::async(std::launch::async, [&] {
        reading.set_value();
        return port->ReadByte(&byte, &count);
    });
    reading.get_future().wait();
    // Late enough, as a rule, for the read to be asleep; either order passes.
    std::this_thread::sleep_for(20ms);
    GetParam().during(*port, m_pty);
    ASSERT_EQ(reader.wait_for(kHangGuard), std::future_status::ready);
    EXPECT_EQ(reader.get(), GetParam().result);
    EXPECT_EQ(count, GetParam().count);
    if (count == 1) {
        EXPECT_EQ(byte, 0x42);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Ends, IdleReadTest,
    testing::Values(
        IdleReadCase{"byte", 0, [](SerialPort&, PtyPair& pty) { pty.WriteMaster(Bytes{0x42}); }, true, 1},
        IdleReadCase{"byte_after_two_wakes", 2, [](SerialPort&, PtyPair& pty) { pty.WriteMaster(Bytes{0x42}); },
                     true, 1},
        IdleReadCase{"nul_bytes_then_a_byte", 0,
                     [](SerialPort&, PtyPair& pty) {
                         pty.Deliver(Bytes(8, 0x00));
                         pty.WriteMaster(Bytes{0x42});
                     },
                     true, 1},
        IdleReadCase{"wake", 0, [](SerialPort& port, PtyPair&) { port.Wake(); }, true, 0},
        IdleReadCase{"close", 0, [](SerialPort& port, PtyPair&) { port.Close(); }, false, 0},
        IdleReadCase{"hang_up", 0, [](SerialPort&, PtyPair& pty) { pty.CloseMaster(); }, false, 0}),
    [](const testing::TestParamInfo<IdleReadCase>& info) { return std::string(info.param.name); });

TEST_F(SerialPortTest, WakeOnAClosedPortDoesNothing) {
    auto port = OpenPort();
    ASSERT_NE(port, nullptr);
    port->Close();
    port->Wake();
    std::uint8_t byte = 0;
    std::uint32_t count = 0;
    EXPECT_FALSE(port->ReadByte(&byte, &count));
}

TEST_F(SerialPortTest, DiscardsNulBytesAndPassesEveryOtherValue) {
    auto port = OpenPort();
    ASSERT_NE(port, nullptr);
    Bytes sent;
    Bytes expected;
    for (int value = 0; value < 256; ++value) {
        sent.push_back(0x00);
        sent.push_back(static_cast<std::uint8_t>(value));
        if (value != 0)
            expected.push_back(static_cast<std::uint8_t>(value));
    }
    ASSERT_TRUE(m_pty.Deliver(sent));
    EXPECT_EQ(ReadBytes(*port, expected.size()), expected);
    std::uint8_t byte = 0;
    std::uint32_t count = 0;
    port->Wake();
    EXPECT_TRUE(port->ReadByte(&byte, &count));
    EXPECT_EQ(count, 0u);
}

TEST_F(SerialPortTest, OnlyNulBytesReadAsAnIdleLine) {
    auto port = OpenPort();
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(m_pty.Deliver(Bytes(20, 0x00)));
    std::uint8_t byte = 0;
    std::uint32_t count = 0;
    port->Wake();
    EXPECT_TRUE(port->ReadByte(&byte, &count));
    EXPECT_EQ(count, 0u);
}

TEST_F(SerialPortTest, HandsOutOneByteAtATimeFromALongBurst) {
    auto port = OpenPort();
    ASSERT_NE(port, nullptr);
    Bytes sent(1000);
    for (std::size_t i = 0; i < sent.size(); ++i)
        sent[i] = static_cast<std::uint8_t>(1 + i % 255);
    std::thread writer([&] { m_pty.WriteMaster(sent); });
    const Bytes got = ReadBytes(*port, sent.size());
    writer.join();
    EXPECT_EQ(got, sent);
}

TEST_F(SerialPortTest, LargeWritesArriveWhole) {
    auto port = OpenPort();
    ASSERT_NE(port, nullptr);
    // Far more than the pty buffers, so the write must wait and go on.
    Bytes data(256 * 1024);
    for (std::size_t i = 0; i < data.size(); ++i)
        data[i] = static_cast<std::uint8_t>(i * 7 + i / 256);
    auto reader = std::async(std::launch::async, [&] { return m_pty.ReadMaster(data.size(), kHangGuard); });
    std::uint32_t written = 0;
    EXPECT_TRUE(port->Write(data.data(), static_cast<std::uint32_t>(data.size()), &written));
    EXPECT_EQ(written, data.size());
    EXPECT_EQ(reader.get(), data);
}

TEST_F(SerialPortTest, DrainReturnsOnceWrittenBytesAreGone) {
    auto port = OpenPort();
    ASSERT_NE(port, nullptr);
    const Bytes frame{0xFF, 0xFF, 0x01, 0xFE, 0x03, 0x12, 0x34, 0x3B, 0x83};
    std::uint32_t written = 0;
    ASSERT_TRUE(port->Write(frame.data(), static_cast<std::uint32_t>(frame.size()), &written));
    EXPECT_TRUE(port->Drain());
    EXPECT_EQ(m_pty.ReadMaster(frame.size(), kHangGuard), frame);
}

TEST_F(SerialPortTest, CloseRestoresTheOriginalSettingsAndFailsLaterCalls) {
    termios original = m_pty.SlaveTermios();
    original.c_lflag |= ECHO | ICANON;
    cfsetospeed(&original, B4800);
    cfsetispeed(&original, B4800);
    ASSERT_EQ(tcsetattr(m_pty.SlaveFd(), TCSANOW, &original), 0);

    auto port = OpenPort();
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(port->SetBaudRate(38400));
    port->Close();
    port->Close();  // idempotent
    EXPECT_TRUE(port->IsClosed());

    const termios restored = m_pty.SlaveTermios();
    EXPECT_EQ(cfgetospeed(&restored), B4800);
    EXPECT_EQ(restored.c_lflag & (ECHO | ICANON), ECHO | ICANON);

    std::uint8_t byte = 0;
    std::uint32_t count = 9;
    EXPECT_FALSE(port->ReadByte(&byte, &count));
    EXPECT_EQ(count, 0u);
    std::uint32_t written = 9;
    EXPECT_FALSE(port->Write("x", 1, &written));
    EXPECT_EQ(written, 0u);
    LineSettings settings;
    EXPECT_FALSE(port->GetLineSettings(&settings));
    EXPECT_FALSE(port->SetLineSettings(settings));
    EXPECT_FALSE(port->SetBaudRate(38400));
    EXPECT_FALSE(port->Drain());
}

// The emergency restore puts an open port back as it was found, and no
// longer touches a port once it has been closed.
TEST_F(SerialPortTest, EmergencyRestoreReachesOpenPortsOnly) {
    termios original = m_pty.SlaveTermios();
    cfsetospeed(&original, B4800);
    cfsetispeed(&original, B4800);
    ASSERT_EQ(tcsetattr(m_pty.SlaveFd(), TCSANOW, &original), 0);
    auto port = OpenPort();
    ASSERT_NE(port, nullptr);
    ASSERT_TRUE(port->SetBaudRate(38400));
    RestoreOpenPortsNow();
    const termios restored = m_pty.SlaveTermios();
    EXPECT_EQ(cfgetospeed(&restored), B4800);

    port->Close();
    termios changed = m_pty.SlaveTermios();
    cfsetospeed(&changed, B9600);
    ASSERT_EQ(tcsetattr(m_pty.SlaveFd(), TCSANOW, &changed), 0);
    RestoreOpenPortsNow();
    const termios untouched = m_pty.SlaveTermios();
    EXPECT_EQ(cfgetospeed(&untouched), B9600);
}

TEST_F(SerialPortTest, ASecondOpenOfAPortInUseFailsUntilItIsClosed) {
    auto first = OpenPort();
    ASSERT_NE(first, nullptr);
    std::string reason;
    EXPECT_EQ(SerialPort::Open(m_pty.SlavePath(), &reason), nullptr);
    EXPECT_NE(reason.find("busy"), std::string::npos) << reason;

    first->Close();
    auto again = SerialPort::Open(m_pty.SlavePath(), &reason);
    EXPECT_NE(again, nullptr) << reason;
}

std::size_t OpenDescriptorCount() {
    std::size_t count = 0;
    for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd"))
        ++count;
    return count;
}

TEST_F(SerialPortTest, AFailedOpenLeavesNoDescriptorBehind) {
    auto first = OpenPort();
    ASSERT_NE(first, nullptr);
    const std::size_t before = OpenDescriptorCount();
    EXPECT_EQ(SerialPort::Open(m_pty.SlavePath()), nullptr);
    EXPECT_EQ(SerialPort::Open("/dev/null"), nullptr);
    EXPECT_EQ(SerialPort::Open("/dev/rd-no-such-serial-device"), nullptr);
    EXPECT_EQ(OpenDescriptorCount(), before);
    first->Close();
    EXPECT_EQ(OpenDescriptorCount(), before - 3);  // the port and its two wake-up descriptors
}

TEST_F(SerialPortTest, OpensThroughASymlink) {
    const std::filesystem::path link =
        std::filesystem::temp_directory_path() / ("rd-serial-link-" + std::to_string(getpid()));
    std::filesystem::remove(link);
    std::filesystem::create_symlink(m_pty.SlavePath(), link);
    std::string reason;
    auto port = SerialPort::Open(link.string(), &reason);
    std::filesystem::remove(link);
    ASSERT_NE(port, nullptr) << reason;
    ASSERT_TRUE(m_pty.Deliver({0x33}));
    EXPECT_EQ(ReadBytes(*port, 1), Bytes{0x33});
}

struct RefusedOpen {
    const char* name;
    const char* reasonPart;
};

void PrintTo(const RefusedOpen& open, std::ostream* os) {
    *os << '"' << open.name << '"';
}

class RefusedOpenTest : public testing::TestWithParam<RefusedOpen> {};

TEST_P(RefusedOpenTest, GivesAReasonAndNoPort) {
    std::string reason;
    EXPECT_EQ(SerialPort::Open(GetParam().name, &reason), nullptr);
    EXPECT_NE(reason.find(GetParam().reasonPart), std::string::npos) << reason;
}

INSTANTIATE_TEST_SUITE_P(Names, RefusedOpenTest,
                         testing::Values(RefusedOpen{"/dev/null", "not a serial device"},
                                         RefusedOpen{"/dev/ptmx", "not a serial device (a new pseudo-terminal"},
                                         RefusedOpen{"/dev/console", "not a serial device (the system console)"},
                                         RefusedOpen{"/proc/version", "not a serial device (a regular file)"},
                                         RefusedOpen{"/dev/rd-no-such-serial-device", "no such device"},
                                         RefusedOpen{"COM5", "no such port"},
                                         RefusedOpen{"", "no such port"},
                                         RefusedOpen{"ttyUSB0", "no such port"}));

// A FIFO, named as a path or bare (as a COM name would be), is no port.
TEST(RefusedOpenTest, FifoByPathOrBareName) {
    const std::string name = "rd-port-test-" + std::to_string(getpid()) + ".fifo";
    ASSERT_EQ(mkfifo(name.c_str(), 0600), 0);
    for (const std::string& given : {name, "./" + name}) {
        std::string reason;
        EXPECT_EQ(SerialPort::Open(given, &reason), nullptr);
        EXPECT_EQ(reason, "not a serial device (a FIFO)") << given;
    }
    std::filesystem::remove(name);
}

TEST(SerialPortNames, ComNamesMapToTheFirstFourSerialDevices) {
    EXPECT_EQ(ResolvePortName("COM1"), "/dev/ttyS0");
    EXPECT_EQ(ResolvePortName("COM2"), "/dev/ttyS1");
    EXPECT_EQ(ResolvePortName("COM3"), "/dev/ttyS2");
    EXPECT_EQ(ResolvePortName("COM4"), "/dev/ttyS3");
    EXPECT_EQ(ResolvePortName("com4"), "/dev/ttyS3");
    EXPECT_EQ(ResolvePortName("COM0"), "");
    EXPECT_EQ(ResolvePortName("COM5"), "");
    EXPECT_EQ(ResolvePortName("/dev/ttyUSB0"), "/dev/ttyUSB0");
    EXPECT_EQ(ResolvePortName("/dev/serial/by-id/usb-x"), "/dev/serial/by-id/usb-x");
}

TEST_F(SerialPortTest, AHangUpMakesThePortDeadForGood) {
    auto port = OpenPort();
    ASSERT_NE(port, nullptr);
    EXPECT_EQ(port->DeadReason(), "");
    m_pty.CloseMaster();

    std::uint8_t byte = 0;
    std::uint32_t count = 0;
    EXPECT_FALSE(port->ReadByte(&byte, &count));
    EXPECT_EQ(count, 0u);
    EXPECT_TRUE(port->IsDead());
    EXPECT_FALSE(port->IsClosed());
    EXPECT_NE(port->DeadReason(), "");
    EXPECT_FALSE(port->ReadByte(&byte, &count));
    std::uint32_t written = 0;
    EXPECT_FALSE(port->Write("x", 1, &written));
    port->Close();
    EXPECT_TRUE(port->IsClosed());
}

TEST_F(SerialPortTest, AHangUpIsSeenByAWrite) {
    auto port = OpenPort();
    ASSERT_NE(port, nullptr);
    m_pty.CloseMaster();
    std::uint32_t written = 0;
    EXPECT_FALSE(port->Write("abc", 3, &written));
    EXPECT_TRUE(port->IsDead());
}

TEST_F(SerialPortTest, CloseFromAnotherThreadEndsAWaitingReader) {
    auto port = OpenPort();
    ASSERT_NE(port, nullptr);
    port->SetReadProfile(ReadProfile::Transfer);
    std::promise<void> reading;
    auto reader = std::async(std::launch::async, [&] {
        reading.set_value();
        std::uint8_t byte = 0;
        std::uint32_t count = 0;
        // Waits for a byte the way the frame reader does, until a read fails.
        while (port->ReadByte(&byte, &count)) {
        }
        return count;
    });
    reading.get_future().wait();
    port->Close();
    ASSERT_EQ(reader.wait_for(kHangGuard), std::future_status::ready);
    EXPECT_EQ(reader.get(), 0u);
    EXPECT_FALSE(port->IsDead());
}

TEST_F(SerialPortTest, CloseFromAnotherThreadEndsAWriteStuckOnAFullLine) {
    auto port = OpenPort();
    ASSERT_NE(port, nullptr);
    // Nobody reads the master: the write fills the line and waits.
    const Bytes data(1024 * 1024, 0x55);
    std::promise<void> writing;
    auto writer = std::async(std::launch::async, [&] {
        writing.set_value();
        std::uint32_t written = 0;
        const bool ok = port->Write(data.data(), static_cast<std::uint32_t>(data.size()), &written);
        return std::make_pair(ok, written);
    });
    writing.get_future().wait();
    std::this_thread::sleep_for(50ms);  // let it fill the line; either order passes
    port->Close();
    ASSERT_EQ(writer.wait_for(kHangGuard), std::future_status::ready);
    const auto [ok, written] = writer.get();
    EXPECT_FALSE(ok);
    EXPECT_LT(written, data.size());
}

// Low latency: the driver behind the pty stood in for by a USB adapter's,
// whose latency timer (in a made-up sysfs) drops to 1 ms while
// ASYNC_LOW_LATENCY is set.
struct FakeDriver {
    bool reports = true;  // answers TIOCGSERIAL
    bool takes = true;    // takes TIOCSSERIAL
    int flags = 0;
    std::filesystem::path latencyFile;

    void WriteLatency() const { std::ofstream(latencyFile) << ((flags & ASYNC_LOW_LATENCY) ? "1\n" : "16\n"); }
};
FakeDriver g_driver;

int FakeSerialInfo(int, unsigned long request, serial_struct* info) {
    if (request == TIOCGSERIAL && g_driver.reports) {
        *info = {};
        info->flags = g_driver.flags;
        return 0;
    }
    if (request == TIOCSSERIAL && g_driver.takes) {
        g_driver.flags = info->flags;
        g_driver.WriteLatency();
        return 0;
    }
    errno = request == TIOCGSERIAL ? ENOTTY : EPERM;
    return -1;
}

struct LowLatencyCase {
    const char* name;
    bool reports, takes;
    int flagsBefore;
    int flagsWhileOpen;
    std::optional<int> latencyMs;
};

void PrintTo(const LowLatencyCase& c, std::ostream* os) { *os << c.name; }

class LowLatencyTest : public SerialPortTest, public testing::WithParamInterface<LowLatencyCase> {
protected:
    void SetUp() override {
        const std::string name = std::filesystem::canonical(m_pty.SlavePath()).filename().string();
        const std::filesystem::path device = m_sys.Path() / "class" / "tty" / name / "device";
        std::filesystem::create_directories(device);
        g_driver = {GetParam().reports, GetParam().takes, GetParam().flagsBefore, device / "latency_timer"};
        g_driver.WriteLatency();
        UseSerialDriver(FakeSerialInfo, m_sys.Path().string());
    }
    void TearDown() override { UseSerialDriver(nullptr, {}); }

    TempFolder m_sys{"serial_port_test.sys."};
};

// The flag is asked for on open (the timer read after that) and given back
// on Close() and by the emergency restore; a driver that refuses changes
// nothing and the port opens all the same.
TEST_P(LowLatencyTest, AskedOnOpenAndGivenBackOnEveryExit) {
    const LowLatencyCase& c = GetParam();
    for (const bool emergency : {false, true}) {
        auto port = OpenPort();
        ASSERT_NE(port, nullptr);
        EXPECT_EQ(g_driver.flags, c.flagsWhileOpen) << emergency;
        EXPECT_EQ(port->AdapterLatencyMs(), c.latencyMs) << emergency;
        EXPECT_EQ(AdapterLatencyMs(m_pty.SlavePath()), c.latencyMs) << emergency;
        if (emergency) {
            RestoreOpenPortsNow();
            EXPECT_EQ(g_driver.flags, c.flagsBefore);
        }
        port->Close();
        EXPECT_EQ(g_driver.flags, c.flagsBefore) << emergency;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Drivers, LowLatencyTest,
    testing::Values(
        LowLatencyCase{"Takes", true, true, ASYNC_SPD_HI, ASYNC_SPD_HI | ASYNC_LOW_LATENCY, 1},
        LowLatencyCase{"AlreadyLow", true, true, ASYNC_LOW_LATENCY, ASYNC_LOW_LATENCY, 1},
        LowLatencyCase{"Refuses", true, false, 0, 0, 16},
        LowLatencyCase{"Silent", false, false, 0, 0, 16}),
    [](const testing::TestParamInfo<LowLatencyCase>& info) { return std::string(info.param.name); });

}  // namespace
