"""The checks before timing: a program that does not walk the tree it was
given, or prints other rows with more threads, would make its times mislead."""
import itertools
import subprocess

from .results import note


def run_quietly(r, argv, out):
    """Runs argv for 10 minutes at most, its standard output into out; a
    failure, a hang or any message on standard error is a warning."""
    label = " ".join(argv)
    try:
        with open(out, "wb") as f:
            p = subprocess.run(argv, stdout=f, stderr=subprocess.PIPE, timeout=600)
    except subprocess.TimeoutExpired:
        return r.warn(f"'{label}' did not finish within 10 minutes")
    if p.returncode:
        r.warn(f"'{label}' exited with status {p.returncode}")
    if p.stderr:
        r.warn(f"'{label}' wrote to standard error: {p.stderr[:300].decode(errors='replace')}".replace("\n", " "))


def floor_counts(o, tree):
    """Directories, other entries and apparent bytes under tree, as floor counts them."""
    words = subprocess.run([o.tools["floor"], tree], capture_output=True, text=True, check=True).stdout.split()
    return int(words[0]), int(words[2]), words[5]


def kept_rows(path):
    """The rows of an output but the free-space one, which may change between runs."""
    return (line for line in open(path, errors="replace") if not line.endswith(" free\n"))


def check_space(o, r, tree, what, work):
    """space prints a row per entry with -f, and one per directory without,
    plus at most a few header and total lines; the row of the start path has
    floor's byte total; the rows are the same whether one thread reads or many."""
    note(f"checking space's output on {what}")
    dirs, files, total = floor_counts(o, tree)
    out = f"{work}/check"
    for n in "1", "64", "default":
        run_quietly(r, ["env", f"SPACE_THREADS={n}"] * (n != "default") + [o.space, "-c0", "-f", tree], f"{out}.{n}")
    run_quietly(r, [o.space, tree], f"{out}.dirs")
    for label, path, want in (("space -c0 -f", "default", dirs + files), ("space", "dirs", dirs)):
        rows = sum(1 for _ in open(f"{out}.{path}", "rb"))
        if not want <= rows <= want + 10:
            r.warn(f"'{label} on {what}' printed {rows} lines for {want} rows expected; its timings are suspect")
    printed = next((words[0] for words in (line.split(None, 1) for line in kept_rows(f"{out}.default"))
                    if words[1:] == [tree + "\n"]), "nothing")
    if printed != total:
        r.warn(f"'space -c0 -f' on {what} totals {printed} bytes, floor {total}")
    for n in "64", "default":
        if any(a != b for a, b in itertools.zip_longest(kept_rows(f"{out}.1"), kept_rows(f"{out}.{n}"))):
            for k in "1", n:
                with open(f"{out}.{k}.kept", "w") as f:
                    f.writelines(kept_rows(f"{out}.{k}"))
            diff = subprocess.run(["diff", f"{out}.1.kept", f"{out}.{n}.kept"], capture_output=True, text=True)
            differ = sum(line.startswith(("<", ">")) for line in diff.stdout.splitlines())
            r.warn(f"'space -c0 -f' on {what} prints different rows with SPACE_THREADS=1 and "
                   f"SPACE_THREADS={n} ({differ} lines differ)")


def check_spacemap(o, r, key, tree, what, work):
    """spacemap's export of tree, kept for reading back, has an entry for
    every directory and file floor finds."""
    note(f"checking spacemap's export of {what}")
    dirs, files, _ = floor_counts(o, tree)
    export = f"{work}/export.{key}.json"
    run_quietly(r, [o.spacemap_bin, "-o", "-", tree], export)
    data = open(export, "rb").read()
    entries = data.count(b'{"name":')
    if entries != dirs + files:
        r.warn(f"'spacemap -o' on {what} exports {entries} entries, floor finds {dirs + files}; "
               "its timings are suspect")
    r.exports[key] = (entries, len(data), export)
