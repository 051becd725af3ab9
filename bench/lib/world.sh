# The simulated router's world, sourced by the session scripts.
# State lives under /bench: bin/ (stand-ins, first in PATH), state/ (what the
# simulated kernel and devices hold) and journal/ (what tests read).

BENCH_BIN=/bench/bin
BENCH_STATE=/bench/state

world_install() {
  mkdir -p "$BENCH_BIN" "$BENCH_STATE"
  : > "$BENCH_STATE/modules"
  # Every stand-in is a link to its script, so that its process name is the
  # name of the program it plays.
  # usbsim, the control of the simulated USB bus, lives with the bus but is
  # called by name like them (tests, the demo, the soak).
  for f in "$BENCH_DIR"/standins/* "$BENCH_DIR/usb/usbsim"; do
    case "$f" in *.sh) continue ;; esac
    ln -sf "$f" "$BENCH_BIN/$(basename "$f")"
  done
  # The busybox applets the stand-ins udhcpc, ifconfig and route run, each
  # through a link of its own name.
  mkdir -p /bench/busybox
  for f in udhcpc ifconfig route; do ln -sf /bin/busybox "/bench/busybox/$f"; done
  # /bin/sh journals the command lines the programs under test hand it.
  rm -f /bin/sh
  cp "$BENCH_BUILD/bench/bench_sh" /bin/sh
  cp "$BENCH_BUILD/bench/libbenchproc.so" /bench/libbenchproc.so
  date +%s.%N > "$BENCH_STATE/t0"
  # The router's firmware brings its own ip-up, if any: this machine's
  # (Debian's, with its run-parts) is not the router's.
  rm -f /etc/ppp/ip-up /etc/ppp/ip-down
  # The simulated USB bus, empty: root hubs only, no modules loaded.
  "$BENCH_DIR/usb/usbsim" _install
}

world_network() {
  ip link set lo up
}

world_start() {
  # The USB bus's serial-port server, then the stick of --stick, if any.
  "$BENCH_DIR/usb/usbsim" _start
}

world_stop() {
  # The bus as the command left it, for the journal's readers.
  "$BENCH_DIR/usb/usbsim" _stop
}

# Kills every process of the bench but the first, the caller and the
# caller's parent (the clock's wrapper, when there is one).
world_kill_rest() {
  local keep=" 1 $$ $PPID " pid
  for pid in $(ls /proc | grep -E '^[0-9]+$'); do
    case "$keep" in *" $pid "*) continue ;; esac
    kill -9 "$pid" 2>/dev/null || true
  done
}

world_env() {
  export PATH="$BENCH_BIN:/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"
  export LD_PRELOAD=/bench/libbenchproc.so
}
