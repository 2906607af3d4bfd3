// Lookups: exact VLOOKUP, XLOOKUP and MATCH over 10^5 rows (10^3 lookups per
// iteration), approximate VLOOKUP and MATCH over 10^6 sorted rows, and the
// reference forms feeding SUM. bench/function_peer.py runs the same lookups
// with the formulas package; items are lookups.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "formula/eval_context.h"
#include "formula/evaluator.h"
#include "formula/parser.h"
#include "model/cell_source.h"
#include "model/sheet_cells.h"

using namespace cmx;
using namespace cmx::formula;

namespace {

constexpr uint32_t kExactRows = 100'000;
constexpr uint32_t kSortedRows = 1'000'000;
constexpr int kLookups = 1'000;

// Sheet1: A holds 3 × row, B the text "r" and the row, for 10^5 rows.
// Sorted: A holds 2 × row for 10^6 rows.
struct LookupBook {
  model::WorkbookModel model;
  model::ModelCellSource source{model};
  LookupBook() {
    for (const char* name : {"Sheet1", "Sorted"}) {
      model.sheets.emplace_back();
      model.sheets.back().name = name;
    }
    for (uint32_t row = 0; row < kExactRows; ++row) {
      model::set_sheet_cell(model.sheets[0], row, 0,
                            model::SheetCell{model::CellValue::number(3.0 * row), {}, {}});
      model::set_sheet_cell(
          model.sheets[0], row, 1,
          model::SheetCell{model::CellValue::text("r" + std::to_string(row)), {}, {}});
    }
    for (uint32_t row = 0; row < kSortedRows; ++row) {
      model::set_sheet_cell(model.sheets[1], row, 0,
                            model::SheetCell{model::CellValue::number(2.0 * row), {}, {}});
    }
  }
};

LookupBook& book() {
  static LookupBook b;
  return b;
}

// The i-th key: spread over the rows by a stride prime to their count.
uint64_t spread(int i, uint64_t rows) { return (uint64_t(i) * 611953) % rows; }

// `count` formulas made by `make` from the lookup number, each evaluated
// once per iteration in its own context.
template <typename Make>
void run_lookups(benchmark::State& state, int count, Make make) {
  LookupBook& b = book();
  std::vector<ExprPtr> trees;
  for (int i = 0; i < count; ++i) trees.push_back(parse_formula(make(i)).value());
  for (auto _ : state) {
    for (const ExprPtr& tree : trees) {
      EvalContext ctx = new_context(b.source, 0, model::CellRef{0, 5, false, false}, 45000.0,
                                    nullptr, nullptr, model::DateSystem::V1900);
      benchmark::DoNotOptimize(eval_scalar(*tree, ctx));
    }
  }
  state.SetItemsProcessed(state.iterations() * count);
}

std::string exact_key(int i) { return std::to_string(3 * spread(i, kExactRows)); }
std::string sorted_key(int i) { return std::to_string(2 * spread(i, kSortedRows) + 1); }

void BM_VlookupExact(benchmark::State& state) {
  run_lookups(state, kLookups,
              [](int i) { return "VLOOKUP(" + exact_key(i) + ",A1:B100000,2,FALSE)"; });
}
BENCHMARK(BM_VlookupExact)->Unit(benchmark::kMillisecond);

void BM_XlookupExact(benchmark::State& state) {
  run_lookups(state, kLookups,
              [](int i) { return "XLOOKUP(" + exact_key(i) + ",A1:A100000,B1:B100000)"; });
}
BENCHMARK(BM_XlookupExact)->Unit(benchmark::kMillisecond);

void BM_MatchExact(benchmark::State& state) {
  run_lookups(state, kLookups,
              [](int i) { return "MATCH(" + exact_key(i) + ",A1:A100000,0)"; });
}
BENCHMARK(BM_MatchExact)->Unit(benchmark::kMillisecond);

void BM_VlookupApproximate(benchmark::State& state) {
  run_lookups(state, kLookups,
              [](int i) { return "VLOOKUP(" + sorted_key(i) + ",Sorted!A1:A1000000,1)"; });
}
BENCHMARK(BM_VlookupApproximate)->Unit(benchmark::kMillisecond);

// Approximate MATCH walks the list: ten lookups per iteration.
void BM_MatchApproximate(benchmark::State& state) {
  run_lookups(state, 10,
              [](int i) { return "MATCH(" + sorted_key(i) + ",Sorted!A1:A1000000,1)"; });
}
BENCHMARK(BM_MatchApproximate)->Unit(benchmark::kMillisecond);

void BM_SumToIndex(benchmark::State& state) {
  run_lookups(state, kLookups, [](int i) {
    return "SUM(A1:INDEX(A:A," + std::to_string(1 + spread(i, 1000)) + "))";
  });
}
BENCHMARK(BM_SumToIndex)->Unit(benchmark::kMillisecond);

}  // namespace
