"""Type stub for the native enumeration engine of vok_math."""

from collections.abc import Callable, Sequence
from typing import Any, SupportsFloat, SupportsIndex

import numpy as np
import numpy.typing as npt

_Float = SupportsFloat | SupportsIndex
_Columns = Sequence[Sequence[_Float]] | npt.NDArray[np.float64]
_Values = Sequence[_Float] | npt.NDArray[np.float64]
_Token = tuple[str, float | int | str]
_Progress = Callable[[dict[str, Any]], object] | None

SEGMENT_SLOTS: int

class PanicException(BaseException): ...

def enumerate(
    columns: _Columns,
    y: _Values,
    split: bool = False,
    max_size: SupportsIndex = 8,
    unary: Sequence[str] = ...,
    binary: Sequence[str] = ...,
    constants: Sequence[_Float] = (0.0, 1.0),
    scaling: bool = True,
    front_size: SupportsIndex = 1,
    beam_width: SupportsIndex = 500,
    max_evaluations: SupportsIndex = 0,
    time_limit: _Float = 0.0,
    memory_limit: SupportsIndex = 0,
    target_rmse: _Float = -1.0,
    n_threads: SupportsIndex = 0,
    progress: _Progress = None,
    dedup_drop_bits: SupportsIndex = 16,
    max_rows: SupportsIndex = 0,
) -> dict[str, Any]:
    """Enumerates every distinct expression by size and returns the best of each size."""

def enumerate_slice(
    columns: _Columns,
    y: _Values,
    state: bytes,
    begin: SupportsIndex,
    end: SupportsIndex,
    max_size: SupportsIndex = 8,
    unary: Sequence[str] = ...,
    binary: Sequence[str] = ...,
    constants: Sequence[_Float] = (0.0, 1.0),
    scaling: bool = True,
    front_size: SupportsIndex = 1,
    beam_width: SupportsIndex = 500,
    max_evaluations: SupportsIndex = 0,
    time_limit: _Float = 0.0,
    memory_limit: SupportsIndex = 0,
    target_rmse: _Float = -1.0,
    n_threads: SupportsIndex = 0,
    progress: _Progress = None,
    dedup_drop_bits: SupportsIndex = 16,
    max_rows: SupportsIndex = 0,
) -> dict[str, Any]:
    """Enumerates slots [begin, end) of the largest size of a split run."""

def evaluate(program: Sequence[_Token], columns: _Columns) -> list[float]:
    """A program's value on every row, computed exactly as the enumeration does (NaN: none)."""
