// A1 parsing and printing, cell-map inserts, range walks and moves, grid hit
// tests, and interning into large style tables.
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

// A row inserted above 10^6 filled cells (arg 0): one pass over the moved
// tail; below all of them (arg 1): no cell moves, one search.
static void BM_InsertRowMillionCells(benchmark::State& state) {
  SheetModel filled;
  for (uint32_t r = 0; r < 100000; ++r) {
    for (uint32_t c = 0; c < 10; ++c) {
      filled.cells.emplace_hint(filled.cells.end(), CellKey{r + 1, c},
                                SheetCell{CellValue::number(r), std::nullopt, std::nullopt});
    }
  }
  const uint32_t at = state.range(0) == 0 ? 0 : 200000;
  SheetModel sheet;
  for (auto _ : state) {
    // The copy, and the freeing of the last one, stay out of the timing.
    state.PauseTiming();
    sheet = filled;
    state.ResumeTiming();
    auto removed = shift_cells_for_structural_op(sheet, StructuralShift{StructuralKind::InsertRows, at, 1});
    benchmark::DoNotOptimize(removed);
  }
}
BENCHMARK(BM_InsertRowMillionCells)->Arg(0)->Arg(1)->Iterations(10)->Unit(benchmark::kMicrosecond);

// Hit tests against 10^6 custom row heights.
static void BM_HitTestMillionRowHeights(benchmark::State& state) {
  SheetModel sheet;
  for (uint32_t r = 0; r < 1000000; ++r) sheet.row_heights.emplace_hint(sheet.row_heights.end(), r, 10.0 + r % 17);
  const GridMetrics metrics = compute_grid_metrics(sheet, StyleSheet{});
  const float bottom = metrics.row_edges.back();
  uint32_t i = 0;
  for (auto _ : state) {
    const float y = static_cast<float>((i++ * 2654435761u) % 1000003) / 1000003.0f * bottom;
    benchmark::DoNotOptimize(hit_test_grid(metrics, 10.0f, y, 300.0f, 400.0f));
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_HitTestMillionRowHeights);

static void BM_ComputeGridMetricsMillionRowHeights(benchmark::State& state) {
  SheetModel sheet;
  for (uint32_t r = 0; r < 1000000; ++r) sheet.row_heights.emplace_hint(sheet.row_heights.end(), r, 10.0 + r % 17);
  for (auto _ : state) benchmark::DoNotOptimize(compute_grid_metrics(sheet, StyleSheet{}));
}
BENCHMARK(BM_ComputeGridMetricsMillionRowHeights)->Unit(benchmark::kMillisecond);

// Interning formats that a table of 20,000 cell formats already holds:
// through the lookup caches against the plain first-equal search.
static StyleSheet large_style_table(std::vector<CellFormat>& formats) {
  StyleSheet styles;
  for (int i = 0; i < 20000; ++i) {
    CellFormat format;
    format.font.name = "Font" + std::to_string(i % 500);
    format.font.size_pt = 8 + i % 40;
    format.font.bold = (i / 40) % 2;
    formats.push_back(format);
    (void)intern_format_builtin_numfmt(styles, format, 0);
  }
  return styles;
}

// Arg 1: through the caches; arg 0: the plain search.
static void BM_InternLargeTable(benchmark::State& state) {
  std::vector<CellFormat> formats;
  StyleSheet styles = large_style_table(formats);
  const bool cached = state.range(0) == 1;
  size_t i = 0;
  for (auto _ : state) {
    const CellFormat& format = formats[(i++ * 7919) % formats.size()];
    auto index = cached ? intern_with_lookup_caches(styles, format, std::nullopt)
                        : intern_with_linear_search(styles, format, std::nullopt);
    benchmark::DoNotOptimize(index);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_InternLargeTable)->Arg(1)->Arg(0);
