// Reading the small text files of the package database.
#include "pkg/meta_file.h"

#include <sys/stat.h>

#include "platform/file_checks.h"

namespace {

// White space as the C locale knows it, the separators of every database file.
bool isSpace(int c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool isDigit(int c) {
    return c >= '0' && c <= '9';
}

}  // namespace

// A link is not read: the database's files are the installer's own, and one that someone
// replaced by a link could show a file from anywhere as a package's.
MetaFile::MetaFile(const std::string& path) {
    if (!isRegularFile(path))
        return;
    in.open(path, std::ios::binary);
    open = in.is_open();
}

bool MetaFile::skipSpace() {
    if (!open)
        return false;
    std::streambuf* buffer = in.rdbuf();
    for (int c = buffer->sgetc(); c != EOF; c = buffer->snextc()) {
        if (!isSpace(c))
            return true;
    }
    return false;
}

bool MetaFile::readWord(std::string& word) {
    if (!skipSpace())
        return false;
    word.clear();
    std::streambuf* buffer = in.rdbuf();
    for (int c = buffer->sgetc(); c != EOF && !isSpace(c); c = buffer->snextc()) {
        if (word.size() < MaxWord)
            word += char(c);
    }
    return true;
}

bool MetaFile::readDigits(uint64_t& magnitude, uint64_t limit) {
    std::streambuf* buffer = in.rdbuf();
    int c = buffer->sgetc();
    if (!isDigit(c))
        return false;
    magnitude = 0;
    bool fits = true;
    for (; isDigit(c); c = buffer->snextc()) {
        if (fits)
            magnitude = magnitude * 10 + uint64_t(c - '0');
        if (magnitude > limit)
            fits = false;
    }
    return fits;
}

bool MetaFile::readNumber(uint32_t& value) {
    uint64_t magnitude = 0;
    if (!skipSpace() || !readDigits(magnitude, UINT32_MAX))
        return false;
    value = uint32_t(magnitude);
    return true;
}

bool MetaFile::readNumber(int32_t& value) {
    if (!skipSpace())
        return false;
    std::streambuf* buffer = in.rdbuf();
    bool negative = buffer->sgetc() == '-';
    if (negative || buffer->sgetc() == '+')
        buffer->sbumpc();
    uint64_t magnitude = 0;
    if (!readDigits(magnitude, negative ? uint64_t(INT32_MAX) + 1 : uint64_t(INT32_MAX)))
        return false;
    value = negative ? int32_t(-int64_t(magnitude)) : int32_t(magnitude);
    return true;
}

bool MetaFile::readLine(std::string& line) {
    if (!open)
        return false;
    std::streambuf* buffer = in.rdbuf();
    int c = buffer->sbumpc();
    if (c == EOF)
        return false;
    line.clear();
    for (; c != EOF && c != '\n'; c = buffer->sbumpc()) {
        if (line.size() < MaxLine)
            line += char(c);
    }
    return true;
}
