"""Running a case: hyperfine times it, GNU time takes peak memory (%M),
strace counts system calls; spacemap's export read back is timed against
ncdu reaching its first screen in tmux, and its page loaded in Chromium."""
import contextlib
import json
import os
import pathlib
import re
import shlex
import string
import subprocess
import sys
import time

from . import checks
from .cases import DROP_CACHES
from .results import note, stats
from .setup import REPO, busy_loops, have

TIME = "/usr/bin/time -f %M"


def wrap(command, *prefix):
    """command run under prefix: after its leading VAR=value words."""
    m = re.match(r"((?:\w+=\S*\s+)*)(.*)", command, re.S)
    return f"{m[1]}{' '.join(prefix)} {m[2]}"


def available(template):
    """Whether a command's program is installed (ours always are)."""
    program = next(w for w in template.split() if "=" not in w)
    return program.startswith("$") or have(program)


def shell(command, **kw):
    return subprocess.run(command, shell=True, stdout=subprocess.DEVNULL, **kw)


def run_case(c, o, r, work, fuse):
    """One case, step by step: its tree (mounted first for FUSE), the checks
    it asks for, the calls counted, the timed runs, peak memory."""
    tree = fuse.mount(c.tree.path) if c.tree.fuse else c.tree.path
    if tree is None:  # the FUSE cases are skipped, and said why
        return
    export = r.exports.get(c.tree.key, (0, 0, ""))[2]
    paths = dict(space=o.space, spacemap=o.spacemap_bin, floor=o.tools["floor"], tree=tree, export=export)
    cmds = {n: string.Template(t).substitute({k: shlex.quote(v) for k, v in paths.items()})
            for n, t in c.commands.items() if available(t)}
    if c.check == "rows":
        checks.check_space(o, r, tree, f"the {c.tree.key} tree", work)
        if o.spacemap and not c.tree.fuse:  # its export is read back on local trees only
            checks.check_spacemap(o, r, c.tree.key, tree, f"the {c.tree.key} tree", work)
    elif c.check == "clean":
        checks.run_quietly(r, [o.space, "-c0", "-t", tree], f"{work}/clean.out")
    if c.kind == "page":
        return page_case(c, o, r, tree, work)
    if c.kind == "import":
        if not export:
            return
        cmds = {n: cmd for n, cmd in cmds.items() if peak_memory(r, c.tree.key, {n: cmd}, work)}
    if c.calls:
        cmds = {n: cmd for n, cmd in cmds.items() if count_calls(c, r, n, cmd, work)}
    if c.memory == "runs":
        cmds = {n: wrap(cmd, TIME, "-a -o", shlex.quote(f"{work}/rss.{c.key}.{i}")) for i, (n, cmd) in
                enumerate(cmds.items())}
    if c.runs and cmds:
        args = ["--warmup", str(c.warmup)] * bool(c.warmup) + ["--prepare", DROP_CACHES] * c.cold
        note(f"{c.key} ({c.table or c.kind}): {c.runs} runs per command{', two busy loops running' * c.busy}")
        with busy_loops() if c.busy else contextlib.nullcontext():
            hyperfine(r, c.key, cmds, c.runs, args, work)
    if c.memory == "after":
        peak_memory(r, c.tree.key, cmds, work)
    elif c.memory == "runs":
        for i, name in enumerate(cmds):
            with contextlib.suppress(OSError, ValueError):
                r.memory[c.tree.key, name] = max(int(k) for k in open(f"{work}/rss.{c.key}.{i}").read().split()
                                                 if k.isdigit())
    if c.kind == "import" and have("ncdu"):
        ncdu_case(c, r, export, work)


def hyperfine(r, case, commands, runs, args, work):
    """Times commands ({name: shell command}), runs times each in all, in
    o.rounds rounds in which they take turns; files median, least and largest."""
    times, rounds = {name: [] for name in commands}, r.o.rounds
    for i in range(rounds):
        n = runs // rounds + (i < runs % rounds)  # the first rounds take the remainder
        if not n:
            continue
        if rounds > 1:
            note(f"round {i + 1} of {rounds}")
        argv = ["hyperfine", "--runs", str(n), "--export-json", f"{work}/hyperfine.json", *args]
        for name, command in commands.items():
            argv += ["-n", name, command]
        subprocess.run(argv, stdout=sys.stderr, check=True)
        for result in json.load(open(f"{work}/hyperfine.json"))["results"]:
            times[result["command"]] += result["times"]
    for name, t in times.items():
        r.times[case, name] = stats(t)


def peak_memory(r, tree, commands, work):
    """One run of each command under GNU time; False when one fails."""
    note(f"peak memory on the {tree} tree")
    ok = True
    for name, command in commands.items():
        p = shell(wrap(command, TIME, "-o", f"{work}/time.out"), stderr=subprocess.PIPE)
        if p.returncode:
            r.warn(f"'{command}' fails: {p.stderr[-300:].decode(errors='replace')}".replace("\n", " "))
            ok = False
        else:
            r.memory[tree, name] = int(open(f"{work}/time.out").read().split()[-1])
    return ok


def count_calls(c, r, name, command, work):
    """Files the calls of c.calls that command makes (strace -f -c), or None
    where it fails; False then, and it is not timed."""
    note(f"{c.key}: {name}: {c.calls} calls")
    p = shell(wrap(command, "strace -f -c -e", f"trace={c.calls}", "-o", f"{work}/strace.out", "--"),
              stderr=subprocess.PIPE)
    said = p.stderr[:300].decode(errors="replace").replace("\n", " ")
    complain = note if name in c.may_fail else r.warn
    if p.returncode:
        r.calls[c.key, name] = None
        complain(f"'{command}' fails: {said}")
        return False
    if said:
        complain(f"'{command}' wrote to standard error: {said}")
    counts = dict.fromkeys(c.calls.split(","), 0)
    for line in open(f"{work}/strace.out"):
        words = line.split()
        if len(words) >= 5 and words[-1] in counts and words[3].isdigit():
            counts[words[-1]] = int(words[3])
    r.calls[c.key, name] = counts
    return True


def ncdu_case(c, r, export, work):
    """ncdu -f reading the export to its first screen, after one warm-up."""
    note(f"{c.tree.key} tree's export read back: ncdu -f to its first screen, {c.runs} runs")
    rss, seconds = f"{work}/ncdu.rss", []
    for run in range(c.runs + 1):
        s = ncdu_screen(r, export, rss, work)
        if s is None:
            return
        seconds += [s] * bool(run)
    r.times[c.key, "ncdu -f"] = stats(seconds)
    r.memory[c.tree.key, "ncdu -f"] = max(int(k) for k in open(rss).read().split() if k.isdigit())


def ncdu_screen(r, export, rss, work):
    """Seconds from starting 'ncdu -f export' in a detached tmux session to its
    browser's status line (polled every 10 ms); it is then told to quit, and
    GNU time appends its peak memory to rss. None when it ends, shows an
    error (which waits for a key) or takes 10 minutes."""
    tmux = ["tmux", "-S", f"{work}/tmux"]
    start = time.monotonic()
    subprocess.run(tmux + ["new-session", "-d", "-s", "ncdu", "-x", "120", "-y", "40",
                           f"{TIME} -a -o {shlex.quote(rss)} ncdu -f {shlex.quote(export)}"], check=True)
    screen = ""
    while "Total disk usage:" not in screen:
        gone = subprocess.run(tmux + ["has-session", "-t", "ncdu"], stderr=subprocess.DEVNULL).returncode
        if "press any key to continue" in screen or gone or time.monotonic() - start > 600:
            subprocess.run(tmux + ["kill-session", "-t", "ncdu"], stderr=subprocess.DEVNULL)
            words = re.findall(r"[A-Za-z0-9][ -~]*[A-Za-z0-9.!]", screen)[:6]  # not its frames' line drawing
            return r.warn(f"'ncdu -f {export}' did not show its first screen; last seen: {' '.join(words)}")
        time.sleep(0.01)
        screen = subprocess.run(tmux + ["capture-pane", "-p", "-t", "ncdu"], capture_output=True,
                                text=True, errors="replace").stdout
    seconds = time.monotonic() - start
    subprocess.run(tmux + ["send-keys", "-t", "ncdu", "q"])
    while subprocess.run(tmux + ["has-session", "-t", "ncdu"], stderr=subprocess.DEVNULL).returncode == 0:
        time.sleep(0.05)
    return seconds


def page_case(c, o, r, tree, work):
    """spacemap's treemap page of tree, its size, and the seconds headless
    Chromium takes from navigating to it to its load event (which comes after
    the script that draws the first view), after one warm-up."""
    if "--html" not in subprocess.run([o.spacemap_bin, "--help"], capture_output=True, text=True).stdout:
        r.pages[c.tree.key] = f"not available (no --html in {o.spacemap_bin})"
        return
    if not have("chromium"):
        r.pages[c.tree.key] = "not available (no chromium)"
        return
    page = f"{work}/page-{c.tree.key}.html"
    checks.run_quietly(r, [o.spacemap_bin, "--html", page, tree], f"{work}/page.out")
    note(f"{c.tree.key} tree's treemap page: headless Chromium to the load event, {c.runs} runs")
    sys.path.insert(0, os.path.join(REPO, "tests", "page"))
    import cdp  # the browser tests' driver: Chromium over the DevTools protocol
    seconds = []
    try:
        browser = cdp.Browser()
        try:
            for run in range(c.runs + 1):
                browser.load("about:blank", 1280, 800)
                browser.load(pathlib.Path(page).as_uri(), 1280, 800)
                end = browser.eval("performance.getEntriesByType('navigation')[0].loadEventEnd")
                seconds += [end / 1000] * bool(run)
        finally:
            browser.close()
    except Exception as e:  # the browser's own failures, of which there are many kinds
        r.warn(f"Chromium could not load {page}: {e}")
        r.pages[c.tree.key] = "Chromium could not load it"
        return
    r.pages[c.tree.key] = (os.path.getsize(page), *stats(seconds))
