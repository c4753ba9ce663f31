#include "station/station_wake.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <cstdint>

StationWake::StationWake() : m_nHandle(eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK)) {}

StationWake::~StationWake() {
    if (m_nHandle >= 0)
        close(static_cast<int>(m_nHandle));
}

bool StationWake::Ready() const { return m_nHandle >= 0; }

void StationWake::Set() {
    const std::uint64_t one = 1;
    [[maybe_unused]] const ssize_t written = write(static_cast<int>(m_nHandle), &one, sizeof one);
}

void StationWake::Clear() {
    std::uint64_t count = 0;
    [[maybe_unused]] const ssize_t taken = read(static_cast<int>(m_nHandle), &count, sizeof count);
}
