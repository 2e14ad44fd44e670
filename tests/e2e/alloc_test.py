"""Memory that runs out at any point of a run: a copy of the tool whose
allocations fail on demand, each allocation of a run failing in turn, and
failing from there on, at one and four threads with descriptors short. A run
ends with its whole report, or with status 2 or 3, its messages and a part of
its report; never with a crash, a sanitizer's report or a wrong row."""
import os
import re
import subprocess
import tempfile
import unittest

from harness import ON_WINE, environment, make_file, remove_tree

EXE = os.environ.get("SPACE_FAIL_ALLOC_EXE", "")
NAME = os.path.splitext(os.path.basename(EXE))[0]


def run(root, threads, fail=None):
    env = environment(SPACE_THREADS=str(threads), **({"SPACE_FAIL_ALLOC": fail} if fail else {"SPACE_COUNT_ALLOC": "1"}))
    proc = subprocess.run(["prlimit", "--nofile=8", EXE, "-c0", "-f", root], env=env, capture_output=True, timeout=120)
    return proc.returncode, proc.stdout, proc.stderr.decode(errors="replace")


@unittest.skipIf(ON_WINE or not EXE, "allocation is made to fail in the POSIX build")
class OutOfMemoryTest(unittest.TestCase):
    def test_every_allocation_failing(self):
        root = tempfile.mkdtemp(prefix="space-alloc-")
        self.addCleanup(remove_tree, root)
        for d in range(6):
            for i in range(50):
                make_file(os.path.join(root, "d%d" % d, "x", "f%d" % i), i * 100)
            os.makedirs(os.path.join(root, "d%d" % d, "y"))
        for threads in (1, 4):
            status, report, counted = run(root, threads)
            self.assertEqual(status, 0, counted)
            allocations = int(re.search(r"allocations: (\d+)", counted).group(1))
            report = report[:report.rfind(b"\n", 0, -1)]  # the free row may move
            for n in range(1, allocations + 16):
                for fail in (str(n), "%d+" % n):
                    status, out, err = run(root, threads, fail)
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
