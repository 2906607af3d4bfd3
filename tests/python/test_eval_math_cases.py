"""The C++ tests of the rounding, elementary, unit-conversion and random
built-ins read expected values from eval_math_cases.inc, written by a script
from Python floats and its math module. This checks that the committed table
is exactly what Python gives today, so the C++ side is compared against
Python and not against itself."""
import importlib.util
from pathlib import Path

CASES_DIR = Path(__file__).resolve().parents[1] / "cpp" / "formula"


def load_generator():
    found = importlib.util.spec_from_file_location("eval_math_cases", CASES_DIR / "eval_math_cases.py")
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def test_committed_table_matches_python():
    generator = load_generator()
    committed = (CASES_DIR / "eval_math_cases.inc").read_text(encoding="utf-8")
    assert committed == generator.render()


def test_known_answers():
    # The generator's own arithmetic against answers worked out by hand.
    g = load_generator()
    assert g.round_with("ROUND", 2.675, 2) == 2.68
    assert g.round_with("ROUND", 1.005, 2) == 1.0
    assert g.round_with("ROUND", 1.5, 4294967296) == 2.0
    assert g.round_with("ROUND", 0.0, 400) == g.NUM
    assert g.mround(1.3, 0.2) == 7 * 0.2
    assert g.mod(-3.0, 2.0) == 1.0
    assert g.convert(1.0, "kg", "lbm") == 2.2046226218487757
    assert g.convert(1.0, "C", "mK") == g.NA
    draws = g.splitmix_draws(0)
    assert g.randbetween(1.0, 100.0, draws) == 89.0
    assert g.randbetween(1.0, 100.0, draws) == 44.0
    assert g.randbetween(1.0, 100.0, g.splitmix_draws(0x2545F4914F6CDD1D)) == 76.0


def test_tables_are_substantial():
    text = (CASES_DIR / "eval_math_cases.inc").read_text(encoding="utf-8")
    for table in ("kRoundingCases", "kElementaryCases", "kConvertCases", "kRandomCases"):
        start = text.index(table)
        body = text[start:text.index("};", start)]
        assert body.count("\n  {") >= 40, table
