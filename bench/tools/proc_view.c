/* The bench's /proc as a file system of its own, for link3g run under an
 * emulator. qemu-user cannot be reached by the bench's preload (it is static
 * and makes its system calls itself), but its -L PREFIX option opens
 * PREFIX/PATH instead of an absolute PATH when PREFIX/PATH exists. A prefix
 * holding only proc/modules would also hide every process from a scan of
 * /proc (PREFIX/proc exists, so opendir("/proc") lists PREFIX/proc), so
 * this view, mounted on PREFIX/proc, shows the whole of /proc, plus
 * "modules": the module list the insmod and rmmod stand-ins keep, which the
 * preload shows to the bench's other programs as /proc/modules.
 *
 *   bench_procview MOUNTPOINT     mounts the view and returns once it serves
 *
 * Read-only, and nothing is cached: process entries come and go as in
 * procfs, and procfs files report size 0, so every read goes to the file. */
#define FUSE_USE_VERSION 31
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <fuse.h>
#include <limits.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

#include "proc_files.h"

#define PROC_ROOT "/proc"

/* The real file behind a path of the view; 0 when it does not fit. */
static int real_path(const char* path, char* out, size_t size) {
  int n = strcmp(path, "/modules") == 0 ? snprintf(out, size, "%s", MODULES_BENCH)
                                        : snprintf(out, size, "%s%s", PROC_ROOT, path);
  return n > 0 && (size_t)n < size;
}

static int view_getattr(const char* path, struct stat* st, struct fuse_file_info* fi) {
  (void)fi;
  char real[PATH_MAX];
  if (!real_path(path, real, sizeof real)) return -ENAMETOOLONG;
  if (lstat(real, st) != 0) return -errno;
  if (strcmp(path, "/modules") == 0) st->st_mode = S_IFREG | 0444;
  return 0;
}

static int view_readlink(const char* path, char* buf, size_t size) {
  char real[PATH_MAX];
  if (!real_path(path, real, sizeof real)) return -ENAMETOOLONG;
  ssize_t n = readlink(real, buf, size - 1);
  if (n < 0) return -errno;
  buf[n] = '\0';
  return 0;
}

static int view_readdir(const char* path, void* buf, fuse_fill_dir_t fill, off_t offset,
                        struct fuse_file_info* fi, enum fuse_readdir_flags flags) {
  (void)offset;
  (void)fi;
  (void)flags;
  char real[PATH_MAX];
  if (!real_path(path, real, sizeof real)) return -ENAMETOOLONG;
  DIR* dir = opendir(real);
  if (dir == NULL) return -errno;
  for (struct dirent* e; (e = readdir(dir)) != NULL;) fill(buf, e->d_name, NULL, 0, 0);
  closedir(dir);
  if (strcmp(path, "/") == 0) fill(buf, "modules", NULL, 0, 0);
  return 0;
}

static int view_open(const char* path, struct fuse_file_info* fi) {
  if ((fi->flags & O_ACCMODE) != O_RDONLY) return -EROFS;
  char real[PATH_MAX];
  if (!real_path(path, real, sizeof real)) return -ENAMETOOLONG;
  int fd = open(real, O_RDONLY);
  if (fd < 0) return -errno;
  fi->fh = (uint64_t)fd;
  return 0;
}

static int view_read(const char* path, char* buf, size_t size, off_t offset, struct fuse_file_info* fi) {
  (void)path;
  ssize_t n = pread((int)fi->fh, buf, size, offset);
  return n < 0 ? -errno : (int)n;
}

static int view_release(const char* path, struct fuse_file_info* fi) {
  (void)path;
  close((int)fi->fh);
  return 0;
}

static void* view_init(struct fuse_conn_info* conn, struct fuse_config* cfg) {
  (void)conn;
  cfg->entry_timeout = 0;
  cfg->attr_timeout = 0;
  cfg->negative_timeout = 0;
  cfg->direct_io = 1;
  return NULL;
}

static const struct fuse_operations view_ops = {
    .getattr = view_getattr,
    .readlink = view_readlink,
    .open = view_open,
    .read = view_read,
    .release = view_release,
    .readdir = view_readdir,
    .init = view_init,
};

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: bench_procview MOUNTPOINT\n");
    return 2;
  }
  /* One thread; read-only; daemonized once it serves. */
  static char single[] = "-s", opt[] = "-o", options[] = "ro,fsname=benchproc";
  char* args[] = {argv[0], single, opt, options, argv[1], NULL};
  return fuse_main(5, args, &view_ops, NULL);
}
