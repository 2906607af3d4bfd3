"""Proposals, undo and redo, and the style and number-format methods from Python: a table of proposal, intervening
edit and outcome (a stale or failed acceptance changes nothing the saved file shows), the proposal record and its
argument errors, history depths, and styles and formats read back by openpyxl."""

import io
import warnings

import pytest

cx = pytest.importorskip("cindermantle_xlsx")
openpyxl = pytest.importorskip("openpyxl")
xlsxwriter = pytest.importorskip("xlsxwriter")


def book_bytes():
    buffer = io.BytesIO()
    book = xlsxwriter.Workbook(buffer)
    sheet = book.add_worksheet("Sheet1")
    sheet.write_number("A1", 5)
    sheet.write_formula("B1", "=A1+C1", None, 6)
    sheet.write_number("C1", 1)
    sheet.write_formula("D1", "=A1*2", None, 10)
    book.add_worksheet("Other")
    book.close()
    return buffer.getvalue()


def peer(data):
    with warnings.catch_warnings():
        warnings.simplefilter("ignore")
        return openpyxl.load_workbook(io.BytesIO(data))


@pytest.fixture
def book():
    return cx.Workbook.open(book_bytes())


def grid(book):
    return [[book.value("Sheet1", f"{c}{r}") for c in "ABCD"] for r in (1, 2)]


# proposal edits, the edit made after staging, force, then: "applied", or the stale cells.
STALENESS = [
    ([("Sheet1", "B2", "=A1*2")], None, False, "applied"),
    ([("Sheet1", "B2", "=A1*2")], ("set", "B2", "3"), False, ["B2"]),
    ([("Sheet1", "B2", "=A1*2")], ("set", "B2", "3"), True, "applied"),
    ([("Sheet1", "A1", "7")], ("set", "A2", "1"), False, "applied"),
    ([("Sheet1", "A1", "7")], ("set", "C1", "3"), False, ["A1"]),
    ([("Sheet1", "A1", "7"), ("Sheet1", "C2", "x")], ("set", "C1", "3"), False, ["A1", "C2"]),
    ([("Sheet1", "A1", "7")], ("style", "A1", None), False, ["A1"]),
    ([("Sheet1", "A1", "7")], ("format", "A1", "0.0"), False, ["A1"]),
    ([("Sheet1", "A1", "7"), ("Sheet1", "A1", "8")], ("set", "A1", "6"), False, ["A1", "A1"]),
    ([("Sheet1", "B1", "=A1+C1+0")], ("set", "C1", "2"), False, ["B1"]),
    ([("Sheet1", "A1", "7")], ("undo-set", "C2", "1"), False, "applied"),
]


def intervene(book, change):
    if change is None:
        return
    kind, address, text = change
    if kind == "set":
        book.set("Sheet1", address, text)
    elif kind == "style":
        book.set_style("Sheet1", address, bold=True)
    elif kind == "format":
        book.set_number_format("Sheet1", address, text)
    else:
        book.set("Sheet1", address, text)
        book.undo()


@pytest.mark.parametrize("edits, change, force, outcome", STALENESS)
def test_staleness_table(book, edits, change, force, outcome):
    proposal = book.propose("bot", edits)
    intervene(book, change)
    saved, depth, values = book.save(), book.history().undo_depth, grid(book)
    if outcome == "applied":
        result = book.accept_proposal(proposal.id, force=force)
        assert result.applied and bool(result)
        assert book.proposals() == [] or all(p.id != proposal.id for p in book.proposals())
        assert book.history().undo_depth == depth + 1
        shown = {edit.address: edit.after for edit in proposal.edits}
        for address, text in shown.items():
            assert str(book.value("Sheet1", address)).removesuffix(".0") == text
        book.undo()
        assert grid(book) == values
        return
    with pytest.raises(cx.StaleProposalError) as caught:
        book.accept_proposal(proposal.id)
    assert isinstance(caught.value, cx.XlsxError)
    assert caught.value.cells == outcome
    assert str(caught.value) == "stale: " + ", ".join(outcome)
    assert [t["a1"] for t in caught.value.targets] == outcome
    assert list(caught.value.targets[0]) == ["sheet", "sheetId", "row", "col", "a1"]
    assert caught.value.targets[0]["sheetId"] == "sheet:0"
    assert book.save() == saved
    assert book.history().undo_depth == depth
    assert [p.id for p in book.proposals()] == [proposal.id]


def test_outcome_staleness_refreshes_the_proposal_and_then_accepts(book):
    proposal = book.propose("bot", [("Sheet1", "A1", "7")])
    book.set("Sheet1", "C1", "3")
    with pytest.raises(cx.StaleProposalError):
        book.accept_proposal(proposal.id)
    assert proposal.edits[0].after == "7"
    (stored,) = book.proposals()
    assert stored.edits[0].after == "7" and stored.edits[0].before == "5"
    mutation = book.accept_proposal(proposal.id)
    assert mutation.applied and mutation.changed == ["B1", "D1"]
    assert book.value("Sheet1", "B1") == 10.0
    assert peer(book.save())["Sheet1"]["A1"].value == 7


def test_proposal_record_and_numbering(book):
    first = book.propose("bot", [("sheet1", "b2", "=A1*2"), (0, "$C$3", "")], note="")
    assert (first.id, first.agent_id, first.note) == ("p1", "bot", "")
    assert [(e.sheet, e.address, e.input, e.before, e.after) for e in first.edits] == [
        (0, "B2", "=A1*2", "", "10"),
        (0, "C3", "", "", ""),
    ]
    assert book.history().undo_depth == 0 and book.value("Sheet1", "B2") is None
    assert book.reject_proposal("p1") is True
    assert book.reject_proposal("p7") is False
    empty = book.propose("bot", [])
    assert empty.id == "p2" and empty.note is None
    mutation = book.accept_proposal("p2")
    assert not mutation.applied and not mutation and mutation.changed == []
    unchanged = book.propose("bot", [("Sheet1", "A1", "5")])
    assert not book.accept_proposal(unchanged.id).applied
    assert book.proposals() == [] and book.history().undo_depth == 0
    with pytest.raises(KeyError, match="no proposal p9"):
        book.accept_proposal("p9")


def test_hand_made_equal_content_is_stale_and_forced_applies_nothing(book):
    proposal = book.propose("bot", [("Sheet1", "A2", "4")])
    book.set("Sheet1", "A2", "4")
    with pytest.raises(cx.StaleProposalError):
        book.accept_proposal(proposal.id)
    depth = book.history().undo_depth
    assert not book.accept_proposal(proposal.id, force=True).applied
    assert book.history().undo_depth == depth and book.proposals() == []


@pytest.mark.parametrize(
    "call, error, text",
    [
        (lambda b: b.propose("bot", [("Sheet1", "A1", "x" * 32768), ("Nope", "A1", "1")]), KeyError, None),
        (lambda b: b.propose("bot", [("Sheet1", "A1", 5)]), TypeError, "edits"),
        (lambda b: b.propose("bot", [["Sheet1", "A1", "5"]]), TypeError, "edits"),
        (lambda b: b.propose("bot", "A1"), TypeError, "edits"),
        (lambda b: b.propose("bot", [(9, "A1", "1")]), IndexError, None),
        (lambda b: b.propose("bot", [("Sheet1", "A1", "x" * 32768)]), cx.XlsxError, None),
        (lambda b: b.accept_proposal("p1", force=1), TypeError, "force"),
    ],
)
def test_proposal_argument_errors_store_nothing(book, call, error, text):
    with pytest.raises(error) as caught:
        call(book)
    if text:
        assert any(text in note for note in getattr(caught.value, "__notes__", []))
    assert book.proposals() == []
    assert book.propose("bot", []).id == "p1"


def test_undo_and_redo_of_set(book):
    version = book.undo()
    assert not version.applied and version.changed == []
    assert not book.can_undo and (book.history().undo_depth, book.history().redo_depth) == (0, 0)
    book.set("Sheet1", "A1", "2")
    assert book.value("Sheet1", "D1") == 4.0
    undone = book.undo()
    assert undone.applied and book.value("Sheet1", "A1") == 5.0 and book.value("Sheet1", "D1") == 10.0
    history = book.history()
    assert book.can_redo and history.can_redo and history.redo_depth == 1 and not history.can_undo
    assert book.redo().applied and book.value("Sheet1", "D1") == 4.0
    assert (book.history().undo_depth, book.history().redo_depth) == (1, 0)


def test_style_and_number_format_read_back_by_openpyxl(book):
    assert book.set_style(
        "sheet1", "a1:b2", bold=True, italic=True, font_family="Arial", font_size=14, text_color="#ff0000",
        fill_color="#00ff00", horizontal_alignment="CENTER", vertical_alignment="Middle", text_wrapping="wrap",
    ).applied
    assert not book.set_style("Sheet1", "A1:B2", bold=True).applied
    for word, code in [("PERCENT", "0.00%"), ("0.0%", "0.0%"), ("date ", "date "), ("currency", "$#,##0.00")]:
        assert book.set_number_format("Sheet1", "C1", word).applied
        assert peer(book.save())["Sheet1"]["C1"].number_format == code
    cell = peer(book.save())["Sheet1"]["B2"]
    assert cell.font.b and cell.font.i and cell.font.name == "Arial" and cell.font.sz == 14
    assert cell.font.color.rgb.endswith("FF0000") and cell.fill.fgColor.rgb.endswith("00FF00")
    assert (cell.alignment.horizontal, cell.alignment.vertical, cell.alignment.wrap_text) == ("center", "center", True)
    depth = book.history().undo_depth
    book.undo()
    assert peer(book.save())["Sheet1"]["C1"].number_format == "date "
    assert book.history().undo_depth == depth - 1


@pytest.mark.parametrize(
    "kwargs, error, message",
    [
        ({"horizontal_alignment": "Justify"}, ValueError,
         "horizontal_alignment must be left, center, or right, not justify"),
        ({"vertical_alignment": "center"}, ValueError, "vertical_alignment must be top, middle, or bottom, not center"),
        ({"text_wrapping": ""}, ValueError, "text_wrapping must be overflow, wrap, or clip, not "),
        ({"text_color": "red"}, ValueError, "invalid color red; expected #rrggbb"),
        ({"font_size": 0.5}, ValueError, "font size must be between 1 and 400"),
        ({"bold": 1}, TypeError, None),
    ],
)
def test_style_refusals_change_nothing(book, kwargs, error, message):
    saved = book.save()
    with pytest.raises(error) as caught:
        book.set_style("Sheet1", "A1", **kwargs)
    if message is not None:
        assert str(caught.value) == message
    assert book.save() == saved and not book.can_undo


def test_range_refusals(book):
    with pytest.raises(cx.RangeError, match="range 317x316 exceeds the 100000-cell copy cap"):
        book.set_number_format("Sheet1", "A1:LD317", "number")
    assert book.set_number_format("Sheet1", "A1:A100000", "number").applied


def test_set_active_sheet(book):
    book.set("Sheet1", "A1", "1")
    depth = book.history().undo_depth
    book.set_active_sheet("OTHER")
    assert book.active_sheet == 1 and book.history().undo_depth == depth
    assert peer(book.save()).active.title == "Other"
    with pytest.raises(KeyError):
        book.set_active_sheet("missing")
    assert book.active_sheet == 1
