"""Collaborative replicas through the module, with pycrdt (a Yjs implementation) as the editing peer.

Each replica gets its edits from a pycrdt document that joined from the replica's own state and writes cells in the
document's layout; replicas then receive each other's updates in random order, repeated and late, or exchange
state vectors and diffs, and must end with equal values and equal state vectors, holding what a pycrdt document
that followed every update holds. Hostile updates are refused and change nothing."""

import io
import random
import zipfile

import pytest

cx = pytest.importorskip("cindermantle_xlsx")
pycrdt = pytest.importorskip("pycrdt")
openpyxl = pytest.importorskip("openpyxl")
xlsxwriter = pytest.importorskip("xlsxwriter")

MAX = cx.MAX_COLLABORATION_BYTES
ROWS, COLS = 6, 4


@pytest.fixture(scope="module")
def book():
    wb = openpyxl.Workbook()
    data = wb.active
    data.title = "Data"
    data["A1"] = 1
    data["B1"] = "=A1*2"
    data["C1"] = "=SUM(A1:A6)"
    notes = wb.create_sheet("Notes")
    notes["A1"] = "note"
    out = io.BytesIO()
    wb.save(out)
    return out.getvalue()


def varint(value):
    out = bytearray()
    while value >= 0x80:
        out.append(value & 0x7F | 0x80)
        value >>= 7
    out.append(value)
    return bytes(out)


class Editor:
    """A pycrdt replica joined from one of ours; each edit returns its update."""

    def __init__(self, workbook, client_id):
        self.doc = pycrdt.Doc(client_id=client_id)
        self.doc.apply_update(workbook.state_as_update())

    def sheet(self, key):
        return self.doc.get("xlsx:sheets", type=pycrdt.Map)[key]

    def write(self, change, key="sheet:0"):
        before = self.doc.get_state()
        with self.doc.transaction():
            change(self.sheet(key))
        return self.doc.get_update(before)

    def set_number(self, row, col, value, key="sheet:0"):
        return self.write(lambda s: s["contents"].__setitem__(f"{row}:{col}", [0, [1, float(value)]]), key)


def grid(workbook, sheet="Data"):
    return [[workbook.value(sheet, f"{'ABCD'[c]}{r + 1}") for c in range(COLS)] for r in range(ROWS)]


def contents_of(update_or_doc):
    doc = update_or_doc
    if isinstance(update_or_doc, bytes):
        doc = pycrdt.Doc()
        doc.apply_update(update_or_doc)
    return {k: v["contents"].to_py() for k, v in doc.get("xlsx:sheets", type=pycrdt.Map).items()}


def snapshot(workbook):
    return workbook.state_vector(), workbook.version(), grid(workbook), grid(workbook, "Notes")


# --- opening and arguments ---------------------------------------------------------------------------------


def test_open_collaborative_arguments(book):
    five = cx.Workbook.open_collaborative(book, client_id=5)
    assert five.client_id == 5 and five.is_collaborative
    assert five.version().endswith("-0") and len(five.version()) == 34
    drawn = [cx.Workbook.open_collaborative(book).client_id for _ in range(2)]
    assert all(0 <= c < 2**53 for c in drawn) and drawn[0] != drawn[1]
    plain = cx.Workbook.open(book)
    assert not plain.is_collaborative and 0 <= plain.client_id < 2**53
    with pytest.raises(cx.XlsxError, match=f"collaboration client ID {2**53} exceeds {2**53 - 1}"):
        cx.Workbook.open_collaborative(book, client_id=2**53)
    with pytest.raises(OverflowError):
        cx.Workbook.open_collaborative(book, client_id=-1)
    with pytest.raises(TypeError):
        cx.Workbook.open_collaborative(book, client_id=5, now_serial="soon")
    with pytest.raises(TypeError):
        cx.Workbook.open_collaborative(book, client_id=5, recalculate=1)
    recalculated = cx.Workbook.open_collaborative(book, client_id=6, recalculate=True, now_serial=45000)
    assert recalculated.value("Data", "B1") == 2


def test_apply_update_arguments_and_size_limits(book):
    replica = cx.Workbook.open_collaborative(book, client_id=7)
    plain = cx.Workbook.open(book)
    with pytest.raises(TypeError):
        replica.apply_update(bytearray(b"\x00\x00"))
    with pytest.raises(TypeError):
        replica.apply_update(b"\x00\x00", now_serial="x")
    with pytest.raises(cx.NotCollaborativeError, match="remote updates require a collaborative workbook"):
        plain.apply_update(b"")
    for workbook in (replica, plain):
        with pytest.raises(cx.XlsxError) as refused:
            workbook.apply_update(bytes(MAX + 1))
        assert type(refused.value) is cx.XlsxError
    # Exactly the limit reaches the session, which refuses the content.
    with pytest.raises(cx.InvalidUpdateError):
        replica.apply_update(bytes(MAX))
    assert replica.version().endswith("-0")


# --- updates written by pycrdt --------------------------------------------------------------------------------


def test_pycrdt_edits_apply_and_recalculate(book):
    replica = cx.Workbook.open_collaborative(book, client_id=11)
    editor = Editor(replica, 12)
    first = editor.set_number(0, 0, 5)
    formula = editor.write(lambda s: s["contents"].__setitem__("3:1", [1, "A1*3", [1, 0.0]]))
    other = editor.write(lambda s: s["contents"].__setitem__("1:1", [0, [2, "hi"]]), key="sheet:1")
    done = replica.apply_update(first, now_serial=45000)
    assert done and done.applied and done.changed == ["A1", "B1", "C1"]
    assert repr(done) == "Mutation(applied=True, changed=3)"
    assert replica.apply_update(formula).changed == ["B4"]
    assert replica.value("Data", "B4") == 15 and replica.formula("Data", "B4") == "A1*3"
    assert replica.apply_update(other).changed == ["Notes!B2"]
    assert replica.value("Notes", "B2") == "hi"
    again = replica.apply_update(first)
    assert not again and again.changed == [] and repr(again) == "Mutation(applied=False, changed=0)"
    assert replica.version().endswith("-3")
    assert contents_of(replica.state_as_update()) == contents_of(editor.doc)


def test_out_of_order_updates_wait_for_their_predecessors(book):
    replica = cx.Workbook.open_collaborative(book, client_id=21)
    editor = Editor(replica, 22)
    # New cells only: an overwrite would also carry the deletion of the old value, which applies at once.
    chain = [editor.set_number(r, 0, r + 10) for r in range(1, ROWS)]
    for update in reversed(chain[1:]):
        assert not replica.apply_update(update)
        assert replica.apply_update(update).changed == []  # a repeat replaces its queued copy
    assert replica.value("Data", "A3") is None
    done = replica.apply_update(chain[0])
    # B1 had no cached result in the file; the first integration recalculates it.
    assert done.changed == ["B1", "C1"] + [f"A{r + 1}" for r in range(1, ROWS)]
    assert [row[0] for row in grid(replica)] == [1] + [r + 10 for r in range(1, ROWS)]
    assert replica.value("Data", "C1") == 1 + sum(r + 10 for r in range(1, ROWS))
    assert contents_of(replica.state_as_update()) == contents_of(editor.doc)


def test_an_overwrite_applies_its_deletion_before_its_predecessor_arrives(book):
    replica = cx.Workbook.open_collaborative(book, client_id=23)
    editor = Editor(replica, 24)
    first = editor.set_number(5, 0, 1)
    overwrite = editor.set_number(0, 0, 9)  # replaces A1 = 1
    partial = replica.apply_update(overwrite)
    assert partial.changed == ["A1", "B1", "C1"] and replica.value("Data", "A1") is None
    assert replica.apply_update(first).changed == ["A1", "B1", "C1", "A6"]
    assert replica.value("Data", "B1") == 18 and replica.value("Data", "C1") == 10


# --- replicas converging ---------------------------------------------------------------------------------------


@pytest.mark.parametrize("seed", range(6))
def test_three_replicas_converge_in_any_delivery_order(book, seed):
    rng = random.Random(seed)
    replicas = [cx.Workbook.open_collaborative(book, client_id=100 + i) for i in range(3)]
    editors = [Editor(r, 200 + i) for i, r in enumerate(replicas)]
    messages = []
    for editor in editors:
        for _ in range(5):
            # Conflicting writes on a small grid, each editor building on its own earlier edits.
            row, col = rng.randrange(ROWS), rng.choice((0, 3))
            messages.append(editor.set_number(row, col, rng.randrange(1000)))
        if rng.random() < 0.5:
            messages.append(editor.write(lambda s: s["contents"].pop(f"{rng.randrange(ROWS)}:0", None)))
    for replica in replicas:
        delivery = messages + rng.sample(messages, 4)  # duplicates
        rng.shuffle(delivery)
        for update in delivery:
            replica.apply_update(update)
    follower = pycrdt.Doc()
    follower.apply_update(replicas[0].state_as_update())
    for update in messages:
        follower.apply_update(update)
    first = replicas[0]
    for replica in replicas:
        assert replica.state_vector() == first.state_vector()
        assert grid(replica) == grid(first) and grid(replica, "Notes") == grid(first, "Notes")
        assert contents_of(replica.state_as_update()) == contents_of(follower)
    # The formula cells were recalculated from the merged values.
    column = [row[0] for row in grid(first)]
    assert first.value("Data", "B1") == 2 * (column[0] or 0)
    assert first.value("Data", "C1") == sum(v or 0 for v in column)


def test_two_replicas_exchange_diffs_after_concurrent_edits(book):
    left = cx.Workbook.open_collaborative(book, client_id=31)
    right = cx.Workbook.open_collaborative(book, client_id=32)
    left_editor, right_editor = Editor(left, 33), Editor(right, 34)
    assert left.apply_update(left_editor.set_number(0, 0, 3))
    assert left.apply_update(left_editor.set_number(2, 0, 4))
    assert right.apply_update(right_editor.set_number(0, 0, 7))
    assert right.apply_update(right_editor.set_number(5, 0, 8))
    assert left.state_vector() != right.state_vector()
    to_right = left.diff(right.state_vector())
    to_left = left.diff(state_vector=b"\x00") and right.diff(left.state_vector())
    assert right.apply_update(to_right) and left.apply_update(to_left)
    assert left.state_vector() == right.state_vector()
    assert grid(left) == grid(right)
    assert left.value("Data", "A1") in (3, 7) and left.value("Data", "C1") == left.value("Data", "A1") + 12
    # Nothing left to send either way.
    assert not left.apply_update(right.diff(left.state_vector()))


def test_a_fresh_replica_adopts_a_peers_whole_document(book):
    source = cx.Workbook.open_collaborative(book, client_id=41)
    source.apply_update(Editor(source, 42).set_number(1, 0, 9))
    fresh = cx.Workbook.open_collaborative(book, client_id=43)
    version = fresh.version()
    adopted = fresh.apply_update(source.state_as_update())
    # B1 and C1 had no cached results in the file: the adopted model is recalculated.
    assert adopted.changed == ["B1", "C1", "A2"]
    assert fresh.version() != version and fresh.version().endswith("-0")
    assert fresh.client_id == 43 and grid(fresh) == grid(source)
    assert fresh.state_vector() == source.state_vector()


def test_a_fresh_replica_joins_the_whole_state_of_a_large_workbook():
    rows, cols = 2500, 100  # 250,000 number cells, several values each in the document
    wb = openpyxl.Workbook(write_only=True)
    data = wb.create_sheet("Data")
    for r in range(rows):
        data.append([r * cols + c + 0.5 for c in range(cols)])
    out = io.BytesIO()
    wb.save(out)
    source = cx.Workbook.open_collaborative(out.getvalue(), client_id=71)
    fresh = cx.Workbook.open_collaborative(out.getvalue(), client_id=72)
    source.set("Data", "A1", "-1")
    state = source.state_as_update()
    assert len(state) > 10_000_000
    fresh.apply_update(state)
    assert fresh.state_vector() == source.state_vector()
    assert fresh.value("Data", "A1") == -1
    assert fresh.value("Data", "CV2500") == rows * cols - 0.5
    peer = pycrdt.Doc()
    peer.apply_update(state)
    contents = peer.get("xlsx:sheets", type=pycrdt.Map)["sheet:0"]["contents"]
    assert len(contents) == rows * cols
    assert contents["0:0"] == [0, [1, -1.0]]
    # A value count that the bytes cannot carry is still refused before anything is read for it.
    for declared in (2**31, 3_000_000):
        hostile = varint(1) + varint(1) + varint(999) + varint(0) + bytes([0x08, 1, 1, ord("m"), 1, 117])
        hostile += varint(declared) + b"\x7e" * 2_000_000 + b"\x00"
        with pytest.raises(cx.InvalidUpdateError, match="update array length exceeds its payload"):
            fresh.apply_update(hostile)
    assert fresh.state_vector() == source.state_vector()


def test_saves_after_peer_edits_and_undo_patch_the_source_sheet():
    """Remote updates and undo leave the sheet structure alone, so a save patches the edited cells only."""
    out = io.BytesIO()
    source = xlsxwriter.Workbook(out)
    sheet = source.add_worksheet("Data")
    sheet.set_column(2, 2, 14, source.add_format({"bold": True}), {"level": 1})
    sheet.write_number("A1", 1)
    sheet.write_rich_string("C2", "plain ", source.add_format({"italic": True}), "italic")
    source.close()
    data = out.getvalue()

    def cols_of(saved):
        with zipfile.ZipFile(io.BytesIO(saved)) as archive:
            part = archive.read("xl/worksheets/sheet1.xml").decode()
        return part[part.index("<cols>"):part.index("</cols>")]

    replica = cx.Workbook.open_collaborative(data, client_id=51)
    assert replica.apply_update(Editor(replica, 52).set_number(0, 0, 5))
    replica.set("Data", "B1", "7")
    assert replica.undo()
    saved = replica.save()
    assert cols_of(saved) == cols_of(data) and 'outlineLevel="1"' in cols_of(saved)
    read = openpyxl.load_workbook(io.BytesIO(saved), rich_text=True)["Data"]
    assert read["A1"].value == 5 and read["B1"].value is None
    assert read.column_dimensions["C"].outline_level == 1 and read.column_dimensions["C"].font.b
    assert [getattr(run, "text", run) for run in read["C2"].value] == ["plain ", "italic"]


# --- hostile input ------------------------------------------------------------------------------------------------


def test_hostile_updates_are_refused_and_change_nothing(book):
    replica = cx.Workbook.open_collaborative(book, client_id=51)
    editor = Editor(replica, 52)
    replica.apply_update(editor.set_number(0, 0, 2))
    good = Editor(replica, 53).set_number(1, 1, 3)
    cases = [
        (b"", cx.InvalidUpdateError),
        (good[:-2], cx.InvalidUpdateError),
        (good + b"\x00", cx.InvalidUpdateError),
        (varint(65537) + bytes(200000), cx.InvalidUpdateError),  # more clients than an update may hold
        (Editor(replica, 54).write(lambda s: s["contents"].__setitem__("0:2", "broken")), cx.CollaborativeStateError),
        (Editor(replica, 55).write(lambda s: s.__setitem__("name", "Renamed")), cx.XlsxError),
        (Editor(replica, 56).write(lambda s: s.__setitem__("merges", [[3.0, 0.0, False, False, 4.0, 1.0, False, False]])),
         cx.XlsxError),
        # A peer writing under the replica's own client id takes clocks the replica's next edit would use.
        (Editor(replica, 51).set_number(2, 2, 9), cx.InvalidUpdateError,
         "update holds items of this replica's client 51 beyond its clock"),
    ]
    before = snapshot(replica)
    for update, error, *text in cases:
        with pytest.raises(error, match=text[0] if text else None) as refused:
            replica.apply_update(update)
        if error is cx.XlsxError:
            assert type(refused.value) is cx.XlsxError
            assert "remote update changes the frozen workbook structure" in str(refused.value)
        assert snapshot(replica) == before


@pytest.mark.parametrize(
    "vector,text",
    [
        (b"", "state vector is empty"),
        (b"\x80", "invalid state vector entry count"),
        (varint(65537) + bytes(140000), "65537 entries, exceeds the 65536-entry limit"),
        (b"\x02\x01\x01", "entry count exceeds its payload"),
        (b"\x01" + varint(2**53) + b"\x00", "client ID exceeds the 53-bit Yjs limit"),
        (b"\x02\x07\x01\x07\x02", "duplicate client"),
        (b"\x01\x07" + varint(2**31), "clock exceeds the supported i32 range"),
        (b"\x01\x07\x01\x00", "trailing bytes"),
    ],
)
def test_diff_refuses_malformed_state_vectors(book, vector, text):
    replica = cx.Workbook.open_collaborative(book, client_id=61)
    with pytest.raises(cx.XlsxError, match=text) as refused:
        replica.diff(vector)
    assert type(refused.value) is cx.XlsxError
    with pytest.raises(TypeError):
        replica.diff(bytearray(b"\x00"))
    with pytest.raises(cx.XlsxError):
        replica.diff(bytes(MAX + 1))
