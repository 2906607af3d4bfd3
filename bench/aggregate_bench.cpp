// Conditional aggregates and SUMPRODUCT over a million rows: SUMIFS and
// COUNTIFS with three criteria, over explicit ranges and whole columns, and
// SUMPRODUCT over two million-cell columns. The per-formula cell budget is
// lifted: a million rows and three criteria read more cells than one formula
// may by default. bench/aggregate_peer.py evaluates the same formulas with
// the `formulas` package on the same data.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "formula_run.h"
#include "model/cell_source.h"
#include "model/sheet_cells.h"

using namespace cmx;
using namespace cmx::formula;

namespace {

constexpr uint32_t kRows = 1'000'000;

// Column A a region among four, B a whole number 0..99, C an amount. The
// same rule as the peer script, so both sides see the same cells.
struct Book {
  model::WorkbookModel model;
  model::ModelCellSource source{model};
  Book() {
    model.sheets.emplace_back();
    model.sheets.back().name = "Sheet1";
    const char* regions[] = {"north", "south", "east", "west"};
    auto& sheet = model.sheets[0];
    for (uint32_t row = 0; row < kRows; ++row) {
      model::set_sheet_cell(sheet, row, 0,
                            model::SheetCell{model::CellValue::text(regions[row % 4]), {}, {}});
      model::set_sheet_cell(
          sheet, row, 1, model::SheetCell{model::CellValue::number((row * 7) % 100), {}, {}});
      model::set_sheet_cell(
          sheet, row, 2,
          model::SheetCell{model::CellValue::number(((row * 13) % 1000) * 0.5), {}, {}});
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

void BM_SumIfsThreeCriteria(benchmark::State& state) {
  run_formula(state, "SUMIFS(C1:C1000000,A1:A1000000,\"north\",B1:B1000000,\">50\","
                     "C1:C1000000,\"<=250\")");
}
BENCHMARK(BM_SumIfsThreeCriteria)->Unit(benchmark::kMillisecond);

void BM_CountIfsThreeCriteria(benchmark::State& state) {
  run_formula(state, "COUNTIFS(A1:A1000000,\"north\",B1:B1000000,\">50\","
                     "C1:C1000000,\"<=250\")");
}
BENCHMARK(BM_CountIfsThreeCriteria)->Unit(benchmark::kMillisecond);

void BM_SumIfsWholeColumns(benchmark::State& state) {
  run_formula(state, "SUMIFS(C:C,A:A,\"north\",B:B,\">50\",C:C,\"<=250\")");
}
BENCHMARK(BM_SumIfsWholeColumns)->Unit(benchmark::kMillisecond);

void BM_CountIfsWildcard(benchmark::State& state) {
  run_formula(state, "COUNTIFS(A:A,\"*th\",B:B,\"<>7\",C:C,\">=0\")");
}
BENCHMARK(BM_CountIfsWildcard)->Unit(benchmark::kMillisecond);

void BM_SumProductTwoColumns(benchmark::State& state) {
  run_formula(state, "SUMPRODUCT(B1:B1000000,C1:C1000000)");
}
BENCHMARK(BM_SumProductTwoColumns)->Unit(benchmark::kMillisecond);

}  // namespace
