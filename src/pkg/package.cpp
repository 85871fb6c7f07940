// Package records, the text forms of versions and packages, and their relations.
#include "pkg/package.h"

#include <algorithm>
#include <cstdio>

std::string versionText(Version version) {
    unsigned major = version >> 24;
    unsigned minor = (version >> 16) & 0xFF;
    unsigned kind = (version >> 8) & 0xFF;
    unsigned build = version & 0xFF;
    const char* kindWord = "";
    switch (kind) {
        case 'a':
            kindWord = "alpha";
            break;
        case 'b':
            kindWord = "beta";
            break;
        case 'c':
            kindWord = "rc";
            break;
    }
    char text[80];
    if (kind == 'f') {
        if (build != 0)
            snprintf(text, sizeof text, "%u.%u.%u", major, minor, build);
        else
            snprintf(text, sizeof text, "%u.%u", major, minor);
    } else if (build != 0) {
        snprintf(text, sizeof text, "%u.%u%s%u", major, minor, kindWord, build);
    } else {
        snprintf(text, sizeof text, "%u.%u%s", major, minor, kindWord);
    }
    return text;
}

const char* actionWord(ScheduledAction action) {
    switch (action) {
        case ScheduledAction::Uninstall:
            return "uninstall";
        case ScheduledAction::Enable:
            return "enable";
        case ScheduledAction::Disable:
            return "disable";
        case ScheduledAction::None:
            break;
    }
    return "";
}

FileList& FileList::operator=(std::initializer_list<std::string> paths) {
    clear();
    for (const std::string& path : paths)
        insert(path);
    return *this;
}

void FileList::insert(std::string_view path) {
    settled = settled && (offsets.empty() || at(offsets.size() - 1) < path);
    size_t size = path.size() + 1;
    if (chunks.empty() || used + size > capacity) {
        // Chunks double from a small first one: most packages list a few files, and a
        // database of hundreds of them is read at every start. Their bytes are written
        // before they are read, so they need no clearing.
        capacity = chunks.empty() ? FirstChunk : std::min(2 * capacity, ChunkSize);
        capacity = std::max(capacity, size);
        chunks.push_back(std::unique_ptr<char[]>(new char[capacity]));
        used = 0;
    }
    char* place = chunks.back().get() + used;
    std::copy(path.begin(), path.end(), place);
    place[path.size()] = '\0';
    offsets.push_back(uint32_t((chunks.size() - 1) << ChunkBits | used));
    used += size;
}

void FileList::clear() {
    chunks.clear();
    chunks.shrink_to_fit();
    capacity = 0;
    used = 0;
    offsets.clear();
    offsets.shrink_to_fit();
    settled = true;
}

std::string_view FileList::view(uint32_t offset) const {
    return std::string_view(chunks[offset >> ChunkBits].get() + (offset & (ChunkSize - 1)));
}

std::string_view FileList::at(size_t index) const {
    return view(offsets[index]);
}

void FileList::settle() const {
    if (settled)
        return;
    std::sort(offsets.begin(), offsets.end(),
              [this](uint32_t a, uint32_t b) { return view(a) < view(b); });
    offsets.erase(std::unique(offsets.begin(), offsets.end(),
                              [this](uint32_t a, uint32_t b) { return view(a) == view(b); }),
                  offsets.end());
    settled = true;
}

FileList::const_iterator FileList::begin() const {
    settle();
    return const_iterator(this, 0);
}

Package::Package(std::string name, Version version, uint32_t buildTime)
    : name(std::move(name)), version(version), buildTime(buildTime) {}

Package::~Package() = default;

// An enabled package with action enable stays enabled: enabling it again only records
// that the user asked for it.
bool InstalledPackage::isWanted() const {
    return action == ScheduledAction::Enable || (!disabled && action == ScheduledAction::None);
}

std::string packageText(const Package& package) {
    return package.name + "-" + versionText(package.version);
}

std::string dependencyText(const Dependency& dependency) {
    if (dependency.min == 0)
        return dependency.name;
    return dependency.name + "-" + versionText(dependency.min);
}

bool sameName(const std::string& a, const std::string& b) {
    return a == b;
}

const char* packageNameProblem(const std::string& name) {
    if (name.empty())
        return "empty name";
    if (name[0] == '.')
        return "name begins with \".\"";
    if (name.find_first_of("/ \n") != std::string::npos)
        return "name holds \"/\", a blank or a line feed";
    return nullptr;
}

bool isSafePackageName(const std::string& name) {
    return packageNameProblem(name) == nullptr;
}

namespace {

// The steps of path after its optional leading "/"; false when one is empty, "." or "..".
bool forEachStep(const std::string& path, size_t& longest) {
    longest = 0;
    size_t start = !path.empty() && path[0] == '/' ? 1 : 0;
    if (start == path.size())
        return false;
    while (start <= path.size()) {
        size_t slash = path.find('/', start);
        if (slash == std::string::npos)
            slash = path.size();
        size_t length = slash - start;
        if (length == 0 || (length <= 2 && path.compare(start, length, "..", length) == 0))
            return false;
        longest = std::max(longest, length);
        start = slash + 1;
    }
    return true;
}

bool namesInstallerFile(const std::string& path) {
    std::string name = path[0] == '/' ? path.substr(1) : path;
    for (const char* own : {"bootimage", "postlog", "PCKGS_CHANGED", "UPGRADED", "var/pdb"})
        if (name == own)
            return true;
    return name.compare(0, 8, "var/pdb/") == 0;
}

}  // namespace

bool isCleanPath(const std::string& path) {
    size_t longest = 0;
    return forEachStep(path, longest);
}

const char* entryNameProblem(const std::string& name) {
    size_t longest = 0;
    if (!forEachStep(name, longest))
        return "empty name or an empty, \".\" or \"..\" step";
    if (name.find_first_of(std::string("\n\0", 2)) != std::string::npos)
        return "line feed or NUL byte in the name";
    if (name.size() > MaxEntryName)
        return "name longer than 4089 bytes";
    if (longest > MaxEntryStep)
        return "step longer than 255 bytes";
    if (namesInstallerFile(name))
        return "names a file of the installer";
    return nullptr;
}
