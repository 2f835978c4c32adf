"""The simplest constants the data allow: a fitted scale or offset replaced by 1 or 0, a small
rational, or a constant that physics formulas carry, when the data cannot tell them apart.

The criterion is the Bayesian information criterion on the weighted residuals: a set of
constants replaces the fitted ones when BIC = n·ln(SSE/n) + k·ln(n) (k the constants still
fitted) does not rise. SSE includes the rounding of y's own numbers (``n·floor²``), so on clean
data only a constant within rounding of the fitted one is taken, as an exact fit demands, and
on noisy data a constant within about two standard errors of the fit.
"""

from __future__ import annotations

import math
from dataclasses import dataclass
from fractions import Fraction

import numpy as np  # noqa: F401  (the examples use it)

from vok_math.export.numbers import (
    MAX_DENOMINATOR,
    NAMED_CONSTANTS,
    NAMED_DENOMINATOR,
)
from vok_math.linear_fit import Moments, ldexp, moved, refit_offset, refit_scale

# The rationals tried, and the named constants with their rational multiples: the numbers
# the exports write exactly.
# Candidates farther than this many standard errors from the fit cannot pass: not tried.
_REACH = 4.0
# Relative distance within which a value is the fitted one up to rounding.
_CLOSE = 1e-11


@dataclass(frozen=True)
class SimpleValue:
    """A candidate value with its description cost (bits, smaller is simpler)."""

    value: float
    cost: float


def _rational_cost(q: Fraction) -> float:
    return math.log2(abs(q.numerator) + 1) + math.log2(q.denominator) + (q.denominator > 1)


def candidate_values(fitted: float, se: float, neutral: float) -> list[SimpleValue]:
    """Simple numbers near ``fitted`` (within a few standard errors), simplest first.

    >>> [c.value for c in candidate_values(0.5003, 0.001, 1.0)]
    [1.0, 0.5]
    """
    if not math.isfinite(fitted):
        return []
    # Within rounding of the fit always; within a few standard errors where the data are noisy.
    reach = max(_REACH * se if math.isfinite(se) else 0.0, _CLOSE * abs(fitted))
    found = [SimpleValue(neutral, 0.0)]

    def keep(value: float, cost: float, within: float = reach) -> None:
        if value != fitted and abs(value - fitted) <= within:
            found.append(SimpleValue(value, cost))

    for denominator in range(1, MAX_DENOMINATOR + 1):
        q = Fraction(round(fitted * denominator), denominator)
        if q != 0:
            keep(float(q), _rational_cost(q))
    for base in NAMED_CONSTANTS.values():
        for denominator in range(1, NAMED_DENOMINATOR + 1):
            q = Fraction(round(fitted / base * denominator), denominator)
            if q != 0:
                keep(float(q) * base, _rational_cost(q) + 3.0)
    # A short decimal (9.81) only within rounding: on noisy data a fitted constant stays
    # fitted and is shown with its standard error instead.
    for digits in range(1, 9):
        keep(float(f"{fitted:.{digits}g}"), 3.32 * digits + 1.0, _CLOSE * abs(fitted))
    found.sort(key=lambda c: (c.cost, abs(c.value - fitted)))
    unique: dict[float, SimpleValue] = {}
    for c in found:
        unique.setdefault(c.value, c)
    return list(unique.values())


@dataclass(frozen=True)
class Settled:
    """Constants after simplification: their values, which are still fitted, the SSE they
    give in the comparison's units (from the design's quadratic form; the front measures it
    again on the rows) and the description cost of the simple values taken."""

    scale: float
    offset: float
    scale_fitted: bool
    offset_fitted: bool
    sse: float
    cost: float


def bic(sse: float, rows: int, fitted: int, floor: float) -> float:
    """n·ln(SSE/n) + k·ln(n), the SSE counted with the rounding of y's numbers (n·floor²)."""
    if rows <= 0:
        return math.nan
    return rows * math.log((sse + rows * floor * floor) / rows) + fitted * math.log(rows)


def settle(m: Moments, scale: float, offset: float, sse: float, floor: float, *,
           scale_se: float, offset_se: float, y_shift: int = 0,
           fit_offset: bool = True) -> Settled:
    """The simplest scale and offset whose BIC is no higher than that of the fitted ones.

    ``scale`` and ``offset`` (with their standard errors) are the least-squares estimates in
    y's units; ``sse`` and ``floor`` are in the units of y·2^-y_shift, a power of two that
    keeps sums of squares in range (the comparison runs there, so it holds at any magnitude).
    ``fit_offset=False`` holds the offset where it is (a model of one constant, the scale of
    f = 1). Each constant is either left fitted (refitted when the other is held) or held at a
    simple value near it; the pair with the fewest fitted constants, then the
    simplest values, then the lowest SSE, among those that pass, wins.

    >>> from vok_math.linear_fit import moments, uncertainty
    >>> x = np.linspace(1, 2, 200)
    >>> noise = 0.005 * np.sin(np.arange(200) * 2.4)
    >>> scale, offset = np.polyfit(x, 0.5 * x + noise, 1)
    >>> sse = float(np.sum((scale * x + offset - 0.5 * x - noise) ** 2))
    >>> u = uncertainty(moments(x), sse, True, True)
    >>> s = settle(moments(x), scale, offset, sse, 0.0, scale_se=u.scale_se, offset_se=u.offset_se)
    >>> s.scale, s.offset, s.scale_fitted, s.offset_fitted
    (0.5, 0.0, False, False)
    """
    def units(v: float) -> float:
        return ldexp(v, -y_shift)

    base, floor_u = sse, floor
    free = 1 + fit_offset
    limit = bic(base, m.rows, free, floor_u)
    options: list[tuple[int, float, float, float, float, bool, bool]] = []
    scales: list[SimpleValue | None] = [None, *candidate_values(scale, scale_se, 1.0)]
    offsets: list[SimpleValue | None] = ([None, *candidate_values(offset, offset_se, 0.0)]
                                         if fit_offset else [SimpleValue(offset, 0.0)])
    for s_opt in scales:
        for o_opt in offsets:
            fitted = (s_opt is None) + (o_opt is None)
            if fitted == free:
                continue
            if s_opt is not None and o_opt is not None:
                ds, do = s_opt.value - scale, o_opt.value - offset
            elif s_opt is not None:
                ds = s_opt.value - scale
                do = ldexp(refit_offset(m, units(ds)), y_shift)
            else:
                assert o_opt is not None
                do = o_opt.value - offset
                ds = refit_scale(m, do)
            grown = base + moved(m, units(ds), units(do))
            if bic(grown, m.rows, fitted, floor_u) <= limit:
                cost = (s_opt.cost if s_opt else 0.0) + (o_opt.cost if o_opt else 0.0)
                options.append((fitted, cost, grown, scale + ds if s_opt is None else s_opt.value,
                                offset + do if o_opt is None else o_opt.value,
                                s_opt is None, o_opt is None))
    if not options:
        return Settled(scale, offset, True, fit_offset, sse, 0.0)
    fitted, cost, grown, s, o, s_fit, o_fit = min(options)
    return Settled(s, o, s_fit, o_fit, grown, cost)
