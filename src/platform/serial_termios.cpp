#include "platform/serial_termios.h"

#include <array>
#include <utility>

namespace {

constexpr std::array<std::pair<DWORD, speed_t>, 16> kSpeeds{{
    {50, B50},
    {75, B75},
    {110, B110},
    {150, B150},
    {300, B300},
    {600, B600},
    {1200, B1200},
    {1800, B1800},
    {2400, B2400},
    {4800, B4800},
    {9600, B9600},
    {19200, B19200},
    {38400, B38400},
    {57600, B57600},
    {115200, B115200},
    {230400, B230400},
}};

tcflag_t DataBitsFlag(int dataBits) {
    return dataBits == 7 ? CS7 : CS8;
}

int DataBitsOf(tcflag_t cflag) {
    switch (cflag & CSIZE) {
    case CS5: return 5;
    case CS6: return 6;
    case CS7: return 7;
    default: return 8;
    }
}

// Raw mode: every byte value passes through unchanged in both directions.
// PARMRK and ISTRIP would alter data bytes (0xFF doubled, bit 7 dropped);
// INPCK stays off so that a byte with a parity error is still delivered and
// the frame checksum decides; IXON/IXOFF/IXANY off so that no byte value
// acts as a flow-control character.
void MakeRaw(termios* tio) {
    tio->c_iflag &= ~(IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR | IGNCR | ICRNL |
                      IXON | IXOFF | IXANY | IMAXBEL);
#ifdef IUCLC
    tio->c_iflag &= ~IUCLC;
#endif
    tio->c_oflag &= ~OPOST;
    tio->c_lflag &= ~(ECHO | ECHOE | ECHOK | ECHONL | ICANON | ISIG | IEXTEN);
    tio->c_cflag |= CLOCAL | CREAD;
    // Reads never block in the driver: the port layer waits in poll().
    tio->c_cc[VMIN] = 0;
    tio->c_cc[VTIME] = 0;
}

}  // namespace

std::optional<speed_t> BaudToSpeed(DWORD baudRate) {
    for (const auto& [baud, speed] : kSpeeds)
        if (baud == baudRate)
            return speed;
    return std::nullopt;
}

std::optional<DWORD> SpeedToBaud(speed_t speed) {
    for (const auto& [baud, constant] : kSpeeds)
        if (constant == speed)
            return baud;
    return std::nullopt;
}

std::optional<termios> ApplyLineSettings(const termios& current, const LineSettings& settings) {
    const std::optional<speed_t> speed = BaudToSpeed(settings.baudRate);
    if (!speed)
        return std::nullopt;

    termios tio = current;
    cfsetispeed(&tio, *speed);
    cfsetospeed(&tio, *speed);

    tio.c_cflag &= ~CSIZE;
    tio.c_cflag |= DataBitsFlag(settings.dataBits);

    tio.c_cflag &= ~(PARENB | PARODD);
#ifdef CMSPAR
    tio.c_cflag &= ~CMSPAR;
#endif
    if (settings.parity == ParityMode::Odd)
        tio.c_cflag |= PARENB | PARODD;
    else if (settings.parity == ParityMode::Even)
        tio.c_cflag |= PARENB;

    if (settings.stopBits == 2)
        tio.c_cflag |= CSTOPB;
    else
        tio.c_cflag &= ~CSTOPB;

    if (settings.flowControl == FlowControl::Hardware)
        tio.c_cflag |= CRTSCTS;
    else
        tio.c_cflag &= ~CRTSCTS;

    MakeRaw(&tio);
    return tio;
}

std::optional<termios> WithBaudRate(const termios& current, DWORD baudRate) {
    const std::optional<speed_t> speed = BaudToSpeed(baudRate);
    if (!speed)
        return std::nullopt;
    termios tio = current;
    cfsetispeed(&tio, *speed);
    cfsetospeed(&tio, *speed);
    return tio;
}

termios MakeRawKeepingLine(const termios& current) {
    termios tio = current;
    MakeRaw(&tio);
    return tio;
}

LineSettings ReadLineSettings(const termios& tio) {
    LineSettings settings;
    settings.baudRate = SpeedToBaud(cfgetospeed(&tio)).value_or(0);
    settings.dataBits = DataBitsOf(tio.c_cflag);
    if ((tio.c_cflag & PARENB) == 0)
        settings.parity = ParityMode::None;
    else
        settings.parity = (tio.c_cflag & PARODD) ? ParityMode::Odd : ParityMode::Even;
    settings.stopBits = (tio.c_cflag & CSTOPB) ? 2 : 1;
    settings.flowControl = (tio.c_cflag & CRTSCTS) ? FlowControl::Hardware : FlowControl::None;
    return settings;
}
