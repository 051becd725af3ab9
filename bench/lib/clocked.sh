#!/bin/bash
# The part of the session that runs on the bench's clock: the simulated
# world's services, then the command. Whatever is still running when the
# command ends is killed, so that the clock's wrapper returns.
set -uo pipefail
. "$BENCH_DIR/lib/world.sh"

world_start
cd "${BENCH_CWD:-/}" 2>/dev/null || cd /
# Sanitized test programs share the process with the bench preload.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}verify_asan_link_order=0"
export TSAN_OPTIONS="${TSAN_OPTIONS:+$TSAN_OPTIONS:}suppressions=$BENCH_DIR/tsan.supp"
# Programs whose shell commands are journaled, by their command names (at
# most 15 characters): link3g, the test program, and the emulator that runs
# link3g when LINK3G_RUN_PREFIX names one (the process keeps its name).
BENCH_SHELL_CALLERS="link3g $(basename "$1" | cut -c1-15)"
if [ -n "${LINK3G_RUN_PREFIX:-}" ]; then
  read -r emulator _ <<<"$LINK3G_RUN_PREFIX"
  BENCH_SHELL_CALLERS+=" $(basename "$emulator" | cut -c1-15)"
fi
export BENCH_SHELL_CALLERS
"$@"
status=$?
world_stop
world_kill_rest
exit $status
