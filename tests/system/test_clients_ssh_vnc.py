"""Real SSH and VNC clients through the gateway. The controlled computer's
namespace runs sshd (a throwaway host key, user key and config of its own,
on its own port) and x11vnc on an Xvfb display, each announced by
ovannounce; the user's namespace runs ssh with `ovconnect stdio` as its
ProxyCommand (a command, and 20 MB each way with matching checksums) and
vncsnapshot through `ovconnect forward` (an image of the display's size)."""

import hashlib
import os
import re
import shlex
import shutil
import struct
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(__file__))
import ovtest  # noqa: E402

ENV = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8", OVCONNECT_PASSWORD="pw")
GW_LAN, PC = "192.0.2.1", "192.0.2.2"
GW_WAN, USER = "198.51.100.1", "198.51.100.2"
LOGIN = ["--gateway", GW_WAN + ":6111", "--user", "Administrator"]
SSH_TOOLS = ["/usr/sbin/sshd", "/usr/bin/ssh", "/usr/bin/ssh-keygen"]
VNC_TOOLS = ["/usr/bin/Xvfb", "/usr/bin/x11vnc", "/usr/bin/vncsnapshot"]


def jpeg_size(data):
    """(width, height) from a JPEG's first start-of-frame marker."""
    i = 2
    while i + 9 < len(data):
        if data[i] != 0xFF:
            return None
        marker, length = data[i + 1], struct.unpack(">H", data[i + 2:i + 4])[0]
        if marker in (0xC0, 0xC1, 0xC2):
            h, w = struct.unpack(">HH", data[i + 5:i + 9])
            return w, h
        i += 2 + length
    return None


def wait_listed(user, connect, name, seconds=30):
    end = time.time() + seconds
    while time.time() < end:
        r = user.run([connect, "list", *LOGIN], env=ENV)
        if r.returncode == 0 and ("\n%s\t" % name) in r.stdout.decode():
            return True
        time.sleep(0.3)
    return False


def ssh_part(check, d, pc, user, connect, announce, procs):
    keys = os.path.join(d, "ssh")
    os.makedirs(keys)
    for k in ("host", "user"):
        subprocess.run(["ssh-keygen", "-q", "-t", "ed25519", "-N", "", "-f",
                        os.path.join(keys, k)], check=True)
    shutil.copy(os.path.join(keys, "user.pub"), os.path.join(keys, "authorized_keys"))
    config = os.path.join(keys, "sshd_config")
    with open(config, "w") as f:
        f.write("ListenAddress %s:2222\nHostKey %s\nAuthorizedKeysFile %s\n"
                "PasswordAuthentication no\nKbdInteractiveAuthentication no\nUsePAM no\n"
                "StrictModes no\nPermitRootLogin prohibit-password\nPidFile none\n"
                % (PC, os.path.join(keys, "host"), os.path.join(keys, "authorized_keys")))
    # sshd insists on its privilege separation directory.
    os.makedirs("/run/sshd", mode=0o755, exist_ok=True)
    procs.append(pc.popen(["/usr/sbin/sshd", "-D", "-e", "-f", config],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
    procs.append(pc.popen([announce, "--name", "pc-ssh", "--port", "2222", "--to",
                           "192.0.2.255", "--every", "1"], stderr=subprocess.DEVNULL))
    check(wait_listed(user, connect, "pc-ssh"), "the SSH computer is listed")
    proxy = " ".join(shlex.quote(a) for a in [connect, "stdio", "pc-ssh", *LOGIN])
    ssh = ["ssh", "-F", "none", "-i", os.path.join(keys, "user"), "-o", "BatchMode=yes",
           "-o", "StrictHostKeyChecking=no", "-o",
           "UserKnownHostsFile=" + os.path.join(keys, "known_hosts"),
           "-o", "ProxyCommand=" + proxy, "root@pc-ssh"]
    r = user.run(ssh + ["echo hello from $(hostname -I)"], env=ENV)
    check(r.returncode == 0 and ("hello from %s" % PC) in r.stdout.decode(),
          "ssh runs a command on the computer (%r %r)" % (r.stdout, r.stderr[-400:]))
    blob = os.urandom(20 << 20)
    target = os.path.join(keys, "copied.bin")
    r = user.run(ssh + ["cat > " + shlex.quote(target)], env=ENV, input=blob, timeout=120)
    copied = open(target, "rb").read() if os.path.exists(target) else b""
    check(r.returncode == 0 and hashlib.sha256(copied).digest() == hashlib.sha256(blob).digest(),
          "20 MB copied up arrive intact (%d bytes, %r)" % (len(copied), r.stderr[-300:]))
    r = user.run(ssh + ["cat " + shlex.quote(target)], env=ENV, timeout=120)
    check(hashlib.sha256(r.stdout).digest() == hashlib.sha256(blob).digest(),
          "and come back down intact (%d bytes)" % len(r.stdout))


def vnc_part(check, d, pc, user, connect, announce, procs):
    display = next(n for n in range(71, 200) if not os.path.exists("/tmp/.X%d-lock" % n))
    procs.append(pc.popen(["/usr/bin/Xvfb", ":%d" % display, "-screen", "0", "640x480x24",
                           "-nolisten", "tcp"], stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL))
    time.sleep(1.5)
    procs.append(pc.popen(["/usr/bin/x11vnc", "-display", ":%d" % display, "-rfbport", "5900",
                           "-listen", PC, "-forever", "-shared", "-nopw", "-quiet"],
                          stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
    procs.append(pc.popen([announce, "--name", "pc-vnc", "--port", "5900", "--to",
                           "192.0.2.255", "--every", "1"], stderr=subprocess.DEVNULL))
    check(wait_listed(user, connect, "pc-vnc"), "the VNC computer is listed")
    fwd = user.popen([connect, "forward", "pc-vnc", "--listen", "127.0.0.1:0", *LOGIN], env=ENV,
                     stderr=subprocess.PIPE)
    procs.append(fwd)
    m = re.search(r"127\.0\.0\.1:(\d+) to pc-vnc", fwd.stderr.readline().decode())
    check(m is not None, "forward listens")
    if not m:
        return
    shot = os.path.join(d, "desktop.jpg")
    size = None
    for _ in range(10):  # x11vnc takes a moment to come up
        r = user.run(["/usr/bin/vncsnapshot", "-quiet", "127.0.0.1::" + m.group(1), shot],
                     timeout=60)
        if r.returncode == 0 and os.path.exists(shot):
            size = jpeg_size(open(shot, "rb").read())
            break
        time.sleep(1)
    check(size == (640, 480), "vncsnapshot through the gateway takes a 640x480 image (%r)"
          % (size,))


def main():
    ovtest.need_namespaces()
    have_ssh = all(os.path.exists(t) for t in SSH_TOOLS)
    have_vnc = all(os.path.exists(t) for t in VNC_TOOLS)
    if not have_ssh and not have_vnc:
        ovtest.skip("openssh-server/openssh-client and xvfb/x11vnc/vncsnapshot are not "
                    "installed (tools/test installs them)")
    check = ovtest.Checks()
    with ovtest.program_dir() as d, ovtest.namespaces("sgw", "spc", "suser") as (gw, pc, user):
        ovtest.link(gw, GW_LAN, pc, PC)
        ovtest.link(gw, GW_WAN, user, USER)
        env = dict(ENV, OVG_IPC_DIR=os.path.join(d, "ipc"))
        os.makedirs(env["OVG_IPC_DIR"])
        adm = os.path.join(d, "ovadmin")
        subprocess.run([adm, "init", "--admin-password", "pw"], capture_output=True, env=env)
        subprocess.run([adm, "ini", "set", "S_CFG", "flg_encrypt", "0"], capture_output=True,
                       env=env)
        procs = []
        try:
            procs.append(gw.popen([os.path.join(d, "OV_G"), "-run"], env=env,
                                  stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL))
            args = (check, d, pc, user, os.path.join(d, "ovconnect"),
                    os.path.join(d, "ovannounce"), procs)
            if have_ssh:
                ssh_part(*args)
            else:
                print("SKIPPED part: ssh (openssh-server/openssh-client not installed)")
            if have_vnc:
                vnc_part(*args)
            else:
                print("SKIPPED part: vnc (xvfb/x11vnc/vncsnapshot not installed)")
        finally:
            # Politely first: Xvfb removes its lock file only when asked to end.
            for p in reversed(procs):
                if p.poll() is None:
                    p.terminate()
                    ovtest.wait_exit(p, 5)
    return check.exit_code()


if __name__ == "__main__":
    sys.exit(main())
