"""How exports write the numbers of an equation."""

from __future__ import annotations

import math
from fractions import Fraction

__all__ = ["MAX_DENOMINATOR", "number_text", "simple_rational"]

# Largest denominator of the rationals that constants are written as (1/2, 2/3, 5/12, ...).
MAX_DENOMINATOR = 12


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
    fraction = Fraction(value).limit_denominator(MAX_DENOMINATOR)
    return fraction if float(fraction) == value else None
