// Replays a sample of quoting inputs through a real shell, once for the
// whole sample: confirms that the sh reader of the fuzz targets
// (readers.h) and the shell agree, and that the shell takes every quoted
// value back exactly.
//
//   quoting_sh_check WORKDIR SHELL FILE...
//
// Writes WORKDIR/sh_sample.sh, runs it with SHELL (e.g. "/bin/sh" or
// "bash --posix") in the empty directory WORKDIR/sh_sample.d, and compares.
// Exit status 0 when all agree, 1 on a disagreement, 2 on a usage or I/O
// error.
#include <sys/stat.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_check.h"
#include "readers.h"
#include "sys/shell_quote.h"

namespace {

bool read_file(const char* path, std::string* out) {
  FILE* f = fopen(path, "rb");
  if (f == nullptr) return false;
  char buf[4096];
  size_t n;
  out->clear();
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) out->append(buf, n);
  fclose(f);
  return true;
}

// The value as the fuzz target takes it from an input.
std::string value_of(const std::string& input) {
  size_t len = 0;
  while (len < input.size() && len < 63 && input[len] != '\0') ++len;
  return input.substr(0, len);
}

std::string joined(const std::vector<std::string>& words) {
  std::string s;
  for (const std::string& w : words) s += "[" + fuzz::shown(w) + "]";
  return s;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    fprintf(stderr, "usage: %s WORKDIR SHELL FILE...\n", argv[0]);
    return 2;
  }
  char* resolved = realpath(argv[1], nullptr);
  if (resolved == nullptr) {
    fprintf(stderr, "no directory %s\n", argv[1]);
    return 2;
  }
  std::string work = resolved;
  free(resolved);
  std::string shell = argv[2];
  std::string script_path = work + "/sh_sample.sh";
  std::string run_dir = work + "/sh_sample.d";
  mkdir(run_dir.c_str(), 0755);

  std::vector<std::string> values, lines;
  std::string script = "# one block per value: the words, NUL-separated, after their count\n";
  for (int i = 3; i < argc; ++i) {
    std::string input;
    if (!read_file(argv[i], &input)) {
      fprintf(stderr, "cannot read %s\n", argv[i]);
      return 2;
    }
    std::string value = value_of(input);
    char quoted[kShellQuotedSize];
    if (!shell_quote(value.c_str(), quoted, sizeof quoted)) {
      fprintf(stderr, "%s: shell_quote refused [%s]\n", argv[i], fuzz::shown(value).c_str());
      return 1;
    }
    std::string line = std::string("cmd ") + quoted + " " + quoted + "7 next";
    values.push_back(value);
    lines.push_back(line);
    script += "set -- " + line + "\nprintf '%s\\0' \"$#\" \"$@\"\n";
  }
  FILE* f = fopen(script_path.c_str(), "w");
  if (f == nullptr || fwrite(script.data(), 1, script.size(), f) != script.size() ||
      fclose(f) != 0) {
    fprintf(stderr, "cannot write %s\n", script_path.c_str());
    return 2;
  }

  std::string command = "cd '" + run_dir + "' && " + shell + " '" + script_path + "'";
  FILE* p = popen(command.c_str(), "r");
  if (p == nullptr) {
    fprintf(stderr, "cannot run %s\n", shell.c_str());
    return 2;
  }
  std::string output;
  char buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, p)) > 0) output.append(buf, n);
  int status = pclose(p);
  if (status != 0) {
    fprintf(stderr, "%s exited with status %d\n", shell.c_str(), status);
    return 1;
  }

  std::vector<std::string> fields;
  size_t at = 0;
  while (at < output.size()) {
    size_t end = output.find('\0', at);
    if (end == std::string::npos) break;
    fields.push_back(output.substr(at, end - at));
    at = end + 1;
  }

  int bad = 0;
  size_t k = 0;
  for (size_t i = 0; i < values.size(); ++i) {
    if (k >= fields.size()) {
      fprintf(stderr, "%s: output ends early at value %zu\n", shell.c_str(), i);
      return 1;
    }
    size_t count = strtoul(fields[k++].c_str(), nullptr, 10);
    std::vector<std::string> real;
    for (size_t j = 0; j < count && k < fields.size(); ++j) real.push_back(fields[k++]);

    std::vector<std::string> expected = {"cmd"};
    if (!values[i].empty()) expected.push_back(values[i]);
    expected.push_back(values[i] + "7");
    expected.push_back("next");
    std::vector<std::string> ref;
    std::string why;
    bool ref_ok = fuzz::sh_words(lines[i], &ref, &why);
    if (real != expected || !ref_ok || ref != real) {
      ++bad;
      fprintf(stderr, "value [%s] line [%s]\n  %s: %s\n  reader: %s%s\n  expected: %s\n",
              fuzz::shown(values[i]).c_str(), fuzz::shown(lines[i]).c_str(), shell.c_str(),
              joined(real).c_str(),
              ref_ok ? joined(ref).c_str() : "gives up: ", ref_ok ? "" : why.c_str(),
              joined(expected).c_str());
    }
  }
  printf("%s: %zu quoted values read back, %d disagreements\n", shell.c_str(), values.size(), bad);
  return bad == 0 ? 0 : 1;
}
