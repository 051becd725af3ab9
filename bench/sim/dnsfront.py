#!/usr/bin/python3
"""One of the ISP's name servers, as seen from the router.

Listens on ADDR:53 and, depending on its mode (read from
/bench/state/dns-ADDR before each query), relays the query to the real
dnsmasq behind it, drops it (a blackholed server), answers after a delay,
answers with garbage, or with an empty datagram. Every query received goes
to /bench/journal/dns.log as "<time> ADDR <hex of the datagram>".

  dnsfront.py ADDR UPSTREAM [STATE]
STATE is where it says it listens (dnsfront-ADDR.ready; default /bench/state):
the ISP's servers behind a network stick run in the stick's namespace with
the same addresses. The mode is read from /bench/state either way.
Modes: relay | drop | late:SECONDS | garbage | empty
"""
import os
import socket
import sys
import threading
import time

JOURNAL = "/bench/journal/dns.log"


def mode_of(addr):
    try:
        with open("/bench/state/dns-%s" % addr) as f:
            return f.read().strip() or "relay"
    except FileNotFoundError:
        return "relay"


def relay(query, upstream):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.settimeout(1.0)
        s.sendto(query, (upstream, 53))
        try:
            return s.recvfrom(4096)[0]
        except socket.timeout:
            return None


def answer(sock, query, client, addr, upstream):
    mode = mode_of(addr)
    if mode == "drop":
        return
    if mode.startswith("late:"):
        time.sleep(float(mode[5:]))
    if mode == "garbage":
        reply = os.urandom(40)
    elif mode == "empty":
        reply = b""
    else:
        reply = relay(query, upstream)
    if reply is not None:
        sock.sendto(reply, client)


def main():
    addr, upstream = sys.argv[1], sys.argv[2]
    state = sys.argv[3] if len(sys.argv) > 3 else "/bench/state"
    sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    sock.bind((addr, 53))
    # Listening now: the control command waits for this before it returns.
    open("%s/dnsfront-%s.ready" % (state, addr), "w").close()
    while True:
        query, client = sock.recvfrom(4096)
        with open(JOURNAL, "a") as f:
            f.write("%.3f %s %s\n" % (time.time(), addr, query.hex()))
        threading.Thread(target=answer, args=(sock, query, client, addr, upstream), daemon=True).start()


if __name__ == "__main__":
    main()
