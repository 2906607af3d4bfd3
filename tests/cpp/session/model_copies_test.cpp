// Model copies and comparisons, and the carry-over into rebuilt models.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include "model/style_interning.h"
#include "session/model_copies.h"

namespace cmx::session {
namespace {

model::SheetCell number(double v) { return {model::CellValue::number(v), {}, {}}; }
model::SheetCell formula(std::string_view text, double cached) {
  return {model::CellValue::number(cached), SharedString(text), {}};
}

model::WorkbookModel sample() {
  model::WorkbookModel workbook;
  workbook.sheets.emplace_back();
  workbook.sheets[0].name = "S";
  workbook.sheets[0].cells[{0, 0}] = number(1);
  workbook.sheets[0].cells[{0, 1}] = formula("A1*2", 2);
  return workbook;
}

TEST(ModelCopies, EqualitiesSeeWhatTheyShould) {
  using Edit = std::function<void(model::WorkbookModel&)>;
  struct Case {
    std::string_view name;
    Edit edit;
    bool cells_equal;
    bool all_equal;
  };
  const Case cases[] = {
      {"unchanged", [](auto&) {}, true, true},
      {"hyperlink", [](model::WorkbookModel& w) { w.sheets[0].hyperlinks.push_back({{}, "x", {}, {}, {}}); }, true,
       false},
      {"frozen pane", [](model::WorkbookModel& w) { w.sheets[0].freeze_pane = model::FreezePane{1, 0, {1, 0}}; },
       true, false},
      {"array range", [](model::WorkbookModel& w) { w.sheets[0].array_ranges[{0, 1}] = {}; }, true, false},
      {"defined name", [](model::WorkbookModel& w) { w.defined_names.push_back({"n", "1", {}, false}); }, true,
       false},
      {"cell value", [](model::WorkbookModel& w) { w.sheets[0].cells[{0, 0}] = number(2); }, false, false},
      {"zero against minus zero", [](model::WorkbookModel& w) { w.sheets[0].cells[{0, 0}] = number(-0.0); }, true,
       true},
      {"merge", [](model::WorkbookModel& w) { w.sheets[0].merges.push_back({{0, 0}, {0, 1}}); }, false, false},
      {"row height", [](model::WorkbookModel& w) { w.sheets[0].row_heights[2] = 30; }, false, false},
      {"sheet name", [](model::WorkbookModel& w) { w.sheets[0].name = "T"; }, false, false},
      {"date system", [](model::WorkbookModel& w) { w.date_system = model::DateSystem::V1904; }, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    model::WorkbookModel base = sample();
    base.sheets[0].cells[{0, 0}] = number(0.0);
    model::WorkbookModel copy = clone_workbook_model(base);
    c.edit(copy);
    if (std::string_view(c.name) != "zero against minus zero" && std::string_view(c.name) != "cell value") {
      copy.sheets[0].cells[{0, 0}] = number(0.0);
    }
    EXPECT_EQ(workbook_models_equal(base, copy), c.cells_equal);
    EXPECT_EQ(workbook_model_eq(base, copy), c.all_equal);
  }
}

TEST(ModelCopies, NanNeverEqualsItself) {
  model::WorkbookModel a = sample();
  a.sheets[0].cells[{0, 0}] = number(std::nan(""));
  const model::WorkbookModel b = clone_workbook_model(a);
  EXPECT_FALSE(workbook_models_equal(a, b));
  EXPECT_FALSE(workbook_model_eq(a, b));
}

size_t lookup_entries(const model::StyleSheet& styles) {
  const model::StyleLookupCaches& c = styles.caches;
  return c.font_lookup.positions.size() + c.fill_lookup.positions.size() + c.border_lookup.positions.size() +
         c.xf_lookup.positions.size() + c.num_fmt_lookup.entries.size() + c.font_lookup.in_line_length +
         c.xf_lookup.in_line_length;
}

TEST(ModelCopies, CopyStartsWithEmptyStyleLookups) {
  model::WorkbookModel base = sample();
  model::CellFormat bold;
  bold.font.bold = true;
  ASSERT_TRUE(model::intern_with_lookup_caches(base.styles, bold, {}).has_value());
  base.styles.caches.xf_lookup.positions[7] = 0;  // as a long session leaves them
  base.styles.caches.xf_lookup.in_line_length = base.styles.cell_xfs.size();
  model::WorkbookModel copy = clone_workbook_model(base);
  EXPECT_EQ(lookup_entries(copy.styles), 0u);
  model::CellFormat italic;
  italic.font.italic = true;
  const size_t before = lookup_entries(base.styles);
  ASSERT_TRUE(model::intern_with_lookup_caches(copy.styles, italic, {}).has_value());
  EXPECT_EQ(lookup_entries(base.styles), before);
  EXPECT_EQ(base.styles.cell_xfs.size() + 1, copy.styles.cell_xfs.size());
}

TEST(ModelCopies, CarryOverOfCachedResultsAndArrayRanges) {
  model::WorkbookModel live = sample();
  live.sheets[0].cells[{1, 0}] = formula("SEQUENCE(2)", 1);
  live.sheets[0].array_ranges[{1, 0}] = {{1, 0}, {2, 0}};
  live.sheets[0].cells[{3, 0}] = formula("ROW()", 4);
  live.sheets[0].array_ranges[{3, 0}] = {{3, 0}, {4, 0}};

  model::WorkbookModel rebuilt = clone_workbook_model(live);
  for (auto& [key, cell] : rebuilt.sheets[0].cells) {
    if (cell.formula) cell.value = model::CellValue();  // the document holds no cached results
  }
  rebuilt.sheets[0].array_ranges.clear();
  rebuilt.sheets[0].cells[{3, 0}] = formula("ROW()+1", 9);  // text changed

  refresh_formula_cache_targets(live.sheets, rebuilt.sheets);
  copy_sheets_for_staging(live.sheets, rebuilt.sheets);
  EXPECT_EQ(rebuilt.sheets[0].cells.at({0, 1}).value, model::CellValue::number(2));
  EXPECT_EQ(rebuilt.sheets[0].cells.at({1, 0}).value, model::CellValue::number(1));
  EXPECT_EQ(rebuilt.sheets[0].cells.at({3, 0}).value, model::CellValue::number(9));
  EXPECT_EQ(rebuilt.sheets[0].array_ranges.count({1, 0}), 1u);
  EXPECT_EQ(rebuilt.sheets[0].array_ranges.count({3, 0}), 0u);
  EXPECT_EQ(*rebuilt.sheets[0].cells.at({3, 0}).formula, SharedString("ROW()+1"));
}

}  // namespace
}  // namespace cmx::session
