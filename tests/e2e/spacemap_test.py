"""spacemap end to end: views, exports and comparisons of real trees made in
a temporary directory, checked against a Python walk that applies the
documented rules, and exports read back by ncdu and gdu themselves."""
import atexit
import fnmatch
import os
import re
import shutil
import subprocess
import tempfile
import time
import unittest

from harness import ON_WINE, UNPRIVILEGED, chain, command, make_file, temporary_tree

SPACEMAP_EXE = os.environ.get("SPACEMAP_EXE", "")
NATIVE = bool(SPACEMAP_EXE) and not ON_WINE
MARKS = re.compile(r" \[(excluded|unreadable|unreadable inside|hard link counted elsewhere|(other|kernel) file system)\]$")
# Size, share, time where shown, and the rest.
LINE = re.compile(r"^ *(\d+) +(\d+\.\d)% \[[# ]*\] (?:(\d{4}-\d\d-\d\d \d\d:\d\d|- {15}) )?(.*)$")
ALL = ["-b", "-d", "99", "--top", "999999"]
CACHE_TAG = b"Signature: 8a477f597d28d172789f06886806bc55"


def run(args, env=None, stdin=None, prefix=()):
    environment = {k: v for k, v in os.environ.items() if k not in ("SPACEMAP", "NO_COLOR")}
    return subprocess.run(command(args, prefix, SPACEMAP_EXE), env=dict(environment, **(env or {})),
                          input=stdin, capture_output=True, timeout=600)


def untimed(export):
    """An export less the time it was written."""
    return re.sub(rb'"timestamp":\d+', b"", export)


def text(data):
    """Output with the Win32 console's CR LF as LF."""
    return data.replace(b"\r\n", b"\n")


def excluded(root, rel, patterns, hidden=False, caches=False):
    """As ncdu leaves entries out: a pattern without a slash matches the name,
    one with a slash the whole path or an ending of it from a component on;
    dot names with `hidden`, directories with a valid CACHEDIR.TAG with `caches`."""
    path, name = root + rel, rel.rsplit("/", 1)[-1]
    endings = [path] + [path[i + 1:] for i, c in enumerate(path) if c == "/" and path[i + 1:i + 2] not in ("", "/")]
    if any(fnmatch.fnmatchcase(name, p) if "/" not in p else any(fnmatch.fnmatchcase(e, p) for e in endings)
           for p in patterns) or (hidden and name.startswith(".")):
        return True
    try:
        with open(os.path.join(path, "CACHEDIR.TAG"), "rb") as f:
            return caches and os.path.isdir(path) and f.read(43) == b"Signature: 8a477f597d28d172789f06886806bc55"
    except OSError:
        return False


def model(root, excludes=(), count_links=False, cluster=0, one_fs=False, apparent=False, hidden=False, caches=False):
    """{path below root: size} for every entry, by the rules the manual states:
    allocated bytes (or apparent), each file of several names once where the
    walk meets it first, excluded names and other file systems as nothing."""
    sizes, seen = {}, set()

    def walk(path, rel, dev):
        st = os.lstat(path)
        total = (0 if cluster else st.st_blocks * 512, st.st_size)
        for entry in os.scandir(path):
            child, child_rel = os.path.join(path, entry.name), rel + "/" + entry.name
            cst = os.lstat(child)
            if excluded(root, child_rel, excludes, hidden, caches) or (
                    entry.is_dir(follow_symlinks=False) and one_fs and cst.st_dev != dev):
                size = (0, 0)
            elif entry.is_dir(follow_symlinks=False):
                size = walk(child, child_rel, cst.st_dev)
            elif cst.st_nlink > 1 and not count_links and (cst.st_dev, cst.st_ino) in seen:
                size = (0, 0)
            else:
                seen.add((cst.st_dev, cst.st_ino))
                size = (-(-cst.st_size // cluster) * cluster if cluster else cst.st_blocks * 512, cst.st_size)
            sizes[re.sub("[\x00-\x1f\x7f-\x9f\udc80-\udcff]", "?", child_rel)] = size[1 if apparent else 0]
            total = (total[0] + size[0], total[1] + size[1])
        return total

    total = walk(root, "", os.lstat(root).st_dev)
    sizes[""] = total[1 if apparent else 0]
    return sizes


def parse_view(text, times=False):
    """{path below the start: size, or (size, time shown) with `times`} from a view in bytes."""
    sizes, stack = {}, []
    for line in text.decode("utf-8", "surrogateescape").splitlines():
        size, _, shown, rest = LINE.match(line).groups()
        depth = (len(rest) - len(rest.lstrip(" "))) // 2 + 1 if stack else 0
        del stack[depth:]
        stack.append(stack[-1] + "/" + MARKS.sub("", rest.lstrip(" ")).rstrip("/") if stack else "")
        sizes[stack[-1]] = (int(size), shown) if times else int(size)
    return sizes


def make_tree(root):
    """Files, a sparse one, hard links, a link, names with control bytes or not UTF-8."""
    for rel, size in [("a/one", 5000), ("a/b/two", 70000), ("a/b/c/three", 1), ("logs/x.log", 9000),
                      ("logs/y.log", 300), ("top", 12345)]:
        make_file(os.path.join(root, rel), size, sparse=False)
    make_file(os.path.join(root, "sparse"), 10 << 20)
    os.link(os.path.join(root, "a/b/two"), os.path.join(root, "logs/two-again"))
    os.link(os.path.join(root, "top"), os.path.join(root, "top-again"))
    os.symlink("a", os.path.join(root, "link"))
    for name in (b"new\nline", b"ctl\x01\x7f", b"latin\xe9", b"\xff\xfe", "\u65e5\u672c".encode()):
        make_file(os.path.join(os.fsencode(root), name), data=b"y" * 100)


@unittest.skipUnless(NATIVE, "SPACEMAP_EXE names no native spacemap")
class SpacemapTest(unittest.TestCase):
    def setUp(self):
        self.dir = temporary_tree(self, "spacemap-")  # gone after what the test cleans up itself
        self.root = os.path.join(self.dir, "tree")
        make_tree(self.root)

    def path(self, name):
        return os.path.join(self.dir, name)

    def test_views_agree_with_the_model(self):
        cases = [
            ([], {}),
            (["--count-links"], {"count_links": True}),
            (["--apparent-size"], {"apparent": True}),
            (["--cluster-size", "4096", "-l"], {"cluster": 4096, "count_links": True}),
            (["--cluster-size", "0"], {"cluster": 1}),
            (["--exclude", "*.log", "--exclude", "[bc]"], {"excludes": ["*.log", "[bc]"]}),
            (["--exclude-from", self.path("patterns")], {"excludes": ["top*", "a", "b/c", "*/x.log"]}),
            (["--exclude", self.root + "/logs", "--exclude", "[ab]/*/three"], {"excludes": [self.root + "/logs",
                                                                                         "[ab]/*/three"]}),
            (["--exclude", "tree/a"], {"excludes": ["tree/a"]}),  # left out once read, with what it holds
            (["--exclude-hidden", "--exclude-caches"], {"hidden": True, "caches": True}),
            (["--exclude-caches"], {"caches": True}),
            # A walk deeper than its descriptors.
            ([], {}, {"env": {"SPACE_THREADS": "1"}, "prefix": ("prlimit", "--nofile=12")}),
        ]
        with open(self.path("patterns"), "w") as f:
            f.write("# comment\ntop*\n\na\nb/c\n*/x.log\n")
        for rel, data in ((".hidden/file", b"h" * 3000), ("a/b/CACHEDIR.TAG", CACHE_TAG + b"\n"),
                          ("logs/CACHEDIR.TAG", CACHE_TAG[:-1]), (".hidden/cache/CACHEDIR.TAG", CACHE_TAG)):
            make_file(os.path.join(self.root, rel), data=data)
        chain(os.path.join(self.root, "deep"), 40, each=lambda level: make_file("side/f", level * 1000, sparse=False))
        for args, rules, *how in cases:
            with self.subTest(args=args, how=how):
                result = run(ALL + args + [self.root], **(how[0] if how else {}))
                self.assertEqual((result.returncode, result.stderr), (0, b""))
                self.assertEqual(parse_view(result.stdout), model(self.root, **rules))

    @unittest.skipUnless(shutil.which("tmux"), "tmux runs it on a terminal")
    def test_a_terminal_gets_colour_and_lines_that_fit(self):
        os.makedirs(os.path.join(self.root, "a-directory-with-a-name-far-wider-than-forty-columns-" + "x" * 50))
        for env, coloured in (({}, True), ({"NO_COLOR": "1"}, False), ({"NO_COLOR": ""}, True)):
            with self.subTest(env=env):
                pane = Pane("stty cols 40; env -u NO_COLOR -u SPACEMAP %s %s -d 2 %s" % (
                    " ".join("%s=%s" % item for item in env.items()), SPACEMAP_EXE, self.root), self.dir)
                screen = pane.wait(lambda screen: "status=0" in screen, "the end", "-e", "-S", "-")
                lines = screen.split("status=")[0].splitlines()
                self.assertEqual(any("\x1b[" in line for line in lines), coloured)
                shown = [re.sub("\x1b\\[[0-9;]*m", "", line) for line in lines]
                self.assertGreater(len(shown), 10)
                self.assertLessEqual(max(len(line) for line in shown), 39, shown)
                self.assertTrue(any(line.endswith("~") for line in shown))

    def test_depth_top_and_units(self):
        result = run(["-d", "1", "--top", "2", self.root])
        lines = result.stdout.decode("utf-8", "surrogateescape").splitlines()
        self.assertEqual(len(lines), 4)  # the start, two entries, the rest
        self.assertRegex(lines[0], r"^ +\d+K 100\.0% \[#{10}\] " + re.escape(self.root) + "$")
        self.assertRegex(lines[3], r"\(\d+ more\)$")
        sizes = model(self.root)
        biggest = sorted((s for p, s in sizes.items() if p.count("/") == 1), reverse=True)
        shown = [int(LINE.match(line).group(1)) for line in run(ALL[:1] + ["--top", "2", self.root]).stdout.decode(
            "utf-8", "surrogateescape").splitlines()]
        self.assertEqual(shown, [sizes[""]] + biggest[:2] + [sum(biggest[2:])])
        self.assertRegex(run(["--si", "-d", "0", "--apparent-size", self.root]).stdout.decode(), r"^ +11M ")

    def test_export_round_trips_and_loads_in_ncdu_and_gdu(self):
        export = self.path("scan.json")
        self.assertEqual(run(["-o", export, self.root]).returncode, 0)
        view = run(ALL + [self.root]).stdout
        self.assertEqual(run(ALL + ["-f", export]).stdout, view)
        if shutil.which("ncdu"):
            subprocess.run(["ncdu", "-0", "-o", self.path("ncdu.json"), self.root], check=True)
            self.assertEqual(run(ALL + ["-f", self.path("ncdu.json")]).stdout, view)
        totals = model(self.root), model(self.root, apparent=True)
        if shutil.which("gdu"):
            subprocess.run(["gdu", "-n", "-p", "-o", self.path("gdu.json"), self.root], check=True)
            from_gdu = parse_view(run(ALL + ["-f", self.path("gdu.json")]).stdout)
            self.assertEqual({p: from_gdu[p] for p in ("/sparse", "/a/b/c/three", "/logs/y.log")},
                             {p: totals[0][p] for p in ("/sparse", "/a/b/c/three", "/logs/y.log")})
            for flags, total in (([], totals[0][""]), (["-a"], totals[1][""])):
                out = subprocess.run(["gdu", "-n", "-s", "--no-prefix", "-f", export] + flags, capture_output=True)
                self.assertEqual(int(out.stdout.split()[0]), total)
        if shutil.which("ncdu") and shutil.which("tmux"):
            self.assertEqual(ncdu_screen_totals(export), tuple(ncdu_size(t[""]) for t in totals))

    def test_compressed_exports_round_trip_and_cut_short_ones_are_refused(self):
        for i in range(300):  # enough for blocks of the codecs and of the reader
            make_file(os.path.join(self.root, "a", "file%03d.txt" % i), data=b"z" * i)
        export = self.path("scan.json")
        self.assertEqual(run(["-o", export, self.root]).returncode, 0)
        with open(export, "rb") as f:
            plain = f.read()
        view = run(ALL + ["-f", export]).stdout
        for name, args, tool in (("scan.json.zst", [], "zstd"), ("scan.json.gz", [], "gzip"),
                                 ("scan.zst-less", ["--compress"], "zstd")):
            with self.subTest(name=name):
                packed = self.path(name)
                self.assertEqual(run(["-f", export, "-o", packed] + args).returncode, 0)
                if shutil.which(tool):
                    unpacked = subprocess.run([tool, "-dc", packed], capture_output=True, check=True).stdout
                    self.assertEqual(untimed(unpacked), untimed(plain))
                self.assertEqual(run(ALL + ["-f", packed]).stdout, view)
                with open(packed, "rb") as f:
                    data = f.read()
                self.assertLess(len(data), len(plain) / 3)
                self.assertEqual(run(ALL + ["-f", "-"], stdin=data).stdout, view)
                cut = run(["-f", "-"], stdin=data[:len(data) // 2])
                self.assertEqual((cut.returncode, cut.stdout), (2, b""))
                self.assertEqual(cut.stderr.decode(), "spacemap: -: the %s data is cut short (at byte %d of the file)\n"
                                 % (tool, len(data) // 2))
        damaged = run(["-f", "-"], stdin=b"\x28\xb5\x2f\xfd" + b"x" * 20)
        self.assertEqual(damaged.returncode, 2)
        self.assertRegex(damaged.stderr.decode(), r"^spacemap: -: zstd: .+ \(at byte 0 of the file\)\n$")

    def test_unreadable_directory_is_reported_and_marked(self):
        if os.geteuid() != 0 or subprocess.run(UNPRIVILEGED + ("test", "-x", SPACEMAP_EXE)).returncode:
            self.skipTest("needs root and a spacemap that nobody may run")
        os.chmod(os.path.join(self.root, "a/b"), 0)
        message = b"spacemap: cannot read directory '%s/a/b': Permission denied\n" % self.root.encode()
        # The view, the export and the page mark it (the page what holds it too).
        for args, marks in ((ALL, [b"  b/ [unreadable]\n"]),
                            (["-o", "-"], [b'{"name":"b","asize":4096,"dsize":4096,"read_error":true}]']),
                            (["--html", "-"], [b',17,"a",', b',17,"b",4096,4096,0,4,'])):
            result = run(args + [self.root], prefix=UNPRIVILEGED)
            self.assertEqual((result.returncode, result.stderr), (2, message), args)
            for mark in marks:
                self.assertIn(mark, result.stdout, args)

    def test_other_and_kernel_file_systems(self):
        mounts = [("other", ["-t", "tmpfs", "tmpfs"]), ("proc", ["-t", "proc", "proc"])]
        for name, how in mounts:
            os.mkdir(os.path.join(self.root, name))
            if subprocess.run(["mount"] + how + [os.path.join(self.root, name)], capture_output=True).returncode:
                self.skipTest("cannot mount here")
            self.addCleanup(subprocess.run, ["umount", os.path.join(self.root, name)], check=True)
        make_file(os.path.join(self.root, "other/file"), 50000, sparse=False)
        view = run(ALL + [self.root]).stdout
        self.assertIn(b"proc [kernel file system]\n", view)  # never walked, whatever -x says
        self.assertEqual(parse_view(view)["/other/file"], 53248)
        view = run(ALL + ["-x", self.root]).stdout
        self.assertIn(b"other [other file system]\n", view)
        self.assertEqual(parse_view(view), model(self.root, one_fs=True))
        self.assertIn(b'{"name":"proc","excluded":"kernfs"}', run(["-o", "-", self.root]).stdout)

    def test_diff_tells_where_the_space_went(self):
        old = self.path("old.json")
        run(["-o", old, self.root])
        before = model(self.root)
        make_file(os.path.join(self.root, "logs/x.log"), 109000, sparse=False)
        os.remove(os.path.join(self.root, "a/one"))
        os.mkdir(os.path.join(self.root, "new"))
        after = model(self.root)
        result = run(["--diff", old, self.root, "-b", "-d", "2", "--top", "999"])
        rows = [line.split() for line in result.stdout.decode("utf-8", "surrogateescape").splitlines()]
        self.assertEqual(rows[0], ["change", "old", "new", "path"])
        changed = {p: (before.get(p, 0), after.get(p, 0)) for p in set(before) | set(after)
                   if 0 < p.count("/") <= 2 and before.get(p, 0) != after.get(p, 0)}
        got = {"/" + r[3].rstrip("/"): (int(r[1]), int(r[2])) for r in rows[2:]}
        self.assertEqual(got, changed)
        amounts = [abs(int(r[0])) for r in rows[2:]]
        self.assertEqual(amounts, sorted(amounts, reverse=True))

    def test_options_and_their_errors(self):
        cases = [
            (["--bogus"], {}, 2, b"spacemap: command line: The following argument was not expected: --bogus"),
            (["--top", "0"], {}, 2, b"spacemap: command line: --top: must be at least 1"),
            (["-d", "x"], {}, 2, b"spacemap: command line: --max-depth: must be a whole number"),
            (["-f", "a", "b"], {}, 2, b"spacemap: command line: "),
            ([], {"SPACEMAP": "--what"}, 2, b"not expected: --what"),
            (["-f", "missing"], {}, 2, b"spacemap: cannot read 'missing': No such file or directory"),
            (["--html", "no/page", "."], {}, 2, b"spacemap: cannot write 'no/page': No such file or directory"),
            (["--html", "-", "-o", "-"], {}, 2, b"spacemap: command line: "),
            (["--diff", "old"], {}, 2, b"spacemap: command line: --diff: At least 2 required"),
            (["--diff", "old", "new", "third"], {}, 2, b"spacemap: command line: --diff: At Most 2 required"),
            ([""], {}, 2, b"spacemap: command line: path: an empty name names no directory"),
            (["--top", "-1"], {}, 2, b"spacemap: command line: --top: must be a whole number"),
            (["-d", "-1"], {}, 2, b"spacemap: command line: --max-depth: must be a whole number"),
            (["--cluster-size", "-5"], {}, 2, b"spacemap: command line: --cluster-size: must be a whole number"),
            (["-i", "."], {}, 2, b"spacemap: --interactive: standard input and output must be a terminal\n"),
        ]
        for args, env, status, message in cases:
            with self.subTest(args=args, env=env):
                result = run(args, env=env)
                self.assertEqual((result.returncode, result.stdout), (status, b""))
                self.assertIn(message, result.stderr)
        help_text = run(["--help"]).stdout.decode()
        self.assertIn("-l,--count-links            count a file with several names once for each\n", help_text)
        self.assertIsNone(re.search(r"Excludes|Needs|REQUIRED| x \d|\.\.\.", help_text), help_text)
        self.assertRegex(run(["--version"]).stdout, rb"^spacemap \d+\.\d+\n$")
        # An exclude that can never match is a warning, not silence.
        warned = run(["-d", "0", self.root, "--exclude", "logs/", "--exclude", "/elsewhere/*", "--exclude", "a/./b",
                      "--exclude", self.root + "/a*"])
        self.assertEqual(warned.returncode, 0)
        self.assertEqual(warned.stderr.decode().splitlines(), [
            "spacemap: warning: exclude pattern 'logs/' never matches: no path ends in '/'",
            "spacemap: warning: exclude pattern '/elsewhere/*' never matches: it is not below " + self.root,
            "spacemap: warning: exclude pattern 'a/./b' never matches: paths hold no '.' or '..' component"])
        # The command line overrides the variable.
        both = run(["-d", "0", "-b", self.root], env={"SPACEMAP": "-d 2 --si"})
        self.assertEqual(len(both.stdout.splitlines()), 1)
        self.assertRegex(both.stdout, rb"^ *\d+ 100")


@unittest.skipUnless(SPACEMAP_EXE, "SPACEMAP_EXE names no spacemap")
class ImportTest(unittest.TestCase):
    def test_malformed_exports_name_their_byte(self):
        head = b'[1,2,{"progname":"x"},\n[{"name":"/r"}'
        cases = [
            (b"", 0, "expected '['"),
            (b"[2,0,{},[{\"name\":\"/\"}]]", 1, "a major version other than 1"),
            (head + b",{\"name\":\"a\",\"asize\":-1}]]", len(head) + 21, "expected a number"),
            (head + b",{\"asize\":1}]]", len(head) + 1, "an entry without a name"),
            (head + b",{\"name\":\"a\\u0000\"}]]", len(head) + 11, "a NUL byte inside a string"),
            (head + b",{\"name\":\"a\"}", len(head) + 13, "expected ','"),
            (head + b"]] x", len(head) + 3, "expected the end of the file"),
            (head + b",7]]", len(head) + 1, "expected an entry ('{' or '[')"),
        ]
        for data, offset, what in cases:
            with self.subTest(data=data):
                result = run(["-f", "-"], stdin=data)
                self.assertEqual(result.returncode, 2)
                self.assertEqual(text(result.stderr).decode(), "spacemap: -: malformed at byte %d: %s\n" % (offset, what))

    def test_400000_levels_through_import_and_export(self):
        depth = 400000
        data = (b'[1,2,{},\n' + b''.join(b'[{"name":"d","asize":1},\n' for _ in range(depth)) +
                b'{"name":"f","asize":5,"dsize":7,"unknown":{"x":[1,{"y":null}]}}' + b']' * depth + b']\n')
        data = data.replace(b'[{"name":"d"', b'[{"name":"/top"', 1)
        result = run(["-b", "-d", "2", "--apparent-size", "-f", "-"], stdin=data)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertRegex(text(result.stdout), rb"^ *%d 100\.0%% .*/top\n *%d 100\.0%% .*d/\n" % (depth + 5, depth + 4))
        exported = run(["-f", "-", "-o", "-"], stdin=data)
        self.assertEqual(exported.returncode, 0)
        again = run(["-b", "-d", "2", "--apparent-size", "-f", "-"], stdin=exported.stdout)
        self.assertEqual(again.stdout, result.stdout)

    @unittest.skipUnless(NATIVE, "SPACEMAP_EXE names no native spacemap")
    def test_rewriting_keeps_the_link_count_as_told(self):
        for told, written in ((b"", b""), (b',"nlink":3', b',"nlink":3')):  # gdu tells no count
            data = (b'[1,2,{},\n[{"name":"/r"},\n' + b',\n'.join(
                b'{"name":"%s","asize":2,"dsize":4096,"ino":7,"hlnkc":true%s}' % (n, told) for n in (b"b", b"c")) + b']]\n')
            rewritten = run(["-f", "-", "-o", "-"], stdin=data).stdout
            self.assertIn(b'{"name":"c","asize":2,"dsize":4096,"ino":7,"hlnkc":true%s}]' % written, rewritten)
            self.assertRegex(run(["-b", "-d", "0", "-f", "-"], stdin=rewritten).stdout, rb"^ *4096 ")

    @unittest.skipUnless(NATIVE, "SPACEMAP_EXE names no native spacemap")
    def test_a_deep_diff_takes_memory_as_the_view_does(self):
        depth, work = 10000, temporary_tree(self, "spacemap-deep-")
        for name, size in (("old.json", 5), ("new.json", 9)):
            make_file(os.path.join(work, name), data=b'[1,2,{},\n' + b'[{"name":"/top"}' + b',\n[{"name":"d"}' * depth +
                      b',{"name":"f","asize":%d}' % size + b']' * (depth + 1) + b']\n')
        peaks = {}
        for mode in (["-f", "old.json"], ["--diff", "old.json", "new.json"]):
            proc = subprocess.Popen([SPACEMAP_EXE, "-d", str(depth + 1), "--apparent-size"] + mode, cwd=work,
                                    stdout=subprocess.DEVNULL)
            _, status, usage = os.wait4(proc.pid, 0)
            self.assertEqual(status, 0)
            peaks[mode[0]] = usage.ru_maxrss  # KiB
        # Spelling every changed path whole took 175 MB here.
        self.assertLess(peaks["--diff"], 2 * peaks["-f"] + 16384, peaks)


@unittest.skipUnless(SPACEMAP_EXE and ON_WINE, "no spacemap.exe under Wine")
class Win32Test(unittest.TestCase):
    def test_files_count_whole_clusters_and_every_name(self):
        root = temporary_tree(self, "spacemap-wine-")
        for rel, size in [("a/one", 5000), ("a/b/two", 70000), ("top", 1), ("empty", 0)]:
            make_file(os.path.join(root, rel), size, sparse=False)
        os.link(os.path.join(root, "top"), os.path.join(root, "top-again"))
        wine_root = "Z:" + root.replace("/", "\\")
        result = run(ALL + [wine_root])
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(parse_view(text(result.stdout)), model(root, cluster=4096, count_links=True))
        export = run(["-o", "-", wine_root])
        self.assertNotIn(b"\r", export.stdout)  # the bytes of the format, not text of the console
        again = run(ALL + ["-f", "-"], stdin=export.stdout)
        self.assertEqual(again.stdout, result.stdout)

    def test_compressed_exports_are_refused_by_name(self):
        out = temporary_tree(self, "spacemap-wine-")
        result = run(["-o", "Z:" + out.replace("/", "\\") + "\\x.json.zst", "."])
        self.assertEqual(result.returncode, 2)
        self.assertIn(b"compressed exports are not supported in this build", result.stderr)
        self.assertEqual(os.listdir(out), [])

    def test_names_outside_the_code_page_are_utf8(self):
        root = temporary_tree(self, "spacemap-wine-")
        names = ["\u65e5\u672c", "\u4e2d\u56fd", "caf\u00e9"]  # two would be "??" in code page 1252
        for i, name in enumerate(names):
            make_file(os.path.join(root, name), 5000 * (i + 1), sparse=False)
        wine_root = "Z:" + root.replace("/", "\\")
        for args in (["-o", "-"], ALL):
            result = run(args + [wine_root], env={"LC_ALL": "C.UTF-8"})
            self.assertEqual(result.returncode, 0, result.stderr)
            for name in names:
                self.assertIn(name.encode(), result.stdout, args)


def ncdu_size(size):
    """`size` as ncdu shows it."""
    for unit, limit in (("B", 1000), ("KiB", 1023e3), ("MiB", 1023e6), ("GiB", 1023e9)):
        if size < limit:
            return "%.1f %s" % (size / 1024 ** ("B", "KiB", "MiB", "GiB").index(unit), unit)
    return "%.1f TiB" % (size / 1024 ** 4)


# Generous, for the sanitizer builds on a busy machine.
DEADLINE = int(os.environ.get("BROWSER_DEADLINE", "60"))
atexit.register(shutil.rmtree, SOCKET_DIR := tempfile.mkdtemp(prefix="spacemap-tmux-"), True)  # kill-server leaves it
SOCKET = os.path.join(SOCKET_DIR, "socket")


def tmux(*args):
    return subprocess.run(["tmux", "-S", SOCKET] + list(args), capture_output=True, check=False)


class Pane:
    """A command in a window of the module's tmux server, kept once it ends."""
    count = 0

    def __init__(self, command, cwd):
        if not Pane.count:
            tmux("-f", "/dev/null", "new-session", "-d", "-s", "spacemap", "-x", "150", "-y", "40")
            tmux("set-option", "-g", "remain-on-exit", "on")
            atexit.register(tmux, "kill-server")
        Pane.count += 1
        self.name = ":w%d" % Pane.count
        # The shell outlives Ctrl-C and tells the status and the terminal's state.
        shell = ('trap : INT; t=$(stty -g); %s; s=$?; [ "$(stty -g)" = "$t" ] && t=kept || t=changed; '
                 'echo "status=$s terminal $t"') % command
        tmux("new-window", "-d", "-n", self.name[1:], "-c", cwd, "sh", "-c", shell)

    def screen(self, *history):
        return tmux("capture-pane", "-p", *history, "-t", self.name).stdout.decode("utf-8", "replace")

    def wait(self, predicate, what, *history):
        deadline = time.monotonic() + DEADLINE
        while time.monotonic() < deadline:
            screen = self.screen(*history)
            if predicate(screen):
                return screen
            time.sleep(0.05)
        raise AssertionError("no screen with %s:\n%s" % (what, self.screen()))

    def wait_for(self, text):
        return self.wait(lambda screen: text in screen, repr(text))

    def keys(self, *keys, then=None):
        """Sends `keys`; with `then`, waits for a screen showing it and returns that."""
        tmux("send-keys", "-t", self.name, *keys)
        return then and self.wait_for(then)

    def quit(self, key="q"):
        self.keys(key)
        # Once the window is dead, its last lines may have gone to the history.
        return self.wait(lambda screen: "status=" in screen, "the exit status", "-S", "-")


def ncdu_screen_totals(export):
    """The disk usage and apparent size on ncdu's screen once it has loaded `export`."""
    pattern = r"Total disk usage: +([\d.]+ \w+) +Apparent size: +([\d.]+ \w+)"
    pane = Pane("ncdu -f " + export, os.path.dirname(export))
    found = re.search(pattern, pane.wait(lambda screen: re.search(pattern, screen), repr(pattern)))
    tmux("kill-window", "-t", pane.name)
    return found.groups()


if __name__ == "__main__":
    unittest.main()
