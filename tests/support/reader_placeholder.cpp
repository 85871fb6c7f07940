// Test support: stands in for the package file reader's position query until the reader
// is part of the build, so that tests of code that prints messages can link. The
// reader's own definition replaces this weak one; delete this file once it has landed.
#include "pkgfile/package_file.h"

__attribute__((weak)) uint32_t PartStreamBuf::unreadCount() const {
    return 0;
}
