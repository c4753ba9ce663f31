// Opening, configuring, re-timing and closing the port held in g_hComm.
#pragma once

#include <string>

#include "platform/serial_port.h"
#include "platform/win_types.h"

// The seven radio-group indices of the Port Setup dialog, plus the device an
// operator chose on the command line (Linux has no fixed COM names for USB
// adapters). -1 means no button of the group is selected.
struct PortSettings {
    int m_nBaudRate = 6;      // 0..7: 300, 600, 1200, 2400, 4800, 9600, 19200, 38400
    int m_nComPort = 0;       // 0..3: COM1..COM4
    int m_nDataBits = 1;      // 0: 7, 1: 8
    int m_nEcho = 0;          // 0: off, 1: on (not used by the port)
    int m_nFlowControl = 0;   // 0: none, 1: hardware
    int m_nParity = 1;        // 0: none, 1: odd, 2: even
    int m_nStopBits = 0;      // 0: one, 1: two
    // When not empty, the device Connect opens instead of COM1..COM4.
    std::string m_strDevice;
};

// "COM1".."COM4" for m_nComPort 0..3, "" for any other index; or the
// chosen device when m_strDevice is set.
std::string PortNameFor(const PortSettings& settings);

// Applies the settings' table to line (an index out of range leaves that
// row's fields as they were).
LineSettings TranslatePortSettings(const LineSettings& current, const PortSettings& settings);

// Opens and configures the port (19200 8-O-1, no flow control with the
// defaults, normal read profile) and stores it in g_hComm. On failure shows
// "Unable to open port", leaves no port open and returns false; *reason (if
// given) receives the system's reason for the terminal's diagnostic line.
bool OpenCommPort(const PortSettings& settings, std::string* reason = nullptr);

// Normal (false) or transfer (true) read profile on g_hComm. Shows nothing.
void SetReadTimeouts(bool transfer);

// Sets g_hComm to 38400 baud, keeping every other line setting, once the
// output already written has left the port. On failure shows "Unable to
// open port" and leaves the port at its old speed.
void SwitchToFastSpeed();

// Closes g_hComm: wakes and waits out any read or write in progress on
// another thread, lets queued output drain, restores the device's original
// settings and releases it. g_hComm keeps its (now closed) value; the closed
// port fails every later call at once.
void CloseCommPort();
