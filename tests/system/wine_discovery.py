"""Under Wine: the gateway publishes its own computer's announcement (no ARP
needed for it; SendARP is a stub under Wine) and a second Windows process,
ovadmin.exe, reads the list through the named mapping."""

import os
import socket
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(__file__))
import ovtest  # noqa: E402

WINE = ovtest.WINE
SENDER = r'''
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
s.sendto(bytes.fromhex(sys.argv[1]), ("192.0.2.255", 768))
'''


def main():
    ovtest.need_namespaces()
    check = ovtest.Checks()

    with ovtest.program_dir() as d, ovtest.namespaces("wgw", "wlan") as (gw, lan):
        ovtest.link(gw, "192.0.2.1", lan, "192.0.2.2")
        with ovtest.wine_session(gw) as env:
            def wine(*args):
                return ovtest.wine_run(gw, env, *args)

            rc, _, err = wine(os.path.join(d, "ovadmin.exe"), "init", "--admin-password", "pw")
            check(rc == 0, "ovadmin.exe runs in the session (rc %d, %r)" % (rc, err[-300:]))
            errors = tempfile.TemporaryFile()
            gateway = gw.popen([WINE, os.path.join(d, "OV_G.exe"), "-run"], env=env,
                               stdout=errors, stderr=errors)
            host = gw.run(["hostname"], capture_output=True).stdout.decode().strip()[:39]
            ann = (host.encode().ljust(40, b"\0") + struct.pack("<I", 5900)
                   + socket.inet_aton("192.0.2.1") + b"\0" * 16).hex()
            listed = ""
            end = time.time() + 60
            while time.time() < end:
                lan.run([sys.executable, "-c", SENDER, ann])
                rc, listed, err = wine(os.path.join(d, "ovadmin.exe"), "list")
                if rc == 0 and host in listed:
                    break
                time.sleep(1)
            errors.seek(0)
            check("%s\t192.0.2.1\t5900" % host in listed,
                  "the gateway's own computer is listed, read by a second process (%r; "
                  "ovadmin rc %d %r; the gateway %s, said %r)"
                  % (listed, rc, err[-200:], "runs" if gateway.poll() is None
                     else "ended with %r" % gateway.poll(), errors.read()[-300:]))
            rc, out, err = wine(os.path.join(d, "ovadmin.exe"), "status")
            check(rc == 0 and "running" in out, "ovadmin.exe status says running (%d %r %r)"
                  % (rc, out, err[-200:]))
            wine(os.path.join(d, "OV_G.exe"), "-end")
            ovtest.wait_exit(gateway, 30)
            rc, out, err = wine(os.path.join(d, "ovadmin.exe"), "status")
            check(rc == 1 and "stopped" in out, "after -end ovadmin.exe status says stopped (%d %r %r)"
                  % (rc, out, err[-200:]))

    return check.exit_code()


if __name__ == "__main__":
    sys.exit(main())
