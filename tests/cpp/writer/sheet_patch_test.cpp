// The sheetData and cols patches: tables of (source element, edits to the
// model read from it) → the element bytes a save writes.
#include <gtest/gtest.h>

#include <functional>

#include "model/cell_moves.h"
#include "source_fixture.h"
#include "writer/source_rewrites.h"

namespace cmx::writer {
namespace {

using testing::deleted;
using testing::identity_moves;
using testing::inserted;
using testing::open_sheet;

model::SheetCell number(double value) { return {model::CellValue::number(value), {}, {}}; }

model::CellKey at(const char* ref) {
  const model::CellRef cell = *model::parse_cell_ref(ref);
  return {cell.row, cell.col};
}

using Edit = std::function<void(model::SheetModel&, model::SheetMoveMap&)>;

// Inserts rows the way the edit operations move cells, with the move map.
Edit insert_rows(uint32_t row, uint32_t count) {
  return [=](model::SheetModel& sheet, model::SheetMoveMap& moves) {
    model::shift_cells_for_structural_op(sheet, {model::StructuralKind::InsertRows, row, count});
    moves.rows = inserted(model::MAX_ROWS, row, count);
  };
}

Edit delete_columns(uint32_t col, uint32_t count) {
  return [=](model::SheetModel& sheet, model::SheetMoveMap& moves) {
    model::shift_cells_for_structural_op(sheet, {model::StructuralKind::DeleteColumns, col, count});
    moves.cols = deleted(model::MAX_COLS, col, count);
  };
}

struct Patched {
  Result<std::optional<std::string>, SpreadsheetParseError> data;
  Result<std::optional<std::string>, SpreadsheetParseError> cols;
};

// Reads a worksheet holding `body`, edits the model, patches both elements.
Patched patch(const std::string& body, const Edit& edit) {
  const reader::OpenedPackage opened = open_sheet(body);
  model::WorkbookModel model = opened.model;
  model::SheetMoveMap moves = identity_moves();
  if (edit) edit(model.sheets.at(0), moves);
  const TextLookup index = build_text_lookup(model.shared_strings);
  const CellStringIndexMap strings(opened.source.sheets.at(0).shared_string_cells.begin(),
                                   opened.source.sheets.at(0).shared_string_cells.end());
  const SheetPatchContext context{&model.sheets[0], &opened.source.base_model.sheets.at(0), &moves, &model,
                                  &index, &strings, nullptr};
  const xml::PartTemplate& part = opened.source.sheets.at(0).template_;
  const xml::PartTemplateChild* data = reader::find_template_child(part, "sheetData");
  const xml::PartTemplateChild* cols = reader::find_template_child(part, "cols");
  return Patched{patch_sheet_data(context, data != nullptr ? data->text : ""),
                 patch_cols(context, cols != nullptr ? std::optional<std::string_view>(cols->text) : std::nullopt)};
}

TEST(SheetDataPatch, RowsAndCells) {
  struct Case {
    const char* name;
    std::string source;
    Edit edit;
    std::string expected;
  };
  const std::string plain =
      "<sheetData>\n <row r=\"1\" spans=\"1:2\" x14ac:dyDescent=\"0.25\">\n  <c r=\"A1\"><v>1</v></c>\n"
      "  <c r=\"B1\"><v>2</v><extLst/></c>\n </row>\n <row r=\"3\"><c r=\"A3\"><v>3</v></c></row>\n</sheetData>";
  const Case cases[] = {
      {"nothing changed: the source bytes", plain, nullptr, plain},
      {"one value changed", plain,
       [](model::SheetModel& s, model::SheetMoveMap&) { s.cells[at("A1")] = number(7); },
       "<sheetData>\n <row r=\"1\" spans=\"1:2\" x14ac:dyDescent=\"0.25\">\n  <c r=\"A1\"><v>7</v></c>\n"
       "  <c r=\"B1\"><v>2</v><extLst/></c>\n </row>\n <row r=\"3\"><c r=\"A3\"><v>3</v></c></row>\n</sheetData>"},
      {"a cleared cell goes with the text before it", plain,
       [](model::SheetModel& s, model::SheetMoveMap&) { s.cells.erase(at("A1")); },
       "<sheetData>\n <row r=\"1\" spans=\"1:2\" x14ac:dyDescent=\"0.25\">\n"
       "  <c r=\"B1\"><v>2</v><extLst/></c>\n </row>\n <row r=\"3\"><c r=\"A3\"><v>3</v></c></row>\n</sheetData>"},
      {"new cells: past the spans, in a new row, in a row of its own height", plain,
       [](model::SheetModel& s, model::SheetMoveMap&) {
         s.cells[at("D1")] = number(4);
         s.cells[at("B2")] = number(5);
         s.row_heights[4] = 30;
       },
       "<sheetData>\n <row r=\"1\" spans=\"1:4\" x14ac:dyDescent=\"0.25\">\n  <c r=\"A1\"><v>1</v></c>\n"
       "  <c r=\"B1\"><v>2</v><extLst/></c><c r=\"D1\"><v>4</v></c>\n </row><row r=\"2\"><c r=\"B2\"><v>5</v></c>"
       "</row>\n <row r=\"3\"><c r=\"A3\"><v>3</v></c></row><row r=\"5\" ht=\"30\" customHeight=\"1\"></row>\n"
       "</sheetData>"},
      {"rows inserted above: rows and cells renumbered, content copied", plain, insert_rows(0, 2),
       "<sheetData>\n <row r=\"3\" spans=\"1:2\" x14ac:dyDescent=\"0.25\">\n  <c r=\"A3\"><v>1</v></c>\n"
       "  <c r=\"B3\"><v>2</v><extLst/></c>\n </row>\n <row r=\"5\"><c r=\"A5\"><v>3</v></c></row>\n</sheetData>"},
      {"a row deleted with the text before it",
       plain,
       [](model::SheetModel& s, model::SheetMoveMap& m) {
         model::shift_cells_for_structural_op(s, {model::StructuralKind::DeleteRows, 0, 1});
         m.rows = deleted(model::MAX_ROWS, 0, 1);
       },
       "<sheetData>\n <row r=\"2\"><c r=\"A2\"><v>3</v></c></row>\n</sheetData>"},
      {"a deleted column drops its cells; spans kept while they still hold", plain, delete_columns(0, 1),
       "<sheetData>\n <row r=\"1\" spans=\"1:2\" x14ac:dyDescent=\"0.25\">\n"
       "  <c r=\"A1\"><v>2</v><extLst/></c>\n </row>\n <row r=\"3\"></row>\n</sheetData>"},
      {"height set to zero and removed",
       "<sheetData><row r=\"1\" ht=\"20\" customHeight=\"1\"><c r=\"A1\"><v>1</v></c></row>"
       "<row r=\"2\"><c r=\"A2\"><v>2</v></c></row></sheetData>",
       [](model::SheetModel& s, model::SheetMoveMap&) {
         s.row_heights.erase(0);
         s.row_heights[1] = 0;
       },
       "<sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c></row>"
       "<row r=\"2\" ht=\"0\" customHeight=\"1\" hidden=\"1\"><c r=\"A2\"><v>2</v></c></row></sheetData>"},
      {"a self-closing element receives rows", "<sheetData/>",
       [](model::SheetModel& s, model::SheetMoveMap&) { s.cells[at("A1")] = number(1); },
       "<sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c></row></sheetData>"},
      {"a self-closing prefixed row receives cells",
       "<sheetData xmlns:s=\"" + std::string(testing::kMainNs) + "\"><s:row r=\"1\" s:x=\"1\"/></sheetData>",
       [](model::SheetModel& s, model::SheetMoveMap&) { s.cells[at("B1")] = number(2); },
       "<sheetData xmlns:s=\"" + std::string(testing::kMainNs) +
           "\"><s:row r=\"1\" s:x=\"1\"><c r=\"B1\"><v>2</v></c></s:row></sheetData>"},
      {"an unchanged cell written with $ gets a plain reference",
       "<sheetData><row r=\"1\"><c r=\"$A$1\" t=\"b\"><v>1</v></c></row></sheetData>", nullptr,
       "<sheetData><row r=\"1\"><c r=\"A1\" t=\"b\"><v>1</v></c></row></sheetData>"},
      {"shared formula master's ref moves with its rows",
       "<sheetData><row r=\"1\"><c r=\"A1\"><f t=\"shared\" ref=\"A1:A2\" si=\"0\">B1</f><v>0</v></c></row>"
       "<row r=\"2\"><c r=\"A2\"><f t=\"shared\" si=\"0\"/><v>0</v></c></row></sheetData>",
       insert_rows(0, 1),
       "<sheetData><row r=\"2\"><c r=\"A2\"><f t=\"shared\" ref=\"A2:A3\" si=\"0\">B1</f><v>0</v></c></row>"
       "<row r=\"3\"><c r=\"A3\"><f t=\"shared\" si=\"0\"/><v>0</v></c></row></sheetData>"},
      {"editing one member rewrites the whole shared group",
       "<sheetData><row r=\"1\"><c r=\"A1\"><f t=\"shared\" ref=\"A1:A2\" si=\"0\">B1</f><v>0</v></c></row>"
       "<row r=\"2\"><c r=\"A2\"><f t=\"shared\" si=\"0\"/><v>0</v></c><c r=\"B2\"><v>9</v></c></row></sheetData>",
       [](model::SheetModel& s, model::SheetMoveMap&) { s.cells[at("A1")].value = model::CellValue::number(5); },
       "<sheetData><row r=\"1\"><c r=\"A1\"><f>B1</f><v>5</v></c></row>"
       "<row r=\"2\"><c r=\"A2\"><f>B2</f><v>0</v></c><c r=\"B2\"><v>9</v></c></row></sheetData>"},
      {"an array formula whose range gains a changed cell is written afresh",
       "<sheetData><row r=\"1\"><c r=\"A1\"><f t=\"array\" ref=\"A1:A2\" aca=\"0\">B1:B2</f><v>1</v></c>"
       "</row><row r=\"2\"><c r=\"A2\"><v>2</v></c></row></sheetData>",
       [](model::SheetModel& s, model::SheetMoveMap&) { s.cells[at("A2")].value = model::CellValue::number(3); },
       "<sheetData><row r=\"1\"><c r=\"A1\"><f t=\"array\" ref=\"A1:A2\">B1:B2</f><v>1</v></c></row>"
       "<row r=\"2\"><c r=\"A2\"><v>3</v></c></row></sheetData>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Patched patched = patch(c.source, c.edit);
    ASSERT_TRUE(patched.data.has_value()) << testing::error_text(patched.data.error());
    EXPECT_EQ(*patched.data, c.expected);
  }
}

TEST(SheetDataPatch, ShapesItCannotFollow) {
  model::WorkbookModel model;
  model.sheets.resize(2);
  const model::SheetMoveMap moves = identity_moves();
  const TextLookup index;
  const CellStringIndexMap strings;
  const SheetPatchContext context{&model.sheets[0], &model.sheets[1], &moves, &model, &index, &strings, nullptr};
  for (const char* source : {
           "<sheetData><row r=\"0\"/></sheetData>",
           "<sheetData><row r=\"1048577\"/></sheetData>",
           "<sheetData><row/></sheetData>",
           "<sheetData><row r=\"2\"/><row r=\"2\"/></sheetData>",
           "<sheetData><row r=\"1\"><c/></row></sheetData>",
           "<sheetData><row r=\"1\"><c r=\"a1\"/></row></sheetData>",
           "<sheetData><row r=\"1\"><c r=\"A2\"/></row></sheetData>",
           "<sheetData><row r=\"1\"><c r=\"B1\"/><c r=\"A1\"/></row></sheetData>",
       }) {
    auto patched = patch_sheet_data(context, source);
    ASSERT_TRUE(patched.has_value()) << source;
    EXPECT_FALSE(patched->has_value()) << source;
  }
  auto unclosed = patch_sheet_data(context, "<sheetData><row r=\"1\">");
  ASSERT_FALSE(unclosed.has_value());
  EXPECT_EQ(testing::error_text(unclosed.error()), "malformed spreadsheetml: sheetData is not closed");
  std::string deep = "<sheetData>";
  for (int i = 0; i < 64; ++i) deep += "<a>";
  auto too_deep = patch_sheet_data(context, deep);
  ASSERT_FALSE(too_deep.has_value());
  EXPECT_EQ(too_deep.error().kind, xml::ParseErrorKind::DepthExceeded);
  auto cols = patch_cols(context, std::string_view("<cols><col min=\"1\" max=\"1\">"));
  ASSERT_FALSE(cols.has_value());
  EXPECT_EQ(testing::error_text(cols.error()), "malformed spreadsheetml: cols is not closed");
}

TEST(ColumnPatch, SpansSplitMovedAndAdded) {
  struct Case {
    const char* name;
    std::string source;  // the `cols` element, or empty for none
    Edit edit;
    std::optional<std::string> expected;  // none: no element
  };
  const std::string five = "<cols> <col min=\"1\" max=\"5\" width=\"9\" style=\"3\" customWidth=\"1\"/></cols>";
  const Case cases[] = {
      {"unchanged", five, nullptr, five},
      {"a width changed inside a span splits it", five,
       [](model::SheetModel& s, model::SheetMoveMap&) { s.col_widths[2] = 20; },
       "<cols> <col min=\"1\" max=\"2\" width=\"9\" style=\"3\" customWidth=\"1\"/>"
       "<col min=\"3\" max=\"3\" style=\"3\" width=\"20\" customWidth=\"1\"/>"
       "<col min=\"4\" max=\"5\" width=\"9\" style=\"3\" customWidth=\"1\"/></cols>"},
      {"a width removed keeps the style", five,
       [](model::SheetModel& s, model::SheetMoveMap&) { s.col_widths.erase(0); },
       "<cols> <col min=\"1\" max=\"1\" style=\"3\"/>"
       "<col min=\"2\" max=\"5\" width=\"9\" style=\"3\" customWidth=\"1\"/></cols>"},
      {"a column inserted inside the span", five,
       [](model::SheetModel& s, model::SheetMoveMap& m) {
         m.cols = inserted(model::MAX_COLS, 1, 1);
         std::map<uint32_t, double> moved;
         for (const auto& [col, width] : s.col_widths) moved[col >= 1 ? col + 1 : col] = width;
         s.col_widths = moved;
       },
       "<cols> <col min=\"1\" max=\"1\" width=\"9\" style=\"3\" customWidth=\"1\"/>"
       "<col min=\"3\" max=\"6\" width=\"9\" style=\"3\" customWidth=\"1\"/></cols>"},
      {"a width of zero hides a new column placed in order",
       "<cols><col min=\"3\" max=\"3\" width=\"4\" customWidth=\"1\"><extLst/></col></cols>",
       [](model::SheetModel& s, model::SheetMoveMap&) { s.col_widths[0] = 0; },
       "<cols><col min=\"1\" max=\"1\" width=\"0\" customWidth=\"1\" hidden=\"1\"/>"
       "<col min=\"3\" max=\"3\" width=\"4\" customWidth=\"1\"><extLst/></col></cols>"},
      {"every column of the only col deleted", "<cols><col min=\"2\" max=\"2\" width=\"4\"/></cols>",
       [](model::SheetModel& s, model::SheetMoveMap& m) {
         m.cols = deleted(model::MAX_COLS, 1, 1);
         s.col_widths.clear();
       },
       std::nullopt},
      {"no source element and no widths", "", nullptr, std::nullopt},
      {"no source element: written from the widths", "",
       [](model::SheetModel& s, model::SheetMoveMap&) { s.col_widths[1] = 12.5; },
       "<cols><col min=\"2\" max=\"2\" width=\"12.5\" customWidth=\"1\"/></cols>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Patched patched = patch(c.source + "<sheetData/>", c.edit);
    ASSERT_TRUE(patched.cols.has_value()) << testing::error_text(patched.cols.error());
    EXPECT_EQ(*patched.cols, c.expected);
  }
}

}  // namespace
}  // namespace cmx::writer
