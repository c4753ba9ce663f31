// Figures for UploadThread, as one table:
//  1. Outbox hand-off rate with a consumer that takes each frame at once (no
//     port), on a data file above 42 MB: frames per second, CPU time per
//     frame, and the progress counters at the end (they must read 100 %
//     when the percentage is computed in 64 bits).
//  2. A whole script through the real LinkThread over a pseudo-terminal to
//     the simulated receiver: unpaced (as fast as the pty goes) and at the
//     line's real 38400 baud timing.
#include <sys/resource.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
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
#include <vector>

#include "bench_machine.h"
#include "link/frame_buffer.h"
#include "link/latency_cost.h"
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

struct Row {
    std::string figure, now;
    bool failed = false;
};

std::string Format(const char* format, auto... values) {
    char text[512];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

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

std::vector<Row> HandOffRate(const std::string& dir, std::size_t sizeMb) {
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

    const std::uint32_t length = std::max<std::uint32_t>(g_dwFileLength.Load(), 1);
    const std::uint64_t percent = std::uint64_t{g_dwBytesSent.Load()} * 100 / length;
    fs::remove(data);
    const bool whole = window.m_done && g_dwBytesSent.Load() == size;
    return {{Format("Outbox hand-off without a port (%zu MiB data file; both threads)", sizeMb),
             Format("%zu bytes in %zu frames, %.2f s: %.0f frames/s, %.1f MB/s; CPU %.2f s, %.2f µs per frame", size,
                    frames, wall, frames / wall, size / wall / 1e6, cpu, cpu / frames * 1e6),
             !whole},
            {"progress counters at the end",
             Format("sent %u of %u bytes: %llu %% (a 32-bit product would give %u %%)", g_dwBytesSent.Load(),
                    g_dwFileLength.Load(), static_cast<unsigned long long>(percent),
                    static_cast<unsigned>(g_dwBytesSent.Load() * 100u / length)),
             percent != 100}};
}

Row OverPty(const std::string& dir, std::size_t sizeKb, bool paced) {
    const std::string data = dir + "/code.lzs";
    const std::size_t size = sizeKb * 1024 + 29;
    const std::string figure =
        Format("whole script over a pty to the simulated receiver, %s (%zu KiB data file; tool and simulator)",
               paced ? "paced at 38400 baud" : "unpaced", sizeKb);
    WriteRandomFile(data, size);
    std::ofstream(dir + "/load.cmd", std::ios::binary) << "CE000001\r\nCQ\r\nScode.lzs\r\nCX\r\n";
    // As a fresh process has it: an earlier run left its last frames here.
    ResetSharedState();
    g_bAbort.Clear();
    g_bOutboxFull.Clear();
    Outbox = FrameBuffer();
    InFrame = FrameBuffer();
    ReplyFrame = FrameBuffer();
    g_strScriptPath = dir + "/load.cmd";

    SimOptions options;
    options.paced = paced;
    std::string reason;
    std::unique_ptr<ReceiverSim> sim = ReceiverSim::CreatePty(options, &reason);
    if (!sim)
        return {figure, "FAILED: no pty: " + reason, true};
    sim->Start();
    PortSettings settings;
    settings.m_strDevice = sim->ToolPath();
    if (!OpenCommPort(settings, &reason))
        return {figure, "FAILED: cannot open the pty: " + reason, true};
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
    fs::remove(data);
    const SimReport report = sim->Report();
    const bool complete = report.files.size() == 1 && report.files[0].complete && report.errors.empty();
    std::string now = Format("%zu bytes, %.2f s: %.0f data bytes/s", size, wall, size / wall);
    if (paced) {
        // The line's limit: one "OK:" and one whole chunk frame per chunk.
        const double lineBytesPerSecond = 1000.0 * frame::kChunkDataSize / ChunkMilliseconds(0);
        now += Format(" (%.3f of the line's limit, %.0f bytes/s)", size / wall / lineBytesPerSecond,
                      lineBytesPerSecond);
    }
    now += Format("; CPU %.2f s; received %zu file(s), %s, %zu error(s)", cpu, report.files.size(),
                  complete ? "complete" : "NOT complete", report.errors.size());
    return {figure, now, !complete};
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Upload benchmark: the Outbox hand-off without a port, and whole scripts over a pty to the "
                 "simulated receiver, unpaced and paced, as one table."};
    std::size_t sizeMb = 48, ptyKb = 256, pacedKb = 32;
    bool quick = false;
    app.add_option("--size-mb", sizeMb, "Data file of the hand-off without a port, in MiB")
        ->default_val(sizeMb)
        ->check(CLI::Range(1, 4000));
    app.add_option("--pty-kb", ptyKb, "Data file of the unpaced run over a pty, in KiB (0 skips it)")
        ->default_val(ptyKb)
        ->check(CLI::Range(0, 1 << 20));
    app.add_option("--paced-kb", pacedKb, "Data file of the run paced at 38400 baud, in KiB (0 skips it)")
        ->default_val(pacedKb)
        ->check(CLI::Range(0, 1 << 20));
    app.add_flag("--quick", quick, "A short run: 8 MiB without a port, 64 KiB unpaced, 4 KiB paced");
    CLI11_PARSE(app, argc, argv);
    if (quick) {
        sizeMb = std::min<std::size_t>(sizeMb, 8);
        ptyKb = std::min<std::size_t>(ptyKb, 64);
        pacedKb = std::min<std::size_t>(pacedKb, 4);
    }
    std::string dir = (fs::temp_directory_path() / "upload_bench_XXXXXX").string();
    if (!mkdtemp(dir.data())) {
        std::perror("upload_bench: mkdtemp");
        return 1;
    }
    PrintMachineAtStart();
    std::vector<Row> rows = HandOffRate(dir, sizeMb);
    if (ptyKb > 0)
        rows.push_back(OverPty(dir, ptyKb, false));
    if (pacedKb > 0)
        rows.push_back(OverPty(dir, pacedKb, true));
    fs::remove_all(dir);
    PrintLoadAtEnd();
    std::printf("\n| figure | now |\n|---|---|\n");
    for (const Row& row : rows)
        std::printf("| %s | %s |\n", row.figure.c_str(), row.now.c_str());
    return std::any_of(rows.begin(), rows.end(), [](const Row& row) { return row.failed; }) ? 1 : 0;
}
