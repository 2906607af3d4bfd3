// The shared-string table: items, runs, flattening, entities, failures and
// the item limit.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "reader/shared_strings.h"
#include "reader_test_util.h"
#include "test_util.h"

namespace cmx::reader {
namespace {

using testing::fixture;
using xml::ParseErrorKind;

std::vector<std::string> texts(const SharedStringTable& table) { return shared_string_texts(table); }

TEST(ReadSharedStrings, Items) {
  struct Case {
    const char* fixture;
    std::vector<std::string> texts;
    std::set<uint64_t> rich;
  };
  const Case cases[] = {
      {"sst_runs", {"a", "bc"}, {1}},
      // White space between the elements of an item or a run is layout;
      // inside `t` it is text.
      {"sst_space_between_runs", {"ab"}, {0}},
      {"sst_laid_out", {" a ", "b c"}, {1}},
      {"sst_phonetic", {"ab"}, {}},
      // A guarded "_x005F_" yields a literal escape; surrogate codes stay.
      {"sst_escapes", {"\r", "_x0041_", "_xD83D_"}, {}},
      {"sst_empty_items", {"", ""}, {}},
      {"sst_entity", {"a&b"}, {}},
      // An `r` below a child of the item is not a run of the item.
      {"sst_nested_run", {"ab"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fixture);
    auto table = read_shared_strings(fixture(c.fixture));
    ASSERT_TRUE(table.has_value()) << xml::parse_error_message(table.error());
    EXPECT_EQ(texts(*table), c.texts);
    EXPECT_EQ(table->rich_string_items, c.rich);
  }
}

TEST(ReadSharedStrings, NestedItemsAndCounts) {
  // An item inside an item belongs to the outer one; count attributes are not read.
  auto table = read_shared_strings(
      "<sst count=\"9\" uniqueCount=\"9\"><si><t>a</t><si><t>b</t></si></si><x><si/></x></sst>");
  ASSERT_TRUE(table.has_value());
  EXPECT_EQ(texts(*table), (std::vector<std::string>{"ab", ""}));
}

TEST(ReadSharedStrings, Failures) {
  struct Case {
    const char* fixture;
    const char* message;
  };
  const Case cases[] = {
      {"sst_unknown_entity", "malformed spreadsheetml: unresolvable entity &nbsp;"},
      {"sst_truncated", "malformed spreadsheetml: unexpected eof in text"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fixture);
    auto table = read_shared_strings(fixture(c.fixture));
    ASSERT_FALSE(table.has_value());
    EXPECT_EQ(xml::parse_error_message(table.error()), c.message);
  }
  auto bad_utf8 = read_shared_strings("<sst><si><t>\xff</t></si></sst>");
  EXPECT_THAT(bad_utf8, FailsWithKind(ParseErrorKind::Xml));
}

TEST(ReadSharedStrings, ItemLimit) {
  std::string part = "<sst>";
  part.reserve(5 * MAX_SHARED_STRINGS + 32);
  for (uint64_t idx = 0; idx < MAX_SHARED_STRINGS; ++idx) part += "<si/>";
  auto full = read_shared_strings(part + "</sst>");
  ASSERT_TRUE(full.has_value());
  EXPECT_EQ(full->items.size(), MAX_SHARED_STRINGS);
  EXPECT_THAT(read_shared_strings(part + "<si/></sst>"), FailsWithKind(ParseErrorKind::TooManyStrings));
}

}  // namespace
}  // namespace cmx::reader
