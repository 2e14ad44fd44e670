"""Each allocation of a run failing in turn, alone and from there on: a run
ends whole, or with status 2 or 3 and its messages; never with a crash, a
sanitizer's report or a wrong row."""
import os
import re
import subprocess
import unittest

from harness import ON_WINE, environment, make_file, slow, temporary_tree

EXE = os.environ.get("SPACE_FAIL_ALLOC_EXE", "")
NAME = os.path.splitext(os.path.basename(EXE))[0]
SPACEMAP_EXE = os.environ.get("SPACEMAP_FAIL_ALLOC_EXE", "")


def run(command, threads, fail=None, cwd=None):
    """(status, output less an export's time, messages) of `command`, allocation `fail` failing, else counted."""
    env = environment(SPACE_THREADS=str(threads), **({"SPACE_FAIL_ALLOC": fail} if fail else {"SPACE_COUNT_ALLOC": "1"}))
    proc = subprocess.run(command, cwd=cwd, env=env, capture_output=True, timeout=120)
    return proc.returncode, re.sub(rb'"timestamp":\d+', b"", proc.stdout), proc.stderr.decode(errors="replace")


def allocations(counted):
    return int(re.search(r"allocations: (\d+)", counted).group(1))


@unittest.skipIf(ON_WINE or not EXE, "allocation is made to fail in the POSIX build")
class OutOfMemoryTest(unittest.TestCase):
    def test_every_allocation_failing(self):
        root = temporary_tree(self, "space-alloc-")
        for d in range(6):
            for i in range(50):
                make_file(os.path.join(root, "d%d" % d, "x", "f%d" % i), i * 100)
            os.makedirs(os.path.join(root, "d%d" % d, "y"))
        command = ["prlimit", "--nofile=8", EXE, "-c0", "-f", root]
        for threads in (1, 4):
            status, report, counted = run(command, threads)
            self.assertEqual(status, 0, counted)
            report = report[:report.rfind(b"\n", 0, -1)]  # the free row may move
            for n in range(1, allocations(counted) + 16):
                for fail in (str(n), "%d+" % n):
                    status, out, err = run(command, threads, fail)
                    where = "%d threads, SPACE_FAIL_ALLOC=%s: %s" % (threads, fail, err)
                    self.assertIn(status, (0, 2, 3), where)
                    self.assertTrue(report.startswith(out[:out.rfind(b"\n", 0, -1)]), where)
                    if status == 0:
                        self.assertEqual(out[:len(report)], report, where)
                    for line in err.splitlines():
                        self.assertRegex(line, r"\A%s: [^:]+: .+\Z" % re.escape(NAME), where)
                    if status == 3:
                        self.assertEqual(err.splitlines()[-1], NAME + ": out of memory: Abnormal program termination",
                                         where)


@unittest.skipIf(ON_WINE or not SPACEMAP_EXE, "allocation is made to fail in the POSIX build")
class SpacemapOutOfMemoryTest(unittest.TestCase):
    """Each mode ends whole or with status 3 and its message, leaking nothing;
    the options, read alike in every mode, are swept in the first only."""

    @slow
    def test_every_mode_ends_whole_or_with_status_3(self):
        work = temporary_tree(self, "spacemap-alloc-")
        for i in range(5):
            make_file(os.path.join(work, "tree", "a", "f%d" % i), i * 1000)
            make_file(os.path.join(work, "tree", "a", "b", "g%d" % i), 300)
        os.link(os.path.join(work, "tree", "a", "f1"), os.path.join(work, "tree", "a", "b", "again"))
        subprocess.run([SPACEMAP_EXE, "-o", "scan.json", "tree"], cwd=work, check=True)
        name = os.path.basename(SPACEMAP_EXE)
        options_read = allocations(run([SPACEMAP_EXE, "--version"], 2, cwd=work)[2]) - 16
        for mode, args in enumerate((["-d", "3", "tree"], ["-o", "-", "tree"], ["-f", "scan.json"],
                                     ["--html", "-", "tree"], ["--diff", "scan.json", "tree"])):
            status, whole, counted = run([SPACEMAP_EXE] + args, 2, cwd=work)
            self.assertEqual(status, 0, counted)
            sweep = list(range(1, options_read, 8)) if mode == 0 else []
            for n in sweep + list(range(options_read, allocations(counted) + 8)):
                for fail in (str(n), "%d+" % n):
                    status, out, err = run([SPACEMAP_EXE] + args, 2, fail, work)
                    where = "%s, SPACE_FAIL_ALLOC=%s: %s" % (args, fail, err)
                    self.assertIn(status, (0, 3), where)
                    if status == 0:
                        self.assertEqual((out, err), (whole, ""), where)
                    else:
                        self.assertEqual(err, name + ": out of memory: Abnormal program termination\n", where)
