"""Trees, streams and environments built to break the tool, as one table:
each failure reported, and the run going on where it can."""
import errno
import os
import re
import signal
import sys
import unittest

import harness
from harness import (CAN_DROP_PRIVILEGES, ON_WINE, UNPRIVILEGED, VERSION, check_report, make_file, run,
                     run_checking_free, temporary_tree)

# Trees of thousands of entries are made in memory where the machine can.
FAST_TEMP = "/dev/shm" if os.access("/dev/shm", os.W_OK) and os.statvfs("/dev/shm").f_favail > 100000 else None


def chain(path, depth, leaves=1, size=0, name="f"):
    """`depth` levels below `path`, `leaves` files of long names at the bottom."""
    harness.chain(path, depth, each=lambda level: level == depth and [make_file(
        "%s%05d-%s" % (name, i, "x" * 80), size) for i in range(leaves)])


def wide(root):
    """3000 files in one directory, with chains between them."""
    for i in range(3):
        chain(os.path.join(root, "w"), 0, 1000, name="f%d" % i)
        chain(os.path.join(root, "w", "c%d" % i), 40, 1, 1)


def small(root, lock=None, mode=0o000):
    for name, size in (("a", 5000), ("locked/inner/f", 100), ("open/g", 1), ("plain", 1)):
        make_file(os.path.join(root, name), size)
    if lock:
        os.chmod(os.path.join(root, lock), mode)


TREES = {"small": small, "wide": wide, "deep": lambda r: chain(r, 2100, 1, 5000),
         "locked": lambda r: small(r, "locked"), "listed": lambda r: small(r, "locked", 0o444),
         "open listed": lambda r: small(r, "open", 0o444)}
SH = ("bash", "-c")
PREFIXES = {"posix": ("prlimit", "--nofile=64"), "full": SH + ('exec "$@" >/dev/full', "-"),
            # The signal ends it without a word; ignored, the write fails.
            "| head -1": SH + ('set -o pipefail; "$@" | head -1', "-"),
            "| head -1, SIGPIPE ignored": SH + ('trap "" PIPE; set -o pipefail; "$@" | head -1', "-"),
            "nobody": UNPRIVILEGED, "nobody 2>&1": UNPRIVILEGED + SH + ('exec "$@" 2>&1', "-")}
X = "x" * 120000
CASES = [
    # (how it runs, tree, arguments, environment, status, stdout: all of it,
    #  parts of it, or (option letters, cluster size) of the model's report,
    #  and (what, errno) of each message on stderr)
    ("", "small", ("-p", "missing"), {}, 2, "", [("cannot enter directory 'missing'", errno.ENOENT)]),
    ("", "small", ("-p", "plain"), {}, 2, "", [("cannot enter directory 'plain'", errno.ENOTDIR)]),
    # A start path that is no directory fails the walk, not the drive.
    ("", "small", ("-c4096", "missing"), {}, 2, ["4096 bytes per cluster\n         0   missing\n"],
     [("cannot read directory 'missing'", errno.ENOENT)]),
    ("", "small", ("-c4096", "plain"), {}, 2, ["4096 bytes per cluster\n         0   plain\n"],
     [("cannot read directory 'plain'", errno.ENOTDIR)]),
    ("posix", "small", (), {"SPACE": X}, 2, ["         0   %s\n" % X], [("cannot read directory '%s'" % X, errno.ENAMETOOLONG)]),
    ("full", "small", ("-c4096",), {}, 2, "", [("write error", errno.ENOSPC)]),
    ("full", "small", ("-?",), {}, 2, "", [("write error", errno.ENOSPC)]),
    ("full", "small", (), {"SPACE": "-?"}, 2, "", [("write error", errno.ENOSPC)]),
    ("| head -1", "wide", ("-f", "-c4096"), {}, 128 + signal.SIGPIPE, ["4096 bytes per cluster\n"], []),
    ("| head -1, SIGPIPE ignored", "wide", ("-f", "-c4096"), {}, 2, ["4096 bytes per cluster\n"],
     [("write error", errno.EPIPE)]),
    ("nobody", "locked", ("-bn", "-c4096"), {}, 2, ["         0          0      0   ./locked\n"],
     [("cannot read directory './locked'", errno.EACCES)]),
    # The rows so far go out before the message.
    ("nobody 2>&1", "locked", ("-fb", "-c4096", "locked/"), {}, 2,
     ["4096 bytes per cluster\nspace: cannot read directory 'locked/': %s\n         0          0   locked/\n"
      % os.strerror(errno.EACCES)], []),
    ("nobody", "listed", ("-bn", "-c4096"), {}, 2, ["         0          0      0   ./locked\n"],
     [("cannot read directory './locked/inner'", errno.EACCES)]),
    ("nobody", "open listed", ("-c4096", "open"), {}, 2, ["         0   open\n"],
     [("cannot read file 'open/g'", errno.EACCES)]),
    ("nobody", "locked", ("-p", "locked"), {}, 2, "", [("cannot enter directory 'locked'", errno.EACCES)]),
    # Far more levels than descriptors, and paths far longer than PATH_MAX.
    ("posix", "deep", ("-bn", "-c4096"), {}, 0, ("bn", 4096), []),
    ("posix", "wide", ("-fn", "-c4096"), {}, 0, ("fn", 4096), []),
    # Each option letter once (-cd: no such drive, then -k); with "?", help.
    ("posix", "small", (), {"SPACE": b"-" + bytes(range(1, 256)).replace(b"?", b"")}, 0, ("bCfghnpst", 1024), []),
    ("posix", "small", (), {"SPACE": b"-" + bytes(range(1, 256)) * 400}, 1, ["SPACE v%s\n" % VERSION], []),
    ("posix", "small", (), {"SPACE": "-" + "bn" * 30000 + "c" + "9" * 60000}, 0, ("", 4294967295), []),
]


class HostileTest(unittest.TestCase):
    def test_table(self):
        root = temporary_tree(self, "space-hostile-", dir=FAST_TEMP)
        sys.setrecursionlimit(max(sys.getrecursionlimit(), 20000))
        for how, tree, args, env, status, out, messages in CASES:
            if (how and ON_WINE) or (how.startswith("nobody") and not CAN_DROP_PRIVILEGES):
                continue
            with self.subTest(how=how, tree=tree, args=args, env={k: v[:20] for k, v in env.items()}):
                cwd = os.path.join(root, tree)
                if not os.path.exists(cwd):
                    os.mkdir(cwd)
                    TREES[tree](cwd)
                options = dict(cwd=cwd, env=env, prefix=PREFIXES.get(how, ()), timeout=300)
                if isinstance(out, tuple):  # the whole report
                    result = run_checking_free(self, cwd, args, *out, **options)
                    check_report(self, result, cwd, ".", *out)
                else:
                    result = run(args, **options)
                for part in out if isinstance(out, list) else []:
                    self.assertIn(part, result.stdout)
                if out == "":
                    self.assertEqual(result.stdout, "")
                lines = result.stderr.splitlines(keepends=True)
                self.assertEqual(len(lines), len(messages), result.stderr)
                for line, (what, error) in zip(lines, messages):
                    reason = r"\S.*" if ON_WINE else re.escape(os.strerror(error))  # the system's own text
                    self.assertRegex(line, r"\Aspace: %s: %s\n\Z" % (re.escape(what), reason))
                self.assertEqual(result.status, status)


if __name__ == "__main__":
    unittest.main()
