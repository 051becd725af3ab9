#!/bin/sh
# Fails unless the binary is a static executable that the router's kernel
# starts as it is: no shared library (NEEDED), no program interpreter
# (INTERP), not position-independent (ELF type EXEC); and, with MAX_BYTES,
# no larger than that.
#   static_binary.sh READELF BINARY [MAX_BYTES]
readelf=$1 binary=$2 max_bytes=${3:-}
headers=$("$readelf" -h -l -d "$binary") || { echo "$binary: not an ELF file"; exit 1; }
needed=$(printf '%s\n' "$headers" | sed -n 's/.*(NEEDED).*\[\(.*\)\]/\1/p')
[ -z "$needed" ] || { echo "$binary needs" $needed; exit 1; }
if printf '%s\n' "$headers" | grep -q '^ *INTERP '; then
  echo "$binary asks for a program interpreter"; exit 1
fi
type=$(printf '%s\n' "$headers" | sed -n 's/^ *Type: *\([A-Z]*\).*/\1/p')
[ "$type" = EXEC ] || { echo "$binary is of ELF type $type, not EXEC"; exit 1; }
size=$(wc -c <"$binary")
if [ -n "$max_bytes" ] && [ "$size" -gt "$max_bytes" ]; then
  echo "$binary is $size bytes, more than $max_bytes"; exit 1
fi
echo "static, no interpreter, $size bytes"
