// Fuzz target: loading a saved manifest of arbitrary text. What was loaded, saved again
// and loaded back must be the same manifest, and a load never stages a new file of its
// own (a loaded manifest owns no temporary files). The saved manifest is flushed to disk:
// the private root's tmpfs keeps that cheap.
#include <algorithm>
#include <string>

#include "private_root.h"
#include "stage/manifest.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    writeWholeFile("/ram/MANIFEST", std::string(reinterpret_cast<const char*>(data), size));
    Manifest loaded, reloaded;
    loaded.load("/ram/MANIFEST");
    for (const auto& [path, entry] : loaded.all()) {
        if (entry.kind == EntryKind::NewFile)
            fuzzFailure("a loaded manifest owns a temporary file: " + path);
    }
    if (!loaded.save("/ram/MANIFEST.again"))
        fuzzFailure("the manifest could not be saved");
    reloaded.load("/ram/MANIFEST.again");
    auto same = [](const auto& a, const auto& b) {
        return a.first == b.first && a.second.kind == b.second.kind &&
               a.second.argument == b.second.argument;
    };
    if (!std::equal(loaded.all().begin(), loaded.all().end(), reloaded.all().begin(),
                    reloaded.all().end(), same))
        fuzzFailure("saving and loading changed the manifest");
    return 0;
}
