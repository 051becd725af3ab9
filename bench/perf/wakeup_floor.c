/* A thread that only sleeps 250 ms at a time, as the daemon's LED thread
 * does with its LED held. The CPU time it is charged per wakeup is what this
 * machine makes any sleeping thread pay (the timer, the switch out and back
 * in; under a hypervisor, its exits), before it does any work. The benchmark
 * reads it from /proc beside the daemon's and kills it. */
#include <time.h>

#define TICK_NANOS 250000000L

int main(void) {
  struct timespec tick = {0, TICK_NANOS};
  for (;;) nanosleep(&tick, NULL);
}
