"""Under Wine: OV_G.exe authenticates on its command port and relays on its
proxy port, only for an address that logged in (ProxyNeedsLogin=1, as
ovadmin init writes it), and records every login and relay in its access
record. Its own computer is the relay target (no ARP is needed for it, and
SendARP is a stub under Wine): an echo server on the gateway's address
stands in for the computer's agent."""

import os
import socket
import struct
import subprocess
import sys
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
# Notes every connection it takes in the file argv[1], one line each.
ECHO = r'''
import socket, sys, threading
def echo(c):
    while True:
        d = c.recv(65536)
        if not d: break
        c.sendall(d)
    c.close()
l = socket.socket(); l.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
l.bind(("192.0.2.1", 5900)); l.listen(16)
while True:
    c, _ = l.accept()
    with open(sys.argv[1], "a") as f:
        f.write("accepted\n")
    threading.Thread(target=echo, args=(c,), daemon=True).start()
'''
# Relays to argv[1] without a login; prints its port and how many bytes came
# back before the gateway closed the connection.
NO_LOGIN = r'''
import socket, sys
s = socket.create_connection(("192.0.2.1", 6121), timeout=20)
port = s.getsockname()[1]
got = 0
try:
    s.sendall(sys.argv[1].encode().ljust(50, b"\0") + b"n" * 100)
    while True:
        d = s.recv(65536)
        if not d: break
        got += len(d)
except OSError:
    pass
print(port, got)
'''
# Holds one relay to argv[1] with 1234 bytes echoed; prints "ready PORT" and
# waits for a line on stdin.
HOLD = r'''
import socket, sys
s = socket.create_connection(("192.0.2.1", 6121), timeout=20)
s.sendall(sys.argv[1].encode().ljust(50, b"\0") + b"h" * 1234)
got = 0
while got < 1234:
    d = s.recv(65536)
    if not d: raise SystemExit("ended early")
    got += len(d)
print("ready", s.getsockname()[1], flush=True)
sys.stdin.readline()
'''


def main():
    ovtest.need_namespaces()
    check = ovtest.Checks()

    with ovtest.program_dir() as d, ovtest.namespaces("wgw", "wlan") as (gw, lan):
        ovtest.link(gw, "192.0.2.1", lan, "192.0.2.2")
        with ovtest.wine_session(gw) as env:
            def wine(*args):
                return ovtest.wine_run(gw, env, *args)

            adm = os.path.join(d, "ovadmin.exe")
            wine(adm, "init", "--admin-password", "pw")
            wine(adm, "ini", "set", "S_CFG", "flg_encrypt", "0")
            accepts = os.path.join(d, "accepts")
            echo = gw.popen([sys.executable, "-c", ECHO, accepts])
            echoed = lambda: len(ovtest.read_gbk(accepts).splitlines())
            gateway = gw.popen([WINE, os.path.join(d, "OV_G.exe"), "-run"], env=env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            try:
                host = gw.run(["hostname"], capture_output=True).stdout.decode().strip()[:39]
                ann = (host.encode().ljust(40, b"\0") + struct.pack("<I", 5900)
                       + socket.inet_aton("192.0.2.1") + b"\0" * 16).hex()
                listed = ""
                end = time.time() + 60
                while time.time() < end:
                    lan.run([sys.executable, "-c", SENDER, ann])
                    rc, listed, _ = wine(adm, "list")
                    if rc == 0 and host in listed:
                        break
                    time.sleep(1)
                check(host in listed, "the gateway's own computer is listed (%r)" % listed)

                # An address that never logged in reaches nothing.
                rc, out, _ = wine(adm, "server", "show")
                check("proxy-needs-login\t1" in out, "ovadmin init made relays need a login "
                      "(%r)" % out)
                r = lan.run([sys.executable, "-c", NO_LOGIN, host], capture_output=True)
                refused = r.stdout.decode().split()
                time.sleep(0.5)
                check(len(refused) == 2 and refused[1] == "0" and echoed() == 0,
                      "no login: the relay is closed and the computer sees no connection "
                      "(%r, %d connection(s))" % (refused, echoed()))
                check("192.0.2.2 没有登录, 拒绝代理连接!" in ovtest.read_gbk(
                    os.path.join(d, "OV_G.log")), "the refusal is logged")

                def login(*a):
                    return lan.run([sys.executable, "-c", ovtest.LOGIN_CLIENT, "192.0.2.1", "6111"]
                                   + list(a)).stdout.decode()
                # The client keeps its command connection open while it relays.
                out = login("Administrator", "pw", host)
                check("code=1 sign=22 names=%s" % host in out, "a login gets the list (%r)" % out)
                check("relayed=True" in out and echoed() == 1,
                      "after the login the relay reaches the computer (%r)" % out)
                check("code=187" in login("Administrator", "nope"), "a wrong password gets 187")
                # The ini of "ovadmin init" lets the built-in Guest in.
                check("code=1 " in login("Guest", "Quell"), "the built-in Guest is let in")
                check("code=187" in login("Guest", "quell"), "the Guest's password is exact")
                check("code=170" in login("guest", "Quell"), "user names are exact")

                # What ovadmin.exe reads of the running gateway.
                hold = lan.popen([sys.executable, "-c", HOLD, host], stdin=subprocess.PIPE,
                                 stdout=subprocess.PIPE)
                ready = hold.stdout.readline().decode().split()
                port = ready[1] if len(ready) == 2 else "?"
                row = "192.0.2.2:%s\t%s\t192.0.2.1:5900\t" % (port, host)
                # Published at the relay's start, its bytes within a second.
                end, out = time.time() + 10, ""
                while time.time() < end and not (row in out and
                                                 out.rstrip().endswith("\t1234\t1234")):
                    rc, out, _ = wine(adm, "sessions")
                    time.sleep(0.5)
                check(row in out and out.rstrip().endswith("\t1234\t1234"),
                      "ovadmin.exe sessions shows the live relay (%r)" % out)
                rc, out, _ = wine(adm, "stats")
                check(rc == 0 and "logins_ok\t2\n" in out and "logins_bad_password\t2\n" in out
                      and "relays_started\t2\n" in out and "live_relays\t1\n" in out
                      and "relays_refused_no_login\t1\n" in out,
                      "ovadmin.exe stats counts what happened (%r)" % out)
                hold.stdin.write(b"done\n")
                hold.stdin.flush()
                hold.wait(timeout=20)

                # The access record: every login as sent, with its code, and
                # every relay with its bytes and how it ended (recorded at its
                # end, by a writer of its own).
                def record():
                    rc, out, _ = wine(adm, "access")
                    rows = [l.split("\t") for l in out.splitlines()]
                    logins = sorted((r[2], r[4], r[5]) for r in rows if r[0] == "login")
                    relays = sorted((r[3], r[4], r[5], r[8], r[9], r[10])
                                    for r in rows if r[0] == "relay" and len(r) == 11)
                    return rc, logins, relays, out
                want_logins = sorted(("192.0.2.2", u, c) for u, c in (
                    ("Administrator", "1"), ("Administrator", "187"), ("Guest", "1"),
                    ("Guest", "187"), ("guest", "170")))
                # The login client's relay has a port of its own choosing.
                no_login_port = refused[0] if refused else "?"
                want_relays = sorted([
                    ("192.0.2.2", no_login_port, "", "0", "0", "refused"),
                    ("192.0.2.2", "*", host, "100", "100", "closed"),
                    ("192.0.2.2", port, host, "1234", "1234", "closed")])
                end = time.time() + 10
                while True:
                    rc, logins, relays, out = record()
                    if len(relays) >= 3 or time.time() > end:
                        break
                    time.sleep(0.5)
                check(rc == 0 and logins == want_logins,
                      "ovadmin.exe access prints every login (%r)" % out)
                masked = sorted(r if r[1] in (no_login_port, port) else r[:1] + ("*",) + r[2:]
                                for r in relays)
                check(masked == want_relays,
                      "ovadmin.exe access prints every relay, the refused one too (%r)" % out)

                wine(os.path.join(d, "OV_G.exe"), "-end")
                check(ovtest.wait_exit(gateway, 30) == 0, "-end ends the gateway")
                rc, out, _ = wine(adm, "sessions")
                check(rc == 1 and out.strip() == "not running",
                      "after the end: not running (%r, %r)" % (rc, out))
            finally:
                for p in (gateway, echo):
                    if p.poll() is None:
                        p.kill()
                        p.wait()

    return check.exit_code()


if __name__ == "__main__":
    sys.exit(main())
