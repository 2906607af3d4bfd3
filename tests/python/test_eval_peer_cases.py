"""The C++ tests of the formula value rules read their expected values from
eval_peer_cases.inc, written by a script from Python's float(), repr() and
datetime. This checks that the committed table is exactly what Python gives
today, so the C++ side is compared against Python and not against itself."""
import importlib.util
from pathlib import Path

CASES_DIR = Path(__file__).resolve().parents[1] / "cpp" / "formula"


def load_generator():
    spec = importlib.util.spec_from_file_location("eval_peer_cases", CASES_DIR / "eval_peer_cases.py")
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


def test_committed_table_matches_python():
    generator = load_generator()
    committed = (CASES_DIR / "eval_peer_cases.inc").read_text(encoding="utf-8")
    assert committed == generator.render()


def test_table_covers_each_rule():
    text = (CASES_DIR / "eval_peer_cases.inc").read_text(encoding="utf-8")
    for table in ("kPeerNumberTexts", "kPeerNumberToText", "kPeerDateTexts", "kPeerCivil",
                  "kPeerTimeTexts"):
        start = text.index(table)
        body = text[start:text.index("};", start)]
        assert body.count("\n  {") >= 50, table
