"""ovadmin web and server on a program directory, as a server without a
desktop uses them: addresses and key into OV_G.ini under the web agent
dialog's rules, a connection test of both addresses against the test web
agent on loopback (the master answers as a web agent, the backup does not),
and the server switches, ports, the relay's login and the per-address cap.
The gateway is not started."""

import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(__file__))
import ovtest  # noqa: E402

WEBAGENT = os.path.join(os.path.dirname(__file__), "..", "webagent", "webagent.py")


def main():
    check = ovtest.Checks()
    with ovtest.program_dir("ovadmin", "libovhttp.so") as d:
        ini = os.path.join(d, "OV_G.ini")

        def admin(*args):
            env = dict(os.environ, LC_ALL="C.UTF-8", LANG="C.UTF-8")
            p = subprocess.run([os.path.join(d, "ovadmin")] + list(args), env=env,
                               capture_output=True, timeout=120)
            return p.returncode, p.stdout.decode("utf-8"), p.stderr.decode("utf-8")

        check(admin("init", "--admin-password", "pw")[0] == 0, "init")
        with open(ini, "rb") as f:
            check(b"\r\nProxyNeedsLogin=1\r\n" in f.read(),
                  "a new installation relays only for those who logged in")
        rc, out, err = admin("web", "test")
        check(rc == 1 and "请输入WebAgent地址" in err, "a test without addresses asks for one (%r)" % err)

        agent = subprocess.Popen([sys.executable, WEBAGENT], stdout=subprocess.PIPE, text=True)
        try:
            port = int(agent.stdout.readline().split()[1])
            good = "http://127.0.0.1:%d/ovagent.php" % port
            bad = "http://127.0.0.1:%d/nomarker/ovagent.php" % port
            rc, out, err = admin("web", "set", "--master", good, "--backup", " " + good + " ")
            check(rc == 1 and "主WebAgent同备份WebAgent不能配置成同样" in err,
                  "equal addresses after trimming are refused (%r)" % err)
            rc, out, err = admin("web", "set", "--master", good, "--backup", bad, "--direct", "0",
                                 "--key", "网关密钥")
            check(rc == 0, "two addresses, the flag and the key are set (%r)" % err)
            with open(ini, "rb") as f:
                text = f.read()
            check(b"MasterURL=" + good.encode() + b"\r\n" in text
                  and b"SlaveURL=" + bad.encode() + b"\r\n" in text
                  and b"binternet=0\r\n" in text
                  and b"szKey=" + "网关密钥".encode("gbk") + b"\r\n" in text,
                  "OV_G.ini holds them, the key in GBK (%r)" % text)
            rc, out, err = admin("web", "test")
            lines = out.splitlines()
            check(rc == 1 and len(lines) == 2 and lines[0].startswith("master\t" + good + "\tok")
                  and lines[1].startswith("backup\t" + bad + "\tfailed (2)")
                  and "Web服务器不支持" in lines[1],
                  "the test passes the master and fails the backup (%r, %r)" % (out, err))
        finally:
            agent.kill()
            agent.wait()

        rc, out, err = admin("server", "set", "--id-check", "0", "--guest", "0",
                             "--cmd-port", "0", "--proxy-port", "6500")
        check(rc == 0, "server set (%r)" % err)
        rc, out, _ = admin("server", "show")
        check(out == "id-check\t0\nguest\t0\ncmd-port\t0\nproxy-port\t6500\n"
              "proxy-needs-login\t1\nmax-slots-per-address\t20\nmax-relays\t40\n",
              "server show reads them back, the caps at their defaults (%r)" % out)
        rc, out, err = admin("server", "set", "--cmd-port", "65001")
        check(rc == 1 and "65000" in err, "a port above 65000 is refused (%r)" % err)

        rc, out, err = admin("server", "set", "--proxy-needs-login", "0",
                             "--max-slots-per-address", "80", "--max-relays", "1000")
        check(rc == 0, "the relay's login, the per-address cap and the relays are set (%r)" % err)
        rc, out, _ = admin("server", "show")
        check(out.endswith("proxy-needs-login\t0\nmax-slots-per-address\t80\nmax-relays\t1000\n"),
              "and shown (%r)" % out)
        with open(ini, "rb") as f:
            text = f.read()
        check(b"\r\nProxyNeedsLogin=0\r\n" in text and b"\r\nMaxSlotsPerAddress=80\r\n" in text
              and b"\r\nMaxRelays=1000\r\n" in text,
              "OV_G.ini holds them (%r)" % text)
        for args, why in ((["--max-slots-per-address", "81"], "81 slots"),
                          (["--max-slots-per-address", "-3"], "a negative cap"),
                          (["--max-relays", "1001"], "1001 relays"),
                          (["--max-relays", "0"], "no relays"),
                          (["--proxy-needs-login", "yes"], "a flag that is not 0 or 1")):
            rc, out, err = admin("server", "set", *args)
            check(rc == 2 and args[0] in err, "%s is refused (%r)" % (why, err))
        with open(ini, "rb") as f:
            check(f.read() == text, "and a refusal leaves OV_G.ini as it was")
        rc, out, _ = admin("web", "show")
        check(out.startswith("master\t" + good + "\n") and "key\tset\n" in out,
              "web show names the addresses but not the key (%r)" % out)
    return check.exit_code()


if __name__ == "__main__":
    sys.exit(main())
