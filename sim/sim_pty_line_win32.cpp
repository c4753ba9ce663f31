// The simulator's pty and device lines on Windows: there are no
// pseudo-terminals, and the simulator does not drive a Windows serial device,
// so both report why. The simulator runs here on a line inside the process
// (SimLine::CreateMemoryLine); the tests also run it on Linux, across a
// pseudo-terminal that Wine maps as a COM port.
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
