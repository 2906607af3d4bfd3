#include "formula/recalc.h"

#include <algorithm>
#include <array>
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

namespace {

// The position of the first key not below `k`, searched outward from `hint`:
// references mostly point near the formula that holds them.
size_t rank_near(const std::vector<CellKey>& keys, size_t hint, const CellKey& k) {
  size_t lo = 0;
  size_t hi = keys.size();
  if (hint < keys.size()) {
    size_t step = 1;
    if (keys[hint] < k) {
      lo = hint + 1;
      while (lo + step < hi && keys[lo + step - 1] < k) {
        lo += step;
        step *= 2;
      }
      hi = std::min(hi, lo + step);
    } else {
      hi = hint;
      while (hi > step && !(keys[hi - step] < k)) {
        hi -= step;
        step *= 2;
      }
      lo = hi > step ? hi - step : 0;
    }
  }
  return static_cast<size_t>(std::lower_bound(keys.begin() + static_cast<std::ptrdiff_t>(lo),
                                              keys.begin() + static_cast<std::ptrdiff_t>(hi), k) -
                             keys.begin());
}

}  // namespace

// Kahn's ordering over the edges among dirty cells; ties go to the smaller
// key, and the cells one evaluation releases queue together behind the rest.
// Cells are numbered by their rank among the sorted dirty keys.
Ordering order_sorted(const EngineState& state, const std::vector<CellKey>& keys,
                      std::vector<FormulaEntry> entries) {
  const size_t n = keys.size();
  bool find_entries = entries.empty();
  if (find_entries) entries.resize(n);
  std::vector<std::pair<uint32_t, uint32_t>> edges;  // (precedent, dependent)
  edges.reserve(n);
  // The edges are found from the dependents' side: each dirty formula's own
  // references against the dirty cells, which is what scanning every
  // reference into the sheets would find.
  ReferenceList refs;
  for (uint32_t di = 0; di < n; ++di) {
    const CellKey& d = keys[di];
    if (find_entries) {
      std::optional<FormulaEntry> entry = find_formula(state, d);
      if (entry) entries[di] = *entry;
    }
    if (entries[di].shape == nullptr) continue;
    formula_references(state, d, entries[di], refs);
    for (const ReferencedRange& ref : refs) {
      const CellRange& r = ref.range;
      size_t at = rank_near(keys, di, CellKey{ref.sheet, r.start.row, r.start.col});
      while (at < n && keys[at].sheet == ref.sheet && keys[at].row <= r.end.row) {
        const CellKey& it = keys[at];
        if (it.col < r.start.col) {
          at = rank_near(keys, at, CellKey{ref.sheet, it.row, r.start.col});
        } else if (it.col > r.end.col) {
          at = rank_near(keys, at, CellKey{ref.sheet, it.row + 1, r.start.col});
        } else {
          edges.emplace_back(static_cast<uint32_t>(at), di);
          ++at;
        }
      }
      auto anchors = state.array_ranges_by_sheet.find(ref.sheet);
      if (anchors == state.array_ranges_by_sheet.end()) continue;
      for (const ArrayAnchor& a : anchors->second) {
        if (a.anchor == d) continue;
        auto found = std::lower_bound(keys.begin(), keys.end(), a.anchor);
        if (found == keys.end() || !(*found == a.anchor)) continue;
        CellRange area = a.range;
        area.start.row = std::min(a.range.start.row, a.range.end.row);
        area.end.row = std::max(a.range.start.row, a.range.end.row);
        area.start.col = std::min(a.range.start.col, a.range.end.col);
        area.end.col = std::max(a.range.start.col, a.range.end.col);
        if (intersects(area, r)) edges.emplace_back(static_cast<uint32_t>(found - keys.begin()), di);
      }
    }
  }
  // Successor lists by precedent, each ascending and without repeats: the
  // edges come ascending by dependent, so a counting sort keeps that order
  // and puts repeats side by side.
  std::vector<uint32_t> first_edge(n + 1, 0);
  for (const auto& e : edges) ++first_edge[e.first + 1];
  for (size_t i = 0; i < n; ++i) first_edge[i + 1] += first_edge[i];
  // Placed from the back, each list ends up in edge order and
  // first_edge[p + 1] ends up at the start of p's list.
  std::vector<uint32_t> successors(edges.size());
  for (size_t e = edges.size(); e-- > 0;) successors[--first_edge[edges[e].first + 1]] = edges[e].second;
  edges = {};
  std::vector<uint32_t> in_degree(n, 0);
  uint32_t kept = 0;
  for (size_t p = 0; p < n; ++p) {
    uint32_t from = first_edge[p + 1];
    uint32_t to = p + 2 <= n ? first_edge[p + 2] : static_cast<uint32_t>(successors.size());
    first_edge[p] = kept;
    for (uint32_t e = from; e < to; ++e) {
      if (e > from && successors[e] == successors[e - 1]) continue;
      successors[kept++] = successors[e];
      ++in_degree[successors[e]];
    }
  }
  first_edge[n] = kept;
  std::vector<uint32_t> queue;
  queue.reserve(n);
  for (uint32_t i = 0; i < n; ++i) {
    if (in_degree[i] == 0) queue.push_back(i);
  }
  Ordering out;
  out.order.reserve(n);
  out.entries.reserve(n);
  for (size_t head = 0; head < queue.size(); ++head) {
    uint32_t k = queue[head];
    out.order.push_back(keys[k]);
    out.entries.push_back(entries[k]);
    size_t released = queue.size();
    for (uint32_t e = first_edge[k]; e < first_edge[k + 1]; ++e) {
      uint32_t d = successors[e];
      if (--in_degree[d] == 0) queue.push_back(d);
    }
    if (queue.size() - released > 1) {
      std::sort(queue.begin() + static_cast<std::ptrdiff_t>(released), queue.end());
    }
  }
  if (out.order.size() != n) {
    for (uint32_t i = 0; i < n; ++i) {
      if (in_degree[i] != 0) out.pending.push_back(keys[i]);
    }
  }
  return out;
}

Ordering order_dirty(const EngineState& state, const KeySet& dirty) {
  std::vector<CellKey> keys(dirty.begin(), dirty.end());
  std::sort(keys.begin(), keys.end());
  return order_sorted(state, keys, {});
}

namespace {

// Scalars store through the cursor; anything else may insert or remove
// cells, so it forgets the cursor.
void handle_outcome(model::WorkbookModel& model, const CellKey& k, EvalOutcome outcome,
                    EvalBudget* budget, RecalcLists& lists, StoreCursor& cursor) {
  if (outcome.limited) lists.limited.push_back(address_of(k));
  switch (outcome.kind) {
    case EvalOutcome::Kind::Keep:
      return;
    case EvalOutcome::Kind::Scalar:
      if (store_cell_value(model.sheets, k, std::move(outcome.value), cursor)) {
        lists.changed.push_back(address_of(k));
      }
      return;
    case EvalOutcome::Kind::LimitedArray:
      cursor.valid = false;
      apply_limited_anchor(model.sheets, k, lists);
      return;
    case EvalOutcome::Kind::Spill:
      cursor.valid = false;
      apply_spill(model, k, std::move(outcome.spill), outcome.limited, budget, lists);
      return;
  }
}

// The model as formulas read it, answering a read of the cell stored last
// from the cursor: in a chain, each formula reads the one evaluated before.
class CursorSource final : public model::ModelCellSource {
 public:
  CursorSource(const model::WorkbookModel& model, const StoreCursor& cursor)
      : ModelCellSource(model), cursor_(&cursor) {}

  model::CellValue cell_value(uint32_t sheet, const model::CellRef& cell) const override {
    if (const model::SheetCell* c = cursor_->find(sheet, cell.row, cell.col)) return c->value;
    return model::model_cell_value(model(), sheet, cell);
  }
  const model::CellValue& peek_cell_value(uint32_t sheet, const model::CellRef& cell) const override {
    if (const model::SheetCell* c = cursor_->find(sheet, cell.row, cell.col)) return c->value;
    return model::model_peek_cell_value(model(), sheet, cell);
  }

 private:
  const StoreCursor* cursor_;
};

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

// Keys on the grid pack into one integer in key order, which sorts by
// radix; any other set sorts as it stands.
std::vector<CellKey> sorted_keys(const KeySet& dirty) {
  std::vector<CellKey> keys(dirty.begin(), dirty.end());
  if (keys.size() < 256) {
    std::sort(keys.begin(), keys.end());
    return keys;
  }
  constexpr uint32_t kMaxSheetBits = 30;
  bool packs = true;
  std::vector<uint64_t> packed;
  packed.reserve(keys.size());
  uint64_t top = 0;
  for (const CellKey& k : keys) {
    if (k.row >= model::MAX_ROWS || k.col >= model::MAX_COLS || (k.sheet >> kMaxSheetBits) != 0) {
      packs = false;
      break;
    }
    packed.push_back((uint64_t{k.sheet} << 34) | (uint64_t{k.row} << 14) | k.col);
    top |= packed.back();
  }
  if (!packs) {
    std::sort(keys.begin(), keys.end());
    return keys;
  }
  constexpr int kDigitBits = 11;
  std::vector<uint64_t> other(packed.size());
  for (int shift = 0; shift < 64 && (top >> shift) != 0; shift += kDigitBits) {
    std::array<uint32_t, (1u << kDigitBits) + 1> first{};
    for (uint64_t v : packed) ++first[((v >> shift) & ((1u << kDigitBits) - 1)) + 1];
    for (size_t i = 1; i < first.size(); ++i) first[i] += first[i - 1];
    for (uint64_t v : packed) other[first[(v >> shift) & ((1u << kDigitBits) - 1)]++] = v;
    packed.swap(other);
  }
  for (size_t i = 0; i < packed.size(); ++i) {
    uint64_t v = packed[i];
    keys[i] = CellKey{static_cast<uint32_t>(v >> 34), static_cast<uint32_t>((v >> 14) & 0xFFFFF),
                      static_cast<uint32_t>(v & 0x3FFF)};
  }
  return keys;
}

bool same_address(const model::CellAddress& a, const model::CellAddress& b) {
  return a.sheet == b.sheet && a.cell.row == b.cell.row && a.cell.col == b.cell.col;
}

// The first wave's cells come sorted, with their entries when the caller
// has them.
RecalcResult run_waves(model::WorkbookModel& model, const EngineState& state, std::vector<CellKey> keys,
                       std::vector<FormulaEntry> entries, std::optional<double> now,
                       std::vector<std::pair<CellKey, std::optional<CellRange>>>* blocked) {
  auto budget = std::make_shared<EvalBudget>();
  RecalcLists lists;
  std::vector<model::CellAddress> cycles;
  StoreCursor cursor;
  CursorSource source(model, cursor);
  for (int wave = 1; !keys.empty(); ++wave) {
    lists.spill_changed.clear();
    Ordering ordering = order_sorted(state, keys, std::move(entries));
    keys = {};
    for (size_t i = 0; i < ordering.order.size(); ++i) {
      const CellKey& k = ordering.order[i];
      handle_outcome(model, k,
                     evaluate_formula_cell(source, model, k, ordering.entries[i], now, budget, state),
                     budget.get(), lists, cursor);
    }
    cursor.valid = false;
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
    keys = sorted_keys(next);
    entries = {};
  }
  auto less = [](const model::CellAddress& a, const model::CellAddress& b) {
    return model::address_less(a, b);
  };
  // Mostly stored in key order already.
  if (!std::is_sorted(lists.changed.begin(), lists.changed.end(), less)) {
    std::sort(lists.changed.begin(), lists.changed.end(), less);
  }
  lists.changed.erase(std::unique(lists.changed.begin(), lists.changed.end(), same_address),
                      lists.changed.end());
  if (blocked != nullptr) *blocked = std::move(lists.blocked_spills);
  return RecalcResult{std::move(lists.changed), std::move(cycles), std::move(lists.limited)};
}

// A run that also keeps the areas its blocked spills meant to fill.
RecalcResult run_and_note(model::WorkbookModel& model, EngineState& state, std::vector<CellKey> keys,
                          std::vector<FormulaEntry> entries, std::optional<double> now) {
  std::vector<std::pair<CellKey, std::optional<CellRange>>> blocked;
  RecalcResult result = run_waves(model, state, std::move(keys), std::move(entries), now, &blocked);
  for (const auto& [anchor, area] : blocked) {
    if (state.formulas.contains(anchor)) set_spill_area(state, anchor, area);
  }
  rebuild_array_range_index(state, model.sheets);
  return result;
}

}  // namespace

RecalcResult run_recalculation(model::WorkbookModel& model, const EngineState& state,
                               KeySet dirty, std::optional<double> now) {
  return run_waves(model, state, sorted_keys(dirty), {}, now, nullptr);
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
  return run_and_note(model, state, sorted_keys(dirty), {}, now);
}

std::pair<std::unique_ptr<EngineState>, RecalcResult> recalculate_all(model::WorkbookModel& model,
                                                                     std::optional<double> now) {
  auto state = rebuild_graph(model);
  // Every formula, in key order as the table holds them.
  std::vector<CellKey> keys;
  std::vector<FormulaEntry> entries;
  keys.reserve(state->formulas.size());
  entries.reserve(state->formulas.size());
  for (const auto& [k, index] : state->formulas.sorted()) {
    const FormulaShape* shape = state->shapes[index].get();
    keys.push_back(k);
    entries.push_back(shape->moves ? FormulaEntry{shape, static_cast<int32_t>(k.row - shape->row),
                                                  static_cast<int32_t>(k.col - shape->col)}
                                   : FormulaEntry{shape, 0, 0});
  }
  RecalcResult result = run_and_note(model, *state, std::move(keys), std::move(entries), now);
  return {std::move(state), std::move(result)};
}

}  // namespace cmx::formula
