// Translation of LineSettings to and from the Win32 port state record (DCB),
// and the port's time-outs, kept apart from the port so that they can be
// tested as pure functions.
#pragma once

#include <optional>

#include "platform/serial_port.h"
#include "platform/system_win32.h"

// Returns current with the line settings applied: BaudRate, ByteSize,
// Parity with fParity, StopBits; flow control None: no CTS flow, DTR and RTS
// raised; Hardware: CTS flow with RTS handshake, DTR raised; and raw mode as
// MakeRawKeepingLine. Every other field keeps its value. Returns nullopt
// (changes nothing) for data bits other than 7 or 8, stop bits other than 1
// or 2, or a baud rate of 0.
std::optional<DCB> ApplyLineSettings(const DCB& current, const LineSettings& settings);

// Returns current with only what raw mode needs changed: binary transfers,
// no software flow control (fOutX, fInX), received 0x00 bytes discarded
// (fNull), no DSR sensitivity or flow, line errors not cancelling transfers
// (fAbortOnError cleared), no error replacement character.
DCB MakeRawKeepingLine(const DCB& current);

// Reads the line settings back from a DCB.
LineSettings ReadLineSettings(const DCB& dcb);

// The port's time-outs, for both read profiles: no read or write time-out,
// so that a read of n bytes completes when n bytes have come. The port asks
// only for bytes the driver holds already, or for one byte when it is to
// sleep until the line delivers (see ReadByte).
COMMTIMEOUTS PortTimeouts();

// The adapter's latency timer in milliseconds from its device parameters
// (an open SetupDiOpenDevRegKey key): the LatencyTimer value its driver
// keeps there, nullopt without one.
std::optional<int> AdapterLatencyOf(HKEY parameters);
