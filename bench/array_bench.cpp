// Array-context evaluation: broadcast arithmetic over a 1000 × 100 range and
// SUM over an array expression of the same size.
#include <benchmark/benchmark.h>

#include "formula/array_eval.h"
#include "formula/eval_context.h"
#include "formula/evaluator.h"
#include "formula/parser.h"
#include "model/cell_source.h"
#include "model/sheet_cells.h"

using namespace cmx;
using namespace cmx::formula;

namespace {

constexpr uint32_t kRows = 1000;
constexpr uint32_t kCols = 100;

struct Book {
  model::WorkbookModel model;
  model::ModelCellSource source{model};
  Book() {
    model.sheets.emplace_back();
    model.sheets.back().name = "Sheet1";
    for (uint32_t row = 0; row < kRows; ++row) {
      for (uint32_t col = 0; col < kCols; ++col) {
        model::set_sheet_cell(model.sheets[0], row, col,
                              model::SheetCell{model::CellValue::number(row + col * 0.25), {}, {}});
      }
    }
  }
};

EvalContext fresh_context(const Book& book) {
  return new_context(book.source, 0, model::CellRef{0, 200, false, false}, 45000.0, nullptr,
                     nullptr, model::DateSystem::V1900);
}

void BM_BroadcastArithmetic(benchmark::State& state) {
  static Book book;
  // A row of 100 factors broadcast down the 1000 rows.
  ExprPtr tree = parse_formula("A1:CV1000*A1:CV1+1").value();
  for (auto _ : state) {
    EvalContext ctx = fresh_context(book);
    EvalResult result = eval_array(*tree, ctx);
    if (!result.is_array()) state.SkipWithError("no array");
    benchmark::DoNotOptimize(result);
  }
  state.SetItemsProcessed(state.iterations() * kRows * kCols);
}
BENCHMARK(BM_BroadcastArithmetic)->Unit(benchmark::kMillisecond);

void BM_SumArrayExpression(benchmark::State& state) {
  static Book book;
  ExprPtr tree = parse_formula("SUM(A1:CV1000*2)").value();
  for (auto _ : state) {
    EvalContext ctx = fresh_context(book);
    model::CellValue v = eval_scalar(*tree, ctx);
    if (!v.is_number()) state.SkipWithError("no number");
    benchmark::DoNotOptimize(v);
  }
  state.SetItemsProcessed(state.iterations() * kRows * kCols);
}
BENCHMARK(BM_SumArrayExpression)->Unit(benchmark::kMillisecond);

}  // namespace
