"""The engine's guards as the exports write them: where an operator has no value, and vok's rules.

The engine evaluates every operator of a program on every row, and a row has no value as soon as
one operator leaves its domain or gives a result that is not finite (predict() writes NaN there).
The thresholds are the engine's doubles (a test pins them against its evaluation).

>>> has_value("inv", 1e-301), has_value("ln", 0.0), has_value("sqrt", -0.0), has_value("div", 2.0)
(False, False, True, True)
"""

from __future__ import annotations

__all__ = ["EXP_LIMIT", "GUARDED", "LN_FLOOR", "SLIP_THRESHOLD", "has_value"]

# |b| below it: 1/b and a/b have no value; vok's ln(b) takes max(|b|, LN_FLOOR) where b <= 0.
LN_FLOOR = 1e-300
# vok's exp(a) is exp(ln(a)) above it, growing like a instead of overflowing.
SLIP_THRESHOLD = 709.78
# ln of the largest double: exp(a) overflows for every a above it.
EXP_LIMIT = 709.782712893384


# The operators with a domain, and the place of the operand each one tests.
GUARDED = {"inv": 0, "div": 1, "ln": 0, "sqrt": 0}


def has_value(op: str, operand: float) -> bool:
    """Whether the engine's ``op`` (one of GUARDED) has a value where its tested operand is
    ``operand``, a finite number (before the test of its result for finiteness)."""
    if op == "ln":
        return operand > 0
    if op == "sqrt":
        return not operand < 0
    return abs(operand) >= LN_FLOOR
