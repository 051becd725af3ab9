# A stick whose firmware hangs, and the reset on the bus that mends it.
# Sourced by usbsim after usbbus.sh, whose state and helpers it uses.
#
# Hung, the stick keeps its place on the bus and its tty nodes, but its AT
# port answers nothing: serialcom reads no record, comgt times out and pppd
# gets no address (the pppd stand-in looks at $USB_STATE/hung); a network
# stick keeps its interface, but its DHCP server and DNS relay answer
# nothing (usbnet.sh). A reset
# (USBDEVFS_RESET on the stick's usbfs node, which the preload hands to
# "usbsim _reset NODE") takes it off the bus: its nodes (and a network
# stick's interface) go, and after
# reset_delay seconds (2) it comes back in the personality it had, no
# longer hung. Knob reset=refuse: the kernel refuses every reset.

# usb_hang: the plugged stick's firmware hangs now (caller holds the lock).
usb_hang() {
  [ -n "$usb_plugged" ] || { echo "usbsim: no stick plugged" >&2; return 1; }
  : > "$USB_STATE/hung"
  usb_mute=
  for usb_f in "$USB_STATE"/nodes/*; do
    [ -f "$usb_f" ] || continue
    usb_read usb_kind "$usb_f"
    case $usb_kind in at|status) usb_mute="${usb_mute}mute ${usb_f##*/}
" ;; esac
  done
  [ -z "$usb_mute" ] || usb_ports_request "$usb_mute"
  usb_note "$usb_plugged hangs: its AT ports answer nothing, its nodes stay"
  usbnet_hang
}

# The usbfs node (BBB/DDD) of the plugged stick as the list shows it now.
usb_stick_node() {
  usb_node=
  usb_current_ids
  [ -n "$usb_ids" ] || return 0
  usb_node=$(awk -v v="Vendor=${usb_ids%%:*}" -v p="ProdID=${usb_ids#*:}" '
    /^T:/ { node = ""; if (match($0, /Bus= *[0-9]+/)) { b = substr($0, RSTART + 4, RLENGTH - 4)
            if (match($0, /Dev#= *[0-9]+/)) node = sprintf("%03d/%03d", b, substr($0, RSTART + 5, RLENGTH - 5)) } }
    /^P:/ && index($0, v) && index($0, p) && node != "" { print node; exit }' "$USB_LIST")
}

# usb_reset NODE: a USBDEVFS_RESET on /proc/bus/usb/BBB/DDD. Returns 1 when
# the kernel refuses it.
usb_reset() {
  if [ "$stick_reset" = refuse ]; then
    usb_note "reset of $1 refused"
    return 1
  fi
  usb_stick_node
  if [ -z "$usb_node" ] || [ "/proc/bus/usb/$usb_node" != "$1" ]; then
    usb_note "reset of $1: not the stick, nothing changes"
    return 0
  fi
  usb_was_personality=$usb_personality
  rm -f "$USB_STATE/hung"
  usb_note "$usb_plugged reset on the bus ($1): off the bus for ${stick_reset_delay:-2} s"
  usb_personality=switching
  usb_set personality switching
  usb_sync
  "$BENCH_DIR/usb/usbsim" _arrive "$usb_generation" "${stick_reset_delay:-2}" "$usb_was_personality" \
    </dev/null >/dev/null 2>&1 9>&- &
  return 0
}
