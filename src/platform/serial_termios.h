// Translation of LineSettings to and from termios, kept apart from the port
// so that it can be tested as a pure function (a pseudo-terminal does not
// keep every setting: Linux forces CS8 and clears PARENB on a pty); and the
// driver the port asks for low latency.
#pragma once

#include <linux/serial.h>
#include <termios.h>

#include <cstdint>
#include <optional>
#include <string>

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

// Low latency. On open the port asks the driver for ASYNC_LOW_LATENCY
// (TIOCGSERIAL, TIOCSSERIAL): a driver that supports it moves received bytes
// on at once, and the common USB adapters' driver sets their latency timer
// to 1 ms. The flag is given back on Close() and by the emergency restore.
// A driver or a pseudo-terminal that refuses is no error and says nothing.

// The driver's serial-information request: ioctl() itself, or a test's
// stand-in. Must be async-signal-safe (the emergency restore makes it).
using SerialInfoCall = int (*)(int fd, unsigned long request, serial_struct* info);

// Where ports opened from now on find their driver: call for the
// serial-information request and sysRoot for sysfs (the latency timer).
// The emergency restore uses call as well. For tests; the system's are
// ioctl() and "/sys" (call nullptr puts them back).
void UseSerialDriver(SerialInfoCall call, const std::string& sysRoot);

// The latency timer, in milliseconds, of the USB adapter behind device (a
// /dev path or a link to one): sysRoot/class/tty/<name>/device/latency_timer.
// nullopt when the driver keeps none (or device is not there).
std::optional<int> ReadAdapterLatencyMs(const std::string& device, const std::string& sysRoot);
