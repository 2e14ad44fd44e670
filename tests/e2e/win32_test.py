"""What only the Win32 build does, checked under Wine on the raw bytes it
writes. Wine maps drive Z: to the host's "/" and C: to the prefix's drive_c;
a spare letter is mapped to a directory of the test's own."""
import os
import re
import subprocess
import tempfile
import unittest

from harness import (ON_WINE, SPACE_EXE, SPACE_WINE, Result, free_bytes, host_path, make_file, make_locale, remove_tree,
                     run, run_checking_free)

DOSDEVICES = os.path.join(os.environ.get("WINEPREFIX", os.path.expanduser("~/.wine")), "dosdevices")


def spare_drive(letters):
    return next(letter for letter in letters if not os.path.lexists(os.path.join(DOSDEVICES, letter.lower() + ":")))


def rows(*rows, cluster_size=4096):
    """The report's bytes before its free row: clusters, bytes, files, text."""
    return (b"%d bytes per cluster\r\n" % cluster_size if cluster_size else b"") + b"".join(
        b"%10d %10d %6d   %s\r\n" % row for row in rows)


@unittest.skipUnless(ON_WINE, "needs the Win32 build under Wine")
class Win32Test(unittest.TestCase):
    def setUp(self):
        self.root, self.drive_root = tempfile.mkdtemp(prefix="space-e2e-"), tempfile.mkdtemp(prefix="space-e2e-")
        self.c_dir = tempfile.mkdtemp(prefix="space-e2e-", dir=os.path.join(DOSDEVICES, "c:"))
        self.letter = spare_drive("AYXWVUTS")
        os.symlink(self.drive_root, os.path.join(DOSDEVICES, self.letter.lower() + ":"))
        self.addCleanup(os.unlink, os.path.join(DOSDEVICES, self.letter.lower() + ":"))
        for path in (self.root, self.drive_root, self.c_dir):
            self.addCleanup(remove_tree, path)
        for path, size in (("a b/f", 3), ("d/e/g", 5), ("z/z.txt", 7)):
            make_file(os.path.join(self.root, path), size)
        make_file(os.path.join(self.drive_root, "in", "deeper", "c.txt"), 100)
        make_file(os.path.join(self.c_dir, "in", "c.txt"), 100)

    def test_drives_paths_and_command_lines(self):
        L, d, one, fs = self.letter, self.letter.encode() + b":", (1, 100, 1), os.statvfs(self.drive_root).f_frsize
        shell = "cmd /c cd /d %s:\\%%s & {space} %%s" % L
        for command, cwd, expected in (
                # Nothing recorded for the drive yet: its root, which -p enters.
                (("-bn", "-c4096", L + ":"), "", rows(one + (d + b"in\\deeper",), one + (d + b"in",), one + (d,))),
                (("-pbn", "-c4096", L + ":"), "", rows(one + (b".\\in\\deeper",), one + (b".\\in",), one + (b".",))),
                # This and another drive's current directory; one gone gives the root.
                (shell % ("in", "-bn -c4096 %s:" % L), "", rows(one + (d + b"deeper",), one + (d,))),
                (shell % ("in & C:", "-pbn -c4096 %s:" % L), "", rows(one + (b".\\deeper",), one + (b".",))),
                ("cmd /c md %s:\\gone & " % L + shell[7:] % ("gone & C: & rd %s:\\gone" % L, "-pbn -c4096 %s:" % L),
                 "", rows(one + (b".\\in\\deeper",), one + (b".\\in",), one + (b".",))),
                # A drive without a disk counts bytes; -p onto C: and back.
                (("-bn", "-c" + spare_drive("QRSTUVWX").lower(), "z"), "", rows((7, 7, 1, b"z"), cluster_size=0)),
                (("-pbn", "-c4096", "C:\\" + os.path.basename(self.c_dir)), "", rows(one + (b".\\in",), one + (b".",))),
                (("-pbn", "-c4096", host_path(self.root + "/z")), self.c_dir, rows((1, 7, 1, b"."))),
                # The drive whose clusters -c names.
                (("-bn", "-cz"), "z", rows((1, 7, 1, b"."), cluster_size=os.statvfs("/").f_frsize)),
                (("-bn", "-cZ"), "z", rows((1, 7, 1, b"."), cluster_size=os.statvfs("/").f_frsize)),
                (("-bn", "-c@"), "z", rows((1, 7, 1, b"."), cluster_size=os.statvfs("/").f_frsize)),
                (("-bn", "-c" + L.lower()), "z", rows((1, 7, 1, b"."), cluster_size=fs)),
                # Words, quotes and backslashes as Win32 splits them.
                (("-bn", "-c0", "a b"), "", rows((3, 3, 1, b"a b"), cluster_size=0)),
                (("-bn", "-c0", "d\\e"), "", rows((5, 5, 1, b"d\\e"), cluster_size=0))):
            with self.subTest(command=command):
                if isinstance(command, str):  # in Wine's command shell
                    result = Result(subprocess.run([SPACE_WINE] + command.format(space=host_path(SPACE_EXE)).split(
                        " ", 2), cwd=self.root, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=600))
                else:
                    result = run(command, cwd=os.path.join(self.root, cwd))
                self.assertEqual((result.status, result.raw_stderr), (0, b""))
                self.assertEqual(result.raw_stdout[:len(expected)], expected)
                self.assertRegex(result.raw_stdout[len(expected):], rb"\A *\d+ +\d+ {10}free\r\n\Z")
        # Wildcards and quotes inside an argument stay; a drive without a disk.
        nowhere = spare_drive("QRSTUVWX") + ":\\x"
        for args, what in ((["*"], "cannot read directory"), (['x"y'], "cannot read directory"),
                           (["missing"], "cannot read directory"), ([nowhere], "cannot query drive of"),
                           (["-p", nowhere], "cannot enter directory")):
            result = run(["-c0"] + args, cwd=self.root)
            self.assertEqual(result.status, 2)
            self.assertRegex(result.raw_stderr, rb"\Aspace: %s '%s': [^\r\n]*[^.\r\n]\r\n\Z"
                             % (what.encode(), re.escape(args[-1].encode())))
        if free_bytes("/") > 1 << 32:  # beyond what 32 bits of a drive query hold
            run_checking_free(self, "/", ["-b"], "b", os.statvfs("/").f_frsize, cwd=self.root)

    def test_start_paths_read_in_the_ansi_code_page(self):
        # A "\\" that trails a double-byte character ends no path.
        make_locale(self.root, "ja_JP.UTF-8", "UTF-8")
        for locale, name, typed, row in (("C.UTF-8", "caf\u00e9", "caf\u00e9\\", b"caf\xe9\\sub"),
                                         ("ja_JP.UTF-8", "\u8868", "\u8868", b"\x95\\\\sub")):  # 0x95 0x5C
            with self.subTest(locale=locale):
                make_file(os.path.join(self.root, name, "sub", "f"), 1)
                result = run(["-bn", "-c0", typed], cwd=self.root, env={"LC_ALL": locale, "LOCPATH": self.root})
                self.assertIn(b"%10d %10d %6d   %s\r\n" % (1, 1, 1, row), result.raw_stdout)

    def test_names_and_links(self):
        parts = ["d%02d" % i + "x" * 30 for i in range(9)]  # beyond 260 characters
        for name, size in ((os.path.join(*parts, "deep.txt"), 1000), ("end./in/f", 5),  # a Win32 path drops the dot
                           ("\u041f\u0440\u0438/x", 5), ("\U0001F600", 1),  # outside the ANSI code page
                           ("\uff0e\uff0e/y", 7)):  # a look-alike conversion would make it ".."
            make_file(os.path.join(self.c_dir, name), size)
        os.symlink("..", os.path.join(self.c_dir, "end.", "loop"))  # counted as an entry, not entered
        result = run(["-bn", "-c0"], cwd=self.c_dir)
        self.assertEqual((result.status, result.stderr), (0, ""))
        deep = b".\\" + b"\\".join(p.encode() for p in parts)
        self.assertIn(b"%10d %10d %6d   %s\r\n" % (1000, 1000, 1, deep), result.raw_stdout)
        self.assertIn(b"%10d %10d %6d   .\\end.\\in\r\n" % (5, 5, 1), result.raw_stdout)
        self.assertIn("         7          7      1   ./", result.stdout)
        self.assertNotIn("   ./..\n", result.stdout)
        count, size, files = (int(n) for n in result.stdout.splitlines()[-2].split()[:3])
        self.assertEqual((count, files), (size, 7))
        self.assertTrue(1018 + 100 <= size < 2018 + 100, size)  # the link's own size, never what it leads to


if __name__ == "__main__":
    unittest.main()
