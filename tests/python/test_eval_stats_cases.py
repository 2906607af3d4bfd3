"""The C++ statistics tests read their expected values from
eval_stats_cases.inc, written by a script from Python's statistics, fractions
and math modules. This checks that the committed table is exactly what Python
gives today, so the C++ side is compared against Python and not against
itself, and that the script's own readings agree with answers known by hand."""
import importlib.util
import math
from pathlib import Path

CASES_DIR = Path(__file__).resolve().parents[1] / "cpp" / "formula"


def load_generator():
    found = importlib.util.spec_from_file_location("eval_stats_cases",
                                                  CASES_DIR / "eval_stats_cases.py")
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def test_committed_table_matches_python():
    committed = (CASES_DIR / "eval_stats_cases.inc").read_text(encoding="utf-8")
    assert committed == load_generator().render()


def test_known_answers():
    g = load_generator()
    assert math.isclose(g.kurt([1, 2, 3, 4]), -1.2, rel_tol=1e-15)
    assert g.skew([1, 2, 3, 10]) > 0
    assert g.avedev([1, 2, 3, 10]) == 3
    assert g.percentile([1, 2, 3, 4], 0.5) == 2.5
    assert g.trimmean([float(i * i) for i in range(1, 11)], 0.2) == 35.5
    assert g.rank([7, 5, 5, 1], 5, False) == 2 and g.rank([7, 5, 5, 1], 5, True) == 2
    # Short lists put -0 first, long ones keep equal values in order.
    short = g.sorted_numbers([0.0, -0.0, 1.0])
    assert math.copysign(1, short[0]) < 0
    long = g.sorted_numbers([0.0, -0.0] + [1.0] * 19)
    assert math.copysign(1, long[0]) > 0


def test_table_covers_each_function():
    text = (CASES_DIR / "eval_stats_cases.inc").read_text(encoding="utf-8")
    for name in ("VAR.S(", "VAR.P(", "STDEV.S(", "STDEV.P(", "STDEVA(", "DEVSQ(", "AVEDEV(",
                 "SKEW(", "KURT(", "GEOMEAN(", "HARMEAN(", "MEDIAN(", "MODE.SNGL(", "LARGE(",
                 "SMALL(", "RANK.EQ(", "PERCENTILE.INC(", "QUARTILE(", "TRIMMEAN(", "CORREL(",
                 "COVARIANCE.P(", "COVARIANCE.S(", "SLOPE(", "INTERCEPT(", "NORM.DIST(",
                 "NORMDIST("):
        assert text.count('{"' + name) >= 1, name
