// Lambda-driven and shape functions in array context: MAP and REDUCE over a
// column of 10^5 numbers (cells of the formula's own sheet, so each element
// carries its reference) and over the same numbers made by SEQUENCE, and
// SEQUENCE(1000, 1000). bench/lambda_peer.py runs the peer on the same data.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "formula/array_eval.h"
#include "formula/eval_context.h"
#include "formula/parser.h"
#include "model/cell_source.h"
#include "model/sheet_cells.h"

using namespace cmx;
using namespace cmx::formula;

namespace {

constexpr uint32_t kRows = 100'000;

// A1:A100000 hold 1 .. 100000.
struct Book {
  model::WorkbookModel model;
  model::ModelCellSource source{model};
  Book() {
    model.sheets.emplace_back();
    model.sheets.back().name = "Sheet1";
    for (uint32_t row = 0; row < kRows; ++row) {
      model::set_sheet_cell(model.sheets[0], row, 0,
                            model::SheetCell{model::CellValue::number(row + 1.0), {}, {}});
    }
  }
};

const Book& book() {
  static const Book* b = new Book();
  return *b;
}

// Evaluates the formula once per iteration; the sum of its numbers goes out
// as a counter so that the peer script can compare results.
void run_array(benchmark::State& state, const char* text, uint64_t items_per_run) {
  ExprPtr tree = parse_formula(text).value();
  double total = 0;
  for (auto _ : state) {
    EvalContext ctx = new_context(book().source, 0, model::CellRef{0, 5, false, false}, 45000.0,
                                  nullptr, nullptr, model::DateSystem::V1900);
    EvalResult result = eval_array(*tree, ctx);
    total = 0;
    if (result.is_array()) {
      for (const model::CellValue& v : result.as_array().values) {
        if (v.is_number()) total += v.as_number();
      }
    } else if (result.is_scalar() && result.as_scalar().is_number()) {
      total = result.as_scalar().as_number();
    } else {
      state.SkipWithError("no numbers");
    }
    benchmark::DoNotOptimize(result);
  }
  state.counters["result"] = total;
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * items_per_run));
}

void BM_MapRange(benchmark::State& state) {
  run_array(state, "MAP(A1:A100000,LAMBDA(x,x*2+1))", kRows);
}
BENCHMARK(BM_MapRange)->Unit(benchmark::kMillisecond);

void BM_MapSequence(benchmark::State& state) {
  run_array(state, "MAP(SEQUENCE(100000),LAMBDA(x,x*2+1))", kRows);
}
BENCHMARK(BM_MapSequence)->Unit(benchmark::kMillisecond);

void BM_ReduceRange(benchmark::State& state) {
  run_array(state, "REDUCE(0,A1:A100000,LAMBDA(a,b,a+b))", kRows);
}
BENCHMARK(BM_ReduceRange)->Unit(benchmark::kMillisecond);

void BM_ReduceSequence(benchmark::State& state) {
  run_array(state, "REDUCE(0,SEQUENCE(100000),LAMBDA(a,b,a+b))", kRows);
}
BENCHMARK(BM_ReduceSequence)->Unit(benchmark::kMillisecond);

void BM_Sequence1000x1000(benchmark::State& state) {
  run_array(state, "SEQUENCE(1000,1000)", 1'000'000);
}
BENCHMARK(BM_Sequence1000x1000)->Unit(benchmark::kMillisecond);

}  // namespace
