"""The benchmark as data: its trees, commands, cases (in the order they run)
and goals.

A command is a shell template: $space, $spacemap, $floor and $tree stand for
the quoted paths. A case runs its commands on its tree: with runs, timed by
hyperfine; with memory, their peak resident size taken by GNU time; with
calls, those system calls counted by strace first (a command that fails
there is reported, not timed). Adding a case is adding a Case to cases(),
and its goals to GOALS; it is listed under the tables, each command with
its ratio to the first's, unless it names a table of report.py. For example:

    yield Case("top", "spacemap --top", main, {"spacemap --top 20": "$spacemap --top 20 $tree",
               SF: PEERS[SF]}, o.runs, warmup=2, base=SF)
    Goal("--spacemap", "warm main tree: `spacemap --top 20` <= 1.1x `space -c0 -f`",
         ratio("top", "spacemap --top 20", SF), at_most=1.1)
"""
from dataclasses import dataclass, field

from .goals import Goal, faster, mib_over, ratio
from .results import Missing

SMALL_TREE = "/tmp/space-bench-tree-2k"
WIDE_TREE = "/tmp/space-bench-wide"
COMB_TREE = "/tmp/space-bench-comb"
CHAIN_TREE = "/tmp/space-bench-chain"
DROP_CACHES = "sync; echo 3 > /proc/sys/vm/drop_caches"


@dataclass
class Tree:
    key: str            # names it in the tables and the memory results
    path: str
    make: str           # its generator: gentree, wide, comb or chain (setup.py)
    size: dict = field(default_factory=dict)   # the generator's parameters
    fuse: bool = False  # timed through latencyfs mounted over it


@dataclass
class Case:
    key: str            # its results are filed under it
    title: str          # its column or row in the tables
    tree: Tree
    commands: dict      # name: shell template
    runs: int = 0       # timed runs per command; 0: not timed
    warmup: int = 0
    cold: bool = False  # the caches dropped before every run (root only)
    check: str = ""     # first: "rows", space's (and spacemap's) output checked against floor's
                        # count; "clean", space run once, which must end well and quietly
    memory: str = ""    # "after": one more run each under GNU time; "runs": the timed runs under it
    calls: str = ""     # system calls counted, comma-separated
    may_fail: tuple = ()  # commands whose failure there is no warning
    busy: bool = False  # two busy loops running meanwhile
    table: str = "list"  # where report.py shows it; "list": each command against base
    base: str = ""      # the command the others are compared to in a list; the first by default
    about: str = ""     # the words above its list
    kind: str = "hyperfine"   # or "import", "page": spacemap's export read back, its page loaded


SF = "space -c0 -f"
PEERS = {
    SF: "$space -c0 -f $tree",
    "space": "$space $tree",
    "spacemap -o": "$spacemap -o /dev/null $tree",
    "spacemap": "$spacemap $tree",
    "du -ab": "du -ab $tree",
    "du -sb": "du -sb $tree",
    "ncdu": "ncdu -0 -o /dev/null $tree",
    "gdu": "gdu -n -p $tree",
    "floor": "$floor $tree",
}
WIDE_THREADS = ["1", "2", "16", "64", "default"]


def threads(values, name=SF + " threads={}", command="$space -c0 -f $tree"):
    """command at each SPACE_THREADS of values; 'default' leaves it unset."""
    return {name.format(t): command if t == "default" else f"SPACE_THREADS={t} {command}" for t in values or []}


def cases(o):
    """The cases options o ask for, in the order they run."""
    depth = {"depth": o.depth}
    main = Tree("main", o.tree, "gentree", {"files": o.files, "dirs": o.dirs, **depth})
    small = Tree("small", SMALL_TREE, "gentree", {"files": 2000, "dirs": 170, **depth})
    big = Tree("big", o.big_tree, "gentree", {"files": o.big_files, "dirs": o.big_dirs, **depth})
    fuse = Tree("fuse", o.fuse_tree, "gentree", {"files": o.fuse_files, "dirs": o.fuse_dirs, **depth}, fuse=True)
    peers = {k: v for k, v in PEERS.items() if o.spacemap or "$spacemap" not in v}
    own_and = lambda n: {SF: PEERS[SF], **threads([n])}  # the own pool against n threads

    yield Case("warm", f"warm {o.files}", main, peers, o.runs, warmup=2, check="rows", memory="after", table="peers")
    sweep = lambda *a, **k: [Case(*a, **k, table="sweep")] if o.threads else []  # --threads none: no sweep
    yield from sweep("warm", f"warm {o.files}", main, threads(o.threads), o.runs, warmup=2)
    yield Case("small", "small", small, own_and(1), o.runs, warmup=2, base=SF + " threads=1",
               about="'space -c0 -f' on the 2000-file tree, its own pool against one thread")
    if o.busy:
        yield Case("busy", "busy", main, own_and(2), o.runs, warmup=2, busy=True, table="busy")
    if o.cold:
        yield Case("cold", f"cold {o.files}", main, peers, o.runs, cold=True, table="peers")
        yield from sweep("cold", f"cold {o.files}", main, threads(o.threads), o.runs, cold=True)
    if o.big:
        yield Case("big-warm", f"warm {o.big_files}", big, peers, o.big_runs, warmup=1, check="rows",
                   memory="after", table="peers")
        if o.cold:
            yield Case("big-cold", f"cold {o.big_files}", big, peers, o.big_runs, cold=True, table="peers")
            # Only the fixed pools the default is judged against.
            yield from sweep("big-cold", f"cold {o.big_files}", big, threads([8, 16, 32]), o.big_runs, cold=True)
    if o.fuse:
        yield Case("fuse", f"FUSE {o.fuse_files}", fuse, peers, o.fuse_runs, check="rows", memory="runs",
                   table="peers")
        yield from sweep("fuse", f"FUSE {o.fuse_files}", fuse, threads(o.threads), o.fuse_runs)
    if o.wide:
        # Many threads each in the middle of a wide directory: side by side, and one level down.
        for shape in "siblings", "nested":
            tree = Tree(shape, f"{WIDE_TREE}-{shape}-{max(o.wide_dirs)}", "wide",
                        {"dirs": max(o.wide_dirs), "entries": o.wide_entries, "nested": int(shape == "nested")})
            yield Case(f"wide-{shape}", shape, tree, {**threads(WIDE_THREADS, "{}"), "du -ab": PEERS["du -ab"]},
                       memory="after", table="wide")
        # A listing read twice shows as more calls than one thread makes.
        for n in o.wide_dirs:
            tree = Tree(f"siblings-{n}", f"{WIDE_TREE}-siblings-{n}", "wide",
                        {"dirs": n, "entries": o.wide_entries, "nested": 0})
            yield Case(f"wide-{n}", str(n), tree, threads(["1", "2", "default"], "{}"), o.case_runs,
                       calls="getdents64,newfstatat", table="wide_calls")
    if o.comb:
        for levels in o.comb_depths:
            tree = Tree(f"comb-{levels}", f"{COMB_TREE}-{levels}", "comb", {"depth": levels})
            for n in o.comb_limits:
                limit = f"prlimit --nofile={n}"
                yield Case(f"comb-{levels}-{n}", f"{levels} {n}", tree, {
                    "du -s": f"{limit} du -s $tree",
                    "space threads=1": f"{limit} env SPACE_THREADS=1 $space -c0 -t $tree",
                    "space": f"{limit} $space -c0 -t $tree",
                }, o.case_runs, calls="openat", may_fail=("du -s",), table="comb")
    if o.chain:
        # -t keeps out the rows, whose paths alone would be gigabytes.
        tree = Tree("chain", CHAIN_TREE, "chain", {"depth": o.chain_depth, "names": 250})
        yield Case("chain", "chain", tree, {
            "stderr a terminal": 'script -qfec "$space -c0 -t $tree >/dev/null" /dev/null',
            "stderr to /dev/null": 'script -qfec "$space -c0 -t $tree >/dev/null 2>/dev/null" /dev/null',
        }, o.case_runs, check="clean", base="stderr to /dev/null",
            about=f"'space -c0 -t' down a chain of {o.chain_depth} directories with 250-byte names")
    if o.spacemap:
        for tree, runs in [(main, o.runs)] + [(big, o.big_runs)] * o.big:
            yield Case(f"import-{tree.key}", tree.key, tree, {"spacemap -f": "$spacemap -f $export"}, runs,
                       warmup=1, kind="import", table="spacemap")
            # The second round of views: extended fields, largest files, kinds, compressed scans.
            yield Case(f"views-{tree.key}", f"spacemap's views, {tree.key} tree", tree, {
                SF: PEERS[SF], "spacemap -o": PEERS["spacemap -o"], "spacemap": PEERS["spacemap"],
                "spacemap -e -o": "$spacemap -e -o /dev/null $tree",
                "spacemap --largest 1000": "$spacemap --largest 1000 $tree",
                "spacemap --types": "$spacemap --types $tree",
                "spacemap -o .zst": "$spacemap -o $export.zst $tree",
                "spacemap -f .zst": "$spacemap -f $export.zst",
                "spacemap -f": "$spacemap -f $export",
            }, runs, warmup=1, memory="after", base=SF)
            yield Case(f"page-{tree.key}", tree.key, tree, {}, runs, kind="page", table="spacemap")


def wide_time(th):
    return lambda r, n: r.t(f"wide-{n}", th) / r.t(f"wide-{n}", "1")


def wide_calls(th):
    """The larger deviation of getdents64 and newfstatat calls from one thread's."""
    def off(r, n):
        offs = [r.count(f"wide-{n}", th, c) / r.count(f"wide-{n}", "1", c) - 1 for c in ("getdents64", "newfstatat")]
        worst = max(offs, key=abs)
        return abs(worst), f"{100 * worst:+.1f}%"
    return off


def wide_memory_over(r, shape):
    """Peak memory above du's, less 8 MiB and two of the widest listings (24-byte entries, 202-byte names)."""
    worst = max(r.kib(shape, t) for t in WIDE_THREADS)
    return (worst - r.kib(shape, "du -ab")) / 1024 - 8 - 2 * r.o.wide_entries * 226 / 2**20


def comb_ratio(r, levels, n, name):
    """The time on a comb under nofile n against du -s's under the same limit,
    or where du -s fails, under the lowest limit it gets through (marked '*');
    None where the command fails."""
    if r.failed(f"comb-{levels}-{n}", name):
        return None
    t = r.t(f"comb-{levels}-{n}", name)
    if not r.failed(f"comb-{levels}-{n}", "du -s"):
        return t / r.t(f"comb-{levels}-{n}", "du -s"), ""
    for m in sorted(r.o.comb_limits):
        if not r.failed(f"comb-{levels}-{m}", "du -s"):
            return t / r.t(f"comb-{levels}-{m}", "du -s"), "*"
    raise Missing("du -s under any limit")


def comb_worst(r, levels):
    """The worst ratio to du -s of space on a comb under any limit, and where."""
    worst = (-1, "")
    for n in r.o.comb_limits:
        for name, who in ("space threads=1", ", 1 thread"), ("space", ""):
            v = comb_ratio(r, levels, n, name)
            worst = max(worst, (1e9, f"fails nofile {n}{who}") if v is None else
                        (v[0], f"{v[0]:.2f}x{v[1]} nofile {n}{who}"))
    return worst


def best_fixed_pool(case):
    return lambda r: r.t(case, SF) / min(r.t(case, f"{SF} threads={n}") for n in (8, 16, 32))


T2, FASTER, MIB = SF + " threads=2", "{:.2f}x faster", "{:+.1f} MiB"
WIDE_DIRS, COMBS = (lambda o: o.wide_dirs), (lambda o: o.comb_depths)
GOALS = [
    Goal("", "warm main tree: `space -c0 -f` <= 0.60x floor", ratio("warm", SF, "floor"), at_most=0.60),
    Goal("", "warm main tree: `space -c0 -f` >= 2.2x faster than `du -ab`", faster("warm", SF, "du -ab"), FASTER,
         at_least=2.2),
    Goal("", "warm main tree: `SPACE_THREADS=2` <= 0.75x floor", ratio("warm", T2, "floor"), at_most=0.75),
    Goal("", "small tree: own pool no slower than one thread", ratio("small", SF, SF + " threads=1"),
         "{:.2f}x one thread", at_most=1),
    Goal("--cold", "cold main tree: `space -c0 -f` <= 0.40x floor", ratio("cold", SF, "floor"), at_most=0.40),
    Goal("--cold", "cold main tree: own pool <= 1.10x best of 8, 16, 32 threads", best_fixed_pool("cold"),
         at_most=1.10),
    Goal("--big", "warm big tree: `space -c0 -f` <= 0.65x floor", ratio("big-warm", SF, "floor"), at_most=0.65),
    Goal("--big", "big tree: `space -c0 -f` peak RSS <= `du -ab` + 8 MiB", mib_over("big", SF, "du -ab"), MIB,
         at_most=8),
    Goal("--big", "big tree: `space` peak RSS <= `du -sb` + 8 MiB", mib_over("big", "space", "du -sb"), MIB,
         at_most=8),
    Goal("--big --cold", "cold big tree: `space -c0 -f` <= 0.45x floor", ratio("big-cold", SF, "floor"),
         at_most=0.45),
    Goal("--big --cold", "cold big tree: own pool <= 1.10x best of 8, 16, 32 threads", best_fixed_pool("big-cold"),
         at_most=1.10),
    Goal("--fuse", "FUSE: `space -c0 -f` >= 25x faster than `du -ab`", faster("fuse", SF, "du -ab"),
         "{:.1f}x faster", at_least=25),
    Goal("--fuse", "FUSE: `space -c0 -f` faster than gdu", faster("fuse", SF, "gdu"), FASTER, above=1),
    Goal("--wide", "wide {}: peak RSS <= `du -ab` + 8 MiB + 2 listings", wide_memory_over, MIB, at_most=0,
         each=lambda o: ["siblings", "nested"]),
    Goal("--wide", "wide {} dirs, 2 threads: time <= 1.0x one thread", wide_time("2"), at_most=1, each=WIDE_DIRS),
    Goal("--wide", "wide {} dirs, own pool: time <= 1.0x one thread", wide_time("default"), at_most=1,
         each=WIDE_DIRS),
    Goal("--wide", "wide {} dirs, 2 threads: calls within 2% of one thread", wide_calls("2"), at_most=0.02,
         each=WIDE_DIRS),
    Goal("--wide", "wide {} dirs, own pool: calls within 2% of one thread", wide_calls("default"), at_most=0.02,
         each=WIDE_DIRS),
    Goal("--comb", "comb {} levels, any nofile and threads: <= 3x `du -s`", comb_worst, at_most=3, each=COMBS),
    Goal("--chain", "chain: stderr a terminal <= 1.1x stderr redirected",
         ratio("chain", "stderr a terminal", "stderr to /dev/null"), at_most=1.1),
    Goal("--busy", "two busy loops: own pool <= 1.05x `SPACE_THREADS=2`", ratio("busy", SF, T2), at_most=1.05),
    # spacemap
    Goal("--spacemap", "warm main tree: `spacemap -o` <= 1.15x `space -c0 -f`", ratio("warm", "spacemap -o", SF),
         at_most=1.15),
    Goal("--spacemap --big", "warm big tree: `spacemap -o` <= 1.15x `space -c0 -f`",
         ratio("big-warm", "spacemap -o", SF), at_most=1.15),
    Goal("--spacemap", "warm main tree: `spacemap -o` >= 2x faster than ncdu", faster("warm", "spacemap -o", "ncdu"),
         FASTER, at_least=2),
    Goal("--spacemap", "warm main tree: `spacemap -o` >= 2x faster than gdu", faster("warm", "spacemap -o", "gdu"),
         FASTER, at_least=2),
    Goal("--spacemap --big", "warm big tree: `spacemap -o` >= 2x faster than ncdu",
         faster("big-warm", "spacemap -o", "ncdu"), FASTER, at_least=2),
    Goal("--spacemap --big", "warm big tree: `spacemap -o` >= 2x faster than gdu",
         faster("big-warm", "spacemap -o", "gdu"), FASTER, at_least=2),
    Goal("--spacemap --fuse", "FUSE: `spacemap -o` >= 25x faster than ncdu", faster("fuse", "spacemap -o", "ncdu"),
         "{:.1f}x faster", at_least=25),
    Goal("--spacemap --big", "warm big tree: spacemap (sorted view) <= 1.3x `space -c0 -f`",
         ratio("big-warm", "spacemap", SF), at_most=1.3),
    Goal("--spacemap --big", "big tree: spacemap peak RSS <= half of `ncdu -f` browsing",
         lambda r: r.kib("big", "spacemap") / r.kib("big", "ncdu -f"), at_most=0.5),
    Goal("--spacemap --big", "big tree: `spacemap -o` peak RSS <= `space -c0 -f` + 4 MiB",
         mib_over("big", "spacemap -o", SF), MIB, at_most=4),
    Goal("--spacemap --big", "big tree: `spacemap -f EXPORT` <= 1.0 s", lambda r: r.t("import-big", "spacemap -f"),
         "{:.3f} s", at_most=1),
    Goal("--spacemap --big", "big tree: `spacemap -f` faster than `ncdu -f` to first screen",
         ratio("import-big", "spacemap -f", "ncdu -f"), below=1),
    Goal("--spacemap", "warm main tree: `spacemap -e -o` <= 1.05x `space -c0 -f`",
         ratio("views-main", "spacemap -e -o", SF), at_most=1.05),
    Goal("--spacemap --big", "warm big tree: `spacemap --largest 1000` <= 1.05x the sorted view",
         ratio("views-big", "spacemap --largest 1000", "spacemap"), at_most=1.05),
    Goal("--spacemap --big", "big tree: `spacemap --largest 1000` peak RSS <= `space -c0 -f` + 4 MiB",
         mib_over("big", "spacemap --largest 1000", SF), MIB, at_most=4),
    Goal("--spacemap --big", "warm big tree: `spacemap --types` <= 1.10x the sorted view",
         ratio("views-big", "spacemap --types", "spacemap"), at_most=1.10),
    Goal("--spacemap --big", "warm big tree: `spacemap -o x.zst` <= 1.15x the plain export",
         ratio("views-big", "spacemap -o .zst", "spacemap -o"), at_most=1.15),
    Goal("--spacemap --big", "big tree: import of the zstd export <= 1.2x the plain one",
         ratio("views-big", "spacemap -f .zst", "spacemap -f"), at_most=1.2),
    Goal("--spacemap --big", "big tree: treemap page <= 8 MB", lambda r: r.page("big")[0] / 1e6, "{:.2f} MB",
         at_most=8),
    Goal("--spacemap --big", "big tree: treemap page loaded within 2 s", lambda r: r.page("big")[1], "{:.3f} s",
         at_most=2),
]
