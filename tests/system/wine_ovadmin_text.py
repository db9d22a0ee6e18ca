"""Under Wine: ovadmin.exe reads its arguments from the wide command line.
A character that GBK (code page 936) lacks is refused instead of being
stored as '?'; Chinese text is stored as GBK."""

import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(__file__))
import ovtest  # noqa: E402


def main():
    check = ovtest.Checks()
    wine_run = os.path.join(ovtest.SOURCE_DIR, "tools", "wine-run")
    with ovtest.program_dir("ovadmin.exe") as d:
        def run(*args):
            # tools/wine-run: code page 936, the build's prefix, output through a file.
            p = subprocess.run([wine_run, os.path.join(d, "ovadmin.exe")] + list(args),
                               capture_output=True, timeout=300)
            return p.returncode, p.stdout.decode("gbk", "replace")

        rc, out = run("init", "--admin-password", "pw")
        check(rc == 0, "init (%r)" % out)
        before = open(os.path.join(d, "uinfo.dat"), "rb").read()
        rc, out = run("accounts", "add", "김", "pw")  # Hangul: not in code page 936
        check(rc == 2 and "GBK" in out, "a name GBK cannot hold is refused (%d, %r)" % (rc, out))
        check(open(os.path.join(d, "uinfo.dat"), "rb").read() == before, "nothing was written")
        rc, out = run("accounts", "add", "张三", "pw")
        check(rc == 0, "a Chinese name is taken (%r)" % out)
        rc, out = run("accounts", "list")
        check(rc == 0 and "张三\tenabled" in out, "and listed as it was given (%r)" % out)
    return check.exit_code()


if __name__ == "__main__":
    sys.exit(main())
