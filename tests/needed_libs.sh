#!/bin/sh
# Fails when the binary needs a shared library other than the C library
# (and libpthread, where the C library keeps it apart): on the router,
# libstdc++ and libgcc_s are not there.
#   needed_libs.sh READELF BINARY
readelf=$1 binary=$2
libs=$("$readelf" -d "$binary" | sed -n 's/.*Shared library: \[\(.*\)\]/\1/p')
[ -n "$libs" ] || { echo "no shared library listed: not a dynamic binary?"; exit 1; }
for lib in $libs; do
  case $lib in
    libc.so.*|libpthread.so.*) ;;
    *) echo "$binary needs $lib"; exit 1 ;;
  esac
done
echo "needs only:" $libs
