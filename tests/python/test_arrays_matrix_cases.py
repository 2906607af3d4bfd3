"""The C++ tests of MMULT, LINEST and TREND read expected values from
arrays_matrix_cases.inc, written by a script that solves each fit exactly in
rational arithmetic. This checks that the committed table is what the
script gives today, and the script's solver against fits worked by hand."""
import importlib.util
from fractions import Fraction
from pathlib import Path

CASES_DIR = Path(__file__).resolve().parents[1] / "cpp" / "formula"


def load_generator():
    found = importlib.util.spec_from_file_location(
        "arrays_matrix_cases", CASES_DIR / "arrays_matrix_cases.py")
    module = importlib.util.module_from_spec(found)
    found.loader.exec_module(module)
    return module


def test_committed_table_matches_python():
    generator = load_generator()
    committed = (CASES_DIR / "arrays_matrix_cases.inc").read_text(encoding="utf-8")
    assert committed == generator.render()


def test_solver_known_answers():
    g = load_generator()
    # y = 2x + 1 plus residuals +1, -1, -1, +1 around x = 1..4: slope 2,
    # intercept 1, residual sum of squares 4 on 2 degrees of freedom.
    fit = g.ols([4, 4, 6, 10], [[1, 2, 3, 4]], True)
    assert fit["beta"] == [Fraction(2), Fraction(1)]
    assert fit["ss_resid"] == 4.0 and fit["df"] == 2.0
    assert g.matmul([[1, 2], [3, 4]], [[5], [6]]) == [[17], [39]]
