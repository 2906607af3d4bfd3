#!/usr/bin/env python3
"""Writes eval_peer_cases.inc: expected values for the formula value rules,
taken from Python's float(), repr() and datetime rather than from our code.

Run from any directory: python3 eval_peer_cases.py [output]. The pytest
test_eval_peer_cases.py checks that the committed file is what this script
writes.
"""
import datetime
import decimal
import random
import struct
import sys
from pathlib import Path

SEED = 20240229
EPOCH = datetime.date(1899, 12, 30)  # serial 61 onward counts from here
MONTHS = ["January", "February", "March", "April", "May", "June", "July",
          "August", "September", "October", "November", "December"]


def c_string(text):
    out = []
    for ch in text:
        if ch in '"\\':
            out.append("\\" + ch)
        elif 32 <= ord(ch) < 127:
            out.append(ch)
        else:
            out.append("".join("\\x%02x\"\"" % b for b in ch.encode("utf-8")))
    return '"' + "".join(out) + '"'


def hex_double(x):
    return x.hex() if x != 0 or struct.pack(">d", x)[0] == 0 else "-0x0.0p+0"


def serial_of(date):
    return (date - EPOCH).days


def number_text_cases(rng):
    texts = ["0", "-0", "1", "+1", ".5", "5.", "12.5", "1e3", "1E-3", "-2.5e+10",
             "1e308", "1.7976931348623157e308", "1.7976931348623159e308", "1e-400",
             "4.9e-324", "2.4e-324", "2.2250738585072014e-308", "0.1", "0.30000000000000004",
             "123456789012345678901234567890", "9007199254740993", "  7  ", "\t42\n",
             "1,000", "$5", "1e", "e5", ".", "+-1", "1 000", "0x10", "inf", "nan"]
    for _ in range(300):
        digits = "".join(rng.choice("0123456789") for _ in range(rng.randint(1, 25)))
        point = rng.randint(0, len(digits))
        mantissa = digits[:point] + "." + digits[point:] if rng.random() < 0.7 else digits
        text = mantissa
        if rng.random() < 0.5:
            text += "e" + str(rng.randint(-330, 310))
        if rng.random() < 0.3:
            text = "-" + text
        texts.append(text)
    rows = []
    for text in texts:
        try:
            value = float(text)
            ok = value not in (float("inf"), float("-inf")) and value == value
        except ValueError:
            ok = False
        # float() accepts forms a cell text does not: thousands separators
        # with "_", and words; those are left out of the table.
        if "_" in text:
            continue
        if text.strip().lower() in ("inf", "nan", "infinity"):
            ok = False
        rows.append("  {%s, %s, %s}," % (c_string(text), hex_double(value) if ok else "0.0",
                                          "true" if ok else "false"))
    return rows


def number_to_text_cases(rng):
    values = [0.0, -0.0, 1.0, -2.5, 0.1, 1 / 3, 0.1 + 0.2, 1e15, 1e15 - 1, 1.5e-10, 1e20,
              123456789012345678.0, 5e-324, 1.7976931348623157e308, 2.0 ** 53, -(2.0 ** 60),
              999999999999999.0, 999999999999999.5]
    for _ in range(300):
        bits = rng.getrandbits(64)
        x = struct.unpack(">d", bits.to_bytes(8, "big"))[0]
        if x != x or x in (float("inf"), float("-inf")):
            continue
        values.append(x)
    for _ in range(100):
        values.append(rng.uniform(-1e6, 1e6))
        values.append(float(rng.randint(-10 ** 16, 10 ** 16)))
    rows = []
    for x in values:
        if x == 0:
            text = "0"
        elif abs(x) < 1e15 and x == int(x):
            text = str(int(x))
        else:
            text = format(decimal.Decimal(repr(x)).normalize(), "f")
        rows.append("  {%s, %s}," % (hex_double(x), c_string(text)))
    return rows


def date_text_cases(rng):
    rows = []
    start = datetime.date(1900, 3, 1).toordinal()
    end = datetime.date(9999, 12, 31).toordinal()
    picks = [datetime.date(2024, 2, 29), datetime.date(1900, 3, 1), datetime.date(9999, 12, 31)]
    picks += [datetime.date.fromordinal(rng.randint(start, end)) for _ in range(150)]
    for d in picks:
        serial = serial_of(d)
        forms = [
            "%d-%02d-%02d" % (d.year, d.month, d.day),
            "%d/%d/%d" % (d.month, d.day, d.year),
            "%d-%s-%d" % (d.day, MONTHS[d.month - 1][:3], d.year),
            "%s %d, %d" % (MONTHS[d.month - 1], d.day, d.year),
            "%d %s %d" % (d.day, MONTHS[d.month - 1].upper(), d.year),
            "%d-%02d-%02d 10:30" % (d.year, d.month, d.day),
        ]
        for text in forms:
            rows.append("  {%s, %d, true}," % (c_string(text), serial))
    # Day-of-month overflows, which datetime refuses too.
    for _ in range(60):
        year = rng.randint(1901, 9999)
        month = rng.randint(1, 12)
        day = rng.randint(28, 31)
        try:
            serial = serial_of(datetime.date(year, month, day))
            ok = True
        except ValueError:
            serial, ok = 0, False
        rows.append("  {%s, %d, %s}," % (c_string("%d-%d-%d" % (year, month, day)), serial,
                                         "true" if ok else "false"))
    return rows


def civil_cases(rng):
    rows = []
    for _ in range(400):
        d = datetime.date.fromordinal(rng.randint(datetime.date(1900, 3, 1).toordinal(),
                                                  datetime.date(9999, 12, 31).toordinal()))
        rows.append("  {%d, %d, %d, %d}," % (serial_of(d), d.year, d.month, d.day))
    return rows


def time_text_cases(rng):
    rows = []
    for _ in range(100):
        h, m, s = rng.randint(0, 23), rng.randint(0, 59), rng.randint(0, 59)
        t = datetime.time(h, m, s)
        expected = (h * 3600 + m * 60 + s) / 86400
        rows.append("  {%s, %s}," % (c_string(t.strftime("%H:%M:%S")), hex_double(expected)))
        h12 = t.strftime("%I:%M %p")
        expected12 = (h * 3600 + m * 60) / 86400
        rows.append("  {%s, %s}," % (c_string(h12), hex_double(expected12)))
    return rows


def render():
    rng = random.Random(SEED)
    parts = ["// Generated by eval_peer_cases.py from Python's float(), repr() and",
             "// datetime; do not edit. Included by eval_peer_test.cpp only.", ""]
    for name, struct_name, rows in [
        ("kPeerNumberTexts", "PeerNumberText", number_text_cases(rng)),
        ("kPeerNumberToText", "PeerNumberToText", number_to_text_cases(rng)),
        ("kPeerDateTexts", "PeerDateText", date_text_cases(rng)),
        ("kPeerCivil", "PeerCivil", civil_cases(rng)),
        ("kPeerTimeTexts", "PeerTimeText", time_text_cases(rng)),
    ]:
        parts.append("static const %s %s[] = {" % (struct_name, name))
        parts.extend(rows)
        parts.append("};")
        parts.append("")
    return "\n".join(parts)


if __name__ == "__main__":
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).with_suffix(".inc")
    out.write_text(render(), encoding="utf-8")
