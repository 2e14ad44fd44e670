"""What the option sets of the report table cannot show: the help's bytes as
the terminal gets them, and the option variable named after whatever the
executable is called."""
import os
import shutil
import subprocess
import unittest

from harness import ON_WINE, SPACE_EXE, VERSION, make_file, make_locale, run, temporary_tree

HELP_LINES = [
    "{name} v%s" % VERSION,
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


def help_bytes(name="SPACE", encoding="cp932"):
    end = "\r\n" if ON_WINE else "\n"
    return "".join(line.format(name=name) + end for line in HELP_LINES).encode(encoding)


class HelpTest(unittest.TestCase):
    def setUp(self):
        self.root = temporary_tree(self)

    def test_help_ends_the_run_with_status_1_in_the_locales_character_set(self):
        # The Win32 build writes code page 932 whatever the locale.
        cases = [(("-b?", "-p", "missing"), {"LC_ALL": "C"}, "cp932"),
                 (("-p", "missing"), {"SPACE": "-?", "LC_ALL": "C.UTF-8"}, "cp932" if ON_WINE else "utf-8")]
        if not ON_WINE and shutil.which("localedef"):
            for locale, charmap, encoding in (("ja_JP.eucJP", "EUC-JP", "euc_jp"), ("ja_JP.SJIS", "SHIFT_JIS", "cp932")):
                make_locale(self.root, locale, charmap)
                cases.append((("-?",), {"LC_ALL": locale, "LOCPATH": self.root}, encoding))
        for args, env, encoding in cases:
            with self.subTest(args=args, env=env):
                result = run(args, cwd=self.root, env=env)
                self.assertEqual((result.status, result.raw_stdout, result.stderr),
                                 (1, help_bytes(encoding=encoding), ""))

    def test_variable_help_and_messages_are_named_after_the_name_it_is_called_by(self):
        # On POSIX a link is called by its own name; without a name, the executable's.
        tool = os.path.join(self.root, "Mytoolaz.exe" if ON_WINE else "Mytoolaz")
        (shutil.copy if ON_WINE else os.symlink)(SPACE_EXE, tool)
        if not ON_WINE:
            nameless = subprocess.run(["", "-?"], executable=SPACE_EXE, stdout=subprocess.PIPE, env={"LC_ALL": "C"})
            self.assertEqual(nameless.stdout, help_bytes())
        make_file(os.path.join(self.root, "sub", "f"), 5000)
        result = run(["-c4096"], cwd=os.path.join(self.root, "sub"), exe=tool, env={"mytoolAZ": "-b", "SPACE": "-n"})
        self.assertEqual(result.stdout.splitlines()[1], "         2       5000   .")
        result = run(["-?"], cwd=self.root, exe=tool, env={"LC_ALL": "C"})
        self.assertEqual(result.raw_stdout, help_bytes("MYTOOLAZ"))
        result = run(["missing"], cwd=self.root, exe=tool)  # messages begin with the name as it is spelt
        self.assertRegex(result.stderr, r"\AMytoolaz: cannot read directory 'missing': [^\n]+\n\Z")


if __name__ == "__main__":
    unittest.main()
