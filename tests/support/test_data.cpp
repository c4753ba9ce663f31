#include "support/test_data.h"

std::vector<std::uint8_t> TestFileBytes(std::size_t size, unsigned seed) {
    std::vector<std::uint8_t> bytes(size);
    std::uint32_t state = seed * 2654435761u + 1;
    for (std::uint8_t& byte : bytes) {
        state = state * 1103515245u + 12345u;
        byte = static_cast<std::uint8_t>(state >> 16);
    }
    return bytes;
}

std::string TestFileString(std::size_t size, unsigned seed) {
    const std::vector<std::uint8_t> bytes = TestFileBytes(size, seed);
    return std::string(bytes.begin(), bytes.end());
}
