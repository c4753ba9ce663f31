#include "platform/serial_termios.h"

#include <gtest/gtest.h>

#include <cstring>

namespace {

// A "cooked" terminal as a device might report it before the port is set
// up: canonical input, echo, signals, software flow control, output
// processing, parity marking.
termios CookedTermios() {
    termios tio{};
    tio.c_iflag = ICRNL | IXON | IXOFF | IXANY | BRKINT | PARMRK | ISTRIP | INPCK | INLCR | IGNCR;
    tio.c_oflag = OPOST | ONLCR;
    tio.c_cflag = CS7 | PARENB | CSTOPB | HUPCL;
    tio.c_lflag = ICANON | ECHO | ECHOE | ISIG | IEXTEN;
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 5;
    tio.c_cc[VINTR] = 3;
    cfsetispeed(&tio, B9600);
    cfsetospeed(&tio, B9600);
    return tio;
}

struct TranslationCase {
    const char* name;
    LineSettings settings;
    speed_t speed;
    tcflag_t size;
    bool parenb;
    bool parodd;
    bool cstopb;
    bool crtscts;
};

void PrintTo(const TranslationCase& c, std::ostream* os) {
    *os << c.name;
}

class LineSettingsTranslation : public testing::TestWithParam<TranslationCase> {};

TEST_P(LineSettingsTranslation, SetsTheLineFieldsAndRawMode) {
    const TranslationCase& c = GetParam();
    const std::optional<termios> result = ApplyLineSettings(CookedTermios(), c.settings);
    ASSERT_TRUE(result.has_value());
    const termios& tio = *result;

    EXPECT_EQ(cfgetispeed(&tio), c.speed);
    EXPECT_EQ(cfgetospeed(&tio), c.speed);
    EXPECT_EQ(tio.c_cflag & CSIZE, c.size);
    EXPECT_EQ((tio.c_cflag & PARENB) != 0, c.parenb);
    EXPECT_EQ((tio.c_cflag & PARODD) != 0, c.parodd);
    EXPECT_EQ((tio.c_cflag & CSTOPB) != 0, c.cstopb);
    EXPECT_EQ((tio.c_cflag & CRTSCTS) != 0, c.crtscts);
    EXPECT_TRUE(tio.c_cflag & CLOCAL);
    EXPECT_TRUE(tio.c_cflag & CREAD);

    // No byte value is special: no software flow control, no translation,
    // no parity marking or stripping, no echo or signals, no line editing.
    EXPECT_EQ(tio.c_iflag & (IXON | IXOFF | IXANY), 0u);
    EXPECT_EQ(tio.c_iflag & (ICRNL | INLCR | IGNCR | PARMRK | ISTRIP | INPCK | BRKINT), 0u);
    EXPECT_EQ(tio.c_oflag & OPOST, 0u);
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ECHOE | ISIG | IEXTEN), 0u);
    EXPECT_EQ(tio.c_cc[VMIN], 0);
    EXPECT_EQ(tio.c_cc[VTIME], 0);

    // Settings read back from the result are the ones applied.
    EXPECT_EQ(ReadLineSettings(tio), c.settings);
}

LineSettings Line(std::uint32_t baud, int dataBits, ParityMode parity, int stopBits, FlowControl flow) {
    LineSettings settings;
    settings.baudRate = baud;
    settings.dataBits = dataBits;
    settings.parity = parity;
    settings.stopBits = stopBits;
    settings.flowControl = flow;
    return settings;
}

INSTANTIATE_TEST_SUITE_P(
    Table, LineSettingsTranslation,
    testing::Values(
        TranslationCase{"Defaults19200_8O1", Line(19200, 8, ParityMode::Odd, 1, FlowControl::None), B19200, CS8,
                        true, true, false, false},
        TranslationCase{"Fast38400_8O1", Line(38400, 8, ParityMode::Odd, 1, FlowControl::None), B38400, CS8, true,
                        true, false, false},
        TranslationCase{"Slow300_7N2", Line(300, 7, ParityMode::None, 2, FlowControl::None), B300, CS7, false,
                        false, true, false},
        TranslationCase{"Even9600_8E1", Line(9600, 8, ParityMode::Even, 1, FlowControl::None), B9600, CS8, true,
                        false, false, false},
        TranslationCase{"Hardware2400_7E2", Line(2400, 7, ParityMode::Even, 2, FlowControl::Hardware), B2400, CS7,
                        true, false, true, true},
        TranslationCase{"Hardware115200_8N1", Line(115200, 8, ParityMode::None, 1, FlowControl::Hardware),
                        B115200, CS8, false, false, false, true}),
    [](const testing::TestParamInfo<TranslationCase>& info) { return info.param.name; });

TEST(LineSettingsTranslationRules, LeavesUnnamedFieldsAlone) {
    const termios cooked = CookedTermios();
    const termios tio = *ApplyLineSettings(cooked, LineSettings{});
    EXPECT_EQ(tio.c_cflag & HUPCL, cooked.c_cflag & HUPCL);
    EXPECT_EQ(tio.c_oflag & ONLCR, cooked.c_oflag & ONLCR);
    EXPECT_EQ(tio.c_cc[VINTR], cooked.c_cc[VINTR]);
}

TEST(LineSettingsTranslationRules, RejectsABaudRateTermiosCannotSet) {
    LineSettings settings;
    for (std::uint32_t baud : {0u, 12345u, 19201u, 250000u}) {
        settings.baudRate = baud;
        EXPECT_FALSE(ApplyLineSettings(CookedTermios(), settings).has_value()) << baud;
        EXPECT_FALSE(BaudToSpeed(baud).has_value()) << baud;
    }
}

TEST(LineSettingsTranslationRules, EveryRateOfThePortDialogHasASpeed) {
    for (std::uint32_t baud : {300u, 600u, 1200u, 2400u, 4800u, 9600u, 19200u, 38400u}) {
        const std::optional<speed_t> speed = BaudToSpeed(baud);
        ASSERT_TRUE(speed.has_value()) << baud;
        EXPECT_EQ(SpeedToBaud(*speed), baud);
    }
}

TEST(LineSettingsTranslationRules, WithBaudRateChangesOnlyTheSpeed) {
    const termios cooked = CookedTermios();
    const std::optional<termios> fast = WithBaudRate(cooked, 38400);
    ASSERT_TRUE(fast.has_value());
    EXPECT_EQ(cfgetospeed(&*fast), B38400);
    EXPECT_EQ(cfgetispeed(&*fast), B38400);
    termios expected = cooked;
    cfsetispeed(&expected, B38400);
    cfsetospeed(&expected, B38400);
    EXPECT_EQ(std::memcmp(&*fast, &expected, sizeof expected), 0);
    EXPECT_FALSE(WithBaudRate(cooked, 12345).has_value());
}

TEST(LineSettingsTranslationRules, MakeRawKeepsTheLine) {
    const termios cooked = CookedTermios();
    const termios raw = MakeRawKeepingLine(cooked);
    EXPECT_EQ(ReadLineSettings(raw), ReadLineSettings(cooked));
    EXPECT_EQ(raw.c_lflag & (ICANON | ECHO | ISIG), 0u);
    EXPECT_EQ(raw.c_iflag & (IXON | IXOFF | ICRNL | PARMRK), 0u);
    EXPECT_EQ(raw.c_oflag & OPOST, 0u);
}

}  // namespace
