// One run at a time: a lock on the flash folder, taken before a run touches the device
// and held to its end. The lock is an flock on an open descriptor, so it ends with the
// process however the process ends.
#pragma once

class PackageSet;

class RunLock {
  public:
    RunLock() = default;
    ~RunLock();
    RunLock(const RunLock&) = delete;
    RunLock& operator=(const RunLock&) = delete;

    // Takes the lock: exclusive, or shared for a run that only reads. While another run
    // holds it, prints one line and waits, at most waitSeconds() (then an error line);
    // false when it gave up. A device without /flash has nothing to lock.
    bool acquire(PackageSet& set, bool exclusive);
    // Trades a shared lock for the exclusive one (and back), waiting as acquire does.
    bool makeExclusive(PackageSet& set);
    void makeShared();

    // How long a run waits for another: 120 seconds, or the number of seconds in the
    // environment variable INSTALLER_LOCK_WAIT.
    static unsigned waitSeconds();

  private:
    bool take(PackageSet& set, int operation);

    int fd = -1;
    bool waited = false;
};
