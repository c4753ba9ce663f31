// PortKeeper: a port's settings as the station found them before a run's
// child took the port, so that the station can give the port back itself
// when the child could not (it was killed, or crashed): a killed child
// leaves the line raw at 38400 baud (and, on Linux, its exclusive use set
// (TIOCEXCL), so that the next open of the port fails with "device busy").
//
// On POSIX systems the keeper holds the port open from before the child
// starts until the run has ended: without a lock and without changing
// anything, so the child opens and locks the port as usual, while the
// keeper's descriptor can still reach the port's settings after the child
// has gone. On Windows, where a port is opened by one handle at a time, the
// keeper reads the port's state and time-outs and closes it again before the
// child starts, and opens it once more to put them back once the child has
// ended (port_keeper_win32.cpp).
#pragma once

#include <memory>
#include <string>

class PortKeeper {
public:
    PortKeeper();
    ~PortKeeper();
    PortKeeper(const PortKeeper&) = delete;
    PortKeeper& operator=(const PortKeeper&) = delete;

    // Opens port (a device path or a COM name) and reads its settings. Keeps
    // nothing when the port is no terminal or cannot be opened (the run's
    // child then reports why it cannot use it either).
    void Take(const std::string& port);
    // Puts the settings taken back (and lifts the exclusive use left
    // behind). Call it once the child has ended. Does nothing when nothing
    // was taken or the port is gone (hung up).
    void Restore();
    // Forgets what was taken and closes the port (the keeper keeps nothing).
    // Idempotent.
    void Release();

private:
    // The system's handle and saved settings (each system's file has its own).
    struct Saved;
    std::unique_ptr<Saved> m_saved;
};
