"""OV_G.exe under Wine: the service life cycle (-install, -startup, -end,
-remove) and -run / -end from a second process. Wine programs live in the
network namespace of their wineserver, so a fresh prefix is made whose first
Wine process starts inside a namespace of this test; wineserver -k ends it."""

import contextlib
import os
import shutil
import subprocess
import sys
import tempfile
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
    if not os.path.exists(WINE):
        ovtest.skip("wine64 is not installed")
    check = ovtest.Checks()

    prefix = tempfile.mkdtemp(prefix="ovwine-")
    env = ovtest.wine_env(prefix)
    with ovtest.program_dir() as d, ovtest.namespaces("wine") as (ns,):
        def wine(*args, timeout=120):
            r = ns.run([WINE] + list(args), env=env, timeout=timeout)
            return r.returncode, (r.stdout + r.stderr).decode("gbk", "replace")

        try:
            ovg = os.path.join(d, "OV_G.exe")
            admin = os.path.join(d, "ovadmin.exe")
            log = os.path.join(d, "OV_G.log")
            # Wine's own background processes (the service manager among
            # them) keep the output of the process that started them: a file,
            # not a pipe this test would wait on.
            with open(prefix + "-background.log", "wb") as bg:
                ns.run([WINE, "wineboot", "-i"], env=env, timeout=240, capture_output=False,
                       stdout=bg, stderr=bg)
                # A new prefix goes on registering its own services for a few
                # seconds; a service created meanwhile can be lost.
                time.sleep(10)
                # Wine shuts its service manager and every service down once
                # the last ordinary Wine process has ended, where Windows
                # keeps services running; this idle process stands in for
                # the desktop session.
                keeper = ns.popen([WINE, "cmd"], env=env, stdin=subprocess.PIPE, stdout=bg,
                                  stderr=bg)
            time.sleep(2)
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
            try:
                rc = first.wait(timeout=30)
            except subprocess.TimeoutExpired:
                first.kill()
                rc = None
            check(rc == 0, "the gateway run as a program ends with 0 (got %r)" % rc)
            text = read(log)
            check("App start..." in text and "app end." in text, "its log holds App start... and app end.")
        finally:
            with contextlib.suppress(NameError, OSError):
                keeper.stdin.close()
            subprocess.run(["wineserver", "-k"], env=env, capture_output=True)
            shutil.rmtree(prefix, ignore_errors=True)
            with contextlib.suppress(OSError):
                os.remove(prefix + "-background.log")

    return check.exit_code()


if __name__ == "__main__":
    sys.exit(main())
