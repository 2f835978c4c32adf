"""SRBench's symbolic-solution test, shared by the recovery and Feynman benchmarks.

A model is a symbolic solution of a truth when it differs from it by a constant or a factor:
the model's floating-point constants are rounded to 3 decimals, and then (model - truth) or
(model / truth) must simplify (``sympy.simplify``) to a constant, a number with no free symbol
(a ratio of 0 does not count: it would make the model zero). The definition is SRBench's
(La Cava et al., 2021); what sympy cannot simplify counts as a failure there as here
(e.g. a tanh law written with exp), and so does a tiny constant that rounds to 0.

The variables are real, and positive (or nonnegative) when their whole sampling range is:
simplifications such as sqrt(x**2) = x then hold as they do on the data.

sympy can take very long on an unlucky expression, so :class:`SymbolicChecker` runs the test in
a child process with a time limit (and counts a timeout as a failure), and expressions over a
node budget are not tried at all.

    python3 bench/symbolic_check.py "1.0*x**2 + 3.0" "x**2" x:-1:1    # prints the verdict
"""

from __future__ import annotations

import json
import os
import select
import subprocess
import sys
from collections.abc import Sequence
from dataclasses import dataclass
from typing import Any, Self

DECIMALS = 3
MAX_NODES = 400
"""Nodes of model and truth together beyond which the test is not tried (a failure)."""
TIMEOUT = 20.0
"""Seconds a test may take in the child process."""

Ranges = Sequence[tuple[str, float, float]]


@dataclass(frozen=True)
class Verdict:
    ok: bool
    why: str
    """"difference" or "ratio" when ok; else "not constant", "timeout", "too large", "error: ..."."""


def symbols_for(ranges: Ranges) -> dict[str, Any]:
    import sympy
    out = {}
    for name, low, _high in ranges:
        if low > 0:
            out[name] = sympy.Symbol(name, positive=True)
        elif low >= 0:
            out[name] = sympy.Symbol(name, nonnegative=True)
        else:
            out[name] = sympy.Symbol(name, real=True)
    return out


def parse_truth(truth: str, ranges: Ranges) -> Any:
    """The truth's text (numpy-style names such as arcsin allowed) over the range's symbols."""
    import sympy
    local: dict[str, Any] = {"arcsin": sympy.asin, "arccos": sympy.acos, "arctan": sympy.atan,
                             "ln": sympy.log, "pi": sympy.pi}
    local.update(symbols_for(ranges))   # after: a variable named like a function stays a variable
    return sympy.sympify(truth, locals=local)


def parse_model(model: Any, ranges: Ranges) -> Any:
    """A sympy expression, or its srepr text, with its symbols replaced by the range's symbols.

    srepr text is what crosses to the child: unlike str it keeps Symbol('E') apart from e and
    Symbol('I') apart from the imaginary unit.
    """
    import sympy
    expr = sympy.sympify(model) if isinstance(model, str) else model
    symbols = symbols_for(ranges)
    unknown = sorted(s.name for s in expr.free_symbols if s.name not in symbols)
    if unknown:
        raise ValueError(f"the model has unknown symbols {', '.join(unknown)}")
    return expr.xreplace({s: symbols[s.name] for s in expr.free_symbols})


def round_constants(expr: Any, decimals: int = DECIMALS) -> Any:
    import sympy
    return expr.xreplace({f: sympy.Float(round(float(f), decimals))
                          for f in expr.atoms(sympy.Float)})


def nodes(expr: Any) -> int:
    import sympy
    return sum(1 for _ in sympy.preorder_traversal(expr))


def _constant(expr: Any, nonzero: bool) -> bool:
    import sympy
    if expr.free_symbols or expr.has(sympy.nan, sympy.zoo, sympy.oo, -sympy.oo):
        return False
    return not (nonzero and expr.is_zero)


def symbolic_solution(model: Any, truth: str, ranges: Ranges,
                      max_nodes: int = MAX_NODES) -> Verdict:
    """The test itself, in this process and without a time limit."""
    import sympy
    try:
        m = round_constants(parse_model(model, ranges))
        t = parse_truth(truth, ranges)
    except Exception as e:
        return Verdict(False, f"error: {type(e).__name__}: {e}")
    if nodes(m) + nodes(t) > max_nodes:
        return Verdict(False, "too large")
    if _constant(sympy.simplify(m - t), nonzero=False):
        return Verdict(True, "difference")
    if _constant(sympy.simplify(m / t), nonzero=True):
        return Verdict(True, "ratio")
    return Verdict(False, "not constant")


class SymbolicChecker:
    """Runs :func:`symbolic_solution` in a child process, at most ``timeout`` seconds a test.

    A test that runs over is a failure ("timeout"): the child is killed and the next test starts
    a new one.
    """

    def __init__(self, timeout: float = TIMEOUT, max_nodes: int = MAX_NODES) -> None:
        self.timeout, self.max_nodes = timeout, max_nodes
        self._proc: subprocess.Popen[str] | None = None

    def __enter__(self) -> Self:
        return self

    def __exit__(self, *exc: object) -> None:
        self.close()

    def _start(self) -> subprocess.Popen[str]:
        proc = subprocess.Popen([sys.executable, os.path.abspath(__file__), "--serve"],
                                stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True,
                                bufsize=1)
        assert proc.stdout is not None
        if proc.stdout.readline().strip() != "ready":   # sympy's import is not the test's time
            proc.kill()
            proc.wait()
            raise RuntimeError("the symbolic checker did not start")
        return proc

    def check(self, model: Any, truth: str, ranges: Ranges) -> Verdict:
        import sympy
        text = model if isinstance(model, str) else sympy.srepr(model)
        if self._proc is None or self._proc.poll() is not None:
            self._proc = self._start()
        proc = self._proc
        assert proc.stdin is not None and proc.stdout is not None
        request = {"model": text, "truth": truth, "ranges": [list(r) for r in ranges],
                   "max_nodes": self.max_nodes}
        proc.stdin.write(json.dumps(request) + "\n")
        proc.stdin.flush()
        ready, _, _ = select.select([proc.stdout], [], [], self.timeout)
        if not ready:
            self.close()
            return Verdict(False, "timeout")
        line = proc.stdout.readline()
        if not line:
            self.close()
            return Verdict(False, "error: the checker ended")
        answer = json.loads(line)
        return Verdict(bool(answer["ok"]), str(answer["why"]))

    def close(self) -> None:
        if self._proc is not None:
            if self._proc.poll() is None:
                self._proc.kill()
            self._proc.wait()
            for stream in (self._proc.stdin, self._proc.stdout):
                if stream is not None:
                    stream.close()
            self._proc = None


def _serve() -> None:
    import sympy  # noqa: F401  (imported before "ready")
    print("ready", flush=True)
    for line in sys.stdin:
        r = json.loads(line)
        try:
            v = symbolic_solution(r["model"], r["truth"], [tuple(x) for x in r["ranges"]],
                                  r["max_nodes"])
        except Exception as e:   # a verdict for every request: the parent waits for one
            v = Verdict(False, f"error: {type(e).__name__}: {e}")
        print(json.dumps({"ok": v.ok, "why": v.why}), flush=True)


def main() -> None:
    if sys.argv[1:] == ["--serve"]:
        _serve()
        return
    if len(sys.argv) < 4:
        raise SystemExit(__doc__.splitlines()[-1].strip())
    import sympy
    ranges = [(n, float(lo), float(hi)) for n, lo, hi in (a.split(":") for a in sys.argv[3:])]
    model = sympy.sympify(sys.argv[1], locals=symbols_for(ranges))
    with SymbolicChecker() as checker:
        print(checker.check(model, sys.argv[2], ranges))


if __name__ == "__main__":
    main()
