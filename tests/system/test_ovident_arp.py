"""GetReMoteIPMAC against a real neighbour: two namespaces joined by a veth
pair; inside one of them arp_probe loads libovident.so by path and asks for
the peer (a real ARP answer with the peer's MAC), for an address nobody
holds, for an address behind a router, for an address without a route and
for its own address. Only the peer and the address nobody holds may be
probed: an address behind the router answers 0 at once, and nothing is sent
to it (the router holds that address and would see the datagram)."""

import json
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import ovtest  # noqa: E402

PROBE_ADDR = "192.0.2.1"
PEER_ADDR = "192.0.2.2"
NOBODY = "192.0.2.99"
OFF_SEGMENT = "198.51.100.1"  # routed through the peer
NO_ROUTE = "198.51.100.200"
# The library waits about a second for an answer; allow for a slow machine.
BOUND_MS = 2500
# What needs no answer from the network is decided at once.
AT_ONCE_MS = 300

# Reports every datagram that reaches the discard port of an address.
LISTENER = r"""
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind((sys.argv[1], 9))
print("ready", flush=True)
while True:
    data, source = s.recvfrom(2048)
    print("datagram from %s" % source[0], flush=True)
"""


def mac_of(ns, dev):
    out = ns.run(["ip", "-j", "link", "show", "dev", dev], text=True, check=True).stdout
    return json.loads(out)[0]["address"].lower()


def main():
    bin_dir = ovtest.need_bin_dir()
    build_dir = os.environ.get("OV_BUILD_DIR", "")
    probe = os.path.join(build_dir, "tests", "arp_probe")
    library = os.path.join(bin_dir, "libovident.so")
    if not (os.path.isfile(probe) and os.path.isfile(library)):
        ovtest.skip("arp_probe or libovident.so not built")
    ovtest.need_namespaces()

    failures = []
    with ovtest.namespaces("arp-a", "arp-b") as (a, b):
        ea, eb = ovtest.link(a, PROBE_ADDR, b, PEER_ADDR)
        peer_mac, own_mac = mac_of(b, eb), mac_of(a, ea)
        a.run(["ip", "route", "add", "198.51.100.0/25", "via", PEER_ADDR], check=True)
        # The router itself holds the address behind it, so whatever is sent
        # there arrives at its listener.
        b.run(["ip", "addr", "add", OFF_SEGMENT + "/32", "dev", "lo"], check=True)
        listener = b.popen([sys.executable, "-c", LISTENER, OFF_SEGMENT],
                           stdout=subprocess.PIPE, text=True)
        if listener.stdout.readline().strip() != "ready":
            print("the listener did not start")
            return 1
        r = a.run([probe, library, PEER_ADDR, NOBODY, OFF_SEGMENT, NO_ROUTE, PROBE_ADDR],
                  text=True, timeout=30)
        time.sleep(0.3)
        listener.terminate()
        heard = listener.communicate(timeout=10)[0]
        if r.returncode != 0:
            print(r.stdout, r.stderr)
            return 1
        answers = {}
        for line in r.stdout.splitlines():
            addr, result, mac, ms = line.split()
            answers[addr] = (int(result), mac, int(ms))
        print(r.stdout, end="")

        def expect(addr, result, mac=None, bound_ms=BOUND_MS):
            got = answers.get(addr)
            if got is None:
                failures.append("%s: no answer line" % addr)
                return
            if got[0] != result:
                failures.append("%s: result %d, expected %d" % (addr, got[0], result))
            if mac is not None and got[1] != mac:
                failures.append("%s: MAC %s, expected %s" % (addr, got[1], mac))
            if got[2] > bound_ms:
                failures.append("%s: took %d ms" % (addr, got[2]))

        expect(PEER_ADDR, 1, peer_mac)
        expect(NOBODY, 0)
        expect(OFF_SEGMENT, 0, bound_ms=AT_ONCE_MS)
        expect(NO_ROUTE, 0, bound_ms=AT_ONCE_MS)
        expect(PROBE_ADDR, 1, own_mac, bound_ms=AT_ONCE_MS)
        if heard:
            failures.append("a datagram went through the router: %r" % heard)

        # The peer's answer went through the kernel's table, as ARP does.
        neigh = a.run(["ip", "neigh", "show", PEER_ADDR], text=True).stdout.lower()
        if peer_mac not in neigh:
            failures.append("no neighbour entry for the peer: %r" % neigh)

    for f in failures:
        print("FAIL: " + f)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
