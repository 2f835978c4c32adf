"""The figures, drawn headless: every file is a non-blank image of the size asked for."""
import re

import numpy as np
import pytest

from conftest import SANITIZED

# Python-level behaviour: the release lane covers it, and each call costs seconds under ASan.
pytestmark = pytest.mark.skipif(SANITIZED, reason="pure Python; covered by the release lane")

pytest.importorskip("matplotlib")
from matplotlib import image  # noqa: E402

from vok_math import discover, plots  # noqa: E402

DPI = 40


@pytest.fixture(scope="module")
def run():
    rng = np.random.default_rng(3)
    X = rng.uniform(1, 5, (30, 2))
    y = X[:, 0] ** 2 / X[:, 1]
    return discover(X, y, names=["V", "R"], max_size=5, progress=False), X, y


FIGURES = {
    "all panels": (lambda d, X, y, p: d.plot(p, X=X, y=y, target="P", figsize=(9, 3), dpi=DPI),
                   (9, 3)),
    "front alone": (lambda d, X, y, p: d.plot(p, dpi=DPI), plots.PANEL),
    "fit": (lambda d, X, y, p: plots.plot_fit(d.equations[1], X, y, p, dpi=DPI), plots.PANEL),
    "residuals": (lambda d, X, y, p: plots.plot_residuals(d.best, X, y, p, figsize=(4, 4),
                                                          dpi=DPI), (4, 4)),
}


@pytest.mark.parametrize("suffix", ["png", "svg"])
@pytest.mark.parametrize("name", FIGURES)
def test_each_figure_is_a_nonblank_image_of_its_size(tmp_path, run, name, suffix):
    draw, (width, height) = FIGURES[name]
    path = tmp_path / f"figure.{suffix}"
    draw(*run, path)
    if suffix == "png":
        pixels = image.imread(path)
        assert pixels.shape[:2] == (height * DPI, width * DPI)
        drawn = (pixels[..., :3] < 0.9).any(axis=-1).mean()
        assert 0.01 < drawn < 0.5
    else:
        svg = path.read_text()
        # SVG sizes are in points, 72 to the inch, whatever the dpi.
        size = re.search(r'<svg [^>]*width="([\d.]+)pt" height="([\d.]+)pt"', svg)
        assert size and (float(size[1]), float(size[2])) == (width * 72, height * 72)
        assert svg.count("<path") > 20


def test_without_a_file_the_figure_comes_from_pyplot(run):
    import matplotlib.pyplot as plt

    fig = run[0].plot()
    assert plt.fignum_exists(fig.number)
    plt.close(fig)


@pytest.mark.parametrize("kwargs, message", [
    ({"path": "figure.jpg"}, "must end in .png or .svg"),
    ({"X": np.ones((3, 2))}, "give both X and y"),
])
def test_bad_figure_arguments(tmp_path, run, kwargs, message):
    kwargs = dict(kwargs, path=tmp_path / kwargs.get("path", "f.png"))
    with pytest.raises(ValueError, match=message):
        run[0].plot(**kwargs)
