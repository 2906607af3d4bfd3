// A small workbook and the contexts to evaluate formulas against it, shared
// by the evaluator tests.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "base/number_text.h"
#include "formula/array_eval.h"
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

// A formula and the value it must give in an ordinary cell.
struct FormulaCase {
  std::string_view formula;
  CellValue want;
};

inline void run_cases(Workbook& wb, std::span<const FormulaCase> cases) {
  for (const FormulaCase& c : cases) {
    SCOPED_TRACE(std::string(c.formula));
    EXPECT_TRUE(same_value(wb.eval(c.formula), c.want));
  }
}

// A formula evaluated in array context and its values in row-major order;
// a single value stands for a scalar result.
struct ArrayFormulaCase {
  std::string_view formula;
  std::vector<CellValue> want;
};

inline void run_array_cases(Workbook& wb, std::span<const ArrayFormulaCase> cases) {
  for (const ArrayFormulaCase& c : cases) {
    SCOPED_TRACE(std::string(c.formula));
    EvalContext ctx = wb.context();
    auto tree = parse_formula(c.formula);
    ASSERT_TRUE(tree.has_value());
    EvalResult got = eval_array(**tree, ctx);
    if (c.want.size() == 1) {
      ASSERT_TRUE(got.is_scalar());
      EXPECT_TRUE(same_value(got.as_scalar(), c.want[0]));
      continue;
    }
    ASSERT_TRUE(got.is_array());
    ASSERT_EQ(got.as_array().values.size(), c.want.size());
    for (size_t i = 0; i < c.want.size(); ++i) {
      EXPECT_TRUE(same_value(got.as_array().values[i], c.want[i])) << i;
    }
  }
}

}  // namespace cmx::formula::testing
