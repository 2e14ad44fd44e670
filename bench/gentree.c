/*
 * gentree: build a deterministic synthetic directory tree for benchmarks.
 *
 *   gentree ROOT FILES DIRS DEPTH [SEED]
 *
 * ROOT must not exist yet. DIRS counts ROOT itself; no directory lies more
 * than DEPTH levels below ROOT. Every file is sparse (created and then
 * ftruncate'd, no data written), so a tree with gigabytes of apparent size
 * costs little more than its inodes.
 *
 * The shape comes from a fixed 64-bit LCG, so the same arguments always give
 * the same tree: each directory hangs under a random earlier one (a random
 * recursive tree, capped at DEPTH), most files land in a random directory and
 * one in sixteen goes to one of four "hot" directories, which end up with a
 * few thousand entries each.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

static uint64_t rng_state;

static uint32_t rnd(void)
{
    rng_state = rng_state * 6364136223846793005ULL + 1442695040888963407ULL;
    return (uint32_t)(rng_state >> 33);
}

static const off_t sizes[] = {0, 1, 100, 4095, 4096, 4097, 50000, 1048576};

static const char *dir_stems[] = {
    "src", "lib", "include", "docs", "test", "assets", "x",
    "a_rather_long_directory_name_used_for_testing",
};

static const char *file_stems[] = {
    "main", "README", "index", "a", "config", "data_chunk",
    "a_very_long_file_name_that_makes_directory_entries_bigger",
};

static const char *file_exts[] = {".c", ".h", ".txt", ".json", ".bin", "", ".tar.gz"};

#define COUNT(a) (sizeof(a) / sizeof((a)[0]))

static void die(const char *what, const char *arg)
{
    fprintf(stderr, "gentree: %s %s: %s\n", what, arg ? arg : "", strerror(errno));
    exit(1);
}

static void *xmalloc(size_t n)
{
    void *p = malloc(n ? n : 1);
    if (!p) {
        fputs("gentree: out of memory\n", stderr);
        exit(1);
    }
    return p;
}

static unsigned long parse_count(const char *s, const char *what)
{
    char *end;
    errno = 0;
    unsigned long v = strtoul(s, &end, 10);
    if (errno || *s == '\0' || *end != '\0') {
        fprintf(stderr, "gentree: bad %s: %s\n", what, s);
        exit(2);
    }
    return v;
}

/* Pick a parent for every directory but the root; return the deepest level. */
static unsigned plan_dirs(unsigned long ndirs, unsigned maxdepth,
                          unsigned long *parent, unsigned *depth)
{
    unsigned deepest = 0;
    depth[0] = 0;
    for (unsigned long i = 1; i < ndirs; i++) {
        unsigned long p = rnd() % i;
        while (depth[p] >= maxdepth)
            p = parent[p]; /* climb until a child is allowed there */
        parent[i] = p;
        depth[i] = depth[p] + 1;
        if (depth[i] > deepest)
            deepest = depth[i];
    }
    return deepest;
}

/* Relative path of every directory below ROOT ("." for ROOT itself). */
static char **make_dir_paths(unsigned long ndirs, const unsigned long *parent)
{
    char **path = xmalloc(ndirs * sizeof *path);
    path[0] = strdup(".");
    for (unsigned long i = 1; i < ndirs; i++) {
        const char *stem = dir_stems[rnd() % COUNT(dir_stems)];
        const char *up = parent[i] == 0 ? "" : path[parent[i]];
        size_t n = strlen(up) + strlen(stem) + 32;
        path[i] = xmalloc(n);
        snprintf(path[i], n, "%s%s%s_%lu", up, *up ? "/" : "", stem, i);
    }
    return path;
}

static void make_dirs(int rootfd, unsigned long ndirs, char **path)
{
    for (unsigned long i = 1; i < ndirs; i++)
        if (mkdirat(rootfd, path[i], 0755) != 0)
            die("mkdir", path[i]);
}

/* Choose each file's directory, then group files by directory (counting sort). */
static unsigned long *place_files(unsigned long nfiles, unsigned long ndirs,
                                  unsigned long *first)
{
    unsigned long hot[4] = {ndirs / 7, ndirs / 3, ndirs / 2, ndirs * 5 / 6};
    unsigned long *dir_of = xmalloc(nfiles * sizeof *dir_of);
    unsigned long *order = xmalloc(nfiles * sizeof *order);

    memset(first, 0, (ndirs + 1) * sizeof *first);
    for (unsigned long j = 0; j < nfiles; j++) {
        dir_of[j] = rnd() % 16 == 0 ? hot[rnd() % 4] : rnd() % ndirs;
        first[dir_of[j] + 1]++;
    }
    for (unsigned long d = 0; d < ndirs; d++)
        first[d + 1] += first[d];
    unsigned long *fill = xmalloc(ndirs * sizeof *fill);
    memcpy(fill, first, ndirs * sizeof *fill);
    for (unsigned long j = 0; j < nfiles; j++)
        order[fill[dir_of[j]]++] = j;
    free(fill);
    free(dir_of);
    return order;
}

static void make_file(int dirfd, unsigned long j)
{
    char name[128];
    snprintf(name, sizeof name, "%s_%lu%s", file_stems[rnd() % COUNT(file_stems)], j,
             file_exts[rnd() % COUNT(file_exts)]);
    off_t size = sizes[rnd() % COUNT(sizes)];
    int fd = openat(dirfd, name, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0)
        die("create", name);
    if (size > 0 && ftruncate(fd, size) != 0)
        die("truncate", name);
    close(fd);
}

static void make_files(int rootfd, unsigned long ndirs, char **path,
                       const unsigned long *first, const unsigned long *order)
{
    for (unsigned long d = 0; d < ndirs; d++) {
        if (first[d] == first[d + 1])
            continue;
        int dirfd = openat(rootfd, path[d], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (dirfd < 0)
            die("open", path[d]);
        for (unsigned long k = first[d]; k < first[d + 1]; k++)
            make_file(dirfd, order[k]);
        close(dirfd);
    }
}

int main(int argc, char **argv)
{
    if (argc < 5 || argc > 6) {
        fputs("usage: gentree ROOT FILES DIRS DEPTH [SEED]\n", stderr);
        return 2;
    }
    const char *root = argv[1];
    unsigned long nfiles = parse_count(argv[2], "file count");
    unsigned long ndirs = parse_count(argv[3], "directory count");
    unsigned long maxdepth = parse_count(argv[4], "depth");
    rng_state = argc == 6 ? parse_count(argv[5], "seed") : 20240601;
    if (ndirs < 1)
        ndirs = 1;
    if (maxdepth < 1 && ndirs > 1) {
        fputs("gentree: depth must be at least 1 when there is more than one directory\n",
              stderr);
        return 2;
    }

    if (mkdir(root, 0755) != 0)
        die("mkdir", root);
    int rootfd = open(root, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (rootfd < 0)
        die("open", root);

    unsigned long *parent = xmalloc(ndirs * sizeof *parent);
    unsigned *depth = xmalloc(ndirs * sizeof *depth);
    unsigned deepest = plan_dirs(ndirs, (unsigned)maxdepth, parent, depth);
    char **path = make_dir_paths(ndirs, parent);
    make_dirs(rootfd, ndirs, path);

    unsigned long *first = xmalloc((ndirs + 1) * sizeof *first);
    unsigned long *order = place_files(nfiles, ndirs, first);
    make_files(rootfd, ndirs, path, first, order);

    printf("%lu files, %lu directories, deepest directory %u levels below the root\n",
           nfiles, ndirs, deepest);
    return 0;
}
