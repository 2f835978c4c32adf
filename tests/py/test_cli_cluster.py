"""``vok-math batch`` and ``--scheduler``: the same runs here and on a cluster."""

import csv

import numpy as np
import pytest

from conftest import SANITIZED

distributed = pytest.importorskip("distributed")
cli = pytest.importorskip("vok_math.cli")
pytestmark = pytest.mark.skipif(SANITIZED, reason="a cluster under the sanitizer is too slow")

from vok_math import load  # noqa: E402

SEARCH = ["--max-size", "6", "--no-progress"]


@pytest.fixture(scope="module")
def scheduler():
    with distributed.LocalCluster(n_workers=1, threads_per_worker=2, processes=False,
                                  protocol="tcp", host="127.0.0.1",
                                  dashboard_address=":0") as cluster:
        yield cluster.scheduler_address


@pytest.fixture
def folder(tmp_path):
    x = np.linspace(0.5, 3.0, 30)
    rng = np.random.default_rng(1)
    files = {"exact.csv": (["t", "v"], [x, 3 * x * x]),
             "noisy.csv": (["m", "w", "E"], [x, x[::-1], x * np.exp(-x[::-1]) + 0.01 * rng.normal(size=30)]),
             "bad.csv": (["t", "v"], [x[:2], [1.0, float("nan")]])}
    for name, (header, columns) in files.items():
        with open(tmp_path / name, "w", newline="") as f:
            csv.writer(f).writerows([header, *np.column_stack(columns).tolist()])
    return tmp_path


def batch(folder, out, *extra):
    out.mkdir()
    status = cli.main(["batch", str(folder), "-o", str(out), "--summary", str(out / "s.csv"),
                       *SEARCH, *extra])
    with open(out / "s.csv", newline="") as f:
        return status, list(csv.DictReader(f))


def test_batch_writes_a_run_per_file_and_the_same_runs_on_a_scheduler(folder, scheduler, capsys):
    status, rows = batch(folder, folder / "here")
    remote_status, remote_rows = batch(folder, folder / "there", "--scheduler", scheduler)
    assert status == remote_status == cli.EXIT_NOTHING  # bad.csv gave nothing
    assert [r["file"] for r in rows] == [str(folder / n) for n in ("bad.csv", "exact.csv",
                                                                   "noisy.csv")]
    assert "column v" in rows[0]["error"] and rows[0]["json"] == ""
    assert rows[1]["formula"] == "3 * t**2"
    for name in ("exact.json", "noisy.json"):
        here, there = load(folder / "here" / name), load(folder / "there" / name)
        assert here.equations == there.equations
    for r, s in zip(rows, remote_rows, strict=True):
        assert {k: v for k, v in r.items() if k != "json"} == \
            {k: v for k, v in s.items() if k != "json"}
    assert "2 of 3 files gave a formula" in capsys.readouterr().out


def test_discover_on_a_scheduler_prints_the_local_front(folder, scheduler, capsys):
    fronts = []
    for extra in ([], ["--scheduler", scheduler]):
        assert cli.main(["discover", str(folder / "noisy.csv"), *SEARCH, *extra]) == 0
        fronts.append(capsys.readouterr().out.split("\n", 2)[2])
    assert fronts[0] == fronts[1]


@pytest.mark.parametrize("argv, message", [
    (["batch", "{folder}/*.txt"], "no file matches"),
    (["discover", "{folder}/exact.csv", "--scheduler", "tcp://127.0.0.1:1"], "cannot connect"),
])
def test_usage_errors_are_one_line(folder, capsys, monkeypatch, argv, message):
    from vok_math.cli import scheduler as cli_cluster

    monkeypatch.setattr(cli_cluster, "CONNECT_TIMEOUT", 1)
    assert cli.main([a.format(folder=folder) for a in argv]) == cli.EXIT_USAGE
    err = capsys.readouterr().err
    assert message in err and err.count("\n") == 1
