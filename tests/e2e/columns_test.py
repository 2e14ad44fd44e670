"""The report's layout: columns, widths, separators, headings and the free row."""
import itertools
import os
import unittest

from harness import TreeTest, clusters

FILES = {"a": 5000, "d/b": 100, "d/e": 0}
DIRECTORY_FILES = ("d/b", "d/e")


def field_width(width, grouped):
    return width + (width - 1) // 3 if grouped else width


def field(value, width, grouped):
    text = "{:,}".format(value) if grouped else str(value)
    return text.rjust(field_width(width, grouped))


class Layout:
    """The columns that options `flags` show when counting in clusters of
    `cluster_size` bytes: (key, title, nominal width) each, in order."""

    def __init__(self, flags, cluster_size):
        self.grouped = "C" in flags
        self.columns = [("clusters", "clusts", 6 if cluster_size >= 4295 else 10)]
        wanted = (("s", "allocated", "amounts", 10, True), ("b", "bytes", "bytes", 10, False),
                  ("g", "gap", "gap", 10, True), ("n", "files", "files", 6, False))
        for flag, key, title, width, needs_clusters in wanted:
            if flag in flags and (cluster_size or not needs_clusters):
                self.columns.append((key, title, width))

    def row(self, values, text, blank=()):
        fields = [" " * field_width(width, self.grouped) if key in blank
                  else field(values[key], width, self.grouped)
                  for key, _, width in self.columns]
        return " ".join(fields) + "   " + text

    def titles(self):
        return " ".join(title.rjust(field_width(width, self.grouped)) for _, title, width in self.columns)

    def dashes(self):
        return " ".join("-" * field_width(width, self.grouped) for _, _, width in self.columns)


def figures(sizes, cluster_size):
    count = sum(clusters(size, cluster_size) for size in sizes)
    allocated = count * cluster_size
    total = sum(sizes)
    return {"clusters": count, "allocated": allocated, "bytes": total,
            "gap": allocated - total, "files": len(sizes)}


def flag_sets():
    """Every combination of the column options and -C."""
    for chosen in itertools.product(("", "s"), ("", "b"), ("", "g"), ("", "n"), ("", "C")):
        yield "".join(chosen)


class ColumnLayoutTest(TreeTest):
    """Rows and headings through every combination of column options."""

    def setUp(self):
        super().setUp()
        for name, size in FILES.items():
            self.file(name, size)
        self.fragment = os.statvfs(self.root).f_frsize

    def effective_cluster_size(self, flags, asked):
        # An explicit 0 gives way to the drive's own size when the allocated
        # or gap column is wanted.
        return self.fragment if asked == 0 and ("s" in flags or "g" in flags) else asked

    def expected_rows(self, layout, cluster_size):
        rows = [layout.row(figures([FILES[name]], cluster_size), "./" + name) for name in FILES]
        rows.append(layout.row(figures([FILES[name] for name in DIRECTORY_FILES], cluster_size), "./d/"))
        return sorted(rows)

    def check_report(self, flags, asked):
        cluster_size = self.effective_cluster_size(flags, asked)
        layout = Layout(flags, cluster_size)
        result = self.space("-fh" + flags, "-c%d" % asked)
        lines = result.rows()
        preamble = ["%d bytes per cluster" % cluster_size] if cluster_size else []
        self.assertEqual(lines[:len(preamble) + 2], preamble + [layout.titles(), layout.dashes()])
        rows = lines[len(preamble) + 2:]
        self.assertEqual(sorted(rows[:-2]), self.expected_rows(layout, cluster_size))
        self.assertEqual(rows[-2], layout.row(figures(list(FILES.values()), cluster_size), "."))
        self.assertFreeRowLayout(rows[-1], layout)
        self.assertEqual((result.status, result.stderr), (0, ""))

    def assertFreeRowLayout(self, line, layout):
        """The free row shows its numbers in the row's columns and leaves the
        gap and files columns blank at their full width."""
        shown = [key for key, _, _ in layout.columns if key not in ("gap", "files")]
        numbers = [int(token.replace(",", "")) for token in line.split()[:-1]]
        self.assertEqual(len(numbers), len(shown), line)
        values = dict(zip(shown, numbers))
        self.assertEqual(line, layout.row(values, "free", blank=("gap", "files")))

    def test_every_combination_of_columns(self):
        for flags in flag_sets():
            for asked in (4096, 8192, 0):
                with self.subTest(flags=flags, cluster_size=asked):
                    self.check_report(flags, asked)

    def test_clusters_column_narrows_from_4295_bytes_per_cluster(self):
        for flags in ("", "C", "bn"):
            for asked in (4294, 4295):
                with self.subTest(flags=flags, cluster_size=asked):
                    self.check_report(flags, asked)


class HeadingTest(TreeTest):
    """Headings stand over their columns; a few cases spelled out."""

    def test_headings_spelled_out(self):
        self.file("a", 5000)
        for args, titles, dashes in (
                (("-h", "-c4096"), "    clusts", "-" * 10),
                (("-hbn", "-c4096"), "    clusts      bytes  files", "---------- ---------- ------"),
                (("-hbnC", "-c4096"), "       clusts         bytes   files",
                 "------------- ------------- -------"),
                (("-h", "-c8192"), "clusts", "-" * 6),
                (("-hC", "-c8192"), " clusts", "-" * 7)):
            with self.subTest(args=args):
                lines = self.space(*args).rows()
                self.assertEqual(lines[1:3], [titles, dashes])

    def test_headings_come_first_when_bytes_are_counted(self):
        self.file("a", 5000)
        lines = self.space("-hb", "-c0").rows()
        self.assertEqual(lines[:3], ["    clusts      bytes", "---------- ----------",
                                     "      5000       5000   ."])


class FreeRowTest(TreeTest):
    """The free row re-expresses the file system's free bytes in clusters of
    the counting size, rounding down."""

    def test_free_space_in_counting_clusters(self):
        for asked in (4096, 8192, 1000, 0):
            with self.subTest(cluster_size=asked):
                result, bounds = self.run_with_free("-sb" if asked else "-b", "-c%d" % asked)
                numbers, text = result.usage_rows(3 if asked else 2)[-1]
                self.assertEqual(text, "free")
                if asked:
                    count, allocated, free = numbers
                    self.assertEqual((count, allocated), (free // asked, free // asked * asked))
                else:
                    count, free = numbers
                    self.assertEqual(count, free)
                self.assertFreeBytes(free, bounds)


class WholeReportTest(TreeTest):
    """A whole run with headings, bytes and files columns."""

    def test_report_with_headings_bytes_and_files(self):
        self.file("a.txt", 5000)
        self.file("src/b.c", 100)
        result, bounds = self.run_with_free("-hbn", "-c4096")
        lines = result.rows()
        self.assertEqual(lines[:-1], [
            "4096 bytes per cluster",
            "    clusts      bytes  files",
            "---------- ---------- ------",
            "         1        100      1   ./src",
            "         3       5100      2   .",
        ])
        count, free = (int(token) for token in lines[-1].split()[:2])
        self.assertEqual(lines[-1], "%10d %10d %6s   free" % (count, free, ""))
        self.assertEqual(count, free // 4096)
        self.assertFreeBytes(free, bounds)
        self.assertEqual((result.status, result.stderr), (0, ""))


if __name__ == "__main__":
    unittest.main()
