"""Type stub for the native core of vok_math."""

from collections.abc import Sequence
from typing import Final, SupportsFloat, SupportsIndex, final

__all__: list[str]

_Float = SupportsFloat | SupportsIndex

# --- formula discovery ---

@final
class PySearchResult:
    """Python-facing formula discovery result."""
    @property
    def formula(self) -> str: ...
    @property
    def error(self) -> float: ...
    @property
    def complexity(self) -> int: ...
    @property
    def params(self) -> list[float]: ...
    def to_latex(self) -> str: ...
    def to_python(self) -> str: ...

def find_formula(
    x_data: Sequence[Sequence[_Float]],
    y_data: Sequence[_Float],
    max_complexity: SupportsIndex = 8,
    beam_width: SupportsIndex = 2000,
    precision_goal: _Float = 1e-10,
    use_trig: bool = True,
    use_vok: bool = True,
    complexity_penalty: _Float = 0.001,
) -> PySearchResult | None:
    """Find a formula fitting x_data → y_data."""

# --- value classes and batch functions (below) ---
