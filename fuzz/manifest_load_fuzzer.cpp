// Fuzz target: loading a saved manifest of arbitrary text. What was loaded, saved again
// and loaded back must be the same manifest, and a load never stages a new file of its
// own (a loaded manifest owns no temporary files).
#include <string>

#include "private_root.h"
#include "stage/manifest.h"

namespace {

bool sameEntries(const Manifest& a, const Manifest& b) {
    if (a.size() != b.size())
        return false;
    auto left = a.all().begin();
    for (const auto& [path, entry] : b.all()) {
        if (left->first != path || left->second.kind != entry.kind ||
            left->second.argument != entry.argument)
            return false;
        ++left;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The saved manifest is flushed to disk: a tmpfs keeps that cheap.
    enterPrivateRoot();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string text = "/ram/MANIFEST";
    const std::string again = "/ram/MANIFEST.again";
    writeWholeFile(text, std::string(reinterpret_cast<const char*>(data), size));

    Manifest loaded;
    loaded.load(text);
    for (const auto& [path, entry] : loaded.all()) {
        if (entry.kind == EntryKind::NewFile)
            fuzzFailure("a loaded manifest owns a temporary file: " + path);
    }
    if (!loaded.save(again))
        fuzzFailure("the manifest could not be saved");
    Manifest reloaded;
    reloaded.load(again);
    if (!sameEntries(loaded, reloaded))
        fuzzFailure("saving and loading changed the manifest");
    return 0;
}
