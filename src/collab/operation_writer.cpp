#include "collab/operation_writer.h"

#include <algorithm>
#include <limits>
#include <set>
#include <tuple>
#include <type_traits>
#include <utility>
#include <variant>

#include "base/number_text.h"
#include "collab/bootstrap.h"
#include "collab/cell_formats.h"
#include "collab/layout.h"
#include "collab/projection.h"
#include "crdt/crdt.h"

namespace cmx::collab {

using crdt::Any;

std::string_view local_origin_text(LocalOrigin origin) {
  switch (origin) {
    case LocalOrigin::kUser: return "xlsx:user";
    case LocalOrigin::kAgent: return "xlsx:agent";
    case LocalOrigin::kUndo: return "xlsx:undo";
    case LocalOrigin::kRedo: return "xlsx:redo";
  }
  return "xlsx:user";
}

namespace {

using Keys = std::vector<std::string>;

struct KindTraits {
  bool generation = false;
  bool full = false;
};

KindTraits traits_of(const ops::WorkbookOp& op) {
  return std::visit(
      [](const auto& step) -> KindTraits {
        using T = std::decay_t<decltype(step)>;
        if constexpr (std::is_same_v<T, ops::SetCell> || std::is_same_v<T, ops::SetColumnWidth> ||
                      std::is_same_v<T, ops::SetRowHeight> || std::is_same_v<T, ops::PatchStyle> ||
                      std::is_same_v<T, ops::SetNumberFormat> || std::is_same_v<T, ops::SetCellFormats>) {
          return {false, false};
        } else if constexpr (std::is_same_v<T, ops::SetChartAnchor>) {
          return {false, true};
        } else if constexpr (std::is_same_v<T, ops::MergeCells> || std::is_same_v<T, ops::UnmergeCells> ||
                             std::is_same_v<T, ops::InsertSheet> || std::is_same_v<T, ops::SetDefinedNames>) {
          return {true, false};
        } else {
          return {true, true};
        }
      },
      op);
}

std::optional<model::CellRange> styled_range(const ops::WorkbookOp& op) {
  if (const auto* patch = std::get_if<ops::PatchStyle>(&op)) return patch->range;
  if (const auto* format = std::get_if<ops::SetNumberFormat>(&op)) return format->range;
  if (const auto* formats = std::get_if<ops::SetCellFormats>(&op)) return formats->range;
  return std::nullopt;
}

std::string fill(std::string_view pattern, std::string_view value) {
  std::string out(pattern);
  out.replace(out.find("{}"), 2, value);
  return out;
}

uint64_t masked_client_id(const crdt::Doc& doc) { return doc.client_id() & crdt::kMaxClientId; }

// W2: the new order and the step to record.
Result<std::pair<Keys, StructureStepKind>, std::string> plan_order(Authority& authority, const Keys& current,
                                                                   const std::vector<ops::WorkbookOp>& ops,
                                                                   LocalOrigin origin, size_t sheet_count,
                                                                   StructureStep& step) {
  if (origin == LocalOrigin::kUndo || origin == LocalOrigin::kRedo) {
    const bool undo = origin == LocalOrigin::kUndo;
    const std::vector<StructureStep>& list = undo ? authority.structure_undo : authority.structure_redo;
    const std::string_view word = undo ? "undo" : "redo";
    if (list.empty()) return unexpected("sheet-order " + std::string(word) + " history is empty");
    const StructureStep& last = list.back();
    if ((undo ? last.after : last.before) != current) {
      return unexpected("sheet-order " + std::string(word) + " history does not match current state");
    }
    const Keys& target = undo ? last.before : last.after;
    if (target.size() != sheet_count) {
      return unexpected("sheet-order " + std::string(word) + " result does not match workbook");
    }
    step = last;
    return std::pair{target, undo ? StructureStepKind::kUndo : StructureStepKind::kRedo};
  }
  Keys order = current;
  const std::string client = format_u64(masked_client_id(*authority.doc));
  for (const ops::WorkbookOp& op : ops) {
    if (const auto* insert = std::get_if<ops::InsertSheet>(&op)) {
      if (insert->index > order.size()) {
        return unexpected(fill("sheet insertion index {} is out of range", format_u64(insert->index)));
      }
      order.insert(order.begin() + static_cast<ptrdiff_t>(insert->index),
                   "replica:" + client + ":" + format_u64(authority.replica_sheet_counter++));
    } else if (const auto* remove = std::get_if<ops::RemoveSheet>(&op)) {
      if (remove->index >= order.size()) {
        return unexpected(fill("sheet removal index {} is out of range", format_u64(remove->index)));
      }
      order.erase(order.begin() + static_cast<ptrdiff_t>(remove->index));
    }
  }
  if (order.size() != sheet_count) return unexpected(std::string("sheet order does not match workbook projection"));
  step = StructureStep{current, order};
  return std::pair{std::move(order), StructureStepKind::kNewStep};
}

// The entries an incremental write touches, each keyed by sheet key.
struct DirtySets {
  std::set<std::tuple<std::string, uint32_t, uint32_t>> contents;
  std::set<std::tuple<std::string, uint32_t, uint32_t>> styles;
  std::set<std::pair<std::string, uint32_t>> col_widths;
  std::set<std::pair<std::string, uint32_t>> row_heights;
  std::set<std::string> merges;
  bool empty() const {
    return contents.empty() && styles.empty() && col_widths.empty() && row_heights.empty() && merges.empty();
  }
};

// W7: the slots of the sheets as the operations move them, and the entries
// they dirty on sheets that already exist.
Result<DirtySets, std::string> plan_incremental(const Keys& current, const Keys& order,
                                                const std::vector<ops::WorkbookOp>& ops,
                                                const PreOperationStyles& pre_styles) {
  std::vector<std::optional<std::string>> slots(current.begin(), current.end());
  struct Target {
    size_t op;
    std::optional<std::string> key;  // none: a new sheet, written whole
  };
  std::vector<Target> targets;
  for (size_t i = 0; i < ops.size(); ++i) {
    const ops::WorkbookOp& op = ops[i];
    if (const auto* insert = std::get_if<ops::InsertSheet>(&op)) {
      if (insert->index > slots.size()) {
        return unexpected(fill("sheet insertion index {} is out of range", format_u64(insert->index)));
      }
      slots.insert(slots.begin() + static_cast<ptrdiff_t>(insert->index), std::nullopt);
    } else if (const auto* remove = std::get_if<ops::RemoveSheet>(&op)) {
      if (remove->index >= slots.size()) {
        return unexpected(fill("sheet removal index {} is out of range", format_u64(remove->index)));
      }
      slots.erase(slots.begin() + static_cast<ptrdiff_t>(remove->index));
    } else if (auto sheet = ops::op_sheet(op)) {
      if (*sheet >= slots.size()) return unexpected(fill("sheet {} is out of range", format_u64(*sheet)));
      targets.push_back({i, slots[*sheet]});
    }
  }
  if (slots.size() != order.size()) return unexpected(std::string("sheet operation plan does not match final order"));
  for (size_t i = 0; i < slots.size(); ++i) {
    if (slots[i] && *slots[i] != order[i]) {
      return unexpected(std::string("sheet operation plan changed retained identity"));
    }
  }

  DirtySets dirty;
  for (const Target& target : targets) {
    if (!target.key) continue;
    const std::string& key = *target.key;
    const ops::WorkbookOp& op = ops[target.op];
    if (const auto* set = std::get_if<ops::SetCell>(&op)) {
      const model::CellRef at = set->address.cell;
      dirty.contents.emplace(key, at.row, at.col);
      auto before = pre_styles.find(StyledCell{set->address.sheet, at.row, at.col});
      const std::optional<uint32_t> old_style = before == pre_styles.end() ? std::nullopt : before->second;
      if (set->cell.style != old_style) dirty.styles.emplace(key, at.row, at.col);
    } else if (auto range = styled_range(op)) {
      for (uint32_t row = range->start.row; row <= range->end.row; ++row) {
        for (uint32_t col = range->start.col; col <= range->end.col; ++col) dirty.styles.emplace(key, row, col);
      }
    } else if (const auto* width = std::get_if<ops::SetColumnWidth>(&op)) {
      dirty.col_widths.emplace(key, width->column);
    } else if (const auto* height = std::get_if<ops::SetRowHeight>(&op)) {
      dirty.row_heights.emplace(key, height->row);
    } else if (std::holds_alternative<ops::MergeCells>(op) || std::holds_alternative<ops::UnmergeCells>(op)) {
      dirty.merges.insert(key);
    } else {
      return unexpected(std::string("semantic operation requires a full sync"));
    }
  }
  return dirty;
}

// One prepared write of a plain entry: a value under the write rule, or a
// removal. `nested` names the sheet's nested map, empty for the sheet map.
struct EntryWrite {
  crdt::MapRef sheet;
  std::string_view nested;
  std::string key;
  std::optional<Any> value;
};

struct SheetTarget {
  crdt::MapRef map;
  const model::SheetModel* sheet;
};

Result<SheetTarget, std::string> resolve_sheet_target(const crdt::MapRef& sheets, const Keys& order,
                                                      const model::WorkbookModel& projection,
                                                      const std::string& key) {
  auto at = std::find(order.begin(), order.end(), key);
  if (at == order.end()) return unexpected(fill("sheet {} is not active", key));
  auto value = sheets.get(key);
  if (!value || value->kind != crdt::ValueKind::kMap) return unexpected(fill("missing sheet {}", key));
  const auto position = static_cast<size_t>(at - order.begin());
  if (position >= projection.sheets.size()) return unexpected(fill("sheet {} is missing from the projection", key));
  return SheetTarget{value->as_map(), &projection.sheets[position]};
}

const model::SheetCell* find_cell(const model::SheetModel& sheet, uint32_t row, uint32_t col) {
  auto found = sheet.cells.find(model::CellKey{row, col});
  return found == sheet.cells.end() ? nullptr : &found->second;
}

// Prepares the content entry of one cell; nothing when the stored entry
// already says what the model says (a formula with the same text keeps its
// stored cached result).
Result<std::optional<EntryWrite>, std::string> content_write(const SheetTarget& target, uint32_t row, uint32_t col) {
  std::string key = format_cell_key(row, col);
  const model::SheetCell* cell = find_cell(*target.sheet, row, col);
  auto value = target.map.get(kContentsKey);
  std::optional<crdt::Value> stored;
  if (value && value->kind == crdt::ValueKind::kMap) stored = value->as_map().get(key);
  if (cell == nullptr) return EntryWrite{target.map, kContentsKey, std::move(key), std::nullopt};
  if (stored) {
    if (stored->kind != crdt::ValueKind::kAny) return unexpected(fill("cell content {} is not an atomic value", key));
    auto decoded = decode_cell_content(stored->any);
    if (!decoded) return unexpected(std::move(decoded).error());
    if (!decoded->formula && !cell->formula && decoded->value == cell->value) return std::nullopt;
    if (decoded->formula && cell->formula && *decoded->formula == *cell->formula) return std::nullopt;
  }
  return EntryWrite{target.map, kContentsKey, std::move(key), encode_cell_content(*cell)};
}

Result<EntryWrite, std::string> style_write(const SheetTarget& target, const model::StyleSheet& styles, uint32_t row,
                                            uint32_t col) {
  EntryWrite write{target.map, kStylesKey, format_cell_key(row, col), std::nullopt};
  const model::SheetCell* cell = find_cell(*target.sheet, row, col);
  if (cell != nullptr && cell->style) {
    auto id = cell_format_id_of_style(styles, *cell->style);
    if (!id) return unexpected(std::move(id).error());
    write.value = Any::string(std::move(*id));
  }
  return write;
}

EntryWrite dimension_write(const SheetTarget& target, std::string_view nested, const std::map<uint32_t, double>& dims,
                           uint32_t index) {
  EntryWrite write{target.map, nested, format_u64(index), std::nullopt};
  if (auto found = dims.find(index); found != dims.end()) write.value = Any::number(found->second);
  return write;
}

// Every style a whole sheet write will turn into a format id must exist, so
// that the write cannot stop halfway through.
Result<void, std::string> check_sheet_styles(const model::SheetModel& sheet, const model::StyleSheet& styles) {
  for (const auto& [key, cell] : sheet.cells) {
    if (cell.style && *cell.style >= styles.cell_xfs.size()) {
      return unexpected(fill("cell style index {} is out of range", format_u64(*cell.style)));
    }
  }
  return {};
}

// W11: edits the array in place by keeping, deleting and inserting.
Result<void, std::string> sync_sheet_order(crdt::Transaction& txn, crdt::ArrayRef array, Keys copy,
                                           const Keys& order) {
  constexpr size_t kIndexLimit = std::numeric_limits<uint32_t>::max();
  auto fail = [](const crdt::CrdtError& error) { return unexpected(write_failure(error)); };
  size_t p = 0;
  while (p < order.size()) {
    while (p < order.size() && p < copy.size() && copy[p] == order[p]) ++p;
    if (p >= order.size()) break;
    if (p > kIndexLimit) return unexpected(std::string(kSheetOrderRangeRefusal));
    auto found = std::find(copy.begin() + static_cast<ptrdiff_t>(p), copy.end(), order[p]);
    if (p < copy.size() && found != copy.end()) {
      const size_t k = static_cast<size_t>(found - copy.begin()) - p;
      if (k > kIndexLimit) return unexpected(std::string(kSheetOrderRangeRefusal));
      if (auto removed = array.remove_range(txn, p, k); !removed) return fail(removed.error());
      copy.erase(copy.begin() + static_cast<ptrdiff_t>(p), found);
    } else {
      if (auto inserted = array.insert(txn, p, {Any::string(order[p])}); !inserted) return fail(inserted.error());
      copy.insert(copy.begin() + static_cast<ptrdiff_t>(p), order[p]);
      ++p;
    }
  }
  if (copy.size() > order.size()) {
    if (order.size() > kIndexLimit || copy.size() - order.size() > kIndexLimit) {
      return unexpected(std::string(kSheetOrderRangeRefusal));
    }
    if (auto removed = array.remove_range(txn, order.size(), copy.size() - order.size()); !removed) {
      return fail(removed.error());
    }
  }
  return {};
}

}  // namespace

Result<void, std::string> write_operation(Authority& authority, const model::WorkbookModel& projection,
                                          const std::vector<ops::WorkbookOp>& ops, LocalOrigin origin,
                                          const PreOperationStyles& pre_styles) {
  return write_operation(authority, projection, ops, origin, pre_styles, local_origin_text(origin), true);
}

Result<void, std::string> write_operation(Authority& authority, const model::WorkbookModel& projection,
                                          const std::vector<ops::WorkbookOp>& ops, LocalOrigin origin,
                                          const PreOperationStyles& pre_styles, std::string_view transaction_origin,
                                          bool record_step) {
  crdt::Doc& doc = *authority.doc;
  const size_t sheet_count = projection.sheets.size();

  // Everything that can refuse runs here, before the transaction opens.
  Keys current;
  Keys order;
  StructureStep step;
  StructureStepKind step_kind = StructureStepKind::kNewStep;
  bool full = false;
  uint64_t weight = 0;
  DirtySets dirty;
  std::optional<int64_t> generation;
  std::vector<EntryWrite> writes;
  std::vector<std::pair<std::string, const model::SheetModel*>> whole;  // sheets written whole
  std::optional<crdt::MapRef> sheets;
  std::optional<crdt::MapRef> catalog;
  std::optional<crdt::MapRef> metadata;
  std::optional<crdt::ArrayRef> order_array;
  {
    auto lock = doc.read_lock();
    order_array = doc.find_array(kSheetOrderRoot);
    if (!order_array) return unexpected(std::string("missing sheet order"));
    auto read = read_sheet_order(*order_array);
    if (!read) return unexpected(std::move(read).error());
    current = std::move(*read);

    auto planned = plan_order(authority, current, ops, origin, sheet_count, step);
    if (!planned) return unexpected(std::move(planned).error());
    order = std::move(planned->first);
    step_kind = planned->second;

    sheets = doc.find_map(kSheetsRoot);
    if (!sheets) return unexpected(std::string("missing sheet map"));
    for (const std::string& key : current) {
      auto value = sheets->get(key);
      if (!value) return unexpected(fill("missing sheet {}", key));
      if (value->kind != crdt::ValueKind::kMap) return unexpected(fill("sheet {} is not a map", key));
    }
    for (const std::string& key : order) {
      auto value = sheets->get(key);
      if (value && value->kind != crdt::ValueKind::kMap) return unexpected(fill("sheet {} is not a map", key));
    }

    bool has_insert = false;
    bool has_set_cell = false;
    for (const ops::WorkbookOp& op : ops) {
      const KindTraits traits = traits_of(op);
      full = full || traits.full;
      if (traits.generation) ++weight;
      has_insert = has_insert || std::holds_alternative<ops::InsertSheet>(op);
      has_set_cell = has_set_cell || std::holds_alternative<ops::SetCell>(op);
    }
    full = full || (has_insert && has_set_cell);

    if (!full) {
      auto planned_dirty = plan_incremental(current, order, ops, pre_styles);
      if (!planned_dirty) return unexpected(std::move(planned_dirty).error());
      dirty = std::move(*planned_dirty);
      if (order == current && weight == 0 && dirty.empty()) {
        if (record_step) record_structure_step(authority, std::move(step), step_kind);
        return {};
      }
    }

    catalog = doc.find_map(kCellFormatsRoot);
    if (!catalog) return unexpected(std::string("missing cell format catalog"));
    if (weight > 0) {
      metadata = doc.find_map(kMetadataRoot);
      if (!metadata) return unexpected(std::string("missing workbook metadata"));
      generation = read_metadata_integer(*metadata, kStructureGenerationKey);
      if (!generation) return unexpected(std::string("missing structure generation"));
      if (*generation < 0) return unexpected(std::string("structure generation is negative"));
      if (*generation > std::numeric_limits<int64_t>::max() - static_cast<int64_t>(weight)) {
        return unexpected(std::string("structure generation overflow"));
      }
    }

    if (full) {
      for (size_t i = 0; i < order.size(); ++i) whole.emplace_back(order[i], &projection.sheets[i]);
    } else {
      for (size_t i = 0; i < order.size(); ++i) {
        if (std::find(current.begin(), current.end(), order[i]) == current.end()) {
          whole.emplace_back(order[i], &projection.sheets[i]);
        }
      }
      auto target = [&](const std::string& key) { return resolve_sheet_target(*sheets, order, projection, key); };
      for (const auto& [key, row, col] : dirty.contents) {
        auto resolved = target(key);
        if (!resolved) return unexpected(std::move(resolved).error());
        auto write = content_write(*resolved, row, col);
        if (!write) return unexpected(std::move(write).error());
        if (*write) writes.push_back(std::move(**write));
      }
      for (const auto& [key, row, col] : dirty.styles) {
        auto resolved = target(key);
        if (!resolved) return unexpected(std::move(resolved).error());
        auto write = style_write(*resolved, projection.styles, row, col);
        if (!write) return unexpected(std::move(write).error());
        writes.push_back(std::move(*write));
      }
      for (const auto& [key, col] : dirty.col_widths) {
        auto resolved = target(key);
        if (!resolved) return unexpected(std::move(resolved).error());
        writes.push_back(dimension_write(*resolved, kColWidthsKey, resolved->sheet->col_widths, col));
      }
      for (const auto& [key, row] : dirty.row_heights) {
        auto resolved = target(key);
        if (!resolved) return unexpected(std::move(resolved).error());
        writes.push_back(dimension_write(*resolved, kRowHeightsKey, resolved->sheet->row_heights, row));
      }
      for (const std::string& key : dirty.merges) {
        auto resolved = target(key);
        if (!resolved) return unexpected(std::move(resolved).error());
        writes.push_back(EntryWrite{resolved->map, {}, std::string(kMergesKey), encode_merges(resolved->sheet->merges)});
      }
    }
    for (const auto& [key, sheet] : whole) CMX_TRY(check_sheet_styles(*sheet, projection.styles));
  }

  crdt::Transaction txn(doc, std::string(transaction_origin));
  auto write = [&]() -> Result<void, std::string> {
    CMX_TRY(write_cell_format_catalog(txn, *catalog, projection.styles));
    if (generation) {
      const auto next = static_cast<uint64_t>(*generation) + weight;
      CMX_TRY(write_plain(txn, *metadata, kStructureGenerationKey, encode_structure_generation(next)));
    }
    if (order != current) CMX_TRY(sync_sheet_order(txn, *order_array, current, order));
    for (const auto& [key, sheet] : whole) {
      auto value = sheets->get(key);
      auto sheet_map = value && value->kind == crdt::ValueKind::kMap
                           ? Result<crdt::MapRef, crdt::CrdtError>(value->as_map())
                           : sheets->insert_map(txn, key);
      if (!sheet_map) return unexpected(write_failure(sheet_map.error()));
      CMX_TRY(encode_sheet_map(txn, *sheet_map, *sheet, projection.styles));
    }
    for (EntryWrite& entry : writes) {
      crdt::MapRef map = entry.sheet;
      if (!entry.nested.empty()) {
        auto nested = fetch_or_create_map(txn, entry.sheet, entry.nested);
        if (!nested) return unexpected(std::move(nested).error());
        map = *nested;
      }
      if (entry.value) {
        CMX_TRY(write_plain(txn, map, entry.key, std::move(*entry.value)));
      } else {
        map.remove(txn, entry.key);
      }
    }
    return {};
  };
  auto written = write();
  txn.commit();
  if (!written) return unexpected(std::move(written).error());
  if (record_step) record_structure_step(authority, std::move(step), step_kind);
  return {};
}

}  // namespace cmx::collab
