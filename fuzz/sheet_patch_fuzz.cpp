// Fuzzes the worksheet rewrite of a save into the source package, with its
// sheetData and cols patches, over the worksheet part of a one-sheet
// package. Whatever the reader accepts, an unedited sheet with an identity
// move map reads back with the cells it had; an edited sheet,
// before and after a row insertion, gives a part the reader reads again with
// the edit in place, or an error, never a crash.
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "../tests/cpp/reader/package_builder.h"
#include "model/cell_moves.h"
#include "reader/source_package.h"
#include "reader/workbook_reader.h"
#include "writer/source_rewrites.h"
#include "xml/parse_error.h"

using namespace cmx;

namespace {

model::SheetMoveMap identity() {
  return model::SheetMoveMap{{{0, model::MAX_ROWS, 0}}, model::MAX_ROWS, {{0, model::MAX_COLS, 0}}, model::MAX_COLS};
}

void check(std::string_view sheet_xml) {
  reader::testing::Package pkg = reader::testing::Package::basic();
  pkg.set("xl/worksheets/sheet1.xml", std::string(sheet_xml));
  auto opened = reader::open_source_package(pkg.parts);
  if (!opened.has_value()) return;
  const reader::SourcePackage& source = opened->source;
  if (source.sheets.empty() || opened->model.sheets.empty()) return;
  const model::SheetModel& base = source.base_model.sheets[0];
  const writer::CellStringIndexMap strings(source.sheets[0].shared_string_cells.begin(),
                                           source.sheets[0].shared_string_cells.end());
  model::WorkbookModel model = opened->model;

  // Unedited, with an identity move map: the patched part reads back with
  // the cells it had.
  const model::SheetMoveMap same = identity();
  auto unedited = writer::rewrite_worksheet_part(model.sheets[0], model, &base, source.sheets[0], source, strings,
                                                 nullptr, &same);
  if (unedited.has_value()) {
    reader::testing::Package copy = pkg;
    copy.set("xl/worksheets/sheet1.xml", unedited->text);
    auto again = reader::read_workbook(copy.parts);
    if (!again.has_value() || again->model.sheets.empty() || !(again->model.sheets[0].cells == base.cells)) {
      std::fprintf(stderr, "unedited sheet reads back otherwise\n");
      std::abort();
    }
  }

  // Rows inserted at the top, then A1 set: the part reads back with it.
  model::SheetModel& sheet = model.sheets[0];
  model::shift_cells_for_structural_op(sheet, {model::StructuralKind::InsertRows, 0, 2});
  std::map<uint32_t, double> heights;
  for (const auto& [row, height] : sheet.row_heights) {
    if (row + 2 < model::MAX_ROWS) heights[row + 2] = height;
  }
  sheet.row_heights = heights;
  sheet.cells[{0, 0}] = model::SheetCell{model::CellValue::number(42), {}, {}};
  model::SheetMoveMap moves = identity();
  moves.rows = {{0, model::MAX_ROWS - 2, 2}};
  auto rewritten = writer::rewrite_worksheet_part(sheet, model, &base, source.sheets[0], source, strings, nullptr,
                                                  &moves);
  if (!rewritten.has_value()) return;
  pkg.set("xl/worksheets/sheet1.xml", rewritten->text);
  auto again = reader::read_workbook(pkg.parts);
  if (!again.has_value()) {
    std::fprintf(stderr, "rewritten sheet unreadable: %s\n", xml::parse_error_message(again.error()).c_str());
    std::abort();
  }
  const auto& cells = again->model.sheets.at(0).cells;
  const auto a1 = cells.find({0, 0});
  if (a1 == cells.end() || !a1->second.value.is_number() || a1->second.value.as_number() != 42) {
    std::fprintf(stderr, "edited cell lost\n");
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  check(std::string_view(reinterpret_cast<const char*>(data), size));
  return 0;
}
