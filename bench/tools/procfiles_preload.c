/* Preloaded into every process of the bench. The kernel here has no
 * /proc/modules and no /proc/led_enable, and procfs takes no new files, so
 * opens of exactly these two paths are redirected:
 *   /proc/modules     -> /bench/state/modules (kept by the insmod and rmmod
 *                        stand-ins in the kernel's format);
 *   /proc/led_enable  -> appended to /bench/journal/led.log, each open
 *                        starting a record with the bench's time, so the
 *                        written level completes it ("<time> 0").
 * It also plays usbfs's USBDEVFS_RESET: the nodes /proc/bus/usb/BBB/DDD
 * are plain files the simulated bus keeps, so the reset of one is handed
 * to the bus ("usbsim _reset NODE"), which resets the stick when the node
 * is its own; the bus's answer is the ioctl's.
 * Nothing else is touched. The production binary knows nothing of this. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdarg.h>
#include <stdio.h>
#include <errno.h>
#include <limits.h>
#include <string.h>
#include <sys/ioctl.h>
#include <sys/wait.h>
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

/* --- usbfs's reset -------------------------------------------------------- */

#define USBFS_DIR "/proc/bus/usb/"
#define USBSIM "/bench/bin/usbsim"
#define USBDEVFS_RESET_REQUEST _IO('U', 20)

/* The bus's verdict on a reset of node: 0 taken, -1 (errno EPERM) refused. */
static int usbfs_reset(const char* node) {
  pid_t child = fork();
  if (child < 0) return -1;
  if (child == 0) {
    execl(USBSIM, "usbsim", "_reset", node, (char*)NULL);
    _exit(127);
  }
  int status = 0;
  while (waitpid(child, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  if (WIFEXITED(status) && WEXITSTATUS(status) == 0) return 0;
  errno = EPERM;
  return -1;
}

typedef int (*ioctl_fn)(int, unsigned long, ...);

int ioctl(int fd, unsigned long request, ...) {
  static ioctl_fn real;
  if (!real) real = (ioctl_fn)dlsym(RTLD_NEXT, "ioctl");
  va_list ap;
  va_start(ap, request);
  void* arg = va_arg(ap, void*);
  va_end(ap);
  if (request == USBDEVFS_RESET_REQUEST) {
    char link[64], node[PATH_MAX];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t n = readlink(link, node, sizeof node - 1);
    if (n > 0) {
      node[n] = '\0';
      if (strncmp(node, USBFS_DIR, strlen(USBFS_DIR)) == 0) return usbfs_reset(node);
    }
  }
  return real(fd, request, arg);
}
