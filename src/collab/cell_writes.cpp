#include "collab/cell_writes.h"

#include <algorithm>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <variant>

#include "absl/container/flat_hash_map.h"
#include "collab/bootstrap.h"
#include "collab/layout.h"
#include "collab/local_operations.h"
#include "collab/projection.h"
#include "collab/undo_history.h"
#include "crdt/crdt.h"
#include "crdt/lib0.h"

namespace cmx::collab {
namespace {

using crdt::AnyKind;
using crdt::ValueKind;

// What the projection's metadata checks accept, read without failing.
bool metadata_decodes(const crdt::Doc& doc, const AuthoredBase& base) {
  crdt::Branch* root = doc.find_root(kMetadataRoot);
  if (root == nullptr) return false;
  const crdt::MapRef metadata(root);
  auto version = read_metadata_integer(metadata, kSchemaVersionKey);
  if (!version || *version < kOldestSchemaVersion || *version > kSchemaVersion) return false;
  auto fingerprint = metadata.get(kBaseFingerprintKey);
  if (!fingerprint || fingerprint->kind != ValueKind::kAny || !fingerprint->any.is(AnyKind::kString)) return false;
  auto accepted = base.accepted_fingerprints.find(*version);
  if (accepted == base.accepted_fingerprints.end() ||
      std::find(accepted->second.begin(), accepted->second.end(), fingerprint->any.as_string()) ==
          accepted->second.end()) {
    return false;
  }
  auto generation = read_metadata_integer(metadata, kStructureGenerationKey);
  return generation && *generation >= 0;
}

// The active sheet maps in order; none when the order or a map does not
// decode as the projection reads them.
std::optional<std::vector<crdt::MapRef>> active_sheet_maps(const crdt::Doc& doc) {
  crdt::Branch* order_root = doc.find_root(kSheetOrderRoot);
  crdt::Branch* sheets_root = doc.find_root(kSheetsRoot);
  if (order_root == nullptr || sheets_root == nullptr) return std::nullopt;
  auto order = read_sheet_order(crdt::ArrayRef(order_root));
  if (!order) return std::nullopt;
  const crdt::MapRef sheets(sheets_root);
  std::set<std::string_view> seen;
  std::vector<crdt::MapRef> maps;
  maps.reserve(order->size());
  for (const std::string& key : *order) {
    if (!seen.insert(key).second) return std::nullopt;
    auto sheet_map = nested_map(sheets, key);
    if (!sheet_map) return std::nullopt;
    maps.push_back(*sheet_map);
  }
  return maps;
}

// One cell as decode_sheet_map builds it: the content with its style, or a
// style alone when it names a format other than the default.
std::optional<std::optional<model::SheetCell>> read_cell(const crdt::MapRef& sheet_map,
                                                         const CellFormatCatalog& catalog, uint32_t row,
                                                         uint32_t col) {
  auto contents = nested_map(sheet_map, kContentsKey);
  auto styles = nested_map(sheet_map, kStylesKey);
  if (!contents || !styles) return std::nullopt;
  const std::string key = format_cell_key(row, col);
  std::optional<model::SheetCell> cell;
  if (auto value = contents->get(key)) {
    if (value->kind != ValueKind::kAny) return std::nullopt;
    auto decoded = decode_cell_content(value->any);
    if (!decoded) return std::nullopt;
    cell = std::move(*decoded);
  }
  std::optional<uint32_t> style;
  if (auto value = styles->get(key)) {
    if (value->kind != ValueKind::kAny || !value->any.is(AnyKind::kString)) return std::nullopt;
    auto found = catalog.style_of.find(value->any.as_string());
    if (found == catalog.style_of.end()) return std::nullopt;
    style = found->second;
  }
  if (cell) {
    cell->style = style;
  } else if (style) {
    cell = model::SheetCell{{}, {}, style};
  }
  return cell;
}

std::optional<CellFormatCatalog> read_catalog(const crdt::Doc& doc, const AuthoredBase& base) {
  crdt::Branch* root = doc.find_root(kCellFormatsRoot);
  if (root == nullptr) return std::nullopt;
  auto catalog = read_cell_format_catalog(crdt::MapRef(root), base.base_styles);
  if (!catalog) return std::nullopt;
  return std::move(*catalog);
}

bool same_doc(const std::weak_ptr<const crdt::Doc>& seen, const std::shared_ptr<crdt::Doc>& doc) {
  return !seen.expired() && !seen.owner_before(doc) && !doc.owner_before(seen);
}

// The items under the catalog's keys, in key order: an entry's text is its
// item's, so the same items give the same catalog.
std::vector<std::pair<crdt::ID, bool>> catalog_items(const crdt::Branch& root) {
  std::vector<std::pair<crdt::ID, bool>> items;
  for (const auto& [key, item] : crdt::sorted_entries(root)) items.emplace_back(item->id, item->deleted);
  return items;
}

}  // namespace

struct CatalogMemo {
  std::weak_ptr<const crdt::Doc> doc;
  std::weak_ptr<const AuthoredBase> base;
  std::vector<std::pair<crdt::ID, bool>> items;
  CellFormatCatalog catalog;
};

namespace {

// read_catalog, decoding again only when the catalog's items changed. The
// caller holds the read lock.
std::optional<CellFormatCatalog> memo_catalog(const Authority& authority) {
  const crdt::Doc& doc = *authority.doc;
  crdt::Branch* root = doc.find_root(kCellFormatsRoot);
  if (root == nullptr) return std::nullopt;
  std::vector<std::pair<crdt::ID, bool>> items = catalog_items(*root);
  CatalogMemo* memo = authority.catalog_memo.get();
  if (memo != nullptr && same_doc(memo->doc, authority.doc) && !memo->base.owner_before(authority.base) &&
      !authority.base.owner_before(memo->base) && !memo->base.expired() && memo->items == items) {
    return memo->catalog;
  }
  auto catalog = read_catalog(doc, *authority.base);
  if (!catalog) return std::nullopt;
  auto fresh = std::make_shared<CatalogMemo>(CatalogMemo{authority.doc, authority.base, std::move(items), *catalog});
  authority.catalog_memo = std::move(fresh);
  return catalog;
}


// The bytes a SetCell's update can take at most: for each of its two entries
// (content and style) one item (info byte, an origin or a parent with the
// key, the value) and one deletion range, with room for the headers.
uint64_t cell_write_bound(const ops::SetCell& set) {
  constexpr uint64_t kEntryOverhead = 128;
  const uint64_t key = format_cell_key(set.address.cell.row, set.address.cell.col).size();
  uint64_t value = 0;
  if (auto content = encode_cell_content(set.cell)) {
    crdt::Encoder encoder;
    crdt::write_any(encoder, *content);
    value = encoder.size();
  }
  // A style entry is a 64-digit id.
  return value + 64 + 2 * (key + kEntryOverhead);
}

}  // namespace

bool only_cell_writes(const std::vector<ops::WorkbookOp>& ops) {
  if (ops.empty()) return false;
  return std::all_of(ops.begin(), ops.end(),
                     [](const ops::WorkbookOp& op) { return std::holds_alternative<ops::SetCell>(op); });
}

std::vector<model::CellAddress> written_cells(const std::vector<ops::WorkbookOp>& ops) {
  std::vector<model::CellAddress> cells;
  std::set<std::tuple<uint32_t, uint32_t, uint32_t>> seen;
  for (const ops::WorkbookOp& op : ops) {
    const auto* set = std::get_if<ops::SetCell>(&op);
    if (set == nullptr) continue;
    const model::CellAddress& at = set->address;
    if (seen.emplace(at.sheet, at.cell.row, at.cell.col).second) cells.push_back(at);
  }
  return cells;
}

std::optional<CellFormatCatalog> project_catalog(const Authority& authority) {
  auto lock = authority.doc->read_lock();
  return memo_catalog(authority);
}

std::optional<model::WorkbookModel> project_cells(const Authority& authority,
                                                  std::span<const model::CellAddress> cells,
                                                  CellFormatCatalog* catalog_out) {
  const crdt::Doc& doc = *authority.doc;
  const AuthoredBase& base = *authority.base;
  auto lock = doc.read_lock();
  if (!metadata_decodes(doc, base)) return std::nullopt;
  auto catalog = memo_catalog(authority);
  if (!catalog) return std::nullopt;
  auto maps = active_sheet_maps(doc);
  if (!maps) return std::nullopt;

  model::WorkbookModel model;
  model.defined_names = base.defined_names;
  model.date_system = base.date_system;
  model.styles = catalog->styles;
  model.sheets.resize(maps->size());
  for (size_t i = 0; i < maps->size(); ++i) {
    auto name = (*maps)[i].get(kNameKey);
    if (!name || name->kind != ValueKind::kAny || !name->any.is(AnyKind::kString)) return std::nullopt;
    model.sheets[i].name = name->any.as_string();
  }
  for (const model::CellAddress& at : cells) {
    // A sheet beyond the order is the operation's own error to report.
    if (at.sheet >= maps->size()) continue;
    auto cell = read_cell((*maps)[at.sheet], *catalog, at.cell.row, at.cell.col);
    if (!cell) return std::nullopt;
    if (*cell) model.sheets[at.sheet].cells.insert_or_assign(model::CellKey{at.cell.row, at.cell.col}, **cell);
  }
  if (catalog_out != nullptr) *catalog_out = std::move(*catalog);
  return model;
}

std::optional<std::vector<std::pair<model::CellAddress, std::optional<model::SheetCell>>>> project_cell_list(
    const Authority& authority, std::span<const model::CellAddress> cells, const CellFormatCatalog& catalog) {
  auto lock = authority.doc->read_lock();
  auto maps = active_sheet_maps(*authority.doc);
  if (!maps) return std::nullopt;
  std::vector<std::pair<model::CellAddress, std::optional<model::SheetCell>>> out;
  out.reserve(cells.size());
  for (const model::CellAddress& at : cells) {
    if (at.sheet >= maps->size()) return std::nullopt;
    auto cell = read_cell((*maps)[at.sheet], catalog, at.cell.row, at.cell.col);
    if (!cell) return std::nullopt;
    out.emplace_back(at, std::move(*cell));
  }
  return out;
}

uint64_t state_size_bound(Authority& authority) {
  const crdt::Doc& doc = *authority.doc;
  if (!same_doc(authority.bound_doc, authority.doc) ||
      authority.bound_transactions != doc.committed_transactions()) {
    authority.bound_bytes = encode_document_state(doc).size();
    authority.bound_doc = authority.doc;
    authority.bound_transactions = doc.committed_transactions();
  }
  return authority.bound_bytes;
}

void raise_state_size_bound(Authority& authority, uint64_t bytes) {
  // Only over the one transaction of the write, if it opened one.
  const uint64_t committed = authority.doc->committed_transactions();
  if (same_doc(authority.bound_doc, authority.doc) && authority.bound_transactions == committed) return;
  if (same_doc(authority.bound_doc, authority.doc) && authority.bound_transactions + 1 == committed) {
    authority.bound_bytes += bytes;
    authority.bound_transactions += 1;
  } else {
    authority.bound_doc.reset();
  }
}

Result<std::optional<InPlaceCellWrite>, AuthorityError> write_cells_as_undo_step(
    Authority& authority, const std::vector<ops::WorkbookOp>& ops, const model::StyleSheet& source_styles,
    uint64_t max_bytes, uint64_t max_entries) {
  using Declined = std::optional<InPlaceCellWrite>;
  if (!only_cell_writes(ops)) return Declined();
  crdt::Doc& doc = *authority.doc;
  uint64_t entries = 0;
  {
    auto lock = doc.read_lock();
    entries = doc.state_vector().size();
  }
  // The write adds at most this replica's own entry.
  if (entries + 1 > max_entries) return Declined();
  auto before = project_catalog(authority);
  if (!before) return Declined();
  const uint64_t state_bound = state_size_bound(authority);

  auto manager = build_undo_manager(doc, authority.saved_undo, authority.saved_redo);
  if (!manager) return Declined();
  (*manager)->stop_capturing();

  LocalWriteOptions options;
  const std::string origin = tracked_origin(doc);
  options.transaction_origin = origin;
  options.record_step = false;
  options.partial_only = true;
  options.admit = [&](const model::WorkbookModel& projection, const std::vector<ops::WorkbookOp>& list, size_t) {
    uint64_t bound = 64;
    for (const ops::WorkbookOp& op : list) bound += cell_write_bound(std::get<ops::SetCell>(op));
    // The catalog write stores each format the catalog lacks or holds in
    // another text.
    auto lock = doc.read_lock();
    crdt::Branch* catalog_root = doc.find_root(kCellFormatsRoot);
    if (catalog_root == nullptr) return false;
    const crdt::MapRef catalog(catalog_root);
    auto entry_bound = [&](const EncodedCellFormat& encoded) -> uint64_t {
      auto stored = catalog.get(encoded.id);
      if (stored && stored->kind == ValueKind::kAny && stored->any.is(AnyKind::kString) &&
          stored->any.as_string() == encoded.text) {
        return 0;
      }
      return encoded.text.size() + encoded.id.size() + 256;
    };
    bound += entry_bound(encode_cell_format(default_cell_format()));
    for (size_t i = 0; i < projection.styles.cell_xfs.size(); ++i) {
      bound += entry_bound(encode_cell_format(model::resolve_cell_format(projection.styles, static_cast<uint32_t>(i))));
    }
    return bound <= max_bytes && state_bound <= max_bytes - std::min(bound, max_bytes);
  };
  CMX_ASSIGN_OR_RETURN(LocalWrite written,
                       apply_local_operation(authority, ops, LocalOrigin::kUser, source_styles, options));
  if (!written.written) return Declined();
  authority.saved_undo = save_undo_stack((*manager)->undo_stack());
  authority.saved_redo = save_undo_stack((*manager)->redo_stack());
  (*manager).reset();

  InPlaceCellWrite result;
  result.update = written.update ? std::move(*written.update) : std::vector<uint8_t>{0, 0};
  raise_state_size_bound(authority, result.update.size());
  auto after = project_catalog(authority);
  if (!after) return unexpected(AuthorityError{AuthorityError::Kind::kCollaborativeState, 0,
                                               "cell format catalog does not decode after a cell write"});
  for (const auto& [id, style] : before->style_of) {
    auto found = after->style_of.find(id);
    if (found == after->style_of.end() || found->second != style) result.styles_kept = false;
  }
  const std::vector<model::CellAddress> cells = written_cells(ops);
  auto projected = project_cell_list(authority, cells, *after);
  if (!projected) return unexpected(AuthorityError{AuthorityError::Kind::kCollaborativeState, 0,
                                                   "written cells do not decode after a cell write"});
  result.cells = std::move(*projected);
  if (after->style_of.size() != before->style_of.size()) result.catalog = std::move(*after);
  return std::optional<InPlaceCellWrite>(std::move(result));
}

}  // namespace cmx::collab

namespace cmx::collab {
namespace {

// Where an entry lives: its map (one of the allowed ones) and its key.
struct EntryPlace {
  crdt::Branch* map = nullptr;
  const std::string* key = nullptr;
};

// The contents and styles maps of the active sheets: map -> (sheet, contents?).
using CellMaps = absl::flat_hash_map<const crdt::Branch*, std::pair<uint32_t, bool>>;

class RemotePlanner {
 public:
  RemotePlanner(const crdt::Doc& doc, const crdt::Update& update, const CellMaps& maps,
                const CellFormatCatalog& catalog)
      : doc_(doc), update_(update), maps_(maps), catalog_(catalog) {}

  bool run(RemoteCellPlan& plan) {
    const crdt::StructStore& store = doc_.store();
    const crdt::StateVector live = doc_.state_vector();
    bool advances = false;
    size_t blocks = 0;
    for (const auto& [client, list] : update_.clients) {
      if (list.empty()) continue;
      const uint32_t state = live.get(client);
      if (list.front().id.clock > state) return false;
      const crdt::Block& last = list.back();
      if (uint64_t{last.id.clock} + last.length > state) {
        advances = true;
        if (state == 0 && store.clients().find(client) == store.clients().end()) ++plan.new_clients;
      }
      for (const crdt::Block& block : list) {
        ++blocks;
        if (uint64_t{block.id.clock} + block.length <= state) continue;  // known already
        auto place = place_of_block(block, 0);
        if (!place || !take_entry(*place, &block, plan)) return false;
      }
    }
    if (!advances) return false;

    size_t ranges = 0;
    for (const auto& [client, list] : update_.delete_set.clients()) {
      const uint32_t state = live.get(client);
      for (const crdt::DeleteRange& range : list) {
        ++ranges;
        const uint64_t end = uint64_t{range.clock} + range.len;
        if (range.clock < state && !deleted_in_store(client, range.clock, std::min<uint64_t>(end, state), plan)) {
          return false;
        }
        // Beyond the document's state only the update's own structs may be
        // deleted, else the range would wait.
        for (uint64_t clock = std::max<uint64_t>(range.clock, state); clock < end;) {
          const crdt::Block* block = find_block(crdt::ID{client, static_cast<uint32_t>(clock)});
          if (block == nullptr) return false;
          clock = uint64_t{block->id.clock} + block->length;
        }
      }
    }
    // Each struct and each range may split a struct of the state at both
    // ends; a split adds at most an info byte, an origin id and a length.
    constexpr uint64_t kSplitBytes = 32;
    plan.state_growth = 64 + 2 * kSplitBytes * (blocks + ranges);
    return true;
  }

 private:
  const crdt::Block* find_block(crdt::ID id) const {
    auto found = update_.clients.find(id.client);
    if (found == update_.clients.end()) return nullptr;
    const std::vector<crdt::Block>& list = found->second;
    auto after = std::upper_bound(list.begin(), list.end(), id.clock,
                                  [](uint32_t clock, const crdt::Block& b) { return clock < b.id.clock; });
    if (after == list.begin()) return nullptr;
    const crdt::Block& block = *(after - 1);
    return uint64_t{id.clock} < uint64_t{block.id.clock} + block.length ? &block : nullptr;
  }

  // The map and key of an entry an origin points at, in the document or in
  // the update; only items of the allowed maps qualify.
  std::optional<EntryPlace> place_of_id(crdt::ID id, int depth) const {
    if (doc_.store().get_state(id.client) > id.clock) {
      const crdt::Item* item = doc_.store().find(id);
      if (item == nullptr || item->kind != crdt::StructKind::kItem || item->parent == nullptr || !item->parent_sub) {
        return std::nullopt;
      }
      if (!maps_.contains(item->parent)) return std::nullopt;
      return EntryPlace{item->parent, &*item->parent_sub};
    }
    const crdt::Block* block = find_block(id);
    if (block == nullptr) return std::nullopt;
    return place_of_block(*block, depth + 1);
  }

  std::optional<EntryPlace> place_of_block(const crdt::Block& block, int depth) const {
    // Chains of the update's own blocks are short for cell edits; a long one
    // is left to the scratch replica.
    if (depth > 64 || block.kind != crdt::StructKind::kItem) return std::nullopt;
    if (block.content != crdt::ContentKind::kAny && block.content != crdt::ContentKind::kDeleted) {
      return std::nullopt;
    }
    if (block.parent_id) {
      const crdt::Item* holder = doc_.store().find(*block.parent_id);
      if (holder == nullptr || holder->kind != crdt::StructKind::kItem ||
          holder->content.kind != crdt::ContentKind::kType || holder->content.type == nullptr ||
          !maps_.contains(holder->content.type) || !block.parent_sub) {
        return std::nullopt;
      }
      return EntryPlace{holder->content.type, &*block.parent_sub};
    }
    if (block.parent_name) return std::nullopt;
    if (block.origin) return place_of_id(*block.origin, depth);
    if (block.right_origin) return place_of_id(*block.right_origin, depth);
    return std::nullopt;
  }

  bool note_cell(const EntryPlace& place, RemoteCellPlan& plan) {
    auto ref = parse_cell_key(*place.key);
    if (!ref) return false;
    const uint32_t sheet = maps_.at(place.map).first;
    if (seen_.emplace(sheet, ref->row, ref->col).second) {
      plan.cells.push_back(model::CellAddress{sheet, model::CellRef{ref->row, ref->col}});
    }
    return true;
  }

  bool take_entry(const EntryPlace& place, const crdt::Block* block, RemoteCellPlan& plan) {
    if (!note_cell(place, plan)) return false;
    if (block == nullptr || block->content == crdt::ContentKind::kDeleted) return true;
    if (block->length != 1 || block->values.size() != 1) return false;
    const crdt::Any& value = block->values.front();
    if (maps_.at(place.map).second) {
      auto cell = decode_cell_content(value);
      if (!cell) return false;
      plan.written.push_back(std::move(*cell));
    } else {
      if (!value.is(AnyKind::kString)) return false;
      auto style = catalog_.style_of.find(value.as_string());
      if (style == catalog_.style_of.end()) return false;
      plan.written.push_back(model::SheetCell{{}, {}, style->second});
    }
    return true;
  }

  // The live items of [clock, end) of a client must all be cell entries.
  bool deleted_in_store(uint64_t client, uint32_t clock, uint64_t end, RemoteCellPlan& plan) {
    const auto found = doc_.store().clients().find(client);
    if (found == doc_.store().clients().end()) return false;
    const crdt::StructStore::ClientStructs& structs = found->second;
    for (size_t i = crdt::StructStore::find_index(structs, clock); i < structs.size(); ++i) {
      const crdt::Item& item = *structs[i];
      if (item.id.clock >= end) break;
      if (item.kind == crdt::StructKind::kSkip) return false;
      if (item.kind == crdt::StructKind::kGc || item.deleted) continue;
      if (item.parent == nullptr || !item.parent_sub || !maps_.contains(item.parent)) return false;
      if (!note_cell(EntryPlace{item.parent, &*item.parent_sub}, plan)) return false;
    }
    return true;
  }

  const crdt::Doc& doc_;
  const crdt::Update& update_;
  const CellMaps& maps_;
  const CellFormatCatalog& catalog_;
  std::set<std::tuple<uint32_t, uint32_t, uint32_t>> seen_;
};

}  // namespace

std::optional<RemoteCellPlan> remote_cell_plan(const Authority& authority, const crdt::Update& update,
                                               uint64_t update_bytes) {
  const crdt::Doc& doc = *authority.doc;
  const AuthoredBase& base = *authority.base;
  auto lock = doc.read_lock();
  if (doc.has_pending() || !metadata_decodes(doc, base)) return std::nullopt;
  {
    // Anything but the current schema under the base's own fingerprint is
    // migrated by the trial, which writes.
    const crdt::MapRef metadata(doc.find_root(kMetadataRoot));
    auto version = read_metadata_integer(metadata, kSchemaVersionKey);
    auto fingerprint = metadata.get(kBaseFingerprintKey);
    if (*version != kSchemaVersion || fingerprint->any.as_string() != base.base_fingerprint) return std::nullopt;
  }
  auto catalog = memo_catalog(authority);
  auto sheets = active_sheet_maps(doc);
  if (!catalog || !sheets) return std::nullopt;
  CellMaps maps;
  for (uint32_t i = 0; i < sheets->size(); ++i) {
    auto contents = nested_map((*sheets)[i], kContentsKey);
    auto styles = nested_map((*sheets)[i], kStylesKey);
    if (!contents || !styles) return std::nullopt;
    maps.emplace(contents->branch(), std::pair(i, true));
    maps.emplace(styles->branch(), std::pair(i, false));
  }
  RemoteCellPlan plan;
  RemotePlanner planner(doc, update, maps, *catalog);
  if (!planner.run(plan)) return std::nullopt;
  plan.state_growth += update_bytes;
  return plan;
}

}  // namespace cmx::collab
