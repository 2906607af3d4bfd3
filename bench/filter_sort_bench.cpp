// SORT, SORTBY, UNIQUE and FILTER over a million rows in array context, with
// the per-formula budgets lifted.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <utility>

#include "formula/array_eval.h"
#include "formula/eval_context.h"
#include "formula/evaluator.h"
#include "formula/parser.h"
#include "model/cell_source.h"
#include "model/sheet_cells.h"

using namespace cmx;
using namespace cmx::formula;

namespace {

constexpr uint32_t kRows = 1'000'000;

// A: pseudo-random numbers in [0, 1); B: one of 1,000 whole numbers;
// C: one of 50,000 texts.
struct Book {
  model::WorkbookModel model;
  model::ModelCellSource source{model};
  Book() {
    model.sheets.emplace_back();
    model.sheets.back().name = "Sheet1";
    uint64_t state = 0x9E3779B97F4A7C15ULL;
    auto next = [&] {
      state = state * 6364136223846793005ULL + 1442695040888963407ULL;
      return state >> 11;
    };
    for (uint32_t row = 0; row < kRows; ++row) {
      auto& sheet = model.sheets[0];
      const double x = static_cast<double>(next()) / static_cast<double>(uint64_t{1} << 53);
      model::set_sheet_cell(sheet, row, 0, model::SheetCell{model::CellValue::number(x), {}, {}});
      model::set_sheet_cell(sheet, row, 1,
                            model::SheetCell{model::CellValue::number(next() % 1000), {}, {}});
      model::set_sheet_cell(
          sheet, row, 2,
          model::SheetCell{model::CellValue::text("key" + std::to_string(next() % 50000)), {}, {}});
    }
  }
};

void run(benchmark::State& state, const char* text) {
  static Book book;
  ExprPtr tree = parse_formula(text).value();
  EvalResult last;
  for (auto _ : state) {
    EvalContext ctx = new_context(book.source, 0, model::CellRef{0, 10, false, false}, 45000.0,
                                  nullptr, nullptr, model::DateSystem::V1900);
    ctx.shared->cells_left = UINT64_MAX;
    ctx.shared->bytes_left = UINT64_MAX;
    EvalResult result = eval_array(*tree, ctx);
    if (!result.is_array()) state.SkipWithError("no array");
    benchmark::DoNotOptimize(result);
    last = std::move(result);
  }
  // For the peer script: the result's row count and its first value.
  if (last.is_array()) {
    state.counters["rows"] = static_cast<double>(last.as_array().rows);
    const model::CellValue& first = last.as_array().values.front();
    state.counters["first"] = first.is_number() ? first.as_number() : 0;
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kRows);
}

void BM_SortNumbers(benchmark::State& state) { run(state, "SORT(A1:A1000000)"); }
BENCHMARK(BM_SortNumbers)->Unit(benchmark::kMillisecond);

void BM_SortTextsDescending(benchmark::State& state) {
  run(state, "SORT(C1:C1000000,1,-1)");
}
BENCHMARK(BM_SortTextsDescending)->Unit(benchmark::kMillisecond);

void BM_SortByTwoKeys(benchmark::State& state) {
  run(state, "SORTBY(A1:A1000000,B1:B1000000,1,A1:A1000000,-1)");
}
BENCHMARK(BM_SortByTwoKeys)->Unit(benchmark::kMillisecond);

void BM_UniqueNumbers(benchmark::State& state) { run(state, "UNIQUE(B1:B1000000)"); }
BENCHMARK(BM_UniqueNumbers)->Unit(benchmark::kMillisecond);

void BM_UniqueTexts(benchmark::State& state) { run(state, "UNIQUE(C1:C1000000)"); }
BENCHMARK(BM_UniqueTexts)->Unit(benchmark::kMillisecond);

void BM_FilterHalf(benchmark::State& state) {
  run(state, "FILTER(A1:A1000000,A1:A1000000>0.5)");
}
BENCHMARK(BM_FilterHalf)->Unit(benchmark::kMillisecond);

}  // namespace
