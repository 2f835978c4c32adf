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
from typing import Any, NamedTuple

import numpy as np
import numpy.typing as npt

from vok_math.export.numbers import (
    MAX_DENOMINATOR,
    NAMED_CONSTANTS,
    NAMED_DENOMINATOR,
)
from vok_math.linear_fit import Moments

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


# Stating p/q (reduced) costs log2|p| + log2 q bits: 1 nothing, 2 and 1/2 a bit, 3/2 about
# 2.6, 22/7 about 7.3. log2 of every whole number a p/q within _MAX_BITS can hold
# (|p|·q <= 2^12), from math.log2.
_LOG2 = np.array([math.nan, *(math.log2(i) for i in range(1, 2 ** int(_MAX_BITS) + 1))])
# Each denominator tried, with the constant it multiplies (1 for the plain rationals) and the
# bits to name that constant: the rationals by denominator, then each named constant's.
_Q = np.concatenate([np.arange(1, MAX_DENOMINATOR + 1),
                     *(np.arange(1, NAMED_DENOMINATOR + 1) for _ in NAMED_CONSTANTS)])
_BASE = np.concatenate([np.ones(MAX_DENOMINATOR),
                        *(np.full(NAMED_DENOMINATOR, b) for b in NAMED_CONSTANTS.values())])
_EXTRA = np.where(np.arange(len(_Q)) < MAX_DENOMINATOR, 0.0, _NAMED_BITS)


def _multiples(fitted: float) -> tuple[Any, Any]:
    """For each row of _Q: (p/q)·base nearest fitted, with its cost in bits, those within
    _MAX_BITS only, in that order: as the fraction round(fitted / base·q)/q, reduced, gives them
    (dividing and multiplying by 1 change nothing)."""
    with np.errstate(all="ignore"):
        p = np.rint(fitted / _BASE * _Q)
    # Past this |p| the reduced numerator alone costs more than _MAX_BITS.
    usable = (p != 0) & (np.abs(p) <= len(_LOG2) * MAX_DENOMINATOR)
    p_int = p[usable].astype(np.int64)
    common = np.gcd(p_int, _Q[usable])
    num, den = p_int // common, _Q[usable] // common
    small = np.abs(num) < len(_LOG2)
    cost = np.full(len(num), np.inf)
    cost[small] = _LOG2[np.abs(num[small])] + _LOG2[den[small]] + _EXTRA[usable][small]
    within = cost <= _MAX_BITS
    return num[within] / den[within] * _BASE[usable][within], cost[within]


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

    values, costs = _multiples(fitted)
    near = np.abs(values - fitted) <= reach
    found.extend(SimpleValue(v, c) for v, c in zip(values[near].tolist(), costs[near].tolist(),
                                                   strict=True))
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
    s_fit, o_fit, fitted, s_value, o_value, cost, rounding_only = _pairs(scales, offsets, free)
    with np.errstate(all="ignore"):
        held_ds = np.where(s_fit, 0.0, s_value - scale)
        held_do = np.where(o_fit, 0.0, o_value - offset)
        # Within rounding the other constant stays as fitted (as a clean fit has it) ...
        held = base + _moved(m, np.ldexp(held_ds, -y_shift), np.ldexp(held_do, -y_shift))
        kept = held <= rounding_limit
        # ... otherwise it is fitted again, and the data must not tell the values apart.
        second = m.second
        ds = np.where(s_fit, (np.ldexp(-m.total * m.mean * held_do / second, -m.shift)
                              if second > 0 else 0.0), held_ds)
        do = np.where(o_fit, np.ldexp(-m.mean * np.ldexp(np.ldexp(held_ds, -y_shift), m.shift),
                                      y_shift), held_do)
        grown = base + _moved(m, np.ldexp(ds, -y_shift), np.ldexp(do, -y_shift))
        # A quick criterion for every pair, then the exact one (math.log, the same on every
        # machine) for those within reach of the limit.
        rough = (m.rows * np.log((grown + m.rows * floor_u * floor_u) / m.rows)
                 + fitted * math.log(m.rows) + 2 * math.log(2) * cost)
    near = ~kept & ~rounding_only & ~(rough > limit + 1e-9 * (abs(limit) + np.abs(rough) + 1))
    for i in np.flatnonzero(kept).tolist():
        options.append(((0, int(fitted[i]), float(cost[i]), float(held[i])), float(held[i]),
                        float(cost[i]), scale + float(held_ds[i]), offset + float(held_do[i]),
                        bool(s_fit[i]), bool(o_fit[i])))
    for i in np.flatnonzero(near).tolist():
        criterion = bic(float(grown[i]), m.rows, int(fitted[i]), floor_u, float(cost[i]))
        if criterion <= limit:
            options.append(((1, criterion, int(fitted[i]), float(cost[i])), float(grown[i]),
                            float(cost[i]), scale + float(ds[i]), offset + float(do[i]),
                            bool(s_fit[i]), bool(o_fit[i])))
    _, best_sse, best_cost, best_scale, best_offset, scale_fitted, offset_fitted = min(options)
    return Settled(float(best_scale), float(best_offset), scale_fitted, offset_fitted, best_sse,
                   best_cost)


class _Pairs(NamedTuple):
    """Every pair of a scale option and an offset option that fits fewer constants than the
    least-squares fit, scale-major; a None option is the fitted constant."""

    scale_fitted: npt.NDArray[np.bool_]
    offset_fitted: npt.NDArray[np.bool_]
    fitted: npt.NDArray[np.int64]
    scale_value: npt.NDArray[np.float64]
    offset_value: npt.NDArray[np.float64]
    cost: npt.NDArray[np.float64]
    rounding_only: npt.NDArray[np.bool_]


def _pairs(scales: list[SimpleValue | None], offsets: list[SimpleValue | None],
           free: int) -> _Pairs:
    # Each array operation on these is then the scalar arithmetic of one pair, so the values
    # are those of a loop over the pairs, bit for bit.
    s_fit = np.repeat([v is None for v in scales], len(offsets))
    o_fit = np.tile([v is None for v in offsets], len(scales))
    fitted = s_fit.astype(np.int64) + o_fit
    pick = fitted != free

    def column(values: list[SimpleValue | None], field: str, repeat: bool) -> Any:
        items = [getattr(v, field) if v is not None else 0.0 for v in values]
        grid = np.repeat(items, len(offsets)) if repeat else np.tile(items, len(scales))
        return grid[pick]

    rounding_only = (column(scales, "rounding_only", True).astype(bool)
                     | column(offsets, "rounding_only", False).astype(bool))
    return _Pairs(s_fit[pick], o_fit[pick], fitted[pick], column(scales, "value", True),
                  column(offsets, "value", False),
                  column(scales, "cost", True) + column(offsets, "cost", False), rounding_only)


def _moved(m: Moments, d_scale: Any, d_offset: Any) -> Any:
    """linear_fit.moved for arrays of moves, in its order of operations."""
    ds = np.ldexp(d_scale, m.shift)
    along = m.mean * ds + d_offset
    return m.centred * ds * ds + m.total * along * along
