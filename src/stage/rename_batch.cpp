// Renames run a few at a time on threads of their own.
#include "stage/rename_batch.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <string_view>

namespace {

// Renames in flight at once, the calling thread included: beyond eight the waits of a
// discarding disk overlap no further.
constexpr size_t MaxThreads = 8;
// Fewer renames than this per thread are not worth a thread's start.
constexpr size_t RenamesPerThread = 4;
// Each thread takes this many renames in a row: neighbours share a folder, whose lock the
// renames take, so the threads mostly work in different folders.
constexpr size_t Stride = 8;
constexpr size_t WorkerStack = 64 * 1024;

void renameOne(RenameBatch::Rename& item) {
    item.error = rename(item.source.c_str(), item.target.c_str()) == 0 ? 0 : errno;
}

// A rename between folders takes a lock of the whole file system: renames of that kind
// wait for one another, and are done one by one.
bool withinFolder(const RenameBatch::Rename& item) {
    std::string_view source = item.source, target = item.target;
    return source.substr(0, source.rfind('/')) == target.substr(0, target.rfind('/'));
}

struct Work {
    std::vector<RenameBatch::Rename*> renames;
    std::atomic<size_t> next{0};
};

void* renameUntilDone(void* argument) {
    Work& work = *static_cast<Work*>(argument);
    size_t count = work.renames.size();
    for (size_t start = work.next += Stride; start - Stride < count; start = work.next += Stride)
        for (size_t i = start - Stride; i < std::min(start, count); ++i)
            renameOne(*work.renames[i]);
    return nullptr;
}

}  // namespace

void RenameBatch::run() {
    Work work;
    for (Rename& item : renames)
        if (withinFolder(item))
            work.renames.push_back(&item);
        else
            renameOne(item);
    size_t wanted = std::min(MaxThreads, work.renames.size() / RenamesPerThread);
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setstacksize(&attributes, WorkerStack);
    std::vector<pthread_t> threads;
    // A thread that cannot be started leaves its share to the others.
    for (size_t i = 1; i < wanted; ++i) {
        pthread_t thread;
        if (pthread_create(&thread, &attributes, renameUntilDone, &work) == 0)
            threads.push_back(thread);
    }
    pthread_attr_destroy(&attributes);
    renameUntilDone(&work);
    for (pthread_t thread : threads)
        pthread_join(thread, nullptr);
}
