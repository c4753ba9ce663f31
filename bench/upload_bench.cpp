// Figures for UploadThread:
//  1. Outbox hand-off rate with a consumer that takes each frame at once (no
//     port), on a data file above 42 MB: frames per second, CPU time per
//     frame, and the progress counters at the end (they must read 100 %
//     when the percentage is computed in 64 bits).
//  2. A whole script through the real LinkThread over a pseudo-terminal to
//     the simulated receiver: unpaced (as fast as the pty goes) and, with
//     --paced, at the line's real 38400 baud timing.
//
// Usage: upload_bench [--size-mb N] [--pty-kb N] [--paced]
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <random>
#include <string>
#include <thread>

#include "link/frame_buffer.h"
#include "link/link_thread.h"
#include "link/messages.h"
#include "link/port_setup.h"
#include "link/shared_state.h"
#include "platform/thread.h"
#include "platform/window.h"
#include "sim/receiver_sim.h"
#include "upload/upload_fault.h"
#include "upload/upload_thread.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

double CpuSeconds() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_stime.tv_sec + (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1e6;
}

void WriteRandomFile(const std::string& path, std::size_t size) {
    std::mt19937 random(1);
    std::ofstream out(path, std::ios::binary);
    std::string block(1 << 16, '\0');
    for (std::size_t done = 0; done < size; done += block.size()) {
        for (char& c : block)
            c = static_cast<char>(random());
        out.write(block.data(), static_cast<std::streamsize>(std::min(block.size(), size - done)));
    }
}

// Records whether the window got WM_UPLOAD_DONE / WM_LINK_READY / ... .
class Window : public MessageTarget {
public:
    Window() : m_hwnd(CreateWindowHandle(this)) {}
    ~Window() override { DestroyWindowHandle(m_hwnd); }
    LRESULT OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override {
        if (message == WM_UPLOAD_FAILED)
            std::fprintf(stderr, "upload failed (fault %d, error %d): %s\n", static_cast<int>(FaultCodeOf(wParam)),
                         FaultErrorOf(wParam), reinterpret_cast<const char*>(lParam));
        if (message == WM_UPLOAD_FILE_MISSING || message == WM_UPLOAD_BAD_COMMAND)
            std::fprintf(stderr, "upload failed: message %u\n", message);
        m_last = message;
        if (message == WM_UPLOAD_DONE)
            m_done = true;
        if (message == WM_LINK_READY)
            m_ready = true;
        return 0;
    }
    void* Param() const { return reinterpret_cast<void*>(static_cast<std::uintptr_t>(m_hwnd)); }
    bool WaitFor(const std::atomic<bool>& flag, std::chrono::seconds timeout) {
        const auto end = Clock::now() + timeout;
        while (!flag && Clock::now() < end) {
            WaitForPostedMessage(std::chrono::milliseconds(50));
            DispatchPostedMessages();
        }
        return flag;
    }
    std::atomic<bool> m_done{false}, m_ready{false};
    UINT m_last = 0;

private:
    HWND m_hwnd;
};

void HandOffRate(const std::string& dir, std::size_t sizeMb) {
    const std::string data = dir + "/big.lzs";
    const std::size_t size = sizeMb * 1024 * 1024 + 17;
    WriteRandomFile(data, size);
    std::ofstream(dir + "/big.cmd", std::ios::binary) << "CE000001\r\nSbig.lzs\r\nCX\r\n";
    ResetSharedState();
    g_bAbort.Clear();
    g_bOutboxFull.Clear();
    g_strScriptPath = dir + "/big.cmd";

    std::atomic<bool> stop{false};
    std::size_t frames = 0;
    g_bLinkRunning.Set();
    std::thread consumer([&] {
        for (;;) {
            WaitForState([&] { return stop.load() || g_bOutboxFull.IsSet(); });
            if (stop)
                return;
            ++frames;
            g_bOutboxFull.Clear();
        }
    });
    Window window;
    const double cpu0 = CpuSeconds();
    const auto t0 = Clock::now();
    AfxBeginThread(UploadThread, window.Param());
    window.WaitFor(window.m_done, std::chrono::seconds(600));
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    const double cpu = CpuSeconds() - cpu0;
    stop = true;
    NotifyStateChanged();
    consumer.join();
    g_bLinkRunning.Clear();
    JoinWorkerThreads(std::chrono::seconds(10));

    const std::uint64_t percent = std::uint64_t{g_dwBytesSent.Load()} * 100 / g_dwFileLength.Load();
    std::printf("hand-off, no port: %zu bytes in %zu frames, %.2f s wall, %.2f s CPU (both threads)\n", size, frames,
                wall, cpu);
    std::printf("  %.0f frames/s, %.1f MB/s, %.2f us CPU per frame\n", frames / wall, size / wall / 1e6,
                cpu / frames * 1e6);
    std::printf("  counters at the end: sent %u of %u bytes = %llu %% (64-bit); 32-bit product would give %u %%\n",
                g_dwBytesSent.Load(), g_dwFileLength.Load(), static_cast<unsigned long long>(percent),
                static_cast<unsigned>(g_dwBytesSent.Load() * 100u / g_dwFileLength.Load()));
    fs::remove(data);
}

void OverPty(const std::string& dir, std::size_t sizeKb, bool paced) {
    const std::string data = dir + "/code.lzs";
    const std::size_t size = sizeKb * 1024 + 29;
    WriteRandomFile(data, size);
    std::ofstream(dir + "/load.cmd", std::ios::binary) << "CE000001\r\nCQ\r\nScode.lzs\r\nCX\r\n";
    ResetSharedState();
    g_bAbort.Clear();
    g_bOutboxFull.Clear();
    g_strScriptPath = dir + "/load.cmd";

    SimOptions options;
    options.paced = paced;
    std::string reason;
    std::unique_ptr<ReceiverSim> sim = ReceiverSim::CreatePty(options, &reason);
    if (!sim) {
        std::printf("no pty: %s\n", reason.c_str());
        return;
    }
    sim->Start();
    PortSettings settings;
    settings.m_strDevice = sim->ToolPath();
    if (!OpenCommPort(settings, &reason)) {
        std::printf("cannot open %s: %s\n", sim->ToolPath().c_str(), reason.c_str());
        return;
    }
    Window linkWindow, uploadWindow;
    AfxBeginThread(LinkThread, linkWindow.Param());
    linkWindow.WaitFor(linkWindow.m_ready, std::chrono::seconds(30));
    const double cpu0 = CpuSeconds();
    const auto t0 = Clock::now();
    AfxBeginThread(UploadThread, uploadWindow.Param());
    uploadWindow.WaitFor(uploadWindow.m_done, std::chrono::seconds(3600));
    const double wall = std::chrono::duration<double>(Clock::now() - t0).count();
    const double cpu = CpuSeconds() - cpu0;
    g_bUploadFinished.Set();
    JoinWorkerThreads(std::chrono::seconds(30));
    CloseCommPort();
    sim->WaitUntil([](const SimReport& r) { return r.commands.size() >= 3; }, std::chrono::seconds(10));
    sim->Stop();
    const SimReport report = sim->Report();
    std::printf("over a pty to the simulated receiver%s: %zu bytes, %.2f s wall, %.2f s CPU (tool and simulator)\n",
                paced ? " (paced at 38400 baud)" : " (unpaced)", size, wall, cpu);
    std::printf("  %.0f data bytes/s; received %zu file(s), complete %s, %zu error(s)\n", size / wall,
                report.files.size(), !report.files.empty() && report.files[0].complete ? "yes" : "no",
                report.errors.size());
}

}  // namespace

int main(int argc, char** argv) {
    std::size_t sizeMb = 48, ptyKb = 256;
    bool paced = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strcmp(argv[i], "--size-mb") && i + 1 < argc)
            sizeMb = std::strtoul(argv[++i], nullptr, 10);
        else if (!std::strcmp(argv[i], "--pty-kb") && i + 1 < argc)
            ptyKb = std::strtoul(argv[++i], nullptr, 10);
        else if (!std::strcmp(argv[i], "--paced"))
            paced = true;
        else {
            std::fprintf(stderr, "usage: %s [--size-mb N] [--pty-kb N] [--paced]\n", argv[0]);
            return 2;
        }
    }
    std::string dir = (fs::temp_directory_path() / "upload_bench_XXXXXX").string();
    if (!mkdtemp(dir.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    HandOffRate(dir, sizeMb);
    OverPty(dir, ptyKb, paced);
    fs::remove_all(dir);
    return 0;
}
