"""The soak's options: how long, which faults and how often, and the
allowances for the bench's stand-ins (real milliseconds, which the sped-up
clock turns into bench time)."""
import argparse
import os


def parse_args(description, kinds):
    p = argparse.ArgumentParser(description=description)
    p.add_argument("--hours", type=float, default=24.0)
    p.add_argument("--seed", type=int, default=1)
    p.add_argument("--binary", default="build/host/src/app/link3g")
    p.add_argument("--gap-min", type=float, default=20.0, help="minutes between faults, at least")
    p.add_argument("--gap-max", type=float, default=60.0, help="minutes between faults, at most")
    p.add_argument("--kinds", default=",".join(kinds), help="fault kinds to draw from, comma-separated")
    p.add_argument("--sample", type=float, default=120.0, help="seconds between samples")
    # Stand-in costs, real ms (worst seen at speeds 50..120 on 2 cores, about
    # 1.5 times over): pass 8, pppd .ex until ppp0 up 50, pppd with chat 70
    # beyond comgt's waits, bring-up 200 beyond its waits.
    p.add_argument("--pass-ms", type=float, default=12.0, help="allowance: commands of one pass, real ms")
    p.add_argument("--up-ex-ms", type=float, default=75.0, help="allowance: pppd .ex until ppp0 is up, real ms")
    p.add_argument("--up-chat-ms", type=float, default=100.0,
                   help="allowance: pppd with chat until ppp0 is up, real ms beyond comgt's waits")
    p.add_argument("--bringup-ms", type=float, default=300.0, help="allowance: commands of one bring-up, real ms")
    # serialcom: up to 51 ms of dash and forks for the record; pppd notices
    # a hung modem within its 0.2 s look and a flush (4 ms); the killall
    # and the simulated reset before the daemon waits for the nodes, 55 ms.
    p.add_argument("--serialcom-ms", type=float, default=100.0,
                   help="allowance: serialcom beyond its 3 s until the record is there, real ms")
    p.add_argument("--hang-notice-ms", type=float, default=25.0,
                   help="allowance: a hang until pppd has flushed ppp0, real ms")
    p.add_argument("--reset-ms", type=float, default=100.0,
                   help="allowance: a recovery's killall and reset before its wait for the nodes, real ms")
    p.add_argument("--record-at-start", action="store_true",
                   help="the first bring-up finds the record (default: serialcom has none at first)")
    p.add_argument("--rss-slack-kb", type=int, default=8, help="RSS drift allowed, kB (two pages)")
    # A network stick's soak (netsoak.py) only: its lease, and what the DHCP
    # exchange costs (busybox udhcpc and the stick's dnsmasq, the script's
    # ifconfig and routes, every one journalled) and the stick's dnsmasq
    # restarted by `usbsim set`.
    p.add_argument("--lease", type=int, default=120, help="network stick: the lease's seconds (dnsmasq's floor 120)")
    p.add_argument("--dhcp-ms", type=float, default=200.0,
                   help="network stick: allowance, udhcpc started until the interface has its address, "
                        "beyond the stick's own waits, real ms")
    p.add_argument("--serve-ms", type=float, default=100.0,
                   help="network stick: allowance, `usbsim set dhcp=serve` returned until the stick's "
                        "dnsmasq answers, real ms")
    args = p.parse_args()
    args.binary = os.path.abspath(args.binary)
    return args
