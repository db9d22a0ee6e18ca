#!/usr/bin/env python3
"""Relay and command-port benchmarks of the gateway, side by side with
baselines measured in the same run.

    sudo bench/run.py [--seconds S] [--repeat N] [--out DIR]
                      [--only direct,socat,haproxy,gateway] [--baseline-bin DIR]
                      [--no-build] [--plot] [--profile]

Three throwaway network namespaces, joined by veth pairs:

    client 198.51.100.2 ---- 198.51.100.1  gw  192.0.2.1 ---- 192.0.2.2 agent

The agent namespace runs ovsink (echo / sink / source on port 7000), which
also announces itself as computer "benchpc" on UDP 768. The gw namespace runs
each relay in turn: the gateway (OV_G, proxy port 9821, command port 9811),
socat (9001), haproxy in tcp mode with a thread per core, as many as the
gateway's relay loops (9002); the "direct" case
is the kernel forwarding between the two links, the limit of any relay. The
client namespace runs ovload against each; through the gateway each ovload
run logs in on the command port first and keeps that connection open while
it measures, as the gateway relays only for those logged in. The client also
holds a second address, 198.51.100.3, from which one ovload floods the
command port (200 connections: half send logins with a wrong password, half
connect and say nothing) while a right login from the first address is
timed: the attack row, next to the same login without the flood.

The gateway runs only inside the gw namespace (its start-up probe is a
broadcast); every namespace, and everything running in it, is removed on the
way out, also after Ctrl-C. Each measurement lasts --seconds plus a short
warm-up. Results: DIR/results.txt (the table), DIR/results.json (every raw
line), DIR/gateway.log (the gateway's log), DIR/relay.png with --plot.
socat and haproxy (gnuplot with --plot) are installed with apt-get when
missing; a baseline that still cannot run says so in the table.
"""

import argparse
import contextlib
import datetime
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

SOURCE = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
BUILD = os.path.join(SOURCE, "build", "linux")

CLIENT_IP, GW_CLIENT_IP, ATTACK_IP = "198.51.100.2", "198.51.100.1", "198.51.100.3"
GW_LAN_IP, AGENT_IP, LAN_BROADCAST = "192.0.2.1", "192.0.2.2", "192.0.2.255"
AGENT_PORT, SOCAT_PORT, HAPROXY_PORT = 7000, 9001, 9002
GW_PROXY_PORT, GW_CMD_PORT = 9821, 9811
COMPUTER = "benchpc"
ADMIN_PASSWORD = "benchpw"
TARGETS = ["direct", "socat", "haproxy", "gateway"]

# What each relay is held to (docs/performance.md): metric -> text.
TARGET_TEXT = {
    "stream1": ">= 1.0 x haproxy and >= 1.5 x socat",
    "stream40": ">= 1.0 x haproxy and >= 1.2 x socat",
    "stream400": ">= the gateway's 40 streams",
    "cer": ">= haproxy's",
    "rtt_p50": "added <= haproxy's",
    "rss40": "<= 12 MiB",
    "rss400": "<= 64 MiB",
    "auth": ">= 5000/s",
}


# The Debian packages of what a target or option runs besides our programs.
PACKAGES = {"socat": ["socat"], "haproxy": ["haproxy"], "--plot": ["gnuplot-nox"],
            "--profile": ["linux-perf"]}


def install_missing(wanted):
    """Installs the packages of `wanted` that are missing, as tools/test
    does; a failure leaves the targets to say they were not measured."""
    packages = [p for w in wanted for p in PACKAGES.get(w, [])]
    missing = [p for p in packages
               if "install ok installed" not in subprocess.run(
                   ["dpkg-query", "-W", "-f=${Status}", p], capture_output=True,
                   text=True).stdout]
    if not missing:
        return
    log("installing " + " ".join(missing))
    env = dict(os.environ, DEBIAN_FRONTEND="noninteractive")
    if subprocess.run(["apt-get", "update", "-q"], env=env).returncode != 0 or subprocess.run(
            ["apt-get", "install", "-y", "-q", "--no-install-recommends"] + missing,
            env=env).returncode != 0:
        log("could not install " + " ".join(missing))


def log(*a):
    print("run.py:", *a, flush=True)


class Lab:
    """The namespaces and every process started in them; close() removes all."""

    def __init__(self):
        tag = "%d" % (os.getpid() % 100000)
        self.ns = {n: "ovb-%s-%s" % (n, tag) for n in ("client", "gw", "agent")}
        self.procs = []
        self.made = []
        self.tag = tag

    def ip(self, *args):
        subprocess.run(["ip"] + list(args), check=True, capture_output=True)

    def argv(self, ns, argv):
        return ["ip", "netns", "exec", self.ns[ns]] + list(argv)

    def sysctl(self, ns, key, value):
        subprocess.run(self.argv(ns, ["sysctl", "-q", "-w", "%s=%s" % (key, value)]),
                       check=True, capture_output=True)

    def build(self):
        for name in self.ns.values():
            self.ip("netns", "add", name)
            self.made.append(name)
            self.ip("-n", name, "link", "set", "lo", "up")
        self.link("client", CLIENT_IP, "gw", GW_CLIENT_IP, "c")
        # The attacker's address, beside the user's on the same link.
        self.ip("-n", self.ns["client"], "addr", "add", ATTACK_IP + "/24", "dev",
                "ovbc%s0" % self.tag)
        self.link("gw", GW_LAN_IP, "agent", AGENT_IP, "a")
        self.ip("-n", self.ns["client"], "route", "add", "192.0.2.0/24", "via", GW_CLIENT_IP)
        self.ip("-n", self.ns["agent"], "route", "add", "198.51.100.0/24", "via", GW_LAN_IP)
        self.sysctl("gw", "net.ipv4.ip_forward", 1)
        # Connection-rate runs leave tens of thousands of TIME_WAIT sockets
        # on the side that closes first; give them room.
        for ns in ("client", "gw"):
            self.sysctl(ns, "net.ipv4.ip_local_port_range", "1024 65535")
            self.sysctl(ns, "net.ipv4.tcp_tw_reuse", 1)

    def link(self, a, addr_a, b, addr_b, tag):
        ea, eb = "ovb%s%s0" % (tag, self.tag), "ovb%s%s1" % (tag, self.tag)
        self.ip("link", "add", ea, "type", "veth", "peer", "name", eb)
        self.ip("link", "set", ea, "netns", self.ns[a])
        self.ip("link", "set", eb, "netns", self.ns[b])
        self.ip("-n", self.ns[a], "addr", "add", addr_a + "/24", "dev", ea)
        self.ip("-n", self.ns[b], "addr", "add", addr_b + "/24", "dev", eb)
        self.ip("-n", self.ns[a], "link", "set", ea, "up")
        self.ip("-n", self.ns[b], "link", "set", eb, "up")

    def start(self, ns, argv, **kw):
        kw.setdefault("stdout", subprocess.DEVNULL)
        kw.setdefault("stderr", subprocess.DEVNULL)
        p = subprocess.Popen(self.argv(ns, argv), **kw)
        self.procs.append(p)
        return p

    def stop(self, p):
        if p.poll() is None:
            p.terminate()
            try:
                p.wait(timeout=5)
            except subprocess.TimeoutExpired:
                p.kill()
                p.wait()

    def close(self):
        for p in reversed(self.procs):
            with contextlib.suppress(Exception):
                self.stop(p)
        for name in reversed(self.made):
            # Whatever still runs inside (a socat child, say) goes first.
            pids = subprocess.run(["ip", "netns", "pids", name], capture_output=True,
                                  text=True).stdout.split()
            for pid in pids:
                with contextlib.suppress(ProcessLookupError, ValueError):
                    os.kill(int(pid), signal.SIGKILL)
            subprocess.run(["ip", "netns", "del", name], capture_output=True)
        self.made = []


def parse_line(text):
    for line in text.splitlines():
        if line.startswith("ovload "):
            return dict(kv.split("=", 1) for kv in line.split()[1:] if "=" in kv)
    return None


def vm_hwm_kib(pid):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("VmHWM:"):
                    return int(line.split()[1])
    except OSError:
        pass
    return None


def cpu_seconds(pid):
    """User and system CPU time the process has used so far (all its threads)."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")
    except (OSError, IndexError, ValueError):
        return None


def wait_port(lab, ns, host, port, seconds):
    """Whether host:port accepts a connection from namespace ns within
    seconds (the relays are probed from the client side, as the load comes)."""
    probe = ("import socket,sys\n"
             "s=socket.socket();s.settimeout(0.5)\n"
             "sys.exit(s.connect_ex((%r,%d)))\n" % (host, port))
    end = time.time() + seconds
    while time.time() < end:
        if subprocess.run(lab.argv(ns, [sys.executable, "-c", probe]),
                          capture_output=True).returncode == 0:
            return True
        time.sleep(0.2)
    return False


class Bench:
    def __init__(self, args, lab, out):
        self.args, self.lab, self.out = args, lab, out
        self.results = {}  # target -> metric -> [parsed line of each repeat]
        self.notes = {}    # target -> why it was not measured
        self.raw = []
        self.ovload = os.path.join(BUILD, "bench", "ovload")

    def load(self, target, metric, mode, host, port, extra, header=False, pid=None):
        # A relay frees a connection's resources after the close (the gateway
        # has 40 pairs, and 40 streams take them all): let the last run's
        # closes settle before the next one, for every target alike.
        time.sleep(0.3)
        argv = [self.ovload, mode, "--host", host, "--port", str(port),
                "--seconds", str(self.args.seconds), "--warmup", "0.5",
                "--label", "%s/%s" % (target, metric)] + extra
        if header:
            # Through the gateway: logged in on its command port for the
            # whole run, as a gateway that relays only for those logged in
            # (ProxyNeedsLogin=1, the default of a new installation) wants.
            argv += ["--header", COMPUTER, "--login", "Administrator:" + ADMIN_PASSWORD,
                     "--cmd-port", str(GW_CMD_PORT)]
        cpu_before, started = (cpu_seconds(pid) if pid else None), time.time()
        client = subprocess.Popen(self.lab.argv("client", argv), stdout=subprocess.PIPE,
                                  stderr=subprocess.PIPE, text=True)
        counted = self.profile(target, metric, pid) if pid and self.args.profile else {}
        try:
            out, err = client.communicate(timeout=self.args.seconds + 30)
        except subprocess.TimeoutExpired:
            client.kill()
            out, err = client.communicate()
        r = subprocess.CompletedProcess(argv, client.returncode, out, err)
        elapsed = time.time() - started
        cpu_after = cpu_seconds(pid) if pid else None
        line = parse_line(r.stdout)
        self.raw.append({"target": target, "metric": metric, "argv": argv[1:],
                         "exit": r.returncode, "line": r.stdout.strip(), "stderr": r.stderr.strip()})
        if line is None:
            log("%s/%s: no result (%s)" % (target, metric, r.stderr.strip()))
            return None
        line["exit"] = r.returncode
        line.update(counted)
        if cpu_before is not None and cpu_after is not None and elapsed > 0:
            # The share of one core the relay used over the whole run: with
            # other work on the machine, throughput per CPU share moves much
            # less than throughput alone.
            line["relay_cpu"] = (cpu_after - cpu_before) / elapsed
        if "alive" in line and line["alive"] != line["conns"]:
            log("%s/%s: only %s of %s streams lasted the window" % (target, metric, line["alive"], line["conns"]))
        self.results.setdefault(target, {}).setdefault(metric, []).append(line)
        log(r.stdout.strip())
        return line

    def profile(self, target, metric, pid):
        """While the load runs (after its warm-up): the relay's system calls
        and context switches per second, counted by perf for one second; for
        the connection rate and the 40 streams also where its CPU time goes
        (perf-TARGET-METRIC.txt)."""
        time.sleep(0.8)
        window = str(max(0.3, min(1.0, self.args.seconds - 1.0)))
        r = subprocess.run(["perf", "stat", "-x", ",", "-e",
                            "raw_syscalls:sys_enter,context-switches", "-p", str(pid),
                            "--", "sleep", window], capture_output=True, text=True)
        got = {}
        for row in r.stderr.splitlines():
            f = row.split(",")
            if len(f) > 2 and f[0].replace(".", "", 1).isdigit():
                key = "syscalls_per_s" if f[2].startswith("raw_syscalls") else "cs_per_s"
                got[key] = float(f[0]) / float(window)
        if metric in ("cer", "stream40"):
            data = os.path.join(self.args.work, "perf.data")
            subprocess.run(["perf", "record", "-q", "-o", data, "-p", str(pid), "--", "sleep",
                            window], capture_output=True)
            report = subprocess.run(["perf", "report", "-i", data, "--stdio", "--no-children",
                                     "--sort", "comm,dso,symbol", "--percent-limit", "0.7"],
                                    capture_output=True, text=True)
            with open(os.path.join(self.out, "perf-%s-%s.txt" % (target, metric)), "w") as f:
                f.write(report.stdout)
        return got

    def relay_suite(self, target, host, port, header=False, pid=None):
        self.load(target, "stream1", "stream", host, port, ["--conns", "1"], header, pid)
        self.load(target, "stream40", "stream", host, port, ["--conns", "40"], header, pid)
        if pid:
            # VmHWM is the peak of the process's life so far, and the 40
            # busy pairs are the most it has carried.
            self.results[target].setdefault("rss40", []).append({"kib": vm_hwm_kib(pid)})
        if target != "socat":
            # Past the seed's cap of 40 (the gateway runs with MaxRelays=400):
            # 400 busy streams, every byte checked, and the peak after them.
            # The direct path shows what 400 streams cost the load tool and
            # the agent alone (socat would run 400 processes).
            self.load(target, "stream400", "stream", host, port, ["--conns", "400"], header, pid)
            if pid:
                self.results[target].setdefault("rss400", []).append({"kib": vm_hwm_kib(pid)})
        self.load(target, "pingpong", "pingpong", host, port, ["--conns", "1"], header, pid)
        self.load(target, "cer", "cer", host, port, ["--conns", "8"], header, pid)

    def run_direct(self):
        self.relay_suite("direct", AGENT_IP, AGENT_PORT)

    def run_socat(self):
        if not shutil.which("socat"):
            self.notes["socat"] = "socat is not installed (apt-get install socat)"
            return
        p = self.lab.start("gw", ["socat",
                                  "TCP-LISTEN:%d,bind=%s,fork,reuseaddr,backlog=1024,nodelay"
                                  % (SOCAT_PORT, GW_CLIENT_IP),
                                  "TCP:%s:%d,nodelay" % (AGENT_IP, AGENT_PORT)])
        try:
            if not wait_port(self.lab, "client", GW_CLIENT_IP, SOCAT_PORT, 5):
                self.notes["socat"] = "socat did not listen"
                return
            self.relay_suite("socat", GW_CLIENT_IP, SOCAT_PORT)
        finally:
            self.lab.stop(p)

    def run_haproxy(self):
        if not shutil.which("haproxy"):
            self.notes["haproxy"] = "haproxy is not installed (apt-get install haproxy)"
            return
        cfg = os.path.join(self.args.work, "haproxy.cfg")
        with open(cfg, "w") as f:
            # As many threads as the gateway's relay loops: one per core.
            f.write("global\n    nbthread %d\n    maxconn 4000\n" % min(os.cpu_count() or 1, 8) +
                    "defaults\n    mode tcp\n    timeout connect 5s\n"
                    "    timeout client 60s\n    timeout server 60s\n"
                    "frontend relay\n    bind %s:%d\n    default_backend agent\n"
                    "backend agent\n    server agent %s:%d\n"
                    % (GW_CLIENT_IP, HAPROXY_PORT, AGENT_IP, AGENT_PORT))
        # haproxy asks for twice maxconn descriptors and stops when it cannot have them.
        with open(os.path.join(self.out, "haproxy.log"), "w") as err:
            p = self.lab.start("gw", ["haproxy", "-db", "-f", cfg], stderr=err)
        try:
            if not wait_port(self.lab, "client", GW_CLIENT_IP, HAPROXY_PORT, 5):
                self.notes["haproxy"] = "haproxy did not listen"
                return
            # ip netns exec execs haproxy, so the pid is haproxy's own.
            self.relay_suite("haproxy", GW_CLIENT_IP, HAPROXY_PORT, pid=p.pid)
        finally:
            self.lab.stop(p)

    def prepare_gateway(self, bindir=os.path.join(BUILD, "bin")):
        """A program directory: the build's bin/, a uinfo.dat whose
        Administrator has ADMIN_PASSWORD, an OV_G.ini with our ports. The IPC
        objects (instance lock, published list) live inside it too, so a
        gateway elsewhere on the machine neither stops this one nor is read."""
        d = tempfile.mkdtemp(prefix="gateway-", dir=self.args.work)
        # Another build's programs over this build's files: a baseline built
        # with only OV_G and ovadmin still finds the libraries it loads.
        for src in dict.fromkeys([os.path.join(BUILD, "bin"), bindir]):
            for n in os.listdir(src):
                if os.path.isfile(os.path.join(src, n)):
                    shutil.copy2(os.path.join(src, n), d)
        env = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8", OVG_NO_DIALOGS="1",
                   OVG_IPC_DIR=os.path.join(d, "ipc"), OVG_LOG_THRESHOLD="8")
        os.makedirs(env["OVG_IPC_DIR"])
        adm = os.path.join(d, "ovadmin")

        def admin(*a):
            subprocess.run([adm, "--dir", d] + list(a), check=True, capture_output=True, env=env)

        admin("init", "--admin-password", ADMIN_PASSWORD)
        admin("ini", "set", "S_CFG", "CmdPort", str(GW_CMD_PORT))
        admin("ini", "set", "S_CFG", "ProxyPort", str(GW_PROXY_PORT))
        admin("ini", "set", "Base", "Tcp_NoDelay", "0")
        # Room for the 400-stream row (a build from before the setting ignores it).
        admin("ini", "set", "S_CFG", "MaxRelays", "400")
        # The load tool's client ID is not a trusted one.
        admin("ini", "set", "S_CFG", "flg_encrypt", "0")
        return d, env, adm

    def run_gateway(self, name="gateway", bindir=os.path.join(BUILD, "bin")):
        if not os.path.exists(os.path.join(bindir, "OV_G")):
            self.notes[name] = "OV_G is not built"
            return
        d, env, adm = self.prepare_gateway(bindir)
        # Always inside the gw namespace: the start-up probe must not leave it.
        p = self.lab.start("gw", [os.path.join(d, "OV_G"), "-run"], env=env)
        try:
            self.gateway_cases(d, env, adm, p, name)
        finally:
            self.lab.stop(p)
            with contextlib.suppress(OSError):
                shutil.copy2(os.path.join(d, "OV_G.log"), os.path.join(self.out, name + ".log"))

    def run_baseline(self):
        """The gateway of another build (--baseline-bin), e.g. the previous
        commit's, measured the same way in the same run."""
        self.run_gateway("baseline", self.args.baseline_bin)

    def gateway_cases(self, d, env, adm, p, name="gateway"):
        want = "%s\t%s\t%d" % (COMPUTER, AGENT_IP, AGENT_PORT)
        listed = False
        end = time.time() + 15
        while time.time() < end and p.poll() is None:
            r = subprocess.run([adm, "--dir", d, "list"], capture_output=True, text=True, env=env)
            if want in r.stdout.splitlines():
                listed = True
                break
            time.sleep(0.2)
        if p.poll() is not None:
            self.notes[name] = "OV_G ended at start (exit %s); see gateway.log" % p.returncode
            return
        notes = []
        if not listed:
            notes.append("the gateway does not list %s" % COMPUTER)
        elif not wait_port(self.lab, "client", GW_CLIENT_IP, GW_PROXY_PORT, 3):
            notes.append("gateway relay not available (nothing listens on proxy port %d)"
                         % GW_PROXY_PORT)
        else:
            # One short connection first: a proxy port that accepts but does
            # not relay yet must not cost a whole suite of timed-out runs.
            probe = self.load(name, "probe", "cer", GW_CLIENT_IP, GW_PROXY_PORT,
                              ["--conns", "1", "--seconds", "1", "--warmup", "0.2"], header=True)
            if not probe or probe.get("exit") != 0:
                notes.append("gateway relay not available (a 1 KiB echo through port %d failed)"
                             % GW_PROXY_PORT)
            else:
                self.relay_suite(name, GW_CLIENT_IP, GW_PROXY_PORT, header=True, pid=p.pid)
            self.results.get(name, {}).pop("probe", None)

        if not wait_port(self.lab, "client", GW_CLIENT_IP, GW_CMD_PORT, 3):
            notes.append("gateway command port not available (nothing listens on %d)" % GW_CMD_PORT)
        else:
            auth = ["--user", "Administrator", "--password", ADMIN_PASSWORD]
            self.load(name, "auth", "auth", GW_CLIENT_IP, GW_CMD_PORT, ["--conns", "8"] + auth)
            self.load(name, "auth_reconnect", "auth", GW_CLIENT_IP, GW_CMD_PORT,
                      ["--conns", "8", "--reconnect"] + auth)
            self.login_under_flood(name, d, env, adm)
        if notes:
            self.notes[name] = "; ".join(notes)


    def login_under_flood(self, name, d, env, adm):
        """The attack row: a right login from CLIENT_IP (a new connection each,
        as a client logs in), timed alone and while ATTACK_IP floods the
        command port with 200 connections, half of them guessing passwords
        over and over, half silent; each one the gateway closes connects
        again. The gateway lets one address hold only its share of the slots
        (MaxSlotsPerAddress, 20 by default) and holds back the replies to an
        address that failed to log in."""
        login = ["--conns", "1", "--reconnect", "--bind", CLIENT_IP, "--user", "Administrator",
                 "--password", ADMIN_PASSWORD]
        self.load(name, "login", "auth", GW_CLIENT_IP, GW_CMD_PORT, login)

        def counters():
            r = subprocess.run([adm, "--dir", d, "stats", "--json"], capture_output=True,
                               text=True, env=env)
            with contextlib.suppress(ValueError):
                return json.loads(r.stdout)
            return {}
        before = counters()
        flood_seconds = self.args.seconds + 3
        argv = [self.ovload, "auth", "--host", GW_CLIENT_IP, "--port", str(GW_CMD_PORT),
                "--bind", ATTACK_IP, "--conns", "200", "--idle", "100", "--user",
                "Administrator", "--password", "guess", "--seconds", str(flood_seconds),
                "--warmup", "0", "--label", name + "/flood"]
        flood = self.lab.start("client", argv, stdout=subprocess.PIPE, text=True)
        try:
            time.sleep(1)  # the flood takes every slot it may
            self.load(name, "login_flood", "auth", GW_CLIENT_IP, GW_CMD_PORT, login)
            out, _ = flood.communicate(timeout=flood_seconds + 10)
        finally:
            self.lab.stop(flood)
        after = counters()
        line = parse_line(out) or {}
        # Its connections closed by the gateway are the defence at work, not
        # errors of a measurement.
        line["flood_closed"] = line.pop("errors", "-")
        for key in ("cmd_refused_per_address", "login_replies_held", "logins_bad_password"):
            line[key] = after.get(key, 0) - before.get(key, 0)
        self.raw.append({"target": name, "metric": "flood", "argv": argv[1:],
                         "exit": flood.returncode, "line": out.strip()})
        self.results.setdefault(name, {}).setdefault("flood", []).append(line)
        log("%s/flood: %s" % (name, " ".join("%s=%s" % kv for kv in sorted(line.items()))))


def fnum(v, digits=0):
    return "-" if v is None else ("%.*f" % (digits, v))


def value(results, target, metric):
    """The figure a table row shows for target: the median over the repeats
    (the highest for memory); None when not measured."""
    # p50 and p99 come from one run, as does a stream's figure per CPU.
    source = ("pingpong" if metric.startswith("pingpong_")
              else metric[:-len("_per_cpu")] if metric.endswith("_per_cpu")
              else metric.rsplit("_", 1)[0] if metric.endswith(("_syscalls", "_cs"))
              else metric[:-len("_p50")] if metric.startswith("login") else metric)
    figures = [x for x in (figure(r, metric) for r in results.get(target, {}).get(source, []))
               if x is not None]
    if not figures:
        return None
    if metric in ("rss40", "rss400"):
        return max(figures)
    figures.sort()
    n = len(figures)
    return figures[n // 2] if n % 2 else (figures[n // 2 - 1] + figures[n // 2]) / 2


def figure(r, metric):
    if metric.endswith(("_syscalls", "_cs")):
        # Per MiB relayed (both ways), per round trip, or per connection.
        rate = r.get("syscalls_per_s" if metric.endswith("_syscalls") else "cs_per_s")
        unit = (float(r["total_mbit_s"]) * 1e6 / 8 / 1048576 if metric.startswith("stream")
                else float(r["round_trips"]) / float(r["seconds"]) if metric.startswith("pingpong")
                else float(r["conn_per_s"]))
        return rate / unit if rate is not None and unit else None
    if metric.endswith("_per_cpu"):
        cpu = r.get("relay_cpu")
        return float(r["total_mbit_s"]) / cpu if cpu else None
    if metric.startswith("stream"):
        return float(r["total_mbit_s"])
    if metric == "pingpong_p50":
        return float(r["rtt_p50_us"])
    if metric == "pingpong_p99":
        return float(r["rtt_p99_us"])
    if metric.startswith("login"):
        # A login with no reply in the window has no latency to show.
        return float(r[metric[-3:] + "_us"]) / 1000.0 if float(r.get("replies", 0)) else None
    if metric == "cer":
        return float(r["conn_per_s"])
    if metric in ("rss40", "rss400"):
        return r["kib"] / 1024.0 if r.get("kib") else None
    if metric.startswith("auth"):
        return float(r["auth_per_s"])
    return None


def table(results, notes, seconds, repeat):
    rows = [
        ("stream1", "throughput, 1 stream (Mbit/s, both ways)", 0),
        ("stream40", "throughput, 40 streams (Mbit/s, both ways)", 0),
        ("stream400", "throughput, 400 streams (Mbit/s, both ways)", 0),
        ("stream1_per_cpu", "1 stream, Mbit/s per core the relay used", 0),
        ("stream40_per_cpu", "40 streams, Mbit/s per core the relay used", 0),
        ("stream400_per_cpu", "400 streams, Mbit/s per core the relay used", 0),
        ("pingpong_p50", "1-byte round trip p50 (us)", 1),
        ("pingpong_p99", "1-byte round trip p99 (us)", 1),
        ("cer", "connect+1 KiB echo+close (conn/s)", 0),
        ("stream1_syscalls", "1 stream, system calls per MiB", 1),
        ("stream40_syscalls", "40 streams, system calls per MiB", 1),
        ("stream400_syscalls", "400 streams, system calls per MiB", 1),
        ("pingpong_syscalls", "system calls per round trip", 1),
        ("cer_syscalls", "system calls per connection", 1),
        ("cer_cs", "context switches per connection", 2),
        ("rss40", "peak RSS at 40 busy pairs (MiB)", 1),
        ("rss400", "peak RSS at 400 busy pairs (MiB)", 1),
        ("auth", "authentications/s (8 kept connections)", 0),
        ("auth_reconnect", "authentications/s (new connection each)", 0),
        ("login_p50", "login p50 (ms, new connection each)", 2),
        ("login_p99", "login p99 (ms, new connection each)", 2),
        ("login_flood_p50", "login p50 (ms), another address flooding", 2),
        ("login_flood_p99", "login p99 (ms), another address flooding", 2),
    ]
    head = "%-44s %9s %9s %9s %9s %8s %8s %8s" % (
        "measure", "direct", "socat", "haproxy", "gateway", "gw/socat", "gw/hap", "gw/dir")
    lines = [head, "-" * len(head)]
    for metric, label, digits in rows:
        v = {t: value(results, t, metric) for t in TARGETS}
        if all(x is None for x in v.values()):
            continue  # (the counts of --profile, say, in a run without it)
        g = v["gateway"]

        def ratio(base):
            return "-" if g is None or not base else "%.2f" % (g / base)

        lines.append("%-44s %9s %9s %9s %9s %8s %8s %8s" % (
            label, fnum(v["direct"], digits), fnum(v["socat"], digits), fnum(v["haproxy"], digits),
            fnum(g, digits), ratio(v["socat"]), ratio(v["haproxy"]), ratio(v["direct"])))
    # Added round trip: each relay's p50/p99 minus the direct path's.
    d = {q: value(results, "direct", "pingpong_" + q) for q in ("p50", "p99")}
    for q in ("p50", "p99"):
        added = []
        for t in ("socat", "haproxy", "gateway"):
            x = value(results, t, "pingpong_" + q)
            added.append("%s %s" % (t, "-" if x is None or d[q] is None else "%+.1f us" % (x - d[q])))
        lines.append("added round trip %s vs direct: %s" % (q, ", ".join(added)))
    for t in TARGETS:
        runs = [r for rs in results.get(t, {}).values() for r in rs]
        errs = sum(int(r.get("errors", 0)) for r in runs)
        bad = sum(int(r.get("corrupt", 0)) for r in runs)
        if errs or bad:
            lines.append("%s: %d connection errors, %d corrupted streams in the windows" % (t, errs, bad))
    # The attack row: the same login with and without the flood.
    for t in TARGETS:
        alone = [value(results, t, "login_" + q) for q in ("p50", "p99")]
        flooded = [value(results, t, "login_flood_" + q) for q in ("p50", "p99")]
        floods = results.get(t, {}).get("flood", [])
        if not floods or None in alone + flooded:
            continue
        # Each of the flood's figures: the median over the runs.
        f = {k: sorted(int(r[k]) for r in floods)[len(floods) // 2]
             for k in ("replies", "flood_closed", "cmd_refused_per_address", "login_replies_held")
             if all(str(r.get(k, "")).isdigit() for r in floods)}
        lines.append(
            "%s under attack: a right login from a second address while one address floods the "
            "command port with 200 connections (100 guessing, 100 silent): p50 x%.2f, p99 x%.2f "
            "of the same login alone; the flood got %s replies and had %s connections closed, "
            "%s of them at once (one address's share of the slots), %s replies held back" % (
                t, flooded[0] / alone[0], flooded[1] / alone[1], f.get("replies", "-"),
                f.get("flood_closed", "-"), f.get("cmd_refused_per_address", "-"),
                f.get("login_replies_held", "-")))
    if results.get("baseline"):
        lines.append("gateway / baseline (another build, same run): " + ", ".join(
            "%s %s" % (metric, "-" if not value(results, "baseline", metric)
                       or value(results, "gateway", metric) is None
                       else "%.3f" % (value(results, "gateway", metric)
                                      / value(results, "baseline", metric)))
            for metric, _, _ in rows))
    lines.append("")
    lines.append("targets for the gateway: " + "; ".join("%s %s" % kv for kv in TARGET_TEXT.items()))
    for t, why in notes.items():
        lines.append("%s: not measured: %s" % (t, why))
    lines.append("each measurement: %.1f s after a 0.5 s warm-up; figures are the median of %d "
                 "run(s), the targets taking turns" % (seconds, repeat))
    return "\n".join(lines) + "\n"


def plot(results, out):
    """Throughput and connection rate as a share of the direct path."""
    if not shutil.which("gnuplot"):
        log("gnuplot is not installed (apt-get install gnuplot-nox); no plot")
        return
    data = os.path.join(out, "relay.dat")
    metrics = [("stream1", "1 stream"), ("stream40", "40 streams"), ("cer", "conn/s")]
    shown = [t for t in TARGETS[1:]
             if any(value(results, t, m) is not None for m, _ in metrics)]
    if not value(results, "direct", "stream1") or not shown:
        log("nothing to plot without the direct path and one relay")
        return
    with open(data, "w") as f:
        f.write("measure " + " ".join(shown) + "\n")
        for m, label in metrics:
            base = value(results, "direct", m)
            cells = []
            for t in shown:
                v = value(results, t, m)
                cells.append("%.3f" % (v / base) if v is not None and base else "0")
            f.write('"%s" %s\n' % (label, " ".join(cells)))
    script = ("set terminal pngcairo size 640,360\n"
              "set output '%s'\nset style data histogram\nset style fill solid border -1\n"
              "set key autotitle columnhead outside right top\nset yrange [0:*]\n"
              "set ylabel 'share of the direct path'\nset grid ytics\n"
              "plot '%s' using 2:xtic(1)%s\n"
              % (os.path.join(out, "relay.png"), data,
                 "".join(", '' using %d" % (i + 3) for i in range(len(shown) - 1))))
    r = subprocess.run(["gnuplot"], input=script, text=True, capture_output=True)
    if r.returncode != 0:
        # Without cairo, the plain png terminal.
        r = subprocess.run(["gnuplot"], input=script.replace("pngcairo", "png"), text=True,
                           capture_output=True)
    log("plot: %s" % (os.path.join(out, "relay.png") if r.returncode == 0 else r.stderr.strip()))


def main():
    ap = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    ap.add_argument("--seconds", type=float, default=3.0, help="length of each measurement")
    ap.add_argument("--out", default=os.path.join(BUILD, "bench-results"))
    ap.add_argument("--only", default=",".join(TARGETS), help="comma-separated: " + ",".join(TARGETS))
    ap.add_argument("--repeat", type=int, default=1,
                    help="run every target this many times, in turns; report medians")
    ap.add_argument("--no-build", action="store_true")
    ap.add_argument("--plot", action="store_true", help="relay.png with gnuplot")
    ap.add_argument("--profile", action="store_true",
                    help="count the relay's system calls and context switches with perf, and "
                         "write where its CPU time goes (perf-TARGET-METRIC.txt)")
    ap.add_argument("--baseline-bin", metavar="DIR",
                    help="also measure the programs of DIR (another build's bin/; the libraries "
                         "it lacks come from this build) as target 'baseline', and report "
                         "gateway/baseline")
    args = ap.parse_args()
    if args.baseline_bin:
        TARGETS.append("baseline")
    only = [t for t in args.only.split(",") if t]
    if args.baseline_bin and "baseline" not in only:
        only.append("baseline")
    if any(t not in TARGETS for t in only) or not 0.5 <= args.seconds <= 30 or not 1 <= args.repeat <= 9:
        ap.error("--only takes %s; --seconds 0.5 to 30; --repeat 1 to 9" % ",".join(TARGETS))
    if os.geteuid() != 0:
        sys.exit("run.py: the network namespaces need root")
    install_missing(only + (["--plot"] if args.plot else []) + (["--profile"] if args.profile else []))
    if not args.no_build:
        subprocess.run(["cmake", "--preset", "linux"], cwd=SOURCE, check=True, stdout=subprocess.DEVNULL)
        subprocess.run(["cmake", "--build", "--preset", "linux", "-j2", "--target", "ovload",
                        "ovsink", "OV_G", "ovadmin"], cwd=SOURCE, check=True, stdout=subprocess.DEVNULL)
    for tool in ("ovload", "ovsink"):
        if not os.path.exists(os.path.join(BUILD, "bench", tool)):
            sys.exit("run.py: %s is not built (cmake --build --preset linux)" % tool)
    os.makedirs(args.out, exist_ok=True)

    # Every way of being stopped goes out through the finally below, which
    # removes the namespaces (a job started in the background may inherit
    # SIGINT ignored, so it is set here, not assumed).
    signal.signal(signal.SIGINT, signal.default_int_handler)
    for sig in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(sig, lambda n, _: sys.exit(128 + n))
    lab = Lab()
    args.work = tempfile.mkdtemp(prefix="ovbench-")
    try:
        lab.build()
        agent_log = open(os.path.join(args.out, "agent.log"), "w")
        agent = lab.start("agent", [os.path.join(BUILD, "bench", "ovsink"), "--listen", AGENT_IP,
                                    "--port", str(AGENT_PORT), "--announce", COMPUTER,
                                    "--announce-to", LAN_BROADCAST, "--announce-address", AGENT_IP],
                          stderr=agent_log)
        bench = Bench(args, lab, args.out)
        if not wait_port(lab, "gw", AGENT_IP, AGENT_PORT, 5):
            sys.exit("run.py: the agent did not start")
        for n in range(args.repeat):
            for t in only:
                log("--- %s (run %d of %d)" % (t, n + 1, args.repeat))
                getattr(bench, "run_" + t)()
        lab.stop(agent)
        agent_log.close()
        with open(os.path.join(args.out, "agent.log")) as f:
            agent_totals = [l for l in f.read().splitlines() if l.startswith("ovsink ")]
        text = table(bench.results, bench.notes, args.seconds, args.repeat)
        stamp = datetime.datetime.now().isoformat(timespec="seconds")
        with open(os.path.join(args.out, "results.txt"), "w") as f:
            f.write("# %s, %s\n" % (stamp, " ".join(sys.argv)))
            f.write(text)
        with open(os.path.join(args.out, "results.json"), "w") as f:
            json.dump({"when": stamp, "seconds": args.seconds, "results": bench.results,
                       "notes": bench.notes, "raw": bench.raw, "agent": agent_totals}, f, indent=1)
        print()
        print(text, end="")
        print("agent: %s" % (agent_totals[0] if agent_totals else "-"))
        print("results in %s" % args.out)
        if args.plot:
            plot(bench.results, args.out)
        corrupt = any(int(r.get("corrupt", 0)) for t in bench.results.values()
                      for rs in t.values() for r in rs)
        return 1 if corrupt else 0
    finally:
        lab.close()
        shutil.rmtree(args.work, ignore_errors=True)


if __name__ == "__main__":
    try:
        sys.exit(main())
    except KeyboardInterrupt:
        sys.exit("run.py: interrupted; namespaces removed")
