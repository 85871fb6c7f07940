// Ed25519 signature check of the platform crypto layer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace asn1 {

// A run of bytes given by its start and end; passed by value, owns nothing.
struct blob {
    const uint8_t* start;
    const uint8_t* end;

    blob(const uint8_t* start, const uint8_t* end) : start(start), end(end) {}
    blob(const uint8_t* start, size_t size) : start(start), end(start + size) {}
    size_t size() const { return start && end > start ? size_t(end - start) : 0; }
};

}  // namespace asn1

namespace eddsa {

// Nonzero when signature (64 bytes) is a valid Ed25519 signature of message under key
// (32 bytes, RFC 8032 encoding). A key or signature of another size gives 0.
int verify(asn1::blob key, asn1::blob message, asn1::blob signature);

}  // namespace eddsa
