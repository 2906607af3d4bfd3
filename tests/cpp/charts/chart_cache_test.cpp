#include "charts/chart_cache.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "chart_xml_util.h"
#include "test_util.h"

namespace cmx::charts {
namespace {

using model::CellValue;

model::SheetModel sheet_with(std::string name, std::vector<std::pair<model::CellKey, CellValue>> cells) {
  model::SheetModel sheet;
  sheet.name = std::move(name);
  for (auto& [key, value] : cells) sheet.cells[key] = model::SheetCell{std::move(value), std::nullopt, std::nullopt};
  return sheet;
}

ChartCacheInfo num_cache(uint64_t authored_points = 0) {
  ChartCacheInfo cache;
  cache.element = "numCache";
  cache.prefix = "c:";
  cache.span = ByteSpan{0, 0};
  cache.point_count = authored_points;
  return cache;
}

ChartCacheInfo str_cache() {
  ChartCacheInfo cache = num_cache();
  cache.element = "strCache";
  return cache;
}

// B2:B4 of "Data" holds 1, nothing, 3; column C holds empty, 1, 2 and D holds 1, 2, empty.
std::vector<model::SheetModel> data_sheets() {
  return {sheet_with("Other", {}),
          sheet_with("Data", {{{1, 1}, CellValue::number(1)},
                              {{3, 1}, CellValue::number(3)},
                              {{2, 2}, CellValue::number(1)},
                              {{3, 2}, CellValue::number(2)},
                              {{1, 3}, CellValue::number(1)},
                              {{2, 3}, CellValue::number(2)},
                              {{1, 4}, CellValue::text("a&b")},
                              {{2, 4}, CellValue::boolean(true)},
                              {{3, 4}, CellValue::error(model::CellErrorCode::NA)}})};
}

struct Case {
  const char* name;
  ChartCacheInfo cache;
  std::string formula;
  bool keep_authored;
  // Content, or the refusal's text.
  std::string expected;
  bool refused;
};

TEST(ChartCache, RegeneratesOrRefuses) {
  ChartCacheInfo with_code = num_cache();
  with_code.format_code = "0.0&\"x\"";
  ChartCacheInfo bare = num_cache();
  bare.prefix = "";
  ChartCacheInfo multi = num_cache();
  multi.element = "multiLvlStrCache";
  ChartCacheInfo unmodelled = num_cache();
  unmodelled.unmodelled = true;
  const std::string gap = "a chart cache with a gap between points keeps its authored values";
  const std::vector<Case> cases = {
      // main path
      {"numbers with an empty cell", num_cache(), "Data!$B$2:$B$4", false,
       R"(<c:ptCount val="3"/><c:pt idx="0"><c:v>1</c:v></c:pt><c:pt idx="2"><c:v>3</c:v></c:pt>)", false},
      {"sheet in other letter case", num_cache(), "dATA!$B$2", false,
       R"(<c:ptCount val="1"/><c:pt idx="0"><c:v>1</c:v></c:pt>)", false},
      {"no sheet reads the default", num_cache(), "$B$2", false,
       R"(<c:ptCount val="1"/><c:pt idx="0"><c:v>1</c:v></c:pt>)", false},
      {"quoted sheet, a row", num_cache(), "'Data'!B2:D2", false,
       R"(<c:ptCount val="3"/><c:pt idx="0"><c:v>1</c:v></c:pt><c:pt idx="2"><c:v>1</c:v></c:pt>)", false},
      {"format code escaped", with_code, "Data!B2", false,
       R"(<c:formatCode>0.0&amp;"x"</c:formatCode><c:ptCount val="1"/><c:pt idx="0"><c:v>1</c:v></c:pt>)", false},
      {"no prefix", bare, "Data!B2", false, R"(<ptCount val="1"/><pt idx="0"><v>1</v></pt>)", false},
      {"#REF! gives no points", with_code, " #REF! ", false,
       R"(<c:formatCode>0.0&amp;"x"</c:formatCode><c:ptCount val="0"/>)", false},
      {"text under a number cache has no point", num_cache(), "Data!E2:E3", false, R"(<c:ptCount val="2"/>)", false},
      {"string cache of text", str_cache(), "Data!E2", false,
       R"(<c:ptCount val="1"/><c:pt idx="0"><c:v>a&amp;b</c:v></c:pt>)", false},
      {"string cache as text when keeping", str_cache(), "Data!E2:E4", true,
       R"(<c:ptCount val="3"/><c:pt idx="0"><c:v>a&amp;b</c:v></c:pt><c:pt idx="1"><c:v>TRUE</c:v></c:pt>)"
       R"(<c:pt idx="2"><c:v>#N/A</c:v></c:pt>)",
       false},
      {"trailing empties are no gap", num_cache(1), "Data!D2:D4", true,
       R"(<c:ptCount val="3"/><c:pt idx="0"><c:v>1</c:v></c:pt><c:pt idx="1"><c:v>2</c:v></c:pt>)", false},
      // refusals
      {"multi-level", multi, "Data!B2", false, "a multi-level category cache cannot be regenerated", true},
      {"unmodelled", unmodelled, "Data!B2", false,
       "a chart cache that carries content beyond points and a format code cannot be regenerated", true},
      {"union", num_cache(), "(Data!B2,Data!B3)", false,
       "chart reference (Data!B2,Data!B3) is not a single same-workbook area", true},
      {"other workbook", num_cache(), "[1]Data!B2", false,
       "chart reference [1]Data!B2 is not a single same-workbook area", true},
      {"missing sheet", num_cache(), "Nope!B2", false, "chart reference Nope!B2 names a sheet this workbook does not hold",
       true},
      {"not a range", num_cache(), "Data!Total", false, "chart reference Data!Total is not a cell range", true},
      {"two dimensions", num_cache(), "Data!A1:B2", false, "chart reference Data!A1:B2 spans more than one row and column",
       true},
      {"65,537 points", num_cache(), "Data!A1:A65537", false,
       "chart reference Data!A1:A65537 would hold more points than a chart can carry", true},
      {"number under a string cache", str_cache(), "Data!B2", false,
       "a string cache over non-text cells cannot be regenerated", true},
      {"gap when keeping", num_cache(2), "Data!B2:B4", true, gap, true},
      {"missing first point when keeping", num_cache(2), "Data!C2:C4", true, gap, true},
      {"all empty when keeping", num_cache(2), "Data!A1:A3", true,
       "a chart cache over cells the grid reads as empty keeps its authored values", true},
      {"#REF! when keeping authored points", num_cache(2), "#REF!", true,
       "a chart cache over cells the grid reads as empty keeps its authored values", true},
  };
  const std::vector<model::SheetModel> sheets = data_sheets();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ChartCachePointBudget budget = save_cache_budget();
    budget.keep_authored = c.keep_authored;
    const auto result = regenerate_chart_cache(c.cache, c.formula, sheets, "Data", budget);
    if (c.refused) {
      ASSERT_FALSE(result.has_value());
      EXPECT_EQ(result.error(), SpreadsheetParseError::unsupported_edit(c.expected));
    } else {
      ASSERT_TRUE(result.has_value()) << xml::parse_error_message(result.error());
      EXPECT_EQ(*result, c.expected);
    }
  }
}

// The content regenerated for a cache reads back, through the reference walk,
// as a cache of exactly those points.
TEST(ChartCache, RegeneratedContentReadsBackAsItsPoints) {
  const std::vector<model::SheetModel> sheets = data_sheets();
  ChartCachePointBudget budget = save_cache_budget();
  const auto content = regenerate_chart_cache(num_cache(), "Data!B2:B4", sheets, "Data", budget);
  ASSERT_TRUE(content.has_value());
  const xml::XmlElement wrap =
      testing::parse_wrapped("<c:numRef><c:f>Data!B2:B4</c:f><c:numCache>" + *content + "</c:numCache></c:numRef>");
  const auto refs = find_chart_formula_refs(wrap);
  ASSERT_TRUE(refs.has_value());
  ASSERT_EQ(refs->size(), 1u);
  ASSERT_TRUE((*refs)[0].cache.has_value());
  EXPECT_EQ((*refs)[0].cache->point_count, 2u);
  EXPECT_FALSE((*refs)[0].cache->unmodelled);
}

TEST(ChartCache, PointBudgetIsTestedBeforeReadingAndChargedAfter) {
  const std::vector<model::SheetModel> sheets = data_sheets();
  ChartCachePointBudget budget{4096, 5, true};
  ASSERT_TRUE(regenerate_chart_cache(num_cache(), "Data!B2:B4", sheets, "Data", budget).has_value() == false);
  EXPECT_EQ(budget.remaining_points, 2u);  // charged, though the gap refused it
  const auto refused = regenerate_chart_cache(num_cache(), "Data!D2:D4", sheets, "Data", budget);
  ASSERT_FALSE(refused.has_value());
  EXPECT_EQ(refused.error().payload, "chart reference Data!D2:D4 would hold more points than a chart can carry");
  EXPECT_EQ(budget.remaining_points, 2u);  // a range refused for its size costs nothing
  // A 1 by 5,000 range is past a 4,096-point cache limit; a whole column is past the save's.
  ChartCachePointBudget draw{4096, 4096, true};
  EXPECT_FALSE(regenerate_chart_cache(num_cache(), "Data!A1:A5000", sheets, "Data", draw).has_value());
  ChartCachePointBudget save = save_cache_budget();
  EXPECT_FALSE(regenerate_chart_cache(num_cache(), "Data!A:A", sheets, "Data", save).has_value());
  EXPECT_TRUE(regenerate_chart_cache(num_cache(), "Data!A1:A65536", sheets, "Data", save).has_value());
}

TEST(ChartCache, PointTexts) {
  struct PointCase {
    const char* name;
    CellValue value;
    bool numeric;
    bool keep;
    std::optional<std::string> expected;
  };
  const double inf = std::numeric_limits<double>::infinity();
  const std::vector<PointCase> cases = {
      {"empty", CellValue(), true, false, std::nullopt},
      {"whole number", CellValue::number(3.0), true, false, "3"},
      {"tenth", CellValue::number(0.1), true, false, "0.1"},
      {"1e21 positional", CellValue::number(1e21), true, false, "1000000000000000000000"},
      {"negative zero", CellValue::number(-0.0), true, false, "-0"},
      {"infinity", CellValue::number(inf), true, false, "0"},
      {"NaN", CellValue::number(std::nan("")), true, false, "0"},
      {"text in number cache", CellValue::text("x"), true, false, std::nullopt},
      {"bool in number cache", CellValue::boolean(true), true, false, std::nullopt},
      {"error in number cache", CellValue::error(model::CellErrorCode::Div0), true, false, std::nullopt},
      {"empty text is a point", CellValue::text(""), false, false, ""},
      {"bool kept as text", CellValue::boolean(false), false, true, "FALSE"},
      {"number kept as text", CellValue::number(2.5), false, true, "2.5"},
  };
  for (const PointCase& c : cases) {
    SCOPED_TRACE(c.name);
    const auto text = chart_cache_point_text(c.value, c.numeric, c.keep);
    ASSERT_TRUE(text.has_value());
    EXPECT_EQ(*text, c.expected);
  }
  EXPECT_THAT(chart_cache_point_text(CellValue::error(model::CellErrorCode::NA), false, false),
              FailsWithKind(xml::ParseErrorKind::UnsupportedEdit));
}

TEST(ChartCache, CharacterXmlCannotCarryIsRefused) {
  std::vector<model::SheetModel> sheets = {sheet_with("S", {{{0, 0}, CellValue::text(std::string("a\x01", 2))}})};
  ChartCachePointBudget budget = save_cache_budget();
  EXPECT_THAT(regenerate_chart_cache(str_cache(), "S!A1", sheets, "S", budget),
              FailsWithKind(xml::ParseErrorKind::UnsupportedEdit));
}

}  // namespace
}  // namespace cmx::charts
