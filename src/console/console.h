// Console output: one-line messages, the status line that is rewritten in place with its
// progress bar, and the log of every message line printed.
#pragma once

#include <cstdarg>
#include <cstdint>
#include <iostream>
#include <string>
#include <vector>

class Console {
  public:
    enum class Kind { Error, Warning, Info };

    // Prints one message of that kind: errors ("ERROR: ") and plain reports clear the
    // status line first; a warning ("WARNING: ") prints the status line again below it.
    // The text is cut at 255 bytes and kept in log; with quiet set nothing is printed or
    // kept.
    void message(Kind kind, const char* format, va_list args);
    // Shows text on the rewritten status line; an unchanged text writes nothing.
    void setStatus(const std::string& text);
    // Shows label and a bar of how far position has come of total.
    void progress(uint64_t position, uint64_t total, const std::string& label);

    std::string status;
    std::vector<std::string> log;
    bool quiet = false;
    // Where output goes; tests point it at a string stream.
    std::ostream* out = &std::cout;
};
