"""find_formula compared with itself along the paths that must not change a bit:
numpy buffers against lists, and one worker against several, on random data
(NaN, infinities, signed zeros) and random small settings."""
import json
import os
import struct
import subprocess
import sys

import numpy as np
import pytest
from hypothesis import HealthCheck, given, settings
from hypothesis import strategies as st

import vok_math.vok_core as core
from conftest import SANITIZED

SPECIAL = [0.0, -0.0, float("inf"), float("-inf"), float("nan"), 1e-300, 1e300, -1.0]

# The sanitizer lane runs everything several times slower: fewer, smaller cases.
EXAMPLES = 8 if SANITIZED else 60
MAX_ROWS = 12 if SANITIZED else 40
MAX_COMPLEXITY = 4 if SANITIZED else 6

values = st.one_of(st.floats(-3.0, 3.0), st.sampled_from(SPECIAL))


@st.composite
def cases(draw):
    cols = draw(st.integers(1, 3))
    rows = draw(st.integers(0, MAX_ROWS))
    x = [draw(st.lists(values, min_size=rows, max_size=rows)) for _ in range(cols)]
    y = draw(st.lists(values, min_size=max(rows - 2, 0), max_size=rows + 2))
    kwargs = {
        "max_complexity": draw(st.integers(0, MAX_COMPLEXITY)),
        "beam_width": draw(st.sampled_from([0, 3, 4, 9, 40, 400])),
        "precision_goal": draw(st.sampled_from([1e-10, 0.0, 0.3])),
        "use_trig": draw(st.booleans()),
        "use_vok": draw(st.booleans()),
        "complexity_penalty": draw(st.sampled_from([0.001, 0.0, -0.0, 0.5, -0.4])),
    }
    return x, y, kwargs


def outcome(result):
    """Everything a result carries, with the error as its exact bit pattern."""
    if result is None:
        return None
    return (result.formula, struct.pack("<d", result.error), result.complexity,
            tuple(struct.pack("<d", p) for p in result.params))


@settings(max_examples=EXAMPLES, deadline=None, suppress_health_check=[HealthCheck.too_slow])
@given(cases())
def test_numpy_buffers_give_the_list_results(case):
    vc = core
    x, y, kwargs = case
    want = outcome(vc.find_formula(x, y, **kwargs))
    rows = [np.array(col, dtype=np.float64) for col in x]
    assert outcome(vc.find_formula(rows, np.array(y, dtype=np.float64), **kwargs)) == want
    # A 2-D array gives C-contiguous rows; a strided view takes the sequence path.
    assert outcome(vc.find_formula(np.array(x, dtype=np.float64), y, **kwargs)) == want
    strided = [np.repeat(np.array(col, dtype=np.float64), 2)[::2] for col in x]
    assert outcome(vc.find_formula(strided, y, **kwargs)) == want


@pytest.mark.parametrize("data", [
    np.arange(3, dtype=np.float32),          # not doubles
    np.arange(3, dtype=">f8" if sys.byteorder == "little" else "<f8"),  # foreign byte order
    np.arange(3, dtype=np.int64),
    memoryview(np.arange(3.0)),
])
def test_other_buffers_read_as_their_items(vc, data):
    as_list = [float(v) for v in data]
    assert outcome(vc.find_formula([data], [1.0, 2.0, 3.0])) == \
        outcome(vc.find_formula([as_list], [1.0, 2.0, 3.0]))


def test_array_subclasses_read_as_their_items(vc):
    # A masked element reads as NaN (with numpy's warning), not as the number under the mask.
    masked = np.ma.array([1.0, 2.0, 3.0], mask=[False, True, False])
    with pytest.warns(UserWarning):
        got = outcome(vc.find_formula([masked], [1.0, 2.0, 3.0], max_complexity=1))
    assert got == outcome(vc.find_formula([[1.0, float("nan"), 3.0]], [1.0, 2.0, 3.0],
                                          max_complexity=1))


def test_non_numeric_buffers_keep_the_sequence_errors(vc):
    with pytest.raises(TypeError) as numpy_error:
        vc.find_formula([np.array(["a", "b"])], [1.0, 2.0])
    with pytest.raises(TypeError) as list_error:
        vc.find_formula([[np.str_("a"), np.str_("b")]], [1.0, 2.0])
    assert str(numpy_error.value) == str(list_error.value)


WORKER_RUN = """
import json, struct, sys, vok_math.vok_core as vc
for x, y, kwargs in json.load(sys.stdin):
    r = vc.find_formula(x, y, **kwargs)
    print(None if r is None else
          [r.formula, struct.pack("<d", r.error).hex(), r.complexity, r.params])
"""


def run_with_workers(batch, workers):
    env = dict(os.environ, RAYON_NUM_THREADS=workers)
    out = subprocess.run([sys.executable, "-c", WORKER_RUN], input=json.dumps(batch),
                         capture_output=True, text=True, env=env, timeout=300)
    assert out.returncode == 0, out.stderr
    return out.stdout


@settings(max_examples=2 if SANITIZED else 4, deadline=None,
          suppress_health_check=[HealthCheck.too_slow, HealthCheck.data_too_large])
@given(st.lists(cases(), min_size=1, max_size=4 if SANITIZED else 12))
def test_worker_counts_give_the_same_results(batch):
    one = run_with_workers(batch, "1")
    assert len(one.splitlines()) == len(batch)
    assert run_with_workers(batch, "2") == one
    assert run_with_workers(batch, "3") == one
