"""An equation as the source of a numpy function that computes it as the search does."""

from __future__ import annotations

from collections.abc import Sequence

from vok_math.export.infix import render
from vok_math.export.tree import equation_tree
from vok_math.operators import FUNCTIONS
from vok_math.records import Token

__all__ = ["python_source"]

# numpy's functions have the formulas' names; vok, which numpy has not, is defined beside the
# function that needs it.
_VOK_HELPER = '''
def {vok}(a, b):
    """vok(a, b) = exp(a) - ln(b), guarded as the search evaluates it."""
    e = {np}.where(a > 709.78, {np}.exp({np}.log(a)), {np}.exp(a))
    return e - {np}.where((b > 0) | {np}.isnan(b), {np}.log(b), {np}.log({np}.maximum({np}.abs(b), 1e-300)))
'''
_CUBE_HELPER = '''
def {cube}(a):
    """a * a * a, multiplied in the search's order."""
    return a * a * a
'''


def _calls(np_alias: str, vok: str, cube: str) -> dict[str, str]:
    # "numpy": the module's name in the source, for the named constants.
    return {**{op: f"{np_alias}.{fn}" for op, fn in FUNCTIONS.items()}, "vok": vok,
            "cube": cube, "numpy": np_alias}


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
    cube = next(a for a in ("cube", "_cube", "cube_") if a not in names)
    body, _ = render(equation_tree(program, scale, offset), names, "python",
                     _calls(np_alias, vok, cube))
    if not any(kind == "var" for kind, _ in program):
        body = f"{np_alias}.full({names[0]}.shape, {body})"
    arrays = ", ".join(f"{np_alias}.asarray({n}, dtype={np_alias}.float64)" for n in names)
    lines = [f"import numpy as {np_alias}" if np_alias != "numpy" else "import numpy", "", ""]
    if any(token == ("op", "vok") for token in program):
        lines += [*_VOK_HELPER.format(vok=vok, np=np_alias).strip("\n").splitlines(), "", ""]
    if ("op", "cube") in program:
        lines += [*_CUBE_HELPER.format(cube=cube).strip("\n").splitlines(), "", ""]
    lines += [f"def {name}({', '.join(names)}):",
              f"    {', '.join(names)}{',' if len(names) == 1 else ''} = "
              f"{np_alias}.broadcast_arrays({arrays})",
              f'    with {np_alias}.errstate(all="ignore"):',
              f"        return {body}", ""]
    return "\n".join(lines)
