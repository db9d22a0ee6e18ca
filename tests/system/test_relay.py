"""The proxy relay on a test LAN: the gateway in one namespace, a computer's
agent (an echo server that announces itself) in another. Users on the
gateway's machine name the computer in their first 50 bytes; bytes must go
both ways intact through 40 pairs at once and, with MaxRelays=400, through
400, the 401st user being refused; the gateway must stop promptly with
every pair busy."""

import os
import socket
import struct
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(__file__))
import ovtest  # noqa: E402

ENV = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8", OVG_LOG_THRESHOLD="-1")
GW, LAN = "192.0.2.1", "192.0.2.2"

# argv: pairs, bytes each way, seconds to keep going (0: send the bytes once).
CLIENT = r'''
import hashlib, socket, sys, threading, time
pairs, size, keep = int(sys.argv[1]), int(sys.argv[2]), float(sys.argv[3])
ok = []
def one(i):
    s = socket.create_connection(("127.0.0.1", 6121))
    s.sendall(b"pc".ljust(50, b"\0"))
    block = bytes((i * 7 + k) % 251 for k in range(65536))
    sent, got, hin, hout = 0, 0, hashlib.sha256(), hashlib.sha256()
    end = time.time() + keep
    def writer():
        nonlocal sent
        while sent < size or (keep and time.time() < end):
            s.sendall(block); hout.update(block); sent += len(block)
        s.shutdown(socket.SHUT_WR)
    t = threading.Thread(target=writer); t.start()
    try:
        while True:
            d = s.recv(262144)
            if not d: break
            hin.update(d); got += len(d)
    except OSError:
        pass
    t.join(timeout=30)
    ok.append(got == sent and hin.digest() == hout.digest())
ts = [threading.Thread(target=one, args=(i,)) for i in range(pairs)]
[t.start() for t in ts]; [t.join() for t in ts]
print("%d/%d" % (sum(ok), pairs))
'''

# argv: pairs. Holds that many relayed connections open (each answers a
# byte), then tries one more and prints whether the gateway relayed it.
ONE_TOO_MANY = r'''
import socket, sys
pairs = int(sys.argv[1])
def open_one():
    s = socket.create_connection(("127.0.0.1", 6121), timeout=20)
    s.sendall(b"pc".ljust(50, b"\0") + b"z")
    try:
        return s, s.recv(1) == b"z"
    except OSError:
        return s, False
held = [open_one() for _ in range(pairs)]
extra, relayed = open_one()
print("held=%d extra=%s" % (sum(ok for _, ok in held), relayed))
'''


def main():
    ovtest.need_namespaces()
    check = ovtest.Checks()

    with ovtest.program_dir() as d, ovtest.namespaces("gw", "lan") as (gw, lan):
        ovtest.link(gw, GW, lan, LAN)
        # Names of our own, so that no other gateway on this machine (another
        # test, a developer's) is stopped by our "-end" or listed as ours.
        ENV["OVG_IPC_DIR"] = os.path.join(d, "ipc")
        os.makedirs(ENV["OVG_IPC_DIR"])
        adm = os.path.join(d, "ovadmin")
        subprocess.run([adm, "init", "--admin-password", "pw"], capture_output=True, env=ENV)
        # No trusted IDs here: the client's ID is not checked.
        subprocess.run([adm, "ini", "set", "S_CFG", "flg_encrypt", "0"], capture_output=True, env=ENV)
        subprocess.run([adm, "server", "set", "--max-relays", "400"], capture_output=True, env=ENV)
        agent = lan.popen([sys.executable, "-c", ovtest.ANNOUNCING_ECHO, LAN, "5900",
                           "192.0.2.255", "pc:5900", "x:1:-"])
        gateway = gw.popen([os.path.join(d, "OV_G"), "-run"], env=ENV,
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        try:
            end, listed = time.time() + 30, False
            while time.time() < end and not listed:
                out = subprocess.run([adm, "list"], capture_output=True, env=ENV).stdout.decode()
                listed = "pc\t%s\t5900" % LAN in out
                time.sleep(0.2)
            check(listed, "the announced computer is listed")
            login = lambda *a: gw.run([sys.executable, "-c", ovtest.LOGIN_CLIENT, "127.0.0.1", "6111"]
                                      + list(a)).stdout.decode()
            out = login("Administrator", "pw", "pc")
            check("code=1 sign=22 names=pc,x" in out or "code=1 sign=22 names=pc" in out,
                  "a login gets the list (%r)" % out)
            check("relayed=True" in out, "a relayed connection reaches the computer (%r)" % out)
            check("code=187" in login("Administrator", "wrong"), "a wrong password gets 187")
            check("code=170" in login("nobody", "pw"), "an unknown user gets 170")
            started = time.time()
            r = gw.run([sys.executable, "-c", CLIENT, "40", str(10 << 20), "0"], timeout=240)
            took = time.time() - started
            check(r.stdout.decode().strip() == "40/40",
                  "10 MB each way through 40 pairs arrive intact (%r, %.1f s)" % (r.stdout, took))

            # Past the seed's forty: 400 checked streams at once, and the
            # 401st user refused while they are held.
            r = gw.run([sys.executable, "-c", CLIENT, "400", str(1 << 20), "0"], timeout=240)
            check(r.stdout.decode().strip() == "400/400",
                  "with MaxRelays=400, 1 MB each way through 400 pairs arrives intact (%r)"
                  % r.stdout)
            r = gw.run([sys.executable, "-c", ONE_TOO_MANY, "400"], timeout=240)
            check(r.stdout.decode().strip() == "held=400 extra=False",
                  "400 pairs held, the 401st user is refused (%r)" % r.stdout)
            log = ovtest.read_gbk(os.path.join(d, "OV_G.log"))
            check("连接个数超出限额(400)" in log, "the refusal names the cap in force")

            # The gateway's stop with every pair busy: the streams run on
            # while -end is given.
            busy = gw.popen([sys.executable, "-c", CLIENT, "40", "0", "30"], stdout=subprocess.PIPE)
            time.sleep(3)
            started = time.time()
            gw.run([os.path.join(d, "OV_G"), "-end"], env=ENV, timeout=30)
            try:
                code = gateway.wait(timeout=15)
            except subprocess.TimeoutExpired:
                code = None
            check(code == 0, "the gateway ends with 0 with 40 busy pairs (%r after %.1f s)"
                  % (code, time.time() - started))
            err = gateway.stderr.read().decode("utf-8", "replace") if code is not None else ""
            check("ERROR: AddressSanitizer" not in err and "runtime error" not in err,
                  "no memory fault at the end: " + err[-2000:])
            busy.wait(timeout=60)
            log = ovtest.read_gbk(os.path.join(d, "OV_G.log"))
            check("Proxy线程超时" not in log, "the proxy thread ended in time")
        finally:
            for p in (gateway, agent):
                if p.poll() is None:
                    p.kill()
                    p.wait()

    return check.exit_code()


if __name__ == "__main__":
    sys.exit(main())
