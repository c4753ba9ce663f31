// link_bench: runs LinkThread through the speed handshake and one upload and
// prints the figures as one table: time to the handshake, upload throughput,
// frames per second, and the CPU time and wake-ups (context switches) of the
// tool's threads meanwhile: a link waiting on a silent line must sleep, and
// each chunk should cost as little CPU as possible. The in-process receiver's
// own thread is left out of these figures.
//
// Without --device the receiver is simulated in this process on a pty, once
// unpaced (as fast as the pty goes) and once paced at a real line's timing,
// each run a column of the table. With --device the tool side opens that
// path instead: run `receiver-sim` in another terminal and pass the path it
// prints, to watch the handshake and the upload from the receiver's side.
#include <dirent.h>
#include <sys/types.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <memory>
#include <map>
#include <optional>
#include <set>
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

// What one run of the link measured.
struct Run {
    std::string name;                // the table's column
    std::optional<ThreadUsage> idle;  // the tool's threads on a silent line
    double idleSeconds = 0;
    std::optional<double> handshakeSeconds, handshakeCpu;
    std::size_t bytes = 0;
    unsigned frames = 0;
    double uploadSeconds = 0;
    std::optional<ThreadUsage> upload;  // the tool's threads during the upload
    bool paced = false;
    std::string received;  // what the receiver got, "" when not checked
    std::string problem;   // why the run stopped short, "" when it did not
};

struct RunOptions {
    std::string device;  // "" for the receiver simulated in this process
    bool paced = false;
    std::size_t size = 0;
    double idleSeconds = 0;
    bool handshakeOnly = false;
};


Run RunLink(const std::string& name, const RunOptions& options) {
    Run run;
    run.name = name;
    run.paced = options.paced;
    std::unique_ptr<ReceiverSim> sim;
    std::string path = options.device;
    if (path.empty()) {
        SimOptions simOptions;
        simOptions.paced = options.paced;
        simOptions.framesBeforeMon = 2;
        simOptions.keepFileData = true;
        std::string reason;
        sim = ReceiverSim::CreatePty(simOptions, &reason);
        if (!sim) {
            run.problem = "no simulated receiver: " + reason;
            return run;
        }
        path = sim->ToolPath();
    }

    ResetLinkState();
    PortSettings settings;
    settings.m_strDevice = path;
    std::string reason;
    if (!OpenCommPort(settings, &reason)) {
        run.problem = "cannot open the port: " + reason;
        return run;
    }
    LinkWindow window;
    AfxBeginThread(LinkThread, reinterpret_cast<void*>(static_cast<std::uintptr_t>(window.m_hwnd)));
    if (sim && options.idleSeconds > 0) {
        // The receiver is still switched off: the link waits on a silent
        // line. This thread only sleeps meanwhile: it is left out.
        std::this_thread::sleep_for(std::chrono::milliseconds(100));  // let the link settle
        const ThreadTable before = ReadThreads();
        std::this_thread::sleep_for(std::chrono::duration<double>(options.idleSeconds));
        run.idle = UsedSince(before, {static_cast<pid_t>(gettid())});
        run.idleSeconds = options.idleSeconds;
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
    } else {
        std::fprintf(stderr, "link_bench: waiting for the receiver's \"MON:\" on %s ...\n", path.c_str());
    }
    const ThreadTable beforeHandshake = ReadThreads();
    if (!window.PumpUntil(window.m_bReady, std::chrono::seconds(sim ? 30 : 600))) {
        run.problem = "no handshake";
        g_bAbort.Set();
        CloseCommPort();
        JoinWorkerThreads(std::chrono::seconds(10));
        return run;
    }
    run.handshakeSeconds = Seconds(Clock::now() - start);
    run.handshakeCpu = UsedSince(beforeHandshake, simThreads).cpuSeconds;

    if (!options.handshakeOnly) {
        std::vector<std::uint8_t> file(options.size);
        for (std::size_t i = 0; i < options.size; ++i)
            file[i] = static_cast<std::uint8_t>(i * 131 + (i >> 8));
        const ThreadTable before = ReadThreads();
        const auto t0 = Clock::now();
        run.frames = FeedUpload(file);
        run.uploadSeconds = Seconds(Clock::now() - t0);
        run.upload = UsedSince(before, simThreads);
        run.bytes = options.size;
        if (sim) {
            sim->WaitUntil([](const SimReport& r) { return r.commands.size() >= 2; }, std::chrono::seconds(10));
            const SimReport report = sim->Report();
            const bool whole = report.files.size() == 1 && report.files[0].data == file && report.errors.empty();
            run.received = whole ? "whole" : "WRONG";
            if (!whole)
                std::fprintf(stderr, "link_bench: %s run, the receiver got:\n%s", name.c_str(), report.Summary().c_str());
        }
    }
    g_bUploadFinished.Set();
    window.PumpUntil(window.m_bClosed, std::chrono::seconds(10));
    if (sim)
        sim->Stop();
    CloseCommPort();
    JoinWorkerThreads(std::chrono::seconds(10));
    return run;
}

std::string Format(const char* format, auto... values) {
    char text[256];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

// One row of the table: the figure, and what each run gives for it ("" for
// a run that has none).
void PrintRow(const std::vector<Run>& runs, const std::string& figure,
              const std::function<std::string(const Run&)>& value) {
    std::printf("| %s |", figure.c_str());
    for (const Run& run : runs) {
        const std::string text = run.problem.empty() ? value(run) : "FAILED: " + run.problem;
        std::printf(" %s |", text.empty() ? "-" : text.c_str());
    }
    std::printf("\n");
}

void PrintTable(const std::vector<Run>& runs) {
    // The line's limit: one "OK:" and one whole chunk frame per chunk.
    const double lineBytesPerSecond = 1000.0 * frame::kChunkDataSize / ChunkMilliseconds(0);
    std::printf("| figure |");
    for (const Run& run : runs)
        std::printf(" %s |", run.name.c_str());
    std::printf("\n|---|");
    for (std::size_t i = 0; i < runs.size(); ++i)
        std::printf("---|");
    std::printf("\n");
    PrintRow(runs, "CPU while waiting on a silent line (the link's threads)", [](const Run& run) {
        return run.idle ? Format("%.3f %% of a core (over %.1f s)", 100.0 * run.idle->cpuSeconds / run.idleSeconds,
                                 run.idleSeconds)
                        : std::string();
    });
    PrintRow(runs, "wake-ups while waiting on a silent line (context switches of the link's threads)", [](const Run& run) {
        return run.idle ? Format("%.1f /s", static_cast<double>(run.idle->switches) / run.idleSeconds) : std::string();
    });
    PrintRow(runs, "speed handshake: the receiver's start to the port at 38400 baud", [](const Run& run) {
        return run.handshakeSeconds ? Format("%.3f s (CPU %.4f s)", *run.handshakeSeconds, *run.handshakeCpu)
                                    : std::string();
    });
    PrintRow(runs, "upload: header, chunks and the closing command", [&](const Run& run) {
        if (!run.upload)
            return std::string();
        const double bytesPerSecond = static_cast<double>(run.bytes) / run.uploadSeconds;
        std::string text = Format("%zu bytes in %u frames, %.3f s: %.1f KiB/s, %.0f frames/s", run.bytes, run.frames,
                                  run.uploadSeconds, bytesPerSecond / 1024.0, run.frames / run.uploadSeconds);
        if (run.paced)
            text += Format(" (%.3f of the line's limit, %.1f KiB/s)", bytesPerSecond / lineBytesPerSecond,
                           lineBytesPerSecond / 1024.0);
        return text;
    });
    PrintRow(runs, "the tool's threads during the upload", [](const Run& run) {
        if (!run.upload)
            return std::string();
        return Format("CPU %.3f s (%.1f %% of a core): %.1f µs and %.2f context switches per frame",
                      run.upload->cpuSeconds, 100.0 * run.upload->cpuSeconds / run.uploadSeconds,
                      1e6 * run.upload->cpuSeconds / run.frames,
                      static_cast<double>(run.upload->switches) / run.frames);
    });
    PrintRow(runs, "the file at the receiver", [](const Run& run) { return run.received; });
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Link benchmark: LinkThread through the handshake and one upload, unpaced and paced, as one table."};
    RunOptions options;
    options.size = 64 * 1024;
    options.idleSeconds = 1.0;
    std::size_t pacedSize = 64 * 1024;
    bool quick = false;
    app.add_option("--device", options.device,
                   "Open this path as the tool's port (e.g. the pty printed by receiver-sim) instead of "
                   "simulating the receiver in this process");
    app.add_option("--size", options.size, "Bytes in the data file of the unpaced run (at least 6)")
        ->default_val(options.size)
        ->check(CLI::Range(6, 1 << 26));
    app.add_option("--paced-size", pacedSize,
                   "Bytes in the data file of the run paced at the line's real timing (0 skips that run)")
        ->default_val(pacedSize)
        ->check(CLI::Range(0, 1 << 26));
    app.add_flag("--handshake-only", options.handshakeOnly, "Stop after the speed handshake");
    app.add_option("--idle-seconds", options.idleSeconds,
                   "In-process only: let the link wait on a silent line this long first and report its CPU use")
        ->default_val(options.idleSeconds)
        ->check(CLI::Range(0.0, 60.0));
    app.add_flag("--quick", quick, "A short run: 16 KiB unpaced, 4 KiB paced, 0.5 s of waiting");
    CLI11_PARSE(app, argc, argv);
    if (quick) {
        options.size = std::min<std::size_t>(options.size, 16 * 1024);
        pacedSize = std::min<std::size_t>(pacedSize, 4 * 1024);
        options.idleSeconds = std::min(options.idleSeconds, 0.5);
    }
    if (pacedSize > 0 && pacedSize < 6) {
        std::fprintf(stderr, "link_bench: --paced-size must be 0 or at least 6\n");
        return 2;
    }

    PrintMachineAtStart();
    std::vector<Run> runs;
    if (!options.device.empty()) {
        runs.push_back(RunLink("receiver on the device", options));
    } else {
        runs.push_back(RunLink("unpaced", options));
        if (pacedSize > 0) {
            RunOptions paced = options;
            paced.paced = true;
            paced.size = pacedSize;
            runs.push_back(RunLink("paced at 38400 baud", paced));
        }
    }
    PrintLoadAtEnd();
    std::printf("\n");
    PrintTable(runs);
    const bool failed = std::any_of(runs.begin(), runs.end(),
                                    [](const Run& run) { return !run.problem.empty() || run.received == "WRONG"; });
    return failed ? 1 : 0;
}
