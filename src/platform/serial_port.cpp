// The port as every system has it (see serial_port.h and serial_device.h):
// the system's device underneath makes the calls; the state, the calls in
// progress, reading a byte at a time, waking, closing and the
// emergency-restore table are kept here.
#include "platform/serial_port.h"

#include <cstring>

#include "platform/serial_device.h"

int BitsPerCharacter(const LineSettings& settings) {
    return 1 + settings.dataBits + (settings.parity == ParityMode::None ? 0 : 1) + settings.stopBits;
}

std::string UnsupportedSettingsReason(const LineSettings& settings) {
    const char parity = settings.parity == ParityMode::None ? 'N' : settings.parity == ParityMode::Odd ? 'O' : 'E';
    return "unsupported line settings (" + std::to_string(settings.baudRate) + " baud " +
           std::to_string(settings.dataBits) + parity + std::to_string(settings.stopBits) + ")";
}

std::string OutputStalledReason() {
    return "output made no progress for " + std::to_string(kDrainStallLimitMs) +
           " ms (is hardware flow control holding the line?)";
}

// ---------------------------------------------------------------------------
// The emergency-restore table: one slot per open port. A slot is claimed,
// its record written, and only then its handle published; a reader that sees
// a handle therefore sees the record that belongs to it. Lock-free atomics
// only, so that a signal handler may read it.

namespace {

struct RestoreSlot {
    std::atomic<bool> m_bClaimed{false};
    std::atomic<SerialHandle> m_hHandle{kNoSerialHandle};
    alignas(std::max_align_t) unsigned char m_abyRecord[kRestoreRecordSize];
};
constexpr std::size_t kRestoreSlots = 16;
RestoreSlot g_restoreSlots[kRestoreSlots];
static_assert(std::atomic<SerialHandle>::is_always_lock_free && std::atomic<bool>::is_always_lock_free);

}  // namespace

int RegisterForRestore(SerialHandle handle, const void* record, std::size_t size) {
    if (size > kRestoreRecordSize)
        return -1;
    for (std::size_t i = 0; i < kRestoreSlots; ++i) {
        bool expected = false;
        if (!g_restoreSlots[i].m_bClaimed.compare_exchange_strong(expected, true, std::memory_order_acq_rel))
            continue;
        std::memcpy(g_restoreSlots[i].m_abyRecord, record, size);
        g_restoreSlots[i].m_hHandle.store(handle, std::memory_order_release);
        return static_cast<int>(i);
    }
    return -1;
}

void UnregisterForRestore(int slot) {
    if (slot < 0)
        return;
    g_restoreSlots[slot].m_hHandle.store(kNoSerialHandle, std::memory_order_release);
    g_restoreSlots[slot].m_bClaimed.store(false, std::memory_order_release);
}

void RestoreOpenPortsNow() {
    for (RestoreSlot& slot : g_restoreSlots) {
        const SerialHandle handle = slot.m_hHandle.load(std::memory_order_acquire);
        if (handle != kNoSerialHandle)
            RestoreFromRecord(handle, slot.m_abyRecord);
    }
}

// ---------------------------------------------------------------------------
// The device's state.

void SerialDevice::MarkDead(const std::string& reason) {
    std::lock_guard lock(m_mutex);
    if (m_bDead)
        return;
    m_strDeadReason = reason;
    m_bDead = true;
}

// Counts a call as in progress for its lifetime, unless the port is already
// closed or dead (then false: the call must fail at once). Close() waits
// until no call is counted before it gives the device back.
class SerialPort::IoScope {
public:
    explicit IoScope(SerialDevice& device) : m_device(device) {
        std::lock_guard lock(m_device.m_mutex);
        m_bEntered = !m_device.m_bClosed && !m_device.m_bDead;
        if (m_bEntered)
            ++m_device.m_nActive;
    }
    ~IoScope() {
        if (!m_bEntered)
            return;
        std::lock_guard lock(m_device.m_mutex);
        if (--m_device.m_nActive == 0)
            m_device.m_idle.notify_all();
    }
    IoScope(const IoScope&) = delete;
    IoScope& operator=(const IoScope&) = delete;
    explicit operator bool() const { return m_bEntered; }

private:
    SerialDevice& m_device;
    bool m_bEntered;
};

// ---------------------------------------------------------------------------
// The port.

SerialPort::SerialPort(std::string devicePath, std::unique_ptr<SerialDevice> device, int restoreSlot)
    : m_strDevicePath(std::move(devicePath)), m_device(std::move(device)), m_nRestoreSlot(restoreSlot) {}

SerialPort::~SerialPort() { Close(); }

bool SerialPort::Usable() const { return !IsClosed() && !IsDead(); }

template <typename Call>
bool SerialPort::Attempt(std::string* reason, Call call) {
    std::string why;
    bool done = false;
    {
        IoScope io(*m_device);
        done = io && call(&why);
    }
    if (!done && reason) {
        if (IsDead())
            why = DeadReason();
        else if (IsClosed())
            why = "the port is closed";
        *reason = why;
    }
    return done;
}

bool SerialPort::GetLineSettings(LineSettings* settings) {
    IoScope io(*m_device);
    return io && m_device->GetLineSettings(settings);
}

bool SerialPort::SetLineSettings(const LineSettings& settings, std::string* reason) {
    return Attempt(reason, [&](std::string* why) { return m_device->SetLineSettings(settings, why); });
}

bool SerialPort::SetBaudRate(std::uint32_t baudRate, std::string* reason) {
    return Attempt(reason, [&](std::string* why) { return m_device->SetBaudRate(baudRate, why); });
}

void SerialPort::SetReadProfile(ReadProfile profile) { m_readProfile.store(profile, std::memory_order_release); }

ReadProfile SerialPort::GetReadProfile() const { return m_readProfile.load(std::memory_order_acquire); }

// The next buffered byte, or one wait for more. The buffer is the reading
// thread's own: a byte already in it costs no lock and no system call.
bool SerialPort::ReadByte(std::uint8_t* byte, std::uint32_t* count) {
    *count = 0;
    if (!Usable())
        return false;
    if (m_device->m_input.Empty()) {
        IoScope io(*m_device);
        if (!io)
            return false;
        switch (m_device->FillInput()) {
        case InputFill::Bytes:
            break;
        case InputFill::Woken:
            return true;
        case InputFill::Nothing:
        case InputFill::Failed:
            return false;
        }
    }
    *byte = m_device->m_input.Take();
    *count = 1;
    return true;
}

void SerialPort::Wake() {
    IoScope io(*m_device);
    if (io)
        m_device->Wake();
}

bool SerialPort::Write(const void* data, std::uint32_t size, std::uint32_t* written) {
    *written = 0;
    IoScope io(*m_device);
    return io && m_device->Write(static_cast<const std::uint8_t*>(data), size, written);
}

bool SerialPort::Drain(std::string* reason) {
    return Attempt(reason, [&](std::string* why) { return m_device->Drain(why); });
}

void SerialPort::Close() {
    SerialDevice& device = *m_device;
    {
        std::unique_lock lock(device.m_mutex);
        if (device.m_bClosed) {
            // Another thread is closing it: return once it is really closed.
            device.m_idle.wait(lock, [&] { return device.m_bReleased; });
            return;
        }
        device.m_bClosed = true;
    }
    // No new call starts from here on; the ones in progress are woken. (Not
    // under the lock: the memory line takes its own lock to wake.)
    device.Interrupt();
    {
        std::unique_lock lock(device.m_mutex);
        device.m_idle.wait(lock, [&] { return device.m_nActive == 0; });
    }
    device.Restore();
    UnregisterForRestore(m_nRestoreSlot);
    m_nRestoreSlot = -1;
    device.Release();
    {
        std::lock_guard lock(device.m_mutex);
        device.m_bReleased = true;
    }
    device.m_idle.notify_all();
}

bool SerialPort::IsClosed() const { return m_device->m_bClosed.load(std::memory_order_acquire); }

bool SerialPort::IsDead() const { return m_device->m_bDead.load(std::memory_order_acquire); }

std::string SerialPort::DeadReason() const {
    std::lock_guard lock(m_device->m_mutex);
    return m_device->m_strDeadReason;
}

std::optional<int> SerialPort::AdapterLatencyMs() const { return m_device->AdapterLatencyMs(); }
