#!/usr/bin/env python3
"""Writes arrays_matrix_cases.inc: MMULT, LINEST and TREND formulas with
expected values computed here with exact rational arithmetic (fractions),
solving the normal equations by Gauss-Jordan elimination: a different
method from the engine's Householder reflections, so agreement within
rounding checks both. Run from any directory:
python3 arrays_matrix_cases.py [output]
"""
import math
import random
import sys
from fractions import Fraction
from pathlib import Path

SEED = 20261211
NA, NUM = "#N/A", "#NUM!"


def array_literal(rows):
    return "{" + ";".join(",".join(str(v) for v in row) for row in rows) + "}"


def column(values):
    return [[v] for v in values]


def matmul(a, b):
    return [[sum(Fraction(a[i][k]) * b[k][j] for k in range(len(b))) for j in range(len(b[0]))]
            for i in range(len(a))]


def inverse(m):
    n = len(m)
    aug = [[Fraction(x) for x in row] + [Fraction(int(i == j)) for j in range(n)]
           for i, row in enumerate(m)]
    for c in range(n):
        pivot = next(r for r in range(c, n) if aug[r][c] != 0)
        aug[c], aug[pivot] = aug[pivot], aug[c]
        p = aug[c][c]
        aug[c] = [x / p for x in aug[c]]
        for r in range(n):
            if r != c and aug[r][c] != 0:
                factor = aug[r][c]
                aug[r] = [x - factor * y for x, y in zip(aug[r], aug[c])]
    return [row[n:] for row in aug]


def ols(y, variables, constant):
    """Coefficients (variable order), intercept and the statistics."""
    n, f = len(y), len(variables)
    x = [[Fraction(v[i]) for v in variables] + ([Fraction(1)] if constant else [])
         for i in range(n)]
    d = len(x[0])
    xt = [list(col) for col in zip(*x)]
    inv = inverse(matmul(xt, x))
    beta = [row[0] for row in matmul(inv, matmul(xt, column(y)))]
    fitted = [sum(b * xi for b, xi in zip(beta, row)) for row in x]
    mean = Fraction(sum(y), n) if constant else Fraction(0)
    total = sum((Fraction(yi) - mean) ** 2 for yi in y)
    residual = sum((Fraction(yi) - fi) ** 2 for yi, fi in zip(y, fitted))
    df = n - d
    sigma2 = residual / df
    se = [math.sqrt(float(sigma2 * inv[j][j])) for j in range(d)]
    return {
        "coef": [float(b) for b in beta[:f]],
        "se": se[:f],
        "intercept": float(beta[f]) if constant else 0.0,
        "intercept_se": se[f] if constant else None,
        "r2": float(1 - residual / total) if total else 1.0,
        "se_y": math.sqrt(float(sigma2)),
        "F": float((total - residual) / f / sigma2) if residual else None,
        "df": float(df),
        "ss_reg": float(total - residual),
        "ss_resid": float(residual),
        "beta": beta,
    }


def linest_block(fit, f, constant, stats):
    rows = [list(reversed(fit["coef"])) + [fit["intercept"]]]
    if stats:
        rows.append(list(reversed(fit["se"])) + [fit["intercept_se"] if constant else NA])
        pad = [NA] * (f - 1)
        rows.append([fit["r2"], fit["se_y"]] + pad)
        rows.append([fit["F"] if fit["F"] is not None else NUM, fit["df"]] + pad)
        rows.append([fit["ss_reg"], fit["ss_resid"]] + pad)
    return rows


def predict(fit, point, f):
    beta = fit["beta"]
    value = sum(beta[j] * point[j] for j in range(f))
    if len(beta) > f:
        value += beta[f]
    return float(value)


def entry(v):
    if isinstance(v, str):
        return '"' + v + '"'
    return '"' + float(v).hex() + '"'


def case(formula, rows):
    cells = ", ".join(entry(v) for row in rows for v in row)
    escaped = formula.replace('"', '\\"')
    return f'  {{"{escaped}", {len(rows)}, {len(rows[0])}, {{{cells}}}}},'


def render():
    rng = random.Random(SEED)
    lines = []
    # MMULT of integer matrices: exact.
    for r1, c1, c2 in [(3, 4, 2), (1, 5, 1), (4, 1, 3), (2, 2, 2)]:
        a = [[rng.randint(-9, 9) for _ in range(c1)] for _ in range(r1)]
        b = [[rng.randint(-9, 9) for _ in range(c2)] for _ in range(c1)]
        lines.append(case(f"MMULT({array_literal(a)},{array_literal(b)})",
                          [[float(x) for x in row] for row in matmul(a, b)]))
    # LINEST: one variable, two variables in columns, no constant, rows.
    n = 7
    x1 = [rng.randint(-20, 20) for _ in range(n)]
    y = [3 * v + rng.randint(-5, 5) for v in x1]
    fit = ols(y, [x1], True)
    lines.append(case(f"LINEST({array_literal(column(y))},{array_literal(column(x1))},TRUE,TRUE)",
                      linest_block(fit, 1, True, True)))
    lines.append(case(f"LINEST({array_literal(column(y))},{array_literal(column(x1))})",
                      linest_block(fit, 1, True, False)))
    n = 9
    xa = [rng.randint(-20, 20) for _ in range(n)]
    xb = [rng.randint(0, 30) for _ in range(n)]
    y2 = [2 * a - b + rng.randint(-6, 6) for a, b in zip(xa, xb)]
    xs = [[a, b] for a, b in zip(xa, xb)]
    fit2 = ols(y2, [xa, xb], True)
    lines.append(case(f"LINEST({array_literal(column(y2))},{array_literal(xs)},TRUE,TRUE)",
                      linest_block(fit2, 2, True, True)))
    fit3 = ols(y2, [xa, xb], False)
    lines.append(case(f"LINEST({array_literal(column(y2))},{array_literal(xs)},,TRUE)",
                      linest_block(fit3, 2, False, True)))
    lines.append(case(f"LINEST({array_literal([y2])},{array_literal([xa, xb])},TRUE,TRUE)",
                      linest_block(fit2, 2, True, True)))
    # TREND: new points for two variables, and the fitted values of one.
    new = [[rng.randint(-10, 10), rng.randint(0, 30)] for _ in range(3)]
    lines.append(case(f"TREND({array_literal(column(y2))},{array_literal(xs)},{array_literal(new)})",
                      [[predict(fit2, p, 2)] for p in new]))
    lines.append(case(f"TREND({array_literal(column(y))},{array_literal(column(x1))})",
                      [[predict(fit, [v], 1)] for v in x1]))
    new1 = [[rng.randint(-30, 30) for _ in range(2)] for _ in range(2)]
    lines.append(case(f"TREND({array_literal(column(y))},{array_literal(column(x1))},{array_literal(new1)})",
                      [[predict(fit, [v], 1) for v in row] for row in new1]))
    return "\n".join(["// Generated by arrays_matrix_cases.py with exact rational arithmetic; do not",
           "// edit. Included by arrays_matrix_test.cpp only.", "",
                      "static const MatrixCase kMatrixCases[] = {"] + lines + ["};", ""])


def main():
    target = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).with_name(
        "arrays_matrix_cases.inc")
    target.write_text(render())


if __name__ == "__main__":
    main()
