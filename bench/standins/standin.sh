# Shared by the stand-ins: the journal of what they were asked to do.
STANDIN_JOURNAL=/bench/journal/standins.log

# A word as the shell would read it back.
standin_quote() {
  case "$1" in
    ''|*[!A-Za-z0-9._,+:/@=%-]*) printf "'%s'" "$(printf '%s' "$1" | sed "s/'/'\\\\''/g")" ;;
    *) printf '%s' "$1" ;;
  esac
}

standin_time() { date +%s.%3N; }

# standin_journal NAME ARG...: one record "<time> NAME ARG..." per call.
standin_journal() {
  line="$(standin_time) $1"
  shift
  for a in "$@"; do line="$line $(standin_quote "$a")"; done
  printf '%s\n' "$line" >> "$STANDIN_JOURNAL"
}

# standin_note TEXT: a remark of the bench itself.
standin_note() { printf '%s # %s\n' "$(standin_time)" "$1" >> "$STANDIN_JOURNAL"; }
