"""An equation as the source of a numpy function that gives predict()'s values, bit for bit.

The source keeps the search's order of operations and the engine's guards. Arithmetic, sqrt,
sin, cos and abs are numpy's, which round as the C library does; numpy's exp and log are its
own (vectorised) and can differ from the C library's in the last bit, so exp, ln and vok call
Python's math module, one number at a time. A step whose value is not finite may be turned
finite again only by 1/b, a/b, exp and vok, so those treat an operand that is not finite as
no value; every other step carries it to the result, which the last line tests.
"""

from __future__ import annotations

import keyword
import math
import unicodedata
from collections.abc import Sequence
from itertools import chain, count

from vok_math.export.guards import EXP_LIMIT, LN_FLOOR, SLIP_THRESHOLD
from vok_math.export.infix import render
from vok_math.export.tree import equation_tree
from vok_math.operators import FUNCTIONS
from vok_math.records import Token

__all__ = ["python_source"]

# The functions the source defines, by the name the body calls: each computes what the engine
# does for one operator, NaN where it has no value. The C library's exp and log run one number
# at a time (np.vectorize), numpy's where it computes the same bits.
_HELPERS = {
    "exp": f'''
@{{np}}.vectorize(otypes=[{{np}}.float64])
def {{name}}(a):
    """exp(a) by the C library, as predict() computes it: NaN where a is not finite or exp(a)
    overflows (a > {EXP_LIMIT!r}, the log of the largest double)."""
    return {{math}}.exp(a) if -{{math}}.inf < a <= {EXP_LIMIT!r} else {{math}}.nan
''',
    "log": '''
@{np}.vectorize(otypes=[{np}.float64])
def {name}(a):
    """ln(a) by the C library, as predict() computes it: NaN unless 0 < a < inf."""
    return {math}.log(a) if 0 < a < {math}.inf else {math}.nan
''',
    "vok": f'''
@{{np}}.vectorize(otypes=[{{np}}.float64])
def {{name}}(a, b):
    """vok(a, b) = exp(a) - ln(b), by the C library, as predict() computes it: above {SLIP_THRESHOLD!r}
    exp(a) is exp(ln(a)) (it grows like a instead of overflowing), and where b <= 0, ln(b) is
    taken of |b|, at least {LN_FLOOR!r}. NaN where a or b is not finite."""
    if not ({{math}}.isfinite(a) and {{math}}.isfinite(b)):
        return {{math}}.nan
    e = {{math}}.exp({{math}}.log(a)) if a > {SLIP_THRESHOLD!r} else {{math}}.exp(a)
    return e - {{math}}.log(b if b > 0 else -b if -b > {LN_FLOOR!r} else {LN_FLOOR!r})
''',
    "divisor": f'''
def {{name}}(b):
    """b where predict() divides by it: NaN where |b| < {LN_FLOOR!r} or b is not finite."""
    return {{np}}.where(({{np}}.abs(b) >= {LN_FLOOR!r}) & ({{np}}.abs(b) < {{np}}.inf), b, {{np}}.nan)
''',
    "cube": '''
def {name}(a):
    """a * a * a, multiplied in predict()'s order."""
    return a * a * a
''',
    **{op: f'''
@{{np}}.vectorize(otypes=[{{np}}.float64])
def {{name}}(a):
    """{op}(a) by the C library, as predict() computes it: NaN {where}."""
    return {{math}}.{op}(a) if {test} else {{math}}.nan
''' for op, where, test in (
        ("tanh", "where a is not finite", "{math}.isfinite(a)"),
        ("atan", "where a is not finite", "{math}.isfinite(a)"),
        ("asin", "outside [-1, 1]", "-1 <= a <= 1"),
        ("acos", "outside [-1, 1]", "-1 <= a <= 1"))},
}
# The helper each operator needs.
_NEEDS = {"exp": "exp", "ln": "log", "vok": "vok", "inv": "divisor", "div": "divisor",
          "cube": "cube", "tanh": "tanh", "atan": "atan", "asin": "asin", "acos": "acos"}


def _nfkc(name: str) -> str:
    # Python reads identifiers in this form: ﬁ and fi are one name.
    return unicodedata.normalize("NFKC", name)


def _check_names(names: Sequence[str], name: str) -> None:
    if not name.isidentifier():
        raise ValueError(f"function name {name!r} is not a Python identifier")
    if keyword.iskeyword(_nfkc(name)):
        read = f" (Python reads it as {_nfkc(name)!r})" if _nfkc(name) != name else ""
        raise ValueError(f"function name {name!r} is a Python keyword{read}")
    seen: dict[str, str] = {}
    for n in names:
        if not n.isidentifier() or keyword.iskeyword(_nfkc(n)):
            raise ValueError(f"variable name {n!r} is not a Python identifier")
        first = seen.setdefault(_nfkc(n), n)
        if first != n:
            raise ValueError(f"variable names {first!r} and {n!r} are one name in Python source "
                             f"(both read as {_nfkc(n)!r}); rename one of them")


class _Namer:
    """Names for what the source defines, none equal (as Python reads them) to a variable's,
    the function's or one another."""

    def __init__(self, names: Sequence[str], name: str) -> None:
        self._taken = {_nfkc(n) for n in (*names, name)}

    def __call__(self, *preferred: str) -> str:
        base = preferred[0]
        candidates = chain(preferred, (f"_{base}", f"{base}_"), (f"{base}_{i}" for i in count(2)))
        chosen = next(c for c in candidates if c not in self._taken)
        self._taken.add(chosen)
        return chosen


def python_source(program: Sequence[Token], scale: float, offset: float, names: Sequence[str],
                  name: str = "f") -> str:
    """Source of a numpy function of every variable that gives predict()'s values bit for bit.

    Raises ValueError when ``name`` or a variable name cannot be a Python name in it.

    >>> prog = [("var", 0), ("var", 1), ("var", 1), ("op", "mul"), ("op", "mul")]
    >>> src = python_source(prog, 0.5, 0.0, ["m", "v"])
    >>> print(src)
    import numpy as np
    <BLANKLINE>
    <BLANKLINE>
    def f(m, v):
        m, v = np.broadcast_arrays(np.asarray(m, dtype=np.float64), np.asarray(v, dtype=np.float64))
        with np.errstate(all="ignore"):
            result = 0.5 * (m * (v * v))
        # As predict(): NaN where a variable or the result is not finite, and 0.0 for -0.0.
        return np.where(np.isfinite(m) & np.isfinite(v) & np.isfinite(result), result + 0.0, np.nan)
    <BLANKLINE>
    >>> namespace = {}
    >>> exec(src, namespace)
    >>> namespace["f"]([1.0, 2.0, 3.0], [3.0, 1e200, float("nan")])
    array([4.5, nan, nan])
    """
    _check_names(names, name)
    fresh = _Namer(names, name)
    np_alias = fresh("np", "numpy")
    needed = list(dict.fromkeys(_NEEDS[str(value)] for kind, value in program
                                if kind == "op" and value in _NEEDS))
    math_alias = fresh("math") if set(needed) - {"divisor", "cube"} else ""
    helpers = {helper: fresh(helper) for helper in needed}
    result = fresh("result")
    calls = {op: f"{np_alias}.{fn}" for op, fn in FUNCTIONS.items()}
    calls |= {op: helpers[helper] for op, helper in _NEEDS.items() if helper in helpers}
    # "numpy" names the module for the named constants, "divisor" the guard of 1/b and a/b.
    calls |= {"numpy": np_alias, "divisor": helpers.get("divisor", "")}
    body, _ = render(equation_tree(program, scale, offset), names, "python", calls)

    lines = [*([f"import {math_alias}" if math_alias == "math" else f"import math as {math_alias}",
                ""] if math_alias else []),
             "import numpy" if np_alias == "numpy" else f"import numpy as {np_alias}", "", ""]
    for helper, helper_name in helpers.items():
        text = _HELPERS[helper].format(name=helper_name, np=np_alias, math=math_alias)
        lines += [*text.strip("\n").splitlines(), "", ""]
    lines += [f"def {name}({', '.join(names)}):", *_converted(names, np_alias),
              f'    with {np_alias}.errstate(all="ignore"):',
              f"        {result} = {body}"]
    # predict() adds the offset even when it is 0, which turns -0.0 into 0.0.
    zero = offset == 0 and math.copysign(1.0, offset) > 0
    finite = [f"{np_alias}.isfinite({n})" for n in (*names, result)]
    lines += [f"    # As predict(): NaN where a variable or the result is not finite"
              f"{', and 0.0 for -0.0' if zero else ''}.",
              f"    return {np_alias}.where({' & '.join(finite)}, {result}{' + 0.0' if zero else ''}, "
              f"{np_alias}.nan)", ""]
    return "\n".join(lines)


def _converted(names: Sequence[str], np_alias: str) -> list[str]:
    """The line that reads every variable as float64 arrays of one shape."""
    arrays = [f"{np_alias}.asarray({n}, dtype={np_alias}.float64)" for n in names]
    if len(names) <= 1:
        return [f"    {n} = {a}" for n, a in zip(names, arrays, strict=True)]
    return [f"    {', '.join(names)} = {np_alias}.broadcast_arrays({', '.join(arrays)})"]
