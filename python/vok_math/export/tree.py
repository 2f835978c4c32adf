"""A program's structure: checking a postfix program, and the expression tree exports render.

An equation is ``scale * f + offset`` where ``f`` is a postfix program of the engine.
"""

from __future__ import annotations

import math
from collections.abc import Sequence
from dataclasses import dataclass
from typing import Any

from vok_math.operators import BY_NAME, NAMES
from vok_math.records import Token

__all__ = ["Node", "check_program", "equation_tree"]


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
        elif kind == "op" and value in NAMES:  # a tuple: an unhashable value is a bad token
            arity = BY_NAME[value].arity
            if depth < arity:
                raise ValueError(f"malformed program: {value!r} at token {i} needs {arity} operands")
            tokens.append(("op", str(value)))
            depth -= arity - 1
        else:
            raise ValueError(f"malformed program: bad token {i}: {token!r}")
    if depth != 1:
        raise ValueError(f"malformed program: leaves {depth} values instead of 1")
    return tuple(tokens)


@dataclass(frozen=True)
class Node:
    """One node of an expression tree."""

    op: str                      # "const", "var" or an operator name
    args: tuple[Node, ...] = ()
    value: float | int = 0


def equation_tree(program: Sequence[Token], scale: float, offset: float) -> Node:
    """``(scale * f) + offset`` as a tree; scale 1 and offset 0 are left out (exactly equal)."""
    stack: list[Node] = []
    for kind, value in program:
        if kind == "op":
            op = BY_NAME[str(value)]
            args = tuple(stack[len(stack) - op.arity:])
            del stack[len(stack) - op.arity:]
            if op.commutative and all(a.op in ("const", "var") for a in args):
                # Two leaves in reading order (2 * x, m * v): a + b and b + a are the same bits.
                args = tuple(sorted(args, key=lambda a: (a.op == "var", a.value)))
            stack.append(Node(str(value), args))
        else:
            stack.append(Node(kind, (), int(value) if kind == "var" else float(value)))
    node = stack[-1]
    if scale == -1.0:
        node = Node("neg", (node,))        # (-1) * f and -f are the same bits
    elif scale != 1.0:
        node = Node("mul", (Node("const", value=scale), node))
    if offset != 0.0:
        node = Node("add", (node, Node("const", value=offset)))
    return node
