#include "sim/usb_adapter.h"

#include <algorithm>

void UsbAdapterModel::Deliver(const std::vector<Clock::time_point>& arrivals,
                              std::vector<Clock::time_point>* deliveries) {
    deliveries->clear();
    for (const Clock::time_point arrival : arrivals) {
        if (!Present()) {
            deliveries->push_back(arrival);
            continue;
        }
        // The transfers the timer made before this byte came (what the chip
        // held went with the first of them).
        if (arrival >= m_lastTransfer + m_latency) {
            m_lastTransfer += m_latency * ((arrival - m_lastTransfer) / m_latency);
            m_nHeld = 0;
        }
        ++m_nHeld;
        deliveries->push_back(m_lastTransfer + m_latency);
        if (m_nHeld == kPacketBytes) {
            // A full packet goes at once, with the bytes held before it.
            const std::size_t held = std::min(m_nHeld, deliveries->size());
            std::fill(deliveries->end() - static_cast<long>(held), deliveries->end(), arrival);
            m_lastTransfer = arrival;
            m_nHeld = 0;
        }
    }
}
