#include "platform/clock.h"

#include <atomic>
#include <chrono>

namespace {

class SystemClock final : public Clock {
public:
    std::int64_t NowSeconds() override {
        const auto sinceOrigin = std::chrono::steady_clock::now().time_since_epoch();
        return std::chrono::duration_cast<std::chrono::seconds>(sinceOrigin).count();
    }
};

SystemClock g_systemClock;
std::atomic<Clock*> g_clock{nullptr};

}  // namespace

Clock& GetClock() {
    Clock* clock = g_clock.load(std::memory_order_acquire);
    return clock ? *clock : g_systemClock;
}

Clock* SetClock(Clock* clock) {
    return g_clock.exchange(clock, std::memory_order_acq_rel);
}
