// Translation of LineSettings to and from the Win32 port state record (DCB),
// and the read time-outs, kept apart from the port so that they can be
// tested as pure functions.
#pragma once

#include <optional>

#include "platform/serial_port.h"
#include "platform/win32_api.h"

// Returns current with the line settings applied: BaudRate, ByteSize,
// Parity and fParity, StopBits; for flow control None no CTS flow with DTR
// and RTS raised, for Hardware CTS flow with DTR raised and RTS toggled
// around transmission; always no software flow control (fOutX, fInX),
// received 0x00 bytes discarded (fNull), line errors not cancelling
// transfers (fAbortOnError cleared). Every other field keeps its value.
// Returns nullopt (changes nothing) for data bits other than 7 or 8, stop
// bits other than 1 or 2, or a baud rate of 0.
std::optional<DCB> ApplyLineSettings(const DCB& current, const LineSettings& settings);

// Returns current with only what raw mode needs changed: no software flow
// control, NULs discarded, no abort on line errors, binary transfers.
DCB MakeRawKeepingLine(const DCB& current);

// Reads the line settings back from a DCB.
LineSettings ReadLineSettings(const DCB& dcb);

// The time-outs for a read that returns as soon as a byte is there, or with
// none after waitMs (1 to MAXDWORD-1); writes have no time-out.
COMMTIMEOUTS ReadTimeouts(DWORD waitMs);
