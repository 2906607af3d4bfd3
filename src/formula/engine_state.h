// EngineState: the dependency graph of a workbook's formula cells (their
// parsed formulas and the ranges they read), the reverse index from a cell to
// the formulas that read it, the volatile cells and the array-formula ranges,
// with snapshots of the sheet, name and table lookups. Registration turns a
// formula text into graph data.
#pragma once

#include <algorithm>
#include <array>
#include <compare>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "absl/container/flat_hash_map.h"
#include "absl/container/flat_hash_set.h"
#include "absl/container/inlined_vector.h"
#include "formula/expr.h"
#include "formula/formula_shapes.h"
#include "formula/parse_cache.h"
#include "model/workbook.h"

namespace cmx::formula {

// A formula cell: sheet position, row and column, all zero-based. Ordered
// by sheet, row, column.
struct CellKey {
  uint32_t sheet = 0;
  uint32_t row = 0;
  uint32_t col = 0;
  friend auto operator<=>(const CellKey&, const CellKey&) = default;
  template <typename H>
  friend H AbslHashValue(H h, const CellKey& k) {
    return H::combine(std::move(h), k.sheet, k.row, k.col);
  }
};

struct ReferencedRange {
  uint32_t sheet = 0;
  model::CellRange range;  // normalised, flags false
  friend bool operator==(const ReferencedRange&, const ReferencedRange&) = default;
};

// A parsed formula shared by cells. A movable shape holds for every cell
// whose text has its key, evaluated with that cell's distance from (row,
// col); any other holds one text's tree as it stands.
struct FormulaShape {
  struct Reference {
    uint32_t sheet = 0;  // kOwnSheet: the formula's own
    model::CellRange range;
    bool rows_move = false;
    bool cols_move = false;
  };
  ExprPtr tree;
  uint32_t row = 0;
  uint32_t col = 0;
  bool moves = false;
  std::vector<Reference> references;  // movable shapes: depth first, repeats kept
  std::optional<ShapeText> text;       // movable shapes written plainly
};

inline constexpr uint32_t kOwnSheet = UINT32_MAX;

// A registered formula cell: its shape and how far it stands from it.
struct FormulaEntry {
  const FormulaShape* shape = nullptr;
  int32_t shift_rows = 0;
  int32_t shift_cols = 0;
};

struct RangeDependent {
  model::CellRange range;
  CellKey dependent;
};

struct ArrayAnchor {
  CellKey anchor;
  model::CellRange range;  // as the sheet stores it
};

// The reverse index of one sheet. A range lives at the coarsest pair of
// power-of-two block sizes (one per axis) at which it spans at most two
// blocks on each axis, filed under each block it touches. Finding the ranges
// that contain a cell looks up one block per occupied level pair, so the cost
// follows the number of entries that can match, not the sheet's total.
class SheetDependents {
 public:
  void add(const model::CellRange& range, const CellKey& dependent);
  // Removes the entries (range, dependent); absent ones are ignored.
  void remove(const model::CellRange& range, const CellKey& dependent);
  // Every dependent whose range contains (row, col), once per matching entry.
  void for_each_containing(uint32_t row, uint32_t col,
                           const std::function<void(const RangeDependent&)>& fn) const;
  // Every dependent whose range intersects `area`.
  void for_each_intersecting(const model::CellRange& area,
                             const std::function<void(const RangeDependent&)>& fn) const;
  size_t size() const { return count_; }
  // Between the two, add() only collects; finish_bulk() then files the
  // collected entries at once in sorted runs rather than one by one, in
  // the room they were collected in.
  void begin_bulk();
  void finish_bulk();
  // Counts the room a bulk add() of the range takes: begin_bulk() then
  // allocates the collection once, at its size.
  void reserve_bulk(const model::CellRange& range);

 private:
  static constexpr int kRowLevels = 21;  // 2^20 rows
  static constexpr int kColLevels = 15;  // 2^14 columns
  static constexpr uint32_t kEnd = UINT32_MAX;
  // Entries of one bucket are chained through `next`; removed ones are
  // chained into a free list and reused. Rows (20 bits) and columns (14
  // bits) of the range and the dependent are packed; an entry outside the
  // grid is kept whole in `wide_`.
  struct Entry {
    uint64_t rows = 0;  // start, end, dependent's
    uint64_t cols = 0;  // start, end, dependent's
    uint32_t sheet = 0;  // the dependent's
    uint32_t next = kEnd;
    static bool fits(const RangeDependent& e);
    static Entry pack(const RangeDependent& e, uint32_t next);
    RangeDependent view() const;
    // While an entry waits in the bulk collection, the bits of `cols`
    // above the packed columns hold its level pair and which of the
    // range's (at most two) blocks per axis it stands for, and `next`
    // numbers it in the order added: sorting then needs no second array
    // and keeps the order of entries under one block.
    void mark_collected(int lr, int lc, bool second_row_block, bool second_col_block,
                        uint32_t sequence);
    // Level pair, row block, column block; ties go by `next`.
    uint64_t collected_order() const;
    uint32_t collected_levels() const;
    // The packed entry alone, `next` left to the caller.
    Entry without_collected_bits() const;
  };
  template <typename Fn>
  void for_each_in(uint32_t head, const Fn& fn) const;
  // The bulk-filed entries of one level pair, a stretch of run_entries_
  // ascending by (row block, column block), `next` holding the column
  // block; a removed one is marked in the top bit of `cols`.
  struct Run {
    int lr = 0;
    int lc = 0;
    uint32_t base_block = 0;  // the first entry's row block
    // Per row block from base_block on, the index of its first entry in
    // run_entries_; one past the last block, the end.
    std::vector<uint32_t> block_first;
  };
  static constexpr uint64_t kRemoved = uint64_t{1} << 63;
  void link(int lr, int lc, const Entry& entry, uint32_t br, uint32_t bc);
  // The run's entries under block (br, bc), as [first, last) in run_entries_.
  std::pair<uint32_t, uint32_t> run_block(const Run& run, uint32_t br, uint32_t bc) const;

  absl::flat_hash_map<uint64_t, uint32_t> buckets_;  // the first entry of each
  std::vector<Entry> entries_;
  uint32_t free_ = kEnd;
  std::vector<RangeDependent> wide_;
  std::array<std::array<uint64_t, kColLevels>, kRowLevels> level_counts_{};
  std::vector<std::pair<int, int>> used_levels_;
  size_t count_ = 0;
  bool bulk_ = false;
  size_t reserved_ = 0;
  std::vector<Entry> collected_;
  uint64_t last_collected_ = 0;  // the last collected entry's order
  bool collected_sorted_ = true;
  std::vector<Entry> run_entries_;
  std::vector<Run> runs_;
};

inline constexpr uint32_t kNoShape = UINT32_MAX;

// The formula cells and the index of each one's shape. Cells arriving in
// ascending order per sheet (as rebuild_graph files them) go to one flat
// sorted array per sheet, found through an index of row blocks; any other
// cell goes to a hash map. A removed cell of the array keeps its slot,
// marked kNoShape, and takes the cell back if it is registered again.
class FormulaTable {
 public:
  std::optional<uint32_t> find(const CellKey& key) const {
    if (size_ == 0) return std::nullopt;
    if (const Slot* slot = slot_of(key)) {
      if (slot->shape != kNoShape) return slot->shape;
      return std::nullopt;
    }
    if (extra_.empty()) return std::nullopt;
    auto it = extra_.find(key);
    if (it == extra_.end()) return std::nullopt;
    return it->second;
  }
  bool contains(const CellKey& key) const { return find(key).has_value(); }
  bool empty() const { return size_ == 0; }
  size_t size() const { return size_; }
  // Registers the cell with `shape`, or removes it when `shape` is kNoShape.
  void set(const CellKey& key, uint32_t shape);
  void erase(const CellKey& key) { set(key, kNoShape); }
  // Gives back the room that growing the arrays left unused.
  void trim();
  // Calls fn(key, shape) for every cell, ascending by key.
  template <typename Fn>
  void for_each_sorted(const Fn& fn) const;
  // Every cell and its shape, ascending by key.
  std::vector<std::pair<CellKey, uint32_t>> sorted() const;

 private:
  static constexpr uint32_t kBlockRows = 16;
  // Sheets past this index go to the hash map alone.
  static constexpr uint32_t kMaxSheets = 1u << 16;
  struct Slot {
    uint32_t row = 0;
    uint32_t col = 0;
    uint32_t shape = kNoShape;
  };
  struct Sheet {
    std::vector<Slot> slots;  // ascending by (row, col)
    // Per block of kBlockRows rows from the first slot's to the last
    // slot's: the block's first slot.
    std::vector<uint32_t> block_first;
    uint32_t base_block = 0;
  };
  const Slot* slot_of(const CellKey& key) const;

  std::vector<Sheet> sheets_;
  absl::flat_hash_map<CellKey, uint32_t> extra_;
  size_t size_ = 0;
};

template <typename Fn>
void FormulaTable::for_each_sorted(const Fn& fn) const {
  std::vector<std::pair<CellKey, uint32_t>> extra(extra_.begin(), extra_.end());
  std::sort(extra.begin(), extra.end());
  auto more = extra.begin();
  for (uint32_t s = 0; s < sheets_.size(); ++s) {
    for (const Slot& slot : sheets_[s].slots) {
      if (slot.shape == kNoShape) continue;
      const CellKey key{s, slot.row, slot.col};
      for (; more != extra.end() && more->first < key; ++more) fn(more->first, more->second);
      fn(key, slot.shape);
    }
  }
  for (; more != extra.end(); ++more) fn(more->first, more->second);
}

struct EngineState {
  std::vector<model::DefinedName> defined_names;
  absl::flat_hash_map<std::string, uint32_t> sheet_map;
  // Key: scope (a sheet index, or kWorkbookScope) and the ASCII-lower-cased name.
  absl::flat_hash_map<std::pair<uint32_t, std::string>, size_t> name_map;
  absl::flat_hash_map<std::string, model::WorkbookTable> table_map;
  // Every formula cell and the index of its shape.
  FormulaTable formulas;
  std::vector<std::unique_ptr<FormulaShape>> shapes;
  absl::flat_hash_map<std::string, uint32_t> shapes_by_key;   // movable shapes, and kNoShape
  absl::flat_hash_map<std::string, uint32_t> shapes_by_text;  // the others
  // Per column, the movable shape registered there last: a fill down the
  // column is recognised by its text alone.
  std::vector<uint32_t> recent_shapes;
  // The references of cells whose shape does not move, each once in the
  // order found.
  absl::flat_hash_map<CellKey, std::vector<ReferencedRange>> fixed_references;
  absl::flat_hash_map<uint32_t, SheetDependents> range_dependents;
  absl::flat_hash_set<CellKey> volatile_cells;
  absl::flat_hash_map<CellKey, model::CellRange> array_anchor_ranges;
  absl::flat_hash_map<uint32_t, std::vector<ArrayAnchor>> array_ranges_by_sheet;
  // The area each array anchor whose spill was blocked meant to fill
  // (normalised), and those areas by sheet: an edit inside one runs its
  // anchor again.
  absl::flat_hash_map<CellKey, model::CellRange> spill_areas;
  absl::flat_hash_map<uint32_t, SheetDependents> spill_area_index;
  ParseCache parse_cache;
};

inline constexpr uint32_t kWorkbookScope = UINT32_MAX;

std::optional<FormulaEntry> find_formula(const EngineState& state, const CellKey& key);

// The ranges the formula at `key` reads, each once, in the order found.
using ReferenceList = absl::InlinedVector<ReferencedRange, 4>;
void formula_references(const EngineState& state, const CellKey& key, const FormulaEntry& entry,
                        ReferenceList& out);

// The formula cells that read the cell, or that read part of the multi-cell
// array range it anchors; a cell may come more than once.
void dependents_of(const EngineState& state, const CellKey& cell,
                   const std::function<void(const CellKey&)>& fn);

void rebuild_array_range_index(EngineState& state, const std::vector<model::SheetModel>& sheets);

// Records (or replaces) the area a blocked anchor means to fill; absent
// forgets it.
void set_spill_area(EngineState& state, const CellKey& anchor,
                    std::optional<model::CellRange> area);

// The anchors whose spill area holds the cell, other than the cell itself.
void spill_anchors_over(const EngineState& state, const CellKey& cell,
                        const std::function<void(const CellKey&)>& fn);

// Registration.
struct NameReference {
  std::optional<std::string> sheet;  // the qualifier as written
  uint32_t context_sheet = 0;
  std::string name;  // as written
};

std::unique_ptr<EngineState> rebuild_graph(const model::WorkbookModel& model);
void update_graph_cell(EngineState& state, uint32_t sheet, uint32_t row, uint32_t col,
                       std::optional<std::string_view> text);
void register_formula(EngineState& state, const CellKey& key, std::string_view text);
bool analyze_volatility(uint32_t sheet, const Expr& expr, std::vector<NameReference>& names);
std::vector<NameReference> collect_name_references(uint32_t sheet, const Expr& expr);
std::optional<std::pair<uint32_t, const model::DefinedName*>> find_graph_name(
    const EngineState& state, const NameReference& ref);

}  // namespace cmx::formula
