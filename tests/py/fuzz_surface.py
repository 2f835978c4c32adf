"""Hostile but shape-aware calls of the Python surface: discover, Equation and its exports,
load, and every subcommand of the command line (run in this process, its output captured).

The same interface as :mod:`fuzz_calls` (``TABLE``, ``one_call``, ``pick``, ``describe``), so
the Hypothesis harness and the long plain-random loop run either. Arguments mostly have the
shape a parameter wants and carry hostile leaves: NaN, infinities, 1e±308, integers beyond the
doubles, masked cells, text, deep nesting, bytes that are not UTF-8. Budgets are small (sizes
up to 4, a few thousand candidates), so a call costs milliseconds.

What counts as a fault: an exception other than the documented ValueError and TypeError (an
OverflowError, a RecursionError, an IndexError...), a command that lets an exception escape
(the user would see a traceback) or exits with a status it does not document, a saved run that
does not load back as it was, a loaded run holding values no search writes. Separately counted,
not faults here: ``python()`` source whose values differ from ``predict()`` ("disagree") or that
does not run ("broken-source"), and sympy or LaTeX exports that raise ("export-error") or
take longer than SYMBOLIC_SECONDS ("export-slow").
"""
import atexit
import contextlib
import io
import json
import math
import os
import shutil
import signal
import sys
import tempfile
import unicodedata
import warnings

import numpy as np

import fuzz_calls
from vok_math import Discovery, Equation, cli, discover, load

with contextlib.suppress(ImportError):
    import pandas  # noqa: F401 - DataFrames are drawn only once pandas is imported
from vok_math.operators import BINARY, UNARY
from vok_math.state import dumps_state, loads_state

# ---- hostile leaves ---------------------------------------------------------------------------

EDGE = [0.0, -0.0, 1.0, -1.0, 2.0, 0.5, -7.0, 1e308, -1e308, 1e-308, 5e-324, 1e-301, 1e-305,
        709.78, 710.0, 800.0, 1000.0, -1000.0, math.pi, math.nan, math.inf, -math.inf]
BIG_INTS = [10**400, -10**400, 2**64, 2**63, 2**1024, 10**30]


class Boom(Exception):
    """Raised by a hostile progress callback."""


def real(rng):
    r = rng.random()
    if r < 0.5:
        return rng.choice(EDGE)
    if r < 0.9:
        return rng.uniform(-5.0, 5.0)
    return math.ldexp(rng.uniform(-1, 1), rng.randrange(-1074, 1024))


def leaf(rng):
    """A value for a numeric cell: mostly a number, now and then anything."""
    r = rng.random()
    if r < 0.85:
        return real(rng)
    if r < 0.92:
        return rng.choice(BIG_INTS + [0, 1, -3, True])
    return rng.choice(["1.5", "x", None, b"1", [1.0], {}, 1j, object()])


def identifier(rng):
    return rng.choice(["x", "y", "m", "v", "t", "np", "numpy", "vok", "f", "_a", "x_", "x__",
                       "pi", "E", "fi", "\ufb01", "class", "lambda", "None", "1x", "", "a b",
                       "sqrt", "exp", "log", "x0", "x1", "_np", "\u00e9t\u00e9"])


def table(rng, rows=None, cols=None):
    """Rows of a table: a float64 array, with hostile leaves now and then."""
    rows = rng.choice([0, 1, 2, 3, 5, 5, 8, 8, 12, 20]) if rows is None else rows
    cols = rng.choice([1, 1, 2, 3]) if cols is None else cols
    data = np.array([[rng.uniform(0.1, 4.0) for _ in range(cols)] for _ in range(rows)],
                    dtype=np.float64).reshape(rows, cols)
    hostile = rng.random() < 0.3
    if hostile and data.size:
        for _ in range(rng.randrange(1, 4)):
            data[rng.randrange(rows), rng.randrange(cols)] = real(rng)
    return data


def as_x(rng, data):
    """The table in one of the shapes discover takes, or not quite."""
    r = rng.random()
    if r < 0.45:
        return data
    if r < 0.55:
        return data.tolist()
    if r < 0.62 and data.size:
        rows = data.tolist()
        rows[rng.randrange(len(rows))][0] = leaf(rng)
        return rows
    if r < 0.7:
        return np.ma.masked_array(data, mask=np.array([[rng.random() < 0.2 for _ in row]
                                                       for row in data], dtype=bool))
    if r < 0.78 and data.ndim == 2 and data.shape[1] == 1:
        return data[:, 0]
    if r < 0.86:
        pd = _pandas()
        if pd is not None and data.ndim == 2:
            names = [identifier(rng) for _ in range(data.shape[1])]
            with contextlib.suppress(Exception):
                return pd.DataFrame(data, columns=names)
        return data
    return rng.choice([data.astype(np.float32), data.astype(object), data.T, data[:, :0],
                       "text", None, {"a": 1}, [[1.0, 2.0], [3.0]], np.array(["a", "b"])])


def target(rng, data, X):
    n = len(data)
    r = rng.random()
    if r < 0.7 and data.size:
        y = data[:, 0] * rng.choice([1.0, 2.5, -1.0]) + rng.choice([0.0, 1.0])
        if rng.random() < 0.3:
            y = np.exp(np.clip(data[:, 0], -700, 700))
        if rng.random() < 0.2 and n:
            y = y.copy()
            y[rng.randrange(n)] = real(rng)
        return y if rng.random() < 0.8 else y.tolist()
    if r < 0.8:
        return [leaf(rng) for _ in range(n)]
    if r < 0.9:
        return np.ma.masked_array(np.arange(float(n)), mask=[rng.random() < 0.3 for _ in range(n)])
    return rng.choice([np.zeros(n + 1), "y", None, np.ones((n, 2)), [[1.0]] * n])


def _pandas():
    return sys.modules.get("pandas")


def maybe(rng, draw, p=0.3):
    return draw(rng) if rng.random() < p else None


def setting_count(rng, small):
    return rng.choice([*small, 0, -1, 2.0, "3", True, None, *BIG_INTS[:3], np.int64(2)])


def operators(rng):
    names = [*UNARY, *BINARY, "log", "+", "pow", "", 3]
    return rng.choice([None, [rng.choice(names) for _ in range(rng.randrange(5))], "add",
                       ["add", "mul"], ["exp", "ln", "vok"], ["div", "inv", "sqrt"]])


# ---- discover ---------------------------------------------------------------------------------

def progress(rng):
    kind = rng.random()
    if kind < 0.7:
        return False
    if kind < 0.85:
        def fails(info):
            raise Boom("callback")
        return fails
    return rng.choice([lambda info: None, True, 3, "yes"])


def draw_discover(rng):
    data = table(rng)
    X = as_x(rng, data)
    kwargs = {
        "max_size": rng.choice([1, 2, 3, 4, 4]) if rng.random() < 0.9 else setting_count(rng, []),
        "max_evaluations": (rng.choice([200, 2000, 5000]) if rng.random() < 0.9
                            else setting_count(rng, [50])),
        "time_limit": rng.choice([1.0, 1.0, 0.5, math.nan, -1.0, 0, 10**400, "1"]) if
        rng.random() < 0.15 else 1.0,
        "progress": progress(rng),
    }
    optional = {
        "names": lambda r: [identifier(r) if r.random() < 0.3 else f"v{i}"
                            for i in range(data.shape[1] if r.random() < 0.8 else 2)],
        "operators": operators,
        "constants": lambda r: [leaf(r) for _ in range(r.randrange(3))],
        "scaling": lambda r: r.random() < 0.7,
        "n_threads": lambda r: setting_count(r, [1, 2]),
        "memory_limit": lambda r: setting_count(r, [1, 10**4, 10**8]),
        "drop_nonfinite": lambda r: r.random() < 0.5,
        "max_rows": lambda r: setting_count(r, [2, 3, 5]),
        "sample_weight": lambda r: target(r, data, X),
        "model_selection": lambda r: r.choice(["mdl", "bic", "knee", "best", None]),
        "terms": lambda r: r.choice([1, 2, 3, 0, 6, None, 2.0]),
    }
    for key, draw in optional.items():
        if rng.random() < 0.12:
            kwargs[key] = draw(rng)
    return discover, [X, target(rng, data, X)], kwargs, check_discovery


def check_discovery(d, args, kwargs):
    assert type(d) is Discovery
    sizes = [e.size for e in d.equations]
    assert sizes == sorted(set(sizes)), sizes
    assert all(math.isfinite(e.rmse) and e.rmse >= 0 for e in d.equations)
    assert d.evaluations >= 0 and d.n_samples >= 2
    again = Discovery.from_state(loads_state(dumps_state(d.to_state()), "round trip"),
                                 "round trip")
    assert again == d, "a saved run does not load back as it was"
    if d.equations:
        EQUATIONS.append(d.best)
        del EQUATIONS[:-32]
        STATES.append(d.to_state())
        del STATES[:-16]


EQUATIONS: list[Equation] = []
STATES: list[dict] = []


# ---- Equation and its exports -------------------------------------------------------------

def program(rng, n_vars):
    """A postfix program: well formed mostly, malformed now and then."""
    if rng.random() < 0.08:
        kinds = ["const", "var", "op", "bogus"]
        return [(rng.choice(kinds), rng.choice([1.0, 0, n_vars, "add", "exp", "x", math.inf]))
                for _ in range(rng.randrange(5))]
    tokens, depth = [], 0
    for _ in range(rng.randrange(1, 10)):
        r = rng.random()
        if depth >= 2 and r < 0.35:
            tokens.append(("op", rng.choice(BINARY)))
            depth -= 1
        elif depth >= 1 and r < 0.65:
            tokens.append(("op", rng.choice(UNARY)))
        elif r < 0.85 or n_vars == 0:
            tokens.append(("const", rng.choice([1.0, 2.0, 0.5, 0.0, -1.0, 3.0, 1e308, 1e-308,
                                                2.0**53, 1.0 / 3, 709.78])))
            depth += 1
        else:
            tokens.append(("var", rng.randrange(n_vars)))
            depth += 1
    while depth > 1:
        tokens.append(("op", rng.choice(BINARY)))
        depth -= 1
    return tokens


def hostile_columns(rng, n_vars, rows):
    return np.array([[real(rng) for _ in range(rows)] for _ in range(n_vars)])


def draw_equation(rng):
    if EQUATIONS and rng.random() < 0.2:
        eq = rng.choice(EQUATIONS)
        parts = (eq.program, eq.scale, eq.offset, list(eq.names))
    else:
        n_vars = rng.choice([1, 1, 2, 3])
        names = [identifier(rng) if rng.random() < 0.3 else f"x{i}" for i in range(n_vars)]
        parts = (program(rng, n_vars), rng.choice([1.0, 1.0, real(rng)]),
                 rng.choice([0.0, 0.0, real(rng)]), names)
    name = rng.choice(["f", "f", "g", *(identifier(rng) for _ in range(2))])
    columns = hostile_columns(rng, len(parts[3]), rng.choice([1, 4, 9]))
    return exercise_equation, [parts, name, columns, rng.random() < 0.25], {}, None


# sympy can take minutes over a constant such as sin(sqrt(exp(2**53))): beyond this, the
# export is counted as slow and the run goes on.
SYMBOLIC_SECONDS = 5.0


class TooSlow(BaseException):
    """Raised into pure-Python work that outlasts its time limit."""


@contextlib.contextmanager
def time_limit(seconds):
    """Interrupts the pure-Python work inside (never the engine) after ``seconds``."""
    def expire(signum, frame):
        raise TooSlow

    previous = signal.signal(signal.SIGALRM, expire)
    signal.setitimer(signal.ITIMER_REAL, seconds)
    try:
        yield
    finally:
        signal.setitimer(signal.ITIMER_REAL, 0)
        signal.signal(signal.SIGALRM, previous)


class ExportFault(Exception):
    """An export's own fault, counted apart (the exports are mended elsewhere)."""

    def __init__(self, outcome, detail):
        super().__init__(detail)
        self.outcome = outcome


def exercise_equation(parts, name, columns, symbolic):
    eq = Equation.from_parts(*parts)        # bad parts: ValueError or TypeError
    assert isinstance(eq.formula, str) and eq.size >= 1
    rows = np.ascontiguousarray(columns.T)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        predicted = eq.predict(rows)
        assert predicted.shape == (len(rows),) and predicted.dtype == np.float64
        assert np.array_equal(eq(*columns), predicted, equal_nan=True)
        try:
            source = eq.python(name)
        except ValueError:
            source = None  # a name that is not an identifier
        except Exception as error:
            raise ExportFault("broken-source", f"python({name!r}) raised {error!r}") from None
        if source is not None:
            try:
                namespace: dict = {}
                exec(compile(source, "<python()>", "exec"), namespace)
                with np.errstate(all="ignore"):
                    # Python reads identifiers in NFKC form: def ﬁ defines fi.
                    function = namespace[unicodedata.normalize("NFKC", name)]
                    generated = np.asarray(function(*columns), dtype=np.float64)
            except Exception as error:
                raise ExportFault("broken-source", f"{error!r} from\n{source}") from None
            if generated.shape != predicted.shape or \
                    not np.array_equal(generated, predicted, equal_nan=True):
                raise ExportFault("disagree", f"python() {generated!r} but predict() "
                                              f"{predicted!r} for\n{source}")
        if symbolic:
            try:
                with time_limit(SYMBOLIC_SECONDS):
                    eq.sympy()
                    eq.latex()
            except TooSlow:
                raise ExportFault("export-slow", f"sympy() of {eq.formula}") from None
            except Exception as error:
                raise ExportFault("export-error", f"{error!r}") from None
    return eq


# ---- saved runs: load, show, predict ---------------------------------------------------------

def seed_states():
    """A few genuine saved states to mutate (grown by the discover calls as they run)."""
    x = np.linspace(0.5, 3.0, 12)
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        for y, names in ((2.0 * x, ["x"]), (np.sin(x) + x, ["t"]), (x * x + 1.0, ["m"])):
            d = discover(x, y, names=names, max_size=4, max_evaluations=2000, progress=False)
            STATES.append(d.to_state())


def hostile_value(rng):
    r = rng.random()
    if r < 0.4:
        return leaf(rng) if rng.random() < 0.5 else rng.choice(BIG_INTS + [-1, -2**63, 2**63])
    if r < 0.55:
        return rng.choice([math.inf, -math.inf, math.nan, -0.0, 1e308])
    if r < 0.7:
        return rng.choice(["", "x", "ten", "nan", "\u2603", "a" * 200])
    if r < 0.85:
        deep: object = []
        for _ in range(rng.choice([3, 50, 900])):
            deep = [deep]
        return deep
    return rng.choice([None, True, False, {}, [], {"a": 1}, [1, 2], [[1]]])


def mutate_state(rng, state):
    """A copy of a state with a leaf, key or list changed."""
    state = json.loads(dumps_state(state))
    for _ in range(rng.randrange(1, 4)):
        node, path = state, []
        while isinstance(node, (dict, list)) and node and rng.random() < 0.7:
            key = rng.choice(list(node)) if isinstance(node, dict) else rng.randrange(len(node))
            path.append((node, key))
            node = node[key]
        if not path:
            continue
        parent, key = path[-1]
        r = rng.random()
        if r < 0.75:
            parent[key] = hostile_value(rng)
        elif r < 0.85:
            del parent[key]
        elif isinstance(parent, dict):
            parent[rng.choice(["bogus", "x", ""])] = hostile_value(rng)
        else:
            parent.append(hostile_value(rng))
    return state


def run_text(rng):
    """The bytes of a run file: a genuine one, or one mutated, truncated or not JSON at all."""
    state = rng.choice(STATES)
    r = rng.random()
    if r < 0.15:
        return dumps_state(state).encode()
    if r < 0.75:
        try:
            return json.dumps(mutate_state(rng, state)).encode("utf-8", "surrogatepass")
        except (ValueError, RecursionError):
            return b"{}"
    text = dumps_state(state).encode()
    if r < 0.82:
        return text[: rng.randrange(len(text))]
    if r < 0.88:
        i = rng.randrange(len(text))
        return text[:i] + rng.choice([b"\xff", b"\xc3", b"\x00", b"[" * 2000, b"9" * 400]) + \
            text[i:]
    if r < 0.94:
        return b'{"format": "vok_math.discovery", "version": 1, "names": ' + \
            b"[" * rng.choice([500, 5000, 100_000]) + b"]"
    return rng.choice([b"", b"[]", b"null", b'{"format": 1}', b"\xef\xbb\xbf{}",
                       text.replace(b'"version": 1', b'"version": ' + b"9" * 40)])


def check_loaded(d):
    """A loaded run holds only what a search can write."""
    assert type(d) is Discovery
    assert d.n_samples >= 2 and d.dropped_rows >= 0 and d.evaluations >= 0
    assert math.isfinite(d.elapsed) and d.elapsed >= 0
    for e in d.equations:
        assert math.isfinite(e.rmse) and e.rmse >= 0 and e.sse >= 0  # sse: inf near 1e308
        assert math.isfinite(e.scale) and math.isfinite(e.offset)
    for s in d.sizes:
        assert all(type(s[k]) is int and s[k] >= 0 for k in ("candidates", "distinct", "valid"))
    repr(d)
    assert Discovery.from_state(loads_state(dumps_state(d.to_state()), "again"), "again") == d


def load_file(path, text):
    with open(path, "wb") as f:
        f.write(text)
    try:
        d = load(path)
    except ValueError as error:
        # One clear message, naming the file.
        assert str(error).startswith(f"{path}: ") and len(str(error)) < 1000, str(error)[:300]
        raise
    check_loaded(d)
    return d


def draw_load(rng):
    return load_file, [os.path.join(_work(), "run.json"), run_text(rng)], {}, None


# ---- the command line -----------------------------------------------------------------------

CELLS = ["", " ", "nan", "inf", "-inf", "1e400", "9" * 400, "abc", "1,5", '"2"', "0x10", "1e-320",
         "\u2603", "#", "1;2", "+.5", "-0"]


def csv_bytes(rng, rows=None, cols=None, names=None):
    """A CSV file: numbers mostly, with a header (``names``, when given) or not, and now and
    then hostile cells, lines and bytes."""
    rows = rng.choice([0, 1, 2, 3, 6, 6, 12, 12]) if rows is None else rows
    cols = rng.choice([1, 2, 2, 3]) if cols is None else cols
    delimiter = rng.choice([",", ",", ";", "\t"])
    lines = []
    if rng.random() < 0.85:
        header = names or (["x", "y", "z", "w"][:cols - 1] + ["P"] if cols > 1 else ["P"])
        if rng.random() < 0.1:
            header = [rng.choice(["x", "y", "V", "R", "P", "mass (kg)", "lambda", "", "2nd",
                                  "w", "t", "m"]) for _ in range(cols)]
        cols = len(header)
        lines.append(delimiter.join(header))
    hostile = rng.random() < 0.3
    for _ in range(rows):
        cells = [repr(rng.uniform(0.1, 5.0)) for _ in range(cols)]
        if hostile and rng.random() < 0.3:
            cells[rng.randrange(cols)] = rng.choice(CELLS)
        if hostile and rng.random() < 0.1:
            cells = cells[:-1] if rng.random() < 0.5 else [*cells, "1"]
        lines.append(delimiter.join(cells))
    if rng.random() < 0.1:
        lines.insert(rng.randrange(len(lines) + 1), "# a comment")
    text = ("\n" if rng.random() < 0.9 else "\r\n").join(lines) + "\n"
    data = text.encode()
    r = rng.random()
    if r < 0.05:
        data = b"\xef\xbb\xbf" + data
    elif r < 0.09:
        i = rng.randrange(len(data) + 1)
        data = data[:i] + rng.choice([b"\xff", b"\x00", b'"', b"\n\n"]) + data[i:]
    return data


SEARCH_OPTIONS = {
    "--target": lambda r: r.choice(["x", "y", "P", "nope", ""]),
    "--features": lambda r: r.choice(["x", "x,y", "P", "x,x", "", "nope"]),
    "--time-limit": lambda r: r.choice(["0", "-1", "nan", "inf", "1e400", "0.5", "abc"]),
    "--max-size": lambda r: r.choice(["0", "-3", "abc", "4", "1" + "0" * 400, "3.5", "31"]),
    "--max-evaluations": lambda r: r.choice(["0", "-1", "1" + "0" * 400, str(2**64), "300"]),
    "--operators": lambda r: r.choice(["add,mul", "pow", "", "exp,ln,vok", "+,-,*,/", "log"]),
    "--constants": lambda r: r.choice(["1,2", "x", "1e400", "", "nan", "9" * 400, "0"]),
    "--threads": lambda r: r.choice(["1", "2", "0", "abc", "1" + "0" * 30]),
    "--weights": lambda r: r.choice(["x", "y", "P", "nope"]),
    "--model-selection": lambda r: r.choice(["mdl", "bic", "knee", "best"]),
    "--terms": lambda r: r.choice(["1", "2", "0", "6", "abc"]),
}


def search_args(rng):
    args = ["--max-size", rng.choice(["1", "2", "3", "4"]), "--max-evaluations", "2000",
            "--time-limit", "2", "--no-progress"]
    for option, draw in SEARCH_OPTIONS.items():
        if rng.random() < 0.05:
            args += [option, draw(rng)]
    if rng.random() < 0.05:
        args.append("--no-scaling")
    if rng.random() < 0.02:
        args.append(rng.choice(["--bogus", "-x", "--max-size"]))
    return args


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)
    return path


def draw_cli_discover(rng):
    work = _work()
    data = write(os.path.join(work, "data.csv"), csv_bytes(rng, cols=rng.choice([1, 2, 2, 3])))
    argv = ["discover", data if rng.random() < 0.95 else rng.choice([work, "missing.csv", "-"]),
            *search_args(rng)]
    if rng.random() < 0.3:
        argv += ["--json", os.path.join(work, "run.json") if rng.random() < 0.8 else rng.choice(
            [os.path.join(work, "no", "run.json"), os.path.join(work, "run.txt"), work + "/"])]
    if rng.random() < 0.1:
        os.mkdir(os.path.join(work, "run.json"))  # a run that cannot be written
    return run_cli, [argv, read_bytes(data)], {}, None


def draw_cli_show(rng):
    path = write(os.path.join(_work(), "run.json"), run_text(rng))
    return run_cli, [["show", path], None], {}, None


def draw_cli_predict(rng):
    work = _work()
    state = rng.choice(STATES)
    run = write(os.path.join(work, "run.json"), run_text(rng) if rng.random() < 0.3
                else dumps_state(state).encode())
    names = list(state["names"])
    if rng.random() < 0.3:
        names += ["label"] if rng.random() < 0.5 else ["y"]
    rng.shuffle(names)
    data = write(os.path.join(work, "new.csv"), csv_bytes(rng, names=names)
                 if rng.random() < 0.8 else csv_bytes(rng))
    argv = ["predict", run, data]
    if rng.random() < 0.2:
        argv += ["--equation", rng.choice(["1", "2", "3", "0", "-1", "99", "x", "9" * 400])]
    if rng.random() < 0.2:
        argv += ["-o", rng.choice([os.path.join(work, "out.csv"), work,
                                   os.path.join(work, "no", "out.csv")])]
    return run_cli, [argv, read_bytes(data)], {}, None


def draw_cli_batch(rng):
    work = _work()
    folder = os.path.join(work, "in")
    os.mkdir(folder)
    names = rng.sample(["a.csv", "b.csv", "one.csv", "one.tsv", "one.txt", "c.csv"],
                       rng.choice([0, 1, 1, 2, 2, 3]))
    for name in names:
        write(os.path.join(folder, name), csv_bytes(rng, cols=rng.choice([2, 2, 3])))
    if names and rng.random() < 0.1:
        stem = os.path.splitext(names[0])[0]
        os.mkdir(os.path.join(folder, stem + ".json"))  # a run that cannot be written
    pattern = rng.choice([folder, folder, os.path.join(folder, "one.*"),
                          os.path.join(folder, "*.*"), os.path.join(folder, "*.none")])
    argv = ["batch", pattern, *search_args(rng)]
    if rng.random() < 0.3:
        out = os.path.join(work, "out")
        if rng.random() < 0.8:
            os.mkdir(out)
        argv += ["-o", out]
    if rng.random() < 0.3:
        argv += ["--summary", os.path.join(work, "s.csv") if rng.random() < 0.8 else rng.choice(
            [os.path.join(work, "s.txt"), os.path.join(work, "no", "s.csv")])]
    return run_cli, [argv, None], {}, None


def draw_cli_usage(rng):
    argv = rng.choice([["--help"], ["--version"], ["frobnicate"], ["discover"], ["show"],
                       ["predict", "x.json"], ["batch", "--help"], ["show", "--help"],
                       ["discover", "--max-size"], ["predict", "--help"]])
    return run_cli, [list(argv), None], {}, None


STATUSES = {0, 1, 2}


class Refused(Exception):
    """A command that ended with a documented status other than 0."""


class CommandFault(AssertionError):
    """The command let an exception escape (a traceback for the user) or exited oddly."""


def run_cli(argv, stdin_bytes):
    out, err = io.StringIO(), io.StringIO()
    stdin = io.TextIOWrapper(io.BytesIO(stdin_bytes or b""), encoding="utf-8")
    saved = sys.stdin
    sys.stdin = stdin
    try:
        with contextlib.redirect_stdout(out), contextlib.redirect_stderr(err), \
                warnings.catch_warnings():
            warnings.simplefilter("ignore")
            try:
                status = cli.main(argv)
            except SystemExit as exit_:  # argparse: --help, --version, usage errors
                status = exit_.code if isinstance(exit_.code, int) else 2
            except BaseException as error:  # noqa: B036 - a traceback for the user
                raise CommandFault(f"vok-math {' '.join(argv)[:300]}: {error!r}") from error
    finally:
        sys.stdin = saved
    text = err.getvalue()
    if status not in STATUSES or "Traceback" in text:
        raise CommandFault(f"vok-math {' '.join(argv)[:300]}: status {status}, stderr "
                           f"{text[-500:]!r}")
    if status == 2 and not text.strip():
        raise CommandFault(f"vok-math {' '.join(argv)[:300]}: status 2 without a message")
    if status != 0:
        raise Refused(status)
    return status


def read_bytes(path):
    with open(path, "rb") as f:
        return f.read()


# ---- the work folder: a fresh one per call --------------------------------------------------

_ROOT = tempfile.mkdtemp(prefix="vok-fuzz-")
atexit.register(shutil.rmtree, _ROOT, True)


def _work():
    """An empty folder for this call (the previous call's is removed)."""
    path = os.path.join(_ROOT, "call")
    shutil.rmtree(path, ignore_errors=True)
    os.mkdir(path)
    return path


# ---- the table ---------------------------------------------------------------------------------

TABLE = {
    "discover": (draw_discover, 6),
    "Equation and its exports": (draw_equation, 6),
    "load": (draw_load, 5),
    "cli discover": (draw_cli_discover, 3),
    "cli show": (draw_cli_show, 2),
    "cli predict": (draw_cli_predict, 3),
    "cli batch": (draw_cli_batch, 2),
    "cli usage": (draw_cli_usage, 1),
}

# What each entry may raise: the documented errors of the surface.
ACCEPTED = {"discover": (ValueError, TypeError, Boom),
            "Equation and its exports": (ValueError, TypeError),
            "load": (ValueError,),
            **{name: (Refused,) for name in TABLE if name.startswith("cli")}}


def accept_error(name, error):
    """True for the failures a caller may see; False marks a fault."""
    if isinstance(error, (CommandFault, AssertionError)):
        return False
    if isinstance(error, Boom):
        # A callback's exception carries the front found so far.
        return isinstance(getattr(error, "discovery", None), Discovery)
    return isinstance(error, ACCEPTED.get(name, ()))


def one_call(rng, name, log):
    """Draws one call of `name`, logs it, runs it and checks the outcome.

    Returns 'ok', 'error', 'skipped', or an export fault counted apart ('disagree',
    'broken-source', 'export-error'); raises AssertionError on a fault of the surface."""
    if not STATES:
        seed_states()
    try:
        fn, args, kwargs, check = TABLE[name][0](rng)
    except Exception:
        return "skipped"
    log(name, fn, args, kwargs)
    try:
        with warnings.catch_warnings(), np.errstate(all="ignore"):
            warnings.simplefilter("ignore")
            out = fn(*args, **kwargs)
    except ExportFault as fault:
        return fault.outcome
    except BaseException as error:  # noqa: B036 -- judged by accept_error
        if not accept_error(name, error):
            raise AssertionError(f"{name}: unacceptable {type(error).__name__}: "
                                 f"{str(error)[:2000]}") from error
        return "error"
    if check is not None:
        check(out, args, kwargs)
    return "ok"


def pick(rng):
    return fuzz_calls.pick(rng, TABLE)


describe = fuzz_calls.describe
