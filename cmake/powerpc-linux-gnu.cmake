# Toolchain of the board's build: 32-bit big-endian PowerPC with Debian's cross compiler,
# target programs run under qemu-ppc-static (binfmt_misc is not relied on).
#
# INSTALLER_CROSS_PREFIX names the folder that holds the board's static zlib and libcrypto
# (include/ and lib/); scripts/cross-test.sh builds it.

set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR powerpc)

set(CMAKE_C_COMPILER powerpc-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER powerpc-linux-gnu-g++)

set(INSTALLER_CROSS_PREFIX "" CACHE PATH "Folder of the board's zlib and libcrypto")
# try_compile projects read this file again and need the prefix too.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES INSTALLER_CROSS_PREFIX)

# Libraries and headers come only from the cross C library and the prefix; programs
# (the emulator, perl, ...) from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/powerpc-linux-gnu ${INSTALLER_CROSS_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

find_program(INSTALLER_QEMU_PPC qemu-ppc-static REQUIRED)
if(INSTALLER_STATIC)
  # Static programs need nothing from the build machine's file system, so they also run
  # inside the chrooted device roots of the tests.
  set(CMAKE_CROSSCOMPILING_EMULATOR ${INSTALLER_QEMU_PPC})
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR ${INSTALLER_QEMU_PPC} -L /usr/powerpc-linux-gnu)
endif()
