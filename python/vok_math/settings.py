"""discover()'s settings: each default written once, and the checks of what a caller gives.

The engine has defaults of its own, for a bare ``_engine.enumerate`` call. Where discover()'s
differ, the line says why.
"""

from __future__ import annotations

import math
import operator
from collections.abc import Sequence

import numpy as np
import numpy.typing as npt

from vok_math.linear_fit import exponent
from vok_math.model_choice import MODEL_SELECTIONS, ModelSelection
from vok_math.operators import ALIASES, BINARY, NAMES, UNARY
from vok_math.records import SearchSettings

__all__ = ["DEFAULT_CONSTANTS", "DEFAULT_FRONT_SIZE", "DEFAULT_MAX_ROWS", "DEFAULT_MAX_SIZE",
           "DEFAULT_OPERATORS", "DEFAULT_TIME_LIMIT", "DEFAULT_MODEL_SELECTION", "MAX_SIZE_LIMIT",
           "MAX_COUNT", "NOISE", "ON_REQUEST", "ULPS", "check_constants", "check_model_selection",
           "check_count", "check_operators", "check_seconds", "noise_floor", "search_settings"]

# Not the engine's 8: 10 holds laws such as E = m·v²/2 with room to spare and completes on one
# variable in seconds.
DEFAULT_MAX_SIZE = 10
# The engine's own bound on max_size, checked before a search starts.
MAX_SIZE_LIMIT = 30
# Not the engine's none: a search started without a limit still returns, with the front so far.
DEFAULT_TIME_LIMIT = 60.0
# Not the engine's every row: a search costs time in proportion to its rows, and 500 evenly
# spread ones tell formulas apart as well as more do; the front is then fitted and measured on
# every row. On the Feynman equations' 10,000 rows (15 s each) 500 rows state more laws than
# 1500 or 5000 do, at every noise level up to 10 %, in a third of the time.
DEFAULT_MAX_ROWS = 500
# Not the engine's, which has vok: vok doubles the candidates of each size and mostly adds
# lookalikes that fit noise. abs is left out by both, and the other functions are taken on
# request. square and cube are in: v**2 in one token reaches m0/sqrt(1 - (v/c)**2) and sums
# of squares, which states more of the Feynman equations within their minute.
ON_REQUEST = ("abs", "vok", "tanh", "asin", "acos", "atan")
DEFAULT_OPERATORS = tuple(name for name in NAMES if name not in ON_REQUEST)
# Not the engine's (0, 1): with scaling, the fitted offset does what a 0 leaf would, and each
# leaf makes every size two to three times slower.
DEFAULT_CONSTANTS = (1.0,)
# Not the engine's 1: the front is chosen after fitted constants are counted in the size, so a
# few runners-up per size can take the place of a winner whose constants cost it a size.
DEFAULT_FRONT_SIZE = 8
# Not the engine's none (it would search every size): an error within the rounding of y's own
# numbers is an exact fit, and ends the search. That is this share of y's spread, or this many
# spacings of doubles at y's largest magnitude, whichever is larger: never y's level alone.
NOISE = 1e-12
ULPS = 64
# How best is chosen without an exact fit: the description length measured best on the
# recovery benchmark at 0, 1 % and 10 % noise (see model_choice).
DEFAULT_MODEL_SELECTION: ModelSelection = "mdl"


def noise_floor(y: npt.NDArray[np.float64]) -> float:
    """The error at which a fit of y is exact up to rounding: the search's target_rmse.

    >>> noise_floor(np.array([9192631770.0, 9192631770.001])) < 5e-4
    True
    """
    top = float(np.max(np.abs(y)))
    shift = exponent(y)
    # The spread taken near 1 (scaled by a power of two), so it neither overflows nor underflows.
    spread = float(np.ldexp(np.std(np.ldexp(y, -shift)), shift))
    return max(NOISE * spread, ULPS * float(np.spacing(top)))


def check_model_selection(kind: object) -> ModelSelection:
    """The model-selection criterion, one of MODEL_SELECTIONS."""
    if kind not in MODEL_SELECTIONS:
        raise ValueError(f"model_selection must be one of {', '.join(MODEL_SELECTIONS)}, "
                         f"got {kind!r}")
    return kind


# The engine counts in 64 bits: a count setting beyond this is refused, not wrapped.
MAX_COUNT = 2**64 - 1


def _number_text(number: int) -> str:
    """An integer for a message, its digits counted when it has too many to read."""
    if abs(number) < 10**30:
        return str(number)
    # Counted from the bits: str() of a very long integer is refused.
    return f"an integer of about {int(number.bit_length() * math.log10(2)) + 1} digits"


def check_count(name: str, value: object, low: int, high: int | None = None) -> int:
    """An integer setting, checked to be in [low, high] (high: at most MAX_COUNT)."""
    try:
        if isinstance(value, bool):
            raise TypeError
        number = operator.index(value)  # type: ignore[arg-type]
    except TypeError:
        raise TypeError(f"{name} must be an integer, not {type(value).__name__}") from None
    if number < low or number > (MAX_COUNT if high is None else high):
        bounds = (f"between {low} and {high}" if high else
                  f"at least {low}" if number < low else f"at most {MAX_COUNT} (2**64 - 1)")
        raise ValueError(f"{name} must be {bounds}, got {_number_text(number)}")
    return number


def _real(name: str, value: object) -> float:
    """``float(value)``; an integer beyond the doubles is a ValueError naming the setting."""
    try:
        return float(value)  # type: ignore[arg-type]
    except OverflowError:
        text = _number_text(value) if isinstance(value, int) else repr(value)
        raise ValueError(f"{name}: {text} is too large for a double (beyond ±1.8e308)") from None


def check_operators(operators: Sequence[str] | None) -> tuple[list[str], list[str]]:
    """The unary and the binary operators chosen, by their engine names."""
    if operators is None:
        operators = DEFAULT_OPERATORS
    if isinstance(operators, str):
        raise TypeError("operators must be a sequence of names, such as ['add', 'mul', 'exp']")
    chosen = set()
    for op in operators:
        name = ALIASES.get(op, op)
        if name not in NAMES:
            raise ValueError(f"unknown operator {op!r}; known: {', '.join(NAMES)}")
        chosen.add(name)
    # Canonical order: the same set gives the same search whatever order it was given in.
    return [op for op in UNARY if op in chosen], [op for op in BINARY if op in chosen]


def check_constants(constants: Sequence[float] | None) -> list[float]:
    """The constant leaves, finite and each once."""
    if constants is None:
        return list(DEFAULT_CONSTANTS)
    out = []
    for c in constants:
        value = _real("constants", c)
        if not math.isfinite(value):
            raise ValueError(f"constants must be finite, got {c!r}")
        if value not in out:
            out.append(value)
    return out


def check_seconds(time_limit: float | None) -> float:
    """The time limit in the engine's terms: seconds, 0 for none."""
    if time_limit is None:
        return DEFAULT_TIME_LIMIT
    value = _real("time_limit", time_limit)
    if not value > 0:
        raise ValueError(f"time_limit must be positive (math.inf for none), got {time_limit!r}")
    return 0.0 if math.isinf(value) else value


def search_settings(*, max_size: int | None, time_limit: float | None,
                    max_evaluations: int | None, operators: Sequence[str] | None,
                    constants: Sequence[float] | None, scaling: bool, memory_limit: int | None,
                    n_threads: int | None, max_rows: int | None,
                    y: npt.NDArray[np.float64]) -> SearchSettings:
    """The engine's settings from discover()'s arguments (None: the default), each checked;
    ``y`` is the target, whose noise floor ends the search."""
    unary, binary = check_operators(operators)
    floor = noise_floor(y)
    return {
        "max_size": (DEFAULT_MAX_SIZE if max_size is None
                     else check_count("max_size", max_size, 1, MAX_SIZE_LIMIT)),
        "time_limit": check_seconds(time_limit),
        "max_evaluations": (0 if max_evaluations is None
                            else check_count("max_evaluations", max_evaluations, 1)),
        "unary": unary, "binary": binary, "constants": check_constants(constants),
        "scaling": bool(scaling), "front_size": DEFAULT_FRONT_SIZE,
        "memory_limit": 0 if memory_limit is None else check_count("memory_limit", memory_limit, 1),
        "n_threads": 0 if n_threads is None else check_count("n_threads", n_threads, 1),
        "target_rmse": floor,
        "max_rows": DEFAULT_MAX_ROWS if max_rows is None else check_count("max_rows", max_rows, 2),
    }
