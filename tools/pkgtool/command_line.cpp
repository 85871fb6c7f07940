// pkgtool's shared helpers: options, version and list entry texts, files and errors.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iostream>
#include <sstream>

#include "commands.h"

int fail(int status, const std::string& message) {
    std::cerr << "pkgtool: " << message << std::endl;
    return status;
}

bool ArgumentReader::next() {
    if (index >= args.size())
        return false;
    text = args[index++];
    hasInlineValue = false;
    option = false;
    if (optionsEnded || text.size() < 2 || text[0] != '-')
        return true;
    if (text == "--") {
        optionsEnded = true;
        return next();
    }
    option = true;
    size_t equals = text.find('=');
    if (text.compare(0, 2, "--") == 0 && equals != std::string::npos) {
        inlineValue = text.substr(equals + 1);
        text.resize(equals);
        hasInlineValue = true;
    }
    return true;
}

bool ArgumentReader::value(std::string& out) {
    if (hasInlineValue) {
        out = inlineValue;
        hasInlineValue = false;
        return true;
    }
    if (index >= args.size())
        return false;
    out = args[index++];
    return true;
}

bool parseUnsigned(const std::string& text, uint64_t max, uint64_t& value) {
    if (text.empty() || text.size() > 20)
        return false;
    int base = 10;
    size_t start = 0;
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        base = 16;
        start = 2;
    }
    uint64_t result = 0;
    for (size_t i = start; i < text.size(); ++i) {
        char c = text[i];
        int digit = c >= '0' && c <= '9'                 ? c - '0'
                    : base == 16 && c >= 'a' && c <= 'f' ? c - 'a' + 10
                    : base == 16 && c >= 'A' && c <= 'F' ? c - 'A' + 10
                                                         : -1;
        if (digit < 0)
            return false;
        if (result > (max - uint64_t(digit)) / uint64_t(base))
            return false;
        result = result * uint64_t(base) + uint64_t(digit);
    }
    value = result;
    return true;
}

namespace {

// Reads a decimal field of a version (0..255) at text[at...]; moves at past it.
bool versionField(const std::string& text, size_t& at, unsigned& field) {
    size_t start = at;
    while (at < text.size() && text[at] >= '0' && text[at] <= '9')
        ++at;
    uint64_t value;
    if (!parseUnsigned(text.substr(start, at - start), 255, value))
        return false;
    field = unsigned(value);
    return true;
}

}  // namespace

bool parseVersion(const std::string& text, Version& version, std::string& error) {
    error = "bad version \"" + text + "\": use a form like 6.40.5, 6.41beta3, 6.41rc or 7.0";
    uint64_t packed;
    if (text.compare(0, 2, "0x") == 0 || text.compare(0, 2, "0X") == 0) {
        if (!parseUnsigned(text, 0xFFFFFFFF, packed) || packed == 0)
            return false;
        version = Version(packed);
        return true;
    }
    size_t at = 0;
    unsigned major, minor, build = 0;
    char kind = 'f';
    if (!versionField(text, at, major) || at >= text.size() || text[at] != '.')
        return false;
    ++at;
    if (!versionField(text, at, minor))
        return false;
    if (at < text.size() && text[at] == '.') {
        ++at;
        if (!versionField(text, at, build))
            return false;
    } else if (at < text.size()) {
        static const struct {
            const char* word;
            char kind;
        } kinds[] = {{"alpha", 'a'}, {"beta", 'b'}, {"rc", 'c'}};
        bool known = false;
        for (const auto& k : kinds) {
            size_t length = std::strlen(k.word);
            if (text.compare(at, length, k.word) == 0) {
                kind = k.kind;
                at += length;
                known = true;
                break;
            }
        }
        if (!known)
            return false;
        if (at < text.size() && !versionField(text, at, build))
            return false;
    }
    if (at != text.size())
        return false;
    version = Version(major) << 24 | Version(minor) << 16 | Version(uint8_t(kind)) << 8 | build;
    return true;
}

bool checkPackageName(const std::string& name, std::string& error) {
    if (name.empty() || name.size() > 16 || name.find('\0') != std::string::npos) {
        error = "bad package name \"" + name + "\": it needs 1 to 16 bytes";
        return false;
    }
    return true;
}

bool parseListEntry(const std::string& text, bool withPriority, Dependency& entry,
                    std::string& error) {
    std::vector<std::string> fields;
    std::stringstream in(text);
    std::string field;
    while (std::getline(in, field, ':'))
        fields.push_back(field);
    if (!text.empty() && text.back() == ':')
        fields.push_back("");
    size_t most = withPriority ? 4 : 3;
    if (fields.empty() || fields.size() > most) {
        error = "bad list entry \"" + text + "\": use " +
                (withPriority ? "NAME[:PRIORITY[:MIN[:MAX]]]" : "NAME[:MIN[:MAX]]");
        return false;
    }
    if (!checkPackageName(fields[0], error))
        return false;
    entry = Dependency();
    entry.name = fields[0];
    size_t next = 1;
    if (withPriority && fields.size() > 1) {
        const std::string& priority = fields[1];
        bool negative = !priority.empty() && priority[0] == '-';
        uint64_t magnitude;
        if (!parseUnsigned(priority.substr(negative ? 1 : 0), negative ? 0x80000000u : 0x7FFFFFFF,
                           magnitude)) {
            error = "bad priority \"" + priority + "\" in \"" + text + "\"";
            return false;
        }
        entry.priority = negative ? int32_t(-int64_t(magnitude)) : int32_t(magnitude);
        next = 2;
    }
    Version* bounds[] = {&entry.min, &entry.max};
    for (size_t i = 0; next + i < fields.size(); ++i) {
        if (!fields[next + i].empty() && !parseVersion(fields[next + i], *bounds[i], error))
            return false;
    }
    if (entry.min != 0 && entry.max != 0 && entry.min > entry.max) {
        error = "bad list entry \"" + text + "\": the minimum is above the maximum";
        return false;
    }
    return true;
}

std::string listEntryText(const Dependency& entry, bool withPriority) {
    std::string text = entry.name;
    if (entry.min != 0 && entry.max != 0)
        text += " " + versionText(entry.min) + ".." + versionText(entry.max);
    else if (entry.min != 0)
        text += " >= " + versionText(entry.min);
    else if (entry.max != 0)
        text += " <= " + versionText(entry.max);
    if (withPriority)
        text += ", priority " + std::to_string(entry.priority);
    return text;
}

bool defaultBuildTime(uint32_t& time, std::string& error) {
    const char* epoch = std::getenv("SOURCE_DATE_EPOCH");
    if (!epoch) {
        time = uint32_t(std::time(nullptr));
        return true;
    }
    uint64_t value;
    if (!parseUnsigned(epoch, 0xFFFFFFFF, value)) {
        error = "SOURCE_DATE_EPOCH is not a time in seconds that fits 32 bits";
        return false;
    }
    time = uint32_t(value);
    return true;
}

int HeaderOptions::take(const std::string& option, const std::string& value, Package& package) {
    std::string error;
    uint64_t number;
    if (option == "--name") {
        // The name of the package itself must be one the installer takes.
        const char* refused = packageNameProblem(value);
        if (!checkPackageName(value, error) || refused)
            return fail(ExitUsage, refused ? "the installer refuses the package name \"" + value +
                                                 "\": " + refused
                                           : error);
        package.name = value;
        nameGiven = true;
    } else if (option == "--version") {
        if (!parseVersion(value, package.version, error))
            return fail(ExitUsage, error);
        versionGiven = true;
    } else if (option == "--build-time") {
        if (!parseUnsigned(value, 0xFFFFFFFF, number))
            return fail(ExitUsage, "bad build time \"" + value + "\": seconds since 1970");
        package.buildTime = uint32_t(number);
        timeGiven = true;
    } else if (option == "--flags") {
        if (!parseUnsigned(value, 0xFFFFFFFF, number))
            return fail(ExitUsage, "bad flags \"" + value + "\": a 32-bit number");
        package.flags = uint32_t(number);
    } else if (option == "--arch") {
        package.arch = value;
    } else if (option == "--note") {
        package.note = value;
    } else {
        return NotHeaderOption;
    }
    return 0;
}

int HeaderOptions::finish(Package& package, const std::string& usage) {
    if (!nameGiven || !versionGiven)
        return fail(ExitUsage, usage);
    std::string error;
    if (!timeGiven && !defaultBuildTime(package.buildTime, error))
        return fail(ExitUsage, error);
    return 0;
}

bool readWholeFile(const std::string& path, std::string& content, std::string& error) {
    struct stat info;
    if (stat(path.c_str(), &info) == 0 && !S_ISREG(info.st_mode)) {
        error = path + " is not a file";
        return false;
    }
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = "cannot open " + path + ": " + std::strerror(errno);
        return false;
    }
    std::ostringstream buffer;
    buffer << in.rdbuf();
    if (in.bad()) {
        error = "cannot read " + path;
        return false;
    }
    content = buffer.str();
    return true;
}

bool writeWholeFile(const std::string& path, const std::string& content, std::string& error,
                    unsigned mode) {
    std::string temporary = path + ".pkgtool-XXXXXX";
    int fd = mkstemp(&temporary[0]);
    if (fd < 0) {
        error = "cannot write " + path + ": " + std::strerror(errno);
        return false;
    }
    size_t done = 0;
    while (done < content.size()) {
        ssize_t n = write(fd, content.data() + done, content.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += size_t(n);
    }
    int writeErrno = errno;
    bool ok = done == content.size() && fchmod(fd, mode) == 0;
    if (close(fd) != 0)
        ok = false;
    if (ok && rename(temporary.c_str(), path.c_str()) == 0)
        return true;
    error =
        "cannot write " + path + ": " + std::strerror(done == content.size() ? errno : writeErrno);
    unlink(temporary.c_str());
    return false;
}
