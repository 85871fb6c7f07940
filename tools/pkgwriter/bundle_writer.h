// Bundles: member packages taken byte for byte from signed package files and joined
// behind a bundle header, so that every member keeps its own valid signature.
#pragma once

#include <string>
#include <vector>

#include "pkgwriter/signer.h"

// One part of a package file as it lies in the file.
struct PartLocation {
    uint16_t type;
    size_t headerOffset;  // offset of the 6-byte part header in the file
    uint32_t length;      // length of the data
};

// The parts of a package file in order. False with a message when the file header is
// missing or unknown, or a part runs past the end of the file.
bool listParts(const std::string& file, std::vector<PartLocation>& parts, std::string& error);

// A member taken from a package file: its bytes from the type-1 part header through the
// signature part, and the digest that signature was made over.
struct BundleMember {
    std::string name;
    std::string parts;
    DigestKind digest;
};

// Takes the one package of a stand-alone package file. False with a message when the
// file holds no package header, a bundle, or no signature part after the header.
bool takeMember(const std::string& file, BundleMember& member, std::string& error);

// A bundle file: the digest selector when the members use SHA-256, the bundle header
// (type 18) with the bundle's optional parts, the image part holding image when the
// bundle has keepImage, list part 20 when blocked is not empty, and the members as taken.
// False with a message when the members use different digests, none is given, or a member
// has the bundle's name.
bool buildBundle(std::string& file, const Package& bundle, const std::vector<Dependency>& blocked,
                 const std::vector<BundleMember>& members, uint32_t magic, std::string& error,
                 const std::string& image = std::string());
