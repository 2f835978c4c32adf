"""What the commands print of a discovery: its front and the chosen formula."""

from __future__ import annotations

from typing import TextIO

from vok_math.discovery import Discovery
from vok_math.equation import Equation

__all__ = ["chosen", "print_result"]


def chosen(discovery: Discovery) -> Equation | None:
    """The chosen equation, or None when the front is empty."""
    return discovery.best if discovery.equations else None


def print_result(discovery: Discovery, target: str | None, out: TextIO, *, forms: bool) -> None:
    """The front, then the chosen formula (with its sympy and LaTeX forms when ``forms``)."""
    print(discovery, file=out)
    best = chosen(discovery)
    if best is None:
        return
    print(f"\nchosen: {target + ' = ' if target else ''}{best.formula}", file=out)
    if forms:
        try:
            print(f"sympy:  {best.sympy()}", file=out)
            print(f"LaTeX:  {best.latex()}", file=out)
        except ImportError as exc:
            print(f"(sympy and LaTeX forms need sympy: {exc})", file=out)
