// The line inside the process: one mutex and one condition variable per line
// guard both queues, both ends' flags and settings. Every change notifies
// all waiters, and each waits on a predicate over the state it needs, so no
// wait polls and none can miss a change.
#include "platform/serial_memory.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <iterator>
#include <map>
#include <mutex>
#include <utility>

#include "platform/serial_device.h"

namespace {

using Clock = std::chrono::steady_clock;
using End = MemoryLine::End;

constexpr char kHangUpReason[] = "device disconnected (hang-up)";

int Index(End end) { return end == End::Near ? 0 : 1; }
End Other(End end) { return end == End::Near ? End::Far : End::Near; }

bool ValidSettings(const LineSettings& settings) {
    return settings.baudRate > 0 && (settings.dataBits == 7 || settings.dataBits == 8) &&
           (settings.stopBits == 1 || settings.stopBits == 2);
}

}  // namespace

struct MemoryLine::Shared {
    struct Side {
        std::deque<std::uint8_t> inbox;  // bytes that have arrived at this end
        std::uint64_t taken = 0;         // bytes this end has read so far
        LineSettings settings;
        bool open = false;  // a port holds this end
        SerialDevice* device = nullptr;  // that port's device, while open
        bool wake = false;  // a wake-up waits for this end's reader
    };

    mutable std::mutex mutex;
    std::condition_variable changed;
    Side sides[2];
    // Output of the near end that is held back (HoldNearOutput): it stays
    // on the line and never arrives.
    bool nearHeld = false;
    std::deque<std::uint8_t> nearHeldBytes;
    std::optional<std::size_t> nearBudget;  // bytes the near end may still write (LimitNearOutput)
    std::atomic<bool> hungUp{false};

    Side& At(End end) { return sides[Index(end)]; }
    // The line is cut: the ports on it are dead from now on, whether or not
    // they wait. Called with the mutex held.
    void HangUpLocked() {
        hungUp.store(true, std::memory_order_release);
        for (Side& side : sides)
            if (side.device)
                side.device->MarkDead(kHangUpReason);
        changed.notify_all();
    }
    // Room on the line from `from` towards the other end.
    std::size_t Room(End from) {
        const std::size_t queued =
            from == End::Near && nearHeld ? nearHeldBytes.size() : At(Other(from)).inbox.size();
        return kLineCapacity - std::min(queued, kLineCapacity);
    }
    // Bytes written by `from` that have not been taken by the other end.
    std::size_t Undelivered(End from) {
        return At(Other(from)).inbox.size() + (from == End::Near ? nearHeldBytes.size() : 0);
    }
    void Put(End from, const std::uint8_t* data, std::size_t size) {
        std::deque<std::uint8_t>& queue = from == End::Near && nearHeld ? nearHeldBytes : At(Other(from)).inbox;
        queue.insert(queue.end(), data, data + size);
        changed.notify_all();
    }
    // Cuts *count to what is left of the near end's budget; once nothing is
    // left, the line hangs up (false).
    bool TakeBudget(End from, std::size_t* count) {
        if (from != End::Near || !nearBudget)
            return true;
        if (*nearBudget == 0) {
            HangUpLocked();
            return false;
        }
        *count = std::min(*count, *nearBudget);
        *nearBudget -= *count;
        return true;
    }
    void DiscardUndelivered(End from) {
        At(Other(from)).inbox.clear();
        if (from == End::Near)
            nearHeldBytes.clear();
        changed.notify_all();
    }
    // Moves up to max bytes that arrived at `end` to out.
    template <typename Out>
    std::size_t Take(End end, Out out, std::size_t max) {
        Side& side = At(end);
        const std::size_t count = std::min(max, side.inbox.size());
        std::copy_n(side.inbox.begin(), count, out);
        side.inbox.erase(side.inbox.begin(), side.inbox.begin() + static_cast<std::ptrdiff_t>(count));
        side.taken += count;
        changed.notify_all();
        return count;
    }
    // Waits until ready() or deadline (none: no limit); ready()'s last value.
    template <typename Ready>
    bool WaitUntil(std::unique_lock<std::mutex>& lock, const MemoryLine::Deadline& deadline, Ready ready) {
        if (!deadline) {
            changed.wait(lock, ready);
            return true;
        }
        return changed.wait_until(lock, *deadline, ready);
    }
    // The far end's wait: until it can go on (Done, the lock still held),
    // is woken (the wake-up is consumed), the line hangs up, or deadline.
    template <typename CanGoOn>
    MemoryLine::Wait AwaitFar(std::unique_lock<std::mutex>& lock, const MemoryLine::Deadline& deadline,
                              CanGoOn canGoOn) {
        Side& far = At(End::Far);
        if (!WaitUntil(lock, deadline, [&] { return hungUp || far.wake || canGoOn(); }))
            return MemoryLine::Wait::TimedOut;
        if (hungUp)
            return MemoryLine::Wait::HungUp;
        if (far.wake) {
            far.wake = false;
            return MemoryLine::Wait::Woken;
        }
        return MemoryLine::Wait::Done;
    }
    // Waits until the other end has taken everything `from` wrote. False
    // when nothing was taken for kDrainStallLimitMs, or stop() became true.
    template <typename Stop>
    bool WaitDelivered(std::unique_lock<std::mutex>& lock, End from, Stop stop) {
        const std::chrono::milliseconds stallLimit(kDrainStallLimitMs);
        std::uint64_t lastTaken = At(Other(from)).taken;
        Clock::time_point lastProgress = Clock::now();
        for (;;) {
            if (Undelivered(from) == 0)
                return true;
            if (stop() || hungUp)
                return false;
            const std::uint64_t taken = At(Other(from)).taken;
            if (taken != lastTaken) {
                lastTaken = taken;
                lastProgress = Clock::now();
            } else if (Clock::now() - lastProgress >= stallLimit) {
                return false;
            }
            changed.wait_until(lock, lastProgress + stallLimit);
        }
    }
};

namespace {

std::mutex g_registryMutex;
std::map<std::string, std::shared_ptr<MemoryLine::Shared>> g_lines;

// One end of a memory line as a port's device.
class MemoryDevice final : public SerialDevice {
public:
    MemoryDevice(std::shared_ptr<MemoryLine::Shared> shared, End end)
        : m_shared(std::move(shared)), m_end(end), m_original(m_shared->At(end).settings) {}

    bool GetLineSettings(LineSettings* settings) override {
        std::lock_guard lock(m_shared->mutex);
        *settings = m_shared->At(m_end).settings;
        return true;
    }

    bool SetLineSettings(const LineSettings& settings, std::string* reason) override {
        if (!ValidSettings(settings)) {
            *reason = UnsupportedSettingsReason(settings);
            return false;
        }
        return Apply([&](LineSettings& current) { current = settings; });
    }

    bool SetBaudRate(std::uint32_t baudRate, std::string* reason) override {
        if (baudRate == 0) {
            *reason = "unsupported speed (0 baud)";
            return false;
        }
        return Apply([&](LineSettings& current) { current.baudRate = baudRate; });
    }

    // Sleeps until bytes arrive, a wake-up or the port's end, and moves the
    // bytes into the input buffer, NULs dropped.
    InputFill FillInput() override {
        std::unique_lock lock(m_shared->mutex);
        MemoryLine::Shared::Side& side = m_shared->At(m_end);
        for (;;) {
            m_shared->changed.wait(lock, [&] { return Stopped() || !side.inbox.empty() || side.wake; });
            if (!side.inbox.empty() && !Stopped()) {
                m_input.Keep(m_shared->Take(m_end, m_input.m_abyBytes, SerialInput::kSize));
                if (!m_input.Empty())
                    return InputFill::Bytes;
                continue;
            }
            if (Stopped())
                return InputFill::Failed;
            side.wake = false;
            return InputFill::Woken;
        }
    }

    bool Write(const std::uint8_t* data, std::uint32_t size, std::uint32_t* written) override {
        std::unique_lock lock(m_shared->mutex);
        while (*written < size) {
            m_shared->changed.wait(lock, [&] { return Stopped() || m_shared->Room(m_end) > 0; });
            if (Stopped())
                return false;
            std::size_t count = std::min<std::size_t>(size - *written, m_shared->Room(m_end));
            if (!m_shared->TakeBudget(m_end, &count))
                return false;
            m_shared->Put(m_end, data + *written, count);
            *written += static_cast<std::uint32_t>(count);
        }
        return true;
    }

    bool Drain(std::string* reason) override {
        std::unique_lock lock(m_shared->mutex);
        if (m_shared->WaitDelivered(lock, m_end, [&] { return Closing(); }))
            return true;
        if (!Stopped())
            *reason = OutputStalledReason();
        return false;
    }

    void Wake() override {
        std::lock_guard lock(m_shared->mutex);
        m_shared->At(m_end).wake = true;
        m_shared->changed.notify_all();
    }

    void Interrupt() override {
        std::lock_guard lock(m_shared->mutex);
        m_shared->changed.notify_all();
    }

    // Bounded drain, then the end is given back as it was found.
    void Restore() override {
        std::unique_lock lock(m_shared->mutex);
        if (!m_shared->WaitDelivered(lock, m_end, [] { return false; }))
            m_shared->DiscardUndelivered(m_end);
        MemoryLine::Shared::Side& side = m_shared->At(m_end);
        side.settings = m_original;
        side.wake = false;
    }

    void Release() override {
        std::lock_guard lock(m_shared->mutex);
        MemoryLine::Shared::Side& side = m_shared->At(m_end);
        side.open = false;
        side.device = nullptr;
        m_shared->changed.notify_all();
    }

private:
    // Under the line's lock: a wait must end.
    bool Stopped() const { return Closing() || m_shared->hungUp.load(); }

    // Changes this end's settings once its output has been taken; output
    // stuck on a stalled line is discarded rather than sent under the new
    // settings.
    template <typename Change>
    bool Apply(Change change) {
        std::unique_lock lock(m_shared->mutex);
        if (!m_shared->WaitDelivered(lock, m_end, [&] { return Closing(); })) {
            if (Stopped())
                return false;
            m_shared->DiscardUndelivered(m_end);
        }
        change(m_shared->At(m_end).settings);
        m_shared->changed.notify_all();
        return true;
    }

    const std::shared_ptr<MemoryLine::Shared> m_shared;
    const End m_end;
    const LineSettings m_original;
};

// Opens one end of line as a port named name.
std::unique_ptr<SerialPort> OpenLineEnd(const std::shared_ptr<MemoryLine::Shared>& line, End end,
                                        const std::string& name, std::string* reason) {
    std::lock_guard lock(line->mutex);
    MemoryLine::Shared::Side& side = line->At(end);
    const char* why = line->hungUp ? "no such device" : side.open ? "device busy (in use by another program)" : nullptr;
    if (why) {
        if (reason)
            *reason = why;
        return nullptr;
    }
    auto device = std::make_unique<MemoryDevice>(line, end);
    side.open = true;
    side.device = device.get();
    return std::make_unique<SerialPort>(name, std::move(device));
}

}  // namespace

std::unique_ptr<SerialPort> SerialPort::Open(const std::string& name, std::string* reason) {
    std::shared_ptr<MemoryLine::Shared> line;
    {
        std::lock_guard lock(g_registryMutex);
        if (const auto found = g_lines.find(name); found != g_lines.end())
            line = found->second;
    }
    if (!line)
        return OpenSystemPort(name, reason);
    return OpenLineEnd(line, End::Near, name, reason);
}

MemoryLine::MemoryLine(std::string name, std::shared_ptr<Shared> shared)
    : m_strName(std::move(name)), m_shared(std::move(shared)) {}

std::unique_ptr<MemoryLine> MemoryLine::Create(const std::string& name, std::string* reason) {
    std::lock_guard lock(g_registryMutex);
    if (name.empty() || g_lines.count(name) != 0) {
        if (reason)
            *reason = name.empty() ? "a memory line needs a name" : "a line named " + name + " exists already";
        return nullptr;
    }
    auto shared = std::make_shared<Shared>();
    g_lines.emplace(name, shared);
    return std::unique_ptr<MemoryLine>(new MemoryLine(name, std::move(shared)));
}

MemoryLine::~MemoryLine() {
    HangUp();
    std::lock_guard lock(g_registryMutex);
    g_lines.erase(m_strName);
}

std::unique_ptr<SerialPort> MemoryLine::OpenEnd(End end, std::string* reason) {
    if (end == End::Near)
        return SerialPort::Open(m_strName, reason);
    return OpenLineEnd(m_shared, end, m_strName, reason);
}

MemoryLine::Wait MemoryLine::ReadFar(std::vector<std::uint8_t>* out, Deadline deadline) {
    std::unique_lock lock(m_shared->mutex);
    Shared::Side& far = m_shared->At(End::Far);
    const Wait wait = m_shared->AwaitFar(lock, deadline, [&] { return !far.inbox.empty(); });
    if (wait == Wait::Done)
        m_shared->Take(End::Far, std::back_inserter(*out), far.inbox.size());
    return wait;
}

MemoryLine::Wait MemoryLine::WriteFar(const std::uint8_t* data, std::size_t size, std::size_t* written,
                                      Deadline deadline) {
    *written = 0;
    std::unique_lock lock(m_shared->mutex);
    const Wait wait = m_shared->AwaitFar(lock, deadline, [&] { return m_shared->Room(End::Far) > 0; });
    if (wait == Wait::Done) {
        *written = std::min(size, m_shared->Room(End::Far));
        m_shared->Put(End::Far, data, *written);
    }
    return wait;
}

void MemoryLine::WakeFar() {
    std::lock_guard lock(m_shared->mutex);
    m_shared->At(End::Far).wake = true;
    m_shared->changed.notify_all();
}

LineSettings MemoryLine::Settings(End end) const {
    std::lock_guard lock(m_shared->mutex);
    return m_shared->At(end).settings;
}

void MemoryLine::SetFarSettings(const LineSettings& settings) {
    std::lock_guard lock(m_shared->mutex);
    m_shared->At(End::Far).settings = settings;
    m_shared->changed.notify_all();
}

std::size_t MemoryLine::UnreadByNear() const {
    std::lock_guard lock(m_shared->mutex);
    return m_shared->At(End::Near).inbox.size();
}

void MemoryLine::DiscardUnreadByNear() {
    std::lock_guard lock(m_shared->mutex);
    m_shared->DiscardUndelivered(End::Far);
}

void MemoryLine::HoldNearOutput() {
    std::lock_guard lock(m_shared->mutex);
    m_shared->nearHeld = true;
}

bool MemoryLine::LimitNearOutput(const std::string& name, std::size_t bytes) {
    std::shared_ptr<Shared> line;
    {
        std::lock_guard lock(g_registryMutex);
        if (const auto found = g_lines.find(name); found != g_lines.end())
            line = found->second;
    }
    if (!line)
        return false;
    std::lock_guard lock(line->mutex);
    line->nearBudget = bytes;
    return true;
}

void MemoryLine::HangUp() {
    std::lock_guard lock(m_shared->mutex);
    m_shared->HangUpLocked();
}

bool MemoryLine::IsHungUp() const { return m_shared->hungUp.load(std::memory_order_acquire); }
