"""Reading ahead on several threads: the same output at any number and under
any limit, changes below the walk reported as read, starved runs ending with
their messages, memory within its bounds."""
import errno
import os
import re
import subprocess
import tempfile
import unittest

from harness import (CAN_DROP_PRIVILEGES, ON_WINE, UNPRIVILEGED, chain, command, environment, host_path, make_file,
                     temporary_tree)
# The sanitizer builds' runtimes need address space and descriptors of their own.
SANITIZED = any(name in os.environ for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"))


def space(args, threads, prefix=(), stdout=subprocess.PIPE, stderr=subprocess.PIPE):
    return subprocess.Popen(command(args, prefix), env=environment(SPACE_THREADS=str(threads)), stdout=stdout, stderr=stderr)


def bushy(root, depth, fanout=4):
    for i in range(3):
        make_file(os.path.join(root, "f%d" % i), 1000 * i + depth)
    for i in range(fanout if depth else 0):
        bushy(os.path.join(root, "d%d" % i), depth - 1, fanout)


def with_unreadable(root):
    bushy(root, 2)
    for locked in ("d1", "d2/d3"):
        os.chmod(os.path.join(root, locked), 0)


# The deep tree is walked under a limit of open files far below its depth.
TREES = [(lambda r: bushy(r, 4), None), (lambda r: chain(r, 300, each=lambda level: [
    make_file("f%d" % i, level * 37 + i) for i in range(2 if level else 0)]), 16), (with_unreadable, None)]


class SameBytesTest(unittest.TestCase):
    def test_sixteen_readers_print_what_one_thread_prints(self):
        # Unreadable directories are unreadable only to an unprivileged user.
        prefix = UNPRIVILEGED if CAN_DROP_PRIVILEGES else ()
        for build, nofile in TREES:
            root = temporary_tree(self, "space-ahead-", build)
            for args in (["-f", "-c0"], ["-tbn"], ["-fhsgnC"]):
                # Both streams into one file, messages among the rows; "x": the default.
                runs = []
                # Two: the printer reads while its one reader does.
                for threads in (1, 2, 16, "x"):
                    limit = ("prlimit", "--nofile=%d" % nofile) if nofile and threads != 1 and not ON_WINE else ()
                    with tempfile.TemporaryFile() as out:
                        status = space(args + [host_path(root)], threads, limit + prefix, out, out).wait()
                        out.seek(0)
                        runs.append((status, [line for line in out.readlines() if not line.rstrip().endswith(b"free")]))
                self.assertEqual(runs[1:], runs[:1] * 3, (build, args))


def mounted(test, kind, populate):
    """A file system of `kind` filled by `populate` (on overlayfs, its lower layer)."""
    where = temporary_tree(test, "space-mount-")
    options, target = [], where
    if kind == "overlay":
        for layer in ("lower", "upper", "work", "merged"):
            os.mkdir(os.path.join(where, layer))
        populate(os.path.join(where, "lower"))
        options = ["-o", "lowerdir={0}/lower,upperdir={0}/upper,workdir={0}/work".format(where)]
        target = os.path.join(where, "merged")
    if subprocess.run(["mount", "-t", kind] + options + [kind, target], stderr=subprocess.DEVNULL).returncode:
        test.skipTest("cannot mount %s here" % kind)
    test.addCleanup(subprocess.run, ["umount", "-l", target])
    if kind != "overlay":
        populate(target)
    return target


@unittest.skipIf(ON_WINE, "mounts and limits are POSIX matters")
class ChangesBelowTheWalkTest(unittest.TestCase):
    def test_top_grows_shrinks_or_loses_its_child(self):
        """`top` changes while the walk, held by its own output, is 40 levels below."""
        def populate(root):
            for i in range(500):
                make_file(os.path.join(root, "top", "a%03d" % i))
            chain(os.path.join(root, "top", "p"), 40)
            for i in range(5000):
                make_file(os.path.join(root, "top", "p", *["d"] * 40, "many", "m%05d" % i))

        def grow(top, listed):
            for i in range(1000):
                make_file(os.path.join(top, "b%04d" % i))
            return set()

        def shrink(top, listed):
            for name in listed:
                os.unlink(os.path.join(top.encode(), name))
            return listed

        def move_child_away(top, listed):
            os.rename(os.path.join(top, "p"), os.path.join(os.path.dirname(top), "p"))
            return set()

        # Directories of the lower layer cannot be renamed on overlayfs.
        for kind, changes in (("tmpfs", (grow, shrink, move_child_away)), ("ramfs", (grow, shrink, move_child_away)),
                              ("overlay", (grow, shrink))):
            for change in changes:
                with self.subTest(fs=kind, change=change.__name__):
                    top = os.path.join(mounted(self, kind, populate), "top")
                    tool = space(["-f", "-c0", top], 16)
                    seen = b""
                    while b"/many/" not in seen:
                        chunk = tool.stdout.read1(65536)
                        self.assertTrue(chunk, "the walk ended before it reached the bottom")
                        seen += chunk
                    touched = change(top, set(re.findall(rb"/(a\d{3})\n", seen)))
                    rest, stderr = tool.communicate(timeout=300)
                    self.assertEqual((stderr, tool.returncode), (b"", 0))
                    rows = re.findall(rb"/(a\d{3})\n", seen + rest)
                    self.assertEqual(len(rows), len(set(rows)), "rows given twice")
                    untouched = {b"a%03d" % i for i in range(500)} - touched
                    self.assertEqual(untouched - set(rows), set(), "rows lost")

    @unittest.skipIf(SANITIZED, "sanitizers need descriptors and address space of their own")
    def test_starved_runs_end_with_their_messages(self):
        def wide(root):
            # The listing of `sub` alone needs more than the whole process may have.
            for i in range(60000):
                make_file(os.path.join(root, "sub", "n%0250d" % i))

        # Where the descriptor limit bites first depends on what the process inherited.
        for build, limit, status, message in (
                (lambda root: bushy(root, 1), "--nofile=4", 2,
                 r"space: cannot read directory '{}(/d\d)?': " + os.strerror(errno.EMFILE)),
                (wide, "--as=25000000", 3, r"space: out of memory: Abnormal program termination")):
            root = temporary_tree(self, "space-ahead-", build)
            tool = space(["-c0", root], 16, prefix=("prlimit", limit))
            self.addCleanup(tool.kill)
            _, err = tool.communicate(timeout=60)
            self.assertEqual(tool.returncode, status, limit)
            for line in err.decode().splitlines() or [""]:
                self.assertRegex(line, r"\A%s\Z" % message.replace("{}", re.escape(root)))


@unittest.skipIf(ON_WINE or SANITIZED, "limits and /proc are POSIX matters; sanitizers need memory of their own")
class BoundsTest(unittest.TestCase):
    def test_the_least_address_space_one_thread_needs_serves_any_number(self):
        """A little above the least address space in which one thread finishes
        (bisected to 64 KiB; the heap keeps up to 64 KiB of other threads'), 2
        and 64 threads give the same bytes."""
        def wide(root):
            for d in range(8):
                for i in range(3000):
                    make_file(os.path.join(root, "w%d" % d, "n%0200d" % i))

        root = temporary_tree(self, "space-ahead-", wide)

        def run(limit, threads):
            tool = space(["-c0", root], threads, prefix=("prlimit", "--as=%d" % limit))
            out, err = tool.communicate(timeout=120)
            return tool.returncode, err, out.splitlines()[:-1]

        low, high = 1 << 20, 256 << 20  # one thread fails at the first, finishes at the second
        while high - low > 64 << 10:
            middle = (low + high) // 2
            low, high = (low, middle) if run(middle, 1)[0] == 0 else (middle, high)
        for limit in (high + (256 << 10), high + (1 << 20)):
            alone = run(limit, 1)
            for threads in (2, 64):
                self.assertEqual(run(limit, threads), alone, (limit, threads))

    def test_early_stop_deep_in_a_chain(self):
        """Rows that cannot be written end the run with its message, however
        deep the tree the walk leaves behind."""
        root = mounted(self, "tmpfs", lambda root: chain(root, 400000))
        for threads in (1, "x"):
            with open("/dev/full", "wb") as full:
                tool = space(["-f", "-c0", root], threads, stdout=full)
                _, err = tool.communicate(timeout=300)
            self.assertEqual((tool.returncode, err), (2, b"space: write error: %s\n" % os.strerror(errno.ENOSPC).encode()))
