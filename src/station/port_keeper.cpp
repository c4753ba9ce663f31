#include "station/port_keeper.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include "platform/serial_port.h"

PortKeeper::~PortKeeper() { Release(); }

void PortKeeper::Take(const std::string& port) {
    Release();
    const std::string path = ResolvePortName(port);
    if (path.empty())
        return;
    m_nFd = open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    if (m_nFd >= 0 && tcgetattr(m_nFd, &m_settings) != 0)
        Release();
}

void PortKeeper::Restore() {
    if (m_nFd < 0)
        return;
    tcsetattr(m_nFd, TCSANOW, &m_settings);
    ioctl(m_nFd, TIOCNXCL);
}

void PortKeeper::Release() {
    if (m_nFd >= 0)
        close(m_nFd);
    m_nFd = -1;
}
