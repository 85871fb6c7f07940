// The files part inflated ahead of its reader.
#include "pkgfile/inflate_ahead.h"

#include <algorithm>
#include <csignal>

#include "pkgfile/package_file.h"

namespace {
// Inflating, digesting and reading the package need little stack.
constexpr size_t InflaterStack = 256 * 1024;
}  // namespace

InflateAheadBuf::InflateAheadBuf(PackageFile& file)
    : file(file), inflater(file.rdbuf()), storage(new char[Blocks * BlockSize]) {
    setg(nullptr, nullptr, nullptr);
    readingSourceAt = file.offset();
    // Signals go to the calling thread alone: a termination signal must find the run's
    // staged state still, as the handler that deletes it expects.
    sigset_t all, before;
    sigfillset(&all);
    pthread_sigmask(SIG_SETMASK, &all, &before);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, InflaterStack);
    threaded = pthread_create(&thread, &attributes, inflateUntilDone, this) == 0;
    pthread_attr_destroy(&attributes);
    pthread_sigmask(SIG_SETMASK, &before, nullptr);
}

InflateAheadBuf::~InflateAheadBuf() {
    if (!threaded)
        return;
    {
        std::lock_guard<std::mutex> lock(mutex);
        stopping = true;
    }
    freedOne.notify_one();
    pthread_join(thread, nullptr);
}

void* InflateAheadBuf::inflateUntilDone(void* self) {
    InflateAheadBuf& buffer = *static_cast<InflateAheadBuf*>(self);
    for (;;) {
        {
            std::unique_lock<std::mutex> lock(buffer.mutex);
            // A full ring is left to drain: the thread goes on once several blocks are free.
            if (buffer.filled == Blocks)
                buffer.freedOne.wait(lock, [&] {
                    return buffer.stopping || buffer.filled + FreeToResume <= Blocks;
                });
            if (buffer.stopping)
                return nullptr;
        }
        if (!buffer.inflateBlock())
            return nullptr;
    }
}

bool InflateAheadBuf::inflateBlock() {
    size_t index;
    {
        std::lock_guard<std::mutex> lock(mutex);
        index = (first + filled) % Blocks;
    }
    // The ring's other blocks are the reader's meanwhile; this one and the package file
    // are this side's alone.
    size_t length = size_t(inflater.sgetn(block(index), BlockSize));
    uint64_t at = file.offset();
    bool wake;
    {
        std::lock_guard<std::mutex> lock(mutex);
        if (length == 0) {
            finished = true;
            endedWhole = inflater.complete();
        } else {
            lengths[index] = length;
            sourceAt[index] = at;
            ++filled;
        }
        wake = finished || filled == ReadyToResume;
    }
    if (wake)
        filledOne.notify_one();
    return length != 0;
}

void InflateAheadBuf::releaseBlock() {
    deliveredBefore += uint64_t(egptr() - eback());
    setg(nullptr, nullptr, nullptr);
    reading = false;
    bool resume;
    {
        std::lock_guard<std::mutex> lock(mutex);
        first = (first + 1) % Blocks;
        --filled;
        resume = filled + FreeToResume == Blocks;
    }
    // Waking the thread any earlier would only have it wait again.
    if (resume)
        freedOne.notify_one();
}

InflateAheadBuf::int_type InflateAheadBuf::underflow() {
    if (gptr() < egptr())
        return traits_type::to_int_type(*gptr());
    if (reading)
        releaseBlock();
    std::unique_lock<std::mutex> lock(mutex);
    if (filled == 0) {
        if (threaded) {
            filledOne.wait(lock, [&] { return readyOrFinished(); });
        } else {
            lock.unlock();
            inflateBlock();
            lock.lock();
        }
        if (filled == 0)
            return traits_type::eof();
    }
    char* start = block(first);
    setg(start, start, start + lengths[first]);
    readingSourceAt = sourceAt[first];
    reading = true;
    return traits_type::to_int_type(*gptr());
}

InflateAheadBuf::pos_type InflateAheadBuf::seekoff(off_type offset,
                                                   std::ios_base::seekdir direction,
                                                   std::ios_base::openmode) {
    off_type skip =
        forwardDistance(offset, direction, deliveredBefore + uint64_t(gptr() - eback()));
    if (skip < 0)
        return pos_type(off_type(-1));
    while (skip > 0) {
        if (gptr() == egptr() && traits_type::eq_int_type(underflow(), traits_type::eof()))
            return pos_type(off_type(-1));
        off_type step = std::min<off_type>(skip, egptr() - gptr());
        gbump(int(step));
        skip -= step;
    }
    return pos_type(off_type(deliveredBefore + uint64_t(gptr() - eback())));
}

InflateAheadBuf::pos_type InflateAheadBuf::seekpos(pos_type position,
                                                   std::ios_base::openmode which) {
    return seekoff(off_type(position), std::ios_base::beg, which);
}

const char* InflateAheadBuf::readInPlace(size_t count) {
    if (gptr() == egptr() && traits_type::eq_int_type(underflow(), traits_type::eof()))
        return nullptr;
    if (size_t(egptr() - gptr()) < count)
        return nullptr;
    const char* bytes = gptr();
    gbump(int(count));
    return bytes;
}

bool InflateAheadBuf::complete() const {
    std::lock_guard<std::mutex> lock(mutex);
    return finished && endedWhole;
}

InflateAhead::InflateAhead(PackageFile& file) : std::istream(nullptr), buffer(file) {
    rdbuf(&buffer);
}

InflateAhead::~InflateAhead() = default;
