#include <string.h>

#include "sys/line_reader.h"
#include "sys/module_list.h"
#include "sys/sys.h"

namespace {
constexpr char kModulesPath[] = "/proc/modules";
constexpr int kModuleLineSize = 128;
}  // namespace

int is_module_exist(const char* name) {
  LineReader modules;
  if (!line_reader_open(&modules, kModulesPath)) return 0;
  char line[kModuleLineSize];
  int found = 0;
  while (!found && line_reader_piece(&modules, line, sizeof line)) {
    found = module_piece_matches(line, strlen(line), name);
  }
  line_reader_close(&modules);
  return found;
}
