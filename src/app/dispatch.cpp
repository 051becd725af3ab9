#include <cstdio>
#include <cstring>

#include "app/app.h"
#include "qos/qos.h"
#include "sys/option_buffers.h"

namespace {

void run_qos() {
  printf("****PPPInit qos [%s]\n", qosBuf);
  InitQos(qosBuf, LanH);
}

struct Command {
  const char* word;
  void (*run)();
};

// Command words are matched exactly, case included.
const Command kCommands[] = {
    {"qos", run_qos},
};

}  // namespace

void dispatch_command() {
  for (const Command& c : kCommands) {
    if (strcmp(cmd, c.word) == 0) {
      c.run();
      return;
    }
  }
}
