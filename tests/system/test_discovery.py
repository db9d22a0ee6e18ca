"""Discovery on a test LAN: two namespaces joined by a veth pair, the gateway
in one, announcing computers in the other. The published list, as ovadmin
reads it, must show the computers with the address that answers ARP."""

import os
import socket
import struct
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(__file__))
import ovtest  # noqa: E402

ENV = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8", OVG_LOG_THRESHOLD="-1")
GW, LAN, NOBODY = "192.0.2.1", "192.0.2.2", "192.0.2.99"

SENDER = r'''
import socket, struct, sys, os, random
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
for hexdata in sys.argv[1:]:
    s.sendto(bytes.fromhex(hexdata), ("192.0.2.255", 768))
'''

FLOOD = r'''
import socket, random
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
r = random.Random(7)
for i in range(10000):
    s.sendto(bytes(r.getrandbits(8) for _ in range(r.choice([1, 63, 64, 65, 200]))), ("192.0.2.255", 768))
'''

PROBE_LISTENER = r'''
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("", 769))
s.settimeout(20)
data, _ = s.recvfrom(100)
sys.stdout.write(data.hex())
'''


def announcement(name, port, addresses):
    packed = b"".join(socket.inet_aton(a) for a in addresses) + b"\0" * 4 * (5 - len(addresses))
    return (name.encode().ljust(40, b"\0")[:40] + struct.pack("<I", port) + packed).hex()


def main():
    ovtest.need_namespaces()
    check = ovtest.Checks()

    with ovtest.program_dir() as d, ovtest.namespaces("gw", "lan") as (gw, lan):
        # Named objects of our own: a gateway elsewhere on this machine (a
        # developer's, another test run's) is not ours to see or to end.
        ENV["OVG_IPC_DIR"] = os.path.join(d, "ipc")
        os.makedirs(ENV["OVG_IPC_DIR"])
        gw_dev, _ = ovtest.link(gw, GW, lan, LAN)
        # 255.255.255.255 leaves by the default route: the LAN link.
        subprocess.run(["ip", "-n", gw.name, "route", "add", "default", "dev", gw_dev], check=True)
        adm = os.path.join(d, "ovadmin")
        subprocess.run([adm, "init", "--admin-password", "pw"], capture_output=True, env=ENV)

        def listed():
            r = subprocess.run([adm, "list"], capture_output=True, env=ENV)
            return r.stdout.decode("utf-8", "replace").splitlines() if r.returncode == 0 else None

        def wait_list(pred, seconds=15):
            end = time.time() + seconds
            while time.time() < end:
                got = listed()
                if got is not None and pred(got):
                    return got
                time.sleep(0.1)
            return listed()

        probe = lan.popen([sys.executable, "-c", PROBE_LISTENER], stdout=subprocess.PIPE)
        time.sleep(0.5)
        gateway = gw.popen([os.path.join(d, "OV_G"), "-run"], env=ENV,
                           stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            out, _ = probe.communicate(timeout=25)
            data = bytes.fromhex(out.decode() or "00")
            check(len(data) == 24 and struct.unpack("<I", data[:4])[0] == 868,
                  "the start-up probe reaches UDP 769 on the LAN with magic 868")
            if len(data) == 24:
                check(data[4:8] == socket.inet_aton(GW) and struct.unpack("<I", data[20:])[0] < 32768,
                      "the probe carries the LAN address (not loopback) and a 15-bit nonce (%s)" % data.hex())

            # From here on only the LAN is routed, so ARP for the random
            # addresses of the flood fails at once instead of timing out.
            subprocess.run(["ip", "-n", gw.name, "route", "del", "default"], check=True)
            send = lambda *hexes: lan.run([sys.executable, "-c", SENDER] + list(hexes))
            send(announcement("pc1", 5900, [NOBODY, LAN]))
            got = wait_list(lambda l: any(x.startswith("pc1\t") for x in l))
            check(got is not None and "pc1\t%s\t5900" % LAN in got,
                  "an announced computer is listed with the address that answers ARP (%r)" % got)

            send("00" * 65, announcement("pc2", 5901, [LAN]))
            got = wait_list(lambda l: any(x.startswith("pc2\t") for x in l))
            check(got is not None and "pc2\t%s\t5901" % LAN in got, "a 65-byte datagram leaves discovery working")

            lan.run([sys.executable, "-c", FLOOD], timeout=120)
            send(announcement("pc3", 5902, [LAN]))
            got = wait_list(lambda l: any(x.startswith("pc3\t") for x in l))
            check(got is not None and "pc3\t%s\t5902" % LAN in got, "10 000 random datagrams leave discovery working")

            send(announcement("pc1", 0, []))
            got = wait_list(lambda l: not any(x.startswith("pc1\t") for x in l))
            check(got is not None and not any(x.startswith("pc1\t") for x in got), "port 0 removes a computer")
            check(gateway.poll() is None, "the gateway still runs")
        finally:
            gateway.terminate()
            try:
                gateway.wait(timeout=10)
            except subprocess.TimeoutExpired:
                gateway.kill()

    return check.exit_code()


if __name__ == "__main__":
    sys.exit(main())
