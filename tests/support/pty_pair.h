// A pseudo-terminal pair standing in for a serial cable in tests.
//
// The slave side is the "port" under test (open it by SlavePath()); the test
// plays the far end through the master. The helper keeps its own slave
// descriptor open for the pair's lifetime so that the slave's settings
// survive the port being closed and reopened, and so that they can be read
// back. Closing the master hangs the line up, as an unplugged adapter would.
#pragma once

#include <termios.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class PtyPair {
public:
    // Opens the pair with the slave in raw mode (so nothing written by the
    // master is echoed back before the port under test configures it).
    // Throws std::runtime_error when no pseudo-terminal can be had.
    PtyPair();
    ~PtyPair();
    PtyPair(const PtyPair&) = delete;
    PtyPair& operator=(const PtyPair&) = delete;

    const std::string& SlavePath() const { return m_strSlavePath; }
    int MasterFd() const { return m_nMasterFd; }
    int SlaveFd() const { return m_nSlaveFd; }

    // Writes every byte to the master (the bytes arrive at the slave).
    // False if the master is closed or a write fails.
    bool WriteMaster(const std::vector<std::uint8_t>& bytes);
    bool WriteMaster(std::string_view bytes);
    bool WriteMaster(const void* data, std::size_t size);

    // Reads from the master until count bytes have arrived or timeout has
    // passed; returns what arrived (possibly fewer than count).
    std::vector<std::uint8_t> ReadMaster(std::size_t count, std::chrono::milliseconds timeout);

    // Waits until at least count bytes written by the master are waiting at
    // the slave, unread (the kernel passes them on asynchronously). Lets a
    // test hand the port a line whose bytes are already there. False after
    // timeout.
    bool WaitForSlaveInput(std::size_t count, std::chrono::milliseconds timeout) const;

    // Waits until the port under test has taken every byte waiting at the
    // slave. False after timeout.
    bool WaitUntilSlaveInputTaken(std::chrono::milliseconds timeout) const;

    // Writes bytes and waits until all of them are waiting at the slave.
    bool Deliver(const std::vector<std::uint8_t>& bytes);

    // Fills the line from the slave towards the master, which nobody reads,
    // until it takes no more, so that the port's next write has to wait.
    // Returns the count of filler bytes (0x11) written.
    std::size_t FillTowardsMaster();

    // Closes the master: the slave sees a hang-up (POLLHUP, EIO on read).
    void CloseMaster();

    // The slave's current termios, as the port under test left it.
    termios SlaveTermios() const;

private:
    int m_nMasterFd = -1;
    int m_nSlaveFd = -1;
    std::string m_strSlavePath;
};
