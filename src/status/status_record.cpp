#include "status/status_record.h"

#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/types.h>

#include "status/status_text.h"
#include "sys/small_file.h"

namespace {

constexpr mode_t kStatusFileMode = 0644;  // a web page's CGI reads it as any user

LinkStatus written;
bool have_written = false;
bool write_failure_shown = false;  // one message until a write succeeds again

}  // namespace

void status_publish(const LinkStatus& status) {
  // The caller builds the record from cleared memory: compared byte for byte.
  if (have_written && memcmp(&written, &status, sizeof status) == 0) return;
  char text[kStatusTextSize];
  size_t len = format_status_text(status, text, sizeof text);
  int err = len > 0 ? write_file_whole(kStatusPath, kStatusTempPath, text, len, kStatusFileMode) : EOVERFLOW;
  if (err == 0) {
    memcpy(&written, &status, sizeof status);
    have_written = true;
    write_failure_shown = false;
    return;
  }
  if (!write_failure_shown) printf("link3g: %s cannot be written (%s).\n", kStatusPath, strerror(err));
  write_failure_shown = true;
}
