"""The goals: judged from what a run measured, and shown in the README as defined."""
import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
from harness import cases, cli, goals  # noqa: E402
from harness.results import Results  # noqa: E402

SF = cases.SF


def results(argv=(), times=(), calls=()):
    r = Results(cli.parse(list(argv), {}))
    r.times.update({k: (v, v, v) for k, v in dict(times).items()})
    r.calls.update(dict(calls))
    return r


def judged(r):
    return {text: (shown, ok) for text, shown, ok in goals.check(cases.GOALS, r)}


class GoalsTest(unittest.TestCase):
    def test_judged_only_from_what_was_measured(self):
        got = judged(results(times={("warm", SF): 0.5, ("warm", "floor"): 1.0, ("warm", "du -ab"): 1.5}))
        self.assertEqual(got, {"warm main tree: space -c0 -f <= 0.60x floor": ("0.50x", True),
                               "warm main tree: space -c0 -f >= 2.2x faster than du -ab": ("3.00x faster", True)})
        got = judged(results(times={("warm", SF): 0.7, ("warm", "floor"): 1.0}))
        self.assertEqual(got["warm main tree: space -c0 -f <= 0.60x floor"], ("0.70x", False))

    def test_each_wide_directory_count_and_the_larger_deviation_in_calls(self):
        counts = lambda g, n: {"getdents64": g, "newfstatat": n}
        got = judged(results(["--wide-dirs", "24"], calls={
            ("wide-24", "1"): counts(100, 1000), ("wide-24", "2"): counts(101, 970),
            ("wide-24", "default"): counts(100, 1015)}))
        self.assertEqual(got["wide 24 dirs, 2 threads: calls within 2% of one thread"], ("-3.0%", False))
        self.assertEqual(got["wide 24 dirs, own pool: calls within 2% of one thread"], ("+1.5%", True))

    def test_comb_failures_and_du_failing_under_the_lowest_limit(self):
        comb = lambda n, failing: {(f"comb-30-{n}", name): None if name in failing else {"openat": 1}
                                   for name in ("du -s", "space threads=1", "space")}
        r = results(["--comb-depths", "30", "--comb-limits", "5,64"], calls={**comb(5, ["du -s"]), **comb(64, [])},
                    times={("comb-30-5", "space threads=1"): 2.0, ("comb-30-5", "space"): 0.5,
                           ("comb-30-64", "du -s"): 1.0, ("comb-30-64", "space threads=1"): 1.2,
                           ("comb-30-64", "space"): 0.4})
        self.assertEqual(judged(r)["comb 30 levels, any nofile and threads: <= 3x du -s"],
                         ("2.00x* nofile 5, 1 thread", True))
        r.calls["comb-30-64", "space"] = None
        self.assertEqual(judged(r)["comb 30 levels, any nofile and threads: <= 3x du -s"], ("fails nofile 64", False))

    def test_every_bound_in_a_goals_text_is_the_one_checked(self):
        for g in cases.GOALS:
            for op, bound in re.findall(r"(<=|>=) ([\d.]+)x", g.text):
                self.assertEqual(float(bound), g.at_most if op == "<=" else g.at_least, g.text)

    def test_readme_shows_the_goals_as_defined(self):
        with open(os.path.join(os.path.dirname(__file__), "..", "..", "README.md")) as f:
            readme = f.read()
        self.assertIn(goals.markdown(cases.GOALS, cli.parse([], {})), readme)


if __name__ == "__main__":
    unittest.main()
