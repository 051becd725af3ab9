/* A thread that only sleeps 2 s at a time, as the daemon's supervisor does
 * between two passes. The CPU time it is charged per wakeup is what this
 * machine makes any sleeping thread pay (the timer, the switch out and back
 * in; under a hypervisor, its exits), before it does any work. The benchmark
 * reads it from /proc beside the daemon's and kills it. */
#include <time.h>

#define PAUSE_SECONDS 2

int main(void) {
  struct timespec pause = {PAUSE_SECONDS, 0};
  for (;;) nanosleep(&pause, NULL);
}
