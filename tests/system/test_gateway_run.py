"""OV_G -run, a refused second instance, -end from another process, and
starts that fail (UDP 768 taken, no OV_G.ini) with a failure exit code;
always inside a network namespace of its own."""

import os
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(__file__))
import ovtest  # noqa: E402

ENV = dict(os.environ, LANG="C.UTF-8", LC_ALL="C.UTF-8", OVG_LOG_THRESHOLD="-1")


def wait_for(pred, seconds):
    end = time.time() + seconds
    while time.time() < end:
        if pred():
            return True
        time.sleep(0.05)
    return pred()


read = ovtest.read_gbk


def main():
    ovtest.need_namespaces()
    check = ovtest.Checks()

    with ovtest.program_dir() as d, ovtest.namespaces("gw") as (ns,):
        # Named objects of our own: a gateway elsewhere on this machine (a
        # developer's, another test run's) is not ours to see or to end.
        ENV["OVG_IPC_DIR"] = os.path.join(d, "ipc")
        os.makedirs(ENV["OVG_IPC_DIR"])
        ovg = os.path.join(d, "OV_G")
        adm = subprocess.run([os.path.join(d, "ovadmin"), "init", "--admin-password", "pw"],
                             capture_output=True, env=ENV)
        check(adm.returncode == 0, "ovadmin init prepares the program directory")
        log = os.path.join(d, "OV_G.log")

        first = ns.popen([ovg, "-run"], env=ENV, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        check(wait_for(lambda: "App start..." in read(log), 10), "the gateway logs App start...")

        status = subprocess.run([os.path.join(d, "ovadmin"), "status"], capture_output=True, env=ENV)
        check(status.returncode == 0 and b"running" in status.stdout,
              "ovadmin status finds the gateway's published list")

        second = ns.run([ovg, "-RUN"], env=ENV)
        check(second.returncode == 255, "a second -run exits with -1 (got %d)" % second.returncode)
        check("Orvik Gateway已经在运行! 无法启动另一个实例." in second.stderr.decode("utf-8", "replace"),
              "and says that the gateway runs already")
        check("App start..." in read(log), "the running gateway's log is left alone")

        end = ns.run([ovg, "-end"], env=ENV)
        check(end.returncode == 0, "-end exits with 0")
        rc = ovtest.wait_exit(first, 10)
        check(rc == 0, "the first gateway ends with 0 (got %r)" % rc)
        status = subprocess.run([os.path.join(d, "ovadmin"), "status"], capture_output=True, env=ENV)
        check(status.returncode == 1 and b"stopped" in status.stdout, "after the end ovadmin status says stopped")
        text = read(log)
        check("    App start...\r\n" in text and "    app end.\r\n" in text,
              "its log holds App start... and app end.")

        # A gateway killed without cleanup leaves no list that looks alive.
        killed = ns.popen([ovg, "-run"], env=ENV, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        alive = wait_for(lambda: subprocess.run([os.path.join(d, "ovadmin"), "status"],
                                                capture_output=True, env=ENV).returncode == 0, 10)
        killed.kill()
        killed.wait()
        status = subprocess.run([os.path.join(d, "ovadmin"), "status"], capture_output=True, env=ENV)
        check(alive and status.returncode == 1, "a killed gateway's list reads as stopped")

        # A gateway that cannot serve says so in its exit code, so that the
        # service manager starts it again: here UDP 768 is held by another
        # program of the namespace.
        holder = ns.popen([sys.executable, "-c",
                           "import socket, time\n"
                           "s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)\n"
                           "s.bind(('0.0.0.0', 768))\n"
                           "print('bound', flush=True)\n"
                           "time.sleep(60)\n"], stdout=subprocess.PIPE)
        try:
            check(holder.stdout.readline().strip() == b"bound", "another program holds UDP 768")
            t0 = time.time()
            taken = ns.run([ovg, "-run"], env=ENV, timeout=30)
            check(taken.returncode != 0 and time.time() - t0 < 10,
                  "a gateway whose port 768 is taken exits with a failure (got %d)"
                  % taken.returncode)
            check("app end." in read(log), "after logging its end")
        finally:
            holder.kill()
            holder.wait()

        os.remove(os.path.join(d, "OV_G.ini"))
        t0 = time.time()
        missing = ns.run([ovg, "-run"], env=ENV)
        err = missing.stderr.decode("utf-8", "replace")
        check("OV_G.ini不存在或损坏！" in err, "a missing OV_G.ini is reported")
        check(missing.returncode != 0 and time.time() - t0 < 10,
              "and the start ends with a failure (got %d)" % missing.returncode)
        check(os.path.exists(log + ".bak"), "every start rotates the log to OV_G.log.bak")

    return check.exit_code()


if __name__ == "__main__":
    sys.exit(main())
