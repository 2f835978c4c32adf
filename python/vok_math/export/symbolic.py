"""An equation as a sympy expression (sympy is an optional extra, imported when used).

The sympy form is the formula's mathematics: it holds where the engine gives a value, and says
nothing of where it has none (log of a non-positive number, division by zero, overflow: there
the mathematics has no real value either). vok(a, b) is written exp(a) - log(b), which is the
engine's value where a <= 709.78 and b > 0, the domain a scientist simplifies and
differentiates on; elsewhere the engine guards it (exp(ln(a)) for large a, ln(max(|b|, 1e-300))
for b <= 0), and a Piecewise of those thresholds, or log(|b|), would bury the formula under
floating-point limits or sympy's re() and im() of complex symbols.

Where an operand is a number, the engine's branch is known and is written: vok(x, 0) is
exp(x) + 690.775527898214, vok(x, -2) is exp(x) - log(2). A number outside an operator's domain
(1/0, log(0), sqrt(-2), exp(1000)) leaves the engine no value on any row, so the whole form is
nan, never sympy's complex infinity.
"""

from __future__ import annotations

import math
from collections.abc import Callable, Sequence
from typing import TYPE_CHECKING, Any

from vok_math.export.guards import GUARDED, LN_FLOOR, SLIP_THRESHOLD, has_value
from vok_math.export.numbers import named_multiple, simple_rational
from vok_math.export.tree import Node, equation_tree
from vok_math.records import Token

if TYPE_CHECKING:
    import sympy as _sympy

__all__ = ["sympy_module", "to_sympy"]

# Integers up to here are exact doubles; a constant beyond is a measured number, not an integer.
_EXACT_INTEGERS = 2.0 ** 53


def sympy_module() -> Any:
    """The sympy module, or an ImportError that says how to get it."""
    try:
        import sympy
    except ImportError:
        raise ImportError("this needs sympy: pip install 'vok_math[sympy]'") from None
    return sympy


class _NoValue(Exception):
    """An operation of numbers alone without a value: the engine has none on any row."""


def _sympy_number(sp: Any, value: float) -> Any:
    if abs(value) < _EXACT_INTEGERS:
        fraction = simple_rational(value)
        if fraction is not None:
            return sp.Rational(fraction.numerator, fraction.denominator)
        named = named_multiple(value)
        if named is not None:
            return sp.Rational(named[0].numerator, named[0].denominator) * sp.sympify(named[1])
    return sp.Float(value)


def _double(number: Any) -> float:
    """A sympy number as a double; _NoValue when it is not a finite real one."""
    try:
        value = float(number)
    except TypeError:                    # a complex number
        raise _NoValue from None
    if not math.isfinite(value):
        raise _NoValue
    return value


def _vok(sp: Any, a: Any, b: Any) -> Any:
    """exp(a) - log(b), with the engine's branch where an operand is a number."""
    exp_a = a if a.is_number and _double(a) > SLIP_THRESHOLD else sp.exp(a)   # exp(ln a) is a
    if b.is_number and not _double(b) > 0:
        log_b = sp.log(-b) if -_double(b) >= LN_FLOOR else sp.log(sp.Float(LN_FLOOR))
    else:
        log_b = sp.log(b)
    return exp_a - log_b


def _functions(sp: Any) -> dict[str, Callable[..., Any]]:
    """sympy's function for each operator, by its name."""
    return {"neg": lambda a: -a, "inv": lambda a: 1 / a, "exp": sp.exp, "ln": sp.log,
            "sqrt": sp.sqrt, "sin": sp.sin, "cos": sp.cos, "abs": sp.Abs,
            "add": lambda a, b: a + b, "sub": lambda a, b: a - b, "mul": lambda a, b: a * b,
            "div": lambda a, b: a / b, "vok": lambda a, b: _vok(sp, a, b),
            "square": lambda a: a**2, "cube": lambda a: a**3, "tanh": sp.tanh,
            "asin": sp.asin, "acos": sp.acos, "atan": sp.atan}


def to_sympy(program: Sequence[Token], scale: float, offset: float,
             names: Sequence[str]) -> _sympy.Expr:
    """The equation as a sympy expression: see the module's text for what it holds where.

    >>> to_sympy([("var", 0), ("const", 0.0), ("op", "vok")], 1.0, 0.0, ["x"])
    exp(x) + 690.775527898214
    >>> to_sympy([("var", 0), ("var", 0), ("op", "sub"), ("op", "ln")], 1.0, 0.0, ["x"])
    nan
    """
    sp = sympy_module()
    symbols = [sp.Symbol(n) for n in names]
    functions = _functions(sp)

    def build(node: Node) -> Any:
        if node.op == "const":
            return _sympy_number(sp, float(node.value))
        if node.op == "var":
            return symbols[int(node.value)]
        args = [build(a) for a in node.args]
        tested = args[GUARDED[node.op]] if node.op in GUARDED else None
        if tested is not None and tested.is_number and not has_value(node.op, _double(tested)):
            raise _NoValue
        out = functions[node.op](*args)
        if out.is_number:
            _double(out)                 # overflow, or a complex or infinite result
        return out

    try:
        expr: _sympy.Expr = build(equation_tree(program, scale, offset))
    except _NoValue:
        expr = sp.nan
    return expr
