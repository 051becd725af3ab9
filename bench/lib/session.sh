#!/bin/bash
# Inside the router's root: puts the stand-ins in place, starts the clock and
# the simulated world, runs the command and stops everything it left running.
set -euo pipefail

. "$BENCH_DIR/lib/world.sh"
world_install
world_network
world_env

status=0
if [ "${BENCH_SPEED:-1}" != 1 ]; then
  # The whole session shares one sped-up clock.
  faketime -f "+0 x$BENCH_SPEED" /bin/bash "$BENCH_DIR/lib/clocked.sh" "$@" || status=$?
else
  /bin/bash "$BENCH_DIR/lib/clocked.sh" "$@" || status=$?
fi
exit $status
