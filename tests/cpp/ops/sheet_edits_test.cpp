// Sheet insertion, removal and rename through apply_op, with their inverses.
#include <gtest/gtest.h>

#include "model/sheet_cells.h"
#include "ops/apply.h"
#include "ops/sheet_edits.h"

namespace cmx::ops {
namespace {

using model::WorkbookModel;

WorkbookModel workbook(std::initializer_list<const char*> names) {
  WorkbookModel model;
  for (const char* name : names) model.sheets.emplace_back().name = name;
  return model;
}

model::SheetCell formula(const char* text) {
  return model::SheetCell{model::CellValue::number(1), SharedString(text), std::nullopt};
}

model::SheetChart chart(const char* part, std::vector<const char*> refs) {
  model::SheetChart out;
  out.part = part;
  for (const char* text : refs) out.refs.push_back({model::ChartReferenceKind::Values, text});
  return out;
}

void undo_and_compare(WorkbookModel& model, const InverseList& inverse, const WorkbookModel& before) {
  for (const WorkbookOp& step : inverse) {
    auto result = apply_op(model, step);
    ASSERT_TRUE(result.has_value()) << ops_error_debug(result.error());
  }
  EXPECT_TRUE(model::workbook_eq(model, before));
}

TEST(SheetEdits, InsertSheetShiftsScopesAndTables) {
  WorkbookModel model = workbook({"A", "B", "C"});
  model.defined_names = {{"One", "$A$1", 1u, false}, {"Zero", "$A$1", 0u, false}, {"All", "A!$A$1", std::nullopt, false}};
  model.tables.push_back({"Table1", {"Amount"}, model::parse_range("A1:A4").value(), 1, 1, 0});
  const WorkbookModel before = model;
  auto appended = apply_op(model, InsertSheet{99, "D"});
  ASSERT_TRUE(appended.has_value());
  EXPECT_EQ(model.sheets[3].name, "D");
  EXPECT_EQ(std::get<RemoveSheet>((*appended)[0]), RemoveSheet{3});
  undo_and_compare(model, *appended, before);

  auto inserted = apply_op(model, InsertSheet{1, ""});
  ASSERT_TRUE(inserted.has_value());
  EXPECT_EQ(model.defined_names[0].local_sheet, 2u);
  EXPECT_EQ(model.defined_names[1].local_sheet, 0u);
  EXPECT_EQ(model.defined_names[2].local_sheet, std::nullopt);
  EXPECT_EQ(model.tables[0].sheet, 2u);  // the table stays with its cells
  undo_and_compare(model, *inserted, before);
}

TEST(SheetEdits, RemoveSheetNarrowsChartReferences) {
  struct Case {
    const char* text;
    const char* expected;
  };
  const Case cases[] = {
      {"Alpha:Gamma!$A$1", "Alpha:Gamma!$A$1"},
      {"Beta:Delta!$A$1", "Gamma:Delta!$A$1"},
      {"Alpha:Beta!$A$1", "Alpha!$A$1"},
      {"Beta!$A$1", "#REF!"},
      {"'beta'!$A$1", "#REF!"},
      {"(Beta!$A$1,Alpha!$B$1)", "(#REF!,Alpha!$B$1)"},
      {" Alpha!$A$1 ", " Alpha!$A$1 "},
      {"Beta:Nowhere!$A$1", "#REF!"},
      {"Alpha:Nowhere!$A$1", "Alpha:Nowhere!$A$1"},
      {"SUM((Beta!A1)", "SUM((Beta!A1)"},
  };
  const std::vector<std::string> names{"Alpha", "Beta", "Gamma", "Delta"};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(narrow_chart_ref_for_removed_sheet(c.text, names, "Beta"), c.expected);
  }
}

TEST(SheetEdits, RemoveSheetAndItsInverse) {
  WorkbookModel model = workbook({"Alpha", "Beta", "Gamma", "Delta"});
  model::SheetModel& beta = model.sheets[1];
  model::set_sheet_cell(beta, 0, 0, formula("Gamma!A1*2"));
  model::set_sheet_cell(beta, 3, 2, model::SheetCell{model::CellValue::text("x"), std::nullopt, 4u});
  beta.merges.push_back(model::parse_range("B2:C3").value());
  beta.col_widths[2] = 14.5;
  beta.row_heights[7] = 30;
  beta.freeze_pane = model::FreezePane{1, 0, {1, 0, false, false}};
  beta.hyperlinks.push_back({model::parse_range("A1").value(), std::nullopt, std::string("#Alpha!A1"), std::nullopt,
                             std::nullopt});
  beta.column_styles.push_back({0, 3, 2});
  beta.charts.push_back(chart("xl/charts/chart1.xml", {"Beta!$A$1"}));
  model::set_sheet_cell(model.sheets[3], 0, 0, formula("Beta!A1"));
  model.sheets[3].charts.push_back(chart("xl/charts/chart2.xml", {"Beta:Delta!$A$1"}));
  model.sheets[0].charts.push_back(chart("xl/charts/chart3.xml", {"Alpha!$A$1"}));
  model.defined_names = {{"OnBeta", "$A$1", 1u, false}, {"OnDelta", "$A$1", 3u, false},
                         {"Wide", "Beta!$A$1", std::nullopt, false}};
  const WorkbookModel before = model;

  auto inverse = apply_op(model, RemoveSheet{1});
  ASSERT_TRUE(inverse.has_value());
  ASSERT_EQ(model.sheets.size(), 3u);
  EXPECT_EQ(model.sheets[2].name, "Delta");
  // Texts that name the removed sheet stay; only chart references narrow.
  EXPECT_EQ(model.sheets[2].cells.begin()->second.formula->view(), "Beta!A1");
  EXPECT_EQ(model.sheets[2].charts[0].refs[0].formula, "Gamma:Delta!$A$1");
  EXPECT_EQ(model.sheets[0].charts, before.sheets[0].charts);
  ASSERT_EQ(model.defined_names.size(), 2u);
  EXPECT_EQ(model.defined_names[0].local_sheet, 2u);
  EXPECT_EQ(model.defined_names[1].formula, "Beta!$A$1");
  // The chart restore names the position Delta has once Beta is back.
  EXPECT_EQ(std::get<SetCharts>(inverse->back()).sheet, 3u);
  undo_and_compare(model, *inverse, before);

  EXPECT_EQ(apply_op(model, RemoveSheet{4}).error(), OpsError::sheet_index_out_of_range(4));
  model.tables.push_back({"Sales", {"Amount"}, model::parse_range("A1:A3").value(), 2, 1, 0});
  const WorkbookModel with_table = model;
  EXPECT_EQ(apply_op(model, RemoveSheet{2}).error(), OpsError::with_text(OpsErrorKind::TableNotMovable, "Sales"));
  EXPECT_TRUE(model::workbook_eq(model, with_table));
  // Removing an earlier sheet moves the table's sheet down with its cells.
  ASSERT_TRUE(apply_op(model, RemoveSheet{0}).has_value());
  EXPECT_EQ(model.tables[0].sheet, 1u);

  WorkbookModel single = workbook({"Only"});
  ASSERT_TRUE(apply_op(single, RemoveSheet{0}).has_value());
  EXPECT_TRUE(single.sheets.empty());
}

TEST(SheetEdits, RenameSheetRewritesTextsAndUndoes) {
  WorkbookModel model = workbook({"Old", "Other"});
  model::set_sheet_cell(model.sheets[1], 0, 0, formula("SUM(Old!A1:B2)+'Old'!C1"));
  model::set_sheet_cell(model.sheets[1], 1, 0, formula("Other!A1+1"));
  model::set_sheet_cell(model.sheets[0], 0, 0, formula("\"Old!A1\"&A2"));
  model.sheets[1].hyperlinks.push_back({model::parse_range("A1").value(), std::nullopt, std::string("#Old!A1"),
                                        std::nullopt, std::nullopt});
  model.sheets[1].hyperlinks.push_back({model::parse_range("A2").value(), std::nullopt, std::string("Old!A1"),
                                        std::nullopt, std::nullopt});
  model.defined_names.push_back({"Total", "Old!$B$10", std::nullopt, false});
  model.sheets[0].charts.push_back(chart("xl/charts/chart1.xml", {"Old!$A$1:$A$4"}));
  const WorkbookModel before = model;

  auto inverse = apply_op(model, RenameSheet{0, "Q1 Sales"});
  ASSERT_TRUE(inverse.has_value());
  EXPECT_EQ(model.sheets[0].name, "Q1 Sales");
  EXPECT_EQ(model.sheets[1].cells.begin()->second.formula->view(), "SUM('Q1 Sales'!A1:B2)+'Q1 Sales'!C1");
  EXPECT_EQ(model.sheets[0].cells.begin()->second.formula->view(), "\"Old!A1\"&A2");
  EXPECT_EQ(model.sheets[1].hyperlinks[0].location, "#'Q1 Sales'!A1");
  EXPECT_EQ(model.sheets[1].hyperlinks[1].location, "'Q1 Sales'!A1");
  EXPECT_EQ(model.defined_names[0].formula, "'Q1 Sales'!$B$10");
  EXPECT_EQ(model.sheets[0].charts[0].refs[0].formula, "'Q1 Sales'!$A$1:$A$4");
  const auto& back = std::get<RenameSheetWithCells>((*inverse)[0]);
  EXPECT_EQ(back.name, "Old");
  ASSERT_EQ(back.cells.size(), 1u);  // only the rewritten cell
  undo_and_compare(model, *inverse, before);

  // The same name emits nothing to restore but the rename itself.
  auto same = apply_op(model, RenameSheet{0, "Old"});
  ASSERT_TRUE(same.has_value());
  EXPECT_EQ(same->size(), 1u);

  // A rewritten text past the length limit refuses the rename.
  std::string long_text;
  while (long_text.size() < 32700) long_text += "Old!A1+";
  long_text += "1";
  model::set_sheet_cell(model.sheets[1], 5, 0, formula(long_text.c_str()));
  const WorkbookModel before_long = model;
  EXPECT_EQ(apply_op(model, RenameSheet{0, "Much Longer"}).error(),
            OpsError::formula_not_rewritable(1, {5, 0, false, false}));
  EXPECT_TRUE(model::workbook_eq(model, before_long));
  EXPECT_EQ(apply_op(model, RenameSheet{2, "X"}).error(), OpsError::sheet_not_found(2));
}

}  // namespace
}  // namespace cmx::ops
