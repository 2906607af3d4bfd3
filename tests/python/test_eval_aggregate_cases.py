"""The C++ aggregate tests read their expected values from
eval_aggregate_cases.inc, written by a script from Python's arithmetic and
statistics module. This checks that the committed table is exactly what
Python gives today, so the C++ side is compared against Python and not
against itself."""
import importlib.util
from pathlib import Path

CASES_DIR = Path(__file__).resolve().parents[1] / "cpp" / "formula"


def load_generator():
    found = importlib.util.spec_from_file_location("eval_aggregate_cases",
                                                  CASES_DIR / "eval_aggregate_cases.py")
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def test_committed_table_matches_python():
    committed = (CASES_DIR / "eval_aggregate_cases.inc").read_text(encoding="utf-8")
    assert committed == load_generator().render()


def test_table_covers_each_family():
    text = (CASES_DIR / "eval_aggregate_cases.inc").read_text(encoding="utf-8")
    for name in ("COUNTIFS(", "SUMIFS(", "AVERAGEIFS(", "MAXIFS(", "MINIFS(", "COUNTIF(",
                 "SUMIF(", "SUMPRODUCT(", "SUBTOTAL(", "AGGREGATE("):
        assert text.count('{"' + name) >= 1, name
    assert text.count('{"AGGREGATE(') >= 30
