// RecalcView: the workbook as formulas see it while the recalculation
// resolves cycles. It answers exactly as the model does and notes whether an
// evaluation read a cell that is still pending.
#pragma once

#include "absl/container/flat_hash_set.h"
#include "formula/engine_state.h"
#include "model/cell_source.h"

namespace cmx::formula {

class RecalcView final : public model::ModelCellSource {
 public:
  RecalcView(const model::WorkbookModel& model, const absl::flat_hash_set<CellKey>& pending)
      : ModelCellSource(model), pending_(&pending) {}

  bool read_pending() const { return read_pending_; }

  model::CellValue cell_value(uint32_t sheet, const model::CellRef& cell) const override {
    note(sheet, cell);
    return model::model_cell_value(model(), sheet, cell);
  }
  const model::CellValue& peek_cell_value(uint32_t sheet, const model::CellRef& cell) const override {
    note(sheet, cell);
    return model::model_peek_cell_value(model(), sheet, cell);
  }

 private:
  void note(uint32_t sheet, const model::CellRef& cell) const {
    if (pending_->empty()) return;
    if (pending_->contains(CellKey{sheet, cell.row, cell.col})) read_pending_ = true;
  }

  const absl::flat_hash_set<CellKey>* pending_;
  mutable bool read_pending_ = false;
};

}  // namespace cmx::formula
