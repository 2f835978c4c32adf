"""The vok-math command line, run as a user runs it: a subprocess, its output and exit status."""
import fcntl
import os
import pty
import re
import signal
import struct
import subprocess
import sys
import termios
import time
from pathlib import Path

import numpy as np
import pytest

import vok_math
from conftest import SANITIZED
from vok_math import cli, load
from vok_math.cli import parse_table

# Python-level behaviour: the release lane covers it, and each call costs seconds under ASan.
pytestmark = pytest.mark.skipif(SANITIZED, reason="pure Python; covered by the release lane")

GOOD = b"V,R,P\n1,2,0.5\n2,4,1\n3,3,3\n4,2,8\n"
# The children import the package this process imports, from whatever folder they run in.
ENV = dict(os.environ, PYTHONPATH=os.pathsep.join(
    [str(Path(vok_math.__file__).parents[1]), os.environ.get("PYTHONPATH", "")]))


def vok_math_cli(*args: str, cwd=None, stdin: bytes | None = None, timeout: float = 120):
    return subprocess.run([sys.executable, "-m", "vok_math", *args], cwd=cwd, input=stdin,
                          capture_output=True, timeout=timeout, env=ENV)


@pytest.mark.parametrize("text, names, rows", [
    ("V;R;P\n1.5;2;3\n4;5;6\n", ["V", "R", "P"], [[1.5, 2, 3], [4, 5, 6]]),
    ("V\tR\tP\n1\t2\t3\n4\t5\t6\n", ["V", "R", "P"], [[1, 2, 3], [4, 5, 6]]),
    ("\ufeffV,R,P\r\n1,2,3\r\n4,5,6\r\n", ["V", "R", "P"], [[1, 2, 3], [4, 5, 6]]),
    ('"V","R, ohm","P"\n"1", "2",3\n\n4,5,6\n', ["V", "R, ohm", "P"], [[1, 2, 3], [4, 5, 6]]),
    ("# comment\n1,2,3\n# another\n4,5,6\n", ["x0", "x1", "y"], [[1, 2, 3], [4, 5, 6]]),
    (" V , R ,P\n-1e3, 2 ,+.5\n4,5,6", ["V", "R", "P"], [[-1000, 2, 0.5], [4, 5, 6]]),
])
def test_csv_dialects_read_the_same_numbers(text, names, rows):
    table = parse_table(text, "t.csv")
    assert (table.names, table.values.tolist()) == (names, rows)


@pytest.mark.parametrize("content, args, message", [
    (b"V,R,P\n1,2,0.5\n2,abc,1\n", [], "data.csv:3: column R: 'abc' is not a number\n"),
    (b"V,R,P\n1,2,0.5\n2, ,1\n", [], "data.csv:3: column R: empty cell\n"),
    (b"V,R,P\n1,2,0.5\n# skipped\n2,3,nan\n", [], "data.csv:4: column P: 'nan' is not a finite"),
    (b"V;R;P\n1,5;2;0.5\n", [], "data.csv:2: column V: '1,5' is not a number (write decimals "
                               "with a point: 1.5)\n"),
    (b"", [], "data.csv: empty file: expected a header line and rows of numbers\n"),
    (b"V,R,P\n", [], "data.csv: no data rows after the header\n"),
    (b"P\n1\n2\n", [], "data.csv: one column (P): need at least one feature column and a target"),
    (b"V,R,P\n1,2,0.5\n2,3\n", [], "data.csv:3: 2 cells, but the header names 3 columns\n"),
    (b"V,R,P\n1,2,0.5,\n", [], "data.csv:2: 4 cells, but the header names 3 columns\n"),
    (b"V,V,P\n1,2,0.5\n", [], "data.csv:1: column name 'V' appears twice\n"),
    (b"V,R,P\n\xff,1,2\n", [], "data.csv:2: not UTF-8 text (byte 0xff)"),
    (b'V,R,P\n"1,2,3\n', [], "data.csv:2: unexpected end of data\n"),
    (GOOD, ["--target", "Q"], "data.csv: no column 'Q' for the target; the columns are V, R, P"),
    (GOOD, ["--features", "V,P"], "data.csv: column 'P' is the target; it cannot also be a"),
    (GOOD, ["--plot", "fig.jpg"], "--plot fig.jpg: the file name must end in .png or .svg\n"),
    (GOOD, ["--json", "nodir/run.json"], "--json nodir/run.json: no directory 'nodir'\n"),
    (GOOD, ["--time-limit", "-1"], "argument --time-limit: must be positive: '-1'\n"),
    (GOOD, ["--constants", "1,x"], "argument --constants: not a list of numbers: '1,x'\n"),
])
def test_bad_input_is_one_line_and_status_2(tmp_path, content, args, message):
    (tmp_path / "data.csv").write_bytes(content)
    out = vok_math_cli("discover", "data.csv", *args, cwd=tmp_path)
    err = out.stderr.decode()
    assert (out.returncode, out.stdout) == (2, b"")
    assert message in err and "Traceback" not in err


@pytest.mark.parametrize("args, message", [
    (["discover", "missing.csv"], "missing.csv: no such file\n"),
    (["discover", "."], ".: is a directory, not a CSV file\n"),
    (["discover", "-"], "<stdin>: empty file"),
    (["frobnicate"], "invalid choice: 'frobnicate'"),
    (["show", "missing.json"], "missing.json: no such file\n"),
])
def test_missing_inputs_and_usage_errors(tmp_path, args, message):
    out = vok_math_cli(*args, cwd=tmp_path, stdin=b"")
    assert out.returncode == 2 and message in out.stderr.decode()


def test_version_and_help():
    assert vok_math_cli("--version").stdout.decode() == f"vok-math {vok_math.__version__}\n"
    help_text = vok_math_cli("--help").stdout.decode()
    assert "examples:" in help_text and "vok-math discover data.csv" in help_text


def samples_csv(path: Path, rows: int = 40, noise: float = 0.0) -> Path:
    """P = V**2/R (plus noise, for a search that has no exact answer to stop at)."""
    rng = np.random.default_rng(7)
    V, R = rng.uniform(1, 10, rows), rng.uniform(1, 10, rows)
    P = V ** 2 / R + noise * rng.standard_normal(rows)
    np.savetxt(path, np.column_stack([V, R, P]), delimiter=",", header="V,R,P", comments="")
    return path


def test_discover_save_show_and_predict(tmp_path):
    samples_csv(tmp_path / "data.csv")
    out = vok_math_cli("discover", "data.csv", "--max-size", "5", "--json", "run.json",
                       "--plot", "fit.png", cwd=tmp_path)
    text = out.stdout.decode()
    assert (out.returncode, out.stderr) == (0, b"")
    assert "chosen: P = V**2 / R\nsympy:  V**2/R\nLaTeX:  \\frac{V^{2}}{R}\n" in text
    assert (tmp_path / "fit.png").stat().st_size > 0

    shown = vok_math_cli("show", "run.json", cwd=tmp_path)
    assert shown.returncode == 0 and "chosen: V**2 / R" in shown.stdout.decode()

    (tmp_path / "new.csv").write_text("R,V\n2,3\n0.5,1\n")
    for args in (["-o", "out.csv"], ["--equation", "4", "-o", "out.csv"]):
        assert vok_math_cli("predict", "run.json", "new.csv", *args, cwd=tmp_path).returncode == 0
        assert (tmp_path / "out.csv").read_text() == "R,V,predicted\n2.0,3.0,4.5\n0.5,1.0,2.0\n"
    wrong = vok_math_cli("predict", "run.json", "new.csv", "--equation", "2", cwd=tmp_path)
    assert wrong.returncode == 2 and b"run.json: no formula of size 2; the sizes are" in wrong.stderr


def test_stdin_and_the_shipped_samples(tmp_path):
    data = samples_csv(tmp_path / "data.csv").read_bytes()
    piped = vok_math_cli("discover", "-", "--target", "P", "--max-size", "5", stdin=data)
    assert piped.returncode == 0 and b"chosen: P = V**2 / R" in piped.stdout

    demo = vok_math_cli(cwd=tmp_path)
    figure = tmp_path / "vok-math-samples.png"
    assert demo.returncode == 0 and f"figure: {figure}\n" in demo.stdout.decode()
    assert figure.stat().st_size > 0


def test_nothing_evaluable_is_status_1(tmp_path):
    # Unscaled, every residual squared overflows: no candidate has a finite error. (Scaled, the
    # same data are searched at a safe magnitude and give a front.)
    (tmp_path / "huge.csv").write_text("x,y\n1,1e200\n2,-1e200\n3,1e200\n")
    out = vok_math_cli("discover", "huge.csv", "--max-size", "3", "--no-scaling", cwd=tmp_path)
    assert out.returncode == 1 and b"No formula could be evaluated" in out.stdout
    assert vok_math_cli("discover", "huge.csv", "--max-size", "3", cwd=tmp_path).returncode == 0


def test_progress_bar_only_on_a_terminal(tmp_path):
    samples_csv(tmp_path / "data.csv", rows=200, noise=0.3)
    seen = {}
    for flag in ([], ["--no-progress"]):
        pid, fd = pty.fork()
        if pid == 0:  # the child: its stdout and stderr are the terminal, 100 columns wide
            fcntl.ioctl(0, termios.TIOCSWINSZ, struct.pack("HHHH", 24, 100, 0, 0))
            os.chdir(tmp_path)
            os.execve(sys.executable, [sys.executable, "-m", "vok_math", "discover", "data.csv",
                                       "--max-size", "30", "--time-limit", "2", *flag], ENV)
        chunks = []
        while True:
            try:
                chunk = os.read(fd, 4096)
            except OSError:  # the child has gone: the terminal is closed
                break
            if not chunk:
                break
            chunks.append(chunk)
        os.close(fd)
        _, status = os.waitpid(pid, 0)
        seen[bool(flag)] = (os.waitstatus_to_exitcode(status), b"".join(chunks).decode())
    assert seen[False][0] == seen[True][0] == 0
    bar = re.compile(r"size \d+: +\d+%\|")
    assert bar.search(seen[False][1]) and "chosen: P = " in seen[False][1]
    assert not bar.search(seen[True][1]) and "chosen: P = " in seen[True][1]


def test_ctrl_c_prints_the_front_so_far_and_exits_130(tmp_path):
    samples_csv(tmp_path / "data.csv", rows=200, noise=0.3)
    child = subprocess.Popen([sys.executable, "-m", "vok_math", "discover", "data.csv",
                              "--max-size", "30", "--time-limit", "60"], cwd=tmp_path, env=ENV,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    assert child.stdout.readline().startswith(b"Searching 200 rows for P")
    time.sleep(1.0)
    child.send_signal(signal.SIGINT)
    stdout, stderr = child.communicate(timeout=20)
    assert child.returncode == 130, stderr
    assert b"stopped: interrupted" in stdout and b"chosen: P = " in stdout
    assert b"interrupted" in stderr and b"Traceback" not in stderr


def test_batch_keeps_files_that_differ_only_in_their_suffix_apart(tmp_path, capsys):
    x = np.linspace(1.0, 3.0, 20)
    np.savetxt(tmp_path / "one.csv", np.column_stack([x, 2 * x]), delimiter=",", header="x,y",
               comments="")
    np.savetxt(tmp_path / "one.tsv", np.column_stack([x, 3 * x]), delimiter="\t", header="x\ty",
               comments="")
    assert cli.main(["batch", str(tmp_path / "one.*"), "--max-size", "3", "--no-progress"]) == 0
    assert "one.csv -> " in capsys.readouterr().err
    runs = [load(tmp_path / name).best.formula for name in ("one.csv.json", "one.tsv.json")]
    assert runs == ["2 * x", "3 * x"] and not (tmp_path / "one.json").exists()


def test_batch_fails_a_run_it_cannot_write(tmp_path, capsys):
    samples_csv(tmp_path / "data.csv")
    (tmp_path / "data.json").mkdir()
    summary = tmp_path / "s.csv"
    status = cli.main(["batch", str(tmp_path), "--max-size", "3", "--no-progress", "--summary",
                       str(summary)])
    out = capsys.readouterr().out
    assert status == cli.EXIT_NOTHING
    assert f"error: {tmp_path / 'data.json'}: cannot write: Is a directory" in out
    assert "0 of 1 file gave a formula" in out and "cannot write" in summary.read_text()


def test_batch_lists_a_file_stopped_by_ctrl_c_as_interrupted(tmp_path):
    samples_csv(tmp_path / "a.csv", rows=200, noise=0.3)
    samples_csv(tmp_path / "b.csv", rows=200, noise=0.3)
    child = subprocess.Popen([sys.executable, "-m", "vok_math", "batch", ".", "--max-size", "30",
                              "--time-limit", "60"], cwd=tmp_path, env=ENV,
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    assert child.stdout.readline().startswith(b"Searching 2 of 2 files")
    time.sleep(1.0)
    child.send_signal(signal.SIGINT)
    stdout, stderr = child.communicate(timeout=20)
    lines = stdout.decode().splitlines()
    assert child.returncode == 130 and b"Traceback" not in stderr
    assert re.match(r"a\.csv .* P = .*\(interrupted: the front found until then\)$", lines[1])
    assert lines[2].endswith("error: not finished (interrupted)")
    assert lines[-1] == "0 of 2 files gave a formula, 1 interrupted"
    assert load(tmp_path / "a.json").stopped == "interrupted"


def test_predict_reads_the_headerless_training_file_and_passes_other_columns_through(
        tmp_path, capsys):
    (tmp_path / "train.csv").write_text("1,1\n2,4\n3,9\n4,16\n")
    assert cli.main(["discover", str(tmp_path / "train.csv"), "--max-size", "3", "--no-progress",
                     "--json", str(tmp_path / "run.json")]) == 0
    capsys.readouterr()
    assert cli.main(["predict", str(tmp_path / "run.json"), str(tmp_path / "train.csv")]) == 0
    assert capsys.readouterr().out.splitlines()[:2] == ["x,y,predicted", "1.0,1.0,1.0"]
    (tmp_path / "new.csv").write_text("label,x\nfirst,2\n,3\n")
    assert cli.main(["predict", str(tmp_path / "run.json"), str(tmp_path / "new.csv")]) == 0
    assert capsys.readouterr().out == "label,x,predicted\nfirst,2.0,4.0\n,3.0,9.0\n"


@pytest.mark.parametrize("text, reason", [
    pytest.param('{"format": "vok_math.discovery", "version": 1, "names": ' + "[" * 100_000
                 + "]" * 100_000 + "}", "nested too deeply", id="deep"),
    pytest.param(b"\xff\xfe", "not UTF-8 text", id="bytes"),
    pytest.param('{"format": "vok_math.discovery", "version": 1, "names": ["x"], "n_samples": '
                 + "9" * 400 + "}", "field 'n_samples' has a bad value 9999", id="long-int"),
])
@pytest.mark.parametrize("command", ["show", "predict"])
def test_hostile_runs_are_one_line_without_a_traceback(tmp_path, capsys, text, reason, command):
    run = tmp_path / "run.json"
    run.write_bytes(text if isinstance(text, bytes) else text.encode())
    (tmp_path / "new.csv").write_text("x\n1\n")
    argv = [command, str(run)] + ([str(tmp_path / "new.csv")] if command == "predict" else [])
    assert cli.main(argv) == cli.EXIT_USAGE
    err = capsys.readouterr().err
    assert err.startswith(f"{run}: ") and reason in err and err.count("\n") == 1
