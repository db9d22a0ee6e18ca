"""ovconsole.exe under Wine on a virtual X display, driven by
ovconsole_driver.exe: the first start installs the gateway service, a second
instance is refused, the tray menu opens the main dialog, which shows the
gateway stopped, starts the real service and lists the computer the gateway
publishes, stops it again, sets an alias through the system settings and
guards the server settings with the administrator password, behind which
ovsetup.dll's window opens (and ovagentset.dll's behind web配置); a long
alias keeps whole characters; a gateway run as a program cannot be stopped
through the service manager; the tray icon comes back after the shell's
"TaskbarCreated"; exit closes the open dialogs and writes the port the setup
window accepted.

Wine runs a virtual desktop with its taskbar, so the tray icon has a shell
to live in. With OV_SCREENSHOTS=DIR set, the windows are also saved as PNG
files in DIR (the pictures of docs/screenshots come from here)."""

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

WINE = ovtest.WINE
SENDER = r'''
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
s.sendto(bytes.fromhex(sys.argv[1]), ("192.0.2.255", 768))
'''
WM_LBUTTONDBLCLK, WM_RBUTTONUP = 0x203, 0x205
VK_RETURN, VK_DOWN = 13, 40
MAIN_STATUS, START_STOP, LIST, REFRESH = 1011, 1012, 1009, 1004
WEB, ADVANCED, SYSTEM = 1014, 1015, 1016
IDOK = 1
SIDE_USERS, SIDE_PORTS, SWITCH = 1002, 1003, 1012
CMD_CHANGE, PORT = 1021, 1060
STOPPED, RUNNING = "OVG服务状态: 已停止!", "OVG服务状态: 运行中..."


class Driver:
    """ovconsole_driver.exe, one command a line."""

    def __init__(self, ns, env, exe):
        self.proc = ns.popen([WINE, exe], env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL)

    def __call__(self, *words):
        line = " ".join(str(w) for w in words)
        self.proc.stdin.write(line.encode("gbk") + b"\n")
        self.proc.stdin.flush()
        return self.proc.stdout.readline().decode("gbk", "replace").rstrip("\r\n")

    def text(self, kind, control):
        answer = self(f"text {kind} {control}")
        return answer[5:] if answer.startswith("text ") else None

    def wait_text(self, kind, control, wanted, seconds):
        end = time.time() + seconds
        while time.time() < end:
            if self.text(kind, control) == wanted:
                return True
            time.sleep(0.3)
        return False

    def wait_gone(self, kind, seconds):
        end = time.time() + seconds
        while time.time() < end:
            if self("exists", kind) == "no":
                return True
            time.sleep(0.2)
        return False

    def close(self):
        try:
            self.proc.stdin.write(b"quit\n")
            self.proc.stdin.close()
        except OSError:
            pass
        ovtest.wait_exit(self.proc, 20)


class Screen:
    """Xvfb on a free display; PNG shots of the root window or a part."""

    def __init__(self, shots):
        self.shots = shots
        for n in range(90, 140):
            if not os.path.exists("/tmp/.X11-unix/X%d" % n) and not os.path.exists("/tmp/.X%d-lock" % n):
                break
        self.display = ":%d" % n
        self.proc = subprocess.Popen(["Xvfb", self.display, "-screen", "0", "1024x768x24",
                                      "-nolisten", "tcp"], stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        end = time.time() + 20
        while time.time() < end and not os.path.exists("/tmp/.X11-unix/X%d" % n):
            time.sleep(0.1)

    def shot(self, name, rect=None, margin=0):
        if not self.shots:
            return
        full = os.path.join(self.shots, name + "-full.png")
        subprocess.run(["import", "-display", self.display, "-window", "root", full],
                       capture_output=True, timeout=60)
        out = os.path.join(self.shots, name + ".png")
        if rect:
            l, t, r, b = rect
            l, t = max(0, l - margin), max(0, t - margin)
            r, b = min(1024, r + margin), min(768, b + margin)
            subprocess.run(["convert", full, "-crop", "%dx%d+%d+%d" % (r - l, b - t, l, t),
                            "+repage", out], capture_output=True, timeout=60)
            os.remove(full)
        else:
            os.replace(full, out)

    def close(self):
        self.proc.terminate()
        ovtest.wait_exit(self.proc, 10)


def rect_of(answer):
    parts = answer.split()
    return tuple(int(p) for p in parts[1:5]) if len(parts) == 5 and parts[0] == "rect" else None


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
    console = None
    driver = None
    try:
        with ovtest.program_dir() as d, ovtest.namespaces("wcon", "wlan") as (gw, lan):
            ovtest.link(gw, "192.0.2.1", lan, "192.0.2.2")
            with ovtest.wine_session(gw) as env:
                def wine(*args):
                    return ovtest.wine_run(gw, env, *args)

                # Every window of the prefix on one virtual desktop with
                # Wine's taskbar (the desktop named "shell" has one).
                wine("reg", "add", "HKCU\\Software\\Wine\\Explorer", "/v", "Desktop", "/d",
                     "shell", "/f")
                wine("reg", "add", "HKCU\\Software\\Wine\\Explorer\\Desktops", "/v", "shell",
                     "/d", "1024x768", "/f")
                # The caption buttons are glyphs of Wine's Marlett font, which
                # this Wine does not find in its own data directory.
                fonts = os.path.join(env["WINEPREFIX"], "drive_c", "windows", "Fonts")
                if os.path.exists("/usr/share/wine/fonts/marlett.ttf") and os.path.isdir(fonts):
                    shutil.copy("/usr/share/wine/fonts/marlett.ttf", fonts)
                wine(os.path.join(d, "ovadmin.exe"), "init", "--admin-password", "pw")
                exe = os.path.join(d, "ovconsole.exe")
                ini = os.path.join(d, "OV_G.ini")
                errors = tempfile.NamedTemporaryFile(prefix="ovconsole-", suffix=".txt")
                console = gw.popen([WINE, exe], env=env, stdin=subprocess.DEVNULL,
                                   stdout=errors, stderr=errors)

                def said():
                    with open(errors.name, "rb") as f:
                        return f.read().decode("gbk", "replace")

                driver = Driver(gw, env, os.path.join(ovtest.BUILD_DIR, "tests",
                                                      "ovconsole_driver.exe"))
                check(driver("wait", "frame", 60).startswith("ok"),
                      "the console starts with its hidden frame")
                check("系统将要安装ORVIK Gateway服务。\n请确定。" in said(),
                      "the first start announces the service install (%r)" % said()[-200:])
                end = time.time() + 20
                while time.time() < end:
                    rc, _, _ = wine("reg", "query",
                                    "HKLM\\System\\CurrentControlSet\\Services\\OV_Gateway service")
                    if rc == 0:
                        break
                    time.sleep(0.5)
                check(rc == 0, "and installs it")
                check(driver("trayicon", "modify") == "ok", "its tray icon is there")

                rc, out, err = wine(exe)
                check("ORVIK Gateway控制台已经在运行！\n不能运行第二个实例。" in out + err,
                      "a second instance is refused (%r)" % (out + err)[-120:])
                check(driver("exists", "frame") == "yes", "and the first one goes on")

                # The tray menu at the pointer, near the tray as a user's
                # right click would open it.
                driver("cursor", 900, 700)
                driver("tray", 130, WM_RBUTTONUP)
                menu = driver("wait", "menu", 10)
                check(menu.startswith("ok"), "a right click on the tray icon opens the menu")
                time.sleep(0.5)
                rect = rect_of(driver("rect", "menu"))
                # Its top-left corner at the pointer, moved up only as far as
                # the screen's bottom edge needs.
                check(rect is not None and rect[0] == 900 and rect[1] <= 700,
                      "the menu opens at the pointer (%r)" % (rect,))
                driver("key", "menu", VK_DOWN)
                time.sleep(0.5)
                screen.shot("tray-menu", rect, margin=48)
                driver("key", "menu", VK_RETURN)
                check(driver("wait", "main", 20).startswith("ok"),
                      "its first item, 配置..., opens the main dialog")

                check(driver.text("main", 0) == "ORVIK Gateway控制台 - 主配置", "with its title")
                check(driver.text("main", MAIN_STATUS) == STOPPED, "the gateway shows stopped")
                check(driver.text("main", START_STOP) == "启动服务", "the button offers to start")
                check(driver("list", "main", LIST) == "list 0", "and the list is empty")
                cols = driver("columns", "main", LIST)
                try:
                    head, t0, t1 = cols.split("\t")
                    outer, w0, w1 = (int(x) for x in head.split()[1:])
                    check(w0 == outer // 3 and w1 == outer * 2 // 3 and t0 == "名称" and t1 == "地址",
                          "columns 名称 and 地址 take a third and two thirds (%r)" % cols)
                except ValueError:
                    check(False, "the list's columns can be read (%r)" % cols)
                for cid, label in ((REFRESH, "更新列表"), (WEB, "web配置"), (ADVANCED, "高级配置"),
                                   (SYSTEM, "系统设置"), (1, "确定"), (2, "取消")):
                    check(driver.text("main", cid) == label, "button %d reads %s" % (cid, label))
                main_rect = rect_of(driver("rect", "main"))
                screen.shot("main-stopped", main_rect)

                # Double click on the tray icon brings the open dialog forward.
                driver("tray", 130, WM_LBUTTONDBLCLK)
                time.sleep(1)
                listing = driver("windows").split("\t")[1:]
                mains = [w for w in listing if w == "#32770:ORVIK Gateway控制台 - 主配置"]
                check(len(mains) == 1, "a double click keeps one main dialog (%r)" % listing)

                # Start the real service; announce the gateway's own computer.
                driver("click", "main", START_STOP)
                check(driver.wait_text("main", MAIN_STATUS, RUNNING, 60),
                      "start: the service runs and the dialog says so")
                check(driver.text("main", START_STOP) == "停止服务", "the button offers to stop")
                host = gw.run(["hostname"], capture_output=True).stdout.decode().strip()[:39]
                ann = (host.encode().ljust(40, b"\0") + struct.pack("<I", 5900)
                       + socket.inet_aton("192.0.2.1") + b"\0" * 16).hex()
                listed = ""
                end = time.time() + 60
                while time.time() < end:
                    lan.run([sys.executable, "-c", SENDER, ann])
                    time.sleep(1)
                    driver("click", "main", REFRESH)
                    time.sleep(0.5)
                    listed = driver("list", "main", LIST)
                    if host in listed:
                        break
                check(listed == "list 1\t%s\t192.0.2.1" % host,
                      "refresh lists the published computer with its address (%r)" % listed)
                # The pointer over a button lights it up.
                button = rect_of(driver("rect", "main", REFRESH))
                if button:
                    driver("cursor", (button[0] + button[2]) // 2, (button[1] + button[3]) // 2)
                    time.sleep(0.5)
                screen.shot("main-running", main_rect)
                driver("cursor", 900, 700)

                # System settings: the alias goes into OV_G.ini.
                driver("click", "main", SYSTEM)
                check(driver("wait", "alias", 20).startswith("ok"), "系统设置 opens the alias dialog")
                check(driver.text("alias", 1001) == host[:49], "showing the host name")
                driver("settext", "alias", 1002, "网关一号")
                screen.shot("alias", rect_of(driver("rect", "alias")))
                driver("click", "alias", IDOK)
                check(driver.wait_gone("alias", 10), "OK closes it")
                time.sleep(0.5)
                with open(ini, "rb") as f:
                    written = f.read()
                check(b"[Base]\r\nAlias=" + "网关一号".encode("gbk") + b"\r\n\r\n" in written
                      and written.startswith(b"[CWebinfo]\r\n"),
                      "and OV_G.ini holds the alias (%r)" % written[-60:])
                check("计算机别名设置生效" in said(), "the console says the alias is in effect")
                # An alias longer than its 50 bytes is cut at a whole
                # character; OK on it again writes and says nothing.
                long_alias = "a" + "网" * 30
                for typed in (long_alias, None):
                    driver("click", "main", SYSTEM)
                    driver("wait", "alias", 20)
                    time.sleep(0.3)
                    if typed:
                        driver("settext", "alias", 1002, typed)
                    else:
                        with open(ini, "rb") as f:
                            written, told = f.read(), said().count("计算机别名设置生效")
                    driver("click", "alias", IDOK)
                    driver.wait_gone("alias", 10)
                    time.sleep(0.5)
                with open(ini, "rb") as f:
                    again = f.read()
                check(b"\r\nAlias=" + long_alias[:25].encode("gbk") + b"\r\n" in written,
                      "a long alias keeps its whole characters (%r)" % written[-70:])
                check(again == written and said().count("计算机别名设置生效") == told,
                      "and OK on it unchanged writes nothing and says nothing")

                # The server settings need the administrator's password;
                # web settings need their library (not installed here).
                driver("click", "main", ADVANCED)
                check(driver("wait", "password", 20).startswith("ok"), "高级配置 asks for the password")
                driver("settext", "password", 1000, "wrong")
                screen.shot("password", rect_of(driver("rect", "password")))
                driver("click", "password", IDOK)
                driver.wait_gone("password", 10)
                time.sleep(0.5)
                check("输入的管理员密码错误！" in said(), "a wrong password is refused")
                driver("click", "main", ADVANCED)
                driver("wait", "password", 20)
                time.sleep(0.5)
                driver("settext", "password", 1000, "pw")
                driver("click", "password", IDOK)
                driver.wait_gone("password", 10)
                # The right password opens ovsetup's window; a change of the
                # Guest switch there is written and asks for a restart.
                check(driver("wait", "setup", 60).startswith("ok"),
                      "the right password opens ovsetup.dll's 高级配置窗口 (%r, %r)"
                      % (driver("windows"), said()[-200:]))
                driver("click", "setup", SIDE_USERS)
                time.sleep(0.5)
                driver("click", "setup", SWITCH)
                time.sleep(0.5)
                driver("click", "setup", IDOK)
                check(driver.wait_gone("setup", 10), "确定 closes it")
                end = time.time() + 10
                while time.time() < end and "配置发生了变化，请重新启动服务" not in said():
                    time.sleep(0.3)
                with open(ini, "rb") as f:
                    written = f.read()
                check("配置发生了变化，请重新启动服务" in said() and b"bGuest=0\r\n" in written,
                      "the console writes the changed Guest switch and asks for a restart")
                # ovagentset's dialog closed with Cancel changes nothing.
                before = said()
                driver("click", "main", WEB)
                check(driver("wait", "web", 30).startswith("ok"), "web配置 opens ovagentset.dll's dialog")
                driver("click", "web", 2)
                check(driver.wait_gone("web", 10), "取消 closes it")
                time.sleep(1)
                check(said() == before, "and nothing was written or said")

                # Without the libraries, each is named.
                for name in ("ovsetup.dll", "ovagentset.dll"):
                    os.rename(os.path.join(d, name), os.path.join(d, name + ".away"))
                driver("click", "main", ADVANCED)
                driver("wait", "password", 20)
                time.sleep(0.5)
                driver("settext", "password", 1000, "pw")
                driver("click", "password", IDOK)
                driver.wait_gone("password", 10)
                driver("click", "main", WEB)
                time.sleep(1.5)
                text = said()
                check("Load ovsetup.dll Failed!" in text and "Load ovagentset.dll Failed!" in text,
                      "both missing libraries are named")

                # Stop the service.
                driver("click", "main", START_STOP)
                check(driver.wait_text("main", MAIN_STATUS, STOPPED, 60),
                      "stop: the service stops and the dialog says so")
                rc, out, _ = wine(os.path.join(d, "ovadmin.exe"), "status")
                check(out.startswith("stopped"), "the gateway's list is gone (%r)" % out)

                # A gateway run as a program is not the service: the button
                # offers to stop it, and the service manager refuses.
                ovg = os.path.join(d, "OV_G.exe")
                program = gw.popen([WINE, ovg, "-run"], env=env, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL)
                end = time.time() + 60
                while time.time() < end and driver.text("main", MAIN_STATUS) != RUNNING:
                    driver("click", "main", REFRESH)
                    time.sleep(1)
                check(driver.text("main", START_STOP) == "停止服务",
                      "a gateway run as a program shows running")
                driver("click", "main", START_STOP)
                end = time.time() + 30
                while time.time() < end and "停止OVG服务失败!" not in said():
                    time.sleep(0.5)
                check("停止OVG服务失败!" in said(), "stopping it through the service manager fails")
                check(driver.wait_text("main", MAIN_STATUS, RUNNING, 10), "and it still shows running")
                wine(ovg, "-end")
                ovtest.wait_exit(program, 30)
                driver("click", "main", REFRESH)
                check(driver.wait_text("main", MAIN_STATUS, STOPPED, 10),
                      "after it ended, 更新列表 shows stopped")

                # The shell forgets the icon; its "TaskbarCreated" brings it back.
                check(driver("trayicon", "delete") == "ok", "the tray icon is taken away")
                check(driver("trayicon", "modify") == "failed", "and is gone")
                check(driver("taskbarcreated") == "ok", "TaskbarCreated reaches the console")
                time.sleep(0.5)
                check(driver("trayicon", "modify") == "ok", "and the icon is back")

                # Exit from the tray menu while the setup window is open on
                # a port it accepted: the port is written before the end.
                os.rename(os.path.join(d, "ovsetup.dll.away"), os.path.join(d, "ovsetup.dll"))
                driver("click", "main", ADVANCED)
                driver("wait", "password", 20)
                time.sleep(0.5)
                driver("settext", "password", 1000, "pw")
                driver("click", "password", IDOK)
                driver.wait_gone("password", 10)
                check(driver("wait", "setup", 60).startswith("ok"), "the setup window opens again")
                driver("click", "setup", SIDE_PORTS)
                time.sleep(0.3)
                driver("click", "setup", CMD_CHANGE)
                driver("wait", "port", 20)
                driver("settext", "port", PORT, "7100")
                driver("click", "port", IDOK)
                check(driver.wait_gone("port", 10), "a new command port is accepted")
                driver("tray", 130, WM_RBUTTONUP)
                driver("wait", "menu", 10)
                for vk in (VK_DOWN, VK_DOWN, VK_RETURN):
                    driver("key", "menu", vk)
                rc = ovtest.wait_exit(console, 30)
                check(rc == 0, "退出 ends the console with its dialogs open (rc %r)" % rc)
                with open(ini, "rb") as f:
                    written = f.read()
                check(b"\r\nCmdPort=7100\r\n" in written,
                      "and the port the setup window accepted is in OV_G.ini (%r)" % written)
                console = None
                check(driver("exists", "main") == "no", "the dialog is gone too")
                check(driver("trayicon", "modify") == "failed", "and so is the tray icon")

                # The service is installed now: a later start asks nothing.
                again = tempfile.NamedTemporaryFile(prefix="ovconsole-", suffix=".txt")
                console = gw.popen([WINE, exe], env=env, stdin=subprocess.DEVNULL,
                                   stdout=again, stderr=again)
                check(driver("wait", "frame", 60).startswith("ok"), "the console starts again")
                driver("command", 32790)
                rc = ovtest.wait_exit(console, 30)
                console = None
                with open(again.name, "rb") as f:
                    text = f.read().decode("gbk", "replace")
                check(rc == 0 and "系统将要安装" not in text,
                      "without asking to install again, and 退出 ends it (rc %r, %r)" % (rc, text))

                # What a standard user's console starts elevated (Wine grants
                # every right, so no prompt here): the start and the stop
                # as one action each, answered by the exit code, and the
                # configuration window alone.
                admin = os.path.join(d, "ovadmin.exe")
                rc, out, err = wine(exe, "-startservice")
                _, status, _ = wine(admin, "status")
                check(rc == 0 and not status.startswith("stopped"),
                      "ovconsole -startservice starts the service (rc %r, %r)" % (rc, status))
                rc, out, err = wine(exe, "-stopservice")
                _, status, _ = wine(admin, "status")
                check(rc == 0 and status.startswith("stopped"),
                      "ovconsole -stopservice stops it (rc %r, %r)" % (rc, status))
                rc, out, err = wine(exe, "-stopservice")
                check(rc == 1, "and a stop of a stopped service is a failure (rc %r)" % rc)
                console = gw.popen([WINE, exe, "-configure"], env=env, stdin=subprocess.DEVNULL,
                                   stdout=again, stderr=again)
                check(driver("wait", "main", 30).startswith("ok")
                      and driver.text("main", MAIN_STATUS) == STOPPED,
                      "ovconsole -configure opens the configuration alone")
                check(driver("exists", "frame") == "no", "without a tray icon of its own")
                driver("click", "main", IDOK)
                rc = ovtest.wait_exit(console, 30)
                console = None
                check(rc == 0, "and ends with it (rc %r)" % rc)
                driver.close()
                driver = None
    finally:
        if driver:
            driver.close()
        if console:
            console.kill()
        screen.close()
    return check.exit_code()


if __name__ == "__main__":
    sys.exit(main())
