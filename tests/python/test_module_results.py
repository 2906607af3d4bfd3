"""The result objects and errors that methods build: Mutation, History, Proposal, ProposedEdit and the
StaleProposalError with its attributes, made through the test-only module tests/cpp/pyext/_cmx_results_probe
(built into $CMX_BUILD_DIR) exactly as the methods make them; and the entry guard's mapping of C++ failures."""

import importlib.util
import os
import pathlib

import pytest

cx = pytest.importorskip("cindermantle_xlsx")
xlsxwriter = pytest.importorskip("xlsxwriter")

ROOT = pathlib.Path(__file__).resolve().parents[2]
BUILD = pathlib.Path(os.environ.get("CMX_BUILD_DIR", ROOT / "build" / "release"))
if not BUILD.is_absolute():
    BUILD = ROOT / BUILD
FOUND = sorted((BUILD / "tests" / "cpp" / "pyext").glob("_cmx_results_probe*.so"))

pytestmark = pytest.mark.skipif(not FOUND, reason=f"_cmx_results_probe not built under {BUILD}")


@pytest.fixture(scope="module")
def probe():
    spec = importlib.util.spec_from_file_location("_cmx_results_probe", FOUND[0])
    module = importlib.util.module_from_spec(spec)
    spec.loader.exec_module(module)
    return module


@pytest.fixture
def book(tmp_path):
    path = tmp_path / "names.xlsx"
    workbook = xlsxwriter.Workbook(str(path))
    for name in ("First", "It's a sheet", "Third"):
        workbook.add_worksheet(name)
    workbook.worksheets()[1].activate()
    workbook.close()
    opened = cx.Workbook.open_path(path)
    assert opened.active_sheet == 1
    return opened


def test_mutation(probe, book):
    done = probe.mutation(book, True, [(1, "B2"), (0, "$C$3"), (2, "A1"), (7, "D4")], [(1, "A$1")], [])
    assert type(done).__name__ == "Mutation" and type(done).__module__ == "cindermantle_xlsx"
    # The active sheet's cells bare, the others with the name as stored and unquoted; a sheet past the last
    # with an empty name.
    assert done.changed == ["B2", "First!$C$3", "Third!A1", "!D4"]
    assert done.cycles == ["A$1"] and done.limited == []
    assert done.applied is True and bool(done) and repr(done) == "Mutation(applied=True, changed=4)"
    first = done.changed
    first.append("X9")
    assert done.changed is not first and len(done.changed) == 4
    nothing = probe.mutation(book, False, [], [], [])
    assert not nothing and nothing.changed == [] and repr(nothing) == "Mutation(applied=False, changed=0)"
    on_other = probe.mutation(book, True, [(2, "A1")], [], [])
    assert on_other.changed == ["Third!A1"]
    with pytest.raises(AttributeError):
        done.applied = False


def test_history(probe):
    for undo, redo in [(0, 0), (3, 0), (0, 1), (2**64 - 1, 5)]:
        history = probe.history(undo, redo)
        assert (history.can_undo, history.can_redo) == (undo != 0, redo != 0)
        assert (history.undo_depth, history.redo_depth) == (undo, redo)
        assert repr(history) == f"History(undo_depth={undo}, redo_depth={redo})"


def test_proposal_and_its_edits(probe):
    edits = [(0, "B7", "=A1+1", "", "3"), (2, "C1", 'say "hi"', "tab\there", "é\x07")]
    proposal = probe.proposal("p1", 'bot "7"', None, edits)
    assert (proposal.id, proposal.agent_id, proposal.note) == ("p1", 'bot "7"', None)
    assert repr(proposal) == 'Proposal(id="p1", agent_id="bot \\"7\\"", edits=2)'
    first, again = proposal.edits, proposal.edits
    assert first is not again and first[0] is not again[0]
    got = [(e.sheet, e.address, e.input, e.before, e.after) for e in first]
    assert got == edits
    assert repr(first[0]) == 'ProposedEdit(B7 "" -> "3")'
    assert repr(first[1]) == 'ProposedEdit(C1 "tab\\there" -> "é\\u{7}")'
    assert probe.proposal("p2", "bot", "", []).note == ""
    assert probe.proposal("p2", "bot", "", []).edits == []


def test_stale_proposal_error(probe, book):
    with pytest.raises(Exception) as caught:
        probe.stale(book, [(0, "B2"), (2, "C10"), (0, "B2")])
    error = caught.value
    assert type(error).__name__ == "StaleProposalError" and type(error).__mro__[1].__name__ == "XlsxError"
    assert error.args == ("stale: B2, C10, B2",)
    assert error.cells == ["B2", "C10", "B2"]
    assert error.targets[0] == {"sheet": 0, "sheetId": "sheet:0", "row": 1, "col": 1, "a1": "B2"}
    assert list(error.targets[0]) == ["sheet", "sheetId", "row", "col", "a1"]
    assert error.targets[1] == {"sheet": 2, "sheetId": "sheet:2", "row": 9, "col": 2, "a1": "C10"}
    with pytest.raises(Exception) as caught:
        probe.stale(book, [(5, "A1")])  # no key past the last sheet
    assert caught.value.targets == [{"sheet": 5, "sheetId": None, "row": 0, "col": 0, "a1": "A1"}]
    with pytest.raises(Exception) as caught:
        probe.stale(None, [(0, "A1")])  # without a session no key is known
    assert caught.value.targets[0]["sheetId"] is None


def test_guard_maps_cpp_failures(probe):
    with pytest.raises(MemoryError):
        probe.guarded_throw("bad_alloc")
    for what, message in [("logic", "broken invariant"), ("other", "unknown C++ exception")]:
        with pytest.raises(BaseException) as caught:
            probe.guarded_throw(what)
        assert not isinstance(caught.value, Exception)
        assert type(caught.value).__name__ == "EnginePanic" and caught.value.args == (message,)
