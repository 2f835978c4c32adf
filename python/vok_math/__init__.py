"""vok_math: formula discovery and exp-minus-log value classes with a native core.

Three ways in: the ``vok-math`` command (``vok-math discover DATA.csv``; ``vok-math --help``),
:func:`discover` in Python, and :class:`VOKRegressor` for scikit-learn.

discover(X, y, ...) -> Discovery
    The tool for data. It validates X and y, enumerates every expression size by size, fits a
    scale and an offset to each candidate, and returns the Pareto front of error against size
    under your variable names, the chosen equation marked (see ``help(vok_math.discover)``).

find_formula(x_data, y_data, ...) -> SearchResult or None
    The native module's exact, low-level beam search, kept bit for bit; one result out.

    - Size and complexity: ``complexity`` is the formula's token count (each variable,
      constant and operator is one token: ``((x + x) + 1.0000)`` has five). ``max_complexity``
      bounds the binary combinations the search builds, not the result's size; ``beam_width``
      is how many candidates a level keeps (a quarter of it goes on to the next level), so a
      wider beam finds more.
    - ``error``: the root mean squared error over every row times
      ``1 + complexity_penalty * complexity``, so a longer formula must fit better to win; the
      search stops once it is at most ``precision_goal``. NaN or infinite data give a
      NaN or infinite error, not an exception: validate first, or use :func:`discover`.
    - ``None`` is returned when no candidate could be evaluated on every row. The constant
      leaves always can, so well-formed input always gives a result.
    - Variables are named by position (x, y, z, {, |, ...) and constants have four decimals.

>>> import numpy as np, vok_math
>>> x = np.linspace(0.5, 3.0, 30)
>>> vok_math.discover(x, 9.81 * x, names=["t"], progress=False).best.formula
'9.81 * t'
"""

import importlib
from typing import TYPE_CHECKING, Any

from vok_math import vok_core as vok_core
from vok_math.discovery import Discovery, SearchInterruptedWarning, discover, load
from vok_math.distributed import discover_many
from vok_math.equation import Equation
from vok_math.vok_core import *  # noqa: F403

if TYPE_CHECKING:
    from vok_math.estimator import VOKRegressor as VOKRegressor

# Kept equal to the version in pyproject.toml (a test checks it).
__version__ = "0.1.0"

# VOKRegressor is left out: a star import must not need scikit-learn.
__all__ = ["VOKPoint", "VOKPair", "VOKKnot", "schrodinger_step_n", "rotate_phase_n",
           "simulate_pulses_n", "PySearchResult", "find_formula",     # vok_core's, in its order
           "discover", "Discovery", "Equation", "load", "SearchInterruptedWarning",
           "discover_many"]


def __getattr__(name: str) -> Any:
    # scikit-learn is imported only when the estimator is used: its module subclasses
    # scikit-learn's classes, so importing it needs the extra.
    if name == "VOKRegressor":
        return importlib.import_module("vok_math.estimator").VOKRegressor
    raise AttributeError(f"module 'vok_math' has no attribute {name!r}")


def __dir__() -> list[str]:
    return sorted([*globals(), "VOKRegressor"])
