// A USB-serial adapter between the receiver and the tool, as the common chip
// family behaves on its way to the host: bytes from the line wait in the
// chip until it holds a packet's worth (kPacketBytes) or its latency timer
// runs out, whichever comes first. The timer starts again at every transfer
// to the host, and the chip makes one each time the timer runs out, with the
// bytes it holds or, holding none, with its status alone; so its transfers
// come every latency from the last one, whatever the line does. A short
// frame such as "OK:" therefore reaches the tool at the chip's next transfer
// after its last byte: between 0 and the whole timer later, depending on
// where in the chip's period it arrives (the whole timer is the upper bound
// a warning quotes).
#pragma once

#include <chrono>
#include <cstddef>
#include <vector>

class UsbAdapterModel {
public:
    using Clock = std::chrono::steady_clock;
    // A 64-byte USB packet less the chip's 2 status bytes.
    static constexpr std::size_t kPacketBytes = 62;

    // latency 0: no adapter, bytes pass at once. The timer first runs from
    // start.
    UsbAdapterModel(std::chrono::milliseconds latency, Clock::time_point start)
        : m_latency(latency), m_lastTransfer(start) {}

    bool Present() const { return m_latency.count() > 0; }

    // When the bytes that reach the chip at arrivals (in order, later than
    // any given before) reach the tool, in *deliveries.
    void Deliver(const std::vector<Clock::time_point>& arrivals, std::vector<Clock::time_point>* deliveries);

private:
    std::chrono::milliseconds m_latency;
    Clock::time_point m_lastTransfer;
    std::size_t m_nHeld = 0;  // bytes in the chip since its last transfer
};
