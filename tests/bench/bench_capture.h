// Template part of bench_support.h: standard output of a call.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>

namespace bench {

std::string read_fd_to_end(int fd);

template <class F>
std::string capture_stdout(F&& f) {
  fflush(stdout);
  char path[] = "/tmp/bench-stdout-XXXXXX";
  int fd = mkstemp(path);
  int saved = dup(1);
  dup2(fd, 1);
  f();
  fflush(stdout);
  dup2(saved, 1);
  close(saved);
  lseek(fd, 0, SEEK_SET);
  std::string out = read_fd_to_end(fd);
  close(fd);
  unlink(path);
  return out;
}

}  // namespace bench
