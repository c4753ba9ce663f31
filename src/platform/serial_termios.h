// Translation of LineSettings to and from termios, kept apart from the port
// so that it can be tested as a pure function (a pseudo-terminal does not
// keep every setting: Linux forces CS8 and clears PARENB on a pty).
#pragma once

#include <termios.h>

#include <cstdint>
#include <optional>

#include "platform/serial_port.h"

// The speed_t constant for a baud rate, or nullopt when termios has none.
std::optional<speed_t> BaudToSpeed(std::uint32_t baudRate);
std::optional<std::uint32_t> SpeedToBaud(speed_t speed);

// Returns current with the line settings applied: speed in and out, data
// bits, parity (PARENB/PARODD), stop bits (CSTOPB), CRTSCTS for hardware
// flow control, CLOCAL and CREAD, no software flow control (IXON, IXOFF,
// IXANY cleared), and raw mode (no input or output processing, no echo, no
// signals, no parity marking or checking, VMIN 0, VTIME 0). Fields not named keep their values.
// Returns nullopt (and changes nothing) for a baud rate termios cannot set.
std::optional<termios> ApplyLineSettings(const termios& current, const LineSettings& settings);

// Returns current with only the speed (in and out) changed; nullopt for a
// baud rate termios cannot set.
std::optional<termios> WithBaudRate(const termios& current, std::uint32_t baudRate);

// Returns current in raw mode (as ApplyLineSettings does it), with its
// speed, data bits, parity, stop bits and flow control left as they are.
termios MakeRawKeepingLine(const termios& current);

// Reads the line settings back from a termios record. A speed termios has
// no table entry for reads back as baudRate 0.
LineSettings ReadLineSettings(const termios& tio);
