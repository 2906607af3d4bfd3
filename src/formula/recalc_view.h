// RecalcView: the workbook as formulas see it while the recalculation
// resolves cycles. It answers exactly as the model does and notes whether an
// evaluation read a cell that is still pending.
#pragma once

#include "absl/container/flat_hash_set.h"
#include "formula/engine_state.h"
#include "model/cell_source.h"

namespace cmx::formula {

class RecalcView final : public model::CellSource {
 public:
  RecalcView(const model::WorkbookModel& model, const absl::flat_hash_set<CellKey>& pending)
      : model_(&model), pending_(&pending) {}

  bool read_pending() const { return read_pending_; }

  model::CellValue cell_value(uint32_t sheet, const model::CellRef& cell) const override {
    note(sheet, cell);
    return model::model_cell_value(*model_, sheet, cell);
  }
  const model::CellValue& peek_cell_value(uint32_t sheet, const model::CellRef& cell) const override {
    note(sheet, cell);
    return model::model_peek_cell_value(*model_, sheet, cell);
  }
  std::optional<std::string_view> cell_formula(uint32_t sheet,
                                               const model::CellRef& cell) const override {
    return model::model_cell_formula(*model_, sheet, cell);
  }
  std::optional<uint32_t> sheet_index(std::string_view name) const override {
    return model::model_sheet_index(*model_, name);
  }
  const model::DefinedName* defined_name(uint32_t sheet, std::string_view name) const override {
    return model::model_defined_name(*model_, sheet, name);
  }
  const model::WorkbookTable* table(std::string_view name) const override {
    return model::model_table(*model_, name);
  }
  uint32_t used_rows(uint32_t sheet) const override { return model::model_used_rows(*model_, sheet); }
  uint32_t used_cols(uint32_t sheet) const override { return model::model_used_cols(*model_, sheet); }
  std::optional<model::CellRange> array_range(uint32_t sheet,
                                              const model::CellRef& cell) const override {
    return model::model_array_range(*model_, sheet, cell);
  }

 private:
  void note(uint32_t sheet, const model::CellRef& cell) const {
    if (pending_->empty()) return;
    if (pending_->contains(CellKey{sheet, cell.row, cell.col})) read_pending_ = true;
  }

  const model::WorkbookModel* model_;
  const absl::flat_hash_set<CellKey>* pending_;
  mutable bool read_pending_ = false;
};

}  // namespace cmx::formula
