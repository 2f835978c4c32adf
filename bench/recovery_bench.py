"""Recovery benchmark: which known laws discover(), find_formula and (optionally) two peers find.

    PYTHONPATH=build/release/python python3 bench/recovery_bench.py [--laws a,b] [--budget 60]
        [--noise 0,0.001,0.01,0.1|both|all] [--peers] [--quick] [--json OUT]

The laws are in bench/recovery_laws.py. Per law, with a seed fixed per law name: 200 training
rows drawn uniformly from the law's ranges, 1000 test rows and 1000 fresh rows drawn the same way.
With noise level s the training target is y + s * rms(y) * N(0, 1), rms(y) = sqrt(mean(y^2)) of
the training targets, as SRBench adds its noise (this benchmark used s * std(y) before; the two
differ where y has a large mean). Test and fresh targets are always noise-free. --noise takes a
comma-separated list of levels; "both" (the default) is 0,0.01 and "all" is 0,0.001,0.01,0.1.
Methods run one after another (the machine's cores are shared):

- find_formula: ``find_formula(columns, y)`` with its defaults. Its formula text is evaluated by
  a small translator (its ``to_python()`` takes x alone).
- discover: ``discover(X, y, names=..., time_limit=budget)``, the chosen ``.best`` equation.
- pyoperon (``--peers``, when importable): its SymbolicRegressor with the same operators, its
  defaults, ``max_time=budget`` and two threads (discover uses the two-worker pool).
- gplearn (``--peers``, when importable): SymbolicRegressor (population 1000, mse, the same
  operators; exp added protected) run a few generations at a time until the budget is spent or
  it fits exactly. It gets y standardised, as it has no linear scaling of its own.

Exact recovery (the "ok" column):

- The found structure, with its fitted constants refitted by least squares on the noise-free
  training rows (discover: scale and offset, linear; the peers: every numeric constant, starting
  from theirs; find_formula: nothing to refit), agrees with the truth on the fresh rows:
  max |found - truth| <= 1e-9 * rms(truth), with no missing value. Refitting on noise-free rows
  is what makes the test structural on noisy data: the right structure with noisy constants
  passes, a near miss does not.
- and, for discover, its size is at most the law's size + 2 (the scale and offset; discover's
  sizes count the fitted constants). A formula that small matching a law to 1e-9 on 1000 fresh
  points is the law up to its constants. find_formula fits no constant, so its agreement alone
  makes it the law (written with its own tokens, such as sin(x) + sin(x) for 2 sin(x)). The peers' sizes are not comparable
  (pyoperon weighs every variable), so for them the refitted agreement alone decides.
- and, on noise-free data, the method's own prediction has test NMSE < 1e-10 (NMSE: mean squared
  error over the variance of the test target).

"struct" marks a result whose refitted structure agrees but that fails another test (its size,
or its own test NMSE: pyoperon keeps its constants in single precision, so its own error can stay
above 1e-10 with the right structure).

Symbolic solution (the "sym" column), SRBench's test (bench/symbolic_check.py): the model's
constants rounded to 3 decimals, (model - truth) or (model / truth) simplifies to a constant.
It runs in a child process with a time limit, a timeout counting as a failure. It is blind to
the sizes but stricter on noisy constants (an offset of 0.003 fails it); a tiny scale, such as
larmor's 2e-16, rounds to 0 and fails it.

R² is on the noise-free test rows with the method's own prediction ("-" when it has no value on
some rows). Times are wall seconds. For every law within 9 tokens that discover misses the cause
is diagnosed: the truth in the front but another equation chosen, the truth's size not
completely enumerated within the budget, or the truth's size enumerated but the truth not kept.

Per noise level, the summary gives for each method the laws stated exactly by the symbolic test
out of those within reach (a witness of at most 9 tokens); for discover also how often the truth
(its structure, refitted) is on the front (``d.equations``) but ``.best`` is another equation,
and whether any control is claimed exact: a control's best with training r2 == 1 or an rmse at
the noise floor (``Discovery.noise_floor``), or passing the symbolic test, is flagged.
"""

from __future__ import annotations

import argparse
import json
import math
import os
import re
import sys
import time
import warnings
import zlib
from collections.abc import Callable, Sequence
from dataclasses import asdict, dataclass, field
from typing import Any, Protocol, TypeVar

import numpy as np
import numpy.typing as npt

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from recovery_laws import LAWS, QUICK, Law
from symbolic_check import SymbolicChecker, Verdict

Array = npt.NDArray[np.float64]
Predictor = Callable[[Array], Array]

SEED = 12
N_TRAIN, N_TEST, N_FRESH = 200, 1000, 1000
AGREE = 1e-9
EXACT_NMSE = 1e-10
GOAL_SIZE = 9
class _Named(Protocol):
    @property
    def name(self) -> str: ...


LawT = TypeVar("LawT", bound=_Named)

NOISE_SETS = {"both": (0.0, 0.01), "all": (0.0, 0.001, 0.01, 0.1)}
METHODS = ("find_formula", "discover", "pyoperon", "gplearn")
OPERATORS = ("neg", "inv", "exp", "ln", "sqrt", "sin", "cos", "add", "sub", "mul", "div", "vok")


# --- data ---

@dataclass
class Data:
    law: Law
    noise: float
    X: Array          # training rows
    y: Array          # training target (noisy when noise > 0)
    y_clean: Array
    X_test: Array
    y_test: Array
    X_fresh: Array
    y_fresh: Array


def truth_function(law: Law) -> Callable[..., Array]:
    import sympy
    symbols = sympy.symbols(law.variables)
    expr = sympy.sympify(law.truth, locals={n: s for n, s in zip(law.variables, symbols)})
    return sympy.lambdify(symbols, expr, modules=["scipy", "numpy"])  # type: ignore[no-any-return]


def make_data(law: Law, noise: float) -> Data:
    """The law's rows; the same for every method and noise level (only the noise is added)."""
    rng = np.random.default_rng([SEED, zlib.crc32(law.name.encode())])
    low = np.array([r[1] for r in law.ranges])
    high = np.array([r[2] for r in law.ranges])
    f = truth_function(law)

    def draw(n: int) -> tuple[Array, Array]:
        X = rng.uniform(low, high, size=(n, len(low)))
        return X, np.asarray(f(*X.T), dtype=np.float64) * np.ones(n)

    X, y = draw(N_TRAIN)
    X_test, y_test = draw(N_TEST)
    X_fresh, y_fresh = draw(N_FRESH)
    noise_rng = np.random.default_rng([SEED, zlib.crc32(law.name.encode()), 1])
    sigma = noise * float(np.sqrt(np.mean(y * y)))
    y_noisy = y + sigma * noise_rng.standard_normal(N_TRAIN) if noise else y
    return Data(law, noise, X, y_noisy, y, X_test, y_test, X_fresh, y_fresh)


def nmse(pred: Array, y: Array) -> float:
    if not np.all(np.isfinite(pred)):
        return math.inf
    return float(np.mean((pred - y) ** 2) / np.var(y))


def r2(pred: Array, y: Array) -> float:
    return 1.0 - nmse(pred, y)


def agrees(pred: Array, truth: Array) -> bool:
    if not np.all(np.isfinite(pred)):
        return False
    return bool(np.max(np.abs(pred - truth)) <= AGREE * np.sqrt(np.mean(truth * truth)))


# --- engine programs (the witnesses and discover's equations) ---

def parse_witness(law: Law) -> tuple[tuple[str, Any], ...]:
    out: list[tuple[str, Any]] = []
    for tok in (law.witness or "").split():
        if tok in law.variables:
            out.append(("var", law.variables.index(tok)))
        elif tok in OPERATORS:
            out.append(("op", tok))
        else:
            out.append(("const", float(tok)))
    return tuple(out)


def program_values(program: Sequence[Any], X: Array) -> Array:
    from vok_math import _engine
    with np.errstate(all="ignore"):
        return np.asarray(_engine.evaluate(program, np.ascontiguousarray(X.T)), dtype=np.float64)


def linear_refit(f: Array, y: Array) -> tuple[float, float]:
    """Least-squares a, b of y ~ a f + b (a, b = nan when f has no value somewhere)."""
    if not np.all(np.isfinite(f)):
        return math.nan, math.nan
    (a, b), *_ = np.linalg.lstsq(np.column_stack([f, np.ones_like(f)]), y, rcond=None)
    return float(a), float(b)


def check_witnesses(laws: Sequence[Law]) -> None:
    """Every witness must equal its truth up to a * f + b: the sizes rest on it."""
    for law in laws:
        if law.witness is None:
            continue
        d = make_data(law, 0.0)
        prog = parse_witness(law)
        a, b = linear_refit(program_values(prog, d.X), d.y_clean)
        fresh = a * program_values(prog, d.X_fresh) + b
        if not agrees(fresh, d.y_fresh):
            raise SystemExit(f"law {law.name}: the witness {law.witness!r} is not the truth")


# --- results ---

@dataclass
class Result:
    law: str
    noise: float
    method: str
    exact: bool = False
    structure: bool = False
    """The refitted structure agrees with the truth (the size and own-error tests aside)."""
    r2: float = math.nan
    test_nmse: float = math.nan
    seconds: float = math.nan
    size: int | None = None
    formula: str = ""
    cause: str = ""
    extra: dict[str, Any] = field(default_factory=dict)
    symbolic: bool = False
    """SRBench's symbolic-solution test passed."""
    symbolic_why: str = ""
    """How it passed ("difference", "ratio") or why not ("not constant", "timeout", ...)."""
    truth_on_front: bool | None = None
    """discover: the truth's structure is one of d.equations (None for a control)."""
    best_is_truth: bool | None = None
    """discover: .best is the truth's structure (None for a control)."""
    flag: str = ""
    """discover on a control: why its best looks like an exact claim (empty: it does not)."""


_CHECKER: SymbolicChecker | None = None


def symbolic_check(model: Any, law: Any) -> Verdict:
    """SRBench's test of a sympy model against the law's truth, in the shared child process."""
    global _CHECKER
    if model is None:
        return Verdict(False, "no model")
    if _CHECKER is None:
        _CHECKER = SymbolicChecker()
    try:
        return _CHECKER.check(model, law.truth, law.ranges)
    except Exception as e:  # a model sympy cannot even write out is no solution
        return Verdict(False, f"error: {type(e).__name__}: {e}")


def finish(res: Result, d: Data, predict: Predictor, refit: Predictor | None,
           size_ok: bool, model: Any = None) -> Result:
    """Fills the test error, R², the exact-recovery verdict and the symbolic test of model."""
    with np.errstate(all="ignore"):
        pred = np.asarray(predict(d.X_test), dtype=np.float64)
        res.test_nmse = nmse(pred, d.y_test)
        res.r2 = r2(pred, d.y_test)
        structure = refit is not None and agrees(np.asarray(refit(d.X_fresh)), d.y_fresh)
    own = d.noise > 0 or res.test_nmse < EXACT_NMSE
    res.structure = bool(structure)
    res.exact = bool(structure and size_ok and own)
    verdict = symbolic_check(model, d.law)
    res.symbolic, res.symbolic_why = verdict.ok, verdict.why
    return res


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


MODEL_SELECTION: str | None = None  # --model-selection: discover's default when None
DISCOVER_OPERATORS: list[str] | None = None  # --operators: discover's default when None


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


def run_discover(d: Data, budget: float) -> Result:
    options: dict[str, Any] = {} if MODEL_SELECTION is None else {
        "model_selection": MODEL_SELECTION}
    if DISCOVER_OPERATORS is not None:
        options["operators"] = DISCOVER_OPERATORS
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


def run_method(method: str, d: Data, budget: float) -> Result:
    try:
        if method == "find_formula":
            return run_find_formula(d)
        if method == "discover":
            return run_discover(d, budget)
        if method == "pyoperon":
            return run_pyoperon(d, budget)
        return run_gplearn(d, budget)
    except Exception as e:
        return Result(d.law.name, d.noise, method, cause=f"error: {type(e).__name__}: {e}")


def fmt_r2(v: float) -> str:
    return "-" if not math.isfinite(v) else f"{max(v, -9.99):.6f}"


def print_table(results: list[Result], laws: Sequence[Law], methods: Sequence[str],
                noise: float, budget: float) -> None:
    by = {(r.law, r.method): r for r in results if r.noise == noise}
    title = "noise-free" if noise == 0 else f"noise {noise:g} x rms(y)"
    print(f"\n## {title}, discover budget {budget:g} s, {N_TRAIN} training rows, seed {SEED}")
    head = f"{'law':<15}{'vars':>4}{'size':>5}"
    for m in methods:
        head += f" | {m[:12]:<12} {'sym':>4} {'R2 test':>9} {'s':>6}"
    print(head + " | discover's formula")
    for law in laws:
        row = f"{law.name:<15}{len(law.variables):>4}{law.size if law.size else '-':>5}"
        for m in methods:
            r = by.get((law.name, m))
            if r is None:
                row += f" | {'':<12} {'':>4} {'':>9} {'':>6}"
                continue
            ok = ("exact" if r.exact else "struct" if r.structure else
                  "error" if r.cause.startswith("error") else "-")
            row += (f" | {ok:<12} {'sym' if r.symbolic else '-':>4} {fmt_r2(r.r2):>9} "
                    f"{r.seconds:6.1f}")
        dr = by.get((law.name, "discover"))
        print(row + (f" | {dr.formula[:60]}" if dr else " |"), flush=True)
    print("totals:")
    small = [law.name for law in laws if law.size is not None and law.size <= GOAL_SIZE]
    for m in methods:
        rs = [by[(law.name, m)] for law in laws if (law.name, m) in by]
        if not rs:
            continue
        ok = sum(r.exact for r in rs)
        ok_small = sum(r.exact for r in rs if r.law in small)
        sym = sum(r.symbolic for r in rs)
        sym_small = sum(r.symbolic for r in rs if r.law in small)
        struct = sum(r.structure and not r.exact for r in rs)
        n_small = sum(r.law in small for r in rs)
        r2s = [r.r2 for r in rs if math.isfinite(r.r2)]
        med = float(np.median(r2s)) if r2s else math.nan
        times = [r.seconds for r in rs if math.isfinite(r.seconds)]
        print(f"  {m:<13} exact {ok:>2}/{len(rs):<3} within {GOAL_SIZE} tokens {ok_small:>2}/"
              f"{n_small:<3} (+{struct} struct), symbolic {sym:>2}/{len(rs):<3} within "
              f"{GOAL_SIZE} tokens {sym_small:>2}/{n_small:<3} median R2 {fmt_r2(med)}  "
              f"time total {sum(times):7.1f} s, "
              f"median {float(np.median(times)) if times else math.nan:5.1f} s, "
              f"max {max(times, default=math.nan):5.1f} s")


def print_noise_summary(results: list[Result], laws: Sequence[Law], methods: Sequence[str],
                        noises: Sequence[float]) -> None:
    """Per noise level: symbolic solutions within reach, the truth passed over, the controls."""
    reach = {law.name for law in laws if law.size is not None and law.size <= GOAL_SIZE}
    controls = {law.name for law in laws if law.size is None}
    print(f"\n## per noise level: symbolic solutions of the laws within {GOAL_SIZE} tokens "
          f"({len(reach)}); for discover, the laws (all but the controls) whose truth is on "
          f"the front but not .best, and the controls ({len(controls)}) claimed exact")
    head = f"{'noise':<7}" + "".join(f"{m[:12]:>14}" for m in methods)
    print(head + f"  {'front, not best':<18} controls claimed exact")
    for noise in noises:
        rs = [r for r in results if r.noise == noise]
        row = f"{noise:<7g}"
        for m in methods:
            mine = [r for r in rs if r.method == m and r.law in reach]
            row += f"{sum(r.symbolic for r in mine):>8}/{len(mine):<5}" if mine else f"{'':>14}"
        disc = [r for r in rs if r.method == "discover"]
        passed = sorted(r.law for r in disc if r.truth_on_front and not r.best_is_truth)
        n_law = sum(r.truth_on_front is not None for r in disc)
        flagged = [f"{r.law} ({r.flag})" for r in disc if r.law in controls and r.flag]
        n_ctrl = sum(r.law in controls for r in disc)
        row += f"  {len(passed):>3}/{n_law:<14}" if disc else f"  {'':<18}"
        row += (("; ".join(flagged) if flagged else f"none of {n_ctrl}") if disc else "")
        print(row)
        if passed:
            print(f"{'':<7}truth on the front, another .best: {', '.join(passed)}")


def print_misses(results: list[Result], laws: Sequence[Law]) -> None:
    sizes = {law.name: law.size for law in laws}
    print("\n## discover misses (laws within 9 tokens first)")
    misses = [r for r in results if r.method == "discover" and not r.exact]
    misses.sort(key=lambda r: (not (sizes[r.law] or 99) <= GOAL_SIZE, r.noise, r.law))
    for r in misses:
        tag = f"size {sizes[r.law]}" if sizes[r.law] else "control"
        print(f"  {r.law:<15} noise {r.noise:<5g} {tag:<8} found (size {r.size}) "
              f"{r.formula[:70]}\n      cause: {r.cause}")
    if any(r.method == "find_formula" for r in results):
        print("\n## find_formula misses")
    for r in results:
        if r.method == "find_formula" and not r.exact:
            print(f"  {r.law:<15} noise {r.noise:<5g} {r.cause:<38} {r.formula[:60]}")


def load_results(path: str | None) -> list[Result]:
    """The results a previous run with --json left, to resume from."""
    if not path or not os.path.exists(path):
        return []
    with open(path, encoding="utf-8") as f:
        return [Result(**r) for r in json.load(f)]


def save_results(path: str | None, results: Sequence[Result]) -> None:
    """Every result so far, rewritten after each one so that an interrupted run can resume."""
    if path:
        with open(path, "w", encoding="utf-8") as out:
            json.dump([asdict(x) for x in results], out, indent=1, default=str)


def select_laws(ap: argparse.ArgumentParser, names: str | None, quick: bool,
                laws: Sequence[LawT], quick_names: Sequence[str]) -> list[LawT]:
    """The laws named on the command line (comma-separated), the quick subset, or all."""
    chosen = names.split(",") if names else (list(quick_names) if quick else None)
    if not chosen:
        return list(laws)
    known = {law.name: law for law in laws}
    unknown = [n for n in chosen if n not in known]
    if unknown:
        ap.error(f"unknown laws: {', '.join(unknown)}; known: {', '.join(known)}")
    return [known[n] for n in chosen]


def noise_levels(ap: argparse.ArgumentParser, text: str,
                 named: dict[str, Sequence[float]] | None = None) -> list[float]:
    """--noise: a named set or comma-separated levels (fractions of rms(y)), each once."""
    try:
        levels = list((named or {}).get(text) or dict.fromkeys(float(v) for v in text.split(",")))
    except ValueError:
        ap.error(f"--noise: {text!r} is neither {', '.join(named or ())} nor a list of levels"
                 if named else f"--noise: {text!r} is not a list of levels")
    if any(not 0 <= v < 10 for v in levels):
        ap.error("--noise: levels are fractions of rms(y), from 0")
    return levels


def require_sympy_scipy(what: str) -> None:
    for module in ("sympy", "scipy"):
        try:
            __import__(module)
        except ImportError:
            raise SystemExit(f"{what} needs sympy and scipy: pip install sympy scipy") from None


def main() -> None:
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--laws", help="comma-separated law names (default: all)")
    ap.add_argument("--budget", type=float, help="seconds per search (default 60, --quick 20)")
    ap.add_argument("--noise", default="both",
                    help="comma-separated levels (noise = level x rms(y)); both: 0,0.01 "
                         "(default); all: 0,0.001,0.01,0.1")
    ap.add_argument("--peers", action="store_true", help="also run pyoperon and gplearn")
    ap.add_argument("--methods", help=f"comma-separated, of {','.join(METHODS)} "
                    "(default: find_formula,discover)")
    ap.add_argument("--quick", action="store_true", help="a small subset of the laws")
    ap.add_argument("--json", metavar="OUT", help="write every result to this JSON file")
    ap.add_argument("--resume", action="store_true",
                    help="keep the results already in --json and run only the missing ones")
    ap.add_argument("--model-selection", choices=("mdl", "bic", "knee"),
                    help="how discover chooses its best equation (default: its own default)")
    ap.add_argument("--operators", metavar="OP,...",
                    help="discover's operators (default: its own); with a leading +, added to "
                         "its defaults (+square,cube)")
    args = ap.parse_args()
    global MODEL_SELECTION, DISCOVER_OPERATORS
    MODEL_SELECTION = args.model_selection
    if args.operators:
        from vok_math.discovery import DEFAULT_OPERATORS
        extra = args.operators.startswith("+")
        names = [n for n in args.operators.lstrip("+").split(",") if n]
        DISCOVER_OPERATORS = [*DEFAULT_OPERATORS, *names] if extra else names

    laws = select_laws(ap, args.laws, args.quick, LAWS, QUICK)
    budget = args.budget if args.budget is not None else (20.0 if args.quick else 60.0)
    noises = noise_levels(ap, args.noise, NOISE_SETS)
    methods = args.methods.split(",") if args.methods else ["find_formula", "discover"]
    if args.peers:
        methods += [m for m in peers_available() if m not in methods]
    if set(methods) - set(METHODS):
        ap.error(f"unknown methods: {', '.join(sorted(set(methods) - set(METHODS)))}")

    require_sympy_scipy("the recovery benchmark")
    check_witnesses(laws)
    import vok_math
    vok_math.find_formula([[1.0, 2.0]], [1.0, 2.0], max_complexity=1)  # start the pool untimed
    print(f"# {len(laws)} laws, methods {', '.join(methods)}, budget {budget:g} s, "
          f"load average {os.getloadavg()[0]:.1f}"
          + (f", discover's operators {','.join(DISCOVER_OPERATORS)}" if DISCOVER_OPERATORS else ""),
          flush=True)
    results = load_results(args.json) if args.resume else []
    done = {(r.law, r.noise, r.method) for r in results}
    for noise in noises:
        for law in laws:
            d = make_data(law, noise)
            for m in methods:
                if (law.name, noise, m) in done:
                    continue
                r = run_method(m, d, budget)
                results.append(r)
                print(f"  {law.name:<15} noise {noise:<5g} {m:<13} "
                      f"{'exact' if r.exact else '-':<6} {'sym' if r.symbolic else '-':<4} "
                      f"R2 {fmt_r2(r.r2):>9} "
                      f"{r.seconds:6.1f} s  {r.formula[:70]}", file=sys.stderr, flush=True)
                save_results(args.json, results)
    for noise in noises:
        print_table(results, laws, methods, noise, budget)
    print_noise_summary(results, laws, methods, noises)
    print_misses(results, laws)


if __name__ == "__main__":
    main()
