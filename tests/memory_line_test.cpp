// The line inside the process: its ends keep the serial port's contract, and
// the far end sees what the simulated receiver needs to see of the near end.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "platform/serial_device.h"
#include "platform/serial_memory.h"

namespace {

using End = MemoryLine::End;
using Bytes = std::vector<std::uint8_t>;

class MemoryLineTest : public testing::Test {
protected:
    void SetUp() override {
        m_line = MemoryLine::Create("test line");
        ASSERT_TRUE(m_line);
        std::string reason;
        m_tool = SerialPort::Open("test line", &reason);
        ASSERT_TRUE(m_tool) << reason;
    }

    // Everything that has reached the far end by now.
    Bytes ReadFarNow() {
        Bytes bytes;
        m_line->ReadFar(&bytes, std::chrono::steady_clock::now());
        return bytes;
    }
    void WriteFar(const Bytes& bytes) {
        std::size_t written = 0;
        ASSERT_EQ(m_line->WriteFar(bytes.data(), bytes.size(), &written, std::nullopt), MemoryLine::Wait::Done);
        ASSERT_EQ(written, bytes.size());
    }

    std::unique_ptr<MemoryLine> m_line;
    std::unique_ptr<SerialPort> m_tool;
};

TEST_F(MemoryLineTest, BytesCrossBothWaysAndNulsAreDroppedOnTheToolsSide) {
    std::uint32_t written = 0;
    ASSERT_TRUE(m_tool->Write("\x01\x00\xFE", 3, &written));
    EXPECT_EQ(ReadFarNow(), (Bytes{0x01, 0x00, 0xFE}));

    WriteFar({0x00, 0x41, 0x00, 0x00, 0xFF});
    std::uint8_t byte = 0;
    std::uint32_t count = 0;
    Bytes read;
    for (int i = 0; i < 2 && m_tool->ReadByte(&byte, &count) && count == 1; ++i)
        read.push_back(byte);
    EXPECT_EQ(read, (Bytes{0x41, 0xFF}));
    EXPECT_EQ(m_line->UnreadByNear(), 0u);
}

TEST_F(MemoryLineTest, SettingsAreVisibleFromTheFarEndAndRestoredOnClose) {
    LineSettings settings;
    settings.parity = ParityMode::Even;
    settings.stopBits = 2;
    ASSERT_TRUE(m_tool->SetLineSettings(settings));
    ASSERT_TRUE(m_tool->SetBaudRate(38400));
    settings.baudRate = 38400;
    EXPECT_EQ(m_line->Settings(End::Near), settings);
    EXPECT_FALSE(m_tool->SetLineSettings(LineSettings{0, 8}));
    EXPECT_EQ(m_line->Settings(End::Near), settings);

    m_tool->Close();
    EXPECT_EQ(m_line->Settings(End::Near), LineSettings{});
    std::string reason;
    EXPECT_TRUE(SerialPort::Open("test line", &reason)) << reason;
}

TEST_F(MemoryLineTest, OpensOnceByNameAndNotAfterTheLineIsGone) {
    std::string reason;
    EXPECT_FALSE(SerialPort::Open("test line", &reason));
    EXPECT_EQ(reason, "device busy (in use by another program)");
    EXPECT_FALSE(MemoryLine::Create("test line"));
    m_line.reset();
    EXPECT_TRUE(m_tool->IsDead());
    EXPECT_EQ(m_tool->DeadReason(), "device disconnected (hang-up)");
    // The name is free again: a real port of that name is asked for now.
    EXPECT_FALSE(SerialPort::Open("test line", &reason));
    EXPECT_EQ(reason, "no such port");
}

// Every way a sleeping read ends.
struct WakeCase {
    const char* name;
    void (*act)(MemoryLine& line, SerialPort& tool);
    bool result;
    std::uint32_t count;
};

class SleepingReadTest : public MemoryLineTest, public testing::WithParamInterface<WakeCase> {};

TEST_P(SleepingReadTest, EndsOnWhatItWaitsFor) {
    std::uint8_t byte = 0;
    std::uint32_t count = 9;
    bool result = false;
    std::thread reader([&] { result = m_tool->ReadByte(&byte, &count); });
    GetParam().act(*m_line, *m_tool);
    reader.join();
    EXPECT_EQ(result, GetParam().result);
    EXPECT_EQ(count, GetParam().count);
}

INSTANTIATE_TEST_SUITE_P(
    Events, SleepingReadTest,
    testing::Values(
        WakeCase{"Byte",
                 [](MemoryLine& line, SerialPort&) {
                     std::size_t written = 0;
                     const std::uint8_t byte = 0x55;
                     line.WriteFar(&byte, 1, &written, std::nullopt);
                 },
                 true, 1},
        WakeCase{"Wake", [](MemoryLine&, SerialPort& tool) { tool.Wake(); }, true, 0},
        WakeCase{"Close", [](MemoryLine&, SerialPort& tool) { tool.Close(); }, false, 0},
        WakeCase{"HangUp", [](MemoryLine& line, SerialPort&) { line.HangUp(); }, false, 0}),
    [](const testing::TestParamInfo<WakeCase>& info) { return std::string(info.param.name); });

TEST_F(MemoryLineTest, DrainWaitsForTheFarEndAndGivesUpOnHeldOutput) {
    std::uint32_t written = 0;
    ASSERT_TRUE(m_tool->Write("ab", 2, &written));
    // Returns once the far end has taken the bytes, whenever it does.
    Bytes taken;
    std::thread farEnd([&] { m_line->ReadFar(&taken, std::nullopt); });
    EXPECT_TRUE(m_tool->Drain());
    farEnd.join();
    EXPECT_EQ(taken, (Bytes{'a', 'b'}));

    m_line->HoldNearOutput();
    ASSERT_TRUE(m_tool->Write("c", 1, &written));
    EXPECT_EQ(ReadFarNow(), Bytes{});
    // Held output never leaves: the speed switch gives up on it after the
    // stall limit and applies the speed anyway.
    EXPECT_TRUE(m_tool->SetBaudRate(38400));
    EXPECT_EQ(m_line->Settings(End::Near).baudRate, 38400u);
}

// Drain and SetLineSettings say why they fail.
struct RefusalCase {
    const char* name;
    void (*before)(MemoryLine&, SerialPort&);
    LineSettings settings;
    std::string drainReason;
    std::string settingsReason;
};

void PrintTo(const RefusalCase& c, std::ostream* os) { *os << c.name; }

class RefusalTest : public MemoryLineTest, public testing::WithParamInterface<RefusalCase> {};

TEST_P(RefusalTest, SaysWhy) {
    GetParam().before(*m_line, *m_tool);
    std::string reason;
    EXPECT_FALSE(m_tool->Drain(&reason));
    EXPECT_EQ(reason, GetParam().drainReason);
    reason.clear();
    EXPECT_FALSE(m_tool->SetLineSettings(GetParam().settings, &reason));
    EXPECT_EQ(reason, GetParam().settingsReason);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, RefusalTest,
    testing::Values(
        RefusalCase{"HeldOutput",
                    [](MemoryLine& line, SerialPort& tool) {
                        line.HoldNearOutput();
                        std::uint32_t written = 0;
                        tool.Write("c", 1, &written);
                    },
                    LineSettings{19200, 9, ParityMode::Even, 1, FlowControl::None}, OutputStalledReason(),
                    "unsupported line settings (19200 baud 9E1)"},
        RefusalCase{"Closed", [](MemoryLine&, SerialPort& tool) { tool.Close(); }, LineSettings{},
                    "the port is closed", "the port is closed"},
        RefusalCase{"HungUp", [](MemoryLine& line, SerialPort&) { line.HangUp(); }, LineSettings{},
                    "device disconnected (hang-up)", "device disconnected (hang-up)"}),
    [](const testing::TestParamInfo<RefusalCase>& info) { return std::string(info.param.name); });

}  // namespace
