// lib0 integers, strings, floats: exact bytes, canonical forms, truncation.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "crdt/lib0.h"
#include "test_util.h"

namespace cmx::crdt {
namespace {

using Bytes = std::vector<uint8_t>;

TEST(Lib0, VarUintBytes) {
  struct Case {
    uint64_t value;
    Bytes bytes;
  };
  const Case cases[] = {
      {0, {0x00}},
      {1, {0x01}},
      {127, {0x7f}},
      {128, {0x80, 0x01}},
      {300, {0xac, 0x02}},
      {(uint64_t{1} << 53) - 1, {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x0f}},
      {UINT64_MAX, {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x01}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    Encoder encoder;
    encoder.write_var_uint(c.value);
    EXPECT_EQ(Bytes(encoder.data().begin(), encoder.data().end()), c.bytes);
    Decoder decoder(c.bytes);
    auto back = decoder.read_var_uint();
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, c.value);
    EXPECT_TRUE(decoder.at_end());
  }
}

TEST(Lib0, VarIntBytes) {
  struct Case {
    int64_t value;
    Bytes bytes;
  };
  const Case cases[] = {
      {0, {0x00}},
      {1, {0x01}},
      {-1, {0x41}},
      {63, {0x3f}},
      {64, {0x80, 0x01}},
      {-64, {0xc0, 0x01}},
      {9007199254740991, {0xbf, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x1f}},
      {-9007199254740991, {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x1f}},
      {INT64_MAX, {0xbf, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x01}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.value);
    Encoder encoder;
    encoder.write_var_int(c.value);
    EXPECT_EQ(Bytes(encoder.data().begin(), encoder.data().end()), c.bytes);
    Decoder decoder(c.bytes);
    auto back = decoder.read_var_int();
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, c.value);
    EXPECT_TRUE(decoder.at_end());
  }
}

TEST(Lib0, MalformedVarints) {
  struct Case {
    const char* name;
    Bytes bytes;
    bool is_signed;
    CrdtError error;
  };
  const CrdtError varint{CrdtErrorKind::kVarint};
  const Case cases[] = {
      {"zero in two bytes", {0x80, 0x00}, false, varint},
      {"trailing zero group", {0xff, 0x00}, false, varint},
      {"eleven bytes", Bytes(10, 0xff), false, varint},
      {"tenth group above one", {0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x02}, false, varint},
      {"empty", {}, false, CrdtError{CrdtErrorKind::kUnexpectedEnd, 1}},
      {"cut after continuation", {0x80}, false, CrdtError{CrdtErrorKind::kUnexpectedEnd, 1}},
      {"signed negative zero", {0x40}, true, varint},
      {"signed zero in two bytes", {0x80, 0x00}, true, varint},
      {"signed overlong", {0xbf, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0x02}, true, varint},
      {"signed cut", {0xc0}, true, CrdtError{CrdtErrorKind::kUnexpectedEnd, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Decoder decoder(c.bytes);
    if (c.is_signed) {
      auto r = decoder.read_var_int();
      ASSERT_FALSE(r.has_value());
      EXPECT_EQ(r.error(), c.error);
    } else {
      auto r = decoder.read_var_uint();
      ASSERT_FALSE(r.has_value());
      EXPECT_EQ(r.error(), c.error);
    }
  }
}

TEST(Lib0, FloatsAndBigIntsAreBigEndian) {
  Encoder encoder;
  encoder.write_f32(1.0f);
  encoder.write_f64(-2.0);
  encoder.write_i64(-2);
  const Bytes expected = {0x3f, 0x80, 0x00, 0x00, 0xc0, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00,
                          0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xff, 0xfe};
  EXPECT_EQ(Bytes(encoder.data().begin(), encoder.data().end()), expected);
  Decoder decoder(encoder.data());
  EXPECT_EQ(*decoder.read_f32(), 1.0f);
  EXPECT_EQ(*decoder.read_f64(), -2.0);
  EXPECT_EQ(*decoder.read_i64(), -2);
  auto past = decoder.read_f64();
  ASSERT_FALSE(past.has_value());
  EXPECT_EQ(past.error(), (CrdtError{CrdtErrorKind::kUnexpectedEnd, 8}));
}

TEST(Lib0, Strings) {
  Encoder encoder;
  encoder.write_string("h\xc3\xa9");
  EXPECT_EQ(Bytes(encoder.data().begin(), encoder.data().end()), (Bytes{0x03, 'h', 0xc3, 0xa9}));
  Decoder decoder(encoder.data());
  EXPECT_EQ(*decoder.read_string(), "h\xc3\xa9");

  struct Case {
    const char* name;
    Bytes bytes;
    CrdtError error;
  };
  const Case bad[] = {
      {"length past the end", {0x05, 'a'}, {CrdtErrorKind::kUnexpectedEnd, 5}},
      {"lone continuation byte", {0x02, 'a', 0x80}, {CrdtErrorKind::kInvalidUtf8, 1, 1}},
      {"surrogate", {0x03, 0xed, 0xa0, 0x80}, {CrdtErrorKind::kInvalidUtf8, 0, 1}},
      {"overlong two bytes", {0x02, 0xc0, 0x80}, {CrdtErrorKind::kInvalidUtf8, 0, 1}},
      {"bad third byte", {0x03, 0xe4, 0xb8, 0x41}, {CrdtErrorKind::kInvalidUtf8, 0, 2}},
      {"cut sequence", {0x02, 'a', 0xe4}, {CrdtErrorKind::kInvalidUtf8, 1, 0}},
  };
  for (const Case& c : bad) {
    SCOPED_TRACE(c.name);
    Decoder d(c.bytes);
    auto r = d.read_string();
    ASSERT_FALSE(r.has_value());
    EXPECT_EQ(r.error(), c.error);
  }
  EXPECT_EQ(crdt_error_message({CrdtErrorKind::kInvalidUtf8, 1, 0}), "incomplete utf-8 byte sequence from index 1");
  EXPECT_EQ(crdt_error_message({CrdtErrorKind::kInvalidUtf8, 0, 2}), "invalid utf-8 sequence of 2 bytes from index 0");
}

TEST(Lib0, EveryMessageIsDistinct) {
  std::vector<std::string> seen;
  for (int kind = 0; kind <= static_cast<int>(CrdtErrorKind::kRootKindMismatch); ++kind) {
    std::string message = crdt_error_message({static_cast<CrdtErrorKind>(kind), 1, 1});
    EXPECT_FALSE(message.empty());
    for (const auto& other : seen) EXPECT_NE(message, other);
    seen.push_back(message);
  }
}

}  // namespace
}  // namespace cmx::crdt
