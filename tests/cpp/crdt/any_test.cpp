// Any values: tags of every kind, the number rule, nesting and length checks.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

#include "crdt/any.h"

namespace cmx::crdt {
namespace {

using Bytes = std::vector<uint8_t>;

Bytes encode(const Any& value) {
  Encoder encoder;
  write_any(encoder, value);
  return encoder.take();
}

Result<Any, CrdtError> decode(const Bytes& bytes) {
  Decoder decoder(bytes);
  auto value = read_any(decoder);
  if (value && !decoder.at_end()) ADD_FAILURE() << "bytes left after the value";
  return value;
}

TEST(Any, NumbersPickTheirTag) {
  struct Case {
    const char* name;
    double value;
    Bytes bytes;
  };
  const Case cases[] = {
      {"small integer", 5, {125, 0x05}},
      {"negative integer", -3, {125, 0x43}},
      {"largest safe integer", 9007199254740991.0, {125, 0xbf, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x1f}},
      {"2^53 is float32", 9007199254740992.0, {124, 0x5a, 0x00, 0x00, 0x00}},
      {"2^53 + 2 needs float64", 9007199254740994.0, {123, 0x43, 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x01}},
      {"half", 0.5, {124, 0x3f, 0x00, 0x00, 0x00}},
      {"tenth", 0.1, {123, 0x3f, 0xb9, 0x99, 0x99, 0x99, 0x99, 0x99, 0x9a}},
      {"negative zero keeps its sign", -0.0, {124, 0x80, 0x00, 0x00, 0x00}},
      {"infinity", std::numeric_limits<double>::infinity(), {124, 0x7f, 0x80, 0x00, 0x00}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(encode(Any::number(c.value)), c.bytes);
    auto back = decode(c.bytes);
    ASSERT_TRUE(back.has_value());
    ASSERT_TRUE(back->is(AnyKind::kNumber));
    EXPECT_EQ(back->as_number(), c.value);
    EXPECT_EQ(std::signbit(back->as_number()), std::signbit(c.value));
  }
}

TEST(Any, EveryKindRoundTrips) {
  struct Case {
    const char* name;
    Any value;
    Bytes bytes;
  };
  const Case cases[] = {
      {"undefined", Any::undefined(), {127}},
      {"null", Any::null(), {126}},
      {"true", Any::boolean(true), {120}},
      {"false", Any::boolean(false), {121}},
      {"integer", Any::integer(5), {122, 0, 0, 0, 0, 0, 0, 0, 5}},
      {"negative integer", Any::integer(INT64_MIN), {122, 0x80, 0, 0, 0, 0, 0, 0, 0}},
      {"string", Any::string("ab"), {119, 2, 'a', 'b'}},
      {"buffer", Any::buffer({1, 2}), {116, 2, 1, 2}},
      {"empty array", Any::array({}), {117, 0}},
      {"array", Any::array({Any::null(), Any::boolean(true)}), {117, 2, 126, 120}},
      {"object keeps member order", Any::object({{"b", Any::null()}, {"a", Any::number(1)}}),
       {118, 2, 1, 'b', 126, 1, 'a', 125, 1}},
      {"nested", Any::array({Any::object({{"k", Any::array({Any::string("v")})}})}),
       {117, 1, 118, 1, 1, 'k', 117, 1, 119, 1, 'v'}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(encode(c.value), c.bytes);
    auto back = decode(c.bytes);
    ASSERT_TRUE(back.has_value());
    EXPECT_TRUE(*back == c.value);
  }
}

TEST(Any, NumberAndIntegerAreDistinct) {
  EXPECT_FALSE(Any::number(5) == Any::integer(5));
  EXPECT_FALSE(Any::null() == Any::undefined());
  EXPECT_TRUE(Any::number(std::nan("")) == Any::number(std::nan("")));
  EXPECT_FALSE(Any::object({{"a", Any::null()}}) == Any::object({{"b", Any::null()}}));
  EXPECT_FALSE(Any::array({Any::number(1)}) == Any::array({Any::number(1), Any::number(2)}));
}

Bytes nested_arrays(size_t depth, bool empty_innermost) {
  Bytes bytes;
  for (size_t idx = 0; idx < depth; ++idx) {
    bytes.push_back(117);
    bytes.push_back(1);
  }
  if (empty_innermost) {
    bytes.push_back(117);
    bytes.push_back(0);
  } else {
    bytes.push_back(126);
  }
  return bytes;
}

TEST(Any, NestingLimit) {
  // A value inside 63 containers and an empty container at depth 63 pass;
  // a value inside 64 containers does not.
  EXPECT_TRUE(decode(nested_arrays(63, false)).has_value());
  EXPECT_TRUE(decode(nested_arrays(63, true)).has_value());
  auto deep = decode(nested_arrays(64, false));
  ASSERT_FALSE(deep.has_value());
  EXPECT_EQ(deep.error().kind, CrdtErrorKind::kNestingTooDeep);
}

TEST(Any, EncodingDeepValuesDoesNotRecurse) {
  Any value = Any::null();
  for (int idx = 0; idx < 2000; ++idx) value = Any::array({value});
  Bytes bytes = encode(value);
  EXPECT_EQ(bytes.size(), 2000u * 2 + 1);
  EXPECT_TRUE(value == value);
}

TEST(Any, MalformedInput) {
  struct Case {
    const char* name;
    Bytes bytes;
    CrdtErrorKind kind;
  };
  const Case cases[] = {
      {"unknown tag", {115}, CrdtErrorKind::kUnexpectedValue},
      {"tag zero", {0}, CrdtErrorKind::kUnexpectedValue},
      {"array longer than the input", {117, 5, 126}, CrdtErrorKind::kLengthExceedsPayload},
      {"object longer than the input", {118, 2, 1, 'a', 126}, CrdtErrorKind::kLengthExceedsPayload},
      {"huge array length", {117, 0xff, 0xff, 0xff, 0xff, 0x0f}, CrdtErrorKind::kLengthExceedsPayload},
      {"cut float64", {123, 0, 0}, CrdtErrorKind::kUnexpectedEnd},
      {"cut integer", {122, 0}, CrdtErrorKind::kUnexpectedEnd},
      {"bad string", {119, 1, 0xff}, CrdtErrorKind::kInvalidUtf8},
      {"empty", {}, CrdtErrorKind::kUnexpectedEnd},
      // The outer array's second element needs the byte the inner one
      // claims as well.
      {"inner array claims the outer's bytes", {117, 2, 117, 2, 126, 126}, CrdtErrorKind::kLengthExceedsPayload},
      {"inner object claims the outer's bytes", {117, 2, 118, 1, 0, 126}, CrdtErrorKind::kLengthExceedsPayload},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto r = decode(c.bytes);
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error().kind, c.kind);
  }
}

// Each level declares as many elements as bytes remain: a decoder that
// reserved every level's length would reserve the input's size 63 times.
TEST(Any, NestedLengthsCannotClaimTheSameBytesTwice) {
  constexpr size_t kLevels = 63;
  constexpr size_t kFill = 1 << 16;
  Bytes bytes;
  for (size_t level = 0; level < kLevels; ++level) {
    bytes.push_back(117);
    const size_t left = (kLevels - level - 1) * 4 + kFill;
    for (size_t value = left; ; value >>= 7) {
      if (value < 0x80) {
        bytes.push_back(static_cast<uint8_t>(value));
        break;
      }
      bytes.push_back(static_cast<uint8_t>(0x80 | (value & 0x7f)));
    }
  }
  bytes.resize(bytes.size() + kFill, 126);
  auto r = decode(bytes);
  ASSERT_FALSE(r.has_value());
  EXPECT_EQ(r.error().kind, CrdtErrorKind::kLengthExceedsPayload);
  // The same depth with honest lengths decodes.
  Bytes honest;
  for (size_t level = 0; level < kLevels; ++level) honest.insert(honest.end(), {117, 2});
  honest.push_back(126);
  for (size_t level = 0; level < kLevels; ++level) honest.push_back(126);
  EXPECT_TRUE(decode(honest).has_value());
}

TEST(Any, EveryTruncatedPrefixFails) {
  const Bytes whole = encode(Any::object(
      {{"s", Any::string("text")}, {"a", Any::array({Any::number(0.1), Any::integer(7), Any::buffer({9})})}}));
  for (size_t cut = 0; cut < whole.size(); ++cut) {
    SCOPED_TRACE(cut);
    Decoder decoder(std::span<const uint8_t>(whole.data(), cut));
    EXPECT_FALSE(read_any(decoder).has_value());
  }
}

}  // namespace
}  // namespace cmx::crdt
