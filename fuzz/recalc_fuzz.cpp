// Fuzzes registration and recalculation: the input is a small workbook of
// two sheets, one cell per line ("<cell byte><kind byte><text>"), where the
// kind makes a formula, an array formula with a declared area, a number or a
// text. The whole workbook is recalculated, then every cell is edited again
// in reverse order with the graph updated and the edit recalculated. The
// lists stay sorted and duplicate-free, and the graph's dependents agree
// with a scan of every registered reference.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "formula/engine_state.h"
#include "formula/recalc.h"
#include "model/sheet_cells.h"

using namespace cmx;
using namespace cmx::formula;

namespace {

constexpr uint32_t kSide = 6;

struct Line {
  CellKey key;
  uint8_t kind = 0;
  std::string text;
};

void check(bool ok) {
  if (!ok) std::abort();
}

void check_result(const RecalcResult& r, size_t sheets) {
  check(std::is_sorted(r.changed.begin(), r.changed.end(), model::address_less));
  for (size_t i = 1; i < r.changed.size(); ++i) check(model::address_less(r.changed[i - 1], r.changed[i]));
  for (const auto& a : r.changed) check(a.sheet < sheets);
}

bool contains(const model::CellRange& r, uint32_t row, uint32_t col) {
  return r.start.row <= row && row <= r.end.row && r.start.col <= col && col <= r.end.col;
}

void check_dependents(const EngineState& state) {
  for (uint32_t s = 0; s < 2; ++s) {
    for (uint32_t row = 0; row < kSide + 2; ++row) {
      for (uint32_t col = 0; col < kSide + 2; ++col) {
        CellKey cell{s, row, col};
        std::vector<CellKey> got;
        dependents_of(state, cell, [&](const CellKey& d) { got.push_back(d); });
        std::vector<CellKey> expect;
        auto anchor = state.array_anchor_ranges.find(cell);
        ReferenceList refs;
        for (const auto& [key, shape] : state.formulas.sorted()) {
          formula_references(state, key, *find_formula(state, key), refs);
          for (const auto& ref : refs) {
            if (ref.sheet != s) continue;
            bool hit = contains(ref.range, row, col);
            if (!hit && anchor != state.array_anchor_ranges.end() && !(key == cell)) {
              const auto& a = anchor->second;
              hit = ref.range.start.row <= std::max(a.start.row, a.end.row) &&
                    std::min(a.start.row, a.end.row) <= ref.range.end.row &&
                    ref.range.start.col <= std::max(a.start.col, a.end.col) &&
                    std::min(a.start.col, a.end.col) <= ref.range.end.col;
            }
            if (hit) expect.push_back(key);
          }
        }
        std::sort(got.begin(), got.end());
        std::sort(expect.begin(), expect.end());
        check(got == expect);
      }
    }
  }
}

void apply(model::WorkbookModel& model, const Line& line) {
  model::SheetModel& sheet = model.sheets[line.key.sheet];
  model::CellKey pos{line.key.row, line.key.col};
  switch (line.kind % 4) {
    case 0:
      model::set_sheet_cell(sheet, pos.row, pos.col, model::SheetCell{{}, SharedString(line.text), {}});
      break;
    case 1:
      model::set_sheet_cell(sheet, pos.row, pos.col, model::SheetCell{{}, SharedString(line.text), {}});
      sheet.array_ranges[pos] = model::CellRange{{pos.row, pos.col},
                                                 {pos.row + line.kind / 4 % 3, pos.col + line.kind / 12 % 3}};
      break;
    case 2:
      model::set_sheet_cell(sheet, pos.row, pos.col,
                            model::SheetCell{model::CellValue::number(line.text.size()), {}, {}});
      break;
    default:
      model::set_sheet_cell(sheet, pos.row, pos.col, model::SheetCell{model::CellValue::text(line.text), {}, {}});
      break;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  std::vector<Line> lines;
  while (!input.empty() && lines.size() < 40) {
    size_t end = input.find('\n');
    std::string_view text = input.substr(0, end);
    input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
    if (text.size() < 2 || text.size() > 200) continue;
    auto c = static_cast<uint8_t>(text[0]);
    lines.push_back(Line{CellKey{c % 2u, (c / 2u) % kSide, (c / 12u) % kSide},
                         static_cast<uint8_t>(text[1]), std::string(text.substr(2))});
  }
  model::WorkbookModel model;
  for (const char* name : {"Sheet1", "Other"}) {
    model.sheets.emplace_back();
    model.sheets.back().name = name;
  }
  model.defined_names.push_back({"Rate", "Sheet1!$A$1", std::nullopt, false});
  model.defined_names.push_back({"Loop", "Loop+1", std::nullopt, false});
  for (const Line& line : lines) apply(model, line);
  auto [state, first] = recalculate_all(model, 45000.0);
  check_result(first, model.sheets.size());
  check_dependents(*state);
  for (auto it = lines.rbegin(); it != lines.rend(); ++it) {
    apply(model, *it);
    const model::SheetCell* cell = nullptr;
    auto& cells = model.sheets[it->key.sheet].cells;
    auto found = cells.find(model::CellKey{it->key.row, it->key.col});
    if (found != cells.end()) cell = &found->second;
    std::optional<std::string_view> text;
    if (cell != nullptr && cell->formula) text = cell->formula->view();
    update_graph_cell(*state, it->key.sheet, it->key.row, it->key.col, text);
    auto result = recalculate_after_edit(
        model, *state, {model::CellAddress{it->key.sheet, {it->key.row, it->key.col}}}, std::nullopt);
    check_result(result, model.sheets.size());
  }
  check_dependents(*state);
  return 0;
}
