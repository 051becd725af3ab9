// The one retry of a system call that a signal cut short. The daemon's
// threads and its SIGCHLD handler run beside every call it makes, and a
// call interrupted before it did anything is simply made again.
#pragma once

#include <errno.h>

// Calls call() until it returns something other than a negative result
// with errno EINTR; returns that result (errno as the call left it).
template <typename Call>
auto retry_on_eintr(Call call) -> decltype(call()) {
  decltype(call()) rc;
  do {
    rc = call();
  } while (rc < 0 && errno == EINTR);
  return rc;
}
