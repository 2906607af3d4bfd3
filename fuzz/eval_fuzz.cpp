// Fuzzes evaluation: any text that parses is evaluated in scalar and in
// array context on a small workbook (cells of every kind, defined names,
// a name that refers to itself, a table); the number, time and date text
// readers run on the raw input too. No crash, no hang, and the budgets hold.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "formula/array_eval.h"
#include "formula/eval_context.h"
#include "formula/evaluator.h"
#include "formula/parse_cache.h"
#include "formula/parser.h"
#include "formula/value_coercion.h"
#include "model/cell_source.h"
#include "model/sheet_cells.h"

using namespace cmx;
using namespace cmx::formula;

namespace {

struct Book {
  model::WorkbookModel model;
  model::ModelCellSource source{model};
  ParseCache cache;

  void set(uint32_t sheet, uint32_t row, uint32_t col, model::CellValue v) {
    model::set_sheet_cell(model.sheets[sheet], row, col, model::SheetCell{std::move(v), {}, {}});
  }

  Book() {
    for (const char* name : {"Sheet1", "Data Sheet"}) {
      model.sheets.emplace_back();
      model.sheets.back().name = name;
    }
    for (uint32_t r = 0; r < 20; ++r) {
      set(0, r, 0, model::CellValue::number(r * 1.5 - 4));
      set(0, r, 1, model::CellValue::text(r % 2 ? "x" : "12"));
    }
    set(0, 0, 2, model::CellValue::boolean(true));
    set(0, 1, 2, model::CellValue::error(model::CellErrorCode::Div0));
    set(0, 2, 2, model::CellValue::text("2024-01-15"));
    set(0, 3, 2, model::CellValue::text("10:30 PM"));
    set(1, 0, 0, model::CellValue::text("Region"));
    set(1, 0, 1, model::CellValue::text("Amount"));
    for (uint32_t r = 1; r < 6; ++r) {
      set(1, r, 0, model::CellValue::text(r % 2 ? "North" : "South"));
      set(1, r, 1, model::CellValue::number(r * 10));
    }
    set(1, 99, 3, model::CellValue::number(1));
    model.defined_names.push_back({"Rate", "=0.07", std::nullopt});
    model.defined_names.push_back({"Rng", "=Sheet1!$A$1:$B$5", std::nullopt});
    model.defined_names.push_back({"Loop", "=Loop+1", std::nullopt});
    model.defined_names.push_back({"Ping", "=Pong*2", std::nullopt});
    model.defined_names.push_back({"Pong", "=SUM(Ping,Rng)", std::nullopt});
    model.defined_names.push_back({"Local", "={1,2;3,4}", uint32_t{1}});
    model.tables.push_back(model::WorkbookTable{
        "Sales", {"Region", "Amount"},
        model::CellRange{{0, 0, false, false}, {5, 1, false, false}}, 1, 1, 0});
  }
};

EvalContext context(const Book& book, uint32_t sheet) {
  return new_context(book.source, sheet, model::CellRef{7, 1, false, false}, 45'000.5, nullptr,
                     &book.cache, model::DateSystem::V1900);
}

void check_budgets(const EvalContext& ctx) {
  if (ctx.shared->cells_left > kFormulaCellBudget || ctx.shared->bytes_left > kFormulaByteBudget) {
    std::abort();
  }
  if (!ctx.shared->scopes.empty() || !ctx.shared->name_stack.empty()) std::abort();
  if (ctx.shared->eval_depth != 0) std::abort();
  if (ctx.shared->lambda_depth != 0) std::abort();
}

void check_result(const EvalResult& result) {
  if (!result.is_array()) return;
  const ArrayValue& a = result.as_array();
  if (a.rows == 0 || a.cols == 0 || a.rows * a.cols != a.values.size() ||
      a.values.size() > kMaxArrayCells || a.values.size() == 1) {
    std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const Book book;
  std::string_view text(reinterpret_cast<const char*>(data), size);

  (void)parse_number_text(text);
  (void)parse_time_text(text);
  (void)parse_date_text(text, 45'000.5);
  (void)parse_date_text(text, std::nullopt);

  auto parsed = parse_formula(text);
  if (!parsed) return 0;
  const Expr& tree = **parsed;
  for (uint32_t sheet : {0u, 1u}) {
    EvalContext scalar_ctx = context(book, sheet);
    (void)eval_scalar(tree, scalar_ctx);
    check_budgets(scalar_ctx);

    EvalContext array_ctx = context(book, sheet);
    EvalResult result = eval_array(tree, array_ctx);
    check_result(result);
    check_budgets(array_ctx);
  }
  return 0;
}
