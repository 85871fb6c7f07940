// The one package set of the run, and its console.
#include "pkg/package_set.h"

#include <cstdarg>

PackageSet& PackageSet::instance() {
    // Never destroyed: records stay valid until the process ends.
    static PackageSet* set = new PackageSet;
    return *set;
}

void PackageSet::error(const char* format, ...) {
    va_list args;
    va_start(args, format);
    console.message(Console::Kind::Error, format, args);
    va_end(args);
}

void PackageSet::warning(const char* format, ...) {
    va_list args;
    va_start(args, format);
    console.message(Console::Kind::Warning, format, args);
    va_end(args);
}

void PackageSet::info(const char* format, ...) {
    va_list args;
    va_start(args, format);
    console.message(Console::Kind::Info, format, args);
    va_end(args);
}

void PackageSet::progress(uint64_t position, uint64_t total, const std::string& label) {
    console.progress(position, total, label);
}
