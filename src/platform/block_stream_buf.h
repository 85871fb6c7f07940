// An input stream buffer that takes its source's bytes in blocks. The get area holds one
// block, and the byte before it the last byte of the block before, so that one byte can
// always be put back, also across a refill; nothing further back can be.
#pragma once

#include <cstddef>
#include <streambuf>

class BlockStreamBuf : public std::streambuf {
  protected:
    // buffer: 1 + capacity bytes that outlive this object (the derived class's own).
    BlockStreamBuf(char* buffer, size_t capacity);

    // The next bytes of the source, at most count of them, into bytes: how many arrived,
    // 0 at the end.
    virtual size_t fill(char* bytes, size_t count) = 0;

    int_type underflow() override;
    // Reads of a block or more go straight to the caller, without a copy through the get
    // area.
    std::streamsize xsgetn(char_type* s, std::streamsize count) override;

    // Empties the get area; nothing can be put back afterwards.
    void dropGetArea();
    // Empties the get area but keeps last before it for one put-back.
    void keepForPutback(char last);

    char* const buffer;
    const size_t capacity;
};
