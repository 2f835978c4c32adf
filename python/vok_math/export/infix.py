"""Infix text of an expression tree, for the formula and for Python source.

Both write the same tree with the fewest parentheses that keep its meaning; they differ in what
keeps a meaning (Python keeps the search's order of operations, the formula only its value)
and in how each writes calls, which the caller gives as a table from operator names. Python
source also divides only by ``divisor(b)`` (the caller's guard, named in the table), and writes
the constants of a part without variables as floats, which Python would otherwise compute
with exact integers.
"""

from __future__ import annotations

from collections.abc import Mapping, Sequence
from typing import Literal

from vok_math.export.numbers import named_multiple, number_text, simple_rational
from vok_math.export.tree import Node
from vok_math.operators import OPERATORS

__all__ = ["Mode", "render"]

Mode = Literal["formula", "python"]

# Binding strength: sums, products, a leading minus, powers, atoms (names, calls, numbers >= 0).
_SUM, _PRODUCT, _MINUS, _POWER, _ATOM = 1, 2, 3, 4, 5
_BINDING = {"+": _SUM, "-": _SUM, "*": _PRODUCT, "/": _PRODUCT}
_INFIX = {op.name: (f" {op.symbol} ", _BINDING[op.symbol]) for op in OPERATORS if op.symbol}
_POWERS = {op.name: op.power for op in OPERATORS if op.power}


# The named constants in numpy source, each evaluating to the float of the same name.
_NUMPY_CONSTANTS = {
    "pi": "{np}.pi", "1/pi": "(1 / {np}.pi)", "2*pi": "(2 * {np}.pi)", "4*pi": "(4 * {np}.pi)",
    "sqrt(2)": "{np}.sqrt(2.0)", "sqrt(pi)": "{np}.sqrt({np}.pi)",
    "sqrt(2*pi)": "{np}.sqrt(2 * {np}.pi)", "E": "{np}.e",
}


def render(node: Node, names: Sequence[str], mode: Mode, calls: Mapping[str, str],
           floats: bool = False) -> tuple[str, int]:
    """Text of ``node`` and how strongly it binds; ``floats``: write integers as floats."""
    op = node.op
    if mode == "python" and node.args and not floats:
        floats = not _has_variable(node)       # an operation of numbers alone
    if op == "const":
        value = float(node.value)
        fraction = simple_rational(value) if mode == "formula" else None
        if fraction is not None and fraction.denominator > 1 and len(repr(value)) > 8:
            text = f"{fraction.numerator}/{fraction.denominator}"    # 1/3, not 0.3333333333333333
            return text, (_MINUS if value < 0 else _PRODUCT)
        named = named_multiple(value) if mode == "python" else None
        if named is not None:
            # π and its kin spelt out, computed as the constant was made: the same bits.
            q, name = named
            base = _NUMPY_CONSTANTS[name].format(np=calls["numpy"])
            return (base if q == 1 else f"({number_text(float(q))} * {base})"), _ATOM
        # 0 as a float too: -0 is the integer 0, where the engine's -0.0 * x is -(0.0 * x).
        text = repr(value) if mode == "python" and (floats or value == 0) else number_text(value)
        return text, (_MINUS if text.startswith("-") else _ATOM)
    if op == "var":
        return names[int(node.value)], _ATOM
    if op == "mul" and mode == "formula":
        return _render_product(node, names, calls), _PRODUCT
    args = [render(a, names, mode, calls, floats) for a in node.args]
    if op == "neg":
        text, strength = args[0]
        return "-" + (f"({text})" if strength == _SUM or text.startswith("-") else text), _MINUS
    if op in _POWERS and mode == "formula":
        text, strength = args[0]
        return (text if strength == _ATOM else f"({text})") + f"**{_POWERS[op]}", _POWER
    if op == "inv":
        args = [("1", _ATOM), args[0]]
        op = "div"
    if op in _INFIX:
        symbol, strength = _INFIX[op]
        (left, ls), (right, rs) = args
        if op == "div" and mode == "python":
            right, rs = f"{calls['divisor']}({right})", _ATOM
        if ls < strength:
            left = f"({left})"
        # The right operand keeps its parentheses when regrouping would change the value:
        # always in Python (floating point is not associative), for - and / in the formula.
        if rs < strength or right.startswith("-") or (
                rs == strength and (mode == "python" or op in ("sub", "div"))):
            right = f"({right})"
        if op == "add" and rs == _MINUS and node.args[1].op == "const":
            return f"{left} - {right[2:-1]}", _SUM     # x + -3 is written x - 3 (same bits)
        return f"{left}{symbol}{right}", strength
    inner = ", ".join(text for text, _ in args)
    return f"{calls[op]}({inner})", _ATOM


def _has_variable(node: Node) -> bool:
    return node.op == "var" or any(_has_variable(a) for a in node.args)


def _factors(node: Node) -> list[Node]:
    return [f for a in node.args for f in (_factors(a) if a.op == "mul" else [a])]


def _render_product(node: Node, names: Sequence[str], calls: Mapping[str, str]) -> str:
    """A chain of products as the formula writes it: numbers, then variables in their order,
    then the rest; a factor 1/b divides (2 * m * v * v, a / b)."""
    def order(f: Node) -> tuple[bool, bool, float]:
        leaf = f.args[0] if f.op == "neg" else f        # -x sorts as x
        return leaf.op != "const", leaf.op != "var", leaf.value if leaf.op == "var" else 0

    factors = sorted(_factors(node), key=order)
    text = ""
    for i, factor in enumerate(factors):
        divide = factor.op == "inv" and i > 0
        part, strength = render(factor.args[0] if divide else factor, names, "formula", calls)
        if strength < _PRODUCT or (i > 0 and (part.startswith("-")
                                              or (divide and strength == _PRODUCT))):
            part = f"({part})"
        text += part if i == 0 else (" / " if divide else " * ") + part
    return text
