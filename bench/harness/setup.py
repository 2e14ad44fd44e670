"""Everything a run needs before it times anything, and undoes however it
ends: packages (apt-get), the builds of space and of the tools beside this
directory (floor, gentree, latencyfs), the trees, the FUSE mount and the
busy loops."""
import contextlib
import glob
import os
import shutil
import subprocess
import sys
import tempfile
import time

from .results import note

BENCH = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
REPO = os.path.dirname(BENCH)
SEED = 20240601


def die(message):
    sys.exit(f"bench/run: {message}")


def have(program):
    return shutil.which(program) is not None


def quiet(argv, **kw):
    return subprocess.run(argv, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, **kw).returncode == 0


# --- packages -----------------------------------------------------------------

_updated = False


def apt_install(packages):
    global _updated
    if os.geteuid() != 0:
        print(f"bench/run: not root, cannot install: {' '.join(packages)}", file=sys.stderr)
        return False
    env = {**os.environ, "DEBIAN_FRONTEND": "noninteractive"}
    update = lambda: quiet(["apt-get", "update", "-qq"], env=env)
    install = lambda: quiet(["apt-get", "install", "-y", "-qq", "--no-install-recommends", *packages], env=env)
    if not _updated and not glob.glob("/var/lib/apt/lists/*_Packages"):
        _updated = update()
    if install():
        return True
    if _updated:
        return False
    _updated = update()
    return install()


def install_missing(o):
    """Installs what the cases asked for need, or stops; then, where it can,
    the peers and FUSE, whose cases are left out without them."""
    need = {"hyperfine": "hyperfine", "cc": "gcc", "timeout": "coreutils", "/usr/bin/time": "time",
            "strace": "strace" * (o.wide or o.comb), "tmux": "tmux" * o.spacemap,
            "cmake": "cmake" * o.build, "c++": "g++" * o.build, "make": "make" * o.build}
    install([pkg for program, pkg in need.items() if pkg and not have(program)], required=True)
    for optional in ["gdu", "ncdu"] + ["chromium"] * o.spacemap:
        install([optional] * (not have(optional)))
    if o.fuse:
        install([pkg for pkg, there in (("fuse3", have("fusermount3")), ("pkg-config", have("pkg-config")),
                                        ("libfuse3-dev", quiet(["dpkg", "-s", "libfuse3-dev"]))) if not there])


def install(packages, required=False):
    if packages:
        note(f"installing {' '.join(packages)}")
        if not apt_install(packages):
            say = die if required else note
            say(f"could not install {' '.join(packages)}" + "; going on without" * (not required))


# --- builds -------------------------------------------------------------------

def build_space(o):
    if o.build:
        note(f"building space (release) in {o.build_dir}")
        for argv in (["cmake", "-S", REPO, "-B", o.build_dir, "-DCMAKE_BUILD_TYPE=Release", "-DBUILD_TESTING=OFF"],
                     ["cmake", "--build", o.build_dir, "-j2"]):
            subprocess.run(argv, stdout=subprocess.DEVNULL, check=True)
    if not os.access(o.space, os.X_OK):
        die(f"no space binary at {o.space} (build it, or set SPACE_BIN)")
    if o.spacemap and not os.access(o.spacemap_bin, os.X_OK):
        die(f"no spacemap binary at {o.spacemap_bin} (build it, or set SPACEMAP_BIN)")


def compile_tool(o, name, *flags):
    """The tool built from bench/NAME.c, rebuilt when its source is newer."""
    src, binary = os.path.join(BENCH, name + ".c"), os.path.join(o.build_dir, "bench-tools", name)
    if not os.path.exists(binary) or os.path.getmtime(src) > os.path.getmtime(binary):
        os.makedirs(os.path.dirname(binary), exist_ok=True)
        subprocess.run(["cc", "-O2", "-Wall", "-o", binary, src, *flags], check=True)
    return binary


# --- trees --------------------------------------------------------------------

def make_tree(o, tree):
    """Generates tree unless the stamp beside it says it is already as asked.
    Only a tree with a stamp of ours is ever removed."""
    if tree.make == "gentree":
        crc = subprocess.run(["cksum"], stdin=open(os.path.join(BENCH, "gentree.c")), capture_output=True,
                             text=True).stdout.split()[0]
        s = tree.size
        want = f"files={s['files']} dirs={s['dirs']} depth={s['depth']} seed={SEED} gentree={crc}"
    else:
        want = " ".join(f"{k}={v}" for k, v in tree.size.items())
    stamp = tree.path + ".stamp"
    if os.path.isfile(stamp) and open(stamp).read().strip() == want and os.path.isdir(tree.path):
        return note(f"reusing tree {tree.path} ({want})")
    if os.path.lexists(tree.path):
        if not os.path.isfile(stamp):
            die(f"{tree.path} exists and was not made by bench/run; remove it or pick another place")
        subprocess.run(["rm", "-rf", "--", tree.path], check=True)  # combs and chains outgrow PATH_MAX
    os.makedirs(os.path.dirname(tree.path), exist_ok=True)
    open(stamp, "w").write("incomplete\n")
    note(f"generating tree {tree.path} ({want})")
    if tree.make == "gentree":
        s = tree.size
        subprocess.run([o.tools["gentree"], tree.path, *map(str, (s["files"], s["dirs"], s["depth"], SEED))],
                       stdout=sys.stderr, check=True)
    else:
        globals()["make_" + tree.make](tree.path, **tree.size)
    open(stamp, "w").write(want + "\n")


def make_wide(path, dirs, entries, nested):
    """dirs directories of entries empty files with 200-byte names, side by
    side (dNN) or one level down (dNN/b)."""
    for d in range(dirs):
        where = os.path.join(path, "d%02d" % d, *(["b"] if nested else []))
        os.makedirs(where)
        for i in range(entries):
            os.close(os.open(os.path.join(where, "n%0200d" % i), os.O_CREAT | os.O_WRONLY, 0o644))


def descend(path, depth, names):
    """depth levels below path, each made of names, going on into the one
    listed first; built through descriptors, as the paths outgrow PATH_MAX.
    Returns how many levels went on into another name than the first."""
    os.mkdir(path)
    fd, other = os.open(path, os.O_RDONLY | os.O_DIRECTORY), 0
    for _ in range(depth):
        for name in names:
            os.mkdir(name, dir_fd=fd)
        first = os.listdir(fd)[0]
        other += first != names[0]
        below = os.open(first, os.O_RDONLY | os.O_DIRECTORY, dir_fd=fd)
        os.close(fd)
        fd = below
    os.close(fd)
    return other


def make_comb(path, depth):
    """Each level holds two directories, e and d: the comb goes on into the
    one listed first and leaves the other empty, so that every level still
    has an entry to read after all the levels below it."""
    into_d = descend(path, depth, ("e", "d"))  # e first: some file systems list in creation order
    if into_d:
        note(f"{path}: d is listed before e at {into_d} of {depth} levels; the comb goes on into d there")


def make_chain(path, depth, names):
    descend(path, depth, ("c" * names,))


# --- what runs while cases run ------------------------------------------------

class Fuse:
    """latencyfs mounted over a tree on a fresh directory, while cases need it."""

    def __init__(self, o, work):
        self.o, self.work, self.mnt, self.daemon, self.skipped = o, work, None, None, ""

    def mount(self, source):
        if self.mnt or self.skipped:
            return self.mnt
        why = ("no /dev/fuse" if not os.path.exists("/dev/fuse") else
               "fusermount3 is missing (package fuse3)" if not have("fusermount3") else
               "libfuse3 is missing (package libfuse3-dev)" if not quiet(["pkg-config", "--exists", "fuse3"]) else "")
        if not why:
            flags = subprocess.run(["pkg-config", "--cflags", "--libs", "fuse3"], capture_output=True,
                                   text=True).stdout.split()
            try:
                latencyfs = compile_tool(self.o, "latencyfs", *flags)
            except subprocess.CalledProcessError:
                why = "bench/latencyfs.c does not build"
        if why:
            self.skipped = why
            return note(f"skipping the FUSE cases: {why}")
        self.mnt = tempfile.mkdtemp(prefix="space-bench-mnt.")
        note(f"mounting latencyfs ({self.o.fuse_delay_us} us per request) on {self.mnt}")
        log = os.path.join(self.work, "latencyfs.log")
        self.daemon = subprocess.Popen([latencyfs, source, self.mnt, "--delay-us", str(self.o.fuse_delay_us), "-f",
                                        "-o", "ro,fsname=latencyfs,subtype=latencyfs"],
                                       stdout=open(log, "w"), stderr=subprocess.STDOUT,
                                       start_new_session=True)  # ^C is for us: we unmount
        for _ in range(100):
            if os.path.ismount(self.mnt):
                return self.mnt
            if self.daemon.poll() is not None:
                break
            time.sleep(0.1)
        self.skipped = "mounting failed: " + open(log).read().replace("\n", " ")
        note(f"skipping the FUSE cases: {self.skipped}")
        self.unmount()

    def unmount(self):
        if self.mnt and os.path.ismount(self.mnt):
            quiet(["fusermount3", "-u", self.mnt]) or quiet(["umount", "-l", self.mnt]) or print(
                f"bench/run: could not unmount {self.mnt}", file=sys.stderr)
        if self.daemon:
            try:
                self.daemon.wait(5)
            except subprocess.TimeoutExpired:
                self.daemon.kill()
                self.daemon.wait()
            self.daemon = None
        if self.mnt and not os.path.ismount(self.mnt):
            with contextlib.suppress(OSError):
                os.rmdir(self.mnt)
        self.mnt = None


@contextlib.contextmanager
def busy_loops(n=2):
    loops = [subprocess.Popen(["sh", "-c", "while :; do :; done"]) for _ in range(n)]
    try:
        yield
    finally:
        for p in loops:
            p.kill()
            p.wait()
