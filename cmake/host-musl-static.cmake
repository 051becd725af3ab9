# Static build for this machine against musl (Debian's musl-dev): the same
# link as the router's static build, run and tested here natively.
set(LINK3G_MUSL_INCLUDE "/usr/include/x86_64-linux-musl" CACHE PATH "musl's headers")
set(LINK3G_MUSL_LIB "/usr/lib/x86_64-linux-musl" CACHE PATH "musl's libc.a and crt*.o")
set(LINK3G_TARGET_FLAGS "" CACHE STRING "Target flags for compiling and linking")
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES LINK3G_MUSL_INCLUDE LINK3G_MUSL_LIB LINK3G_TARGET_FLAGS)

set(CMAKE_C_COMPILER gcc)
set(CMAKE_CXX_COMPILER g++)

set(link3g_musl_include ${LINK3G_MUSL_INCLUDE})
set(link3g_musl_lib ${LINK3G_MUSL_LIB})
set(link3g_libgcc "")  # the compiler's own
include(${CMAKE_CURRENT_LIST_DIR}/musl-static.cmake)
