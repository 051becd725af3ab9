#!/bin/sh
# Formats a manual page as man shows it, at the usual width, and fails on
# any warning from man or groff (an unknown macro, a bad escape, a line
# that cannot be broken or adjusted).
#   man_page.sh PAGE
set -eu
command -v man >/dev/null || { echo "man is missing (scripts/setup installs man-db)"; exit 1; }
warnings=$(MANWIDTH=80 LC_ALL=C.UTF-8 man --warnings -l "$1" 2>&1 >/dev/null) || {
  printf '%s\n' "man failed on $1" "$warnings"
  exit 1
}
[ -z "$warnings" ] || { printf '%s\n' "$warnings"; exit 1; }
