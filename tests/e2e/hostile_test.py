"""Trees, names, streams and option strings built to break the tool: extreme
depth and width, names no terminal would show, links that lead in circles,
permissions that change while the walk is below them, a reader that leaves
early, and an option string of every byte value."""
import errno
import os
import shutil
import signal
import subprocess
import tempfile
import unittest

from harness import ON_WINE, SPACE_EXE, TreeTest, make_file, parse_row, remove_tree, run

UNPRIVILEGED = ("setpriv", "--reuid=65534", "--regid=65534", "--clear-groups")
# Trees of hundreds of thousands of entries are made in memory where the
# machine has a tmpfs: on a disk their creation alone takes minutes.
FAST_TEMP = "/dev/shm" if os.access("/dev/shm", os.W_OK) else None
# More levels than the walk keeps open at once (32), so that the levels above
# are given up and taken up again on the way back.
PARKING_DEPTH = 40


def make_chain(dir_fd, depth, name="d"):
    """Makes `depth` nested directories `name` below `dir_fd`; returns a
    descriptor of the deepest, which the caller closes."""
    fd = os.dup(dir_fd)
    for _ in range(depth):
        os.mkdir(name, dir_fd=fd)
        child = os.open(name, os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
        os.close(fd)
        fd = child
    return fd


def make_files(dir_fd, names, size=0):
    for name in names:
        fd = os.open(name, os.O_WRONLY | os.O_CREAT | os.O_EXCL, 0o644, dir_fd=dir_fd)
        if size:
            os.ftruncate(fd, size)
        os.close(fd)


def open_dir(path):
    return os.open(path, os.O_RDONLY | os.O_DIRECTORY)


def environment(**extra):
    """The test's environment less the tool's option variable, plus `extra`."""
    env = {k: v for k, v in os.environ.items() if k.upper() != "SPACE"}
    env.update(extra)
    return env


class FastTreeTest(TreeTest):
    """A TreeTest whose tree lives on the fast temporary file system."""

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="space-hostile-", dir=FAST_TEMP)
        self.addCleanup(remove_tree, self.root)


@unittest.skipIf(ON_WINE, "Wine maps each path to a host path, which cannot exceed the host's PATH_MAX")
class DeepChainTest(FastTreeTest):
    DEPTH = 100000

    def test_chain_far_deeper_than_descriptors_allow(self):
        if not shutil.which("prlimit"):
            self.skipTest("needs prlimit to bound the descriptors")
        top = open_dir(self.root)
        make_files(top, ["top"], 100)
        bottom = make_chain(top, self.DEPTH)
        make_files(bottom, ["bottom"], 5000)
        os.close(bottom)
        os.close(top)
        # 64 descriptors are far fewer than levels: an implementation that
        # kept one per level fails to open the 62nd.
        result = self.space("-tbn", "-c4096", prefix=("prlimit", "--nofile=64"), timeout=300)
        self.assertEqual((result.status, result.stderr), (0, ""))
        rows = result.usage_rows(3)
        self.assertEqual(rows[:2], [([2, 5000, 1], "./d"), ([3, 5100, 2], ".")])
        self.assertEqual([text for _, text in rows[2:]], ["free"])


@unittest.skipIf(ON_WINE, "the file names and pipes are the host's")
class WideDirectoryTest(unittest.TestCase):
    """One directory of 300,000 empty files and three chains of directories
    deep enough that the wide directory is given up while the walk is below
    it and taken up again where its reading stopped."""

    FILES = 300000
    CHAINS = ("chain0", "chain1", "chain2")

    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="space-hostile-", dir=FAST_TEMP)
        wide = os.path.join(cls.root, "wide")
        os.mkdir(wide)
        fd = open_dir(wide)
        cls.names = ["f%06d" % i for i in range(cls.FILES)]
        make_files(fd, cls.names)
        for chain in cls.CHAINS:
            os.mkdir(chain, dir_fd=fd)
            chain_fd = os.open(chain, os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
            bottom = make_chain(chain_fd, PARKING_DEPTH)
            make_files(bottom, ["leaf"], 1)
            os.close(bottom)
            os.close(chain_fd)
        os.close(fd)

    @classmethod
    def tearDownClass(cls):
        remove_tree(cls.root)

    def space(self, *args, **kwargs):
        return run(args, cwd=self.root, **kwargs)

    def test_every_entry_is_listed_once(self):
        result = self.space("-fn", "-c4096", timeout=300)
        self.assertEqual((result.status, result.stderr), (0, ""))
        rows = result.usage_rows(2)
        texts = [text for _, text in rows]
        self.assertEqual(len(texts), len(set(texts)))
        files = {text: numbers for numbers, text in rows if not text.endswith("/")}
        expected_files = {"./wide/" + name for name in self.names}
        for chain in self.CHAINS:
            expected_files.add("./wide/%s/%sleaf" % (chain, "d/" * PARKING_DEPTH))
        self.assertEqual(set(files) - {".", "free"}, expected_files)
        directories = {text: numbers for numbers, text in rows if text.endswith("/")}
        self.assertEqual(directories["./wide/"], [3, self.FILES + 3])
        self.assertEqual(directories["./wide/chain1/"], [1, 1])
        self.assertEqual(len(directories), 1 + len(self.CHAINS) * (PARKING_DEPTH + 1))
        self.assertEqual(files["."], [3, self.FILES + 3])

    def run_into_head(self, ignore_sigpipe):
        """Runs `space -f` into `head -1`, which leaves after one line."""
        restore = (lambda: signal.signal(signal.SIGPIPE, signal.SIG_IGN)) if ignore_sigpipe else None
        tool = subprocess.Popen([SPACE_EXE, "-f", "-c4096"], cwd=self.root, env=environment(),
                                stdout=subprocess.PIPE, stderr=subprocess.PIPE, preexec_fn=restore)
        head = subprocess.Popen(["head", "-1"], stdin=tool.stdout, stdout=subprocess.PIPE)
        tool.stdout.close()
        first, _ = head.communicate(timeout=300)
        stderr = tool.stderr.read()
        status = tool.wait(timeout=300)
        tool.stderr.close()
        self.assertRegex(first.decode(), r"\A4096 bytes per cluster\n\Z")
        return status, stderr.decode()

    def test_reader_that_leaves_early(self):
        # As for any tool in a pipe, the signal ends it without a word.
        self.assertEqual(self.run_into_head(ignore_sigpipe=False), (-signal.SIGPIPE, ""))
        # Where the signal is ignored the write fails like any other.
        self.assertEqual(self.run_into_head(ignore_sigpipe=True),
                         (2, "space: write error: %s\n" % os.strerror(errno.EPIPE)))


@unittest.skipIf(ON_WINE, "the names hold bytes that Win32 names cannot")
class HostileNameTest(TreeTest):
    NAMES = [
        b"new\nline",
        b"bad\xff\xfeutf8\xc3(",
        b"n" * 255,
        b"back\\slash\\",
        b"-bn",
        b"--",
        b"\x01\x1b[31m",
    ]

    def test_names_are_printed_byte_for_byte(self):
        root = os.fsencode(self.root)
        directories = [b"dir\nwith newline", b"\x80\xff" * 127 + b"d", b"-x"]
        expected = []
        total = 0
        for size, name in enumerate(self.NAMES, start=1):
            make_file(os.path.join(root, name), size)
            expected.append(b"%10d   ./%s\n" % (size, name))
            total += size
        for size, directory in enumerate(directories, start=100):
            os.mkdir(os.path.join(root, directory))
            make_file(os.path.join(root, directory, self.NAMES[2]), size)
            expected.append(b"%10d   ./%s/%s\n" % (size, directory, self.NAMES[2]))
            expected.append(b"%10d   ./%s/\n" % (size, directory))
            total += size
        result = self.space("-f", "-c0")
        self.assertEqual((result.status, result.raw_stderr), (0, b""))
        # The rows, in the order the directory gives them, then the total and
        # the free row: each expected row once, and nothing else.
        free_start = result.raw_stdout.rindex(b"\n", 0, -1) + 1
        body, free = result.raw_stdout[:free_start], result.raw_stdout[free_start:]
        self.assertRegex(free, rb"\A *\d+   free\n\Z")
        total_row = b"%10d   .\n" % total
        self.assertTrue(body.endswith(total_row), body[-100:])
        body = body[:-len(total_row)]
        for row in expected:
            self.assertEqual(body.count(row), 1, row)
        self.assertEqual(len(body), sum(map(len, expected)))

    def test_start_path_beginning_with_a_dash(self):
        # Only "./" keeps it from being read as options.
        self.file("-bn/f", 5000)
        result = self.space("-f", "-c4096", "./-bn")
        self.assertEqual((result.status, result.stderr), (0, ""))
        self.assertEqual([text for _, text in result.usage_rows(1)], ["./-bn/f", "./-bn", "free"])


@unittest.skipIf(ON_WINE, "symbolic links are host links that Wine presents its own way")
class LinkLoopTest(TreeTest):
    def test_links_in_circles_are_files(self):
        self.file("real/f", 5000)
        links = {
            "loop_a": "loop_b",              # each names the other
            "loop_b": "loop_a",
            "self": "self",
            "real/up": "..",                 # the walk would never end
            "real/root": self.root,
            "to_real": "real",
        }
        for link, target in links.items():
            os.symlink(target, self.path(link))
        result = self.space("-fbn", "-c0", timeout=60)
        self.assertEqual((result.status, result.stderr), (0, ""))
        rows = {text: numbers for numbers, text in result.usage_rows(3)}
        for link, target in links.items():
            self.assertEqual(rows["./" + link], [len(target), len(target), 1], link)
        in_real = 5000 + len("..") + len(self.root)
        self.assertEqual(rows["./real/"], [in_real, in_real, 3])
        self.assertEqual(len(rows), len(links) + 4)  # real/f, real/, ., free


@unittest.skipIf(ON_WINE, "permissions are enforced by the host, not by Wine")
@unittest.skipUnless(hasattr(os, "geteuid") and os.geteuid() == 0 and shutil.which("setpriv"),
                     "needs root and setpriv to run space as an unprivileged user")
class LockedMidWalkTest(FastTreeTest):
    """A directory that the walk has entered is locked while the walk is far
    below it. The walk is held there by its own output: it cannot finish the
    wide directory at the bottom before the test has read its rows."""

    FILES = 20000
    # Made before and after p, so that whichever order the directory gives,
    # some are read after the walk has come back from p.
    SIBLINGS = ("q0", "q1", "q2", "p", "q3", "q4", "q5")

    def setUp(self):
        super().setUp()
        os.chmod(self.root, 0o755)
        for sibling in self.SIBLINGS:
            if sibling == "p":
                self.dir("p")
            else:
                self.file(sibling + "/g", 100)
        fd = open_dir(self.path("p"))
        bottom = make_chain(fd, PARKING_DEPTH)
        os.mkdir("many", dir_fd=bottom)
        many = os.open("many", os.O_RDONLY | os.O_DIRECTORY, dir_fd=bottom)
        make_files(many, ("f%05d" % i for i in range(self.FILES)))
        os.close(many)
        os.close(bottom)
        os.close(fd)

    def test_directory_locked_while_the_walk_is_below_it(self):
        tool = subprocess.Popen(list(UNPRIVILEGED) + [SPACE_EXE, "-fbn", "-c4096"], cwd=self.root,
                                env=environment(), stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        seen = b""
        while b"/many/" not in seen:
            chunk = tool.stdout.read1(65536)
            self.assertTrue(chunk, "the walk ended before it reached the bottom")
            seen += chunk
        os.chmod(self.path("p"), 0o000)
        rest, stderr = tool.communicate(timeout=300)
        lines = (seen + rest).decode().splitlines()
        rows = {row[1]: row[0] for row in (parse_row(line, 3) for line in lines) if row}
        self.assertEqual(stderr.decode(), "space: cannot read directory './p': %s\n"
                         % os.strerror(errno.EACCES))
        self.assertEqual(tool.returncode, 2)
        # All of p was counted before it was locked, and so are its siblings,
        # whether the walk met them before or after.
        self.assertEqual(rows["./p/"], [0, 0, self.FILES])
        others = len(self.SIBLINGS) - 1
        for sibling in self.SIBLINGS:
            if sibling != "p":
                self.assertEqual(rows["./%s/" % sibling], [1, 100, 1])
        self.assertEqual(rows["."], [others, others * 100, self.FILES + others])
        self.assertEqual(len(rows), self.FILES + PARKING_DEPTH + 3 + 2 * others)


class LargeSparseFileTest(TreeTest):
    """Files of exactly 4 GiB and of 5 GiB, counted in the largest cluster
    size, where the allocated bytes pass 32 bits, and in one of 3 bytes,
    where the cluster counts do."""

    GIB = 1 << 30

    def test_exact_bytes_and_clusters(self):
        self.file("four", 4 * self.GIB)
        self.file("five", 5 * self.GIB)
        largest = 4294967295
        for size_option, cluster in (("-c4294967295", largest), ("-c99999999999", largest),
                                     ("-c3", 3)):
            with self.subTest(size_option=size_option):
                result = self.space("-fsbgn", size_option)
                self.assertEqual((result.status, result.stderr), (0, ""))
                self.assertEqual(result.rows()[0], "%d bytes per cluster" % cluster)
                rows = {text: numbers for numbers, text in result.usage_rows(5)[:-1]}
                expected = {}
                for name, size in (("four", 4 * self.GIB), ("five", 5 * self.GIB)):
                    count = -(-size // cluster)
                    expected["./" + name] = [count, count * cluster, size, count * cluster - size, 1]
                expected["."] = [sum(column) for column in zip(*expected.values())]
                self.assertEqual(rows, expected)


@unittest.skipIf(ON_WINE, "Win32 converts the environment to its code page and limits a "
                 "variable to 32,767 characters")
class HostileOptionStringTest(TreeTest):
    """Whatever SPACE holds, the run ends as its grammar says."""

    ALL_BYTES = bytes(range(1, 256))

    def setUp(self):
        super().setUp()
        self.file("f", 5000)

    def space_with(self, value, *args):
        return self.space(*args, env={"SPACE": value})

    def test_every_byte_value(self):
        # "?" comes before every letter: the help, and nothing else.
        result = self.space_with(b"-" + self.ALL_BYTES * 400)
        self.assertEqual((result.status, result.stderr), (1, ""))
        self.assertTrue(result.stdout.startswith("SPACE v1.10\n"), result.stdout[:100])

        # Without it, each option letter once: every column, the headings,
        # file rows, -cd (no such drive: bytes) and then -k.
        result = self.space_with(b"-" + self.ALL_BYTES.replace(b"?", b""))
        self.assertEqual((result.status, result.stderr), (0, ""))
        lines = result.rows()
        widths = (13, 13, 13, 13, 7)  # with separators
        titles = ("clusts", "amounts", "bytes", "gap", "files")
        self.assertEqual(lines[:3], [
            "1024 bytes per cluster",
            " ".join(title.rjust(width) for title, width in zip(titles, widths)),
            " ".join("-" * width for width in widths),
        ])
        self.assertEqual([parse_row(line, 5) for line in lines[3:5]],
                         [([5, 5120, 5000, 120, 1], "./f"), ([5, 5120, 5000, 120, 1], ".")])
        self.assertEqual(len(lines), 6)

    def test_very_long_option_strings(self):
        # Each under the system's limit of 128 KiB for one environment string.
        cases = (
            # Toggled an even number of times: off again.
            ("-" + "bn" * 60000 + "c4096", 4096, ([2], ".")),
            # Too large for 32 bits: the largest size.
            ("-c" + "9" * 120000, 4294967295, ([1], ".")),
            ("-" + " " * 120000 + "bc4096", 4096, ([2, 5000], ".")),
        )
        for value, cluster, total in cases:
            with self.subTest(value=value[:10]):
                result = self.space_with(value)
                self.assertEqual((result.status, result.stderr), (0, ""))
                self.assertEqual(result.rows()[0], "%d bytes per cluster" % cluster)
                self.assertEqual(result.usage_rows(len(total[0]))[-2], total)

    def test_very_long_default_path(self):
        path = "x" * 120000
        result = self.space_with(path)
        self.assertFailed(result, ("cannot read directory '%s'" % path, errno.ENAMETOOLONG))


if __name__ == "__main__":
    unittest.main()
