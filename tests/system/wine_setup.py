"""ovsetup.dll and ovagentset.dll under Wine on a virtual X display, called
by showcfg_host.exe as the console calls them and driven by
ovconsole_driver.exe: every page of the setup window (trusted IDs with
import, edit, delete, the ID check switch, backup and restore; accounts
with add, edit, the administrator's password, delete, the Guest switch, a
failed save, backup and restore, texts over their limits in bytes, an
account that ovadmin adds meanwhile; the two ports with the range and bind
tests), then the web agent dialog with its rules, a connection test against
the test web agent (the master answers as a web agent, the backup does not)
and the key change. The records the host prints and the files afterwards
are checked. Everything runs inside a network namespace of its own.

With OV_SCREENSHOTS=DIR set, every page and dialog is also saved as a PNG
file in DIR (the pictures of docs/screenshots come from here)."""

import os
import shutil
import socket
import struct
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(__file__))
import ovtest  # noqa: E402
from wine_console import Driver, Screen, rect_of  # noqa: E402

WINE = ovtest.WINE
WEBAGENT = os.path.join(os.path.dirname(__file__), "..", "webagent", "webagent.py")
IDOK, IDCANCEL = 1, 2
# The setup window and its pages.
SIDE_IDS, SIDE_USERS, SIDE_PORTS = 1001, 1002, 1003
STATUS, SWITCH, LIST, ADD, DELETE, EDIT, RESTORE, BACKUP = 1011, 1012, 1013, 1014, 1015, 1016, 1017, 1018
CMD_PORT, CMD_CHANGE, PROXY_PORT, PROXY_CHANGE = 1020, 1021, 1022, 1023
NAME, PASSWORD, STATE, DESCRIPTION, CHANGE_PASSWORD = 1030, 1031, 1032, 1033, 1034
NEW_PW, NEW_PW_AGAIN = 1040, 1041
ID_PATH, ID_DESCRIPTION = 1050, 1052
PORT = 1060
# The web agent dialogs.
TEST, CHANGE_KEY, MASTER, BACKUP_URL, KEY, DIRECT = 3, 4, 1003, 1004, 1005, 13000
TEST_GROUP, TEST_CLOSE = 1043, 1044
NEW_KEY, KEY_AGAIN = 3007, 3006

ID_ON = "“鉴权”功能已经启用，只有通过ID认证的用户才能接入"
ID_OFF = "“鉴权”功能已被禁用,用户接入不进行ID鉴权"
GUEST_ON = "Guest帐号已经启用，用户名：Guest，密码：Quell"
GUEST_OFF = "Guest帐号已经被禁用"


def tea_decipher(data):
    """The account file's cipher, deciphered (whole 8-byte blocks)."""
    k0, k1, k2, k3 = 0x2B7, 0x51C, 0x8E3, 0x46D
    mask, out = 0xFFFFFFFF, bytearray(data)
    for off in range(0, len(data) - len(data) % 8, 8):
        v0, v1 = struct.unpack_from("<II", data, off)
        s = 0xC6EF3720
        for _ in range(32):
            v1 = (v1 - ((((v0 << 4) + k2) & mask) ^ ((v0 + s) & mask) ^ (((v0 >> 5) + k3) & mask))) & mask
            v0 = (v0 - ((((v1 << 4) + k0) & mask) ^ ((v1 + s) & mask) ^ (((v1 >> 5) + k1) & mask))) & mask
            s = (s - 0x9E3779B9) & mask
        struct.pack_into("<II", out, off, v0, v1)
    return bytes(out)


def accounts(path):
    """(name, password, enabled, description) of each record of uinfo.dat."""
    with open(path, "rb") as f:
        plain = tea_decipher(f.read())

    def text(b):
        return b.split(b"\0")[0].decode("gbk")
    return [(text(plain[i:i + 50]), text(plain[i + 50:i + 70]),
             struct.unpack_from("<I", plain, i + 72)[0], text(plain[i + 76:i + 138]))
            for i in range(0, len(plain) - 8, 140) if i + 140 <= len(plain) - 8]


def winpath(path):
    return "Z:" + path.replace("/", "\\")


def main():
    ovtest.need_namespaces()
    for tool in ("Xvfb", "import", "convert"):
        if not shutil.which(tool):
            ovtest.skip(tool + " is not installed")
    check = ovtest.Checks()
    shots = os.environ.get("OV_SCREENSHOTS")
    if shots:
        os.makedirs(shots, exist_ok=True)
    screen = Screen(shots)
    os.environ["DISPLAY"] = screen.display
    driver = None
    host = None
    agent = None
    try:
        with ovtest.program_dir() as d, ovtest.namespaces("wset") as (ns,):
            shutil.copy(os.path.join(ovtest.BUILD_DIR, "tests", "showcfg_host.exe"), d)
            with ovtest.wine_session(ns) as env:
                def wine(*args):
                    return ovtest.wine_run(ns, env, *args)

                # One virtual desktop, so that Wine draws the windows' frames.
                wine("reg", "add", "HKCU\\Software\\Wine\\Explorer", "/v", "Desktop", "/d",
                     "shell", "/f")
                wine("reg", "add", "HKCU\\Software\\Wine\\Explorer\\Desktops", "/v", "shell",
                     "/d", "1024x768", "/f")
                fonts = os.path.join(env["WINEPREFIX"], "drive_c", "windows", "Fonts")
                if os.path.exists("/usr/share/wine/fonts/marlett.ttf") and os.path.isdir(fonts):
                    shutil.copy("/usr/share/wine/fonts/marlett.ttf", fonts)
                admin = os.path.join(d, "ovadmin.exe")
                wine(admin, "init", "--admin-password", "pw")
                wine(admin, "accounts", "add", "alice", "a1", "--description", "财务")
                for n in (1, 2, 3):
                    wine(admin, "ids", "mint", winpath(os.path.join(d, "u%d.id" % n)))
                with open(os.path.join(d, "short.id"), "wb") as f:
                    f.write(b"\1" * 1023)
                errors = tempfile.NamedTemporaryFile(prefix="ovsetup-", suffix=".txt")

                def said():
                    with open(errors.name, "rb") as f:
                        return f.read().decode("gbk", "replace")

                # What the libraries said since the last click: a message that
                # an earlier step gave already must not pass for a new one.
                mark = [0]

                def says(text, seconds=10):
                    end = time.time() + seconds
                    while time.time() < end:
                        if text in said()[mark[0]:]:
                            return True
                        time.sleep(0.2)
                    return False

                def click(kind, cid):
                    mark[0] = len(said())
                    return driver("click", kind, cid)

                driver = Driver(ns, env, os.path.join(ovtest.BUILD_DIR, "tests",
                                                      "ovconsole_driver.exe"))

                def shot(name, kind):
                    time.sleep(0.4)
                    screen.shot(name, rect_of(driver("rect", kind)))

                def rows(kind="setup"):
                    answer = driver("rows", kind, LIST)
                    return answer.split("\t")[1:] if answer.startswith("rows ") else answer

                def dialog(kind, fields, confirm=IDOK):
                    ok = driver("wait", kind, 20).startswith("ok")
                    for cid, value in fields:
                        if isinstance(value, int):
                            driver("combo", kind, cid, value)
                        else:
                            driver("settext", kind, cid, value)
                    if confirm:
                        click(kind, confirm)
                    return ok

                # ---- ovsetup
                host = ns.popen([WINE, os.path.join(d, "showcfg_host.exe"), "setup",
                                 winpath(os.path.join(d, "ovsetup.dll")), "1", "1", "6111", "6121"],
                                env=env, cwd=d, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=errors)
                check(driver("wait", "setup", 60).startswith("ok"), "ShowCfg opens 高级配置窗口")
                for cid, label in ((SIDE_IDS, "鉴权管理"), (SIDE_USERS, "用户管理"),
                                   (SIDE_PORTS, "端口配置"), (IDOK, "确定")):
                    check(driver.text("setup", cid) == label, "side button %s" % label)
                check(driver.text("setup", STATUS) == ID_ON and driver.text("setup", SWITCH) == "禁用",
                      "the trusted-ID page shows first, the ID check on")
                cols = driver("allcolumns", "setup", LIST)
                check(cols == "columns 60 50 70 150\t鉴权序号\tID\t种类\t描述",
                      "trusted-ID columns (%r)" % cols)

                for n, text in ((1, "第一个"), (2, "第二个"), (3, "第三个")):
                    click("setup", ADD)
                    if n == 1:
                        driver("wait", "addid", 20)
                        driver("settext", "addid", ID_PATH, winpath(os.path.join(d, "u1.id")))
                        driver("settext", "addid", ID_DESCRIPTION, text)
                        shot("setup-add-id", "addid")
                    dialog("addid", [(ID_PATH, winpath(os.path.join(d, "u%d.id" % n))),
                                     (ID_DESCRIPTION, text)])
                    driver.wait_gone("addid", 10)
                check(rows() == ["1|****||第一个", "2|****||第二个", "3|****||第三个"],
                      "three IDs imported, numbered from 1 (%r)" % rows())
                click("setup", ADD)
                dialog("addid", [(ID_PATH, winpath(os.path.join(d, "u1.id")))])
                driver.wait_gone("addid", 10)
                check(len(rows()) == 3, "the same ID again adds nothing")
                click("setup", ADD)
                dialog("addid", [(ID_PATH, winpath(os.path.join(d, "short.id")))])
                check(says("the ID file is  corrupted"), "a short ID file is refused")
                check(driver("exists", "addid") == "yes", "and the dialog stays")
                # 74 characters are 148 bytes, one more than the record keeps.
                dialog("addid", [(ID_PATH, winpath(os.path.join(d, "u1.id"))),
                                 (ID_DESCRIPTION, "长" * 74)])
                check(says("描述最多147个字节") and driver("exists", "addid") == "yes",
                      "a description longer than the record is refused, not cut")
                click("addid", IDCANCEL)
                driver.wait_gone("addid", 10)

                driver("select", "setup", LIST, 2)
                click("setup", EDIT)
                check(driver("wait", "editid", 20).startswith("ok"), "修改 opens 修改用户ID")
                check(driver.text("editid", ID_DESCRIPTION) == "第三个", "with the description")
                driver("settext", "editid", ID_DESCRIPTION, "第三个改")
                shot("setup-edit-id", "editid")
                click("editid", IDOK)
                driver.wait_gone("editid", 10)
                driver("select", "setup", LIST, 1)
                click("setup", DELETE)
                time.sleep(0.5)
                check(rows() == ["1|****||第一个", "2|****||第三个改"],
                      "deleting the second renumbers the rows (%r)" % rows())
                check(os.path.getsize(os.path.join(d, "TrustID.dat")) == 500, "TrustID.dat holds two")
                driver("select", "setup", LIST)
                click("setup", DELETE)
                check(says("请选中删除的行!"), "delete without a selection asks for one")
                click("setup", SWITCH)
                time.sleep(0.3)
                check(driver.text("setup", STATUS) == ID_OFF and driver.text("setup", SWITCH) == "启用",
                      "the switch turns the ID check off")
                shot("setup-trusted-ids", "setup")

                click("setup", BACKUP)
                check(driver("wait", "filedialog", 20).startswith("ok"), "备份ID asks for a file")
                shot("setup-backup-file", "filedialog")
                driver("filedialog", winpath(os.path.join(d, "idcopy")))
                check(says("备份配置文件成功!") and os.path.exists(os.path.join(d, "idcopy.dat")),
                      "and backs the IDs up, with .dat appended")
                driver("select", "setup", LIST, 0)
                click("setup", DELETE)
                time.sleep(0.3)
                click("setup", RESTORE)
                driver("wait", "filedialog", 20)
                driver("filedialog", winpath(os.path.join(d, "idcopy.dat")))
                check(says("恢复配置文件成功!"), "恢复ID restores them")
                time.sleep(0.3)
                check(len(rows()) == 2, "both rows are back (%r)" % rows())

                # Accounts.
                click("setup", SIDE_USERS)
                time.sleep(0.5)
                check(driver.text("setup", STATUS) == GUEST_ON, "用户管理 shows the accounts page")
                cols = driver("allcolumns", "setup", LIST)
                check(cols == "columns 60 50 50 200\t用户名\t密码\t状态\t描述",
                      "account columns (%r)" % cols)
                check(rows() == ["Administrator|*****|启用|", "alice|*****|启用|财务"],
                      "the accounts of the file (%r)" % rows())
                click("setup", ADD)
                driver("wait", "adduser", 20)
                check(driver.text("adduser", STATE) == "启用", "a new account starts enabled")
                driver("settext", "adduser", NAME, "bob")
                driver("settext", "adduser", PASSWORD, "b2")
                driver("combo", "adduser", STATE, 1)
                driver("settext", "adduser", DESCRIPTION, "前台")
                shot("setup-add-user", "adduser")
                click("adduser", IDOK)
                driver.wait_gone("adduser", 10)
                click("setup", ADD)
                dialog("adduser", [(NAME, "bob")])
                check(says("该用户名已经存在！"), "a name that exists is refused")
                dialog("adduser", [(NAME, "")])
                check(says("请输入用户名！"), "an empty name is refused")
                # Ten Chinese characters: ten for the edit control, 20 bytes.
                dialog("adduser", [(NAME, "carl"), (PASSWORD, "码" * 10)])
                check(says("密码最多16个字节"), "a password over 16 bytes is refused")
                check(driver("exists", "adduser") == "yes", "and the dialog stays")
                click("adduser", IDCANCEL)
                driver.wait_gone("adduser", 10)
                check(rows()[2:] == ["bob|*****|禁用|前台"], "bob is added, disabled (%r)" % rows())

                driver("select", "setup", LIST, 0)
                click("setup", EDIT)
                driver("wait", "edituser", 20)
                check(driver("enabled", "edituser", NAME) == "no"
                      and driver("enabled", "edituser", DESCRIPTION) == "no",
                      "the administrator's name and description cannot change")
                shot("setup-edit-user", "edituser")
                click("edituser", CHANGE_PASSWORD)
                dialog("newpw", [(NEW_PW, "x1"), (NEW_PW_AGAIN, "x2")])
                check(says("两次输入的密码不一致，请重新输入！"), "differing new passwords are refused")
                driver("settext", "newpw", NEW_PW_AGAIN, "x1")
                shot("setup-new-password", "newpw")
                click("newpw", IDOK)
                driver.wait_gone("newpw", 10)
                click("edituser", IDOK)
                driver.wait_gone("edituser", 10)
                end = time.time() + 10
                while time.time() < end and accounts(os.path.join(d, "uinfo.dat"))[0][1] != "x1":
                    time.sleep(0.2)
                check(accounts(os.path.join(d, "uinfo.dat"))[0][:3] == ("Administrator", "x1", 1),
                      "the administrator's new password is in uinfo.dat")

                driver("select", "setup", LIST, 2)
                click("setup", EDIT)
                dialog("edituser", [(NAME, "alice")])
                check(says("该用户名已经存在！"), "renaming to another account's name is refused")
                dialog("edituser", [(NAME, "bobby"), (STATE, 0)])
                driver.wait_gone("edituser", 10)
                driver("select", "setup", LIST, 0, 2)
                click("setup", DELETE)
                check(says("管理员帐号不能被删除！"), "the administrator among the rows deletes nothing")
                check(len(rows()) == 3, "all three rows stay")
                driver("select", "setup", LIST)
                click("setup", EDIT)
                check(says("请选中修改的行!"), "edit without a selection asks for one")
                driver("select", "setup", LIST, 1)
                click("setup", DELETE)
                check(says("确实要删除该用户帐号吗？"), "delete asks first")
                time.sleep(0.5)
                check(rows() == ["Administrator|*****|启用|", "bobby|*****|启用|前台"],
                      "and alice is gone (%r)" % rows())

                # A save that cannot be made is told, and the rows show the file.
                os.mkdir(os.path.join(d, "uinfo.dat.tmp"))
                click("setup", ADD)
                dialog("adduser", [(NAME, "carol")])
                check(says("提示: 保存改动失败!"), "a failed save is reported with its caption")
                time.sleep(0.3)
                check(len(rows()) == 2 and len(accounts(os.path.join(d, "uinfo.dat"))) == 2,
                      "and the rows match the file again (%r)" % rows())
                os.rmdir(os.path.join(d, "uinfo.dat.tmp"))

                click("setup", SWITCH)
                time.sleep(0.3)
                check(driver.text("setup", STATUS) == GUEST_OFF, "the Guest switch turns it off")
                shot("setup-accounts", "setup")
                click("setup", BACKUP)
                driver("wait", "filedialog", 20)
                driver("filedialog", winpath(os.path.join(d, "acc.dat")))
                check(says("备份帐号文件成功!"), "备份 backs the accounts up")
                click("setup", ADD)
                dialog("adduser", [(NAME, "carol")])
                driver.wait_gone("adduser", 10)
                click("setup", RESTORE)
                driver("wait", "filedialog", 20)
                driver("filedialog", winpath(os.path.join(d, "acc.dat")))
                time.sleep(0.5)
                check(len(rows()) == 2 and len(accounts(os.path.join(d, "uinfo.dat"))) == 2,
                      "恢复 brings back the backed-up accounts (%r)" % rows())
                # ovadmin adds an account while the window is open: an add in
                # the window keeps it, and the rows show both.
                wine(admin, "accounts", "add", "zoe", "z1")
                click("setup", ADD)
                dialog("adduser", [(NAME, "yan")])
                driver.wait_gone("adduser", 10)
                time.sleep(0.5)
                names = [a[0] for a in accounts(os.path.join(d, "uinfo.dat"))]
                check(names[2:] == ["zoe", "yan"] and [r.split("|")[0] for r in rows()] == names,
                      "an account added meanwhile by ovadmin stays (%r, %r)" % (names, rows()))

                # Ports.
                click("setup", SIDE_PORTS)
                time.sleep(0.3)
                check(driver.text("setup", CMD_PORT) == "6111" and
                      driver.text("setup", PROXY_PORT) == "6121", "the ports page shows both ports")
                shot("setup-ports", "setup")
                listener = socket.socket()
                held = None
                click("setup", CMD_CHANGE)
                dialog("port", [(PORT, "65001")])
                check(says("65000"), "a port above 65000 is refused")
                shot("setup-port", "port")
                # A port that a program inside the namespace listens on.
                blocker = ns.popen([sys.executable, "-c",
                                    "import socket,sys,time\ns=socket.socket()\n"
                                    "s.bind(('0.0.0.0',0));s.listen()\n"
                                    "print(s.getsockname()[1],flush=True);time.sleep(600)"],
                                   stdout=subprocess.PIPE, text=True)
                held = int(blocker.stdout.readline())
                if held <= 65000:
                    dialog("port", [(PORT, str(held))])
                    check(says("该端口已被占用，请选择其它端口"), "a port in use is refused")
                blocker.kill()
                blocker.wait()
                listener.close()
                dialog("port", [(PORT, "7000")])
                driver.wait_gone("port", 10)
                check(driver.text("setup", CMD_PORT) == "7000", "an accepted port shows on the page")
                click("setup", IDOK)
                out, _ = host.communicate(timeout=30)
                host = None
                check(out.decode().strip() == "server 0 0 7000 6121 706b6579",
                      "the record comes back with both switches off, the new port and PKey untouched"
                      " (%r)" % out)

                # ---- ovagentset
                agent = ns.popen([sys.executable, WEBAGENT], stdout=subprocess.PIPE, text=True)
                port = int(agent.stdout.readline().split()[1])
                good = "http://127.0.0.1:%d/ovagent.php" % port
                bad = "http://127.0.0.1:%d/nomarker/ovagent.php" % port
                host = ns.popen([WINE, os.path.join(d, "showcfg_host.exe"), "web",
                                 winpath(os.path.join(d, "ovagentset.dll")), "-", "-", "old", "1"],
                                env=env, cwd=d, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=errors)
                check(driver("wait", "web", 60).startswith("ok"), "ShowCfg opens the web agent dialog")
                check(driver.text("web", IDOK) == "确定" and driver.text("web", IDCANCEL) == "取消"
                      and driver.text("web", TEST) == "测试" and driver.text("web", DIRECT) == "直连",
                      "with its buttons and check box")
                click("web", IDOK)
                check(says("主WebAgent同备份WebAgent不能配置成同样"), "OK with both empty is refused")
                click("web", TEST)
                check(says("请输入WebAgent地址"), "a test without addresses asks for one")
                # A web agent that never answers: the window animates, and
                # closing it leaves its worker behind without harm.
                driver("settext", "web", MASTER, good.replace("/ovagent", "/hang/ovagent"))
                click("web", TEST)
                check(driver("wait", "test", 20).startswith("ok"), "测试 opens the test window")
                time.sleep(1.6)
                check(driver.text("test", TEST_GROUP) == "正在进行连接测试......"
                      and driver.text("test", TEST_CLOSE) == "取消", "and shows the test running")
                shot("web-agent-testing", "test")
                click("test", TEST_CLOSE)
                check(driver.wait_gone("test", 10), "取消 closes it while the test still waits")
                driver("settext", "web", MASTER, "  " + good + " ")
                driver("settext", "web", BACKUP_URL, bad)
                # The pointer over 取消 darkens it.
                button = rect_of(driver("rect", "web", IDCANCEL))
                if button:
                    driver("cursor", (button[0] + button[2]) // 2, (button[1] + button[3]) // 2)
                shot("web-agent", "web")
                driver("cursor", 900, 700)
                click("web", TEST)
                check(driver("wait", "test", 20).startswith("ok"), "a second test starts afresh")
                check(driver.wait_text("test", TEST_GROUP, "测试结束", 30), "the test ends")
                time.sleep(2)
                check(driver.text("test", TEST_CLOSE) == "确定", "its button now reads 确定")
                shot("web-agent-test", "test")
                click("test", TEST_CLOSE)
                driver.wait_gone("test", 10)

                click("web", CHANGE_KEY)
                dialog("key", [(NEW_KEY, "k1"), (KEY_AGAIN, "k2")])
                check(says("输入的密码不一致，请重新输入"), "differing keys are refused")
                driver("settext", "key", KEY_AGAIN, "k1")
                shot("web-agent-key", "key")
                click("key", IDOK)
                check(says("您确信要更改密码么"), "a key change is confirmed first")
                driver.wait_gone("key", 10)
                check(driver.text("web", MASTER) == "  " + good + " ",
                      "the fields show the values taken by the test")
                driver("check", "web", DIRECT, 0)
                click("web", IDOK)
                out, _ = host.communicate(timeout=30)
                host = None
                words = out.decode().split()
                check(len(words) == 5 and bytes.fromhex(words[1]).decode() == good
                      and bytes.fromhex(words[2]).decode() == bad
                      and bytes.fromhex(words[3]).decode() == "k1" and words[4] == "0",
                      "OK stores the trimmed addresses, the key and the flag (%r)" % out)

                # Cancel after a key change: the key stays changed, nothing else.
                host = ns.popen([WINE, os.path.join(d, "showcfg_host.exe"), "web",
                                 winpath(os.path.join(d, "ovagentset.dll")), good, "-", "old", "1"],
                                env=env, cwd=d, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                stderr=errors)
                driver("wait", "web", 60)
                driver("settext", "web", BACKUP_URL, bad)
                click("web", CHANGE_KEY)
                dialog("key", [(NEW_KEY, "k9"), (KEY_AGAIN, "k9")])
                driver.wait_gone("key", 10)
                check(driver.text("web", BACKUP_URL) == "",
                      "a key change resets the address typed but not taken")
                click("web", IDCANCEL)
                out, _ = host.communicate(timeout=30)
                host = None
                words = out.decode().split()
                check(len(words) == 5 and words[2] == "-" and bytes.fromhex(words[3]).decode() == "k9"
                      and words[4] == "1", "Cancel keeps the new key only (%r)" % out)
                driver.close()
                driver = None
    finally:
        if driver:
            driver.close()
        if host:
            host.kill()
        if agent:
            agent.kill()
        screen.close()
    return check.exit_code()


if __name__ == "__main__":
    sys.exit(main())
