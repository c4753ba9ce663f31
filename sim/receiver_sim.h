// ReceiverSim: a simulated receiver on the far end of the tool's serial line.
//
// It talks over a pseudo-terminal it creates (the tool opens the slave side,
// ToolPath()), over a serial device it is given, or over a line inside the
// process that it creates (the tool opens the line's name; see
// platform/serial_memory.h), which needs no pseudo-terminals. It leads the dialogue the
// way the receiver does and records everything the tool sends.
//
// The session, from power-on:
//  1. framesBeforeMon frames of other text ("BOOT1", "BOOT2", ...), each
//     expected to be answered ";".
//  2. "MON:", expected to be answered "FAST". Without that answer (time-out or
//     any other answer) "MON:" is sent again.
//  3. "OK:" at the old speed, expected to be answered ";" or with a queued
//     command/data frame. Once that answer is in, the simulator moves its own
//     side to 38400 baud and counts a handshake. Without an answer it goes
//     back to step 2; an answer that comes late (while the next "MON:" waits
//     for its own) still completes the handshake, as the tool has switched.
//  4. "OK:" frames for as long as it runs, each answered ";" or with the next
//     command/data frame, which it records.
// Every frame carries new tag bytes. Tag bytes and checksum never contain
// 0x00 (the tool's port discards NUL bytes): the tag counter is stepped on
// until neither tag byte nor the checksum is 0x00.
//
// Timing (the real receiver's is not known; this one is kept simple):
//  - After each frame the simulator waits up to answerTimeoutMs for the
//    answer, then sends its next frame. A frame answered with ";" is followed
//    by the next frame after idleDelayMs (so that an idle link does not spin
//    both ends); any other answer is followed at once.
//  - A frame that expects no answer (bad checksum, "ERROR") waits the whole
//    answerTimeoutMs.
//  - A late answer is fine: an answer may carry the tags of any of the last
//    frames that are still unanswered (the tool holds an answer back while it
//    waits for the next chunk of a data file). Frames older than the one it
//    answers are taken as dropped by the tool. An answer whose tags match no
//    unanswered frame, or a second answer to one frame, is an error.
//  - On a pty or memory line, when more than 512 bytes it sent are still
//    unread by the tool (its port is closed, or it has not been started
//    yet), they are dropped before the next frame, as a line with nobody
//    listening loses them.
//  - After "ERROR" the simulator stops talking until PowerOff()/PowerOn()
//    (the receiver waits for the operator to restart it). It keeps reading.
//  - hangupAfter N: once frame N has been sent and its answer time is over,
//    the line is closed (see HangUp()) and the simulator's thread ends.
//  - silentAfter N: once frame N has been sent, nothing more is sent; the
//    line stays open and what the tool sends is still read and recorded.
//  - fault after N upload frames: checked before each frame the simulator
//    would send, so that the tool's Nth command, header or chunk is taken
//    and nothing more: HangUp closes the line as above,
//    HangUpAfterNextFrame sends one more frame and closes the line without
//    waiting for its answer, Silent sends nothing more (and keeps reading),
//    Error sends "ERROR" next.
//  - next-unit mode (nextUnitDelayMs >= 0): once the tool's "X" has been
//    recorded, the unit is done: its commands, files and errors move to
//    SimReport::units, the simulator is off (sends nothing, drops what it
//    reads) for nextUnitDelayMs, then the next unit powers on with counters
//    of its own, so that every fault above applies to each unit. After
//    `units` units (if not 0) it stays off and its thread ends.
//  - paced: bytes are written at 11 bit times per byte at the simulator's
//    current speed, and each answer from the tool is held for its own wire
//    time before it is acted on, so that a benchmark sees a real line's
//    timing. A frame that follows an answer at once is timed from the end
//    of that answer's wire time, so that the simulator's own late wake-ups
//    (up to SimLine::kCatchUp) do not slow the line down.
//  - adapterLatencyMs: the frames go through a USB adapter with that
//    latency timer (sim/usb_adapter.h), which passes each on at its next
//    transfer; what the tool sends is not held (the chip's timer holds only
//    what it receives). The answer time starts once the frame is through.
//
// Speed checks (pseudo-terminal or memory line, where the tool's speed is
// visible from the simulator's end): an error is recorded if the tool's port is already at
// 38400 baud when the handshake "OK:" is sent (switched before the "OK:"),
// or if it is not at 38400 within 5 s (or answerTimeoutMs, if longer) after
// the answer to that "OK:" came in (it never switched). Whether the switch came after the last
// byte of the answer cannot be observed through a pty, whose drain returns at
// once; on a real device a switch in mid-answer shows as a bad frame.
//
// What the tool sends after the handshake, by the frame's length L and its
// first text byte (payload byte 2):
//  - L=3 ";"                          nothing to send (not recorded)
//  - L=9, 'E'                         command "E" + 6 argument bytes
//  - L=3, 'Q' / 'X'                   commands "Q" / "X"
//  - '*', 4 <= L <= 67, file open     a chunk: 64 data bytes when L=67, else
//                                     the last chunk (L-3 bytes), which
//                                     completes the file
//  - L=8 otherwise                    a data file's header (its first 6 bytes)
// A file is complete when a short chunk ends it, or when a command or a new
// header follows a header or a full chunk (then its length minus 6 was a
// multiple of 64). A chunk with no file open (before any header, or after the
// short chunk that ended the file) is an error, as is any other frame. A
// file still open when the report is taken is listed with complete false.
// Each file is recorded as its size, its SHA-256 (hashed as the frames come),
// its chunk count and the time from its header to its last chunk; its bytes
// are kept as well only with SimOptions::keepFileData, so that the simulator
// runs in the same small memory however large the file.
// A command in answer to anything but "OK:", or a wrong answer word, is an
// error too. Commands are recorded as text: printable bytes as they are,
// others as \xHH ("E12\x00\x00\x00\x00" for an 'E' with two argument bytes).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "sim/sim_options.h"
#include "sim/sim_report.h"

class SimLine;

class ReceiverSim {
public:
    // Creates a pseudo-terminal; the tool opens ToolPath(). nullptr on
    // failure, with *reason (if given) set to the system's reason.
    static std::unique_ptr<ReceiverSim> CreatePty(SimOptions options, std::string* reason = nullptr);
    // Opens a serial device (raw, 19200 baud, 8 data bits, odd parity, 1 stop
    // bit). nullptr on failure, with *reason set.
    static std::unique_ptr<ReceiverSim> OpenDevice(const std::string& path, SimOptions options,
                                                   std::string* reason = nullptr);
    // Creates a line inside the process registered under name; the tool
    // opens name (SerialPort::Open). nullptr when the name is taken, with
    // *reason set. The line hangs up when the simulator is destroyed.
    static std::unique_ptr<ReceiverSim> CreateMemoryLine(const std::string& name, SimOptions options,
                                                         std::string* reason = nullptr);

    ~ReceiverSim();  // stops and joins
    ReceiverSim(const ReceiverSim&) = delete;
    ReceiverSim& operator=(const ReceiverSim&) = delete;

    // The path the tool should open (pty slave), the device given, or the
    // memory line's name.
    const std::string& ToolPath() const;

    // Runs the receiver on its own thread. Call once.
    void Start();
    // Stops the thread and joins it. Idempotent; the line stays open.
    void Stop();
    // Asks the thread to stop and returns at once; Stop() still joins it.
    // Async-signal-safe: a signal handler may call it.
    void RequestStop() noexcept;
    // Blocks until the thread has ended (RequestStop, Stop, HangUp or the
    // hang-up fault). Returns at once if it was never started.
    void WaitForEnd();

    // Blocks until pred(report) is true or timeout passes; returns pred's
    // last value. pred runs under the report lock: keep it short.
    bool WaitUntil(const std::function<bool(const SimReport&)>& pred,
                   std::chrono::milliseconds timeout);
    SimReport Report() const;  // snapshot

    // The operator's power switch (the simulator starts powered on). Off: it
    // sends nothing and discards what it reads. On: a new session from step 1
    // at 19200 baud.
    void PowerOff();
    void PowerOn();

    // Closes the line now (for a pty both sides: the tool's port sees a
    // hang-up). The thread ends; the report stays readable.
    void HangUp();

    struct Impl;

private:
    explicit ReceiverSim(std::unique_ptr<Impl> impl);
    static std::unique_ptr<ReceiverSim> Create(std::unique_ptr<SimLine> line, SimOptions options);
    std::unique_ptr<Impl> m_impl;
};
