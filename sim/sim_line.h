// The simulator's end of the line: the master side of a pseudo-terminal it
// created, or a serial device. Used by the simulator's thread only, except
// Wake(), which any thread may call.
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class SimLine {
public:
    // A new pseudo-terminal, its slave side set raw at 19200 baud (so that
    // nothing is echoed before the tool opens it). nullptr + *reason on failure.
    static std::unique_ptr<SimLine> CreatePty(std::string* reason);
    // A serial device, raw, 19200 baud, 8 data bits, odd parity, 1 stop bit.
    static std::unique_ptr<SimLine> OpenDevice(const std::string& path, std::string* reason);

    ~SimLine();
    SimLine(const SimLine&) = delete;
    SimLine& operator=(const SimLine&) = delete;

    // The path the tool opens: the pty's slave, or the device itself.
    const std::string& ToolPath() const { return m_strToolPath; }
    bool IsPty() const { return m_bPty; }
    bool IsClosed() const { return m_fd < 0; }

    // Writes bytes. Paced: each byte takes 11 bit times at Baud(), so that
    // byte i is on the far end (i+1) byte times after the start. The start
    // is the call, or lineFreeAt when given: the moment the line was free
    // (up to kCatchUp in the past), so that a thread woken late does not
    // stretch the line's timing. Bytes the line cannot take within
    // stallLimit (nobody reading on the other end) are dropped, as a UART's
    // would be. False if Wake() interrupted the write or the line is closed.
    bool Write(const std::vector<std::uint8_t>& bytes, bool paced, std::chrono::milliseconds stallLimit,
               std::optional<std::chrono::steady_clock::time_point> lineFreeAt = std::nullopt);
    static constexpr std::chrono::milliseconds kCatchUp{1};

    enum class ReadResult { Data, Timeout, Woken, Closed };
    // Waits up to timeout for bytes and appends what is there to *out.
    ReadResult Read(std::vector<std::uint8_t>* out, std::chrono::milliseconds timeout);

    // Interrupts a Write or Read in progress (or the next one).
    void Wake();

    // The simulator's own speed (sets the device's speed; a pty only keeps
    // it for pacing).
    void SetBaud(unsigned baud);
    unsigned Baud() const { return m_nBaud; }

    // The speed the tool's side is set to (pty only: read from the slave's
    // termios through the master).
    std::optional<unsigned> ToolBaud() const;

    // Pty only: bytes the simulator has written that the tool has not read
    // yet (0 for a device, whose far end cannot be seen).
    std::size_t UnreadByTool() const;
    // Pty only: drops those bytes, as a line with nobody listening loses
    // them.
    void DiscardUnread();
    // Pty only: stops the tool's output, as a stopped flow does: what the
    // tool writes from now on waits in its port and never arrives (its
    // write fails once the line is closed).
    void HoldToolOutput();

    // Closes the line: for a pty both sides, so that the tool's port sees a
    // hang-up. Idempotent.
    void Close();

private:
    SimLine() = default;
    void DrainWake();

    int m_fd = -1;         // master or device
    int m_slaveFd = -1;    // pty only: keeps the slave open between the tool's opens
    int m_wakeFd = -1;     // eventfd
    bool m_bPty = false;
    unsigned m_nBaud = 19200;
    std::string m_strToolPath;
};
