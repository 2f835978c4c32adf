"""vok_math: formula discovery and exp-minus-log value classes with a native core."""

from vok_math import vok_core
from vok_math.vok_core import *  # noqa: F401,F403

__all__ = list(vok_core.__all__)
