#include "formula/engine_state.h"

#include <algorithm>
#include <utility>

#include "base/unicode.h"
#include "formula/formula_shapes.h"
#include "formula/parser.h"
#include "formula/static_refs.h"
#include "formula/table_ranges.h"

namespace cmx::formula {
namespace {

using model::CellRange;

int level_for(uint32_t start, uint32_t end, int levels) {
  int level = 0;
  while (level + 1 < levels && (end >> level) - (start >> level) > 1) ++level;
  return level;
}

uint64_t bucket_key(int row_level, uint32_t row_block, int col_level, uint32_t col_block) {
  return static_cast<uint64_t>(row_level) | (static_cast<uint64_t>(col_level) << 5) |
         (static_cast<uint64_t>(row_block) << 9) | (static_cast<uint64_t>(col_block) << 29);
}

bool contains(const CellRange& r, uint32_t row, uint32_t col) {
  return r.start.row <= row && row <= r.end.row && r.start.col <= col && col <= r.end.col;
}

bool intersects(const CellRange& a, const CellRange& b) {
  return a.start.row <= b.end.row && b.start.row <= a.end.row && a.start.col <= b.end.col &&
         b.start.col <= a.end.col;
}

std::string ascii_lower(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

bool ascii_upper_is(std::string_view name, std::string_view upper) {
  return model::eq_ignore_ascii_case(name, upper);
}

// Registration's working set for one formula.
struct Collected {
  std::vector<ReferencedRange> list;
  absl::flat_hash_set<std::tuple<uint32_t, uint32_t, uint32_t, uint32_t, uint32_t>> seen;

  void add(uint32_t sheet, const CellRange& r) {
    if (seen.insert({sheet, r.start.row, r.start.col, r.end.row, r.end.col}).second) {
      list.push_back(ReferencedRange{sheet, r});
    }
  }
};

// The sheet a qualifier names, `own` without one; absent when no sheet has
// that name.
std::optional<uint32_t> qualified_sheet(const EngineState& state,
                                        const std::optional<std::string>& qualifier, uint32_t own) {
  if (!qualifier) return own;
  auto it = state.sheet_map.find(unicode::to_lower(*qualifier));
  if (it == state.sheet_map.end()) return std::nullopt;
  return it->second;
}

void add_static_references(const EngineState& state, uint32_t sheet, const Expr& expr,
                           Collected& out) {
  for (const QualifiedRange& q : collect_reference_ranges(expr)) {
    if (auto s = qualified_sheet(state, q.sheet, sheet)) out.add(*s, q.range);
  }
}

// Walks the nodes whose cells are read: shape-only arguments are skipped.
template <typename Fn>
void walk_read_nodes(const Expr& expr, const Fn& fn) {
  fn(expr);
  switch (expr.kind()) {
    case Expr::Kind::Array:
      for (const auto& e : expr.as<node::Array>().elements) walk_read_nodes(*e, fn);
      return;
    case Expr::Kind::Unary:
      walk_read_nodes(*expr.as<node::Unary>().operand, fn);
      return;
    case Expr::Kind::Percent:
      walk_read_nodes(*expr.as<node::Percent>().operand, fn);
      return;
    case Expr::Kind::Binary:
      walk_read_nodes(*expr.as<node::Binary>().left, fn);
      walk_read_nodes(*expr.as<node::Binary>().right, fn);
      return;
    case Expr::Kind::RangeOp:
      walk_read_nodes(*expr.as<node::RangeOp>().left, fn);
      walk_read_nodes(*expr.as<node::RangeOp>().right, fn);
      return;
    case Expr::Kind::Call: {
      const auto& call = expr.as<node::Call>();
      for (size_t i = 0; i < call.args.size(); ++i) {
        if (!is_shape_only_argument(call.name, i, *call.args[i])) walk_read_nodes(*call.args[i], fn);
      }
      return;
    }
    default:
      return;
  }
}

void add_table_references(const EngineState& state, uint32_t row, uint32_t col, const Expr& expr,
                          Collected& out) {
  std::vector<const node::TableRef*> refs;
  walk_read_nodes(expr, [&](const Expr& e) {
    if (const auto* t = e.get<node::TableRef>()) refs.push_back(t);
  });
  for (const node::TableRef* t : refs) {
    auto it = state.table_map.find(unicode::to_lower(t->table));
    if (it == state.table_map.end()) continue;
    auto r = table_reference_range(it->second, t->spec, model::CellRef{row, col, false, false});
    if (!r) continue;
    out.add(it->second.sheet, normalized_range(*r));
  }
}

std::optional<ExprPtr> parse_name_formula(const EngineState& state, std::string_view text) {
  if (!text.empty() && text.front() == '=') text.remove_prefix(1);
  return state.parse_cache.parse_cached(text);
}

}  // namespace

bool SheetDependents::Entry::fits(const RangeDependent& e) {
  return e.range.start.row < model::MAX_ROWS && e.range.end.row < model::MAX_ROWS &&
         e.dependent.row < model::MAX_ROWS && e.range.start.col < model::MAX_COLS &&
         e.range.end.col < model::MAX_COLS && e.dependent.col < model::MAX_COLS;
}

SheetDependents::Entry SheetDependents::Entry::pack(const RangeDependent& e, uint32_t next) {
  return Entry{uint64_t{e.range.start.row} | (uint64_t{e.range.end.row} << 20) |
                   (uint64_t{e.dependent.row} << 40),
               uint64_t{e.range.start.col} | (uint64_t{e.range.end.col} << 14) |
                   (uint64_t{e.dependent.col} << 28),
               e.dependent.sheet, next};
}

RangeDependent SheetDependents::Entry::view() const {
  constexpr uint64_t kRow = (1u << 20) - 1;
  constexpr uint64_t kCol = (1u << 14) - 1;
  auto row = [&](int at) { return static_cast<uint32_t>((rows >> at) & kRow); };
  auto col = [&](int at) { return static_cast<uint32_t>((cols >> at) & kCol); };
  return RangeDependent{CellRange{model::CellRef{row(0), col(0), false, false},
                                  model::CellRef{row(20), col(14), false, false}},
                        CellKey{sheet, row(40), col(28)}};
}

namespace {

constexpr int kCollectedAt = 42;  // above the three packed columns
constexpr uint64_t kPackedCols = (uint64_t{1} << kCollectedAt) - 1;

// The key the bulk collection is sorted by: level pair, row block, column
// block, packed as the block size limits allow.
uint64_t collected_key(uint64_t lr, uint64_t lc, uint64_t br, uint64_t bc) {
  return (lr << 39) | (lc << 34) | (br << 14) | bc;
}
uint32_t key_row_block(uint64_t key) { return static_cast<uint32_t>((key >> 14) & 0xFFFFF); }
uint32_t key_col_block(uint64_t key) { return static_cast<uint32_t>(key & 0x3FFF); }

}  // namespace

void SheetDependents::Entry::mark_collected(int lr, int lc, bool second_row_block,
                                            bool second_col_block, uint32_t sequence) {
  cols = (cols & kPackedCols) | (uint64_t(lr) << kCollectedAt) | (uint64_t(lc) << (kCollectedAt + 5)) |
         (uint64_t{second_row_block} << (kCollectedAt + 9)) |
         (uint64_t{second_col_block} << (kCollectedAt + 10));
  next = sequence;
}

inline uint64_t SheetDependents::Entry::collected_order() const {
  uint64_t lr = (cols >> kCollectedAt) & 31;
  uint64_t lc = (cols >> (kCollectedAt + 5)) & 15;
  uint64_t br = ((rows & 0xFFFFF) >> lr) + ((cols >> (kCollectedAt + 9)) & 1);
  uint64_t bc = ((cols & 0x3FFF) >> lc) + ((cols >> (kCollectedAt + 10)) & 1);
  return collected_key(lr, lc, br, bc);
}

inline uint32_t SheetDependents::Entry::collected_levels() const {
  return static_cast<uint32_t>(cols >> kCollectedAt) & 0x1FF;
}

SheetDependents::Entry SheetDependents::Entry::without_collected_bits() const {
  return Entry{rows, cols & kPackedCols, sheet, next};
}

template <typename Fn>
void SheetDependents::for_each_in(uint32_t head, const Fn& fn) const {
  for (uint32_t i = head; i != kEnd; i = entries_[i].next) fn(entries_[i].view());
}

void SheetDependents::link(int lr, int lc, const Entry& entry, uint32_t br, uint32_t bc) {
  auto [it, fresh] = buckets_.try_emplace(bucket_key(lr, br, lc, bc), kEnd);
  uint32_t slot = free_;
  if (slot != kEnd) {
    free_ = entries_[slot].next;
  } else {
    slot = static_cast<uint32_t>(entries_.size());
    entries_.emplace_back();
  }
  entries_[slot] = entry;
  entries_[slot].next = it->second;
  it->second = slot;
}

void SheetDependents::reserve_bulk(const CellRange& range) {
  if (!Entry::fits(RangeDependent{range, CellKey{}})) return;
  int lr = level_for(range.start.row, range.end.row, kRowLevels);
  int lc = level_for(range.start.col, range.end.col, kColLevels);
  reserved_ += size_t{(range.end.row >> lr) - (range.start.row >> lr) + 1} *
               ((range.end.col >> lc) - (range.start.col >> lc) + 1);
}

void SheetDependents::begin_bulk() {
  bulk_ = true;
  collected_.reserve(collected_.size() + reserved_);
  reserved_ = 0;
}

void SheetDependents::add(const CellRange& range, const CellKey& dependent) {
  if (!Entry::fits(RangeDependent{range, dependent})) {
    wide_.push_back(RangeDependent{range, dependent});
    ++count_;
    return;
  }
  int lr = level_for(range.start.row, range.end.row, kRowLevels);
  int lc = level_for(range.start.col, range.end.col, kColLevels);
  Entry entry = Entry::pack(RangeDependent{range, dependent}, kEnd);
  const uint32_t first_br = range.start.row >> lr;
  const uint32_t first_bc = range.start.col >> lc;
  for (uint32_t br = first_br; br <= (range.end.row >> lr); ++br) {
    for (uint32_t bc = first_bc; bc <= (range.end.col >> lc); ++bc) {
      if (bulk_) {
        entry.mark_collected(lr, lc, br != first_br, bc != first_bc,
                             static_cast<uint32_t>(collected_.size()));
        const uint64_t order = collected_key(lr, lc, br, bc);
        collected_sorted_ = collected_sorted_ && order >= last_collected_;
        last_collected_ = order;
        collected_.push_back(entry);
      } else {
        link(lr, lc, entry, br, bc);
      }
    }
  }
  ++count_;
  if (!bulk_ && level_counts_[lr][lc]++ == 0) used_levels_.emplace_back(lr, lc);
}

void SheetDependents::finish_bulk() {
  bulk_ = false;
  std::vector<Entry> all = std::move(collected_);
  collected_ = {};
  const bool sorted = collected_sorted_;
  collected_sorted_ = true;
  last_collected_ = 0;
  // Formulas filled down a sheet mostly read cells in the order they stand,
  // and entries numbered as collected whose keys never fell are sorted.
  if (!sorted) {
    std::sort(all.begin(), all.end(), [](const Entry& a, const Entry& b) {
      uint64_t ka = a.collected_order();
      uint64_t kb = b.collected_order();
      return ka < kb || (ka == kb && a.next < b.next);
    });
  }

  // The runs' entries move down over the collection in place; a sparse
  // level pair's go to the chained buckets instead.
  const size_t offset = run_entries_.size();
  size_t kept = 0;
  size_t at = 0;
  while (at < all.size()) {
    const uint64_t first = all[at].collected_order();
    const int lr = static_cast<int>(first >> 39);
    const int lc = static_cast<int>((first >> 34) & 31);
    size_t end = at + 1;
    while (end < all.size() && all[end].collected_levels() == all[at].collected_levels()) ++end;
    const uint32_t base_block = key_row_block(first);
    uint64_t blocks = uint64_t{key_row_block(all[end - 1].collected_order())} - base_block + 1;
    if (blocks > 2 * (end - at) + 64) {
      // Too sparse for a block index: chained as if added one by one, each
      // range counted once for its level pair however many blocks hold it.
      uint64_t ranges = 0;
      for (size_t i = at; i < end; ++i) {
        const uint64_t key = all[i].collected_order();
        const Entry e = all[i].without_collected_bits();
        link(lr, lc, e, key_row_block(key), key_col_block(key));
        ranges += key_row_block(key) == (static_cast<uint32_t>(e.rows & 0xFFFFF) >> lr) &&
                  key_col_block(key) == (static_cast<uint32_t>(e.cols & 0x3FFF) >> lc);
      }
      if (level_counts_[lr][lc] == 0) used_levels_.emplace_back(lr, lc);
      level_counts_[lr][lc] += ranges;
    } else {
      Run run;
      run.lr = lr;
      run.lc = lc;
      run.base_block = base_block;
      run.block_first.reserve(blocks + 1);
      for (size_t i = at; i < end; ++i) {
        const uint64_t key = all[i].collected_order();
        while (run.block_first.size() <= key_row_block(key) - base_block) {
          run.block_first.push_back(static_cast<uint32_t>(offset + kept));
        }
        // `kept` never passes `i`: this entry is read before its place is written.
        Entry e = all[i].without_collected_bits();
        e.next = key_col_block(key);
        all[kept++] = e;
      }
      run.block_first.push_back(static_cast<uint32_t>(offset + kept));
      runs_.push_back(std::move(run));
    }
    at = end;
  }
  all.resize(kept);
  if (run_entries_.empty()) {
    run_entries_ = std::move(all);
    run_entries_.shrink_to_fit();  // a copy only when sparse level pairs left room
  } else {
    run_entries_.insert(run_entries_.end(), all.begin(), all.end());
  }
}

std::pair<uint32_t, uint32_t> SheetDependents::run_block(const Run& run, uint32_t br, uint32_t bc) const {
  if (br < run.base_block || br - run.base_block + 1 >= run.block_first.size()) return {0, 0};
  uint32_t from = run.block_first[br - run.base_block];
  uint32_t to = run.block_first[br - run.base_block + 1];
  auto by_col = [](const Entry& e, uint32_t c) { return e.next < c; };
  auto first = std::lower_bound(run_entries_.begin() + from, run_entries_.begin() + to, bc, by_col);
  auto last = first;
  while (last != run_entries_.begin() + to && last->next == bc) ++last;
  return {static_cast<uint32_t>(first - run_entries_.begin()),
          static_cast<uint32_t>(last - run_entries_.begin())};
}

void SheetDependents::remove(const CellRange& range, const CellKey& dependent) {
  if (!Entry::fits(RangeDependent{range, dependent})) {
    size_t before = wide_.size();
    std::erase_if(wide_, [&](const RangeDependent& e) {
      return e.dependent == dependent && e.range == range;
    });
    if (wide_.size() != before) --count_;
    return;
  }
  int lr = level_for(range.start.row, range.end.row, kRowLevels);
  int lc = level_for(range.start.col, range.end.col, kColLevels);
  bool removed_from_run = false;
  for (Run& run : runs_) {
    if (run.lr != lr || run.lc != lc) continue;
    for (uint32_t br = range.start.row >> lr; br <= (range.end.row >> lr); ++br) {
      for (uint32_t bc = range.start.col >> lc; bc <= (range.end.col >> lc); ++bc) {
        auto [first, last] = run_block(run, br, bc);
        for (uint32_t i = first; i < last; ++i) {
          Entry& e = run_entries_[i];
          if (e.cols & kRemoved) continue;
          RangeDependent seen = e.view();
          if (seen.dependent == dependent && seen.range == range) {
            e.cols |= kRemoved;
            removed_from_run = true;
          }
        }
      }
    }
  }
  bool removed = false;
  for (uint32_t br = range.start.row >> lr; br <= (range.end.row >> lr); ++br) {
    for (uint32_t bc = range.start.col >> lc; bc <= (range.end.col >> lc); ++bc) {
      auto it = buckets_.find(bucket_key(lr, br, lc, bc));
      if (it == buckets_.end()) continue;
      uint32_t* link = &it->second;
      while (*link != kEnd) {
        Entry& e = entries_[*link];
        RangeDependent seen = e.view();
        if (seen.dependent == dependent && seen.range == range) {
          uint32_t slot = *link;
          *link = e.next;
          e.next = free_;
          free_ = slot;
          removed = true;
        } else {
          link = &e.next;
        }
      }
      if (it->second == kEnd) buckets_.erase(it);
    }
  }
  if (removed_from_run || removed) --count_;
  if (!removed) return;
  if (--level_counts_[lr][lc] == 0) {
    used_levels_.erase(std::find(used_levels_.begin(), used_levels_.end(), std::make_pair(lr, lc)));
  }
}

void SheetDependents::for_each_containing(
    uint32_t row, uint32_t col, const std::function<void(const RangeDependent&)>& fn) const {
  for (const Run& run : runs_) {
    auto [first, last] = run_block(run, row >> run.lr, col >> run.lc);
    for (uint32_t i = first; i < last; ++i) {
      const Entry& e = run_entries_[i];
      if (e.cols & kRemoved) continue;
      RangeDependent seen = e.view();
      if (contains(seen.range, row, col)) fn(seen);
    }
  }
  for (auto [lr, lc] : used_levels_) {
    auto it = buckets_.find(bucket_key(lr, row >> lr, lc, col >> lc));
    if (it == buckets_.end()) continue;
    for_each_in(it->second, [&](const RangeDependent& e) {
      if (contains(e.range, row, col)) fn(e);
    });
  }
  for (const RangeDependent& e : wide_) {
    if (contains(e.range, row, col)) fn(e);
  }
}

void SheetDependents::for_each_intersecting(
    const CellRange& area, const std::function<void(const RangeDependent&)>& fn) const {
  // A range filed under two blocks is reported from the first block that
  // both it and the area reach.
  auto visit = [&](uint64_t key, uint32_t head) {
    int lr = static_cast<int>(key & 31);
    int lc = static_cast<int>((key >> 5) & 15);
    uint32_t br = static_cast<uint32_t>((key >> 9) & 0xFFFFF);
    uint32_t bc = static_cast<uint32_t>(key >> 29);
    for_each_in(head, [&](const RangeDependent& e) {
      if (!intersects(e.range, area)) return;
      if (br != std::max(e.range.start.row >> lr, area.start.row >> lr)) return;
      if (bc != std::max(e.range.start.col >> lc, area.start.col >> lc)) return;
      fn(e);
    });
  };
  for (const RangeDependent& e : wide_) {
    if (intersects(e.range, area)) fn(e);
  }
  for (const Run& run : runs_) {
    const int lr = run.lr;
    const int lc = run.lc;
    uint32_t last_block = run.base_block + static_cast<uint32_t>(run.block_first.size()) - 2;
    uint32_t from_br = std::max(area.start.row >> lr, run.base_block);
    uint32_t to_br = std::min(area.end.row >> lr, last_block);
    uint32_t from_bc = area.start.col >> lc;
    uint32_t to_bc = area.end.col >> lc;
    auto by_col = [](const Entry& e, uint32_t c) { return e.next < c; };
    for (uint32_t br = from_br; br <= to_br && from_br <= to_br; ++br) {
      auto end = run_entries_.begin() + run.block_first[br - run.base_block + 1];
      auto it = std::lower_bound(run_entries_.begin() + run.block_first[br - run.base_block], end,
                                 from_bc, by_col);
      for (; it != end && it->next <= to_bc; ++it) {
        if (it->cols & kRemoved) continue;
        RangeDependent e = it->view();
        if (!intersects(e.range, area)) continue;
        if (br != std::max(e.range.start.row >> lr, area.start.row >> lr)) continue;
        if (it->next != std::max(e.range.start.col >> lc, area.start.col >> lc)) continue;
        fn(e);
      }
    }
  }
  // Look up the blocks the area covers when they are fewer than the
  // buckets; otherwise walk every bucket.
  uint64_t blocks = 0;
  for (auto [lr, lc] : used_levels_) {
    blocks += (uint64_t{area.end.row >> lr} - (area.start.row >> lr) + 1) *
              (uint64_t{area.end.col >> lc} - (area.start.col >> lc) + 1);
  }
  if (blocks > buckets_.size()) {
    for (const auto& [key, head] : buckets_) visit(key, head);
    return;
  }
  for (auto [lr, lc] : used_levels_) {
    for (uint32_t br = area.start.row >> lr; br <= (area.end.row >> lr); ++br) {
      for (uint32_t bc = area.start.col >> lc; bc <= (area.end.col >> lc); ++bc) {
        uint64_t key = bucket_key(lr, br, lc, bc);
        auto it = buckets_.find(key);
        if (it != buckets_.end()) visit(key, it->second);
      }
    }
  }
}

const FormulaTable::Slot* FormulaTable::slot_of(const CellKey& key) const {
  if (key.sheet >= sheets_.size()) return nullptr;
  const Sheet& sheet = sheets_[key.sheet];
  uint32_t block = key.row / kBlockRows - sheet.base_block;
  if (key.row / kBlockRows < sheet.base_block || block >= sheet.block_first.size()) return nullptr;
  auto first = sheet.slots.begin() + sheet.block_first[block];
  auto last = block + 1 < sheet.block_first.size() ? sheet.slots.begin() + sheet.block_first[block + 1]
                                                   : sheet.slots.end();
  auto it = std::lower_bound(first, last, key, [](const Slot& s, const CellKey& k) {
    return s.row < k.row || (s.row == k.row && s.col < k.col);
  });
  if (it == last || it->row != key.row || it->col != key.col) return nullptr;
  return &*it;
}

void FormulaTable::set(const CellKey& key, uint32_t shape) {
  if (const Slot* found = slot_of(key)) {
    Slot& slot = const_cast<Slot&>(*found);
    size_ += (shape != kNoShape) - (slot.shape != kNoShape);
    slot.shape = shape;
    return;
  }
  auto it = extra_.find(key);
  if (it != extra_.end()) {
    if (shape == kNoShape) {
      extra_.erase(it);
      --size_;
    } else {
      it->second = shape;
    }
    return;
  }
  if (shape == kNoShape) return;
  ++size_;
  if (key.sheet < kMaxSheets) {
    if (key.sheet >= sheets_.size()) sheets_.resize(key.sheet + 1);
    Sheet& sheet = sheets_[key.sheet];
    // A cell past the sheet's last slot extends the array, unless the gap
    // would make the block index outgrow the slots.
    if (sheet.slots.empty()) sheet.base_block = key.row / kBlockRows;
    uint64_t blocks = key.row / kBlockRows - sheet.base_block + 1;
    if ((sheet.slots.empty() || sheet.slots.back().row < key.row ||
         (sheet.slots.back().row == key.row && sheet.slots.back().col < key.col)) &&
        blocks <= 2 * sheet.slots.size() + 64) {
      while (sheet.block_first.size() < blocks) {
        sheet.block_first.push_back(static_cast<uint32_t>(sheet.slots.size()));
      }
      sheet.slots.push_back(Slot{key.row, key.col, shape});
      return;
    }
  }
  extra_.emplace(key, shape);
}

void FormulaTable::trim() {
  for (Sheet& sheet : sheets_) {
    sheet.slots.shrink_to_fit();
    sheet.block_first.shrink_to_fit();
  }
}

std::vector<std::pair<CellKey, uint32_t>> FormulaTable::sorted() const {
  std::vector<std::pair<CellKey, uint32_t>> out;
  out.reserve(size_);
  for_each_sorted([&](const CellKey& key, uint32_t shape) { out.emplace_back(key, shape); });
  return out;
}

namespace {

FormulaEntry entry_of(const EngineState& state, const CellKey& key, uint32_t index) {
  const FormulaShape* shape = state.shapes[index].get();
  if (!shape->moves) return FormulaEntry{shape, 0, 0};
  return FormulaEntry{shape, static_cast<int32_t>(key.row - shape->row),
                      static_cast<int32_t>(key.col - shape->col)};
}

}  // namespace

std::optional<FormulaEntry> find_formula(const EngineState& state, const CellKey& key) {
  std::optional<uint32_t> index = state.formulas.find(key);
  if (!index) return std::nullopt;
  return entry_of(state, key, *index);
}

void formula_references(const EngineState& state, const CellKey& key, const FormulaEntry& entry,
                        ReferenceList& out) {
  out.clear();
  if (!entry.shape->moves) {
    auto it = state.fixed_references.find(key);
    if (it != state.fixed_references.end()) out.assign(it->second.begin(), it->second.end());
    return;
  }
  auto dr = static_cast<uint32_t>(entry.shift_rows);
  auto dc = static_cast<uint32_t>(entry.shift_cols);
  auto same = [](const ReferencedRange& a, const ReferencedRange& b) {
    return a.sheet == b.sheet && a.range.start.row == b.range.start.row &&
           a.range.start.col == b.range.start.col && a.range.end.row == b.range.end.row &&
           a.range.end.col == b.range.end.col;
  };
  for (const FormulaShape::Reference& r : entry.shape->references) {
    ReferencedRange placed{r.sheet == kOwnSheet ? key.sheet : r.sheet, r.range};
    if (r.rows_move) {
      placed.range.start.row += dr;
      placed.range.end.row += dr;
    }
    if (r.cols_move) {
      placed.range.start.col += dc;
      placed.range.end.col += dc;
    }
    bool seen = false;
    for (const ReferencedRange& o : out) seen = seen || same(o, placed);
    if (!seen) out.push_back(placed);
  }
}

void dependents_of(const EngineState& state, const CellKey& cell,
                   const std::function<void(const CellKey&)>& fn) {
  auto sd = state.range_dependents.find(cell.sheet);
  if (sd == state.range_dependents.end()) return;
  sd->second.for_each_containing(cell.row, cell.col,
                                 [&](const RangeDependent& e) { fn(e.dependent); });
  auto anchor = state.array_anchor_ranges.find(cell);
  if (anchor == state.array_anchor_ranges.end()) return;
  CellRange area = normalized_range(anchor->second);
  sd->second.for_each_intersecting(area, [&](const RangeDependent& e) {
    if (e.dependent == cell || contains(e.range, cell.row, cell.col)) return;
    fn(e.dependent);
  });
}

void rebuild_array_range_index(EngineState& state, const std::vector<model::SheetModel>& sheets) {
  state.array_anchor_ranges.clear();
  state.array_ranges_by_sheet.clear();
  for (uint32_t i = 0; i < sheets.size(); ++i) {
    for (const auto& [pos, range] : sheets[i].array_ranges) {
      if (range.start == range.end) continue;
      CellKey key{i, pos.row, pos.col};
      if (!state.formulas.contains(key)) continue;
      state.array_anchor_ranges[key] = range;
      state.array_ranges_by_sheet[i].push_back(ArrayAnchor{key, range});
    }
  }
}

void set_spill_area(EngineState& state, const CellKey& anchor, std::optional<CellRange> area) {
  auto old = state.spill_areas.find(anchor);
  if (old != state.spill_areas.end()) {
    if (area && old->second == *area) return;
    state.spill_area_index[anchor.sheet].remove(old->second, anchor);
    state.spill_areas.erase(old);
  }
  if (!area) return;
  state.spill_areas.emplace(anchor, *area);
  state.spill_area_index[anchor.sheet].add(*area, anchor);
}

void spill_anchors_over(const EngineState& state, const CellKey& cell,
                        const std::function<void(const CellKey&)>& fn) {
  auto index = state.spill_area_index.find(cell.sheet);
  if (index == state.spill_area_index.end()) return;
  index->second.for_each_containing(cell.row, cell.col, [&](const RangeDependent& e) {
    if (!(e.dependent == cell)) fn(e.dependent);
  });
}

std::vector<NameReference> collect_name_references(uint32_t sheet, const Expr& expr) {
  std::vector<NameReference> out;
  walk_read_nodes(expr, [&](const Expr& e) {
    if (const auto* n = e.get<node::Name>()) out.push_back(NameReference{n->scope, sheet, n->name});
  });
  return out;
}

std::optional<std::pair<uint32_t, const model::DefinedName*>> find_graph_name(
    const EngineState& state, const NameReference& ref) {
  uint32_t lookup = ref.context_sheet;
  if (ref.sheet) {
    auto it = state.sheet_map.find(unicode::to_lower(*ref.sheet));
    if (it == state.sheet_map.end()) return std::nullopt;
    lookup = it->second;
  }
  std::string lower = ascii_lower(ref.name);
  auto it = state.name_map.find(std::make_pair(lookup, lower));
  if (it == state.name_map.end()) it = state.name_map.find(std::make_pair(kWorkbookScope, lower));
  if (it == state.name_map.end()) return std::nullopt;
  return std::make_pair(lookup, &state.defined_names[it->second]);
}

bool analyze_volatility(uint32_t sheet, const Expr& root, std::vector<NameReference>& names) {
  std::vector<NameReference> found;
  std::vector<const Expr*> stack{&root};
  while (!stack.empty()) {
    const Expr* expr = stack.back();
    stack.pop_back();
    switch (expr->kind()) {
      case Expr::Kind::Call: {
        const auto& call = expr->as<node::Call>();
        for (std::string_view v : {"NOW", "TODAY", "RAND", "RANDBETWEEN", "INDIRECT"}) {
          if (ascii_upper_is(call.name, v)) return true;
        }
        if (ascii_upper_is(call.name, "OFFSET") &&
            static_offset(call.args).kind == StaticOffsetKind::Dynamic) {
          return true;
        }
        for (auto it = call.args.rbegin(); it != call.args.rend(); ++it) stack.push_back(it->get());
        break;
      }
      case Expr::Kind::RangeOp: {
        const auto& op = expr->as<node::RangeOp>();
        if (!static_range_op(*op.left, *op.right)) return true;
        stack.push_back(op.right.get());
        stack.push_back(op.left.get());
        break;
      }
      case Expr::Kind::Binary:
        stack.push_back(expr->as<node::Binary>().right.get());
        stack.push_back(expr->as<node::Binary>().left.get());
        break;
      case Expr::Kind::Unary:
        stack.push_back(expr->as<node::Unary>().operand.get());
        break;
      case Expr::Kind::Percent:
        stack.push_back(expr->as<node::Percent>().operand.get());
        break;
      case Expr::Kind::Array: {
        const auto& el = expr->as<node::Array>().elements;
        for (auto it = el.rbegin(); it != el.rend(); ++it) stack.push_back(it->get());
        break;
      }
      case Expr::Kind::Name: {
        const auto& n = expr->as<node::Name>();
        found.push_back(NameReference{n.scope, sheet, n.name});
        break;
      }
      default:
        break;
    }
  }
  names.insert(names.end(), std::make_move_iterator(found.begin()),
               std::make_move_iterator(found.end()));
  return false;
}

namespace {

// A formula whose tree is its text's own: references, names and tables are
// resolved for this cell. Absent when the text does not parse.
std::optional<FormulaEntry> register_fixed(EngineState& state, const CellKey& key,
                                           std::string_view text) {
  auto found_shape = state.shapes_by_text.find(absl::string_view(text.data(), text.size()));
  uint32_t shape = kNoShape;
  if (found_shape != state.shapes_by_text.end()) {
    shape = found_shape->second;
  } else {
    auto parsed = parse_formula(text);
    if (!parsed.has_value()) return std::nullopt;
    shape = static_cast<uint32_t>(state.shapes.size());
    state.shapes.push_back(
        std::make_unique<FormulaShape>(FormulaShape{std::move(parsed).value(), 0, 0, false, {}}));
    state.shapes_by_text.emplace(std::string(text), shape);
  }
  const ExprPtr& formula = state.shapes[shape]->tree;
  Collected refs;
  add_static_references(state, key.sheet, *formula, refs);
  std::vector<NameReference> names = collect_name_references(key.sheet, *formula);
  absl::flat_hash_set<std::pair<uint32_t, std::string>> visited;
  while (!names.empty()) {
    NameReference n = std::move(names.back());
    names.pop_back();
    auto found = find_graph_name(state, n);
    if (!found) continue;
    if (!visited.insert({found->first, ascii_lower(n.name)}).second) continue;
    auto name_formula = parse_name_formula(state, found->second->formula);
    if (!name_formula) continue;
    uint32_t c = found->second->local_sheet.value_or(found->first);
    add_static_references(state, c, **name_formula, refs);
    add_table_references(state, key.row, key.col, **name_formula, refs);
    auto more = collect_name_references(c, **name_formula);
    names.insert(names.end(), std::make_move_iterator(more.begin()),
                 std::make_move_iterator(more.end()));
  }
  add_table_references(state, key.row, key.col, *formula, refs);

  std::vector<NameReference> names2;
  bool is_volatile = analyze_volatility(key.sheet, *formula, names2);
  absl::flat_hash_set<std::pair<uint32_t, std::string>> visited2;
  while (!is_volatile && !names2.empty()) {
    NameReference n = std::move(names2.back());
    names2.pop_back();
    auto found = find_graph_name(state, n);
    if (!found) continue;
    if (!visited2.insert({found->first, ascii_lower(n.name)}).second) continue;
    auto name_formula = parse_name_formula(state, found->second->formula);
    if (!name_formula) continue;
    uint32_t c = found->second->local_sheet.value_or(found->first);
    is_volatile = analyze_volatility(c, **name_formula, names2);
  }
  if (is_volatile) state.volatile_cells.insert(key);
  state.formulas.set(key, shape);
  if (!refs.list.empty()) state.fixed_references[key] = std::move(refs.list);
  return FormulaEntry{state.shapes[shape].get(), 0, 0};
}

}  // namespace

namespace {

constexpr uint32_t kParseFailed = UINT32_MAX - 1;

uint32_t find_or_make_shape(EngineState& state, const CellKey& key, std::string_view text,
                            std::string key_text);

uint32_t recent_shape(const EngineState& state, const CellKey& key, std::string_view text) {
  if (key.col >= state.recent_shapes.size()) return kNoShape;
  uint32_t shape = state.recent_shapes[key.col];
  if (shape == kNoShape) return kNoShape;
  const std::optional<ShapeText>& written = state.shapes[shape]->text;
  return written && shape_text_matches(*written, text, key.row, key.col) ? shape : kNoShape;
}

}  // namespace

namespace {

// Registers the cell's shape, the references of a fixed one and its
// volatility, leaving the ranges it reads to file_references(). Absent
// when the text does not parse.
std::optional<FormulaEntry> register_cell(EngineState& state, const CellKey& key,
                                          std::string_view text) {
  uint32_t shape = recent_shape(state, key, text);
  if (shape == kNoShape) {
    std::optional<std::string> key_text = shape_key(text, key.row, key.col);
    if (!key_text) return register_fixed(state, key, text);
    shape = find_or_make_shape(state, key, text, std::move(*key_text));
    if (shape == kParseFailed) return std::nullopt;
    if (shape == kNoShape) return register_fixed(state, key, text);
    if (key.col < model::MAX_COLS) {
      if (state.recent_shapes.size() <= key.col) state.recent_shapes.resize(key.col + 1, kNoShape);
      state.recent_shapes[key.col] = shape;
    }
  }
  state.formulas.set(key, shape);
  const FormulaShape& made = *state.shapes[shape];
  return FormulaEntry{&made, static_cast<int32_t>(key.row - made.row),
                      static_cast<int32_t>(key.col - made.col)};
}

// Calls fn(index, range) for each range the registered cell reads, with the
// index of the range's sheet.
template <typename Fn>
void for_each_read_range(EngineState& state, const CellKey& key, const FormulaEntry& entry,
                         const Fn& fn) {
  ReferenceList refs;
  formula_references(state, key, entry, refs);
  SheetDependents* index = nullptr;
  uint32_t index_sheet = 0;
  for (const ReferencedRange& r : refs) {
    if (index == nullptr || index_sheet != r.sheet) {
      index = &state.range_dependents[r.sheet];
      index_sheet = r.sheet;
    }
    fn(*index, r.range);
  }
}

void file_references(EngineState& state, const CellKey& key, const FormulaEntry& entry) {
  for_each_read_range(state, key, entry,
                      [&](SheetDependents& index, const CellRange& range) { index.add(range, key); });
}

}  // namespace

void register_formula(EngineState& state, const CellKey& key, std::string_view text) {
  if (auto entry = register_cell(state, key, text)) file_references(state, key, *entry);
}

namespace {

// The shape of a text's key, made on first sight; kNoShape when the shape
// cannot move, kParseFailed when the text does not parse.
uint32_t find_or_make_shape(EngineState& state, const CellKey& key, std::string_view text,
                            std::string key_text) {
  auto found = state.shapes_by_key.find(key_text);
  uint32_t shape = kNoShape;
  if (found != state.shapes_by_key.end()) {
    shape = found->second;
  } else {
    auto parsed = parse_formula(text);
    if (!parsed.has_value()) return kParseFailed;
    if (shape_can_move(**parsed)) {
      auto made = std::make_unique<FormulaShape>(
          FormulaShape{std::move(parsed).value(), key.row, key.col, true, {}});
      // Every plain reference, repeats kept: two that coincide here may
      // part elsewhere.
      walk_read_nodes(*made->tree, [&](const Expr& e) {
        auto q = plain_reference_range(e);
        if (!q) return;
        auto sheet = qualified_sheet(state, q->sheet, kOwnSheet);
        if (!sheet) return;
        bool rows_move = !q->range.start.abs_row && e.kind() != Expr::Kind::ColumnRange;
        bool cols_move = !q->range.start.abs_col && e.kind() != Expr::Kind::RowRange;
        made->references.push_back(
            FormulaShape::Reference{*sheet, normalized_range(q->range), rows_move, cols_move});
      });
      made->text = shape_text(text, key.row, key.col);
      shape = static_cast<uint32_t>(state.shapes.size());
      state.shapes.push_back(std::move(made));
    }
    state.shapes_by_key.emplace(std::move(key_text), shape);
  }
  return shape;
}

}  // namespace

std::unique_ptr<EngineState> rebuild_graph(const model::WorkbookModel& model) {
  auto state = std::make_unique<EngineState>();
  // Of two sheets or tables whose names lower-case alike, the first wins, as
  // in evaluation's lookups.
  for (uint32_t i = 0; i < model.sheets.size(); ++i) {
    state->sheet_map.try_emplace(unicode::to_lower(model.sheets[i].name), i);
  }
  state->defined_names = model.defined_names;
  for (size_t i = 0; i < state->defined_names.size(); ++i) {
    const auto& dn = state->defined_names[i];
    state->name_map.try_emplace(
        std::make_pair(dn.local_sheet.value_or(kWorkbookScope), ascii_lower(dn.name)), i);
  }
  for (const auto& table : model.tables) {
    state->table_map.try_emplace(unicode::to_lower(table.name), table);
  }
  // Every cell is registered before any is filed under the ranges it reads,
  // so that each sheet's bulk collection is allocated once, at its size,
  // and the formula table gives back its spare room first.
  for (uint32_t i = 0; i < model.sheets.size(); ++i) {
    for (const auto& [pos, cell] : model.sheets[i].cells) {
      if (!cell.formula) continue;
      CellKey key{i, pos.row, pos.col};
      if (auto entry = register_cell(*state, key, cell.formula->view())) {
        for_each_read_range(*state, key, *entry, [](SheetDependents& index, const CellRange& range) {
          index.reserve_bulk(range);
        });
      }
    }
  }
  state->formulas.trim();
  for (uint32_t i = 0; i < model.sheets.size(); ++i) state->range_dependents[i].begin_bulk();
  // In the order registered: the table's order is the sheets' own.
  state->formulas.for_each_sorted([&](const CellKey& key, uint32_t shape) {
    file_references(*state, key, entry_of(*state, key, shape));
  });
  for (auto& [sheet, index] : state->range_dependents) index.finish_bulk();
  rebuild_array_range_index(*state, model.sheets);
  return state;
}

void update_graph_cell(EngineState& state, uint32_t sheet, uint32_t row, uint32_t col,
                       std::optional<std::string_view> text) {
  CellKey key{sheet, row, col};
  if (auto entry = find_formula(state, key)) {
    ReferenceList refs;
    formula_references(state, key, *entry, refs);
    for (const ReferencedRange& r : refs) {
      auto sd = state.range_dependents.find(r.sheet);
      if (sd != state.range_dependents.end()) sd->second.remove(r.range, key);
    }
    state.formulas.erase(key);
    state.fixed_references.erase(key);
  }
  state.volatile_cells.erase(key);
  set_spill_area(state, key, std::nullopt);
  state.array_anchor_ranges.erase(key);
  auto list = state.array_ranges_by_sheet.find(sheet);
  if (list != state.array_ranges_by_sheet.end()) {
    std::erase_if(list->second, [&](const ArrayAnchor& a) { return a.anchor == key; });
  }
  if (text) register_formula(state, key, *text);
}

}  // namespace cmx::formula
