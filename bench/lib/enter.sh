#!/bin/bash
# First process of the bench's PID namespace: builds the router's file
# system and enters it. Everything mounted here vanishes with the namespace.
set -euo pipefail

root="$BENCH_TMP/root"
# The layer that takes the router's writes lives in memory, as a router's
# writable files do: a file written here (/etc/resolv.conf, /etc/ppp...) is
# never read back from this machine's disk, which would make a reader wait
# whenever the page cache has dropped it.
layer="$BENCH_TMP/layer"
mkdir -p "$layer" "$root"
mount -t tmpfs -o mode=0755 bench-layer "$layer"
mkdir -p "$layer/upper" "$layer/work"
mount -t overlay overlay -o "lowerdir=/,upperdir=$layer/upper,workdir=$layer/work" "$root"

# Kernel file systems of our own: this PID namespace's processes only, and
# a /proc/bus on which the simulated USB bus can publish its device list.
mount -t proc proc "$root/proc"
mount -t tmpfs -o mode=0755 bench-bus "$root/proc/bus"
mkdir -p "$root/proc/bus/usb"
mount -t sysfs sysfs "$root/sys"
for d in tmp run; do mount -t tmpfs -o mode=1777 "bench-$d" "$root/$d"; done
# /var/lock (here a link to /run/lock): where serial ports' UUCP locks go.
mkdir -m 1777 "$root/run/lock"

# A /dev of our own: the few host nodes programs need, private
# pseudo-terminals for the simulated modems, and no host disks.
mount -t tmpfs -o mode=0755 bench-dev "$root/dev"
for node in null zero tty random urandom full; do
  touch "$root/dev/$node"; mount --bind "/dev/$node" "$root/dev/$node"
done
# FUSE, for the /proc view of programs run under an emulator (bench/tools/emulate).
if [ -c /dev/fuse ]; then touch "$root/dev/fuse"; mount --bind /dev/fuse "$root/dev/fuse"; fi
mkdir -p "$root/dev/net" "$root/dev/pts" "$root/dev/shm"
touch "$root/dev/net/tun"; mount --bind /dev/net/tun "$root/dev/net/tun"
mount -t devpts -o newinstance,ptmxmode=0666,mode=0620 devpts "$root/dev/pts"
ln -s pts/ptmx "$root/dev/ptmx"
mount -t tmpfs -o mode=1777 bench-shm "$root/dev/shm"
ln -s /proc/self/fd "$root/dev/fd"
for i in 0 1 2; do ln -s "/proc/self/fd/$i" "$root/dev/$(echo stdin stdout stderr | cut -d' ' -f$((i+1)))"; done

# The checkout and the build tree, live and read-only; the journals, live
# and writable so that they outlive the bench.
for dir in "$REPO" "$BENCH_BUILD"; do
  mkdir -p "$root$dir"; mount --bind "$dir" "$root$dir"; mount -o remount,bind,ro "$root$dir"
done
mkdir -p "$root/bench/journal"
mount --bind "$BENCH_JOURNAL_HOST" "$root/bench/journal"

hostname router
exec chroot "$root" /bin/bash "$BENCH_DIR/lib/session.sh" "$@"
