"""A gateway reports itself to the test web agent through the real library
(loaded by name by a small driver program), and a controller client reads
the report back as a peer record. Everything stays on loopback."""

import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import ovtest  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
WEBAGENT = os.path.join(HERE, "..", "webagent", "webagent.py")
KEY, PASSWORD = "shared key", "secret"


def driver():
    path = os.path.join(ovtest.BUILD_DIR, "tests", "ovhttp_driver")
    if not os.path.isfile(path):
        ovtest.skip("ovhttp_driver was not built")
    return path


def call(*args):
    out = subprocess.run([driver(), ovtest.BIN_DIR] + [str(a) for a in args],
                         capture_output=True, text=True, timeout=60)
    assert out.returncode == 0, out.stderr
    result = {"peers": []}
    for line in out.stdout.splitlines():
        key, _, value = line.partition(" ")
        if key == "peer":
            result["peers"].append(dict(f.split("=", 1) for f in value.split()))
        else:
            result[key] = value
    return result


def text(hex_text):
    return bytes.fromhex(hex_text).decode("gbk")


def main():
    ovtest.need_bin_dir()
    agent = subprocess.Popen([sys.executable, WEBAGENT, "--key", KEY, "--password", PASSWORD],
                             stdout=subprocess.PIPE, text=True)
    try:
        line = agent.stdout.readline()
        assert line.startswith("port "), line
        url = "http://127.0.0.1:%d/ovagent.php" % int(line.split()[1])

        assert call("connecttest", url)["result"] == "1"
        # A connection reset instead of an answer is no answer.
        reset = call("connecttest", url.replace("/ovagent.php", "/closeearly/ovagent.php"))
        assert reset["result"] == "3", reset
        assert text(reset["message"]).endswith(", Error when recieve."), text(reset["message"])

        gw_id = "0123456789abcdef01234567"
        # 192.0.2.9 as the number the gateway keeps.
        wan = (192 << 24) | (2 << 8) | 9
        before = int(time.time())
        g = call("ovg", url, PASSWORD, KEY, gw_id, "Office-GW", 1, 8521, wan)
        assert g["result"] == "1", g
        assert g["wan"] == str((127 << 24) | 1), g  # the address the agent saw

        c = call("ovc", url, PASSWORD, KEY, "aa" * 12, "laptop", 1, 0, 0)
        assert c["result"] == "1", c
        assert text(c["message"]) == "更新成功", text(c["message"])
        assert len(c["peers"]) == 1, c
        p = c["peers"][0]
        assert p["kind"] == "1" and p["direct"] == "1", p
        assert text(p["name"]) == "office-gw", p
        assert p["port"] == "8521" and p["wan"] == str(wan), p
        assert p["id"] == gw_id + "00" * 88, p
        assert before - 1 <= int(p["time"]) <= int(time.time()) + 1, p

        # The wrong password is refused, and the client is told so.
        bad = call("ovc", url, "guess", KEY, "aa" * 12, "laptop", 1, 0, 0)
        assert bad["result"] == "3" and text(bad["message"]) == "密码错误", bad
    finally:
        agent.kill()
        agent.wait()

    # Nothing but the operations is visible in the native library.
    nm = subprocess.run(["nm", "-D", "--defined-only", os.path.join(ovtest.BIN_DIR, "libovhttp.so")],
                        capture_output=True, text=True)
    if nm.returncode == 0:
        names = sorted(line.split()[-1] for line in nm.stdout.splitlines() if line.strip())
        assert names == sorted(["ChangePassword", "ConnectOVG", "ConnectTest", "OVCUpdateInfo",
                                "OVGClearFlag", "OVGUpdateInfo", "PeerListFree"]), names
    print("ok")


if __name__ == "__main__":
    main()
