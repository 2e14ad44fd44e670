"""What only the Win32 build does, run under Wine: drive letters and their
current directories, backslash rows and "\\r\\n" line ends, long paths, names
outside the ANSI code page, directory links, the command line as Win32
passes it, and the help's code page 932 bytes. Wine maps drive Z: to the
host's "/" and C: to the prefix's drive_c; a test maps a spare drive letter
to a directory of its own through the prefix's dosdevices."""
import os
import re
import subprocess
import tempfile
import unittest

from harness import (ON_WINE, SPACE_EXE, SPACE_WINE, Result, TreeTest, free_bytes, host_path, make_file,
                     remove_tree)
from options_test import help_text

WINEPREFIX = os.environ.get("WINEPREFIX", os.path.expanduser("~/.wine"))
DOSDEVICES = os.path.join(WINEPREFIX, "dosdevices")


def spare_drive(letters):
    """The first of `letters` that no drive of the prefix uses."""
    return next(letter for letter in letters if not os.path.lexists(os.path.join(DOSDEVICES, letter + ":")))


def row(numbers, text):
    """A usage row as the tool writes it: columns of width 10 (clusters,
    bytes) and 6 (files), three blanks, the text and "\\r\\n"."""
    widths = (10, 10, 6)
    columns = " ".join(str(n).rjust(w) for n, w in zip(numbers, widths))
    return columns.encode() + b"   " + text + b"\r\n"


FREE_ROW = re.compile(rb" *\d+ +\d+ {10}free\r\n")


@unittest.skipUnless(ON_WINE, "needs the Win32 build under Wine")
class Win32Test(TreeTest):
    """Checks on the raw bytes that the Win32 build writes."""

    def assertReport(self, result, rows, cluster_line=b"4096 bytes per cluster\r\n"):
        """`result` succeeded and printed exactly `rows` between the cluster
        size line and the free row."""
        self.assertEqual((result.status, result.raw_stderr), (0, b""))
        expected = cluster_line + b"".join(rows)
        self.assertEqual(result.raw_stdout[:len(expected)], expected)
        self.assertRegex(result.raw_stdout[len(expected):], FREE_ROW)


class DrivePathTest(Win32Test):
    """Start paths on drive letters, printed as typed with "\\" appended."""

    def setUp(self):
        super().setUp()
        self.file("src/deeper/c.txt", 100)

    def test_absolute_drive_path(self):
        result = self.space("-fbn", "-c4096", host_path(self.root))
        root = host_path(self.root).encode()
        self.assertReport(result, [row((1, 100, 1), root + b"\\src\\deeper\\c.txt"),
                                   row((1, 100, 1), root + b"\\src\\deeper\\"),
                                   row((1, 100, 1), root + b"\\src\\"),
                                   row((1, 100, 1), root)])

    def test_path_ending_in_slash_is_used_as_typed(self):
        result = self.space("-bn", "-c4096", "src/")
        self.assertReport(result, [row((1, 100, 1), b"src/deeper"), row((1, 100, 1), b"src/")])


class OtherDriveTest(Win32Test):
    """A spare drive letter mapped to a directory of its own, so that even its
    root is a small tree."""

    def setUp(self):
        super().setUp()
        self.letter = spare_drive("YXWVUTS")
        self.drive_root = tempfile.mkdtemp(prefix="space-e2e-drive-")
        self.addCleanup(remove_tree, self.drive_root)
        link = os.path.join(DOSDEVICES, self.letter.lower() + ":")
        os.symlink(self.drive_root, link)
        self.addCleanup(os.unlink, link)
        make_file(os.path.join(self.drive_root, "in", "deeper", "c.txt"), 100)
        self.file("here.txt", 7)

    def shell(self, script):
        """Runs `script` in Wine's command shell, the tool named "{space}"."""
        script = script.format(space=host_path(SPACE_EXE))
        return subprocess.run([SPACE_WINE, "cmd", "/c", script], cwd=self.root, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, timeout=600)

    def test_drive_alone_is_its_current_directory_or_else_its_root(self):
        drive = self.letter.encode() + b":"
        # Nothing recorded for the drive yet: its root.
        result = self.space("-bn", "-c4096", self.letter + ":")
        self.assertReport(result, [row((1, 100, 1), drive + b"in\\deeper"), row((1, 100, 1), drive + b"in"),
                                   row((1, 100, 1), drive)])
        result = self.space("-pbn", "-c4096", self.letter + ":")
        self.assertReport(result, [row((1, 100, 1), b".\\in\\deeper"), row((1, 100, 1), b".\\in"),
                                   row((1, 100, 1), b".")])
        # The current drive: its current directory.
        proc = self.shell("cd /d %s:\\in & {space} -bn -c4096 %s:" % (self.letter, self.letter))
        self.assertReport(Result(proc), [row((1, 100, 1), drive + b"deeper"), row((1, 100, 1), drive)])
        # Another drive: the directory the shell left on it, which -p enters.
        proc = self.shell("cd /d %s:\\in & C: & cd & {space} -pbn -c4096 %s:" % (self.letter, self.letter))
        shell_cwd, proc.stdout = proc.stdout.split(b"\r\n", 1)
        self.assertTrue(shell_cwd.startswith(b"C:\\"), shell_cwd)
        self.assertReport(Result(proc), [row((1, 100, 1), b".\\deeper"), row((1, 100, 1), b".")])
        # A recorded directory that is gone: the root.
        os.mkdir(os.path.join(self.drive_root, "gone"))
        proc = self.shell("cd /d %s:\\gone & C: & rd %s:\\gone & {space} -pbn -c4096 %s:" % ((self.letter,) * 3))
        self.assertReport(Result(proc), [row((1, 100, 1), b".\\in\\deeper"), row((1, 100, 1), b".\\in"),
                                         row((1, 100, 1), b".")])

    def test_cluster_size_of_a_named_or_the_current_drive(self):
        figures = {}
        for option in ("", "-cz", "-cZ", "-c@", "-c.", "-c" + self.letter.lower()):
            with self.subTest(option=option):
                result = self.space("-bn", *([option] if option else []))
                self.assertEqual((result.status, result.stderr), (0, ""))
                match = re.fullmatch(r"(\d+) bytes per cluster", result.rows()[0])
                self.assertTrue(match, result.rows()[0])
                figures[option] = int(match.group(1))
        # The tree lies on Z:, which is the host's "/".
        self.assertEqual(figures[""], os.statvfs("/").f_frsize)
        for option in ("-cz", "-cZ", "-c@", "-c."):
            self.assertEqual(figures[option], figures[""], option)
        self.assertEqual(figures["-c" + self.letter.lower()], os.statvfs(self.drive_root).f_frsize)

    def test_drive_without_a_disk_counts_bytes(self):
        result = self.space("-bn", "-c" + spare_drive("QRSTUVWX").lower())
        self.assertEqual((result.status, result.stderr), (0, ""))
        self.assertEqual(result.usage_rows(3)[-2], ([7, 7, 1], "."))

    def test_free_space_beyond_32_bits(self):
        before = free_bytes("/")
        if before < 1 << 32:
            self.skipTest("the host's / has less than 4 GiB free")
        result = self.space("-b")
        after = free_bytes("/")
        self.assertEqual((result.status, result.stderr), (0, ""))
        numbers, text = result.usage_rows(2)[-1]
        self.assertEqual(text, "free")
        self.assertFreeBytes(numbers[1], (min(before, after), max(before, after)))


class CrossDriveTest(Win32Test):
    """-p from drive Z: onto drive C: and back."""

    def setUp(self):
        super().setUp()
        self.c_dir = tempfile.mkdtemp(prefix="space-e2e-", dir=os.path.join(WINEPREFIX, "drive_c"))
        self.addCleanup(remove_tree, self.c_dir)
        make_file(os.path.join(self.c_dir, "in", "c.txt"), 100)
        self.file("z.txt", 7)

    def test_p_changes_drive(self):
        c_path = "C:\\" + os.path.basename(self.c_dir)
        result = self.space("-pbn", "-c4096", c_path)
        self.assertReport(result, [row((1, 100, 1), b".\\in"), row((1, 100, 1), b".")])
        # From a directory that Wine shows on C: back to the tree on Z:.
        result = self.space("-pbn", "-c4096", host_path(self.root), cwd=os.path.join(self.c_dir, "in"))
        self.assertReport(result, [row((1, 7, 1), b".")])


class NamesTest(Win32Test):
    def test_path_beyond_260_characters(self):
        parts = ["d%02d" % i + "x" * 30 for i in range(9)]
        self.file(os.path.join(*parts, "deep.txt"), 1000)
        result = self.space("-fbn", "-c0")
        deep = b".\\" + b"\\".join(p.encode() for p in parts)
        self.assertGreater(len(deep), 260)
        expected = [row((1000, 1000, 1), deep + b"\\deep.txt")]
        for depth in range(len(parts), 0, -1):
            expected.append(row((1000, 1000, 1), b".\\" + b"\\".join(p.encode() for p in parts[:depth]) + b"\\"))
        expected.append(row((1000, 1000, 1), b"."))
        self.assertReport(result, expected, cluster_line=b"")

    def test_names_outside_the_ansi_code_page_are_counted(self):
        self.file("\u041f\u0440\u0438/x", 5)      # Cyrillic directory
        self.file("\U0001F600", 1)                 # emoji, outside the 16-bit range
        # Fullwidth full stops: a look-alike conversion would make them "." and
        # "..", which the walk passes over.
        self.file("\uff0e", 3)
        self.file("\uff0e\uff0e/y", 7)
        result = self.space("-bn", "-c0")
        self.assertEqual((result.status, result.stderr), (0, ""))
        rows = result.usage_rows(3)
        self.assertEqual(sorted(numbers for numbers, _ in rows[:-2]), [[5, 5, 1], [7, 7, 1]])
        self.assertEqual(rows[-2], ([16, 16, 4], "."))
        for _, text in rows[:-2]:
            self.assertNotIn(text, ("./.", "./.."))

    def test_name_ending_in_a_dot(self):
        # A Win32 path would lose the dot and name another directory.
        self.file("end./in/f", 5)
        result = self.space("-bn", "-c0")
        self.assertReport(result, [row((5, 5, 1), b".\\end.\\in"), row((5, 5, 1), b".\\end."),
                                   row((5, 5, 1), b".")], cluster_line=b"")


class LinkTest(Win32Test):
    def test_directory_links_are_counted_as_entries_not_entered(self):
        self.file("sub/file", 10)
        os.symlink("..", self.path("sub", "loop"))
        outside = tempfile.mkdtemp(prefix="space-e2e-outside-")
        self.addCleanup(remove_tree, outside)
        make_file(os.path.join(outside, "big"), 1000)
        os.symlink(outside, self.path("out"))
        result = self.space("-fbn", "-c0")
        self.assertEqual((result.status, result.stderr), (0, ""))
        rows = dict((text, numbers) for numbers, text in result.usage_rows(3)[:-1])
        self.assertEqual(sorted(rows), [".", "./out", "./sub/", "./sub/file", "./sub/loop"])
        links = rows["./out"][1] + rows["./sub/loop"][1]
        self.assertEqual(rows["./sub/"], [10 + rows["./sub/loop"][1]] * 2 + [2])
        self.assertEqual(rows["."], [10 + links] * 2 + [3])
        self.assertLess(links, 1000)


class CommandLineTest(Win32Test):
    """Arguments reach the tool as the Win32 command line, which it splits
    itself."""

    def test_words_quotes_and_backslashes(self):
        self.file("a b/f", 3)
        self.file("d/e/g", 5)
        result = self.space("-bn", "-c0", "a b")
        self.assertReport(result, [row((3, 3, 1), b"a b")], cluster_line=b"")
        result = self.space("-bn", "-c0", "d\\e")
        self.assertReport(result, [row((5, 5, 1), b"d\\e")], cluster_line=b"")
        # Neither a wildcard nor a quote inside an argument is taken apart.
        for argument in ("*", 'x"y'):
            with self.subTest(argument=argument):
                result = self.space("-c0", argument)
                self.assertEqual(result.status, 2)
                self.assertTrue(result.raw_stderr.startswith(
                    b"space: cannot read directory '%s': " % argument.encode()), result.raw_stderr)

    def test_error_reason_is_the_systems_text_on_one_line(self):
        result = self.space("missing")
        self.assertEqual(result.status, 2)
        match = re.fullmatch(rb"space: cannot read directory 'missing': ([^\r\n]+)\r\n", result.raw_stderr)
        self.assertTrue(match, result.raw_stderr)
        self.assertFalse(match.group(1).endswith(b"."))

    def test_help_is_code_page_932_bytes(self):
        result = self.space("-?")
        self.assertEqual(result.raw_stdout, help_text().replace("\n", "\r\n").encode("cp932"))
        self.assertEqual((result.status, result.stderr), (1, ""))


if __name__ == "__main__":
    unittest.main()
