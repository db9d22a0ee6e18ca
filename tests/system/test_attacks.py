"""Attacks on one gateway from one address while a user on another address
goes on working. The gateway sits in its own namespace with three links: the
attacker's namespace (several addresses), the user's, and the computers'
LAN. One after the other, each bounded in time:

  - a relay from an address that never logged in (relays need a login);
  - one address holding every command slot and every relay that waits for
    its header it can get;
  - users pushing into a computer that never reads, then resetting;
  - relays to a listed computer that drops every SYN;
  - logins while three administration loops rewrite the account file;
  - the gateway out of descriptors for more than ten seconds;
  - a password-guessing flood.

During and after each, the user logs in and relays a checked stream, and
`ovadmin stats --json` counts the attack; the access record holds what
happened. The measured times are printed in one block at the end."""

import json
import os
import queue
import re
import resource
import statistics
import subprocess
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(__file__))
import ovtest  # noqa: E402

ENV = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8", OVG_LOG_THRESHOLD="-1")

# The gateway's address on each link, and the other end's. The attacker's
# link carries several addresses of its own: one per attack, so that what
# one attack leaves behind (slots, failed logins) never mixes into the next.
GW_A, GW_B, GW_LAN = "198.51.100.1", "198.51.100.129", "192.0.2.1"
A = ["198.51.100.%d" % n for n in range(2, 9)]
B, LAN = "198.51.100.130", "192.0.2.2"

# The computers' agents (python3 -c AGENT HOST BROADCAST): "pc" echoes on
# 5900 and says "echo" for each connection it accepts; "sink" on 5901 accepts
# and never reads; "drop" on 5902 has its accept queue full, so the system
# drops every further SYN. Prints "ready" once "drop" drops (or "drop
# answers" when this system does not drop them), then announces all three.
AGENT = r'''
import socket, struct, sys, threading, time
host, broadcast = sys.argv[1], sys.argv[2]
def listener(port, backlog, rcvbuf=0):
    l = socket.socket(); l.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    if rcvbuf: l.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
    l.bind((host, port)); l.listen(backlog)
    return l
drop = listener(5902, 0)
fillers = []
for _ in range(3):
    f = socket.socket(); f.setblocking(False); f.connect_ex((host, 5902)); fillers.append(f)
    time.sleep(0.2)
probe = socket.socket(); probe.settimeout(1.5)
try:
    probe.connect((host, 5902)); print("drop answers", flush=True)
except OSError:
    print("ready", flush=True)
echo_l, sink_l = listener(5900, 128), listener(5901, 128, 4096)
def echo(c):
    while True:
        d = c.recv(262144)
        if not d: break
        c.sendall(d)
    c.close()
def serve_echo():
    while True:
        c, _ = echo_l.accept()
        print("echo", flush=True)
        threading.Thread(target=echo, args=(c,), daemon=True).start()
held = []
def serve_sink():
    while True:
        held.append(sink_l.accept()[0])
threading.Thread(target=serve_echo, daemon=True).start()
threading.Thread(target=serve_sink, daemon=True).start()
def entry(name, port):
    return name.ljust(40, b"\0") + struct.pack("<I", port) + socket.inet_aton(host) + b"\0" * 16
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
while True:
    for d in (entry(b"pc", 5900), entry(b"sink", 5901), entry(b"drop", 5902)):
        s.sendto(d, (broadcast, 768))
    time.sleep(1)
'''

# A user's (or an attacker's) hands, in its namespace (python3 -c DRIVER
# GATEWAY): one JSON command a line on stdin ({"do": NAME, ...arguments}),
# one JSON answer a line on stdout. Connections kept for later live in named
# groups. Times are measured here, where the sockets are.
DRIVER = r'''
import json, random, socket, struct, sys, threading, time
GW, CMD, PROXY = sys.argv[1], 6111, 6121
now = time.monotonic
groups = {}

def connect(src, port, timeout=10, sndbuf=0):
    s = socket.socket()
    if sndbuf: s.setsockopt(socket.SOL_SOCKET, socket.SO_SNDBUF, sndbuf)
    s.bind((src, 0)); s.settimeout(timeout); s.connect((GW, port))
    return s

def take(s, n):
    b = b""
    while len(b) < n:
        d = s.recv(n - len(b))
        if not d: raise EOFError("closed")
        b += d
    return b

def request(user, password):
    body = b"\0" * 100 + user.encode("gbk").ljust(50, b"\0") + password.encode("gbk").ljust(20, b"\0")
    return struct.pack("<H", 171) + b"\x15" + body

def reply(s):
    """The reply's code; None when the gateway closed instead."""
    try:
        size, sign, code = struct.unpack("<HBH", take(s, 5))
        if code == 1:
            take(s, 2); take(s, size - 5)
        return code
    except (EOFError, OSError):
        return None

def closed(s):
    # Without a timeout: Python waits for one before any recv on a socket that has one.
    s.setblocking(False)
    try:
        return s.recv(1, socket.MSG_DONTWAIT) == b""
    except BlockingIOError:
        return False
    except OSError:
        return True

def login(src, user="Administrator", password="pw", keep=None, timeout=10):
    t = now()
    s = connect(src, CMD, timeout)
    s.sendall(request(user, password))
    code = reply(s)
    out = {"code": code, "ms": (now() - t) * 1000, "port": s.getsockname()[1]}
    if keep and code is not None: groups.setdefault(keep, []).append(s)
    else: s.close()
    return out

def logins(src, n=1000, seconds=1e9, interval=0.0):
    out, end = [], now() + seconds
    while len(out) < n and now() < end:
        out.append(login(src, timeout=5))
        time.sleep(interval)
    return out

def relay(src, name="pc", size=262144, seed=1):
    """Sends size bytes through a relay to name, closes its sending side and
    reads until the gateway closes: ok when exactly those bytes came back."""
    data = random.Random(seed).randbytes(size)
    s = connect(src, PROXY, 20)
    port = s.getsockname()[1]
    def writer():
        try:
            s.sendall(name.encode().ljust(50, b"\0") + data); s.shutdown(socket.SHUT_WR)
        except OSError:
            pass
    w = threading.Thread(target=writer); w.start()
    got = bytearray()
    try:
        while True:
            d = s.recv(262144)
            if not d: break
            got += d
    except OSError:
        pass
    w.join(); s.close()
    return {"ok": bytes(got) == data, "sent": size, "got": len(got), "port": port}

def session(src, size=262144, seed=1):
    l = login(src)
    r = relay(src, "pc", size, seed) if l["code"] == 1 else {"ok": False}
    return {"login": l, "relay": r}

def cmd_open(src, n, group, log_in=False):
    """n command connections kept in group, one after the other; with log_in
    each sends a right login and waits for its answer. Those the gateway
    closed (its answer None) are left out of the group."""
    answered = refused = 0
    for _ in range(n):
        s = connect(src, CMD)
        if log_in:
            s.sendall(request("Administrator", "pw"))
            if reply(s) is None:
                refused += 1; s.close(); continue
            answered += 1
        groups.setdefault(group, []).append(s)
    return {"answered": answered, "refused": refused}

def login_on(group):
    """A right login on the group's first connection, opened before."""
    s = groups[group][0]
    t = now(); s.sendall(request("Administrator", "pw")); code = reply(s)
    return {"code": code, "ms": (now() - t) * 1000}

def proxy_open(src, n, group):
    """n relay connections that never send their header; after half a second
    those the gateway closed are counted and dropped from the group."""
    ss = [connect(src, PROXY) for _ in range(n)]
    time.sleep(0.5)
    kept = [s for s in ss if not closed(s)]
    for s in ss:
        if s not in kept: s.close()
    groups.setdefault(group, []).extend(kept)
    return {"held": len(kept), "refused": n - len(kept)}

def push(src, n, name, group):
    """n relays to name, each pushing bytes until nothing more goes for a
    second: the computer does not read, the gateway's buffer is full and it
    no longer reads from us. Kept in group."""
    ss = [connect(src, PROXY, sndbuf=16384) for _ in range(n)]
    for s in ss:
        s.sendall(name.encode().ljust(50, b"\0")); s.setblocking(False)
    block, pushed, last = b"p" * 65536, [0] * n, now()
    while now() - last < 1.0:
        moved = False
        for i, s in enumerate(ss):
            try:
                k = s.send(block); pushed[i] += k; moved = moved or k > 0
            except BlockingIOError:
                pass
        if moved: last = now()
        else: time.sleep(0.01)
    groups.setdefault(group, []).extend(ss)
    return {"pushed": pushed}

def close(group, reset=False):
    """Closes the group's connections, with a reset when asked; the time of
    the close."""
    for s in groups.pop(group, []):
        if reset: s.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
        s.close()
    return {"at": now()}

def relay_start(src, name, size, group):
    """A relay whose bytes are sent now and read back later (relay_wait)."""
    s = connect(src, PROXY)
    data = random.Random(size).randbytes(size)
    s.sendall(name.encode().ljust(50, b"\0") + data)
    groups[group] = [s, data, now()]
    return {"port": s.getsockname()[1]}

def relay_wait(group, timeout):
    """Reads back what relay_start sent, for at most timeout seconds (0: only
    what has come): the bytes that came and the seconds this waited."""
    s, data, sent = groups[group]
    t, got, end = now(), bytearray(), now() + timeout
    s.setblocking(False)
    while len(got) < len(data):
        try:
            d = s.recv(65536)
            if not d: break
            got += d
        except BlockingIOError:
            if now() >= end: break
            time.sleep(0.01)
        except OSError:
            break
    return {"ok": bytes(got) == data, "got": len(got), "waited": now() - t}

def await_closed(src, n, name, timeout):
    """n relays to name, with a header and nothing more: the seconds until
    the gateway closed each (None: still open at timeout)."""
    ss = [connect(src, PROXY) for _ in range(n)]
    for s in ss: s.sendall(name.encode().ljust(50, b"\0"))
    t, left, out = now(), set(range(n)), [None] * n
    while left and now() < t + timeout:
        for i in list(left):
            if closed(ss[i]): out[i] = now() - t; left.discard(i)
        time.sleep(0.02)
    for s in ss: s.close()
    return {"closed_after": out}

def flood(src, conns, seconds):
    """conns connections each sending a wrong password again as soon as the
    previous one is answered, for seconds: the answers and their times."""
    t, answers, lock = now(), [], threading.Lock()
    def one():
        try:
            s = connect(src, CMD)
        except OSError:
            return
        while now() < t + seconds:
            s.settimeout(max(0.01, t + seconds - now()))
            try:
                s.sendall(request("Administrator", "guess"))
            except OSError:
                break
            code = reply(s)
            if code is None: break
            with lock: answers.append([round(now() - t, 3), code])
        s.close()
    ts = [threading.Thread(target=one) for _ in range(conns)]
    [x.start() for x in ts]; [x.join() for x in ts]
    return {"answers": sorted(answers)}

for line in sys.stdin:
    cmd = json.loads(line)
    try:
        out = globals()[cmd.pop("do")](**cmd)
    except Exception as e:
        out = {"error": repr(e)}
    print(json.dumps(out), flush=True)
'''


class Driver:
    """DRIVER in a namespace, called with a command and its answer read back
    (call), or started now and answered later (start, then result)."""

    def __init__(self, ns, gateway, timeout):
        self.timeout = timeout
        self.proc = ns.popen([sys.executable, "-c", DRIVER, gateway], stdin=subprocess.PIPE,
                             stdout=subprocess.PIPE, text=True)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            self.lines.put(line)
        self.lines.put(None)

    def start(self, do, **kw):
        self.proc.stdin.write(json.dumps(dict(kw, do=do)) + "\n")
        self.proc.stdin.flush()

    def result(self, timeout=None):
        try:
            line = self.lines.get(timeout=timeout or self.timeout)
        except queue.Empty:
            return {"error": "no answer"}
        return json.loads(line) if line else {"error": "the driver ended"}

    def call(self, do, **kw):
        self.start(do, **kw)
        return self.result()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.stdin.close()
            ovtest.wait_exit(self.proc, 10)


def sanitized():
    """Whether the programs under test were built with the sanitizers
    (slower: waits for them are longer)."""
    try:
        with open(os.path.join(ovtest.BUILD_DIR, "CMakeCache.txt")) as f:
            return re.search(r"^OV_SANITIZE:\w+=ON$", f.read(), re.M) is not None
    except OSError:
        return False


def main():
    ovtest.need_namespaces()
    check = ovtest.Checks()
    slow = 3 if sanitized() else 1
    figures = []

    def figure(what, value):
        figures.append((what, value))

    with ovtest.program_dir() as d, \
            ovtest.namespaces("gw", "atk", "usr", "lan") as (gw, atk, usr, lan):
        _, atk_if = ovtest.link(gw, GW_A, atk, A[0], prefix=25)
        for extra in A[1:]:
            subprocess.run(["ip", "-n", atk.name, "addr", "add", extra + "/25", "dev", atk_if],
                           check=True, capture_output=True)
        ovtest.link(gw, GW_B, usr, B, prefix=25)
        ovtest.link(gw, GW_LAN, lan, LAN)
        ENV["OVG_IPC_DIR"] = os.path.join(d, "ipc")
        os.makedirs(ENV["OVG_IPC_DIR"])
        adm_path = os.path.join(d, "ovadmin")
        adm = lambda *a: subprocess.run([adm_path] + list(a), capture_output=True, env=ENV)
        adm("init", "--admin-password", "pw")
        adm("ini", "set", "S_CFG", "flg_encrypt", "0")
        # Relays need a login; the per-address share is left at its default.
        adm("server", "set", "--proxy-needs-login", "1")

        agent = lan.popen([sys.executable, "-c", AGENT, LAN, "192.0.2.255"],
                          stdout=subprocess.PIPE, text=True)
        agent_says = []
        first = agent.stdout.readline().strip()
        threading.Thread(target=lambda: [agent_says.append(l.strip()) for l in agent.stdout],
                         daemon=True).start()
        echoed = lambda: agent_says.count("echo")
        check(first == "ready", "the computer 'drop' drops SYNs (%r)" % first)

        err_path = os.path.join(d, "gateway.stderr")
        err_file = open(err_path, "wb")
        gateway = gw.popen([os.path.join(d, "OV_G"), "-run"], env=ENV,
                           stdout=subprocess.DEVNULL, stderr=err_file)
        atk_drv = Driver(atk, GW_A, 60 * slow)
        usr_drv = Driver(usr, GW_B, 60 * slow)
        log = lambda: ovtest.read_gbk(os.path.join(d, "OV_G.log"))
        stats = lambda: json.loads(adm("stats", "--json").stdout.decode() or "{}")

        def access():
            r = adm("access", "--json")
            return [json.loads(l) for l in r.stdout.decode("gbk", "replace").splitlines()]

        def delta(before, *names):
            now_ = stats()
            return {n: now_.get(n, 0) - before.get(n, 0) for n in names}

        def wait_delta(before, want, timeout=5):
            # Counters are published within a second or so.
            end = time.time() + timeout * slow
            while True:
                got = delta(before, *want)
                if got == want or time.time() > end:
                    return got
                time.sleep(0.1)

        def new_records(before, count, timeout=5):
            # Relays are recorded when they end, by a writer of its own.
            end, rec = time.time() + timeout * slow, []
            while time.time() < end:
                rec = access()[before:]
                if len(rec) >= count:
                    break
                time.sleep(0.1)
            return rec

        def legit(label, seed=1):
            """The user on B logs in and relays a checked stream."""
            r = usr_drv.call("session", src=B, seed=seed)
            ok = r.get("login", {}).get("code") == 1 and r.get("relay", {}).get("ok")
            check(ok, "%s: the user on B logs in and relays a checked stream (%r)" % (label, r))
            if "login" in r:
                figure("user's login, " + label, "%.1f ms" % r["login"]["ms"])
            return r

        try:
            end, listed = time.time() + 30 * slow, ""
            while time.time() < end and not all(n + "\t" in listed for n in ("pc", "sink", "drop")):
                listed = adm("list").stdout.decode()
                time.sleep(0.2)
            check(all(n + "\t" in listed for n in ("pc", "sink", "drop")),
                  "the three computers are listed: %r" % listed)
            legit("no attack")
            s = stats()
            check(s.get("proxy_needs_login") == 1 and s.get("slots_per_address_cap") == 20,
                  "stats show the settings in force: relays need a login, 20 slots an "
                  "address (%r)" % {k: s.get(k) for k in ("proxy_needs_login",
                                                          "slots_per_address_cap")})
            cap = s.get("slots_per_address_cap") or 20
            waiting_cap = (cap + 1) // 2

            # 1. A relay from an address that never logged in reaches nothing.
            s, rec0, seen = stats(), len(access()), echoed()
            r = atk_drv.call("relay", src=A[0], size=1000)
            time.sleep(0.5)
            check(r.get("got") == 0 and echoed() == seen,
                  "no login: the relay is refused and the computer sees no connection (%r, "
                  "%d connection(s))" % (r, echoed() - seen))
            refused_port = r.get("port")
            check("%s 没有登录, 拒绝代理连接!" % A[0] in log(), "the refusal is logged")
            after = atk_drv.call("session", src=A[0], size=5000)
            check(after.get("login", {}).get("code") == 1 and after.get("relay", {}).get("ok"),
                  "after a login the same address relays a checked stream (%r)" % after)
            u = legit("after a relay without login", seed=2)
            got = wait_delta(s, {"relays_refused_no_login": 1, "relays_started": 2,
                                 "logins_ok": 2})
            check(got == {"relays_refused_no_login": 1, "relays_started": 2, "logins_ok": 2},
                  "stats count one refusal, two logins, two relays: %r" % got)
            # The access record holds exactly what happened, with its bytes.
            want = sorted([
                ("relay", A[0], refused_port, "", 0, 0, "refused"),
                ("login", A[0], after["login"]["port"], "Administrator", 1),
                ("relay", A[0], after["relay"]["port"], "pc", 5000, 5000, "closed"),
                ("login", B, u["login"]["port"], "Administrator", 1),
                ("relay", B, u["relay"]["port"], "pc", 262144, 262144, "closed"),
            ], key=repr)
            rec = new_records(rec0, len(want))
            as_tuple = lambda e: (
                ("login", e["address"], e["port"], e["user"], e["code"]) if e["kind"] == "login"
                else (e["kind"], e.get("user_address"), e.get("user_port"), e.get("computer"),
                      e.get("bytes_to_computer"), e.get("bytes_to_user"), e.get("how")))
            check(sorted(map(as_tuple, rec), key=repr) == want,
                  "the access record holds those logins and relays: %r" % rec)
            check(all(e["computer_address"] == LAN and e["computer_port"] == 5900
                      for e in rec if e["kind"] == "relay" and e["how"] == "closed"),
                  "relays record the computer's address and port")

            # 2. One address takes all the command slots and waiting relays
            # it can: the rest of its connections are closed at once.
            s = stats()
            r = atk_drv.call("cmd_open", src=A[1], n=cap + 5, group="slots", log_in=True)
            check(r == {"answered": cap, "refused": 5},
                  "one address logs in on %d command connections, its next 5 are closed (%r)"
                  % (cap, r))
            r = atk_drv.call("proxy_open", src=A[1], n=waiting_cap + 5, group="waiting")
            check(r == {"held": waiting_cap, "refused": 5},
                  "it holds %d relays that wait for a header, its next 5 are closed (%r)"
                  % (waiting_cap, r))
            legit("while one address holds its share of slots and waiting relays", seed=3)
            want = {"cmd_refused_per_address": 5, "relays_refused_per_address": 5,
                    "cmd_refused_full": 0, "relays_refused_full": 0}
            got = wait_delta(s, want)
            check(got == want, "stats count the per-address refusals: %r" % got)
            atk_drv.call("close", group="waiting")
            atk_drv.call("close", group="slots")
            legit("after the slot attack", seed=4)

            # 3. Users push into a computer that never reads, then reset: the
            # gateway no longer reads them, yet frees their pairs at once.
            users = 8
            s, rec0 = stats(), len(access())
            r = atk_drv.call("push", src=A[1], n=users, name="sink", group="paused")
            check(len(r.get("pushed", [])) == users and all(p > 0 for p in r["pushed"]),
                  "%d users fill their relays to a computer that does not read (%r)"
                  % (users, r))
            legit("while %d relays are paused" % users, seed=5)
            t0 = atk_drv.call("close", group="paused", reset=True).get("at", time.monotonic())
            freed, end = None, time.monotonic() + 5 * slow
            while time.monotonic() < end:
                now_ = stats()
                if (now_.get("paused_peer_gone", 0) - s.get("paused_peer_gone", 0) == users
                        and now_.get("live_relays") == 0):
                    freed = time.monotonic() - t0
                    break
                time.sleep(0.02)
            check(freed is not None, "the pairs of %d paused users who reset are freed (%r)"
                  % (users, delta(s, "paused_peer_gone", "live_relays")))
            if freed is not None:
                figure("time to free the pairs of %d paused users after their reset" % users,
                       "%.0f ms" % (freed * 1000))
            rec = [e for e in new_records(rec0, users + 1) if e.get("computer") == "sink"]
            check(len(rec) == users and all(e["how"] == "reset" for e in rec),
                  "the access record has their relays, ended by a reset: %r" % rec)
            legit("after the paused users left", seed=6)

            # 4. Relays to a computer that drops SYNs end at the connect's
            # deadline, with the user's pair.
            s, rec0 = stats(), len(access())
            atk_drv.start("await_closed", src=A[1], n=5, name="drop", timeout=20 * slow)
            time.sleep(1)
            legit("while 5 relays connect to a computer that drops SYNs", seed=7)
            r = atk_drv.result()
            times = r.get("closed_after") or [None]
            check(None not in times and all(9 <= t <= 10 + 3 * slow for t in times),
                  "relays to a computer that drops SYNs end at the 10 s deadline (%r)" % r)
            if None not in times:
                figure("relay to a computer that drops SYNs closed after",
                       "%.1f-%.1f s" % (min(times), max(times)))
            got = wait_delta(s, {"relays_connect_failed": 5})
            check(got == {"relays_connect_failed": 5}, "stats count 5 failed connects: %r" % got)
            rec = [e for e in new_records(rec0, 6) if e.get("computer") == "drop"]
            check(len(rec) == 5 and all(e["how"] in ("connect-failed", "deadline") for e in rec),
                  "the access record has them as failed connects: %r" % rec)
            legit("after the connects ran out of time", seed=8)

            # 5. Logins while administration programs rewrite the account file.
            stop, saves = threading.Event(), [0]

            def saver(k):
                while not stop.is_set():
                    adm("accounts", "add", "tmp%d" % k, "pw%d" % k)
                    adm("accounts", "del", "tmp%d" % k)
                    saves[0] += 2

            s = stats()
            savers = [threading.Thread(target=saver, args=(k,)) for k in range(3)]
            [t.start() for t in savers]
            time.sleep(0.2)
            r = usr_drv.call("logins", src=B, seconds=4)
            stop.set()
            [t.join() for t in savers]
            codes = [x["code"] for x in r] if isinstance(r, list) else [r]
            check(codes and all(c == 1 for c in codes),
                  "%d logins during %d saves of the account file are all answered (%r)"
                  % (len(codes), saves[0], sorted(set(map(str, codes)))))
            if isinstance(r, list) and r:
                figure("user's login during 3 account-saving loops, slowest of %d" % len(r),
                       "%.1f ms" % max(x["ms"] for x in r))
            got = wait_delta(s, {"logins_ok": len(codes)})
            check(got == {"logins_ok": len(codes)}, "stats count each of them: %r" % got)
            legit("after the saves", seed=9)

            # 6. Out of descriptors for more than ten seconds: the gateway
            # waits it out and serves again once they come back.
            pid = gateway.pid
            fds = lambda: len(os.listdir("/proc/%d/fd" % pid))
            soft, hard = resource.prlimit(pid, resource.RLIMIT_NOFILE)
            limit = fds() + 30
            resource.prlimit(pid, resource.RLIMIT_NOFILE, (limit, hard))
            try:
                usr_drv.call("cmd_open", src=B, n=1, group="early")
                for src in A[2:5]:
                    atk_drv.call("cmd_open", src=src, n=20, group="fill")
                end, short_at = time.time() + 10 * slow, None
                while time.time() < end and short_at is None:
                    if "cmd accept 错误" in log():
                        short_at = time.monotonic()
                    time.sleep(0.05)
                check(short_at is not None, "the command port runs out of descriptors "
                      "(%d open, limit %d)" % (fds(), limit))
                short_at = short_at or time.monotonic()
                time.sleep(1)
                r = usr_drv.call("login_on", group="early")
                check(r.get("code") == 1, "a login while short of descriptors is answered (%r)"
                      % r)
                if "ms" in r:
                    figure("user's login while the gateway is out of descriptors",
                           "%.1f ms" % r["ms"])
                check("使用上次读取的帐号" in log(),
                      "it was answered from the accounts read before (the file could not be read)")
                usr_drv.call("relay_start", src=B, name="pc", size=1000, group="late")
                time.sleep(max(0.0, short_at + 12 - time.monotonic()))
                r = usr_drv.call("relay_wait", group="late", timeout=0)
                check(gateway.poll() is None and r.get("got") == 0,
                      "12 s out of descriptors: the gateway still runs, the relay waits (%r, "
                      "%d open)" % (r, fds()))
                check(log().count("cmd accept 错误") == 1,
                      "the shortage is logged once, not at every retry")
                back_at = atk_drv.call("close", group="fill").get("at", time.monotonic())
                r = usr_drv.call("relay_wait", group="late", timeout=15 * slow)
                check(r.get("ok"), "once descriptors are back the waiting relay goes through "
                      "(%r)" % r)
                if r.get("ok"):
                    figure("relay served again after descriptors came back",
                           "%.1f s" % (time.monotonic() - back_at))
                usr_drv.call("close", group="late")
                usr_drv.call("close", group="early")
                check("proxy accept 错误" in log(), "the proxy port was short as well")
                legit("after the shortage of descriptors", seed=10)
            finally:
                resource.prlimit(pid, resource.RLIMIT_NOFILE, (soft, hard))

            # 7. Guessing passwords from one address: its answers slow to a
            # trickle while another address is answered at once.
            s = stats()
            atk_drv.start("flood", src=A[5], conns=10, seconds=20)
            time.sleep(1)
            r = usr_drv.call("logins", src=B, n=12, interval=1.5)
            flood = atk_drv.result(timeout=60 * slow)
            answers = flood.get("answers")
            check(answers is not None and 1 <= len(answers) <= 6
                  and all(c == 187 for _, c in answers),
                  "a 20 s guessing flood on 10 connections gets a handful of answers (%r)"
                  % flood)
            ms = [x["ms"] for x in r] if isinstance(r, list) else []
            check(len(ms) == 12 and all(x["code"] == 1 for x in r),
                  "the user's logins during the flood pass (%r)" % r)
            if ms:
                figure("user's login during a guessing flood, median / slowest of %d" % len(ms),
                       "%.1f / %.1f ms" % (statistics.median(ms), max(ms)))
                check(statistics.median(ms) < 50 * slow and max(ms) < 500 * slow,
                      "they are answered at once (median %.1f ms, slowest %.1f ms)"
                      % (statistics.median(ms), max(ms)))
            if answers:
                figure("guessing flood: answers in 20 s (10 connections)",
                       "%d, at %s s" % (len(answers), ", ".join("%g" % t for t, _ in answers)))
            got = delta(s, "logins_bad_password", "login_replies_held", "logins_ok")
            check(answers is not None and len(answers) <= got["logins_bad_password"]
                  <= len(answers) + 1 and got["login_replies_held"] > 0
                  and got["logins_ok"] == len(ms),
                  "stats count the guesses answered and the replies held: %r" % got)
            legit("after the guessing flood", seed=11)

            gw.run([os.path.join(d, "OV_G"), "-end"], env=ENV, timeout=30)
            code = ovtest.wait_exit(gateway, 15 * slow)
            check(code == 0, "the gateway ends with 0 after the attacks (%r)" % code)
            err = open(err_path, "rb").read().decode("utf-8", "replace")
            check("ERROR: AddressSanitizer" not in err and "runtime error" not in err,
                  "no memory fault: " + err[-2000:])
        finally:
            for drv in (atk_drv, usr_drv):
                drv.stop()
            for p in (gateway, agent):
                if p.poll() is None:
                    p.kill()
                    p.wait()
            err_file.close()

    print("\n=== measured figures (%s build) ===" % ("sanitizer" if slow > 1 else "native"))
    for what, value in figures:
        print("%-78s %s" % (what, value))
    print("=== end of figures ===")
    return check.exit_code()


if __name__ == "__main__":
    sys.exit(main())
