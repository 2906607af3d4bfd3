#!/usr/bin/env python3
"""Writes eval_stats_cases.inc: a sheet of random data and the expected
values of the spread, shape, order, paired and normal-distribution
statistics over it, computed here with Python's statistics, fractions and
math modules rather than by our code.

Where a statistic has an exact value the script takes it from rational
arithmetic (fractions), so ill-conditioned data (1e9 plus small steps) is
checked against the true answer, not against another rounding of it.

Run from any directory: python3 eval_stats_cases.py [output]. The pytest
test_eval_stats_cases.py checks that the committed file is what this script
writes.
"""
import math
import random
import statistics
import struct
import sys
from fractions import Fraction
from pathlib import Path

SEED = 20261211
NUM, DIV0, NA, VALUE = "#NUM!", "#DIV/0!", "#N/A", "#VALUE!"
EXACT = 0.0  # tolerance meaning "bit for bit, sign of zero included"
CLOSE = 1e-12


def make_sheet(rng):
    """Columns, each a list of cells ('n', x) | ('t', s) | ('b', v) | None:
    A  40 numbers with ties, some texts and blanks
    B  30 values 1e9 + k/8 (exact in binary, ill-conditioned for one-pass sums)
    C  25 numbers with many ties and signed zeros
    D  y values paired with A (2A + noise), texts here and there
    E  paired with B: 1e9 + a linear function of B's steps plus noise
    F  positive numbers for the means of ratios
    G  numbers, logical values and texts for STDEVA
    H  12 numbers, one tie, for the short-list sort"""
    sheet = {}
    a = []
    for i in range(40):
        r = rng.random()
        if r < 0.1:
            a.append(("t", rng.choice(["x", "12", "TRUE"])))
        elif r < 0.15:
            a.append(None)
        elif r < 0.35:
            a.append(("n", float(rng.randint(-3, 3))))  # ties
        else:
            a.append(("n", round(rng.uniform(-50, 80), 3)))
    sheet["A"] = a
    sheet["B"] = [("n", 1e9 + rng.randint(-40, 40) / 8) for _ in range(30)]
    c = []
    for _ in range(25):
        r = rng.random()
        if r < 0.3:
            c.append(("n", rng.choice([0.0, -0.0])))
        else:
            c.append(("n", float(rng.randint(-4, 4))))
    sheet["C"] = c
    d = []
    for v in a:
        if rng.random() < 0.12:
            d.append(("t", "n/a"))
        elif v is not None and v[0] == "n":
            d.append(("n", round(2 * v[1] + rng.uniform(-5, 5), 3)))
        else:
            d.append(("n", round(rng.uniform(-10, 10), 3)))
    sheet["D"] = d
    sheet["E"] = [("n", 1e9 + (3 * (v[1] - 1e9) + rng.randint(-8, 8) / 4))
                  for v in sheet["B"]]
    sheet["F"] = [("n", round(rng.uniform(0.1, 100), 2)) for _ in range(20)]
    g = []
    for _ in range(15):
        r = rng.random()
        if r < 0.2:
            g.append(("b", rng.random() < 0.5))
        elif r < 0.35:
            g.append(("t", rng.choice(["x", "7"])))
        else:
            g.append(("n", float(rng.randint(0, 20))))
    sheet["G"] = g
    h = [("n", float(rng.randint(-9, 9))) for _ in range(11)] + [("n", -0.0)]
    h[5] = h[2]
    sheet["H"] = h
    return sheet


def numbers(col):
    return [v[1] for v in col if v is not None and v[0] == "n"]


def numbers_a(col):
    """Numbers, TRUE 1 and FALSE 0, texts 0; blanks skipped."""
    out = []
    for v in col:
        if v is None:
            continue
        out.append(float(v[1]) if v[0] in ("n", "b") else 0.0)
    return out


def ref(sheet, col):
    return "%s1:%s%d" % (col, col, len(sheet[col]))


def signbit(x):
    return struct.pack(">d", x)[0] >= 0x80


def sorted_numbers(xs):
    """Ascending; up to 20 numbers with -0 before 0, longer lists stably."""
    if len(xs) <= 20:
        return sorted(xs, key=lambda x: (x, not signbit(x)))
    return sorted(xs)


def exact_moments(xs):
    """Mean, Σd², Σd³, Σd⁴ of the deviations d, all as fractions."""
    fs = [Fraction(x) for x in xs]
    m = sum(fs) / len(fs)
    ds = [f - m for f in fs]
    return m, sum(d * d for d in ds), sum(d ** 3 for d in ds), sum(d ** 4 for d in ds)


def skew(xs):
    n = len(xs)
    _, ss, m3, _ = exact_moments(xs)
    v = ss / (n - 1)
    return n / ((n - 1) * (n - 2)) * float(m3 / v) / math.sqrt(float(v))


def kurt(xs):
    n = len(xs)
    _, ss, _, m4 = exact_moments(xs)
    v = ss / (n - 1)
    return float(Fraction(n * (n + 1), (n - 1) * (n - 2) * (n - 3)) * m4 / (v * v)
                 - Fraction(3 * (n - 1) ** 2, (n - 2) * (n - 3)))


def avedev(xs):
    m = sum(Fraction(x) for x in xs) / len(xs)
    return float(sum(abs(Fraction(x) - m) for x in xs) / len(xs))


def percentile(xs, k):
    """k × (n − 1) interpolated, through statistics.quantiles where k is a
    hundredth; the arithmetic differs from ours by an ulp at most."""
    if k == 0:
        return min(xs)
    if k == 1:
        return max(xs)
    i = round(k * 100)
    assert abs(i - k * 100) < 1e-9
    return statistics.quantiles(xs, n=100, method="inclusive")[i - 1]


def pairs(sheet, xcol, ycol):
    out = []
    for u, v in zip(sheet[xcol], sheet[ycol]):
        if u is not None and v is not None and u[0] == "n" and v[0] == "n":
            out.append((u[1], v[1]))
    return [p[0] for p in out], [p[1] for p in out]


def exact_cov(xs, ys, ddof):
    fx = [Fraction(x) for x in xs]
    fy = [Fraction(y) for y in ys]
    mx, my = sum(fx) / len(fx), sum(fy) / len(fy)
    return float(sum((a - mx) * (b - my) for a, b in zip(fx, fy)) / (len(fx) - ddof))


def trimmean(xs, p):
    s = sorted(xs)
    g = math.floor((p * len(s)) * 0.5)
    return statistics.fmean(s[g:len(s) - g])


def rank(xs, x, ascending):
    if x not in xs:
        return NA
    return float(1 + sum((v < x) if ascending else (v > x) for v in xs))


def normal_cdf(x, mean, sd):
    # The argument is formed as ours is, so that only the error functions
    # differ: in the far tail an ulp of argument moves erfc by 1e-13.
    z = (x - mean) / sd
    return 0.5 * math.erfc(z * -0.7071067811865476)


def cases(sheet):
    out = []  # (formula, want, tolerance)
    ill = 1e-9  # for the 1e9-based columns: still far below a one-pass error
    for col, tol in (("A", CLOSE), ("B", ill), ("C", CLOSE), ("F", CLOSE), ("H", CLOSE)):
        xs = numbers(sheet[col])
        r = ref(sheet, col)
        out.append(("VAR.S(%s)" % r, statistics.variance(xs), tol))
        out.append(("VAR(%s)" % r, statistics.variance(xs), tol))
        out.append(("VAR.P(%s)" % r, statistics.pvariance(xs), tol))
        out.append(("VARP(%s)" % r, statistics.pvariance(xs), tol))
        out.append(("STDEV.S(%s)" % r, statistics.stdev(xs), tol))
        out.append(("STDEV(%s)" % r, statistics.stdev(xs), tol))
        out.append(("STDEV.P(%s)" % r, statistics.pstdev(xs), tol))
        out.append(("STDEVP(%s)" % r, statistics.pstdev(xs), tol))
        out.append(("DEVSQ(%s)" % r, float(exact_moments(xs)[1]), tol))
        out.append(("AVEDEV(%s)" % r, avedev(xs), tol))
        # The mean's own rounding (an ulp of 1e9) moves the third and fourth
        # powers of small deviations by up to 1e-7 of a small skewness.
        shape_tol = 1e-6 if col == "B" else 1e-12
        out.append(("SKEW(%s)" % r, skew(xs), shape_tol))
        out.append(("KURT(%s)" % r, kurt(xs), shape_tol))
        out.append(("MEDIAN(%s)" % r, statistics.median(sorted_numbers(xs)), EXACT))
        srt = sorted_numbers(xs)
        for k in (1, 2, len(xs) // 2, len(xs)):
            out.append(("LARGE(%s,%d)" % (r, k), srt[-k], EXACT))
            out.append(("SMALL(%s,%d)" % (r, k), srt[k - 1], EXACT))
        for k in (0, 0.1, 0.25, 0.37, 0.5, 0.9, 1):
            out.append(("PERCENTILE.INC(%s,%s)" % (r, k), percentile(xs, k), CLOSE))
        for q in range(5):
            out.append(("QUARTILE(%s,%d.6)" % (r, q), percentile(xs, q / 4), CLOSE))
        modes = statistics.multimode(xs)
        has_mode = max(xs.count(m) for m in modes) >= 2
        out.append(("MODE.SNGL(%s)" % r, modes[0] if has_mode else NA, EXACT))
        for p in (0, 0.1, 0.25, 0.5, 0.99):
            out.append(("TRIMMEAN(%s,%s)" % (r, p), trimmean(xs, p), tol))
        for x in (xs[0], xs[len(xs) // 2], max(xs), min(xs), 1234.5):
            out.append(("RANK.EQ(%r,%s)" % (x, r), rank(xs, x, False), EXACT))
            out.append(("RANK(%r,%s,1)" % (x, r), rank(xs, x, True), EXACT))
    f = numbers(sheet["F"])
    out.append(("GEOMEAN(%s)" % ref(sheet, "F"), statistics.geometric_mean(f), CLOSE))
    out.append(("HARMEAN(%s)" % ref(sheet, "F"), statistics.harmonic_mean(f), CLOSE))
    out.append(("GEOMEAN(%s)" % ref(sheet, "A"), NUM, EXACT))  # holds values ≤ 0
    out.append(("HARMEAN(%s)" % ref(sheet, "C"), NUM, EXACT))
    g = numbers_a(sheet["G"])
    out.append(("STDEVA(%s)" % ref(sheet, "G"), statistics.stdev(g), CLOSE))
    out.append(("STDEV.S(%s)" % ref(sheet, "G"), statistics.stdev(numbers(sheet["G"])), CLOSE))
    for xcol, ycol, tol in (("A", "D", CLOSE), ("B", "E", 1e-9), ("D", "A", CLOSE)):
        xs, ys = pairs(sheet, xcol, ycol)
        rx, ry = ref(sheet, xcol), ref(sheet, ycol)
        slope, intercept = statistics.linear_regression(ys, xs)  # x from the second argument
        out.append(("CORREL(%s,%s)" % (rx, ry), statistics.correlation(xs, ys), tol))
        out.append(("COVARIANCE.S(%s,%s)" % (rx, ry), exact_cov(xs, ys, 1), tol))
        out.append(("COVARIANCE.P(%s,%s)" % (rx, ry), exact_cov(xs, ys, 0), tol))
        out.append(("COVAR(%s,%s)" % (rx, ry), exact_cov(xs, ys, 0), tol))
        out.append(("SLOPE(%s,%s)" % (rx, ry), slope, tol))
        out.append(("INTERCEPT(%s,%s)" % (rx, ry), intercept, tol))
    # The normal distribution across the three ranges of its error function.
    for x, mean, sd in ((0, 0, 1), (1.96, 0, 1), (-1.96, 0, 1), (0.3, 0, 1), (-0.5, 0, 1),
                        (2.5, 1, 0.5), (-3, 0, 1), (7, 1, 1.5), (-12, 0, 2), (30, 0, 1.25),
                        (105.5, 100, 3), (-8.25, 0, 1), (36, 0, 1), (-36, 0, 1)):
        out.append(("NORM.DIST(%r,%r,%r,TRUE)" % (x, mean, sd), normal_cdf(x, mean, sd), 2e-15))
        out.append(("NORMDIST(%r,%r,%r,FALSE)" % (x, mean, sd),
                    statistics.NormalDist(mean, sd).pdf(x), 1e-13))
    return out


def erfc_cases(rng):
    ts = [0.0, 0.1, -0.2, 0.46875, -0.46875, 0.4688, 0.5, -0.7, 1.0, 2.5, -3.9, 4.0, 4.0001,
          -4.5, 6.0, 10.0, -15.0, 20.0, 26.0, 26.5]
    ts += [rng.uniform(-6, 6) for _ in range(30)]
    return [(t, math.erfc(t)) for t in ts]


def hex_double(x):
    return x.hex() if x != 0 or not signbit(x) else "-0x0.0p+0"


def c_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def render():
    rng = random.Random(SEED)
    sheet = make_sheet(rng)
    lines = ["// Generated by eval_stats_cases.py from Python's statistics, fractions and",
             "// math modules; do not edit. Included by eval_stats_test.cpp.",
             "", "static const StatsCell kStatsCells[] = {"]
    for col, values in sheet.items():
        for i, v in enumerate(values):
            if v is None:
                continue
            cell = c_string("%s%d" % (col, i + 1))
            if v[0] == "n":
                lines.append("  {%s, 'n', %s, nullptr}," % (cell, hex_double(float(v[1]))))
            elif v[0] == "b":
                lines.append("  {%s, 'b', %s, nullptr}," % (cell, "1.0" if v[1] else "0.0"))
            else:
                lines.append("  {%s, 't', 0.0, %s}," % (cell, c_string(v[1])))
    lines += ["};", "", "static const StatsFormula kStatsFormulas[] = {"]
    for formula, want, tol in cases(sheet):
        if isinstance(want, str):
            lines.append("  {%s, 0.0, %r, %s}," % (c_string(formula), tol, c_string(want)))
        else:
            lines.append("  {%s, %s, %r, nullptr}," % (c_string(formula), hex_double(float(want)),
                                                      tol))
    lines += ["};", "", "static const ErfcCase kErfcCases[] = {"]
    for t, want in erfc_cases(rng):
        lines.append("  {%s, %s}," % (hex_double(t), hex_double(want)))
    lines.append("};")
    return "\n".join(lines) + "\n"


def main():
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).with_name(
        "eval_stats_cases.inc")
    out.write_text(render())


if __name__ == "__main__":
    main()
