"""The walk reads directories ahead on several threads. What it prints must
not depend on how many; a directory that changes while the walk is far below
it is reported as it was read; and a low limit of open files only slows it."""
import errno
import os
import re
import shutil
import subprocess
import tempfile
import unittest

from harness import (CAN_DROP_PRIVILEGES, ON_WINE, SPACE_EXE, SPACE_WINE, UNPRIVILEGED, environment, host_path,
                     make_file, remove_tree)
# The sanitizer builds' runtimes need address space and descriptors of their own.
SANITIZED = any(name in os.environ for name in ("ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"))


def space(args, threads, prefix=(), stdout=subprocess.PIPE, stderr=subprocess.PIPE, **kwargs):
    env = environment(SPACE_THREADS=str(threads))
    command = list(prefix) + ([SPACE_WINE] if ON_WINE else []) + [SPACE_EXE] + list(args)
    return subprocess.Popen(command, env=env, stdout=stdout, stderr=stderr, **kwargs)


def without_free_row(data):
    """The free row tells what other processes left free at that moment."""
    return b"".join(line for line in data.splitlines(keepends=True) if not line.rstrip().endswith(b"free"))


def chain(root, depth, files_per_level=1):
    fd = os.open(root, os.O_RDONLY | os.O_DIRECTORY)
    for level in range(depth):
        os.mkdir("d", dir_fd=fd)
        child = os.open("d", os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
        os.close(fd)
        fd = child
        for i in range(files_per_level):
            os.close(os.open("f%d" % i, os.O_WRONLY | os.O_CREAT, dir_fd=fd))
            os.truncate("/proc/self/fd/%d/f%d" % (fd, i), level * 37 + i)
    os.close(fd)


def bushy(root, depth, fanout=4):
    for i in range(3):
        make_file(os.path.join(root, "f%d" % i), 1000 * i + depth)
    if depth:
        for i in range(fanout):
            bushy(os.path.join(root, "d%d" % i), depth - 1, fanout)


def with_unreadable(root):
    bushy(root, 2)
    for i in range(3000):
        make_file(os.path.join(root, "d0", "w%04d" % i), i * 11)
    for locked in ("d1", "d2/d3"):
        os.chmod(os.path.join(root, locked), 0)


# The deep tree is walked under a limit of open files far below its depth.
TREES = [("bushy", lambda r: bushy(r, 4), None), ("deep", lambda r: chain(r, 300, 2), 16),
         ("unreadable", with_unreadable, None)]


class SameBytesTest(unittest.TestCase):
    def test_sixteen_readers_print_what_one_thread_prints(self):
        # Unreadable directories are unreadable only to an unprivileged user.
        prefix = UNPRIVILEGED if CAN_DROP_PRIVILEGES else ()
        for name, build, nofile in TREES:
            root = tempfile.mkdtemp(prefix="space-ahead-")
            self.addCleanup(remove_tree, root)
            os.chmod(root, 0o755)
            build(root)
            for args in (["-f", "-c0"], ["-tbn"], ["-fhsgnC"]):
                with self.subTest(tree=name, args=args):
                    # Both streams into one file: messages keep their places among the rows.
                    both = []
                    # A value that is no number gives the default.
                    for threads in (1, 16, "x"):
                        limit = ("prlimit", "--nofile=%d" % nofile) if nofile and threads != 1 and not ON_WINE else ()
                        with tempfile.TemporaryFile() as out:
                            tool = space(args + [host_path(root)], threads, limit + prefix, stdout=out, stderr=out)
                            status = tool.wait()
                            out.seek(0)
                            both.append((status, without_free_row(out.read())))
                    self.assertEqual(both[1:], both[:1] * 2)


@unittest.skipIf(ON_WINE, "mounts are a POSIX matter")
class ChangesBelowTheWalkTest(unittest.TestCase):
    """`top` holds 500 files and a chain of 40 levels ending in a wide
    directory. The walk's own output holds it at the bottom of the chain,
    while `top` changes."""

    def mount(self, kind, populate):
        """A file system of `kind` with what `populate` makes in it; on
        overlayfs, in the lower layer, so that its directories are merged."""
        where = tempfile.mkdtemp(prefix="space-mount-")
        self.addCleanup(shutil.rmtree, where, True)
        if kind == "overlay":
            for layer in ("lower", "upper", "work", "merged"):
                os.mkdir(os.path.join(where, layer))
            populate(os.path.join(where, "lower"))
            options = ["-o", "lowerdir=%s/lower,upperdir=%s/upper,workdir=%s/work" % (where, where, where)]
            target = os.path.join(where, "merged")
        else:
            options, target = [], where
        if subprocess.run(["mount", "-t", kind] + options + [kind, target], stderr=subprocess.DEVNULL).returncode:
            self.skipTest("cannot mount %s here" % kind)
        self.addCleanup(subprocess.run, ["umount", "-l", target])
        if kind != "overlay":
            populate(target)
        return target

    def walk_while(self, change, kind):
        def populate(root):
            top = os.path.join(root, "top")
            os.mkdir(top)
            for i in range(500):
                make_file(os.path.join(top, "a%03d" % i))
            os.mkdir(os.path.join(top, "p"))
            chain(os.path.join(top, "p"), 40, 0)
            many = os.path.join(top, "p", *["d"] * 40, "many")
            os.mkdir(many)
            for i in range(5000):
                make_file(os.path.join(many, "m%05d" % i))

        top = os.path.join(self.mount(kind, populate), "top")
        tool = space(["-f", "-c0", top], 16)
        seen = b""
        while b"/many/" not in seen:
            chunk = tool.stdout.read1(65536)
            self.assertTrue(chunk, "the walk ended before it reached the bottom")
            seen += chunk
        listed = {os.path.basename(row) for row in self.a_rows(seen)}
        touched = change(top, listed)
        rest, stderr = tool.communicate(timeout=300)
        self.assertEqual((stderr, tool.returncode), (b"", 0))
        rows = self.a_rows(seen + rest)
        self.assertEqual(len(rows), len(set(rows)), "rows given twice")
        untouched = {"{}/a{:03d}".format(top, i).encode() for i in range(500)} - touched
        self.assertEqual(untouched - set(rows), set(), "rows lost")

    @staticmethod
    def a_rows(output):
        return [line.lstrip().split(b"   ", 1)[1] for line in output.splitlines() if b"/a" in line]

    def test_top_grows_shrinks_or_loses_its_child(self):
        def grow(top, listed):
            for i in range(1000):
                make_file(os.path.join(top, "b%04d" % i))
            return set()

        def shrink(top, listed):
            for name in listed:
                os.unlink(os.path.join(top, name.decode()))
            return {os.path.join(top, name.decode()).encode() for name in listed}

        def move_child_away(top, listed):
            os.rename(os.path.join(top, "p"), os.path.join(os.path.dirname(top), "p"))
            return set()

        # Directories of the lower layer cannot be renamed on overlayfs.
        for kind, changes in (("tmpfs", (grow, shrink, move_child_away)), ("ramfs", (grow, shrink, move_child_away)),
                              ("overlay", (grow, shrink))):
            for change in changes:
                with self.subTest(fs=kind, change=change.__name__):
                    self.walk_while(change, kind)

    @unittest.skipIf(SANITIZED, "sanitizers need descriptors of their own")
    def test_too_few_descriptors_end_in_messages_not_a_hang(self):
        root = tempfile.mkdtemp(prefix="space-nofile-")
        self.addCleanup(remove_tree, root)
        bushy(root, 1)
        tool = space([root], 16, prefix=("prlimit", "--nofile=4"))
        self.addCleanup(tool.kill)
        _, err = tool.communicate(timeout=60)
        # Where the limit already bites depends on what the process inherited.
        lines = err.decode().splitlines()
        self.assertEqual(tool.returncode, 2)
        self.assertTrue(lines)
        for line in lines:
            self.assertRegex(line, r"\Aspace: cannot read directory '%s(/d\d)?': %s\Z"
                             % (re.escape(root), os.strerror(errno.EMFILE)))

    @unittest.skipIf(SANITIZED, "sanitizers need the address space")
    def test_memory_running_out_while_reading_ends_the_run_with_status_3(self):
        root = tempfile.mkdtemp(prefix="space-oom-")
        self.addCleanup(remove_tree, root)
        # The listing of `sub` alone needs more than the whole process may have.
        os.mkdir(os.path.join(root, "sub"))
        for i in range(60000):
            make_file(os.path.join(root, "sub", "n%0250d" % i))
        tool = space(["-c0", root], 16, prefix=("prlimit", "--as=25000000"))
        self.addCleanup(tool.kill)
        out, err = tool.communicate(timeout=60)
        self.assertEqual((tool.returncode, err), (3, b"space: out of memory: Abnormal program termination\n"))
