// The package hash: SHA-256 compression, padding and word order over the system's own
// constants.
#include "pkgfile/package_hash.h"

#include <cstring>

namespace {

constexpr uint32_t InitialWords[8] = {0xcbbb9d5d, 0x629a292a, 0x9159015a, 0x152fecd8,
                                      0x67332667, 0x8eb44a87, 0xdb0c2e0d, 0x47b5481d};

constexpr uint32_t RoundConstants[64] = {
    0xca273ece, 0xd186b8c7, 0xeada7dd6, 0xf57d4f7f, 0x06f067aa, 0x0a637dc5, 0x113f9804, 0x1b710b35,
    0x28db77f5, 0x32caab7b, 0x3c9ebe0a, 0x431d67c4, 0x4cc5d4be, 0x597f299c, 0x5fcb6fab, 0x6c44198c,
    0x7ba0ea2d, 0x7eabf2d0, 0x8dbe8d03, 0x90bb1721, 0x99a2ad45, 0x9f86e289, 0xa84c4472, 0xb3df34fc,
    0xb99bb8d7, 0xbc76cbab, 0xc226a69a, 0xd304f19a, 0xde1be20a, 0xe39bb437, 0xee84927c, 0xf3edd277,
    0xfbfdfe53, 0x0bee2c7a, 0x0e90181c, 0x25f57204, 0x2da45582, 0x3a52c34c, 0x41dc0172, 0x495796fc,
    0x4bd31fc6, 0x533cde21, 0x5f7abfe3, 0x66c206b3, 0x6dfcc6bc, 0x7062f20f, 0x778d5127, 0x7eaba3cc,
    0x8363eccc, 0x85be1c25, 0x93c04028, 0x9f4a205f, 0xa1953565, 0xa627bb0f, 0xacfa8089, 0xb3c29b23,
    0xb602f6fa, 0xc36cee0a, 0xc7dc81ee, 0xce7b8471, 0xd740288c, 0xe21dba7a, 0xeabbff66, 0xf56a9e60};

inline uint32_t rotateRight(uint32_t x, unsigned n) {
    return (x >> n) | (x << (32 - n));
}

// The hash's words are big-endian (unlike the package file's numbers).
inline uint32_t loadBE32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}

inline void storeBE32(uint8_t* p, uint32_t x) {
    p[0] = uint8_t(x >> 24);
    p[1] = uint8_t(x >> 16);
    p[2] = uint8_t(x >> 8);
    p[3] = uint8_t(x);
}

void compress(uint32_t state[8], const uint8_t block[64]) {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i)
        w[i] = loadBE32(block + 4 * i);
    for (int i = 16; i < 64; ++i) {
        uint32_t s0 = rotateRight(w[i - 15], 7) ^ rotateRight(w[i - 15], 18) ^ (w[i - 15] >> 3);
        uint32_t s1 = rotateRight(w[i - 2], 17) ^ rotateRight(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = state[0], b = state[1], c = state[2], d = state[3];
    uint32_t e = state[4], f = state[5], g = state[6], h = state[7];
    for (int i = 0; i < 64; ++i) {
        uint32_t s1 = rotateRight(e, 6) ^ rotateRight(e, 11) ^ rotateRight(e, 25);
        uint32_t choice = (e & f) ^ (~e & g);
        uint32_t t1 = h + s1 + choice + RoundConstants[i] + w[i];
        uint32_t s0 = rotateRight(a, 2) ^ rotateRight(a, 13) ^ rotateRight(a, 22);
        uint32_t majority = (a & b) ^ (a & c) ^ (b & c);
        uint32_t t2 = s0 + majority;
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    state[0] += a;
    state[1] += b;
    state[2] += c;
    state[3] += d;
    state[4] += e;
    state[5] += f;
    state[6] += g;
    state[7] += h;
}

}  // namespace

void packageHash(const uint8_t* data, size_t size, uint8_t out[32]) {
    uint32_t state[8];
    std::memcpy(state, InitialWords, sizeof state);
    size_t whole = size - size % 64;
    for (size_t offset = 0; offset < whole; offset += 64)
        compress(state, data + offset);

    // Padding: 0x80, zeros, then the bit length as a 64-bit big-endian number; one
    // block, or two when fewer than 9 bytes are left in the first.
    uint8_t tail[128] = {};
    size_t rest = size - whole;
    if (rest != 0)
        std::memcpy(tail, data + whole, rest);
    tail[rest] = 0x80;
    size_t tailSize = rest + 9 <= 64 ? 64 : 128;
    uint64_t bits = uint64_t(size) * 8;
    storeBE32(tail + tailSize - 8, uint32_t(bits >> 32));
    storeBE32(tail + tailSize - 4, uint32_t(bits));
    for (size_t offset = 0; offset < tailSize; offset += 64)
        compress(state, tail + offset);

    for (int i = 0; i < 8; ++i)
        storeBE32(out + 4 * i, state[i]);
}
