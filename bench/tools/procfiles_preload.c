/* Preloaded into every process of the bench. The kernel here has no
 * /proc/modules and no /proc/led_enable, and procfs takes no new files, so
 * opens of exactly these two paths are redirected:
 *   /proc/modules     -> /bench/state/modules (kept by the insmod and rmmod
 *                        stand-ins in the kernel's format);
 *   /proc/led_enable  -> appended to /bench/journal/led.log, each open
 *                        starting a record with the bench's time, so the
 *                        written level completes it ("<time> 0").
 * Nothing else is touched. The production binary knows nothing of this. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <string.h>
#include <unistd.h>

#include "journal_time.h"
#include "proc_files.h"

#define MODULES_REAL "/proc/modules"
#define LED_REAL "/proc/led_enable"
#define LED_JOURNAL "/bench/journal/led.log"

static const char* modules_path(const char* path) {
  return strcmp(path, MODULES_REAL) == 0 ? MODULES_BENCH : path;
}

static int is_led(const char* path) { return path != NULL && strcmp(path, LED_REAL) == 0; }

typedef int (*open_fn)(const char*, int, ...);
typedef int (*openat_fn)(int, const char*, int, ...);
typedef FILE* (*fopen_fn)(const char*, const char*);

static int led_open(void) {
  static open_fn real;
  if (!real) real = (open_fn)dlsym(RTLD_NEXT, "open");
  int fd = real(LED_JOURNAL, O_WRONLY | O_CREAT | O_APPEND, 0644);
  if (fd >= 0) {
    char stamp[64];
    int n = bench_time_text(stamp, sizeof stamp - 1);
    stamp[n++] = ' ';
    if (write(fd, stamp, (size_t)n) < 0) { /* best effort */ }
  }
  return fd;
}

#define OPEN_WRAPPER(name)                                   \
  int name(const char* path, int flags, ...) {               \
    static open_fn real;                                     \
    if (!real) real = (open_fn)dlsym(RTLD_NEXT, #name);      \
    va_list ap;                                              \
    va_start(ap, flags);                                     \
    int mode = va_arg(ap, int);                              \
    va_end(ap);                                              \
    if (is_led(path)) return led_open();                     \
    return real(modules_path(path), flags, mode);            \
  }

#define OPENAT_WRAPPER(name)                                      \
  int name(int dirfd, const char* path, int flags, ...) {         \
    static openat_fn real;                                        \
    if (!real) real = (openat_fn)dlsym(RTLD_NEXT, #name);         \
    va_list ap;                                                   \
    va_start(ap, flags);                                          \
    int mode = va_arg(ap, int);                                   \
    va_end(ap);                                                   \
    if (is_led(path)) return led_open();                          \
    return real(dirfd, modules_path(path), flags, mode);          \
  }

#define FOPEN_WRAPPER(name)                                       \
  FILE* name(const char* path, const char* mode) {                \
    static fopen_fn real;                                         \
    if (!real) real = (fopen_fn)dlsym(RTLD_NEXT, #name);          \
    if (is_led(path)) {                                           \
      int fd = led_open();                                        \
      return fd < 0 ? NULL : fdopen(fd, "a");                     \
    }                                                             \
    return real(modules_path(path), mode);                        \
  }

OPEN_WRAPPER(open)
OPEN_WRAPPER(open64)
OPENAT_WRAPPER(openat)
OPENAT_WRAPPER(openat64)
FOPEN_WRAPPER(fopen)
FOPEN_WRAPPER(fopen64)

/* The fortified entry points that _FORTIFY_SOURCE builds call instead. */
int __open_2(const char* path, int flags) { return open(path, flags, 0); }
int __open64_2(const char* path, int flags) { return open64(path, flags, 0); }
int __openat_2(int dirfd, const char* path, int flags) { return openat(dirfd, path, flags, 0); }
int __openat64_2(int dirfd, const char* path, int flags) {
  return openat64(dirfd, path, flags, 0);
}
