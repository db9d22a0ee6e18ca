"""ovadmin in a terminal whose locale has no character set for Chinese
(C/POSIX): it says that the locale is the trouble, for arguments it cannot
read and for output it can only show as '?'."""

import os
import subprocess
import sys

sys.path.insert(0, os.path.dirname(__file__))
import ovtest  # noqa: E402


def main():
    check = ovtest.Checks()
    with ovtest.program_dir("ovadmin") as d:
        ovadmin = os.path.join(d, "ovadmin")

        def run(locale, *args):
            env = dict(os.environ, LC_ALL=locale, LANG=locale)
            p = subprocess.run([ovadmin] + list(args), env=env, capture_output=True, timeout=60)
            return p.returncode, p.stdout, p.stderr.decode("utf-8", "replace")

        rc, _, err = run("C.UTF-8", "init", "--admin-password", "pw")
        check(rc == 0, "init in a UTF-8 locale (%r)" % err)
        rc, _, err = run("C.UTF-8", "accounts", "add", "bob", "pw", "--description", "前台")
        check(rc == 0, "a Chinese description from a UTF-8 terminal is taken (%r)" % err)
        before = open(os.path.join(d, "uinfo.dat"), "rb").read()

        rc, _, err = run("C", "accounts", "add", "张三", "pw")
        check(rc == 2 and "locale" in err and "C/POSIX" in err,
              "a Chinese argument in the C locale is refused naming the locale (%d, %r)" % (rc, err))
        check(open(os.path.join(d, "uinfo.dat"), "rb").read() == before, "nothing was written")

        rc, out, err = run("C", "accounts", "list")
        check(rc == 0 and b"bob\tenabled\t??" in out and "locale" in err,
              "a listing in the C locale says why text shows as '?' (%r, %r)" % (out, err))
    return check.exit_code()


if __name__ == "__main__":
    sys.exit(main())
