"""What a run measured, filed by case and command, and its warnings."""
import sys


class Missing(Exception):
    """A figure the run did not measure: its case did not run or failed."""


class Results:
    def __init__(self, options):
        self.o = options
        self.times = {}     # (case, command): (median, least, largest) seconds
        self.memory = {}    # (tree, command): peak resident KiB
        self.calls = {}     # (case, command): {syscall: count}, or None where it failed
        self.exports = {}   # tree: (entries, bytes, path) of spacemap's export
        self.pages = {}     # tree: (bytes, median, least, largest) or why not
        self.warnings = []

    def t(self, case, command):
        return self._get(self.times, case, command)[0]

    def kib(self, tree, command):
        return self._get(self.memory, tree, command)

    def count(self, case, command, syscall):
        return self._get(self.calls, case, command)[syscall]

    def failed(self, case, command):
        """Whether command failed where its calls were counted."""
        if (case, command) not in self.calls:
            raise Missing((case, command))
        return self.calls[case, command] is None

    def page(self, tree):
        if not isinstance(self.pages.get(tree), tuple):
            raise Missing(tree)
        return self.pages[tree]

    @staticmethod
    def _get(table, *key):
        if table.get(key) is None:
            raise Missing(key)
        return table[key]

    def warn(self, message):
        self.warnings.append(message)
        print(f"bench/run: warning: {message}", file=sys.stderr)


def note(message):
    print(f"==> {message}", file=sys.stderr)


def stats(values):
    """The median, least and largest of values."""
    v, n = sorted(values), len(values)
    return ((v[n // 2] if n % 2 else (v[n // 2 - 1] + v[n // 2]) / 2), v[0], v[-1])
