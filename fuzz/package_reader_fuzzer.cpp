// Fuzz target: the package file reader on arbitrary bytes. The header readers as the
// directory scan uses them, then a read of every part with the digest and a copy stream
// on, whose copy must hold the file's bytes exactly once and in order. (The files part's
// zlib data is unpacked by the install_stream target.)
#include <numeric>
#include <sstream>
#include <string>

#include "pkg/package_header.h"
#include "pkgfile/byte_order.h"
#include "pkgfile/package_file.h"
#include "private_root.h"

namespace {

// The header readers see little unless the file header states the true size: read the
// input once as it is and once with that length set.
void describeFile(std::string bytes) {
    const char* const scratch = "/rw/pckg/.download/fuzz.npk";
    for (int pass = 0; pass < 2; ++pass) {
        writeWholeFile(scratch, bytes);
        CandidatePackage record;
        readPackageInfo(record, scratch);
        if (bytes.size() < 8)
            return;
        encodeLE32(reinterpret_cast<uint8_t*>(&bytes[4]), uint32_t(bytes.size() - 8));
    }
}

// Reads a part's data in pieces whose sizes depend on mode, each followed by a byte got
// and put back and a forward seek, so that refills of the copy meet every kind of step.
void readPartData(PackageFile& file, unsigned mode) {
    char block[5000];
    for (unsigned step = 1; file.good(); ++step) {
        file.read(block, std::streamsize(1 + (mode * 37 + step) % sizeof block));
        if (file.get() != EOF)
            file.unget();
        file.seekg(std::streamoff(mode % 97), std::ios_base::cur);
    }
}

void readEveryPart(const std::string& bytes, unsigned mode) {
    std::istringstream source(bytes);
    std::stringbuf copy;
    PackageFile file(source, true, &copy);
    file.acceptedTypes.resize(PartDigestSelector + 1);  // every known type and more
    std::iota(file.acceptedTypes.begin(), file.acceptedTypes.end(), 0);
    bool validMagic = file.magic == PackageMagic || file.magic == UnrecordedMagic;
    int type = file.nextPart();
    while (type != PartEnd) {
        if (type == PartPackageHeader || type == PartBundleHeader) {
            Package record;
            // The reader leaves the file at the first part it did not take; after a
            // failure it may not have moved at all.
            if (readPackageHeader(record, file) && file.currentType != PartEnd) {
                type = file.currentType;
                continue;
            }
        } else if (type == PartDependencies || type == PartConflicts || type == PartProvides ||
                   type == PartBlockList) {
            std::vector<Dependency> list;
            readDependencyList(file, list);
        } else if (type == PartSignature) {
            file.verify();
        } else {
            readPartData(file, mode);
        }
        // A read that failed within a part stops nextPart; go on past it regardless.
        file.clear();
        type = file.nextPart();
    }
    // Every byte reaches the copy once, in file order; a file with a known magic is
    // read to its end.
    const std::string copied = copy.str();
    if (bytes.compare(0, copied.size(), copied) != 0)
        fuzzFailure("the copy is not the file's bytes in order");
    if (validMagic && copied.size() != bytes.size())
        fuzzFailure("the copy lacks bytes of a file read to its end");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string bytes(reinterpret_cast<const char*>(data), size);
    describeFile(bytes);
    readEveryPart(bytes, size == 0 ? 0 : data[size - 1]);
    return 0;
}
