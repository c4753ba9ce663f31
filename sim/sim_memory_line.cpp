// The simulator on the far end of a line inside the process.
#include <mutex>

#include "platform/serial_memory.h"
#include "sim/sim_line.h"

namespace {

class MemorySimLine final : public SimLine {
public:
    explicit MemorySimLine(std::unique_ptr<MemoryLine> line) : SimLine(line->Name()), m_pLine(std::move(line)) {}

    bool SeesToolSide() const override { return true; }
    bool IsClosed() const override { return m_pLine->IsHungUp(); }

    ReadResult Read(std::vector<std::uint8_t>* out, std::chrono::milliseconds timeout) override {
        switch (m_pLine->ReadFar(out, std::chrono::steady_clock::now() + timeout)) {
        case MemoryLine::Wait::Done: return ReadResult::Data;
        case MemoryLine::Wait::TimedOut: return ReadResult::Timeout;
        case MemoryLine::Wait::Woken: return ReadResult::Woken;
        case MemoryLine::Wait::HungUp: break;
        }
        return ReadResult::Closed;
    }

    void Wake() override { m_pLine->WakeFar(); }

    std::optional<unsigned> ToolBaud() const override {
        return static_cast<unsigned>(m_pLine->Settings(MemoryLine::End::Near).baudRate);
    }
    std::size_t UnreadByTool() const override { return m_pLine->UnreadByNear(); }
    void DiscardUnread() override { m_pLine->DiscardUnreadByNear(); }
    void HoldToolOutput() override { m_pLine->HoldNearOutput(); }
    void Close() override { m_pLine->HangUp(); }

protected:
    Put WriteSome(const std::uint8_t* data, std::size_t size, std::size_t* written,
                  std::chrono::steady_clock::time_point until) override {
        switch (m_pLine->WriteFar(data, size, written, until)) {
        case MemoryLine::Wait::Done: return Put::Wrote;
        case MemoryLine::Wait::TimedOut: return Put::TimedOut;
        case MemoryLine::Wait::Woken: return Put::Woken;
        case MemoryLine::Wait::HungUp: break;
        }
        return Put::Closed;
    }

    void ApplyBaud(unsigned baud) override {
        LineSettings settings = m_pLine->Settings(MemoryLine::End::Far);
        settings.baudRate = baud;
        m_pLine->SetFarSettings(settings);
    }

private:
    std::unique_ptr<MemoryLine> m_pLine;
};

}  // namespace

std::unique_ptr<SimLine> SimLine::CreateMemoryLine(const std::string& name, std::string* reason) {
    std::unique_ptr<MemoryLine> line = MemoryLine::Create(name, reason);
    if (!line)
        return nullptr;
    return std::make_unique<MemorySimLine>(std::move(line));
}
