# Static build for the router's processor, MIPS32 big-endian, against musl:
# the binary runs on the router's 2.6.30 kernel whatever C library the
# router has. By default it runs on every MIPS32 core: release 1
# instructions only (-march=mips32) and the soft-float ABI, so that a core
# without an FPU (most router chips) never meets an FPU instruction. The
# defaults use Debian's mips-linux-gnu cross compiler and the musl and
# libgcc routines that scripts/setup builds into build/musl/mips; a router
# maintainer points LINK3G_CROSS_PREFIX, LINK3G_MUSL_PREFIX and
# LINK3G_LIBGCC at their own, and LINK3G_TARGET_FLAGS at another core.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR mips)

set(LINK3G_CROSS_PREFIX "mips-linux-gnu-" CACHE STRING "Cross compiler prefix")
set(LINK3G_MUSL_PREFIX "${CMAKE_CURRENT_LIST_DIR}/../build/musl/mips"
    CACHE PATH "musl for the target: include/ and lib/ (libc.a, crt*.o) below it")
set(LINK3G_TARGET_FLAGS "-march=mips32 -msoft-float" CACHE STRING "Target flags for compiling and linking")
# The compiler's runtime routines (64-bit division, the soft-float ABI's
# __adddf3...). Debian's libgcc.a for mips-linux-gnu is built for the
# hard-float ABI, so scripts/setup builds them from gcc's source for the
# soft-float ABI; empty takes the compiler's own libgcc.a (right for a
# toolchain built soft-float, as a router SDK's usually is).
set(LINK3G_LIBGCC "${LINK3G_MUSL_PREFIX}/lib/libgcc-soft-float.a"
    CACHE STRING "libgcc.a to link (empty: the compiler's own)")
# The oldest core: MIPS32 release 1 without an FPU.
set(LINK3G_CROSS_EMULATOR "qemu-mips-static;-cpu;4Kc"
    CACHE STRING "How target programs run here (a static binary needs no -L)")
option(LINK3G_CHECK_MIPS32
  "Check that the binary runs on every MIPS32 core: soft-float, no FPU or release 2 instruction" ON)
# try_compile projects read this file again: they get the same values.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES LINK3G_CROSS_PREFIX LINK3G_MUSL_PREFIX
  LINK3G_TARGET_FLAGS LINK3G_LIBGCC LINK3G_CROSS_EMULATOR LINK3G_CHECK_MIPS32)

set(CMAKE_C_COMPILER ${LINK3G_CROSS_PREFIX}gcc)
set(CMAKE_CXX_COMPILER ${LINK3G_CROSS_PREFIX}g++)
set(CMAKE_CROSSCOMPILING_EMULATOR ${LINK3G_CROSS_EMULATOR})

get_filename_component(link3g_musl_prefix "${LINK3G_MUSL_PREFIX}" ABSOLUTE)
set(link3g_musl_include ${link3g_musl_prefix}/include)
set(link3g_musl_lib ${link3g_musl_prefix}/lib)
set(link3g_libgcc "${LINK3G_LIBGCC}")
include(${CMAKE_CURRENT_LIST_DIR}/musl-static.cmake)
