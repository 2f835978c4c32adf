"""Writing an equation out: infix text, runnable numpy source, sympy and LaTeX, and the JSON file.

An equation is ``scale * f + offset`` where ``f`` is a postfix program of the engine. Text is
rendered from one expression tree; the Python source keeps the engine's order of operations and
its guards (so it gives predict()'s values and NaNs bit for bit), the formula text drops the
parentheses that associativity makes redundant. Each target has its module; this one gathers
them.

>>> program = check_program([["var", 0], ["var", 0], ["op", "mul"]], 1)
>>> formula_text(program, 0.5, 0.0, ["v"])
'0.5 * v * v'
>>> print(python_source(program, 0.5, 0.0, ["v"]).splitlines()[-3].strip())
result = 0.5 * (v * v)
"""

from vok_math.export.formula import formula_text
from vok_math.export.latex import to_latex
from vok_math.export.numbers import MAX_DENOMINATOR, number_text, simple_rational
from vok_math.export.source import python_source
from vok_math.export.symbolic import to_sympy
from vok_math.export.tree import check_program, equation_tree
from vok_math.operators import BINARY as BINARY_OPS
from vok_math.operators import UNARY as UNARY_OPS
from vok_math.records import Token
from vok_math.state import FILE_FORMAT, FILE_VERSION, dumps_state, loads_state

__all__ = ["Token", "UNARY_OPS", "BINARY_OPS", "check_program", "number_text", "formula_text",
           "python_source", "to_sympy", "FILE_FORMAT", "FILE_VERSION", "dumps_state", "loads_state",
           "to_latex", "simple_rational", "equation_tree", "MAX_DENOMINATOR"]
