// receiver_bench: the tool's performance and footprint as a table, every
// figure measured side by side in one run, so that ratios hold on a machine
// whose speed changes from minute to minute.
//
// It runs the real programs as processes over pseudo-terminals:
//  - the tool, `receiver-downloader --no-gui`, waiting for a receiver that
//    stays silent: wake-ups and CPU from /proc while it waits;
//  - the tool against this program's own lean receiver (bench_receiver.h),
//    in rounds alternating with `minimal_responder`, which answers each
//    "OK:" with a fixed chunk: answer time, rate and CPU per chunk, each
//    against the responder's;
//  - the tool against `receiver-sim` unpaced with a large data file: the
//    tool's peak RSS and libraries, and the simulator's time, RSS and CPU;
//  - many paced `receiver-sim` and tools at once: each one's rate against
//    the line's limit, their CPU together, the private memory of each tool;
//  - one station (`receiver-downloader --port ... --port ...`) against as
//    many paced `receiver-sim`: its wall time, each port's rate against the
//    line's limit, the CPU of the station and of its children;
//  - the tool against a paced `receiver-sim` behind a USB adapter with a
//    latency timer of 0, 1, 4 and 16 ms: the rate against the one the
//    formula gives (one "OK:", the whole timer and one chunk per chunk).
//
// The programs are looked for next to this one and one folder up (the build
// tree's layout), or given with --tool, --sim and --responder.
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iostream>
#include <numeric>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "bench_machine.h"
#include "bench_process.h"
#include "bench_receiver.h"
#include "link/frame_format.h"
#include "link/latency_cost.h"
#include "sim/sim_report.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// One chunk at the line's real pace: the receiver's "OK:" (9 bytes) and the
// tool's chunk frame (73 bytes), 11 bit times a byte at 38400 baud.
const double kLineChunksPerSecond = 1000.0 / ChunkMilliseconds(0);
// The adapter latencies the latency row runs at.
constexpr int kAdapterLatenciesMs[] = {0, 1, 4, 16};

struct Options {
    std::string tool, sim, responder;
    unsigned chunks = 20000;
    unsigned rounds = 3;
    double idleSeconds = 5;
    unsigned bigMiB = 64;
    unsigned receivers = 16;
    unsigned scaleKiB = 32;
    unsigned stationPorts = 16;
    unsigned latencyKiB = 32;
};

// ---------------------------------------------------------------------------
// The table

struct Row {
    std::string figure, now, goal, verdict;
};

std::string Format(const char* format, auto... values) {
    char text[512];
    std::snprintf(text, sizeof text, format, values...);
    return text;
}

std::string Verdict(bool pass) {
    return pass ? "PASS" : "MISS";
}

Row Skipped(const std::string& figure, const std::string& goal, const std::string& why) {
    return {figure, why, goal, "-"};
}

void PrintTable(const std::vector<Row>& rows) {
    std::printf("| figure | now | goal | |\n|---|---|---|---|\n");
    for (const Row& row : rows)
        std::printf("| %s | %s | %s | %s |\n", row.figure.c_str(), row.now.c_str(), row.goal.c_str(),
                    row.verdict.c_str());
}

// ---------------------------------------------------------------------------
// Files for the tool

// A data file of reproducible bytes, its script (a command, a second
// command, the file, the closing command) and the file's SHA-256.
struct Upload {
    std::string script;
    std::uint64_t size = 0;
    std::string sha256;
};

std::optional<Upload> WriteUpload(const fs::path& folder, const std::string& name, std::uint64_t size) {
    Upload upload;
    upload.size = size;
    upload.script = (folder / (name + ".cmd")).string();
    std::ofstream data(folder / (name + ".bin"), std::ios::binary);
    Sha256Stream hash;
    std::vector<std::uint8_t> block(1 << 20);
    std::uint64_t state = 0x9E3779B97F4A7C15ull ^ size;
    for (std::uint64_t done = 0; done < size;) {
        const std::size_t n = static_cast<std::size_t>(std::min<std::uint64_t>(block.size(), size - done));
        for (std::size_t i = 0; i < n; ++i) {
            state ^= state << 13;
            state ^= state >> 7;
            state ^= state << 17;
            block[i] = static_cast<std::uint8_t>(state >> 24);
        }
        data.write(reinterpret_cast<const char*>(block.data()), static_cast<std::streamsize>(n));
        hash.Update(block.data(), n);
        done += n;
    }
    std::ofstream script(upload.script, std::ios::binary);
    script << "CE000001\r\nCQ\r\nF" << name << ".bin\r\nCX\r\n";
    if (!data || !script)
        return std::nullopt;
    upload.sha256 = hash.Hex();
    return upload;
}

// A file of whole chunks and a last one of 1 byte, so that its end shows.
std::uint64_t SizeForChunks(std::uint64_t chunks) {
    return frame::kHeaderDataSize + frame::kChunkDataSize * chunks + 1;
}

std::vector<std::string> ToolArgs(const Options& options, const std::string& port, const std::string& script) {
    return {options.tool, "--no-gui", "--port", port, "--script", script};
}

std::unique_ptr<ChildProcess> StartOrSay(const std::vector<std::string>& argv) {
    std::string reason;
    std::unique_ptr<ChildProcess> child = ChildProcess::Start(argv, &reason);
    if (!child)
        std::fprintf(stderr, "receiver_bench: cannot start %s: %s\n", argv[0].c_str(), reason.c_str());
    return child;
}

// A receiver-sim process and the pty path it prints.
struct SimProcess {
    std::unique_ptr<ChildProcess> child;
    std::string port;
};

std::optional<SimProcess> StartSim(const Options& options, bool paced, int adapterLatencyMs = 0) {
    std::vector<std::string> argv = {options.sim, "--quiet"};
    if (paced)
        argv.push_back("--paced");
    if (adapterLatencyMs > 0)
        argv.insert(argv.end(), {"--adapter-latency-ms", std::to_string(adapterLatencyMs)});
    SimProcess sim;
    sim.child = StartOrSay(argv);
    const std::string prefix = "Tool port: ";
    if (!sim.child || !sim.child->WaitForOutput("\n(", 20s)) {
        std::fprintf(stderr, "receiver_bench: %s printed no port\n", options.sim.c_str());
        return std::nullopt;
    }
    const std::string output = sim.child->Output();
    const std::size_t at = output.find(prefix);
    if (at == std::string::npos)
        return std::nullopt;
    sim.port = output.substr(at + prefix.size(), output.find('\n', at) - at - prefix.size());
    return sim;
}

// The first data file line of a receiver-sim summary:
// "  1: N bytes, SHA-256 H, complete, C chunks in S s (R chunks/s)".
struct SimFileLine {
    std::uint64_t size = 0;
    std::string sha256;
    bool complete = false;
    double seconds = 0, chunksPerSecond = 0;
};

std::optional<SimFileLine> ParseSimFile(const std::string& summary) {
    static const std::regex line(
        R"(\n  1: (\d+) bytes, SHA-256 ([0-9a-f]+), (complete|INCOMPLETE)[^\n]*?(?:, \d+ chunks in ([\d.]+) s \(([\d.]+) chunks/s\))?\n)");
    std::smatch match;
    if (!std::regex_search(summary, match, line))
        return std::nullopt;
    SimFileLine file;
    file.size = std::stoull(match[1]);
    file.sha256 = match[2];
    file.complete = match[3] == "complete";
    if (match[4].matched) {
        file.seconds = std::stod(match[4]);
        file.chunksPerSecond = std::stod(match[5]);
    }
    return file;
}

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty())
        return 0;
    const std::size_t at = std::min(values.size() - 1, static_cast<std::size_t>(fraction * values.size()));
    std::nth_element(values.begin(), values.begin() + static_cast<long>(at), values.end());
    return values[at];
}

// ---------------------------------------------------------------------------
// The rows

std::vector<Row> WaitingRows(const Options& options, const Upload& upload) {
    const std::string wakeFigure = "wake-ups while waiting for the receiver (context switches, all threads)";
    const std::string cpuFigure = "CPU while waiting";
    std::string reason;
    std::unique_ptr<BenchReceiver> line = BenchReceiver::Create(&reason);
    std::unique_ptr<ChildProcess> tool = line ? StartOrSay(ToolArgs(options, line->ToolPath(), upload.script)) : nullptr;
    if (!tool || !tool->WaitForOutput("Waiting for Connection", 30s))
        return {Skipped(wakeFigure, "≤ 1 /s", "FAILED: the tool did not start waiting"), Skipped(cpuFigure, "≤ 0.1 %", "")};
    std::this_thread::sleep_for(1s);  // past the start
    const auto t0 = BenchClock::now();
    const auto switches0 = proc::ContextSwitches(tool->Pid());
    const auto cpu0 = proc::CpuSeconds(tool->Pid());
    std::this_thread::sleep_for(std::chrono::duration<double>(options.idleSeconds));
    const auto switches1 = proc::ContextSwitches(tool->Pid());
    const auto cpu1 = proc::CpuSeconds(tool->Pid());
    const double seconds = std::chrono::duration<double>(BenchClock::now() - t0).count();
    tool->Signal(SIGINT);
    tool->Wait(10s);
    if (!switches0 || !switches1 || !cpu0 || !cpu1)
        return {Skipped(wakeFigure, "≤ 1 /s", "FAILED: the tool ended while waiting"), Skipped(cpuFigure, "≤ 0.1 %", "")};
    const double wakeups = static_cast<double>(*switches1 - *switches0) / seconds;
    const double cpuPercent = 100.0 * (*cpu1 - *cpu0) / seconds;
    return {{wakeFigure, Format("%.1f /s (over %.1f s)", wakeups, seconds), "≤ 1 /s", Verdict(wakeups <= 1.0)},
            {cpuFigure, Format("%.3f %% of a core", cpuPercent), "≤ 0.1 %", Verdict(cpuPercent <= 0.1)}};
}

struct Timed {
    std::vector<double> micros;
    unsigned chunks = 0;
    double seconds = 0;
    double cpuSeconds = 0;  // tool only: between its first and last chunk
    unsigned cpuChunks = 0;
    std::string problem;
};

void RunResponder(const Options& options, Timed* timed) {
    std::string reason;
    std::unique_ptr<BenchReceiver> line = BenchReceiver::Create(&reason);
    std::unique_ptr<ChildProcess> responder = line ? StartOrSay({options.responder, line->ToolPath()}) : nullptr;
    if (!responder || !line->AwaitAnswering(10s)) {
        timed->problem = "the minimal responder did not answer";
        return;
    }
    const BenchReceiver::Transfer transfer = line->Run(options.chunks, {}, {});
    line.reset();  // hangs up: the responder ends
    responder->Wait(10s);
    if (!transfer.problem.empty())
        timed->problem = "minimal responder: " + transfer.problem;
    timed->micros.insert(timed->micros.end(), transfer.answerMicros.begin(), transfer.answerMicros.end());
    timed->chunks += transfer.chunks;
    timed->seconds += transfer.seconds;
}

void RunTool(const Options& options, const Upload& upload, Timed* timed) {
    std::string reason;
    std::unique_ptr<BenchReceiver> line = BenchReceiver::Create(&reason);
    std::unique_ptr<ChildProcess> tool = line ? StartOrSay(ToolArgs(options, line->ToolPath(), upload.script)) : nullptr;
    if (!tool || !line->Handshake(30s)) {
        timed->problem = "the tool did not complete the handshake";
        return;
    }
    std::optional<double> cpuFirst, cpuLast;
    const BenchReceiver::Transfer transfer =
        line->Run(0, [&] { cpuFirst = proc::CpuSeconds(tool->Pid()); }, [&] { cpuLast = proc::CpuSeconds(tool->Pid()); });
    // On to the end of the script ("X"), so that the tool ends as it should.
    line->Run(0, {}, {});
    const ChildProcess::Exit exit = tool->Wait(20s);
    if (!transfer.problem.empty() || exit.status != 0)
        timed->problem = "tool: " + (transfer.problem.empty() ? "exit status " + std::to_string(exit.status) : transfer.problem);
    timed->micros.insert(timed->micros.end(), transfer.answerMicros.begin(), transfer.answerMicros.end());
    timed->chunks += transfer.chunks;
    timed->seconds += transfer.seconds;
    if (cpuFirst && cpuLast && transfer.chunks > 1) {
        timed->cpuSeconds += *cpuLast - *cpuFirst;
        timed->cpuChunks += transfer.chunks - 1;
    }
}

std::vector<Row> AnswerRows(const Options& options, const Upload& upload) {
    const std::string answerFigure = "answer time after an \"OK:\" during a transfer, unpaced: median / p99";
    const std::string rateFigure = "unpaced rate";
    const std::string cpuFigure = "CPU per chunk (all threads of the tool)";
    Timed tool, responder;
    for (unsigned round = 0; round < options.rounds; ++round) {
        RunResponder(options, &responder);
        RunTool(options, upload, &tool);
    }
    const std::string problem = !tool.problem.empty() ? tool.problem : responder.problem;
    if (!problem.empty() || tool.chunks == 0 || responder.chunks == 0)
        return {Skipped(answerFigure, "", "FAILED: " + problem), Skipped(rateFigure, "", ""), Skipped(cpuFigure, "", "")};

    const double toolMedian = Percentile(tool.micros, 0.5), toolP99 = Percentile(tool.micros, 0.99);
    const double respMedian = Percentile(responder.micros, 0.5), respP99 = Percentile(responder.micros, 0.99);
    const double medianRatio = toolMedian / respMedian;
    const double toolRate = tool.chunks / tool.seconds, respRate = responder.chunks / responder.seconds;
    const double rateRatio = toolRate / respRate;
    const double cpuMicros = tool.cpuChunks > 0 ? 1e6 * tool.cpuSeconds / tool.cpuChunks : 0;
    return {
        {answerFigure,
         Format("tool %.1f / %.1f µs; minimal responder %.1f / %.1f µs: median %.2f×", toolMedian, toolP99, respMedian,
                respP99, medianRatio),
         "median ≤ 1.5 × the minimal responder's, p99 ≤ 100 µs", Verdict(medianRatio <= 1.5 && toolP99 <= 100)},
        {rateFigure,
         Format("tool %.0f chunks/s, minimal responder %.0f chunks/s: %.2f of it", toolRate, respRate, rateRatio),
         "≥ 0.8 of the minimal responder's", Verdict(rateRatio >= 0.8)},
        {cpuFigure, Format("%.1f µs", cpuMicros), "≤ 10 µs", Verdict(cpuMicros <= 10)},
    };
}

std::vector<Row> BigFileRows(const Options& options, const Upload& upload) {
    const std::string rssFigure = Format("terminal mode peak RSS (%u MiB data file)", options.bigMiB);
    const std::string rssGoal = "≤ 8 MiB, no GUI library loaded";
    const std::string simFigure = Format("`receiver-sim`, %u MiB unpaced", options.bigMiB);
    const std::string simGoal = "≤ 60 s, RSS ≤ 16 MiB, never slower than the tool (CPU ≤ the tool's)";
    std::optional<SimProcess> sim = StartSim(options, false);
    std::unique_ptr<ChildProcess> tool = sim ? StartOrSay(ToolArgs(options, sim->port, upload.script)) : nullptr;
    if (!tool)
        return {Skipped(rssFigure, rssGoal, "FAILED to start"), Skipped(simFigure, simGoal, "")};

    // RSS once a second while the upload runs (flat, or growing with the
    // file?), and the libraries once the tool is up.
    std::vector<double> rss;
    std::vector<std::string> libraries;
    std::optional<ChildProcess::Exit> toolExit;
    const auto deadline = BenchClock::now() + 30min;
    while (!(toolExit = tool->WaitFor(1s)) && BenchClock::now() < deadline) {
        if (libraries.empty())
            libraries = proc::SharedLibraries(tool->Pid());
        if (const auto now = proc::StatusMiB(tool->Pid(), "VmRSS"))
            rss.push_back(*now);
    }
    if (!toolExit)
        toolExit = tool->Wait(0ms);
    const double toolSeconds = std::chrono::duration<double>(toolExit->at - tool->Started()).count();
    sim->child->Signal(SIGINT);
    const ChildProcess::Exit simExit = sim->child->Wait(30s);
    const std::optional<SimFileLine> file = ParseSimFile(sim->child->Output());
    const bool whole = toolExit->status == 0 && file && file->complete && file->size == upload.size &&
                       file->sha256 == upload.sha256;

    const std::vector<std::string> gui = GuiLibraries(libraries);
    std::string guiText = gui.empty() ? "no GUI library" : Format("GUI: %zu (", gui.size());
    for (std::size_t i = 0; i < gui.size() && i < 4; ++i)
        guiText += (i ? ", " : "") + gui[i];
    if (!gui.empty())
        guiText += gui.size() > 4 ? ", ...)" : ")";
    std::vector<Row> rows;
    rows.push_back({rssFigure,
                    Format("%.1f MiB (during the upload %.1f → %.1f MiB), %zu shared libraries, %s",
                           toolExit->maxRssMiB, rss.empty() ? 0.0 : rss.front(), rss.empty() ? 0.0 : rss.back(),
                           libraries.size(), guiText.c_str()),
                    rssGoal, whole ? Verdict(toolExit->maxRssMiB <= 8 && gui.empty()) : "FAILED"});
    const std::string received =
        whole ? "file whole" : (file ? "file WRONG or incomplete" : "no summary") +
                                   Format(" (tool exit status %d)", toolExit->status);
    rows.push_back({simFigure,
                    Format("%.1f s (file %.1f s), RSS %.1f MiB, CPU %.1f s against the tool's %.1f s; %s", toolSeconds,
                           file ? file->seconds : 0.0, simExit.maxRssMiB, simExit.cpuSeconds, toolExit->cpuSeconds,
                           received.c_str()),
                    simGoal,
                    whole ? Verdict(toolSeconds <= 60 && simExit.maxRssMiB <= 16 &&
                                    simExit.cpuSeconds <= toolExit->cpuSeconds)
                          : "FAILED"});
    return rows;
}

Row ScaleRow(const Options& options, const Upload& upload) {
    const std::string figure = Format("%u receivers at once (%u paced simulators, %u tools)", options.receivers,
                                      options.receivers, options.receivers);
    const std::string goal = "each ≥ 0.99 of the line's limit, all together ≤ 0.1 core, ≤ 4 MiB private memory per extra receiver";
    std::vector<SimProcess> sims;
    std::vector<std::unique_ptr<ChildProcess>> tools;
    for (unsigned i = 0; i < options.receivers; ++i) {
        std::optional<SimProcess> sim = StartSim(options, true);
        if (!sim)
            return Skipped(figure, goal, "FAILED to start a simulator");
        sims.push_back(std::move(*sim));
    }
    for (const SimProcess& sim : sims) {
        tools.push_back(StartOrSay(ToolArgs(options, sim.port, upload.script)));
        if (!tools.back())
            return Skipped(figure, goal, "FAILED to start a tool");
    }
    // The window: every tool in its transfer (the data file's line
    // printed), none done.
    for (const auto& tool : tools)
        if (!tool->WaitForOutput("Command: S", 120s))
            return Skipped(figure, goal, "FAILED: a tool did not start its transfer");
    std::vector<double> toolCpu0, simCpu0;
    for (std::size_t i = 0; i < tools.size(); ++i) {
        toolCpu0.push_back(proc::CpuSeconds(tools[i]->Pid()).value_or(0));
        simCpu0.push_back(proc::CpuSeconds(sims[i].child->Pid()).value_or(0));
    }
    const auto t0 = BenchClock::now();
    std::this_thread::sleep_for(3s);
    double toolCpu = 0, simCpu = 0, privateMax = 0, privateSum = 0;
    bool windowInside = true;
    for (std::size_t i = 0; i < tools.size(); ++i) {
        const auto cpu = proc::CpuSeconds(tools[i]->Pid());
        const auto simCpu1 = proc::CpuSeconds(sims[i].child->Pid());
        const auto privateMiB = proc::PrivateMiB(tools[i]->Pid());
        windowInside = windowInside && cpu && simCpu1 && privateMiB &&
                       tools[i]->Output().find("Command: X") == std::string::npos;
        toolCpu += cpu.value_or(0) - toolCpu0[i];
        simCpu += simCpu1.value_or(0) - simCpu0[i];
        privateMax = std::max(privateMax, privateMiB.value_or(0));
        privateSum += privateMiB.value_or(0);
    }
    const double window = std::chrono::duration<double>(BenchClock::now() - t0).count();

    double slowest = 1e9;
    bool allWhole = true;
    for (std::size_t i = 0; i < tools.size(); ++i) {
        const ChildProcess::Exit exit = tools[i]->Wait(10min);
        sims[i].child->Signal(SIGINT);
        sims[i].child->Wait(30s);
        const std::optional<SimFileLine> file = ParseSimFile(sims[i].child->Output());
        const bool whole = exit.status == 0 && file && file->complete && file->sha256 == upload.sha256;
        allWhole = allWhole && whole;
        slowest = std::min(slowest, whole ? file->chunksPerSecond / kLineChunksPerSecond : 0.0);
    }
    const double cores = toolCpu / window;
    const std::string now =
        Format("slowest at %.3f of the line's limit (%.2f chunks/s); the tools' CPU %.4f core (the simulators' %.3f); "
               "private memory per tool %.2f MiB (largest %.2f)%s",
               slowest, kLineChunksPerSecond, cores, simCpu / window, privateSum / tools.size(), privateMax,
               windowInside ? "" : " [window not inside every transfer]");
    if (!allWhole)
        return {figure, now, goal, "FAILED: a file did not arrive whole"};
    return {figure, now, goal, Verdict(slowest >= 0.99 && cores <= 0.1 && privateMax <= 4)};
}

Row StationRow(const Options& options, const Upload& upload) {
    const unsigned ports = options.stationPorts;
    const std::string figure = Format("%u-port station (one `receiver-downloader` with %u ports, %u paced simulators)",
                                      ports, ports, ports);
    const std::string goal = "each port ≥ 0.99 of the line's limit; the station itself ≤ 0.01 core";
    std::vector<SimProcess> sims;
    std::vector<std::string> argv = {options.tool, "--no-gui", "--script", upload.script};
    for (unsigned i = 0; i < ports; ++i) {
        std::optional<SimProcess> sim = StartSim(options, true);
        if (!sim)
            return Skipped(figure, goal, "FAILED to start a simulator");
        argv.insert(argv.end(), {"--port", sim->port});
        sims.push_back(std::move(*sim));
    }
    std::unique_ptr<ChildProcess> station = StartOrSay(argv);
    if (!station)
        return Skipped(figure, goal, "FAILED to start the station");
    // The station's own CPU as last seen before it ended; what it used with
    // its children comes from wait4.
    double parentCpu = 0;
    std::optional<ChildProcess::Exit> exit;
    const auto deadline = BenchClock::now() + 30min;
    while (!(exit = station->WaitFor(250ms)) && BenchClock::now() < deadline)
        parentCpu = proc::CpuSeconds(station->Pid()).value_or(parentCpu);
    if (!exit)
        exit = station->Wait(0ms);
    const double wall = std::chrono::duration<double>(exit->at - station->Started()).count();

    double slowest = 1e9, sum = 0;
    bool allWhole = exit->status == 0;
    for (SimProcess& sim : sims) {
        sim.child->Signal(SIGINT);
        sim.child->Wait(30s);
        const std::optional<SimFileLine> file = ParseSimFile(sim.child->Output());
        const bool whole = file && file->complete && file->sha256 == upload.sha256;
        allWhole = allWhole && whole;
        const double share = whole ? file->chunksPerSecond / kLineChunksPerSecond : 0.0;
        slowest = std::min(slowest, share);
        sum += share;
    }
    const double lineSeconds = static_cast<double>(upload.size) / frame::kChunkDataSize / kLineChunksPerSecond;
    const double childrenCpu = std::max(0.0, exit->cpuSeconds - parentCpu);
    const std::string now =
        Format("wall %.1f s (the file alone takes %.1f s at the line's limit); per port slowest %.3f, mean %.3f of "
               "the line's limit; CPU: station %.3f s (%.4f core), its %u children %.2f s (%.4f core, %.4f each)",
               wall, lineSeconds, slowest, sum / ports, parentCpu, parentCpu / wall, ports, childrenCpu,
               childrenCpu / wall, childrenCpu / wall / ports);
    if (!allWhole)
        return {figure, now, goal, Format("FAILED: exit status %d or a file not whole", exit->status)};
    return {figure, now, goal, Verdict(slowest >= 0.99 && parentCpu / wall <= 0.01)};
}

Row LatencyRow(const Options& options, const Upload& upload) {
    const std::string figure = "rate against adapter latency (paced `receiver-sim --adapter-latency-ms N`, one tool)";
    const std::string goal = "measured; the formula: one \"OK:\", the whole timer and one chunk frame per chunk";
    std::string now;
    std::string failure;
    for (const int latencyMs : kAdapterLatenciesMs) {
        std::optional<SimProcess> sim = StartSim(options, true, latencyMs);
        std::unique_ptr<ChildProcess> tool = sim ? StartOrSay(ToolArgs(options, sim->port, upload.script)) : nullptr;
        if (!tool)
            return Skipped(figure, goal, "FAILED to start");
        const ChildProcess::Exit exit = tool->Wait(30min);
        sim->child->Signal(SIGINT);
        sim->child->Wait(30s);
        const std::optional<SimFileLine> file = ParseSimFile(sim->child->Output());
        const bool whole = exit.status == 0 && file && file->complete && file->sha256 == upload.sha256;
        if (!whole)
            failure = Format("FAILED: the file did not arrive whole at %d ms", latencyMs);
        const double measured = whole ? file->chunksPerSecond : 0.0;
        const double formula = 1000.0 / ChunkMilliseconds(latencyMs);
        now += Format("%s%d ms: %.2f chunks/s, formula %.2f (%.3f of it; %.3f of the line's limit)",
                      now.empty() ? "" : "; ", latencyMs, measured, formula, measured / formula,
                      measured / kLineChunksPerSecond);
    }
    return {figure, now, goal, failure.empty() ? "-" : failure};
}

// ---------------------------------------------------------------------------

std::string FindProgram(const std::string& given, const std::string& name) {
    if (!given.empty())
        return given;
    const fs::path self = fs::read_symlink("/proc/self/exe").parent_path();
    for (const fs::path& folder : {self, self.parent_path()})
        if (fs::exists(folder / name))
            return (folder / name).string();
    return name;
}

// A program's path as printed: relative to the build tree (the folder above
// this program's) when it lies inside it, else its file name alone.
std::string ShownPath(const std::string& path) {
    const fs::path tree = fs::read_symlink("/proc/self/exe").parent_path().parent_path();
    const fs::path relative = fs::path(path).lexically_relative(tree);
    if (!relative.empty() && *relative.begin() != "..")
        return relative.string();
    return fs::path(path).filename().string();
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Receiver benchmark: the tool's wake-ups, memory, answer time, rate and CPU, the simulator's "
                 "speed, and many receivers at once, as one table with the goals."};
    Options options;
    app.add_option("--tool", options.tool, "receiver-downloader to run (default: next to this program or one up)");
    app.add_option("--sim", options.sim, "receiver-sim to run (default: next to this program or one up)");
    app.add_option("--responder", options.responder, "minimal_responder to run (default: next to this program)");
    app.add_option("--chunks", options.chunks, "Chunks per timed transfer")->default_val(options.chunks)->check(CLI::Range(100u, 10000000u));
    app.add_option("--rounds", options.rounds, "Timed transfers of the tool and of the minimal responder, alternating")
        ->default_val(options.rounds)->check(CLI::Range(1u, 100u));
    app.add_option("--idle-seconds", options.idleSeconds, "How long to watch the tool wait for a silent receiver")
        ->default_val(options.idleSeconds)->check(CLI::Range(1.0, 600.0));
    app.add_option("--big-mib", options.bigMiB, "Data file for the RSS and receiver-sim rows, in MiB (0 skips them)")
        ->default_val(options.bigMiB)->check(CLI::Range(0u, 4096u));
    app.add_option("--receivers", options.receivers, "Receivers at once for the scale row (0 skips it)")
        ->default_val(options.receivers)->check(CLI::Range(0u, 256u));
    app.add_option("--scale-kib", options.scaleKiB, "Data file of each receiver in the scale row, in KiB")
        ->default_val(options.scaleKiB)->check(CLI::Range(8u, 4096u));
    app.add_option("--station-ports", options.stationPorts, "Ports of the station row (0 skips it)")
        ->default_val(options.stationPorts)->check(CLI::Range(0u, 256u));
    app.add_option("--latency-kib", options.latencyKiB,
                   "Data file of the rate against adapter latency row, in KiB (0 skips it)")
        ->default_val(options.latencyKiB)->check(CLI::Range(0u, 4096u));
    bool quick = false;
    app.add_flag("--quick", quick, "A short run: 4 MiB file, 4 receivers, 1 round, 2 s of waiting");
    CLI11_PARSE(app, argc, argv);
    if (quick) {
        options.bigMiB = std::min(options.bigMiB, 4u);
        options.receivers = std::min(options.receivers, 4u);
        options.stationPorts = std::min(options.stationPorts, 4u);
        options.latencyKiB = std::min(options.latencyKiB, 8u);
        options.rounds = 1;
        options.idleSeconds = 2;
    }
    options.tool = FindProgram(options.tool, "receiver-downloader");
    options.sim = FindProgram(options.sim, "receiver-sim");
    options.responder = FindProgram(options.responder, "minimal_responder");

    char folderName[] = "/tmp/receiver_bench.XXXXXX";
    if (!mkdtemp(folderName)) {
        std::perror("receiver_bench: mkdtemp");
        return 1;
    }
    const fs::path folder = folderName;
    const std::optional<Upload> transfer = WriteUpload(folder, "transfer", SizeForChunks(options.chunks));
    const std::optional<Upload> big =
        options.bigMiB > 0 ? WriteUpload(folder, "big", std::uint64_t{options.bigMiB} << 20) : std::nullopt;
    const std::optional<Upload> scale =
        options.receivers + options.stationPorts > 0 ? WriteUpload(folder, "scale", std::uint64_t{options.scaleKiB} << 10) : std::nullopt;
    const std::optional<Upload> latency =
        options.latencyKiB > 0 ? WriteUpload(folder, "latency", std::uint64_t{options.latencyKiB} << 10) : std::nullopt;
    if (!transfer || (options.bigMiB > 0 && !big) || (options.receivers + options.stationPorts > 0 && !scale) ||
        (options.latencyKiB > 0 && !latency)) {
        std::fprintf(stderr, "receiver_bench: cannot write the data files to %s\n", folderName);
        return 1;
    }

    PrintMachineAtStart();
    std::printf("Tool: %s\nSimulator: %s\nMinimal responder: %s\n", ShownPath(options.tool).c_str(),
                ShownPath(options.sim).c_str(), ShownPath(options.responder).c_str());
    std::printf("Timed transfers: %u rounds of %u chunks each; waiting watched for %.1f s\n\n", options.rounds,
                options.chunks, options.idleSeconds);
    std::fflush(stdout);

    std::vector<Row> rows = WaitingRows(options, *transfer);
    if (options.bigMiB > 0) {
        std::vector<Row> bigRows = BigFileRows(options, *big);
        rows.push_back(bigRows[0]);
        std::vector<Row> answerRows = AnswerRows(options, *transfer);
        rows.insert(rows.end(), answerRows.begin(), answerRows.end());
        rows.push_back(bigRows[1]);
    } else {
        rows.push_back(Skipped("terminal mode peak RSS (64 MiB data file)", "≤ 8 MiB, no GUI library loaded", "skipped (--big-mib 0)"));
        std::vector<Row> answerRows = AnswerRows(options, *transfer);
        rows.insert(rows.end(), answerRows.begin(), answerRows.end());
        rows.push_back(Skipped("`receiver-sim`, 64 MiB unpaced", "≤ 60 s, RSS ≤ 16 MiB, never slower than the tool", "skipped (--big-mib 0)"));
    }
    rows.push_back(options.receivers > 0 ? ScaleRow(options, *scale)
                                         : Skipped("16 receivers at once", "each ≥ 0.99 of the line's limit, ≤ 0.1 core, ≤ 4 MiB each", "skipped (--receivers 0)"));
    rows.push_back(options.stationPorts > 0 ? StationRow(options, *scale)
                                            : Skipped("16-port station", "each port ≥ 0.99 of the line's limit", "skipped (--station-ports 0)"));
    rows.push_back(options.latencyKiB > 0 ? LatencyRow(options, *latency)
                                          : Skipped("rate against adapter latency", "measured", "skipped (--latency-kib 0)"));

    std::error_code error;
    fs::remove_all(folder, error);
    PrintLoadAtEnd();
    std::printf("\n");
    PrintTable(rows);
    const bool failed = std::any_of(rows.begin(), rows.end(), [](const Row& row) {
        return row.verdict.rfind("FAILED", 0) == 0 || row.now.rfind("FAILED", 0) == 0;
    });
    return failed ? 1 : 0;
}
