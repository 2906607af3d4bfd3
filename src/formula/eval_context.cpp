// Budgets, counters and the random generator of an evaluation context.
#include "formula/eval_context.h"

#include <atomic>

namespace cmx::formula {
namespace {

// Successive formulas start their random sequences from different states.
std::atomic<uint64_t> g_random_counter{0};
constexpr uint64_t kCounterStep = 0x2545F4914F6CDD1DULL;

bool charge(EvalContext& ctx, uint64_t& own_left, uint64_t EvalBudget::*shared_left, uint64_t n) {
  if (own_left < n) {
    mark_limited(ctx);
    return false;
  }
  if (ctx.shared_budget && (*ctx.shared_budget).*shared_left < n) {
    mark_limited(ctx);
    return false;
  }
  if (ctx.shared_budget) (*ctx.shared_budget).*shared_left -= n;
  own_left -= n;
  return true;
}

}  // namespace

EvalContext new_context(const model::CellSource& source, uint32_t sheet,
                        std::optional<model::CellRef> cell, std::optional<double> now_serial,
                        std::shared_ptr<EvalBudget> budget, const ParseCache* parse_cache,
                        model::DateSystem date_system) {
  EvalContext ctx;
  ctx.now_serial = now_serial;
  ctx.source = &source;
  ctx.shared_budget = std::move(budget);
  ctx.parse_cache = parse_cache;
  if (cell) ctx.current_cell = model::CellRef{cell->row, cell->col, false, false};
  ctx.sheet = sheet;
  ctx.date_system = date_system;
  return ctx;
}

EvalContext clone_for_sheet(const EvalContext& ctx, uint32_t sheet) {
  EvalContext clone = ctx;  // shared_ptr members share, plain ones copy
  clone.sheet = sheet;
  clone.shift_rows = 0;
  clone.shift_cols = 0;
  return clone;
}

bool charge_cells(EvalContext& ctx, uint64_t n) {
  return charge(ctx, ctx.shared->cells_left, &EvalBudget::cells, n);
}

bool charge_bytes(EvalContext& ctx, uint64_t n) {
  return charge(ctx, ctx.shared->bytes_left, &EvalBudget::bytes, n);
}

void mark_limited(EvalContext& ctx) {
  ctx.shared->limited = true;
  bump(ctx.shared->limit_hits);
}

void count_unknown_call(EvalContext& ctx) { bump(ctx.shared->unknown_calls); }

double random_draw(EvalContext& ctx) {
  uint64_t state = 0;
  if (ctx.shared->random_state) {
    state = *ctx.shared->random_state;
  } else if (ctx.random_seed) {
    state = *ctx.random_seed;
  } else {
    state = g_random_counter.fetch_add(kCounterStep, std::memory_order_relaxed);
  }
  state += 0x9E3779B97F4A7C15ULL;
  ctx.shared->random_state = state;
  uint64_t z = state;
  z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ULL;
  z = (z ^ (z >> 27)) * 0x94D049BB133111EBULL;
  z = z ^ (z >> 31);
  return static_cast<double>(z >> 11) * 0x1.0p-53;
}

}  // namespace cmx::formula
