/*
 * latencyfs: a read-only pass-through FUSE file system that waits a fixed
 * time before answering each request, like a file server far away.
 *
 *   latencyfs SOURCE MOUNTPOINT [--delay-us N] [--threads N] [FUSE options]
 *
 * Every request that reaches the daemon (lookup, getattr, opendir, readdir,
 * releasedir, open, read, readlink, statfs, ...) sleeps N microseconds (default
 * 1000) and is then answered from SOURCE. The kernel is told to cache
 * nothing: entries, attributes and negative lookups expire at once, directory
 * listings are not cached and readdirplus is off, so every stat() of a walk
 * costs at least one round trip. Requests are served by many threads, so
 * concurrent requests wait concurrently, as on a network file system (up to
 * --threads at once, default 128; -s serves one at a time).
 *
 * Build: cc -O2 -o latencyfs latencyfs.c $(pkg-config --cflags --libs fuse3)
 */
#define FUSE_USE_VERSION 312
#define _GNU_SOURCE
#include <fuse.h>
#include <fuse_lowlevel.h>

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <stddef.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

static struct {
    const char *source;
    unsigned delay_us;
    unsigned threads;
    int source_fd;
} opt = {NULL, 1000, 128, -1};

/* Sleeps until the delay has passed, however often a signal interrupts. */
static void wait_a_while(void)
{
    struct timespec until;
    clock_gettime(CLOCK_MONOTONIC, &until);
    until.tv_nsec += (long)(opt.delay_us % 1000000) * 1000;
    until.tv_sec += opt.delay_us / 1000000 + until.tv_nsec / 1000000000;
    until.tv_nsec %= 1000000000;
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &until, NULL) == EINTR) {
    }
}

/* FUSE paths start with '/'; openat() wants them relative to the source. */
static const char *rel(const char *path)
{
    while (*path == '/')
        path++;
    return *path ? path : ".";
}

static void *lfs_init(struct fuse_conn_info *conn, struct fuse_config *cfg)
{
    conn->want &= ~(unsigned)(FUSE_CAP_READDIRPLUS | FUSE_CAP_READDIRPLUS_AUTO);
    cfg->entry_timeout = 0;
    cfg->attr_timeout = 0;
    cfg->negative_timeout = 0;
    cfg->use_ino = 1;
    cfg->readdir_ino = 1;
    cfg->kernel_cache = 0;
    cfg->auto_cache = 0;
    return NULL;
}

static int lfs_getattr(const char *path, struct stat *st, struct fuse_file_info *fi)
{
    wait_a_while();
    int r = fi ? fstat((int)fi->fh, st)
               : fstatat(opt.source_fd, rel(path), st, AT_SYMLINK_NOFOLLOW | AT_EMPTY_PATH);
    return r == 0 ? 0 : -errno;
}

static int lfs_readlink(const char *path, char *buf, size_t size)
{
    wait_a_while();
    if (size == 0)
        return -EINVAL;
    ssize_t n = readlinkat(opt.source_fd, rel(path), buf, size - 1);
    if (n < 0)
        return -errno;
    buf[n] = '\0';
    return 0;
}

static int lfs_opendir(const char *path, struct fuse_file_info *fi)
{
    wait_a_while();
    int fd = openat(opt.source_fd, rel(path), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -errno;
    DIR *d = fdopendir(fd);
    if (!d) {
        int e = errno;
        close(fd);
        return -e;
    }
    fi->fh = (uint64_t)(uintptr_t)d;
    fi->cache_readdir = 0;
    fi->keep_cache = 0;
    return 0;
}

static int lfs_readdir(const char *path, void *buf, fuse_fill_dir_t filler, off_t offset,
                       struct fuse_file_info *fi, enum fuse_readdir_flags flags)
{
    (void)path;
    (void)flags;
    wait_a_while();
    DIR *d = (DIR *)(uintptr_t)fi->fh;
    if (offset == 0)
        rewinddir(d);
    else
        seekdir(d, offset);
    for (;;) {
        errno = 0;
        struct dirent *e = readdir(d);
        if (!e)
            return errno ? -errno : 0;
        struct stat st;
        memset(&st, 0, sizeof st);
        st.st_ino = e->d_ino;
        st.st_mode = (mode_t)DTTOIF(e->d_type);
        if (filler(buf, e->d_name, &st, telldir(d), 0))
            return 0; /* the reply is full; the kernel asks again from here */
    }
}

static int lfs_releasedir(const char *path, struct fuse_file_info *fi)
{
    (void)path;
    wait_a_while();
    closedir((DIR *)(uintptr_t)fi->fh);
    return 0;
}

static int lfs_open(const char *path, struct fuse_file_info *fi)
{
    wait_a_while();
    if ((fi->flags & O_ACCMODE) != O_RDONLY)
        return -EROFS;
    int fd = openat(opt.source_fd, rel(path), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return -errno;
    fi->fh = (uint64_t)fd;
    fi->keep_cache = 0;
    return 0;
}

static int lfs_read(const char *path, char *buf, size_t size, off_t off, struct fuse_file_info *fi)
{
    (void)path;
    wait_a_while();
    ssize_t n = pread((int)fi->fh, buf, size, off);
    return n < 0 ? -errno : (int)n;
}

static int lfs_release(const char *path, struct fuse_file_info *fi)
{
    (void)path;
    wait_a_while();
    close((int)fi->fh);
    return 0;
}

static int lfs_statfs(const char *path, struct statvfs *sv)
{
    (void)path;
    wait_a_while();
    return fstatvfs(opt.source_fd, sv) == 0 ? 0 : -errno;
}

static int lfs_access(const char *path, int mask)
{
    wait_a_while();
    return faccessat(opt.source_fd, rel(path), mask, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : -errno;
}

static const struct fuse_operations ops = {
    .init = lfs_init,
    .getattr = lfs_getattr,
    .readlink = lfs_readlink,
    .opendir = lfs_opendir,
    .readdir = lfs_readdir,
    .releasedir = lfs_releasedir,
    .open = lfs_open,
    .read = lfs_read,
    .release = lfs_release,
    .statfs = lfs_statfs,
    .access = lfs_access,
};

static void usage(FILE *to)
{
    fputs("usage: latencyfs SOURCE MOUNTPOINT [--delay-us N] [--threads N] [FUSE options]\n"
          "  FUSE options: -f (foreground), -s (one thread), -o ro,fsname=NAME,...\n", to);
}

static int number(const char *what, const char *text, unsigned long max, unsigned *out)
{
    char *end;
    errno = 0;
    unsigned long n = strtoul(text, &end, 10);
    if (errno || end == text || *end || n > max) {
        fprintf(stderr, "latencyfs: bad %s '%s'\n", what, text);
        return -1;
    }
    *out = (unsigned)n;
    return 0;
}

int main(int argc, char **argv)
{
    /* Takes SOURCE, --delay-us and --threads out of the arguments; FUSE
     * parses the rest. */
    char **rest = calloc((size_t)argc + 1, sizeof *rest);
    int nrest = 0;
    if (!rest)
        return 1;
    rest[nrest++] = argv[0];
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--delay-us") == 0 && i + 1 < argc) {
            if (number("delay", argv[++i], 10000000, &opt.delay_us))
                return 2;
        } else if (strcmp(argv[i], "--threads") == 0 && i + 1 < argc) {
            if (number("thread count", argv[++i], 100000, &opt.threads) || opt.threads == 0)
                return 2;
        } else if (strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "--help") == 0) {
            usage(stdout);
            return 0;
        } else if (!opt.source && argv[i][0] != '-') {
            opt.source = argv[i];
        } else {
            rest[nrest++] = argv[i];
        }
    }

    struct fuse_args args = FUSE_ARGS_INIT(nrest, rest);
    struct fuse_cmdline_opts o;
    if (fuse_parse_cmdline(&args, &o) != 0)
        return 2;
    if (!opt.source || !o.mountpoint) {
        usage(stderr);
        return 2;
    }
    opt.source_fd = open(opt.source, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (opt.source_fd < 0) {
        fprintf(stderr, "latencyfs: %s: %s\n", opt.source, strerror(errno));
        return 1;
    }

    int status = 1;
    struct fuse *fs = fuse_new(&args, &ops, sizeof ops, NULL);
    if (!fs)
        goto out;
    if (fuse_mount(fs, o.mountpoint) != 0)
        goto out_destroy;
    if (fuse_daemonize(o.foreground) != 0)
        goto out_unmount;
    struct fuse_session *se = fuse_get_session(fs);
    if (fuse_set_signal_handlers(se) != 0)
        goto out_unmount;
    if (o.singlethread) {
        status = fuse_loop(fs) ? 1 : 0;
    } else {
        /* Every thread may sit in its delay at the same moment; keep them
         * all instead of starting and stopping threads as the load moves. */
        struct fuse_loop_config *cfg = fuse_loop_cfg_create();
        fuse_loop_cfg_set_max_threads(cfg, opt.threads);
        fuse_loop_cfg_set_idle_threads(cfg, opt.threads);
        status = fuse_loop_mt(fs, cfg) ? 1 : 0;
        fuse_loop_cfg_destroy(cfg);
    }
    fuse_remove_signal_handlers(se);
out_unmount:
    fuse_unmount(fs);
out_destroy:
    fuse_destroy(fs);
out:
    free(o.mountpoint);
    fuse_opt_free_args(&args);
    free(rest);
    return status;
}
