"""The laws of the recovery benchmark (bench/recovery_bench.py).

Each law gives its variables with the range they are drawn from (uniformly), the truth as a
sympy expression, and a witness: a postfix program in the engine's operators (neg, inv, exp, ln,
sqrt, sin, cos, add, sub, mul, div, vok; the constant 1 and the variables) that equals the truth
up to ``a * f + b``. The witness's token count is the law's size; the benchmark checks every
witness against its truth before it runs, so a size is never claimed that no program reaches.
Sizes are the smallest found by hand; the few above 9 are upper bounds. Controls have no witness:
no finite expression in these operators equals them.

Physical constants stay in the truths (9.81, 8.314, 1/(4 pi eps0), ...): linear scaling must
absorb them, constants inside a law would not be absorbed.
"""

from __future__ import annotations

from dataclasses import dataclass


@dataclass(frozen=True)
class Law:
    """One known law: y = truth(variables) on the given ranges."""

    name: str
    group: str
    """"classic", "feynman" or "control"."""
    ranges: tuple[tuple[str, float, float], ...]
    """(variable, low, high) per variable, in column order."""
    truth: str
    """The law as a sympy expression over the variable names."""
    witness: str | None
    """Postfix program (space-separated tokens) equal to the truth up to a * f + b."""
    note: str = ""

    @property
    def variables(self) -> tuple[str, ...]:
        return tuple(r[0] for r in self.ranges)

    @property
    def size(self) -> int | None:
        """Tokens of the witness; None for a control."""
        return None if self.witness is None else len(self.witness.split())


def _r(*triples: tuple[str, float, float]) -> tuple[tuple[str, float, float], ...]:
    return tuple(triples)


_X11 = _r(("x", -1.0, 1.0))
_XY11 = _r(("x", -1.0, 1.0), ("y", -1.0, 1.0))

LAWS: tuple[Law, ...] = (
    # --- classic benchmark functions ---
    Law("nguyen1", "classic", _X11, "x**3 + x**2 + x", "x x x 1 add mul 1 add mul"),
    Law("nguyen2", "classic", _X11, "x**4 + x**3 + x**2 + x",
        "x x x x 1 add mul 1 add mul 1 add mul"),
    Law("nguyen5", "classic", _X11, "sin(x**2)*cos(x) - 1", "x x mul sin x cos mul"),
    Law("nguyen6", "classic", _X11, "sin(x) + sin(x + x**2)", "x sin x x x mul add sin add"),
    Law("nguyen7", "classic", _r(("x", 0.0, 2.0)), "log(x + 1) + log(x**2 + 1)",
        "x 1 add x x mul 1 add mul ln"),
    Law("nguyen8", "classic", _r(("x", 0.0, 4.0)), "sqrt(x)", "x sqrt"),
    Law("nguyen9", "classic", _XY11, "sin(x) + sin(y**2)", "x sin y y mul sin add"),
    Law("nguyen10", "classic", _XY11, "2*sin(x)*cos(y)", "x sin y cos mul"),
    Law("nguyen11", "classic", _r(("x", 0.1, 1.0), ("y", 0.0, 1.0)), "x**y", "x ln y mul exp",
        note="x from 0.1: ln(0) has no value"),
    Law("nguyen12", "classic", _XY11, "x**4 - x**3 + y**2/2 - y",
        "x x x mul mul x 1 sub mul y 1 sub y 1 sub mul 1 1 add div add"),
    Law("rational", "classic", _r(("x", -2.0, 2.0)), "1/(1 + x**2)", "x x mul 1 add inv"),
    Law("gauss", "classic", _r(("x", -2.0, 2.0)), "exp(-x**2)", "x x mul neg exp"),
    Law("logistic", "classic", _r(("x", -4.0, 4.0)), "1/(1 + exp(-x))", "x neg exp 1 add inv"),
    Law("tanh", "classic", _r(("x", -2.0, 2.0)), "tanh(x)", "x x add exp 1 add inv"),
    Law("sinh", "classic", _r(("x", -2.0, 2.0)), "sinh(x)", "x exp x neg exp sub"),
    Law("x_exp", "classic", _r(("x", 0.0, 5.0)), "x*exp(-x)", "x x exp div"),
    Law("x_ln_x", "classic", _r(("x", 0.1, 3.0)), "x*log(x)", "x x ln mul"),
    Law("x_pow_x", "classic", _r(("x", 0.2, 2.5)), "x**x", "x x ln mul exp"),
    Law("gauss2d", "classic", _r(("x", -1.5, 1.5), ("y", -1.5, 1.5)), "exp(-(x**2 + y**2))",
        "x x mul y y mul add neg exp"),
    Law("radius", "classic", _r(("x", -3.0, 3.0), ("y", -3.0, 3.0)), "sqrt(x**2 + y**2)",
        "x x mul y y mul add sqrt"),
    # --- physics laws on their usual ranges ---
    Law("freefall", "feynman", _r(("t", 0.0, 5.0)), "9.81*t", "t", note="v = g t"),
    Law("kinetic", "feynman", _r(("m", 1.0, 5.0), ("v", 1.0, 5.0)), "m*v**2/2", "m v v mul mul",
        note="E = m v^2 / 2"),
    Law("coulomb", "feynman", _r(("q1", 1.0, 5.0), ("q2", 1.0, 5.0), ("r", 1.0, 5.0)),
        "q1*q2/(4*pi*8.8541878128e-12*r**2)", "q1 q2 mul r r mul div",
        note="F = q1 q2 / (4 pi eps0 r^2)"),
    Law("joule", "feynman", _r(("V", 1.0, 5.0), ("R", 1.0, 5.0)), "V**2/R", "V V mul R div",
        note="P = V^2 / R"),
    Law("pendulum", "feynman", _r(("L", 0.1, 2.0), ("g", 1.0, 20.0)), "2*pi*sqrt(L/g)",
        "L g div sqrt", note="T = 2 pi sqrt(L / g)"),
    Law("ideal_gas", "feynman", _r(("n", 1.0, 5.0), ("T", 200.0, 400.0), ("V", 1.0, 5.0)),
        "8.314*n*T/V", "n T mul V div", note="P = n R T / V"),
    Law("potential", "feynman", _r(("m", 1.0, 5.0), ("h", 0.0, 10.0)), "9.81*m*h", "m h mul",
        note="U = m g h"),
    Law("rel_mass", "feynman", _r(("m", 1.0, 5.0), ("v", 0.0, 0.9)), "m/sqrt(1 - v**2)",
        "m 1 v v mul sub sqrt div", note="m0 / sqrt(1 - v^2/c^2), v in units of c"),
    Law("malus", "feynman", _r(("I", 1.0, 5.0), ("theta", 0.0, 3.0)), "I*cos(theta)**2",
        "I theta cos theta cos mul mul", note="I0 cos^2(theta)"),
    Law("snell", "feynman", _r(("i", 0.1, 1.5), ("r", 0.1, 1.5)), "sin(i)/sin(r)",
        "i sin r sin div", note="n = sin(i) / sin(r)"),
    Law("lens", "feynman", _r(("d1", 1.0, 5.0), ("d2", 1.0, 5.0)), "1/(1/d1 + 1/d2)",
        "d1 inv d2 inv add inv", note="f = 1 / (1/d1 + 1/d2)"),
    Law("doppler", "feynman", _r(("f", 1.0, 5.0), ("v", 0.0, 0.9)), "f/(1 - v)", "f 1 v sub div",
        note="f0 / (1 - v/c), v in units of c"),
    Law("normal_pdf", "feynman", _r(("theta", -3.0, 3.0)), "exp(-theta**2/2)/sqrt(2*pi)",
        "theta theta mul neg exp sqrt", note="Feynman I.6.2a"),
    Law("decay", "feynman", _r(("N", 1.0, 5.0), ("lam", 0.1, 1.0), ("t", 0.0, 5.0)),
        "N*exp(-lam*t)", "N lam t mul neg exp mul", note="N0 exp(-lambda t)"),
    Law("boltzmann", "feynman", _r(("E", 0.1, 2.0), ("T", 0.5, 3.0)), "exp(-E/T)",
        "E T div neg exp", note="exp(-E / kT), k = 1"),
    Law("cyclotron", "feynman", _r(("q", 1.0, 5.0), ("v", 1.0, 5.0), ("B", 1.0, 5.0),
                                  ("p", 1.0, 5.0)), "q*v*B/p", "q v mul B mul p div",
        note="Feynman I.34.8: omega = q v B / p"),
    Law("heat_flow", "feynman", _r(("kappa", 1.0, 5.0), ("T2", 1.0, 5.0), ("T1", 1.0, 5.0),
                                  ("A", 1.0, 5.0), ("d", 1.0, 5.0)), "kappa*(T2 - T1)*A/d",
        "kappa T2 T1 sub mul A mul d div", note="P = kappa (T2 - T1) A / d"),
    Law("bose", "feynman", _r(("x", 0.5, 5.0)), "1/(exp(x) - 1)", "x exp 1 sub inv",
        note="occupation 1 / (exp(E/kT) - 1)"),
    Law("planck", "feynman", _r(("x", 0.1, 8.0)), "x**3/(exp(x) - 1)",
        "x x x mul mul x exp 1 sub div", note="Planck's law in x = h nu / kT"),
    Law("larmor", "feynman", _r(("q", 1.0, 5.0), ("a", 1.0, 5.0)),
        "q**2*a**2/(6*pi*8.8541878128e-12*299792458**3)", "q a mul q a mul mul",
        note="P = q^2 a^2 / (6 pi eps0 c^3): a scale near 2e-16"),
    Law("center_of_mass", "feynman", _r(("m1", 1.0, 5.0), ("x1", -5.0, 5.0), ("m2", 1.0, 5.0),
                                       ("x2", -5.0, 5.0)), "(m1*x1 + m2*x2)/(m1 + m2)",
        "m1 x1 mul m2 x2 mul add m1 m2 add div"),
    Law("lorentz_x", "feynman", _r(("x", 1.0, 5.0), ("u", 0.0, 0.9), ("t", 0.0, 5.0)),
        "(x - u*t)/sqrt(1 - u**2)", "x u t mul sub 1 u u mul sub sqrt div",
        note="Feynman I.15.3x, c = 1"),
    # --- controls: no finite expression in the operators equals these ---
    Law("bessel_j0", "control", _r(("x", 0.0, 10.0)), "besselj(0, x)", None),
    Law("erf", "control", _r(("x", -2.0, 2.0)), "erf(x)", None),
    Law("gamma", "control", _r(("x", 1.0, 4.0)), "gamma(x)", None),
    Law("arctan", "control", _r(("x", -3.0, 3.0)), "atan(x)", None),
)

# A fast subset for --quick: one or two of each kind, mostly small.
QUICK = ("nguyen5", "nguyen8", "rational", "gauss", "tanh", "freefall", "kinetic", "coulomb",
         "pendulum", "bose", "planck", "heat_flow", "nguyen2", "erf")
