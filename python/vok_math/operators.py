"""The operators a search builds with: each one's name, arity and spellings, in one table.

The engine's table gives each operator's name, arity, infix symbol and commutativity; this
module adds how the package spells them. Every part of the package that needs to know an
operator (the settings' checks, a program's checks, the formula text, the exports) reads this
table; an export keeps only its own spelling of the calls, keyed by these names.
"""

from __future__ import annotations

from dataclasses import dataclass

from vok_math import _engine

__all__ = ["ALIASES", "BINARY", "BY_NAME", "FUNCTIONS", "NAMES", "OPERATORS", "UNARY", "Operator"]


@dataclass(frozen=True)
class Operator:
    """One operator of the engine.

    ``aliases`` are other names a search's settings accept for it; a formula writes it with the
    infix ``symbol`` (a + b), as a ``power`` (a**2) or as a call of ``function`` (log(a)), which
    is also numpy's name for it. neg and inv have neither: they are written -a and 1 / a. A
    ``commutative`` one gives the same bits either way round.
    """

    name: str
    arity: int
    aliases: tuple[str, ...] = ()
    symbol: str = ""
    function: str = ""
    commutative: bool = False
    power: int = 0


# What the package adds to the engine's table: other names settings accept, and the call a
# formula writes, numpy's name (neg and inv have neither: they are written -a and 1 / a; a
# formula writes square and cube as powers, and numpy source defines its own cube).
_SPELLINGS: dict[str, tuple[tuple[str, ...], str]] = {
    "neg": ((), ""), "inv": ((), ""), "exp": ((), "exp"), "ln": (("log",), "log"),
    "sqrt": ((), "sqrt"), "sin": ((), "sin"), "cos": ((), "cos"), "abs": ((), "abs"),
    "add": (("+",), ""), "sub": (("-",), ""), "mul": (("*",), ""), "div": (("/",), ""),
    "vok": ((), "vok"),     # vok(a, b) = exp(a) - ln(b)
    "square": ((), "square"), "cube": ((), ""), "tanh": ((), "tanh"),
    "asin": (("arcsin",), "arcsin"), "acos": (("arccos",), "arccos"),
    "atan": (("arctan",), "arctan"),
}
# Operators a formula writes as powers: a**2 reads better than square(a).
_POWERS = {"square": 2, "cube": 3}

# The engine's table, in its order (unary ones first: settings and messages list them so).
OPERATORS = tuple(
    Operator(op["name"], op["arity"], _SPELLINGS[op["name"]][0], op["symbol"] or "",
             _SPELLINGS[op["name"]][1], op["commutative"], _POWERS.get(op["name"], 0))
    for op in _engine.OPERATORS)

BY_NAME = {op.name: op for op in OPERATORS}
UNARY = tuple(op.name for op in OPERATORS if op.arity == 1)
BINARY = tuple(op.name for op in OPERATORS if op.arity == 2)
NAMES = UNARY + BINARY
ALIASES = {alias: op.name for op in OPERATORS for alias in op.aliases}
# The name a formula calls an operator by, for those written as calls.
FUNCTIONS = {op.name: op.function for op in OPERATORS if op.function}
