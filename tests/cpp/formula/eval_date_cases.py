#!/usr/bin/env python3
"""Writes eval_date_cases.inc: formulas of the date, time, working-day and
financial functions with their expected values, taken from Python's
datetime, calendar, decimal and math rather than from our code. Working days
are counted and stepped one day at a time here, year lengths summed year by
year, and each financial closed form is checked against a period-by-period
simulation before it is written.

Run from any directory: python3 eval_date_cases.py [output]. The pytest
test_eval_date_cases.py checks that the committed file is what this script
writes.
"""
import calendar
import datetime
import math
import random
import sys
from decimal import ROUND_HALF_UP, Decimal
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parent))
from eval_peer_cases import c_string  # noqa: E402  (one C string writer for every table)

SEED = 20241211
EPOCH = datetime.date(1899, 12, 30)  # serial 61 onward counts from here
FIRST_REAL = datetime.date(1900, 3, 1)
LAST_SERIAL = 2958465  # 9999-12-31
ONE_DAY = datetime.timedelta(days=1)


def serial_of(date):
    if date >= FIRST_REAL:
        return (date - EPOCH).days
    return (date - datetime.date(1899, 12, 31)).days


def date_of(serial):
    """The real date of a serial from 61 on."""
    assert serial >= 61
    return EPOCH + datetime.timedelta(days=serial)


def normalised(year, month, day):
    year += (month - 1) // 12
    month = (month - 1) % 12 + 1
    return datetime.date(year, month, 1) + datetime.timedelta(days=day - 1)


def row(formula, value):
    if isinstance(value, str):
        return "  {%s, 0.0, %s}," % (c_string(formula), c_string(value))
    return "  {%s, %s, nullptr}," % (c_string(formula), float(value).hex())


def close(a, b, scale=1.0):
    return abs(a - b) <= 1e-9 * max(scale, abs(a), abs(b))


def date_cases(rng):
    rows = []
    for _ in range(80):
        year = rng.choice([rng.randint(1900, 9990), rng.randint(0, 120)])
        month = rng.randint(-40, 40)
        day = rng.randint(-500, 500)
        y = year + 1900 if year < 1900 else year
        if (y, month, day) == (1900, 2, 29):
            continue
        serial = serial_of(normalised(y, month, day))
        rows.append(row("DATE(%d,%d,%d)" % (year, month, day), serial if serial >= 0 else "#NUM!"))
    for _ in range(40):
        serial = rng.randint(61, LAST_SERIAL)
        date = date_of(serial)
        text = "%d.75" % serial
        rows.append(row("YEAR(%s)" % text, date.year))
        rows.append(row("MONTH(%s)" % text, date.month))
        rows.append(row("DAY(%s)" % text, date.day))
    for _ in range(60):
        start = rng.randint(61, 2900000)
        months = rng.randint(-300, 300)
        date = date_of(start)
        target_year, target_month = divmod(date.year * 12 + date.month - 1 + months, 12)
        target_month += 1
        length = calendar.monthrange(target_year, target_month)[1]
        end_of_month = serial_of(datetime.date(target_year, target_month, length))
        same_day = serial_of(datetime.date(target_year, target_month, min(date.day, length)))
        rows.append(row("EDATE(%d,%d)" % (start, months), same_day))
        rows.append(row("EOMONTH(%d,%d)" % (start, months), end_of_month))
    return rows


WEEK_FIRST_DAY = {1: 6, 17: 6, 2: 0, 11: 0, 12: 1, 13: 2, 14: 3, 15: 4, 16: 5}  # Monday 0


def week_cases(rng):
    rows = []
    for _ in range(60):
        serial = rng.randint(61, LAST_SERIAL)
        weekday = date_of(serial).weekday()
        kind = rng.choice([1, 2, 3, 11, 12, 13, 14, 15, 16, 17])
        if kind == 3:
            want = weekday
        else:
            want = (weekday - WEEK_FIRST_DAY[kind]) % 7 + 1
        rows.append(row("WEEKDAY(%d,%d)" % (serial, kind), want))
    for _ in range(60):
        serial = rng.randint(400, LAST_SERIAL)
        date = date_of(serial)
        kind = rng.choice([1, 2, 11, 12, 13, 14, 15, 16, 17, 21])
        if kind == 21:
            want = date.isocalendar()[1]
        else:
            jan1 = datetime.date(date.year, 1, 1)
            week_one = jan1 - datetime.timedelta(days=(jan1.weekday() - WEEK_FIRST_DAY[kind]) % 7)
            want = (date - week_one).days // 7 + 1
        rows.append(row("WEEKNUM(%d,%d)" % (serial, kind), want))
    for _ in range(40):
        serial = rng.randint(400, LAST_SERIAL)
        rows.append(row("ISOWEEKNUM(%d)" % serial, date_of(serial).isocalendar()[1]))
    for year in (2015, 2020, 2021, 2026, 9999):  # years with a week 53 or a week-1 spill
        for day in (1, 2, 3, 4):
            date = datetime.date(year, 1, day)
            rows.append(row("ISOWEEKNUM(%d)" % serial_of(date), date.isocalendar()[1]))
    return rows


def datedif(start, end, unit):
    a, b = date_of(start), date_of(end)
    before = (b.month, b.day) < (a.month, a.day)
    months = (b.year - a.year) * 12 + b.month - a.month - (1 if b.day < a.day else 0)
    if unit == "Y":
        return b.year - a.year - (1 if before else 0)
    if unit == "M":
        return months
    if unit == "D":
        return end - start
    if unit == "YM":
        return months % 12
    if unit == "MD":
        if b.day >= a.day:
            return b.day - a.day
        return b.day - a.day + (b.replace(day=1) - ONE_DAY).day
    anniversary = normalised(b.year - (1 if before else 0), a.month, a.day)
    return end - serial_of(anniversary)


def span_cases(rng):
    rows = []
    for _ in range(90):
        start = rng.randint(61, 2900000)
        end = start + rng.choice([rng.randint(0, 62), rng.randint(0, 800), rng.randint(0, 40000)])
        unit = rng.choice(["Y", "M", "D", "YM", "MD", "YD"])
        written = unit.lower() if rng.random() < 0.3 else unit
        rows.append(row('DATEDIF(%d,%d,"%s")' % (start, end, written), datedif(start, end, unit)))
    for _ in range(20):
        a = date_of(rng.randint(61, LAST_SERIAL))
        b = date_of(rng.randint(61, LAST_SERIAL))
        rows.append(row('DAYS("%s","%s")' % (a.isoformat(), b.isoformat()), (a - b).days))
    return rows


def days_360(lo, hi, european):
    a, b = date_of(lo), date_of(hi)
    d1, d2 = a.day, b.day
    if european:
        d1, d2 = min(d1, 30), min(d2, 30)
    elif a.month == 2 and d1 == calendar.monthrange(a.year, 2)[1]:
        if b.month == 2 and d2 == calendar.monthrange(b.year, 2)[1]:
            d2 = 30
        elif d2 == 31:
            d2 = 30
        d1 = 30
    elif d1 == 31:
        d1 = 30
        if d2 == 31:
            d2 = 30
    elif d2 == 31 and d1 == 30:
        d2 = 30
    return (b.year - a.year) * 360 + (b.month - a.month) * 30 + (d2 - d1)


def actual_years(lo, hi):
    a, b = date_of(lo), date_of(hi)
    span = float(hi - lo)
    if a.year == b.year:
        return span / (366 if calendar.isleap(a.year) else 365)
    if b.year > a.year + 1 or (a.month, a.day) < (b.month, b.day):
        lengths = [366 if calendar.isleap(y) else 365 for y in range(a.year, b.year + 1)]
        return span / (sum(lengths) / len(lengths))
    leap = False
    for year in (a.year, b.year):
        if calendar.isleap(year) and lo <= serial_of(datetime.date(year, 2, 29)) <= hi:
            leap = True
    return span / (366 if leap else 365)


def yearfrac_cases(rng):
    rows = []
    for _ in range(100):
        start = rng.randint(61, 2900000)
        end = start + rng.choice([rng.randint(0, 366), rng.randint(300, 800),
                                  rng.randint(0, 50000), 365, 366])
        if rng.random() < 0.5:
            date = date_of(start)  # month ends exercise the 30-day rules
            last = calendar.monthrange(date.year, date.month)[1]
            start = serial_of(date.replace(day=last))
            end = max(end, start)
        basis = rng.randint(0, 4)
        lo, hi = start, end
        if basis == 0:
            want = days_360(lo, hi, False) / 360
        elif basis == 1:
            want = actual_years(lo, hi)
        elif basis == 2:
            want = (hi - lo) / 360
        elif basis == 3:
            want = (hi - lo) / 365
        else:
            want = days_360(lo, hi, True) / 360
        first, second = (end, start) if rng.random() < 0.3 else (start, end)
        rows.append(row("YEARFRAC(%d,%d,%d)" % (first, second, basis), want))
    return rows


WEEKEND_CODES = {1: (5, 6), 2: (6, 0), 3: (0, 1), 4: (1, 2), 5: (2, 3), 6: (3, 4), 7: (4, 5),
                 11: (6,), 12: (0,), 13: (1,), 14: (2,), 15: (3,), 16: (4,), 17: (5,)}


def random_weekend(rng, allow_all):
    if rng.random() < 0.5:
        code = rng.choice(sorted(WEEKEND_CODES))
        return str(code), set(WEEKEND_CODES[code])
    while True:
        flags = [rng.random() < 0.3 for _ in range(7)]
        if allow_all or not all(flags):
            break
    text = "".join("1" if f else "0" for f in flags)
    return '"%s"' % text, {i for i, f in enumerate(flags) if f}


def holidays_around(rng, lo, hi):
    days = [rng.randint(lo - 5, hi + 5) for _ in range(rng.randint(0, 6))]
    if days and rng.random() < 0.5:
        days.append(days[0])  # listed twice, subtracted once
    return days


def holiday_arg(days):
    return "{%s}" % ",".join(str(d) for d in days) if days else None


def open_day(serial, weekend, holidays):
    return date_of(serial).weekday() not in weekend and serial not in holidays


def workday_cases(rng):
    rows = []
    for _ in range(60):
        start = rng.randint(400, 2900000)
        end = start + rng.randint(-3000, 3000)
        days = holidays_around(rng, min(start, end), max(start, end))
        intl = rng.random() < 0.6
        weekend_text, weekend = random_weekend(rng, True) if intl else ("1", {5, 6})
        lo, hi = min(start, end), max(start, end)
        count = sum(1 for s in range(lo, hi + 1) if open_day(s, weekend, set(days)))
        want = -count if end < start else count
        args = [str(start), str(end)]
        if intl:
            args.append(weekend_text)
        if days:
            args.append(holiday_arg(days))
        rows.append(row("%s(%s)" % ("NETWORKDAYS.INTL" if intl else "NETWORKDAYS", ",".join(args)), want))
    for _ in range(70):
        start = rng.randint(20000, 2900000)
        count = rng.choice([rng.randint(-40, 40), rng.randint(-5000, 5000)])
        days = holidays_around(rng, start - 60, start + 60) if rng.random() < 0.6 else []
        intl = rng.random() < 0.6
        weekend_text, weekend = random_weekend(rng, False) if intl else ("1", {5, 6})
        day, left, step = start, abs(count), 1 if count > 0 else -1
        while left > 0:
            day += step
            if open_day(day, weekend, set(days)):
                left -= 1
        args = [str(start), str(count)]
        if intl:
            args.append(weekend_text)
        if days:
            args.append(holiday_arg(days))
        rows.append(row("%s(%s)" % ("WORKDAY.INTL" if intl else "WORKDAY", ",".join(args)), day))
    return rows


def clock_seconds(serial):
    fraction = serial - math.floor(serial)
    return int(Decimal(fraction * 86400).quantize(Decimal(1), rounding=ROUND_HALF_UP)) % 86400


def time_cases(rng):
    rows = []
    for _ in range(40):
        hour = rng.choice([rng.randint(-30, 50), round(rng.uniform(-30, 50), 3)])
        minute = rng.choice([rng.randint(-100, 100), round(rng.uniform(-100, 100), 2)])
        second = rng.choice([rng.randint(-4000, 90000), round(rng.uniform(-100, 100), 4)])
        t = (minute * 60 + hour * 3600 + second) / 86400
        fraction = t - float(math.trunc(t))
        if fraction < 0:
            fraction += 1
        rows.append(row("TIME(%r,%r,%r)" % (hour, minute, second), fraction))
    for _ in range(40):
        serial = round(rng.uniform(-100, 3000000), rng.randint(0, 9))
        seconds = clock_seconds(serial)
        rows.append(row("HOUR(%r)" % serial, seconds // 3600))
        rows.append(row("MINUTE(%r)" % serial, seconds // 60 % 60))
        rows.append(row("SECOND(%r)" % serial, seconds % 60))
    return rows


def simulate_balance(rate, periods, pmt, pv, at_start):
    balance = pv
    for _ in range(periods):
        if at_start:
            balance += pmt
        balance *= 1 + rate
        if not at_start:
            balance += pmt
    return balance


def finance_cases(rng):
    rows = []
    for _ in range(50):
        rate = rng.choice([0.0, round(rng.uniform(-0.1, 0.2), 4)])
        nper = rng.randint(1, 60)
        pmt = round(rng.uniform(-2000, 2000), 2)
        pv = round(rng.uniform(-50000, 50000), 2)
        fv = round(rng.uniform(-50000, 50000), 2)
        at_start = rng.random() < 0.5
        type_arg = rng.choice([1, 2, -1, 0.5]) if at_start else 0
        d = math.pow(1 + rate, nper)
        p = (1 + rate) * pmt if at_start else pmt
        k = 1 + rate if at_start else 1
        if rate == 0:
            fv_want = -(nper * pmt + pv)
            pv_want = -(nper * pmt + fv)
            pmt_want = -(pv + fv) / nper
        else:
            fv_want = -(((d - 1) * p) / rate + pv * d)
            pv_want = -(fv + ((d - 1) * p) / rate) / d
            pmt_want = (-(pv * d + fv) * rate) / ((d - 1) * k)
        # The closed forms against a period-by-period account, within the
        # rounding that the account's own sums allow.
        scale = (abs(pv) + abs(fv) + abs(pmt) * nper) * max(d, 1 / d) if rate else 1.0
        assert close(-fv_want, simulate_balance(rate, nper, pmt, pv, at_start), scale)
        assert close(-fv, simulate_balance(rate, nper, pmt, pv_want, at_start), scale)
        assert close(-fv, simulate_balance(rate, nper, pmt_want, pv, at_start), scale)
        tail = (rate, nper, pmt, pv, type_arg)
        rows.append(row("FV(%r,%r,%r,%r,%r)" % tail, fv_want))
        rows.append(row("PV(%r,%r,%r,%r,%r)" % (rate, nper, pmt, fv, type_arg), pv_want))
        rows.append(row("PMT(%r,%r,%r,%r,%r)" % (rate, nper, pv, fv, type_arg), pmt_want))
        if rate == 0:
            nper_want = -(pv + fv) / pmt if pmt != 0 else "#NUM!"
        else:
            pp = pmt * (1 + rate) if at_start else pmt
            x = (pp - fv * rate) / (pv * rate + pp)
            nper_want = math.log(x) / math.log(1 + rate) if x > 0 else "#NUM!"
        if not isinstance(nper_want, str):
            # The count of periods that takes pv to fv under the same payments.
            g = math.pow(1 + rate, nper_want)
            lhs = pv * g + (p * (g - 1) / rate if rate != 0 else pmt * nper_want)
            assert close(lhs, -fv, scale * max(g, 1 / g))
        rows.append(row("NPER(%r,%r,%r,%r,%r)" % (rate, pmt, pv, fv, type_arg), nper_want))
    for _ in range(30):
        rate = round(rng.uniform(-0.5, 0.5), 4)
        values = [round(rng.uniform(-1000, 1000), 2) for _ in range(rng.randint(1, 12))]
        discount, total = 1.0, 0.0
        for v in values:
            discount *= 1 + rate
            total += v / discount
        assert close(total, sum(v / (1 + rate) ** (i + 1) for i, v in enumerate(values)))
        rows.append(row("NPV(%r,%s)" % (rate, ",".join(repr(v) for v in values)), total))
    return rows


def render():
    rng = random.Random(SEED)
    parts = ["// Generated by eval_date_cases.py from Python's datetime, calendar, decimal",
             "// and math; do not edit. Included by eval_date_test.cpp only.", "",
             "static const DateCase kDateCases[] = {"]
    for cases in (date_cases, week_cases, span_cases, yearfrac_cases, workday_cases,
                  time_cases, finance_cases):
        parts.extend(cases(rng))
    parts.append("};")
    parts.append("")
    return "\n".join(parts)


if __name__ == "__main__":
    out = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).with_suffix(".inc")
    out.write_text(render(), encoding="utf-8")
