# A network stick on the simulated USB bus: a stick whose modem personality
# is a network card (header key net=cdc_ether or net=rndis_host) and whose
# own network, behind the card, hands out leases. Sourced by usbbus.sh,
# whose state and helpers it uses; usb_sync calls usbnet_sync.
#
# The stick's firmware runs while it shows its modem personality, in a
# network namespace of its own ("stick", /run/netns/stick: it goes with
# the bench), with the stick's end of the USB link as eth0, NET_IP/24
# (192.168.8.1, as a Huawei HiLink), and three services:
#   - the stick's dnsmasq: DHCP on eth0 (leases NET_IP.100..200, router
#     and name server the stick itself), and a DNS relay on NET_IP:53 to
#     the ISP's name servers; journal /bench/journal/stick-dnsmasq.log;
#   - the ISP's name servers (standins/ispdns): fronts on 127.0.1.1 and
#     127.0.1.2 and the dnsmasq behind them, in the stick's namespace
#     because the ISP is reached through the stick. They read the router's
#     mode files, so "ispdns mode ADDR drop" blackholes the server for the
#     stick's relay too, and journal to the same dns.log.
# The router's end of the link waits in the stick's namespace as host0 until
# the stick's driver is loaded: then it moves into the router as eth1
# (cdc_ether) or usb0 (rndis_host), down and without an address, as a new
# usbnet interface is. When the driver goes (rmmod) it moves back, losing
# its addresses and routes; when the stick leaves its modem personality
# (unplug, reset, a switch), the namespace goes with everything in it.
# A hung stick (usbsim hang) keeps its link, but its dnsmasq is stopped:
# no lease, no renewal, no DNS answer until a reset or an unplug.
#
# sysfs, as the daemon reads it: /sys/class/net/IF stays the kernel's link
# to /sys/devices/virtual/net/IF (a veth); a read-only overlay on that
# directory adds "device", an absolute link to the stick's USB interface
# directory in /sys/devices/platform (a tmpfs of the bench laid out as the
# router's: rt3xxx-ehci/usb1/1-1/ with idVendor, idProduct, ..., and
# 1-1/1-1:1.0/ with bInterfaceClass, ...).
#
# Knobs (usbsim set; each also a stick header key), read whenever the bus
# changes: a change restarts the stick's dnsmasq, its leases kept:
#   net_ip=ADDR       the stick's address (a /24): default 192.168.8.1
#   lease=SECONDS     lease time on the bench's clock (dnsmasq's floor: 120)
#   dhcp=serve|off|nak  off: no DHCP server at all (no offer, no renewal);
#                     nak: every request for an address it gave is refused
#                     and new leases come from NET_IP.201..250
#   dns_relay=relay|refuse  refuse: nothing listens on NET_IP:53
#   dhcp_domain=TEXT  the domain-name option (between double quotes in
#                     dnsmasq's configuration: \n, \t, \\, \" are escapes)
#   dhcp_dns=A[,B...] the name-server option instead of the stick itself
#   dhcp_option=OPT   one more dnsmasq dhcp-option value, as written
#   net_if=NAME, net_mac=MAC  the router's interface name and address
# Fixed: the ISP's modes are "ispdns mode" files, the hang is usbsim hang.

USBNET=$USB_STATE/net
USBNET_NS=stick
USBNET_PLATFORM=/sys/devices/platform

# Brings the stick's firmware and link in line with the bus: fork-free
# when nothing changed.
usbnet_sync() {
  usbnet_fw= usbnet_if=
  if [ "$usb_personality" = modem ] && [ -n "$stick_net" ]; then
    usbnet_fw=$usb_generation
    usbnet_name
    usb_is_bound "$stick_net" || usbnet_if=
  fi
  usb_read usbnet_fw_now "$USBNET/fw"
  usb_read usbnet_if_now "$USBNET/link"
  if [ -n "$usbnet_if_now" ] && [ "$usbnet_if_now|$usbnet_fw_now" != "$usbnet_if|$usbnet_fw" ]; then
    usbnet_link_down
  fi
  if [ -n "$usbnet_fw_now" ] && [ "$usbnet_fw_now" != "$usbnet_fw" ]; then
    usbnet_firmware_down
  fi
  [ -n "$usbnet_fw" ] || return 0
  [ -n "$usbnet_fw_now" ] || usbnet_firmware_up
  usbnet_serve
  [ -z "$usbnet_if" ] || [ -n "$usbnet_if_now" ] || usbnet_link_up
}

usbnet_name() {  # the router's name of the stick's interface
  usbnet_if=$stick_net_if
  [ -n "$usbnet_if" ] || case $stick_net in
    rndis_host) usbnet_if=usb0 ;;
    *) usbnet_if=eth1 ;;
  esac
}

# --- the stick's firmware ----------------------------------------------------

usbnet_firmware_up() {
  [ -d "$USBNET" ] || mkdir -p "$USBNET"
  rm -f "$USBNET/conf" "$USBNET/leases"
  [ ! -e "/run/netns/$USBNET_NS" ] || ip netns del "$USBNET_NS" 2>/dev/null
  usbnet_ip=${stick_net_ip:-192.168.8.1}
  ip netns add "$USBNET_NS"
  ip -n "$USBNET_NS" -batch - <<EOF
link set lo up
link add eth0 address 02:1e:10:1f:00:01 type veth peer name host0 address ${stick_net_mac:-0c:5b:8f:27:9a:64}
addr add $usbnet_ip/24 dev eth0
link set eth0 up
EOF
  printf '%s\n' "$usbnet_ip" > "$USBNET/ip"
  ISPDNS_STATE=$USBNET ip netns exec "$USBNET_NS" "$BENCH_DIR/standins/ispdns" start \
    </dev/null >/dev/null 2>>/bench/journal/usbnet.err 9>&- &
  usbnet_sysfs_device
  printf '%s\n' "$usbnet_fw" > "$USBNET/fw"
  usbnet_fw_now=$usbnet_fw
  usb_note "$usb_plugged's network runs: $usbnet_ip on its side of the link"
}

# Every process of the stick's namespace ends, then the namespace and the
# two ends of the link in it.
usbnet_firmware_down() {
  usbnet_pids=$(ip netns pids "$USBNET_NS" 2>/dev/null)
  [ -z "$usbnet_pids" ] || kill -9 $usbnet_pids 2>/dev/null
  ip netns del "$USBNET_NS" 2>/dev/null
  [ ! -d "$USBNET_PLATFORM/rt3xxx-ehci" ] || rm -rf "$USBNET_PLATFORM/rt3xxx-ehci"
  rm -f "$USBNET/fw" "$USBNET/conf" "$USBNET/leases" "$USBNET/dnsmasq.pid" "$USBNET/ip"
  usbnet_fw_now=
  usb_note "the stick's network is gone"
}

# The stick's dnsmasq, (re)started when its knobs change.
usbnet_serve() {
  usbnet_conf="${stick_net_ip:-192.168.8.1}|${stick_lease:-86400}|${stick_dhcp:-serve}|${stick_dns_relay:-relay}|$stick_dhcp_domain|$stick_dhcp_dns|$stick_dhcp_option"
  usb_read usbnet_conf_was "$USBNET/conf"
  [ "$usbnet_conf" != "$usbnet_conf_was" ] || return 0
  usb_read usbnet_pid "$USBNET/dnsmasq.pid"
  [ -z "$usbnet_pid" ] || usbnet_kill_wait "$usbnet_pid"
  usbnet_ip=${stick_net_ip:-192.168.8.1}
  usb_read usbnet_ip_was "$USBNET/ip"
  if [ "$usbnet_ip" != "$usbnet_ip_was" ]; then
    ip -n "$USBNET_NS" -batch - <<EOF
addr flush dev eth0
addr add $usbnet_ip/24 dev eth0
EOF
    printf '%s\n' "$usbnet_ip" > "$USBNET/ip"
  fi
  usbnet_write_conf
  ip netns exec "$USBNET_NS" dnsmasq --conf-file="$USBNET/dnsmasq.conf" --keep-in-foreground \
    </dev/null >/dev/null 2>>/bench/journal/usbnet.err 9>&- &
  printf '%s\n' "$!" > "$USBNET/dnsmasq.pid"
  [ ! -f "$USB_STATE/hung" ] || kill -STOP "$!"
  printf '%s\n' "$usbnet_conf" > "$USBNET/conf"
  usb_note "the stick's dnsmasq: dhcp=${stick_dhcp:-serve} lease=${stick_lease:-86400} dns_relay=${stick_dns_relay:-relay}"
}

usbnet_write_conf() {
  usbnet_net=${usbnet_ip%.*}
  {
    printf '%s\n' "# The stick's DHCP server and DNS relay (bench/usb/usbnet.sh)" \
      no-resolv no-hosts cache-size=0 log-queries log-dhcp user=root dhcp-authoritative \
      bind-interfaces "listen-address=$usbnet_ip" \
      "log-facility=/bench/journal/stick-dnsmasq.log" "pid-file=$USBNET/dnsmasq.pid" \
      "dhcp-leasefile=$USBNET/leases" server=127.0.1.1 server=127.0.1.2
    case ${stick_dhcp:-serve} in
      serve) printf 'dhcp-range=%s.100,%s.200,255.255.255.0,%s\n' "$usbnet_net" "$usbnet_net" "${stick_lease:-86400}" ;;
      nak) printf 'dhcp-range=%s.201,%s.250,255.255.255.0,%s\n' "$usbnet_net" "$usbnet_net" "${stick_lease:-86400}" ;;
    esac
    [ "${stick_dns_relay:-relay}" = relay ] || echo port=0
    [ -z "$stick_dhcp_domain" ] || printf 'dhcp-option=option:domain-name,"%s"\n' "$stick_dhcp_domain"
    [ -z "$stick_dhcp_dns" ] || printf 'dhcp-option=option:dns-server,%s\n' "$stick_dhcp_dns"
    [ -z "$stick_dhcp_option" ] || printf 'dhcp-option=%s\n' "$stick_dhcp_option"
  } > "$USBNET/dnsmasq.conf"
}

usbnet_kill_wait() {  # SIGKILL, then wait until it is gone or a zombie
  kill -9 "$1" 2>/dev/null || return 0
  usbnet_i=0
  while [ "$usbnet_i" -lt 500 ] && { read -r usbnet_stat < "/proc/$1/stat"; } 2>/dev/null; do
    case $usbnet_stat in *") Z "*) return 0 ;; esac
    sleep 0.01
    usbnet_i=$((usbnet_i + 1))
  done
}

# usbsim hang: the firmware answers nothing (its dnsmasq stopped).
usbnet_hang() {
  usb_read usbnet_pid "$USBNET/dnsmasq.pid"
  [ -n "$usbnet_pid" ] || return 0
  kill -STOP "$usbnet_pid" 2>/dev/null
  usb_note "$usb_plugged's DHCP server and DNS relay answer nothing"
}

# --- the link as the router sees it ------------------------------------------

usbnet_link_up() {
  ip -n "$USBNET_NS" link set dev host0 netns 1 name "$usbnet_if" || return 0
  /usr/bin/mount -t overlay -o "ro,lowerdir=$USBNET/sysfs:/sys/devices/virtual/net/$usbnet_if" \
    bench-usbnet "/sys/devices/virtual/net/$usbnet_if"
  printf '%s\n' "$usbnet_if" > "$USBNET/link"
  usbnet_if_now=$usbnet_if
  usb_note "$stick_net binds $usb_plugged: $usbnet_if appears"
}

usbnet_link_down() {
  /usr/bin/umount "/sys/devices/virtual/net/$usbnet_if_now" 2>/dev/null ||
    /usr/bin/umount -l "/sys/devices/virtual/net/$usbnet_if_now" 2>/dev/null
  ip link set dev "$usbnet_if_now" netns "$USBNET_NS" name host0 2>/dev/null
  rm -f "$USBNET/link"
  usb_note "$usbnet_if_now goes"
  usbnet_if_now=
}

# The stick's USB device in the bench's /sys/devices/platform, and the
# directory the overlay puts over the interface's: its "device" link.
usbnet_sysfs_device() {
  if [ ! -f "$USB_STATE/platform.mounted" ]; then
    /usr/bin/mount -t tmpfs -o mode=0755 bench-platform "$USBNET_PLATFORM"
    : > "$USB_STATE/platform.mounted"
  fi
  eval "$(awk -v ids="$stick_modem_ids" -v drv="$stick_net" '
    function q(s) { gsub(/\047/, "\047\\\047\047", s); return "\047" s "\047" }
    function field(name,   r) {
      if (!match($0, name "= *[^ ]+")) return ""
      r = substr($0, RSTART + length(name) + 1, RLENGTH - length(name) - 1); sub(/^ +/, "", r); return r
    }
    BEGIN { want = "Vendor=" substr(ids, 1, 4) " ProdID=" substr(ids, 6, 4) }
    /^T:/ { bus = field("Bus"); port = field("Port"); dev = field("Dev#"); spd = field("Spd"); mine = 0; next }
    /^P:/ { mine = index($0, want) > 0; if (mine) rev = field("Rev"); next }
    !mine { next }
    /^S:  Manufacturer=/ { man = substr($0, 18) }
    /^S:  Product=/ { prod = substr($0, 13) }
    /^S:  SerialNumber=/ { ser = substr($0, 18) }
    /^C:\*/ { cfg = field("Cfg#"); nifs = field("#Ifs") }
    /^I:\*/ && found == "" && $0 ~ ("Driver=" drv "$") {
      found = 1; ifn = field("If#"); alt = field("Alt"); eps = field("#EPs")
      cls = substr(field("Cls"), 1, 2); sub_ = field("Sub"); prot = field("Prot")
    }
    END {
      split(rev, r, ".")
      printf "u_bus=%d u_port=%d u_dev=%d u_spd=%s u_cfg=%d u_nifs=%d u_rev=%02d%s\n", bus, port + 1, dev, q(spd), cfg, nifs, r[1], r[2]
      printf "u_man=%s u_prod=%s u_ser=%s\n", q(man), q(prod), q(ser)
      printf "u_if=%d u_alt=%d u_eps=%d u_cls=%s u_sub=%s u_prot=%s\n", ifn, alt, eps, q(cls), q(sub_), q(prot)
    }' "$USB_STATE/stick/modem.devices")"
  usbnet_dev=$USBNET_PLATFORM/rt3xxx-ehci/usb$u_bus/$u_bus-$u_port
  usbnet_intf=$usbnet_dev/$u_bus-$u_port:$u_cfg.$u_if
  rm -rf "$USBNET/sysfs"
  mkdir -p "$usbnet_intf" "$USBNET/sysfs"
  printf '1d6b\n' > "${usbnet_dev%/*}/idVendor"
  printf '0002\n' > "${usbnet_dev%/*}/idProduct"
  printf '%s\n' "$u_bus" > "${usbnet_dev%/*}/busnum"
  printf '%s\n' "${stick_modem_ids%%:*}" > "$usbnet_dev/idVendor"
  printf '%s\n' "${stick_modem_ids#*:}" > "$usbnet_dev/idProduct"
  printf '%s\n' "$u_rev" > "$usbnet_dev/bcdDevice"
  [ -z "$u_man" ] || printf '%s\n' "$u_man" > "$usbnet_dev/manufacturer"
  [ -z "$u_prod" ] || printf '%s\n' "$u_prod" > "$usbnet_dev/product"
  [ -z "$u_ser" ] || printf '%s\n' "$u_ser" > "$usbnet_dev/serial"
  printf '%s\n' "$u_bus" > "$usbnet_dev/busnum"
  printf '%s\n' "$u_dev" > "$usbnet_dev/devnum"
  printf '%s\n' "$u_spd" > "$usbnet_dev/speed"
  printf '%s\n' "$u_cfg" > "$usbnet_dev/bConfigurationValue"
  printf '%2d\n' "$u_nifs" > "$usbnet_dev/bNumInterfaces"
  printf '%02x\n' "$u_if" > "$usbnet_intf/bInterfaceNumber"
  printf '%2d\n' "$u_alt" > "$usbnet_intf/bAlternateSetting"
  printf '%02x\n' "$u_eps" > "$usbnet_intf/bNumEndpoints"
  printf '%s\n' "$u_cls" > "$usbnet_intf/bInterfaceClass"
  printf '%s\n' "$u_sub" > "$usbnet_intf/bInterfaceSubClass"
  printf '%s\n' "$u_prot" > "$usbnet_intf/bInterfaceProtocol"
  ln -s "$usbnet_intf" "$USBNET/sysfs/device"
}
