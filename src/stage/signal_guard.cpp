// Termination signals while a run stages its changes.
#include "stage/signal_guard.h"

#include <atomic>
#include <csignal>
#include <cstdlib>

namespace staging {

namespace {

const int GuardedSignals[] = {SIGTERM, SIGINT, SIGHUP};

volatile std::sig_atomic_t busy = 0;
volatile std::sig_atomic_t pending = 0;
Cleanup cleanupFunction = nullptr;
void* cleanupContext = nullptr;

[[noreturn]] void endProcess(int signal) {
    if (cleanupFunction)
        cleanupFunction(cleanupContext);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
    std::_Exit(128 + signal);
}

extern "C" void onSignal(int signal) {
    if (busy) {
        pending = signal;
        return;
    }
    endProcess(signal);
}

}  // namespace

void guard(Cleanup cleanup, void* context) {
    Busy change;
    cleanupFunction = cleanup;
    cleanupContext = context;
    for (int signal : GuardedSignals) {
        struct sigaction action = {};
        action.sa_handler = onSignal;
        sigemptyset(&action.sa_mask);
        for (int other : GuardedSignals)
            sigaddset(&action.sa_mask, other);
        sigaction(signal, &action, nullptr);
    }
}

void unguard() {
    for (int signal : GuardedSignals)
        std::signal(signal, SIG_DFL);
    cleanupFunction = nullptr;
    cleanupContext = nullptr;
    if (pending)
        std::raise(pending);
}

Busy::Busy() {
    busy = busy + 1;
    std::atomic_signal_fence(std::memory_order_seq_cst);
}

Busy::~Busy() {
    std::atomic_signal_fence(std::memory_order_seq_cst);
    busy = busy - 1;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    if (busy == 0 && pending)
        endProcess(pending);
}

}  // namespace staging
