"""An equation as a sympy expression (sympy is an optional extra, imported when used)."""

from __future__ import annotations

from collections.abc import Sequence
from typing import TYPE_CHECKING, Any

from vok_math.export.numbers import named_multiple, simple_rational
from vok_math.export.tree import Node, equation_tree
from vok_math.records import Token

if TYPE_CHECKING:
    import sympy as _sympy

__all__ = ["sympy_module", "to_sympy"]


def sympy_module() -> Any:
    """The sympy module, or an ImportError that says how to get it."""
    try:
        import sympy
    except ImportError:
        raise ImportError("this needs sympy: pip install 'vok_math[sympy]'") from None
    return sympy


def _sympy_number(sp: Any, value: float) -> Any:
    fraction = simple_rational(value)
    if fraction is not None:
        return sp.Rational(fraction.numerator, fraction.denominator)
    named = named_multiple(value)
    if named is not None:
        return sp.Rational(named[0].numerator, named[0].denominator) * sp.sympify(named[1])
    return sp.Float(value)


def _functions(sp: Any) -> dict[str, Any]:
    """sympy's function for each operator, by its name."""
    return {"neg": lambda a: -a, "inv": lambda a: 1 / a, "exp": sp.exp, "ln": sp.log,
            "sqrt": sp.sqrt, "sin": sp.sin, "cos": sp.cos, "abs": sp.Abs,
            "add": lambda a, b: a + b, "sub": lambda a, b: a - b, "mul": lambda a, b: a * b,
            "div": lambda a, b: a / b, "vok": lambda a, b: sp.exp(a) - sp.log(b),
            "square": lambda a: a**2, "cube": lambda a: a**3, "tanh": sp.tanh,
            "asin": sp.asin, "acos": sp.acos, "atan": sp.atan}


def to_sympy(program: Sequence[Token], scale: float, offset: float,
             names: Sequence[str]) -> _sympy.Expr:
    """The equation as a sympy expression; vok(a, b) becomes exp(a) - log(b)."""
    sp = sympy_module()
    symbols = [sp.Symbol(n) for n in names]
    functions = _functions(sp)

    def build(node: Node) -> Any:
        if node.op == "const":
            return _sympy_number(sp, float(node.value))
        if node.op == "var":
            return symbols[int(node.value)]
        return functions[node.op](*(build(a) for a in node.args))

    expr: _sympy.Expr = build(equation_tree(program, scale, offset))
    return expr
