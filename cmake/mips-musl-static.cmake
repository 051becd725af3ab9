# Static build for the router's processor, MIPS32 big-endian (mips32r2),
# against musl: the binary runs on the router's 2.6.30 kernel whatever C
# library the router has. The defaults use Debian's mips-linux-gnu cross
# compiler and the musl that scripts/setup builds into build/musl/mips; a
# router maintainer points LINK3G_CROSS_PREFIX and LINK3G_MUSL_PREFIX at
# their own.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mips)

set(LINK3G_CROSS_PREFIX "mips-linux-gnu-" CACHE STRING "Cross compiler prefix")
set(LINK3G_MUSL_PREFIX "${CMAKE_CURRENT_LIST_DIR}/../build/musl/mips"
    CACHE PATH "musl for the target: include/ and lib/ (libc.a, crt*.o) below it")
set(LINK3G_TARGET_FLAGS "-march=mips32r2" CACHE STRING "Target flags for compiling and linking")
set(LINK3G_CROSS_EMULATOR "qemu-mips-static"
    CACHE STRING "How target programs run here (a static binary needs no -L)")
# try_compile projects read this file again: they get the same values.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES
  LINK3G_CROSS_PREFIX LINK3G_MUSL_PREFIX LINK3G_TARGET_FLAGS LINK3G_CROSS_EMULATOR)

set(CMAKE_C_COMPILER ${LINK3G_CROSS_PREFIX}gcc)
set(CMAKE_CXX_COMPILER ${LINK3G_CROSS_PREFIX}g++)
set(CMAKE_CROSSCOMPILING_EMULATOR ${LINK3G_CROSS_EMULATOR})

get_filename_component(link3g_musl_prefix "${LINK3G_MUSL_PREFIX}" ABSOLUTE)
set(link3g_musl_include ${link3g_musl_prefix}/include)
set(link3g_musl_lib ${link3g_musl_prefix}/lib)
include(${CMAKE_CURRENT_LIST_DIR}/musl-static.cmake)
