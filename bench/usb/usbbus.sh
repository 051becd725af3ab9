# The simulated USB bus, sourced by usbsim and by the stand-ins of the
# router programs that act on it (insmod, rmmod, eject, mount, touch,
# modemswitch, serialcom). POSIX sh for dash: these run on a clock that may
# be 20 times faster than the real one, so every fork counts. Plugging and
# unplugging a stick are in usbplug.sh, which only usbsim sources.
#
# What the bus holds, all under /bench/state/usb:
#   plugged          name of the plugged stick (absent: no stick)
#   source           the stick file it came from
#   personality      storage | modem | switching (between the two, off the bus)
#   generation       bumped at every plug, so that a late switch of an
#                    unplugged stick is dropped
#   count            switching actions seen in this personality
#   stick/           the stick file taken apart at plug time: env (its
#                    header as shell assignments), storage.devices,
#                    modem.devices, hubs.devices, at_replies, files/, media/
#   hubs.devices     root hubs of the last plugged stick's router (or the
#                    default router's), the list when no stick is plugged
#   modules.list     loaded modules, newest first
#   usbserial.ids    "VENDOR PRODUCT" (decimal) that usbserial was loaded with
#   nodes/NAME       one per device node the stick's drivers serve now
#                    (content: at, status, silent or disk)
#   ejected/NAME     storage nodes whose medium was ejected
#   media/NAME/      the file system of a storage node with a medium
#   modeswitch.*     what the bus put into /bin/usb_modeswitch.d
#   hung             present while the stick's firmware hangs (usbsim hang):
#                    its AT port answers nothing, until a reset or an unplug
#   net/             a network stick's firmware and link (usbnet.sh)
# /bench/state/usbsim.conf holds the knobs set with "usbsim set" (key=value
# lines); each overrides the stick header's key of the same name.
#
# The kernel files it keeps: /proc/bus/usb/devices (rewritten whole, through
# a rename, after every change), usbfs's nodes /proc/bus/usb/BBB/DDD (one
# plain file per listed device; the preload hands their USBDEVFS_RESET to
# "usbsim _reset") and /bench/state/modules (what the preload shows as
# /proc/modules).

USB_STATE=/bench/state/usb
USB_CONF=/bench/state/usbsim.conf
USB_LIST=/proc/bus/usb/devices
USB_MODULES=/bench/state/modules
USB_CATALOGUE=$BENCH_DIR/sticks
USB_SIM=$BENCH_DIR/usb
USB_PORTS_IN=$USB_STATE/ports.in
USB_PORTS_OUT=$USB_STATE/ports.out
USB_MODESWITCH_DIR=/bin/usb_modeswitch.d

# --- state ---------------------------------------------------------------

# Serialises the changes of the bus between concurrent stand-ins. The lock
# is held until the caller exits (fd 9; children that outlive the caller
# must be started with 9>&-).
usb_lock() {
  exec 9>>"$USB_STATE/lock"
  flock 9
}

usb_read() {  # usb_read VAR FILE [DEFAULT]: first line of FILE, no fork
  if [ -f "$2" ]; then IFS= read -r "$1" < "$2" || :; else eval "$1=\${3-}"; fi
}

# Loads the bus state and the plugged stick's keys (stick_KEY), then the
# knobs of usbsim.conf over them.
usb_load() {
  stick_name= stick_model= stick_storage_ids= stick_modem_ids= stick_initial= stick_power_on=
  stick_switch= stick_switch_after=1 stick_switch_delay=0 stick_reset= stick_reset_delay=2
  stick_storage_nodes= stick_modem_storage_nodes= stick_media=
  stick_ports=0 stick_at_port=0 stick_serial_driver=usbserial_generic
  stick_acm=no stick_acm_ports=1 stick_hotplug_modules= stick_builtin_drivers=
  stick_op_user= stick_op_password= stick_op_apn= stick_op_dial= stick_op_family=1
  stick_op_imsi= stick_op_name= stick_at_reply= stick_at_echo=on
  stick_status_port= stick_signal=-75 stick_registration=home stick_network=UMTS stick_sim=ready
  stick_status_mode=answer
  stick_serialcom=record stick_serialcom_delay=3 stick_serialcom_order=
  stick_net= stick_net_if= stick_net_mac= stick_net_ip= stick_lease= stick_dhcp= stick_dns_relay=
  stick_dhcp_domain= stick_dhcp_dns= stick_dhcp_option=
  usb_read usb_plugged "$USB_STATE/plugged"
  usb_read usb_personality "$USB_STATE/personality" absent
  usb_read usb_generation "$USB_STATE/generation" 0
  usb_read usb_count "$USB_STATE/count" 0
  usb_read usb_modules "$USB_STATE/modules.list"
  [ -n "$usb_plugged" ] || usb_personality=absent
  if [ -n "$usb_plugged" ] && [ -f "$USB_STATE/stick/env" ]; then
    . "$USB_STATE/stick/env"
  fi
  if [ -f "$USB_CONF" ]; then
    while IFS= read -r usb_line; do
      usb_k=${usb_line%%=*}
      case $usb_k in ''|*[!a-z0-9_]*) continue ;; esac
      eval "stick_$usb_k=\${usb_line#*=}"
    done < "$USB_CONF"
  fi
}

usb_set() {  # usb_set NAME VALUE: one state file
  printf '%s\n' "$2" > "$USB_STATE/$1"
}

# A bench remark in the stand-ins' journal. The time is taken once per
# process: a note is a few milliseconds from the previous one at most.
usb_note() {
  [ -n "${usb_now:-}" ] || usb_now=$(standin_time)
  printf '%s # usb: %s\n' "$usb_now" "$*" >> "$STANDIN_JOURNAL"
}

# Current ids of the plugged stick ("" when off the bus).
usb_current_ids() {
  case $usb_personality in
    storage) usb_ids=$stick_storage_ids ;;
    modem) usb_ids=$stick_modem_ids ;;
    *) usb_ids= ;;
  esac
}

# --- modules -------------------------------------------------------------

usb_modname() {  # module name of a file or name: usb-storage.ko -> usb_storage
  usb_m=${1##*/}
  usb_m=${usb_m%.ko}
  usb_mod=
  while :; do
    case $usb_m in
      *-*) usb_mod="$usb_mod${usb_m%%-*}_"; usb_m=${usb_m#*-} ;;
      *) usb_mod="$usb_mod$usb_m"; break ;;
    esac
  done
}

usb_module_loaded() {
  case " $usb_modules " in *" $1 "*) return 0 ;; esac
  return 1
}

usb_module_needs() {  # modules a module uses (they must be loaded first)
  case $1 in
    option|sierra|pl2303|qcserial|ftdi_sio|usb_wwan) usb_needs=usbserial ;;
    cdc_ether) usb_needs=usbnet ;;
    # rndis_host binds through cdc_ether's usbnet_generic_cdc_bind.
    rndis_host) usb_needs="usbnet cdc_ether" ;;
    *) usb_needs= ;;
  esac
}

usb_module_add() {
  usb_modules="$1${usb_modules:+ $usb_modules}"
  usb_modules_write
}

usb_module_del() {
  usb_rest=
  for usb_m in $usb_modules; do
    [ "$usb_m" = "$1" ] || usb_rest="$usb_rest${usb_rest:+ }$usb_m"
  done
  usb_modules=$usb_rest
  usb_modules_write
}

usb_module_users() {  # loaded modules that use $1, kernel style "a,b,"
  usb_users= usb_nusers=0
  for usb_u in $usb_modules; do
    usb_module_needs "$usb_u"
    case " $usb_needs " in *" $1 "*) usb_users="$usb_users$usb_u," usb_nusers=$((usb_nusers + 1)) ;; esac
  done
}

# /proc/modules: "name size refcount users state address", newest first.
usb_modules_write() {
  printf '%s\n' "$usb_modules" > "$USB_STATE/modules.list"
  usb_text=
  for usb_m in $usb_modules; do
    case $usb_m in
      usbserial) usb_sz=30528 usb_ad=c0130000 ;;
      cdc_acm) usb_sz=14720 usb_ad=c0150000 ;;
      option) usb_sz=18096 usb_ad=c0170000 ;;
      usb_storage) usb_sz=80560 usb_ad=c0190000 ;;
      usbnet) usb_sz=17440 usb_ad=c01b0000 ;;
      cdc_ether) usb_sz=5568 usb_ad=c01d0000 ;;
      rndis_host) usb_sz=7200 usb_ad=c01e0000 ;;
      *) usb_sz=8192 usb_ad=c0200000 ;;
    esac
    usb_module_users "$usb_m"
    usb_text="$usb_text$usb_m $usb_sz $usb_nusers ${usb_users:--} Live 0x$usb_ad
"
  done
  # One write of a few lines: readers never see a part of it in practice,
  # and a rename would cost a process.
  printf '%s' "$usb_text" > "$USB_MODULES"
}

# --- drivers and device nodes ---------------------------------------------

usb_hex() {  # usb_hex VAR HHHH: numeric value of four hex digits
  eval "$1=\$((0x$2))"
}

# usbserial's generic driver binds the stick when it was loaded with the
# ids the stick shows in its modem personality (compared as numbers).
usb_serial_matches() {
  [ "$usb_personality" = modem ] && usb_module_loaded usbserial || return 1
  usb_read usb_sids "$USB_STATE/usbserial.ids"
  [ -n "$usb_sids" ] && [ -n "$stick_modem_ids" ] || return 1
  usb_hex usb_v "${stick_modem_ids%%:*}"
  usb_hex usb_p "${stick_modem_ids#*:}"
  [ "$usb_sids" = "$usb_v $usb_p" ]
}

# Drivers that are bound now, as " name name ": hub always, a module's
# driver when it is loaded (usb_storage serves as usb-storage), the generic
# serial driver only for matching ids.
usb_bound_drivers() {
  usb_bound=" hub $stick_builtin_drivers "
  for usb_m in $usb_modules; do
    case $usb_m in
      usb_storage) usb_bound="${usb_bound}usb-storage " ;;
      usbserial) usb_serial_matches && usb_bound="${usb_bound}usbserial_generic " ;;
      *) usb_bound="$usb_bound$usb_m " ;;
    esac
  done
}

usb_is_bound() {
  case $usb_bound in *" $1 "*) return 0 ;; esac
  return 1
}

# Nodes the stick should have now: "name:kind" words.
usb_wanted_nodes() {
  usb_wanted=
  case $usb_personality in
    modem)
      if [ "$stick_ports" -gt 0 ] && usb_is_bound "$stick_serial_driver"; then
        usb_i=0
        while [ "$usb_i" -lt "$stick_ports" ]; do
          usb_kind=silent
          [ "$usb_i" = "$stick_status_port" ] && usb_kind=status
          [ "$usb_i" = "$stick_at_port" ] && usb_kind=at
          usb_wanted="$usb_wanted ttyUSB$usb_i:$usb_kind"
          usb_i=$((usb_i + 1))
        done
      fi
      if [ "$stick_acm" = yes ] && usb_is_bound cdc_acm; then
        usb_i=0
        while [ "$usb_i" -lt "$stick_acm_ports" ]; do
          usb_kind=silent
          [ "$usb_i" = "$stick_status_port" ] && usb_kind=status
          [ "$usb_i" = 0 ] && usb_kind=at
          usb_wanted="$usb_wanted ttyACM$usb_i:$usb_kind"
          usb_i=$((usb_i + 1))
        done
      fi
      if usb_is_bound usb-storage; then
        for usb_n in $stick_modem_storage_nodes; do usb_wanted="$usb_wanted $usb_n:disk"; done
      fi
      ;;
    storage)
      if usb_is_bound usb-storage; then
        for usb_n in $stick_storage_nodes; do usb_wanted="$usb_wanted $usb_n:disk"; done
      fi
      ;;
  esac
}

# Asks the port server for ports (see ttyports.py): the requests, then
# "end N", into one FIFO; the replies up to "end N" from the other. Shell
# builtins only; the caller holds the bus's lock.
usb_ports_request() {
  usb_ports_start
  usb_seq=$$.$usb_generation.${usb_seq_n:=0}
  usb_seq_n=$((usb_seq_n + 1))
  printf '%send %s\n' "$1" "$usb_seq" > "$USB_PORTS_IN"
  while IFS= read -r usb_reply; do
    case $usb_reply in
      "end $usb_seq") break ;;
      end*|ok*) ;;
      *) usb_note "port server: $usb_reply" ;;
    esac
  done < "$USB_PORTS_OUT"
}

usb_ports_running() {
  [ -p "$USB_PORTS_IN" ] && [ -p "$USB_PORTS_OUT" ] || return 1
  usb_read usb_ppid "$USB_STATE/ports.pid"
  [ -n "$usb_ppid" ] && kill -0 "$usb_ppid" 2>/dev/null
}

usb_ports_start() {
  usb_ports_running && return 0
  rm -f "$USB_STATE/ports.pid"
  /usr/bin/python3 "$USB_SIM/ttyports.py" </dev/null >/dev/null 2>>/bench/journal/ttyports.err 9>&- &
  usb_i=0
  while [ ! -s "$USB_STATE/ports.pid" ] && [ "$usb_i" -lt 2000 ]; do
    sleep 0.01
    usb_i=$((usb_i + 1))
  done
}

# Brings the device nodes and the device list in line with the state:
# removes the nodes of drivers that went, creates those of drivers that
# came, rewrites the list.
usb_sync() {
  usb_bound_drivers
  usb_wanted_nodes
  usb_req= usb_added= usb_removed= usb_rm=
  for usb_f in "$USB_STATE"/nodes/*; do
    [ -f "$usb_f" ] || continue
    usb_n=${usb_f##*/}
    usb_read usb_kind "$usb_f"
    case " $usb_wanted " in *" $usb_n:$usb_kind "*) continue ;; esac
    case $usb_kind in
      disk) usb_rm="$usb_rm /dev/$usb_n" ;;
      *) usb_req="${usb_req}close $usb_n
" ;;
    esac
    usb_rm="$usb_rm $usb_f"
    usb_removed="$usb_removed -$usb_n"
  done
  for usb_w in $usb_wanted; do
    usb_n=${usb_w%%:*} usb_kind=${usb_w#*:}
    [ -f "$USB_STATE/nodes/$usb_n" ] && continue
    case $usb_kind in
      disk) : > "/dev/$usb_n" ;;
      at|status)
        if [ "$usb_kind" = at ]; then
          usb_req="${usb_req}open $usb_n at $USB_STATE/stick/at_replies
"
        else
          usb_req="${usb_req}open $usb_n status $USB_STATE/stick/status_facts
"
        fi
        # A hung firmware stays hung when its drivers are reloaded.
        [ ! -f "$USB_STATE/hung" ] || usb_req="${usb_req}mute $usb_n
" ;;
      *) usb_req="${usb_req}open $usb_n silent
" ;;
    esac
    printf '%s\n' "$usb_kind" > "$USB_STATE/nodes/$usb_n"
    usb_added="$usb_added +$usb_n"
    [ "$usb_kind" = at ] && usb_added="$usb_added(AT)"
    [ "$usb_kind" = status ] && usb_added="$usb_added(status)"
  done
  [ -z "$usb_rm" ] || rm -f $usb_rm
  [ -z "$usb_req" ] || usb_ports_request "$usb_req"
  # The list changes with the stick, its personality and the bound drivers.
  usb_shown="$usb_generation|$usb_plugged|$usb_personality|$usb_bound"
  usb_read usb_was "$USB_STATE/shown"
  if [ "$usb_shown" != "$usb_was" ] || [ ! -f "$USB_LIST" ]; then
    usb_render
    printf '%s\n' "$usb_shown" > "$USB_STATE/shown"
  fi
  [ -z "$usb_added$usb_removed" ] || usb_note "nodes$usb_removed$usb_added"
  usbnet_sync
}

# Writes /proc/bus/usb/devices from the current personality's list: an
# interface whose driver is not bound reads "Driver=(none)", as the kernel
# shows it; off the bus, the root hubs alone.
usb_render() {
  case $usb_personality in
    storage) usb_src=$USB_STATE/stick/storage.devices ;;
    modem) usb_src=$USB_STATE/stick/modem.devices ;;
    *) usb_src=$USB_STATE/hubs.devices ;;
  esac
  awk -v bound="$usb_bound" -v nodes="$USB_STATE/usbfs.new" '
    /^I:/ && match($0, /Driver=[^ ]+$/) {
      d = substr($0, RSTART + 7)
      if (d != "(none)" && index(bound, " " d " ") == 0) $0 = substr($0, 1, RSTART + 6) "(none)"
    }
    /^T:/ && match($0, /Bus= *[0-9]+/) {
      b = substr($0, RSTART + 4, RLENGTH - 4)
      if (match($0, /Dev#= *[0-9]+/)) printf "%03d/%03d\n", b, substr($0, RSTART + 5, RLENGTH - 5) > nodes
    }
    { print }' "$usb_src" > "$USB_LIST.new" && mv -f "$USB_LIST.new" "$USB_LIST"
  usb_usbfs_nodes
}

# usbfs: a node per listed device, none for a device that has gone.
usb_usbfs_nodes() {
  usb_want=" "
  while IFS= read -r usb_n; do usb_want="$usb_want$usb_n "; done < "$USB_STATE/usbfs.new"
  rm -f "$USB_STATE/usbfs.new"
  usb_gone=
  for usb_f in /proc/bus/usb/[0-9][0-9][0-9]/[0-9][0-9][0-9]; do
    [ -f "$usb_f" ] || continue
    case $usb_want in *" ${usb_f#/proc/bus/usb/} "*) ;; *) usb_gone="$usb_gone $usb_f" ;; esac
  done
  [ -z "$usb_gone" ] || rm -f $usb_gone
  for usb_n in $usb_want; do
    [ -f "/proc/bus/usb/$usb_n" ] && continue
    [ -d "/proc/bus/usb/${usb_n%/*}" ] || mkdir -p "/proc/bus/usb/${usb_n%/*}"
    : > "/proc/bus/usb/$usb_n"
  done
}

# Switching the stick's personality, which the switching stand-ins use.
. "$USB_SIM/usbswitch.sh"
# A network stick's link and its own network.
. "$USB_SIM/usbnet.sh"
