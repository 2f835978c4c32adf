"""Laws of several terms: y ≈ c0 + c1·f1 + … + cD·fD over expressions f of the enumeration.

Screening, then an exact sparse fit. The enumeration's front of y (the best few expressions of
each size) is the first screened set; each further round enumerates the residual of the law
chosen so far and adds its front. The engine then fits every combination of up to D screened
terms by least squares from one Gram matrix (``_engine.search_terms``) and keeps the best few of
each term count and summed size; those are fitted again on every row (``_engine.fit_terms``),
their coefficients settled to simple values as a one-term equation's scale is, and measured as
the engine measures any equation. Each becomes an ordinary :class:`Equation` whose program is
c1·f1 + c2·f2 + …, the intercept its offset; its size is its terms' tokens plus its written
constants.
"""

from __future__ import annotations

import math
import time
from collections.abc import Sequence
from dataclasses import dataclass
from typing import Any, cast

import numpy as np
import numpy.typing as npt

from vok_math import _engine, export
from vok_math.equation import Equation, terms_size
from vok_math.front import Made, Samples, build_front, choose_best, is_exact, sst
from vok_math.linear_fit import ldexp
from vok_math.model_choice import ModelSelection
from vok_math.records import Candidate, EngineResult, SizeReport, Token
from vok_math.simple_constants import bic, candidate_values

__all__ = ["DEFAULT_TERMS", "MAX_TERMS", "TermsOutcome", "check_terms", "first_budget",
           "one_term_front", "several_terms"]

Array = npt.NDArray[np.float64]

# Up to three terms unless asked otherwise, on two conditions that keep the default's one-term
# results as they were. Its sums join the front only when exact: on noisy data the model choice
# prefers a sum of terms that fits the noise to the true one-term law (at 10 % noise, 20 of 36
# laws stated exactly when sums were free to win, 26 with one term). And its first
# enumeration is the one-term search itself, the rounds taking only the time it leaves.
DEFAULT_TERMS = 3
# The default's residual rounds enumerate up to this size: the terms of a sum are mostly
# small, and on noisy data the rounds find nothing they may keep, so they should end soon.
_DEFAULT_ROUND_SIZE = 8
# The engine's bound: beyond five terms the combinations of any useful screened set explode.
MAX_TERMS = 5
# The first enumeration, of y itself, takes this share of a time or evaluation budget; the
# residual rounds and the fits share the rest.
_FIRST_SHARE = 0.6
# Best expressions per size the first enumeration and each residual round keep as terms
# (the one-term front takes the first DEFAULT_FRONT_SIZE of each size, as without terms).
_SCREEN_FRONT = 24
# Combinations kept per (term count, summed size) for the exact fit on every row.
_KEEP = 2
# Multi-term equations rank after one-term equations of the same size and error.
_ORDER_BASE = 1 << 62


def check_terms(terms: object, scaling: bool) -> int:
    """The number of terms asked for, 1 to MAX_TERMS (None: the default, DEFAULT_TERMS).

    >>> check_terms(None, True), check_terms(2, True), check_terms(None, False)
    (3, 2, 1)
    >>> check_terms(0, True)
    Traceback (most recent call last):
    ...
    ValueError: terms must be an integer from 1 to 5, got 0
    """
    if terms is None:
        return DEFAULT_TERMS if scaling else 1
    if isinstance(terms, bool) or not isinstance(terms, (int, np.integer)) \
            or not 1 <= int(terms) <= MAX_TERMS:
        raise ValueError(f"terms must be an integer from 1 to {MAX_TERMS}, got {terms!r}")
    if int(terms) > 1 and not scaling:
        raise ValueError("terms above 1 fit a coefficient per term: they need scaling=True")
    return int(terms)


def one_term_front(front: Sequence[Candidate], per_size: int) -> list[Candidate]:
    """The first ``per_size`` members of each size of an engine front (best first within
    a size): the front a search keeping that many per size gives.

    >>> [c["order"] for c in one_term_front([{"size": 1, "order": 0}, {"size": 1, "order": 1},
    ...                                      {"size": 2, "order": 5}], 1)]
    [0, 5]
    """
    taken: dict[int, int] = {}
    out = []
    for c in front:
        taken[c["size"]] = taken.get(c["size"], 0) + 1
        if taken[c["size"]] <= per_size:
            out.append(c)
    return out


def first_budget(settings: dict[str, Any], terms: int, asked: bool = True) -> dict[str, Any]:
    """The first enumeration's settings: its share of the time and evaluation budgets (all
    of them, and the one-term search's front, for one term or the default's terms)."""
    if terms == 1 or not asked:
        return settings
    out = {**settings, "front_size": max(int(settings["front_size"]), _SCREEN_FRONT)}
    if out["time_limit"] > 0:
        out["time_limit"] = out["time_limit"] * _FIRST_SHARE
    if out["max_evaluations"] > 0:
        out["max_evaluations"] = max(1, int(out["max_evaluations"] * _FIRST_SHARE))
    return out


@dataclass(frozen=True)
class TermsOutcome:
    """What the rounds added: the equations of several terms, the candidates scored, and
    whether Ctrl-C or the memory budget stopped them."""

    equations: tuple[Made, ...]
    evaluations: int
    interrupted: bool
    out_of_memory: bool = False


@dataclass(frozen=True)
class _Term:
    program: tuple[Token, ...]
    rank: tuple[int, int, int]   # (size, round, place in its front): the screened order


def _program(terms: Sequence[tuple[Token, ...]], coefficients: Sequence[float]) -> tuple[Token, ...]:
    """c1·f1 + c2·f2 + …: a coefficient of 1 unwritten, a later negative one a subtraction."""
    out: list[Token] = []
    for i, (f, c) in enumerate(zip(terms, coefficients, strict=True)):
        minus = i > 0 and c < 0
        a = -c if minus else c
        out += list(f) if a == 1.0 else [("const", a), *f, ("op", "mul")]
        if i > 0:
            out.append(("op", "sub" if minus else "add"))
    return tuple(out)


@dataclass(frozen=True)
class _Settled:
    values: Array      # intercept, then coefficients, in the search's units
    fitted: npt.NDArray[np.bool_]
    sse: float
    cost: float


def _settle(beta: Array, gram: Array, sse: float, rows: int, floor: float,
            shift: int) -> _Settled:
    """The simplest coefficients the data cannot tell from the fitted ones, one at a time.

    As :func:`vok_math.simple_constants.settle` does for a scale and an offset: a value is
    taken when the error stays within rounding with the others held, or when, with the
    others fitted again, the BIC (with the bits of the stated values) does not rise above
    the full fit's. The coefficients go first, then the intercept (towards 0); each takes
    the simplest value that passes. Errors follow from the design's quadratic form.
    """
    k = len(beta)
    values, fitted = beta.copy(), np.ones(k, dtype=bool)
    dof = rows - k
    if dof <= 0 or not np.isfinite(gram).all():
        return _Settled(values, fitted, sse, 0.0)
    try:
        cov = np.linalg.inv(gram) * (sse / dof)
    except np.linalg.LinAlgError:
        return _Settled(values, fitted, sse, 0.0)
    se = np.sqrt(np.clip(np.diag(cov), 0.0, None))
    limit = bic(sse, rows, k, floor)
    rounding = sse + sse * 1e-9 + rows * floor * floor
    current, cost = sse, 0.0
    for j in [*range(1, k), 0]:
        neutral = 0.0 if j == 0 else 1.0
        free = [i for i in range(k) if fitted[i] and i != j]
        try:
            options = candidate_values(ldexp(values[j], shift), ldexp(se[j], shift), neutral)
        except (ValueError, OverflowError):  # a value beyond what simple numbers reach
            continue
        for option in options:
            delta = ldexp(option.value, -shift) - values[j]
            held = current + delta * delta * gram[j, j]
            if held <= rounding:
                values[j] += delta
                fitted[j], current, cost = False, held, cost + option.cost
                break
            if option.rounding_only:
                continue
            if free:
                sub = gram[np.ix_(free, free)]
                cross = gram[free, j]
                try:
                    move = np.linalg.solve(sub, cross) * delta
                except np.linalg.LinAlgError:
                    continue
                # Never below the current error: the growth is a square, whatever rounding says.
                grown = max(current + delta * delta * gram[j, j] - delta * float(cross @ move),
                            current)
            else:
                move, grown = np.zeros(0), held
            if bic(grown, rows, len(free), floor, cost + option.cost) <= limit:
                values[j] += delta
                values[free] -= move
                fitted[j], current, cost = False, grown, cost + option.cost
                break
    return _Settled(values, fitted, current, cost)


class _Rounds:
    """The screening rounds and the fits, over one discover() call's data and budget."""

    def __init__(self, samples: Samples, names: tuple[str, ...], settings: dict[str, Any],
                 raw: EngineResult, terms: int, kind: ModelSelection, started: float,
                 searched: Array) -> None:
        self.samples, self.names, self.settings, self.kind = samples, names, settings, kind
        self.terms, self.started, self.searched = terms, started, searched
        self.candidates = one_term_front(raw["front"], int(settings["front_size"]))
        self.sizes = tuple(cast(SizeReport, dict(s)) for s in raw["sizes"])
        self.evaluations = 0
        self.interrupted = False
        self.out_of_memory = False
        self.screened: dict[tuple[Token, ...], _Term] = {}
        self.made: dict[tuple[tuple[Token, ...], ...], Made] = {}
        self.add_front(raw["front"], 0)
        rows = len(searched)
        max_rows = int(settings["max_rows"])
        self.rows = np.asarray(_engine.subset_rows(rows, max_rows) if max_rows else range(rows),
                               dtype=np.intp)

    # --- budgets ---

    def seconds_left(self) -> float:
        limit = float(self.settings["time_limit"])
        return math.inf if limit <= 0 else limit - (time.monotonic() - self.started)

    def evaluations_left(self, used: int) -> int:
        limit = int(self.settings["max_evaluations"])
        return -1 if limit <= 0 else limit - used

    # --- steps ---

    def add_front(self, front: Sequence[Candidate], round_: int) -> None:
        for place, c in enumerate(front):
            program = export.check_program(c["program"], len(self.names))
            if any(kind == "var" for kind, _ in program) and program not in self.screened:
                self.screened[program] = _Term(program, (len(program), round_, place))

    def residual(self) -> Array:
        """y (in the search's units) less the law chosen so far."""
        front, best = choose_best(build_front(self.samples, self.names, self.candidates,
                                              tuple(self.made.values())),
                                  self.samples, self.sizes, self.kind)
        if best is None:
            return self.searched
        law = front[best].predict(self.samples.columns.T)
        return self.searched - np.ldexp(law, -self.samples.shift)

    def enumerate_residual(self, round_: int, used: int) -> None:
        seconds = self.seconds_left()
        rounds_left = self.terms - round_
        evaluations = self.evaluations_left(used)
        if seconds <= 0 or evaluations == 0:
            return
        target = self.residual()
        if not np.isfinite(target).all():
            return
        settings = {**self.settings, "front_size": _SCREEN_FRONT,
                    "time_limit": 0.0 if math.isinf(seconds) else 0.8 * seconds / rounds_left,
                    "max_evaluations": max(evaluations // rounds_left, 1) if evaluations > 0
                    else 0}
        if self.samples.weights is not None:
            settings["weights"] = self.samples.weights
        raw = cast(EngineResult, _engine.enumerate(self.samples.columns, target, **settings))
        self.evaluations += int(raw["evaluations"])
        self.interrupted |= raw["stopped"] == "interrupted"
        self.add_front(raw["front"], round_)

    def search(self, max_terms: int) -> None:
        terms = sorted(self.screened.values(), key=lambda t: t.rank)
        if len(terms) < 2:
            return
        programs = [t.program for t in terms]
        columns = np.ascontiguousarray(self.samples.columns[:, self.rows])
        weights = None if self.samples.weights is None else self.samples.weights[self.rows]
        seconds = self.seconds_left()
        try:
            found = _engine.search_terms(
                programs, columns, self.searched[self.rows], max_terms=max_terms, keep=_KEEP,
                weights=weights, time_limit=0.0 if math.isinf(seconds) else max(seconds, 0.05),
                memory_limit=int(self.settings["memory_limit"]),
                n_threads=int(self.settings["n_threads"]))
        except MemoryError:
            # Refused before any work: the rounds end with what they found, as a full
            # memory ends an enumeration.
            self.out_of_memory = True
            return
        self.evaluations += int(found["fitted"])
        self.interrupted |= found["stopped"] == "interrupted"
        for indices in _promising(found["combinations"]):
            chosen = tuple(programs[i] for i in indices)
            if chosen not in self.made and (m := self.equation(chosen)) is not None:
                self.made[chosen] = m

    def equation(self, terms: tuple[tuple[Token, ...], ...]) -> Made | None:
        """The combination fitted on every row, its constants settled, measured as the
        engine measures an equation."""
        s = self.samples
        fit = _engine.fit_terms(list(terms), s.columns, self.searched, weights=s.weights)
        if fit is None:
            return None
        d = len(terms)
        beta = np.array([fit["intercept"], *fit["coefficients"]])
        gram = np.array(fit["gram"]).reshape(d + 1, d + 1)
        floor = ldexp(s.floor, -s.shift)
        with np.errstate(all="ignore"):  # far from ordinary magnitudes a growth is inf
            settled = _settle(beta, gram, float(fit["sse"]), s.rows, floor, s.shift)
        coefficients = [ldexp(v, s.shift) for v in settled.values[1:]]
        offset = ldexp(float(settled.values[0]), s.shift)
        # Written from a term of positive coefficient when there is one: f - g, not -1 * g + f.
        lead = next((i for i, c in enumerate(coefficients) if c > 0), 0)
        order = [lead, *(i for i in range(d) if i != lead)]
        terms = tuple(terms[i] for i in order)
        coefficients = [coefficients[i] for i in order]
        program = _program(terms, coefficients)
        scale = ldexp(1.0, -s.shift)
        sse = float(_engine.settle(program, s.columns, self.searched,
                                   [(scale, settled.values[0])], weights=s.weights)["sse"][0])
        if not math.isfinite(sse):
            return None
        sizes = tuple(len(f) for f in terms)
        fitted = int(settled.fitted.sum())
        dof = s.rows - fitted
        sigma = math.sqrt(sse / dof) if dof > 0 else math.nan
        intercept_se = math.nan
        if settled.fitted[0] and dof > 0:
            free = np.flatnonzero(settled.fitted)
            with np.errstate(all="ignore"):
                try:
                    cov = np.linalg.inv(gram[np.ix_(free, free)])
                    intercept_se = ldexp(sigma * math.sqrt(max(float(cov[0, 0]), 0.0)), s.shift)
                except np.linalg.LinAlgError:
                    pass
        total = sst(s)
        r2 = 1.0 - sse / total if total > 0 else (1.0 if sse == 0 else 0.0)
        eq = Equation(program, 1.0, offset, self.names, terms_size(len(program), sizes, offset),
                      ldexp(sse, 2 * s.shift), ldexp(math.sqrt(sse / s.total_weight), s.shift),
                      r2, offset_se=intercept_se, sigma=ldexp(sigma, s.shift), dof=max(dof, 0),
                      term_sizes=sizes)
        return Made(eq, sse, sum(sizes), _ORDER_BASE + len(self.made), fitted, settled.cost,
                    sizes)


def _promising(combinations: Sequence[tuple[tuple[int, ...], int, float]]) -> list[tuple[int, ...]]:
    """The combinations that may reach the front: more accurate than every one of a smaller
    summed size, counted with all their constants or with none of them."""
    keep: list[tuple[int, ...]] = []
    for constants in (True, False):
        best = math.inf
        for c in sorted(combinations, key=lambda c: (c[1] + constants * (len(c[0]) + 1), c[2],
                                                     c[0])):
            if c[2] < best:
                best = c[2]
                if c[0] not in keep:
                    keep.append(c[0])
    return keep


def several_terms(samples: Samples, names: tuple[str, ...], settings: dict[str, Any],
                  raw: EngineResult, terms: int, kind: ModelSelection, started: float,
                  searched: Array, asked: bool = True) -> TermsOutcome:
    """Laws of 2 to ``terms`` terms, screened from the first enumeration ``raw`` (of
    ``searched``, y in the search's units) and rounds on the residual of the law chosen so
    far, within what is left of the budgets of ``settings``. Unless the terms were
    ``asked`` for, the rounds enumerate up to _DEFAULT_ROUND_SIZE and only exact laws are
    kept (see DEFAULT_TERMS)."""
    if not asked:
        settings = {**settings, "max_size": min(settings["max_size"], _DEFAULT_ROUND_SIZE)}
    rounds = _Rounds(samples, names, settings, raw, terms, kind, started, searched)
    for round_ in range(1, terms):
        rounds.enumerate_residual(round_, int(raw["evaluations"]) + rounds.evaluations)
        if rounds.interrupted:
            break
        rounds.search(round_ + 1)
        if rounds.interrupted or rounds.out_of_memory:
            break
    made = tuple(m for m in rounds.made.values() if asked or is_exact(m, samples))
    return TermsOutcome(made, rounds.evaluations, rounds.interrupted, rounds.out_of_memory)
