#!/usr/bin/env python3
"""Writes eval_aggregate_cases.inc: a random sheet and the expected values of
aggregate formulas over it, computed here with Python's own arithmetic and
statistics module rather than by our code.

Run from any directory: python3 eval_aggregate_cases.py [output]. The pytest
test_eval_aggregate_cases.py checks that the committed file is what this
script writes.
"""
import math
import random
import re
import statistics
import sys
from pathlib import Path

SEED = 20240611
ROWS = 60
REGIONS = ["north", "North", "south", "East", "west", "n/a", ""]


def make_sheet(rng):
    """Columns: A region text, B number, C number or text or blank,
    D number or error. Returns {col: [value per row]}, values as
    ('n', x) | ('t', s) | ('e', code) | None."""
    sheet = {c: [] for c in "ABCD"}
    for _ in range(ROWS):
        region = rng.choice(REGIONS)
        sheet["A"].append(("t", region) if region else None)
        sheet["B"].append(("n", rng.randint(-20, 40) / 4))
        r = rng.random()
        if r < 0.7:
            sheet["C"].append(("n", round(rng.uniform(-100, 100), 3)))
        elif r < 0.85:
            sheet["C"].append(("t", rng.choice(["x", "5", "abc"])))
        else:
            sheet["C"].append(None)
        sheet["D"].append(("e", "#N/A") if rng.random() < 0.1 else ("n", rng.randint(1, 9)))
    return sheet


# --- an independent reading of the criteria, for the forms used below ---

def crit(text):
    m = re.match(r"(<>|>=|<=|<|>|=)?(.*)$", text)
    op, operand = m.group(1) or "=", m.group(2)
    try:
        number = float(operand)
    except ValueError:
        number = None
    return op, number, operand.lower()


def crit_match(c, value):
    op, number, text = c
    if number is not None:
        if value is None or value[0] == "e":
            v = None
        elif value[0] == "n":
            v = value[1]
        else:
            try:
                v = float(value[1])
            except ValueError:
                v = None
        if op in ("=", "<>"):
            eq = v is not None and v == number
            return eq if op == "=" else not eq
        if v is None:
            return False
        return {">": v > number, ">=": v >= number, "<": v < number, "<=": v <= number}[op]
    if op in ("=", "<>"):
        if text == "":
            eq = value is None
        elif any(ch in text for ch in "*?"):
            pattern = "".join(".*" if ch == "*" else "." if ch == "?" else re.escape(ch)
                              for ch in text)
            eq = value is not None and value[0] == "t" and re.fullmatch(pattern, value[1].lower(),
                                                                          re.S) is not None
        else:
            eq = value is not None and value[0] == "t" and value[1].lower() == text
        return eq if op == "=" else not eq
    if value is None or value[0] != "t":
        return False
    a, b = value[1].lower(), text
    return {">": a > b, ">=": a >= b, "<": a < b, "<=": a <= b}[op]


def numbers(col):
    return [v[1] for v in col if v is not None and v[0] == "n"]


def matched(sheet, value_col, pairs):
    out = []
    for i in range(ROWS):
        if all(crit_match(crit(c), sheet[col][i]) for col, c in pairs):
            v = sheet[value_col][i] if value_col else None
            out.append(v)
    return out


def rng_ref(col):
    return "%s1:%s%d" % (col, col, ROWS)


def fsum_in_order(xs):
    s = -0.0
    for x in xs:
        s += x
    return s


def cases(sheet):
    out = []
    conds = [
        [("A", "north")],
        [("A", "<>north")],
        [("A", "n*"), ("B", ">0")],
        [("A", "?ast"), ("B", "<=5")],
        [("A", ""), ("B", ">=-1")],
        [("A", "<>"), ("B", "<2.5"), ("C", ">-50")],
        [("B", ">3"), ("C", "<>x"), ("A", "<m")],
        [("C", "5")],
        [("C", ">abc")],
    ]
    for pairs in conds:
        args = ",".join('%s,"%s"' % (rng_ref(col), c) for col, c in pairs)
        hits = matched(sheet, "B", pairs)
        out.append(("COUNTIFS(%s)" % args, float(len(hits))))
        nums = [v[1] for v in hits if v is not None and v[0] == "n"]
        out.append(("SUMIFS(%s,%s)" % (rng_ref("B"), args), fsum_in_order(nums) + 0.0))
        if nums:
            out.append(("AVERAGEIFS(%s,%s)" % (rng_ref("B"), args), fsum_in_order(nums) / len(nums)))
        out.append(("MAXIFS(%s,%s)" % (rng_ref("B"), args), max(nums) if nums else 0.0))
        out.append(("MINIFS(%s,%s)" % (rng_ref("B"), args), min(nums) if nums else 0.0))
        cvals = matched(sheet, "C", pairs)
        cnums = [v[1] for v in cvals if v is not None and v[0] == "n"]
        out.append(("SUMIFS(%s,%s)" % (rng_ref("C"), args), fsum_in_order(cnums) + 0.0))
        if len(pairs) == 1:
            col, c = pairs[0]
            out.append(('COUNTIF(%s,"%s")' % (rng_ref(col), c), float(len(hits))))
            out.append(('SUMIF(%s,"%s",C1)' % (rng_ref(col), c), fsum_in_order(cnums) + 0.0))
    b = numbers(sheet["B"])
    c = numbers(sheet["C"])
    cc = [v[1] if v is not None and v[0] == "n" else 0.0 for v in sheet["C"]]
    out.append(("SUMPRODUCT(%s,%s)" % (rng_ref("B"), rng_ref("C")),
                fsum_in_order([x * y for x, y in zip([v[1] for v in sheet["B"]], cc)]) + 0.0))
    out.append(("SUMSQ(%s)" % rng_ref("C"), fsum_in_order([x * x for x in c])))
    out.append(("SUM(%s)" % rng_ref("C"), fsum_in_order(c)))
    out.append(("COUNT(%s)" % rng_ref("C"), float(len(c))))
    out.append(("COUNTA(%s)" % rng_ref("C"), float(sum(v is not None for v in sheet["C"]))))
    out.append(("COUNTBLANK(%s)" % rng_ref("C"), float(sum(v is None for v in sheet["C"]))))
    out.append(("AVERAGE(%s)" % rng_ref("C"), fsum_in_order(c) / len(c)))
    out.append(("MAX(%s)" % rng_ref("C"), max(c)))
    out.append(("MIN(%s)" % rng_ref("C"), min(c)))
    texts_as_zero = [v[1] if v[0] == "n" else 0.0 for v in sheet["C"] if v is not None]
    out.append(("AVERAGEA(%s)" % rng_ref("C"), fsum_in_order(texts_as_zero) / len(texts_as_zero)))
    # SUBTOTAL over C, and the same statistics of AGGREGATE.
    stats = {
        1: statistics.fmean(c), 2: float(len(c)), 3: float(sum(v is not None for v in sheet["C"])),
        4: max(c), 5: min(c), 6: math.prod(numbers(sheet["C"][:12])), 7: statistics.stdev(c),
        8: statistics.pstdev(c), 9: fsum_in_order(c), 10: statistics.variance(c),
        11: statistics.pvariance(c),
    }
    for code, want in stats.items():
        ref = "C1:C12" if code == 6 else rng_ref("C")
        out.append(("SUBTOTAL(%d,%s)" % (code, ref), want))
        out.append(("SUBTOTAL(%d,%s)" % (code + 100, ref), want))
        out.append(("AGGREGATE(%d,0,%s)" % (code, ref), want))
    srt = sorted(c)
    q = statistics.quantiles(c, n=4, method="inclusive")
    out.append(("AGGREGATE(12,0,%s)" % rng_ref("C"), statistics.median(c)))
    out.append(("AGGREGATE(14,0,%s,3)" % rng_ref("C"), srt[-3]))
    out.append(("AGGREGATE(15,0,%s,3)" % rng_ref("C"), srt[2]))
    out.append(("AGGREGATE(17,0,%s,1)" % rng_ref("C"), q[0]))
    out.append(("AGGREGATE(17,0,%s,3)" % rng_ref("C"), q[2]))
    out.append(("AGGREGATE(16,0,%s,0.5)" % rng_ref("C"), statistics.median(c)))
    # Column D holds errors: the first pass fails, options 6 retry without them.
    d = numbers(sheet["D"])
    ds = sorted(d)
    dq = statistics.quantiles(d, n=4, method="inclusive")
    second = {
        1: statistics.fmean(d), 2: float(len(d)), 3: float(ROWS),  # COUNTA counts the errors
        4: max(d), 5: min(d),
        6: math.prod(ds[:20]), 7: statistics.stdev(d), 8: statistics.pstdev(d),
        9: fsum_in_order(ds), 10: statistics.variance(d), 11: statistics.pvariance(d),
        12: statistics.median(d), 13: min(statistics.multimode(d)),
    }
    for code, want in second.items():
        ref = "D1:D20" if code == 6 else rng_ref("D")
        if code == 6:
            want = math.prod(sorted(numbers(sheet["D"][:20])))
        out.append(("AGGREGATE(%d,6,%s)" % (code, ref), want))
    out.append(("AGGREGATE(14,6,%s,2)" % rng_ref("D"), ds[-2]))
    out.append(("AGGREGATE(15,6,%s,4)" % rng_ref("D"), ds[3]))
    out.append(("AGGREGATE(16,6,%s,0.25)" % rng_ref("D"), dq[0]))
    out.append(("AGGREGATE(17,6,%s,3)" % rng_ref("D"), dq[2]))
    # Without the retry the error is the answer.
    out.append(("AGGREGATE(9,4,%s)" % rng_ref("D"), "#N/A"))
    out.append(("SUBTOTAL(9,%s)" % rng_ref("D"), "#N/A"))
    # Error cells in the value range of a conditional sum are skipped.
    dsum = fsum_in_order([v[1] for v in sheet["D"] if v[0] == "n"]) + 0.0
    out.append(('SUMIF(%s,">-1000",D1)' % rng_ref("B"), dsum))
    return out


def c_string(text):
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def render():
    rng = random.Random(SEED)
    sheet = make_sheet(rng)
    lines = ["// Generated by eval_aggregate_cases.py from Python's arithmetic and",
             "// statistics module; do not edit. Included by eval_aggregate_test.cpp.",
             "", "static const PeerCell kPeerCells[] = {"]
    for col, values in sheet.items():
        for i, v in enumerate(values):
            if v is None:
                continue
            cell = "%s%d" % (col, i + 1)
            if v[0] == "n":
                lines.append("  {%s, 'n', %s, nullptr}," % (c_string(cell), float(v[1]).hex()))
            elif v[0] == "t":
                lines.append("  {%s, 't', 0.0, %s}," % (c_string(cell), c_string(v[1])))
            else:
                lines.append("  {%s, 'e', 0.0, %s}," % (c_string(cell), c_string(v[1])))
    lines.append("};")
    lines.append("")
    lines.append("static const PeerFormula kPeerFormulas[] = {")
    for formula, want in cases(sheet):
        if isinstance(want, str):
            lines.append("  {%s, 0.0, %s}," % (c_string(formula), c_string(want)))
        else:
            lines.append("  {%s, %s, nullptr}," % (c_string(formula), float(want).hex()))
    lines.append("};")
    return "\n".join(lines) + "\n"


def main():
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).with_name(
        "eval_aggregate_cases.inc")
    out.write_text(render())


if __name__ == "__main__":
    main()
