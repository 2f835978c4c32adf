"""An equation as LaTeX: sympy's LaTeX of its sympy form."""

from __future__ import annotations

from collections.abc import Sequence

from vok_math.export.symbolic import sympy_module, to_sympy
from vok_math.records import Token

__all__ = ["to_latex"]


def to_latex(program: Sequence[Token], scale: float, offset: float, names: Sequence[str]) -> str:
    """LaTeX of the sympy form."""
    text: str = sympy_module().latex(to_sympy(program, scale, offset, names))
    return text
