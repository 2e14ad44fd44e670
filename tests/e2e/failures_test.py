"""What cannot be read or written is reported, and the run goes on where it
can; the exit status is then 2."""
import errno
import os
import shutil
import unittest

from harness import ON_WINE, TreeTest, host_path

UNPRIVILEGED = ("setpriv", "--reuid=65534", "--regid=65534", "--clear-groups")


@unittest.skipIf(ON_WINE, "permissions are enforced by the host, not by Wine")
@unittest.skipUnless(hasattr(os, "geteuid") and os.geteuid() == 0 and shutil.which("setpriv"),
                     "needs root and setpriv to run space as an unprivileged user")
class PermissionTest(TreeTest):
    """space runs as nobody on a tree it may read, except where a test locks
    a directory."""

    def setUp(self):
        super().setUp()
        self.file("a", 5000)
        self.file("locked/inner/f", 100)
        self.file("open/g", 1)
        for directory, _, files in os.walk(self.root):
            os.chmod(directory, 0o755)
            for name in files:
                os.chmod(os.path.join(directory, name), 0o644)

    def lock(self, relative, mode=0o000):
        os.chmod(self.path(relative), mode)

    def space_unprivileged(self, *args):
        return self.space(*args, prefix=UNPRIVILEGED)

    def test_unreadable_directory_gets_a_row_of_zeros(self):
        self.lock("locked")
        for flags, row in (("-bn", "./locked"), ("-fbn", "./locked/")):
            with self.subTest(flags=flags):
                result = self.space_unprivileged(flags, "-c4096")
                rows = result.usage_rows(3)
                self.assertIn(([0, 0, 0], row), rows)
                self.assertEqual(rows[-2], ([3, 5001, 2], "."))
                self.assertEqual(rows[-1][1], "free")
                self.assertFailed(result, ("cannot read directory './locked'", errno.EACCES))

    def test_unreadable_start_directory_is_named_as_typed(self):
        self.lock("locked")
        for typed in ("locked", "locked/"):
            with self.subTest(typed=typed):
                result = self.space_unprivileged("-b", "-c4096", typed)
                self.assertEqual(result.rows()[0], "4096 bytes per cluster")
                rows = result.usage_rows(2)
                self.assertEqual([text for _, text in rows], [typed, "free"])
                self.assertEqual(rows[0][0], [0, 0])
                self.assertFailed(result, ("cannot read directory '%s'" % typed, errno.EACCES))

    def test_directory_listed_but_not_searchable(self):
        # Its names can be read, but neither its files nor its directories
        # examined: each is reported, and nothing in it counts.
        self.lock("locked", 0o444)
        result = self.space_unprivileged("-bn", "-c4096")
        rows = result.usage_rows(3)
        self.assertIn(([0, 0, 0], "./locked"), rows)
        self.assertEqual(rows[-2], ([3, 5001, 2], "."))
        self.assertFailed(result, ("cannot read directory './locked/inner'", errno.EACCES))

        self.file("listed/h", 1)
        self.lock("listed", 0o444)
        result = self.space_unprivileged("-bn", "-c4096", "listed")
        self.assertEqual(result.usage_rows(3)[0], ([0, 0, 0], "listed"))
        self.assertFailed(result, ("cannot read file 'listed/h'", errno.EACCES))

    def test_p_into_a_directory_that_cannot_be_entered(self):
        self.lock("locked")
        result = self.space_unprivileged("-p", "locked")
        self.assertEqual(result.stdout, "")
        self.assertFailed(result, ("cannot enter directory 'locked'", errno.EACCES))


class MissingPathTest(TreeTest):
    def test_start_path_that_does_not_exist(self):
        result = self.space("-c4096", "missing")
        # The drive is not the problem, so only the walk fails.
        self.assertEqual(result.rows()[0], "4096 bytes per cluster")
        self.assertEqual([text for _, text in result.usage_rows(1)], ["missing", "free"])
        self.assertFailed(result, ("cannot read directory 'missing'", errno.ENOENT))

    def test_p_into_what_is_no_directory(self):
        self.file("plain", 1)
        for path, error in (("missing", errno.ENOENT), ("plain", errno.ENOTDIR)):
            with self.subTest(path=path):
                result = self.space("-p", host_path(path))
                self.assertEqual(result.stdout, "")
                self.assertFailed(result, ("cannot enter directory '%s'" % path, error))


@unittest.skipUnless(os.path.exists("/dev/full") and not ON_WINE, "needs the host's /dev/full")
class WriteFailureTest(TreeTest):
    def run_into_full_device(self, *args):
        with open("/dev/full", "wb") as full:
            return self.space(*args, stdout=full)

    def test_report_that_cannot_be_written(self):
        # With -f more rows than one buffer of output holds.
        for number in range(300):
            self.file("%03d" % number + "x" * 240)
        for args in (("-c4096",), ("-f", "-c4096")):
            with self.subTest(args=args):
                result = self.run_into_full_device(*args)
                self.assertFailed(result, ("write error", errno.ENOSPC))

    def test_help_that_cannot_be_written(self):
        result = self.run_into_full_device("-?")
        self.assertFailed(result, ("write error", errno.ENOSPC))


if __name__ == "__main__":
    unittest.main()
