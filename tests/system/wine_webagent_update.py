"""Under Wine: OV_G.exe reports itself to the test web agent on loopback,
through ovhttp.dll loaded by name, and logs the result."""

import json
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(__file__))
import ovtest  # noqa: E402

WEBAGENT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "webagent", "webagent.py")
INI = ("[S_CFG]\r\nCmdPort=6111\r\nProxyPort=6121\r\nPKey=pw\r\n"
       "[CWebinfo]\r\nMasterURL=http://127.0.0.1:8081/w/master.php\r\nbinternet=1\r\n"
       "[Base]\r\nUpdateTime=1\r\nAlias=WineGW\r\n")


def main():
    ovtest.need_namespaces()
    check = ovtest.Checks()

    with ovtest.program_dir() as d, ovtest.namespaces("wweb") as (ns,), \
            ovtest.wine_session(ns) as env:
        log = os.path.join(d, "agent.jsonl")
        agent = ns.popen([sys.executable, WEBAGENT, "--port", "8081", "--password", "pw",
                          "--log", log], stdout=subprocess.DEVNULL)
        gateway = None
        try:
            ovtest.wine_run(ns, env, os.path.join(d, "ovadmin.exe"), "init",
                            "--admin-password", "pw")
            with open(os.path.join(d, "OV_G.ini"), "wb") as f:
                f.write(INI.encode("gbk"))
            gateway = ns.popen([ovtest.WINE, os.path.join(d, "OV_G.exe"), "-run"], env=env,
                               stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            line = "    主WebAgent更新网页成功\r\n"
            end = time.time() + 90
            while time.time() < end and line not in ovtest.read_gbk(os.path.join(d, "OV_G.log")):
                time.sleep(0.5)
            check(line in ovtest.read_gbk(os.path.join(d, "OV_G.log")), "the report is logged")
            got = []
            if os.path.exists(log):
                with open(log, encoding="utf-8") as f:
                    got = [json.loads(x) for x in f if x.strip()]
            check(len(got) == 2, "first report, then again with the WAN address (%d)" % len(got))
            if got:
                q, fields = got[-1]["query"], got[-1].get("fields", {})
                check(q.get("ovtype") == "OVG" and re.fullmatch("[0-9a-f]{24}", q.get("computerid", "")),
                      "a gateway with a 24-digit id (%r)" % q)
                check(fields.get("computername") == "winegw" and fields.get("cmdport") == "6111"
                      and fields.get("internetmode") == "direct"
                      and fields.get("wanip") == str(127 << 24 | 1),
                      "its record, decoded with the default key (%r)" % fields)
            ovtest.wine_run(ns, env, os.path.join(d, "OV_G.exe"), "-end")
            check(ovtest.wait_exit(gateway, 30) == 0, "-end ends the gateway")
        finally:
            for p in (gateway, agent):
                if p and p.poll() is None:
                    p.kill()
                    p.wait()

    return check.exit_code()


if __name__ == "__main__":
    sys.exit(main())
