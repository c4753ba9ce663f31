// link_bench: runs LinkThread through the speed handshake and one upload and
// reports the figures: time to the handshake, upload throughput, frames per
// second, and the CPU time and wake-ups (context switches) of the tool's
// threads meanwhile: a link waiting on a silent line must sleep, and each
// chunk should cost as little CPU as possible. The in-process receiver's own
// thread is left out of these figures.
//
// Without --device the receiver is simulated in this process on a pty
// (--paced gives it a real line's timing). With --device the tool side opens
// that path instead: run `receiver-sim` in another terminal and pass the
// path it prints, to watch the handshake and the upload from the receiver's
// side.
#include <dirent.h>
#include <sys/types.h>

#include <CLI/CLI.hpp>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iostream>
#include <map>
#include <set>
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

namespace {

using Clock = std::chrono::steady_clock;

class LinkWindow : public MessageTarget {
public:
    LinkWindow() : m_hwnd(CreateWindowHandle(this)) {}
    ~LinkWindow() override { DestroyWindowHandle(m_hwnd); }
    LRESULT OnMessage(UINT message, WPARAM, LPARAM) override {
        if (message == WM_LINK_READY)
            m_bReady = true;
        if (message == WM_LINK_CLOSED)
            m_bClosed = true;
        return 0;
    }
    // Delivers posted messages until flag is set or timeout passes.
    bool PumpUntil(const bool& flag, std::chrono::seconds timeout) {
        const auto deadline = Clock::now() + timeout;
        while (!flag && Clock::now() < deadline) {
            DispatchPostedMessages();
            if (!flag)
                WaitForPostedMessage(std::chrono::milliseconds(50));
        }
        return flag;
    }
    HWND m_hwnd;
    bool m_bReady = false;
    bool m_bClosed = false;
};

// CPU time and context switches of this process's threads, read from
// /proc/self/task (schedstat: nanoseconds on a CPU; status: voluntary and
// involuntary switches, i.e. how often each thread went to sleep or was
// preempted).
struct ThreadUsage {
    double cpuSeconds = 0;
    unsigned long long switches = 0;
};
using ThreadTable = std::map<pid_t, ThreadUsage>;

ThreadTable ReadThreads() {
    ThreadTable table;
    DIR* dir = opendir("/proc/self/task");
    if (dir == nullptr)
        return table;
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        const std::string task = std::string("/proc/self/task/") + entry->d_name;
        ThreadUsage usage;
        unsigned long long ns = 0;
        if (std::ifstream(task + "/schedstat") >> ns)
            usage.cpuSeconds = static_cast<double>(ns) / 1e9;
        std::ifstream status(task + "/status");
        for (std::string line; std::getline(status, line);) {
            if (line.starts_with("voluntary_ctxt_switches:") || line.starts_with("nonvoluntary_ctxt_switches:"))
                usage.switches += std::stoull(line.substr(line.find(':') + 1));
        }
        table[static_cast<pid_t>(std::stol(entry->d_name))] = usage;
    }
    closedir(dir);
    return table;
}

// What the threads not in `exclude` used between two readings (a thread
// that ended in between is not counted; the tool's threads all outlive the
// measurements).
ThreadUsage UsedSince(const ThreadTable& before, const std::set<pid_t>& exclude) {
    ThreadUsage used;
    for (const auto& [tid, now] : ReadThreads()) {
        if (exclude.contains(tid))
            continue;
        const auto then = before.find(tid);
        used.cpuSeconds += now.cpuSeconds - (then == before.end() ? 0 : then->second.cpuSeconds);
        used.switches += now.switches - (then == before.end() ? 0 : then->second.switches);
    }
    return used;
}

std::set<pid_t> ThreadIds() {
    std::set<pid_t> ids;
    for (const auto& entry : ReadThreads())
        ids.insert(entry.first);
    return ids;
}

double Seconds(Clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

// Queues one frame text in Outbox once the slot is free, as UploadThread does.
bool Queue(const std::uint8_t* text, std::size_t size) {
    WaitForState([] { return !g_bOutboxFull.IsSet() || g_bAbort.IsSet(); });
    if (g_bAbort)
        return false;
    Outbox.m_byLength = static_cast<BYTE>(frame::kTagSize + size);
    std::memcpy(&Outbox.m_abyPayload[frame::kTextOffset], text, size);
    g_bOutboxFull.Set();
    return true;
}

bool Queue(const char* text) {
    return Queue(reinterpret_cast<const std::uint8_t*>(text), std::strlen(text));
}

// Header, chunks, then "X"; returns the frames queued.
unsigned FeedUpload(const std::vector<std::uint8_t>& file) {
    unsigned frames = 0;
    if (!Queue("E000000"))
        return frames;
    ++frames;
    g_bTransferActive.Set();
    bool ok = Queue(file.data(), frame::kHeaderDataSize);
    ++frames;
    for (std::size_t at = frame::kHeaderDataSize; ok && at < file.size(); at += frame::kChunkDataSize) {
        std::uint8_t chunk[1 + frame::kChunkDataSize];
        const std::size_t n = std::min(frame::kChunkDataSize, file.size() - at);
        chunk[0] = frame::kChunkMarker;
        std::memcpy(chunk + 1, file.data() + at, n);
        ok = Queue(chunk, n + 1);
        ++frames;
    }
    g_bTransferDone.Set();
    if (ok && Queue("X"))
        ++frames;
    // The last frame is out once the slot is free again.
    WaitForState([] { return !g_bOutboxFull.IsSet() || g_bAbort.IsSet(); });
    return frames;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Link benchmark: LinkThread through the handshake and one upload, with figures."};
    std::string device;
    std::size_t size = 64 * 1024;
    bool paced = false;
    bool handshakeOnly = false;
    double idleSeconds = 1.0;
    app.add_option("--device", device,
                   "Open this path as the tool's port (e.g. the pty printed by receiver-sim) instead of "
                   "simulating the receiver in this process");
    app.add_option("--size", size, "Bytes in the data file (at least 6)")->default_val(size)->check(CLI::Range(6, 1 << 26));
    app.add_flag("--paced", paced, "Simulated receiver paces bytes at the real line speed (in-process only)");
    app.add_flag("--handshake-only", handshakeOnly, "Stop after the speed handshake");
    app.add_option("--idle-seconds", idleSeconds,
                   "In-process only: let the link poll a silent line this long first and report its CPU use")
        ->default_val(idleSeconds)
        ->check(CLI::Range(0.0, 60.0));
    CLI11_PARSE(app, argc, argv);

    std::unique_ptr<ReceiverSim> sim;
    std::string path = device;
    if (path.empty()) {
        SimOptions options;
        options.paced = paced;
        options.framesBeforeMon = 2;
        options.keepFileData = true;
        std::string reason;
        sim = ReceiverSim::CreatePty(options, &reason);
        if (!sim) {
            std::cerr << "link_bench: " << reason << "\n";
            return 1;
        }
        path = sim->ToolPath();
    }

    PortSettings settings;
    settings.m_strDevice = path;
    std::string reason;
    if (!OpenCommPort(settings, &reason)) {
        std::cerr << "link_bench: cannot open " << path << ": " << reason << "\n";
        return 1;
    }
    LinkWindow window;
    g_bAbort.Clear();
    AfxBeginThread(LinkThread, reinterpret_cast<void*>(static_cast<std::uintptr_t>(window.m_hwnd)));
    if (sim && idleSeconds > 0) {
        // The receiver is still switched off: the link waits on a silent
        // line. The main thread's own sleep counts as one switch.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let the link settle
        const ThreadTable before = ReadThreads();
        std::this_thread::sleep_for(std::chrono::duration<double>(idleSeconds));
        const ThreadUsage used = UsedSince(before, {});
        std::printf("Idle line: CPU %.4f s in %.1f s (%.3f%% of one core), %.1f wake-ups/s (all threads)\n",
                    used.cpuSeconds, idleSeconds, 100.0 * used.cpuSeconds / idleSeconds,
                    static_cast<double>(used.switches) / idleSeconds);
    }
    // The receiver's thread starts now: everything that was here before is
    // the tool's (or this benchmark's main thread, which plays the upload).
    const std::set<pid_t> toolThreads = ThreadIds();
    std::set<pid_t> simThreads;
    const auto start = Clock::now();
    if (sim) {
        sim->Start();
        for (pid_t tid : ThreadIds())
            if (!toolThreads.contains(tid))
                simThreads.insert(tid);
    }
    std::cout << "Tool port " << path << (sim ? " (simulated receiver in process)" : "")
              << ": waiting for the receiver's \"MON:\" ..." << std::endl;
    const ThreadTable beforeHandshake = ReadThreads();
    if (!window.PumpUntil(window.m_bReady, std::chrono::seconds(sim ? 30 : 600))) {
        std::cerr << "link_bench: no handshake\n";
        g_bAbort.Set();
        CloseCommPort();
        JoinWorkerThreads(std::chrono::seconds(10));
        return 2;
    }
    const double handshakeSeconds = Seconds(Clock::now() - start);
    std::printf("Handshake done, port at 38400 baud: %.3f s (CPU %.3f s)\n", handshakeSeconds,
                UsedSince(beforeHandshake, simThreads).cpuSeconds);

    int status = 0;
    if (!handshakeOnly) {
        std::vector<std::uint8_t> file(size);
        for (std::size_t i = 0; i < size; ++i)
            file[i] = static_cast<std::uint8_t>(i * 131 + (i >> 8));
        const ThreadTable before = ReadThreads();
        const auto t0 = Clock::now();
        const unsigned frames = FeedUpload(file);
        const double seconds = Seconds(Clock::now() - t0);
        const ThreadUsage used = UsedSince(before, simThreads);
        std::printf("Upload: %zu bytes in %u frames, %.3f s: %.1f KiB/s, %.0f frames/s\n", size, frames, seconds,
                    static_cast<double>(size) / 1024.0 / seconds, frames / seconds);
        std::printf("Tool threads during the upload: CPU %.3f s (%.0f%% of one core), %.1f us and %.2f "
                    "switches per frame\n",
                    used.cpuSeconds, 100.0 * used.cpuSeconds / seconds, 1e6 * used.cpuSeconds / frames,
                    static_cast<double>(used.switches) / frames);
        if (paced) {
            // Per chunk: the receiver's "OK:" (9 bytes) and the 73-byte chunk
            // frame, 11 bit times each at 38400 baud.
            const double lineKiBs = 64.0 / ((9 + 73) * 11.0 / 38400.0) / 1024.0;
            std::printf("Line limit at 38400 baud: %.1f KiB/s\n", lineKiBs);
        }
        if (sim) {
            sim->WaitUntil([](const SimReport& r) { return r.commands.size() >= 2; }, std::chrono::seconds(10));
            const SimReport report = sim->Report();
            const bool whole = report.files.size() == 1 && report.files[0].data == file && report.errors.empty();
            std::printf("Receiver got the file %s\n", whole ? "whole" : "WRONG");
            if (!whole) {
                std::cout << report.Summary();
                status = 3;
            }
        }
    }
    g_bUploadFinished.Set();
    window.PumpUntil(window.m_bClosed, std::chrono::seconds(10));
    if (sim)
        sim->Stop();
    CloseCommPort();
    JoinWorkerThreads(std::chrono::seconds(10));
    return status;
}
