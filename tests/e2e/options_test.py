"""Options: the environment variable, the command line, the help and the
cluster size forms."""
import os
import shutil
import tempfile
import unittest

from harness import ON_WINE, TreeTest, clusters, host_path, remove_tree, run

HELP_LINES = [
    "{name} v1.10",
    "  Usage: {name} [-bCfghnpst] [-c[#.@<drive><size>]] [<pathname>]",
    "  Options:",
    "    -b    バイト単位での表示を追加",
    "    -C    数値をカンマ編集して表示",
    "    -f    ファイルも含めて表示",
    "    -g    クラスタギャップサイズの表示",
    "    -h    見出しを付ける",
    "    -n    ファイル数の表示",
    "    -p    <pathname>に移動してから表示",
    "    -s    クラスタ数×クラスタサイズの表示",
    "    -t    ひとつ下のディレクトリまでを表示",
    "    -c    表示に用いるクラスタサイズの指定",
    "          -c#     表示ドライブのクラスタサイズ",
    "          -c.     カレントドライブのクラスタサイズ",
    "          -c@     カレントドライブのクラスタサイズ",
    "          -ca     Aドライブのクラスタサイズ",
    "          -c8192  クラスタサイズ8192バイト",
    "          -c0     バイト単位で表示",
    "          -c      バイト単位で表示",
    "    -k    -c1024と同じ",
]


def help_text(name="SPACE"):
    return "".join(line.format(name=name) + "\n" for line in HELP_LINES)


def raw_lines(result):
    return result.raw_stdout.replace(b"\r\n", b"\n")


class OptionTest(TreeTest):
    """A tree of 5001 bytes: 2 + 1 clusters of 4096 bytes."""

    def setUp(self):
        super().setUp()
        self.file("a", 5000)
        self.file("sub/f", 1)
        self.fragment = os.statvfs(self.root).f_frsize

    def total(self, result, columns):
        numbers, text = result.usage_rows(columns)[-2]
        self.assertEqual(text, ".")
        return numbers


class EnvironmentTest(OptionTest):
    """Options from the environment variable named after the executable."""

    def test_variable_name_in_any_letter_case(self):
        for name in ("SPACE", "space", "Space"):
            with self.subTest(name=name):
                result = self.space("-c4096", env={name: "-b"})
                self.assertEqual(self.total(result, 2), [3, 5001])

    def test_command_line_letter_cancels_environment_letter(self):
        result = self.space("-b", "-c4096", env={"SPACE": "-bn"})
        self.assertEqual(self.total(result, 2), [3, 2])

    def test_variable_that_is_a_path_is_the_default_start_path(self):
        result = self.space("-c4096", env={"SPACE": host_path("sub")})
        self.assertEqual([text for _, text in result.usage_rows(1)], ["sub", "free"])
        result = self.space("-c4096", ".", env={"SPACE": host_path("sub")})
        self.assertEqual([text for _, text in result.usage_rows(1)], ["./sub", ".", "free"])

    def test_variable_is_one_argument_with_its_blanks(self):
        result = self.space(env={"SPACE": "-c 512"})
        self.assertEqual(result.rows()[0], "512 bytes per cluster")
        # On the command line the same words are a bare -c and a path.
        self.dir("512")
        result = self.space("-c", "512")
        self.assertEqual(result.usage_rows(1)[-2], ([0], "512"))
        self.assertNotIn("bytes per cluster", result.stdout)

    def test_variable_is_named_after_the_executable(self):
        name = "Mytool.exe" if ON_WINE else "Mytool"
        elsewhere = tempfile.mkdtemp(prefix="space-e2e-tool-")
        self.addCleanup(remove_tree, elsewhere)
        tool = os.path.join(elsewhere, name)
        shutil.copy(os.environ["SPACE_EXE"], tool)
        result = run(["-c4096"], cwd=self.root, exe=tool, env={"MYTOOL": "-b", "SPACE": "-n"})
        self.assertEqual(result.usage_rows(2)[-2], ([3, 5001], "."))
        result = run(["-?"], cwd=self.root, exe=tool, env={"LC_ALL": "C"})
        self.assertEqual(raw_lines(result), help_text("MYTOOL").encode("cp932"))


class HelpTest(OptionTest):
    """-? prints the help and ends the run with status 1."""

    def test_help_in_code_page_932(self):
        result = self.space("-?", env={"LC_ALL": "C"})
        self.assertEqual(raw_lines(result), help_text().encode("cp932"))
        self.assertEqual((result.status, result.stderr), (1, ""))

    @unittest.skipIf(ON_WINE, "the Win32 build writes the help in code page 932 whatever the locale")
    def test_help_in_a_utf8_locale(self):
        result = self.space("-?", env={"LC_ALL": "C.UTF-8"})
        self.assertEqual(raw_lines(result), help_text().encode("utf-8"))
        self.assertEqual((result.status, result.stderr), (1, ""))

    def test_help_ends_parsing(self):
        expected = help_text().encode("cp932")
        for args, env in ((("-b?",), {}), (("-p", "missing"), {"SPACE": "-?"}),
                          (("-?", "-p", "missing"), {})):
            with self.subTest(args=args, env=env):
                result = self.space(*args, env=dict(env, LC_ALL="C"))
                self.assertEqual(raw_lines(result), expected)
                self.assertEqual((result.status, result.stderr), (1, ""))


class StartPathOptionTest(OptionTest):
    def test_p_measures_the_start_path_as_dot(self):
        self.file("sub/x/g", 5000)
        result = self.space("-fb", "-c4096", "-p", host_path("sub"))
        rows = result.usage_rows(2)
        self.assertEqual(sorted(text for _, text in rows[:-2]), ["./f", "./x/", "./x/g"])
        self.assertEqual(rows[-2], ([3, 5001], "."))
        self.assertEqual((result.status, result.stderr), (0, ""))


class ClusterSizeOptionTest(OptionTest):
    """-c forms and -k choose the counting cluster size."""

    def assertCountedIn(self, args, cluster_size, columns=1):
        result = self.space(*args)
        line = "%d bytes per cluster" % cluster_size
        self.assertEqual(result.rows()[0] == line, cluster_size != 0, result.stdout)
        expected = clusters(5000, cluster_size) + clusters(1, cluster_size)
        self.assertEqual(self.total(result, columns)[0], expected)

    def test_current_file_system_forms(self):
        for args in (("-c@",), ("-c.",), ("-c8192", "-c@")):
            with self.subTest(args=args):
                self.assertCountedIn(args, self.fragment)

    def test_drive_letter_that_cannot_be_queried_counts_bytes(self):
        self.assertCountedIn(("-ca",), 0)
        # The allocated column wants clusters: the file system's own.
        self.assertCountedIn(("-ca", "-s"), self.fragment, columns=2)

    def test_k_counts_kibibytes(self):
        for args in (("-k",), ("-kk",), ("-c8192", "-k")):
            with self.subTest(args=args):
                self.assertCountedIn(args, 1024)

    def test_number_forms(self):
        for args, cluster_size, columns in ((("-c0x1000",), 4096, 1), (("-c010",), 8, 1),
                                            (("-c08192",), 0, 1), (("-c0x200b",), 8203, 1),
                                            (("-c4096s",), 4096, 2), (("-c",), 0, 1),
                                            (("-c0",), 0, 1), (("-c4096", "-c#"), self.fragment, 1)):
            with self.subTest(args=args):
                self.assertCountedIn(args, cluster_size, columns)

    def test_zero_gives_way_to_the_file_systems_size_for_allocated_or_gap(self):
        for args, cluster_size, columns in ((("-c0", "-s"), self.fragment, 2),
                                            (("-g", "-c0"), self.fragment, 2),
                                            (("-c0s",), self.fragment, 2),
                                            (("-c0ss",), 0, 1),
                                            (("-c0", "-s", "-s"), self.fragment, 1)):
            with self.subTest(args=args):
                self.assertCountedIn(args, cluster_size, columns)


class ToggleTest(OptionTest):
    def test_letters_toggle_and_others_are_ignored(self):
        plain = self.space("-c4096").usage_rows(1)[:-1]
        for args in (("-bb",), ("-xyzB9",), ("-",), ("-b", "-b"), ("-ff",)):
            with self.subTest(args=args):
                result = self.space("-c4096", *args)
                self.assertEqual(result.usage_rows(1)[:-1], plain)
                self.assertEqual((result.status, result.stderr), (0, ""))


if __name__ == "__main__":
    unittest.main()
