"""How exports write the numbers of an equation."""

from __future__ import annotations

import math
from fractions import Fraction

__all__ = ["MAX_DENOMINATOR", "NAMED_CONSTANTS", "NAMED_DENOMINATOR", "NAMED_MAX_SIZE",
           "named_multiple", "number_text", "simple_rational"]

# Largest denominator of the rationals that constants are written as (1/2, 2/3, 5/12, ...).
MAX_DENOMINATOR = 12
# The constants physics formulas carry, by their sympy spelling, and the largest denominator
# of the rational multiples of them a constant is written as (3/4·π, π/2, 1/(4π), ...).
NAMED_CONSTANTS: dict[str, float] = {
    "pi": math.pi, "1/pi": 1 / math.pi, "2*pi": 2 * math.pi, "4*pi": 4 * math.pi,
    "sqrt(2)": math.sqrt(2), "sqrt(pi)": math.sqrt(math.pi),
    "sqrt(2*pi)": math.sqrt(2 * math.pi), "E": math.e,
}
NAMED_DENOMINATOR = 4
# The largest |numerator| * denominator of a multiple written by name (discovery states none
# larger): beyond, float(q) * constant meets a large number by accident (1e30 is q * pi).
NAMED_MAX_SIZE = 2 ** 9


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


def named_multiple(value: float) -> tuple[Fraction, str] | None:
    """(q, name) when ``value`` is the float of q·constant for a named constant, computed as
    ``float(q) * constant`` (how simplified constants are made).

    >>> named_multiple(0.25 * (1 / math.pi)), named_multiple(math.pi), named_multiple(1e30)
    ((Fraction(1, 4), '1/pi'), (Fraction(1, 1), 'pi'), None)
    """
    if not math.isfinite(value) or value == 0:
        return None
    for name, base in NAMED_CONSTANTS.items():
        if abs(value) > NAMED_MAX_SIZE * base:      # 1e308 / (1/pi) would overflow
            continue
        q = Fraction(value / base).limit_denominator(NAMED_DENOMINATOR)
        if q != 0 and abs(q.numerator) * q.denominator <= NAMED_MAX_SIZE and float(q) * base == value:
            return q, name
    return None
