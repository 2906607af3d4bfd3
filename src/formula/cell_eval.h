// Evaluating one registered formula cell for the recalculation, storing
// values into the model, and spilling array results over the sheet.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

#include "formula/engine_state.h"
#include "formula/eval_context.h"
#include "formula/eval_result.h"
#include "model/cell_address.h"
#include "model/cell_source.h"

namespace cmx::formula {

// Spills cover at most this many cells.
inline constexpr uint64_t kMaxSpillCells = 262'144;

struct SpillPayload {
  std::vector<model::CellValue> values;  // row-major, the anchor's first
  model::CellRange target;               // normalised, flags false
};

struct EvalOutcome {
  enum class Kind : uint8_t { Keep, Scalar, Spill, LimitedArray };
  Kind kind = Kind::Keep;
  model::CellValue value;  // Scalar
  SpillPayload spill;      // Spill
  bool limited = false;
};

EvalOutcome evaluate_formula_cell(const model::CellSource& source, const model::WorkbookModel& model,
                                  const CellKey& key, std::optional<double> now,
                                  const std::shared_ptr<EvalBudget>& budget,
                                  const EngineState& state);
// The same for an entry already found; one without a shape keeps its cell.
EvalOutcome evaluate_formula_cell(const model::CellSource& source, const model::WorkbookModel& model,
                                  const CellKey& key, const FormulaEntry& entry,
                                  std::optional<double> now,
                                  const std::shared_ptr<EvalBudget>& budget,
                                  const EngineState& state);

std::optional<SpillPayload> fit_array_result(EvalContext& ctx, uint32_t row, uint32_t col,
                                             const std::optional<model::CellRange>& declared,
                                             EvalResult result);
SpillPayload build_spill_outcome(uint32_t row, uint32_t col,
                                 const std::optional<model::CellRange>& declared,
                                 EvalResult result);

// True when the stored value changed. A sheet index out of range changes
// nothing and answers false.
bool store_cell_value(std::vector<model::SheetModel>& sheets, const CellKey& key,
                      model::CellValue value);

// The cell stored last, so that storing the next cell in key order and a
// formula's read of the cell before it skip the search. Only valid while
// nothing else inserts or removes cells.
struct StoreCursor {
  bool valid = false;
  uint32_t sheet = 0;
  model::CellMap::iterator at;
  const model::SheetCell* find(uint32_t sheet, uint32_t row, uint32_t col) const {
    if (!valid || sheet != this->sheet || at->first.row != row || at->first.col != col) return nullptr;
    return &at->second;
  }
};
// The same, through the cursor, which it leaves on the stored cell (or
// invalid when the cell was inserted or removed).
bool store_cell_value(std::vector<model::SheetModel>& sheets, const CellKey& key,
                      model::CellValue value, StoreCursor& cursor);

// The lists a recalculation builds as it stores.
struct RecalcLists {
  std::vector<model::CellAddress> changed;
  std::vector<model::CellAddress> limited;
  std::vector<model::CellAddress> spill_changed;  // this wave's
  // Each spill's anchor and, when the spill was blocked, the area it meant
  // to fill.
  std::vector<std::pair<CellKey, std::optional<model::CellRange>>> blocked_spills;
};

model::CellAddress address_of(const CellKey& key);

bool spill_target_blocked(uint32_t anchor_row, uint32_t anchor_col,
                          const std::optional<model::CellRange>& old_range,
                          const model::WorkbookModel& model, uint32_t sheet, uint32_t row,
                          uint32_t col);
void store_spill_value(std::vector<model::SheetModel>& sheets, const CellKey& key,
                       model::CellValue value, RecalcLists& lists);
void apply_spill(model::WorkbookModel& model, const CellKey& anchor, SpillPayload spill,
                 bool limited_mark, EvalBudget* budget, RecalcLists& lists);
// An anchor without a value receives "#NUM!"; one with a value keeps it.
void apply_limited_anchor(std::vector<model::SheetModel>& sheets, const CellKey& anchor,
                          RecalcLists& lists);

}  // namespace cmx::formula
