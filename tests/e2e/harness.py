"""Runs the space executable on real trees for the end-to-end tests.

The same tests run against the native build and against space.exe under
Wine: set SPACE_EXE to the executable and, for Wine, SPACE_WINE to the wine
binary. Output is normalised so that a test compares one text on both:
"\r\n" becomes "\n", and the rows' "\\" separators become "/".
"""
import os
import re
import subprocess
import tempfile
import unittest

SPACE_EXE = os.environ.get("SPACE_EXE", "")
SPACE_WINE = os.environ.get("SPACE_WINE", "")
ON_WINE = bool(SPACE_WINE)
SEP = "\\" if ON_WINE else "/"


class Result:
    def __init__(self, proc):
        self.status = proc.returncode
        self.raw_stdout = proc.stdout or b""
        self.raw_stderr = proc.stderr
        self.stdout = normalise(self.raw_stdout)
        self.stderr = normalise(proc.stderr)

    def rows(self):
        return self.stdout.splitlines()

    def usage_rows(self, columns):
        """The usage rows as (numbers, text) pairs, each row read as `columns`
        numbers, three blanks and its text; the free row has only the numbers
        it shows. Leading lines that are no usage row (the cluster size line,
        the headings) are passed over; a later line that is no usage row fails
        the test."""
        lines = self.rows()
        first = next((i for i, line in enumerate(lines) if parse_row(line, columns)), len(lines))
        parsed = [parse_row(line, columns) or parse_free_row(line) for line in lines[first:]]
        if None in parsed:
            raise AssertionError("not a row of %d columns: %r" % (columns, lines[first + parsed.index(None)]))
        return parsed


def parse_row(line, columns):
    """(numbers, text) of a usage row with `columns` numbers, else None."""
    pattern = r" *" + r" +".join([r"([\d,]+)"] * columns) + r"   (.*)"
    match = re.fullmatch(pattern, line)
    if not match:
        return None
    return [int(g.replace(",", "")) for g in match.groups()[:-1]], match.group(columns + 1)


def parse_free_row(line):
    """(numbers, "free") of a free row, whose last columns may be blank."""
    match = re.fullmatch(r" *([\d,]+(?: +[\d,]+)*) {3,}free", line)
    if not match:
        return None
    return [int(g.replace(",", "")) for g in match.group(1).split()], "free"


def normalise(data):
    text = data.replace(b"\r\n", b"\n").decode("utf-8", "surrogateescape")
    return text.replace("\\", "/") if ON_WINE else text


def host_path(path):
    """A POSIX path as the executable under test names it."""
    if not ON_WINE:
        return path
    return "Z:" + os.path.abspath(path).replace("/", "\\") if os.path.isabs(path) else path.replace("/", "\\")


def run(args, cwd=None, env=None, stdin=None, stdout=subprocess.PIPE, prefix=(), exe=None,
        preexec_fn=None, timeout=600):
    """Runs space (or `exe`, a copy of it) with `args` (paths already in host
    form); `prefix` is a command that starts it (setpriv), `preexec_fn` runs
    in the child before it starts."""
    # The tool reads its options from SPACE in any letter case.
    full_env = {k: v for k, v in os.environ.items() if k.upper() != "SPACE"}
    if env:
        full_env.update(env)
    command = list(prefix) + ([SPACE_WINE] if ON_WINE else []) + [exe or SPACE_EXE] + list(args)
    proc = subprocess.run(command, cwd=cwd, env=full_env, stdin=stdin, stdout=stdout,
                          stderr=subprocess.PIPE, preexec_fn=preexec_fn, timeout=timeout)
    return Result(proc)


def make_file(path, size=0, sparse=True):
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with open(path, "wb") as f:
        if sparse:
            f.truncate(size)
        else:
            f.write(b"x" * size)


def clusters(size, cluster_size):
    return size if cluster_size == 0 else -(-size // cluster_size)


def measure(root, cluster_size):
    """Independent figures for the tree below `root`: a dict from each
    directory's path relative to `root` ("" for `root`) to [clusters, bytes,
    files] of everything below it. Links are counted as files, not followed."""
    totals = {}
    pending = [""]
    while pending:
        relative = pending.pop()
        totals[relative] = [0, 0, 0]
        with os.scandir(os.path.join(root, relative)) as entries:
            for entry in entries:
                child = os.path.join(relative, entry.name)
                if entry.is_dir(follow_symlinks=False):
                    pending.append(child)
                    continue
                size = os.lstat(os.path.join(root, child)).st_size
                for parent in ancestors(relative):
                    for i, amount in enumerate((clusters(size, cluster_size), size, 1)):
                        totals[parent][i] += amount
    return totals


def ancestors(relative):
    """`relative` and every directory above it, up to ""."""
    while True:
        yield relative
        if not relative:
            return
        relative = os.path.dirname(relative)


def remove_tree(path):
    """Removes the tree at `path`, of any depth: every step works relative to
    an open directory, so no path grows with the depth."""
    if not os.path.lexists(path):
        return
    fd = os.open(path, os.O_RDONLY | os.O_DIRECTORY)
    names = []
    while True:
        os.chmod(fd, 0o700)  # a test may have locked it
        subdirectory = None
        for entry in list(os.scandir(fd)):
            if entry.is_dir(follow_symlinks=False):
                subdirectory = entry.name
            else:
                os.unlink(entry.name, dir_fd=fd)
        if subdirectory is not None:
            child = os.open(subdirectory, os.O_RDONLY | os.O_DIRECTORY | os.O_NOFOLLOW, dir_fd=fd)
            names.append(subdirectory)
        elif names:
            child = os.open("..", os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
            os.close(fd)
            os.rmdir(names.pop(), dir_fd=child)
            fd = child
            continue
        else:
            os.close(fd)
            os.rmdir(path)
            return
        os.close(fd)
        fd = child


def free_bytes(path):
    fs = os.statvfs(path)
    return fs.f_bavail * fs.f_frsize


class TreeTest(unittest.TestCase):
    """A test with its own temporary directory, removed afterwards."""

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="space-e2e-")
        self.addCleanup(remove_tree, self.root)

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def file(self, relative, size=0):
        make_file(self.path(relative), size)

    def dir(self, relative):
        os.makedirs(self.path(relative), exist_ok=True)

    def space(self, *args, **kwargs):
        """Runs space in the tree's root."""
        kwargs.setdefault("cwd", self.root)
        return run(args, **kwargs)

    def run_with_free(self, *args, **kwargs):
        """Runs space in the tree's root; returns the result and the least and
        most free bytes that the file system reported just before and after."""
        before = free_bytes(self.root)
        result = self.space(*args, **kwargs)
        after = free_bytes(self.root)
        return result, (min(before, after), max(before, after))

    def assertFreeBytes(self, reported, bounds):
        # Other processes write to the same file system while space runs.
        slack = 64 << 20
        self.assertGreaterEqual(reported, bounds[0] - slack)
        self.assertLessEqual(reported, bounds[1] + slack)

    def assertFailed(self, result, *reports):
        """The run ended with status 2, and its standard error holds one
        message for each (what, errno) of `reports`, in order, and nothing
        else. Under Wine the reason is the system's own text."""
        lines = result.stderr.splitlines(keepends=True)
        self.assertEqual(len(lines), len(reports), result.stderr)
        for line, (what, error) in zip(lines, reports):
            if ON_WINE:
                self.assertRegex(line, r"\Aspace: %s: \S.*\n\Z" % re.escape(what))
            else:
                self.assertEqual(line, "space: %s: %s\n" % (what, os.strerror(error)))
        self.assertEqual(result.status, 2)
