// Curve25519 field arithmetic on ten limbs, the joint recoding of two scalars and the
// two-scalar Montgomery ladder of the legacy signature check.
#include "pkgfile/curve25519.h"

#include <cstring>

namespace curve25519 {

namespace {

constexpr unsigned LimbBits[10] = {26, 25, 26, 25, 26, 25, 26, 25, 26, 25};
constexpr uint64_t LimbMask[10] = {0x3ffffff, 0x1ffffff, 0x3ffffff, 0x1ffffff, 0x3ffffff,
                                   0x1ffffff, 0x3ffffff, 0x1ffffff, 0x3ffffff, 0x1ffffff};
// 2p limb by limb: added before a subtraction so that no limb goes below zero.
constexpr uint64_t TwiceModulus[10] = {
    2 * (0x3ffffff - 18), 2 * 0x1ffffff, 2 * 0x3ffffff, 2 * 0x1ffffff, 2 * 0x3ffffff,
    2 * 0x1ffffff,        2 * 0x3ffffff, 2 * 0x1ffffff, 2 * 0x3ffffff, 2 * 0x1ffffff};

constexpr uint32_t CurveA = 486662;
constexpr uint32_t LadderA24 = 121665;  // (486662 - 2) / 4
constexpr uint32_t BaseU = 9;

// y(G), the even square root of 9^3 + 486662·9^2 + 9 = 39420360, and 2·y(G).
constexpr uint8_t BaseY[32] = {0x14, 0x2c, 0x31, 0x81, 0x5d, 0x3a, 0x16, 0xd6, 0x4d, 0x9e, 0x83,
                               0x92, 0x81, 0xb2, 0xc2, 0x6d, 0xb3, 0x2e, 0xb7, 0x88, 0xd3, 0x22,
                               0xe1, 0x1f, 0x4b, 0x79, 0x5f, 0x47, 0x5e, 0xe6, 0x51, 0x5f};
constexpr uint8_t TwiceBaseY[32] = {
    0x3b, 0x58, 0x62, 0x02, 0xbb, 0x74, 0x2c, 0xac, 0x9b, 0x3c, 0x07, 0x25, 0x03, 0x65, 0x85, 0xdb,
    0x66, 0x5d, 0x6e, 0x11, 0xa7, 0x45, 0xc2, 0x3f, 0x96, 0xf2, 0xbe, 0x8e, 0xbc, 0xcc, 0xa3, 0x3e};
// A square root of -1: 2^((p-1)/4).
constexpr uint8_t RootOfMinusOne[32] = {
    0xb0, 0xa0, 0x0e, 0x4a, 0x27, 0x1b, 0xee, 0xc4, 0x78, 0xe4, 0x2f, 0xad, 0x06, 0x18, 0x43, 0x2f,
    0xa7, 0xd7, 0xfb, 0x3d, 0x99, 0x00, 0x4d, 0x2b, 0x0b, 0xdf, 0xc1, 0x4f, 0x80, 0x24, 0x83, 0x2b};

// Carries t (limbs of up to 61 bits) into a field element. 2^255 = 19 (mod p) folds the
// top carry back into limb 0. Afterwards limb 1 may exceed its width slightly.
void carry(FieldElement& out, uint64_t t[10]) {
    for (int i = 0; i < 10; ++i) {
        uint64_t over = t[i] >> LimbBits[i];
        t[i] &= LimbMask[i];
        if (i < 9)
            t[i + 1] += over;
        else
            t[0] += 19 * over;
    }
    t[1] += t[0] >> 26;
    t[0] &= LimbMask[0];
    for (int i = 0; i < 10; ++i)
        out.limb[i] = uint32_t(t[i]);
}

bool limbsWithinWidth(const FieldElement& a) {
    for (int i = 0; i < 10; ++i) {
        if (a.limb[i] > LimbMask[i])
            return false;
    }
    return true;
}

// Brings every limb within its width and the value below p.
void reduceFully(FieldElement& a) {
    while (!limbsWithinWidth(a)) {
        uint64_t t[10];
        for (int i = 0; i < 10; ++i)
            t[i] = a.limb[i];
        carry(a, t);
    }
    if (isAtLeastModulus(a)) {
        a.limb[0] -= uint32_t(LimbMask[0] - 18);
        for (int i = 1; i < 10; ++i)
            a.limb[i] = 0;
    }
}

FieldElement elementFromBytes(const uint8_t bytes[32]) {
    FieldElement element;
    fromBytes(element, bytes);
    return element;
}

}  // namespace

void fromBytes(FieldElement& out, const uint8_t in[32]) {
    uint64_t bits = 0;
    unsigned held = 0;
    size_t next = 0;
    for (int i = 0; i < 10; ++i) {
        while (held < LimbBits[i]) {
            bits |= uint64_t(in[next++]) << held;
            held += 8;
        }
        out.limb[i] = uint32_t(bits & LimbMask[i]);
        bits >>= LimbBits[i];
        held -= LimbBits[i];
    }
}

void toBytes(uint8_t out[32], const FieldElement& a) {
    FieldElement r = a;
    reduceFully(r);
    uint64_t bits = 0;
    unsigned held = 0;
    size_t next = 0;
    for (int i = 0; i < 10; ++i) {
        bits |= uint64_t(r.limb[i]) << held;
        held += LimbBits[i];
        while (held >= 8) {
            out[next++] = uint8_t(bits);
            bits >>= 8;
            held -= 8;
        }
    }
    out[next] = uint8_t(bits);  // the last 7 bits
}

bool isAtLeastModulus(const FieldElement& a) {
    for (int i = 1; i < 10; ++i) {
        if (a.limb[i] != LimbMask[i])
            return false;
    }
    return a.limb[0] >= LimbMask[0] - 18;
}

void setSmall(FieldElement& out, uint32_t value) {
    uint64_t t[10] = {value};
    carry(out, t);
}

void add(FieldElement& out, const FieldElement& a, const FieldElement& b) {
    uint64_t t[10];
    for (int i = 0; i < 10; ++i)
        t[i] = uint64_t(a.limb[i]) + b.limb[i];
    carry(out, t);
}

void subtract(FieldElement& out, const FieldElement& a, const FieldElement& b) {
    uint64_t t[10];
    for (int i = 0; i < 10; ++i)
        t[i] = uint64_t(a.limb[i]) + TwiceModulus[i] - b.limb[i];
    carry(out, t);
}

void multiplySmall(FieldElement& out, const FieldElement& a, uint32_t factor) {
    uint64_t t[10];
    for (int i = 0; i < 10; ++i)
        t[i] = uint64_t(a.limb[i]) * factor;
    carry(out, t);
}

void multiply(FieldElement& out, const FieldElement& a, const FieldElement& b) {
    // Limb i sits at bit ceil(25.5·i); the product of two odd limbs lands one bit above
    // limb i + j and counts twice. Products at limb 10 and up wrap with 2^255 = 19.
    uint64_t t[19] = {};
    for (int i = 0; i < 10; ++i) {
        for (int j = 0; j < 10; ++j) {
            uint64_t product = uint64_t(a.limb[i]) * b.limb[j];
            if ((i & 1) && (j & 1))
                product *= 2;
            t[i + j] += product;
        }
    }
    for (int k = 18; k >= 10; --k)
        t[k - 10] += 19 * t[k];
    carry(out, t);
}

void square(FieldElement& out, const FieldElement& a) {
    multiply(out, a, a);
}

void invert(FieldElement& out, const FieldElement& z, bool squareRootPower) {
    // Raises z to 2^250 - 1 by the usual chain, then to 2^255 - 21 = p - 2 (inverse) or
    // to 2^252 - 3 = (p - 5)/8 (square-root power).
    FieldElement z2, z9, z11, t, z5_0, z10_0, z20_0, z50_0, z100_0;
    square(z2, z);
    square(t, z2);
    square(t, t);
    multiply(z9, t, z);
    multiply(z11, z9, z2);
    square(t, z11);
    multiply(z5_0, t, z9);
    auto squareTimes = [](FieldElement& x, int times) {
        for (int i = 0; i < times; ++i)
            square(x, x);
    };
    t = z5_0;
    squareTimes(t, 5);
    multiply(z10_0, t, z5_0);
    t = z10_0;
    squareTimes(t, 10);
    multiply(z20_0, t, z10_0);
    t = z20_0;
    squareTimes(t, 20);
    multiply(t, t, z20_0);
    squareTimes(t, 10);
    multiply(z50_0, t, z10_0);
    t = z50_0;
    squareTimes(t, 50);
    multiply(z100_0, t, z50_0);
    t = z100_0;
    squareTimes(t, 100);
    multiply(t, t, z100_0);
    squareTimes(t, 50);
    multiply(t, t, z50_0);  // z^(2^250 - 1)
    if (squareRootPower) {
        squareTimes(t, 2);
        multiply(out, t, z);
    } else {
        squareTimes(t, 5);
        multiply(out, t, z11);
    }
}

bool equal(const FieldElement& a, const FieldElement& b) {
    uint8_t x[32], y[32];
    toBytes(x, a);
    toBytes(y, b);
    return std::memcmp(x, y, 32) == 0;
}

bool isOdd(const FieldElement& a) {
    uint8_t bytes[32];
    toBytes(bytes, a);
    return bytes[0] & 1;
}

bool squareRoot(FieldElement& out, const FieldElement& a) {
    // p = 5 (mod 8): b = a^((p+3)/8) is a root of a or of -a; in the second case b times
    // a root of -1 is one of a.
    FieldElement power, root, check, negated, zero;
    invert(power, a, true);
    multiply(root, power, a);
    square(check, root);
    if (equal(check, a)) {
        out = root;
        return true;
    }
    setSmall(zero, 0);
    subtract(negated, zero, a);
    if (!equal(check, negated))
        return false;
    multiply(out, root, elementFromBytes(RootOfMinusOne));
    return true;
}

bool prepareBase(LegacyBase& out, const uint8_t publicKey[32]) {
    FieldElement& u = out.u;
    fromBytes(u, publicKey);
    // y^2 = u^3 + A·u^2 + u = u·((u + A)·u + 1)
    FieldElement curveA, one, t, ySquared;
    setSmall(curveA, CurveA);
    setSmall(one, 1);
    add(t, u, curveA);
    multiply(t, t, u);
    add(t, t, one);
    multiply(ySquared, t, u);
    if (!squareRoot(out.y, ySquared))
        return false;
    if (isOdd(out.y)) {
        FieldElement zero;
        setSmall(zero, 0);
        subtract(out.y, zero, out.y);
    }

    // Chord through |P| and ±G: u = (y1 - y2)^2 / (u1 - u2)^2 - u1 - u2 - A, with
    // y(|P|) + y(G) = (y(|P|) - y(G)) + 2·y(G).
    FieldElement baseU, du, inverse, dySum, dyDifference, lambdaSquared, rest;
    setSmall(baseU, BaseU);
    subtract(du, u, baseU);
    square(du, du);
    invert(inverse, du);
    subtract(dySum, out.y, elementFromBytes(BaseY));
    add(dyDifference, dySum, elementFromBytes(TwiceBaseY));
    add(rest, u, baseU);
    add(rest, rest, curveA);
    square(lambdaSquared, dySum);
    multiply(lambdaSquared, lambdaSquared, inverse);
    subtract(out.uSum, lambdaSquared, rest);
    square(lambdaSquared, dyDifference);
    multiply(lambdaSquared, lambdaSquared, inverse);
    subtract(out.uDifference, lambdaSquared, rest);
    return true;
}

// The ladder keeps three corners of the box {a, a+1} x {b, b+1} around the scalars'
// prefixes (a, b), indexed x + 2y (x counts |P|, y counts G). Per bit the box moves to
// (2a + c, 2b + d) for the bits (c, d): corner (c, d) is doubled, the opposite corner is
// the sum across the box's diagonal (difference |P| + G or |P| - G), and one of the two
// remaining corners is the sum along a side (difference |P| or G); the other is left out.
// Which one may be left out depends on bits further down, hence the recoding below.
//
// The box's invariant: the corner left out is never the next bits (c, d), and at the end
// never corner 0, the result. Leaving out a corner adjacent to (c, d) forces the same
// corner to be left out again; leaving out the opposite one allows either neighbour of
// (c, d). The neighbours of (c, d) are its two corners whose v-bit and h-bit differ when
// those of (c, d) agree, and vice versa; a forced corner survives until the first lower
// bits of the other kind, so the free choice takes the neighbour opposite those bits.
void recode(LadderChain& chain, const uint8_t v[32], const uint8_t h[32]) {
    auto cornerAt = [&](int bit) -> uint8_t {
        if (bit < 0)
            return 0;  // the result's corner
        unsigned vBit = (v[bit / 8] >> (bit % 8)) & 1;
        unsigned hBit = (h[bit / 8] >> (bit % 8)) & 1;
        return uint8_t(vBit | (hBit << 1));
    };
    auto kind = [](uint8_t corner) { return (corner ^ (corner >> 1)) & 1; };

    // From the least significant bit up: for each bit, the nearest lower corner of the
    // other kind (or none, 4).
    uint8_t nearestOther[256];
    uint8_t latest[2] = {4, 4};
    for (int bit = -1; bit < 256; ++bit) {
        uint8_t corner = cornerAt(bit);
        if (bit >= 0)
            nearestOther[bit] = latest[kind(corner) ^ 1];
        latest[kind(corner)] = corner;
    }

    // From the top: choose the side addition of each step.
    uint8_t missing = cornerAt(255) ^ 3;
    chain.firstMissing = missing;
    for (int bit = 255; bit >= 0; --bit) {
        uint8_t doubled = cornerAt(bit);
        bool sideP;
        // Side |P| leaves out (c, 1-d), side G leaves out (1-c, d); each needs the pair
        // of corners it adds.
        bool sidePPossible = ((missing >> 1) & 1) != ((doubled >> 1) & 1);
        bool sideGPossible = (missing & 1) != (doubled & 1);
        if (sidePPossible && sideGPossible) {
            uint8_t below = nearestOther[bit];
            uint8_t wanted = below == 4 ? uint8_t(doubled ^ 2) : uint8_t(below ^ 3);
            sideP = wanted == (doubled ^ 2);
        } else {
            sideP = sidePPossible;
        }
        missing = sideP ? (doubled ^ 2) : (doubled ^ 1);
        chain.step[255 - bit] = uint8_t(doubled | (sideP ? StepSideP : 0));
    }
}

namespace {

struct Point {
    FieldElement x, z;  // u = x / z; z = 0 is the point at infinity
};

void doublePoint(Point& out, const Point& p) {
    FieldElement sum, difference, sumSquared, differenceSquared, e, t;
    add(sum, p.x, p.z);
    subtract(difference, p.x, p.z);
    square(sumSquared, sum);
    square(differenceSquared, difference);
    subtract(e, sumSquared, differenceSquared);
    multiply(out.x, sumSquared, differenceSquared);
    multiplySmall(t, e, LadderA24);
    add(t, t, sumSquared);
    multiply(out.z, e, t);
}

// out = p + q from the u-coordinate of p - q.
void differentialAdd(Point& out, const Point& p, const Point& q, const FieldElement& uDifference) {
    FieldElement pSum, pDifference, qSum, qDifference, a, b, t;
    add(pSum, p.x, p.z);
    subtract(pDifference, p.x, p.z);
    add(qSum, q.x, q.z);
    subtract(qDifference, q.x, q.z);
    multiply(a, pDifference, qSum);
    multiply(b, pSum, qDifference);
    add(t, a, b);
    square(out.x, t);
    subtract(t, a, b);
    square(t, t);
    multiply(out.z, t, uDifference);
}

}  // namespace

void combine(uint8_t out[32], const LegacyBase& base, const uint8_t v[32], const uint8_t h[32]) {
    LadderChain chain;
    recode(chain, v, h);

    FieldElement baseU;
    setSmall(baseU, BaseU);
    Point box[4];
    setSmall(box[0].x, 1);
    setSmall(box[0].z, 0);
    box[1].x = base.u;
    box[2].x = baseU;
    box[3].x = base.uSum;
    for (int i = 1; i < 4; ++i)
        setSmall(box[i].z, 1);

    uint8_t missing = chain.firstMissing;
    for (int i = 0; i < 256; ++i) {
        uint8_t doubled = chain.step[i] & StepCornerMask;
        bool sideP = chain.step[i] & StepSideP;
        Point next[4];
        doublePoint(next[doubled], box[doubled]);
        if (missing == 0 || missing == 3)
            differentialAdd(next[doubled ^ 3], box[1], box[2], base.uDifference);
        else
            differentialAdd(next[doubled ^ 3], box[0], box[3], base.uSum);
        if (sideP) {
            uint8_t row = doubled & 2;  // the corners (0, d) and (1, d)
            differentialAdd(next[doubled ^ 1], box[row], box[row | 1], base.u);
            missing = doubled ^ 2;
        } else {
            uint8_t column = doubled & 1;  // the corners (c, 0) and (c, 1)
            differentialAdd(next[doubled ^ 2], box[column], box[column | 2], baseU);
            missing = doubled ^ 1;
        }
        for (int c = 0; c < 4; ++c) {
            if (c != missing)
                box[c] = next[c];
        }
    }

    FieldElement inverse, u;
    invert(inverse, box[0].z);
    multiply(u, box[0].x, inverse);
    toBytes(out, u);
}

}  // namespace curve25519
