# Switching the plugged stick out of its storage personality, as the
# switching stand-ins (eject, modemswitch, mount, touch, insmod) make it do.
# Sourced by usbbus.sh, whose state and helpers it uses.

# --- switching -------------------------------------------------------------

# usb_trigger ACTION: the plugged stick in its storage personality sees
# ACTION (storage-driver, eject:NODE, reset, huawei-mode, message:HEX,
# marker:NAME). Returns 1 when the stick does not react to it; otherwise it
# counts, and switches once switch_after actions were seen.
usb_trigger() {
  [ "$usb_personality" = storage ] || return 1
  case " $stick_switch " in *" $1 "*) ;; *) return 1 ;; esac
  usb_count=$((usb_count + 1))
  usb_set count "$usb_count"
  if [ "$usb_count" -lt "$stick_switch_after" ]; then
    usb_note "$usb_plugged takes $1 ($usb_count of $stick_switch_after)"
    return 0
  fi
  usb_note "$usb_plugged switches on $1"
  usb_switch
}

# Leaves the storage personality: at once, or after switch_delay seconds
# off the bus (the stick re-enumerates), in a process of its own.
usb_switch() {
  usb_set count 0
  usb_count=0
  if [ "${stick_switch_delay:-0}" != 0 ]; then
    usb_personality=switching
    usb_set personality switching
    usb_sync
    "$BENCH_DIR/usb/usbsim" _arrive "$usb_generation" "$stick_switch_delay" \
      </dev/null >/dev/null 2>&1 9>&- &
    return 0
  fi
  usb_arrive
}

usb_arrive() {
  usb_personality=modem
  usb_set personality modem
  set -- "$USB_STATE"/ejected/*
  [ ! -e "$1" ] || rm -f "$@"
  usb_note "$usb_plugged shows its modem personality $stick_modem_ids"
  usb_sync
}

# The AT port's replies (read by the port server when it opens the port),
# and the second AT port's facts (read by the port at every command). The
# operator defaults to the name on the SIM's record; a Huawei stick sends
# unsolicited reports until it is told AT^CURC=0.
usb_write_at_replies() {
  [ -d "$USB_STATE/stick" ] || return 0
  printf '%s\n' "echo=$stick_at_echo" > "$USB_STATE/stick/at_replies"
  [ -z "$stick_at_reply" ] || printf '%s\n' "$stick_at_reply" >> "$USB_STATE/stick/at_replies"
  [ -n "$stick_status_port" ] || return 0
  usb_curc=off
  case $stick_modem_ids in 12d1:*) usb_curc=on ;; esac
  printf 'signal=%s\noperator=%s\nregistration=%s\nnetwork=%s\nsim=%s\nstatus_mode=%s\ncurc=%s\n' \
    "$stick_signal" "${stick_operator-$stick_op_name}" "$stick_registration" "$stick_network" "$stick_sim" \
    "$stick_status_mode" "$usb_curc" > "$USB_STATE/stick/status_facts.new"
  mv -f "$USB_STATE/stick/status_facts.new" "$USB_STATE/stick/status_facts"
}
