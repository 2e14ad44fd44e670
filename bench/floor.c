/*
 * floor: the least work any disk-usage walker has to do, as a yardstick.
 *
 *   floor DIR
 *
 * Opens every directory relative to its parent's descriptor, reads its
 * entries with raw getdents64 into a large buffer, and fstatat()s every
 * entry that is not a directory (and those whose type the file system does
 * not report) relative to the directory's descriptor. It sums apparent and
 * allocated sizes and prints one line of totals; no per-entry output, no
 * hard-link bookkeeping, no sorting, no formatting.
 */
#define _GNU_SOURCE
#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

struct linux_dirent64 {
    uint64_t d_ino;
    int64_t d_off;
    unsigned short d_reclen;
    unsigned char d_type;
    char d_name[];
};

enum { BUF_SIZE = 256 * 1024 };

static struct {
    unsigned long long dirs, files, bytes, blocks;
    int errors;
} total;

/* One buffer per recursion level, kept for reuse. */
static char **buffers;
static size_t nbuffers;

static char *buffer_for(size_t level)
{
    if (level >= nbuffers) {
        size_t n = nbuffers ? nbuffers * 2 : 16;
        while (n <= level)
            n *= 2;
        buffers = realloc(buffers, n * sizeof *buffers);
        if (!buffers) {
            fputs("floor: out of memory\n", stderr);
            exit(1);
        }
        memset(buffers + nbuffers, 0, (n - nbuffers) * sizeof *buffers);
        nbuffers = n;
    }
    if (!buffers[level] && !(buffers[level] = malloc(BUF_SIZE))) {
        fputs("floor: out of memory\n", stderr);
        exit(1);
    }
    return buffers[level];
}

static void complain(const char *what, const char *name)
{
    fprintf(stderr, "floor: %s %s: %s\n", what, name, strerror(errno));
    total.errors++;
}

static void walk(int dirfd, size_t level);

static void visit_dir(int parentfd, const char *name, size_t level)
{
    int fd = openat(parentfd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        complain("open", name);
        return;
    }
    walk(fd, level);
    close(fd);
}

static int is_dot_or_dotdot(const char *n)
{
    return n[0] == '.' && (n[1] == '\0' || (n[1] == '.' && n[2] == '\0'));
}

static void visit_entry(int dirfd, const struct linux_dirent64 *e, size_t level)
{
    if (is_dot_or_dotdot(e->d_name))
        return;
    if (e->d_type == DT_DIR) {
        visit_dir(dirfd, e->d_name, level + 1);
        return;
    }
    struct stat st;
    if (fstatat(dirfd, e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) {
        complain("stat", e->d_name);
        return;
    }
    if (S_ISDIR(st.st_mode)) { /* only reachable through DT_UNKNOWN */
        visit_dir(dirfd, e->d_name, level + 1);
        return;
    }
    total.files++;
    total.bytes += (unsigned long long)st.st_size;
    total.blocks += (unsigned long long)st.st_blocks;
}

static void walk(int dirfd, size_t level)
{
    char *buf = buffer_for(level);
    total.dirs++;
    for (;;) {
        long n = syscall(SYS_getdents64, dirfd, buf, BUF_SIZE);
        if (n == 0)
            return;
        if (n < 0) {
            complain("read directory at level", level ? "below the root" : "root");
            return;
        }
        for (long off = 0; off < n;) {
            const struct linux_dirent64 *e = (const void *)(buf + off);
            off += e->d_reclen;
            visit_entry(dirfd, e, level);
        }
    }
}

int main(int argc, char **argv)
{
    if (argc != 2) {
        fputs("usage: floor DIR\n", stderr);
        return 2;
    }
    int fd = open(argv[1], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        complain("open", argv[1]);
        return 1;
    }
    walk(fd, 0);
    close(fd);
    printf("%llu directories, %llu other entries, %llu bytes apparent, %llu bytes allocated\n",
           total.dirs, total.files, total.bytes, total.blocks * 512ULL);
    return total.errors ? 1 : 0;
}
