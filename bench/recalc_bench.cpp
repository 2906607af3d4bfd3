// Dependency graph and recalculation: building the graph of long chains,
// the recalculation after editing a chain's head or one leaf among many
// independent formulas, and SUM over a whole column.
#include <benchmark/benchmark.h>
#include <malloc.h>

#include <string>

#include "formula/engine_state.h"
#include "formula/recalc.h"
#include "model/cell_source.h"
#include "model/sheet_cells.h"

using namespace cmx;
using namespace cmx::formula;

namespace {

model::WorkbookModel one_sheet() {
  model::WorkbookModel model;
  model.sheets.emplace_back();
  model.sheets.back().name = "Sheet1";
  return model;
}

void put(model::WorkbookModel& model, uint32_t row, uint32_t col, model::CellValue value,
         std::optional<std::string> formula = std::nullopt) {
  model::SheetCell cell{std::move(value), {}, {}};
  if (formula) cell.formula = SharedString(*formula);
  model::set_sheet_cell(model.sheets[0], row, col, std::move(cell));
}

// A1 holds 1; every cell below it adds 1 to the one above.
model::WorkbookModel chain(uint32_t length) {
  auto model = one_sheet();
  put(model, 0, 0, model::CellValue::number(1));
  for (uint32_t i = 1; i < length; ++i) {
    put(model, i, 0, {}, "A" + std::to_string(i) + "+1");
  }
  return model;
}

// Column A holds numbers, column B doubles the cell beside it.
model::WorkbookModel leaves(uint32_t count) {
  auto model = one_sheet();
  for (uint32_t i = 0; i < count; ++i) {
    put(model, i, 0, model::CellValue::number(i));
    put(model, i, 1, {}, "A" + std::to_string(i + 1) + "*2");
  }
  return model;
}

size_t heap_in_use() {
  struct mallinfo2 m = mallinfo2();
  return m.uordblks + m.hblkhd;
}

// Also reports the heap the graph holds per formula.
void rebuild(benchmark::State& state, const model::WorkbookModel& model) {
  size_t held = 0;
  for (auto _ : state) {
    size_t before = heap_in_use();
    auto graph = rebuild_graph(model);
    held = heap_in_use() - before;
    benchmark::DoNotOptimize(graph);
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
  state.counters["bytes_per_formula"] = static_cast<double>(held) / static_cast<double>(state.range(0));
}

void BM_RebuildGraph(benchmark::State& state) {
  rebuild(state, chain(static_cast<uint32_t>(state.range(0))));
}
BENCHMARK(BM_RebuildGraph)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

void BM_RebuildGraphIndependent(benchmark::State& state) {
  rebuild(state, leaves(static_cast<uint32_t>(state.range(0))));
}
BENCHMARK(BM_RebuildGraphIndependent)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

// Graph and a full recalculation of a fresh model, built outside the timing,
// which must change `expected` cells.
template <typename Make>
void recalculate_fresh(benchmark::State& state, const Make& make, size_t expected) {
  for (auto _ : state) {
    state.PauseTiming();
    auto model = make();
    state.ResumeTiming();
    auto [graph, result] = recalculate_all(model, std::nullopt);
    if (result.changed.size() != expected) state.SkipWithError("unexpected change count");
    state.PauseTiming();
    graph.reset();
    model = {};
    state.ResumeTiming();
  }
  state.SetItemsProcessed(state.iterations() * state.range(0));
}

// A chain whose cached values are empty.
void BM_RecalculateAllChain(benchmark::State& state) {
  auto length = static_cast<uint32_t>(state.range(0));
  recalculate_fresh(state, [&] { return chain(length); }, length - 1);
}
BENCHMARK(BM_RecalculateAllChain)->Arg(100'000)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

// Independent formulas, each reading a constant.
void BM_RecalculateAllIndependent(benchmark::State& state) {
  auto count = static_cast<uint32_t>(state.range(0));
  recalculate_fresh(state, [&] { return leaves(count); }, count);
}
BENCHMARK(BM_RecalculateAllIndependent)->Arg(1'000'000)->Unit(benchmark::kMillisecond);

void edit_and_recalc(benchmark::State& state, model::WorkbookModel& model, EngineState& graph,
                     size_t expect_changed) {
  double v = 1;
  for (auto _ : state) {
    v += 1;
    put(model, 0, 0, model::CellValue::number(v));
    auto result = recalculate_after_edit(model, graph, {model::CellAddress{0, {0, 0}}}, std::nullopt);
    if (result.changed.size() != expect_changed) state.SkipWithError("unexpected change count");
  }
}

void BM_EditChainHead(benchmark::State& state) {
  auto length = static_cast<uint32_t>(state.range(0));
  auto model = chain(length);
  auto [graph, first] = recalculate_all(model, std::nullopt);
  edit_and_recalc(state, model, *graph, length - 1);
  state.SetItemsProcessed(state.iterations() * (length - 1));
}
BENCHMARK(BM_EditChainHead)->Arg(100'000)->Unit(benchmark::kMillisecond);

// The cost must not grow with the number of independent formulas.
void BM_EditOneLeaf(benchmark::State& state) {
  auto model = leaves(static_cast<uint32_t>(state.range(0)));
  auto [graph, first] = recalculate_all(model, std::nullopt);
  edit_and_recalc(state, model, *graph, 1);
}
BENCHMARK(BM_EditOneLeaf)->Arg(1'000)->Arg(100'000)->Unit(benchmark::kMicrosecond);

// B1 = SUM(A:A) over 10^5 numbers, recalculated after an edit of A1.
void BM_SumWholeColumn(benchmark::State& state) {
  auto model = one_sheet();
  for (uint32_t i = 0; i < 100'000; ++i) put(model, i, 0, model::CellValue::number(i));
  put(model, 0, 1, {}, std::string("SUM(A:A)"));
  auto [graph, first] = recalculate_all(model, std::nullopt);
  edit_and_recalc(state, model, *graph, 1);
}
BENCHMARK(BM_SumWholeColumn)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
