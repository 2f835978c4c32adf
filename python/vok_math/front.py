"""The front: the engine's candidates made equations, their constants settled, the best chosen.

The engine keeps, per size, the best few candidates with their least-squares scale and offset.
Here each becomes an equation: the uncertainty of its fitted constants is measured, constants
the data cannot tell from 1, 0, a small rational or a named constant are written as that
number (:mod:`vok_math.simple_constants`), the Pareto front of error against size is drawn
from them, and one is chosen by a stated criterion (:mod:`vok_math.model_choice`).
"""

from __future__ import annotations

import dataclasses
import math
from collections.abc import Sequence
from dataclasses import dataclass

import numpy as np
import numpy.typing as npt

from vok_math import _engine, export
from vok_math.equation import Equation
from vok_math.linear_fit import (
    ldexp,
    moments,
    uncertainty,
    weighted_sse,
)
from vok_math.model_choice import Candidate as Choice
from vok_math.model_choice import ModelSelection, choose, criterion_values
from vok_math.records import Candidate, SizeReport, Token
from vok_math.simple_constants import settle

__all__ = ["Made", "Samples", "build_front", "choose_best", "sst"]

Array = npt.NDArray[np.float64]


@dataclass(frozen=True)
class Samples:
    """What the front is measured on: the rows, and the search's units.

    The engine searched ``y·2^-shift`` (a power of two that keeps its sums of squares in
    range; 0 for ordinary data); ``weights`` are the rows' (None: all 1); ``floor`` is the
    error of an exact fit, in y's units.
    """

    columns: Array
    y: Array
    weights: Array | None
    floor: float
    shift: int = 0
    scaling: bool = True

    @property
    def rows(self) -> int:
        return len(self.y) if self.weights is None else int(np.count_nonzero(self.weights > 0))

    @property
    def total_weight(self) -> float:
        return float(len(self.y)) if self.weights is None else math.fsum(self.weights.tolist())


@dataclass(frozen=True)
class Made:
    """One equation with what ranking and choosing it needs, in the search's units."""

    equation: Equation
    sse: float          # in (y·2^-shift)² units
    tokens: int
    order: int
    fitted: int
    cost: float
    term_sizes: tuple[int, ...] = ()


def _rounding(sse: float, n: int, floor: float) -> float:
    """How much an sse may move by rounding alone."""
    return sse * 1e-9 + n * floor * floor


def is_exact(made: Made, samples: Samples) -> bool:
    """Whether the equation fits within the rounding of y's numbers, as the model choice
    takes an exact fit."""
    return math.sqrt(made.sse / samples.total_weight) <= ldexp(samples.floor, -samples.shift)


def sst(samples: Samples) -> float:
    """Squared deviations of y from its (weighted) mean, in the search's units."""
    y = np.ldexp(samples.y, -samples.shift)
    if samples.weights is None:
        return float(np.cumsum((y - y.mean()) ** 2)[-1])  # in row order, as before weights
    mean = math.fsum((samples.weights * y).tolist()) / samples.total_weight
    return weighted_sse(y - mean, samples.weights)


def _measured_sse(program: Sequence[Token], scale: float, offset: float,
                  samples: Samples) -> float:
    """The error of constants (in the search's units) on every row, as the engine sums it."""
    y = samples.y if samples.shift == 0 else np.ldexp(samples.y, -samples.shift)
    return float(_engine.settle(program, samples.columns, y, [(scale, offset)],
                                weights=samples.weights)["sse"][0])


def _equation(c: Candidate, program: tuple[Token, ...], f: Array, samples: Samples,
              names: tuple[str, ...], total_ss: float) -> Made | None:
    """The engine's candidate as an equation with its constants settled and measured.

    Constants and errors are worked in the search's units (y·2^-shift), where every sum is
    in range; simple values are chosen in y's own units, where they are simple.
    """
    shift = samples.shift
    scale, offset = float(c["scale"]), float(c["offset"])
    constant = not any(kind == "var" for kind, _ in program)
    if constant:
        # A constant: one fitted number, the scale of f = 1, written as one constant leaf.
        scale = (scale * f[0]) + offset if len(f) else math.nan
        program, f, offset = (("const", 1.0),), np.ones_like(samples.y), 0.0
    fitted_scale, fitted_offset = samples.scaling, samples.scaling and not constant
    m = moments(f, samples.weights)
    sse = _measured_sse(program, scale, offset, samples)
    cost = 0.0
    if samples.scaling and math.isfinite(sse):
        first = uncertainty(m, sse, fitted_scale, fitted_offset)
        settled = settle(m, ldexp(scale, shift), ldexp(offset, shift), sse,
                         ldexp(samples.floor, -shift), scale_se=ldexp(first.scale_se, shift),
                         offset_se=ldexp(first.offset_se, shift), y_shift=shift,
                         fit_offset=fitted_offset)
        simple = ldexp(settled.scale, -shift), ldexp(settled.offset, -shift)
        # (The fit may already be the simple values: they are then stated, not fitted.)
        fitted_scale, fitted_offset = settled.scale_fitted, settled.offset_fitted
        cost = settled.cost
        if simple != (scale, offset):
            scale, offset = simple
            sse = _measured_sse(program, scale, offset, samples)
    if not math.isfinite(sse):
        return None
    spread = uncertainty(m, sse, fitted_scale, fitted_offset)
    scale, offset = ldexp(scale, shift), ldexp(offset, shift)
    if constant:
        program, scale, offset = (("const", scale),), 1.0, 0.0
    size = len(program) + (scale != 1.0) + (offset != 0.0)
    r2 = 1.0 - sse / total_ss if total_ss > 0 else (1.0 if sse == 0 else 0.0)
    eq = Equation(program, scale, offset, names, size, ldexp(sse, 2 * shift),
                  ldexp(math.sqrt(sse / samples.total_weight), shift), r2,
                  scale_se=ldexp(spread.scale_se, shift) if fitted_scale else math.nan,
                  offset_se=ldexp(spread.offset_se, shift) if fitted_offset else math.nan,
                  covariance=ldexp(spread.covariance, 2 * shift),
                  sigma=ldexp(spread.sigma, shift), dof=spread.dof)
    return Made(eq, sse, len(program), int(c["order"]), fitted_scale + fitted_offset, cost)


def build_front(samples: Samples, names: tuple[str, ...], candidates: Sequence[Candidate],
                extra: Sequence[Made] = ()) -> list[Made]:
    """The Pareto front by size (fitted constants counted) from the engine's candidates and
    the ``extra`` equations made elsewhere (laws of several terms)."""
    n = samples.rows
    floor = ldexp(samples.floor, -samples.shift)
    total = sst(samples)
    programs = [export.check_program(c["program"], len(names)) for c in candidates]
    values = _engine.evaluate_many(programs, samples.columns) if programs else []
    made = [m for c, program, f in zip(candidates, programs, values, strict=True)
            if (m := _equation(c, program, np.asarray(f), samples, names, total)) is not None]
    made += extra
    made.sort(key=lambda m: (m.equation.size, m.sse, m.tokens, m.order))
    front: list[Made] = []
    for m in made:
        # More accurate beyond rounding, else a larger equation with the same fit would join.
        last = front[-1] if front else None
        if last is None or (m.equation.size > last.equation.size
                            and math.sqrt(last.sse / samples.total_weight) > floor
                            and m.sse < last.sse - _rounding(last.sse, n, floor)):
            front.append(m)
    return front


def choose_best(front: Sequence[Made], samples: Samples, sizes: Sequence[SizeReport],
                kind: ModelSelection) -> tuple[list[Equation], int | None]:
    """The front's equations, each carrying its criterion value, and the index of the chosen.

    The smallest exact equation when there is one (error within the rounding of y's numbers),
    otherwise the lowest value of the criterion ``kind`` (see :mod:`vok_math.model_choice`).
    """
    floor = ldexp(samples.floor, -samples.shift)
    y = np.ldexp(samples.y, -samples.shift)
    baseline = float(np.std(y)) if samples.weights is None else math.sqrt(
        sst(samples) / samples.total_weight)
    choices = [Choice(m.equation.size, m.tokens, m.fitted, m.sse,
                      math.sqrt(m.sse / samples.total_weight), m.cost, m.term_sizes)
               for m in front]
    distinct = [int(s["distinct"]) for s in sizes]
    values = criterion_values(kind, choices, samples.rows, floor, distinct, baseline)
    equations = [dataclasses.replace(m.equation, criterion=v) for m, v in zip(front, values,
                                                                                strict=True)]
    return equations, choose(kind, choices, samples.rows, floor, distinct, baseline)
