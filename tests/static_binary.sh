#!/bin/sh
# Fails unless the binary is a static executable that the router's kernel
# starts as it is: no shared library (NEEDED), no program interpreter
# (INTERP), not position-independent (ELF type EXEC); with MAX_BYTES, no
# larger than that; and with OBJDUMP (a MIPS objdump), that it runs on every
# MIPS32 core: the soft-float ABI, no FPU instruction and no MIPS32 release 2
# instruction.
#   static_binary.sh READELF BINARY [MAX_BYTES [OBJDUMP]]
readelf=$1 binary=$2 max_bytes=${3:-} objdump=${4:-}
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
if [ -z "$objdump" ]; then
  echo "static, no interpreter, $size bytes"
  exit 0
fi

fp_abi=$("$readelf" -A "$binary" | sed -n 's/^ *FP ABI: *//p')
[ "$fp_abi" = "Soft float" ] || { echo "$binary: FP ABI is '$fp_abi', not 'Soft float'"; exit 1; }
# Disassembled as release 2 (a superset of release 1): decoded for the
# binary's own ISA, a release 2 instruction would only show as .word.
# Mnemonics are the third tab-separated field of an instruction line.
mnemonics=$("$objdump" -d -m mips:isa32r2 "$binary" | awk -F'\t' 'NF >= 3 { print $3 }') ||
  { echo "$binary: $objdump failed"; exit 1; }
[ -n "$mnemonics" ] || { echo "$binary: $objdump shows no instruction"; exit 1; }
# The FPU's: loads, stores and moves of coprocessor 1 (lwc1, sdc1, mtc1,
# cfc1, mthc1, lwxc1...), its branches (bc1f, bc1t), moves on its condition
# codes (movf, movt), and the arithmetic, compares and conversions, all with
# a format suffix (add.d, c.lt.s, cvt.s.w, trunc.w.d...).
fpu=$(printf '%s\n' "$mnemonics" | grep -E 'c1$|^bc1|^mov[ft]$|\.(s|d|w|l|ps)(\.|$)' | sort | uniq -c)
[ -z "$fpu" ] || { echo "$binary has FPU instructions:"; echo "$fpu"; exit 1; }
# Release 2's additions. Left out: rdhwr, which musl uses to read the thread
# pointer and which MIPS Linux emulates on release 1 cores; ehb and pause,
# which are encodings of sll $0,$0,N, a no-op on release 1.
r2=$(printf '%s\n' "$mnemonics" |
  grep -Ex 'seb|seh|wsbh|ext|ins|rotr|rotrv|di|ei|rdpgpr|wrpgpr|synci|jr\.hb|jalr\.hb' | sort | uniq -c)
[ -z "$r2" ] || { echo "$binary has MIPS32 release 2 instructions:"; echo "$r2"; exit 1; }
echo "static, no interpreter, $size bytes, soft-float, no FPU or release 2 instruction"
