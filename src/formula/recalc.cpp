#include "formula/recalc.h"

#include <algorithm>
#include <cstdlib>
#include <deque>

#include "absl/container/btree_map.h"
#include "absl/container/flat_hash_map.h"
#include "formula/cell_eval.h"
#include "formula/recalc_view.h"
#include "model/cell_source.h"

namespace cmx::formula {
namespace {

using model::CellRange;
using KeySet = absl::flat_hash_set<CellKey>;

bool intersects(const CellRange& a, const CellRange& b) {
  return a.start.row <= b.end.row && b.start.row <= a.end.row && a.start.col <= b.end.col &&
         b.start.col <= a.end.col;
}

}  // namespace

// Kahn's ordering over the edges among dirty cells; ties go to the smaller
// key, and the cells one evaluation releases queue together behind the rest.
Ordering order_dirty(const EngineState& state, const KeySet& dirty) {
  // sheet -> row -> sorted columns of dirty cells
  absl::flat_hash_map<uint32_t, absl::btree_map<uint32_t, std::vector<uint32_t>>> index;
  for (const CellKey& k : dirty) index[k.sheet][k.row].push_back(k.col);
  for (auto& [sheet, rows] : index) {
    for (auto& [row, cols] : rows) std::sort(cols.begin(), cols.end());
  }
  absl::flat_hash_map<CellKey, uint32_t> in_degree;
  in_degree.reserve(dirty.size());
  for (const CellKey& k : dirty) in_degree[k] = 0;
  absl::flat_hash_set<std::pair<CellKey, CellKey>> edges;
  absl::flat_hash_map<CellKey, std::vector<CellKey>> successors;
  auto add_edge = [&](const CellKey& p, const CellKey& d) {
    if (!edges.insert({p, d}).second) return;
    successors[p].push_back(d);
    auto it = in_degree.find(d);
    if (it == in_degree.end()) std::abort();  // every dependent counted is dirty
    ++it->second;
  };
  // The edges are found from the dependents' side: each dirty formula's own
  // references against the dirty cells, which is what scanning every
  // reference into the sheets would find.
  ReferenceList refs;
  for (const CellKey& d : dirty) {
    std::optional<FormulaEntry> entry = find_formula(state, d);
    if (!entry) continue;
    formula_references(state, d, *entry, refs);
    for (const ReferencedRange& ref : refs) {
      const CellRange& r = ref.range;
      auto sheet_index = index.find(ref.sheet);
      if (sheet_index != index.end()) {
        const auto& rows = sheet_index->second;
        for (auto it = rows.lower_bound(r.start.row); it != rows.end() && it->first <= r.end.row; ++it) {
          const auto& cols = it->second;
          for (auto c = std::lower_bound(cols.begin(), cols.end(), r.start.col);
               c != cols.end() && *c <= r.end.col; ++c) {
            add_edge(CellKey{ref.sheet, it->first, *c}, d);
          }
        }
      }
      auto anchors = state.array_ranges_by_sheet.find(ref.sheet);
      if (anchors == state.array_ranges_by_sheet.end()) continue;
      for (const ArrayAnchor& a : anchors->second) {
        if (a.anchor == d || !dirty.contains(a.anchor)) continue;
        CellRange area = a.range;
        area.start.row = std::min(a.range.start.row, a.range.end.row);
        area.end.row = std::max(a.range.start.row, a.range.end.row);
        area.start.col = std::min(a.range.start.col, a.range.end.col);
        area.end.col = std::max(a.range.start.col, a.range.end.col);
        if (intersects(area, r)) add_edge(a.anchor, d);
      }
    }
  }
  std::vector<CellKey> ready;
  for (const auto& [k, degree] : in_degree) {
    if (degree == 0) ready.push_back(k);
  }
  std::sort(ready.begin(), ready.end());
  std::deque<CellKey> queue(ready.begin(), ready.end());
  Ordering out;
  out.order.reserve(dirty.size());
  std::vector<CellKey> released;
  while (!queue.empty()) {
    CellKey k = queue.front();
    queue.pop_front();
    out.order.push_back(k);
    auto succ = successors.find(k);
    if (succ == successors.end()) continue;
    released.clear();
    for (const CellKey& d : succ->second) {
      if (--in_degree[d] == 0) released.push_back(d);
    }
    std::sort(released.begin(), released.end());
    queue.insert(queue.end(), released.begin(), released.end());
  }
  if (out.order.size() != dirty.size()) {
    KeySet placed(out.order.begin(), out.order.end());
    for (const CellKey& k : dirty) {
      if (!placed.contains(k)) out.pending.push_back(k);
    }
    std::sort(out.pending.begin(), out.pending.end());
  }
  return out;
}

namespace {

void handle_outcome(model::WorkbookModel& model, const CellKey& k, EvalOutcome outcome,
                    EvalBudget* budget, RecalcLists& lists) {
  if (outcome.limited) lists.limited.push_back(address_of(k));
  switch (outcome.kind) {
    case EvalOutcome::Kind::Keep:
      return;
    case EvalOutcome::Kind::Scalar:
      if (store_cell_value(model.sheets, k, std::move(outcome.value))) {
        lists.changed.push_back(address_of(k));
      }
      return;
    case EvalOutcome::Kind::LimitedArray:
      apply_limited_anchor(model.sheets, k, lists);
      return;
    case EvalOutcome::Kind::Spill:
      apply_spill(model, k, std::move(outcome.spill), outcome.limited, budget, lists);
      return;
  }
}

// Repeated passes over the pending cells; what stays unresolved is returned
// in pending order.
std::vector<CellKey> resolve_pending(model::WorkbookModel& model, const EngineState& state,
                                     const std::vector<CellKey>& pending, std::optional<double> now,
                                     const std::shared_ptr<EvalBudget>& budget, RecalcLists& lists) {
  if (pending.empty()) return {};
  if (pending.size() > kMaxPendingCells) return pending;
  KeySet open(pending.begin(), pending.end());
  for (size_t pass = 1;; ++pass) {
    bool progress = false;
    for (const CellKey& k : pending) {
      if (!open.contains(k)) continue;
      RecalcView view(model, open);
      EvalOutcome outcome = evaluate_formula_cell(view, model, k, now, budget, state);
      if (view.read_pending()) continue;
      if (outcome.kind != EvalOutcome::Kind::Keep && outcome.kind != EvalOutcome::Kind::Scalar) continue;
      open.erase(k);
      progress = true;
      if (outcome.limited) lists.limited.push_back(address_of(k));
      if (outcome.kind == EvalOutcome::Kind::Scalar &&
          store_cell_value(model.sheets, k, std::move(outcome.value))) {
        lists.changed.push_back(address_of(k));
      }
    }
    if (!progress || pass >= pending.size()) break;
  }
  std::vector<CellKey> unresolved;
  for (const CellKey& k : pending) {
    if (open.contains(k)) unresolved.push_back(k);
  }
  return unresolved;
}

bool has_array_entry(const model::WorkbookModel& model, const CellKey& k) {
  return k.sheet < model.sheets.size() &&
         model.sheets[k.sheet].array_ranges.contains(model::CellKey{k.row, k.col});
}

// The closure of `start` over dependents_of, with explicit stacks.
void close_over_dependents(const EngineState& state, std::vector<CellKey> stack, KeySet& out) {
  KeySet visited;
  while (!stack.empty()) {
    CellKey k = stack.back();
    stack.pop_back();
    if (!visited.insert(k).second) continue;
    dependents_of(state, k, [&](const CellKey& d) {
      if (out.insert(d).second) stack.push_back(d);
    });
  }
}

}  // namespace

RecalcResult run_recalculation(model::WorkbookModel& model, const EngineState& state,
                               KeySet dirty, std::optional<double> now) {
  auto budget = std::make_shared<EvalBudget>();
  RecalcLists lists;
  std::vector<model::CellAddress> cycles;
  model::ModelCellSource source(model);
  for (int wave = 1; !dirty.empty(); ++wave) {
    lists.spill_changed.clear();
    Ordering ordering = order_dirty(state, dirty);
    for (const CellKey& k : ordering.order) {
      handle_outcome(model, k, evaluate_formula_cell(source, model, k, now, budget, state),
                     budget.get(), lists);
    }
    for (const CellKey& k : resolve_pending(model, state, ordering.pending, now, budget, lists)) {
      model::CellValue value = has_array_entry(model, k) ? model::CellValue::text("")
                                                         : model::CellValue::number(0);
      if (store_cell_value(model.sheets, k, std::move(value))) lists.changed.push_back(address_of(k));
      cycles.push_back(address_of(k));
    }
    if (lists.spill_changed.empty() || wave >= kMaxRecalcWaves) break;
    std::vector<CellKey> stack;
    stack.reserve(lists.spill_changed.size());
    for (const auto& a : lists.spill_changed) stack.push_back(CellKey{a.sheet, a.cell.row, a.cell.col});
    KeySet next;
    close_over_dependents(state, std::move(stack), next);
    dirty = std::move(next);
  }
  std::sort(lists.changed.begin(), lists.changed.end(), model::address_less);
  lists.changed.erase(std::unique(lists.changed.begin(), lists.changed.end(),
                                  [](const model::CellAddress& a, const model::CellAddress& b) {
                                    return !model::address_less(a, b) && !model::address_less(b, a);
                                  }),
                      lists.changed.end());
  return RecalcResult{std::move(lists.changed), std::move(cycles), std::move(lists.limited)};
}

RecalcResult recalculate_after_edit(model::WorkbookModel& model, EngineState& state,
                                    const std::vector<model::CellAddress>& edited,
                                    std::optional<double> now) {
  KeySet dirty;
  std::vector<CellKey> stack;
  for (const auto& a : edited) {
    CellKey k{a.sheet, a.cell.row, a.cell.col};
    stack.push_back(k);
    if (state.formulas.contains(k)) dirty.insert(k);
  }
  for (const CellKey& k : state.volatile_cells) {
    dirty.insert(k);
    stack.push_back(k);
  }
  close_over_dependents(state, std::move(stack), dirty);
  RecalcResult result = run_recalculation(model, state, std::move(dirty), now);
  rebuild_array_range_index(state, model.sheets);
  return result;
}

std::pair<std::unique_ptr<EngineState>, RecalcResult> recalculate_all(model::WorkbookModel& model,
                                                                     std::optional<double> now) {
  auto state = rebuild_graph(model);
  KeySet dirty;
  dirty.reserve(state->formulas.size());
  for (const auto& [k, entry] : state->formulas) dirty.insert(k);
  RecalcResult result = run_recalculation(model, *state, std::move(dirty), now);
  rebuild_array_range_index(*state, model.sheets);
  return {std::move(state), std::move(result)};
}

}  // namespace cmx::formula
