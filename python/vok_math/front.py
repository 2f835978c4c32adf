"""The front: the engine's candidates made equations, their constants settled, the best chosen.

The engine keeps, per size, the best few candidates with their least-squares scale and offset.
Here each becomes an equation (constants that are 1, 0 or a simple number within rounding are
written as such), the Pareto front of error against size is drawn from them, and one is chosen.
"""

from __future__ import annotations

import math
from collections.abc import Sequence
from fractions import Fraction

import numpy as np
import numpy.typing as npt

from vok_math import _engine, export
from vok_math.equation import Equation
from vok_math.records import Candidate, Token

__all__ = ["CLOSE", "KNEE_BAND", "build_front", "choose_best"]

# A constant is "within rounding" of a simpler number this close (relative).
CLOSE = 1e-11
# Among equations whose error is within this factor of the lowest, the knee is chosen.
KNEE_BAND = 1.5


def _simpler_numbers(value: float, neutral: float) -> list[float]:
    """Simpler numbers to try in place of a fitted constant, simplest first."""
    out = [neutral]
    if math.isfinite(value) and value != 0:
        near = float(Fraction(value).limit_denominator(export.MAX_DENOMINATOR))
        decimals = [float(f"{value:.{d}g}") for d in range(1, 9)]
        out += [c for c in [near, *decimals] if abs(c - value) <= CLOSE * abs(value)]
    return out


def _rounding(sse: float, n: int, floor: float) -> float:
    """How much an sse may move by rounding alone."""
    return sse * 1e-9 + n * floor * floor


def _settled(sse_at: dict[tuple[float, float], float], scale: float, offset: float,
             floor: float, rows: int, neutral_scale: bool) -> tuple[float, float, float]:
    """Scale and offset with each replaced by the simplest number that leaves the error where
    it was up to rounding (``sse_at``: the error of every pair tried); also their sse."""
    allowed = sse_at[scale, offset] + _rounding(sse_at[scale, offset], rows, floor)
    for which, neutral in (("scale", 1.0), ("offset", 0.0)):
        current = scale if which == "scale" else offset
        simpler = _simpler_numbers(current, neutral)
        for candidate in (simpler if neutral_scale or which == "offset" else simpler[1:]):
            if candidate == current:
                break
            s, o = (candidate, offset) if which == "scale" else (scale, candidate)
            if sse_at[s, o] <= allowed:
                scale, offset = s, o
                break
    return scale, offset, sse_at[scale, offset]


def _settle_constants(program: Sequence[Token], columns: npt.NDArray[np.float64],
                      y: npt.NDArray[np.float64], scale: float, offset: float, floor: float,
                      neutral_scale: bool = True) -> tuple[float, float, float]:
    """:func:`_settled` with the error of every pair it may try measured by the engine, in one
    call: each scale tried with each offset tried."""
    scales = [scale, *_simpler_numbers(scale, 1.0)]
    offsets = [offset, *_simpler_numbers(offset, 0.0)]
    pairs = [(s, o) for s in scales for o in offsets]
    measured = _engine.settle(program, columns, y, pairs)["sse"]
    return _settled(dict(zip(pairs, measured, strict=True)), scale, offset, floor, len(y),
                    neutral_scale)


def _sst(y: npt.NDArray[np.float64]) -> float:
    """Squared deviations of y from its mean, summed in row order."""
    return float(np.cumsum((y - y.mean()) ** 2)[-1])


def build_front(columns: npt.NDArray[np.float64], y: npt.NDArray[np.float64],
                names: tuple[str, ...], candidates: Sequence[Candidate],
                floor: float) -> list[Equation]:
    """The Pareto front by size (fitted constants counted) from the engine's candidates."""
    n = len(y)
    sst = _sst(y)
    made = []
    programs = [export.check_program(c["program"], len(names)) for c in candidates]
    values = _engine.evaluate_many(programs, columns) if programs else []
    for c, program, f in zip(candidates, programs, values, strict=True):
        scale, offset = float(c["scale"]), float(c["offset"])
        if not any(kind == "var" for kind, _ in program):
            # A constant: one fitted number, written as one constant leaf (size 1).
            value, _, sse = _settle_constants((("const", 1.0),), columns, y,
                                              float((scale * f[0]) + offset), 0.0, floor,
                                              neutral_scale=False)
            program, scale, offset = (("const", value),), 1.0, 0.0
        else:
            scale, offset, sse = _settle_constants(program, columns, y, scale, offset, floor)
        if not math.isfinite(sse):
            continue
        size = len(program) + (scale != 1.0) + (offset != 0.0)
        r2 = 1.0 - sse / sst if sst > 0 else (1.0 if sse == 0 else 0.0)
        made.append((size, sse, len(program), int(c["order"]),
                     Equation(program, scale, offset, names, size, sse, math.sqrt(sse / n), r2)))
    made.sort(key=lambda t: t[:4])
    front: list[Equation] = []
    for size, sse, _, _, eq in made:
        # More accurate beyond rounding, else a larger equation with the same fit would join.
        if not front or (size > front[-1].size and front[-1].rmse > floor
                         and sse < front[-1].sse - _rounding(front[-1].sse, n, floor)):
            front.append(eq)
    return front


def choose_best(front: Sequence[Equation], floor: float, baseline: float) -> int | None:
    """Index of the best equation: the smallest exact one, else the knee of error against size.

    The knee is the equation whose error drops most, in log terms per unit of size, from the
    next smaller one (the first from ``baseline``, the error of the mean), among those whose
    error is within a factor 1.5 of the lowest.
    """
    if not front:
        return None
    for i, eq in enumerate(front):
        if eq.rmse <= floor:
            return i
    lowest = front[-1].rmse
    best, best_score = len(front) - 1, -math.inf
    previous_rmse, previous_size = baseline, 0
    for i, eq in enumerate(front):
        if eq.rmse <= KNEE_BAND * lowest:
            score = (math.log(previous_rmse / eq.rmse) / (eq.size - previous_size)
                     if previous_rmse > 0 and eq.rmse > 0 else -math.inf)
            if score > best_score:
                best, best_score = i, score
        previous_rmse, previous_size = eq.rmse, eq.size
    return best
