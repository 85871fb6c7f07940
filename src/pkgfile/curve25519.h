// Curve25519 arithmetic of the legacy signature check: the field GF(2^255 - 19) and
// u-only (Montgomery) computation of v·|P| + h·G.
#pragma once

#include <cstdint>

namespace curve25519 {

// A field element in ten limbs of alternately 26 and 25 bits, least significant first.
// Routines leave every limb at most a little above its width; toBytes reduces fully.
struct FieldElement {
    uint32_t limb[10];
};

// Loads 32 little-endian bytes; bit 255 is ignored.
void fromBytes(FieldElement& out, const uint8_t in[32]);
// Stores the fully reduced value as 32 little-endian bytes.
void toBytes(uint8_t out[32], const FieldElement& a);
// Requires: every limb within its width. True when the value is p = 2^255 - 19 or above.
bool isAtLeastModulus(const FieldElement& a);

void setSmall(FieldElement& out, uint32_t value);
void add(FieldElement& out, const FieldElement& a, const FieldElement& b);
void subtract(FieldElement& out, const FieldElement& a, const FieldElement& b);
// Requires: factor below 2^20.
void multiplySmall(FieldElement& out, const FieldElement& a, uint32_t factor);
void multiply(FieldElement& out, const FieldElement& a, const FieldElement& b);
void square(FieldElement& out, const FieldElement& a);
// out = z^(p-2), the inverse (0 for 0); with squareRootPower, out = z^((p-5)/8) instead,
// from which a square root is made.
void invert(FieldElement& out, const FieldElement& z, bool squareRootPower = false);
// One of the two square roots of a (by exponentiation). False when a has none.
bool squareRoot(FieldElement& out, const FieldElement& a);
bool equal(const FieldElement& a, const FieldElement& b);
bool isOdd(const FieldElement& a);

// The legacy public key prepared for the check: P's u, the y of |P| (the one of ±P whose
// y is even), and the u-coordinates of |P| + G and |P| - G.
struct LegacyBase {
    FieldElement u;
    FieldElement y;
    FieldElement uSum;
    FieldElement uDifference;
};

// False when publicKey is not the u-coordinate of a point of the curve.
bool prepareBase(LegacyBase& out, const uint8_t publicKey[32]);

// Per bit from the top: which corner of the ladder's box is doubled (bit 0: v's bit,
// bit 1: h's bit) and whether the side addition's difference is |P| (StepSideP) or G.
constexpr uint8_t StepCornerMask = 3;
constexpr uint8_t StepSideP = 4;
// The chain of a joint recoding of v and h.
struct LadderChain {
    uint8_t firstMissing;  // the corner of the first box that is not kept
    uint8_t step[256];     // step[0] is for bit 255
};

// Recodes the 256-bit little-endian scalars v and h into one ladder chain.
void recode(LadderChain& chain, const uint8_t v[32], const uint8_t h[32]);

// out = u(v·|P| + h·G), fully reduced; 32 zero bytes for the point at infinity.
void combine(uint8_t out[32], const LegacyBase& base, const uint8_t v[32], const uint8_t h[32]);

}  // namespace curve25519
