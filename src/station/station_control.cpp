#include "station/station_control.h"

#include <utility>

#include "station/station_child.h"

void StationControl::StopAll() {
    std::lock_guard lock(m_mutex);
    m_pending.m_bStopAll = true;
    StationChild::WakeWaiter();
}

void StationControl::StopPort(std::size_t index) {
    std::lock_guard lock(m_mutex);
    m_pending.m_ports.push_back(index);
    StationChild::WakeWaiter();
}

StationControl::Requests StationControl::Take() {
    std::lock_guard lock(m_mutex);
    return std::exchange(m_pending, Requests{});
}
