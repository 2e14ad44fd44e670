"""Goals: a figure computed from the results and the bound it must keep.

A goal whose figures the run did not measure is left out; one that measured
them says met or MISSED. The README's table of goals is printed from the same
definitions (markdown()).
"""
import re
from dataclasses import dataclass
from typing import Callable, Optional

from .results import Missing


@dataclass
class Goal:
    option: str        # the option whose case measures it; "" when always
    text: str          # `code` is kept for the README; "{}" takes each item
    value: Callable    # results (, item) -> number, or (number, shown)
    fmt: str = "{:.2f}x"
    at_most: Optional[float] = None
    at_least: Optional[float] = None
    below: Optional[float] = None
    above: Optional[float] = None
    each: Optional[Callable] = None   # options -> the items it is checked for

    def ok(self, v):
        return ((self.at_most is None or v <= self.at_most) and (self.at_least is None or v >= self.at_least)
                and (self.below is None or v < self.below) and (self.above is None or v > self.above))


# Figures most goals are made of.
def ratio(case, a, b):
    return lambda r: r.t(case, a) / r.t(case, b)


def faster(case, a, b):
    """How many times as fast a is as b."""
    return ratio(case, b, a)


def mib_over(tree, a, b):
    return lambda r: (r.kib(tree, a) - r.kib(tree, b)) / 1024


def check(goals, r):
    """(text, shown value, met) of every goal the results can judge."""
    out = []
    for g in goals:
        for item in (g.each(r.o) if g.each else [None]):
            try:
                v = g.value(r) if item is None else g.value(r, item)
            except (Missing, ZeroDivisionError):
                continue
            v, shown = v if isinstance(v, tuple) else (v, g.fmt.format(v))
            out.append((g.text.replace("`", "").format(item), shown, g.ok(v)))
    return out


def print_goals(goals, r):
    print("\nGoals (from these medians):")
    for text, shown, ok in check(goals, r):
        print(f"  {text:<58} {shown:<18} {'met' if ok else 'MISSED'}")


def markdown(goals, o):
    """The goals as a Markdown table, for options o (the defaults in the README)."""
    lines = ["| case | goal |", "|---|---|"]
    for g in goals:
        items = g.each(o) if g.each else []
        text = g.text.format(" and ".join(str(i) for i in items))
        text = re.sub(r"(\d)x\b", r"\1×", text.replace("<=", "≤").replace(">=", "≥"))
        lines.append(f"| {f'`{g.option}`' if g.option else 'always'} | {text} |")
    return "\n".join(lines)
