"""The Debian package: built with cpack from this build, it holds the
programs in /opt/ov-gateway with the commands on the PATH, the systemd unit
and the documentation; its dependencies are computed; its maintainer scripts
are sound shell; and the programs it carries run from an unpacked root (the
gateway only inside a test namespace)."""

import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(__file__))
import ovtest  # noqa: E402

DIR = "/opt/ov-gateway"
PROGRAMS = ["OV_G", "ovadmin", "ovconnect", "ovannounce", "libovhttp.so", "libovident.so"]


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
    for cmd in ("ovadmin", "ovconnect"):
        line = paths.get("./usr/bin/" + cmd, "")
        check(line.startswith("l") and line.endswith("-> %s/%s" % (DIR, cmd)),
              "%s on the PATH: %r" % (cmd, line))
    for f in ("./lib/systemd/system/ov-gateway.service",
              "./usr/share/doc/ov-gateway/README.md",
              "./usr/share/doc/ov-gateway/compatibility.md"):
        check(f in paths, "%s is in the package" % f)

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
              "ConditionPathExists=%s/uinfo.dat" % DIR in text,
              "the unit runs the gateway once there is an administrator")
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

        env = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8", OVG_LOG_THRESHOLD="-1",
                   OVG_NO_DIALOGS="1", OVG_IPC_DIR=os.path.join(prog, "ipc"))
        os.makedirs(env["OVG_IPC_DIR"])
        adm = lambda *a: subprocess.run([os.path.join(prog, "ovadmin")] + list(a),
                                        capture_output=True, text=True, env=env)
        check(adm("init", "--admin-password", "pw").returncode == 0,
              "the packaged ovadmin makes the administrator beside itself")
        check(os.path.exists(os.path.join(prog, "uinfo.dat")), "uinfo.dat is in %s" % DIR)
        for tool in ("ovconnect", "ovannounce"):
            r = subprocess.run([os.path.join(prog, tool), "--help"], capture_output=True,
                               text=True)
            check(r.returncode == 0 and "usage" in (r.stdout + r.stderr).lower(),
                  "the packaged %s runs" % tool)
        if ovtest.can_make_namespaces():
            with ovtest.namespaces("deb", "deblan") as (ns, lan):
                ovtest.link(ns, "192.0.2.1", lan, "192.0.2.2")
                gw = ns.popen([os.path.join(prog, "OV_G"), "-run"], env=env,
                              stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
                end, status = time.time() + 15, None
                while time.time() < end and gw.poll() is None:
                    status = adm("status")
                    if status.returncode == 0:
                        break
                    time.sleep(0.2)
                check(status is not None and status.returncode == 0,
                      "the packaged gateway runs and publishes its list (%r)" % (status,))
                ns.run([os.path.join(prog, "OV_G"), "-end"], env=env, timeout=30)
                check(ovtest.wait_exit(gw, 15) == 0, "and ends on -end")
    finally:
        shutil.rmtree(root, ignore_errors=True)
    return check.exit_code()


if __name__ == "__main__":
    sys.exit(main())
