// receiver-sim: plays the receiver on a pseudo-terminal (or a serial device)
// so that the tool can be tried without one. Prints the path the tool should
// open, logs the dialogue, and prints a summary of what the tool sent when it
// ends (Ctrl-C, or the line hung up with --hangup-after).
#include <signal.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <atomic>
#include <cstdio>
#include <iostream>
#include <mutex>

#include "sim/receiver_sim.h"

namespace {

std::atomic<ReceiverSim*> g_pSim{nullptr};

void OnSignal(int) {
    if (ReceiverSim* sim = g_pSim.load())
        sim->RequestStop();
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
    app.add_flag("--paced", options.paced,
                 "Pace bytes at the real line speed: 11 bit times per byte at the current baud");
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
    app.add_flag("-q,--quiet", quiet, "Do not log each frame; print only the path and the summary");
    CLI11_PARSE(app, argc, argv);

    std::mutex outputMutex;
    if (!quiet) {
        options.log = [&outputMutex](const std::string& line) {
            std::lock_guard lock(outputMutex);
            std::cout << line << std::endl;
        };
    }

    std::string reason;
    std::unique_ptr<ReceiverSim> sim = device.empty() ? ReceiverSim::CreatePty(options, &reason)
                                                      : ReceiverSim::OpenDevice(device, options, &reason);
    if (!sim) {
        std::cerr << "receiver-sim: " << reason << std::endl;
        return 1;
    }

    g_pSim = sim.get();
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    {
        std::lock_guard lock(outputMutex);
        std::cout << "Tool port: " << sim->ToolPath() << std::endl;
        std::cout << "(open this path in the tool; Ctrl-C ends the simulator)" << std::endl;
    }
    sim->Start();
    // Until Ctrl-C or the hang-up fault: the signal handler stops the
    // simulator's thread, and nothing here wakes for the frames meanwhile.
    sim->WaitForEnd();
    sim->Stop();
    g_pSim = nullptr;
    const SimReport report = sim->Report();
    std::lock_guard lock(outputMutex);
    std::cout << "\n" << report.Summary();
    return report.errors.empty() ? 0 : 2;
}
