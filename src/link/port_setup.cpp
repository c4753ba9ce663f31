#include "link/port_setup.h"

#include <array>
#include <memory>
#include <mutex>
#include <vector>

#include "link/frame_format.h"
#include "link/shared_state.h"
#include "res/string_ids.h"

namespace {

constexpr std::array<DWORD, 8> kBaudRates = {300, 600, 1200, 2400, 4800, 9600, 19200, 38400};
// The Com buttons, COM1..COM4; the serial port maps a COM name to its device.
constexpr int kComPortCount = 4;

// Every port OpenCommPort has made, open or closed. A worker thread may still
// hold the pointer it loaded from g_hComm after the port was closed (and
// g_hComm keeps that value), so a port object lives as long as the process;
// once closed it holds no descriptor and costs a few hundred bytes.
std::mutex g_portsMutex;
std::vector<std::unique_ptr<SerialPort>> g_ports;

SerialPort* KeepPort(std::unique_ptr<SerialPort> port) {
    std::lock_guard lock(g_portsMutex);
    g_ports.push_back(std::move(port));
    return g_ports.back().get();
}

bool InRange(int index, std::size_t size) {
    return index >= 0 && static_cast<std::size_t>(index) < size;
}

}  // namespace

std::string PortNameFor(const PortSettings& settings) {
    if (!settings.m_strDevice.empty())
        return settings.m_strDevice;
    if (settings.m_nComPort < 0 || settings.m_nComPort >= kComPortCount)
        return {};
    return "COM" + std::to_string(settings.m_nComPort + 1);
}

LineSettings TranslatePortSettings(const LineSettings& current, const PortSettings& settings) {
    LineSettings line = current;
    if (InRange(settings.m_nBaudRate, kBaudRates.size()))
        line.baudRate = kBaudRates[static_cast<std::size_t>(settings.m_nBaudRate)];
    if (settings.m_nDataBits == 0)
        line.dataBits = 7;
    else if (settings.m_nDataBits == 1)
        line.dataBits = 8;
    if (settings.m_nFlowControl == 0)
        line.flowControl = FlowControl::None;
    else if (settings.m_nFlowControl == 1)
        line.flowControl = FlowControl::Hardware;
    if (settings.m_nParity == 0)
        line.parity = ParityMode::None;
    else if (settings.m_nParity == 1)
        line.parity = ParityMode::Odd;
    else if (settings.m_nParity == 2)
        line.parity = ParityMode::Even;
    if (settings.m_nStopBits == 0)
        line.stopBits = 1;
    else if (settings.m_nStopBits == 1)
        line.stopBits = 2;
    return line;
}

bool OpenCommPort(const PortSettings& settings, std::string* reason) {
    std::string why;
    auto fail = [&](std::unique_ptr<SerialPort> port) {
        if (port)
            port->Close();
        // Like an invalid handle: no port is open now.
        g_hComm.store(nullptr, std::memory_order_release);
        if (reason)
            *reason = why;
        AfxMessageBox(IDS_UNABLE_TO_OPEN_PORT);
        return false;
    };

    const std::string name = PortNameFor(settings);
    if (name.empty()) {
        why = "no such port (COM" + std::to_string(settings.m_nComPort + 1) + ")";
        return fail(nullptr);
    }
    std::unique_ptr<SerialPort> port = SerialPort::Open(name, &why);
    if (!port)
        return fail(nullptr);

    port->SetReadProfile(ReadProfile::Normal);
    LineSettings current;
    if (!port->GetLineSettings(&current)) {
        why = "cannot read the line settings";
        return fail(std::move(port));
    }
    std::string refused;
    if (!port->SetLineSettings(TranslatePortSettings(current, settings), &refused)) {
        why = "cannot apply the line settings: " + refused;
        return fail(std::move(port));
    }
    g_hComm.store(KeepPort(std::move(port)), std::memory_order_release);
    return true;
}

void SetReadTimeouts(bool transfer) {
    if (SerialPort* port = g_hComm.load(std::memory_order_acquire))
        port->SetReadProfile(transfer ? ReadProfile::Transfer : ReadProfile::Normal);
}

void SwitchToFastSpeed() {
    SerialPort* port = g_hComm.load(std::memory_order_acquire);
    LineSettings current;
    if (port == nullptr || !port->GetLineSettings(&current)) {
        AfxMessageBox(IDS_UNABLE_TO_OPEN_PORT);
        return;
    }
    // Only the speed changes, and only once the answer already written has
    // left the port at the old speed.
    if (!port->SetBaudRate(frame::kFastBaudRate))
        AfxMessageBox(IDS_UNABLE_TO_OPEN_PORT);
}

void CloseCommPort() {
    if (SerialPort* port = g_hComm.load(std::memory_order_acquire))
        port->Close();
}
