// Termination signals while a run stages its changes: SIGTERM, SIGINT or SIGHUP deletes
// what the run staged and ends it, so that an interrupted run leaves no temporary file
// behind and commits nothing.
#pragma once

namespace staging {

// Run by the signal handler before the process ends; only async-signal-safe calls.
using Cleanup = void (*)(void* context);

// Installs the handlers: a signal runs cleanup(context) and ends the process with that
// signal. Calling it again replaces the cleanup.
void guard(Cleanup cleanup, void* context);
// Back to the default actions: a signal ends the process at once (during a commit the
// journal is then left for the next start).
void unguard();

// While one lives, the staged state is being changed: a signal that arrives waits until
// the change is complete, so that the cleanup never sees it half-made.
class Busy {
  public:
    Busy();
    ~Busy();
    Busy(const Busy&) = delete;
    Busy& operator=(const Busy&) = delete;
};

}  // namespace staging
