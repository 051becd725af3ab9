#include <stdio.h>
#include <string.h>

#include "sys/module_list.h"
#include "sys/sys.h"

namespace {
constexpr char kModulesPath[] = "/proc/modules";
constexpr int kModuleLineSize = 128;
}  // namespace

int is_module_exist(const char* name) {
  FILE* modules = fopen(kModulesPath, "r");
  if (modules == nullptr) return 0;
  char line[kModuleLineSize];
  int found = 0;
  while (!found && fgets(line, sizeof line, modules) != nullptr) {
    found = module_piece_matches(line, strlen(line), name);
  }
  fclose(modules);
  return found;
}
