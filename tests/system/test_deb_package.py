"""The Debian package: built with cpack from this build, it holds the
programs in /usr/lib/ov-gateway with the commands on the PATH, the systemd
unit, the documentation and the manual pages; its dependencies are computed;
lintian finds no error or warning; its maintainer scripts are sound shell;
the unit's exposure stays within 2.0; and the programs it carries run from
an unpacked root: ovadmin, run by root, makes the administrator in a data
directory of the gateway's own user, and the gateway, run as that user with
CAP_NET_BIND_SERVICE alone (inside test namespaces), binds port 768, lists an
announced computer, relays to it and writes its log; without the capability
it fails with its message; members of its group read its list, counters and
access record. Last, the unit itself: a container booted by systemd-nspawn
starts the gateway in the unit's sandbox, where it still learns a computer's
hardware address, lists and relays."""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(__file__))
import ovtest  # noqa: E402

DIR = "/usr/lib/ov-gateway"
DATA = "/var/lib/ov-gateway"
PROGRAMS = ["OV_G", "ovadmin", "ovconnect", "ovannounce", "libovhttp.so", "libovident.so"]
# A user and group of no account: the gateway's own user in the test.
TEST_UID = 64124
EXPOSURE_GOAL = 2.0


def main():
    if not ovtest.BUILD_DIR or not shutil.which("cpack") or not shutil.which("dpkg-deb"):
        ovtest.skip("needs the build directory, cpack and dpkg-deb")
    check = ovtest.Checks()
    build = ovtest.BUILD_DIR
    r = subprocess.run(["cpack", "--config", os.path.join(build, "CPackConfig.cmake")],
                       cwd=build, capture_output=True, text=True, timeout=240)
    check(r.returncode == 0, "cpack builds the package: " + (r.stdout + r.stderr)[-1500:])
    pkgdir = os.path.join(build, "package")
    debs = [f for f in os.listdir(pkgdir) if f.endswith(".deb")] if os.path.isdir(pkgdir) else []
    check(len(debs) == 1 and debs[0].startswith("ov-gateway_") and debs[0].endswith("_amd64.deb"),
          "one ov-gateway_<version>_amd64.deb: %r" % debs)
    if not debs:
        return check.exit_code()
    deb = os.path.join(pkgdir, debs[0])

    info = subprocess.run(["dpkg-deb", "--info", deb], capture_output=True, text=True).stdout
    fields = {}
    for line in info.splitlines():
        if line.startswith(" ") and ":" in line and not line.startswith("  "):
            k, _, v = line.strip().partition(":")
            fields[k] = v.strip()
    check(fields.get("Package") == "ov-gateway" and fields.get("Architecture") == "amd64",
          "package name and architecture: %r" % fields)
    depends = fields.get("Depends", "")
    check("libc6" in depends and "libstdc++6" in depends,
          "dependencies computed from the programs: %r" % depends)
    for script in ("postinst", "prerm", "postrm"):
        check(script in info, "the package has its %s" % script)

    contents = subprocess.run(["dpkg-deb", "--contents", deb], capture_output=True,
                              text=True).stdout
    paths = {l.split()[5]: l for l in contents.splitlines() if len(l.split()) >= 6}
    for p in PROGRAMS:
        check("." + DIR + "/" + p in paths, "%s/%s is in the package" % (DIR, p))
    for link in ("bin/ovadmin", "bin/ovconnect", "bin/ovannounce", "sbin/OV_G"):
        line = paths.get("./usr/" + link, "")
        check(line.startswith("l") and
              line.endswith("-> ../lib/ov-gateway/" + link.split("/")[1]),
              "%s on the PATH, a relative link: %r" % (link, line))
    for f in ("./lib/systemd/system/ov-gateway.service",
              "./usr/share/doc/ov-gateway/README.md",
              "./usr/share/doc/ov-gateway/compatibility.md",
              "./usr/share/doc/ov-gateway/copyright",
              "./usr/share/doc/ov-gateway/changelog.gz",
              "./usr/share/man/man8/OV_G.8.gz", "./usr/share/man/man1/ovadmin.1.gz",
              "./usr/share/man/man1/ovconnect.1.gz", "./usr/share/man/man1/ovannounce.1.gz"):
        check(f in paths, "%s is in the package" % f)

    if shutil.which("lintian"):
        r = subprocess.run(["lintian", "--fail-on", "error,warning", "--tag-display-limit", "0",
                            deb], capture_output=True, text=True, timeout=300)
        tags = [l for l in r.stdout.splitlines() if l[:2] in ("E:", "W:")]
        check(r.returncode == 0 and not tags, "lintian: no error, no warning: %r" % tags)
    else:
        print("note: lintian is missing; tools/test installs it")

    root = tempfile.mkdtemp(prefix="ovdeb-")
    try:
        subprocess.run(["dpkg-deb", "--control", deb, os.path.join(root, "DEBIAN")], check=True)
        for script in ("postinst", "prerm", "postrm"):
            r = subprocess.run(["sh", "-n", os.path.join(root, "DEBIAN", script)],
                               capture_output=True, text=True)
            check(r.returncode == 0, "%s is sound shell: %s" % (script, r.stderr))
        subprocess.run(["dpkg-deb", "-x", deb, root], check=True)
        prog = os.path.join(root, DIR.lstrip("/"))
        unit = os.path.join(root, "lib/systemd/system/ov-gateway.service")
        with open(unit) as f:
            text = f.read()
        check("ExecStart=%s/OV_G -run" % DIR in text and
              "ConditionPathExists=%s/uinfo.dat" % DATA in text,
              "the unit runs the gateway once there is an administrator")
        check("\nUser=ov-gateway\n" in text and "OVG_DATA_DIR=%s " % DATA in text and
              "\nAmbientCapabilities=CAP_NET_BIND_SERVICE\n" in text,
              "as the user ov-gateway, with its data in %s and one capability" % DATA)
        check("\nRestart=on-failure\n" in text and "\nRestartSec=" in text,
              "and starts it again, after a pause, when it ends with a failure")
        if shutil.which("systemd-analyze"):
            # The unit as it would be, pointed at the unpacked programs.
            d = tempfile.mkdtemp(prefix="ovunit-")
            with open(os.path.join(d, "ov-gateway.service"), "w") as f:
                f.write(text.replace(DIR, prog))
            r = subprocess.run(["systemd-analyze", "verify", os.path.join(d, "ov-gateway.service")],
                               capture_output=True, text=True)
            shutil.rmtree(d, ignore_errors=True)
            check(r.returncode == 0 and not r.stderr.strip(),
                  "systemd-analyze verify finds nothing: %r" % r.stderr)
            r = subprocess.run(["systemd-analyze", "security", "--offline=yes", unit],
                               capture_output=True, text=True)
            m = re.search(r"Overall exposure level for \S+: (\d+\.\d+)", r.stdout)
            check(r.returncode == 0 and m and float(m.group(1)) <= EXPOSURE_GOAL,
                  "systemd-analyze security rates the unit %s (goal %.1f)"
                  % (m.group(1) if m else r.stdout[-300:] + r.stderr, EXPOSURE_GOAL))

        upgrade_from_opt(check, os.path.join(root, "DEBIAN", "postinst"))
        run_installed(check, root, prog)
        run_under_systemd(check, root, prog)
    finally:
        shutil.rmtree(root, ignore_errors=True)
    return check.exit_code()


def upgrade_from_opt(check, postinst):
    """postinst configure over a package that kept its data in /opt, run in
    a mount namespace where /opt, /var/lib, the unit links and the user
    database are copies of the test's own."""
    if not shutil.which("unshare"):
        print("note: no unshare: the upgrade from /opt is not tried")
        return
    t = tempfile.mkdtemp(prefix="ovupg-")
    try:
        for d in ("opt/ov-gateway", "varlib", "units"):
            os.makedirs(os.path.join(t, d))
        files = {"uinfo.dat": os.urandom(300), "TrustID.dat": os.urandom(200),
                 "OV_G.ini": b"[S_CFG]\r\nflg_encrypt=1\r\n", "OV_G.log": b"old log\n"}
        for name, data in files.items():
            with open(os.path.join(t, "opt/ov-gateway", name), "wb") as f:
                f.write(data)
        for db, line in (("passwd", "ov-gateway:x:%d:%d::/var/lib/ov-gateway:/usr/sbin/nologin"),
                         ("group", "ov-gateway:x:%d:")):
            with open("/etc/" + db) as f:
                text = f.read()
            with open(os.path.join(t, db), "w") as f:
                f.write(text.rstrip("\n") + "\n" + line.replace("%d", str(TEST_UID)) + "\n")
        script = ("set -e; mount --bind %(t)s/opt /opt; mount --bind %(t)s/varlib /var/lib; "
                  "mount --bind %(t)s/units /etc/systemd/system; "
                  "mount --bind %(t)s/passwd /etc/passwd; mount --bind %(t)s/group /etc/group; "
                  "sh %(p)s configure 0.1" % {"t": t, "p": postinst})
        r = subprocess.run(["unshare", "--mount", "--propagation", "private", "sh", "-c", script],
                           capture_output=True, text=True, timeout=60)
        check(r.returncode == 0, "postinst configure over the /opt package: %r" % (r,))
        data = os.path.join(t, "varlib/ov-gateway")
        moved = all(os.path.exists(os.path.join(data, n)) and
                    open(os.path.join(data, n), "rb").read() == v for n, v in files.items())
        check(moved and not os.path.exists(os.path.join(t, "opt/ov-gateway")),
              "the upgrade moves accounts, IDs, settings and log from /opt/ov-gateway to %s "
              "intact (%r)" % (DATA, os.listdir(data) if os.path.isdir(data) else None))
        st = os.stat(data) if os.path.isdir(data) else None
        check(st is not None and st.st_uid == TEST_UID and st.st_mode & 0o777 == 0o750 and
              all(os.stat(os.path.join(data, n)).st_uid == TEST_UID for n in files
                  if os.path.exists(os.path.join(data, n))),
              "the directory and the moved files are the gateway user's, the directory 0750")
    finally:
        shutil.rmtree(t, ignore_errors=True)


def login_until_relayed(lan, gateway, seconds):
    """Logs in from the LAN as the administrator and relays to pc1 until both
    work (or gateway ends, or seconds pass); the client's last output."""
    out, end = "", time.time() + seconds
    while time.time() < end and gateway.poll() is None:
        r = lan.run([sys.executable, "-c", ovtest.LOGIN_CLIENT, "192.0.2.1", "6111",
                     "Administrator", "pw", "pc1"])
        out = (r.stdout + r.stderr[-300:]).decode("utf-8", "replace")
        # The login's list may precede the computer's publication by a
        # moment, while the relay after it already finds it.
        if "names=pc1" in out and "relayed=True" in out:
            break
        time.sleep(0.5)
    return out


def run_installed(check, root, prog):
    """The unpacked programs with the data in a directory of the gateway's
    user and the named objects in one of its own, as the unit has them."""
    os.chmod(root, 0o755)
    data = os.path.join(root, DATA.lstrip("/"))
    ipc = os.path.join(root, "run/ov-gateway")
    for d in (data, ipc):
        os.makedirs(d)
        os.chown(d, TEST_UID, TEST_UID)
        os.chmod(d, 0o750)
    env = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8", OVG_LOG_THRESHOLD="-1",
               OVG_NO_DIALOGS="1", OVG_IPC_DIR=ipc, OVG_DATA_DIR=data)
    adm = lambda *a: subprocess.run([os.path.join(prog, "ovadmin")] + list(a),
                                    capture_output=True, text=True, env=env)
    r = adm("init", "--admin-password", "pw")
    check(r.returncode == 0, "the packaged ovadmin makes the administrator: %r" % (r,))
    uinfo = os.path.join(data, "uinfo.dat")
    check(os.path.exists(uinfo) and os.stat(uinfo).st_uid == TEST_UID,
          "uinfo.dat is in the data directory, owned by its user, not root")
    check(adm("server", "set", "--id-check", "0").returncode == 0, "the ID check off")
    for tool in ("ovconnect", "ovannounce"):
        r = subprocess.run([os.path.join(prog, tool), "--help"], capture_output=True, text=True)
        check(r.returncode == 0 and "usage" in (r.stdout + r.stderr).lower(),
              "the packaged %s runs" % tool)
    if not ovtest.can_make_namespaces() or not shutil.which("setpriv"):
        print("note: no namespaces or setpriv: the packaged gateway is not run")
        return
    as_user = ["setpriv", "--reuid=%d" % TEST_UID, "--regid=%d" % TEST_UID, "--clear-groups",
               "--no-new-privs"]
    with_cap = as_user + ["--inh-caps=-all,+net_bind_service",
                          "--ambient-caps=-all,+net_bind_service",
                          "--bounding-set=-all,+net_bind_service"]
    without = as_user + ["--inh-caps=-all", "--bounding-set=-all"]
    # The unit's umask: the gateway's named objects and logs must still be
    # readable by the group its directories are made for.
    gateway = ["sh", "-c", 'umask 077 && exec "$0" -run', os.path.join(prog, "OV_G")]
    member = ["setpriv", "--reuid=%d" % (TEST_UID + 1), "--regid=%d" % (TEST_UID + 1),
              "--groups=%d" % TEST_UID, "--no-new-privs", os.path.join(prog, "ovadmin")]
    with ovtest.namespaces("deb", "deblan") as (ns, lan):
        ovtest.link(ns, "192.0.2.1", lan, "192.0.2.2")
        r = ns.run(without + gateway, env=env, timeout=30)
        err = r.stderr.decode("gbk", "replace")
        log = ovtest.read_gbk(os.path.join(data, "OV_G.log"))
        check(r.returncode != 0 and "socket err:err 13 - Permission denied" in err + log,
              "without CAP_NET_BIND_SERVICE the gateway fails with its message (%d, %r, %r)"
              % (r.returncode, err[-300:], log[-300:]))
        gw = ns.popen(with_cap + gateway, env=env, stdout=subprocess.DEVNULL,
                      stderr=subprocess.DEVNULL)
        pc = lan.popen([sys.executable, "-c", ovtest.ANNOUNCING_ECHO, "192.0.2.2", "9000",
                        "192.0.2.255", "pc1:9000"], stdout=subprocess.DEVNULL,
                       stderr=subprocess.DEVNULL)
        try:
            out = login_until_relayed(lan, gw, 30)
            check("names=pc1" in out and "relayed=True" in out,
                  "the gateway as that user with CAP_NET_BIND_SERVICE alone lists the "
                  "announced computer and relays to it (%r)" % out)
            status = adm("list")
            check(status.returncode == 0 and "pc1" in status.stdout,
                  "root's ovadmin reads the running gateway's list: %r" % (status,))
            for args, want in ((["list"], "pc1"), (["stats"], "relays"),
                               (["access", "--user", "Administrator"], "Administrator")):
                r = subprocess.run(member + args, capture_output=True, text=True, env=env)
                check(r.returncode == 0 and want in r.stdout,
                      "a member of the gateway's group, not root, runs ovadmin %s: %r"
                      % (args[0], r))
            bound = ns.run(["ss", "-Hlunp", "sport", "= :768"]).stdout.decode()
            check("OV_G" in bound, "it holds UDP port 768 (%r)" % bound)
            ns.run(as_user + [os.path.join(prog, "OV_G"), "-end"], env=env, timeout=30)
            check(ovtest.wait_exit(gw, 15) == 0, "and ends on -end")
        finally:
            for p in (pc, gw):
                if p.poll() is None:
                    p.kill()
                p.wait()
    log = os.path.join(data, "OV_G.log")
    check(os.path.exists(log) and os.stat(log).st_uid == TEST_UID and
          os.path.getsize(log) > 0, "it writes OV_G.log in its data directory")
    check(os.path.exists(os.path.join(data, "OV_G.access.log")),
          "and its access record beside it")


# The container's own services that would touch the test's network or wait
# for a bus it has no use for.
MASKED = ("systemd-networkd.service", "systemd-networkd.socket",
          "systemd-networkd-wait-online.service", "systemd-resolved.service",
          "systemd-timesyncd.service", "systemd-logind.service", "dbus.service",
          "dbus.socket", "console-getty.service", "getty.target")


def container_process(leader, name):
    """The pid (as the host sees it) of the process called name in the
    container whose first process is leader."""
    ns = os.readlink("/proc/%d/ns/pid" % leader)
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            if (open("/proc/%s/comm" % pid).read().strip() == name and
                    os.readlink("/proc/%s/ns/pid" % pid) == ns):
                return int(pid)
        except OSError:
            pass
    return None


def run_under_systemd(check, root, prog):
    """The unit itself, its sandbox applied by systemd: a container that
    systemd-nspawn boots on this system's /usr (through an overlay: nothing
    of the host changes) with the package's files added, the network being
    a test namespace's. The gateway that the unit starts must list an
    announced computer, which needs its ARP answer (a datagram, netlink and
    /proc/net/arp) under the sandbox, and relay to it."""
    if not shutil.which("systemd-nspawn") or not ovtest.can_make_namespaces():
        print("note: no systemd-nspawn or namespaces: the unit is not booted")
        return
    t = tempfile.mkdtemp(prefix="ovboot-")
    os.chmod(t, 0o755)  # ovadmin prepares the data as the gateway's user
    tree = os.path.join(t, "tree")
    usr = os.path.join(tree, "usr")
    etc = os.path.join(tree, "etc")
    for d in (usr, os.path.join(t, "upper"), os.path.join(t, "work"),
              os.path.join(etc, "systemd/system/multi-user.target.wants"),
              os.path.join(tree, "var/lib")):
        os.makedirs(d)
    r = subprocess.run(["mount", "-t", "overlay", "overlay", "-o",
                        "lowerdir=/usr,upperdir=%s/upper,workdir=%s/work" % (t, t), usr],
                       capture_output=True, text=True)
    if r.returncode != 0:
        print("note: no overlay mount here (%s): the unit is not booted" % r.stderr.strip())
        shutil.rmtree(t, ignore_errors=True)
        return
    boot = None
    try:
        for d in ("bin", "lib", "lib64", "sbin"):
            os.symlink("usr/" + d, os.path.join(tree, d))
        shutil.copytree(os.path.join(root, "usr"), usr, symlinks=True, dirs_exist_ok=True)
        shutil.copytree(os.path.join(root, "lib"), os.path.join(usr, "lib"), symlinks=True,
                        dirs_exist_ok=True)
        with open(os.path.join(etc, "passwd"), "w") as f:
            f.write("root:x:0:0::/root:/bin/sh\n"
                    "ov-gateway:x:%d:%d::%s:/usr/sbin/nologin\n" % (TEST_UID, TEST_UID, DATA))
        with open(os.path.join(etc, "group"), "w") as f:
            f.write("root:x:0:\nov-gateway:x:%d:\n" % TEST_UID)
        for unit in MASKED:
            os.symlink("/dev/null", os.path.join(etc, "systemd/system", unit))
        os.symlink("/lib/systemd/system/ov-gateway.service",
                   os.path.join(etc, "systemd/system/multi-user.target.wants/ov-gateway.service"))
        data = os.path.join(tree, DATA.lstrip("/"))
        os.makedirs(data)
        os.chown(data, TEST_UID, TEST_UID)
        os.chmod(data, 0o750)
        env = dict(os.environ, LANG="C.UTF-8", OVG_DATA_DIR=data)
        for args in (["init", "--admin-password", "pw"], ["server", "set", "--id-check", "0"]):
            r = subprocess.run([os.path.join(prog, "ovadmin")] + args, capture_output=True,
                               text=True, env=env)
            check(r.returncode == 0, "ovadmin %s for the container: %r" % (args[0], r))
        with ovtest.namespaces("unit", "unitlan") as (ns, lan):
            ovtest.link(ns, "192.0.2.1", lan, "192.0.2.2")
            console = open(os.path.join(t, "console"), "w+")
            boot = subprocess.Popen(["systemd-nspawn", "--quiet", "--register=no", "--keep-unit",
                                     "--console=pipe", "-D", tree,
                                     "--network-namespace-path=/run/netns/" + ns.name, "--boot"],
                                    stdin=subprocess.DEVNULL, stdout=console,
                                    stderr=subprocess.STDOUT)
            pc = lan.popen([sys.executable, "-c", ovtest.ANNOUNCING_ECHO, "192.0.2.2", "9000",
                            "192.0.2.255", "pc1:9000"], stdout=subprocess.DEVNULL,
                           stderr=subprocess.DEVNULL)
            try:
                out = login_until_relayed(lan, boot, 60)
                check("names=pc1" in out and "relayed=True" in out,
                      "the gateway started by the unit, in its sandbox, learns the announced "
                      "computer's hardware address, lists it and relays to it (%r)" % out)
                leader = int(subprocess.run(["ps", "-o", "pid=", "--ppid", str(boot.pid)],
                                            capture_output=True, text=True).stdout.split()[0])
                pid = container_process(leader, "OV_G")
                status = {}
                if pid:
                    for line in open("/proc/%d/status" % pid):
                        k, _, v = line.partition(":")
                        status[k] = v.split()
                check(status.get("Uid", [None])[0] == str(TEST_UID) and
                      status.get("CapEff") == ["0000000000000400"] and
                      status.get("CapBnd") == ["0000000000000400"] and
                      status.get("NoNewPrivs") == ["1"] and status.get("Seccomp") == ["2"],
                      "as the user ov-gateway with CAP_NET_BIND_SERVICE alone, no new "
                      "privileges and a system call filter: %r" % {
                          k: status.get(k) for k in ("Uid", "CapEff", "CapBnd", "NoNewPrivs",
                                                     "Seccomp")})
                inside = ["nsenter", "-t", str(leader), "-a"]
                r = subprocess.run(inside + ["/usr/bin/ovadmin", "list"], capture_output=True,
                                   text=True, timeout=30)
                check(r.returncode == 0 and "pc1" in r.stdout,
                      "ovadmin, without --dir or environment, finds the service's list: %r" % r)
                r = subprocess.run(inside + ["journalctl", "--no-pager", "-u", "ov-gateway"],
                                   capture_output=True, text=True, timeout=30)
                check("Started" in r.stdout and "ov-gateway" in r.stdout,
                      "the journal has the service's start: %r" % r.stdout[-500:])
            finally:
                pc.kill()
                pc.wait()
                boot.terminate()
                if ovtest.wait_exit(boot, 30) is None:
                    boot.kill()
                    boot.wait()
                console.close()
    finally:
        if boot is not None and boot.poll() is None:
            boot.kill()
            boot.wait()
        subprocess.run(["umount", "-l", usr], capture_output=True)
        shutil.rmtree(t, ignore_errors=True)


if __name__ == "__main__":
    sys.exit(main())
