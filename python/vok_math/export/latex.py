"""An equation as LaTeX: sympy's LaTeX of its sympy form, with every variable told apart.

sympy reads a name's underscores as sub- and superscripts (v_max is v_{max}) and a Greek
letter's name as the letter. Where that reading loses part of the name (x_ would be x_{}, which
shows as x; x__ a superscript; _a a subscript of nothing) or makes a variable look like a
constant of the formula (pi as π), the name is written as it is, in italics.
"""

from __future__ import annotations

from collections.abc import Sequence

from vok_math.export.symbolic import sympy_module, to_sympy
from vok_math.records import Token

__all__ = ["to_latex"]

# Names whose sympy LaTeX is a constant's (the sympy form writes π as pi).
_CONSTANT_LOOKALIKES = frozenset({"pi"})


def to_latex(program: Sequence[Token], scale: float, offset: float, names: Sequence[str]) -> str:
    r"""LaTeX of the sympy form.

    >>> to_latex([("var", 0), ("var", 1), ("op", "mul")], 2.0, 0.0, ["x_", "pi"])
    '2 \\mathit{pi} \\mathit{x\\_}'
    """
    sp = sympy_module()
    literal = {sp.Symbol(n): r"\mathit{" + n.replace("_", r"\_") + "}" for n in names
               if not _sympy_reads(n)}
    text: str = sp.latex(to_sympy(program, scale, offset, names), symbol_names=literal)
    return text


def _sympy_reads(name: str) -> bool:
    """Whether sympy's LaTeX of the name shows all of it, and as a variable."""
    from sympy.printing.conventions import split_super_sub

    base, supers, subs = split_super_sub(name)
    return bool(base) and "_" not in base and all(supers) and all(subs) and \
        name not in _CONSTANT_LOOKALIKES
