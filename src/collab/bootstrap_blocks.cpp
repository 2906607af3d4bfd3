#include "collab/bootstrap_blocks.h"

#include <algorithm>
#include <limits>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "base/number_text.h"
#include "base/unicode.h"
#include "collab/cell_formats.h"
#include "collab/layout.h"
#include "json/sheet_records.h"

namespace cmx::collab {
namespace {

using crdt::Any;
using crdt::Block;

// Blocks of the bootstrap client in clock order, handed to the replica's
// transaction every few thousand so that they never all wait at once. Each
// one is what the decoder reads for an item without neighbours: its parent
// (a root by name, a nested map by the id of its item), its key in a map,
// and its content.
class BlockSink {
 public:
  BlockSink(crdt::Transaction& txn, uint64_t client) : txn_(txn), client_(client) {}

  // False once a block failed to fit the clocks or to integrate.
  bool ok() const { return ok_; }

  uint32_t root_entry(std::string_view root, std::string key, Any value) {
    Block& block = next(1);
    block.parent_name = std::string(root);
    block.parent_sub = std::move(key);
    block.content = crdt::ContentKind::kAny;
    block.values.push_back(std::move(value));
    return block.id.clock;
  }

  uint32_t entry(uint32_t parent, std::string key, Any value) {
    Block& block = next(1);
    block.parent_id = crdt::ID{client_, parent};
    block.parent_sub = std::move(key);
    block.content = crdt::ContentKind::kAny;
    block.values.push_back(std::move(value));
    return block.id.clock;
  }

  uint32_t root_map(std::string_view root, std::string key) {
    Block& block = next(1);
    block.parent_name = std::string(root);
    block.parent_sub = std::move(key);
    block.content = crdt::ContentKind::kType;
    block.type_ref = crdt::TypeRef::kMap;
    return block.id.clock;
  }

  uint32_t map(uint32_t parent, std::string key) {
    Block& block = next(1);
    block.parent_id = crdt::ID{client_, parent};
    block.parent_sub = std::move(key);
    block.content = crdt::ContentKind::kType;
    block.type_ref = crdt::TypeRef::kMap;
    return block.id.clock;
  }

  void root_list(std::string_view root, std::vector<Any> values) {
    Block& block = next(static_cast<uint32_t>(values.size()));
    block.parent_name = std::string(root);
    block.content = crdt::ContentKind::kAny;
    block.values.assign(std::make_move_iterator(values.begin()), std::make_move_iterator(values.end()));
  }

  // Hands over what is left.
  void flush() {
    if (pending_.empty() || !ok_) return;
    crdt::Update update;
    update.clients.emplace(client_, std::move(pending_));
    pending_ = {};
    pending_.reserve(kChunk);
    ok_ = txn_.apply_update(std::move(update)).has_value();
  }

 private:
  static constexpr size_t kChunk = 8192;

  Block& next(uint32_t length) {
    if (pending_.size() >= kChunk) flush();
    // A clock a block cannot have: the document's own writer would have
    // stopped here; the encoded route says how.
    if (length == 0 || uint64_t{clock_} + length > crdt::kMaxClock) ok_ = false;
    Block& block = pending_.emplace_back();
    block.id = crdt::ID{client_, clock_};
    block.length = length;
    block.kind = crdt::StructKind::kItem;
    clock_ += ok_ ? length : 0;
    return block;
  }

  crdt::Transaction& txn_;
  uint64_t client_;
  uint32_t clock_ = 0;
  bool ok_ = true;
  std::vector<Block> pending_;
};

bool utf8(std::string_view text) { return unicode::is_valid_utf8(text); }

// A cell key packed so that comparing two numbers compares the key texts:
// the row's and the column's digits, zero-padded to 16 bytes.
struct KeyedCell {
  uint64_t high = 0;
  uint64_t low = 0;
  const model::CellKey* key = nullptr;
  const model::SheetCell* cell = nullptr;
};

template <typename Wanted>
std::vector<KeyedCell> in_key_order(const model::CellMap& cells, Wanted&& wanted) {
  std::vector<KeyedCell> out;
  out.reserve(cells.size());
  for (const auto& [key, cell] : cells) {
    if (!wanted(cell)) continue;
    const std::string text = format_cell_key(key.row, key.col);
    unsigned char bytes[16] = {};
    std::copy(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(std::min<size_t>(text.size(), 16)), bytes);
    KeyedCell keyed{0, 0, &key, &cell};
    for (int i = 0; i < 8; ++i) keyed.high = (keyed.high << 8) | bytes[i];
    for (int i = 8; i < 16; ++i) keyed.low = (keyed.low << 8) | bytes[i];
    out.push_back(keyed);
  }
  std::sort(out.begin(), out.end(), [](const KeyedCell& a, const KeyedCell& b) {
    return a.high != b.high ? a.high < b.high : a.low < b.low;
  });
  return out;
}

bool cell_text_ok(const model::SheetCell& cell) {
  if (cell.value.is_text() && !utf8(cell.value.as_text())) return false;
  return !cell.formula || utf8(cell.formula->view());
}

bool write_sheet(BlockSink& sink, uint32_t sheet_map, const model::SheetModel& sheet,
                 const model::StyleSheet& styles) {
  const uint32_t widths = sink.map(sheet_map, std::string(kColWidthsKey));
  const uint32_t contents = sink.map(sheet_map, std::string(kContentsKey));
  sink.entry(sheet_map, std::string(kFreezePaneKey), encode_freeze_pane(sheet.freeze_pane));
  std::string hyperlinks = json::sheet_hyperlinks_to_json(sheet.hyperlinks);
  std::string charts = json::sheet_charts_to_json(sheet.charts);
  if (!utf8(hyperlinks) || !utf8(charts) || !utf8(sheet.name)) return false;
  sink.entry(sheet_map, std::string(kHyperlinksKey), Any::string(std::move(hyperlinks)));
  sink.entry(sheet_map, std::string(kChartsKey), Any::string(std::move(charts)));
  sink.entry(sheet_map, std::string(kMergesKey), encode_merges(sheet.merges));
  sink.entry(sheet_map, std::string(kNameKey), Any::string(sheet.name));
  const uint32_t heights = sink.map(sheet_map, std::string(kRowHeightsKey));
  const uint32_t style_map = sink.map(sheet_map, std::string(kStylesKey));

  for (const auto& [index, width] : sheet.col_widths) sink.entry(widths, format_u64(index), Any::number(width));
  for (const KeyedCell& keyed : in_key_order(sheet.cells, [](const model::SheetCell& cell) {
         return cell.formula || !cell.value.is_empty();
       })) {
    if (!cell_text_ok(*keyed.cell)) return false;
    sink.entry(contents, format_cell_key(keyed.key->row, keyed.key->col), *encode_cell_content(*keyed.cell));
  }
  for (const auto& [index, height] : sheet.row_heights) sink.entry(heights, format_u64(index), Any::number(height));
  // Many cells share a few styles: each id is made once.
  std::map<uint32_t, Any> ids;
  for (const KeyedCell& keyed :
       in_key_order(sheet.cells, [](const model::SheetCell& cell) { return cell.style.has_value(); })) {
    const uint32_t style = *keyed.cell->style;
    auto id = ids.find(style);
    if (id == ids.end()) {
      auto text = cell_format_id_of_style(styles, style);
      if (!text) return false;
      id = ids.emplace(style, Any::string(std::move(*text))).first;
    }
    sink.entry(style_map, format_cell_key(keyed.key->row, keyed.key->col), id->second);
  }
  return sink.ok();
}

}  // namespace

bool hydrate_bootstrap(crdt::Doc& replica, const model::WorkbookModel& workbook, const AuthoredBase& base) {
  crdt::Transaction txn(replica, std::string(kHydrateOrigin));
  BlockSink sink(txn, base.bootstrap_client_id);

  // The catalog: the default format, then each cell format once per id.
  std::map<CellFormatId, bool> written;
  auto catalog_entry = [&](EncodedCellFormat encoded) {
    if (!written.emplace(encoded.id, true).second) return true;
    if (!utf8(encoded.text)) return false;
    sink.root_entry(kCellFormatsRoot, std::move(encoded.id), Any::string(std::move(encoded.text)));
    return true;
  };
  if (!catalog_entry(encode_cell_format(default_cell_format()))) return false;
  const model::StyleSheet& styles = workbook.styles;
  for (size_t i = 0; i < styles.cell_xfs.size(); ++i) {
    if (i > std::numeric_limits<uint32_t>::max()) return false;
    if (!catalog_entry(encode_cell_format(model::resolve_cell_format(styles, static_cast<uint32_t>(i))))) {
      return false;
    }
  }

  sink.root_entry(kMetadataRoot, std::string(kBaseFingerprintKey), Any::string(base.base_fingerprint));
  sink.root_entry(kMetadataRoot, std::string(kSchemaVersionKey), Any::number(static_cast<double>(kSchemaVersion)));
  sink.root_entry(kMetadataRoot, std::string(kStructureGenerationKey), encode_structure_generation(0));

  const std::vector<std::string> keys = sheet_key_list(workbook.sheets.size());
  if (!keys.empty()) {
    std::vector<Any> values;
    values.reserve(keys.size());
    for (const std::string& key : keys) values.push_back(Any::string(key));
    sink.root_list(kSheetOrderRoot, std::move(values));
  }
  for (size_t i = 0; i < keys.size(); ++i) {
    const uint32_t sheet_map = sink.root_map(kSheetsRoot, keys[i]);
    if (!write_sheet(sink, sheet_map, workbook.sheets[i], styles)) return false;
  }
  sink.flush();
  return sink.ok();
}

}  // namespace cmx::collab
