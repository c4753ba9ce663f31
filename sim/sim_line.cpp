// What every kind of simulator line shares: writing at the line's pace.
#include "sim/sim_line.h"

#include <algorithm>
#include <thread>

bool SimLine::Write(const std::vector<std::uint8_t>& bytes, bool paced, std::chrono::milliseconds stallLimit,
                    std::optional<std::chrono::steady_clock::time_point> lineFreeAt) {
    using Clock = std::chrono::steady_clock;
    const auto byteTime = std::chrono::nanoseconds(11'000'000'000LL / m_nBaud);
    const auto now = Clock::now();
    const auto start = lineFreeAt ? std::clamp(*lineFreeAt, now - kCatchUp, now) : now;
    // When each byte is there: paced, byte i arrives one byte time after
    // byte i-1, the first one byte time after the start; behind an adapter,
    // when the adapter passes it on.
    const bool timed = paced || m_adapter.Present();
    if (timed) {
        m_arrivals.clear();
        for (std::size_t i = 0; i < bytes.size(); ++i)
            m_arrivals.push_back(paced ? start + byteTime * static_cast<long>(i + 1) : now);
        m_adapter.Deliver(m_arrivals, &m_deliveries);
    }
    std::size_t done = 0;
    auto lastProgress = start;
    while (done < bytes.size()) {
        if (IsClosed())
            return false;
        std::size_t due = bytes.size();
        if (timed) {
            due = static_cast<std::size_t>(std::upper_bound(m_deliveries.begin(), m_deliveries.end(), Clock::now()) -
                                           m_deliveries.begin());
            if (due <= done) {
                std::this_thread::sleep_until(m_deliveries[done]);
                continue;
            }
            lastProgress = std::max(lastProgress, m_deliveries[done]);
        }
        // When the line is full: wait for room, a wake-up, or give the
        // bytes up.
        std::size_t written = 0;
        switch (WriteSome(bytes.data() + done, due - done, &written, lastProgress + stallLimit)) {
        case Put::Wrote:
            done += written;
            lastProgress = Clock::now();
            break;
        case Put::TimedOut:
            return true;
        case Put::Woken:
        case Put::Closed:
            return false;
        }
    }
    return true;
}

void SimLine::SetAdapterLatency(std::chrono::milliseconds latency) {
    m_adapter = UsbAdapterModel(latency, std::chrono::steady_clock::now());
}

void SimLine::SetBaud(unsigned baud) {
    m_nBaud = baud;
    ApplyBaud(baud);
}
