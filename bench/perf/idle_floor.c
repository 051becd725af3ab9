/* The smallest process of link3g's shape: dynamically linked against the C
 * library only, a second thread, both asleep for ever. Its resident memory
 * is the floor under the daemon's on this machine's C library: what any
 * such program pays before it does anything. */
#include <pthread.h>
#include <unistd.h>

static void* sleeper(void* unused) {
  (void)unused;
  for (;;) pause();
  return NULL;
}

int main(void) {
  pthread_t thread;
  if (pthread_create(&thread, NULL, sleeper, NULL) != 0) return 1;
  for (;;) pause();
}
