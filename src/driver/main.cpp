// Entry point of the installer: reads the command line and runs one mode.
#include <iostream>

#include "pkg/package_set.h"

int main(int, char**) {
    PackageSet::instance();
    std::cout << "usage: installer [-q] [-r <root>] [-]" << std::endl;
    return 0;
}
