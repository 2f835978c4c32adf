"""The Feynman equations of the Feynman benchmark (bench/feynman_bench.py).

The 100 equations of the Feynman Symbolic Regression Database (Udrescu and Tegmark, 2020),
I.6.2a to III.21.20, the ground truths SRBench scores its Feynman problems against: each with
its number and output as published, the formula in the published (sympy-readable) text, and per
variable, in column order, the range it is drawn from uniformly. Formulas and ranges are as
published with the dataset; only the variable counts that disagreed with the listed variables
(II.37.1, I.18.12, I.18.14, I.38.12, III.10.19, III.19.51) follow the variables.

Units are as published: every physical constant (c, h, kb, epsilon, G, ...) is a variable.
"""

from __future__ import annotations

from dataclasses import dataclass


@dataclass(frozen=True)
class FeynmanLaw:
    """One equation: output = truth(variables) on the given ranges."""

    name: str
    """The published name, such as "I.6.2a" (chapter, section and equation of the lectures)."""
    number: int
    """The published row number."""
    output: str
    truth: str
    """The formula as a sympy expression over the variable names (arcsin is sympy's asin)."""
    ranges: tuple[tuple[str, float, float], ...]
    """(variable, low, high) per variable, in column order."""

    @property
    def variables(self) -> tuple[str, ...]:
        return tuple(r[0] for r in self.ranges)


def _f(name: str, number: int, output: str, truth: str, ranges: str) -> FeynmanLaw:
    """ranges: "name low high, name low high, ..."."""
    triples = []
    for item in ranges.split(","):
        var, low, high = item.split()
        triples.append((var, float(low), float(high)))
    return FeynmanLaw(name, number, output, truth, tuple(triples))


LAWS: tuple[FeynmanLaw, ...] = (
    _f("I.6.2a", 1, "f", "exp(-theta**2/2)/sqrt(2*pi)", "theta 1 3"),
    _f("I.6.2", 2, "f", "exp(-(theta/sigma)**2/2)/(sqrt(2*pi)*sigma)", "sigma 1 3, theta 1 3"),
    _f("I.6.2b", 3, "f", "exp(-((theta-theta1)/sigma)**2/2)/(sqrt(2*pi)*sigma)",
       "sigma 1 3, theta 1 3, theta1 1 3"),
    _f("I.8.14", 4, "d", "sqrt((x2-x1)**2+(y2-y1)**2)", "x1 1 5, x2 1 5, y1 1 5, y2 1 5"),
    _f("I.9.18", 5, "F", "G*m1*m2/((x2-x1)**2+(y2-y1)**2+(z2-z1)**2)",
       "m1 1 2, m2 1 2, G 1 2, x1 3 4, x2 1 2, y1 3 4, y2 1 2, z1 3 4, z2 1 2"),
    _f("I.10.7", 6, "m", "m_0/sqrt(1-v**2/c**2)", "m_0 1 5, v 1 2, c 3 10"),
    _f("I.11.19", 7, "A", "x1*y1+x2*y2+x3*y3", "x1 1 5, x2 1 5, x3 1 5, y1 1 5, y2 1 5, y3 1 5"),
    _f("I.12.1", 8, "F", "mu*Nn", "mu 1 5, Nn 1 5"),
    _f("I.12.2", 10, "F", "q1*q2*r/(4*pi*epsilon*r**3)", "q1 1 5, q2 1 5, epsilon 1 5, r 1 5"),
    _f("I.12.4", 11, "Ef", "q1*r/(4*pi*epsilon*r**3)", "q1 1 5, epsilon 1 5, r 1 5"),
    _f("I.12.5", 12, "F", "q2*Ef", "q2 1 5, Ef 1 5"),
    _f("I.12.11", 13, "F", "q*(Ef+B*v*sin(theta))", "q 1 5, Ef 1 5, B 1 5, v 1 5, theta 1 5"),
    _f("I.13.4", 9, "K", "1/2*m*(v**2+u**2+w**2)", "m 1 5, v 1 5, u 1 5, w 1 5"),
    _f("I.13.12", 14, "U", "G*m1*m2*(1/r2-1/r1)", "m1 1 5, m2 1 5, r1 1 5, r2 1 5, G 1 5"),
    _f("I.14.3", 15, "U", "m*g*z", "m 1 5, g 1 5, z 1 5"),
    _f("I.14.4", 16, "U", "1/2*k_spring*x**2", "k_spring 1 5, x 1 5"),
    _f("I.15.3x", 17, "x1", "(x-u*t)/sqrt(1-u**2/c**2)", "x 5 10, u 1 2, c 3 20, t 1 2"),
    _f("I.15.3t", 18, "t1", "(t-u*x/c**2)/sqrt(1-u**2/c**2)", "x 1 5, c 3 10, u 1 2, t 1 5"),
    _f("I.15.1", 19, "p", "m_0*v/sqrt(1-v**2/c**2)", "m_0 1 5, v 1 2, c 3 10"),
    _f("I.16.6", 20, "v1", "(u+v)/(1+u*v/c**2)", "c 1 5, v 1 5, u 1 5"),
    _f("I.18.4", 21, "r", "(m1*r1+m2*r2)/(m1+m2)", "m1 1 5, m2 1 5, r1 1 5, r2 1 5"),
    _f("I.18.12", 22, "tau", "r*F*sin(theta)", "r 1 5, F 1 5, theta 0 5"),
    _f("I.18.14", 23, "L", "m*r*v*sin(theta)", "m 1 5, r 1 5, v 1 5, theta 1 5"),
    _f("I.24.6", 24, "E_n", "1/2*m*(omega**2+omega_0**2)*1/2*x**2",
       "m 1 3, omega 1 3, omega_0 1 3, x 1 3"),
    _f("I.25.13", 25, "Volt", "q/C", "q 1 5, C 1 5"),
    _f("I.26.2", 26, "theta1", "arcsin(n*sin(theta2))", "n 0 1, theta2 1 5"),
    _f("I.27.6", 27, "foc", "1/(1/d1+n/d2)", "d1 1 5, d2 1 5, n 1 5"),
    _f("I.29.4", 28, "k", "omega/c", "omega 1 10, c 1 10"),
    _f("I.29.16", 29, "x", "sqrt(x1**2+x2**2-2*x1*x2*cos(theta1-theta2))",
       "x1 1 5, x2 1 5, theta1 1 5, theta2 1 5"),
    _f("I.30.3", 30, "Int", "Int_0*sin(n*theta/2)**2/sin(theta/2)**2",
       "Int_0 1 5, theta 1 5, n 1 5"),
    _f("I.30.5", 31, "theta", "arcsin(lambd/(n*d))", "lambd 1 2, d 2 5, n 1 5"),
    _f("I.32.5", 32, "Pwr", "q**2*a**2/(6*pi*epsilon*c**3)", "q 1 5, a 1 5, epsilon 1 5, c 1 5"),
    _f("I.32.17", 33, "Pwr",
       "(1/2*epsilon*c*Ef**2)*(8*pi*r**2/3)*(omega**4/(omega**2-omega_0**2)**2)",
       "epsilon 1 2, c 1 2, Ef 1 2, r 1 2, omega 1 2, omega_0 3 5"),
    _f("I.34.8", 34, "omega", "q*v*B/p", "q 1 5, v 1 5, B 1 5, p 1 5"),
    _f("I.34.1", 35, "omega", "omega_0/(1-v/c)", "c 3 10, v 1 2, omega_0 1 5"),
    _f("I.34.14", 36, "omega", "(1+v/c)/sqrt(1-v**2/c**2)*omega_0", "c 3 10, v 1 2, omega_0 1 5"),
    _f("I.34.27", 37, "E_n", "(h/(2*pi))*omega", "omega 1 5, h 1 5"),
    _f("I.37.4", 38, "Int", "I1+I2+2*sqrt(I1*I2)*cos(delta)", "I1 1 5, I2 1 5, delta 1 5"),
    _f("I.38.12", 39, "r", "4*pi*epsilon*(h/(2*pi))**2/(m*q**2)",
       "m 1 5, q 1 5, h 1 5, epsilon 1 5"),
    _f("I.39.1", 40, "E_n", "3/2*pr*V", "pr 1 5, V 1 5"),
    _f("I.39.11", 41, "E_n", "1/(gamma-1)*pr*V", "gamma 2 5, pr 1 5, V 1 5"),
    _f("I.39.22", 42, "pr", "n*kb*T/V", "n 1 5, T 1 5, V 1 5, kb 1 5"),
    _f("I.40.1", 43, "n", "n_0*exp(-m*g*x/(kb*T))", "n_0 1 5, m 1 5, x 1 5, T 1 5, g 1 5, kb 1 5"),
    _f("I.41.16", 44, "L_rad", "h/(2*pi)*omega**3/(pi**2*c**2*(exp((h/(2*pi))*omega/(kb*T))-1))",
       "omega 1 5, T 1 5, h 1 5, kb 1 5, c 1 5"),
    _f("I.43.16", 45, "v", "mu_drift*q*Volt/d", "mu_drift 1 5, q 1 5, Volt 1 5, d 1 5"),
    _f("I.43.31", 46, "D", "mob*kb*T", "mob 1 5, T 1 5, kb 1 5"),
    _f("I.43.43", 47, "kappa", "1/(gamma-1)*kb*v/A", "gamma 2 5, kb 1 5, A 1 5, v 1 5"),
    _f("I.44.4", 48, "E_n", "n*kb*T*ln(V2/V1)", "n 1 5, kb 1 5, T 1 5, V1 1 5, V2 1 5"),
    _f("I.47.23", 49, "c", "sqrt(gamma*pr/rho)", "gamma 1 5, pr 1 5, rho 1 5"),
    _f("I.48.2", 50, "E_n", "m*c**2/sqrt(1-v**2/c**2)", "m 1 5, v 1 2, c 3 10"),
    _f("I.50.26", 51, "x", "x1*(cos(omega*t)+alpha*cos(omega*t)**2)",
       "x1 1 3, omega 1 3, t 1 3, alpha 1 3"),
    _f("II.2.42", 52, "Pwr", "kappa*(T2-T1)*A/d", "kappa 1 5, T1 1 5, T2 1 5, A 1 5, d 1 5"),
    _f("II.3.24", 53, "flux", "Pwr/(4*pi*r**2)", "Pwr 1 5, r 1 5"),
    _f("II.4.23", 54, "Volt", "q/(4*pi*epsilon*r)", "q 1 5, epsilon 1 5, r 1 5"),
    _f("II.6.11", 55, "Volt", "1/(4*pi*epsilon)*p_d*cos(theta)/r**2",
       "epsilon 1 3, p_d 1 3, theta 1 3, r 1 3"),
    _f("II.6.15a", 56, "Ef", "p_d/(4*pi*epsilon)*3*z/r**5*sqrt(x**2+y**2)",
       "epsilon 1 3, p_d 1 3, r 1 3, x 1 3, y 1 3, z 1 3"),
    _f("II.6.15b", 57, "Ef", "p_d/(4*pi*epsilon)*3*cos(theta)*sin(theta)/r**3",
       "epsilon 1 3, p_d 1 3, theta 1 3, r 1 3"),
    _f("II.8.7", 58, "E_n", "3/5*q**2/(4*pi*epsilon*d)", "q 1 5, epsilon 1 5, d 1 5"),
    _f("II.8.31", 59, "E_den", "epsilon*Ef**2/2", "epsilon 1 5, Ef 1 5"),
    _f("II.10.9", 60, "Ef", "sigma_den/epsilon*1/(1+chi)", "sigma_den 1 5, epsilon 1 5, chi 1 5"),
    _f("II.11.3", 61, "x", "q*Ef/(m*(omega_0**2-omega**2))",
       "q 1 3, Ef 1 3, m 1 3, omega_0 3 5, omega 1 2"),
    _f("II.11.17", 62, "n", "n_0*(1+p_d*Ef*cos(theta)/(kb*T))",
       "n_0 1 3, kb 1 3, T 1 3, theta 1 3, p_d 1 3, Ef 1 3"),
    _f("II.11.20", 63, "Pol", "n_rho*p_d**2*Ef/(3*kb*T)",
       "n_rho 1 5, p_d 1 5, Ef 1 5, kb 1 5, T 1 5"),
    _f("II.11.27", 64, "Pol", "n*alpha/(1-(n*alpha/3))*epsilon*Ef",
       "n 0 1, alpha 0 1, epsilon 1 2, Ef 1 2"),
    _f("II.11.28", 65, "theta", "1+n*alpha/(1-(n*alpha/3))", "n 0 1, alpha 0 1"),
    _f("II.13.17", 66, "B", "1/(4*pi*epsilon*c**2)*2*I/r", "epsilon 1 5, c 1 5, I 1 5, r 1 5"),
    _f("II.13.23", 67, "rho_c", "rho_c_0/sqrt(1-v**2/c**2)", "rho_c_0 1 5, v 1 2, c 3 10"),
    _f("II.13.34", 68, "j", "rho_c_0*v/sqrt(1-v**2/c**2)", "rho_c_0 1 5, v 1 2, c 3 10"),
    _f("II.15.4", 69, "E_n", "-mom*B*cos(theta)", "mom 1 5, B 1 5, theta 1 5"),
    _f("II.15.5", 70, "E_n", "-p_d*Ef*cos(theta)", "p_d 1 5, Ef 1 5, theta 1 5"),
    _f("II.21.32", 71, "Volt", "q/(4*pi*epsilon*r*(1-v/c))",
       "q 1 5, epsilon 1 5, r 1 5, v 1 2, c 3 10"),
    _f("II.24.17", 72, "k", "sqrt(omega**2/c**2-pi**2/d**2)", "omega 4 6, c 1 2, d 2 4"),
    _f("II.27.16", 73, "flux", "epsilon*c*Ef**2", "epsilon 1 5, c 1 5, Ef 1 5"),
    _f("II.27.18", 74, "E_den", "epsilon*Ef**2", "epsilon 1 5, Ef 1 5"),
    _f("II.34.2a", 75, "I", "q*v/(2*pi*r)", "q 1 5, v 1 5, r 1 5"),
    _f("II.34.2", 76, "mom", "q*v*r/2", "q 1 5, v 1 5, r 1 5"),
    _f("II.34.11", 77, "omega", "g_*q*B/(2*m)", "g_ 1 5, q 1 5, B 1 5, m 1 5"),
    _f("II.34.29a", 78, "mom", "q*h/(4*pi*m)", "q 1 5, h 1 5, m 1 5"),
    _f("II.34.29b", 79, "E_n", "g_*mom*B*Jz/(h/(2*pi))", "g_ 1 5, h 1 5, Jz 1 5, mom 1 5, B 1 5"),
    _f("II.35.18", 80, "n", "n_0/(exp(mom*B/(kb*T))+exp(-mom*B/(kb*T)))",
       "n_0 1 3, kb 1 3, T 1 3, mom 1 3, B 1 3"),
    _f("II.35.21", 81, "M", "n_rho*mom*tanh(mom*B/(kb*T))",
       "n_rho 1 5, mom 1 5, B 1 5, kb 1 5, T 1 5"),
    _f("II.36.38", 82, "f", "mom*H/(kb*T)+(mom*alpha)/(epsilon*c**2*kb*T)*M",
       "mom 1 3, H 1 3, kb 1 3, T 1 3, alpha 1 3, epsilon 1 3, c 1 3, M 1 3"),
    _f("II.37.1", 83, "E_n", "mom*(1+chi)*B", "mom 1 5, B 1 5, chi 1 5"),
    _f("II.38.3", 84, "F", "Y*A*x/d", "Y 1 5, A 1 5, d 1 5, x 1 5"),
    _f("II.38.14", 85, "mu_S", "Y/(2*(1+sigma))", "Y 1 5, sigma 1 5"),
    _f("III.4.32", 86, "n", "1/(exp((h/(2*pi))*omega/(kb*T))-1)",
       "h 1 5, omega 1 5, kb 1 5, T 1 5"),
    _f("III.4.33", 87, "E_n", "(h/(2*pi))*omega/(exp((h/(2*pi))*omega/(kb*T))-1)",
       "h 1 5, omega 1 5, kb 1 5, T 1 5"),
    _f("III.7.38", 88, "omega", "2*mom*B/(h/(2*pi))", "mom 1 5, B 1 5, h 1 5"),
    _f("III.8.54", 89, "prob", "sin(E_n*t/(h/(2*pi)))**2", "E_n 1 2, t 1 2, h 1 4"),
    _f("III.9.52", 90, "prob",
       "(p_d*Ef*t/(h/(2*pi)))*sin((omega-omega_0)*t/2)**2/((omega-omega_0)*t/2)**2",
       "p_d 1 3, Ef 1 3, t 1 3, h 1 3, omega 1 5, omega_0 1 5"),
    _f("III.10.19", 91, "E_n", "mom*sqrt(Bx**2+By**2+Bz**2)", "mom 1 5, Bx 1 5, By 1 5, Bz 1 5"),
    _f("III.12.43", 92, "L", "n*(h/(2*pi))", "n 1 5, h 1 5"),
    _f("III.13.18", 93, "v", "2*E_n*d**2*k/(h/(2*pi))", "E_n 1 5, d 1 5, k 1 5, h 1 5"),
    _f("III.14.14", 94, "I", "I_0*(exp(q*Volt/(kb*T))-1)",
       "I_0 1 5, q 1 2, Volt 1 2, kb 1 2, T 1 2"),
    _f("III.15.12", 95, "E_n", "2*U*(1-cos(k*d))", "U 1 5, k 1 5, d 1 5"),
    _f("III.15.14", 96, "m", "(h/(2*pi))**2/(2*E_n*d**2)", "h 1 5, E_n 1 5, d 1 5"),
    _f("III.15.27", 97, "k", "2*pi*alpha/(n*d)", "alpha 1 5, n 1 5, d 1 5"),
    _f("III.17.37", 98, "f", "beta*(1+alpha*cos(theta))", "beta 1 5, alpha 1 5, theta 1 5"),
    _f("III.19.51", 99, "E_n", "-m*q**4/(2*(4*pi*epsilon)**2*(h/(2*pi))**2)*(1/n**2)",
       "m 1 5, q 1 5, h 1 5, n 1 5, epsilon 1 5"),
    _f("III.21.20", 100, "j", "-rho_c_0*q*A_vec/m", "rho_c_0 1 5, q 1 5, A_vec 1 5, m 1 5"),
)

# A development subset for --quick, from a product of two variables to nine variables and an
# operator discover does not have (arcsin).
QUICK = ("I.12.1", "I.14.3", "II.3.24", "I.6.2a", "II.38.14", "I.27.6", "I.10.7", "III.4.32",
         "I.18.4", "II.11.28", "I.26.2", "I.9.18")
