// The package hash of the legacy signature: SHA-256's algorithm with the system's own
// initial chaining words and round constants.
#pragma once

#include <cstddef>
#include <cstdint>

// Writes the 32-byte package hash of size bytes at data into out.
void packageHash(const uint8_t* data, size_t size, uint8_t out[32]);
