// A1 parsing and printing, and cell-map inserts and range walks.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "model/model.h"

using namespace cmx::model;

static void BM_ParseCellRef(benchmark::State& state) {
  std::vector<std::string> texts;
  for (uint32_t i = 0; i < 1024; ++i) texts.push_back(format_cell_ref({i * 997 % MAX_ROWS, i * 13 % MAX_COLS}));
  size_t i = 0;
  for (auto _ : state) {
    auto r = parse_cell_ref(texts[i++ & 1023]);
    benchmark::DoNotOptimize(r);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ParseCellRef);

static void BM_FillAndWalkCells(benchmark::State& state) {
  const uint32_t rows = static_cast<uint32_t>(state.range(0));
  for (auto _ : state) {
    SheetModel sheet;
    for (uint32_t r = 0; r < rows; ++r) {
      for (uint32_t c = 0; c < 10; ++c) {
        sheet.cells.emplace_hint(sheet.cells.end(), CellKey{r, c},
                                 SheetCell{CellValue::number(r * 10.0 + c), std::nullopt, std::nullopt});
      }
    }
    CellRangeIter iter(CellRange{{0, 2}, {rows - 1, 5}}, sheet.cells);
    double sum = 0;
    while (auto item = cell_range_iter_next(iter)) sum += item->cell->value.as_number();
    benchmark::DoNotOptimize(sum);
  }
  state.SetItemsProcessed(state.iterations() * rows * 10);
}
BENCHMARK(BM_FillAndWalkCells)->Arg(100000);
