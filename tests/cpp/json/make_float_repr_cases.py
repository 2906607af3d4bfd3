"""Writes the float cases of float_repr_test.cpp: 100,000 doubles, each with
Python's repr and the compact JSON text expected for it, laid out here from
repr's digits independently of the C++ writer.

Line format: <16 hex digits of the IEEE bits> <repr> <expected text>
Usage: make_float_repr_cases.py OUTPUT
"""
import random
import struct
import sys

COUNT = 100_000


def json_text(x: float) -> str:
    if x == 0.0:
        return "-0.0" if struct.pack(">d", x)[0] & 0x80 else "0.0"
    r = repr(x)
    sign = ""
    if r.startswith("-"):
        sign, r = "-", r[1:]
    mantissa, _, exp = r.partition("e")
    exp = int(exp) if exp else 0
    int_part, _, frac = mantissa.partition(".")
    all_digits = int_part + frac
    leading = len(all_digits) - len(all_digits.lstrip("0"))
    digits = all_digits.lstrip("0").rstrip("0")
    e = exp + len(int_part) - 1 - leading  # exponent of the first digit
    n = len(digits)
    if -5 <= e <= 15:
        if e < 0:
            body = "0." + "0" * (-e - 1) + digits
        elif n > e + 1:
            body = digits[: e + 1] + "." + digits[e + 1 :]
        else:
            body = digits + "0" * (e + 1 - n) + ".0"
    else:
        body = digits[0] + ("." + digits[1:] if n > 1 else "") + "e" + ("-" if e < 0 else "+") + str(abs(e))
    return sign + body


def samples(rng: random.Random):
    while True:
        kind = rng.randrange(4)
        if kind == 0:  # any finite bit pattern: every exponent, subnormals
            x = struct.unpack(">d", struct.pack(">Q", rng.getrandbits(64)))[0]
            if x != x or x in (float("inf"), float("-inf")):
                continue
        elif kind == 1:  # around the fixed/scientific boundaries
            x = rng.random() * 10.0 ** rng.randint(-8, 18)
        elif kind == 2:  # short decimals, as typed into cells
            x = round(rng.uniform(-1e6, 1e6), rng.randint(0, 6))
        else:  # integers held as floats, up to and past 2^53
            x = float(rng.randint(-(2**60), 2**60) >> rng.randint(0, 60))
        yield x


def main() -> None:
    rng = random.Random(20261210)
    with open(sys.argv[1], "w", encoding="ascii") as out:
        for i, x in zip(range(COUNT), samples(rng)):
            bits = struct.unpack(">Q", struct.pack(">d", x))[0]
            out.write(f"{bits:016x} {x!r} {json_text(x)}\n")


if __name__ == "__main__":
    main()
