"""Which equation of the front is the law: the criteria ``discover(model_selection=...)`` offers.

Every criterion first takes the smallest exact equation (error within the rounding of y's own
numbers): an exact fit is the law. Without one:

- ``"mdl"``: a description length in nats, the cost of stating the data with the equation:
  (n/2)·ln(SSE/n) for the residuals (Gaussian, σ unknown), (k/2)·ln(n) for each of the k
  fitted constants, ln(N) for picking the expression among the N distinct ones the search
  enumerated up to its size (so a larger expression must earn its place against every
  expression it competed with), and the bits of the simple constants it carries.
- ``"bic"``: n·ln(SSE/n) + k·ln(n), with k the fitted constants plus the expression's tokens.
- ``"knee"``: among the equations whose error is within a factor 1.5 of the lowest, the one
  whose error falls most, in log terms per unit of size, from the next smaller equation.

SSE always includes the rounding of y's own numbers (n·floor²), so the logarithms stay finite.
"""

from __future__ import annotations

import math
from collections.abc import Sequence
from dataclasses import dataclass
from typing import Literal

ModelSelection = Literal["mdl", "bic", "knee"]
MODEL_SELECTIONS: tuple[ModelSelection, ...] = ("mdl", "bic", "knee")
# Among equations whose error is within this factor of the lowest, the knee is taken.
_KNEE_BAND = 1.5


@dataclass(frozen=True)
class Candidate:
    """What a criterion needs of one equation of the front."""

    size: int            # tokens, fitted constants included
    tokens: int          # tokens of the expression alone
    fitted: int          # constants fitted to the data
    sse: float
    rmse: float
    constant_bits: float  # description cost of the simple constants it holds
    term_sizes: tuple[int, ...] = ()  # a law of several terms: each term's tokens


def criterion_values(kind: ModelSelection, front: Sequence[Candidate], rows: int, floor: float,
                     distinct: Sequence[int] = (), baseline: float = math.nan) -> list[float]:
    """The criterion of each equation, lower is better (the knee: minus its score).

    ``distinct[s - 1]`` is the number of distinct expressions of s tokens the search found;
    where it is not known, every token is counted as one choice among the operators and
    leaves of the search (``len(distinct)`` sizes known).
    """
    if kind == "knee":
        return _knee_scores(front, baseline)
    out = []
    for c in front:
        misfit = math.log((c.sse + rows * floor * floor) / rows) if rows > 0 else math.nan
        if kind == "bic":
            out.append(rows * misfit + (c.fitted + c.tokens) * math.log(rows))
        else:
            # A law of several terms picks each term among the expressions of its size.
            choice = (sum(_choice_nats(s, distinct) for s in c.term_sizes) if c.term_sizes
                      else _choice_nats(c.tokens, distinct))
            out.append(rows / 2 * misfit + c.fitted / 2 * math.log(rows) + choice
                       + c.constant_bits * math.log(2))
    return out


def _choice_nats(tokens: int, distinct: Sequence[int]) -> float:
    counted = sum(distinct[:tokens])
    if tokens <= len(distinct) and counted > 0:
        return math.log(counted)
    # Beyond what the search reports: each further token about multiplies the choices by 8,
    # the growth of the distinct counts from one size to the next.
    return math.log(max(counted, 1)) + max(tokens - len(distinct), 0) * math.log(8)


def _knee_scores(front: Sequence[Candidate], baseline: float) -> list[float]:
    lowest = min((c.rmse for c in front), default=math.nan)
    scores = []
    previous_rmse, previous_size = baseline, 0
    for c in front:
        score = math.inf
        if c.rmse <= _KNEE_BAND * lowest and previous_rmse > 0 and c.rmse > 0:
            score = -math.log(previous_rmse / c.rmse) / (c.size - previous_size)
        scores.append(score)
        previous_rmse, previous_size = c.rmse, c.size
    return scores


def choose(kind: ModelSelection, front: Sequence[Candidate], rows: int, floor: float,
           distinct: Sequence[int] = (), baseline: float = math.nan) -> int | None:
    """Index of the chosen equation: the smallest exact one, else the criterion's lowest
    (the first of equal ones); None for an empty front.

    >>> front = [Candidate(1, 1, 1, 100.0, 1.0, 0.0), Candidate(3, 2, 1, 1.0, 0.1, 0.0),
    ...          Candidate(5, 4, 1, 0.99, 0.0995, 0.0)]
    >>> choose("mdl", front, 100, 0.0, distinct=[2, 10, 60, 400]), choose("knee", front, 100, 0.0)
    (1, 1)
    """
    if not front:
        return None
    for i, c in enumerate(front):
        if c.rmse <= floor:
            return i
    values = criterion_values(kind, front, rows, floor, distinct, baseline)
    if kind == "knee" and all(v == math.inf for v in values):
        return len(front) - 1
    return min(range(len(front)), key=lambda i: (values[i], i))
