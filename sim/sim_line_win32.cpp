// The simulator's line on Windows. Windows has no pseudo-terminals, and the
// simulator's serial-device side is written against termios, so neither kind
// of line can be made here yet: both constructors report why, and no SimLine
// object exists on Windows for the members below to act on.
#include "sim/sim_line.h"

std::unique_ptr<SimLine> SimLine::CreatePty(std::string* reason) {
    *reason = "Windows has no pseudo-terminals to connect the simulated receiver to";
    return nullptr;
}

std::unique_ptr<SimLine> SimLine::OpenDevice(const std::string& path, std::string* reason) {
    *reason = "the simulated receiver cannot drive a serial device (" + path + ") on Windows";
    return nullptr;
}

SimLine::~SimLine() = default;
bool SimLine::Write(const std::vector<std::uint8_t>&, bool, std::chrono::milliseconds) { return false; }
SimLine::ReadResult SimLine::Read(std::vector<std::uint8_t>*, std::chrono::milliseconds) { return ReadResult::Closed; }
void SimLine::Wake() {}
void SimLine::SetBaud(unsigned baud) { m_nBaud = baud; }
std::optional<unsigned> SimLine::ToolBaud() const { return std::nullopt; }
std::size_t SimLine::UnreadByTool() const { return 0; }
void SimLine::DiscardUnread() {}
void SimLine::Close() {}
void SimLine::DrainWake() {}
