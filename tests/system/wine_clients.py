"""Under Wine: the Windows builds of ovannounce and ovconnect against the
native gateway. The controlled computer's namespace holds the Wine session:
ovannounce.exe announces an echo server there, ovconnect.exe logs in on the
gateway (its own namespace, the native OV_G of the linux build), lists the
computer and forwards a local port to it, through which bytes go and come
back."""

import os
import socket
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(__file__))
import ovtest  # noqa: E402

WINE = ovtest.WINE
GW, PC = "192.0.2.1", "192.0.2.2"
ECHO = r'''
import socket, threading
def echo(c):
    while True:
        d = c.recv(65536)
        if not d: break
        c.sendall(d)
    c.close()
l = socket.socket(); l.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
l.bind(("192.0.2.2", 5900)); l.listen(16)
while True:
    c, _ = l.accept()
    threading.Thread(target=echo, args=(c,), daemon=True).start()
'''
CLIENT = r'''
import socket, sys, time
for _ in range(100):
    try:
        s = socket.create_connection(("127.0.0.1", 15900), timeout=20); break
    except OSError:
        time.sleep(0.2)
data = bytes(i % 251 for i in range(1 << 20))
s.sendall(data); s.shutdown(socket.SHUT_WR)
back = b""
while True:
    d = s.recv(65536)
    if not d: break
    back += d
print("echoed=%s" % (back == data))
'''


def main():
    ovtest.need_namespaces()
    native = os.path.join(ovtest.SOURCE_DIR, "build", "linux", "bin")
    if not all(os.path.exists(os.path.join(native, n)) for n in ("OV_G", "ovadmin")):
        ovtest.skip("the native gateway is not built (cmake --build --preset linux)")
    check = ovtest.Checks()
    with ovtest.program_dir("ovannounce.exe", "ovconnect.exe") as d, \
            tempfile.TemporaryDirectory(prefix="ovgw-") as gwdir, \
            ovtest.namespaces("wcgw", "wcpc") as (gw, pc):
        ovtest.link(gw, GW, pc, PC)
        for n in ("OV_G", "ovadmin"):
            subprocess.run(["cp", os.path.join(native, n), gwdir], check=True)
        for n in os.listdir(native):
            if n.endswith(".so"):
                subprocess.run(["cp", os.path.join(native, n), gwdir], check=True)
        env = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8",
                   OVG_IPC_DIR=os.path.join(gwdir, "ipc"))
        os.makedirs(env["OVG_IPC_DIR"])
        adm = os.path.join(gwdir, "ovadmin")
        subprocess.run([adm, "init", "--admin-password", "pw"], capture_output=True, env=env)
        subprocess.run([adm, "ini", "set", "S_CFG", "flg_encrypt", "0"], capture_output=True,
                       env=env)
        procs = []
        try:
            procs.append(gw.popen([os.path.join(gwdir, "OV_G"), "-run"], env=env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
            procs.append(pc.popen([sys.executable, "-c", ECHO]))
            with ovtest.wine_session(pc) as wenv:
                rc, _, err = ovtest.wine_run(pc, wenv, os.path.join(d, "ovannounce.exe"),
                                             "--port", "0")
                check(rc != 0 and "1 to 65535" in err, "ovannounce.exe refuses port 0 (%r)" % err)
                with open(os.path.join(d, "announce.log"), "wb") as out:
                    procs.append(pc.popen([WINE, os.path.join(d, "ovannounce.exe"), "--name",
                                           "wpc", "--port", "5900", "--address", PC, "--to",
                                           "192.0.2.255", "--every", "1"], env=wenv,
                                          stdin=subprocess.DEVNULL, stdout=out, stderr=out))
                login = ["--gateway", GW + ":6111", "--user", "Administrator", "--password", "pw"]
                out = ""
                end = time.time() + 60
                while time.time() < end:
                    rc, out, err = ovtest.wine_run(pc, wenv, os.path.join(d, "ovconnect.exe"),
                                                   "list", *login)
                    if rc == 0 and "wpc\t%s\t5900" % PC in out:
                        break
                    time.sleep(1)
                check("wpc\t%s\t5900" % PC in out,
                      "ovconnect.exe lists what ovannounce.exe announced (%r)" % out)
                rc, _, err = ovtest.wine_run(pc, wenv, os.path.join(d, "ovconnect.exe"), "list",
                                             *login[:-1], "nope")
                check(rc == 6 and "wrong password" in err, "a wrong password: exit 6 (%r)" % err)
                with open(os.path.join(d, "forward.log"), "wb") as out:
                    procs.append(pc.popen([WINE, os.path.join(d, "ovconnect.exe"), "forward", "wpc",
                                           "--listen", "15900", *login], env=wenv,
                                          stdin=subprocess.DEVNULL, stdout=out, stderr=out))
                r = pc.run([sys.executable, "-c", CLIENT], timeout=120)
                check(b"echoed=True" in r.stdout,
                      "1 MB goes through ovconnect.exe forward and comes back (%r)" % r.stdout)
                for p in procs[2:]:
                    p.kill()
                    p.wait()
        finally:
            for p in procs:
                if p.poll() is None:
                    p.kill()
                    p.wait()
    return check.exit_code()


if __name__ == "__main__":
    sys.exit(main())
