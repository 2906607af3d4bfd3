// apply_op: refusals with their messages, cell and value edits, merges and
// chart frames, each with its inverse list.
#include <gtest/gtest.h>

#include "model/style_interning.h"
#include "ops/apply.h"

namespace cmx::ops {
namespace {

using model::CellRange;
using model::CellRef;
using model::SheetCell;
using model::WorkbookModel;

CellRange range(const char* text) { return model::parse_range(text).value(); }
CellRef ref(const char* text) { return model::parse_cell_ref(text).value(); }
CellAddress address(SheetId sheet, const char* a1) { return CellAddress{sheet, ref(a1)}; }
SheetCell number(double value) { return SheetCell{model::CellValue::number(value), std::nullopt, std::nullopt}; }

WorkbookModel two_sheets() {
  WorkbookModel model;
  model.sheets.resize(2);
  model.sheets[0].name = "One";
  model.sheets[1].name = "Two";
  return model;
}

model::SheetChart chart(const char* part, uint64_t index, model::ChartAnchor anchor) {
  model::SheetChart out;
  out.part = part;
  out.drawing = "xl/drawings/drawing1.xml";
  out.anchor_index = index;
  out.anchor = anchor;
  return out;
}

model::TwoCellAnchor two_cell(uint32_t col, uint32_t row) {
  return model::TwoCellAnchor{model::ChartAnchorEditMode::TwoCell, {col, 0, row, 0}, {col + 3, 0, row + 5, 0}};
}

TEST(ApplyOp, Refusals) {
  model::CellFormat bold;
  bold.font.bold = true;
  PatchStyle bad_size{0, range("A1:B2"), {}};
  bad_size.patch.font_size = 400.5;
  PatchStyle bad_family{0, range("A1"), {}};
  bad_family.patch.font_family = " \t ";
  PatchStyle bad_fill{0, range("A1"), {}};
  bad_fill.patch.fill_color = "#ABC";
  PatchStyle bad_border_color{0, range("A1"), {}};
  bad_border_color.patch.border = BorderPatch{BorderPreset::All, std::nullopt, std::string("red")};
  PatchStyle family_before_color{0, range("A1"), {}};
  family_before_color.patch.font_family = "";
  family_before_color.patch.text_color = "nope";
  PatchStyle nan_size{0, range("A1"), {}};
  nan_size.patch.font_size = std::nan("");
  PatchStyle whole_grid{0, CellRange{{0, 0}, {model::MAX_ROWS - 1, model::MAX_COLS - 1}}, {}};
  whole_grid.patch.bold = true;
  struct Case {
    const char* name;
    WorkbookOp step;
    const char* message;
  };
  const Case cases[] = {
      {"cell on a missing sheet", SetCell{number(1), address(2, "A1")}, "sheet 2 not found"},
      {"width on a missing sheet", SetColumnWidth{7, 0, 3.0}, "sheet 7 not found"},
      {"height", SetRowHeight{2, 0, 3.0}, "sheet 2 not found"},
      {"pane", SetFreezePane{2, std::nullopt}, "sheet 2 not found"},
      {"hyperlinks", SetHyperlinks{9, {}}, "sheet 9 not found"},
      {"column styles", SetColumnStyles{2, {}}, "sheet 2 not found"},
      {"charts", SetCharts{4294967295u, {}}, "sheet 4294967295 not found"},
      {"merge", MergeCells{2, range("A1:B2")}, "sheet 2 not found"},
      {"unmerge", UnmergeCells{3, range("A1:B2")}, "sheet 3 not found"},
      {"chart anchor", SetChartAnchor{2, "f", "p", two_cell(0, 0), two_cell(1, 1)}, "sheet 2 not found"},
      {"chart frame missing", SetChartAnchor{0, "xl/drawings/drawing1.xml#5", "xl/charts/chart1.xml", two_cell(0, 0),
                                             two_cell(1, 1)},
       "no chart frame on this sheet is named xl/drawings/drawing1.xml#5"},
      {"chart frame moved", SetChartAnchor{0, "xl/drawings/drawing1.xml#0", "xl/charts/chart1.xml", two_cell(0, 1),
                                           two_cell(1, 1)},
       "chart frame xl/drawings/drawing1.xml#0 does not hold the chart part and anchor this op was recorded against; "
       "its drawing has changed"},
      {"chart frame holds another part", SetChartAnchor{0, "xl/drawings/drawing1.xml#0", "xl/charts/chart9.xml",
                                                        two_cell(0, 0), two_cell(1, 1)},
       "chart frame xl/drawings/drawing1.xml#0 does not hold the chart part and anchor this op was recorded against; "
       "its drawing has changed"},
      {"patch on a missing sheet", PatchStyle{5, range("A1"), {}}, "sheet 5 not found"},
      {"number format on a missing sheet", SetNumberFormat{5, range("A1"), {}}, "sheet 5 not found"},
      {"grid checked before the sheet", SetCellFormats{5, range("A1:B2"), 0, 1, {}},
       "captured format dimensions do not match its cells"},
      {"grid size mismatch", SetCellFormats{0, range("A1:B2"), 2, 2, {bold, bold, bold}},
       "captured format dimensions do not match its cells"},
      {"grid on a missing sheet", SetCellFormats{5, range("A1"), 1, 1, {bold}}, "sheet 5 not found"},
      {"font size above 400", bad_size, "font size must be between 1 and 400"},
      {"font size NaN", nan_size, "font size must be between 1 and 400"},
      {"blank font family", bad_family, "font family must not be empty"},
      {"short fill colour", bad_fill, "invalid color #ABC; expected #rrggbb"},
      {"border colour", bad_border_color, "invalid color red; expected #rrggbb"},
      {"family checked before colour", family_before_color, "font family must not be empty"},
      {"whole grid styled", whole_grid, "style range is too large"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WorkbookModel model = two_sheets();
    model.sheets[0].charts.push_back(chart("xl/charts/chart1.xml", 0, two_cell(0, 0)));
    model.sheets[0].cells.insert_or_assign({0, 0}, number(5));
    const WorkbookModel before = model;
    auto result = apply_op(model, c.step);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(ops_error_message(result.error()), c.message);
    EXPECT_TRUE(model::workbook_eq(model, before));
  }
}

TEST(ApplyOp, SetCellEmptyRecordRemovesTheKey) {
  WorkbookModel model = two_sheets();
  const WorkbookModel before = model;
  // The last row of the grid: a stored empty record there would stop every
  // later row insertion at the sheet's edge.
  const CellAddress last{1, CellRef{model::MAX_ROWS - 1, 3, true, false}};
  auto inverse = apply_op(model, SetCell{number(4), last});
  ASSERT_TRUE(inverse.has_value());
  ASSERT_EQ(inverse.value().size(), 1u);
  const auto& undo = std::get<SetCell>(inverse.value()[0]);
  EXPECT_EQ(undo.cell, SheetCell{});
  EXPECT_EQ(undo.address, last);  // the absolute flags stay
  EXPECT_EQ(model.sheets[1].cells.size(), 1u);
  auto redo = apply_op(model, undo);
  ASSERT_TRUE(redo.has_value());
  EXPECT_TRUE(model.sheets[1].cells.empty());
  EXPECT_TRUE(model::workbook_eq(model, before));
  EXPECT_EQ(std::get<SetCell>(redo.value()[0]).cell, number(4));
}

TEST(ApplyOp, ValueSwapsReturnThePreviousValue) {
  WorkbookModel model = two_sheets();
  model.sheets[0].col_widths[2] = 12.5;
  model.sheets[0].hyperlinks.push_back(model::SheetHyperlink{range("A1"), "https://example.com", {}, {}, {}});
  model.defined_names.push_back(model::DefinedName{"Rate", "One!$A$1", std::nullopt, false});
  const WorkbookModel before = model;
  const model::FreezePane pane{1, 2, ref("C2")};
  struct Case {
    const char* name;
    WorkbookOp step;
    WorkbookOp expected_inverse;
  };
  const Case cases[] = {
      {"replace a width", SetColumnWidth{0, 2, 3.0}, SetColumnWidth{0, 2, 12.5}},
      {"remove a width", SetColumnWidth{0, 2, std::nullopt}, SetColumnWidth{0, 2, 12.5}},
      {"remove a missing width", SetColumnWidth{0, 9, std::nullopt}, SetColumnWidth{0, 9, std::nullopt}},
      {"new height", SetRowHeight{1, 4, 30.0}, SetRowHeight{1, 4, std::nullopt}},
      {"pane", SetFreezePane{0, pane}, SetFreezePane{0, std::nullopt}},
      {"same hyperlinks", SetHyperlinks{0, before.sheets[0].hyperlinks}, SetHyperlinks{0, before.sheets[0].hyperlinks}},
      {"column styles", SetColumnStyles{1, {model::ColumnStyle{0, 3, 1}}}, SetColumnStyles{1, {}}},
      {"charts", SetCharts{1, {chart("xl/charts/chart2.xml", 1, two_cell(2, 2))}}, SetCharts{1, {}}},
      {"names", SetDefinedNames{{}}, SetDefinedNames{before.defined_names}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WorkbookModel edited = before;
    auto inverse = apply_op(edited, c.step);
    ASSERT_TRUE(inverse.has_value());
    ASSERT_EQ(inverse.value().size(), 1u);
    EXPECT_TRUE(inverse.value()[0].index() == c.expected_inverse.index());
    std::visit(
        [&](const auto& got) {
          using Step = std::decay_t<decltype(got)>;
          if constexpr (std::equality_comparable<Step>) {
            EXPECT_TRUE(got == std::get<Step>(c.expected_inverse));
          }
        },
        inverse.value()[0]);
    ASSERT_TRUE(apply_op(edited, inverse.value()[0]).has_value());
    EXPECT_TRUE(model::workbook_eq(edited, before));
  }
}

std::vector<std::string> merge_list(const model::SheetModel& sheet) {
  std::vector<std::string> out;
  for (const CellRange& merge : sheet.merges) out.push_back(model::format_range(merge));
  return out;
}

std::vector<std::string> describe(const InverseList& steps) {
  std::vector<std::string> out;
  for (const WorkbookOp& step : steps) {
    if (const auto* merge = std::get_if<MergeCells>(&step)) out.push_back("merge " + model::format_range(merge->range));
    if (const auto* unmerge = std::get_if<UnmergeCells>(&step)) {
      out.push_back("unmerge " + model::format_range(unmerge->range));
    }
  }
  return out;
}

TEST(ApplyOp, Merges) {
  struct Case {
    const char* name;
    std::vector<const char*> before;
    WorkbookOp step;
    std::vector<std::string> after;
    std::vector<std::string> inverse;
  };
  const Case cases[] = {
      {"same merge again", {"A1:B2"}, MergeCells{0, range("A1:B2")}, {"A1:B2"}, {}},
      {"absolute flag differs", {"$A$1:B2"}, MergeCells{0, range("A1:B2")}, {"A1:B2"},
       {"unmerge A1:B2", "merge $A$1:B2"}},
      {"overlapping merges displaced", {"B2:B5", "E1:F1", "A3:A4"}, MergeCells{0, range("A1:C3")},
       {"E1:F1", "A1:C3"}, {"unmerge A1:C3", "merge B2:B5", "merge A3:A4"}},
      {"one shared cell intersects", {"A1:A2"}, MergeCells{0, range("A2:B3")}, {"A2:B3"},
       {"unmerge A2:B3", "merge A1:A2"}},
      {"adjacent ranges do not", {"A1:A2"}, MergeCells{0, range("A3:A4")}, {"A1:A2", "A3:A4"}, {"unmerge A3:A4"}},
      {"unmerge the first", {"A1:B1", "C1:D1", "E1:F1"}, UnmergeCells{0, range("A1:B1")}, {"C1:D1", "E1:F1"},
       {"merge A1:B1"}},
      {"unmerge nothing", {"A1:B1"}, UnmergeCells{0, range("A1:B2")}, {"A1:B1"}, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    WorkbookModel model = two_sheets();
    for (const char* merge : c.before) model.sheets[0].merges.push_back(range(merge));
    auto inverse = apply_op(model, c.step);
    ASSERT_TRUE(inverse.has_value());
    EXPECT_EQ(merge_list(model.sheets[0]), c.after);
    EXPECT_EQ(describe(inverse.value()), c.inverse);
  }
  // An undone unmerge puts the range last.
  WorkbookModel model = two_sheets();
  for (const char* merge : {"A1:B1", "C1:D1", "E1:F1"}) model.sheets[0].merges.push_back(range(merge));
  auto inverse = apply_op(model, UnmergeCells{0, range("A1:B1")});
  ASSERT_TRUE(apply_op(model, inverse.value()[0]).has_value());
  EXPECT_EQ(merge_list(model.sheets[0]), (std::vector<std::string>{"C1:D1", "E1:F1", "A1:B1"}));
}

TEST(ApplyOp, ChartAnchor) {
  WorkbookModel model = two_sheets();
  // Two frames with one name: the first is addressed.
  model.sheets[0].charts.push_back(chart("xl/charts/chart1.xml", 0, two_cell(0, 0)));
  model.sheets[0].charts.push_back(chart("xl/charts/chart2.xml", 0, two_cell(4, 4)));
  const model::ChartAnchor moved = model::OneCellAnchor{{2, 100, 3, 200}, {5000, 6000}};
  auto inverse = apply_op(model, SetChartAnchor{0, "xl/drawings/drawing1.xml#0", "xl/charts/chart1.xml",
                                                two_cell(0, 0), moved});
  ASSERT_TRUE(inverse.has_value());
  EXPECT_EQ(model.sheets[0].charts[0].anchor, moved);
  EXPECT_EQ(model.sheets[0].charts[0].part, "xl/charts/chart1.xml");
  EXPECT_EQ(model.sheets[0].charts[1].anchor, model::ChartAnchor(two_cell(4, 4)));
  const auto& back = std::get<SetChartAnchor>(inverse.value()[0]);
  EXPECT_EQ(back.recorded, moved);
  EXPECT_EQ(back.anchor, model::ChartAnchor(two_cell(0, 0)));
  ASSERT_TRUE(apply_op(model, back).has_value());
  EXPECT_EQ(model.sheets[0].charts[0].anchor, model::ChartAnchor(two_cell(0, 0)));
}

}  // namespace
}  // namespace cmx::ops
