"""The methods the benchmarks run on a law's rows, each returning its scored ``Result``:
find_formula (its formula text read by a small translator), discover, and two peers, pyoperon
and gplearn, when they are importable. bench/recovery_bench.py describes how each is run.
"""

from __future__ import annotations

import math
import re
import sys
import time
import warnings
from collections.abc import Sequence
from typing import Any

import numpy as np

from bench_scoring import (
    EXACT_NMSE,
    SEED,
    Array,
    Data,
    Predictor,
    Result,
    agrees,
    finish,
    linear_refit,
    parse_witness,
    program_values,
)

# --- find_formula ---

_FF_TOKEN = re.compile(r"\s*(?:(?P<num>\d+(?:\.\d+)?)|(?P<fn>exp|ln|sqrt|sin|cos|abs|vok)\(|"
                       r"(?P<param>c(?P<idx>\d+)\(-?\d+\.\d+\))|(?P<sym>[-+*/(),])|"
                       r"(?P<cpi>\u03c0)|(?P<ce>e)|(?P<var>[x-~]))")


def _guarded_namespace() -> dict[str, Any]:
    def ln(a: Array) -> Array:
        return np.where(a > 0, np.log(np.where(a > 0, a, 1.0)), np.nan)

    def vok(a: Array, b: Array) -> Array:
        e = np.exp(a)
        lb = np.where(b > 0, np.log(np.where(b > 0, b, 1.0)), np.log(np.maximum(np.abs(b), 1e-300)))
        return e - lb

    return {"exp": np.exp, "ln": ln, "sqrt": np.sqrt, "sin": np.sin, "cos": np.cos,
            "abs": np.abs, "vok": vok}


def find_formula_code(text: str) -> Any:
    """find_formula's infix text as Python code over X[i], P[i], PI, E and its functions."""
    out, pos = [], 0
    while pos < len(text):
        m = _FF_TOKEN.match(text, pos)
        if m is None or m.end() == pos:
            raise ValueError(f"cannot read find_formula's text at {text[pos:]!r}")
        pos = m.end()
        if m["num"]:
            out.append(m["num"])
        elif m["fn"]:
            out.append(m["fn"] + "(")
        elif m["param"]:
            out.append(f"P[{int(m['idx'])}]")
        elif m["sym"]:
            out.append(m["sym"])
        elif m["cpi"]:
            out.append("PI")
        elif m["ce"]:
            out.append("E")
        else:
            out.append(f"X[{ord(m['var']) - ord('x')}]")
    return compile("".join(out), "<find_formula>", "eval")


def find_formula_predictor(text: str, params: Sequence[float]) -> Predictor:
    """numpy function of the rows for find_formula's infix text (variables x, y, z, {, |, ...)."""
    code = find_formula_code(text)
    namespace = {**_guarded_namespace(), "PI": math.pi, "E": math.e}

    def predict(X: Array) -> Array:
        with np.errstate(all="ignore"):
            v = eval(code, {"__builtins__": {}}, {**namespace, "X": X.T, "P": list(params)})
        v = np.asarray(v, dtype=np.float64) * np.ones(len(X))
        v[~np.isfinite(v)] = np.nan
        return v

    return predict


def find_formula_sympy(text: str, params: Sequence[float], names: Sequence[str]) -> Any:
    """find_formula's text as a sympy expression over the law's variable names."""
    import sympy
    namespace = {"exp": sympy.exp, "ln": sympy.log, "sqrt": sympy.sqrt, "sin": sympy.sin,
                 "cos": sympy.cos, "abs": sympy.Abs, "vok": lambda a, b: sympy.exp(a) - sympy.log(b),
                 "PI": sympy.pi, "E": sympy.E, "X": [sympy.Symbol(n) for n in names],
                 "P": [sympy.Float(p) for p in params]}
    return sympy.sympify(eval(find_formula_code(text), {"__builtins__": {}}, namespace))


def run_find_formula(d: Data) -> Result:
    from vok_math import find_formula
    res = Result(d.law.name, d.noise, "find_formula")
    start = time.perf_counter()
    found = find_formula([list(c) for c in d.X.T], list(d.y))
    res.seconds = time.perf_counter() - start
    if found is None:
        res.cause = "no formula"
        return res
    res.formula, res.size = found.formula, int(found.complexity)
    predict = find_formula_predictor(found.formula, found.params)
    # The translation must reproduce find_formula's own error (rmse times its size penalty).
    with np.errstate(all="ignore"):
        own = math.sqrt(np.mean((predict(d.X) - d.y) ** 2)) * (0.001 * found.complexity + 1)
    res.extra["error_check"] = own / found.error - 1 if found.error else own
    # With no fitted constant, agreeing to 1e-9 on fresh rows already makes it the law itself.
    size_ok = d.law.size is not None and (not found.params or res.size <= d.law.size + 2)
    try:
        model = find_formula_sympy(found.formula, found.params, d.law.variables)
    except Exception:  # the numeric tests stand; the symbolic one then fails as "no model"
        model = None
    finish(res, d, predict, predict, size_ok, model)
    if not res.exact:
        res.cause = find_formula_cause(d, res)
    return res


def find_formula_cause(d: Data, res: Result) -> str:
    if d.law.size is None:
        return "control: not expressible"
    a, b = linear_refit(program_values(parse_witness(d.law), d.X), d.y_clean)
    simple = [v for v in (a, b) if abs(v - round(v)) <= 1e-9 * max(1.0, abs(v))]
    if len(simple) < 2:
        return "needs a fitted constant (no scaling)"
    if (round(a), round(b)) != (1, 0):
        return "not found (the law's integer scale/offset adds tokens)"
    return "not found by its search"


# --- discover ---

def equation_refit(program: Sequence[Any], d: Data) -> Predictor | None:
    a, b = linear_refit(program_values(program, d.X), d.y_clean)
    if not math.isfinite(a):
        return None
    return lambda X: a * program_values(program, X) + b


def is_truth(program: Sequence[Any], size: int, d: Data) -> bool:
    refit = equation_refit(program, d)
    return (refit is not None and d.law.size is not None and size <= d.law.size + 2
            and agrees(refit(d.X_fresh), d.y_fresh))


def read_best(disc: Any, res: Result) -> tuple[Any, Any] | None:
    """discover's chosen equation and its sympy form (None for a form sympy cannot write),
    noted in the result; None for an empty front."""
    if not disc.equations:
        res.cause = "empty front"
        return None
    eq = disc.best
    res.formula, res.size = eq.formula, eq.size
    model = None
    try:
        model = eq.sympy()
        res.extra["sympy"] = str(model)
    except Exception as e:  # the symbolic test then fails as "no model"
        res.extra["sympy"] = f"<{type(e).__name__}: {e}>"
    return eq, model


def timed_discover(d: Data, budget: float, options: dict[str, Any]) -> tuple[Result, Any]:
    """discover on d's training rows within budget: its result, timed, and what it reported."""
    import vok_math
    res = Result(d.law.name, d.noise, "discover")
    start = time.perf_counter()
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        disc = vok_math.discover(d.X, d.y, names=list(d.law.variables), time_limit=budget,
                                 progress=False, **options)
    res.seconds = time.perf_counter() - start
    complete = [s["size"] for s in disc.sizes if s["complete"]]
    res.extra = {"stopped": disc.stopped, "evaluations": disc.evaluations,
                 "complete_size": max(complete, default=0),
                 "reached_size": max((s["size"] for s in disc.sizes), default=0),
                 "front": [(e.size, e.rmse, e.formula) for e in disc.equations],
                 "sizes": [(s["size"], s["complete"], round(s["seconds"], 2)) for s in disc.sizes]}
    return res, disc


def run_discover(d: Data, budget: float, options: dict[str, Any]) -> Result:
    """discover with options passed through (none: its defaults), judged against the law."""
    res, disc = timed_discover(d, budget, options)
    chosen = read_best(disc, res)
    if chosen is None:
        return res
    eq, model = chosen
    size_ok = d.law.size is not None and eq.size <= d.law.size + 2
    finish(res, d, eq.predict, equation_refit(eq.program, d), size_ok, model)
    floor = getattr(disc, "noise_floor", 1e-12 * float(np.sqrt(np.mean(d.y * d.y))))
    res.extra.update(best_r2=eq.r2, best_rmse=eq.rmse, noise_floor=floor)
    if d.law.size is None:
        res.flag = control_flag(eq, floor, res)
    else:
        res.best_is_truth = is_truth(eq.program, eq.size, d)
        res.truth_on_front = any(is_truth(e.program, e.size, d) for e in disc.equations)
    if not res.exact:
        res.cause = discover_cause(d, disc, res)
    return res


def control_flag(eq: Any, floor: float, res: Result) -> str:
    """Why a control's best looks like a claim to be exact (no expression can equal it)."""
    why = []
    if eq.r2 == 1.0:
        why.append("training r2 == 1")
    if eq.rmse <= floor:
        why.append(f"rmse {eq.rmse:.3g} at the noise floor {floor:.3g}")
    if res.symbolic:
        why.append(f"symbolic test passed ({res.symbolic_why})")
    return "; ".join(why)


def discover_cause(d: Data, disc: Any, res: Result) -> str:
    law = d.law
    if law.size is None:
        return "control: not expressible"
    for eq in disc.equations:
        if is_truth(eq.program, eq.size, d):
            return (f"truth in the front as size {eq.size} ({eq.formula}) but .best is size "
                    f"{res.size}")
    for c in disc._candidates:
        prog = tuple(tuple(t) for t in c["program"])
        if is_truth(prog, len(prog), d):
            return (f"truth kept by the engine (program size {len(prog)}, rmse {c['rmse']:.3g}) "
                    f"but not on the Pareto front")
    if res.exact is False and d.noise == 0 and res.size is not None \
            and res.test_nmse < EXACT_NMSE and res.size > law.size + 2:
        return f"an exact but larger form (size {res.size}) was chosen"
    w = parse_witness(law)
    f = program_values(w, d.X)
    a, b = linear_refit(f, d.y)
    w_rmse = float(np.sqrt(np.mean((a * f + b - d.y) ** 2)))
    complete = res.extra["complete_size"]
    if complete < law.size:
        return (f"size {law.size} not enumerated completely: beam from size {complete + 1} "
                f"(predicted not to fit the remaining time or memory), stopped "
                f"{disc.stopped} at size {res.extra['reached_size']} after {disc.elapsed:.0f} s; "
                f"truth rmse {w_rmse:.3g}")
    same = [c for c in disc._candidates if len(c["program"]) == law.size]
    kept = min((c["rmse"] for c in same), default=math.nan)
    return (f"size {law.size} enumerated completely but the truth not kept (truth rmse "
            f"{w_rmse:.3g}, best kept of that size {kept:.3g}): a probe collision or a "
            f"scaling fit")


# --- peers ---

def _sympy_refit(expr: Any, symbols: Sequence[Any], d: Data) -> Predictor | None:
    """Refits every float constant of a sympy expression on the noise-free training rows."""
    import sympy
    from scipy.optimize import least_squares
    floats = sorted(expr.atoms(sympy.Float), key=str)
    if len(floats) > 60:
        return None
    params = sympy.symbols(f"p0:{len(floats)}")
    template = expr.xreplace(dict(zip(floats, params)))
    f = sympy.lambdify([*symbols, *params], template, modules="numpy")
    p0 = np.array([float(v) for v in floats])

    def values(X: Array, p: Array) -> Array:
        with np.errstate(all="ignore"):
            return np.asarray(f(*X.T, *p), dtype=np.float64) * np.ones(len(X))

    def residuals(p: Array) -> Array:
        r = values(d.X, p) - d.y_clean
        return np.where(np.isfinite(r), r, 1e150)

    if len(floats):
        try:
            p0 = least_squares(residuals, p0, method="lm", xtol=1e-15, ftol=1e-15, gtol=1e-15,
                               max_nfev=2000).x
        except Exception:
            pass
    return lambda X: values(X, p0)


def run_pyoperon(d: Data, budget: float) -> Result:
    import sympy
    from pyoperon.sklearn import SymbolicRegressor
    res = Result(d.law.name, d.noise, "pyoperon")
    reg = SymbolicRegressor(allowed_symbols="add,sub,mul,div,exp,log,sqrt,sin,cos,constant,"
                            "variable", max_time=max(1, int(budget)), n_threads=2,
                            random_state=SEED)
    start = time.perf_counter()
    reg.fit(d.X, d.y)
    res.seconds = time.perf_counter() - start
    text = reg.get_model_string(reg.model_, 16)
    symbols = sympy.symbols(d.law.variables, real=True)
    names = {f"X{i + 1}": s for i, s in enumerate(symbols)}
    expr = sympy.parse_expr(text, local_dict=names)
    res.formula, res.size = str(expr), int(reg.stats_["model_length"])
    res.extra["sympy"] = str(expr)
    finish(res, d, lambda X: np.asarray(reg.predict(X), dtype=np.float64),
           _sympy_refit(expr, symbols, d), True, expr)
    return res


def run_gplearn(d: Data, budget: float) -> Result:
    import sympy
    from gplearn.functions import make_function
    from gplearn.genetic import SymbolicRegressor

    def protected_exp(a: Array) -> Array:
        with np.errstate(all="ignore"):
            return np.exp(np.clip(a, -100.0, 100.0))

    res = Result(d.law.name, d.noise, "gplearn")
    mu, sigma = float(np.mean(d.y)), float(np.std(d.y))
    z = (d.y - mu) / sigma
    est = SymbolicRegressor(population_size=1000, generations=0, metric="mse",
                            function_set=("add", "sub", "mul", "div", "sqrt", "log", "neg", "inv",
                                          "sin", "cos",
                                          make_function(function=protected_exp, name="exp",
                                                        arity=1, wrap=False)),
                            stopping_criteria=1e-20, warm_start=True, random_state=SEED)
    start = time.perf_counter()
    per_generation = 0.0
    while True:
        elapsed = time.perf_counter() - start
        if elapsed + per_generation > budget:
            break
        step = 1 if per_generation == 0 else max(1, min(5, int((budget - elapsed) / per_generation)))
        est.set_params(generations=est.generations + step)
        t0 = time.perf_counter()
        est.fit(d.X, z)
        per_generation = (time.perf_counter() - t0) / step
        if est.run_details_["best_fitness"][-1] <= 1e-20:
            break
    res.seconds = time.perf_counter() - start
    res.extra["generations"] = est.generations
    symbols = sympy.symbols(d.law.variables, real=True)
    local = {f"X{i}": s for i, s in enumerate(symbols)}
    local.update(add=lambda a, b: a + b, sub=lambda a, b: a - b, mul=lambda a, b: a * b,
                 div=lambda a, b: a / b, sqrt=lambda a: sympy.sqrt(sympy.Abs(a)),
                 log=lambda a: sympy.log(sympy.Abs(a)), neg=lambda a: -a, inv=lambda a: 1 / a,
                 sin=sympy.sin, cos=sympy.cos, exp=sympy.exp)
    expr = sympy.Float(mu) + sympy.Float(sigma) * sympy.sympify(str(est._program), locals=local)
    res.formula, res.size = str(expr), int(est._program.length_)
    res.extra["sympy"] = str(expr)
    finish(res, d, lambda X: mu + sigma * np.asarray(est.predict(X), dtype=np.float64),
           _sympy_refit(expr, symbols, d), True, expr)
    return res


# --- the run ---

def peers_available() -> list[str]:
    out = []
    for name, module in (("pyoperon", "pyoperon.sklearn"), ("gplearn", "gplearn.genetic")):
        try:
            __import__(module)
            out.append(name)
        except Exception as e:
            print(f"# {name} not importable, skipped: {e}", file=sys.stderr)
    return out


def run_method(method: str, d: Data, budget: float,
               discover_options: dict[str, Any] | None = None) -> Result:
    try:
        if method == "find_formula":
            return run_find_formula(d)
        if method == "discover":
            return run_discover(d, budget, discover_options or {})
        if method == "pyoperon":
            return run_pyoperon(d, budget)
        return run_gplearn(d, budget)
    except Exception as e:
        return Result(d.law.name, d.noise, method, cause=f"error: {type(e).__name__}: {e}")
