// An input stream buffer that takes its source's bytes in blocks.
#include "platform/block_stream_buf.h"

#include <algorithm>
#include <cstring>

BlockStreamBuf::BlockStreamBuf(char* buffer, size_t capacity) : buffer(buffer), capacity(capacity) {
    dropGetArea();
}

void BlockStreamBuf::dropGetArea() {
    setg(buffer + 1, buffer + 1, buffer + 1);
}

void BlockStreamBuf::keepForPutback(char last) {
    buffer[0] = last;
    setg(buffer, buffer + 1, buffer + 1);
}

BlockStreamBuf::int_type BlockStreamBuf::underflow() {
    if (gptr() < egptr())
        return traits_type::to_int_type(*gptr());
    // Keep the last byte read for one put-back across the refill.
    if (egptr() > eback())
        keepForPutback(egptr()[-1]);
    else
        dropGetArea();
    size_t n = fill(buffer + 1, capacity);
    if (n == 0)
        return traits_type::eof();
    setg(eback(), buffer + 1, buffer + 1 + n);
    return traits_type::to_int_type(*gptr());
}

std::streamsize BlockStreamBuf::xsgetn(char_type* s, std::streamsize count) {
    std::streamsize done = 0;
    while (done < count) {
        std::streamsize buffered = egptr() - gptr();
        if (buffered > 0) {
            std::streamsize n = std::min(buffered, count - done);
            std::memcpy(s + done, gptr(), size_t(n));
            gbump(int(n));
            done += n;
            continue;
        }
        std::streamsize wanted = count - done;
        if (wanted < std::streamsize(capacity)) {
            if (traits_type::eq_int_type(underflow(), traits_type::eof()))
                break;
            continue;
        }
        size_t n = fill(s + done, size_t(wanted));
        if (n == 0)
            break;
        done += std::streamsize(n);
        keepForPutback(s[done - 1]);
    }
    return done;
}
