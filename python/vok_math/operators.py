"""The operators a search builds with: each one's name, arity and spellings, in one table.

The engine knows the operators by these names. Every part of the package that needs to know an
operator (the settings' checks, a program's checks, the formula text, the exports) reads this
table; an export keeps only its own spelling of the calls, keyed by these names.
"""

from __future__ import annotations

from dataclasses import dataclass

__all__ = ["ALIASES", "BINARY", "BY_NAME", "FUNCTIONS", "NAMES", "OPERATORS", "UNARY", "Operator"]


@dataclass(frozen=True)
class Operator:
    """One operator of the engine.

    ``aliases`` are other names a search's settings accept for it; a formula writes it with the
    infix ``symbol`` (a + b) or as a call of ``function`` (log(a)). neg and inv have neither:
    they are written -a and 1 / a. A ``commutative`` one gives the same bits either way round.
    """

    name: str
    arity: int
    aliases: tuple[str, ...] = ()
    symbol: str = ""
    function: str = ""
    commutative: bool = False


# Unary ones first: settings, messages and the engine list them in this order.
OPERATORS = (
    Operator("neg", 1),
    Operator("inv", 1),
    Operator("exp", 1, function="exp"),
    Operator("ln", 1, aliases=("log",), function="log"),
    Operator("sqrt", 1, function="sqrt"),
    Operator("sin", 1, function="sin"),
    Operator("cos", 1, function="cos"),
    Operator("abs", 1, function="abs"),
    Operator("add", 2, aliases=("+",), symbol="+", commutative=True),
    Operator("sub", 2, aliases=("-",), symbol="-"),
    Operator("mul", 2, aliases=("*",), symbol="*", commutative=True),
    Operator("div", 2, aliases=("/",), symbol="/"),
    Operator("vok", 2, function="vok"),     # vok(a, b) = exp(a) - ln(b)
)

BY_NAME = {op.name: op for op in OPERATORS}
UNARY = tuple(op.name for op in OPERATORS if op.arity == 1)
BINARY = tuple(op.name for op in OPERATORS if op.arity == 2)
NAMES = UNARY + BINARY
ALIASES = {alias: op.name for op in OPERATORS for alias in op.aliases}
# The name a formula calls an operator by, for those written as calls.
FUNCTIONS = {op.name: op.function for op in OPERATORS if op.function}
