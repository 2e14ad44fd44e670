"""Runs space (SPACE_EXE; under Wine with SPACE_WINE) for the end-to-end
tests, with output normalised so one text serves both builds, and holds the
model their expected reports come from."""
import contextlib
import os
import re
import shutil
import subprocess
import sys
import tempfile

SPACE_EXE = os.environ.get("SPACE_EXE", "")
SPACE_WINE = os.environ.get("SPACE_WINE", "")
ON_WINE = bool(SPACE_WINE)
with open(os.path.join(os.path.dirname(__file__), "..", "..", "CMakeLists.txt")) as cmake:
    VERSION = re.search(r"project\(space VERSION ([\d.]+)", cmake.read()).group(1)
# Runs the tool as nobody, where nobody may run it, for trees a test locks.
UNPRIVILEGED = ("setpriv", "--reuid=65534", "--regid=65534", "--clear-groups")
CAN_DROP_PRIVILEGES = not ON_WINE and hasattr(os, "geteuid") and os.geteuid() == 0 and bool(
    shutil.which("setpriv")) and subprocess.run(UNPRIVILEGED + ("test", "-x", SPACE_EXE)).returncode == 0


def slow(case):
    """Marks a case of minutes, which CTest runs apart, labelled slow."""
    case.slow = True
    return case


@contextlib.contextmanager
def busy_processors(count=2):
    """`count` processes keeping a processor busy each, meanwhile."""
    loops = [subprocess.Popen([sys.executable, "-c", "while True: pass"]) for _ in range(count)]
    try:
        yield
    finally:
        for loop in loops:
            loop.kill()
            loop.wait()


def environment(**extra):
    """The test's environment less the option variable (any case), plus `extra`."""
    return dict({k: v for k, v in os.environ.items() if k.upper() != "SPACE"}, **extra)


def normalise(data):
    text = data.replace(b"\r\n", b"\n").decode("utf-8", "surrogateescape")
    return text.replace("\\", "/") if ON_WINE else text


class Result:
    def __init__(self, proc):
        self.status, self.raw_stdout, self.raw_stderr = proc.returncode, proc.stdout or b"", proc.stderr or b""
        self.stdout, self.stderr = normalise(self.raw_stdout), normalise(self.raw_stderr)


def host_path(path):
    """A POSIX path as the executable under test names it."""
    return ("Z:" if os.path.isabs(path) else "") + path.replace("/", "\\") if ON_WINE else path


def command(args, prefix=(), exe=None):
    """The command line running space (or `exe`) with `args` after `prefix`."""
    return list(prefix) + ([SPACE_WINE] if ON_WINE else []) + [exe or SPACE_EXE] + list(args)


def run(args, cwd=None, env=None, stdin=None, stdout=subprocess.PIPE, stderr=subprocess.PIPE, prefix=(),
        exe=None, preexec_fn=None, timeout=600):
    return Result(subprocess.run(command(args, prefix, exe), cwd=cwd, env=environment(**(env or {})), stdin=stdin, stdout=stdout,
                                 stderr=stderr, preexec_fn=preexec_fn, timeout=timeout))


def make_file(path, size=0, sparse=True, data=None):
    """A file of `size` bytes (a hole where `sparse`) or of `data`, and its directories."""
    os.makedirs(os.path.dirname(path) or ".", exist_ok=True)
    with open(path, "wb") as f:
        f.write(data) if data is not None else f.truncate(size) if sparse else f.write(b"x" * size)


def temporary_tree(test, prefix="space-e2e-", build=None, **where):
    """A directory, filled by `build`, removed whole once `test` ends."""
    root = tempfile.mkdtemp(prefix=prefix, **where)
    test.addCleanup(remove_tree, root)
    os.chmod(root, 0o755)  # open to the runs as nobody
    if build:
        build(root)
    return root


def chain(path, depth, name="d", each=None):
    """`depth` levels of `name` below `path`, made from each in turn so that no
    path grows; `each(level)` runs in each; returns the deepest."""
    os.makedirs(path, exist_ok=True)
    here = os.getcwd()
    os.chdir(path)
    try:
        for level in range(depth + 1):
            if level < depth:
                os.mkdir(name)
            if each:
                each(level)
            if level < depth:
                os.chdir(name)
        return os.path.join(path, *[name] * depth)
    finally:
        os.chdir(here)


def make_locale(directory, name, charmap):
    """Compiles locale `name` ("ja_JP.SJIS") into `directory`, for LOCPATH."""
    subprocess.run(["localedef", "--no-warnings=ascii", "-i", name.split(".")[0], "-f", charmap,
                    os.path.join(directory, name)], check=True)


def remove_tree(path):
    """Removes a tree of any depth, with whatever a test locked in it."""
    subprocess.run(["chmod", "-R", "u+rwx", path], stderr=subprocess.DEVNULL)
    subprocess.run(["rm", "-rf", path], check=True)


def free_bytes(path):
    status = os.statvfs(path)
    return status.f_bavail * status.f_frsize


def columns(flags, cluster_size):
    """The report's columns for option letters `flags`: (title, width) each."""
    chosen = [("amounts", "s", 10), ("bytes", "b", 10), ("gap", "g", 10), ("files", "n", 6)]
    return [("clusts", 6 if cluster_size >= 4295 else 10)] + [
        (title, width) for title, letter, width in chosen if letter in flags and (cluster_size or letter in "bn")]


def report(start, printed, flags, cluster_size, free):
    """The lines printed for the tree at `start`, named `printed`, with option
    letters `flags`, clusters of `cluster_size` bytes and `free` bytes free."""
    c, grouped = cluster_size, "C" in flags
    cols = columns(flags, c)

    def width(w):
        return w + (w - 1) // 3 if grouped else w

    def line(count, size, files, text, blank=()):
        value = {"clusts": count, "amounts": count * c, "bytes": size, "gap": count * c - size, "files": files}
        return " ".join(" " * width(w) if title in blank else ("{:,}" if grouped else "{}").format(
            value[title]).rjust(width(w)) for title, w in cols) + "   " + text

    lines = ["%d bytes per cluster" % c] if c else []
    if "h" in flags:
        lines += [" ".join(t.rjust(width(w)) for t, w in cols), " ".join("-" * width(w) for _, w in cols)]

    def walk(prefix, depth):
        total = [0, 0, 0]
        for entry in list(os.scandir(".")):
            if entry.is_dir(follow_symlinks=False):
                os.chdir(entry.name)
                figures = walk(prefix + entry.name + "/", depth + 1)
                os.chdir("..")
                if "t" not in flags or depth == 0:
                    lines.append(line(*figures, prefix + entry.name + ("/" if "f" in flags else "")))
            else:
                size = entry.stat(follow_symlinks=False).st_size
                figures = [-(-size // c) if c else size, size, 1]
                if "f" in flags and ("t" not in flags or depth == 0):
                    lines.append(line(*figures, prefix + entry.name))
            total = [a + b for a, b in zip(total, figures)]
        return total

    here = os.getcwd()
    os.chdir(start)
    try:
        total = walk(printed if printed.endswith(("/", ":") if ON_WINE else "/") else printed + "/", 0)
    finally:
        os.chdir(here)
    lines.append(line(*total, printed))
    lines.append(line(free // c if c else free, free, free, "free", blank=("gap", "files")))
    return lines


def free_row(result, flags, cluster_size):
    """The free row of a report and the bytes it tells."""
    row = result.stdout[result.stdout.rfind("\n", 0, -1) + 1:]
    shown = [t for t, _ in columns(flags, cluster_size) if t in ("clusts", "amounts", "bytes")]
    value = dict(zip(shown, (int(n.replace(",", "")) for n in row.split()[:-1])))
    return row, value.get("bytes", value.get("clusts", 0) * (cluster_size or 1))


def run_checking_free(test, path, args, flags, cluster_size, **options):
    """`run`, whose free row must tell the bytes free on `path`'s file system
    within a cluster of before or after the run; tried again a few times, as
    other programs write there too."""
    for _ in range(5):
        before = free_bytes(path)
        result = run(args, **options)
        low, high = sorted((before, free_bytes(path)))
        row, free = free_row(result, flags, cluster_size)
        if low - cluster_size <= free <= high + cluster_size:
            return result
    test.fail("%s: free between %d and %d bytes" % (row, low, high))


def check_report(test, result, start, printed, flags, cluster_size):
    """`result` is the whole report `report` gives, with its own free row."""
    _, free = free_row(result, flags, cluster_size)
    expected = report(start, printed, flags, cluster_size, free)
    if ON_WINE:  # Wine may list a directory in another order than the host's
        test.assertEqual(sorted(result.stdout.splitlines()), sorted(expected))
    else:
        test.assertEqual(result.stdout, "".join(line + "\n" for line in expected))
