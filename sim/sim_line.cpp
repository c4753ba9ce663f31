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
    std::size_t done = 0;
    auto lastProgress = start;
    while (done < bytes.size()) {
        if (IsClosed())
            return false;
        std::size_t due = bytes.size();
        if (paced) {
            // Bytes whose last bit is on the far end by now: byte i arrives
            // one byte time after byte i-1, the first one byte time after
            // the start.
            const auto elapsed = Clock::now() - start;
            due = std::min(bytes.size(), static_cast<std::size_t>(elapsed / byteTime));
            if (due <= done) {
                std::this_thread::sleep_until(start + byteTime * static_cast<long>(done + 1));
                continue;
            }
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

void SimLine::SetBaud(unsigned baud) {
    m_nBaud = baud;
    ApplyBaud(baud);
}
