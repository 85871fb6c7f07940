// Unpacking a package onto flash through the manifest, with its signature check.
#include "plan/unpack.h"

#include <algorithm>
#include <cerrno>
#include <vector>

#include "pkg/database.h"
#include "pkg/package.h"
#include "pkg/package_set.h"
#include "pkgfile/inflate_ahead.h"
#include "pkgfile/layout.h"
#include "pkgfile/package_file.h"
#include "pkgfile/signature.h"
#include "platform/board.h"
#include "platform/device_paths.h"
#include "stage/manifest.h"

namespace {

// Most files fit in one block, and so reach their file in one write.
constexpr size_t CopyBlock = 65536;
constexpr uint32_t EarlyWriteback = 1 << 20;
constexpr uint32_t ImageStep = 4096;
constexpr uint16_t TypeMask = 0xF000;
constexpr uint16_t RegularFile = 0x8000;

std::string progressLabel(const InstalledPackage& package) {
    std::string label = "installing ";
    if (package.disabled && package.bundle.name.empty())
        label += " (disabled) ";
    return label + displayName(package);
}

void showProgress(PackageSet& set, const InstalledPackage& package, PackageFile& file) {
    set.progress(file.offset(), file.totalSize, progressLabel(package));
}

std::string targetPath(const InstalledPackage& package, const std::string& name) {
    std::string path = device::Flash;
    if (package.disabled)
        path += "/x/" + package.name;
    if (name.empty() || name[0] != '/')
        path += "/";
    return path + name;
}

// Reads the image part through (it feeds the digest) in steps that move the bar.
void passOverImage(PackageSet& set, InstalledPackage& package, PackageFile& file) {
    while (file.good() && file.position() < file.partLength()) {
        showProgress(set, package, file);
        uint32_t step = std::min(ImageStep, file.partLength() - file.position());
        file.seekg(step, std::ios_base::cur);
    }
}

// Checks where a file entry would land before anything is staged for it. A package is
// broken when the name is one the installer does not take, when it lands on the
// installer's own files, or when this install already stages a file where it needs a
// folder or the other way round. (A link on the way out of /flash, or a folder at the
// target, makes creating the file fail.)
bool targetAccepted(PackageSet& set, const InstalledPackage& package, Manifest& manifest,
                    const std::string& name, const std::string& target) {
    std::string real;
    PathStatus status = manifest.resolve(target, real);
    if (entryNameProblem(name) == nullptr && status != PathStatus::TooLong &&
        !(status == PathStatus::Ok && manifest.isInstallerPath(real)) &&
        !manifest.clashesWithStagedFile(target))
        return true;
    reportBrokenPackage(set, package);
    return false;
}

// After the signature of a stand-alone package only an architecture part and an empty
// dependency part may follow.
bool onlyTrailingPartsLeft(PackageFile& file) {
    if (file.currentType == PartArchitecture)
        file.nextPart();
    if (file.currentType == PartDependencies && file.partLength() == 0)
        file.nextPart();
    return file.currentType == PartEnd;
}

// Most files lie whole in the block being inflated, and are written from where they lie.
bool copyData(InflateAhead& in, FdOutStream& out, uint32_t length, bool& readShort) {
    static char block[CopyBlock];
    readShort = false;
    while (length > 0) {
        size_t count = std::min<size_t>(length, CopyBlock);
        const char* bytes = in.readInPlace(count);
        if (bytes == nullptr) {
            in.read(block, std::streamsize(count));
            if (size_t(in.gcount()) != count) {
                readShort = true;
                return false;
            }
            bytes = block;
        }
        if (!out.write(bytes, std::streamsize(count)))
            return false;
        length -= uint32_t(count);
    }
    return true;
}

}  // namespace

bool imageCopyIsWhole(PackageSet& set, const InstalledPackage& package, PackageFile& file) {
    if (!package.keepImage || !file.buffer().copyFailed())
        return true;
    errno = file.buffer().copyError();
    reportWriteFailure(set, package, "image");
    return false;
}

void reportBrokenPackage(PackageSet& set, const InstalledPackage& package) {
    set.error("installation of %s failed: broken package", displayName(package).c_str());
}

bool unpackFiles(PackageSet& set, InstalledPackage& package, Manifest& manifest,
                 PackageFile& file) {
    // The file is the inflating thread's until `in` is gone: the bar goes by how far
    // that thread has read.
    InflateAhead in(file);
    int boardClass = -1;
    layout::FileEntryHeader entry;
    std::string name;
    while (in.good()) {
        layout::EntryRead read = layout::readFileEntry(in, entry, name);
        if (read == layout::EntryRead::End)
            break;
        if (read == layout::EntryRead::NameCutShort) {
            reportBrokenPackage(set, package);
            return false;
        }
        uint16_t mode = entry.mode;
        uint8_t entryClass = entry.processorClass;
        uint32_t length = entry.dataLength;
        bool wanted = (mode & TypeMask) == RegularFile;
        if (wanted && entryClass != 0) {
            if (boardClass < 0)
                boardClass = processorClass();
            wanted = entryClass == boardClass;
        }
        if (!wanted) {
            in.seekg(length, std::ios_base::cur);
            continue;
        }
        std::string target = targetPath(package, name);
        if (!targetAccepted(set, package, manifest, name, target))
            return false;
        FdOutStream out = manifest.createFile(target, length, mode);
        if (!out.is_open()) {
            reportWriteFailure(set, package, name);
            return false;
        }
        package.files.insert(target.substr(6));  // recorded below /flash
        bool readShort = false;
        if (!copyData(in, out, length, readShort)) {
            if (readShort)
                reportBrokenPackage(set, package);
            else
                reportWriteFailure(set, package, name);
            return false;
        }
        // The commit flushes every file before its journal names them; writing a large
        // one out as soon as it is complete lets that flush find less left to do (small
        // ones are better left to be written together).
        if (length >= EarlyWriteback)
            out.startWriteback();
        out.close();
        if (out.fail()) {
            reportWriteFailure(set, package, name);
            return false;
        }
        set.progress(in.sourcePosition(), file.totalSize, progressLabel(package));
    }
    // The entries end where the compressed stream ends. Corrupt data or a stream cut
    // short reads as the same early end, and would install the package without the
    // files that follow.
    if (!in.complete()) {
        reportBrokenPackage(set, package);
        return false;
    }
    return true;
}

bool installPackageStream(PackageSet& set, InstalledPackage& package, Manifest& manifest,
                          PackageFile& file) {
    showProgress(set, package, file);
    if (!isSafePackageName(package.name)) {
        reportBrokenPackage(set, package);
        return false;
    }
    if (!file.isUnrecorded() && !prepareDir(set, package, manifest))
        return false;
    if (file.currentType == PartImage) {
        passOverImage(set, package, file);
        file.nextPart();
    }
    if (file.currentType == PartFiles) {
        bool bootImageOnly = bootImageRequested() && (package.flags & FlagBootImage);
        // With the boot image asked for, its files stay unread; the digest still covers them.
        if (!bootImageOnly && !unpackFiles(set, package, manifest, file))
            return false;
        file.nextPart();
    }
    SignatureLevel required = requiredSignatureLevel(package.name, package.version);
    if (file.currentType != PartSignature || file.verify() < required) {
        reportBrokenPackage(set, package);
        return false;
    }
    file.nextPart();
    bool member = !package.bundle.name.empty();
    if (!member && !onlyTrailingPartsLeft(file)) {
        reportBrokenPackage(set, package);
        return false;
    }
    // The whole file has now passed through the copy stream.
    if (!member && !imageCopyIsWhole(set, package, file))
        return false;
    if (!file.isUnrecorded() && !writeEntry(set, package, manifest))
        return false;
    if ((package.flags & FlagBootImage) && !createMarker(manifest, device::Upgraded)) {
        reportWriteFailure(set, package, device::Upgraded);
        return false;
    }
    if (member)
        return true;
    set.setStatus(std::string());
    set.info("installed %s%s", package.disabled ? "(disabled) " : "", packageText(package).c_str());
    return true;
}
