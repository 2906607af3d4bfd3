// EvalContext: the state of one formula cell's evaluation (where it stands,
// what it reads through, its budgets and counters, the name and binding
// stacks) and EvalBudget, the budget one recalculation shares across cells.
// Read evaluator.h next.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "formula/eval_result.h"
#include "formula/expr.h"
#include "model/cell_source.h"

namespace cmx::formula {

class ParseCache;

inline constexpr uint64_t kFormulaCellBudget = 1'100'000;
inline constexpr uint64_t kFormulaByteBudget = 67'108'864;
inline constexpr uint64_t kRecalcCellBudget = 10'000'000;
inline constexpr uint64_t kRecalcByteBudget = 536'870'912;
// Texts hold fewer characters than this.
inline constexpr size_t kMaxTextChars = 32'768;
inline constexpr size_t kMaxNameDepth = 256;
inline constexpr size_t kMaxScopeBindings = 1'024;
inline constexpr uint64_t kMaxLambdaDepth = 64;
// Nested evaluator calls. Trees are at most 100 high, but defined names
// stack one tree on another 256 deep; this keeps that product off the
// thread's stack limit.
inline constexpr uint32_t kMaxEvalDepth = 4'096;

// The budget of one recalculation, shared by every cell it evaluates.
struct EvalBudget {
  uint64_t cells = kRecalcCellBudget;
  uint64_t bytes = kRecalcByteBudget;
};

// A defined name as looked up from one sheet: the name lower-cased.
struct NameKey {
  uint32_t sheet = 0;
  std::string name;
  friend auto operator<=>(const NameKey&, const NameKey&) = default;
};

struct NameValue {
  model::CellValue value;
  bool met_unknown_call = false;
};

// One live LET or lambda-parameter binding.
struct ScopeBinding {
  std::string name;  // as written where it was bound
  std::shared_ptr<const EvalResult> value;
  ExprPtr reference;  // the bound expression when it was a reference
};

// Everything the contexts of one formula cell share with each other.
struct EvalShared {
  uint64_t cells_left = kFormulaCellBudget;
  uint64_t bytes_left = kFormulaByteBudget;
  bool limited = false;
  uint64_t limit_hits = 0;     // saturating
  uint64_t unknown_calls = 0;  // saturating
  std::optional<uint64_t> random_state;
  std::vector<NameKey> name_stack;              // outermost first
  std::map<NameKey, NameValue> name_values;     // values already computed in this formula
  std::vector<ScopeBinding> scopes;             // innermost last
  uint64_t lambda_depth = 0;
  uint32_t eval_depth = 0;  // nested eval_scalar and eval_reference calls
};

struct EvalContext {
  std::optional<double> now_serial;  // 1900-system serial of "now"
  std::optional<uint64_t> random_seed;
  const model::CellSource* source = nullptr;  // borrowed
  std::shared_ptr<EvalShared> shared = std::make_shared<EvalShared>();
  std::shared_ptr<EvalBudget> shared_budget;  // absent: unbounded
  const ParseCache* parse_cache = nullptr;    // borrowed; absent parses directly
  std::optional<model::CellRef> current_cell;
  uint32_t sheet = 0;
  model::DateSystem date_system = model::DateSystem::V1900;
  // How far the cell stands from the one its shared tree was parsed at:
  // the tree's relative references move by it.
  int32_t shift_rows = 0;
  int32_t shift_cols = 0;
};

// A fresh context for the formula at (sheet, cell), reading through `source`.
EvalContext new_context(const model::CellSource& source, uint32_t sheet,
                        std::optional<model::CellRef> cell, std::optional<double> now_serial,
                        std::shared_ptr<EvalBudget> budget, const ParseCache* parse_cache,
                        model::DateSystem date_system);

// The same context standing on another sheet, for a tree of its own (no
// shift); every shared part is shared.
EvalContext clone_for_sheet(const EvalContext& ctx, uint32_t sheet);

// Budget tests, made before the work they pay for. A refused charge
// subtracts nothing, marks the context limited and returns false; the
// caller's result is then "#NUM!".
[[nodiscard]] bool charge_cells(EvalContext& ctx, uint64_t n);
[[nodiscard]] bool charge_bytes(EvalContext& ctx, uint64_t n);
void mark_limited(EvalContext& ctx);
void count_unknown_call(EvalContext& ctx);

// The next draw of the formula's random sequence, in [0, 1).
double random_draw(EvalContext& ctx);

// Saturating increment of a counter.
inline void bump(uint64_t& counter) {
  if (counter != UINT64_MAX) ++counter;
}

}  // namespace cmx::formula
