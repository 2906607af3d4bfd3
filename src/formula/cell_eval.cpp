#include "formula/cell_eval.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "base/unicode.h"
#include "formula/array_eval.h"
#include "formula/evaluator.h"
#include "formula/static_refs.h"
#include "model/sheet_cells.h"

namespace cmx::formula {
namespace {

using model::CellRange;
using model::CellRef;
using model::CellValue;

constexpr uint32_t kLastRow = model::MAX_ROWS - 1;
constexpr uint32_t kLastCol = model::MAX_COLS - 1;

std::optional<CellRange> declared_range(const model::WorkbookModel& model, const CellKey& key) {
  if (key.sheet >= model.sheets.size()) return std::nullopt;
  const auto& ranges = model.sheets[key.sheet].array_ranges;
  auto it = ranges.find(model::CellKey{key.row, key.col});
  if (it == ranges.end()) return std::nullopt;
  return it->second;
}

const model::SheetCell* stored_cell(const std::vector<model::SheetModel>& sheets, const CellKey& key) {
  if (key.sheet >= sheets.size()) return nullptr;
  const auto& cells = sheets[key.sheet].cells;
  auto it = cells.find(model::CellKey{key.row, key.col});
  return it == cells.end() ? nullptr : &it->second;
}

bool is_blank(std::string_view text) {
  size_t pos = 0;
  while (pos < text.size()) {
    if (!unicode::is_white_space(unicode::decode_utf8(text, pos))) return false;
  }
  return true;
}

bool has_own_formula(const model::SheetCell& cell) {
  return cell.formula && !is_blank(cell.formula->view());
}

struct Target {
  uint32_t end_row = 0;
  uint32_t end_col = 0;
};

// The shape of a spill: the result's own, else the declared range's, capped
// to kMaxSpillCells (rows first) and clipped to the sheet.
Target spill_target(uint32_t row, uint32_t col, const std::optional<CellRange>& declared,
                    const EvalResult& result) {
  uint64_t rows = 1;
  uint64_t cols = 1;
  if (result.is_array()) {
    rows = result.as_array().rows;
    cols = result.as_array().cols;
  } else if (declared) {
    rows = uint64_t{std::max(declared->end.row, declared->start.row) - declared->start.row} + 1;
    cols = uint64_t{std::max(declared->end.col, declared->start.col) - declared->start.col} + 1;
  }
  uint64_t capped_rows = rows == 0 ? 1 : std::min(rows, kMaxSpillCells);
  uint64_t capped_cols = cols == 0 ? 1 : std::min(cols, kMaxSpillCells / capped_rows);
  uint64_t end_row = std::min<uint64_t>(uint64_t{row} + capped_rows - 1, UINT32_MAX);
  uint64_t end_col = std::min<uint64_t>(uint64_t{col} + capped_cols - 1, UINT32_MAX);
  return Target{static_cast<uint32_t>(std::min<uint64_t>(end_row, kLastRow)),
                static_cast<uint32_t>(std::min<uint64_t>(end_col, kLastCol))};
}

CellValue zero_for_empty(CellValue v) {
  return v.is_empty() ? CellValue::number(0) : std::move(v);
}

uint64_t saturating_mul(uint64_t a, uint64_t b) {
  uint64_t out = 0;
  return __builtin_mul_overflow(a, b, &out) ? UINT64_MAX : out;
}

}  // namespace

model::CellAddress address_of(const CellKey& key) {
  return model::CellAddress{key.sheet, CellRef{key.row, key.col, false, false}};
}

SpillPayload build_spill_outcome(uint32_t row, uint32_t col, const std::optional<CellRange>& declared,
                                 EvalResult result) {
  Target t = spill_target(row, col, declared, result);
  SpillPayload out;
  out.target = normalized_range(CellRange{CellRef{row, col, false, false},
                                          CellRef{t.end_row, t.end_col, false, false}});
  uint64_t h = uint64_t{out.target.end.row} - out.target.start.row + 1;
  uint64_t w = uint64_t{out.target.end.col} - out.target.start.col + 1;
  out.values.reserve(h * w);
  if (result.is_array()) {
    const ArrayValue& a = result.as_array();
    for (uint64_t i = 0; i < h; ++i) {
      for (uint64_t j = 0; j < w; ++j) {
        out.values.push_back(zero_for_empty(array_value_at(a.values, a.rows, a.cols, i, j)));
      }
    }
  } else {
    CellValue v = zero_for_empty(top_left_value(std::move(result)));
    out.values.assign(h * w, v);
  }
  return out;
}

std::optional<SpillPayload> fit_array_result(EvalContext& ctx, uint32_t row, uint32_t col,
                                             const std::optional<CellRange>& declared,
                                             EvalResult result) {
  Target t = spill_target(row, col, declared, result);
  uint64_t target_cells = (uint64_t{t.end_row} - row + 1) * (uint64_t{t.end_col} - col + 1);
  uint64_t own = 1;
  uint64_t text_bytes = 0;
  if (result.is_array()) {
    own = result.as_array().values.size();
    for (const CellValue& v : result.as_array().values) {
      if (v.is_text()) text_bytes += v.as_text().size();
    }
  } else if (result.is_scalar() && result.as_scalar().is_text()) {
    text_bytes = result.as_scalar().as_text().size();
  }
  EvalShared& shared = *ctx.shared;
  EvalBudget* budget = ctx.shared_budget.get();
  uint64_t extra = target_cells > own ? target_cells - own : 0;
  if (shared.cells_left < extra || (budget && budget->cells < extra)) {
    mark_limited(ctx);
    return std::nullopt;
  }
  if (budget) budget->cells -= extra;
  shared.cells_left -= extra;
  uint64_t divisor = std::max<uint64_t>(own, 1);
  uint64_t copies = std::max<uint64_t>((target_cells + divisor - 1) / divisor, 1);
  uint64_t bytes = saturating_mul(text_bytes, copies);
  if (shared.bytes_left < bytes || (budget && budget->bytes < bytes)) {
    mark_limited(ctx);
    return std::nullopt;
  }
  if (budget) budget->bytes -= bytes;
  shared.bytes_left -= bytes;
  return build_spill_outcome(row, col, declared, std::move(result));
}

EvalOutcome evaluate_formula_cell(const model::CellSource& source, const model::WorkbookModel& model,
                                  const CellKey& key, std::optional<double> now,
                                  const std::shared_ptr<EvalBudget>& budget,
                                  const EngineState& state) {
  std::optional<FormulaEntry> entry = find_formula(state, key);
  if (!entry) return EvalOutcome{};
  return evaluate_formula_cell(source, model, key, *entry, now, budget, state);
}

EvalOutcome evaluate_formula_cell(const model::CellSource& source, const model::WorkbookModel& model,
                                  const CellKey& key, const FormulaEntry& entry,
                                  std::optional<double> now,
                                  const std::shared_ptr<EvalBudget>& budget,
                                  const EngineState& state) {
  EvalOutcome out;
  if (entry.shape == nullptr) return out;
  const ExprPtr& formula = entry.shape->tree;
  std::optional<CellRange> declared = declared_range(model, key);
  EvalContext ctx = new_context(source, key.sheet, CellRef{key.row, key.col, false, false}, now,
                                budget, &state.parse_cache, model.date_system);
  ctx.shift_rows = entry.shift_rows;
  ctx.shift_cols = entry.shift_cols;
  std::optional<SpillPayload> spill;
  if (!declared) {
    out.kind = EvalOutcome::Kind::Scalar;
    out.value = zero_for_empty(eval_scalar(*formula, ctx));
  } else {
    spill = fit_array_result(ctx, key.row, key.col, declared, eval_array(*formula, ctx));
    if (spill) {
      out.kind = EvalOutcome::Kind::Spill;
      out.spill = *spill;
    }
  }
  uint64_t limit_hits = ctx.shared->limit_hits;
  uint64_t unknown = ctx.shared->unknown_calls;
  if (declared && !spill) limit_hits = std::max<uint64_t>(limit_hits, 1);
  if (limit_hits != 0 || unknown != 0) {
    const model::SheetCell* cell = stored_cell(model.sheets, key);
    if (cell != nullptr && !cell->value.is_empty()) {
      out = EvalOutcome{};
    } else if (declared && limit_hits > 0) {
      out = EvalOutcome{};
      out.kind = EvalOutcome::Kind::LimitedArray;
    } else if (declared) {
      // An unknown function fills the declared area with #NAME? unless the
      // result already has exactly that shape.
      if (!(out.spill.target == *declared)) {
        auto filled = fit_array_result(ctx, key.row, key.col, declared,
                                       EvalResult::error(model::CellErrorCode::Name));
        out = EvalOutcome{};
        if (filled) {
          out.kind = EvalOutcome::Kind::Spill;
          out.spill = std::move(*filled);
        } else {
          out.kind = EvalOutcome::Kind::LimitedArray;
        }
      }
    }
  }
  out.limited = ctx.shared->limited;
  return out;
}

bool store_cell_value(std::vector<model::SheetModel>& sheets, const CellKey& key, CellValue value) {
  if (key.sheet >= sheets.size()) return false;
  model::SheetModel& sheet = sheets[key.sheet];
  auto it = sheet.cells.find(model::CellKey{key.row, key.col});
  static const CellValue kEmpty;
  const CellValue& old = it == sheet.cells.end() ? kEmpty : it->second.value;
  if (old == value) return false;
  if (it != sheet.cells.end()) {
    if (value.is_empty() && !it->second.formula && !it->second.style) {
      model::set_sheet_cell(sheet, key.row, key.col, model::SheetCell{});
    } else {
      it->second.value = std::move(value);
    }
  } else {
    model::set_sheet_cell(sheet, key.row, key.col, model::SheetCell{std::move(value), {}, {}});
  }
  return true;
}

bool store_cell_value(std::vector<model::SheetModel>& sheets, const CellKey& key, CellValue value,
                      StoreCursor& cursor) {
  if (key.sheet >= sheets.size()) return false;
  model::SheetModel& sheet = sheets[key.sheet];
  const model::CellKey at{key.row, key.col};
  model::CellMap::iterator it = sheet.cells.end();
  if (cursor.valid && cursor.sheet == key.sheet) {
    if (cursor.at->first == at) {
      it = cursor.at;
    } else if (auto next = std::next(cursor.at); next != sheet.cells.end() && next->first == at) {
      it = next;
    }
  }
  if (it == sheet.cells.end()) it = sheet.cells.find(at);
  if (it == sheet.cells.end() || (value.is_empty() && !it->second.formula && !it->second.style)) {
    cursor.valid = false;
    return store_cell_value(sheets, key, std::move(value));
  }
  cursor = StoreCursor{true, key.sheet, it};
  if (it->second.value == value) return false;
  it->second.value = std::move(value);
  return true;
}

bool spill_target_blocked(uint32_t anchor_row, uint32_t anchor_col,
                          const std::optional<CellRange>& old_range,
                          const model::WorkbookModel& model, uint32_t sheet, uint32_t row,
                          uint32_t col) {
  if (row == anchor_row && col == anchor_col) return false;
  if (old_range) {
    CellRange o = normalized_range(*old_range);
    if (o.start.row <= row && row <= o.end.row && o.start.col <= col && col <= o.end.col) return false;
  }
  const model::SheetCell* cell = stored_cell(model.sheets, CellKey{sheet, row, col});
  if (cell == nullptr) return false;
  return has_own_formula(*cell) || !cell->value.is_empty();
}

void store_spill_value(std::vector<model::SheetModel>& sheets, const CellKey& key, CellValue value,
                       RecalcLists& lists) {
  const model::SheetCell* cell = stored_cell(sheets, key);
  if (cell != nullptr && has_own_formula(*cell)) return;
  if (store_cell_value(sheets, key, std::move(value))) {
    lists.changed.push_back(address_of(key));
    lists.spill_changed.push_back(address_of(key));
  }
}

void apply_limited_anchor(std::vector<model::SheetModel>& sheets, const CellKey& anchor,
                          RecalcLists& lists) {
  const model::SheetCell* cell = stored_cell(sheets, anchor);
  if (cell != nullptr && !cell->value.is_empty()) return;
  if (store_cell_value(sheets, anchor, CellValue::error(model::CellErrorCode::Num))) {
    lists.changed.push_back(address_of(anchor));
  }
}

void apply_spill(model::WorkbookModel& model, const CellKey& anchor, SpillPayload spill,
                 bool limited_mark, EvalBudget* budget, RecalcLists& lists) {
  std::optional<CellRange> old = declared_range(model, anchor);
  CellRange target = normalized_range(spill.target);
  std::optional<CellRange> blocked;
  std::vector<CellValue> values = std::move(spill.values);
  // Only stored cells can block, so the test walks those alone.
  if (anchor.sheet < model.sheets.size()) {
    model::CellRangeIter iter(target, model.sheets[anchor.sheet].cells);
    while (auto item = model::cell_range_iter_next(iter)) {
      if (spill_target_blocked(anchor.row, anchor.col, old, model, anchor.sheet, item->ref.row,
                               item->ref.col)) {
        blocked = target;
        values.assign(1, CellValue::error(model::CellErrorCode::Spill));
        target = CellRange{CellRef{anchor.row, anchor.col, false, false},
                           CellRef{anchor.row, anchor.col, false, false}};
        break;
      }
    }
  }
  lists.blocked_spills.emplace_back(anchor, blocked);
  auto inside = [](const CellRange& r, uint32_t row, uint32_t col) {
    return r.start.row <= row && row <= r.end.row && r.start.col <= col && col <= r.end.col;
  };
  std::vector<CellKey> to_clear;
  if (old && anchor.sheet < model.sheets.size()) {
    CellRange o = normalized_range(*old);
    bool covered = inside(target, o.start.row, o.start.col) && inside(target, o.end.row, o.end.col);
    if (!covered) {
      uint64_t charge = 2 * uint64_t{o.end.row - o.start.row} + 3;
      bool exhausted = false;
      if (budget) {
        if (budget->cells < charge) {
          exhausted = true;
        } else {
          budget->cells -= charge;
        }
      }
      if (!exhausted) {
        model::CellRangeIter iter(o, model.sheets[anchor.sheet].cells);
        while (auto item = model::cell_range_iter_next(iter)) {
          if (budget) {
            if (budget->cells == 0) {
              exhausted = true;
              break;
            }
            budget->cells -= 1;
          }
          uint32_t r = item->ref.row;
          uint32_t c = item->ref.col;
          if ((r == anchor.row && c == anchor.col) || inside(target, r, c)) continue;
          to_clear.push_back(CellKey{anchor.sheet, r, c});
        }
      }
      if (exhausted) {
        if (!limited_mark) lists.limited.push_back(address_of(anchor));
        apply_limited_anchor(model.sheets, anchor, lists);
        return;
      }
    }
  }
  for (const CellKey& k : to_clear) store_spill_value(model.sheets, k, CellValue(), lists);
  size_t next = 0;
  for (uint32_t r = target.start.row; r <= target.end.row && next < values.size(); ++r) {
    for (uint32_t c = target.start.col; c <= target.end.col && next < values.size(); ++c) {
      CellKey k{anchor.sheet, r, c};
      CellValue v = std::move(values[next++]);
      if (k == anchor) {
        if (store_cell_value(model.sheets, k, std::move(v))) lists.changed.push_back(address_of(k));
      } else {
        store_spill_value(model.sheets, k, std::move(v), lists);
      }
    }
  }
  if (anchor.sheet < model.sheets.size()) {
    model.sheets[anchor.sheet].array_ranges[model::CellKey{anchor.row, anchor.col}] = target;
  }
}

}  // namespace cmx::formula
