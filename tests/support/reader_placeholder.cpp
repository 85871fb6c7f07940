// Test support: stands in for the package file reader until the reader is part of the
// build, so that tests of code that prints messages can link (the console's progress bar
// refers to the reader). Every symbol here is weak and the reader's own definitions
// replace it; the tests that link against these never draw a progress bar. The symbols
// are given by their linker names because the reader's header must not be seen here.
// Delete this file once the reader has landed.
#include <cstdint>

extern "C" {
// PartStreamBuf::unreadCount() const
__attribute__((weak)) uint32_t _ZNK13PartStreamBuf11unreadCountEv(const void*) {
    return 0;
}
// The type descriptions of PackageFile and PartStreamBuf, used by the sanitizer build's
// dynamic type checks.
__attribute__((weak, aligned(16))) extern const char _ZTI11PackageFile[32] = {};
__attribute__((weak, aligned(16))) extern const char _ZTI13PartStreamBuf[32] = {};
}
