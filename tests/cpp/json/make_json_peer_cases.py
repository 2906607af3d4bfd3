"""Writes the peer cases of json_peer_test.cpp: random JSON texts produced by
Python's json (various layouts, escapes and non-ASCII text) and, for each,
the compact text expected from reading it and writing it back: Python's
json.loads reads it, and the value is laid out here with keys in byte order,
the compact escapes and the float form (floats via make_float_repr_cases).

Line format: <hex of the input text> <hex of the expected compact text>
Usage: make_json_peer_cases.py OUTPUT
"""
import json
import os
import random
import sys

sys.dont_write_bytecode = True  # keep the source tree clean
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from make_float_repr_cases import json_text as float_text  # noqa: E402

COUNT = 2000
U64_MAX = 2**64 - 1
I64_MIN = -(2**63)

SHORT_ESCAPES = {'"': '\\"', "\\": "\\\\", "\b": "\\b", "\t": "\\t", "\n": "\\n", "\f": "\\f", "\r": "\\r"}


def escape(text: str) -> str:
    out = ['"']
    for ch in text:
        if ch in SHORT_ESCAPES:
            out.append(SHORT_ESCAPES[ch])
        elif ord(ch) < 0x20:
            out.append(f"\\u{ord(ch):04x}")
        else:
            out.append(ch)
    out.append('"')
    return "".join(out)


def compact(value) -> str:
    if value is None:
        return "null"
    if value is True:
        return "true"
    if value is False:
        return "false"
    if isinstance(value, int):
        if 0 <= value <= U64_MAX or I64_MIN <= value < 0:
            return str(value)
        return float_text(float(value))
    if isinstance(value, float):
        return float_text(value)
    if isinstance(value, str):
        return escape(value)
    if isinstance(value, list):
        return "[" + ",".join(compact(v) for v in value) + "]"
    # Code-point order of str keys is the byte order of their UTF-8.
    return "{" + ",".join(escape(k) + ":" + compact(value[k]) for k in sorted(value)) + "}"


ALPHABET = ["a", "b", "Z", " ", '"', "\\", "/", "\t", "\n", "\x00", "\x1f", "\x7f", "\u00e9", "\u20ac",
            "\u2028", "\U0001f600", "\U0010ffff", "\ufeff"]


def random_text(rng: random.Random) -> str:
    return "".join(rng.choice(ALPHABET) for _ in range(rng.randrange(6)))


def random_number(rng: random.Random):
    kind = rng.randrange(6)
    if kind == 0:
        return rng.randint(0, U64_MAX)
    if kind == 1:
        return rng.randint(I64_MIN, -1)
    if kind == 2:
        return rng.randint(U64_MAX + 1, 10**25) * rng.choice([1, -1])  # read as floats
    if kind == 3:
        return rng.random() * 10.0 ** rng.randint(-12, 20) * rng.choice([1, -1])
    if kind == 4:
        return round(rng.uniform(-1000, 1000), rng.randint(0, 4))
    return rng.randint(-1000, 1000)


def random_value(rng: random.Random, depth: int):
    kind = rng.randrange(8 if depth < 6 else 5)
    if kind == 0:
        return None
    if kind == 1:
        return rng.random() < 0.5
    if kind == 2:
        return random_number(rng)
    if kind in (3, 4):
        return random_text(rng)
    if kind in (5, 6):
        if rng.random() < 0.5:
            return [random_value(rng, depth + 1) for _ in range(rng.randrange(5))]
    return {random_text(rng): random_value(rng, depth + 1) for _ in range(rng.randrange(5))}


def render(rng: random.Random, value) -> str:
    text = json.dumps(value, ensure_ascii=rng.random() < 0.5, indent=rng.choice([None, None, 0, 2, "\t"]),
                      separators=rng.choice([None, (",", ":"), (" , ", " : ")]))
    if rng.random() < 0.3:
        text = rng.choice([" ", "\n", "\r\n", "\t"]) + text + rng.choice(["", " ", "\n"])
    return text


def main() -> None:
    rng = random.Random(20261211)
    with open(sys.argv[1], "w", encoding="ascii") as out:
        for _ in range(COUNT):
            text = render(rng, random_value(rng, 0))
            # Repeated names: Python's json keeps the last, as the tree does.
            if text.startswith("{") and rng.random() < 0.2:
                text = '{"dup":1,"dup":[2],' + text[1:] if text != "{}" else '{"dup":1,"dup":[2]}'
            expected = compact(json.loads(text))
            out.write(text.encode("utf-8").hex() + " " + expected.encode("utf-8").hex() + "\n")


if __name__ == "__main__":
    main()
