"""What a scan tells beyond sizes (times, owners, modes, largest files, kinds,
ages), on trees with times and owners set, checked against a Python walk."""
import json
import os
import shutil
import stat
import subprocess
import time
import unittest

from harness import ON_WINE, make_file, temporary_tree
from spacemap_test import LINE, NATIVE, SPACEMAP_EXE, parse_view, run, untimed

DAY = 86400
NOW = int(time.time())
# Relative path, size, age in days, owner: files of several kinds and ages.
FILES = [
    ("photos/a.JPG", 90000, 400, 1001), ("photos/b.jpg", 30000, 10, 1001), ("photos/raw/c.png", 50000, 800, 1002),
    ("src/main.cc", 7000, 2, 1003), ("src/util.h", 1500, 40, 1003), ("src/.hidden", 100, 5, 0),
    ("notes", 2500, 100, 0), ("archive.tar.gz", 400000, 1000, 1002), ("Makefile", 300, 3, 0),
]
LINK = "photos/latest"  # a symbolic link, neither file nor directory
DIR_AGE = {"": 1, "photos": 7, "photos/raw": 9, "src": 30}


def make_tree(root):
    for rel, size, age, uid in FILES:
        path = os.path.join(root, rel)
        make_file(path, size, sparse=False)
        os.chmod(path, 0o640 if uid else 0o600)
        if hasattr(os, "chown") and os.geteuid() == 0:
            os.chown(path, uid, uid + 100)
        os.utime(path, (NOW, NOW - age * DAY))
    os.symlink("a.JPG", os.path.join(root, LINK))
    os.utime(os.path.join(root, LINK), (NOW, NOW - 20 * DAY), follow_symlinks=False)
    for rel, age in sorted(DIR_AGE.items(), key=lambda item: -len(item[0])):
        os.utime(os.path.join(root, rel), (NOW, NOW - age * DAY))


def model(root):
    """{path below root: lstat} of every entry."""
    paths = [os.path.join(top, name) for top, dirs, files in os.walk(root) for name in dirs + files]
    return dict({os.path.relpath(path, root): os.lstat(path) for path in paths}, **{"": os.lstat(root)})


def entries(export):
    """{path below the start: the export's object} of a JSON export."""
    found = {}

    def visit(node, prefix):
        head = node[0] if isinstance(node, list) else node
        path = prefix + "/" + head["name"] if prefix is not None else ""
        found[path.lstrip("/")] = head
        for child in node[1:] if isinstance(node, list) else ():
            visit(child, path)

    visit(json.loads(export.decode("utf-8", "surrogateescape"))[3], None)
    return found


def extended(obj):
    return {k: obj[k] for k in ("uid", "gid", "mode", "mtime") if k in obj}


def rows(output):
    """(size, share, time or None, label) of each line of a view in bytes."""
    return [(int(m.group(1)), m.group(2), m.group(3), m.group(4))
            for m in map(LINE.match, output.decode("utf-8", "surrogateescape").splitlines())]


def share(size, total):
    return "%.1f" % (int(size * 1000 / total + 0.5) / 10)


@unittest.skipUnless(NATIVE, "SPACEMAP_EXE names no native spacemap")
class DataTest(unittest.TestCase):
    def setUp(self):
        self.dir = temporary_tree(self, "spacemap-data-")
        self.root = os.path.join(self.dir, "tree")
        make_tree(self.root)
        self.stats = model(self.root)
        self.files = {path: st for path, st in self.stats.items() if not stat.S_ISDIR(st.st_mode)}

    def out(self, *args, stdin=None):  # spacemap's output, from a run without a word on standard error
        result = run(list(args), stdin=stdin)
        self.assertEqual((result.returncode, result.stderr), (0, b""))
        return result.stdout

    def view(self, *args, stdin=None):
        return rows(self.out("-b", *args, stdin=stdin))

    def test_extended_export_carries_each_entrys_time_owner_and_mode_and_rewriting_keeps_them(self):
        ours = self.out("-e", "-o", "-", self.root)
        expected = {path: {"uid": st.st_uid, "gid": st.st_gid, "mode": st.st_mode, "mtime": int(st.st_mtime)}
                    for path, st in self.stats.items()}
        self.assertEqual({path: extended(obj) for path, obj in entries(ours).items()}, expected)
        self.assertFalse(any(extended(obj) for obj in entries(self.out("-o", "-", self.root)).values()))
        self.assertEqual(untimed(self.out("-f", "-", "-o", "-", stdin=ours)), untimed(ours))
        for tool, args in (("ncdu", ["-e", "-0", "-o", "-"]), ("gdu", ["-n", "-p", "-o", "-"])):
            if shutil.which(tool):
                with self.subTest(tool=tool):
                    theirs = subprocess.run([tool] + args + [self.root], capture_output=True, check=True).stdout
                    expected = {path: extended(obj) for path, obj in entries(theirs).items()}
                    self.assertTrue(all(fields.get("mtime") for fields in expected.values()))
                    again = entries(self.out("-f", "-", "-o", "-", stdin=theirs))
                    self.assertEqual({path: extended(obj) for path, obj in again.items()}, expected)

    def test_largest_files_wherever_they_lie(self):
        export = self.out("-o", "-", self.root)
        for args, size in ((["--largest", "4"], lambda st: st.st_blocks * 512),
                           (["--largest", "99", "--apparent-size"], lambda st: st.st_size)):
            with self.subTest(args=args):
                total = sum(size(st) for st in self.stats.values())
                files = sorted(((size(st), path) for path, st in self.files.items()), key=lambda f: (-f[0], f[1]))
                expected = [(total, "100.0", None, self.root)] + [(s, share(s, total), None, p) for s, p in
                                                                  files[:int(args[1])]]
                self.assertEqual(self.view(*args, self.root), expected)
                self.assertEqual(self.view("-f", "-", *args, stdin=export), expected)

    def test_types_sum_files_by_extension_under_their_groups(self):
        counted = lambda files: "%d file%s" % (files, "" if files == 1 else "s")  # noqa: E731
        groups = {"JPG": "Images", "jpg": "Images", "png": "Images", "cc": "Source and text",
                  "h": "Source and text", "gz": "Archives and packages", "": "Other"}
        kinds = {}
        for path, st in self.files.items():
            name = os.path.basename(path)
            kind = kinds.setdefault(name.rsplit(".", 1)[1] if name.rfind(".") > 0 else "", [0, 0])
            kind[:] = kind[0] + st.st_blocks * 512, kind[1] + 1
        dirs = [st.st_blocks * 512 for path, st in self.stats.items() if path not in self.files]
        total = sum(dirs) + sum(size for size, _ in kinds.values())
        lines = [(sum(dirs), "(directories): %d" % len(dirs), [])]
        for group in set(groups.values()):
            exts = sorted(((kinds[e][0], e, kinds[e][1]) for e in kinds if groups[e] == group), key=lambda k: (-k[0], k[1]))
            lines.append((sum(k[0] for k in exts), "%s: %s" % (group, counted(sum(k[2] for k in exts))), [
                (s, "  %s: %s" % ("." + e if e else "(no extension)", counted(n))) for s, e, n in exts]))
        expected = [(total, "100.0", None, self.root)]
        for size, label, exts in sorted(lines, key=lambda line: (-line[0], line[1].startswith("("), line[1])):
            expected += [(size, share(size, total), None, label)] + [(s, share(s, total), None, e) for s, e in exts]
        self.assertEqual(self.view("--types", self.root), expected)
        self.assertEqual(self.view("--types", "-d", "0", "-f", "-", stdin=self.out("-o", "-", self.root)),
                         [row for row in expected if not row[3].startswith("  ")])

    def tree_view(self, *args, stdin=None):
        """{path below the start: (size, time shown)} of the whole tree."""
        view = parse_view(self.out("-b", "-d", "99", "--top", "9999", *args, stdin=stdin), times=True)
        return {path[1:]: shown for path, shown in view.items()}

    def test_age_restricts_the_files_and_time_shows_the_newest(self):
        cases = [(["--older-than", "90d"], lambda age: age > 90), (["--newer-than", "30d"], lambda age: age < 30),
                 (["--newer-than", "1y", "--older-than", "30d"], lambda age: 30 < age < 365)]
        for args, kept in cases:
            with self.subTest(args=args):
                left = {p: st for p, st in self.stats.items() if p not in self.files or kept((NOW - st.st_mtime) / DAY)}
                below = {p: [st for q, st in left.items() if p in ("", q) or q.startswith(p + "/")] for p in left}
                expected = {p: (sum(st.st_blocks * 512 for st in sts), time.strftime(
                    "%Y-%m-%d %H:%M", time.localtime(max(st.st_mtime for st in sts)))) for p, sts in below.items()}
                self.assertEqual(self.tree_view("--time", *args, self.root), expected)
                export = self.out("-e", "-o", "-", *args, self.root)
                self.assertEqual(self.tree_view("--time", "-f", "-", stdin=export), expected)
        untimed = run(["--older-than", "1d", "-f", "-"], stdin=self.out("-o", "-", self.root))
        self.assertEqual((untimed.returncode, untimed.stdout), (2, b""))
        self.assertEqual(untimed.stderr, b"spacemap: -: %d files of unknown age left out (an export written without "
                         b"-e?)\n" % len(self.files))


@unittest.skipUnless(SPACEMAP_EXE and ON_WINE, "no spacemap.exe under Wine")
class Win32ExtendedTest(unittest.TestCase):
    def test_the_export_carries_the_time_alone(self):
        root = temporary_tree(self, "spacemap-wine-")
        os.makedirs(os.path.join(root, "d"))
        for rel, age in (("d/old", 400), ("new", 2), ("d", 30)):
            if rel != "d":
                open(os.path.join(root, rel), "wb").close()
            os.utime(os.path.join(root, rel), (NOW, NOW - age * DAY))
        result = subprocess.run([os.environ["SPACE_WINE"], SPACEMAP_EXE, "-e", "-o", "-",
                                 "Z:" + root.replace("/", "\\")], capture_output=True)
        self.assertEqual(result.returncode, 0, result.stderr)
        found = entries(result.stdout)
        for rel in ("d/old", "new", "d"):
            self.assertEqual(extended(found[rel]), {"mtime": int(os.lstat(os.path.join(root, rel)).st_mtime)})


if __name__ == "__main__":
    unittest.main()
