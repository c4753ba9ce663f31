// MemoryLine: a serial line inside the process, for a simulated device where
// the system offers no pseudo-terminals (Windows) and for tests that need no
// real port.
//
// A line has two ends joined by byte queues, one per direction. The near end
// is the one the tool opens by the line's name (SerialPort::Open finds lines
// by name before it asks the system); the far end belongs to whoever plays
// the device. Either end can be opened as a SerialPort with the real port's
// contract: exclusive, NULs dropped on reading, ReadByte sleeping on a
// condition variable until a byte, Wake(), Close() or a hang-up, settings
// kept per end and restored on Close(). Each end's settings are visible to
// the other end (PeerSettings), so that a device can check the speed the
// tool switched to.
//
// The far end may instead be driven with the calls below (ReadFar,
// WriteFar, ...), which add what a simulated device needs and a port does
// not have: waits with a deadline, a wake-up that also ends a write, the
// count of bytes the near end has not read, and faults (held output,
// hang-up). Pacing (bytes taking line time) is the device's business: the
// queues hand bytes over as soon as they are written.
//
// Each direction holds at most kLineCapacity bytes; a writer waits for room.
// "Drained" means the other end has taken every byte written, so that a
// speed switch after Drain() never overtakes bytes still on the line.
//
// The MemoryLine object owns the line's name: destroying it hangs the line
// up (both ends see a hang-up) and frees the name.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/serial_port.h"

class MemoryLine {
public:
    enum class End { Near, Far };
    static constexpr std::size_t kLineCapacity = 4096;

    // A new line registered under name; nullptr with *reason when a line of
    // that name exists already or name is empty.
    static std::unique_ptr<MemoryLine> Create(const std::string& name, std::string* reason = nullptr);

    ~MemoryLine();
    MemoryLine(const MemoryLine&) = delete;
    MemoryLine& operator=(const MemoryLine&) = delete;

    const std::string& Name() const { return m_strName; }

    // Opens one end as a port. Fails ("device busy (in use by another
    // program)") while that end is open, and ("no such device") once the
    // line has hung up.
    std::unique_ptr<SerialPort> OpenEnd(End end, std::string* reason = nullptr);

    // The far end, driven directly (no port needs to be open on it).
    enum class Wait { Done, Woken, TimedOut, HungUp };
    using Deadline = std::optional<std::chrono::steady_clock::time_point>;  // nullopt: no limit
    // Appends what has arrived at the far end to *out, waiting for at least
    // one byte until deadline, WakeFar() or a hang-up.
    Wait ReadFar(std::vector<std::uint8_t>* out, Deadline deadline);
    // Puts as many of size bytes on the line towards the near end as there
    // is room for (*written), waiting for room while there is none until
    // deadline, WakeFar() or a hang-up.
    Wait WriteFar(const std::uint8_t* data, std::size_t size, std::size_t* written, Deadline deadline);
    // Ends the far end's wait in progress, or else its next one.
    void WakeFar();
    // The far end's own settings (its speed, for pacing) and the near end's.
    LineSettings Settings(End end) const;
    void SetFarSettings(const LineSettings& settings);
    // Bytes written by the far end that the near end has not read yet.
    std::size_t UnreadByNear() const;
    // Drops those bytes, as a line with nobody listening loses them.
    void DiscardUnreadByNear();
    // From now on, what the near end writes waits on the line and never
    // reaches the far end, as behind a stopped flow.
    void HoldNearOutput();
    // The near end of the line registered under name (a simulator's, say)
    // may put this many more bytes on it; its write that goes beyond puts
    // the bytes up to the limit on the line and then finds it hung up, as
    // when an adapter is unplugged in mid-frame. False when no line has
    // that name.
    static bool LimitNearOutput(const std::string& name, std::size_t bytes);
    // The device is gone: both ends see a hang-up, waits end, and the name
    // no longer opens. Idempotent.
    void HangUp();
    bool IsHungUp() const;

    struct Shared;  // the state both ends and the ports share

private:
    MemoryLine(std::string name, std::shared_ptr<Shared> shared);
    std::string m_strName;
    std::shared_ptr<Shared> m_shared;
};
