// minimal_responder: the least a program can do to answer the receiver, as
// the baseline of receiver_bench. It opens the serial device (or pty) given,
// and answers every whole frame from the receiver at once with one fixed
// 64-byte chunk frame carrying that frame's tag bytes: one blocking read for
// whatever the line has, one write per answer, nothing else. It ends when
// the line is hung up.
//
// Usage: minimal_responder DEVICE
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

constexpr std::uint8_t kFrameStart = 0xFE;  // address byte 0 of a receiver frame
constexpr std::size_t kChunkLength = 67;     // tag bytes, '*', 64 data bytes

struct Answer {
    std::uint8_t bytes[kChunkLength + 6];

    Answer() {
        std::memset(bytes, 0x5A, sizeof bytes);
        bytes[0] = bytes[1] = 0xFF;  // preamble
        bytes[2] = 0x01;             // address bytes of a frame from the tool
        bytes[3] = 0xFE;
        bytes[4] = kChunkLength;
        bytes[7] = '*';
    }

    void SetTags(std::uint8_t tag0, std::uint8_t tag1) {
        bytes[5] = tag0;
        bytes[6] = tag1;
        unsigned sum = 0;
        for (std::size_t i = 2; i < 5 + kChunkLength; ++i)
            sum += bytes[i];
        bytes[5 + kChunkLength] = static_cast<std::uint8_t>(sum);
    }
};

bool WriteAll(int fd, const std::uint8_t* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: minimal_responder DEVICE\n");
        return 2;
    }
    const int fd = open(argv[1], O_RDWR | O_NOCTTY);
    termios tio{};
    if (fd < 0 || tcgetattr(fd, &tio) != 0) {
        std::fprintf(stderr, "minimal_responder: %s: %s\n", argv[1], std::strerror(errno));
        return 1;
    }
    cfmakeraw(&tio);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    tcsetattr(fd, TCSANOW, &tio);

    Answer answer;
    std::uint8_t buffer[4096];
    std::size_t have = 0;
    for (;;) {
        const ssize_t n = read(fd, buffer + have, sizeof buffer - have);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return 0;  // hung up
        have += static_cast<std::size_t>(n);
        // FE 01 L tag0 tag1 text checksum: answer each whole one.
        std::size_t at = 0;
        for (;;) {
            while (at < have && buffer[at] != kFrameStart)
                ++at;
            if (have - at < 5 || have - at < 4u + buffer[at + 2])
                break;
            answer.SetTags(buffer[at + 3], buffer[at + 4]);
            if (!WriteAll(fd, answer.bytes, sizeof answer.bytes))
                return 0;
            at += 4u + buffer[at + 2];
        }
        std::memmove(buffer, buffer + at, have - at);
        have -= at;
        if (have == sizeof buffer)
            have = 0;  // no frame is that long: drop the noise
    }
}
