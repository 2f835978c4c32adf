"""The vok-math command line, run as a user runs it: a subprocess, its output and exit status."""
import os
import subprocess
import sys

from pathlib import Path

import pytest

import vok_math
from vok_math.cli import parse_table

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
    import tomllib

    from vok_math import _version

    pyproject = Path(__file__).parents[2] / "pyproject.toml"
    assert tomllib.loads(pyproject.read_text())["project"]["version"] == _version.__version__
    assert vok_math_cli("--version").stdout.decode() == f"vok-math {_version.__version__}\n"
    help_text = vok_math_cli("--help").stdout.decode()
    assert "examples:" in help_text and "vok-math discover data.csv" in help_text
