// The small text files of the package database, read as bounded words, numbers and lines.
#pragma once

#include <cstdint>
#include <fstream>
#include <string>

// A database text file opened for reading. Only regular files are opened: a directory, a
// FIFO or a link in the database counts as missing, so that reading can neither hang nor fail
// oddly. Words and lines are cut at a fixed length, so no file makes a read allocate more
// than that.
class MetaFile {
  public:
    static constexpr size_t MaxWord = 255;
    static constexpr size_t MaxLine = 4096;

    explicit MetaFile(const std::string& path);

    bool isOpen() const { return open; }

    // The next whitespace-delimited word, cut to MaxWord bytes (the rest of it is passed
    // over). False at the end of the file.
    bool readWord(std::string& word);
    // The next unsigned decimal number. False at the end, at something that is not a
    // number, or when the number does not fit 32 bits.
    bool readNumber(uint32_t& value);
    // The next decimal number with an optional sign; false as above for 32 signed bits.
    bool readNumber(int32_t& value);
    // The next line without its line end, cut to MaxLine bytes. False at the end.
    bool readLine(std::string& line);

  private:
    // Skips white space; false when the file ends first.
    bool skipSpace();
    // Reads decimal digits into magnitude; false when there are none or more than fit.
    bool readDigits(uint64_t& magnitude, uint64_t limit);

    std::ifstream in;
    bool open = false;
};
