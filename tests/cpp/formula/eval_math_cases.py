#!/usr/bin/env python3
"""Writes eval_math_cases.inc: formulas of the rounding, elementary, unit
conversion and random-integer built-ins with expected values computed here,
in Python floats and Python's math module, rather than by our code.

The rounding rules are plain double arithmetic in a fixed order (scale by a
power of ten made by repeated squaring, round, scale back); this script
computes them on its own. RANDBETWEEN draws from SplitMix64, written out
again below. Run from any directory: python3 eval_math_cases.py [output].
The pytest test_eval_math_cases.py checks that the committed file is what
this script writes.
"""
import math
import random
import struct
import sys
from pathlib import Path

SEED = 20261211
INF = float("inf")
NAN = float("nan")
NUM, DIV0, NA, VALUE = "#NUM!", "#DIV/0!", "#N/A", "#VALUE!"
JUST_BELOW_HALF = 0.49999999999999994
assert JUST_BELOW_HALF == 0.5 - 2.0 ** -54


def hex_double(x):
    return x.hex() if x != 0 or struct.pack(">d", x)[0] == 0 else "-0x0.0p+0"


def lit(x):
    """A formula literal that reads back as exactly x."""
    text = repr(float(x))
    if text.endswith(".0"):
        text = text[:-2]
    return text


# ---- C-like float operations: Python raises or drops the sign of zero
# where C gives infinities, NaN and -0.

def fdiv(a, b):
    if b != 0:
        return a / b
    if a != a or a == 0:
        return NAN
    return math.copysign(INF, a) * math.copysign(1.0, b)


def integral(op, v):
    """C trunc/floor/ceil: keeps infinities, NaN and the sign of zero."""
    if not math.isfinite(v):
        return v
    r = float(op(v))
    return math.copysign(0.0, v) if r == 0 else r


def trunc(v):
    return integral(math.trunc, v)


def floor(v):
    return integral(math.floor, v)


def ceil(v):
    return integral(math.ceil, v)


def result(x):
    return x if math.isfinite(x) else NUM


# ---- Rounding

def power_of_ten(n):
    e = abs(n)
    base = 10.0
    r = base if e & 1 else 1.0
    while e > 1:
        e >>= 1
        base *= base
        if e & 1:
            r *= base
    return fdiv(1.0, r) if n < 0 else r


def digits_count(d):
    # Truncated, saturated to 64 bits, then the low 32 bits as signed.
    n = max(-2 ** 63, min(2 ** 63 - 1, math.trunc(d)))
    n &= 0xFFFFFFFF
    return n - 2 ** 32 if n >= 2 ** 31 else n


def half_away(q):
    return trunc(q + math.copysign(JUST_BELOW_HALF, q))


def round_with(direction, x, digits):
    scale = power_of_ten(digits_count(digits))
    y = x * scale
    if direction == "ROUND":
        r = half_away(y)
    elif direction == "ROUNDUP":
        r = floor(y) if y < 0 else ceil(y)
    else:
        r = trunc(y)
    return result(fdiv(r, scale))


def mround(number, multiple):
    if multiple == 0:
        return 0.0
    if number != 0 and (number < 0) != (multiple < 0):
        return NUM
    return result(half_away(fdiv(number, multiple)) * multiple)


def to_significance(op, number, significance):
    if significance == 0:
        return 0.0
    if significance < 0 and number > 0:
        return NUM
    return result(op(fdiv(number, significance)) * significance)


def mod(number, divisor):
    if divisor == 0:
        return DIV0
    return result(number - floor(fdiv(number, divisor)) * divisor)


def quotient(numerator, denominator):
    if denominator == 0:
        return DIV0
    return result(trunc(fdiv(numerator, denominator)))


def sample_number(rng):
    kind = rng.random()
    if kind < 0.5:
        # Few decimals: the ties and near-ties of decimal rounding.
        return round(rng.uniform(-1000, 1000), rng.randint(1, 4))
    if kind < 0.7:
        return float(rng.randint(-50, 50)) + rng.choice([0.5, -0.5, 0.25, 0.005, 0.015])
    if kind < 0.9:
        return rng.uniform(-1e6, 1e6)
    return rng.choice([1e300, -1e300, 5e-324, 1e-300, 123456789012345.67, 0.0,
                       JUST_BELOW_HALF, -JUST_BELOW_HALF, 2.5 - 2 ** -51])


def rounding_cases(rng):
    rows = []
    for _ in range(250):
        x = sample_number(rng)
        digits = rng.choice([rng.randint(-4, 6), rng.randint(-4, 6),
                             rng.choice([22, 23, 308, 309, 400, -308, -400, 2.9, -1.9,
                                         4294967296, 4294967298, 2147483648, -2147483649,
                                         1e300, -1e300])])
        for name in ("ROUND", "ROUNDUP", "ROUNDDOWN", "TRUNC"):
            direction = "ROUNDDOWN" if name == "TRUNC" else name
            rows.append(("%s(%s,%s)" % (name, lit(x), lit(digits)),
                         round_with(direction, x, digits)))
    for _ in range(150):
        x = sample_number(rng)
        m = rng.choice([rng.randint(-5, 5), round(rng.uniform(-3, 3), 2), 0.2, -0.2, 0.0,
                        rng.uniform(-10, 10)])
        rows.append(("MROUND(%s,%s)" % (lit(x), lit(m)), mround(x, m)))
        rows.append(("CEILING(%s,%s)" % (lit(x), lit(m)), to_significance(ceil, x, m)))
        rows.append(("FLOOR(%s,%s)" % (lit(x), lit(m)), to_significance(floor, x, m)))
        rows.append(("MOD(%s,%s)" % (lit(x), lit(m)), mod(x, m)))
        rows.append(("QUOTIENT(%s,%s)" % (lit(x), lit(m)), quotient(x, m)))
        rows.append(("INT(%s)" % lit(x), floor(x)))
        rows.append(("SIGN(%s)" % lit(x), 1.0 if x > 0 else -1.0 if x < 0 else 0.0))
        rows.append(("ABS(%s)" % lit(x), abs(x)))
    return rows


# ---- Elementary functions

def guarded(f, *args):
    try:
        return result(f(*args))
    except (ValueError, OverflowError, ZeroDivisionError):
        return NUM


def log_base(x, base):
    if base == 1 or base <= 0 or x <= 0:
        return NUM
    return result(math.log(x) / math.log(base))


def atan2(x, y):
    if x == 0 and y == 0:
        return DIV0
    return result(math.atan2(y, x))


UNARY = {
    "SQRT": math.sqrt, "EXP": math.exp, "LN": math.log, "LOG10": math.log10,
    "SIN": math.sin, "COS": math.cos, "TAN": math.tan, "ASIN": math.asin,
    "ACOS": math.acos, "ATAN": math.atan, "SINH": math.sinh, "COSH": math.cosh,
    "TANH": math.tanh, "DEGREES": lambda x: x * (180 / math.pi),
    "RADIANS": lambda x: x * (math.pi / 180),
}


def elementary_cases(rng):
    assert 180 / math.pi == 57.29577951308232 and math.pi / 180 == 0.017453292519943295
    rows = []
    specials = [0.0, -0.0, 1.0, -1.0, 0.5, -0.5, 2.0, 709.0, 710.0, -745.0, 1000.0, -1000.0,
                1e-300, 1e300, 1.5707963267948966, 3.141592653589793, 1e22]
    for name, f in UNARY.items():
        for x in specials + [rng.uniform(-10, 10) for _ in range(12)] + [rng.uniform(-1, 1)
                                                                         for _ in range(4)]:
            rows.append(("%s(%s)" % (name, lit(x)), guarded(f, x)))
    bases = [0.0, -8.0, 2.0, 10.0, 0.5, 1.0, -2.0, 1e-300, 1e300, 1.0000001]
    exponents = [0.0, -1.0, 1 / 3, 0.5, 2.0, 3.0, -0.5, 1024.0, -1074.0, 1e10, -1e10]
    for base in bases + [rng.uniform(0, 100) for _ in range(5)]:
        for exponent in exponents + [rng.uniform(-5, 5) for _ in range(2)]:
            rows.append(("POWER(%s,%s)" % (lit(base), lit(exponent)),
                         guarded(math.pow, base, exponent)))
    for x in [0.0, -1.0, 1.0, 8.0, 100.0, 1000.0, 1e300, 5e-324] + [rng.uniform(0, 1e4)
                                                                       for _ in range(8)]:
        rows.append(("LOG(%s)" % lit(x), log_base(x, 10.0)))
        for base in [2.0, 10.0, 1.0, 0.0, -2.0, 0.5, math.e, rng.uniform(0, 20)]:
            rows.append(("LOG(%s,%s)" % (lit(x), lit(base)), log_base(x, base)))
    for _ in range(40):
        x, y = rng.choice([0.0, -0.0, 1.0, -1.0, rng.uniform(-5, 5)]), rng.uniform(-5, 5)
        if rng.random() < 0.2:
            y = rng.choice([0.0, -0.0])
        rows.append(("ATAN2(%s,%s)" % (lit(x), lit(y)), atan2(x, y)))
    return rows


# ---- Unit conversion

DISTANCE, MASS, TIME, VOLUME, TEMPERATURE = range(5)
UNITS = {
    "m": (DISTANCE, 1.0), "mi": (DISTANCE, 1609.344), "in": (DISTANCE, 0.0254),
    "ft": (DISTANCE, 0.3048), "yd": (DISTANCE, 0.9144), "Nmi": (DISTANCE, 1852.0),
    "ang": (DISTANCE, 1e-10), "Pica": (DISTANCE, 0.0254 / 72), "pica": (DISTANCE, 0.0254 / 72),
    "g": (MASS, 1.0), "u": (MASS, 1.660538782e-24), "sg": (MASS, 14593.903),
    "lbm": (MASS, 453.59237), "ozm": (MASS, 28.349523125),
    "s": (TIME, 1.0), "sec": (TIME, 1.0), "mn": (TIME, 60.0), "min": (TIME, 60.0),
    "hr": (TIME, 3600.0), "d": (TIME, 86400.0), "day": (TIME, 86400.0),
    "yr": (TIME, 365.25 * 86400),
    "L": (VOLUME, 1.0), "l": (VOLUME, 1.0), "lt": (VOLUME, 1.0),
    "tsp": (VOLUME, 0.00492892159375), "tbs": (VOLUME, 0.01478676478125),
    "oz": (VOLUME, 0.0295735295625), "cup": (VOLUME, 0.2365882365),
    "pt": (VOLUME, 0.473176473), "us_pt": (VOLUME, 0.473176473),
    "qt": (VOLUME, 0.946352946), "gal": (VOLUME, 3.785411784),
    "C": (TEMPERATURE, 1.0), "cel": (TEMPERATURE, 1.0), "F": (TEMPERATURE, 1.0),
    "fah": (TEMPERATURE, 1.0), "K": (TEMPERATURE, 1.0), "kel": (TEMPERATURE, 1.0),
}
PREFIXES = {"Y": 1e24, "Z": 1e21, "E": 1e18, "P": 1e15, "T": 1e12, "G": 1e9, "M": 1e6,
            "k": 1e3, "h": 1e2, "e": 1e1, "d": 1e-1, "c": 1e-2, "m": 1e-3, "u": 1e-6,
            "n": 1e-9, "p": 1e-12, "f": 1e-15, "a": 1e-18, "z": 1e-21, "y": 1e-24}


def lookup_unit(text):
    if text in UNITS:
        return UNITS[text]
    if text and text[0] in PREFIXES and text[1:] in UNITS:
        category, factor = UNITS[text[1:]]
        if category != TEMPERATURE:
            return category, factor * PREFIXES[text[0]]
    return None


def to_celsius(name, x):
    if name in ("C", "cel"):
        return x
    if name in ("F", "fah"):
        return (x - 32) * 5 / 9
    return x - 273.15


def from_celsius(name, c):
    if name in ("C", "cel"):
        return c
    if name in ("F", "fah"):
        return c * 9 / 5 + 32
    return c + 273.15


def convert(x, source, target):
    a, b = lookup_unit(source), lookup_unit(target)
    if a is None or b is None or a[0] != b[0]:
        return NA
    if a[0] == TEMPERATURE:
        return result(from_celsius(target, to_celsius(source, x)))
    return result(fdiv(x * a[1], b[1]))


def convert_cases(rng):
    rows = []
    names = list(UNITS)
    for source in names:
        for target in names:
            if UNITS[source][0] != UNITS[target][0] and rng.random() > 0.05:
                continue
            x = rng.choice([1.0, -40.0, 100.0, round(rng.uniform(-500, 500), 3)])
            rows.append(('CONVERT(%s,"%s","%s")' % (lit(x), source, target),
                         convert(x, source, target)))
    prefixed = [p + u for p in PREFIXES for u in ("m", "g", "s", "L", "mi", "in", "sec")]
    prefixed += ["mK", "kC", "dF", "xm", "Q", "", "M", "km2", "us", "dm", "mm", "kmi",
                 "min", "mn", "Ym", "ym", "c", "f", "k", "LBM"]
    for source in prefixed:
        target = rng.choice(prefixed + names)
        x = rng.choice([1.0, 2.5, 1e300, round(rng.uniform(-100, 100), 2)])
        rows.append(('CONVERT(%s,"%s","%s")' % (lit(x), source, target),
                     convert(x, source, target)))
        rows.append(('CONVERT(%s,"%s","%s")' % (lit(x), target, source),
                     convert(x, target, source)))
    return rows


# ---- Random integers

MASK = 2 ** 64 - 1


def splitmix_draws(seed):
    state = seed
    while True:
        state = (state + 0x9E3779B97F4A7C15) & MASK
        z = state
        z = ((z ^ (z >> 30)) * 0xBF58476D1CE4E5B9) & MASK
        z = ((z ^ (z >> 27)) * 0x94D049BB133111EB) & MASK
        z ^= z >> 31
        yield (z >> 11) * 2.0 ** -53


def randbetween(bottom, top, draws):
    if bottom > top:
        return NUM
    lo, hi = ceil(bottom), floor(top)
    if lo > hi:
        return lo
    span = hi - lo
    r = min(floor((span + 1) * next(draws)), span)
    return result(lo + r)


def random_cases(rng):
    """(seed, bottom, top, results of three calls in one formula)."""
    rows = []
    seeds = [0, 0x2545F4914F6CDD1D, MASK] + [rng.getrandbits(64) for _ in range(40)]
    bounds = [(1, 100), (1, 100), (-3.5, 2.5), (5, 5), (1.2, 1.8), (0, 1), (-1e15, 1e15),
              (0, 2 ** 53), (-1e308, 1e308), (3, 1)]
    for seed in seeds:
        bottom, top = rng.choice(bounds)
        if rng.random() < 0.4:
            bottom = round(rng.uniform(-1000, 1000), rng.randint(0, 2))
            top = bottom + round(rng.uniform(0, 1000), rng.randint(0, 2))
        draws = splitmix_draws(seed)
        rows.append((seed, float(bottom), float(top),
                     [randbetween(float(bottom), float(top), draws) for _ in range(3)]))
    return rows


# ---- Output

def c_value(v):
    if isinstance(v, str):
        return "0.0, \"%s\"" % v
    return "%s, \"\"" % hex_double(v)


def render():
    rng = random.Random(SEED)
    parts = ["// Generated by eval_math_cases.py from Python floats and its math module;",
             "// do not edit. Included by eval_math_test.cpp only.", ""]
    for name, rows in [("kRoundingCases", rounding_cases(rng)),
                       ("kElementaryCases", elementary_cases(rng)),
                       ("kConvertCases", convert_cases(rng))]:
        parts.append("static const MathCase %s[] = {" % name)
        for formula, value in rows:
            parts.append("  {\"%s\", %s}," % (formula.replace('"', '\\"'), c_value(value)))
        parts.append("};")
        parts.append("")
    parts.append("static const RandomCase kRandomCases[] = {")
    for seed, bottom, top, values in random_cases(rng):
        parts.append("  {0x%016XULL, \"RANDBETWEEN(%s,%s)\", {%s}}," % (
            seed, lit(bottom), lit(top), ", ".join("{%s}" % c_value(v) for v in values)))
    parts.append("};")
    parts.append("")
    return "\n".join(parts)


if __name__ == "__main__":
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).with_suffix(".inc")
    out.write_text(render(), encoding="utf-8")
