#!/bin/dash
# The bench's network sticks walked by hand, the way the daemon goes with
# one, without the daemon: the switch file, usbnet and cdc_ether, the
# interface found through sysfs, busybox's udhcpc with a script of its own,
# the stick's DNS relay, a renewal, a lost lease and a hostile one, the
# driver's name in the journal, a hang and its reset, rmmod, the RNDIS
# stick, the unplug. Run in the bench with the stick hilink plugged.
set -u
M=/lib/modules/2.6.30.9/kernel/drivers
EVENTS=/tmp/lease.events
failed=0

fail() { echo "FAIL: $*"; failed=$((failed + 1)); }
check() {  # check WHAT CMD...
  what=$1
  shift
  if "$@"; then echo "ok: $what"; else fail "$what"; fi
}
no() { ! "$@"; }
# wait_for SECONDS CMD...: CMD is true within SECONDS of the bench's clock.
wait_for() {
  n=$(($1 * 4))
  shift
  while ! "$@"; do
    [ "$n" -gt 0 ] || return 1
    n=$((n - 1))
    sleep 0.25
  done
}
# The interfaces whose USB device (sysfs: IF/device/..) has these ids.
netif_of() {
  for d in /sys/class/net/*; do
    { read -r v < "$d/device/../idVendor" && read -r p < "$d/device/../idProduct"; } 2>/dev/null || continue
    [ "$v:$p" = "$1" ] && printf '%s\n' "${d##*/}"
  done
}
is_netif() { [ "$(netif_of "$1")" = "$2" ]; }
# The A record a name server gives for a name (nothing when it answers none).
dns_a() {
  /usr/bin/python3 - "$1" "$2" <<'EOF' 2>/dev/null
import sys
import dns.resolver
r = dns.resolver.Resolver(configure=False)
r.nameservers = [sys.argv[2]]
r.lifetime = 3
print(" ".join(a.to_text() for a in r.resolve(sys.argv[1], "A")))
EOF
}
answers() { [ "$(dns_a example.com "$1")" = 93.184.216.34 ]; }
count() { n=$(grep -c "$1" "$EVENTS" 2>/dev/null); echo "${n:-0}"; }
more_than() { [ "$(count "$1")" -gt "$2" ]; }
has_addr() { ip -4 -o addr show dev "$1" | grep -q " inet $2"; }
# The command name of the process running "udhcpc -f -i IF" (none: not running).
udhcpc_comm() {
  for d in /proc/[0-9]*; do
    case $(tr '\0' ' ' < "$d/cmdline" 2>/dev/null) in
      *"udhcpc -f -i $1 "*) cat "$d/comm"; return ;;
    esac
  done
}
udhcpc_gone() { [ -z "$(udhcpc_comm "$1")" ]; }
# The usbfs node of the device with these ids, as the list shows it.
usbfs_node() {
  awk -v p="Vendor=${1%%:*} ProdID=${1#*:}" '
    /^T:/ { match($0, /Bus= *[0-9]+/); b = substr($0, RSTART + 4, RLENGTH - 4)
            match($0, /Dev#= *[0-9]+/); d = substr($0, RSTART + 5, RLENGTH - 5) }
    /^P:/ && index($0, p) { printf "/proc/bus/usb/%03d/%03d\n", b, d; exit }' /proc/bus/usb/devices
}

mkdir -p /etc/ppp
cat > /etc/ppp/udhcpc.script <<'EOF'
#!/bin/sh
printf '%s %s %s %s %s\n' "$1" "${ip:--}" "${router:--}" "${dns:--}" "${lease:--}" >> /tmp/lease.events
[ -z "${sname:-}" ] || printf '%s' "$sname" > /tmp/lease.sname
case $1 in
  deconfig) ifconfig "$interface" 0.0.0.0 up ;;
  bound|renew)
    ifconfig "$interface" "$ip" netmask "$subnet" up
    route add default gw "$router" dev "$interface" 2>/dev/null ;;
esac
EOF
chmod 0700 /etc/ppp/udhcpc.script

# Switched as the daemon's cascade switches it: its switch file.
sh -c "insmod $M/usb/storage/usb-storage.ko"
sh -c "/bin/modemswitch -c /bin/usb_modeswitch.d/12d1_1f01" > /dev/null
check "the switch file switches hilink to 12d1:14dc" grep -q "ProdID=14dc" /proc/bus/usb/devices
check "no interface before its driver" no is_netif 12d1:14dc eth1
check "cdc_ether needs usbnet" no sh -c "insmod $M/net/usb/cdc_ether.ko" 2> /dev/null
sh -c "insmod $M/net/usb/usbnet.ko; insmod $M/net/usb/cdc_ether.ko"
check "the interface whose device is 12d1:14dc is eth1" is_netif 12d1:14dc eth1
check "the modules as /proc/modules lists them" grep -q "^usbnet [0-9]* 1 cdc_ether, " /proc/modules
check "usbnet cannot go under cdc_ether" no sh -c "rmmod usbnet" 2> /dev/null

# A lease by busybox's udhcpc, run by name as the daemon runs it.
usbsim set lease=120 'dhcp_option=option:tftp-server,"a;b$(reboot)\nc"'
sh -c "udhcpc -f -i eth1 -s /etc/ppp/udhcpc.script > /tmp/udhcpc.out 2>&1 &"
check "a lease of 192.168.8.100..200 with router and DNS the stick" \
  wait_for 30 grep -qs "^bound 192\.168\.8\.1[0-9][0-9] 192\.168\.8\.1 192\.168\.8\.1 120$" "$EVENTS"
addr=$(awk '$1 == "bound" { print $2; exit }' "$EVENTS" 2>/dev/null)
check "the address is on eth1" has_addr eth1 "${addr:-none}/24"
check "the default route goes to the stick" sh -c 'ip route show default | grep -q "via 192.168.8.1 dev eth1"'
check "udhcpc, ifconfig and route are journalled" \
  sh -c 'grep -q " udhcpc -f -i eth1 " /bench/journal/standins.log && grep -q " ifconfig eth1 $0 netmask " /bench/journal/standins.log &&
    grep -q " route add default gw 192.168.8.1 dev eth1$" /bench/journal/standins.log' "${addr:-none}"
check "a string option reaches the script raw, newline and all" \
  sh -c '[ "$(cat /tmp/lease.sname; echo .)" = "$(printf "a;b\$(reboot)\nc.")" ]'
check "the stick's relay answers through the ISP's name servers" answers 192.168.8.1
check "the relayed query is in the ISP's journal" grep -q " 127\.0\.1\.[12] " /bench/journal/dns.log
check "renewed within the lease" wait_for 70 more_than "^renew $addr " 0

# Lost and found again.
usbsim set dhcp=off
check "without the stick's DHCP the lease is lost" wait_for 130 more_than "^deconfig" 1
bound=$(count "^bound")
usbsim set dhcp=serve
check "a lease again once it serves" wait_for 60 more_than "^bound" "$bound"
usbsim set dns_relay=refuse
check "the relay switched off answers nothing" no answers 192.168.8.1
usbsim unset dns_relay
ispdns mode 127.0.1.1 drop
ispdns mode 127.0.1.2 drop
check "with the ISP's servers blackholed the relay answers nothing" no answers 192.168.8.1
ispdns mode 127.0.1.1 relay
ispdns mode 127.0.1.2 relay
check "and answers again when they relay" answers 192.168.8.1
check "udhcpc runs under its own command name" [ "$(udhcpc_comm eth1)" = udhcpc ]
sh -c "killall -9 udhcpc"
check "killall -9 udhcpc ends it" wait_for 5 udhcpc_gone eth1

# Hung, then reset: the interface goes, and comes back new.
usbsim hang
check "a hung stick keeps its interface" is_netif 12d1:14dc eth1
check "a hung stick answers no DNS" no answers 192.168.8.1
usbsim _reset "$(usbfs_node 12d1:14dc)"
check "the reset takes eth1 away" sh -c '[ ! -e /sys/class/net/eth1 ] && ! ip link show eth1 2>/dev/null'
check "eth1 is back after re-enumeration" wait_for 10 is_netif 12d1:14dc eth1
check "back without an address" no sh -c 'ip -4 addr show dev eth1 | grep -q inet'
udhcpc -n -q -i eth1 -s /etc/ppp/udhcpc.script > /dev/null 2>&1
check "and no longer hung" answers 192.168.8.1
sh -c "rmmod cdc_ether"
check "rmmod cdc_ether takes eth1 away" sh -c '[ ! -e /sys/class/net/eth1 ] && ! ip link show eth1 2>/dev/null'

# The RNDIS stick: its CDC-Ethernet configuration is not the active one.
usbsim plug rndis
sh -c "/bin/modemswitch -c /bin/usb_modeswitch.d/1bbb_f000" > /dev/null
sh -c "insmod $M/net/usb/cdc_ether.ko"
check "cdc_ether binds nothing on the RNDIS stick" no is_netif 1bbb:0195 eth1
sh -c "insmod $M/net/usb/rndis_host.ko"
check "rndis_host: the interface of 1bbb:0195 is usb0" is_netif 1bbb:0195 usb0
udhcpc -n -q -i usb0 -s /etc/ppp/udhcpc.script > /dev/null 2>&1
check "a lease on usb0" sh -c 'ip -4 addr show dev usb0 | grep -q " inet 192\.168\.8\.1[0-9][0-9]/24 "'
usbsim unplug
check "unplugged: no interface, no network of the stick's" \
  sh -c '[ ! -e /sys/class/net/usb0 ] && [ -z "$(ip netns list)" ] && [ -z "$(ls /sys/devices/platform)" ]'

[ "$failed" = 0 ] || { echo "$failed check(s) failed"; cat /tmp/udhcpc.out; exit 1; }
