"""Writing an equation out: infix text, runnable numpy source, sympy and LaTeX, and the JSON file.

An equation is ``scale * f + offset`` where ``f`` is a postfix program of the engine. Text is
rendered from one expression tree; the Python source keeps the engine's order of operations (so
it reproduces the values bit for bit wherever numpy's functions do), the formula text drops the
parentheses that associativity makes redundant.
"""

from __future__ import annotations

import json
import math
from collections.abc import Sequence
from dataclasses import dataclass
from fractions import Fraction
from typing import TYPE_CHECKING, Any, Literal, Union

if TYPE_CHECKING:
    import sympy as _sympy

__all__ = ["Token", "UNARY_OPS", "BINARY_OPS", "check_program", "number_text", "formula_text",
           "python_source", "to_sympy", "FILE_FORMAT", "FILE_VERSION", "dumps_state", "loads_state"]

Token = tuple[str, Union[float, int, str]]
UNARY_OPS = ("neg", "inv", "exp", "ln", "sqrt", "sin", "cos", "abs")
BINARY_OPS = ("add", "sub", "mul", "div", "vok")
_FUNCTIONS = {"exp": "exp", "ln": "log", "sqrt": "sqrt", "sin": "sin", "cos": "cos", "abs": "abs"}
# Largest denominator of the rationals that constants are written as (1/2, 2/3, 5/12, ...).
_MAX_DENOMINATOR = 12

# Binding strength: sums, products, a leading minus, atoms (names, calls, numbers >= 0).
_SUM, _PRODUCT, _MINUS, _ATOM = 1, 2, 3, 4
_INFIX = {"add": (" + ", _SUM), "sub": (" - ", _SUM), "mul": (" * ", _PRODUCT),
          "div": (" / ", _PRODUCT)}


def check_program(program: Sequence[Sequence[Any]], n_features: int) -> tuple[Token, ...]:
    """The program as a tuple of tokens, after checking that it is well formed.

    >>> check_program([["var", 0], ["op", "exp"]], 1)
    (('var', 0), ('op', 'exp'))
    >>> check_program([("op", "add")], 1)
    Traceback (most recent call last):
    ...
    ValueError: malformed program: 'add' at token 0 needs 2 operands
    """
    tokens: list[Token] = []
    depth = 0
    for i, token in enumerate(program):
        if not isinstance(token, (list, tuple)) or len(token) != 2:
            raise ValueError(f"malformed program: token {i} is {token!r}, not a (kind, value) pair")
        kind, value = token
        if kind == "const" and type(value) in (float, int) and math.isfinite(value):
            tokens.append(("const", float(value)))
            depth += 1
        elif kind == "var" and type(value) is int and 0 <= value < n_features:
            tokens.append(("var", value))
            depth += 1
        elif kind == "op" and value in UNARY_OPS + BINARY_OPS:
            arity = 1 if value in UNARY_OPS else 2
            if depth < arity:
                raise ValueError(f"malformed program: {value!r} at token {i} needs {arity} operands")
            tokens.append(("op", str(value)))
            depth -= arity - 1
        else:
            raise ValueError(f"malformed program: bad token {i}: {token!r}")
    if depth != 1:
        raise ValueError(f"malformed program: leaves {depth} values instead of 1")
    return tuple(tokens)


def number_text(value: float) -> str:
    """Shortest text that reads back as ``value``; integral values without a decimal point.

    >>> number_text(2.0), number_text(0.1), number_text(-3.0), number_text(1e20)
    ('2', '0.1', '-3', '1e+20')
    """
    if value == 0:
        return "0" if math.copysign(1.0, value) > 0 else "-0.0"
    if value.is_integer() and abs(value) < 1e16:
        return str(int(value))
    return repr(value)


def simple_rational(value: float) -> Fraction | None:
    """The fraction p/q (q <= 12) whose nearest float is ``value``, if there is one.

    >>> simple_rational(0.5), simple_rational(2 / 3), simple_rational(9.81)
    (Fraction(1, 2), Fraction(2, 3), None)
    """
    if not math.isfinite(value):
        return None
    fraction = Fraction(value).limit_denominator(_MAX_DENOMINATOR)
    return fraction if float(fraction) == value else None


@dataclass(frozen=True)
class _Node:
    op: str                      # "const", "var" or an operator name
    args: tuple[_Node, ...] = ()
    value: float | int = 0


def equation_tree(program: Sequence[Token], scale: float, offset: float) -> _Node:
    """``(scale * f) + offset`` as a tree; scale 1 and offset 0 are left out (exactly equal)."""
    stack: list[_Node] = []
    for kind, value in program:
        if kind == "op":
            arity = 1 if value in UNARY_OPS else 2
            args = tuple(stack[len(stack) - arity:])
            del stack[len(stack) - arity:]
            if value in ("add", "mul") and all(a.op in ("const", "var") for a in args):
                # Two leaves in reading order (2 * x, m * v): a + b and b + a are the same bits.
                args = tuple(sorted(args, key=lambda a: (a.op == "var", a.value)))
            stack.append(_Node(str(value), args))
        else:
            stack.append(_Node(kind, (), int(value) if kind == "var" else float(value)))
    node = stack[-1]
    if scale == -1.0:
        node = _Node("neg", (node,))        # (-1) * f and -f are the same bits
    elif scale != 1.0:
        node = _Node("mul", (_Node("const", value=scale), node))
    if offset != 0.0:
        node = _Node("add", (node, _Node("const", value=offset)))
    return node


def _render(node: _Node, names: Sequence[str], mode: Literal["formula", "python"], calls: dict[str, str]) -> tuple[str, int]:
    """Text of ``node`` and how strongly it binds."""
    op = node.op
    if op == "const":
        value = float(node.value)
        fraction = simple_rational(value) if mode == "formula" else None
        if fraction is not None and fraction.denominator > 1 and len(repr(value)) > 8:
            text = f"{fraction.numerator}/{fraction.denominator}"    # 1/3, not 0.3333333333333333
            return text, (_MINUS if value < 0 else _PRODUCT)
        text = number_text(value)
        return text, (_MINUS if text.startswith("-") else _ATOM)
    if op == "var":
        return names[int(node.value)], _ATOM
    if op == "mul" and mode == "formula":
        return _render_product(node, names, calls), _PRODUCT
    args = [_render(a, names, mode, calls) for a in node.args]
    if op == "neg":
        text, strength = args[0]
        return "-" + (f"({text})" if strength == _SUM or text.startswith("-") else text), _MINUS
    if op == "inv":
        args = [("1", _ATOM), args[0]]
        op = "div"
    if op in _INFIX:
        symbol, strength = _INFIX[op]
        (left, ls), (right, rs) = args
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


def _factors(node: _Node) -> list[_Node]:
    return [f for a in node.args for f in (_factors(a) if a.op == "mul" else [a])]


def _render_product(node: _Node, names: Sequence[str], calls: dict[str, str]) -> str:
    """A chain of products as the formula writes it: numbers, then variables in their order,
    then the rest; a factor 1/b divides (2 * m * v * v, a / b)."""
    def order(f: _Node) -> tuple[bool, bool, float]:
        leaf = f.args[0] if f.op == "neg" else f        # -x sorts as x
        return leaf.op != "const", leaf.op != "var", leaf.value if leaf.op == "var" else 0

    factors = sorted(_factors(node), key=order)
    text = ""
    for i, factor in enumerate(factors):
        divide = factor.op == "inv" and i > 0
        part, strength = _render(factor.args[0] if divide else factor, names, "formula", calls)
        if strength < _PRODUCT or (i > 0 and (part.startswith("-") or (divide and strength == _PRODUCT))):
            part = f"({part})"
        text += part if i == 0 else (" / " if divide else " * ") + part
    return text


def formula_text(program: Sequence[Token], scale: float, offset: float, names: Sequence[str]) -> str:
    """Infix text with the variable names and the fewest parentheses that keep the meaning.

    >>> prog = [("var", 0), ("var", 1), ("var", 1), ("op", "mul"), ("op", "mul")]
    >>> formula_text(prog, 0.5, 0.0, ["m", "v"])
    '0.5 * m * v * v'
    >>> formula_text([("var", 0), ("op", "neg"), ("op", "exp")], 1.0, -2.5, ["x"])
    'exp(-x) - 2.5'
    """
    calls = dict(_FUNCTIONS, vok="vok")
    return _render(equation_tree(program, scale, offset), names, "formula", calls)[0]


_VOK_HELPER = '''
def {vok}(a, b):
    """vok(a, b) = exp(a) - ln(b), guarded as the search evaluates it."""
    e = {np}.where(a > 709.78, {np}.exp({np}.log(a)), {np}.exp(a))
    return e - {np}.where((b > 0) | {np}.isnan(b), {np}.log(b), {np}.log({np}.maximum({np}.abs(b), 1e-300)))
'''


def python_source(program: Sequence[Token], scale: float, offset: float, names: Sequence[str],
                  name: str = "f") -> str:
    """Source of a numpy function of every variable that computes the equation.

    The operations run in the search's order, so the values match its own evaluation
    wherever numpy's elementary functions round as the C library's do.

    >>> prog = [("var", 0), ("var", 1), ("var", 1), ("op", "mul"), ("op", "mul")]
    >>> src = python_source(prog, 0.5, 0.0, ["m", "v"])
    >>> print(src)
    import numpy as np
    <BLANKLINE>
    <BLANKLINE>
    def f(m, v):
        m, v = np.broadcast_arrays(np.asarray(m, dtype=np.float64), np.asarray(v, dtype=np.float64))
        with np.errstate(all="ignore"):
            return 0.5 * (m * (v * v))
    <BLANKLINE>
    >>> namespace = {}
    >>> exec(src, namespace)
    >>> namespace["f"]([1.0, 2.0], 3.0)
    array([4.5, 9. ])
    """
    np_alias = next(a for a in ("np", "numpy", "_np", "_numpy") if a not in names)
    vok = next(a for a in ("vok", "_vok", "vok_") if a not in names)
    calls = {op: f"{np_alias}.{fn}" for op, fn in _FUNCTIONS.items()}
    calls["vok"] = vok
    body, _ = _render(equation_tree(program, scale, offset), names, "python", calls)
    if not any(kind == "var" for kind, _ in program):
        body = f"{np_alias}.full({names[0]}.shape, {body})"
    arrays = ", ".join(f"{np_alias}.asarray({n}, dtype={np_alias}.float64)" for n in names)
    lines = [f"import numpy as {np_alias}" if np_alias != "numpy" else "import numpy", "", ""]
    if any(token == ("op", "vok") for token in program):
        lines += _VOK_HELPER.format(vok=vok, np=np_alias).strip("\n").splitlines() + ["", ""]
    lines += [f"def {name}({', '.join(names)}):",
              f"    {', '.join(names)}{',' if len(names) == 1 else ''} = "
              f"{np_alias}.broadcast_arrays({arrays})",
              f'    with {np_alias}.errstate(all="ignore"):',
              f"        return {body}", ""]
    return "\n".join(lines)


def _sympy_module() -> Any:
    try:
        import sympy
    except ImportError:
        raise ImportError("this needs sympy: pip install 'vok_math[sympy]'") from None
    return sympy


def _sympy_number(sp: Any, value: float) -> Any:
    fraction = simple_rational(value)
    return sp.Rational(fraction.numerator, fraction.denominator) if fraction is not None \
        else sp.Float(value)


def to_sympy(program: Sequence[Token], scale: float, offset: float,
             names: Sequence[str]) -> _sympy.Expr:
    """The equation as a sympy expression; vok(a, b) becomes exp(a) - log(b)."""
    sp = _sympy_module()
    symbols = [sp.Symbol(n) for n in names]
    unary = {"neg": lambda a: -a, "inv": lambda a: 1 / a, "exp": sp.exp, "ln": sp.log,
             "sqrt": sp.sqrt, "sin": sp.sin, "cos": sp.cos, "abs": sp.Abs}
    binary = {"add": lambda a, b: a + b, "sub": lambda a, b: a - b, "mul": lambda a, b: a * b,
              "div": lambda a, b: a / b, "vok": lambda a, b: sp.exp(a) - sp.log(b)}

    def build(node: _Node) -> Any:
        if node.op == "const":
            return _sympy_number(sp, float(node.value))
        if node.op == "var":
            return symbols[int(node.value)]
        args = [build(a) for a in node.args]
        return unary[node.op](args[0]) if len(args) == 1 else binary[node.op](*args)

    expr: _sympy.Expr = build(equation_tree(program, scale, offset))
    return expr


def to_latex(program: Sequence[Token], scale: float, offset: float, names: Sequence[str]) -> str:
    """LaTeX of the sympy form."""
    text: str = _sympy_module().latex(to_sympy(program, scale, offset, names))
    return text


# --- the saved file ---

FILE_FORMAT = "vok_math.discovery"
FILE_VERSION = 1


def dumps_state(state: dict[str, Any]) -> str:
    """JSON text of a discovery's state; floats are written by repr, which reads back exactly."""
    return json.dumps({"format": FILE_FORMAT, "version": FILE_VERSION, **state}, indent=1,
                      allow_nan=True)


def loads_state(text: str, source: str) -> dict[str, Any]:
    """The state dict of a saved discovery; ValueError naming ``source`` when it is not one."""
    try:
        data = json.loads(text)
    except json.JSONDecodeError as e:
        raise ValueError(f"{source}: not a vok_math discovery file (corrupt or truncated JSON: "
                         f"{e})") from None
    if not isinstance(data, dict) or data.get("format") != FILE_FORMAT:
        raise ValueError(f"{source}: not a vok_math discovery file (no format {FILE_FORMAT!r})")
    version = data.get("version")
    if type(version) is not int or version < 1:
        raise ValueError(f"{source}: bad format version {version!r}")
    if version > FILE_VERSION:
        raise ValueError(f"{source}: written by a newer vok_math (file format version {version}; "
                         f"this version reads up to {FILE_VERSION}); upgrade vok_math to read it")
    del data["format"], data["version"]
    return data
