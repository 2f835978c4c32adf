"""The benchmarks' rows and records, and how a found model is judged on them.

A law's rows (``Data``), a method's ``Result`` on them and ``finish``, which scores a result: its
test error and R², its exact recovery (the refitted structure agreeing with the truth on fresh
rows) and SRBench's symbolic test. bench/recovery_bench.py describes the tests in full.
"""

from __future__ import annotations

import math
import zlib
from collections.abc import Callable, Sequence
from dataclasses import dataclass, field
from typing import Any

import numpy as np
import numpy.typing as npt

from recovery_laws import Law
from symbolic_check import SymbolicChecker, Verdict

Array = npt.NDArray[np.float64]
Predictor = Callable[[Array], Array]

SEED = 12
N_TRAIN, N_TEST, N_FRESH = 200, 1000, 1000
AGREE = 1e-9
EXACT_NMSE = 1e-10
GOAL_SIZE = 9
OPERATORS = ("neg", "inv", "exp", "ln", "sqrt", "sin", "cos", "add", "sub", "mul", "div", "vok")


# --- data ---

@dataclass
class Data:
    law: Law
    noise: float
    X: Array          # training rows
    y: Array          # training target (noisy when noise > 0)
    y_clean: Array
    X_test: Array
    y_test: Array
    X_fresh: Array
    y_fresh: Array


def truth_function(law: Law) -> Callable[..., Array]:
    import sympy
    symbols = sympy.symbols(law.variables)
    expr = sympy.sympify(law.truth, locals={n: s for n, s in zip(law.variables, symbols)})
    return sympy.lambdify(symbols, expr, modules=["scipy", "numpy"])  # type: ignore[no-any-return]


def make_data(law: Law, noise: float) -> Data:
    """The law's rows; the same for every method and noise level (only the noise is added)."""
    rng = np.random.default_rng([SEED, zlib.crc32(law.name.encode())])
    low = np.array([r[1] for r in law.ranges])
    high = np.array([r[2] for r in law.ranges])
    f = truth_function(law)

    def draw(n: int) -> tuple[Array, Array]:
        X = rng.uniform(low, high, size=(n, len(low)))
        return X, np.asarray(f(*X.T), dtype=np.float64) * np.ones(n)

    X, y = draw(N_TRAIN)
    X_test, y_test = draw(N_TEST)
    X_fresh, y_fresh = draw(N_FRESH)
    noise_rng = np.random.default_rng([SEED, zlib.crc32(law.name.encode()), 1])
    sigma = noise * float(np.sqrt(np.mean(y * y)))
    y_noisy = y + sigma * noise_rng.standard_normal(N_TRAIN) if noise else y
    return Data(law, noise, X, y_noisy, y, X_test, y_test, X_fresh, y_fresh)


def nmse(pred: Array, y: Array) -> float:
    if not np.all(np.isfinite(pred)):
        return math.inf
    return float(np.mean((pred - y) ** 2) / np.var(y))


def r2(pred: Array, y: Array) -> float:
    return 1.0 - nmse(pred, y)


def agrees(pred: Array, truth: Array) -> bool:
    if not np.all(np.isfinite(pred)):
        return False
    return bool(np.max(np.abs(pred - truth)) <= AGREE * np.sqrt(np.mean(truth * truth)))


# --- engine programs (the witnesses and discover's equations) ---

def parse_witness(law: Law) -> tuple[tuple[str, Any], ...]:
    out: list[tuple[str, Any]] = []
    for tok in (law.witness or "").split():
        if tok in law.variables:
            out.append(("var", law.variables.index(tok)))
        elif tok in OPERATORS:
            out.append(("op", tok))
        else:
            out.append(("const", float(tok)))
    return tuple(out)


def program_values(program: Sequence[Any], X: Array) -> Array:
    from vok_math import _engine
    with np.errstate(all="ignore"):
        return np.asarray(_engine.evaluate(program, np.ascontiguousarray(X.T)), dtype=np.float64)


def linear_refit(f: Array, y: Array) -> tuple[float, float]:
    """Least-squares a, b of y ~ a f + b (a, b = nan when f has no value somewhere)."""
    if not np.all(np.isfinite(f)):
        return math.nan, math.nan
    (a, b), *_ = np.linalg.lstsq(np.column_stack([f, np.ones_like(f)]), y, rcond=None)
    return float(a), float(b)


# --- results ---

@dataclass
class Result:
    law: str
    noise: float
    method: str
    exact: bool = False
    structure: bool = False
    """The refitted structure agrees with the truth (the size and own-error tests aside)."""
    r2: float = math.nan
    test_nmse: float = math.nan
    seconds: float = math.nan
    size: int | None = None
    formula: str = ""
    cause: str = ""
    extra: dict[str, Any] = field(default_factory=dict)
    symbolic: bool = False
    """SRBench's symbolic-solution test passed."""
    symbolic_why: str = ""
    """How it passed ("difference", "ratio") or why not ("not constant", "timeout", ...)."""
    truth_on_front: bool | None = None
    """discover: the truth's structure is one of d.equations (None for a control)."""
    best_is_truth: bool | None = None
    """discover: .best is the truth's structure (None for a control)."""
    flag: str = ""
    """discover on a control: why its best looks like an exact claim (empty: it does not)."""


_CHECKER: SymbolicChecker | None = None


def symbolic_check(model: Any, law: Any) -> Verdict:
    """SRBench's test of a sympy model against the law's truth, in the shared child process."""
    global _CHECKER
    if model is None:
        return Verdict(False, "no model")
    if _CHECKER is None:
        _CHECKER = SymbolicChecker()
    try:
        return _CHECKER.check(model, law.truth, law.ranges)
    except Exception as e:  # a model sympy cannot even write out is no solution
        return Verdict(False, f"error: {type(e).__name__}: {e}")


def finish(res: Result, d: Data, predict: Predictor, refit: Predictor | None,
           size_ok: bool, model: Any = None) -> Result:
    """Fills the test error, R², the exact-recovery verdict and the symbolic test of model."""
    with np.errstate(all="ignore"):
        pred = np.asarray(predict(d.X_test), dtype=np.float64)
        res.test_nmse = nmse(pred, d.y_test)
        res.r2 = r2(pred, d.y_test)
        structure = refit is not None and agrees(np.asarray(refit(d.X_fresh)), d.y_fresh)
    own = d.noise > 0 or res.test_nmse < EXACT_NMSE
    res.structure = bool(structure)
    res.exact = bool(structure and size_ok and own)
    verdict = symbolic_check(model, d.law)
    res.symbolic, res.symbolic_why = verdict.ok, verdict.why
    return res
