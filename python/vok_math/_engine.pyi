"""Type stub for the native enumeration engine of vok_math."""

from collections.abc import Callable, Mapping, Sequence
from typing import Any, SupportsFloat, SupportsIndex, TypedDict, Unpack

import numpy as np
import numpy.typing as npt

_Float = SupportsFloat | SupportsIndex
_Columns = Sequence[Sequence[_Float]] | npt.NDArray[np.float64]
_Values = Sequence[_Float] | npt.NDArray[np.float64]
_Token = tuple[str, float | int | str]
_Program = Sequence[_Token]

_Progress = Callable[[dict[str, Any]], object] | None

class FrontMember(TypedDict):
    """One member of a front, as enumerate's dict holds it."""
    size: int
    program: tuple[_Token, ...]
    sse: float
    rmse: float
    scale: float
    offset: float
    order: int

class Operator(TypedDict):
    """symbol: the infix symbol of an arithmetic operator."""
    name: str
    arity: int
    commutative: bool
    symbol: str | None

class Settled(TypedDict):
    """fit: fit()'s result; sse: one per (scale, offset) asked for."""
    fit: tuple[float, float, float] | None
    sse: list[float]

SEGMENT_SLOTS: int
OPERATORS: tuple[Operator, ...]
"""Every operator the engine knows, unary then binary, in the generation order of a full list."""
DEFAULTS: dict[str, Any]
"""Every setting of enumerate and enumerate_slice with its default, in parameter order."""

class PanicException(BaseException): ...

class Settings(TypedDict, total=False):
    """The settings enumerate and enumerate_slice take by keyword; each default is the
    engine's own, in DEFAULTS (and in each entry's signature)."""
    max_size: SupportsIndex
    unary: Sequence[str]
    binary: Sequence[str]
    constants: Sequence[_Float]
    scaling: bool
    front_size: SupportsIndex
    beam_width: SupportsIndex
    max_evaluations: SupportsIndex
    time_limit: _Float
    memory_limit: SupportsIndex
    target_rmse: _Float
    n_threads: SupportsIndex
    progress: _Progress
    dedup_drop_bits: SupportsIndex
    max_rows: SupportsIndex
    weights: _Values | None

def enumerate(columns: _Columns, y: _Values, split: bool = False,
              **settings: Unpack[Settings]) -> dict[str, Any]:
    """Enumerates every distinct expression by size and returns the best of each size.

    With weights (one finite, non-negative weight per row, not all zero) every error is the
    weighted sum of squares, every fit minimises it and rmse is sqrt(sse / sum(weights))."""

def enumerate_slice(columns: _Columns, y: _Values, state: bytes, begin: SupportsIndex,
                    end: SupportsIndex, **settings: Unpack[Settings]) -> dict[str, Any]:
    """Enumerates slots [begin, end) of the largest size of a split run."""

def subset_rows(rows: SupportsIndex, max_rows: SupportsIndex) -> list[int]:
    """The rows enumerate searches on for data of ``rows`` rows with this max_rows, in increasing
    order: all of them when max_rows is 0 or not below rows, else i * rows // max_rows."""

def evaluate(program: _Program, columns: _Columns) -> list[float]:
    """A program's value on every row, computed exactly as the enumeration does (NaN: none)."""

def evaluate_many(programs: Sequence[_Program], columns: _Columns) -> list[memoryview]:
    """evaluate() of each program, the columns read once: one read-only memoryview of
    float64 (format 'd') per program, bit for bit evaluate()'s values."""

def fit(program: _Program, columns: _Columns, y: _Values, scaling: bool = True,
        weights: _Values | None = None) -> tuple[float, float, float] | None:
    """A program scored on every row as the enumeration scores it: (sse, scale, offset),
    weighted when weights are given."""

def settle(program: _Program, columns: _Columns, y: _Values,
           constants: Sequence[tuple[_Float, _Float]], scaling: bool = True,
           weights: _Values | None = None) -> Settled:
    """fit()'s result, and the sse of each (scale, offset) in constants, summed as the fit
    sums its own (NaN when the program has no value on some row)."""

def refit(front: Sequence[Mapping[str, Any]], columns: _Columns, y: _Values,
          scaling: bool = True, weights: _Values | None = None) -> list[FrontMember]:
    """A front searched on a subset of the rows, fitted again on these rows as the engine does
    after its own subset search; members without a fit dropped, the rest ranked by
    (size, sse, order)."""

def merge_slices(local: Mapping[str, Any], size: SupportsIndex,
                 slices: Sequence[Mapping[str, Any]], front_size: SupportsIndex,
                 seconds: _Float, complete: bool) -> dict[str, Any]:
    """A split search's result from its local sizes and its largest size's slices: the
    slices' fronts ranked by (sse, order), their reports summed."""

class TermsFound(TypedDict):
    """combinations: (term indices, summed size, sse), by (count, size, sse, indices)."""
    combinations: list[tuple[tuple[int, ...], int, float]]
    screened: int
    fitted: int
    stopped: str

class TermsFit(TypedDict):
    """gram: the row-major (d + 1)^2 matrix of sum w a_i a_j over a = (1, f_1, ...)."""
    coefficients: list[float]
    intercept: float
    sse: float
    gram: list[float]

def search_terms(programs: Sequence[_Program], columns: _Columns, y: _Values,
                 max_terms: SupportsIndex = 3, keep: SupportsIndex = 2,
                 weights: _Values | None = None, max_combinations: SupportsIndex = 30000000,
                 time_limit: _Float = 0.0, memory_limit: SupportsIndex = 0,
                 n_threads: SupportsIndex = 0) -> TermsFound:
    """Every combination of 2 to max_terms programs fitted to y by least squares from one
    Gram matrix; the best keep of each (term count, summed size)."""

def fit_terms(programs: Sequence[_Program], columns: _Columns, y: _Values,
              weights: _Values | None = None) -> TermsFit | None:
    """y ~ intercept + sum c_d * f_d fitted on every row, or None."""
