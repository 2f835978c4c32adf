"""The module inside a process's life: sub-interpreters, exit, fork, signals and memory."""
import signal
import subprocess
import sys
import textwrap
import time

import pytest

from conftest import SANITIZED, run_python

PRELUDE = textwrap.dedent("""
    import os, signal, sys, time
    import vok_math.vok_core as vc
    X, Y = [[0.0, 1.0, 2.0, 3.0]], [1.0, 3.0, 5.0, 7.0]
    def small():
        r = vc.find_formula(X, Y, max_complexity=6, beam_width=50)
        return (r.formula, r.error, r.complexity)
    # A search that takes seconds: long enough to be interrupted.
    XS = [0.001 * i for i in range(1, 20001)]
    YS = [x ** 2.37 + 0.3 * x for x in XS]
    def long_search():
        return vc.find_formula([XS, XS[::-1]], YS, max_complexity=12, beam_width=100000)
    # Levels of thousands of rows: scored by the worker pool.
    def pooled():
        return repr(vc.find_formula([XS[:5000]], YS[:5000], max_complexity=3, beam_width=50))
""")

SLOW = 2 if SANITIZED else 1


def run(body: str, timeout: float = 120, env: dict[str, str] | None = None):
    out = run_python(PRELUDE + textwrap.dedent(body), env, timeout=timeout)
    assert out.returncode == 0, out.stdout + out.stderr
    return out.stdout.split()


def test_sub_interpreter_refusal_leaves_the_first_module_working():
    words = run("""
        import _xxsubinterpreters as s
        before = small()
        for _ in range(2):  # refused every time, not only the first
            i = s.create()
            try:
                s.run_string(i, "import vok_math.vok_core")
                print("imported")
            except s.RunFailedError as e:
                print("refused" if "ImportError" in str(e) else e)
            s.destroy(i)
        assert small() == before
        assert vc.__all__.count("VOKPair") == 1
        print((vc.VOKPair(1.0, 2.0) * vc.VOKPair.unit_i()).real)
    """)
    assert words == ["refused", "refused", "-2.0"]


@pytest.mark.parametrize("threads", ["1", "7"])
def test_exit_right_after_a_search_is_clean_and_prompt(threads):
    start = time.monotonic()
    out = run_python(PRELUDE + "small()\n", {"RAYON_NUM_THREADS": threads}, timeout=60)
    assert (out.returncode, out.stderr) == (0, "")
    assert time.monotonic() - start < 10 * SLOW


def test_exit_raised_during_a_search_after_one_in_a_thread():
    out = run_python(PRELUDE + textwrap.dedent("""
        import threading
        t = threading.Thread(target=small)
        t.start(); t.join()
        def stop(*a):
            raise SystemExit(7)
        signal.signal(signal.SIGALRM, stop)
        signal.setitimer(signal.ITIMER_REAL, 0.3)
        long_search()
    """), timeout=60)
    assert (out.returncode, out.stderr) == (7, "")


def test_forked_child_after_an_interrupted_search():
    # The parent's pool was cancelled mid-batch; the child must not inherit a stuck pool,
    # nor the parent's threads: it needs a pool of its own.
    words = run("""
        signal.signal(signal.SIGALRM, lambda *a: (_ for _ in ()).throw(KeyboardInterrupt))
        signal.setitimer(signal.ITIMER_REAL, 0.5)
        try:
            long_search()
        except KeyboardInterrupt:
            print("interrupted")
        want = (small(), pooled())
        pid = os.fork()
        if pid == 0:
            os._exit(0 if (small(), pooled()) == want == (small(), pooled()) else 3)
        deadline = time.monotonic() + 60 * %d
        while time.monotonic() < deadline:
            done, status = os.waitpid(pid, os.WNOHANG)
            if done:
                print("child", os.waitstatus_to_exitcode(status))
                break
            time.sleep(0.05)
        else:
            os.kill(pid, signal.SIGKILL)
            print("hung")
    """ % SLOW, timeout=120 * SLOW)
    assert words == ["interrupted", "child", "0"]


def test_ctrl_c_interrupts_long_searches_and_leaves_the_engine_usable():
    code = PRELUDE + textwrap.dedent("""
        want = small()
        for _ in range(2):
            print("ready", flush=True)
            try:
                long_search()
                print("finished")
            except KeyboardInterrupt:
                print("interrupted", small() == want, flush=True)
    """)
    with subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, text=True) as proc:
        try:
            for _ in range(2):
                assert proc.stdout.readline().strip() == "ready"
                time.sleep(0.5)
                sent = time.monotonic()
                proc.send_signal(signal.SIGINT)
                assert proc.stdout.readline().split() == ["interrupted", "True"]
                assert time.monotonic() - sent < (10.0 if SANITIZED else 2.0)
            assert proc.wait(timeout=60) == 0, proc.stderr.read()
        finally:
            proc.kill()


def test_search_beyond_memory_raises_memory_error_and_leaves_the_engine_usable():
    # 300 variables on 200 rows with no beam to speak of: the second level alone would
    # generate about 1e11 candidates. The search must refuse before allocating them (under
    # ASan a huge allocation aborts the process instead of raising), and twice in a row.
    words = run("""
        want = small()
        xs = [[0.05 * i + 0.01 * j for i in range(1, 201)] for j in range(300)]
        ys = [x ** 1.37 for x in xs[0]]
        for _ in range(2):
            try:
                vc.find_formula(xs, ys, beam_width=10**12)
                print("found")
            except MemoryError:
                print("MemoryError", small() == want)
    """, timeout=120 * SLOW)
    assert words == ["MemoryError", "True", "MemoryError", "True"]


def test_signal_handler_may_search_while_a_search_waits():
    # Levels of a million rows outlast the poll period, so the handler runs on the
    # waiting thread in the middle of a batch; its own search is large enough for the
    # pool. It must neither deadlock on the pool nor change either result.
    words = run("""
        big = [1e-6 * i for i in range(1, 1000001)]
        target = [x ** 2.37 + 0.3 * x for x in big]
        plain = vc.find_formula([big], target, max_complexity=3, beam_width=50)
        want, nested = pooled(), []
        signal.signal(signal.SIGALRM, lambda *a: nested.append(pooled()))
        signal.setitimer(signal.ITIMER_REAL, 0.02, 0.02)
        r = vc.find_formula([big], target, max_complexity=3, beam_width=50)
        signal.setitimer(signal.ITIMER_REAL, 0)
        print(repr(r) == repr(plain), len(nested) > 0, set(nested) <= {want})
    """, timeout=60 * SLOW)
    assert words == ["True", "True", "True"]


def test_sigint_storm_during_short_calls_corrupts_nothing():
    code = PRELUDE + textwrap.dedent("""
        def batch():
            return (small(), vc.simulate_pulses_n(0.0, 1.0, 50),
                    vc.rotate_phase_n([(1.0, 2.0)] * 50, [0.5] * 50), repr(vc.VOKPair(1, 2) / vc.VOKPair(3, 4)))
        want = batch()
        armed = [False]  # raise only inside the try below, wherever the signal lands
        def on_sigint(*a):
            if armed[0]:
                armed[0] = False
                raise KeyboardInterrupt
        signal.signal(signal.SIGINT, on_sigint)
        print("ready", flush=True)
        interrupts = bad = 0
        deadline = time.monotonic() + 1.5 * %d
        while time.monotonic() < deadline:
            try:
                armed[0] = True
                got = batch()
                armed[0] = False
                bad += got != want
            except KeyboardInterrupt:
                interrupts += 1
        print("interrupts", interrupts > 0, "bad", bad, "after", batch() == want, flush=True)
    """ % SLOW)
    proc = subprocess.Popen([sys.executable, "-c", code], stdout=subprocess.PIPE,
                            stderr=subprocess.PIPE, text=True)
    try:
        assert proc.stdout.readline().strip() == "ready"
        for _ in range(40):
            time.sleep(0.03)
            if proc.poll() is not None:
                break
            proc.send_signal(signal.SIGINT)
        out, err = proc.communicate(timeout=60 * SLOW)
    finally:
        proc.kill()
    assert proc.returncode == 0, err
    assert out.split() == ["interrupts", "True", "bad", "0", "after", "True"]
