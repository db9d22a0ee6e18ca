"""Live sessions and counters on a test LAN: after known logins and relays,
`ovadmin stats` and `ovadmin sessions` show exactly those numbers and rows;
a reader running while relays come and go never sees a record that does not
add up; and once the gateway has ended, both say it is not running."""

import json
import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(__file__))
import ovtest  # noqa: E402

ENV = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8", OVG_LOG_THRESHOLD="-1")
GW, LAN = "192.0.2.1", "192.0.2.2"

# The users, in the gateway's namespace. Prints "ready PORT_A PORT_B" with
# two relays live, then waits for a line on stdin before closing them.
USERS = r'''
import socket, sys, time
def relay(name, size):
    s = socket.create_connection(("127.0.0.1", 6121), timeout=20)
    s.sendall(name.ljust(50, b"\0") + bytes(i % 251 for i in range(size)))
    back = b""
    while len(back) < size:
        d = s.recv(65536)
        if not d: raise SystemExit("relay to %r ended early" % name)
        back += d
    return s
def closed(name):
    s = socket.create_connection(("127.0.0.1", 6121), timeout=20)
    s.sendall(name.ljust(50, b"\0"))
    try:
        if s.recv(10) != b"": raise SystemExit("relay to %r answered" % name)
    except ConnectionResetError:
        pass  # closed before it read what we sent
    s.close()
a, b = relay(b"pc", 1000), relay(b"pc", 2345)
ended = relay(b"pc", 500); ended.close()
time.sleep(0.5)  # the gateway frees its pair
closed(b"nobody")
closed(b"dead")
# Every pair busy (two relays and 38 users that have not sent their header):
# the next user is refused at once.
waiting = [socket.create_connection(("127.0.0.1", 6121)) for _ in range(38)]
closed(b"pc")
for w in waiting: w.close()
print("ready", a.getsockname()[1], b.getsockname()[1], flush=True)
sys.stdin.readline()
'''

# Relays that come and go: argv rounds. Each round opens up to ten relays
# with different amounts and closes them in another order.
CHURN = r'''
import random, socket, sys
random.seed(7)
for r in range(int(sys.argv[1])):
    open_ = []
    for i in range(random.randint(1, 10)):
        s = socket.create_connection(("127.0.0.1", 6121), timeout=20)
        n = random.randint(1, 20000)
        s.sendall(b"pc".ljust(50, b"\0") + b"z" * n)
        got = 0
        while got < n:
            d = s.recv(65536)
            if not d: raise SystemExit("churn relay ended early")
            got += len(d)
        open_.append(s)
    random.shuffle(open_)
    for s in open_: s.close()
print("churned")
'''

STARTED = 3
EXPECT = {
    "logins_ok": 1, "logins_bad_password": 1, "logins_no_such_user": 1,
    "logins_locked": 0, "logins_id_rejected": 0,
    "relays_started": STARTED, "relays_unknown_computer": 1, "relays_connect_failed": 1,
    "relays_refused_full": 1, "relays_header_timeout": 0,
    "bytes_to_computer": 1000 + 2345 + 500, "bytes_to_user": 1000 + 2345 + 500,
    "live_relays": 2,
}


def main():
    ovtest.need_namespaces()
    check = ovtest.Checks()

    with ovtest.program_dir() as d, ovtest.namespaces("gw", "lan") as (gw, lan):
        ovtest.link(gw, GW, lan, LAN)
        ENV["OVG_IPC_DIR"] = os.path.join(d, "ipc")
        os.makedirs(ENV["OVG_IPC_DIR"])
        adm_path = os.path.join(d, "ovadmin")
        adm = lambda *a: subprocess.run([adm_path] + list(a), capture_output=True, env=ENV)
        adm("init", "--admin-password", "pw")
        adm("ini", "set", "S_CFG", "flg_encrypt", "0")
        # Every user here comes from one address, and fills every pair.
        adm("ini", "set", "S_CFG", "MaxSlotsPerAddress", "0")

        r = adm("stats")
        check(r.returncode == 1 and r.stdout.decode().strip() == "not running",
              "before the gateway runs: not running, exit 1 (%r)" % (r,))

        # "pc" echoes on 5900; "dead" is announced on 5901, where nothing listens.
        agent = lan.popen([sys.executable, "-c", ovtest.ANNOUNCING_ECHO, LAN, "5900",
                           "192.0.2.255", "pc:5900", "dead:5901"])
        gateway = gw.popen([os.path.join(d, "OV_G"), "-run"], env=ENV,
                           stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        users = None
        try:
            end, listed = time.time() + 30, ""
            while time.time() < end and not ("pc\t" in listed and "dead\t" in listed):
                listed = adm("list").stdout.decode()
                time.sleep(0.2)
            check("pc\t" in listed and "dead\t" in listed, "both computers listed: %r" % listed)
            login = lambda *a: gw.run([sys.executable, "-c", ovtest.LOGIN_CLIENT, "127.0.0.1",
                                       "6111"] + list(a)).stdout.decode()
            check("code=1" in login("Administrator", "pw"), "a good login")
            check("code=187" in login("Administrator", "wrong"), "a wrong password")
            check("code=170" in login("nobody", "pw"), "an unknown user")

            users = gw.popen([sys.executable, "-c", USERS], stdin=subprocess.PIPE,
                             stdout=subprocess.PIPE)
            ready = users.stdout.readline().decode().split()
            check(len(ready) == 3 and ready[0] == "ready", "the users' relays are set up (%r)"
                  % ready)
            ports = sorted(int(p) for p in ready[1:]) or [0, 0]

            # Published within a second or so; then exactly what happened.
            stats, end = {}, time.time() + 5
            while time.time() < end:
                stats = json.loads(adm("stats", "--json").stdout.decode())
                if all(stats.get(k) == v for k, v in EXPECT.items()):
                    break
                time.sleep(0.2)
            wrong = {k: (stats.get(k), v) for k, v in EXPECT.items() if stats.get(k) != v}
            check(not wrong, "stats --json: (got, expected) %r" % wrong)
            check([n for n in os.listdir(ENV["OVG_IPC_DIR"]) if "ovs_stats" in n],
                  "the area is there while the gateway runs")
            text = adm("stats").stdout.decode()
            check("relays_started\t%d\n" % STARTED in text and "live_relays\t2\n" in text,
                  "stats as text: %r" % text)
            prom = adm("stats", "--prometheus").stdout.decode()
            check('ovg_relays_total{outcome="started"} %d\n' % STARTED in prom
                  and 'ovg_logins_total{code="187"} 1\n' in prom
                  and "# TYPE ovg_live_relays gauge\n" in prom, "prometheus text: %r" % prom)

            r = adm("sessions")
            lines = r.stdout.decode().splitlines()
            check(r.returncode == 0 and lines[:1] == ["user\tcomputer\taddress\tsince\t"
                                                      "to_computer\tto_user"],
                  "sessions has its header line: %r" % lines[:1])
            rows = sorted(l.split("\t") for l in lines[1:])
            want = sorted([["127.0.0.1:%d" % ports[0], "pc", LAN + ":5900"],
                           ["127.0.0.1:%d" % ports[1], "pc", LAN + ":5900"]])
            check([x[:3] for x in rows] == want, "two rows, user to computer: %r" % rows)
            check(sorted((x[4], x[5]) for x in rows) == [("1000", "1000"), ("2345", "2345")],
                  "their byte counts each way: %r" % rows)
            js = json.loads(adm("sessions", "--json").stdout.decode())
            check(sorted(s["user_port"] for s in js) == ports
                  and all(s["computer_address"] == LAN and abs(s["started"] - time.time()) < 60
                          for s in js), "sessions --json: %r" % js)

            users.stdin.write(b"close\n")
            users.stdin.flush()
            users.wait(timeout=20)

            # A reader while relays come and go: every record adds up.
            churn = gw.popen([sys.executable, "-c", CHURN, "150"], stdout=subprocess.PIPE)
            reads, faults, last = 0, [], None
            while churn.poll() is None and reads < 2000:
                s = json.loads(adm("stats", "--json").stdout.decode())
                rows = json.loads(adm("sessions", "--json").stdout.decode())
                reads += 1
                if s["live_relays"] > 40 or len(rows) > 40:
                    faults.append(("too many", s, rows))
                if any(x["computer"] != "pc" or x["computer_port"] != 5900 or
                       x["computer_address"] != LAN or x["bytes_to_computer"] > 20000 or
                       x["bytes_to_user"] > x["bytes_to_computer"] for x in rows):
                    faults.append(("row", rows))
                if last and any(s[k] < last[k] for k in ("relays_started", "bytes_to_computer",
                                                         "bytes_to_user")):
                    faults.append(("went back", last, s))
                last = s
            check(churn.wait(timeout=120) == 0, "the churning users finished")
            # A sanitizer build reads slowly: a handful of reads still samples
            # many different records.
            check(reads >= 5 and not faults, "%d reads, faults: %r" % (reads, faults[:3]))
            end = time.time() + 5
            while time.time() < end and json.loads(adm("stats", "--json").stdout)["live_relays"]:
                time.sleep(0.2)
            s = json.loads(adm("stats", "--json").stdout.decode())
            check(s["live_relays"] == 0 and s["bytes_to_computer"] == s["bytes_to_user"],
                  "after the churn nothing is live and every byte came back: %r" % s)

            gw.run([os.path.join(d, "OV_G"), "-end"], env=ENV, timeout=30)
            code = gateway.wait(timeout=15)
            check(code == 0, "the gateway ends with 0 (%r)" % code)
            err = gateway.stderr.read().decode("utf-8", "replace")
            check("ERROR: AddressSanitizer" not in err and "runtime error" not in err,
                  "no memory fault: " + err[-2000:])
            for cmd in ("sessions", "stats"):
                r = adm(cmd)
                check(r.returncode == 1 and r.stdout.decode().strip() == "not running",
                      "%s after the end: not running, exit 1 (%r)" % (cmd, r))
            left = [n for n in os.listdir(ENV["OVG_IPC_DIR"]) if "ovs_stats" in n]
            check(not left, "the area is gone after the end: %r" % left)
        finally:
            for p in (users, gateway, agent):
                if p is not None and p.poll() is None:
                    p.kill()
                    p.wait()

    return check.exit_code()


if __name__ == "__main__":
    sys.exit(main())
