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

// 100,000 rows by 10 columns of numbers with a formula in column K of every
// row: 10^6 cells and 10^5 formulas, each with its own text.
static model::WorkbookModel formula_model(uint32_t sheets) {
  model::WorkbookModel workbook = filled_model(100000, 10);
  for (uint32_t r = 0; r < 100000; ++r) {
    const std::string row = std::to_string(r + 1);
    workbook.sheets[0].cells.emplace_hint(
        workbook.sheets[0].cells.end(), model::CellKey{r, 10},
        model::SheetCell{model::CellValue::number(0), SharedString("A" + row + "*2+SUM(B" + row + ":J" + row + ")"),
                         std::nullopt});
  }
  for (uint32_t s = 1; s < sheets; ++s) workbook.sheets.emplace_back().name = "Other" + std::to_string(s);
  workbook.sheets[0].name = "Data";
  return workbook;
}

// Inserts `count` rows at `at` of sheet `sheet` and deletes them again, each
// through apply_op: a pair of edits per iteration.
static void insert_and_delete(benchmark::State& state, uint32_t sheet, uint32_t at) {
  model::WorkbookModel workbook = formula_model(2);
  for (auto _ : state) {
    auto inserted = ops::apply_op(workbook, ops::InsertRows{sheet, at, 1});
    auto deleted = ops::apply_op(workbook, ops::DeleteRows{sheet, at, 1});
    if (!inserted || !deleted) state.SkipWithError("edit refused");
    benchmark::DoNotOptimize(deleted);
  }
}

// Every cell and every formula moves.
static void BM_InsertRowsTopOfMillionCells(benchmark::State& state) { insert_and_delete(state, 0, 0); }
BENCHMARK(BM_InsertRowsTopOfMillionCells)->Unit(benchmark::kMillisecond);

// Ten rows move; every formula is still read, a few are rewritten.
static void BM_InsertRowsBottomOfMillionCells(benchmark::State& state) { insert_and_delete(state, 0, 99990); }
BENCHMARK(BM_InsertRowsBottomOfMillionCells)->Unit(benchmark::kMillisecond);

// An edit of an empty sheet that no formula names: nothing moves.
static void BM_InsertRowsOtherSheet(benchmark::State& state) { insert_and_delete(state, 1, 0); }
BENCHMARK(BM_InsertRowsOtherSheet)->Unit(benchmark::kMillisecond);
