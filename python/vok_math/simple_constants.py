"""The simplest constants the data allow: a fitted scale or offset replaced by 1 or 0, a small
rational, or a constant that physics formulas carry, when the data cannot tell them apart.

Simple values replace the fitted ones when either

- the error stays where it was up to rounding (SSE' <= SSE·(1 + 1e-9) + n·floor², the floor the
  rounding of y's own numbers): on clean data this is the whole rule, as an exact fit demands;
- or the data cannot tell them apart: BIC = n·ln(SSE/n) + k·ln(n) + 2·ln(2)·bits does not
  rise, with k the constants still fitted, SSE counted with n·floor², and bits what it takes
  to state the values instead (1 and 0 nothing, 2 or 1/2 a bit, 3/2 about 2.6, a named
  constant 3 more than its multiple). A stated value saves a fitted constant's ln(n) and
  pays its bits: at 200 rows 1 or 0 is taken within about 2.3 standard errors of the fit,
  1/2 within 2, π within 1.1; 1/(4π) from about 1,000 rows on (at 10,000 within 1.6).

Within rounding the simplest values win (fewest fitted constants, then fewest bits);
otherwise those of the lowest criterion, so that 5/2 goes before a √(2π) that fits a little
worse.
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
# Bits to say which named constant: 3 (eight of them), on top of its rational multiple's.
_NAMED_BITS = 3.0
# No simpler than a fit beyond this (a p/q of about 12 bits: 355/113 is 15): such numbers are
# taken only within rounding, as decimals.
_MAX_BITS = 12.0
# Relative distance within which a value is the fitted one up to rounding.
_CLOSE = 1e-11


@dataclass(frozen=True)
class SimpleValue:
    """A candidate value with its description cost (bits, smaller is simpler); a short decimal
    (9.81) stands in for a fit only within rounding."""

    value: float
    cost: float
    rounding_only: bool = False


def _rational_cost(q: Fraction) -> float:
    """Bits to state p/q: 1 costs nothing, 2 and 1/2 a bit, 3/2 about 2.6, 22/7 about 7.3."""
    return math.log2(abs(q.numerator)) + math.log2(q.denominator)


def candidate_values(fitted: float, se: float, neutral: float) -> list[SimpleValue]:
    """Simple numbers near ``fitted`` (within a few standard errors), simplest first.

    >>> [c.value for c in candidate_values(0.5003, 0.001, 1.0)]
    [1.0, 0.5, 0.5003]
    >>> [(c.value, c.cost) for c in candidate_values(0.5, 0.0, 1.0)]  # the fit, when simple
    [(1.0, 0.0), (0.5, 1.0)]
    """
    if not math.isfinite(fitted):
        return []
    # Within rounding of the fit always; within a few standard errors where the data are noisy.
    reach = max(_REACH * se if math.isfinite(se) else 0.0, _CLOSE * abs(fitted))
    found = [SimpleValue(neutral, 0.0)]

    def keep(value: float, cost: float, rounding_only: bool = False) -> None:
        within = _CLOSE * abs(fitted) if rounding_only else reach
        # The fit itself when it is one: then stated, not fitted.
        if abs(value - fitted) <= within:
            found.append(SimpleValue(value, cost, rounding_only))

    # Near the largest doubles a multiple overflows: no simple rational is that large anyway.
    for denominator in range(1, MAX_DENOMINATOR + 1):
        numerator = fitted * denominator
        if not math.isfinite(numerator):
            break
        q = Fraction(round(numerator), denominator)
        if q != 0 and _rational_cost(q) <= _MAX_BITS:
            keep(float(q), _rational_cost(q))
    for base in NAMED_CONSTANTS.values():
        for denominator in range(1, NAMED_DENOMINATOR + 1):
            numerator = fitted / base * denominator
            if not math.isfinite(numerator):
                break
            q = Fraction(round(numerator), denominator)
            if q != 0 and _rational_cost(q) + _NAMED_BITS <= _MAX_BITS:
                keep(float(q) * base, _rational_cost(q) + _NAMED_BITS)
    # A short decimal (9.81) only within rounding: on noisy data a fitted constant stays
    # fitted and is shown with its standard error instead.
    for digits in range(1, 9):
        keep(float(f"{fitted:.{digits}g}"), 3.32 * digits, rounding_only=True)
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


def bic(sse: float, rows: int, fitted: int, floor: float, bits: float = 0.0) -> float:
    """n·ln(SSE/n) + k·ln(n) + 2·ln(2)·bits, the SSE counted with the rounding of y's numbers
    (n·floor²) and ``bits`` the cost of the values stated instead of fitted."""
    if rows <= 0:
        return math.nan
    return (rows * math.log((sse + rows * floor * floor) / rows) + fitted * math.log(rows)
            + 2 * math.log(2) * bits)


def settle(m: Moments, scale: float, offset: float, sse: float, floor: float, *,
           scale_se: float, offset_se: float, y_shift: int = 0,
           fit_offset: bool = True) -> Settled:
    """The simplest scale and offset the data cannot tell from the fitted ones (see above).

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
    scales: list[SimpleValue | None] = [None, *candidate_values(scale, scale_se, 1.0)]
    offsets: list[SimpleValue | None] = ([None, *candidate_values(offset, offset_se, 0.0)]
                                         if fit_offset else [SimpleValue(offset, 0.0)])
    # Keeping the fit is the option to beat.
    # (rank, sse, bits, scale, offset, scale fitted, offset fitted); ranks compare as floats.
    options: list[tuple[tuple[float, ...], float, float, float, float, bool, bool]] = [
        ((1.0, limit, free, 0.0), base, 0.0, scale, offset, True, fit_offset)]
    rounding_limit = base + base * 1e-9 + m.rows * floor_u * floor_u
    for s_opt in scales:
        for o_opt in offsets:
            fitted = (s_opt is None) + (o_opt is None)
            if fitted == free:
                continue
            cost = (s_opt.cost if s_opt else 0.0) + (o_opt.cost if o_opt else 0.0)
            ds = s_opt.value - scale if s_opt is not None else 0.0
            do = o_opt.value - offset if o_opt is not None else 0.0
            # Within rounding the other constant stays as fitted (as a clean fit has it) ...
            held = base + moved(m, units(ds), units(do))
            if held <= rounding_limit:
                options.append(((0, fitted, cost, held), held, cost, scale + ds, offset + do,
                                s_opt is None, o_opt is None))
                continue
            # ... otherwise it is fitted again, and the data must not tell the values apart.
            if (s_opt is not None and s_opt.rounding_only) or (
                    o_opt is not None and o_opt.rounding_only):
                continue
            if s_opt is None:
                ds = refit_scale(m, do)
            elif o_opt is None:
                do = ldexp(refit_offset(m, units(ds)), y_shift)
            grown = base + moved(m, units(ds), units(do))
            criterion = bic(grown, m.rows, fitted, floor_u, cost)
            if criterion <= limit:
                options.append(((1, criterion, fitted, cost), grown, cost, scale + ds,
                                offset + do, s_opt is None, o_opt is None))
    _, grown, cost, s, o, s_fit, o_fit = min(options)
    return Settled(float(s), float(o), s_fit, o_fit, grown, cost)
