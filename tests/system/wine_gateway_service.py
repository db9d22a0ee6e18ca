"""OV_G.exe under Wine: the service life cycle (-install, -startup, -end,
-remove) and -run / -end from a second process. Wine programs live in the
network namespace of their wineserver, so a fresh prefix is made whose first
Wine process starts inside a namespace of this test; wineserver -k ends it."""

import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(__file__))
import ovtest  # noqa: E402

WINE = ovtest.WINE
KEY = "HKLM\\System\\CurrentControlSet\\Services\\OV_Gateway service"


def WinPath(path):
    return "Z:" + path.replace("/", "\\")


read = ovtest.read_gbk


def main():
    ovtest.need_namespaces()
    check = ovtest.Checks()

    with ovtest.program_dir() as d, ovtest.namespaces("wine") as (ns,), \
            ovtest.wine_session(ns) as env:
        def wine(*args):
            rc, out, err = ovtest.wine_run(ns, env, *args)
            return rc, out + err

        ovg = os.path.join(d, "OV_G.exe")
        admin = os.path.join(d, "ovadmin.exe")
        log = os.path.join(d, "OV_G.log")
        rc, _ = wine(admin, "init", "--admin-password", "pw")
        check(rc == 0, "ovadmin.exe init prepares the program directory")

        def status():
            return wine(admin, "status")[1]

        rc, out = wine(ovg, "-install")
        check(rc == 1, "-install exits with 1 (got %d)" % rc)
        check("OV_G服务安装成功!" in out, "and says the service is installed")
        rc, out = wine("reg", "query", KEY)
        check(rc == 0 and '"' + WinPath(ovg) + '" -service' in out and "0x110" in out
              and "0x2" in out, "the service record holds its command line, type and start")
        rc, out = wine(ovg, "-install")
        check(rc == 1 and "安装" not in out, "-install twice shows nothing and exits with 1")

        # The service manager starts every auto-start service whenever it
        # starts itself, as Windows does at boot. To see -startup do the
        # starting, make the service demand-start.
        wine("reg", "add", KEY, "/v", "Start", "/t", "REG_DWORD", "/d", "3", "/f")
        # Without a running service "-end" addresses a gateway run as a
        # program; with none running it has nothing to say.
        rc, out = wine(ovg, "-end")
        check(rc == 0 and out.strip() == "", "-end with nothing running exits 0 (rc %d, %r)" % (rc, out[-80:]))
        rc, out = wine(ovg, "-startup")
        check(rc == 1 and "\nOV Gateway 启动.\n" in out,
              "-startup brings the service up (rc %d, %r)" % (rc, out[-80:]))
        time.sleep(2)
        check(status().startswith("running"), "the service's gateway publishes its list")
        rc, out = wine(ovg, "-startup")
        check(rc == 0 and "该服务正在运行!" in out, "a second -startup says it runs already")
        rc, out = wine(ovg, "-end")
        check(rc == 1 and "Stopping OV_Gateway service." in out
              and "\nOV Gateway stopped.\n" in out, "-end stops the service (rc %d, %r)" % (rc, out[-120:]))
        check(status().startswith("stopped"), "and its gateway is gone")

        # -remove stops a running service before it deletes it.
        rc, out = wine(ovg, "-startup")
        check(rc == 1, "the service starts again (rc %d, %r)" % (rc, out[-80:]))
        rc, out = wine(ovg, "-remove")
        check(rc == 1, "-remove exits with 1 (got %d)" % rc)
        rc, _ = wine("reg", "query", KEY)
        check(rc != 0, "and the service is gone")
        check(status().startswith("stopped"), "together with its gateway")

        first = ns.popen([WINE, ovg, "-run"], env=env, stdout=subprocess.DEVNULL,
                         stderr=subprocess.DEVNULL)
        end = time.time() + 30
        while time.time() < end and "App start..." not in read(log):
            time.sleep(0.2)
        rc, _ = wine(ovg, "-end")
        check(rc == 0, "-end from a second process exits with 0")
        rc = ovtest.wait_exit(first, 30)
        check(rc == 0, "the gateway run as a program ends with 0 (got %r)" % rc)
        text = read(log)
        check("App start..." in text and "app end." in text, "its log holds App start... and app end.")

    return check.exit_code()


if __name__ == "__main__":
    sys.exit(main())
