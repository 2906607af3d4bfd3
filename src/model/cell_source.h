// CellSource: the read interface through which formulas see a workbook. The
// model implements it here; the recalculation overlay implements it again on
// top of the model. No operation reports an error: missing things are Empty
// or absent.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "model/workbook.h"

namespace cmx::model {

class CellSource {
 public:
  virtual ~CellSource() = default;

  // Slot 0: an owned copy of the cell's value.
  virtual CellValue cell_value(uint32_t sheet, const CellRef& cell) const = 0;
  // Slot 1: the stored value lent by reference, or a reference to a static Empty.
  virtual const CellValue& peek_cell_value(uint32_t sheet, const CellRef& cell) const = 0;
  // Slot 2: the formula text (without "=") lent by reference.
  virtual std::optional<std::string_view> cell_formula(uint32_t sheet,
                                                       const CellRef& cell) const = 0;
  // Slot 3
  virtual std::optional<uint32_t> sheet_index(std::string_view name) const = 0;
  // Slot 4
  virtual const DefinedName* defined_name(uint32_t sheet, std::string_view name) const = 0;
  // Slot 5
  virtual const WorkbookTable* table(std::string_view name) const = 0;
  // Slot 6: rows from row 1 to the last used one.
  virtual uint32_t used_rows(uint32_t sheet) const = 0;
  // Slot 7
  virtual uint32_t used_cols(uint32_t sheet) const = 0;
  // Slot 8: the range an array formula anchored at the cell fills.
  virtual std::optional<CellRange> array_range(uint32_t sheet, const CellRef& cell) const = 0;
};

// The smallest rectangle covering every stored cell key and every hyperlink
// range (flags false); absent for a sheet with neither. Merges, widths,
// charts and array ranges do not count.
std::optional<CellRange> sheet_used_range(const SheetModel& sheet);

// The nine reads against the stored workbook; a sheet index past the end
// counts as missing.
CellValue model_cell_value(const WorkbookModel& model, uint32_t sheet, const CellRef& cell);
const CellValue& model_peek_cell_value(const WorkbookModel& model, uint32_t sheet,
                                       const CellRef& cell);
std::optional<std::string_view> model_cell_formula(const WorkbookModel& model, uint32_t sheet,
                                                   const CellRef& cell);
std::optional<uint32_t> model_sheet_index(const WorkbookModel& model, std::string_view name);
const DefinedName* model_defined_name(const WorkbookModel& model, uint32_t sheet,
                                      std::string_view name);
const WorkbookTable* model_table(const WorkbookModel& model, std::string_view name);
uint32_t model_used_rows(const WorkbookModel& model, uint32_t sheet);
uint32_t model_used_cols(const WorkbookModel& model, uint32_t sheet);
std::optional<CellRange> model_array_range(const WorkbookModel& model, uint32_t sheet,
                                           const CellRef& cell);

// The stored workbook as a CellSource; lent values stay valid while the
// workbook is unchanged. Views that answer some value reads otherwise derive
// from it.
class ModelCellSource : public CellSource {
 public:
  explicit ModelCellSource(const WorkbookModel& model) : model_(&model) {}
  const WorkbookModel& model() const { return *model_; }

  CellValue cell_value(uint32_t sheet, const CellRef& cell) const override {
    return model_cell_value(*model_, sheet, cell);
  }
  const CellValue& peek_cell_value(uint32_t sheet, const CellRef& cell) const override {
    return model_peek_cell_value(*model_, sheet, cell);
  }
  std::optional<std::string_view> cell_formula(uint32_t sheet, const CellRef& cell) const override {
    return model_cell_formula(*model_, sheet, cell);
  }
  std::optional<uint32_t> sheet_index(std::string_view name) const override {
    return model_sheet_index(*model_, name);
  }
  const DefinedName* defined_name(uint32_t sheet, std::string_view name) const override {
    return model_defined_name(*model_, sheet, name);
  }
  const WorkbookTable* table(std::string_view name) const override {
    return model_table(*model_, name);
  }
  uint32_t used_rows(uint32_t sheet) const override { return model_used_rows(*model_, sheet); }
  uint32_t used_cols(uint32_t sheet) const override { return model_used_cols(*model_, sheet); }
  std::optional<CellRange> array_range(uint32_t sheet, const CellRef& cell) const override {
    return model_array_range(*model_, sheet, cell);
  }

 private:
  const WorkbookModel* model_;
};

}  // namespace cmx::model
