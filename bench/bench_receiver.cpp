#include "bench_receiver.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <stdlib.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "link/frame_format.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr std::chrono::milliseconds kAnswerTimeout{2000};
constexpr unsigned kTimeoutsInARow = 5;  // the program under test has stopped answering

}  // namespace

std::unique_ptr<BenchReceiver> BenchReceiver::Create(std::string* reason) {
    std::unique_ptr<BenchReceiver> receiver(new BenchReceiver);
    if (openpty(&receiver->m_master, &receiver->m_slave, nullptr, nullptr, nullptr) != 0) {
        *reason = std::string("openpty: ") + std::strerror(errno);
        return nullptr;
    }
    fcntl(receiver->m_master, F_SETFD, FD_CLOEXEC);
    fcntl(receiver->m_slave, F_SETFD, FD_CLOEXEC);
    fcntl(receiver->m_master, F_SETFL, fcntl(receiver->m_master, F_GETFL) | O_NONBLOCK);
    termios tio{};
    tcgetattr(receiver->m_slave, &tio);
    cfmakeraw(&tio);
    tcsetattr(receiver->m_slave, TCSANOW, &tio);
    receiver->m_strToolPath = ptsname(receiver->m_master);
    return receiver;
}

BenchReceiver::~BenchReceiver() {
    if (m_master >= 0)
        close(m_master);
    if (m_slave >= 0)
        close(m_slave);
}

bool BenchReceiver::Send(std::string_view text) {
    std::uint8_t tag0 = 0, tag1 = 0;
    m_tags.Next(text, &tag0, &tag1);
    std::uint8_t bytes[16];
    bytes[0] = frame::kReceiverAddr0;
    bytes[1] = frame::kReceiverAddr1;
    bytes[2] = static_cast<std::uint8_t>(frame::kTagSize + text.size());
    bytes[3] = tag0;
    bytes[4] = tag1;
    std::memcpy(bytes + 5, text.data(), text.size());
    bytes[5 + text.size()] = ReceiverFrameChecksum(tag0, tag1, text);
    const std::size_t size = 6 + text.size();
    return write(m_master, bytes, size) == static_cast<ssize_t>(size);
}

std::optional<BenchReceiver::Answer> BenchReceiver::Receive(std::chrono::milliseconds timeout) {
    const auto deadline = Clock::now() + timeout;
    for (;;) {
        // FF FF 01 FE L payload checksum; anything in front is skipped.
        std::size_t at = 0;
        while (at + 4 < m_nHave && !(m_buffer[at + 2] == frame::kToolAddr0 && m_buffer[at + 3] == frame::kToolAddr1))
            ++at;
        if (at + 4 < m_nHave && m_nHave - at >= m_buffer[at + 4] + frame::kOverhead) {
            Answer answer;
            answer.length = m_buffer[at + 4];
            answer.first = answer.length > frame::kTagSize ? m_buffer[at + 5 + frame::kTagSize] : 0;
            const std::size_t end = at + answer.length + frame::kOverhead;
            std::memmove(m_buffer.data(), m_buffer.data() + end, m_nHave - end);
            m_nHave -= end;
            return answer;
        }
        if (m_nHave == m_buffer.size())
            m_nHave = 0;  // no frame is that long
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        pollfd in = {m_master, POLLIN, 0};
        if (left.count() < 0 || poll(&in, 1, static_cast<int>(left.count()) + 1) <= 0)
            return std::nullopt;
        const ssize_t n = read(m_master, m_buffer.data() + m_nHave, m_buffer.size() - m_nHave);
        if (n > 0)
            m_nHave += static_cast<std::size_t>(n);
        else if (n == 0 || (errno != EAGAIN && errno != EINTR && errno != EIO))
            return std::nullopt;
    }
}

bool BenchReceiver::Handshake(std::chrono::milliseconds timeout) {
    return Repeat(frame::kWordMon, timeout,
                  [](const Answer& answer) {
                      return answer.length == frame::kTagSize + frame::kAnswerFast.size() && answer.first == 'F';
                  }) &&
           Send(frame::kWordOk) && Receive(kAnswerTimeout).has_value();
}

bool BenchReceiver::AwaitAnswering(std::chrono::milliseconds timeout) {
    return Repeat(frame::kWordOk, timeout, [](const Answer&) { return true; });
}

bool BenchReceiver::Repeat(std::string_view text, std::chrono::milliseconds timeout,
                           const std::function<bool(const Answer&)>& wanted) {
    const auto deadline = Clock::now() + timeout;
    while (Clock::now() < deadline) {
        Send(text);
        const std::optional<Answer> answer = Receive(std::chrono::milliseconds(300));
        if (answer && wanted(*answer)) {
            // Frames sent before the program opened its port may be
            // answered too: take those answers now, not in a timed run.
            while (Receive(std::chrono::milliseconds(100)))
                ;
            return true;
        }
    }
    return false;
}

BenchReceiver::Transfer BenchReceiver::Run(unsigned maxChunks, const std::function<void()>& atFirstChunk,
                                           const std::function<void()>& atLastChunk) {
    Transfer transfer;
    transfer.answerMicros.reserve(maxChunks > 0 ? maxChunks : 1u << 16);
    Clock::time_point firstSent;
    unsigned timeouts = 0;
    for (;;) {
        const auto sent = Clock::now();
        if (!Send(frame::kWordOk)) {
            transfer.problem = "the line failed";
            return transfer;
        }
        const std::optional<Answer> answer = Receive(kAnswerTimeout);
        const auto arrived = Clock::now();
        if (!answer) {
            if (++timeouts == kTimeoutsInARow) {
                transfer.problem = "no answer to " + std::to_string(kTimeoutsInARow) + " \"OK:\" frames in a row";
                return transfer;
            }
            continue;
        }
        timeouts = 0;
        if (answer->first == frame::kChunkMarker && answer->length > frame::kLengthLetter &&
            answer->length <= frame::kLengthFullChunk && answer->length != frame::kLengthHeader) {
            if (transfer.chunks++ == 0) {
                firstSent = sent;
                if (atFirstChunk)
                    atFirstChunk();
            }
            transfer.answerMicros.push_back(std::chrono::duration<double, std::micro>(arrived - sent).count());
            transfer.seconds = std::chrono::duration<double>(arrived - firstSent).count();
            if (transfer.chunks == maxChunks || answer->length < frame::kLengthFullChunk) {
                if (atLastChunk)
                    atLastChunk();
                return transfer;
            }
        } else if (answer->length == frame::kLengthLetter && answer->first == 'X') {
            return transfer;
        }
    }
}
