// receiver-sim: plays the receiver on a pseudo-terminal (or a serial device)
// so that the tool can be tried without one. Prints the path the tool should
// open, logs the dialogue, and prints a summary of what the tool sent when it
// ends (Ctrl-C, the line hung up with --hangup-after, or the last of --units).
// With --count N it plays N receivers at once, each on a pty of its own.
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <array>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <iostream>
#include <memory>
#include <mutex>
#include <vector>

#include "sim/receiver_sim.h"

namespace {

constexpr unsigned kMaxCount = 256;
// The receivers the signal handler stops: filled before it is installed.
std::array<std::atomic<ReceiverSim*>, kMaxCount> g_sims{};

void OnSignal(int) {
    for (auto& sim : g_sims)
        if (ReceiverSim* running = sim.load())
            running->RequestStop();
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Simulated receiver for Receiver Downloader.\n"
        "Creates a pseudo-terminal (or uses --device), prints the path the tool should open, and plays\n"
        "the receiver: a few boot frames, \"MON:\", the speed handshake to 38400 baud, then \"OK:\" frames,\n"
        "recording the commands and data files the tool sends. Runs until Ctrl-C (or the hang-up\n"
        "fault) and prints a summary: commands, file sizes and SHA-256, protocol errors seen."};
    SimOptions options;
    std::string device;
    bool quiet = false;
    unsigned count = 1;
    double nextUnitDelay = -1;
    app.add_option("--device", device,
                   "Serial device to play the receiver on (e.g. /dev/ttyUSB1 wired to the tool's port). "
                   "Without it a pseudo-terminal is created and its path printed.");
    app.add_option("--stray-every", options.strayEvery, "Send stray bytes in front of every Nth frame (0: never)")
        ->default_val(0);
    app.add_flag("--nul-bytes", options.nulBytes, "Sprinkle 0x00 bytes on the line (the tool's port discards them)");
    app.add_option("--bad-checksum-every", options.badChecksumEvery,
                   "Give every Nth frame a wrong checksum (0: never)")
        ->default_val(0);
    app.add_option("--error-after", options.errorAfter,
                   "Send \"ERROR\" as frame N, then stay quiet (0: never)")
        ->default_val(0);
    app.add_flag("--silent", options.silent, "Never send anything (a receiver that is switched off)");
    app.add_option("--hangup-after", options.hangupAfter,
                   "Close the line (hang-up) after N frames and end (0: never)")
        ->default_val(0);
    unsigned hangupAfterUploadFrames = 0;
    app.add_option("--hangup-after-upload-frames", hangupAfterUploadFrames,
                   "Close the line (hang-up) once the tool's Nth upload frame (command, header or\n"
                   "chunk) has come, after half a second of quiet, instead of asking for the next\n"
                   "one (0: never)")
        ->excludes("--hangup-after");
    app.add_flag("--paced", options.paced,
                 "Pace bytes at the real line speed: 11 bit times per byte at the current baud");
    app.add_option("--adapter-latency-ms", options.adapterLatencyMs,
                   "A USB adapter between receiver and tool with this latency timer, in ms: each frame reaches the "
                   "tool at the adapter's next transfer (0: none)")
        ->default_val(0)
        ->check(CLI::Range(0, 255));
    app.add_option("--frames-before-mon", options.framesBeforeMon,
                   "Frames of other text (\"BOOT1\" ...) before \"MON:\"")
        ->default_val(2);
    app.add_option("--answer-timeout-ms", options.answerTimeoutMs,
                   "How long to wait for the tool's answer before the next frame, in ms")
        ->default_val(200)
        ->check(CLI::Range(1, 60000));
    app.add_option("--idle-delay-ms", options.idleDelayMs,
                   "Pause after a \";\" answer before the next frame, in ms")
        ->default_val(2)
        ->check(CLI::Range(0, 60000));
    app.add_option("--next-unit-delay", nextUnitDelay,
                   "Unit after unit: once the tool has sent \"X\", the unit is done; S seconds later the\n"
                   "next one powers on (a new session at 19200 baud, faults counted afresh)")
        ->check(CLI::Range(0.0, 3600.0));
    app.add_option("--units", options.units,
                   "With --next-unit-delay: end after N units are done (0: no end)")
        ->default_val(0);
    app.add_option("--count", count, "Play N receivers at once, each on a pseudo-terminal of its own")
        ->check(CLI::Range(1u, kMaxCount))
        ->excludes("--device")
        ->default_val(1);
    app.add_flag("-q,--quiet", quiet, "Do not log each frame; print only the path and the summary");
    CLI11_PARSE(app, argc, argv);
    if (hangupAfterUploadFrames != 0) {
        options.fault = SimFault::HangUp;
        options.faultAfterUploadFrames = hangupAfterUploadFrames;
        options.hangupQuietMs = 500;
    }
    if (nextUnitDelay >= 0)
        options.nextUnitDelayMs = static_cast<int>(std::lround(nextUnitDelay * 1000));

    std::mutex outputMutex;
    std::vector<std::unique_ptr<ReceiverSim>> sims;
    for (unsigned i = 0; i < count; ++i) {
        SimOptions own = options;
        if (!quiet) {
            // Several receivers: each line says whose it is.
            const std::string prefix = count > 1 ? "[" + std::to_string(i + 1) + "] " : "";
            own.log = [&outputMutex, prefix](const std::string& line) {
                std::lock_guard lock(outputMutex);
                std::cout << prefix << line << std::endl;
            };
        }
        std::string reason;
        sims.push_back(device.empty() ? ReceiverSim::CreatePty(own, &reason)
                                      : ReceiverSim::OpenDevice(device, own, &reason));
        if (!sims.back()) {
            std::cerr << "receiver-sim: " << reason << std::endl;
            return 1;
        }
        g_sims[i] = sims.back().get();
    }

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    {
        std::lock_guard lock(outputMutex);
        for (const auto& sim : sims)
            std::cout << "Tool port: " << sim->ToolPath() << std::endl;
        std::cout << "(open " << (count > 1 ? "these paths" : "this path")
                  << " in the tool; Ctrl-C ends the simulator)" << std::endl;
    }
    for (const auto& sim : sims)
        sim->Start();
    // Until Ctrl-C, the hang-up fault or the last unit: the signal handler
    // stops the simulators' threads, and nothing here wakes for the frames
    // meanwhile.
    bool errors = false;
    for (std::size_t i = 0; i < sims.size(); ++i) {
        sims[i]->WaitForEnd();
        sims[i]->Stop();
        g_sims[i] = nullptr;
        const SimReport report = sims[i]->Report();
        bool unitErrors = false;
        for (const SimUnit& unit : report.units)
            unitErrors = unitErrors || !unit.errors.empty();
        errors = errors || !report.errors.empty() || unitErrors;
        std::lock_guard lock(outputMutex);
        std::cout << "\n";
        if (count > 1)
            std::cout << "Receiver " << (i + 1) << " (" << sims[i]->ToolPath() << "):\n";
        std::cout << report.Summary();
    }
    return errors ? 2 : 0;
}
