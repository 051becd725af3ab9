# Cross build for the router's processor, MIPS32 big-endian. The defaults
# use Debian's mips-linux-gnu cross compiler and run test programs under
# qemu; a router maintainer points LINK3G_CROSS_PREFIX and
# LINK3G_CROSS_SYSROOT at the router's own (uClibc) toolchain instead.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mips)

set(LINK3G_CROSS_PREFIX "mips-linux-gnu-" CACHE STRING "Cross compiler prefix")
set(LINK3G_CROSS_SYSROOT "/usr/mips-linux-gnu" CACHE PATH "Target C library root")
set(LINK3G_CROSS_EMULATOR "qemu-mips-static;-L;${LINK3G_CROSS_SYSROOT}"
    CACHE STRING "How test programs for the target are run here")

set(CMAKE_C_COMPILER ${LINK3G_CROSS_PREFIX}gcc)
set(CMAKE_CXX_COMPILER ${LINK3G_CROSS_PREFIX}g++)
set(CMAKE_CROSSCOMPILING_EMULATOR ${LINK3G_CROSS_EMULATOR})

set(CMAKE_FIND_ROOT_PATH ${LINK3G_CROSS_SYSROOT})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
