"""The Yjs document library against pycrdt (a Yjs implementation).

The library is reached through the test-only driver tests/cpp/crdt/crdt_tool,
built by CMake into $CMX_BUILD_DIR (default build/release); pycrdt applies the
updates the driver prints and must read back the same content.
"""
import os
import struct
import subprocess
from pathlib import Path

import pytest

pycrdt = pytest.importorskip("pycrdt")

ROOT = Path(__file__).resolve().parents[2]
BUILD = Path(os.environ.get("CMX_BUILD_DIR", ROOT / "build" / "release"))
if not BUILD.is_absolute():
    BUILD = ROOT / BUILD
TOOL = BUILD / "tests" / "cpp" / "crdt" / "crdt_tool"

pytestmark = pytest.mark.skipif(not TOOL.exists(), reason=f"crdt_tool not built at {TOOL}")


class Num:
    """A number (64-bit float) value, as opposed to a Python int (an integer)."""

    def __init__(self, value):
        self.value = float(value)


def var_uint(n):
    out = bytearray()
    while n > 0x7F:
        out.append(0x80 | (n & 0x7F))
        n >>= 7
    out.append(n)
    return bytes(out)


def any_bytes(value):
    """lib0 Any encoding of a test value (floats and Num as float64, ints as 64-bit integers)."""
    if value is None:
        return b"\x7e"
    if value is True:
        return b"\x78"
    if value is False:
        return b"\x79"
    if isinstance(value, Num):
        return b"\x7b" + struct.pack(">d", value.value)
    if isinstance(value, float):
        return b"\x7b" + struct.pack(">d", value)
    if isinstance(value, int):
        return b"\x7a" + struct.pack(">q", value)
    if isinstance(value, str):
        raw = value.encode()
        return b"\x77" + var_uint(len(raw)) + raw
    if isinstance(value, bytes):
        return b"\x74" + var_uint(len(value)) + value
    if isinstance(value, list):
        return b"\x75" + var_uint(len(value)) + b"".join(any_bytes(v) for v in value)
    if isinstance(value, dict):
        out = b"\x76" + var_uint(len(value))
        for key, item in value.items():
            raw = key.encode()
            out += var_uint(len(raw)) + raw + any_bytes(item)
        return out
    raise TypeError(value)


def hx(text):
    return text.encode().hex() if text else "-"


def read_var_uint(data, pos):
    shift = value = 0
    while True:
        byte = data[pos]
        pos += 1
        value |= (byte & 0x7F) << shift
        shift += 7
        if byte < 0x80:
            return value, pos


def decode_sv(data):
    count, pos = read_var_uint(data, 0)
    out = {}
    for _ in range(count):
        client, pos = read_var_uint(data, pos)
        clock, pos = read_var_uint(data, pos)
        out[client] = clock
    assert pos == len(data)
    return out


class Tool:
    """One driver process; each request line that prints gets one answer line."""

    def __init__(self):
        self.proc = subprocess.Popen(
            [str(TOOL)], stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True
        )

    def send(self, *words):
        self.proc.stdin.write(" ".join(str(w) for w in words) + "\n")
        self.proc.stdin.flush()

    def ask(self, *words):
        self.send(*words)
        line = self.proc.stdout.readline().strip()
        assert line, "crdt_tool stopped"
        return line

    def mset(self, doc, root, path, key, value):
        self.send("mset", doc, hx(root), ",".join(k.encode().hex() for k in path) or "-", hx(key), any_bytes(value).hex())

    def close(self):
        self.proc.stdin.close()
        assert self.proc.wait(timeout=30) == 0


@pytest.fixture
def tool():
    t = Tool()
    yield t
    t.close()


def peer_from(*updates):
    doc = pycrdt.Doc()
    for update in updates:
        doc.apply_update(bytes.fromhex(update) if isinstance(update, str) else update)
    return doc


VALUES = {
    "text": "h\u00e9llo \U0001F600",
    "empty": "",
    "half": 2.5,
    "tenth": 0.1,
    "whole number": Num(3),
    "negative number": Num(-1e300),
    "big integer": 2**60 + 1,
    "min integer": -(2**63),
    "yes": True,
    "no": False,
    "nothing": None,
    "nested any": ["a", Num(1), {"k": [None, 0.25, {"deep": "v"}]}],
}


def py_value(value):
    if isinstance(value, Num):
        return value.value
    if isinstance(value, list):
        return [py_value(v) for v in value]
    if isinstance(value, dict):
        return {k: py_value(v) for k, v in value.items()}
    return value


def build_workbook_like(tool, doc="d", client=4242):
    tool.send("doc", doc, client)
    tool.send("begin", doc, hx("xlsx:bootstrap"))
    for key, value in VALUES.items():
        tool.mset(doc, "m", [], key, value)
    tool.send("mmap", doc, hx("sheets"), "-", hx("sheet:0"))
    tool.mset(doc, "sheets", ["sheet:0"], "name", "Sheet1")
    tool.mset(doc, "sheets", ["sheet:0", "contents"], "0:0", [0, [1, Num(2.5)]])
    tool.mset(doc, "sheets", ["sheet:0", "contents"], "0:1", [1, "SUM(A1)", [1, Num(7)]])
    tool.send("ains", doc, hx("order"), 0, any_bytes(["sheet:0", "sheet:1", "sheet:2"]).hex())
    tool.send("commit", doc)


def expected_workbook_like():
    return {
        "m": {key: py_value(value) for key, value in VALUES.items()},
        "sheets": {"sheet:0": {"name": "Sheet1", "contents": {"0:0": [0, [1, 2.5]], "0:1": [1, "SUM(A1)", [1, 7.0]]}}},
        "order": ["sheet:0", "sheet:1", "sheet:2"],
    }


def read_back(doc):
    return {
        "m": doc.get("m", type=pycrdt.Map).to_py(),
        "sheets": doc.get("sheets", type=pycrdt.Map).to_py(),
        "order": doc.get("order", type=pycrdt.Array).to_py(),
    }


def test_whole_state_reads_back_in_pycrdt(tool):
    build_workbook_like(tool)
    peer = peer_from(tool.ask("update", "d"))
    got = read_back(peer)
    assert got == expected_workbook_like()
    m = peer.get("m", type=pycrdt.Map)
    # Kinds as pycrdt sees them: numbers are floats, integers beyond the
    # doubles' exact range stay ints, nested maps are shared maps.
    assert type(m["half"]) is float and type(m["whole number"]) is float
    assert type(m["big integer"]) is int and m["big integer"] == 2**60 + 1
    assert m["min integer"] == -(2**63)
    assert isinstance(peer.get("sheets", type=pycrdt.Map)["sheet:0"], pycrdt.Map)
    assert isinstance(peer.get("sheets", type=pycrdt.Map)["sheet:0"]["contents"], pycrdt.Map)


def test_state_vector_matches_after_sync(tool):
    build_workbook_like(tool, "a", 11)
    tool.send("doc", "b", 9007199254740991)
    tool.mset("b", "other", [], "k", "v")
    tool.mset("b", "other", [], "k", "w")
    peer = peer_from(tool.ask("update", "a"), tool.ask("update", "b"))
    sv_a, sv_b = tool.ask("sv", "a"), tool.ask("sv", "b")
    assert decode_sv(peer.get_state()) == {**decode_sv(bytes.fromhex(sv_a)), **decode_sv(bytes.fromhex(sv_b))}
    single = peer_from(tool.ask("update", "a"))
    assert single.get_state().hex() == sv_a
    assert peer.get("other", type=pycrdt.Map).to_py() == {"k": "w"}


def test_diffs_against_the_peers_state_vector(tool):
    tool.send("doc", "d", 77)
    tool.send("ains", "d", hx("order"), 0, any_bytes(["a", "b"]).hex())
    tool.mset("d", "m", [], "keep", "1")
    tool.mset("d", "m", [], "drop", "2")
    peer = peer_from(tool.ask("update", "d"))
    # Appending to the array merges into the item the peer already has half
    # of: the diff slices it. Overwrites and removals travel in the delete set.
    tool.send("ains", "d", hx("order"), 2, any_bytes(["c"]).hex())
    tool.send("mdel", "d", hx("m"), "-", hx("drop"))
    tool.mset("d", "m", [], "keep", {"v": Num(1)})
    tool.send("mmap", "d", hx("m"), "-", hx("nested"))
    tool.mset("d", "m", ["nested"], "x", 2**62)
    diff = tool.ask("diff", "d", peer.get_state().hex())
    peer.apply_update(bytes.fromhex(diff))
    assert peer.get("order", type=pycrdt.Array).to_py() == ["a", "b", "c"]
    assert peer.get("m", type=pycrdt.Map).to_py() == {"keep": {"v": 1.0}, "nested": {"x": 2**62}}
    assert peer.get_state().hex() == tool.ask("sv", "d")
    # Nothing is left to send: only the (already known) delete set.
    rest = bytes.fromhex(tool.ask("diff", "d", peer.get_state().hex()))
    assert rest[0] == 0
    fresh = peer_from(tool.ask("update", "d"))
    assert fresh.get("m", type=pycrdt.Map).to_py() == peer.get("m", type=pycrdt.Map).to_py()


def test_empty_document_update_is_two_zero_bytes(tool):
    tool.send("doc", "e", 1)
    assert tool.ask("update", "e") == "0000"
    assert tool.ask("sv", "e") == "00"
    assert pycrdt.Doc().get_update().hex() == "0000"


def test_malformed_state_vector_is_refused(tool):
    tool.send("doc", "e", 1)
    assert tool.ask("diff", "e", "0201") .startswith("error: declared length 2")
    assert tool.ask("diff", "e", "010101ff") == "error: state vector contains trailing bytes"


def run_script():
    t = Tool()
    build_workbook_like(t, "d", 31337)
    for step in range(30):
        t.mset("d", "m", ["n%d" % (step % 4)], "k%d" % (step % 5), Num(step) if step % 2 else step)
        t.send("ains", "d", hx("order"), step % 3, any_bytes(["s%d" % step]).hex())
        if step % 5 == 4:
            t.send("adel", "d", hx("order"), 1, 2)
    out = t.ask("update", "d"), t.ask("sv", "d")
    t.close()
    return out


def test_same_edits_give_identical_bytes_on_every_run():
    first = run_script()
    assert run_script() == first
    peer = peer_from(first[0])
    assert peer.get_state().hex() == first[1]


def random_session(seed, delete_from_arrays, steps=60):
    """The same random edits on our document and on a pycrdt document with the
    same client id; returns our update and pycrdt's document."""
    import random

    rng = random.Random(seed)
    tool = Tool()
    tool.send("doc", "d", 99)
    doc = pycrdt.Doc(client_id=99)
    m = doc.get("m", type=pycrdt.Map)
    arr = doc.get("a", type=pycrdt.Array)
    nested = set()
    for _ in range(steps):
        tool.send("begin", "d", "-")
        with doc.transaction():
            for _ in range(rng.randint(1, 4)):
                kind = rng.random()
                if kind < 0.3:
                    key, val = "k%d" % rng.randint(0, 5), "v%d" % rng.randint(0, 99)
                    tool.mset("d", "m", [], key, val)
                    m[key] = val
                elif kind < 0.4:
                    key = "k%d" % rng.randint(0, 5)
                    tool.send("mdel", "d", hx("m"), "-", hx(key))
                    if key in m:
                        del m[key]
                elif kind < 0.5:
                    key = "n%d" % rng.randint(0, 2)
                    tool.send("mmap", "d", hx("m"), "-", hx(key))
                    m[key] = pycrdt.Map()
                    nested.add(key)
                elif kind < 0.6 and nested:
                    key = rng.choice(sorted(nested))
                    if isinstance(m.get(key), pycrdt.Map):
                        sub, val = "s%d" % rng.randint(0, 3), "w%d" % rng.randint(0, 9)
                        tool.mset("d", "m", [key], sub, val)
                        m[key][sub] = val
                elif kind < 0.85 or not delete_from_arrays or len(arr) == 0:
                    idx = rng.randint(0, len(arr))
                    vals = ["e%d" % rng.randint(0, 99) for _ in range(rng.randint(1, 3))]
                    tool.send("ains", "d", hx("a"), idx, any_bytes(vals).hex())
                    arr[idx:idx] = vals
                else:
                    idx = rng.randint(0, len(arr) - 1)
                    count = rng.randint(1, min(3, len(arr) - idx))
                    tool.send("adel", "d", hx("a"), idx, count)
                    del arr[idx:idx + count]
        tool.send("commit", "d")
    ours = tool.ask("update", "d")
    tool.close()
    return ours, doc


@pytest.mark.parametrize("seed", range(12))
def test_random_edits_give_pycrdts_exact_bytes(seed):
    # Map writes, removals, nested maps and their collection, array inserts
    # with splits and merges: the same bytes as pycrdt under the same client.
    ours, doc = random_session(seed, delete_from_arrays=False)
    assert ours == doc.get_update().hex()


@pytest.mark.parametrize("seed", range(12))
def test_random_edits_with_array_deletions_read_back_the_same(seed):
    # After array deletions the two place an insert at a boundary on different
    # sides of deleted items (we follow the JavaScript implementation), so only
    # the content is compared.
    ours, doc = random_session(seed, delete_from_arrays=True)
    peer = peer_from(ours)
    assert peer.get("m", type=pycrdt.Map).to_py() == doc.get("m", type=pycrdt.Map).to_py()
    assert peer.get("a", type=pycrdt.Array).to_py() == doc.get("a", type=pycrdt.Array).to_py()
    assert peer.get_state() == doc.get_state()
