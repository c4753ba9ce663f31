#include "ui/latency_notice.h"

#include <cstdio>
#include <filesystem>

#include "link/latency_cost.h"

namespace {

// Where the operator lowers the timer: on Windows the driver's own page; on
// Linux the adapter's sysfs file, which the driver would have set itself had
// it taken the low-latency request.
std::string HowToLower(const std::string& port) {
#ifdef _WIN32
    (void)port;
    return "set it to 1 ms in Device Manager \xE2\x86\x92 Port Settings \xE2\x86\x92 Advanced";
#else
    std::error_code error;
    const std::filesystem::path device = std::filesystem::canonical(ResolvePortName(port), error);
    const std::string name = error ? std::string("<tty>") : device.filename().string();
    return "set it to 1 ms with: echo 1 | sudo tee /sys/class/tty/" + name + "/device/latency_timer";
#endif
}

}  // namespace

std::string LatencyNoticeText(const std::string& port, std::optional<int> latencyMs) {
    if (!latencyMs || *latencyMs <= kNoticeableLatencyMs)
        return {};
    char cost[32];
    std::snprintf(cost, sizeof cost, "%.1f", LatencySlowdown(*latencyMs));
    return port + ": the adapter's latency timer is " + std::to_string(*latencyMs) +
           " ms: a download takes up to about " + cost + " times as long; " + HowToLower(port);
}
