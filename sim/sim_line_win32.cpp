// The simulator's line on Windows: there are no pseudo-terminals, and the
// simulator does not drive a Windows serial device, so no line can be made
// and every constructor reports why. (The tests run the simulator on Linux,
// across a pseudo-terminal that Wine maps as a COM port.)
#include "sim/sim_line.h"

namespace {

std::unique_ptr<SimLine> Unavailable(std::string* reason) {
    if (reason)
        *reason = "the simulated receiver needs a pseudo-terminal, which Windows does not have";
    return nullptr;
}

}  // namespace

std::unique_ptr<SimLine> SimLine::CreatePty(std::string* reason) { return Unavailable(reason); }

std::unique_ptr<SimLine> SimLine::OpenDevice(const std::string&, std::string* reason) { return Unavailable(reason); }

// No SimLine object exists on Windows: what follows only completes the class.
SimLine::~SimLine() = default;
void SimLine::Close() {}
void SimLine::Wake() {}
void SimLine::DrainWake() {}
bool SimLine::Write(const std::vector<std::uint8_t>&, bool, std::chrono::milliseconds,
                    std::optional<std::chrono::steady_clock::time_point>) {
    return false;
}
SimLine::ReadResult SimLine::Read(std::vector<std::uint8_t>*, std::chrono::milliseconds) { return ReadResult::Closed; }
void SimLine::SetBaud(unsigned baud) { m_nBaud = baud; }
std::optional<unsigned> SimLine::ToolBaud() const { return std::nullopt; }
std::size_t SimLine::UnreadByTool() const { return 0; }
void SimLine::DiscardUnread() {}
void SimLine::HoldToolOutput() {}
