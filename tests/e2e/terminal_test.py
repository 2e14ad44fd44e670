"""What a person trying the tool at a terminal meets: -p with an empty path,
totals beyond 64 bits, completion in bash, zsh and fish, and the progress
line on standard error."""
import fcntl
import os
import pty
import re
import select
import signal
import struct
import subprocess
import tempfile
import termios
import threading
import time
import tty
import unittest

from harness import ON_WINE, command, environment, host_path, make_file, run, temporary_tree

LARGEST = 2**64 - 1


class TerminalTest(unittest.TestCase):
    def setUp(self):
        self.root = temporary_tree(self)

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def test_p_with_an_empty_path_enters_the_root(self):
        # The root is large: its first rows are read and the run is cut short.
        head = subprocess.Popen(["head", "-c", "4096"], stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        run(["-f", "-p", ""], cwd=self.root, stdout=head.stdin)
        first_row = head.communicate()[0].decode("utf-8", "replace").replace("\\", "/").splitlines()[1]
        path = first_row.lstrip().split("   ", 1)[1]
        self.assertTrue(path.startswith("./") and os.path.lexists("/" + path[2:]), first_row)

    @unittest.skipUnless(os.path.isdir("/dev/shm"), "needs a tmpfs, which holds sparse files of 2^63 - 1 bytes")
    def test_totals_stop_at_the_largest_number(self):
        size = 2**63 - 1
        try:
            tree = temporary_tree(self, dir="/dev/shm")
            for name in "abc":
                make_file(os.path.join(tree, "sub", name), size)
        except OSError as error:  # other runs may have filled it
            self.skipTest("no room on the tmpfs: %s" % error)
        result = run(["-sbgn", "-c4096", host_path(tree)])
        clusters = 3 * -(-size // 4096)
        capped = [str(n) for n in (clusters, min(clusters * 4096, LARGEST), min(3 * size, LARGEST), LARGEST, 3)]
        rows = [line.split()[:5] for line in result.stdout.splitlines()[1:3]]
        self.assertEqual(rows, [capped, capped])  # the directory, then the total

    @unittest.skipIf(ON_WINE, "the shells complete on the POSIX host")
    def test_shells_complete_the_options_of_the_help_and_directories(self):
        os.mkdir(self.path("sub"))
        make_file(self.path("file"))
        synopsis = run(["-?"]).stdout.splitlines()[1]  # "  Usage: SPACE [-bCfghnpst] [-c[#.@<drive>..."
        options = {"-" + letter for letter in re.search(r"\[-(\w+)\]", synopsis).group(1) + "k"}
        forms = {"-c" + selector for selector in re.search(r"-c\[([^<]*)", synopsis).group(1)}
        for shell in ("bash", "zsh", "fish"):
            with self.subTest(shell):
                self.assertLessEqual(options | forms, complete(shell, "-", self.root))
                self.assertLessEqual(forms, complete(shell, "-c", self.root))
                self.assertEqual(complete(shell, "", self.root), {"sub"})


def complete(shell, word, cwd):
    """What `shell` offers for `word` after "space", with completion/space.<shell> loaded."""
    script = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "completion", "space." + shell)
    keyboard = terminal = None
    if shell == "bash":
        command = ["bash", "-c", 'source "$0"; COMP_WORDS=(space "$1"); COMP_CWORD=1; _space; printf "%s\\n" "${COMPREPLY[@]}"',
                   script, word]
    elif shell == "fish":
        command = ["fish", "--no-config", "-c", 'source $argv[1]; complete -C "space $argv[2]"', script, word]
    else:  # completion runs only in the line editor, on a terminal; what it adds goes to standard output
        command = ["zsh", "-f", "-i"]
        keyboard, terminal = pty.openpty()
        os.write(keyboard, b"autoload -U compinit; compinit -D; functions[_space]=$(<%s); compdef _space space; "
                 b'compadd() { ((${@[(I)-[OAD]*]})) || { local -a m; builtin compadd -O m "$@"; print -rl -- $m }; '
                 b'builtin compadd "$@" }\nspace %s\t\x07exit\n' % (script.encode(), word.encode()))
    output = subprocess.run(command, cwd=cwd, stdin=terminal, stderr=terminal, stdout=subprocess.PIPE, text=True).stdout
    for fd in filter(None, (keyboard, terminal)):
        os.close(fd)
    return {line.rstrip("/") for line in output.split()}


class ProgressLineTest(unittest.TestCase):
    """Through a pseudo-terminal that is read only once the report has begun
    and 1.5 s have passed: the rows fill the terminal and hold the walk, so
    that it goes on after its first second."""

    WIDTH = 40  # too narrow for the whole path of a directory
    # Wine's terminal emulation erases a line with "\r" and its own sequence.
    ESCAPES = rb"\x1b\[[0-9;?]*[A-Za-z]|\x1b\][^\x07]*\x07"
    ERASE = rb"\r" if ON_WINE else rb"\r +\r"
    LINE = rb"(?:\r?\d+ dirs, \d+ files, \d+ bytes: [^\r\n]*)+"
    # Unreadable, 1600 directories fill an unread terminal with messages.
    NO_RIGHTS = ("setpriv", "--inh-caps=-all", "--bounding-set=-all") if os.geteuid() == 0 else ()

    def setUp(self):
        self.root = temporary_tree(self)
        for i in range(4000):
            make_file(os.path.join(self.root, "directory %02d" % (i % 40), "f%04d" % i))
        for i in range(1600):
            os.mkdir(os.path.join(self.root, "directory %02d" % (i % 40), "%02d x" % (i // 40)), 0)  # a blank in the few columns the path gets

    def terminal(self):
        master, slave = pty.openpty()
        tty.setraw(slave)
        fcntl.ioctl(slave, termios.TIOCSWINSZ, struct.pack("HHHH", 24, self.WIDTH, 0, 0))
        return master, slave

    def run_on_terminal(self, stdout=None, stderr_too=True, prefix=()):
        master, slave = self.terminal()
        chunks = []

        def read_slowly():
            select.select([master], [], [])
            time.sleep(1.5)
            while True:
                try:
                    chunks.append(os.read(master, 1 << 16))
                except OSError:  # every writer is gone
                    return

        reader = threading.Thread(target=read_slowly)
        reader.start()
        result = run(["-f", "."], cwd=self.root, stdout=slave if stdout is None else stdout, prefix=prefix,
                     preexec_fn=(lambda: os.dup2(slave, 2)) if stderr_too else None)
        os.close(slave)
        reader.join()
        os.close(master)
        return result, re.sub(self.ESCAPES, b"", b"".join(chunks))

    def test_shown_after_a_second_and_erased_before_each_row(self):
        report = run(["-f", "."], cwd=self.root).raw_stdout.splitlines()[:-1]  # the free row moves
        progress = self.LINE + self.ERASE
        result, screen = self.run_on_terminal()
        lines = re.findall(progress, screen)
        self.assertTrue(lines)
        self.assertLess(max(len(line.strip(b"\r ")) for line in lines), self.WIDTH)
        self.assertNotIn(b"?", b"".join(lines))  # the blank that ends each path is no control character
        self.assertEqual(re.sub(progress, b"", screen).splitlines()[:-1], report)

        result, screen = self.run_on_terminal(stderr_too=False)
        self.assertEqual((result.raw_stderr, screen.splitlines()[:-1]), (b"", report))

    @unittest.skipIf(ON_WINE, "Wine's console wraps each message at the terminal's width")
    def test_shown_only_where_no_other_program_writes_to_the_terminal(self):
        # A program reading a pipe may write to the terminal, unlike a file.
        with tempfile.TemporaryFile() as report:
            for stdout, shown in ((subprocess.PIPE, False), (report, True)):
                with self.subTest(shown=shown):
                    screen = self.run_on_terminal(stdout, prefix=self.NO_RIGHTS)[1]
                    lines = re.findall(self.LINE + self.ERASE, screen)
                    self.assertEqual(bool(lines), shown)
                    self.assertRegex(re.sub(self.LINE + self.ERASE, b"", screen),
                                     rb"\A(space: cannot read directory [^\r\n]*\n){1600}\Z")
                    for line in lines:  # ends with the end of the path of a directory being read
                        self.assertRegex(line, rb"\.\.\.[a-z]* ?[\d/]*\d( x)? *" + self.ERASE + rb"\Z")

    @unittest.skipIf(ON_WINE, "Wine shows one console, and its control events end a process with a status of its own")
    # ThreadSanitizer holds a signal back from a thread blocked in a write.
    @unittest.skipIf("TSAN_OPTIONS" in os.environ, "ThreadSanitizer holds the signal back from a blocked write")
    def test_interrupted_the_line_is_erased_and_the_signal_ends_the_run(self):
        # Rows go to another terminal, let through until the line shows.
        (err, err_slave), (out, out_slave) = self.terminal(), self.terminal()
        tool = subprocess.Popen(command(["-f", "."]), cwd=self.root, stdout=out_slave, stderr=err_slave, env=environment())
        os.close(out_slave)
        screen = b""
        while not re.search(self.LINE + rb"\Z", screen):
            if select.select([err], [], [], 0.05)[0]:
                screen += os.read(err, 1 << 16)
            else:
                os.read(out, 1024)
        tool.send_signal(signal.SIGINT)
        self.assertEqual(tool.wait(600), -signal.SIGINT)
        screen += os.read(err, 1 << 16) if select.select([err], [], [], 0)[0] else b""
        self.assertRegex(screen, self.LINE + self.ERASE + rb"\Z")
        os.close(err), os.close(err_slave), os.close(out)


if __name__ == "__main__":
    unittest.main()
