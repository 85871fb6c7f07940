// Renames run a few at a time on threads of their own.
#include "stage/rename_batch.h"

#include <pthread.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>

namespace {

// Renames in flight at once, the calling thread included: beyond eight the waits of a
// discarding disk overlap no further.
constexpr size_t MaxThreads = 8;
// Fewer renames than this per thread are not worth a thread's start.
constexpr size_t RenamesPerThread = 4;
constexpr size_t WorkerStack = 64 * 1024;

struct Work {
    std::vector<RenameBatch::Rename>& renames;
    std::atomic<size_t> next{0};
};

void* renameUntilDone(void* argument) {
    Work& work = *static_cast<Work*>(argument);
    for (size_t i = work.next++; i < work.renames.size(); i = work.next++) {
        RenameBatch::Rename& item = work.renames[i];
        item.error = rename(item.source.c_str(), item.target.c_str()) == 0 ? 0 : errno;
    }
    return nullptr;
}

}  // namespace

void RenameBatch::run() {
    Work work{renames};
    size_t wanted = std::min(MaxThreads, renames.size() / RenamesPerThread);
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
