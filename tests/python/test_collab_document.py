"""A workbook's collaborative document against pycrdt (a Yjs implementation).

Our side is the test-only driver tests/cpp/collab/document_tool, built by CMake into $CMX_BUILD_DIR (default
build/release). `bootstrap` writes the update an opened workbook becomes and prints what we project from it,
written back into the document's layout; `project` reads an update a peer wrote against the same workbook and
prints the same, or the refusal. pycrdt must read every root and key of our bootstrap with the values we project,
and what pycrdt writes must project into what pycrdt holds. Workbooks are made here with openpyxl; a sample of
../shared/corpus is read when it exists (CMX_COLLAB_FULL_CORPUS=1 for all of it).
"""
import json
import os
import subprocess
from pathlib import Path

import pytest

pycrdt = pytest.importorskip("pycrdt")
openpyxl = pytest.importorskip("openpyxl")

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("CMX_BUILD_DIR", ROOT / "build" / "release"))
if not BUILD.is_absolute():
    BUILD = ROOT / BUILD
TOOL = BUILD / "tests" / "cpp" / "collab" / "document_tool"
CORPUS = ROOT.parent / "shared" / "corpus"

pytestmark = pytest.mark.skipif(not TOOL.exists(), reason=f"document_tool not built at {TOOL}")

ROOTS = ["xlsx", "xlsx:cell-formats", "xlsx:sheet-order", "xlsx:sheets"]


def run_tool(*args):
    done = subprocess.run([str(TOOL), *map(str, args)], capture_output=True, text=True, check=True)
    return json.loads(done.stdout)


def bootstrap(book, tmp_path):
    """Our bootstrap update of `book` and our projection of it."""
    update = tmp_path / "bootstrap.bin"
    answer = run_tool("bootstrap", book, update)
    assert answer["ok"], answer
    return update.read_bytes(), answer["doc"]


def project(book, update, tmp_path, *flags):
    path = tmp_path / "peer.bin"
    path.write_bytes(update)
    return run_tool("project", book, path, *flags)


def peer_view(doc, active_only=False):
    """What pycrdt holds under the four roots, as plain Python values."""
    view = {
        "xlsx": doc.get("xlsx", type=pycrdt.Map).to_py(),
        "xlsx:cell-formats": doc.get("xlsx:cell-formats", type=pycrdt.Map).to_py(),
        "xlsx:sheet-order": doc.get("xlsx:sheet-order", type=pycrdt.Array).to_py(),
        "xlsx:sheets": doc.get("xlsx:sheets", type=pycrdt.Map).to_py(),
    }
    if active_only:
        view["xlsx:sheets"] = {k: v for k, v in view["xlsx:sheets"].items() if k in view["xlsx:sheet-order"]}
    return view


def peer_from(update):
    doc = pycrdt.Doc()
    doc.apply_update(update)
    return doc


# --- workbooks ----------------------------------------------------------------------------------------------


def make_full(path):
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = "Data"
    ws["A1"] = 2.5
    ws["B1"] = "h\u00e9llo"
    ws["C1"] = "=A1*2"
    ws["A2"] = True
    ws["B2"] = -7
    ws["B2"].font = openpyxl.styles.Font(bold=True)
    ws["C2"].fill = openpyxl.styles.PatternFill("solid", fgColor="FFFF0000")
    ws["D5"] = "#N/A"
    ws.merge_cells("D1:E2")
    ws.freeze_panes = "B2"
    ws["A1"].hyperlink = "https://example.com/"
    ws.column_dimensions["B"].width = 20
    ws.row_dimensions[3].height = 30
    second = wb.create_sheet("Second")
    second["A1"] = 1
    second["B7"] = "=SUM(A1:A3)"
    wb.save(path)


def make_styles_only(path):
    """No cell holds a value: a peer can write every part of its document."""
    wb = openpyxl.Workbook()
    ws = wb.active
    ws.title = "Grid"
    ws["B2"].font = openpyxl.styles.Font(italic=True)
    ws["C3"].fill = openpyxl.styles.PatternFill("solid", fgColor="FF00FF00")
    ws["D4"].hyperlink = "https://example.org/"
    ws["D4"].value = None
    ws.merge_cells("F1:G3")
    ws.freeze_panes = "A3"
    ws.column_dimensions["C"].width = 31.5
    ws.row_dimensions[2].height = 12.75
    wb.create_sheet("Blank")
    wb.save(path)


@pytest.fixture
def full_book(tmp_path):
    path = tmp_path / "full.xlsx"
    make_full(path)
    return path


@pytest.fixture
def styles_book(tmp_path):
    path = tmp_path / "styles.xlsx"
    make_styles_only(path)
    return path


def corpus_sample():
    if not CORPUS.is_dir():
        return []
    books = sorted(CORPUS.rglob("*.xlsx"))
    return books if os.environ.get("CMX_COLLAB_FULL_CORPUS") else books[::60]


# --- our bootstrap read by pycrdt ---------------------------------------------------------------------------


def check_bootstrap_in_pycrdt(book, tmp_path):
    update, ours = bootstrap(book, tmp_path)
    peer = peer_from(update)
    assert sorted(peer.keys()) == ROOTS
    assert peer_view(peer) == ours
    # What we project is what a replica of ours projects from pycrdt's copy.
    again = project(book, peer.get_update(), tmp_path)
    assert again == {"ok": True, "doc": ours}
    return ours


def test_bootstrap_reads_back_in_pycrdt(full_book, tmp_path):
    ours = check_bootstrap_in_pycrdt(full_book, tmp_path)
    assert ours["xlsx"]["schemaVersion"] == 6 and ours["xlsx"]["structureGeneration"] == 0
    assert len(ours["xlsx"]["baseFingerprint"]) == 64
    assert ours["xlsx:sheet-order"] == ["sheet:0", "sheet:1"]
    data = ours["xlsx:sheets"]["sheet:0"]
    assert data["name"] == "Data"
    assert data["contents"]["0:0"] == [0, [1, 2.5]]
    assert data["contents"]["0:1"] == [0, [2, "h\u00e9llo"]]
    assert data["contents"]["0:2"][:2] == [1, "A1*2"]
    assert data["contents"]["1:0"] == [0, [3, True]]
    assert data["contents"]["4:3"] == [0, [4, "#N/A"]]
    assert "1:2" not in data["contents"] and "1:2" in data["styles"]
    assert data["styles"]["1:1"] in ours["xlsx:cell-formats"]
    assert data["merges"] == [[0, 3, False, False, 1, 4, False, False]]
    assert data["freezePane"] == [1, 1, 1, 1, False, False]
    assert json.loads(data["hyperlinks"]) == [
        {"range": {"start": {"row": 0, "col": 0}, "end": {"row": 0, "col": 0}},
         "external_target": "https://example.com/", "location": None, "tooltip": None, "display": None}
    ]
    assert data["colWidths"]["1"] > 20 - 1
    assert data["rowHeights"]["2"] == 30
    assert data["charts"] == "[]"
    second = ours["xlsx:sheets"]["sheet:1"]
    assert second["freezePane"] is None and second["merges"] == [] and second["hyperlinks"] == "[]"


@pytest.mark.parametrize("book", corpus_sample(), ids=lambda p: p.name)
def test_corpus_bootstrap_reads_back_in_pycrdt(book, tmp_path):
    update = tmp_path / "bootstrap.bin"
    answer = run_tool("bootstrap", book, update)
    if not answer["ok"]:
        pytest.skip(answer["error"])
    peer = peer_from(update.read_bytes())
    assert sorted(peer.keys()) == ROOTS
    assert peer_view(peer) == answer["doc"]


# --- documents a peer writes --------------------------------------------------------------------------------


def test_peer_edits_project_into_what_the_peer_holds(full_book, tmp_path):
    update, ours = bootstrap(full_book, tmp_path)
    peer = peer_from(update)
    sheets = peer.get("xlsx:sheets", type=pycrdt.Map)
    order = peer.get("xlsx:sheet-order", type=pycrdt.Array)
    data = sheets["sheet:0"]
    bold_id = data["styles"]["1:1"]
    with peer.transaction():
        data["name"] = "Renamed"
        data["colWidths"]["5"] = 8.25
        del data["rowHeights"]["2"]
        del data["contents"]["0:1"]
        data["styles"]["9:9"] = bold_id  # a formatted cell without content
        data["merges"] = [[6.0, 0.0, False, False, 7.0, 2.0, True, True]]
        data["freezePane"] = [0.0, 2.0, 0.0, 2.0, False, True]
        data["hyperlinks"] = "[]"
        sheets["replica:42:0"] = pycrdt.Map(
            {
                "name": "Added",
                "contents": pycrdt.Map(),
                "styles": pycrdt.Map({"0:0": bold_id}),
                "colWidths": pycrdt.Map({"0": 3.0}),
                "rowHeights": pycrdt.Map(),
                "merges": [],
                "freezePane": None,
                "hyperlinks": "[]",
                "charts": "[]",
            }
        )
        # Tab order: the new sheet first, then Second, then Data.
        del order[0]
        order.insert(0, "replica:42:0")
        order.append("sheet:0")
    for flags in [(), ("--migrate",), ("--lenient",)]:
        answer = project(full_book, peer.get_update(), tmp_path, *flags)
        assert answer["ok"], answer
        assert answer["doc"] == peer_view(peer, active_only=True), flags
    assert answer["doc"]["xlsx:sheet-order"] == ["replica:42:0", "sheet:1", "sheet:0"]
    assert answer["doc"]["xlsx:sheets"]["sheet:0"]["styles"]["9:9"] == bold_id


def test_sheet_removed_from_the_order_stays_and_is_checked(full_book, tmp_path):
    update, _ = bootstrap(full_book, tmp_path)
    peer = peer_from(update)
    order = peer.get("xlsx:sheet-order", type=pycrdt.Array)
    with peer.transaction():
        del order[1]
    answer = project(full_book, peer.get_update(), tmp_path)
    assert answer["ok"] and answer["doc"]["xlsx:sheet-order"] == ["sheet:0"]
    # A broken cell in the inactive sheet: a strict read refuses, a lenient one passes.
    with peer.transaction():
        peer.get("xlsx:sheets", type=pycrdt.Map)["sheet:1"]["contents"]["0:0"] = "broken"
    assert project(full_book, peer.get_update(), tmp_path) == {"ok": False, "error": "cell content is not an array"}
    assert project(full_book, peer.get_update(), tmp_path, "--lenient")["ok"]


def write_layout(doc, view):
    """A document written by pycrdt alone from a view of the four roots."""
    with doc.transaction():
        formats = doc.get("xlsx:cell-formats", type=pycrdt.Map)
        for key, text in view["xlsx:cell-formats"].items():
            formats[key] = text
        meta = doc.get("xlsx", type=pycrdt.Map)
        for key, value in view["xlsx"].items():
            meta[key] = value
        doc.get("xlsx:sheet-order", type=pycrdt.Array).extend(view["xlsx:sheet-order"])
        sheets = doc.get("xlsx:sheets", type=pycrdt.Map)
        for key, sheet in view["xlsx:sheets"].items():
            nested = {"contents", "styles", "colWidths", "rowHeights"}
            sheets[key] = pycrdt.Map(
                {k: (pycrdt.Map(v) if k in nested else v) for k, v in sheet.items()}
            )


def test_document_written_by_pycrdt_projects_into_the_same_model(styles_book, tmp_path):
    _, ours = bootstrap(styles_book, tmp_path)
    grid = ours["xlsx:sheets"]["sheet:0"]
    assert grid["contents"] == {} and len(grid["styles"]) >= 2 and grid["merges"] and grid["freezePane"]
    peer = pycrdt.Doc()
    write_layout(peer, ours)
    assert project(styles_book, peer.get_update(), tmp_path) == {"ok": True, "doc": ours}


def test_cells_written_by_pycrdt_project(full_book, tmp_path):
    """pycrdt holds every integer below 2**53 as a float: cell kinds it writes, or writes back, are numbers."""
    update, ours = bootstrap(full_book, tmp_path)
    peer = peer_from(update)
    contents = peer.get("xlsx:sheets", type=pycrdt.Map)["sheet:1"]["contents"]
    with peer.transaction():
        contents["3:0"] = [0, [1, 0.25]]
        contents["3:1"] = [1, "A4*2", [1, 0.5]]
        contents["3:2"] = [0, [4, "#DIV/0!"]]
    answer = project(full_book, peer.get_update(), tmp_path)
    assert answer["ok"], answer
    assert answer["doc"] == peer_view(peer)
    assert answer["doc"]["xlsx:sheets"]["sheet:1"]["contents"]["3:1"] == [1, "A4*2", [1, 0.5]]
    with peer.transaction():
        contents["3:3"] = [0.5, [1, 0.25]]
    answer = project(full_book, peer.get_update(), tmp_path)
    assert answer == {"ok": False, "error": "cell content kind is not an integer"}


def set_meta(key, value):
    def edit(doc):
        doc.get("xlsx", type=pycrdt.Map)[key] = value

    return edit


def set_sheet(key, value, sheet="sheet:0"):
    def edit(doc):
        doc.get("xlsx:sheets", type=pycrdt.Map)[sheet][key] = value

    return edit


def set_in(nested, key, value, sheet="sheet:0"):
    def edit(doc):
        doc.get("xlsx:sheets", type=pycrdt.Map)[sheet][nested][key] = value

    return edit


def add_root(doc):
    doc.get("notes", type=pycrdt.Map)["k"] = "v"


def order_append(key):
    def edit(doc):
        doc.get("xlsx:sheet-order", type=pycrdt.Array).append(key)

    return edit


BROKEN = [
    ("fifth root", add_root, (), "collaborative document roots do not match the schema"),
    ("fifth root read leniently", add_root, ("--lenient",), None),
    ("version 7", set_meta("schemaVersion", 7.0), (), "unsupported schema version 7; supported versions are 3 through 6"),
    ("version 6.9", set_meta("schemaVersion", 6.9), (), None),
    ("version as text", set_meta("schemaVersion", "6"), (), "missing schema version"),
    ("foreign fingerprint", set_meta("baseFingerprint", "0" * 64), (), "workbook base fingerprint does not match shared state"),
    ("negative generation", set_meta("structureGeneration", -1.0), (), "structure generation is negative"),
    ("extra metadata key", set_meta("owner", "x"), (), "workbook metadata keys do not match the schema"),
    ("repeated sheet key", order_append("sheet:0"), (), "duplicate sheet key sheet:0"),
    ("repeated sheet key, migrated", order_append("sheet:0"), ("--migrate",), None),
    ("missing sheet", order_append("sheet:9"), (), "missing sheet sheet:9"),
    ("number in the order", order_append(3.0), (), "sheet order contains a non-string key"),
    ("extra sheet key", set_sheet("note", "x"), (), "sheet sheet:0 keys do not match the schema"),
    ("name a number", set_sheet("name", 1.0), (), "sheet is missing its name"),
    ("contents a string", set_sheet("contents", "x"), (), "sheet is missing contents"),
    ("cell key in A1 form", set_in("styles", "A1", "x"), (), "invalid cell key A1"),
    ("cell key past the sheet", set_in("contents", "0:16384", [0, [2, "x"]]), (), "cell key 0:16384 is out of bounds"),
    ("unknown format", set_in("styles", "0:0", "f" * 64), (), "cell style 0:0 references an unknown format"),
    ("width as text", set_in("colWidths", "3", "wide"), (), "invalid numeric value at 3"),
    ("noncanonical width key", set_in("colWidths", "03", 1.0), (), "noncanonical numeric key 03"),
    ("height past the sheet", set_in("rowHeights", "1048576", 1.0), (), "row height key 1048576 is out of bounds"),
    ("freeze pane of five", set_sheet("freezePane", [1.0, 1.0, 1.0, 1.0, False]), (), "sheet freeze pane must contain six values"),
    ("freeze pane fraction", set_sheet("freezePane", [1.5, 1.0, 1.0, 1.0, False, False]), (), "frozen row count is not a u32"),
    ("merge flag a number", set_sheet("merges", [[0.0, 0.0, 1.0, False, 1.0, 1.0, False, False]]), (),
     "merge start absolute row is not a boolean"),
    ("hyperlinks a list", set_sheet("hyperlinks", []), (), "sheet hyperlinks are not a string"),
    ("charts a number", set_sheet("charts", 0.0), (), "sheet charts are not a string"),
    ("merges removed", set_sheet("merges", pycrdt.Map()), (), "sheet is missing merges"),
]


@pytest.mark.parametrize("name,edit,flags,error", BROKEN, ids=[case[0] for case in BROKEN])
def test_documents_that_break_the_layout_are_refused(styles_book, tmp_path, name, edit, flags, error):
    update, _ = bootstrap(styles_book, tmp_path)
    peer = peer_from(update)
    with peer.transaction():
        edit(peer)
    answer = project(styles_book, peer.get_update(), tmp_path, *flags)
    if error is None:
        assert answer["ok"], answer
    else:
        assert answer == {"ok": False, "error": error}


# --- local edits, undo and redo followed by pycrdt ------------------------------------------------------------


def test_pycrdt_follows_local_edits_undo_and_redo(full_book, tmp_path):
    """Each step's update brings a pycrdt replica to exactly our document."""
    answer = run_tool("edit", full_book, tmp_path)
    assert answer["ok"], answer
    peer = peer_from((tmp_path / "0.bin").read_bytes())
    views = []
    for step, ours in enumerate(answer["steps"], start=1):
        peer.apply_update((tmp_path / f"{step}.bin").read_bytes())
        view = peer_view(peer)
        assert view == ours, f"step {step}"
        views.append(view["xlsx:sheets"]["sheet:0"])
    data = [view["contents"] for view in views]
    assert data[0]["4:0"] == [0, [1, 42]]
    assert views[1]["styles"]["0:0"] != views[0]["styles"].get("0:0")
    assert views[2]["merges"][-1] == [9, 0, False, False, 10, 2, False, False]
    assert "4:0" not in data[3]
    assert data[4]["4:0"] == [0, [1, 42]]  # the clearing undone
    assert views[5]["merges"] == views[1]["merges"]  # the merge undone
    assert views[6]["merges"] == views[2]["merges"]  # and redone
    # A replica of ours built from pycrdt's state projects what we project.
    assert project(full_book, peer.get_update(), tmp_path) == answer["final"]
