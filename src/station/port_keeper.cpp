#include "station/port_keeper.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include "platform/serial_port.h"

struct PortKeeper::Saved {
    int m_nFd = -1;
    termios m_settings{};
};

PortKeeper::PortKeeper() = default;

PortKeeper::~PortKeeper() { Release(); }

void PortKeeper::Take(const std::string& port) {
    Release();
    const std::string path = ResolvePortName(port);
    if (path.empty())
        return;
    auto saved = std::make_unique<Saved>();
    saved->m_nFd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (saved->m_nFd < 0)
        return;
    if (tcgetattr(saved->m_nFd, &saved->m_settings) != 0) {
        close(saved->m_nFd);
        return;
    }
    m_saved = std::move(saved);
}

void PortKeeper::Restore() {
    if (!m_saved)
        return;
    tcsetattr(m_saved->m_nFd, TCSANOW, &m_saved->m_settings);
    ioctl(m_saved->m_nFd, TIOCNXCL);
}

void PortKeeper::Release() {
    if (m_saved)
        close(m_saved->m_nFd);
    m_saved.reset();
}
