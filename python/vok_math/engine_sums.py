"""The engine's sums, redone in numpy where the package needs them between engine calls.

Each is summed as the engine sums it (row by row, in row order), so its numbers agree with the
engine's own bit for bit. This is the one place that imitates the engine's arithmetic: when the
engine offers these, calls to it take their place here.
"""

from __future__ import annotations

import math

import numpy as np
import numpy.typing as npt

__all__ = ["rmse", "sse", "sst"]


def sse(f: npt.NDArray[np.float64], y: npt.NDArray[np.float64], scale: float,
        offset: float) -> float:
    """Squared residuals of ``scale * f + offset`` against y, summed in row order."""
    with np.errstate(all="ignore"):
        r = ((scale * f) + offset) - y
        return float(np.cumsum(r * r)[-1])


def sst(y: npt.NDArray[np.float64]) -> float:
    """Squared deviations of y from its mean, summed in row order."""
    return float(np.cumsum((y - y.mean()) ** 2)[-1])


def rmse(sse: float, n: int) -> float:
    """The root mean squared error of ``n`` rows whose squared residuals sum to ``sse``."""
    return math.sqrt(sse / n)
