"""Applying remote updates: our library (through tests/cpp/crdt/crdt_tool)
takes pycrdt's updates, in order and out of order, and replicas of both kinds
converge under random edits and random delivery schedules."""
import random
import struct

import pytest

from test_crdt_peer import TOOL, Num, Tool, any_bytes, decode_sv, hx

pycrdt = pytest.importorskip("pycrdt")

pytestmark = pytest.mark.skipif(not TOOL.exists(), reason=f"crdt_tool not built at {TOOL}")


def read_any(data, pos=0):
    """Decodes one lib0 Any value; returns (value, next position)."""

    def var_uint(pos):
        shift = value = 0
        while True:
            byte = data[pos]
            pos += 1
            value |= (byte & 0x7F) << shift
            shift += 7
            if byte < 0x80:
                return value, pos

    tag = data[pos]
    pos += 1
    if tag in (126, 127):
        return None, pos
    if tag == 120:
        return True, pos
    if tag == 121:
        return False, pos
    if tag == 123:
        return struct.unpack(">d", data[pos:pos + 8])[0], pos + 8
    if tag == 124:
        return struct.unpack(">f", data[pos:pos + 4])[0], pos + 4
    if tag == 122:
        return struct.unpack(">q", data[pos:pos + 8])[0], pos + 8
    if tag == 125:
        byte = data[pos]
        pos += 1
        value, negative, shift = byte & 0x3F, byte & 0x40, 6
        while byte & 0x80:
            byte = data[pos]
            pos += 1
            value |= (byte & 0x7F) << shift
            shift += 7
        return (-value if negative else value), pos
    if tag == 119:
        size, pos = var_uint(pos)
        return data[pos:pos + size].decode(), pos + size
    if tag == 116:
        size, pos = var_uint(pos)
        return bytes(data[pos:pos + size]), pos + size
    if tag == 117:
        size, pos = var_uint(pos)
        out = []
        for _ in range(size):
            value, pos = read_any(data, pos)
            out.append(value)
        return out, pos
    if tag == 118:
        size, pos = var_uint(pos)
        out = {}
        for _ in range(size):
            length, pos = var_uint(pos)
            key = data[pos:pos + length].decode()
            value, pos = read_any(data, pos + length)
            out[key] = value
        return out, pos
    raise ValueError(f"tag {tag}")


def dump(tool, doc, root, kind):
    value, pos = read_any(bytes.fromhex(tool.ask("dump", doc, hx(root), kind)))
    return value


def apply(tool, doc, update):
    answer = tool.ask("apply", doc, update.hex() if update else "-")
    assert answer == "ok", answer


def pending(tool, doc):
    return tool.ask("pending", doc) == "1"


def sv(tool, doc):
    return decode_sv(bytes.fromhex(tool.ask("sv", doc)))


def recording_peer(client_id):
    doc = pycrdt.Doc(client_id=client_id)
    updates = []
    doc.observe(lambda event: updates.append(event.update))
    return doc, updates


@pytest.fixture
def tool():
    t = Tool()
    yield t
    t.close()


def test_we_read_pycrdts_nested_maps_and_array_edits(tool):
    peer, updates = recording_peer(7)
    m = peer.get("m", type=pycrdt.Map)
    arr = peer.get("a", type=pycrdt.Array)
    with peer.transaction():
        m["name"] = "Sheet1"
        m["width"] = 12.5
        m["sheet"] = pycrdt.Map()
        m["sheet"]["contents"] = pycrdt.Map()
        m["sheet"]["contents"]["0:0"] = [0, [1, 2.5]]
        arr.extend(["a", "b", "c", "d", "e"])
    with peer.transaction():
        del arr[1:3]
        arr.insert(1, "x")
        arr.insert(0, pycrdt.Map())
        arr[0]["k"] = "v"
        m["width"] = 14.0
        del m["name"]
    with peer.transaction():
        m["sheet"]["contents"]["0:1"] = "late"
        del m["sheet"]["contents"]["0:0"]
    tool.send("doc", "d", 1)
    for update in updates:
        apply(tool, "d", update)
    assert dump(tool, "d", "m", "m") == m.to_py()
    assert dump(tool, "d", "a", "a") == arr.to_py() == [{"k": "v"}, "a", "x", "d", "e"]
    assert sv(tool, "d") == decode_sv(peer.get_state())
    assert not pending(tool, "d")
    # Our re-encoding reads back the same in a fresh pycrdt document.
    fresh = pycrdt.Doc()
    fresh.apply_update(bytes.fromhex(tool.ask("update", "d")))
    assert fresh.get("m", type=pycrdt.Map).to_py() == m.to_py()
    assert fresh.get("a", type=pycrdt.Array).to_py() == arr.to_py()


def test_deletions_of_items_we_do_not_know_yet_wait(tool):
    peer, updates = recording_peer(7)
    arr = peer.get("a", type=pycrdt.Array)
    arr.extend(["a", "b", "c", "d"])
    del arr[1:3]
    assert len(updates) == 2
    tool.send("doc", "d", 1)
    apply(tool, "d", updates[1])
    assert pending(tool, "d")
    assert dump(tool, "d", "a", "a") == []
    apply(tool, "d", updates[0])
    assert not pending(tool, "d")
    assert dump(tool, "d", "a", "a") == ["a", "d"]


@pytest.mark.parametrize("seed", range(6))
def test_out_of_order_delivery_waits_until_the_gap_closes(tool, seed):
    rng = random.Random(seed)
    peer, updates = recording_peer(7)
    other, other_updates = recording_peer(8)
    m = peer.get("m", type=pycrdt.Map)
    arr = peer.get("a", type=pycrdt.Array)
    for step in range(12):
        with peer.transaction():
            if step % 3 == 0:
                m[f"n{step}"] = pycrdt.Map()
            else:
                m[f"n{step - step % 3}"][f"k{step}"] = f"v{step}"
            arr.insert(rng.randint(0, len(arr)), f"e{step}")
            if step % 4 == 3:
                del arr[rng.randint(0, len(arr) - 1)]
        # A second client works on what it has seen, so its items depend on
        # the first client's.
        if step % 2 == 1:
            other.apply_update(peer.get_update(other.get_state()))
            oarr = other.get("a", type=pycrdt.Array)
            oarr.insert(rng.randint(0, len(oarr)), f"o{step}")
    peer.apply_update(other.get_update(peer.get_state()))
    messages = [u for u in updates if u] + [u for u in other_updates if u]
    shuffled = messages[:]
    rng.shuffle(shuffled)
    tool.send("doc", "d", 1)
    for idx, update in enumerate(shuffled):
        apply(tool, "d", update)
    assert not pending(tool, "d")
    assert dump(tool, "d", "m", "m") == m.to_py()
    assert dump(tool, "d", "a", "a") == arr.to_py()
    assert sv(tool, "d") == decode_sv(peer.get_state())


def test_concurrent_sets_of_one_key_end_with_one_winner(tool):
    tool.send("doc", "r10", 10)
    tool.send("doc", "r30", 30)
    peer = pycrdt.Doc(client_id=20)
    peer.get("m", type=pycrdt.Map)["k"] = "from 20"
    tool.mset("r10", "m", [], "k", "from 10")
    tool.mset("r30", "m", [], "k", "from 30")
    for name in ("r10", "r30"):
        apply(tool, name, peer.get_update())
        peer.apply_update(bytes.fromhex(tool.ask("update", name)))
    apply(tool, "r10", bytes.fromhex(tool.ask("update", "r30")))
    apply(tool, "r30", bytes.fromhex(tool.ask("update", "r10")))
    assert peer.get("m", type=pycrdt.Map).to_py() == {"k": "from 30"}
    for name in ("r10", "r30"):
        assert dump(tool, name, "m", "m") == {"k": "from 30"}
        assert sv(tool, name) == decode_sv(peer.get_state())


class Replicas:
    """Our replicas (names) and one pycrdt replica, with messages in flight."""

    def __init__(self, tool, rng, ours):
        self.tool, self.rng, self.ours = tool, rng, ours
        for idx, name in enumerate(ours):
            tool.send("doc", name, 100 + idx * 7)
        self.peer = pycrdt.Doc(client_id=103)
        self.names = ours + ["peer"]
        self.in_flight = []
        # What each replica has already broadcast of its own state.
        self.sent = {name: self.state(name) for name in self.names}

    def state(self, name):
        return self.peer.get_state() if name == "peer" else bytes.fromhex(self.tool.ask("sv", name))

    def diff(self, src, dst_state):
        if src == "peer":
            return self.peer.get_update(dst_state)
        return bytes.fromhex(self.tool.ask("diff", src, dst_state.hex()))

    def deliver(self, dst, update):
        if dst == "peer":
            self.peer.apply_update(update)
        else:
            apply(self.tool, dst, update)

    def array(self, name):
        if name == "peer":
            return self.peer.get("a", type=pycrdt.Array).to_py()
        return dump(self.tool, name, "a", "a")

    def edit(self, name):
        rng, tool = self.rng, self.tool
        kind = rng.random()
        key = f"k{rng.randint(0, 4)}"
        if name == "peer":
            m = self.peer.get("m", type=pycrdt.Map)
            arr = self.peer.get("a", type=pycrdt.Array)
        if kind < 0.25:
            value = rng.choice([f"v{rng.randint(0, 99)}", float(rng.randint(0, 9)) + 0.5])
            if name == "peer":
                m[key] = value
            else:
                tool.mset(name, "m", [], key, Num(value) if isinstance(value, float) else value)
        elif kind < 0.35:
            if name == "peer":
                if key in m:
                    del m[key]
            else:
                tool.send("mdel", name, hx("m"), "-", hx(key))
        elif kind < 0.5:
            nested, sub, value = f"n{rng.randint(0, 1)}", f"s{rng.randint(0, 2)}", f"w{rng.randint(0, 9)}"
            if name == "peer":
                if not isinstance(m.get(nested), pycrdt.Map):
                    m[nested] = pycrdt.Map()
                m[nested][sub] = value
            else:
                tool.mset(name, "m", [nested], sub, value)
        else:
            length = len(self.array(name))
            if kind < 0.8 or length == 0:
                idx = rng.randint(0, length)
                values = [f"e{rng.randint(0, 999)}" for _ in range(rng.randint(1, 3))]
                if name == "peer":
                    arr[idx:idx] = values
                else:
                    tool.send("ains", name, hx("a"), idx, any_bytes(values).hex())
            elif kind < 0.85:
                idx = rng.randint(0, length)
                if name == "peer":
                    arr.insert(idx, pycrdt.Map())
                    arr[idx]["in"] = "array"
                else:
                    tool.send("amap", name, hx("a"), idx)
                    # our driver cannot write into an array's map; leave it empty
            else:
                idx = rng.randint(0, length - 1)
                count = rng.randint(1, min(3, length - idx))
                if name == "peer":
                    del arr[idx:idx + count]
                else:
                    tool.send("adel", name, hx("a"), idx, count)

    def step(self):
        rng = self.rng
        action = rng.random()
        if action < 0.45:
            self.edit(rng.choice(self.names))
        elif action < 0.65:
            src, dst = rng.sample(self.names, 2)
            # Computed now, delivered later: updates overtake each other.
            self.in_flight.append((dst, self.diff(src, self.state(dst))))
        elif action < 0.8:
            # What a replica learnt since its last broadcast, to everyone: it
            # may depend on items a receiver has not seen yet.
            src = rng.choice(self.names)
            update = self.diff(src, self.sent[src])
            self.sent[src] = self.state(src)
            for dst in self.names:
                if dst != src:
                    self.in_flight.append((dst, update))
        elif self.in_flight:
            dst, update = self.in_flight.pop(rng.randrange(len(self.in_flight)))
            self.deliver(dst, update)

    def settle(self):
        self.rng.shuffle(self.in_flight)
        for dst, update in self.in_flight:
            self.deliver(dst, update)
        self.in_flight = []
        for _ in range(2):
            for src in self.names:
                for dst in self.names:
                    if src != dst:
                        self.deliver(dst, self.diff(src, self.state(dst)))


def run_schedule(tool, seed):
    """Random edits and deliveries, then full synchronisation; checks that
    every replica ends equal to pycrdt's and returns whether any of ours had
    to wait for missing predecessors on the way."""
    rng = random.Random(seed)
    replicas = Replicas(tool, rng, ["r0", "r1"] if seed % 2 else ["r0", "r1", "r2"])
    waited = False
    for _ in range(150):
        replicas.step()
        waited = waited or any(pending(tool, name) for name in replicas.ours)
    replicas.settle()
    peer = replicas.peer
    want_map = peer.get("m", type=pycrdt.Map).to_py()
    want_array = peer.get("a", type=pycrdt.Array).to_py()
    want_sv = decode_sv(peer.get_state())
    for name in replicas.ours:
        assert not pending(tool, name)
        assert dump(tool, name, "m", "m") == want_map
        assert dump(tool, name, "a", "a") == want_array
        assert sv(tool, name) == want_sv
    return waited


@pytest.mark.parametrize("seed", range(16))
def test_random_replicas_and_schedules_converge_with_pycrdt(tool, seed):
    run_schedule(tool, seed)


def test_random_schedules_make_replicas_wait(tool):
    # The schedules do exercise out-of-order delivery.
    assert sum(run_schedule(tool, seed) for seed in range(100, 106)) >= 3


@pytest.mark.parametrize("seed", range(6))
def test_each_transactions_update_is_pycrdts(tool, seed):
    # The same edits under the same client id: every transaction's own update
    # (new structs and its delete set) has pycrdt's bytes, and applying them
    # in order rebuilds the document.
    rng = random.Random(seed)
    tool.send("doc", "d", 99)
    tool.send("doc", "copy", 5)
    peer, updates = recording_peer(99)
    m = peer.get("m", type=pycrdt.Map)
    arr = peer.get("a", type=pycrdt.Array)
    for step in range(40):
        tool.send("begin", "d", "-")
        with peer.transaction():
            key, value = f"k{rng.randint(0, 5)}", f"v{step}"
            if rng.random() < 0.6:
                tool.mset("d", "m", [], key, value)
                m[key] = value
            else:
                tool.send("mdel", "d", hx("m"), "-", hx(key))
                if key in m:
                    del m[key]
            idx = rng.randint(0, len(arr))
            tool.send("ains", "d", hx("a"), idx, any_bytes([value]).hex())
            arr.insert(idx, value)
        tool.send("commit", "d")
        ours = tool.ask("tupdate", "d")
        assert ours == updates[-1].hex()
        apply(tool, "copy", bytes.fromhex(ours))
    assert dump(tool, "copy", "m", "m") == m.to_py()
    assert dump(tool, "copy", "a", "a") == arr.to_py()
