# Plugging and unplugging a stick on the simulated USB bus: taking the stick
# file apart, putting its switch files where the router keeps them, and the
# first personality. Sourced by usbsim after usbbus.sh, whose state and
# helpers it uses; the other stand-ins never plug.

# Takes a stick file apart into $USB_STATE/stick.
usb_parse_stick() {
  rm -rf "$USB_STATE/stick"
  mkdir -p "$USB_STATE/stick/files" "$USB_STATE/stick/media"
  awk -v out="$USB_STATE/stick" -v name="$2" '
    function q(s) { gsub(/\047/, "\047\\\047\047", s); return "\047" s "\047" }
    function flush() { for (i = 1; i <= nblank; i++) print "" > target; nblank = 0 }
    BEGIN { sect = "" }
    /^\[(storage|modem|file [^]\/]+|medium [a-z0-9]+\/[^]]+)\]$/ {
      if (target != "") close(target)
      s = substr($0, 2, length($0) - 2)
      nblank = 0
      if (s == "storage" || s == "modem") target = out "/" s ".devices"
      else if (s ~ /^file /) { f = substr(s, 6); target = out "/files/" f; order = order f "\n" }
      else {
        p = substr(s, 8); d = p; sub(/\/[^\/]*$/, "", d)
        system("mkdir -p \"" out "/media/" d "\"")
        target = out "/media/" p
      }
      printf "" > target
      sect = s
      next
    }
    sect == "" {
      if ($0 ~ /^[ \t]*(#|$)/) next
      if (!match($0, /^[a-z_][a-z0-9_]*=/)) { print "usbsim: not a key=value line: " $0 > "/dev/stderr"; next }
      k = substr($0, 1, RLENGTH - 1); v = substr($0, RLENGTH + 1)
      if (k in vals) vals[k] = vals[k] "\n" v; else { vals[k] = v; keys[++nkeys] = k }
      next
    }
    $0 == "" { nblank++; next }
    { flush(); print > target }
    END {
      env = out "/env"
      printf "stick_name=%s\n", q(name) > env
      for (i = 1; i <= nkeys; i++) printf "stick_%s=%s\n", keys[i], q(vals[keys[i]]) > env
      printf "%s", order > (out "/files.order")
    }' "$1"
}

usb_install_switch_files() {
  usb_read usb_first "$USB_STATE/stick/files.order"
  [ -n "$usb_first" ] || return 0
  if [ ! -e "$USB_MODESWITCH_DIR" ]; then
    # A file system of its own, whose listing follows the order in which
    # files were created (one way or the other): the daemon walks the
    # files in directory order, and the stick file says which comes first.
    mkdir -p "$USB_MODESWITCH_DIR"
    /usr/bin/mount -t tmpfs -o mode=0755 bench-modeswitch "$USB_MODESWITCH_DIR"
    : > "$USB_STATE/modeswitch.owned"
  fi
  cp "$USB_STATE/stick/files.order" "$USB_STATE/modeswitch.installed"
  usb_copy_switch_files forward
  if ! usb_switch_files_in_order; then
    usb_copy_switch_files reverse
    usb_switch_files_in_order || usb_note "the switch files of $usb_plugged are not listed in their file's order"
  fi
}

usb_copy_switch_files() {
  if [ "$1" = reverse ]; then usb_names=$(tac "$USB_STATE/stick/files.order"); else usb_names=$(cat "$USB_STATE/stick/files.order"); fi
  for usb_n in $usb_names; do rm -f "$USB_MODESWITCH_DIR/$usb_n"; done
  for usb_n in $usb_names; do cp "$USB_STATE/stick/files/$usb_n" "$USB_MODESWITCH_DIR/$usb_n"; done
}

usb_switch_files_in_order() {
  [ "$(ls -f "$USB_MODESWITCH_DIR" | grep -Fxf "$USB_STATE/stick/files.order")" = "$(cat "$USB_STATE/stick/files.order")" ]
}

usb_remove_switch_files() {
  if [ -f "$USB_STATE/modeswitch.installed" ]; then
    for usb_n in $(cat "$USB_STATE/modeswitch.installed"); do rm -f "$USB_MODESWITCH_DIR/$usb_n"; done
    rm -f "$USB_STATE/modeswitch.installed"
  fi
  if [ -f "$USB_STATE/modeswitch.owned" ] && [ -z "$(ls -A "$USB_MODESWITCH_DIR" 2>/dev/null)" ]; then
    /usr/bin/umount "$USB_MODESWITCH_DIR" && rmdir "$USB_MODESWITCH_DIR"
    rm -f "$USB_STATE/modeswitch.owned"
  fi
}

# usb_plug FILE NAME PERSONALITY-KEY: plugs a stick (caller holds the lock;
# no stick plugged). PERSONALITY-KEY is "initial" for a plug, "power_on"
# for a replug.
usb_plug() {
  usb_parse_stick "$1" "$2" || return 1
  printf '%s\n' "$1" > "$USB_STATE/source"
  printf '%s\n' "$2" > "$USB_STATE/plugged"
  usb_set generation $((usb_generation + 1))
  usb_set count 0
  rm -rf "$USB_STATE/ejected" "$USB_STATE/media"
  mkdir -p "$USB_STATE/ejected"
  cp -a "$USB_STATE/stick/media" "$USB_STATE/media"
  usb_load
  for usb_n in $stick_media; do mkdir -p "$USB_STATE/media/$usb_n"; done
  if [ -f "$USB_STATE/stick/storage.devices" ]; then usb_first=storage; else usb_first=modem; fi
  [ -n "$stick_power_on" ] || stick_power_on=$usb_first
  [ -n "$stick_initial" ] || stick_initial=$stick_power_on
  if [ "$3" = initial ]; then usb_personality=$stick_initial; else usb_personality=$stick_power_on; fi
  usb_set personality "$usb_personality"
  if [ -f "$USB_STATE/stick/$usb_personality.devices" ]; then usb_src=$USB_STATE/stick/$usb_personality.devices; else usb_src=$USB_STATE/stick/modem.devices; fi
  awk 'BEGIN { RS = "" } /Lev=00 / { printf "\n%s\n", $0 }' "$usb_src" > "$USB_STATE/hubs.devices"
  usb_write_at_replies
  usb_install_switch_files
  usb_current_ids
  usb_note "$2 plugged: $usb_personality personality $usb_ids"
  # What the router's hotplug loads for this stick.
  for usb_m in $stick_hotplug_modules; do
    if ! usb_module_loaded "$usb_m"; then
      usb_module_add "$usb_m"
      usb_note "hotplug loaded $usb_m"
    fi
  done
  usb_bound_drivers
  # A storage driver that is already loaded binds the new stick at once.
  if usb_is_bound usb-storage; then usb_trigger storage-driver || :; fi
  usb_sync
}

usb_unplug() {
  [ -n "$usb_plugged" ] || return 0
  usb_note "$usb_plugged unplugged"
  rm -f "$USB_STATE/plugged" "$USB_STATE/hung"
  usb_personality=absent
  usb_set personality absent
  usb_sync
  usb_remove_switch_files
  usb_plugged=
}
