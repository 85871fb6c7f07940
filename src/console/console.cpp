// Console output: one-line messages and the status line that is rewritten in place.
#include "console/console.h"

#include <cstdio>

namespace {

const char HideCursor[] = "\x1b[?25l";
const char ShowCursor[] = "\x1b[?25h";
constexpr int BarWidth = 76;

const char* prefixOf(Console::Kind kind) {
    switch (kind) {
        case Console::Kind::Error:
            return "ERROR: ";
        case Console::Kind::Warning:
            return "WARNING: ";
        case Console::Kind::Info:
            break;
    }
    return "";
}

}  // namespace

void Console::message(Kind kind, const char* format, va_list args) {
    if (kind != Kind::Warning)
        setStatus(std::string());
    // Longer text is cut at 255 bytes; a format that fails prints as empty text.
    char text[256] = "";
    if (vsnprintf(text, sizeof text, format, args) < 0)
        text[0] = '\0';
    if (quiet)
        return;
    std::string line = std::string(prefixOf(kind)) + text;
    std::ostream& o = *out;
    if (!status.empty())
        o << '\r' << std::string(79, ' ') << '\r' << std::flush;
    o << line << '\n' << std::flush;
    if (!status.empty())
        o << status << std::flush;
    log.push_back(line);
}

void Console::setStatus(const std::string& text) {
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

void Console::progress(uint64_t position, uint64_t total, const std::string& label) {
    std::string text = label + " [";
    int width = BarWidth - int(text.size());
    if (width < 0)
        width = 0;
    uint64_t filled = total == 0 ? 0 : position * uint64_t(width) / total;
    if (filled > uint64_t(width))
        filled = width;
    text.append(filled, '#');
    text.append(width - filled, ' ');
    text += ']';
    setStatus(text);
}
