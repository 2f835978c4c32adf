"""The Feynman equations of the Feynman benchmark (bench/feynman_bench.py).

The 100 equations of the Feynman Symbolic Regression Database (Udrescu and Tegmark, 2020),
I.6.2a to III.21.20, the ground truths SRBench scores its Feynman problems against: each with
its number and output as published, the formula in the published (sympy-readable) text, and per
variable, in column order, the range it is drawn from uniformly. Formulas and ranges are as
published with the dataset; only the variable counts that disagreed with the listed variables
(II.37.1, I.18.12, I.18.14, I.38.12, III.10.19, III.19.51) follow the variables.

The table itself is feynman_laws.tsv, one law a line. Units are as published: every physical
constant (c, h, kb, epsilon, G, ...) is a variable.
"""

from __future__ import annotations

from dataclasses import dataclass
from pathlib import Path


@dataclass(frozen=True)
class FeynmanLaw:
    """One equation: output = truth(variables) on the given ranges."""

    name: str
    """The published name, such as "I.6.2a" (chapter, section and equation of the lectures)."""
    number: int
    """The published row number."""
    output: str
    truth: str
    """The formula as a sympy expression over the variable names (arcsin is sympy's asin)."""
    ranges: tuple[tuple[str, float, float], ...]
    """(variable, low, high) per variable, in column order."""

    @property
    def variables(self) -> tuple[str, ...]:
        return tuple(r[0] for r in self.ranges)


def _read(path: Path) -> tuple[FeynmanLaw, ...]:
    """One law per line: name, number, output, truth and "name low high, ..." separated by tabs."""
    laws = []
    for line in path.read_text(encoding="utf-8").splitlines():
        if not line or line.startswith("#"):
            continue
        name, number, output, truth, ranges = line.split("\t")
        triples = tuple((var, float(low), float(high))
                        for var, low, high in (item.split() for item in ranges.split(",")))
        laws.append(FeynmanLaw(name, int(number), output, truth, triples))
    return tuple(laws)


LAWS: tuple[FeynmanLaw, ...] = _read(Path(__file__).with_name("feynman_laws.tsv"))

# A development subset for --quick, from a product of two variables to nine variables and an
# operator discover does not have (arcsin).
QUICK = ("I.12.1", "I.14.3", "II.3.24", "I.6.2a", "II.38.14", "I.27.6", "I.10.7", "III.4.32",
         "I.18.4", "II.11.28", "I.26.2", "I.9.18")
