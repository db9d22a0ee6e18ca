"""The Windows setup program under Wine, in a fresh prefix inside a test
namespace: a silent install creates the programs, the administrator and the
service, which runs; an upgrade keeps changed accounts and settings and
brings the service back; the uninstaller removes the service and the
programs and, when silent, keeps the data."""

import glob
import os
import sys
import time

sys.path.insert(0, os.path.dirname(__file__))
import ovtest  # noqa: E402

KEY = "HKLM\\System\\CurrentControlSet\\Services\\OV_Gateway service"
RUN = "HKLM\\Software\\Microsoft\\Windows\\CurrentVersion\\Run"
PROGRAMS = ["OV_G.exe", "ovconsole.exe", "ovsetup.dll", "ovagentset.dll", "ovhttp.dll",
            "ovident.dll", "ovadmin.exe", "ovconnect.exe", "ovannounce.exe", "README.md",
            "compatibility.md", "uninstall.exe"]


def main():
    setups = glob.glob(os.path.join(ovtest.BUILD_DIR, "package", "ov-gateway-setup-*-win64.exe"))
    if not setups:
        ovtest.skip("no setup program (cmake --build --preset win64 --target installer)")
    setup = setups[0]
    ovtest.need_namespaces()
    check = ovtest.Checks()

    with ovtest.namespaces("winst") as (ns,), ovtest.wine_session(ns) as env:
        def wine(*args, timeout=180):
            rc, out, err = ovtest.wine_run(ns, env, *args, timeout=timeout)
            return rc, out + err

        home = os.path.join(env["WINEPREFIX"], "drive_c", "OVG")
        adm = "C:\\OVG\\ovadmin.exe"

        def running(want, seconds=20):
            end, out = time.time() + seconds, ""
            while time.time() < end:
                out = wine(adm, "status")[1]
                if out.startswith("running" if want else "stopped"):
                    return True
                time.sleep(0.5)
            return False

        rc, out = wine(setup, "/S", "/START", "/D=C:\\OVG")
        check(rc == 2, "without a password a first install refuses (rc %d)" % rc)
        check(not os.path.exists(home), "and changes nothing (%r)"
              % (os.listdir(home) if os.path.isdir(home) else None))

        rc, out = wine(setup, "/S", "/PASSWORD=pw", "/START", "/D=C:\\OVG")
        check(rc == 0, "the silent install succeeds (rc %d, %r)" % (rc, out[-300:]))
        missing = [p for p in PROGRAMS if not os.path.exists(os.path.join(home, p))]
        check(not missing, "every program is installed: missing %r" % missing)
        rc, out = wine(adm, "accounts", "list")
        check(rc == 0 and out.startswith("Administrator\tenabled"),
              "the administrator is made (%r)" % out)
        rc, out = wine("reg", "query", KEY)
        check(rc == 0 and "OV_G.exe" in out, "the service is installed")
        rc, out = wine("reg", "query", RUN, "/v", "OVConsole")
        check(rc == 0 and "ovconsole.exe" in out, "the console starts at log-on")
        check(running(True), "the service runs its gateway")

        wine(adm, "accounts", "add", "bob", "secret")
        wine(adm, "ini", "set", "S_CFG", "Alias", "upgraded-alias")
        rc, out = wine(setup, "/S", "/D=C:\\OVG")
        check(rc == 0, "an upgrade needs no password (rc %d)" % rc)
        rc, out = wine(adm, "accounts", "list")
        check("\nbob\tenabled" in out, "the upgrade keeps the accounts (%r)" % out)
        rc, out = wine(adm, "ini", "get", "S_CFG", "Alias")
        check(out.strip() == "upgraded-alias", "and the settings (%r)" % out)
        check(running(True), "and the service runs again")

        rc, out = wine("C:\\OVG\\uninstall.exe", "/S", "_?=C:\\OVG")
        check(rc == 0, "the uninstaller succeeds (rc %d)" % rc)
        rc, _ = wine("reg", "query", KEY)
        check(rc != 0, "the service is removed")
        left = [p for p in PROGRAMS if os.path.exists(os.path.join(home, p))
                and p != "uninstall.exe"]
        check(not left, "the programs are removed: left %r" % left)
        check(os.path.exists(os.path.join(home, "uinfo.dat")),
              "a silent uninstall keeps the accounts")
        rc, out = wine("reg", "query", RUN, "/v", "OVConsole")
        check(rc != 0, "the log-on entry is removed")

    return check.exit_code()


if __name__ == "__main__":
    sys.exit(main())
