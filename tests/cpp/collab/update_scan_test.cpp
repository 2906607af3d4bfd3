#include "collab/update_scan.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "crdt/crdt.h"

namespace cmx::collab {
namespace {

using Bytes = std::vector<uint8_t>;

// Builds byte strings from pieces: single bytes and varints.
struct Build {
  Bytes out;
  Build& b(std::initializer_list<uint8_t> bytes) {
    out.insert(out.end(), bytes);
    return *this;
  }
  Build& v(uint64_t value) {
    while (value > 0x7f) {
      out.push_back(static_cast<uint8_t>(0x80 | (value & 0x7f)));
      value >>= 7;
    }
    out.push_back(static_cast<uint8_t>(value));
    return *this;
  }
  Build& repeat(size_t count, std::initializer_list<uint8_t> bytes) {
    for (size_t idx = 0; idx < count; ++idx) b(bytes);
    return *this;
  }
  operator Bytes() const { return out; }
};

// One client group (client 4, clock `clock`) holding `blocks`, then an
// empty delete set.
Bytes group(std::initializer_list<uint8_t> blocks, uint64_t count = 1, uint64_t clock = 0) {
  return Build().v(1).v(count).v(4).v(clock).b(blocks).v(0);
}

// A value inside `levels` nested arrays, in one Any item of the root "m".
Bytes nested(size_t levels, std::initializer_list<uint8_t> inner) {
  Build out;
  out.v(1).v(1).v(4).v(0).b({0x08, 1, 1, 'm', 1});
  for (size_t level = 0; level < levels; ++level) out.b({117, 1});
  return out.b(inner).v(0);
}

constexpr uint64_t k53 = uint64_t{1} << 53;
const std::string kEnd1 = "while trying to read more data (expected: 1 bytes), an unexpected end of buffer was reached";
const std::string kVarint = "failed to decode variable length integer";

TEST(UpdateScan, RefusesWithTheRuleItBreaks) {
  struct Case {
    const char* name;
    Bytes bytes;
    std::string error;  // empty: accepted
  };
  const std::vector<Case> cases = {
      {"no bytes", {}, kEnd1},
      {"smallest update", {0, 0}, ""},
      {"trailing byte", {0, 0, 0}, "update contains trailing bytes"},
      {"65,536 clients pass the count", Build().v(65536), kEnd1},
      {"65,537 clients", Build().v(65537), "update contains too many clients"},
      {"client count past 32 bits", Build().v(uint64_t{1} << 32), kVarint},
      {"zero in two bytes", {0x80, 0x00, 0}, kVarint},
      {"ten-byte varint with a high tenth byte", Build().b({0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x02}),
       kVarint},
      {"empty client block set", {1, 0}, "update contains an empty client block set"},
      {"more blocks than bytes", {1, 5, 4, 0}, "update contains too many blocks"},
      {"largest client id", Build().v(1).v(1).v(k53 - 1).v(0).b({0x00, 1}).v(0), ""},
      {"client id of 2^53", Build().v(1).v(1).v(k53).v(0).b({0x00, 1}).v(0), "client ID exceeds the 53-bit Yjs limit"},
      {"origin client of 2^53", group({0x88}), kEnd1},
      {"origin client of 2^53 in full", Build().v(1).v(1).v(4).v(0).b({0x88}).v(k53).v(0).v(1).b({126}).v(0),
       "client ID exceeds the 53-bit Yjs limit"},
      {"delete-set client of 2^53", Build().v(0).v(1).v(k53).v(0), "client ID exceeds the 53-bit Yjs limit"},
      {"initial clock at the limit", group({0x01, 1, 1, 'm', 0}, 1, 2147483647), ""},
      {"initial clock past the limit", group({0x00, 1}, 1, 2147483648), "clock exceeds the supported i32 range"},
      {"block carrying the clock past the limit", group({0x01, 1, 1, 'm', 1}, 1, 2147483647),
       "clock exceeds the supported i32 range"},
      {"block carrying the clock past 2^32", Build().v(1).v(1).v(4).v(2147483647).b({0x00}).v(uint64_t{1} << 31 | 1).v(0),
       "update block clock overflows u32"},
      {"string content", group({0x04, 1, 1, 'm', 1, 'x'}), "update contains an unsupported block type"},
      {"GC info with a flag bit", group({0x20, 1}), "update contains an unsupported block type"},
      {"skip info with a flag bit", group({0x2a, 1}), "update contains an unsupported block type"},
      {"content ref 17", group({0x11, 1, 1, 'm', 1}), "update contains an unsupported block type"},
      {"empty GC block", group({0x00, 0}), "update contains an empty GC block"},
      {"empty skip block", group({0x0a, 0}), "update contains an empty skip block"},
      {"Deleted content of length 0", group({0x01, 1, 1, 'm', 0}), ""},
      {"Any content of length 0", group({0x08, 1, 1, 'm', 0}), ""},
      {"parent flag 2", group({0x08, 2}), "update contains invalid parent info"},
      {"text type", group({0x07, 1, 1, 'm', 2}), "update contains an unsupported shared type"},
      {"map type", group({0x07, 1, 1, 'm', 1}), ""},
      {"bad parent name", group({0x08, 1, 1, 0xff, 1, 126}), "invalid utf-8 sequence of 1 bytes from index 0"},
      {"more values than bytes", group({0x08, 1, 1, 'm', 9, 126}), "update contains too many values"},
      {"unknown value tag", group({0x08, 1, 1, 'm', 1, 115}), "while reading, an unexpected value was found"},
      {"array longer than the input", group({0x08, 1, 1, 'm', 1, 117, 9, 126}), "update array length exceeds its payload"},
      {"map longer than the input", group({0x08, 1, 1, 'm', 1, 118, 9, 126}), "update map length exceeds its payload"},
      {"negative zero integer", group({0x08, 1, 1, 'm', 1, 125, 0x40}), kVarint},
      {"integer with a zero last byte", group({0x08, 1, 1, 'm', 1, 125, 0x81, 0x00}), kVarint},
      {"cut float", group({0x08, 1, 1, 'm', 1, 123, 0, 0}),
       "while trying to read more data (expected: 8 bytes), an unexpected end of buffer was reached"},
      {"value in 63 arrays", nested(63, {126}), ""},
      {"empty array at the 64th level", nested(63, {117, 0}), ""},
      {"value in 64 arrays", nested(64, {126}), "update value nesting exceeds 64 levels"},
      {"delete entry of no ranges", {0, 1, 4, 0}, ""},
      {"empty delete range", {0, 1, 4, 1, 0, 0}, "update contains an empty delete range"},
      {"delete range to the clock limit", Build().v(0).v(1).v(4).v(1).v(2147483646).v(1), ""},
      {"delete range past the clock limit", Build().v(0).v(1).v(4).v(1).v(2147483647).v(1),
       "clock exceeds the supported i32 range"},
      {"delete range past 2^32", Build().v(0).v(1).v(4).v(1).v(2147483647).v(uint64_t{1} << 31 | 1),
       "delete range clock overflows u32"},
      {"delete clock past the limit", Build().v(0).v(1).v(4).v(1).v(2147483648).v(1), "clock exceeds the supported i32 range"},
      {"65,537 delete-set clients", Build().v(0).v(65537), "update delete set contains too many clients"},
      {"more delete ranges than bytes", {0, 1, 4, 9, 0, 1}, "update contains too many delete ranges"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto scanned = scan_update(c.bytes, ScanLimits::remote());
    if (c.error.empty()) {
      EXPECT_TRUE(scanned.has_value()) << scanned.error();
      // What the scan passes, the library decodes.
      auto decoded = decode_update_bounded(c.bytes, ScanLimits::own(c.bytes));
      EXPECT_TRUE(decoded.has_value()) << decoded.error();
    } else {
      ASSERT_FALSE(scanned.has_value());
      EXPECT_EQ(scanned.error(), c.error);
    }
  }
}

TEST(UpdateScan, TotalsAgainstTheCallersLimits) {
  // 1,000,001 GC blocks of one clock each.
  const Bytes blocks = Build().v(1).v(1000001).v(4).v(0).repeat(1000001, {0x00, 1}).v(0);
  EXPECT_TRUE(scan_update(blocks, ScanLimits::own(blocks)).has_value());
  auto remote = scan_update(blocks, ScanLimits::remote());
  ASSERT_FALSE(remote.has_value());
  EXPECT_EQ(remote.error(), "update contains too many blocks");
  // Values: the declared total, then the decoded total with nested values.
  const Bytes values = group({0x08, 1, 1, 'm', 3, 117, 2, 126, 126, 126, 126});
  EXPECT_TRUE(scan_update(values, {10, 5, 10}).has_value());
  EXPECT_EQ(scan_update(values, {10, 2, 10}).error(), "update contains too many values");
  EXPECT_EQ(scan_update(values, {10, 4, 10}).error(), "update contains too many values");
  // An array declaring more elements than the value allowance left.
  const Bytes array = group({0x08, 1, 1, 'm', 1, 117, 3, 126, 126, 126});
  EXPECT_TRUE(scan_update(array, {10, 4, 10}).has_value());
  EXPECT_EQ(scan_update(array, {10, 3, 10}).error(), "update array length exceeds its payload");
  // From a peer, the value total follows the update's length past 1,000,000,
  // but an array still cannot declare more elements than bytes remain.
  const auto big_array = [](uint64_t declared, size_t present) {
    Build out;
    out.v(1).v(1).v(4).v(0).b({0x08, 1, 1, 'm', 1, 117}).v(declared).repeat(present, {126});
    return Bytes(out.v(0));
  };
  const Bytes million = big_array(1500000, 1500000);
  EXPECT_TRUE(scan_update(million, ScanLimits::remote()).has_value());
  EXPECT_TRUE(decode_update_bounded(million, ScanLimits::remote()).has_value());
  EXPECT_EQ(scan_update(million, {10, 1000000, 10}).error(), "update array length exceeds its payload");
  EXPECT_EQ(scan_update(big_array(1500003, 1500000), ScanLimits::remote()).error(),
            "update array length exceeds its payload");
  EXPECT_EQ(scan_update(big_array(uint64_t{1} << 31, 4), ScanLimits::remote()).error(),
            "update array length exceeds its payload");
  // Past the join allowance the length no longer raises the total: decoded
  // values cost memory that the bytes do not bound.
  EXPECT_TRUE(scan_update(big_array(kJoinValueLimit - 1, kJoinValueLimit - 1), ScanLimits::remote()).has_value());
  EXPECT_EQ(scan_update(big_array(kJoinValueLimit + 1, kJoinValueLimit + 1), ScanLimits::remote()).error(),
            "update array length exceeds its payload");
  const Bytes ranges = Build().v(0).v(2).v(4).v(2).v(0).v(1).v(5).v(1).v(5).v(1).v(0).v(1);
  EXPECT_TRUE(scan_update(ranges, {10, 10, 3}).has_value());
  EXPECT_EQ(scan_update(ranges, {10, 10, 2}).error(), "update contains too many delete ranges");
}

TEST(UpdateScan, AcceptsWhatTheLibraryWrites) {
  auto doc = cant_fail(crdt::Doc::create(7));
  crdt::MapRef m = cant_fail(doc->get_or_create_map("m"));
  crdt::ArrayRef a = cant_fail(doc->get_or_create_array("a"));
  {
    crdt::Transaction txn(*doc);
    ASSERT_TRUE(m.set(txn, "k", crdt::Any::array({crdt::Any::string("x"), crdt::Any::integer(-5),
                                                   crdt::Any::object({{"n", crdt::Any::number(-0.5)}})}))
                    .has_value());
    crdt::MapRef inner = cant_fail(m.insert_map(txn, "n"));
    ASSERT_TRUE(inner.set(txn, "deep", crdt::Any::buffer({1, 2, 3})).has_value());
    ASSERT_TRUE(a.insert(txn, 0, {crdt::Any::number(1), crdt::Any::number(-1e300), crdt::Any::boolean(true)}).has_value());
  }
  {
    crdt::Transaction txn(*doc);
    ASSERT_TRUE(a.remove_range(txn, 1, 1).has_value());
    m.remove(txn, "n");
  }
  const Bytes state = doc->encode_state_as_update();
  auto decoded = decode_update_bounded(state, ScanLimits::remote());
  ASSERT_TRUE(decoded.has_value()) << decoded.error();
  auto copy = cant_fail(crdt::Doc::create(8));
  crdt::Transaction txn(*copy);
  ASSERT_TRUE(txn.apply_update(std::move(decoded).value()).has_value());
}

TEST(UpdateScan, PeersCannotWriteUnderTheReplicasOwnClient) {
  // A GC block of client 5 at clock 2^31 - 2: structurally fine, but taken by
  // replica 5 it would leave that replica one clock to write with.
  const Bytes update = {1, 1, 5, 0xfe, 0xff, 0xff, 0xff, 0x07, 0x00, 1, 0};
  ASSERT_EQ(update.size(), 11u);
  auto decoded = decode_update_bounded(update, ScanLimits::remote());
  ASSERT_TRUE(decoded.has_value());
  auto own = cant_fail(crdt::Doc::create(5));
  auto other = cant_fail(crdt::Doc::create(6));
  auto refused = check_foreign_update(*decoded, *own);
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error(), "update holds items of this replica's client 5 beyond its clock 0");
  EXPECT_TRUE(check_foreign_update(*decoded, *other).has_value());
  // The replica's own items coming back from a peer are fine.
  {
    crdt::Transaction txn(*own);
    ASSERT_TRUE(cant_fail(own->get_or_create_map("m")).set(txn, "k", crdt::Any::null()).has_value());
  }
  const Bytes echo = own->encode_state_as_update();
  EXPECT_TRUE(check_foreign_update(cant_fail(decode_update_bounded(echo, ScanLimits::remote())), *own).has_value());
}

TEST(UpdateScan, LocalWritesStopAtTheClockPeersAccept) {
  // A replica whose clock reached 2^31 - 1 writes nothing more: an item
  // there would end past what any peer's scan accepts.
  auto doc = cant_fail(crdt::Doc::create(6));
  ASSERT_TRUE(doc->apply_update(Build().v(1).v(1).v(6).v(0).b({0x00}).v(2147483647).v(0).out).has_value());
  ASSERT_EQ(doc->state_vector().get(6), 2147483647u);
  crdt::Transaction txn(*doc);
  auto written = cant_fail(doc->get_or_create_map("m")).set(txn, "k", crdt::Any::null());
  ASSERT_FALSE(written.has_value());
  EXPECT_EQ(written.error().kind, crdt::CrdtErrorKind::kClockExhausted);
}

TEST(PeerStateVector, ChecksInOrder) {
  struct Case {
    const char* name;
    Bytes bytes;
    std::string error;  // empty: accepted
  };
  const std::vector<Case> cases = {
      {"empty", {}, "state vector is empty"},
      {"no entries", {0}, ""},
      {"one entry", {1, 4, 9}, ""},
      {"count cut short", {0x80}, "invalid state vector entry count"},
      {"count of six bytes", {0x80, 0x80, 0x80, 0x80, 0x80, 0x01}, "invalid state vector entry count"},
      {"fifth count byte above 15", {0x80, 0x80, 0x80, 0x80, 0x10}, "invalid state vector entry count"},
      {"65,537 entries", Build().v(65537), "state vector contains 65537 entries, exceeds the 65536-entry limit"},
      {"more entries than bytes", {2, 4, 9, 5}, "state vector entry count exceeds its payload"},
      {"count not in its shortest form", {0x81, 0x00, 4, 9}, kVarint},
      {"duplicate client", {2, 4, 9, 4, 1}, "state vector contains a duplicate client"},
      {"client of 2^53", Build().v(1).v(k53).v(0), "client ID exceeds the 53-bit Yjs limit"},
      {"largest client", Build().v(1).v(k53 - 1).v(0), ""},
      {"clock past the limit", Build().v(1).v(4).v(2147483648), "clock exceeds the supported i32 range"},
      {"clock past 32 bits", Build().v(1).v(4).v(uint64_t{1} << 32), kVarint},
      {"trailing byte", {1, 4, 9, 0}, "state vector contains trailing bytes"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto sv = decode_peer_state_vector(c.bytes);
    if (c.error.empty()) {
      EXPECT_TRUE(sv.has_value()) << sv.error().text;
    } else {
      ASSERT_FALSE(sv.has_value());
      EXPECT_EQ(sv.error().kind, PeerStateVectorError::Kind::kInvalid);
      EXPECT_EQ(sv.error().text, c.error);
    }
  }
  EXPECT_EQ(cant_fail(decode_peer_state_vector(Bytes{2, 4, 9, 3, 1})).get(4), 9u);
  const Bytes huge(kMaxCollaborationBytes + 1, 0);
  auto too_large = decode_peer_state_vector(huge);
  ASSERT_FALSE(too_large.has_value());
  EXPECT_EQ(too_large.error().kind, PeerStateVectorError::Kind::kTooLarge);
  EXPECT_EQ(too_large.error().length, kMaxCollaborationBytes + 1);
}

TEST(PendingUpdateCursor, StopsAtTheFirstBadUpdate) {
  const std::vector<Bytes> updates = {{0, 0}, group({0x00, 1}), {0, 0, 0}, {0, 0}};
  PendingUpdateCursor cursor(updates);
  EXPECT_TRUE(cursor.next().has_value());
  auto second = cursor.next();
  ASSERT_TRUE(second.has_value());
  EXPECT_EQ(second->clients.at(4).size(), 1u);
  EXPECT_FALSE(cursor.next().has_value());
  EXPECT_EQ(cursor.error(), std::optional<std::string>("update contains trailing bytes"));
  EXPECT_FALSE(cursor.next().has_value());
}

}  // namespace
}  // namespace cmx::collab
