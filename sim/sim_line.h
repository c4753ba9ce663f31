// The simulator's end of the line: the master side of a pseudo-terminal it
// created, a serial device, or the far end of a line inside the process
// (platform/serial_memory.h). Used by the simulator's thread only, except
// Wake(), which any thread may call.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "sim/usb_adapter.h"

class SimLine {
public:
    // A new pseudo-terminal, its slave side set raw at 19200 baud (so that
    // nothing is echoed before the tool opens it). nullptr + *reason on
    // failure. POSIX systems only.
    static std::unique_ptr<SimLine> CreatePty(std::string* reason);
    // A serial device, raw, 19200 baud, 8 data bits, odd parity, 1 stop bit.
    // POSIX systems only.
    static std::unique_ptr<SimLine> OpenDevice(const std::string& path, std::string* reason);
    // A new line inside the process, registered under name: the tool's
    // SerialPort::Open(name) opens its other end. nullptr + *reason when the
    // name is taken.
    static std::unique_ptr<SimLine> CreateMemoryLine(const std::string& name, std::string* reason);

    virtual ~SimLine() = default;
    SimLine(const SimLine&) = delete;
    SimLine& operator=(const SimLine&) = delete;

    // The name the tool opens: the pty's slave, the device itself, or the
    // memory line's name.
    const std::string& ToolPath() const { return m_strToolPath; }
    // True when the tool's side of the line can be seen (its speed, what it
    // has not read): a pty or a memory line, not a device.
    virtual bool SeesToolSide() const = 0;
    virtual bool IsClosed() const = 0;

    // Writes bytes. Paced: each byte takes 11 bit times at Baud(), so that
    // byte i is on the far end (i+1) byte times after the start. The start
    // is the call, or lineFreeAt when given: the moment the line was free
    // (up to kCatchUp in the past), so that a thread woken late does not
    // stretch the line's timing. Bytes the line cannot take within
    // stallLimit (nobody reading on the other end) are dropped, as a UART's
    // would be. Behind an adapter (SetAdapterLatency) each byte reaches the
    // far end only when the adapter passes it on. False if Wake()
    // interrupted the write or the line is closed.
    bool Write(const std::vector<std::uint8_t>& bytes, bool paced, std::chrono::milliseconds stallLimit,
               std::optional<std::chrono::steady_clock::time_point> lineFreeAt = std::nullopt);
    static constexpr std::chrono::milliseconds kCatchUp{1};

    enum class ReadResult { Data, Timeout, Woken, Closed };
    // Waits up to timeout for bytes and appends what is there to *out.
    virtual ReadResult Read(std::vector<std::uint8_t>* out, std::chrono::milliseconds timeout) = 0;

    // Interrupts a Write or Read in progress (or the next one).
    virtual void Wake() = 0;

    // Puts a USB adapter with this latency timer between the simulator and
    // the tool (0: none), its timer running from now.
    void SetAdapterLatency(std::chrono::milliseconds latency);

    // The simulator's own speed (sets a device's speed; a pty only keeps
    // it for pacing).
    void SetBaud(unsigned baud);
    unsigned Baud() const { return m_nBaud; }

    // The speed the tool's side is set to (nullopt where SeesToolSide() is
    // false).
    virtual std::optional<unsigned> ToolBaud() const = 0;

    // Bytes the simulator has written that the tool has not read yet (0
    // where SeesToolSide() is false).
    virtual std::size_t UnreadByTool() const = 0;
    // Drops those bytes, as a line with nobody listening loses them.
    virtual void DiscardUnread() = 0;
    // Stops the tool's output, as a stopped flow does: what the tool
    // writes from now on waits in its port and never arrives (its write
    // fails once the line is closed). Not for a device.
    virtual void HoldToolOutput() = 0;

    // Closes the line: the tool's port sees a hang-up (not so a device's
    // far end). Idempotent.
    virtual void Close() = 0;

protected:
    explicit SimLine(std::string toolPath) : m_strToolPath(std::move(toolPath)) {}

    enum class Put { Wrote, TimedOut, Woken, Closed };
    // Writes as many of size bytes as the line takes now (*written, more
    // than 0 with Wrote); while it takes none, waits for room until `until`
    // or a wake-up.
    virtual Put WriteSome(const std::uint8_t* data, std::size_t size, std::size_t* written,
                          std::chrono::steady_clock::time_point until) = 0;
    // Gives the line's hardware the simulator's new speed, where it has one.
    virtual void ApplyBaud(unsigned baud) { (void)baud; }

private:
    unsigned m_nBaud = 19200;
    std::string m_strToolPath;
    UsbAdapterModel m_adapter{std::chrono::milliseconds(0), std::chrono::steady_clock::now()};
    // When each byte of the write in progress reaches the far end (kept to
    // reuse its memory).
    std::vector<std::chrono::steady_clock::time_point> m_arrivals, m_deliveries;
};
