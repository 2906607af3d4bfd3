// Row and column insertions and deletions through apply_op: what every
// formula becomes, what the edited sheet's grid keeps, the refusals, and the
// inverse lists that put the workbook back.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <tuple>

#include "model/sheet_cells.h"
#include "ops/apply.h"
#include "formula/parser.h"
#include "formula/printer.h"
#include "ops/batch.h"

namespace cmx::ops {
namespace {

using model::CellRange;
using model::CellRef;
using model::SheetCell;
using model::WorkbookModel;

CellRange range(const char* text) { return model::parse_range(text).value(); }
CellRef ref(const char* text) { return model::parse_cell_ref(text).value(); }
SheetCell formula(const char* text) { return SheetCell{model::CellValue::number(0), SharedString(text), std::nullopt}; }
SheetCell number(double value) { return SheetCell{model::CellValue::number(value), std::nullopt, std::nullopt}; }

WorkbookModel workbook(std::initializer_list<const char*> names) {
  WorkbookModel model;
  for (const char* name : names) model.sheets.emplace_back().name = name;
  return model;
}

void put(WorkbookModel& model, uint32_t sheet, const char* a1, SheetCell cell) {
  const CellRef at = ref(a1);
  model::set_sheet_cell(model.sheets[sheet], at.row, at.col, std::move(cell));
}

// The formula of the only cell of the sheet.
std::string only_formula(const WorkbookModel& model, uint32_t sheet) {
  const auto& cells = model.sheets[sheet].cells;
  if (cells.size() != 1 || !cells.begin()->second.formula) return "?";
  return cells.begin()->second.formula->str();
}

const SheetCell* cell_at(const WorkbookModel& model, uint32_t sheet, const char* a1) {
  const CellRef at = ref(a1);
  auto it = model.sheets[sheet].cells.find(model::CellKey{at.row, at.col});
  return it == model.sheets[sheet].cells.end() ? nullptr : &it->second;
}

// Applies the step, then its inverse list, and checks that the inverse
// brings back the model exactly.
InverseList apply_and_check_inverse(WorkbookModel& model, const WorkbookOp& step) {
  const WorkbookModel before = model;
  auto inverse = apply_op(model, step);
  EXPECT_TRUE(inverse.has_value()) << (inverse ? "" : ops_error_debug(inverse.error()));
  if (!inverse) return {};
  WorkbookModel undone = model;
  for (const WorkbookOp& back : *inverse) {
    auto result = apply_op(undone, back);
    EXPECT_TRUE(result.has_value()) << (result ? "" : ops_error_debug(result.error()));
  }
  // A merge restored by MergeCells goes to the end of the list, whose order
  // carries no meaning.
  WorkbookModel expected = before;
  for (WorkbookModel* m : {&undone, &expected}) {
    for (model::SheetModel& sheet : m->sheets) {
      std::sort(sheet.merges.begin(), sheet.merges.end(), [](const CellRange& a, const CellRange& b) {
        return std::tie(a.start.row, a.start.col) < std::tie(b.start.row, b.start.col);
      });
    }
  }
  EXPECT_TRUE(model::workbook_eq(undone, expected));
  return *inverse;
}

TEST(Structural, FormulasFollowTheEdit) {
  struct Case {
    const char* formula;  // in Sheet2!Z1 (home Sheet2) or Sheet1!Z1
    uint32_t home;
    WorkbookOp edit;
    const char* expected;  // "" when the text stays byte for byte
  };
  const Case cases[] = {
      {"SUM(A1:A10)*2", 0, InsertRows{0, 0, 1}, "SUM(A2:A11)*2"},
      {"sum( A1 , Sheet2!B1 )", 0, InsertRows{0, 5, 1}, ""},
      {"sum( A1 , Sheet2!B1 )", 0, InsertRows{1, 0, 1}, "sum(A1,Sheet2!B2)"},
      {"a1+A1", 0, InsertRows{0, 0, 1}, "a1+A2"},
      {"Sheet1!A1+A1", 1, InsertRows{0, 0, 2}, "Sheet1!A3+A1"},
      {"'Sheet1'!B2*Sheet1!B:B", 1, InsertColumns{0, 1, 1}, "Sheet1!C2*Sheet1!C:C"},
      {"A3+A6", 0, DeleteRows{0, 2, 3}, "#REF!+A3"},
      {"SUM(A1:A10)", 0, DeleteRows{0, 2, 3}, "SUM(A1:A7)"},
      {"SUM(C1:E1)", 0, DeleteColumns{0, 2, 3}, "SUM(#REF!)"},
      {"SUM(Sheet1:Sheet3!A1)", 1, InsertRows{1, 0, 1}, "SUM(Sheet1:Sheet3!A2)"},
      {"Other!A1", 1, InsertRows{0, 0, 1}, ""},
      {"INDIRECT(\"A1\")&A1", 0, InsertRows{0, 0, 1}, "INDIRECT(\"A1\")&A2"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.formula);
    WorkbookModel model = workbook({"Sheet1", "Sheet2", "Sheet3"});
    put(model, c.home, "Z1", formula(c.formula));
    apply_and_check_inverse(model, c.edit);
    EXPECT_EQ(only_formula(model, c.home), *c.expected ? c.expected : c.formula);
  }
}

TEST(Structural, RefusalsLeaveTheModelAlone) {
  struct Case {
    const char* name;
    void (*setup)(WorkbookModel&);
    WorkbookOp edit;
    OpsError error;
  };
  const Case cases[] = {
      {"unparsable formula", [](WorkbookModel& m) { put(m, 0, "C4", formula("SUM(A5")); }, InsertRows{0, 0, 1},
       OpsError::formula_not_rewritable(0, ref("C4"))},
      {"unparsable formula naming a sheet", [](WorkbookModel& m) { put(m, 1, "C4", formula("Sheet1!A1+")); },
       InsertColumns{0, 0, 1}, OpsError::formula_not_rewritable(1, ref("C4"))},
      {"table reference", [](WorkbookModel& m) { put(m, 0, "B2", formula("SUM(T[x])")); }, InsertRows{0, 0, 1},
       OpsError::formula_not_rewritable(0, ref("B2"))},
      {"unresolvable span", [](WorkbookModel& m) { put(m, 1, "A1", formula("SUM(Sheet1:Nine!A1)")); },
       InsertRows{0, 0, 1}, OpsError::formula_not_rewritable(1, ref("A1"))},
      {"workbook-wide name without sheet",
       [](WorkbookModel& m) {
         put(m, 0, "A1", formula("B1"));
         m.defined_names.push_back({"Sales", "A1:A10", std::nullopt, false});
       },
       InsertRows{1, 0, 1}, OpsError::with_text(OpsErrorKind::DefinedNameNotRewritable, "Sales")},
      {"chart text without sheet on the edited sheet",
       [](WorkbookModel& m) {
         put(m, 0, "A1", formula("B1"));
         model::SheetChart chart;
         chart.part = "xl/charts/chart1.xml";
         chart.refs.push_back({model::ChartReferenceKind::Values, "net total"});
         m.sheets[0].charts.push_back(chart);
       },
       InsertRows{0, 0, 1}, OpsError::with_text(OpsErrorKind::ChartRefNotRewritable, "xl/charts/chart1.xml")},
      {"chart frame pushed off the grid",
       [](WorkbookModel& m) {
         model::SheetChart chart;
         chart.part = "xl/charts/chart2.xml";
         chart.anchor = model::OneCellAnchor{{0, 0, 1048575, 0}, {10, 10}};
         m.sheets[0].charts.push_back(chart);
       },
       InsertRows{0, 0, 1}, OpsError::with_text(OpsErrorKind::ChartAnchorNotMovable, "xl/charts/chart2.xml")},
      {"table range would move",
       [](WorkbookModel& m) { m.tables.push_back({"Sales", {"Amount"}, range("B3:B9"), 0, 1, 0}); },
       InsertRows{0, 4, 1}, OpsError::with_text(OpsErrorKind::TableNotMovable, "Sales")},
      {"no such sheet", [](WorkbookModel&) {}, DeleteColumns{7, 0, 1}, OpsError::sheet_not_found(7)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WorkbookModel model = workbook({"Sheet1", "Sheet2"});
    put(model, 0, "A9", formula("A1+1"));
    c.setup(model);
    const WorkbookModel before = model;
    auto result = apply_op(model, c.edit);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error(), c.error);
    EXPECT_TRUE(model::workbook_eq(model, before));
  }
  // A formula that cannot refer to the edited rows does not block the edit:
  // on another sheet without a sheet name, or above the edit.
  {
    WorkbookModel model = workbook({"Sheet1", "Sheet2"});
    put(model, 1, "A1", formula("SUM("));
    put(model, 0, "A1", formula("SUM(A1:A4"));
    put(model, 0, "B1", formula("A2+A9"));
    ASSERT_TRUE(apply_op(model, InsertRows{0, 5, 1}).has_value());
    EXPECT_EQ(cell_at(model, 0, "B1")->formula->view(), "A2+A10");
  }
  // A table the edit does not reach lets it through.
  WorkbookModel model = workbook({"Sheet1"});
  model.tables.push_back({"Sales", {"Amount"}, range("B3:B9"), 0, 1, 0});
  EXPECT_TRUE(apply_op(model, InsertRows{0, 20, 1}).has_value());
  EXPECT_TRUE(apply_op(model, InsertColumns{0, 5, 1}).has_value());
  EXPECT_EQ(model.tables[0].range, range("B3:B9"));
}

TEST(Structural, GridOfTheEditedSheet) {
  WorkbookModel model = workbook({"Sheet1"});
  model::SheetModel& sheet = model.sheets[0];
  put(model, 0, "A1", number(1));
  put(model, 0, "A4", number(4));
  put(model, 0, "B7", number(7));
  sheet.row_heights = {{0, 10.0}, {3, 20.0}, {6, 30.0}};
  sheet.merges = {range("A1:A10"), range("B4:C5"), range("E8:F9")};
  sheet.hyperlinks.push_back({range("B4"), std::nullopt, std::string("#Sheet1!B7"), std::nullopt, std::nullopt});
  sheet.hyperlinks.push_back({range("B2"), std::nullopt, std::string("#Sheet1!B4"), std::nullopt, std::nullopt});
  sheet.hyperlinks.push_back({range("C9"), std::string("https://example.org"), std::nullopt, std::nullopt, std::nullopt});

  const InverseList inverse = apply_and_check_inverse(model, DeleteRows{0, 2, 4});
  EXPECT_NE(cell_at(model, 0, "A1"), nullptr);
  EXPECT_EQ(cell_at(model, 0, "A4"), nullptr);
  EXPECT_NE(cell_at(model, 0, "B3"), nullptr);  // B7 moved up by four
  EXPECT_EQ(sheet.row_heights, (std::map<uint32_t, double>{{0, 10.0}, {2, 30.0}}));
  EXPECT_EQ(sheet.merges, (std::vector<CellRange>{range("A1:A6"), range("E4:F5")}));
  ASSERT_EQ(sheet.hyperlinks.size(), 2u);
  // The link in row 4 went with its row; the one pointing at row 4 broke.
  EXPECT_EQ(sheet.hyperlinks[0].range, range("B2"));
  EXPECT_EQ(sheet.hyperlinks[0].location, "#REF!");
  EXPECT_EQ(sheet.hyperlinks[1].range, range("C5"));
  // The inverse restores the deleted cell, height and merge.
  ASSERT_GE(inverse.size(), 4u);
  EXPECT_EQ(std::get<InsertRows>(inverse[0]), (InsertRows{0, 2, 4}));
  EXPECT_EQ(std::get<SetCell>(inverse[1]), (SetCell{number(4), CellAddress{0, ref("A4")}}));
  EXPECT_EQ(std::get<SetRowHeight>(inverse[2]), (SetRowHeight{0, 3, 20.0}));
  EXPECT_EQ(std::get<MergeCells>(inverse[3]), (MergeCells{0, range("B4:C5")}));
}

TEST(Structural, GridEdges) {
  WorkbookModel model = workbook({"Sheet1"});
  put(model, 0, "A1048571", number(1));
  put(model, 0, "A1048576", number(2));
  put(model, 0, "A1048569", number(3));
  const InverseList inverse = apply_and_check_inverse(model, InsertRows{0, 1048570, 10});
  EXPECT_EQ(model.sheets[0].cells.size(), 1u);
  ASSERT_EQ(inverse.size(), 4u);
  EXPECT_EQ(std::get<SetCell>(inverse[1]), (SetCell{number(1), CellAddress{0, ref("A1048571")}}));
  EXPECT_EQ(std::get<SetCell>(inverse[2]), (SetCell{number(2), CellAddress{0, ref("A1048576")}}));

  WorkbookModel wide = workbook({"Sheet1"});
  put(wide, 0, "A1", number(1));
  put(wide, 0, "A9", number(9));
  apply_and_check_inverse(wide, DeleteRows{0, 5, 0xFFFFFFFFu});
  EXPECT_EQ(wide.sheets[0].cells.size(), 1u);
}

TEST(Structural, ColumnStyleRuns) {
  using Runs = std::vector<model::ColumnStyle>;
  WorkbookModel model = workbook({"Sheet1"});
  model.sheets[0].column_styles = {{16379, 16380, 1}, {16382, 16382, 2}};
  apply_and_check_inverse(model, InsertColumns{0, 16380, 5});
  EXPECT_EQ(model.sheets[0].column_styles, (Runs{{16379, 16383, 1}, {16383, 16383, 2}}));

  model.sheets[0].column_styles = {{4, 5, 1}, {2, 4, 2}, {4, 8, 3}, {7, 9, 4}};
  const InverseList inverse = apply_and_check_inverse(model, DeleteColumns{0, 3, 3});
  EXPECT_EQ(model.sheets[0].column_styles, (Runs{{2, 2, 2}, {3, 5, 3}, {4, 6, 4}}));
  EXPECT_EQ(std::get<SetColumnStyles>(inverse[1]), (SetColumnStyles{0, {{4, 5, 1}, {2, 4, 2}, {4, 8, 3}, {7, 9, 4}}}));

  WorkbookModel plain = workbook({"Sheet1"});
  const InverseList none = apply_and_check_inverse(plain, InsertColumns{0, 0, 1});
  for (const WorkbookOp& step : none) EXPECT_FALSE(std::holds_alternative<SetColumnStyles>(step));
}

model::SheetChart chart_with(const char* part, std::vector<const char*> refs, model::ChartAnchor anchor) {
  model::SheetChart chart;
  chart.part = part;
  chart.drawing = "xl/drawings/drawing1.xml";
  chart.anchor = anchor;
  for (const char* text : refs) chart.refs.push_back({model::ChartReferenceKind::Values, text});
  return chart;
}

TEST(Structural, NamesLinksAndCharts) {
  WorkbookModel model = workbook({"Sheet1", "Sheet2"});
  model.defined_names.push_back({"Total", "Sheet1!$B$10", std::nullopt, false});
  model.defined_names.push_back({"Local", "$A$1:$A$3", 0u, false});
  model.defined_names.push_back({"Other", "$A$1", 1u, false});
  model.defined_names.push_back({"Rate", "0.2", std::nullopt, false});
  model.sheets[1].hyperlinks.push_back({range("A1"), std::nullopt, std::string("#Sheet1!A5"), std::nullopt, std::nullopt});
  model.sheets[1].hyperlinks.push_back({range("A2"), std::nullopt, std::string("Sheet2!A5"), std::nullopt, std::nullopt});
  const model::TwoCellAnchor frame{model::ChartAnchorEditMode::TwoCell, {1, 0, 3, 0}, {6, 0, 12, 0}};
  model.sheets[0].charts.push_back(chart_with("xl/charts/chart1.xml", {"Sheet1!$A$2:$A$9", "Sales"}, frame));
  model.sheets[1].charts.push_back(chart_with("xl/charts/chart2.xml", {"Sheet2!$A$2:$A$9", "net total"}, frame));
  const WorkbookModel before = model;

  apply_and_check_inverse(model, InsertRows{0, 0, 2});
  EXPECT_EQ(model.defined_names[0].formula, "Sheet1!$B$12");
  EXPECT_EQ(model.defined_names[1].formula, "$A$3:$A$5");
  EXPECT_EQ(model.defined_names[2].formula, "$A$1");
  EXPECT_EQ(model.defined_names[3].formula, "0.2");
  EXPECT_EQ(model.sheets[1].hyperlinks[0].location, "#Sheet1!A7");
  EXPECT_EQ(model.sheets[1].hyperlinks[1].location, "Sheet2!A5");
  EXPECT_EQ(model.sheets[0].charts[0].refs[0].formula, "Sheet1!$A$4:$A$11");
  EXPECT_EQ(model.sheets[0].charts[0].refs[1].formula, "Sales");
  const auto& moved = std::get<model::TwoCellAnchor>(model.sheets[0].charts[0].anchor);
  EXPECT_EQ(moved.from.row, 5u);
  EXPECT_EQ(moved.to.row, 14u);
  EXPECT_EQ(model.sheets[1].charts, before.sheets[1].charts);
}

TEST(Structural, DeletedTargetGivesRefLocation) {
  WorkbookModel model = workbook({"Sheet1", "Sheet2"});
  model.sheets[1].hyperlinks.push_back({range("A1"), std::nullopt, std::string("#Sheet1!A5"), std::nullopt, std::nullopt});
  apply_and_check_inverse(model, DeleteRows{0, 4, 1});
  EXPECT_EQ(model.sheets[1].hyperlinks[0].location, "#REF!");
}

TEST(Structural, SingleSheetWorkbookShiftsWorkbookWideNames) {
  WorkbookModel model = workbook({"Sheet1"});
  model.defined_names.push_back({"Sales", "A1:A10", std::nullopt, false});
  apply_and_check_inverse(model, InsertRows{0, 0, 1});
  EXPECT_EQ(model.defined_names[0].formula, "A2:A11");
}

// A random workbook of canonical formulas: inserting rows and deleting the
// same rows again gives back the model exactly, and so does every inverse.
TEST(Structural, InsertThenDeleteRestoresTheModel) {
  std::mt19937 rng(39);
  auto pick = [&](uint32_t n) { return static_cast<uint32_t>(rng() % n); };
  auto cell_text = [&](bool sheet) {
    std::string out = sheet ? (pick(2) ? "Sheet1!" : "Sheet2!") : "";
    if (pick(2)) out += "$";
    out += model::column_letters(pick(6));
    if (pick(2)) out += "$";
    out += std::to_string(pick(40) + 1);
    return out;
  };
  for (int round = 0; round < 60; ++round) {
    SCOPED_TRACE(round);
    WorkbookModel model = workbook({"Sheet1", "Sheet2"});
    for (int i = 0; i < 40; ++i) {
      const uint32_t sheet = pick(2);
      const CellRef at{pick(40), pick(6), false, false};
      std::string text;
      switch (pick(4)) {
        case 0: text = cell_text(pick(2)); break;
        case 1: text = "SUM(" + cell_text(false) + ":" + cell_text(false) + ")"; break;
        case 2: text = cell_text(true) + "*2"; break;
        default: text = ""; break;
      }
      // Keep texts canonical so that printing them again gives them back.
      if (!text.empty()) {
        auto parsed = formula::parse_formula(text);
        ASSERT_TRUE(parsed.has_value()) << text;
        text = formula::expr_to_formula(**parsed);
      }
      SheetCell cell = text.empty() ? number(i) : formula(text.c_str());
      model::set_sheet_cell(model.sheets[sheet], at.row, at.col, cell);
    }
    model.sheets[0].row_heights = {{pick(40), 15.0}};
    model.sheets[0].merges = {range("H2:I3")};
    model.defined_names.push_back({"Scoped", formula::expr_to_formula(**formula::parse_formula(cell_text(false))),
                                   0u, false});
    const WorkbookModel original = model;
    const uint32_t sheet = pick(2);
    const uint32_t at = pick(45);
    const uint32_t count = pick(5) + 1;
    const bool rows = pick(2) == 0;
    const WorkbookOp insert = rows ? WorkbookOp(InsertRows{sheet, at, count}) : WorkbookOp(InsertColumns{sheet, at, count});
    const WorkbookOp remove = rows ? WorkbookOp(DeleteRows{sheet, at, count}) : WorkbookOp(DeleteColumns{sheet, at, count});
    apply_and_check_inverse(model, insert);
    WorkbookModel deleted = model;
    apply_and_check_inverse(deleted, remove);
    EXPECT_TRUE(model::workbook_eq(deleted, original));
  }
}

TEST(Structural, BatchRollsBackAllSteps) {
  WorkbookModel model = workbook({"Sheet1"});
  put(model, 0, "A2", formula("A1*2"));
  const WorkbookModel before = model;
  auto result = apply_batch(model, Batch{InsertRows{0, 0, 1}, RemoveSheet{5}});
  ASSERT_FALSE(result.has_value());
  EXPECT_EQ(result.error(), OpsError::sheet_index_out_of_range(5));
  EXPECT_TRUE(model::workbook_eq(model, before));
}

}  // namespace
}  // namespace cmx::ops
