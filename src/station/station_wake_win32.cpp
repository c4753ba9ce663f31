#include "station/station_wake.h"

#include <windows.h>

StationWake::StationWake()
    : m_nHandle(reinterpret_cast<long long>(CreateEventW(nullptr, TRUE, FALSE, nullptr))) {
    if (m_nHandle == 0)
        m_nHandle = -1;
}

StationWake::~StationWake() {
    if (Ready())
        CloseHandle(reinterpret_cast<HANDLE>(m_nHandle));
}

bool StationWake::Ready() const { return m_nHandle != -1; }

void StationWake::Set() { SetEvent(reinterpret_cast<HANDLE>(m_nHandle)); }

void StationWake::Clear() { ResetEvent(reinterpret_cast<HANDLE>(m_nHandle)); }
