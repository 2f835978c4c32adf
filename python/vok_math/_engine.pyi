"""Type stub for the native enumeration engine of vok_math."""

from collections.abc import Callable, Sequence
from typing import Any, SupportsFloat, SupportsIndex

import numpy as np
import numpy.typing as npt

_Float = SupportsFloat | SupportsIndex
_Columns = Sequence[Sequence[_Float]] | npt.NDArray[np.float64]
_Values = Sequence[_Float] | npt.NDArray[np.float64]
_Token = tuple[str, float | int | str]

def enumerate(
    columns: _Columns,
    y: _Values,
    *,
    max_size: SupportsIndex = 8,
    unary: Sequence[str] = ...,
    binary: Sequence[str] = ...,
    constants: Sequence[_Float] = ...,
    scaling: bool = True,
    front_size: SupportsIndex = 1,
    beam_width: SupportsIndex = 2000,
    max_evaluations: SupportsIndex = 0,
    time_limit: _Float = 0.0,
    memory_limit: SupportsIndex = 0,
    target_rmse: _Float = -1.0,
    n_threads: SupportsIndex = 0,
    progress: Callable[[dict[str, Any]], object] | None = None,
    split: bool = False,
) -> dict[str, Any]:
    """Enumerates every expression by size and returns the best candidates per size."""

def enumerate_slice(
    columns: _Columns,
    y: _Values,
    state: bytes,
    begin: SupportsIndex,
    end: SupportsIndex,
    **settings: Any,
) -> dict[str, Any]:
    """Enumerates slots [begin, end) of the largest size of a split search."""

def evaluate(program: Sequence[_Token], columns: _Columns) -> list[float]:
    """The program's values on every row (NaN where it has none), bit for bit as the search."""
