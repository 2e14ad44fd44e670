"""A walk short of descriptors finds its directories again: at about one open
each, never another directory, at any number of threads."""
import errno
import os
import random
import select
import shutil
import subprocess
import unittest

from harness import ON_WINE, busy_processors, chain, command, environment, make_file, temporary_tree


def traced_opens(test, args, nofile, threads):
    """The status, stderr, stdout and openat calls of a run under `prlimit --nofile`."""
    trace = os.path.join(temporary_tree(test, "space-trace-"), "trace")
    # LeakSanitizer cannot run under a tracer.
    untraced = {"ASAN_OPTIONS": os.environ["ASAN_OPTIONS"] + ":detect_leaks=0"} if (
        "ASAN_OPTIONS" in os.environ) else {}
    result = subprocess.run(
        ["strace", "-f", "-qq", "-e", "trace=openat", "-o", trace, "prlimit", "--nofile=%d" % nofile] +
        command(args), env=environment(SPACE_THREADS=str(threads), **untraced),
        stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    with open(trace) as lines:
        opens = sum(1 for line in lines if "openat(" in line)
    return result.returncode, result.stderr, result.stdout.splitlines()[:-1], opens


def total_bytes(stdout):
    """The bytes of the total row of a -c0 report: the line before "free"."""
    return int(stdout.splitlines()[-2].split()[0])


@unittest.skipIf(ON_WINE, "descriptor limits are a POSIX matter")
class DescriptorTest(unittest.TestCase):
    @unittest.skipUnless(shutil.which("strace"), "strace counts the opens")
    def test_climbing_out_of_a_comb_opens_each_directory_a_few_times(self):
        # Each level holds the next, "e", and an empty "d" made after it.
        root = temporary_tree(self, "space-fd-", lambda root: chain(
            root, 3000, "e", lambda level: level < 3000 and os.mkdir("d")))
        directories = 2 * 3000 + 1
        # Busy processors hold threads up at random: the count must not depend on it.
        with busy_processors():
            for nofile in (5, 1024):
                for threads in (1, "x", 64):
                    status, err, _, opens = traced_opens(self, ["-c0", root], nofile, threads)
                    self.assertEqual((status, err), (0, b""))
                    self.assertLess(opens, 3 * directories + 500, (nofile, threads))

    @unittest.skipUnless(shutil.which("strace"), "strace counts the opens")
    def test_threads_open_a_deep_chain_as_often_as_one_thread(self):
        """Reads ahead in the side branches must not take the chain tip's descriptor."""
        # Every 50th level also holds a branch five empty directories deep.
        root = temporary_tree(self, "space-fd-", lambda root: chain(
            root, 2500, each=lambda level: level < 2500 and level % 50 == 0 and os.makedirs("s/s/s/s/s")))
        for nofile in (11, 12, 14, 17):
            alone = traced_opens(self, ["-c0", root], nofile, 1)
            self.assertEqual(alone[:2], (0, b""))
            for threads in (2, 16):
                status, err, rows, opens = traced_opens(self, ["-c0", root], nofile, threads)
                self.assertEqual((status, err, rows), alone[:3], (nofile, threads))
                self.assertLessEqual(opens, alone[3] * 1.02 + 20, (nofile, threads))

    def test_a_tree_swapped_during_the_walk_is_never_mixed_with_the_old(self):
        """A is swapped for B, of its shape but with files of a megabyte, once the
        first row is out: the total is A's, or less with a message, never B's."""
        # The start path retargeted, the start directory replaced, or a directory below it: renames.
        for top, renames in (("top", ["new top"]), ("A", ["A old", "B A"]), ("A", ["A/a old", "B/a A/a"])):
            with self.subTest(top=top, renames=renames):
                root = temporary_tree(self, "space-fd-")
                for where, size in (("A", 1), ("B", 1000000)):
                    m = os.path.join(root, where, "a", "b", "m")
                    make_file(os.path.join(chain(os.path.join(m, "n"), 1500), "f"), size)
                    for level in ("", "0", "0/1", "0/1/2"):
                        make_file(os.path.join(m, level, "f"), size)
                os.symlink("A", os.path.join(root, "top"))
                os.symlink("B", os.path.join(root, "new"))
                whole = total_bytes(subprocess.run(command(["-c0", os.path.join(root, top)]), stdout=subprocess.PIPE,
                                                   check=True).stdout.decode())
                tool = subprocess.Popen(["prlimit", "--nofile=5"] + command(["-f", "-c0", os.path.join(root, top)]),
                                        env=environment(SPACE_THREADS="1"), stdout=subprocess.PIPE,
                                        stderr=subprocess.PIPE)
                first = tool.stdout.read1(1)
                self.assertTrue(first, "no row")
                for rename in renames:
                    os.rename(*(os.path.join(root, name) for name in rename.split()))
                rest, err = tool.communicate(timeout=300)
                total = total_bytes((first + rest).decode())
                messages = err.decode().splitlines()
                if tool.returncode == 0:
                    self.assertEqual((messages, total), ([], whole))
                else:
                    self.assertEqual(tool.returncode, 2, messages)
                    self.assertLess(total, whole)
                    for line in messages or [""]:
                        self.assertRegex(line, r"\Aspace: cannot read directory '.*': %s\Z" % os.strerror(errno.ESTALE))

    def test_threads_sharing_few_descriptors_print_what_one_prints(self):
        """Many threads reopening ancestors at once at limits of a handful of
        descriptors, or lowered during the walk: a reused descriptor number must
        not be taken for the old. Runs repeat: threads meet by chance."""
        root = temporary_tree(self, "space-fd-")
        rng = random.Random(3)
        dirs = [root]
        for i in range(6000):
            path = os.path.join(rng.choice(dirs[-40:] if rng.random() < 0.7 else dirs), "d%d" % i)
            os.mkdir(path)
            dirs.append(path)
            for j in range(rng.randrange(8)):
                make_file(os.path.join(path, "f%d" % j), j)
        # Listings longer than is read ahead: reads stop part way, holding descriptors.
        for w in range(30):
            wide = os.path.join(rng.choice(dirs), "w%d" % w)
            for i in range(1000):
                make_file(os.path.join(wide, "n%0120d" % i))

        def run(nofile, threads):
            result = subprocess.run(["prlimit", "--nofile=%d" % nofile] + command(["-f", "-c0", root]),
                                    env=environment(SPACE_THREADS=str(threads)), stdout=subprocess.PIPE,
                                    stderr=subprocess.PIPE, timeout=300)
            return result.returncode, result.stderr, result.stdout.splitlines()[:-1]

        def lowered(threads, held):
            """The limit drops once the first row is out; `held`: with the
            printer held up by a pipe nobody reads, while reads run ahead."""
            tool = subprocess.Popen(command(["-f", "-c0", root]), env=environment(SPACE_THREADS=str(threads)),
                                    stdout=subprocess.PIPE, stderr=subprocess.PIPE)
            if held:
                select.select([tool.stdout], [], [])
                first = b""
            else:
                first = tool.stdout.read1(1)
            subprocess.run(["prlimit", "--pid", str(tool.pid), "--nofile=8"], check=True)
            rest, err = tool.communicate(timeout=300)
            return tool.returncode, err, (first + rest).splitlines()[:-1]

        alone = run(12, 1)
        self.assertEqual(alone[:2], (0, b""))
        for _ in range(3):
            for threads in (16, 256):
                for nofile in (5, 12, 32):
                    self.assertEqual(run(nofile, threads), alone, (nofile, threads))
                for held in (False, True):
                    self.assertEqual(lowered(threads, held), alone, (threads, held))


if __name__ == "__main__":
    unittest.main()
