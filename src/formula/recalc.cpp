#include "formula/recalc.h"

#include <algorithm>
#include <cstdlib>

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
// Cells are numbered by their rank among the sorted dirty keys.
Ordering order_dirty(const EngineState& state, const KeySet& dirty) {
  std::vector<CellKey> keys(dirty.begin(), dirty.end());
  std::sort(keys.begin(), keys.end());
  auto rank = [&](auto from, const CellKey& k) { return std::lower_bound(from, keys.cend(), k); };
  std::vector<std::pair<uint32_t, uint32_t>> edges;  // (precedent, dependent)
  // The edges are found from the dependents' side: each dirty formula's own
  // references against the dirty cells, which is what scanning every
  // reference into the sheets would find.
  ReferenceList refs;
  std::vector<FormulaEntry> entries(keys.size());
  for (uint32_t di = 0; di < keys.size(); ++di) {
    const CellKey& d = keys[di];
    std::optional<FormulaEntry> entry = find_formula(state, d);
    if (!entry) continue;
    entries[di] = *entry;
    formula_references(state, d, *entry, refs);
    for (const ReferencedRange& ref : refs) {
      const CellRange& r = ref.range;
      auto it = rank(keys.cbegin(), CellKey{ref.sheet, r.start.row, r.start.col});
      while (it != keys.cend() && it->sheet == ref.sheet && it->row <= r.end.row) {
        if (it->col < r.start.col) {
          it = rank(it, CellKey{ref.sheet, it->row, r.start.col});
        } else if (it->col > r.end.col) {
          it = rank(it, CellKey{ref.sheet, it->row + 1, r.start.col});
        } else {
          edges.emplace_back(static_cast<uint32_t>(it - keys.cbegin()), di);
          ++it;
        }
      }
      auto anchors = state.array_ranges_by_sheet.find(ref.sheet);
      if (anchors == state.array_ranges_by_sheet.end()) continue;
      for (const ArrayAnchor& a : anchors->second) {
        if (a.anchor == d) continue;
        auto at = rank(keys.cbegin(), a.anchor);
        if (at == keys.cend() || !(*at == a.anchor)) continue;
        CellRange area = a.range;
        area.start.row = std::min(a.range.start.row, a.range.end.row);
        area.end.row = std::max(a.range.start.row, a.range.end.row);
        area.start.col = std::min(a.range.start.col, a.range.end.col);
        area.end.col = std::max(a.range.start.col, a.range.end.col);
        if (intersects(area, r)) edges.emplace_back(static_cast<uint32_t>(at - keys.cbegin()), di);
      }
    }
  }
  std::sort(edges.begin(), edges.end());
  edges.erase(std::unique(edges.begin(), edges.end()), edges.end());
  std::vector<uint32_t> first_edge(keys.size() + 1, 0);
  std::vector<uint32_t> in_degree(keys.size(), 0);
  for (const auto& [p, d] : edges) {
    ++first_edge[p + 1];
    ++in_degree[d];
  }
  for (size_t i = 0; i < keys.size(); ++i) first_edge[i + 1] += first_edge[i];
  std::vector<uint32_t> queue;
  queue.reserve(keys.size());
  for (uint32_t i = 0; i < keys.size(); ++i) {
    if (in_degree[i] == 0) queue.push_back(i);
  }
  Ordering out;
  out.order.reserve(keys.size());
  out.entries.reserve(keys.size());
  for (size_t head = 0; head < queue.size(); ++head) {
    uint32_t k = queue[head];
    out.order.push_back(keys[k]);
    out.entries.push_back(entries[k]);
    size_t released = queue.size();
    for (uint32_t e = first_edge[k]; e < first_edge[k + 1]; ++e) {
      uint32_t d = edges[e].second;
      if (--in_degree[d] == 0) queue.push_back(d);
    }
    std::sort(queue.begin() + static_cast<std::ptrdiff_t>(released), queue.end());
  }
  if (out.order.size() != keys.size()) {
    for (uint32_t i = 0; i < keys.size(); ++i) {
      if (in_degree[i] != 0) out.pending.push_back(keys[i]);
    }
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
// A cell is explored when it enters `out`, so each at most once beyond the
// starting ones.
void close_over_dependents(const EngineState& state, std::vector<CellKey> stack, KeySet& out) {
  while (!stack.empty()) {
    CellKey k = stack.back();
    stack.pop_back();
    dependents_of(state, k, [&](const CellKey& d) {
      if (out.insert(d).second) stack.push_back(d);
    });
  }
}

}  // namespace

namespace {

RecalcResult run_waves(model::WorkbookModel& model, const EngineState& state, KeySet dirty,
                       std::optional<double> now,
                       std::vector<std::pair<CellKey, std::optional<CellRange>>>* blocked) {
  auto budget = std::make_shared<EvalBudget>();
  RecalcLists lists;
  std::vector<model::CellAddress> cycles;
  model::ModelCellSource source(model);
  for (int wave = 1; !dirty.empty(); ++wave) {
    lists.spill_changed.clear();
    Ordering ordering = order_dirty(state, dirty);
    for (size_t i = 0; i < ordering.order.size(); ++i) {
      const CellKey& k = ordering.order[i];
      handle_outcome(model, k,
                     evaluate_formula_cell(source, model, k, ordering.entries[i], now, budget, state),
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
  if (blocked != nullptr) *blocked = std::move(lists.blocked_spills);
  return RecalcResult{std::move(lists.changed), std::move(cycles), std::move(lists.limited)};
}

// A run that also keeps the areas its blocked spills meant to fill.
RecalcResult run_and_note(model::WorkbookModel& model, EngineState& state, KeySet dirty,
                          std::optional<double> now) {
  std::vector<std::pair<CellKey, std::optional<CellRange>>> blocked;
  RecalcResult result = run_waves(model, state, std::move(dirty), now, &blocked);
  for (const auto& [anchor, area] : blocked) {
    if (state.formulas.contains(anchor)) set_spill_area(state, anchor, area);
  }
  rebuild_array_range_index(state, model.sheets);
  return result;
}

}  // namespace

RecalcResult run_recalculation(model::WorkbookModel& model, const EngineState& state,
                               KeySet dirty, std::optional<double> now) {
  return run_waves(model, state, std::move(dirty), now, nullptr);
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
    // Clearing or changing what blocked a spill may let it spill.
    spill_anchors_over(state, k, [&](const CellKey& anchor) {
      if (dirty.insert(anchor).second) stack.push_back(anchor);
    });
  }
  for (const CellKey& k : state.volatile_cells) {
    dirty.insert(k);
    stack.push_back(k);
  }
  close_over_dependents(state, std::move(stack), dirty);
  return run_and_note(model, state, std::move(dirty), now);
}

std::pair<std::unique_ptr<EngineState>, RecalcResult> recalculate_all(model::WorkbookModel& model,
                                                                     std::optional<double> now) {
  auto state = rebuild_graph(model);
  KeySet dirty;
  dirty.reserve(state->formulas.size());
  for (const auto& [k, entry] : state->formulas) dirty.insert(k);
  RecalcResult result = run_and_note(model, *state, std::move(dirty), now);
  return {std::move(state), std::move(result)};
}

}  // namespace cmx::formula
