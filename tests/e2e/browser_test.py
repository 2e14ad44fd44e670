"""spacemap -i in tmux on trees made in a temporary directory, each screen
checked against spacemap_test's model, and what deleting leaves on disk."""
import os
import re
import shutil
import subprocess
import time
import unittest

import spacemap_test as sm
from harness import UNPRIVILEGED, make_file, temporary_tree

HAS_TMUX = sm.NATIVE and bool(shutil.which("tmux"))
ENTRY = re.compile(r"^([ *]) +(\d+) +\d+\.\d% \[[# ]*\] +(\d*)  (.*?)(/)?(  \(being scanned\))?$")


def entries(screen):
    """(name, size, items or None, marked) of the entry lines shown."""
    shown = []
    for line in screen.splitlines():
        found = ENTRY.match(line.rstrip())
        if found:
            items = int(found.group(3)) if found.group(3) else None
            shown.append((found.group(4), int(found.group(2)), items, found.group(1) == "*"))
    return shown


@unittest.skipUnless(HAS_TMUX, "needs tmux and the native spacemap")
class BrowserTest(unittest.TestCase):
    def setUp(self):
        self.dir = temporary_tree(self, "spacemap-browser-")
        self.root = os.path.join(self.dir, "root")
        # café: every screen shows a name in UTF-8 as it is (escapes are the browser's unit test's).
        for path, size in {"big/a": 300000, "big/b": 120000, "big/sub/c": 50000, "mid/d": 90000, "small": 3000,
                           "many/1": 1, "many/2": 1, "many/3": 1, "many/4": 1, "caf\u00e9": 2000}.items():
            make_file(os.path.join(self.root, path), size, sparse=False)
        os.mkdir(os.path.join(self.root, "empty"))

    def browse(self, *args, cwd=None):
        return sm.Pane("SPACEMAP= %s -i -b %s" % (sm.SPACEMAP_EXE, " ".join(args or (self.root,))), cwd or self.dir)

    def listing(self, rel, apparent=False):
        """The model's entries of directory `rel`, largest first, as shown."""
        sizes = sm.model(self.root, apparent=apparent)
        prefix = rel + "/" if rel else "/"
        children = [(p[len(prefix):], s) for p, s in sizes.items()
                    if p.startswith(prefix) and "/" not in p[len(prefix):] and p != prefix]
        return sorted(children, key=lambda c: (-c[1], c[0]))

    def shown(self, pane, rel):
        expected = self.listing(rel)
        screen = pane.wait(lambda s: [(n, z) for n, z, _, _ in entries(s)] == expected,
                           "the entries of '%s': %r" % (rel, expected))
        return entries(screen)

    def test_browse_sort_and_quit(self):
        pane = self.browse()
        self.shown(pane, "")
        # Down to the second entry, open it, come back up: the cursor is on it.
        for keys, rel in ((("Down", "Enter"), "/mid"), (("Left",), ""), (("Up", "l"), "/big")):
            pane.keys(*keys)
            self.shown(pane, rel)
        pane.keys("h", then="--- %s ---" % self.root)
        names = [name for name, _ in self.listing("")]
        items = {"big": 4, "mid": 1, "many": 4, "empty": 0}
        # That the same key again reverses the order is the browser's unit test's.
        for key, order in (("n", sorted(names)), ("C", sorted(names, key=lambda n: (-items.get(n, 0), n))), ("s", names)):
            pane.keys(key)
            screen = pane.wait(lambda s: [e[0] for e in entries(s)] == order, "%s sorting %r" % (key, order))
            self.assertEqual({e[0]: e[2] for e in entries(screen) if e[2] is not None}, items)
        pane.keys("a")
        apparent = self.listing("", apparent=True)
        pane.wait(lambda s: [(n, z) for n, z, _, _ in entries(s)] == apparent, "apparent sizes")
        pane.keys("M", then="no modification times in this scan")
        pane.keys("?", then="open a directory")
        pane.keys("x", "i", then="Path: %s/big" % self.root)
        pane.keys("x")
        screen = pane.quit()
        self.assertIn("status=0 terminal kept", screen)
        self.assertNotIn("? for help", screen)

    def test_times_and_owners_with_extended_fields(self):
        names = [name for name, _ in self.listing("")]
        base = 1500000000
        for i, name in enumerate(names):  # every entry below a name as old as it
            top = os.path.join(self.root, name)
            for path, dirs, files in os.walk(top, topdown=False):
                for entry in files + dirs:
                    os.utime(os.path.join(path, entry), (base, base + i * 86400))
            os.utime(top, (base, base + i * 86400))
        pane = self.browse("-e", self.root)
        self.shown(pane, "")
        pane.keys("M")  # that M again reverses the order is the browser's unit test's
        pane.wait(lambda s: [e[0] for e in entries(s)] == names[::-1], "newest first: %r" % names[::-1])
        when = time.strftime("%Y-%m-%d %H:%M", time.localtime(base + (len(names) - 1) * 86400))  # the newest
        pane.keys("Home", "i", then="Modified: %s" % when)
        pane.wait_for("Owner: %d  Group: %d" % (os.getuid(), os.getgid()))
        pane.keys("x")
        self.assertIn("status=0", pane.quit())

    def test_signals_and_resizing_give_the_terminal_back(self):
        for key, status in (("C-c", 130), (None, 143)):
            pane = self.browse()
            pane.wait_for("Total:")
            sm.tmux("resize-window", "-t", pane.name, "-x", "90", "-y", "15")
            self.shown(pane, "")
            if key:
                pane.keys(key)
            else:
                pid = sm.tmux("list-panes", "-t", pane.name, "-F", "#{pane_pid}").stdout.split()[0]
                children = subprocess.run(["pgrep", "-P", pid.decode(), "spacemap"], capture_output=True)
                os.kill(int(children.stdout.split()[0]), 15)
            screen = pane.wait(lambda s: "status=" in s, "the exit status", "-S", "-")
            self.assertIn("status=%d terminal kept" % status, screen)

    def test_delete_marked_and_selected(self):
        pane = self.browse()
        self.shown(pane, "")
        # Marks on mid and many (a cancelled confirmation is the unit test's).
        order, sizes = [name for name, _ in self.listing("")], sm.model(self.root)
        pane.keys(*["Down"] * order.index("mid"), "Space")
        pane.keys(*["Down"] * (order.index("many") - order.index("mid") - 1), "Space", then="2 marked")
        gone = sizes["/mid"] + sizes["/many"]
        pane.keys("d", then="Delete 2 marked entries (%d)?" % gone)
        pane.keys("y", then="2 entries deleted")
        self.shown(pane, "")
        pane.keys("Home", then="Total: %d on disk" % (sizes[""] - gone))  # the message gives way to the totals
        # The selected entry, a directory, goes with what is in it.
        pane.keys("Home", "Enter")
        self.shown(pane, "/big")
        pane.keys("End", "d", then="Delete sub/ and everything in it (%d)?" % sizes["/big/sub"])
        pane.keys("y", then="1 entry deleted")
        self.shown(pane, "/big")
        left = {os.path.relpath(os.path.join(d, n), self.root) for d, ds, fs in os.walk(self.root) for n in ds + fs}
        self.assertEqual(left, {"big", "big/a", "big/b", "caf\u00e9", "empty", "small"})
        pane.quit()

    def test_deleting_leaves_what_changed_since_the_scan(self):
        outside = os.path.join(self.dir, "outside")
        make_file(os.path.join(outside, "keep"), 4)
        pane = self.browse()
        self.shown(pane, "")
        order = [name for name, _ in self.listing("")]
        # small is replaced by another file of its name; mid by a link.
        os.rename(os.path.join(self.root, "small"), os.path.join(self.dir, "old-small"))
        make_file(os.path.join(self.root, "small"), data=b"new")
        shutil.rmtree(os.path.join(self.root, "mid"))
        os.symlink(outside, os.path.join(self.root, "mid"))
        for name in ("small", "mid"):
            pane.keys("Home", *["Down"] * order.index(name), "d", then="Delete %s" % name)
            pane.keys("y", then="0 entries deleted; %s: changed since the scan, left alone" % name)
        self.assertTrue(os.path.isfile(os.path.join(self.root, "small")))
        self.assertTrue(os.path.islink(os.path.join(self.root, "mid")))
        self.assertTrue(os.path.isfile(os.path.join(outside, "keep")))
        # A directory on the way replaced: nothing below it is touched.
        pane.keys("Home", *["Down"] * order.index("big"), "Enter")
        self.shown(pane, "/big")
        os.rename(os.path.join(self.root, "big"), os.path.join(self.dir, "old-big"))
        shutil.copytree(os.path.join(self.dir, "old-big"), os.path.join(self.root, "big"))
        pane.keys("Home", "d", then="Delete a")
        pane.keys("y", then="0 entries deleted; a: big changed since the scan, left alone")
        self.assertTrue(os.path.isfile(os.path.join(self.root, "big/a")))
        pane.quit()

    @unittest.skipUnless(os.geteuid() == 0 and shutil.which("unshare"), "needs root to mount")
    def test_deleting_stays_on_its_file_system(self):
        mount = os.path.join(self.root, "big/sub/mnt")
        os.mkdir(mount)
        command = ("unshare -m sh -c 'mount -t tmpfs none %s && echo kept > %s/file && "
                   "SPACEMAP= %s -i -b %s; ls %s > %s/after'") % (
            mount, mount, sm.SPACEMAP_EXE, self.root, mount, self.dir)
        pane = sm.Pane(command, self.dir)
        self.shown(pane, "")
        pane.keys("Home", "Enter")
        self.shown(pane, "/big")
        pane.keys("End", "d", then="Delete sub/")
        pane.keys("y", then="0 entries deleted; sub: mnt is another file system, left as it is")
        pane.quit()
        with open(os.path.join(self.dir, "after")) as after:
            self.assertEqual(after.read(), "file\n")
        self.assertEqual(os.listdir(os.path.join(self.root, "big/sub")), ["mnt"])

    @unittest.skipUnless(os.geteuid() == 0 and sm.NATIVE, "needs root to run as nobody")
    def test_a_file_that_cannot_be_removed_is_reported(self):
        if subprocess.run(UNPRIVILEGED + ("test", "-x", sm.SPACEMAP_EXE)).returncode:
            self.skipTest("nobody may not run spacemap here")
        for d, _, _ in os.walk(self.root):
            os.chown(d, 65534, 65534)
        os.chown(os.path.join(self.root, "big"), 0, 0)  # nobody may not remove a, b or sub
        pane = sm.Pane("%s sh -c 'SPACEMAP= %s -i -b %s'" % (" ".join(UNPRIVILEGED), sm.SPACEMAP_EXE, self.root),
                    self.dir)
        self.shown(pane, "")
        pane.keys("Home", "d", then="Delete big/")
        pane.keys("y")
        pane.wait(lambda s: re.search(r"0 entries deleted; big: cannot remove '(a|b|sub)': Permission denied", s),
                  "the failure")
        self.assertEqual(sorted(os.listdir(os.path.join(self.root, "big"))), ["a", "b", "sub"])
        self.assertTrue(os.path.isfile(os.path.join(self.root, "small")))
        pane.quit()

    def test_refresh_and_export(self):
        pane = self.browse()
        self.shown(pane, "")
        order = [name for name, _ in self.listing("")]
        make_file(os.path.join(self.root, "mid/new"), 700000, sparse=False)
        pane.keys("Home", *["Down"] * order.index("mid"), "r", then="scanned again: mid")
        self.shown(pane, "")
        pane.keys("E", then="Export the scan to the file:")
        pane.keys("Enter", then="exported to spacemap-export.json")
        pane.quit()
        with open(os.path.join(self.dir, "spacemap-export.json"), "rb") as f:
            self.assertEqual(sm.untimed(f.read()), sm.untimed(sm.run(["-o", "-", self.root]).stdout))

    def test_imports_and_comparisons_are_read_only(self):
        export = os.path.join(self.dir, "old.json")
        sm.run(["-o", export, self.root])
        make_file(os.path.join(self.root, "mid/d"), 590000, sparse=False)
        os.remove(os.path.join(self.root, "small"))
        before = sorted(os.walk(self.root))
        for args in (["-f", export], ["--diff", export, self.root]):
            pane = self.browse(*args)
            pane.wait_for("[read-only]")
            pane.keys("d", then="is read-only: nothing is deleted")
            pane.keys("y")
            if args[0] == "--diff":
                new = sm.model(self.root)
                screen = pane.wait_for("[gone]")
                lines = [l for l in screen.splitlines() if re.match(r"^[ *] +[-+0]", l)]
                self.assertRegex(lines[0], r"^ +\+\d+ +\d+ +%d  mid/$" % new["/mid"])
                self.assertRegex(lines[-1], r"^ +-\d+ +\d+ +0  small \[gone\]$")
            pane.quit()
        self.assertEqual(sorted(os.walk(self.root)), before)

    def test_quitting_while_the_walk_runs(self):
        # The first screen may come before the walk ends: q ends both.
        for i in range(50):
            for j in range(200):
                make_file(os.path.join(self.root, "wide/d%d/f%d" % (i, j)))
        pane = self.browse()
        pane.wait(lambda s: "Scanning:" in s or "Total:" in s, "the first screen")
        screen = pane.quit()
        self.assertIn("status=0", screen)

    def test_a_malformed_export_shows_what_was_read_and_fails(self):
        export = os.path.join(self.dir, "cut.json")
        make_file(export, data=sm.run(["-o", "-", self.root]).stdout[:-40])
        pane = self.browse("-f", export)
        pane.wait_for("Total:")
        screen = pane.quit()
        self.assertIn("spacemap: %s: malformed at byte" % export, screen)
        self.assertIn("status=2", screen)


if __name__ == "__main__":
    unittest.main()
