"""The walk: which rows appear, in which order, and what they count."""
import os
import resource
import tempfile
import unittest

from harness import ON_WINE, TreeTest, clusters, host_path, measure, remove_tree, run

CLUSTER = 4096


def as_printed(path):
    """How a row names `path`, after the harness's normalisation."""
    return host_path(path).replace("\\", "/")


class NestedTreeTest(TreeTest):
    """A tree with nested, hidden and empty directories, measured in 4096-byte
    clusters and compared with figures taken from the file system."""

    FILES = {
        "top.txt": 5000,
        ".hidden": 4097,
        "a/one": 4096,
        "a/b/two": 1,
        "a/b/c/three": 0,
        "a/b/c/.dot/four": 9000,
        "z/five": 100,
    }

    def setUp(self):
        super().setUp()
        for name, size in self.FILES.items():
            self.file(name, size)
        self.dir("a/empty")
        self.expected = measure(self.root, CLUSTER)

    def assertPostOrder(self, texts, items):
        """Each directory's row comes right after the rows of everything below
        it, which form one block. `items` maps each row text to the relative
        path it stands for."""
        position = {items[text]: i for i, text in enumerate(texts)}
        for directory in self.expected:
            if not directory or directory not in position:
                continue
            below = {path for path in position if path.startswith(directory + "/")}
            end = position[directory]
            block = {items[text] for text in texts[end - len(below):end]}
            self.assertEqual(block, below, "rows before " + directory)

    def test_directory_rows_follow_their_contents_and_hold_their_totals(self):
        result = self.space("-bn", "-c4096")
        self.assertEqual((result.status, result.stderr), (0, ""))
        self.assertEqual(result.rows()[0], "4096 bytes per cluster")
        rows = result.usage_rows(3)
        self.assertEqual(rows[-2], (self.expected[""], "."))
        self.assertEqual(rows[-1][1], "free")
        directory_rows = rows[:-2]
        items = {"./" + path: path for path in self.expected if path}
        self.assertEqual(sorted(text for _, text in directory_rows), sorted(items))
        for numbers, text in directory_rows:
            self.assertEqual(numbers, self.expected[items[text]], text)
        self.assertIn(([0, 0, 0], "./a/empty"), directory_rows)
        self.assertPostOrder([text for _, text in directory_rows], items)

    def test_file_rows_come_with_their_directory_and_directory_rows_end_in_a_separator(self):
        result = self.space("-fbn", "-c4096")
        self.assertEqual((result.status, result.stderr), (0, ""))
        rows = result.usage_rows(3)
        self.assertEqual(rows[-2], (self.expected[""], "."))
        items = {"./" + path + "/": path for path in self.expected if path}
        items.update({"./" + path: path for path in self.FILES})
        self.assertEqual(sorted(text for _, text in rows[:-2]), sorted(items))
        for numbers, text in rows[:-2]:
            path = items[text]
            if path in self.FILES:
                size = self.FILES[path]
                self.assertEqual(numbers, [clusters(size, CLUSTER), size, 1], text)
            else:
                self.assertEqual(numbers, self.expected[path], text)
        self.assertPostOrder([text for _, text in rows[:-2]], items)

    def test_first_level_limits_rows_but_not_totals(self):
        result = self.space("-tbn", "-c4096")
        rows = result.usage_rows(3)
        self.assertEqual(sorted(rows[:-2], key=lambda row: row[1]),
                         [(self.expected["a"], "./a"), (self.expected["z"], "./z")])
        self.assertEqual(rows[-2], (self.expected[""], "."))
        self.assertEqual((result.status, result.stderr), (0, ""))

    def test_first_level_file_rows_are_those_directly_inside(self):
        rows = self.space("-tfbn", "-c4096").usage_rows(3)
        self.assertEqual(sorted(text for _, text in rows[:-2]), ["./.hidden", "./a/", "./top.txt", "./z/"])
        self.assertEqual(rows[-2], (self.expected[""], "."))


class ClusterCountTest(TreeTest):
    """Each file takes whole clusters of the counting size."""

    SIZES = {"zero": 0, "one": 4096, "over": 4097, "odd": 5000}

    def setUp(self):
        super().setUp()
        for name, size in self.SIZES.items():
            self.file(name, size)

    def file_rows(self, result, columns):
        return {text: numbers for numbers, text in result.usage_rows(columns)}

    def test_files_round_up_to_whole_clusters(self):
        result = self.space("-fsbgn", "-c4096")
        self.assertEqual(result.rows()[0], "4096 bytes per cluster")
        rows = self.file_rows(result, 5)
        self.assertEqual(rows["./zero"], [0, 0, 0, 0, 1])
        self.assertEqual(rows["./one"], [1, 4096, 4096, 0, 1])
        self.assertEqual(rows["./over"], [2, 8192, 4097, 4095, 1])
        self.assertEqual(rows["./odd"], [2, 8192, 5000, 3192, 1])
        self.assertEqual(rows["."], [5, 20480, 13193, 7287, 4])

    def test_cluster_size_zero_counts_bytes_without_a_cluster_size_line(self):
        result = self.space("-fbn", "-c0")
        self.assertNotIn("bytes per cluster", result.stdout)
        rows = self.file_rows(result, 3)
        for name, size in self.SIZES.items():
            self.assertEqual(rows["./" + name], [size, size, 1])
        self.assertEqual(rows["."], [13193, 13193, 4])

    def test_default_cluster_size_is_the_file_systems(self):
        fragment = os.statvfs(self.root).f_frsize
        result = self.space("-b")
        self.assertEqual(result.rows()[0], "%d bytes per cluster" % fragment)
        total = sum(clusters(size, fragment) for size in self.SIZES.values())
        self.assertEqual(self.file_rows(result, 2)["."], [total, 13193])


class LargeFileTest(TreeTest):
    """Sizes beyond 32 bits are counted whole."""

    GIB = 1 << 30

    def setUp(self):
        super().setUp()
        self.file("over4", 4 * self.GIB + 100)
        self.file("four", 4 * self.GIB)
        self.file("five", 5 * self.GIB)

    def test_sizes_beyond_four_gib(self):
        result = self.space("-fsbgn", "-c4096")
        rows = {text: numbers for numbers, text in result.usage_rows(5)}
        self.assertEqual(rows["./over4"], [1048577, 4294971392, 4294967396, 3996, 1])
        self.assertEqual(rows["./four"], [1048576, 4294967296, 4294967296, 0, 1])
        self.assertEqual(rows["./five"], [1310720, 5368709120, 5368709120, 0, 1])
        self.assertEqual(rows["."], [3407873, 13958647808, 13958643812, 3996, 3])

    def test_a_value_wider_than_its_field_pushes_the_row_right(self):
        plain = self.space("-bn", "-c0").rows()
        self.assertEqual(plain[-2], "13958643812 13958643812      3   .")
        grouped = self.space("-bnC", "-c0").rows()
        self.assertEqual(grouped[-2], "13,958,643,812 13,958,643,812       3   .")


class StartPathTest(TreeTest):
    """Rows are named from the start path as typed."""

    def setUp(self):
        super().setUp()
        self.file("sub/x/f", 5000)
        self.file("sub/g", 1)

    def test_total_row_names_the_start_path_as_typed(self):
        for typed, deepest in ((".", "./sub/x"), ("sub", "sub/x"), ("sub/", "sub/x"),
                               ("./sub", "./sub/x"), (self.root, self.root + "/sub/x")):
            with self.subTest(typed=typed):
                result = self.space("-b", "-c4096", host_path(typed))
                rows = result.usage_rows(2)
                self.assertEqual(rows[0], ([2, 5000], as_printed(deepest)))
                self.assertEqual(rows[-2], ([3, 5001], as_printed(typed)))
                self.assertEqual(rows[-1][1], "free")
                self.assertEqual((result.status, result.stderr), (0, ""))

    def test_no_start_path_measures_the_current_directory_as_dot(self):
        result = self.space("-b", "-c4096")
        self.assertEqual([row[1] for row in result.usage_rows(2)],
                         ["./sub/x", "./sub", ".", "free"])


@unittest.skipIf(ON_WINE, "Wine maps each path to a host path, which cannot exceed the host's PATH_MAX")
class DeepTreeTest(unittest.TestCase):
    """A chain of directories whose paths are far longer than PATH_MAX,
    made once for all its tests."""

    DEPTH = 5000
    # A walk that loses its place in the chain may repeat itself without end:
    # it is stopped by time, and its output by size.
    TIMEOUT = 60
    OUTPUT_LIMIT = 64 << 20

    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="space-e2e-deep-")
        cls.addClassCleanup(remove_tree, cls.root)
        fd = os.open(cls.root, os.O_RDONLY | os.O_DIRECTORY)
        for level in range(cls.DEPTH):
            os.mkdir("d", dir_fd=fd)
            child = os.open("d", os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
            os.close(fd)
            fd = child
            if level == 0 or level == cls.DEPTH - 1:
                cls.write_file(fd, 100 if level == 0 else 5000)
        os.close(fd)

    @staticmethod
    def write_file(dir_fd, size):
        fd = os.open("f", os.O_WRONLY | os.O_CREAT, 0o644, dir_fd=dir_fd)
        os.ftruncate(fd, size)
        os.close(fd)

    def space(self, *args):
        return run(args, cwd=self.root, timeout=self.TIMEOUT)

    def listing(self, *args):
        """The rows of a run whose output goes to a file of limited size."""
        def limit_output():
            resource.setrlimit(resource.RLIMIT_FSIZE, (self.OUTPUT_LIMIT, self.OUTPUT_LIMIT))
        with tempfile.TemporaryFile() as out:
            result = run(args, cwd=self.root, stdout=out, preexec_fn=limit_output,
                         timeout=self.TIMEOUT)
            self.assertEqual((result.status, result.stderr), (0, ""))
            out.seek(0)
            result.stdout = out.read().decode()
        return result.usage_rows(3)

    def test_first_level_row_totals_the_whole_chain(self):
        result = self.space("-tbn", "-c4096")
        self.assertEqual((result.status, result.stderr), (0, ""))
        rows = result.usage_rows(3)
        self.assertEqual(rows[:2], [([3, 5100, 2], "./d"), ([3, 5100, 2], ".")])
        self.assertEqual(rows[2][1], "free")

    def test_every_level_gets_its_whole_path(self):
        rows = self.listing("-bn", "-c4096")
        self.assertEqual(len(rows), self.DEPTH + 2)
        deepest = "./" + "/".join(["d"] * self.DEPTH)
        for depth in range(self.DEPTH, 1, -1):
            self.assertEqual(rows[self.DEPTH - depth], ([2, 5000, 1], deepest[:2 * depth + 1]))
        self.assertEqual(rows[self.DEPTH - 1], ([3, 5100, 2], "./d"))
        self.assertEqual(rows[self.DEPTH], ([3, 5100, 2], "."))


@unittest.skipIf(ON_WINE, "symbolic links are host links that Wine presents its own way")
class SymbolicLinkTest(TreeTest):
    def test_links_count_as_files_of_their_own_size(self):
        self.file("src/b.c", 5000)
        os.symlink("src", self.path("to_dir"))
        os.symlink("missing", self.path("dangling"))
        os.symlink(".", self.path("src", "loop"))
        result = self.space("-fb", "-c0", timeout=60)  # a followed loop would not end
        self.assertEqual((result.status, result.stderr), (0, ""))
        rows = {text: numbers for numbers, text in result.usage_rows(2)}
        self.assertEqual(set(rows), {"./src/b.c", "./src/loop", "./src/", "./to_dir", "./dangling",
                                     ".", "free"})
        self.assertEqual(rows["./to_dir"], [3, 3])
        self.assertEqual(rows["./dangling"], [7, 7])
        self.assertEqual(rows["./src/"], [5001, 5001])
        self.assertEqual(rows["."], [5011, 5011])


class NameTest(TreeTest):
    """Names are printed byte for byte, whatever they hold."""

    def assertPrintedAsNamed(self, files):
        """Each of `files` (each alone in its directory, if any) gets a file
        row and its directory a row under the same name."""
        for name, size in files.items():
            self.file(name, size)
        result = self.space("-fb", "-c4096")
        rows = {text: numbers for numbers, text in result.usage_rows(2)}
        for name, size in files.items():
            expected = [clusters(size, CLUSTER), size]
            self.assertEqual(rows["./" + name], expected, name)
            if os.path.dirname(name):
                self.assertEqual(rows["./" + os.path.dirname(name) + "/"], expected, name)

    def test_names_with_blanks_and_dashes(self):
        self.assertPrintedAsNamed({"a dir/x y.txt": 100, " lead/trail ": 1, "-b": 5000})

    @unittest.skipIf(ON_WINE, "backslash and colon cannot appear in a Win32 name")
    def test_backslash_and_colon_are_ordinary_name_bytes(self):
        self.assertPrintedAsNamed({"back\\slash/f\\g": 100, "c:x/h:i": 5000})

    @unittest.skipIf(ON_WINE, "backslash and colon cannot appear in a Win32 name")
    def test_start_paths_with_backslash_and_colon(self):
        self.file("c:x/h:i", 5000)
        self.file("a\\b/f", 1)
        for args, first, total in (((r"a\b",), r"a\b/f", r"a\b"),
                                   (("c:x",), "c:x/h:i", "c:x"),
                                   (("-p", "c:x"), "./h:i", ".")):
            with self.subTest(args=args):
                result = self.space("-f", "-c4096", *args)
                self.assertEqual((result.status, result.stderr), (0, ""))
                rows = result.usage_rows(1)
                self.assertEqual([text for _, text in rows], [first, total, "free"])


if __name__ == "__main__":
    unittest.main()
