// State vectors and delete sets.
#include <gtest/gtest.h>

#include <vector>

#include "crdt/id.h"

namespace cmx::crdt {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(StateVector, EncodesHighestClientFirst) {
  StateVector sv;
  sv.set(1, 5);
  sv.set(300, 2);
  EXPECT_EQ(encode_state_vector(sv), (Bytes{2, 0xac, 0x02, 2, 1, 5}));
  EXPECT_EQ(encode_state_vector(StateVector{}), (Bytes{0}));
  auto back = decode_state_vector(encode_state_vector(sv));
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(*back, sv);
}

TEST(StateVector, DecodeChecks) {
  struct Case {
    const char* name;
    Bytes bytes;
    CrdtErrorKind kind;
  };
  const Case cases[] = {
      {"empty", {}, CrdtErrorKind::kUnexpectedEnd},
      {"count beyond the payload", {2, 1, 1}, CrdtErrorKind::kLengthExceedsPayload},
      {"huge count", {0xff, 0xff, 0xff, 0xff, 0x0f}, CrdtErrorKind::kLengthExceedsPayload},
      {"duplicate client", {2, 1, 1, 1, 2}, CrdtErrorKind::kStateVectorDuplicateClient},
      {"client 2^53", {1, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x10, 0}, CrdtErrorKind::kClientIdTooLarge},
      {"clock beyond 32 bits", {1, 1, 0x80, 0x80, 0x80, 0x80, 0x10}, CrdtErrorKind::kClockTooLarge},
      {"trailing bytes", {1, 1, 1, 0}, CrdtErrorKind::kStateVectorTrailingBytes},
      {"non-canonical count", {0x81, 0x00, 1, 1}, CrdtErrorKind::kVarint},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto r = decode_state_vector(c.bytes);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().kind, c.kind);
  }
  // The largest client id passes.
  auto max_client = decode_state_vector(Bytes{1, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x0f, 3});
  ASSERT_TRUE(max_client.has_value());
  EXPECT_EQ(max_client->get(kMaxClientId), 3u);
}

TEST(DeleteSet, MergesOverlappingAndTouchingRanges) {
  DeleteSet ds;
  ds.add(7, 10, 2);
  ds.add(7, 0, 3);
  ds.add(7, 3, 1);
  ds.add(7, 11, 4);
  ds.add(7, 20, 1);
  ds.add(2, 5, 1);
  ds.add(2, 9, 0);
  ds.sort_and_merge();
  EXPECT_EQ(ds.clients().at(7), (std::vector<DeleteRange>{{0, 4}, {10, 5}, {20, 1}}));
  EXPECT_EQ(ds.clients().at(2), (std::vector<DeleteRange>{{5, 1}}));
  EXPECT_TRUE(ds.contains({7, 14}));
  EXPECT_FALSE(ds.contains({7, 15}));
  EXPECT_FALSE(ds.contains({7, 4}));
  EXPECT_FALSE(ds.contains({3, 0}));
  Encoder encoder;
  write_delete_set(encoder, ds);
  EXPECT_EQ(Bytes(encoder.data().begin(), encoder.data().end()), (Bytes{2, 7, 3, 0, 4, 10, 5, 20, 1, 2, 1, 5, 1}));
}

}  // namespace
}  // namespace cmx::crdt

namespace cmx::crdt {
namespace {

TEST(DeleteSet, ReadsWhatItWrites) {
  DeleteSet ds;
  ds.add(9, 4, 2);
  ds.add(1, 0, 1);
  ds.add(9, 0, 1);
  ds.sort_and_merge();
  Encoder encoder;
  write_delete_set(encoder, ds);
  Decoder decoder(encoder.data());
  auto back = read_delete_set(decoder);
  ASSERT_TRUE(back.has_value());
  EXPECT_EQ(*back, ds);
  EXPECT_TRUE(decoder.at_end());

  DeleteSet other;
  other.add(9, 1, 3);
  ds.merge(other);
  ds.sort_and_merge();
  EXPECT_EQ(ds.clients().at(9), (std::vector<DeleteRange>{{0, 6}}));
}

TEST(DeleteSet, ReadChecks) {
  struct Case {
    const char* name;
    std::vector<uint8_t> bytes;
    CrdtErrorKind kind;
  };
  const Case cases[] = {
      {"client count beyond the payload", {3, 1, 0}, CrdtErrorKind::kLengthExceedsPayload},
      {"range count beyond the payload", {1, 1, 2, 0, 1}, CrdtErrorKind::kLengthExceedsPayload},
      {"empty range", {1, 1, 1, 0, 0}, CrdtErrorKind::kEmptyDeleteRange},
      {"range past 2^32", {1, 1, 1, 0xff, 0xff, 0xff, 0xff, 0x0f, 1}, CrdtErrorKind::kClockTooLarge},
      {"client 2^53", {1, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x80, 0x10, 0}, CrdtErrorKind::kClientIdTooLarge},
      {"cut", {1, 1, 1, 0}, CrdtErrorKind::kLengthExceedsPayload},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Decoder decoder(c.bytes);
    auto r = read_delete_set(decoder);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().kind, c.kind);
  }
  // A client entry with no ranges is accepted.
  std::vector<uint8_t> no_ranges = {1, 5, 0};
  Decoder decoder(no_ranges);
  EXPECT_TRUE(read_delete_set(decoder).has_value());
}

}  // namespace
}  // namespace cmx::crdt
