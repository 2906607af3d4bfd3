"""The C++ tests of the text functions read part of their expected values
from eval_text_cases.inc, written by a script from Python's str operations.
This checks that the committed table is exactly what Python gives today, so
the C++ side is compared against Python and not against itself."""
import importlib.util
from pathlib import Path

CASES_DIR = Path(__file__).resolve().parents[1] / "cpp" / "formula"


def load_generator():
    spec = importlib.util.spec_from_file_location("eval_text_cases", CASES_DIR / "eval_text_cases.py")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def test_committed_table_matches_python():
    generator = load_generator()
    committed = (CASES_DIR / "eval_text_cases.inc").read_text(encoding="utf-8")
    assert committed == generator.render()


def test_table_covers_each_function_and_astral_text():
    text = (CASES_DIR / "eval_text_cases.inc").read_text(encoding="utf-8")
    for name in ("LEN", "UPPER", "LOWER", "PROPER", "TRIM", "LEFT", "RIGHT", "MID", "REPLACE",
                 "CODE", "FIND", "SEARCH", "SUBSTITUTE", "EXACT"):
        assert text.count('{"%s(' % name) >= 20, name
    assert text.count('\\xf0""') >= 50  # four-byte characters throughout
