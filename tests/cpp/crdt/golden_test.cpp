// The same edits as tests/fixtures/crdt/make_fixtures.py (run with a real Yjs
// peer) under the same client id give byte-identical updates.
#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "crdt/crdt.h"

namespace cmx::crdt {
namespace {

constexpr uint64_t kClient = 1234;

std::vector<uint8_t> fixture(const std::string& name) {
  std::ifstream in(std::string(CMX_CRDT_FIXTURES) + "/" + name + ".bin", std::ios::binary);
  EXPECT_TRUE(in.good()) << "missing fixture " << name;
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::unique_ptr<Doc> new_doc() { return cant_fail(Doc::create(kClient)); }

Any str(const char* text) { return Any::string(text); }

TEST(Golden, MapValues) {
  auto doc = new_doc();
  MapRef m = cant_fail(doc->get_or_create_map("m"));
  {
    Transaction txn(*doc);
    ASSERT_TRUE(m.set(txn, "s", str("hello")).has_value());
    ASSERT_TRUE(m.set(txn, "f", Any::number(2.5)).has_value());
    ASSERT_TRUE(m.set(txn, "g", Any::number(0.1)).has_value());
    ASSERT_TRUE(m.set(txn, "t", Any::boolean(true)).has_value());
    ASSERT_TRUE(m.set(txn, "u", Any::boolean(false)).has_value());
    ASSERT_TRUE(m.set(txn, "n", Any::null()).has_value());
    ASSERT_TRUE(m.set(txn, "l", Any::array({str("a"), Any::number(0.5), Any::object({{"k", str("v")}})})).has_value());
    ASSERT_TRUE(m.set(txn, "e", str("")).has_value());
    ASSERT_TRUE(m.set(txn, "x", str("\xc3\xa9\xe4\xb8\xad\xf0\x9f\x98\x80")).has_value());
  }
  EXPECT_EQ(doc->encode_state_as_update(), fixture("map_values"));
}

TEST(Golden, NestedMaps) {
  auto doc = new_doc();
  MapRef sheets = cant_fail(doc->get_or_create_map("sheets"));
  MapRef contents(nullptr);
  {
    Transaction txn(*doc);
    MapRef sheet = cant_fail(sheets.insert_map(txn, "sheet:0"));
    ASSERT_TRUE(sheet.set(txn, "name", str("Sheet1")).has_value());
    contents = cant_fail(sheet.insert_map(txn, "contents"));
    ASSERT_TRUE(contents.set(txn, "0:0", Any::array({str("lit"), Any::number(1.5)})).has_value());
  }
  {
    Transaction txn(*doc);
    ASSERT_TRUE(contents.set(txn, "0:1", str("b")).has_value());
  }
  EXPECT_EQ(doc->encode_state_as_update(), fixture("nested_maps"));
}

TEST(Golden, OverwriteAndRemove) {
  auto doc = new_doc();
  MapRef m = cant_fail(doc->get_or_create_map("m"));
  {
    Transaction txn(*doc);
    ASSERT_TRUE(m.set(txn, "a", str("x")).has_value());
    ASSERT_TRUE(m.set(txn, "b", str("y")).has_value());
  }
  const StateVector sv = doc->state_vector();
  {
    Transaction txn(*doc);
    ASSERT_TRUE(m.set(txn, "a", str("z")).has_value());
  }
  {
    Transaction txn(*doc);
    EXPECT_TRUE(m.remove(txn, "b"));
  }
  EXPECT_EQ(doc->encode_state_as_update(), fixture("overwrite_and_remove"));
  EXPECT_EQ(doc->encode_state_as_update(sv), fixture("overwrite_and_remove_diff"));
}

TEST(Golden, ArrayEdits) {
  auto doc = new_doc();
  ArrayRef order = cant_fail(doc->get_or_create_array("order"));
  {
    Transaction txn(*doc);
    ASSERT_TRUE(order.insert(txn, 0, {str("a"), str("b"), str("c")}).has_value());
  }
  const auto sv = doc->encode_state_vector();
  {
    Transaction txn(*doc);
    ASSERT_TRUE(order.insert(txn, 1, {str("x")}).has_value());
  }
  {
    Transaction txn(*doc);
    ASSERT_TRUE(order.remove_range(txn, 0, 1).has_value());
  }
  for (const char* text : {"d", "e"}) {
    Transaction txn(*doc);
    ASSERT_TRUE(order.push_back(txn, {str(text)}).has_value());
  }
  EXPECT_EQ(doc->encode_state_as_update(), fixture("array_edits"));
  EXPECT_EQ(cant_fail(doc->encode_diff(sv)), fixture("array_edits_diff"));
}

TEST(Golden, CollectedNestedMap) {
  auto doc = new_doc();
  MapRef m = cant_fail(doc->get_or_create_map("m"));
  {
    Transaction txn(*doc);
    MapRef inner = cant_fail(m.insert_map(txn, "k"));
    ASSERT_TRUE(inner.set(txn, "a", str("one")).has_value());
    ASSERT_TRUE(inner.set(txn, "b", str("two")).has_value());
  }
  {
    Transaction txn(*doc);
    ASSERT_TRUE(m.set(txn, "k", str("gone")).has_value());
  }
  EXPECT_EQ(doc->encode_state_as_update(), fixture("collected_nested_map"));
}

}  // namespace
}  // namespace cmx::crdt
