#include <stdio.h>

#include "app/app.h"

namespace {
// Our own buffer for standard output, so that stdio takes nothing from the
// heap for it.
char stdout_buffer[BUFSIZ];
}  // namespace

int main(int argc, char** argv) {
  // Line-buffered even into a pipe or a file, as on the router: each message
  // is out before the next command runs, and none is lost when we are killed.
  setvbuf(stdout, stdout_buffer, _IOLBF, sizeof stdout_buffer);
  switch (parse_options(argc, argv)) {
    case kShowHelp:
      print_usage();
      return 0;
    case kShowVersion:
      print_version();
      return 0;
    case kRunCommand:
      break;
  }
  return dispatch_command();
}
