"""bench/run's options, and the run: set-up, the cases, the report."""
import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile

from . import report, setup, timing
from .cases import CHAIN_TREE, COMB_TREE, DROP_CACHES, GOALS, SMALL_TREE, WIDE_TREE, cases
from .goals import markdown
from .results import Results

DEFAULTS = dict(files=200000, dirs=17000, depth=12, tree="/tmp/space-bench-tree", runs=10,
                big_files=1000000, big_dirs=85000, big_tree="/tmp/space-bench-tree-1m", big_runs=3,
                fuse_files=20000, fuse_dirs=1700, fuse_tree="/tmp/space-bench-fuse-tree", fuse_runs=3,
                fuse_delay_us=1000, threads="1,2,3,4,6,8,16,32,64", rounds=1, wide_dirs="24,64",
                wide_entries=10000, comb_depths="3000,6000", comb_limits="5,64,256,1024", chain_depth=20000,
                case_runs=3)
CASES = ["cold", "big", "fuse", "wide", "comb", "chain", "busy", "spacemap"]

USAGE = """usage: bench/run [options]

Builds space (release) and times, side by side on the same tree:
  space -c0 -f TREE            (one row per file and directory, in bytes)
  space TREE                   (one row per directory)
  du -ab TREE, du -sb TREE     (GNU du)
  ncdu -0 -o /dev/null TREE, gdu -n -p TREE   (when they can be installed)
  floor TREE                   (bare one-thread getdents64 + fstatat walk,
                                bench/floor.c; every ratio is to its time)
and prints each one's median time, its ratio to floor's and its peak resident
size (GNU time %M), then 'space -c0 -f' with SPACE_THREADS=1, 2, 3, ..., and
'space -c0 -f' with its own pool against one thread on a 2000-file tree;
then the goals each case is judged against (bench/harness/cases.py).

By default only the warm-cache case on a {files}-file tree runs (a minute or
two); the options below add the others. --all runs everything (most of an hour
on two cores).

cases:
  --cold        also on a cold cache: drops the page, dentry and inode caches
                before each run (hyperfine --prepare '{drop}');
                needs root
  --big         also on a {big_files}-file tree ({big_dirs} directories,
                same generator), warm, and cold with --cold
  --fuse        also through latencyfs (bench/latencyfs.c), a multi-threaded
                pass-through FUSE file system that delays every request
                (lookup, getattr, opendir, readdir, ...) by {fuse_delay_us} us and lets
                the kernel cache nothing, over a {fuse_files}-file tree; skipped
                with a message when /dev/fuse or mounting is not available
  --wide        also on wide directories of {wide_entries} entries with 200-byte
                names, for each count of the list {wide_dirs} side by side:
                'space -c0 -f' with SPACE_THREADS=1, 2 and its own pool, timed,
                and its getdents64 and newfstatat calls counted (strace -f -c);
                and, on the largest count side by side and one level down
                (dNN/b), peak memory by SPACE_THREADS
  --comb        also combs {comb_depths} levels deep (each level holds the
                next level and, listed after it, an empty directory):
                'space -c0 -t' with SPACE_THREADS=1 and its own pool, and
                du -s, under prlimit --nofile=N for N in {comb_limits}; times,
                and openat calls per directory (strace -f -c)
  --chain       also a chain of {chain_depth} directories with 250-byte names:
                'space -c0 -t' with standard error on a terminal (script) and
                redirected to /dev/null, standard output to /dev/null in both
  --busy        also on the warm main tree with two busy loops running:
                'space -c0 -f' with its own pool and with SPACE_THREADS=2
  --spacemap    also spacemap, in the warm, cold, big and FUSE cases that
                run: its export 'spacemap -o /dev/null TREE' and its sorted
                view 'spacemap TREE', timed and measured beside the others
                (ratios to space -c0 -f, ncdu and gdu); then on the
                main tree (and the big one with --big) its export read back,
                'spacemap -f EXPORT', against ncdu -f EXPORT reaching its
                first screen in tmux (times and peak memory of both), and
                with --html in the binary the treemap page's size and
                headless Chromium's time to its load event
  --all         --cold --big --fuse --wide --comb --chain --busy --spacemap

options:
  --files N     files in the main tree (default {files})
  --dirs N      directories in the main tree, its root included (default {dirs})
  --depth N     deepest directory level below each root (default {depth})
  --tree DIR    where to generate the main tree (default {tree}); every
                tree is reused while its parameters stay the same
  --runs N      timed runs per command on the main tree (default {runs}, after
                2 warm-up runs when warm)
  --big-files N, --big-dirs N, --big-tree DIR, --big-runs N
                the same for the --big tree (defaults {big_files}, {big_dirs},
                {big_tree}, {big_runs}; 1 warm-up run)
  --fuse-files N, --fuse-dirs N, --fuse-tree DIR, --fuse-runs N
                the same for the tree under the FUSE mount (defaults {fuse_files},
                {fuse_dirs}, {fuse_tree}, {fuse_runs}; no warm-up)
  --fuse-delay-us N
                delay per FUSE request in microseconds (default {fuse_delay_us})
  --threads LIST
                SPACE_THREADS values for the sweep, comma-separated (default
                {threads}); 'none' skips the sweep. It runs on the warm main
                tree, on the cold one with --cold and under FUSE with --fuse;
                with --big --cold, 8, 16 and 32 on the cold big tree, the
                fixed pools the default is judged against there.
  --rounds N    split every case's runs into N rounds in which the commands
                take turns (default {rounds}), so that load which comes and goes
                falls on all of them alike; warm-ups are repeated each round
  --wide-dirs LIST, --wide-entries N
                directories of the wide trees, comma-separated (default
                {wide_dirs}), and entries in each (default {wide_entries})
  --comb-depths LIST, --comb-limits LIST
                levels of the combs (default {comb_depths}) and descriptor limits
                they run under (default {comb_limits}), comma-separated
  --chain-depth N
                directories in the chain (default {chain_depth})
  --case-runs N timed runs per command in the --wide, --comb and --chain
                cases (default {case_runs}, no warm-up: their trees are warm)
  --no-build    use the existing {build_dir}/space instead of building it
  --goals-markdown
                print the goals as the README's Markdown table, and nothing else
  -h, --help    show this help

environment:
  SPACE_BIN     run this binary as space instead (implies --no-build)
  SPACEMAP_BIN  run this binary as spacemap (default: spacemap beside space)
  BUILD_DIR     release build directory (default <repo>/build-release)
  SPACE_THREADS is cleared for the main tables: space runs with its default
  number of reading threads there. SPACEMAP is cleared too, for spacemap
  to run with its own defaults.

It installs what it lacks with apt-get (hyperfine, GNU time, gdu, ncdu,
with --fuse fuse3, libfuse3-dev and pkg-config, with --wide or --comb
strace, with --spacemap tmux and chromium). Results go to standard output,
progress and hyperfine's own report to standard error."""


class Parser(argparse.ArgumentParser):
    def error(self, message):
        sys.exit(f"bench/run: {message}\nusage: bench/run [options] (bench/run --help lists them)")


def positive(s):
    if not s.isdigit() or int(s) == 0:
        raise argparse.ArgumentTypeError(f"needs a positive number, got '{s}'")
    return int(s)


def numbers(s):
    try:
        return [positive(n) for n in s.split(",")]
    except argparse.ArgumentTypeError:
        raise argparse.ArgumentTypeError(f"needs a comma-separated list of positive numbers, got '{s}'")


def microseconds(s):
    if not s.isdigit():
        raise argparse.ArgumentTypeError(f"needs a number of microseconds, got '{s}'")
    return int(s)


TYPES = dict(tree=str, big_tree=str, fuse_tree=str, threads=lambda s: None if s == "none" else numbers(s),
             fuse_delay_us=microseconds)


def parse(argv, environ=os.environ):
    p = Parser(prog="bench/run", add_help=False, allow_abbrev=False)
    for name in CASES + ["all", "no-build", "goals-markdown", "help"]:
        p.add_argument("--" + name, *["-h"] * (name == "help"), action="store_true")
    for name, default in DEFAULTS.items():
        kind = TYPES.get(name, numbers if isinstance(default, str) else positive)
        p.add_argument("--" + name.replace("_", "-"), type=kind, default=kind(str(default)))
    o = p.parse_args(argv)
    for name in CASES if o.all else []:
        setattr(o, name, True)
    o.build_dir = environ.get("BUILD_DIR") or os.path.join(setup.REPO, "build-release")
    o.build = not o.no_build and not environ.get("SPACE_BIN")
    o.space = environ.get("SPACE_BIN") or os.path.join(o.build_dir, "space")
    o.spacemap_bin = environ.get("SPACEMAP_BIN") or os.path.join(os.path.dirname(o.space), "spacemap")
    for name in "tree", "big_tree", "fuse_tree":
        setattr(o, name, os.path.realpath(getattr(o, name)))
    for tree in o.tree, o.big_tree, o.fuse_tree, SMALL_TREE, WIDE_TREE, COMB_TREE, CHAIN_TREE:
        if (tree + "/").startswith(setup.REPO + "/"):
            p.error(f"trees must lie outside the repository ({tree})")
    return o


def main(argv):
    o = parse(argv)
    if o.help:
        return print(USAGE.format(drop=DROP_CACHES, build_dir=o.build_dir, **DEFAULTS))
    if o.goals_markdown:
        return print(markdown(GOALS, o))
    if o.cold and os.geteuid() != 0:
        setup.die("--cold needs root (it writes /proc/sys/vm/drop_caches); run it with sudo")
    if o.cold and not os.access("/proc/sys/vm/drop_caches", os.W_OK):
        setup.die("--cold: /proc/sys/vm/drop_caches is not writable here (container?)")
    for name in "SPACE_THREADS", "SPACEMAP":
        os.environ.pop(name, None)
    load_start = report.load()
    setup.install_missing(o)
    setup.build_space(o)
    o.tools = {name: setup.compile_tool(o, name) for name in ("gentree", "floor")}
    work = tempfile.mkdtemp(prefix="space-bench.")
    fuse, r, todo = setup.Fuse(o, work), Results(o), list(cases(o))
    signal.signal(signal.SIGTERM, lambda *_: sys.exit(130))
    try:
        for tree in {c.tree.path: c.tree for c in todo}.values():
            setup.make_tree(o, tree)
        for c in todo:
            if not c.tree.fuse:
                fuse.unmount()
            timing.run_case(c, o, r, work, fuse)
        fuse.unmount()
        report.print_all(todo, r, o, fuse, load_start, GOALS)
    except subprocess.CalledProcessError as e:
        setup.die(f"'{e.cmd if isinstance(e.cmd, str) else ' '.join(e.cmd)}' failed (status {e.returncode})")
    finally:
        fuse.unmount()
        if os.path.exists(f"{work}/tmux"):  # the tmux server that shows ncdu
            subprocess.run(["tmux", "-S", f"{work}/tmux", "kill-server"], stderr=subprocess.DEVNULL)
        shutil.rmtree(work, ignore_errors=True)
