// Table reference ranges and the parse cache.
#include <gtest/gtest.h>

#include <thread>

#include "eval_harness.h"
#include "formula/table_ranges.h"

namespace cmx::formula {
namespace {

using namespace testing;
using model::CellRange;
using model::CellRef;

CellRange range(std::string_view a, std::string_view b) {
  CellRef s = model::parse_cell_ref(a).value();
  CellRef e = model::parse_cell_ref(b).value();
  return CellRange{{s.row, s.col, false, false}, {e.row, e.col, false, false}};
}

model::WorkbookTable table(std::string_view a, std::string_view b, uint32_t headers,
                           uint32_t totals) {
  return model::WorkbookTable{"T", {"Region", "Amount", "Note"}, range(a, b), 0, headers, totals};
}

TEST(TableReferenceRange, Bands) {
  using TB = TableBand;
  struct Case {
    std::string_view name;
    model::WorkbookTable table;
    TableSpec spec;
    std::optional<CellRef> current;
    Result<CellRange, CellErrorCode> want;
  };
  const auto plain = table("A1", "C11", 1, 0);
  const auto totals = table("A1", "C11", 1, 1);
  const auto no_header = table("A1", "C11", 0, 0);
  const auto no_data = table("A1", "C2", 1, 1);
  const CellRef row5{4, 7, false, false};
  const Case cases[] = {
      {"data by default", plain, {}, {}, range("A2", "C11")},
      {"all", plain, {{TB::All}}, {}, range("A1", "C11")},
      {"headers", plain, {{TB::Headers}}, {}, range("A1", "C1")},
      {"no totals row", plain, {{TB::Totals}}, {}, unexpected(CellErrorCode::Ref)},
      {"data above totals", totals, {{TB::Data}}, {}, range("A2", "C10")},
      {"totals", totals, {{TB::Totals}}, {}, range("A11", "C11")},
      {"headers and totals", totals, {{TB::Headers, TB::Totals}}, {}, range("A1", "C11")},
      {"no header row", no_header, {{TB::Headers}}, {}, unexpected(CellErrorCode::Ref)},
      {"no data rows", no_data, {}, {}, unexpected(CellErrorCode::Ref)},
      {"no data rows, data", no_data, {{TB::Data}}, {}, unexpected(CellErrorCode::Ref)},
      {"no data rows, this row", no_data, {{TB::ThisRow}}, row5, unexpected(CellErrorCode::Value)},
      {"this row", plain, {{TB::ThisRow}}, row5, range("A5", "C5")},
      {"this row in header", plain, {{TB::ThisRow}}, CellRef{0, 0, false, false},
       unexpected(CellErrorCode::Value)},
      {"this row below", plain, {{TB::ThisRow}}, CellRef{11, 0, false, false},
       unexpected(CellErrorCode::Value)},
      {"this row without cell", plain, {{TB::ThisRow}}, {}, unexpected(CellErrorCode::Value)},
      {"one column", plain, {{}, "amount", {}}, {}, range("B2", "B11")},
      {"column span reversed", plain, {{}, "Note", "Region"}, {}, range("A2", "C11")},
      {"last column only", plain, {{}, {}, "Amount"}, {}, range("A2", "B11")},
      {"this row, one column", plain, {{TB::ThisRow}, "Note", {}}, row5, range("C5", "C5")},
      {"unknown column", plain, {{}, "Amt", {}}, {}, unexpected(CellErrorCode::Ref)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto got = table_reference_range(c.table, c.spec, c.current);
    ASSERT_EQ(got.has_value(), c.want.has_value());
    if (got.has_value()) {
      EXPECT_EQ(*got, *c.want);
    } else {
      EXPECT_EQ(got.error(), c.want.error());
    }
  }
}

TEST(TableReferenceRange, ColumnsPastTheTableAndWrappingRows) {
  // More column names than columns: a match beyond the range is "#REF!".
  auto narrow = model::WorkbookTable{"T", {"A", "B", "C"}, range("A1", "B3"), 0, 1, 0};
  EXPECT_EQ(table_reference_range(narrow, {{}, "C", {}}, {}).error(), CellErrorCode::Ref);
  auto nameless = model::WorkbookTable{"T", {}, range("A1", "B3"), 0, 1, 0};
  EXPECT_EQ(table_reference_range(nameless, {{}, "A", {}}, {}).error(), CellErrorCode::Ref);
  // Header and totals counts that wrap unsigned arithmetic give no rows.
  auto wrapping = model::WorkbookTable{"T", {"A"}, range("A5", "A7"), 0, UINT32_MAX, UINT32_MAX};
  EXPECT_EQ(table_reference_range(wrapping, {}, {}).error(), CellErrorCode::Ref);
  EXPECT_EQ(table_reference_range(wrapping, {{TableBand::Headers}}, {}).error(),
            CellErrorCode::Ref);
  EXPECT_EQ(table_reference_range(wrapping, {{TableBand::Totals}}, {}).error(),
            CellErrorCode::Ref);
}

TEST(ParseCache, SharesTreesByExactText) {
  ParseCache cache;
  auto a = cache.parse_cached("SUM($A$1:$A$9)");
  auto b = cache.parse_cached("SUM($A$1:$A$9)");
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->get(), b->get());
  EXPECT_EQ(cache.size(), 1u);
  auto lower = cache.parse_cached("a1+1");
  auto upper = cache.parse_cached("A1+1");
  ASSERT_TRUE(lower && upper);
  EXPECT_NE(lower->get(), upper->get());
  EXPECT_EQ(cache.size(), 3u);
  EXPECT_EQ(cache.parse_cached("1+"), std::nullopt);
  EXPECT_EQ(cache.parse_cached("1+"), std::nullopt);
  EXPECT_EQ(cache.size(), 3u);
}

TEST(ParseCache, NameFormulasShareCellEntries) {
  Workbook wb;
  wb.define("Twice", "=A1*2");
  wb.set(0, "A1", num(4));
  auto cell = wb.cache.parse_cached("A1*2");
  EXPECT_TRUE(same_value(wb.eval("Twice"), num(8)));
  EXPECT_EQ(wb.cache.size(), 1u);
  EXPECT_EQ(wb.cache.parse_cached("A1*2")->get(), cell->get());
}

TEST(ParseCache, ConcurrentUsersAllGetTrees) {
  ParseCache cache;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&cache] {
      for (int i = 0; i < 200; ++i) {
        auto tree = cache.parse_cached("SUM(A1:A" + std::to_string(i + 1) + ")");
        ASSERT_TRUE(tree.has_value());
      }
    });
  }
  for (auto& t : threads) t.join();
  EXPECT_EQ(cache.size(), 200u);
}

}  // namespace
}  // namespace cmx::formula
