// What the driver makes of a commit, and the commit an interrupted run left behind.
#include "driver/commit_report.h"

#include <cstring>

#include "driver/run_lock.h"
#include "pkg/database.h"
#include "pkg/package_set.h"
#include "platform/device_paths.h"
#include "stage/journal.h"

bool reportCommit(PackageSet& set, const CommitResult& result) {
    std::vector<std::string> lost;
    for (const CommitProblem& problem : result.problems) {
        const char* path = problem.path.c_str();
        if (problem.kind == CommitProblem::Lost) {
            set.error("commit failed: %s: its new file was lost", path);
            lost.push_back(problem.path);
        } else if (problem.error == EXDEV) {
            set.error("commit failed: %s lies behind a link that leads out of /flash", path);
        } else {
            set.error("commit failed: %s: %s", path, strerror(problem.error));
        }
    }
    markIncomplete(lost);
    return result.ok();
}

int reportRefusedManifest(PackageSet& set, const char* file, const LoadResult& result) {
    set.error("refused %s: line %zu is not one the installer writes: %s", file, result.line,
              result.text.c_str());
    return 1;
}

Recovery finishInterruptedCommit(PackageSet& set, RunLock& lock, bool sharedLock) {
    if (!journal::exists())
        return Recovery::Done;
    if (sharedLock && !lock.makeExclusive(set))
        return Recovery::Kept;
    Recovery recovery = Recovery::Done;
    Manifest manifest;
    LoadResult loaded = manifest.load(device::Journal);
    if (loaded.status == LoadResult::Refused) {
        // Not a journal the installer wrote: nothing of it is done.
        reportRefusedManifest(set, device::Journal, loaded);
        journal::remove();
        recovery = Recovery::DoneWithErrors;
    } else if (journal::exists()) {
        set.info("finishing an interrupted install");
        if (!reportCommit(set, manifest.finishJournal(false)))
            recovery = journal::exists() ? Recovery::Kept : Recovery::DoneWithErrors;
    }
    if (sharedLock)
        lock.makeShared();
    return recovery;
}
