"""Shared helpers of the system tests: fresh program directories, network
namespaces that are always deleted, and running our programs inside them.

Every test that can start the gateway runs it inside a namespace made here,
never in the machine's own network namespace."""

import contextlib
import itertools
import os
import shutil
import subprocess
import sys
import tempfile
import time

SKIP = 77

BIN_DIR = os.environ.get("OV_BIN_DIR", "")
BUILD_DIR = os.environ.get("OV_BUILD_DIR", "")
SOURCE_DIR = os.environ.get("OV_SOURCE_DIR", "")

_counter = itertools.count()


def skip(why):
    print("SKIPPED: " + why)
    sys.exit(SKIP)


def need_bin_dir():
    if not BIN_DIR or not os.path.isdir(BIN_DIR):
        skip("OV_BIN_DIR is not set (run through ctest)")
    return BIN_DIR


@contextlib.contextmanager
def program_dir(*names):
    """A throwaway program directory holding copies of the named files of
    the build's bin/ (all of bin/ when no names are given)."""
    src = need_bin_dir()
    d = tempfile.mkdtemp(prefix="ovsys-")
    try:
        for n in names or os.listdir(src):
            p = os.path.join(src, n)
            if os.path.isfile(p):
                shutil.copy2(p, d)
        yield d
    finally:
        shutil.rmtree(d, ignore_errors=True)


def can_make_namespaces():
    if os.geteuid() != 0 or not shutil.which("ip"):
        return False
    name = "ovt-probe-%d" % os.getpid()
    ok = subprocess.run(["ip", "netns", "add", name], capture_output=True).returncode == 0
    if ok:
        subprocess.run(["ip", "netns", "del", name], capture_output=True)
    return ok


def need_namespaces():
    if not can_make_namespaces():
        skip("network namespaces cannot be made here (needs root and iproute2)")


def _ip(*args):
    subprocess.run(["ip"] + list(args), check=True, capture_output=True)


class Namespace:
    """A network namespace with its loopback up; deleted by close()."""

    def __init__(self, tag):
        self.name = "ovt-%s-%d-%d" % (tag, os.getpid(), next(_counter))
        _ip("netns", "add", self.name)
        _ip("-n", self.name, "link", "set", "lo", "up")

    def argv(self, argv):
        return ["ip", "netns", "exec", self.name] + list(argv)

    def run(self, argv, **kw):
        kw.setdefault("capture_output", True)
        kw.setdefault("timeout", 60)
        return subprocess.run(self.argv(argv), **kw)

    def popen(self, argv, **kw):
        return subprocess.Popen(self.argv(argv), **kw)

    def close(self):
        # Ends whatever still runs inside, then the namespace itself.
        pids = subprocess.run(["ip", "netns", "pids", self.name],
                              capture_output=True, text=True).stdout.split()
        for pid in pids:
            with contextlib.suppress(ProcessLookupError, ValueError):
                os.kill(int(pid), 9)
        subprocess.run(["ip", "netns", "del", self.name], capture_output=True)


@contextlib.contextmanager
def namespaces(*tags):
    made = []
    try:
        for t in tags:
            made.append(Namespace(t))
        yield made
    finally:
        for ns in reversed(made):
            ns.close()


def link(a, addr_a, b, addr_b, prefix=24):
    """Joins two namespaces by a veth pair; addresses from 192.0.2.0/24 or
    198.51.100.0/24 only."""
    n = next(_counter)
    ea, eb = "ova%d_%d" % (os.getpid() % 10000, n), "ovb%d_%d" % (os.getpid() % 10000, n)
    _ip("link", "add", ea, "type", "veth", "peer", "name", eb)
    _ip("link", "set", ea, "netns", a.name)
    _ip("link", "set", eb, "netns", b.name)
    _ip("-n", a.name, "addr", "add", "%s/%d" % (addr_a, prefix), "dev", ea)
    _ip("-n", b.name, "addr", "add", "%s/%d" % (addr_b, prefix), "dev", eb)
    _ip("-n", a.name, "link", "set", ea, "up")
    _ip("-n", b.name, "link", "set", eb, "up")
    return ea, eb


class Checks:
    """Named checks: each prints ok/FAIL; exit_code() is 1 when any failed."""

    def __init__(self):
        self.failures = []

    def __call__(self, cond, what):
        print(("ok   " if cond else "FAIL ") + what)
        if not cond:
            self.failures.append(what)

    def exit_code(self):
        if self.failures:
            print("%d check(s) failed" % len(self.failures))
            return 1
        return 0


def read_gbk(path):
    """A GBK file (our logs) as text; empty when it does not exist."""
    try:
        with open(path, "rb") as f:
            return f.read().decode("gbk", "replace")
    except FileNotFoundError:
        return ""


WINE = shutil.which("wine64") or "/usr/lib/wine/wine64"


def wine_env(prefix):
    """The environment of our Windows programs under Wine, in prefix."""
    return dict(os.environ, WINEPREFIX=prefix, LANG="zh_CN.UTF-8", LC_ALL="zh_CN.UTF-8",
                WINEDEBUG="-all", WINEDLLOVERRIDES="mscoree,mshtml=", OVG_NO_DIALOGS="1",
                OVG_LOG_THRESHOLD="-1")


def wait_exit(proc, timeout):
    """proc's exit code, or None when it had to be killed after timeout."""
    try:
        return proc.wait(timeout=timeout)
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
        return None


@contextlib.contextmanager
def wine_session(ns):
    """A fresh Wine prefix whose first Wine process starts inside ns, so that
    every Windows program of the session lives in ns. Yields the environment
    to run them with; ends the session (wineserver -k) and deletes the prefix
    afterwards."""
    if not os.path.exists(WINE):
        skip("wine64 is not installed")
    prefix = tempfile.mkdtemp(prefix="ovwine-")
    env = wine_env(prefix)
    background = prefix + "-background.log"
    keeper = None
    try:
        # Wine's background processes (its service manager among them) keep
        # the output of the process that started them: a file, never a pipe
        # that a test would wait on.
        with open(background, "wb") as out:
            subprocess.run(ns.argv([WINE, "wineboot", "-i"]), env=env, timeout=240,
                           stdout=out, stderr=out)
            # A new prefix goes on registering its own services for a few
            # seconds; a service created meanwhile can be lost.
            time.sleep(10)
            # Wine shuts its service manager and every service down once the
            # last ordinary Wine process has ended, where Windows keeps
            # services running; this idle process stands in for the session.
            keeper = subprocess.Popen(ns.argv([WINE, "cmd"]), env=env, stdin=subprocess.PIPE,
                                      stdout=out, stderr=out)
        yield env
    finally:
        if keeper:
            keeper.stdin.close()
        subprocess.run(["wineserver", "-k"], env=env, capture_output=True)
        if keeper:
            wait_exit(keeper, 10)
        shutil.rmtree(prefix, ignore_errors=True)
        with contextlib.suppress(OSError):
            os.remove(background)


def wine_run(ns, env, *args, timeout=120):
    """Runs a Windows program of a wine_session inside ns: (exit code,
    stdout, stderr), decoded from GBK. The output goes through files, so
    that a background Wine process started by this run never makes us wait
    for a pipe to close after the program has ended."""
    with tempfile.TemporaryFile() as out, tempfile.TemporaryFile() as err:
        proc = subprocess.Popen(ns.argv([WINE] + list(args)), env=env, stdin=subprocess.DEVNULL,
                                stdout=out, stderr=err)
        try:
            rc = proc.wait(timeout=timeout)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
            raise
        out.seek(0)
        err.seek(0)
        return rc, out.read().decode("gbk", "replace"), err.read().decode("gbk", "replace")


# Run inside a namespace (python3 -c LOGIN_CLIENT host port user password
# [computer]): logs in on the command port and prints the reply code and the
# listed computers; with a computer, then relays 100 bytes to it through the
# proxy port of the reply and prints whether they came back.
LOGIN_CLIENT = r'''
import socket, struct, sys
host, port, user, password = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
c = socket.create_connection((host, port), timeout=20)
def take(n):
    b = b""
    while len(b) < n:
        d = c.recv(n - len(b))
        if not d: raise SystemExit("closed")
        b += d
    return b
body = b"\0" * 100 + user.encode("gbk").ljust(50, b"\0") + password.encode("gbk").ljust(20, b"\0")
c.sendall(struct.pack("<H", 171) + b"\x15" + body)
size, sign, code = struct.unpack("<HBH", take(5))
names = []
if code == 1:
    proxy, = struct.unpack("<H", take(2))
    rest = take(size - 5)
    names = [rest[i:i + 40].split(b"\0")[0].decode("gbk") for i in range(0, len(rest), 50)]
print("code=%d sign=%d names=%s" % (code, sign, ",".join(names)))
if code == 1 and len(sys.argv) > 5:
    r = socket.create_connection((host, proxy), timeout=20)
    data = bytes(range(100))
    r.sendall(sys.argv[5].encode("gbk").ljust(50, b"\0") + data)
    back = b""
    while len(back) < 100:
        d = r.recv(100 - len(back))
        if not d: break
        back += d
    print("relayed=%s" % (back == data))
'''


# Run inside a namespace (python3 -c ANNOUNCING_ECHO HOST PORT BROADCAST
# NAME:PORT[:ADDRESS] ...): a controlled computer's agent. An echo server on
# HOST:PORT that announces every NAME each second to BROADCAST:768, with
# its agent port and one address (HOST by default; "-" for none).
ANNOUNCING_ECHO = r'''
import socket, struct, sys, threading, time
host, port, broadcast = sys.argv[1], int(sys.argv[2]), sys.argv[3]
def entry(spec):
    name, agent_port, address = (spec.split(":") + [host])[:3]
    a = b"\0" * 4 if address == "-" else socket.inet_aton(address)
    return name.encode().ljust(40, b"\0") + struct.pack("<I", int(agent_port)) + a + b"\0" * 16
datagrams = [entry(spec) for spec in sys.argv[4:]]
def announce():
    s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    while True:
        for d in datagrams:
            s.sendto(d, (broadcast, 768))
        time.sleep(1)
def echo(c):
    while True:
        d = c.recv(262144)
        if not d: break
        c.sendall(d)
    c.close()
threading.Thread(target=announce, daemon=True).start()
l = socket.socket(); l.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
l.bind((host, port)); l.listen(128)
while True:
    c, _ = l.accept()
    threading.Thread(target=echo, args=(c,), daemon=True).start()
'''
