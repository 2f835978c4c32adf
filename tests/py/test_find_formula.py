"""find_formula end to end and its result class."""
import math
import os
import signal
import subprocess
import sys
import textwrap
import time

import pytest

import vok_math.vok_core as vc
from conftest import SANITIZED, run_python


def test_linear_law_is_found_exactly():
    r = vc.find_formula([[0.0, 1.0, 2.0, 3.0]], [1.0, 3.0, 5.0, 7.0])
    assert r.error == 0.0 and r.complexity == 5 and r.params == []
    assert repr(r).startswith("SearchResult(formula='")
    assert repr(r).endswith("error=0.00e0, complexity=5)")
    assert str(r) == repr(r)
    assert r.formula == "((x + x) + 1.0000)"


def test_result_is_read_only_and_fresh_on_each_access():
    r = vc.find_formula([[0.0, 1.0, 2.0, 3.0]], [1.0, 3.0, 5.0, 7.0])
    assert r.params is not r.params
    with pytest.raises(AttributeError):
        r.formula = "x"
    with pytest.raises(TypeError, match="^No constructor defined for PySearchResult$"):
        vc.PySearchResult()


def test_renderings_of_a_result():
    r = vc.find_formula([[1.0, 4.0, 9.0, 16.0]], [1.0, 2.0, 3.0, 4.0])
    assert r.formula == "sqrt(x)"
    assert r.to_latex() == "\\sqrt{x}"
    assert r.to_python() == "import math\nf = lambda x: math.sqrt(x)"


@pytest.mark.parametrize("error, text", [
    (0.5, "5.00e-1"), (2.5e-11, "2.50e-11"), (math.inf, "inf"), (math.nan, "NaN")])
def test_repr_error_format(error, text):
    # Shapes the error through the data: a constant target c scores |c - best leaf|.
    if math.isnan(error):
        r = vc.find_formula([[1.0]], [], max_complexity=1)
    elif math.isinf(error):
        r = vc.find_formula([[1.0]], [math.inf], max_complexity=1)
    else:
        r = vc.find_formula([[5.0]], [error], max_complexity=1, complexity_penalty=0.0)
    assert f"error={text}," in repr(r)


def test_target_equal_to_a_column_returns_that_variable():
    r = vc.find_formula([[3.0, 1.0, 2.0], [0.5, 0.25, 8.0]], [0.5, 0.25, 8.0])
    assert (r.formula, r.complexity, r.error) == ("y", 1, 0.0)


@pytest.mark.parametrize("kwargs, absent", [
    ({"use_trig": False}, ("sin", "cos")), ({"use_vok": False}, ("vok",))])
def test_disabled_operators_never_appear(kwargs, absent):
    xs = [0.1 * i for i in range(1, 30)]
    ys = [math.sin(x) + math.exp(x) - math.log(x) for x in xs]
    r = vc.find_formula([xs], ys, max_complexity=5, beam_width=200, **kwargs)
    assert not any(name in r.formula for name in absent)


def test_ragged_rows_against_targets_are_allowed():
    # Four rows, two targets: only the first two predictions count, divided by two.
    r = vc.find_formula([[1.0, 2.0, 100.0, -7.0]], [1.0, 2.0], max_complexity=1)
    assert (r.formula, r.error) == ("x", 0.0)


DETERMINISM = textwrap.dedent("""
    import math, random, vok_math.vok_core as vc
    random.seed(7)
    xs = [random.uniform(0.5, 3.0) for _ in range(60)]
    zs = [random.uniform(-1.0, 1.0) for _ in range(60)]
    targets = [[math.exp(-x) * z + x for x, z in zip(xs, zs)], [x ** 1.7 + 0.1 for x in xs]]
    for y in targets:
        r = vc.find_formula([xs, zs], y, max_complexity=6, beam_width=400)
        print(r.formula, r.error.hex(), r.complexity)
""")


def test_results_do_not_depend_on_the_worker_count():
    outs = [run_python(DETERMINISM, {"RAYON_NUM_THREADS": n}) for n in ("1", "2", "7")]
    for out in outs:
        assert out.returncode == 0, out.stderr
    assert outs[0].stdout == outs[1].stdout == outs[2].stdout
    assert len(outs[0].stdout.splitlines()) == 2


def test_forked_child_can_search():
    out = run_python(textwrap.dedent("""
        import os, vok_math.vok_core as vc
        X, Y = [[0.0, 1.0, 2.0, 3.0]], [1.0, 3.0, 5.0, 7.0]
        vc.find_formula(X, Y)
        pid = os.fork()
        if pid == 0:
            ok = vc.find_formula(X, Y).error == 0.0 and vc.find_formula(X, Y).complexity == 5
            os._exit(0 if ok else 3)
        _, status = os.waitpid(pid, 0)
        print("child", os.waitstatus_to_exitcode(status))
    """), timeout=120)
    assert out.returncode == 0, out.stderr
    assert out.stdout.strip() == "child 0"


def test_ctrl_c_interrupts_a_long_search():
    code = textwrap.dedent("""
        import sys, time, vok_math.vok_core as vc
        xs = [0.001 * i for i in range(1, 20001)]
        ys = [x ** 2.37 + 0.3 * x for x in xs]
        print("ready", flush=True)
        start = time.monotonic()
        try:
            vc.find_formula([xs, xs[::-1]], ys, max_complexity=12, beam_width=100000)
            print("finished")
        except KeyboardInterrupt:
            print("interrupted", time.monotonic() - start, flush=True)
        r = vc.find_formula([[0.0, 1.0, 2.0, 3.0]], [1.0, 3.0, 5.0, 7.0])
        print("after", r.complexity)
    """)
    proc = subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)
    assert proc.stdout.readline().strip() == "ready"
    time.sleep(1.5)
    sent = time.monotonic()
    proc.send_signal(signal.SIGINT)
    out, err = proc.communicate(timeout=60)
    waited = time.monotonic() - sent
    assert proc.returncode == 0, err
    lines = out.splitlines()
    assert lines[0].startswith("interrupted"), out
    assert lines[-1] == "after 5"
    assert waited < (10.0 if SANITIZED else 2.0)


def test_interpreter_exits_promptly_after_a_search():
    start = time.monotonic()
    out = run_python("import vok_math.vok_core as vc; "
                     "vc.find_formula([[0.0, 1.0, 2.0, 3.0]], [1.0, 3.0, 5.0, 7.0])", timeout=60)
    assert out.returncode == 0, out.stderr
    assert time.monotonic() - start < 30
