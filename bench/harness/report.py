"""The tables a run prints on standard output, each from the cases that
name it in their `table` and the results filed under their keys."""
import os
import platform
import subprocess
import textwrap

from .cases import PEERS, SF, comb_ratio
from .goals import print_goals
from .results import Missing
from .setup import REPO, have


def label(name):
    """A command as the tables show it: its template without the tree."""
    return PEERS[name].replace(" $tree", "").replace("$", "")


def ran(cases, r, table):
    return [c for c in cases if c.table == table and any(k == c.key for k, _ in r.times)]


def grid(corner, columns, rows, width, first=22):
    print(f"{corner:<{first}}" + "".join(f"  {c:>{width}}" for c in columns))
    for name, cells in rows:
        print(f"{name:<{first}}" + "".join(f"  {c:>{width}}" for c in cells))


def cell(fmt, f, *keys):
    """fmt filled with f(*keys), or '-' where that was not measured."""
    try:
        v = f(*keys)
    except (Missing, KeyError, ZeroDivisionError):
        return "-"
    return fmt.format(*v) if isinstance(v, tuple) else fmt.format(v)


def first_line(*argv):
    try:
        return subprocess.run(argv, capture_output=True, text=True).stdout.splitlines()[0]
    except (OSError, IndexError):
        return "?"


def fs_type(path):
    return subprocess.run(["df", "--output=fstype", path], capture_output=True, text=True).stdout.split()[-1]


def describe(cases, o, fuse, load_start):
    print("\ntrees:")
    trees = {}
    for c in cases:
        trees.setdefault(c.tree.path, c.tree)
    for t in trees.values():
        what = (first_line(o.tools["floor"], t.path) if t.make == "gentree" else
                ", ".join(f"{k} {v}" for k, v in t.size.items()))
        print(f"  {t.key + ':':<16} {t.path} ({fs_type(t.path)}), {what}")
        if t.fuse:
            print(f"  {'FUSE:':<16} " + (f"skipped: {fuse.skipped}" if fuse.skipped else
                  f"latencyfs, {o.fuse_delay_us} us per request, no kernel caching, multi-threaded"))
    print(f"machine: {os.cpu_count()} cores, {platform.system()} {platform.release()}")
    print(f"load:    at start: {load_start}")
    print(f"         at end:   {load()}")
    built = f" (built from {first_line('git', '-C', REPO, 'describe', '--always', '--dirty')})"
    print(f"space:   {o.space}{built * o.build}, default reading threads (SPACE_THREADS unset)")
    if o.spacemap:
        print(f"spacemap: {o.spacemap_bin}, its own defaults (SPACEMAP unset)")
        print(f"tmux:    {first_line('tmux', '-V')}")
        if have("chromium"):
            print(f"chromium: {first_line('chromium', '--version')}")
    for tool in filter(have, ("du", "gdu", "ncdu")):
        print(f"{tool + ':':<8} {' '.join(first_line(tool, '--version').split())}")
    print(f"hyperfine {first_line('hyperfine', '--version').split()[-1]}; warm: {o.runs} runs after 2 warm-ups; "
          f"cold: {o.runs} runs; big: {o.big_runs} runs; FUSE: {o.fuse_runs} runs; wide, combs and chain: "
          f"{o.case_runs} runs; in {o.rounds} round(s)")


def load():
    return " ".join(open("/proc/loadavg").read().split()[:3]) + " (1, 5, 15 min)"


def peers(cases, r):
    cs = ran(cases, r, "peers")
    names = [n for n in PEERS if any((c.key, n) in r.times for c in cs)]
    print("\nMedian wall time in seconds, and (in brackets) its ratio to floor's median;")
    print("below 1 is faster than the bare one-thread walk.")
    grid("command", [c.title for c in cs], [(label(n), [cell("{:8.3f} ({:5.2f}x)", lambda k, n: (
        r.t(k, n), r.t(k, n) / r.t(k, "floor")), c.key, n) for c in cs]) for n in names], 17)
    print("\nSpread (min .. max seconds) of the same runs:")
    grid("command", [c.title for c in cs], [(label(n), [cell("{:.3f}..{:.3f}", lambda k, n: r.times[k, n][1:],
                                                             c.key, n) for c in cs]) for n in names], 17)
    trees = list(dict.fromkeys(c.tree.key for c in cs if c.memory))
    if trees:
        print("\nPeak resident size in MiB (GNU time %M; one extra warm run on local trees,")
        print("the largest of the timed runs under FUSE):")
        grid("command", trees, [(label(n), [cell("{:.1f}", lambda t, n: r.kib(t, n) / 1024, t, n) for t in trees])
                                for n in names], 12)


def sweep(cases, r):
    cs = ran(cases, r, "sweep")
    if not cs:
        return
    counts = list(dict.fromkeys(n.split("=")[1] for c in cs for n in c.commands))
    print("\n'space -c0 -f' by SPACE_THREADS: median seconds, (in brackets) ratio to floor's")
    print("median in the same case; [min..max]:")
    grid("threads", [c.title for c in cs], [(t, [cell("{:.3f} ({:.2f}x) [{:.3f}..{:.3f}]", lambda k, n: (
        r.t(k, n), r.t(k, n) / r.t(k, "floor"), *r.times[k, n][1:]), c.key, f"{SF} threads={t}") for c in cs])
        for t in counts], 31, 8)


def wide(cases, r):
    cs = [c for c in cases if c.table == "wide" and any(t == c.tree.key for t, _ in r.memory)]
    if not cs:
        return
    print(f"\nPeak resident size in MiB on {max(r.o.wide_dirs)} directories of {r.o.wide_entries} 200-byte names,")
    print("'space -c0 -f' by SPACE_THREADS, and du -ab:")
    grid("tree", list(cs[0].commands), [(c.tree.key, [cell("{:.1f}", lambda n: r.kib(c.tree.key, n) / 1024, n)
                                                      for n in c.commands]) for c in cs], 8, 10)


def wide_calls(cases, r):
    cs = ran(cases, r, "wide_calls")
    if not cs:
        return
    print(f"\n'space -c0 -f' on directories of {r.o.wide_entries} 200-byte names side by side, by")
    print("SPACE_THREADS: median seconds and system calls, each with (in brackets) its")
    print("ratio to one thread's:")
    print(f"{'directories':<11}  {'threads':<8}  {'seconds':>17}  {'getdents64':>19}  {'newfstatat':>19}")
    for c in cs:
        for th in c.commands:
            calls = [cell("{:d} ({:5.3f}x)", lambda s: (r.count(c.key, th, s), r.count(c.key, th, s)
                                                         / r.count(c.key, "1", s)), s)
                     for s in ("getdents64", "newfstatat")]
            seconds = cell("{:.3f} ({:5.3f}x)", lambda: (r.t(c.key, th), r.t(c.key, th) / r.t(c.key, "1")))
            print(f"{c.title:<11}  {th:<8}  {seconds:>17}  {calls[0]:>19}  {calls[1]:>19}")


def comb(cases, r):
    cs = [c for c in cases if c.table == "comb" and any(k == c.key for k, _ in r.calls)]
    if not cs:
        return
    print("\nCombs ('space -c0 -t' and du -s) under prlimit --nofile: median seconds, (in")
    print("brackets) ratio to du -s's under the same limit ('*': du -s fails there; the")
    print("ratio is to du -s under the lowest limit it gets through); openat calls per")
    print("directory:")
    print(f"{'':<15}  {'seconds':<42}  openat per directory")
    print(f"{'levels':<6}  {'nofile':<7}  {'du -s':>8}  {'space threads=1':>16}  {'space':>16}  {'du -s':>8}  "
          f"{'1 thread':>8}  {'space':>8}")
    for c in cs:
        levels, n = map(int, c.title.split())  # its title is "LEVELS NOFILE"
        failed = lambda f: lambda name: "fails" if r.failed(c.key, name) else f(name)
        timed = failed(lambda name: cell("{:.3f} ({:.2f}x{})", lambda: (r.t(c.key, name),
                                                                      *comb_ratio(r, levels, n, name))))
        opens = failed(lambda name: f"{r.count(c.key, name, 'openat') / (2 * levels + 1):.2f}")
        du = failed(lambda name: cell("{:.3f}", r.t, c.key, name))("du -s")
        print(f"{levels:<6}  {n:<7}  {du:>8}  {timed('space threads=1'):>16}  {timed('space'):>16}  "
              f"{opens('du -s'):>8}  {opens('space threads=1'):>8}  {opens('space'):>8}")


def against(c, r, base, width, idle=False):
    """Each command of c: median [min..max], and its ratio to base's."""
    for n in c.commands:
        print(f"  {n:<{width}}  {'busy ' * idle}" + cell("{:.3f} ({:.2f}x) [{:.3f}..{:.3f}]", lambda: (
            r.t(c.key, n), r.t(c.key, n) / r.t(c.key, base), *r.times[c.key, n][1:]))
            + ("   idle " + cell("{:.3f}", r.t, "warm", n)) * idle)


def listing(cases, r):
    for c in ran(cases, r, "list"):
        base = c.base or next(iter(c.commands))
        print("\n" + textwrap.fill(f"{c.about or c.title}: median seconds [min..max], and (in brackets) the ratio "
                                  f"to {base}'s:", 84))
        against(c, r, base, max(map(len, c.commands)) + 1)


def busy(cases, r):
    for c in ran(cases, r, "busy"):
        print("\n'space -c0 -f' on the warm main tree with two busy loops running: median seconds")
        print("[min..max], (in brackets) the ratio to SPACE_THREADS=2's; idle, from the tables above:")
        against(c, r, SF + " threads=2", 24, idle=True)


def spacemap(cases, r):
    if not r.o.spacemap:
        return
    x = lambda a, b: cell("{:.2f}x", lambda: a() / b())
    print("\nspacemap in the cases above: its export ('-o /dev/null') and its sorted view (no")
    print("option), median seconds, each with its ratios to the others' medians in the case:")
    row = "{:<14}  {:>8}  {:>13}  {:>11}  {:>10}  {:>8}  {:>13}"
    print(row.format("case", "export", "/space -c0 -f", "/ncdu -0 -o", "/gdu -n -p", "view", "/space -c0 -f"))
    for c in ran(cases, r, "peers"):
        t = lambda n: lambda: r.t(c.key, n)
        print(row.format(c.title, cell("{:.3f}", t("spacemap -o")), x(t("spacemap -o"), t(SF)),
                         x(t("spacemap -o"), t("ncdu")), x(t("spacemap -o"), t("gdu")),
                         cell("{:.3f}", t("spacemap")), x(t("spacemap"), t(SF))))
    titles = {"main": f"warm {r.o.files}", "big": f"warm {r.o.big_files}"}
    if not r.exports:
        return
    print("\nExports read back: 'spacemap -f EXPORT' (hyperfine) and 'ncdu -f EXPORT' to its")
    print("first screen (in tmux, polled every 10 ms): median seconds [min..max], and the")
    print("ratio of spacemap's to ncdu's:")
    row = "{:<14}  {:>9}  {:>10}  {:>23}  {:>23}  {:>6}"
    print(row.format("tree", "entries", "export MiB", "spacemap -f", "ncdu -f", "ratio"))
    for tree, (entries, size, _) in r.exports.items():
        t = lambda n: cell("{:.3f} [{:.3f}..{:.3f}]", lambda: r.times[f"import-{tree}", n])
        print(row.format(titles[tree], entries, f"{size / 2**20:.1f}", t("spacemap -f"), t("ncdu -f"),
                         x(lambda: r.t(f"import-{tree}", "spacemap -f"), lambda: r.t(f"import-{tree}", "ncdu -f"))))
    print("\nPeak resident size in MiB (GNU time %M): spacemap's sorted view, export and")
    print("import, 'space -c0 -f', and ncdu browsing the export (the largest of its runs")
    print("above, to its first screen):")
    row = "{:<14}  {:>8}  {:>8}  {:>8}  {:>12}  {:>8}  {:>13}  {:>14}"
    print(row.format("tree", "view", "export", "import", "space -c0 -f", "ncdu -f", "view/ncdu -f", "export - space"))
    for tree in r.exports:
        m = lambda n: cell("{:.1f}", lambda: r.kib(tree, n) / 1024)
        print(row.format(titles[tree], m("spacemap"), m("spacemap -o"), m("spacemap -f"), m(SF), m("ncdu -f"),
                         x(lambda: r.kib(tree, "spacemap"), lambda: r.kib(tree, "ncdu -f")),
                         cell("{:+.1f}", lambda: (r.kib(tree, "spacemap -o") - r.kib(tree, SF)) / 1024)))
    print("\nTreemap page ('spacemap --html PAGE TREE'): its size, and headless Chromium's")
    print("seconds from navigating to it to its load event, median [min..max]:")
    for tree, page in r.pages.items():
        shown = page if isinstance(page, str) else "{:.2f} MiB  {:.3f} [{:.3f}..{:.3f}]".format(page[0] / 2**20,
                                                                                                *page[1:])
        print(f"  {titles[tree]:<14}  {shown}")


TABLES = [peers, sweep, wide, wide_calls, comb, listing, busy, spacemap]


def print_all(cases, r, o, fuse, load_start, goals):
    describe(cases, o, fuse, load_start)
    for table in TABLES:
        table(cases, r)
    print_goals(goals, r)
    if r.warnings:
        print()
        for w in r.warnings:
            print(f"WARNING: {w}")
