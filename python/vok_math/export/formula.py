"""An equation as the formula text people read: variable names, fewest parentheses."""

from __future__ import annotations

from collections.abc import Sequence

from vok_math.export.infix import render
from vok_math.export.tree import equation_tree
from vok_math.operators import FUNCTIONS
from vok_math.records import Token

__all__ = ["CALLS", "formula_text"]

# Operators written as calls, by the names formulas call them (ln is log, as in numpy).
CALLS = FUNCTIONS


def formula_text(program: Sequence[Token], scale: float, offset: float, names: Sequence[str]) -> str:
    """Infix text with the variable names and the fewest parentheses that keep the meaning.

    >>> prog = [("var", 0), ("var", 1), ("var", 1), ("op", "mul"), ("op", "mul")]
    >>> formula_text(prog, 0.5, 0.0, ["m", "v"])
    '0.5 * m * v * v'
    >>> formula_text([("var", 0), ("op", "neg"), ("op", "exp")], 1.0, -2.5, ["x"])
    'exp(-x) - 2.5'
    """
    return render(equation_tree(program, scale, offset), names, "formula", CALLS)[0]
