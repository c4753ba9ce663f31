#include "station/port_keeper.h"

#include "platform/serial_port.h"
#include "platform/system_win32.h"

struct PortKeeper::Saved {
    std::string m_strPath;
    DCB m_state{};
    COMMTIMEOUTS m_timeouts{};
};

namespace {

// The port for the keeper's few calls: exclusive, as every open of a COM
// port is, and without overlapped I/O.
HANDLE OpenPort(const std::string& path) {
    return CreateFileW(Utf8ToWide(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace

PortKeeper::PortKeeper() = default;

PortKeeper::~PortKeeper() { Release(); }

void PortKeeper::Take(const std::string& port) {
    Release();
    auto saved = std::make_unique<Saved>();
    saved->m_strPath = ResolvePortName(port);
    if (saved->m_strPath.empty())
        return;
    const HANDLE handle = OpenPort(saved->m_strPath);
    if (handle == INVALID_HANDLE_VALUE)
        return;
    saved->m_state.DCBlength = sizeof saved->m_state;
    const bool read = GetFileType(handle) == FILE_TYPE_CHAR && GetCommState(handle, &saved->m_state) &&
                      GetCommTimeouts(handle, &saved->m_timeouts);
    CloseHandle(handle);
    if (read)
        m_saved = std::move(saved);
}

void PortKeeper::Restore() {
    if (!m_saved)
        return;
    // Free again once the child has ended; still held (by another program,
    // or a child that is ending after all), it is left as it is.
    const HANDLE handle = OpenPort(m_saved->m_strPath);
    if (handle == INVALID_HANDLE_VALUE)
        return;
    SetCommTimeouts(handle, &m_saved->m_timeouts);
    SetCommState(handle, &m_saved->m_state);
    CloseHandle(handle);
}

void PortKeeper::Release() { m_saved.reset(); }
