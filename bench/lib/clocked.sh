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
export BENCH_SHELL_CALLERS="link3g $(basename "$1" | cut -c1-15)"
"$@"
status=$?
world_stop
world_kill_rest
exit $status
