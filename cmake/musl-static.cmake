# Static link against musl, shared by the musl toolchain files (not a
# toolchain file of its own). The daemon's code includes only C and POSIX
# headers, so it is compiled against musl's headers and the compiler's own
# (stddef.h, stdarg.h...) alone, and linked from musl's start files, libc.a
# and the compiler's libgcc.a, nothing else: no C++ library, no shared
# object, no program interpreter.
#
# The including file sets the compilers, LINK3G_TARGET_FLAGS (the target's
# -march and the like, for the compiler and the linker alike),
# link3g_musl_include / link3g_musl_lib, the folders of musl's headers and
# of libc.a and crt*.o, and link3g_libgcc, the libgcc.a to link (empty:
# the compiler's own).
#
# Linker warnings are errors: among them the one about objects built for
# another float ABI, whose float routines would take their arguments from
# the wrong registers.
set(LINK3G_STATIC ON)

foreach(file ${link3g_musl_include}/stdio.h ${link3g_musl_lib}/libc.a ${link3g_musl_lib}/crt1.o ${link3g_libgcc})
  if(NOT EXISTS ${file})
    message(FATAL_ERROR "musl: ${file} is missing (scripts/setup builds the "
      "router's musl and libgcc into build/musl; the host's musl is Debian's musl-dev)")
  endif()
endforeach()

# The compiler's own headers, and its libgcc.a (64-bit division and the
# like on 32-bit targets) unless another was named.
separate_arguments(link3g_target_flags UNIX_COMMAND "${LINK3G_TARGET_FLAGS}")
execute_process(COMMAND ${CMAKE_C_COMPILER} ${link3g_target_flags} -print-file-name=include
  OUTPUT_VARIABLE link3g_gcc_include OUTPUT_STRIP_TRAILING_WHITESPACE)
if(NOT link3g_libgcc)
  execute_process(COMMAND ${CMAKE_C_COMPILER} ${link3g_target_flags} -print-libgcc-file-name
    OUTPUT_VARIABLE link3g_libgcc OUTPUT_STRIP_TRAILING_WHITESPACE)
endif()

set(link3g_includes "-nostdinc -isystem ${link3g_musl_include} -isystem ${link3g_gcc_include}")
set(CMAKE_C_FLAGS_INIT "${LINK3G_TARGET_FLAGS} -fno-pie ${link3g_includes}")
set(CMAKE_CXX_FLAGS_INIT "${LINK3G_TARGET_FLAGS} -fno-pie -nostdinc++ ${link3g_includes}")
# The whole link line: musl's start files first, then the objects, then
# the libraries, then crtn.o to close .init and .fini. Set as the link rule
# so that CMake's own compiler checks link the same way.
set(CMAKE_EXE_LINKER_FLAGS_INIT "${LINK3G_TARGET_FLAGS} -static -no-pie -nostdlib -Wl,--fatal-warnings")
set(link3g_start "${link3g_musl_lib}/crt1.o ${link3g_musl_lib}/crti.o")
set(link3g_end
  "-Wl,--start-group ${link3g_musl_lib}/libc.a ${link3g_libgcc} -Wl,--end-group ${link3g_musl_lib}/crtn.o")
foreach(lang C CXX)
  set(CMAKE_${lang}_LINK_EXECUTABLE
    "<CMAKE_${lang}_COMPILER> <FLAGS> <CMAKE_${lang}_LINK_FLAGS> <LINK_FLAGS> ${link3g_start} <OBJECTS> -o <TARGET> <LINK_LIBRARIES> ${link3g_end}")
endforeach()
