"""Collaborative replicas through the module beside pycrdt on the same updates, in one run; prints seconds and
pycrdt's time over ours (above 1: we are faster).

1. 10^4 single-cell updates from a peer, applied one by one (ours: each checked on a scratch replica, integrated,
   recalculated; pycrdt: integrated into a document).
2. One update pasting 10^5 cells.
3. State exchange of a 10^6-cell workbook: one replica's state vector, the other's diff against it, applying
   that diff, and the whole state.

CMX_BENCH_UPDATES, CMX_BENCH_PASTE and CMX_BENCH_STATE_CELLS set the three sizes."""

import io
import os
import time

import cindermantle_xlsx as cx
import pycrdt
import xlsxwriter

COLS = 10


def workbook_bytes(cells, formulas=0):
    out = io.BytesIO()
    book = xlsxwriter.Workbook(out, {"constant_memory": True, "in_memory": True})
    sheet = book.add_worksheet("Data")
    for row in range(cells // COLS):
        for col in range(COLS):
            sheet.write_number(row, col, row * 0.5 + col)
    for row in range(formulas):
        sheet.write_formula(row, COLS, f"=A{row + 1}*2", None, row)
    book.close()
    return out.getvalue()


def peer_of(replica, client_id):
    doc = pycrdt.Doc(client_id=client_id)
    doc.apply_update(replica.state_as_update())
    return doc


def contents(doc):
    return doc.get("xlsx:sheets", type=pycrdt.Map)["sheet:0"]["contents"]


def timed(body):
    start = time.perf_counter()
    result = body()
    return time.perf_counter() - start, result


def report(label, ours, theirs):
    print(f"  {label}: ours {ours:.3f}s, pycrdt {theirs:.3f}s, {theirs / ours:.2f}x")


def single_cell_updates(count):
    data = workbook_bytes(1000, formulas=100)
    replica = cx.Workbook.open_collaborative(data, client_id=1)
    editor = peer_of(replica, 2)
    follower = peer_of(replica, 3)
    updates = []
    for i in range(count):
        before = editor.get_state()
        with editor.transaction():
            contents(editor)[f"{i % 100}:0"] = [0, [1, float(i)]]
        updates.append(editor.get_update(before))
    ours, _ = timed(lambda: [replica.apply_update(u) for u in updates])
    theirs, _ = timed(lambda: [follower.apply_update(u) for u in updates])
    assert replica.value("Data", "K1") == 2 * replica.value("Data", "A1")
    print(f"{count} single-cell remote updates on a 1,100-cell workbook")
    report("apply", ours, theirs)


def remote_paste(cells):
    replica = cx.Workbook.open_collaborative(workbook_bytes(100), client_id=1)
    editor = peer_of(replica, 2)
    follower = peer_of(replica, 3)
    before = editor.get_state()
    with editor.transaction():
        target = contents(editor)
        for i in range(cells):
            target[f"{100 + i // COLS}:{i % COLS}"] = [0, [1, float(i)]]
    update = editor.get_update(before)
    ours, mutation = timed(lambda: replica.apply_update(update))
    theirs, _ = timed(lambda: follower.apply_update(update))
    assert len(mutation.changed) == cells
    print(f"remote paste of {cells} cells ({len(update)} bytes)")
    report("apply", ours, theirs)


def state_exchange(cells):
    data = workbook_bytes(cells)
    opened, source = timed(lambda: cx.Workbook.open_collaborative(data, client_id=1))
    target = cx.Workbook.open_collaborative(data, client_id=2)
    print(f"state exchange of a {cells}-cell workbook (each replica opened in {opened:.2f}s)")
    # The source has one edit the target lacks.
    editor = peer_of(source, 5)
    before = editor.get_state()
    with editor.transaction():
        contents(editor)["0:0"] = [0, [1, -1.0]]
    source.apply_update(editor.get_update(before))

    ours_sv, vector = timed(target.state_vector)
    ours_diff, missing = timed(lambda: source.diff(vector))
    ours_apply, _ = timed(lambda: target.apply_update(missing))
    ours_whole, whole = timed(source.state_as_update)
    assert target.state_vector() == source.state_vector()
    try:
        cx.Workbook.open_collaborative(data, client_id=3).apply_update(whole)
        joined = "joined"
    except cx.InvalidUpdateError as refused:  # a peer's update holds at most 10^6 blocks
        joined = f"refused ({refused})"

    peer_source = pycrdt.Doc(client_id=6)
    peer_source.apply_update(whole)
    peer_target = pycrdt.Doc(client_id=7)
    peer_target.apply_update(target.diff(b"\x00"))
    theirs_sv, their_vector = timed(peer_target.get_state)
    theirs_diff, their_missing = timed(lambda: peer_source.get_update(their_vector))
    theirs_apply, _ = timed(lambda: peer_target.apply_update(their_missing))
    theirs_whole, _ = timed(peer_source.get_update)
    print(f"  ({len(whole)} bytes of state, a diff of {len(missing)} bytes; a fresh replica given the whole state: {joined})")
    report("state vector", ours_sv, theirs_sv)
    report("diff against a peer's state vector", ours_diff, theirs_diff)
    report("apply the diff", ours_apply, theirs_apply)
    report("whole state", ours_whole, theirs_whole)


def main():
    single_cell_updates(int(os.environ.get("CMX_BENCH_UPDATES", "10000")))
    remote_paste(int(os.environ.get("CMX_BENCH_PASTE", "100000")))
    state_exchange(int(os.environ.get("CMX_BENCH_STATE_CELLS", "1000000")))


if __name__ == "__main__":
    main()
