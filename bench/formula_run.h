// One formula evaluated per benchmark iteration against a workbook, with the
// per-formula cell and byte budgets lifted (a million rows read more cells
// than one formula may by default); its last result goes out as a counter
// so that the peer scripts can compare values.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>

#include "formula/eval_context.h"
#include "formula/evaluator.h"
#include "formula/parser.h"
#include "model/cell_source.h"

namespace cmx::bench {

inline void run_formula(benchmark::State& state, const model::CellSource& source,
                        const char* text, uint64_t items_per_run) {
  formula::ExprPtr tree = formula::parse_formula(text).value();
  model::CellValue last;
  for (auto _ : state) {
    formula::EvalContext ctx =
        formula::new_context(source, 0, model::CellRef{0, 5, false, false}, 45000.0, nullptr,
                             nullptr, model::DateSystem::V1900);
    ctx.shared->cells_left = UINT64_MAX;
    ctx.shared->bytes_left = UINT64_MAX;
    last = formula::eval_scalar(*tree, ctx);
    benchmark::DoNotOptimize(last);
  }
  if (!last.is_number()) state.SkipWithError("the formula did not give a number");
  state.counters["result"] = last.is_number() ? last.as_number() : 0;
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * items_per_run));
}

}  // namespace cmx::bench
