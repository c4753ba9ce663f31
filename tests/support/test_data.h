// Deterministic pseudo-random contents for data files in tests: every byte
// value occurs, and the same size and seed always give the same bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

std::vector<std::uint8_t> TestFileBytes(std::size_t size, unsigned seed = 1);

// The same bytes as a string, for code that handles files as text buffers.
std::string TestFileString(std::size_t size, unsigned seed = 1);
