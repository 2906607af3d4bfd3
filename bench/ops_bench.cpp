// Style edits over large ranges, and the whole-model copy every batch makes.
#include <benchmark/benchmark.h>

#include "ops/ops.h"

using namespace cmx;

static model::WorkbookModel filled_model(uint32_t rows, uint32_t cols) {
  model::WorkbookModel workbook;
  workbook.sheets.resize(1);
  for (uint32_t r = 0; r < rows; ++r) {
    for (uint32_t c = 0; c < cols; ++c) {
      workbook.sheets[0].cells.emplace_hint(workbook.sheets[0].cells.end(), model::CellKey{r, c},
                                            model::SheetCell{model::CellValue::number(r), std::nullopt, std::nullopt});
    }
  }
  return workbook;
}

// Bold over 10,000 rows by 10 columns of numbers, through a batch as a
// recorded edit runs it.
static void BM_PatchStyleHundredThousandCells(benchmark::State& state) {
  const model::WorkbookModel base = filled_model(10000, 10);
  ops::StylePatch patch;
  patch.bold = true;
  patch.fill_color = "#ffee00";
  const ops::Batch batch = {ops::PatchStyle{0, model::CellRange{{0, 0}, {9999, 9}}, patch}};
  model::WorkbookModel workbook;
  for (auto _ : state) {
    state.PauseTiming();
    workbook = base;
    state.ResumeTiming();
    auto inverse = ops::apply_batch(workbook, batch);
    benchmark::DoNotOptimize(inverse);
  }
  state.SetItemsProcessed(state.iterations() * 100000);
}
BENCHMARK(BM_PatchStyleHundredThousandCells)->Unit(benchmark::kMillisecond);

// One cell set in a workbook of 10^6 cells: the cost is the model copy.
static void BM_SetCellBatchOnMillionCells(benchmark::State& state) {
  model::WorkbookModel workbook = filled_model(100000, 10);
  double value = 0;
  for (auto _ : state) {
    const ops::Batch batch = {ops::SetCell{model::SheetCell{model::CellValue::number(++value), std::nullopt, std::nullopt},
                                           model::CellAddress{0, {5, 5, false, false}}}};
    auto inverse = ops::apply_batch(workbook, batch);
    benchmark::DoNotOptimize(inverse);
  }
}
BENCHMARK(BM_SetCellBatchOnMillionCells)->Unit(benchmark::kMillisecond);
