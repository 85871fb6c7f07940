// Console output: one-line messages and the status line that is rewritten in place.
#include <cstdio>

#include "pkg/package_set.h"
#include "pkgfile/package_file.h"

namespace {

const char HideCursor[] = "\x1b[?25l";
const char ShowCursor[] = "\x1b[?25h";

}  // namespace

void PackageSet::printMessage(const char* prefix, const char* format, va_list args) {
    // Longer text is cut at 255 bytes; a format that fails prints as empty text.
    char text[256] = "";
    if (vsnprintf(text, sizeof text, format, args) < 0)
        text[0] = '\0';
    if (quiet)
        return;
    std::string line = std::string(prefix) + text;
    std::ostream& o = *out;
    if (!status.empty())
        o << '\r' << std::string(79, ' ') << '\r' << std::flush;
    o << line << '\n' << std::flush;
    if (!status.empty())
        o << status << std::flush;
    log.push_back(line);
}

void PackageSet::error(const char* format, ...) {
    setStatus(std::string());
    va_list args;
    va_start(args, format);
    printMessage("ERROR: ", format, args);
    va_end(args);
}

void PackageSet::warning(const char* format, ...) {
    va_list args;
    va_start(args, format);
    printMessage("WARNING: ", format, args);
    va_end(args);
}

void PackageSet::info(const char* format, ...) {
    setStatus(std::string());
    va_list args;
    va_start(args, format);
    printMessage("", format, args);
    va_end(args);
}

void PackageSet::setStatus(const std::string& text) {
    if (quiet || text == status)
        return;
    std::ostream& o = *out;
    o << HideCursor << '\r' << text;
    // Blank out what is left of a longer old text.
    if (text.size() < status.size())
        o << std::string(status.size() - text.size(), ' ');
    o << '\r' << ShowCursor << std::flush;
    status = text;
}

void PackageSet::progress(PackageFile& file, const std::string& label) {
    std::string text = label + " [";
    int width = 76 - int(text.size());
    if (width < 0)
        width = 0;
    uint64_t position = file.partOffset() + file.position();
    uint64_t total = file.totalSize;
    uint64_t filled = total == 0 ? 0 : position * uint64_t(width) / total;
    if (filled > uint64_t(width))
        filled = width;
    text.append(filled, '#');
    text.append(width - filled, ' ');
    text += ']';
    setStatus(text);
}
