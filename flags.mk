# The flags every build of link3g compiles and links its own code with,
# whatever flags the user adds: the one list of them. The Makefile
# includes this file; CMake reads it (cmake/flags.cmake), taking each
# "NAME = words" line as a list. Plain words only, no make functions.
# tests/build_flags.sh compares the compile lines of the two builds.

# 64-bit file offsets and inode numbers on 32-bit targets: without them
# readdir() fails with EOVERFLOW on file systems with large directory
# cookies (ext4 does this; so does qemu's view of it).
LINK3G_DEFINES = -D_FILE_OFFSET_BITS=64
# Warnings for everything of ours, tests included (errors in the project's
# own builds: CMake always, make with WERROR=1).
LINK3G_WARNINGS = -Wall -Wextra -Wshadow -Wformat=2
# And for the daemon itself.
LINK3G_DAEMON_WARNINGS = -Wundef -Wconversion -Wsign-conversion -Wcast-align -Wmissing-declarations
# C++17 without exceptions, RTTI or the C++ library's headers (router
# toolchains often ship no usable C++ library: a C++ library header that
# comes back fails the build at once); sections collected at link time.
LINK3G_CXXFLAGS = -std=c++17 -fno-exceptions -fno-rtti -fno-threadsafe-statics -nostdinc++ \
  -ffunction-sections -fdata-sections -fvisibility=hidden
# Only the C library at run time: with --as-needed the linker drops the
# libstdc++ and libgcc_s that the C++ driver always names.
LINK3G_LDFLAGS = -Wl,--gc-sections -Wl,--as-needed -static-libgcc
