// Statistics over a million numbers: STDEV.S and VAR.P (two passes), MEDIAN
// and PERCENTILE.INC (selection), and CORREL over two million-cell columns.
// The per-formula cell budget is lifted. bench/stats_peer.py evaluates the
// same formulas with the `formulas` package on the same data.
#include <benchmark/benchmark.h>

#include <cstdint>

#include "formula_run.h"
#include "model/cell_source.h"
#include "model/sheet_cells.h"

using namespace cmx;
using namespace cmx::formula;

namespace {

constexpr uint32_t kRows = 1'000'000;

// Column A a scrambled amount, B a noisy multiple of A: the same rule as
// the peer script, so both sides see the same cells.
struct Book {
  model::WorkbookModel model;
  model::ModelCellSource source{model};
  Book() {
    model.sheets.emplace_back();
    model.sheets.back().name = "Sheet1";
    auto& sheet = model.sheets[0];
    for (uint32_t row = 0; row < kRows; ++row) {
      const double a = static_cast<double>((uint64_t{row} * 7919) % 1000003) * 0.001;
      const double b = 2 * a + static_cast<double>((row * 13) % 101) * 0.01;
      model::set_sheet_cell(sheet, row, 0, model::SheetCell{model::CellValue::number(a), {}, {}});
      model::set_sheet_cell(sheet, row, 1, model::SheetCell{model::CellValue::number(b), {}, {}});
    }
  }
};

Book& book() {
  static Book b;
  return b;
}

void run_formula(benchmark::State& state, const char* text) {
  bench::run_formula(state, book().source, text, kRows);
}

void BM_StdevMillion(benchmark::State& state) { run_formula(state, "STDEV.S(A1:A1000000)"); }
BENCHMARK(BM_StdevMillion)->Unit(benchmark::kMillisecond);

void BM_VarPMillion(benchmark::State& state) { run_formula(state, "VAR.P(A1:A1000000)"); }
BENCHMARK(BM_VarPMillion)->Unit(benchmark::kMillisecond);

void BM_MedianMillion(benchmark::State& state) { run_formula(state, "MEDIAN(A1:A1000000)"); }
BENCHMARK(BM_MedianMillion)->Unit(benchmark::kMillisecond);

void BM_PercentileMillion(benchmark::State& state) {
  run_formula(state, "PERCENTILE.INC(A1:A1000000,0.9)");
}
BENCHMARK(BM_PercentileMillion)->Unit(benchmark::kMillisecond);

void BM_MedianWholeColumn(benchmark::State& state) { run_formula(state, "MEDIAN(A:A)"); }
BENCHMARK(BM_MedianWholeColumn)->Unit(benchmark::kMillisecond);

void BM_CorrelMillion(benchmark::State& state) {
  run_formula(state, "CORREL(A1:A1000000,B1:B1000000)");
}
BENCHMARK(BM_CorrelMillion)->Unit(benchmark::kMillisecond);

}  // namespace
