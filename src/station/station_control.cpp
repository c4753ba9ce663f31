#include "station/station_control.h"

#include <utility>

void StationControl::StopAll() {
    std::lock_guard lock(m_mutex);
    m_pending.m_bStopAll = true;
    m_wake.Set();
}

void StationControl::StopPort(std::size_t index) {
    std::lock_guard lock(m_mutex);
    m_pending.m_ports.push_back(index);
    m_wake.Set();
}

StationControl::Requests StationControl::Take() {
    std::lock_guard lock(m_mutex);
    // Cleared under the lock: a request made after this sets it again.
    m_wake.Clear();
    return std::exchange(m_pending, Requests{});
}
