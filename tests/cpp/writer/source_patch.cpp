// Test-only driver: opens an .xlsx as a source package, applies a few edits
// to the model (with the move maps a session keeps) and saves back into the
// source, so that pytest can read the result in openpyxl beside the source.
// Prints one JSON line like workbook_rewrite; with --time first, the JSON
// also holds the seconds from the archive's bytes to the saved archive's,
// edits included (for bench/).
// Edits, each a word and its arguments:
//   set SHEET A1 number|text VALUE     width SHEET COL WIDTH
//   insert-rows SHEET AT COUNT         merge SHEET A1:B2
//   freeze SHEET ROWS COLS             name INDEX FORMULA
//   sheet NAME (appends a new sheet)   recalc
//   forget-moves SHEET (as after a remote update)
#include <chrono>
#include <cstdio>
#include <string_view>
#include <fstream>
#include <optional>
#include <string>
#include <vector>

#include "../workbook_driver.h"
#include "model/cell_moves.h"
#include "source_save_support.h"

namespace {

using namespace cmx;

using writer::testing::HeldWorkbook;

uint32_t to_u32(const std::string& text) { return static_cast<uint32_t>(std::stoul(text)); }

void insert_rows(HeldWorkbook& s, uint32_t sheet_index, uint32_t at, uint32_t count) {
  model::SheetModel& sheet = s.model.sheets.at(sheet_index);
  model::shift_cells_for_structural_op(sheet, {model::StructuralKind::InsertRows, at, count});
  std::map<uint32_t, double> heights;
  for (const auto& [row, height] : sheet.row_heights) heights[row >= at ? row + count : row] = height;
  sheet.row_heights = heights;
  model::CellStringIndexMap moved;
  for (const auto& [key, index] : s.string_indexes[sheet_index]) {
    moved[{key.row >= at ? key.row + count : key.row, key.col}] = index;
  }
  s.string_indexes[sheet_index] = moved;
  std::vector<model::IndexRun> runs;
  for (const model::IndexRun& run : s.move_maps[sheet_index]->rows) {
    const uint32_t end = run.current_start + run.len;
    if (end <= at) {
      runs.push_back(run);
    } else if (run.current_start >= at) {
      runs.push_back({run.source_start, std::min(run.len, model::MAX_ROWS - run.current_start - count),
                      run.current_start + count});
    } else {
      const uint32_t before = at - run.current_start;
      runs.push_back({run.source_start, before, run.current_start});
      runs.push_back({run.source_start + before, std::min(run.len - before, model::MAX_ROWS - at - count), at + count});
    }
  }
  std::erase_if(runs, [](const model::IndexRun& run) { return run.len == 0; });
  s.move_maps[sheet_index]->rows = runs;
}

}  // namespace

int main(int argc, char** argv) {
  // --time first: also print the seconds from the archive's bytes to the saved archive's (for bench/).
  const bool time = argc > 1 && std::string_view(argv[1]) == "--time";
  if (time) {
    --argc;
    ++argv;
  }
  if (argc < 3) {
    std::fprintf(stderr, "usage: source_patch [--time] in.xlsx out.xlsx [edit ...]\n");
    return 2;
  }
  const std::optional<std::string> bytes = driver::read_file(argv[1]);
  if (!bytes) return 2;
  const auto started = std::chrono::steady_clock::now();
  auto held = writer::testing::hold_workbook(*bytes);
  if (!held) {
    driver::print_refusal(held.error());
    return 0;
  }
  HeldWorkbook& s = *held;
  for (int i = 3; i < argc;) {
    const std::string word = argv[i++];
    auto arg = [&]() -> std::string { return i < argc ? argv[i++] : std::string(); };
    if (word == "recalc") {
      s.edited = true;
    } else if (word == "set") {
      const uint32_t sheet = to_u32(arg());
      const model::CellRef at = *model::parse_cell_ref(arg());
      const std::string kind = arg();
      const std::string value = arg();
      model::SheetCell& cell = s.model.sheets.at(sheet).cells[{at.row, at.col}];
      cell.formula.reset();
      cell.value = kind == "number" ? model::CellValue::number(std::stod(value)) : model::CellValue::text(value);
      s.edited = true;
    } else if (word == "width") {
      const uint32_t sheet = to_u32(arg());
      const uint32_t col = to_u32(arg());
      s.model.sheets.at(sheet).col_widths[col] = std::stod(arg());
    } else if (word == "insert-rows") {
      const uint32_t sheet = to_u32(arg());
      const uint32_t at = to_u32(arg());
      insert_rows(s, sheet, at, to_u32(arg()));
      s.edited = true;
    } else if (word == "merge") {
      const uint32_t sheet = to_u32(arg());
      s.model.sheets.at(sheet).merges.push_back(*model::parse_range(arg()));
    } else if (word == "freeze") {
      const uint32_t sheet = to_u32(arg());
      const uint32_t rows = to_u32(arg());
      const uint32_t cols = to_u32(arg());
      s.model.sheets.at(sheet).freeze_pane = model::FreezePane{rows, cols, {rows, cols, false, false}};
    } else if (word == "name") {
      const uint32_t index = to_u32(arg());
      s.model.defined_names.at(index).formula = arg();
    } else if (word == "forget-moves") {
      s.move_maps.at(to_u32(arg())).reset();
    } else if (word == "sheet") {
      s.model.sheets.emplace_back().name = arg();
      s.origins.push_back({});
      s.string_indexes.emplace_back();
      s.move_maps.emplace_back();
    } else {
      std::fprintf(stderr, "unknown edit %s\n", word.c_str());
      return 2;
    }
  }
  auto saved = s.save();
  if (!saved) {
    driver::print_refusal(xml::parse_error_message(saved.error()));
    return 0;
  }
  auto archive = writer::write_package_archive(std::span<const writer::SavedPart>(*saved), std::string_view(*bytes));
  if (!archive) {
    driver::print_refusal(archive.error());
    return 0;
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::ofstream out(argv[2], std::ios::binary);
  out.write(archive->data(), static_cast<std::streamsize>(archive->size()));
  if (!out) return 2;
  if (time) {
    std::printf("{\"ok\":true,\"seconds\":%.6f}\n", seconds);
  } else {
    std::printf("{\"ok\":true}\n");
  }
  return 0;
}
