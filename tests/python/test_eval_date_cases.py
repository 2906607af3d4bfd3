"""The C++ tests of the date, time, working-day and financial functions read
their expected values from eval_date_cases.inc, written by a script from
Python's datetime, calendar and math. This checks that the committed table is
exactly what Python gives today, so the C++ side is compared against Python
and not against itself."""
import importlib.util
from pathlib import Path

CASES_DIR = Path(__file__).resolve().parents[1] / "cpp" / "formula"


def load_generator():
    spec = importlib.util.spec_from_file_location("eval_date_cases", CASES_DIR / "eval_date_cases.py")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def test_committed_table_matches_python():
    generator = load_generator()
    committed = (CASES_DIR / "eval_date_cases.inc").read_text(encoding="utf-8")
    assert committed == generator.render()


def test_table_covers_each_function():
    text = (CASES_DIR / "eval_date_cases.inc").read_text(encoding="utf-8")
    for name in ("DATE", "YEAR", "MONTH", "DAY", "EDATE", "EOMONTH", "WEEKDAY", "WEEKNUM",
                 "ISOWEEKNUM", "DATEDIF", "DAYS", "YEARFRAC", "NETWORKDAYS", "NETWORKDAYS.INTL",
                 "WORKDAY", "WORKDAY.INTL", "TIME", "HOUR", "MINUTE", "SECOND", "FV", "PV", "PMT",
                 "NPER", "NPV"):
        assert text.count('{"%s(' % name) >= 10, name
