"""Ordinary servers and clients through the gateway with ovannounce and
ovconnect: a controlled computer (its own namespace) announces an HTTP
server with ovannounce; a remote user (a third namespace, on the gateway's
other network) logs in with ovconnect, lists, and fetches files with curl
through `ovconnect forward` (which keeps its login open meanwhile) and with a
plain request through `ovconnect stdio`. When ovannounce ends, its leave takes the computer off the list; a gateway
with the ID check on admits only the ID file that ovadmin minted and trusted.
SSH and VNC ends are in test_clients_ssh_vnc.py."""

import hashlib
import os
import re
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(__file__))
import ovtest  # noqa: E402

ENV = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8")
GW_LAN, PC = "192.0.2.1", "192.0.2.2"
GW_WAN, USER = "198.51.100.1", "198.51.100.2"


def main():
    ovtest.need_namespaces()
    check = ovtest.Checks()
    curl = "/usr/bin/curl"
    if not os.path.exists(curl):
        ovtest.skip("curl is not installed (tools/test installs it)")

    with ovtest.program_dir() as d, ovtest.namespaces("cgw", "cpc", "cuser") as (gw, pc, user):
        ovtest.link(gw, GW_LAN, pc, PC)
        ovtest.link(gw, GW_WAN, user, USER)
        ENV["OVG_IPC_DIR"] = os.path.join(d, "ipc")
        os.makedirs(ENV["OVG_IPC_DIR"])
        adm = os.path.join(d, "ovadmin")
        announce = os.path.join(d, "ovannounce")
        connect = os.path.join(d, "ovconnect")
        subprocess.run([adm, "init", "--admin-password", "pw"], capture_output=True, env=ENV)
        subprocess.run([adm, "ini", "set", "S_CFG", "flg_encrypt", "0"], capture_output=True, env=ENV)
        subprocess.run([adm, "accounts", "add", "bob", "bobpw", "--disabled"], capture_output=True,
                       env=ENV)

        site = os.path.join(d, "site")
        os.makedirs(site)
        payload = os.urandom(3 << 20)
        with open(os.path.join(site, "big.bin"), "wb") as f:
            f.write(payload)
        want = hashlib.sha256(payload).hexdigest()

        procs = []
        try:
            gateway = gw.popen([os.path.join(d, "OV_G"), "-run"], env=ENV,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            procs.append(gateway)
            procs.append(pc.popen([sys.executable, "-m", "http.server", "8000", "--bind", PC,
                                   "--directory", site], stdout=subprocess.DEVNULL,
                                  stderr=subprocess.DEVNULL))
            # Refusals first: nothing is sent for them.
            r = pc.run([announce, "--name", "pc1", "--port", "0"], env=ENV)
            check(r.returncode != 0 and b"1 to 65535" in r.stderr,
                  "ovannounce refuses port 0 (%r)" % r.stderr)
            r = pc.run([announce, "--name", "n" * 41, "--port", "1"], env=ENV)
            check(r.returncode != 0 and b"40 bytes" in r.stderr, "ovannounce refuses a long name")

            ann = pc.popen([announce, "--name", "pc1", "--port", "8000", "--to", "192.0.2.255",
                            "--every", "1"], env=ENV, stderr=subprocess.PIPE)
            procs.append(ann)

            def ovc(*args, env=ENV, **kw):
                return user.run([connect] + list(args), env=env, **kw)

            login = ["--gateway", GW_WAN + ":6111", "--user", "Administrator"]
            listed, out = False, ""
            end = time.time() + 30
            while time.time() < end and not listed:
                r = ovc("list", *login, "--password", "pw")
                out = r.stdout.decode()
                listed = r.returncode == 0 and "pc1\t%s\t8000" % PC in out
                time.sleep(0.3)
            check(listed, "ovconnect list shows the announced computer (%r)" % out)
            check("proxy port\t6121" in out, "and the proxy port")

            r = ovc("list", *login, env=dict(ENV, OVCONNECT_PASSWORD="pw"))
            check(r.returncode == 0, "the password may come from OVCONNECT_PASSWORD")
            for args, code, text in [
                    (["--password", "nope"], 6, b"wrong password"),
                    (["--user", "nobody", "--password", "pw"], 5, b"no user nobody"),
                    (["--user", "bob", "--password", "bobpw"], 7, b"switched off")]:
                r = ovc("list", *login, *args)
                check(r.returncode == code and text in r.stderr,
                      "%s: exit %d (%r %r)" % (text.decode(), code, r.returncode, r.stderr))
            r = ovc("list", "--gateway", GW_WAN + ":6999", "--user", "u", "--password", "p")
            check(r.returncode == 3 and b"cannot connect" in r.stderr,
                  "a closed command port: exit 3 (%r)" % r.stderr)
            r = ovc("forward", "pc2", "--listen", "0", *login, "--password", "pw")
            check(r.returncode == 8, "forward to a computer that is not listed: exit 8")

            fwd = user.popen([connect, "forward", "pc1", "--listen", "127.0.0.1:0", *login,
                              "--password", "pw"], env=ENV, stderr=subprocess.PIPE)
            procs.append(fwd)
            first = fwd.stderr.readline().decode()
            m = re.search(r"forwarding 127\.0\.0\.1:(\d+) to pc1 through", first)
            check(m is not None, "forward says where it listens (%r)" % first)
            if m:
                port = m.group(1)
                curls = [user.popen([curl, "-sS", "-o", "-", "http://127.0.0.1:%s/big.bin" % port],
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                         for _ in range(3)]
                results = [c.communicate(timeout=60) for c in curls]
                check(all(hashlib.sha256(o).hexdigest() == want for o, _ in results),
                      "three curls at once fetch 3 MB intact through forward (%r)"
                      % [e for _, e in results])
                logged = [fwd.stderr.readline().decode() for _ in range(3)]
                check(all(" -> pc1: " in line and "received" in line for line in logged),
                      "one log line per connection (%r)" % logged)
                # A gateway that relays only for those logged in relays for
                # an address that holds a logged-in command connection.
                held = user.run(["ss", "-Htn", "state", "established",
                                 "dst", GW_WAN + ":6111"]).stdout.decode()
                check(len(held.splitlines()) == 1,
                      "forward keeps its login's command connection open (%r)" % held)

            r = user.run([connect, "stdio", "pc1", *login, "--password", "pw"], env=ENV,
                         input=b"GET /big.bin HTTP/1.0\r\n\r\n")
            body = r.stdout.partition(b"\r\n\r\n")[2]
            check(r.returncode == 0 and hashlib.sha256(body).hexdigest() == want,
                  "stdio carries a request and its whole answer (rc %r, %d bytes, %r)"
                  % (r.returncode, len(body), r.stderr[-300:]))

            ann.send_signal(signal.SIGTERM)
            check(ovtest.wait_exit(ann, 10) == 0, "ovannounce ends with 0 on SIGTERM")
            check(b"left" in ann.stderr.read(), "after its leave announcement")
            gone, out = False, ""
            end = time.time() + 15
            while time.time() < end and not gone:
                out = ovc("list", *login, "--password", "pw").stdout.decode()
                gone = "proxy port" in out and "pc1" not in out
                time.sleep(0.3)
            check(gone, "the leave takes the computer off the list (%r)" % out)

            # The ID check: a gateway started with it on admits the ID file
            # that ovadmin minted and trusted, and no other.
            gw.run([os.path.join(d, "OV_G"), "-end"], env=ENV, timeout=30)
            check(ovtest.wait_exit(gateway, 15) == 0, "the gateway ends for its restart")
            trusted, stranger = os.path.join(d, "alice.id"), os.path.join(d, "stranger.id")
            r = subprocess.run([adm, "ids", "mint", trusted, "--import", "--description", "alice"],
                               capture_output=True, env=ENV)
            check(r.returncode == 0, "ovadmin mints and trusts an ID file (%r)" % r.stderr)
            subprocess.run([adm, "ids", "mint", stranger], capture_output=True, env=ENV)
            subprocess.run([adm, "ini", "set", "S_CFG", "flg_encrypt", "1"], capture_output=True,
                           env=ENV)
            procs.append(gw.popen([os.path.join(d, "OV_G"), "-run"], env=ENV,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
            r = None
            end = time.time() + 20
            while time.time() < end:
                r = ovc("list", *login, "--password", "pw", "--id-file", trusted)
                if r.returncode != 3:  # the command port is up
                    break
                time.sleep(0.3)
            check(r.returncode == 0, "the trusted ID file lets the user in (%r)" % r.stderr)
            r = ovc("list", *login, "--password", "pw", "--id-file", stranger)
            check(r.returncode == 4 and b"does not trust" in r.stderr,
                  "an ID file that is not trusted: exit 4 (%r)" % r.stderr)
            r = ovc("list", *login, "--password", "pw")
            check(r.returncode == 4, "no ID file: exit 4")
        finally:
            for p in procs:
                if p.poll() is None:
                    p.kill()
                    p.wait()
    return check.exit_code()


if __name__ == "__main__":
    sys.exit(main())
