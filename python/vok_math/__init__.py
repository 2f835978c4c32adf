"""vok_math: formula discovery and exp-minus-log value classes with a native core.

>>> import numpy as np, vok_math
>>> x = np.linspace(0.5, 3.0, 30)
>>> vok_math.discover(x, 9.81 * x, names=["t"], progress=False).best.formula
'9.81 * t'
"""

from typing import TYPE_CHECKING, Any

from vok_math import vok_core
from vok_math.vok_core import *  # noqa: F401,F403
from vok_math.discovery import Discovery, Equation, SearchInterruptedWarning, discover, load

if TYPE_CHECKING:
    from vok_math.estimator import VOKRegressor as VOKRegressor

# Kept equal to the version in pyproject.toml (a test checks it).
__version__ = "0.1.0"

# VOKRegressor is left out: a star import must not need scikit-learn.
__all__ = [*vok_core.__all__, "discover", "Discovery", "Equation", "load",
           "SearchInterruptedWarning"]


def __getattr__(name: str) -> Any:
    # scikit-learn is imported only when the estimator is used.
    if name == "VOKRegressor":
        from vok_math.estimator import VOKRegressor
        return VOKRegressor
    raise AttributeError(f"module 'vok_math' has no attribute {name!r}")


def __dir__() -> list[str]:
    return sorted([*globals(), "VOKRegressor"])
