// A small workbook and the contexts to evaluate formulas against it, shared
// by the evaluator tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <string_view>

#include "base/number_text.h"
#include "formula/eval_context.h"
#include "formula/evaluator.h"
#include "formula/parse_cache.h"
#include "formula/parser.h"
#include "formula/value_coercion.h"
#include "model/cell_source.h"
#include "model/sheet_cells.h"

namespace cmx::formula::testing {

using model::CellErrorCode;
using model::CellValue;

inline CellValue num(double x) { return CellValue::number(x); }
inline CellValue txt(std::string_view s) { return CellValue::text(s); }
inline CellValue boolean(bool b) { return CellValue::boolean(b); }
inline CellValue err(CellErrorCode c) { return CellValue::error(c); }

// Readable values for failure messages.
inline std::string show(const CellValue& v) {
  switch (v.kind()) {
    case CellValue::Kind::Empty:
      return "Empty";
    case CellValue::Kind::Number:
      return "Number " + format_shortest(v.as_number());
    case CellValue::Kind::Text:
      return "Text \"" + std::string(v.as_text()) + "\"";
    case CellValue::Kind::Bool:
      return v.as_bool() ? "TRUE" : "FALSE";
    case CellValue::Kind::Error:
      return std::string(model::error_code_text(v.as_error()));
  }
  return "?";
}

struct Workbook {
  model::WorkbookModel model;
  model::ModelCellSource source{model};
  ParseCache cache;
  std::shared_ptr<EvalBudget> budget = std::make_shared<EvalBudget>();
  std::optional<double> now;

  explicit Workbook(int sheets = 1) {
    for (int i = 0; i < sheets; ++i) {
      model.sheets.push_back(model::SheetModel{});
      model.sheets.back().name = "Sheet" + std::to_string(i + 1);
    }
  }
  Workbook(const Workbook&) = delete;
  Workbook& operator=(const Workbook&) = delete;

  void set(uint32_t sheet, std::string_view a1, CellValue value) {
    model::CellRef ref = model::parse_cell_ref(a1).value();
    model::set_sheet_cell(model.sheets[sheet], ref.row, ref.col,
                          model::SheetCell{std::move(value), std::nullopt, std::nullopt});
  }
  void define(std::string name, std::string formula, std::optional<uint32_t> local = {}) {
    model.defined_names.push_back(model::DefinedName{std::move(name), std::move(formula), local});
  }
  // A context for a formula in `cell` of `sheet`, sharing this workbook's budget.
  EvalContext context(uint32_t sheet = 0, std::string_view cell = "Z100") {
    return new_context(source, sheet, model::parse_cell_ref(cell).value(), now, budget, &cache,
                       model.date_system);
  }
  CellValue eval(std::string_view formula, EvalContext& ctx) {
    auto tree = parse_formula(formula);
    if (!tree.has_value()) {
      ADD_FAILURE() << "does not parse: " << formula;
      return CellValue();
    }
    return eval_scalar(**tree, ctx);
  }
  CellValue eval(std::string_view formula, uint32_t sheet = 0) {
    EvalContext ctx = context(sheet);
    return eval(formula, ctx);
  }
};

// Exact equality, -0 and 0 apart.
inline ::testing::AssertionResult same_value(const CellValue& got, const CellValue& want) {
  bool same = got == want;
  if (same && got.is_number() && std::signbit(got.as_number()) != std::signbit(want.as_number())) {
    same = false;
  }
  if (same) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "got " << show(got) << ", want " << show(want);
}

// A formula and the value it must give, for tables of cases.
struct FormulaCase {
  std::string_view formula;
  CellValue want;
};

// Evaluates each case in a fresh context of the workbook.
inline void expect_cases(Workbook& wb, std::span<const FormulaCase> cases) {
  for (const FormulaCase& c : cases) {
    SCOPED_TRACE(std::string(c.formula));
    EvalContext ctx = wb.context();
    EXPECT_TRUE(same_value(wb.eval(c.formula, ctx), c.want));
  }
}

}  // namespace cmx::formula::testing
