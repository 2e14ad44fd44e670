"""The whole report on generated trees, through a list of option sets: every
line as the model in harness.report gives it, in the order of the walk."""
import os
import tempfile
import unittest

from harness import ON_WINE, check_report, host_path, make_file, normalise, remove_tree, run_checking_free

GIB = 1 << 30
TREES = {
    "plain": {"top.txt": 5000, ".hidden": 4097, "a/one": 4096, "a/b/two": 1, "a/b/c/three": 0,
              "a/b/c/.dot/four": 9000, "z/five": 100, "a dir/x y.txt": 100, " lead/trail ": 1, "-b": 5000},
    "large": {"four": 4 * GIB, "over4": 4 * GIB + 100, "sub/five": 5 * GIB},
}
# Bytes no Win32 name holds, and links, counted as files and never followed.
POSIX_NAMES = {b"back\\slash/f\\g": 100, b"c:x/h:i": 5000, b"new\nline": 3, b"bad\xff\xfeutf8\xc3(": 4,
               b"\x01\x1b[31m/" + b"n" * 255: 6}
LINKS = {"loop": "loop", "to_a": "a", "dangling": "missing", "a/b/up": ".."}
FS = "the file system's"
ROOT = "the tree's absolute path"

KMAX = 4294967295
OPTION_SETS = [
    # (arguments, environment, the option letters then on, counting cluster size)
    ((), {}, "", FS), (("-bn", "-c4096"), {}, "bn", 4096), (("-fsbgnC", "-c4096"), {}, "fsbgnC", 4096),
    # Clusters of 4295 bytes or more narrow the clusters column.
    (("-hfsbgn", "-c8192"), {}, "hfsbgn", 8192), (("-hnC", "-c4295"), {}, "hnC", 4295),
    (("-hbnC", "-c4294"), {}, "hbnC", 4294), (("-fsbg", "-c3"), {}, "fsbg", 3), (("-tbn", "-c4096"), {}, "tbn", 4096),
    (("-sbg", "-c4294967295"), {}, "sbg", KMAX), (("-tfbn", "-c4096"), {}, "tfbn", 4096),
    # Letters toggle across arguments; other bytes of an option are passed over.
    (("-bb", "-n", "-b-s-t", "-b"), {}, "nst", FS), (("-xyzB9", "- \t", "-", "-hX"), {}, "h", FS),
    (("-s a",), {}, "s", FS),
    # Bytes, unless allocated or gap want clusters, to which an explicit 0 yields.
    (("-hfbn", "-c0"), {}, "hfbn", 0), (("-c0", "-hgnC"), {}, "hgnC", FS), (("-c0s",), {}, "s", FS),
    (("-gc0",), {}, "g", FS), (("-c0ss",), {}, "", 0), (("-c512s",), {}, "s", 512), (("-c0", "-s", "-s"), {}, "", FS),
    # The current drive; no such drive counts bytes; -c# the start's; -k -c1024.
    (("-c@", "-b"), {}, "b", FS), (("-c.",), {}, "", FS), (("-cQ",), {}, "", 0), (("-cqn",), {}, "n", 0),
    (("-c4096", "-c#"), {}, "", FS), (("-c#s",), {}, "s", FS), (("-c8192", "-k"), {}, "", 1024),
    (("-kk",), {}, "", 1024), (("-c512k",), {}, "", 1024), (("-kc512",), {}, "", 512),
    # Sizes as a 32-bit strtoul of base 0 reads them; letters go on after.
    (("-c0x1000",), {}, "", 4096), (("-c0X1000",), {}, "", 4096), (("-c0xb",), {}, "", 11),
    (("-c0x200b",), {}, "", 8203), (("-c0x",), {}, "", 0), (("-c010",), {}, "", 8), (("-c08192",), {}, "", 0),
    (("-c12ab",), {}, "b", 12), (("-c+12",), {}, "", 12), (("-c-1",), {}, "", KMAX), (("-c\t 512n",), {}, "n", 512),
    (("-c-4096",), {}, "", KMAX - 4095), (("-c-0x10",), {}, "", KMAX - 15), (("-c4294967296",), {}, "", KMAX),
    (("-c-99999999999",), {}, "", KMAX), (("-c",), {}, "", 0), (("-c-b",), {}, "b", 0), (("-c+n",), {}, "n", 0),
    (("-c b",), {}, "b", 0),
    # The variable named after the program, in any case, comes first, as one argument.
    (("-b", "-c4096"), {"Space": "-bn"}, "n", 4096), ((), {"space": "-fc0x1000"}, "f", 4096),
    ((), {"SPACE": "-c 512"}, "", 512), (("-b",), {"SPACE": "a"}, "b", FS),
    # Rows named after the last start path as typed, or "." after -p.
    (("-fb", "-c4096", "z", "a/"), {}, "fb", 4096), (("-b", "-c4096", "./a"), {}, "b", 4096),
    (("-pfb", "-c4096", "a"), {}, "pfb", 4096), (("a", "-pb"), {}, "pb", FS), (("-f", "-c4096", ROOT), {}, "f", 4096),
]


class ReportTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="space-e2e-")
        cls.addClassCleanup(remove_tree, cls.root)
        for tree, files in TREES.items():
            for name, size in files.items():
                make_file(os.path.join(cls.root, tree, name), size)
            os.makedirs(os.path.join(cls.root, tree, "a", "empty"))
        if not ON_WINE:
            for name, size in POSIX_NAMES.items():
                make_file(os.path.join(os.fsencode(cls.root), b"plain", name), size)
            for link, target in LINKS.items():
                os.symlink(target, os.path.join(cls.root, "plain", link))

    def check(self, cwd, args, env, flags, cluster_size):
        cluster_size = os.statvfs(cwd).f_frsize if cluster_size == FS else cluster_size
        args = [cwd if arg == ROOT else arg for arg in args]
        paths = [word for word in [env[k] for k in env if k.upper() == "SPACE"] + args if not word.startswith("-")]
        start = paths[-1] if paths else "."
        result = run_checking_free(self, cwd, [host_path(arg) for arg in args], flags, cluster_size, cwd=cwd, env=env)
        self.assertEqual((result.status, result.stderr), (0, ""))
        printed = "." if "p" in flags else normalise(host_path(start).encode())
        check_report(self, result, os.path.join(cwd, start), printed, flags, cluster_size)

    def test_option_sets_on_each_tree(self):
        for tree in TREES:
            for args, env, flags, cluster_size in OPTION_SETS:
                with self.subTest(tree=tree, args=args, env=env):
                    self.check(os.path.join(self.root, tree), args, env, flags, cluster_size)


if __name__ == "__main__":
    unittest.main()
