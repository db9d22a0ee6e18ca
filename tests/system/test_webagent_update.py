"""The gateway reports itself to its web agents: the gateway in one
namespace, two test web agents in another. The timer's minute is shortened
with OVG_MINUTE_MS, so that minutes of the schedule pass in a few seconds.
Checked from the agents' side (what arrived, when, decoded with their key)
and from the gateway's log."""

import json
import os
import re
import socket
import struct
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(__file__))
import ovtest  # noqa: E402

HERE = os.path.dirname(os.path.abspath(__file__))
WEBAGENT = os.path.join(HERE, "..", "webagent", "webagent.py")
ENV = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8", OVG_LOG_THRESHOLD="-1")
GW, WEB = "192.0.2.1", "192.0.2.2"
GW_NUMBER = struct.unpack("!I", socket.inet_aton(GW))[0]
# Agent 1: the default key text, password pw1. Agent 2: its own key, pw2.
AGENT1, AGENT2 = "http://%s:8081" % WEB, "http://%s:8082" % WEB


def write_ini(d, master="", backup="", key="", password="", direct=0, update_time=0, alias=""):
    text = ("[S_CFG]\r\nCmdPort=6111\r\nProxyPort=6121\r\nPKey=%s\r\n"
            "[CWebinfo]\r\nMasterURL=%s\r\nSlaveURL=%s\r\nszKey=%s\r\nbinternet=%d\r\n"
            "[Base]\r\nUpdateTime=%d\r\nAlias=%s\r\n"
            % (password, master, backup, key, direct, update_time, alias))
    with open(os.path.join(d, "OV_G.ini"), "wb") as f:
        f.write(text.encode("gbk"))


def requests(log, prefix):
    """What an agent was asked under paths that begin with prefix, in order."""
    try:
        with open(log, encoding="utf-8") as f:
            entries = [json.loads(line) for line in f if line.strip()]
    except FileNotFoundError:
        return []
    return [e for e in entries if e["path"].startswith(prefix)]


def wait_for(pred, seconds):
    end = time.time() + seconds
    while time.time() < end and not pred():
        time.sleep(0.05)
    return pred()


class Gateway:
    """OV_G -run in the gateway namespace with a shortened minute."""

    def __init__(self, ns, d, minute_ms):
        self.ns, self.d = ns, d
        self.log = os.path.join(d, "OV_G.log")
        self.stderr = open(os.path.join(d, "stderr.txt"), "wb")
        env = dict(ENV, OVG_MINUTE_MS=str(minute_ms))
        self.proc = ns.popen([os.path.join(d, "OV_G"), "-run"], env=env,
                             stdout=subprocess.DEVNULL, stderr=self.stderr)

    def text(self):
        return ovtest.read_gbk(self.log)

    def end(self):
        """(exit code or None, seconds from -end to the exit)."""
        started = time.time()
        self.ns.run([os.path.join(self.d, "OV_G"), "-end"], env=ENV, timeout=30)
        code = ovtest.wait_exit(self.proc, 20)
        took = time.time() - started
        self.stderr.close()
        return code, took

    def errors(self):
        with open(os.path.join(self.d, "stderr.txt"), "rb") as f:
            return f.read().decode("utf-8", "replace")


def check_record(check, entry, name, mode, what):
    q, f = entry["query"], entry.get("fields", {})
    check(q.get("ovtype") == "OVG" and re.fullmatch("[0-9a-f]{24}", q.get("computerid", "")),
          "%s: reported as a gateway with a 24-digit id (%r)" % (what, q))
    check(f.get("internetmode") == mode and f.get("cmdport") == "6111"
          and f.get("computername") == name and re.fullmatch("[0-9]{14}", f.get("time", "")),
          "%s: decoded with the key: %s, command port, name %r, time (%r)" % (what, mode, name, f))


def schedule_and_record(check, gw, d, log1):
    """UpdateTime 0 is every 2 minutes, the first report at once; a blank
    master URL sends nothing; a new WAN address is sent again at once."""
    minute = 1.0
    write_ini(d, master="   ", backup=AGENT1 + "/a/backup.php", password="pw1", direct=1)
    g = Gateway(gw, d, int(minute * 1000))
    wait_for(lambda: len(requests(log1, "/a/")) >= 4, 12)
    code, _ = g.end()
    got = requests(log1, "/a/")
    check(code == 0 and all(e["path"] == "/a/backup.php" for e in got),
          "a blank master URL sends no report; the backup is reported")
    check(len(got) >= 4, "four requests to the backup in five minutes (%d)" % len(got))
    if len(got) < 4:
        return
    wan = [e["fields"].get("wanip") for e in got]
    check(wan[:3] == ["0", str(GW_NUMBER), str(GW_NUMBER)],
          "the WAN address the agent told is sent again (%r)" % wan)
    t = [e["time"] for e in got]
    check(t[1] - t[0] < minute / 2, "and at once (%.2f s)" % (t[1] - t[0]))
    gaps = [(t[2] - t[1]) / minute, (t[3] - t[2]) / minute]
    check(all(1.5 < x < 2.5 for x in gaps), "then every 2 minutes (%r minutes)" % gaps)
    host = gw.run(["hostname"]).stdout.decode().strip()[:47].lower()
    check_record(check, got[0], host, "direct", "default key, no alias")
    check(got[0]["query"].get("pwd") == "pw1", "the password is sent")
    text = g.text()
    check(text.count("    备份WebAgent更新网页成功\r\n") >= 3 and "主WebAgent" not in text,
          "each backup report logs its success, no master line")


def hang_and_stop(check, gw, d, log2):
    """A hanging agent skips ticks 1-5 and is replaced at the sixth; the
    gateway stops within its limits while a report hangs."""
    minute = 0.5
    write_ini(d, master=AGENT2 + "/hang/b.php", backup=AGENT2 + "/b/backup.php",
              key="some key", password="pw2", direct=0, update_time=1, alias="Office-GW")
    g = Gateway(gw, d, int(minute * 1000))
    wait_for(lambda: len(requests(log2, "/hang/")) >= 2, 12)
    time.sleep(minute)
    code, took = g.end()
    hung = requests(log2, "/hang/")
    check(len(hung) == 2, "two reports to the hanging agent in seven minutes (%d)" % len(hung))
    if len(hung) == 2:
        gap = (hung[1]["time"] - hung[0]["time"]) / minute
        check(5.5 < gap < 6.9, "the second at the sixth tick (%.2f minutes)" % gap)
    check(code == 0 and took < 10, "the gateway ends while a report hangs (%r after %.1f s)"
          % (code, took))
    backup = requests(log2, "/b/")
    gaps = [round((b["time"] - a["time"]) / minute, 2) for a, b in zip(backup, backup[1:])]
    check(len(backup) >= 6 and all(0.5 < x < 1.5 for x in gaps),
          "the backup is reported every minute meanwhile (%d, %r minutes apart)"
          % (len(backup), gaps))
    if backup:
        check_record(check, backup[0], "office-gw", "proxy", "own key, alias")
    text = g.text()
    check("    备份WebAgent连接解码失败\r\n" in text and "主WebAgent" not in text,
          "behind a proxy with no client waiting the backup logs 连接解码失败; a hanging report "
          "logs nothing")
    check("    app end.\r\n" in text, "the gateway's run ended normally")


def result_lines(check, gw, d):
    """Each kind of failure has its own line, per agent."""
    cases = [
        (AGENT1 + "/denied/c.php", "http://%s:1/closed.php" % WEB, "pw1",
         "主WebAgent连接出错", "备份WebAgent连接失败"),
        (AGENT1 + "/nocode/c.php", AGENT1 + "/c/backup.php", "wrong",
         "主WebAgent连接发生未知错误", "备份WebAgent密码拒绝"),
    ]
    for master, backup, password, *lines in cases:
        write_ini(d, master=master, backup=backup, password=password, direct=1, update_time=1)
        g = Gateway(gw, d, 60000)
        wait_for(lambda: all(x in g.text() for x in lines), 10)
        g.end()
        text = g.text()
        for x in lines:
            check("    %s\r\n" % x in text, "logged: " + x)


def missing_library(check, gw, d):
    """Without the web agent library every tick shows the box and logs an
    unknown error for the master."""
    os.remove(os.path.join(d, "libovhttp.so"))
    write_ini(d, master=AGENT1 + "/d/m.php", update_time=1)
    g = Gateway(gw, d, 300)
    line = "    主WebAgent连接发生未知错误\r\n"
    wait_for(lambda: g.text().count(line) >= 3, 10)
    g.end()
    boxes = g.errors().count("OV_G: libovhttp.so not found")
    check(g.text().count(line) >= 3 and boxes >= 3,
          "each tick: the box and the line (%d lines, %d boxes)" % (g.text().count(line), boxes))


def main():
    ovtest.need_namespaces()
    check = ovtest.Checks()
    with ovtest.program_dir() as d, ovtest.namespaces("gw", "web") as (gw, web):
        # The gateway's named objects in a directory of this test's own, so
        # that a gateway of another test run on this machine does not count
        # as "already running".
        ENV["OVG_IPC_DIR"] = os.path.join(d, "ipc")
        os.mkdir(ENV["OVG_IPC_DIR"])
        ovtest.link(gw, GW, web, WEB)
        subprocess.run([os.path.join(d, "ovadmin"), "init", "--admin-password", "pw"],
                       capture_output=True, env=ENV)
        log1, log2 = os.path.join(d, "agent1.jsonl"), os.path.join(d, "agent2.jsonl")
        agents = [
            web.popen([sys.executable, WEBAGENT, "--listen", WEB, "--port", "8081",
                       "--password", "pw1", "--log", log1], stdout=subprocess.DEVNULL),
            web.popen([sys.executable, WEBAGENT, "--listen", WEB, "--port", "8082",
                       "--password", "pw2", "--key", "some key", "--log", log2],
                      stdout=subprocess.DEVNULL),
        ]
        try:
            probe = "import socket; socket.create_connection(('%s', %%d), 1)" % WEB
            for port in (8081, 8082):
                wait_for(lambda: gw.run([sys.executable, "-c", probe % port]).returncode == 0, 10)
            schedule_and_record(check, gw, d, log1)
            hang_and_stop(check, gw, d, log2)
            result_lines(check, gw, d)
            missing_library(check, gw, d)
        finally:
            for a in agents:
                a.kill()
                a.wait()
    return check.exit_code()


if __name__ == "__main__":
    sys.exit(main())
