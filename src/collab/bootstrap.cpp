#include "collab/bootstrap.h"

#include <algorithm>
#include <limits>
#include <tuple>
#include <utility>

#include "collab/base_fingerprint.h"
#include "collab/cell_formats.h"
#include "json/sheet_records.h"
#include "model/style_equality.h"

namespace cmx::collab {
namespace {

using crdt::Any;

class FingerprintTable {
 public:
  explicit FingerprintTable(std::map<int64_t, std::vector<std::string>>& table) : table_(table) {}

  void add(int64_t version, std::string text) {
    std::vector<std::string>& list = table_[version];
    if (std::find(list.begin(), list.end(), text) == list.end()) list.push_back(std::move(text));
  }

  // Adds fp(workbook, version, names, column_styles). The column-style flag
  // counts only at version 6 and only when a sheet has runs, so the same
  // stream is hashed once however the flag is asked.
  Result<void, std::string> add_fp(const model::WorkbookModel& workbook, int64_t version, bool names,
                                   bool column_styles) {
    const Walk walk = walk_of(workbook, {static_cast<uint32_t>(version), names, column_styles});
    auto known = walks_.find(walk);
    if (known == walks_.end()) {
      CMX_ASSIGN_OR_RETURN(BaseFingerprint fp, compute_base_fingerprint(workbook, static_cast<uint32_t>(version),
                                                                        names, column_styles));
      known = walks_.emplace(walk, std::move(fp.text)).first;
    }
    add(version, known->second);
    return {};
  }

  // Computes the distinct streams of `requests` not known yet in one walk
  // of the workbook; the first request's fingerprint is returned whole.
  Result<BaseFingerprint, std::string> prefetch(const model::WorkbookModel& workbook,
                                                std::span<const FingerprintRequest> requests) {
    std::vector<FingerprintRequest> missing{requests.front()};
    std::vector<Walk> keys{walk_of(workbook, requests.front())};
    for (const FingerprintRequest& request : requests.subspan(1)) {
      const Walk walk = walk_of(workbook, request);
      if (walks_.contains(walk) || std::find(keys.begin(), keys.end(), walk) != keys.end()) continue;
      missing.push_back(request);
      keys.push_back(walk);
    }
    CMX_ASSIGN_OR_RETURN(std::vector<BaseFingerprint> found, compute_base_fingerprints(workbook, missing));
    for (size_t i = 0; i < found.size(); ++i) walks_.try_emplace(keys[i], found[i].text);
    return found.front();
  }

  // Before a model that was fingerprinted goes away.
  void forget(const model::WorkbookModel& workbook) {
    std::erase_if(walks_, [&](const auto& entry) { return std::get<0>(entry.first) == &workbook; });
  }

  void add_all(const std::map<int64_t, std::vector<std::string>>& other) {
    for (const auto& [version, texts] : other) {
      for (const std::string& text : texts) add(version, text);
    }
  }

 private:
  using Walk = std::tuple<const model::WorkbookModel*, int64_t, bool, bool>;

  static Walk walk_of(const model::WorkbookModel& workbook, const FingerprintRequest& request) {
    const bool counted = request.include_column_styles && request.schema_version == kSchemaVersion &&
                         has_column_styles(workbook);
    return Walk{&workbook, request.schema_version, request.include_defined_names, counted};
  }

  static bool has_column_styles(const model::WorkbookModel& workbook) {
    return std::any_of(workbook.sheets.begin(), workbook.sheets.end(),
                       [](const model::SheetModel& sheet) { return !sheet.column_styles.empty(); });
  }

  std::map<int64_t, std::vector<std::string>>& table_;
  std::map<Walk, std::string> walks_;
};

bool names_included(int64_t version) { return version >= 4; }

template <typename Map>
DimensionMap undeclared_of(const std::map<uint32_t, double>& model_sizes, const Map& declared) {
  DimensionMap out;
  for (const auto& [index, size] : model_sizes) {
    if (!declared.contains(index)) out.emplace_hint(out.end(), index, size);
  }
  return out;
}

// A cell key packed into 16 bytes, zero-padded: comparing the two words
// compares the key texts byte for byte, without sorting strings.
struct PackedCellKey {
  uint64_t high = 0;
  uint64_t low = 0;
  const model::SheetCell* cell = nullptr;
  model::CellKey key;
};

PackedCellKey pack(const model::CellKey& key, const model::SheetCell& cell) {
  std::string text = format_cell_key(key.row, key.col);  // at most 13 bytes
  unsigned char bytes[16] = {};
  std::copy(text.begin(), text.end(), bytes);
  PackedCellKey packed{0, 0, &cell, key};
  for (int i = 0; i < 8; ++i) packed.high = (packed.high << 8) | bytes[i];
  for (int i = 8; i < 16; ++i) packed.low = (packed.low << 8) | bytes[i];
  return packed;
}

// The cells `wanted` selects, in byte order of their keys.
template <typename Wanted>
std::vector<PackedCellKey> cells_in_key_order(const model::CellMap& cells, Wanted&& wanted) {
  std::vector<PackedCellKey> keys;
  keys.reserve(cells.size());
  for (const auto& [key, cell] : cells) {
    if (wanted(cell)) keys.push_back(pack(key, cell));
  }
  std::sort(keys.begin(), keys.end(), [](const PackedCellKey& a, const PackedCellKey& b) {
    return a.high != b.high ? a.high < b.high : a.low < b.low;
  });
  return keys;
}

}  // namespace

SheetHeader sheet_header_of(const model::SheetModel& sheet) {
  return SheetHeader{sheet.default_row_height, sheet.custom_height, sheet.zero_height};
}

void apply_sheet_header(model::SheetModel& sheet, const SheetHeader& header) {
  sheet.default_row_height = header.default_row_height;
  sheet.custom_height = header.custom_height;
  sheet.zero_height = header.zero_height;
}

Result<AuthoredBase, std::string> build_authored_base(const model::WorkbookModel& workbook,
                                                      const std::vector<DeclaredDimensions>& declared,
                                                      const std::optional<model::StyleSheet>& declared_styles) {
  AuthoredBase base;
  FingerprintTable table(base.accepted_fingerprints);

  // Every stream of steps 1 to 4 in one walk, the current one first.
  static constexpr FingerprintRequest kSteps[] = {{6, true, true}, {3, false, true}, {4, true, true},
                                                  {5, true, true}, {3, true, true},  {6, true, false}};
  CMX_ASSIGN_OR_RETURN(BaseFingerprint current, table.prefetch(workbook, kSteps));
  base.base_fingerprint = current.text;
  base.bootstrap_client_id = current.bootstrap_client_id;
  for (int64_t v = kOldestSchemaVersion; v <= kSchemaVersion; ++v) {
    CMX_TRY(table.add_fp(workbook, v, names_included(v), true));
  }
  CMX_TRY(table.add_fp(workbook, 3, true, true));
  for (int64_t v = kOldestSchemaVersion; v <= kSchemaVersion; ++v) {
    CMX_TRY(table.add_fp(workbook, v, names_included(v), false));
  }

  const size_t shared = std::min(workbook.sheets.size(), declared.size());
  bool dimensions_differ = false;
  for (size_t i = 0; i < shared; ++i) {
    dimensions_differ |= workbook.sheets[i].col_widths != declared[i].column_widths ||
                         workbook.sheets[i].row_heights != declared[i].row_heights;
  }
  if (dimensions_differ) {
    model::WorkbookModel copy = workbook;
    for (size_t i = 0; i < shared; ++i) {
      copy.sheets[i].col_widths = declared[i].column_widths;
      copy.sheets[i].row_heights = declared[i].row_heights;
    }
    static constexpr FingerprintRequest kCopySteps[] = {{3, false, true}, {4, true, true}, {5, true, true},
                                                        {3, true, true}};
    CMX_TRY(table.prefetch(copy, kCopySteps));
    for (int64_t v = kOldestSchemaVersion; v < kSchemaVersion; ++v) {
      CMX_TRY(table.add_fp(copy, v, names_included(v), true));
      CMX_TRY(table.add_fp(copy, v, names_included(v), false));
    }
    CMX_TRY(table.add_fp(copy, 3, true, true));
    table.forget(copy);
  }

  if (declared_styles && !model::stylesheet_eq(*declared_styles, workbook.styles)) {
    model::WorkbookModel copy = workbook;
    copy.styles = *declared_styles;
    CMX_ASSIGN_OR_RETURN(AuthoredBase other, build_authored_base(copy, declared, std::nullopt));
    table.add_all(other.accepted_fingerprints);
  }
  if (!workbook.styles.indexed_colors.empty()) {
    model::WorkbookModel copy = workbook;
    copy.styles.indexed_colors.clear();
    CMX_ASSIGN_OR_RETURN(AuthoredBase other, build_authored_base(copy, declared, declared_styles));
    table.add_all(other.accepted_fingerprints);
  }

  base.defined_names = workbook.defined_names;
  base.string_list = workbook.shared_strings;
  base.base_styles = workbook.styles;
  base.tables = workbook.tables;
  base.date_system = workbook.date_system;
  const size_t count = workbook.sheets.size();
  base.authored_freeze_panes.reserve(count);
  base.authored_headers.reserve(count);
  base.authored_column_styles.reserve(count);
  base.authored_hyperlinks.reserve(count);
  base.authored_charts.reserve(count);
  base.undeclared_dimensions.reserve(count);
  for (size_t i = 0; i < count; ++i) {
    const model::SheetModel& sheet = workbook.sheets[i];
    base.authored_freeze_panes.push_back(sheet.freeze_pane);
    base.authored_headers.push_back(sheet_header_of(sheet));
    base.authored_column_styles.push_back(sheet.column_styles);
    base.authored_hyperlinks.push_back(sheet.hyperlinks);
    base.authored_charts.push_back(sheet.charts);
    UndeclaredDimensions undeclared;
    if (i < declared.size()) {
      undeclared.column_widths = undeclared_of(sheet.col_widths, declared[i].column_widths);
      undeclared.row_heights = undeclared_of(sheet.row_heights, declared[i].row_heights);
    }
    base.undeclared_dimensions.push_back(std::move(undeclared));
  }
  return base;
}

Result<void, std::string> write_cell_format_catalog(crdt::Transaction& txn, crdt::MapRef catalog,
                                                    const model::StyleSheet& styles) {
  EncodedCellFormat fallback = encode_cell_format(default_cell_format());
  CMX_TRY(write_plain(txn, catalog, fallback.id, Any::string(std::move(fallback.text))));
  for (size_t i = 0; i < styles.cell_xfs.size(); ++i) {
    if (i > std::numeric_limits<uint32_t>::max()) return unexpected(std::string("cell format table is too large"));
    EncodedCellFormat encoded = encode_cell_format(model::resolve_cell_format(styles, static_cast<uint32_t>(i)));
    CMX_TRY(write_plain(txn, catalog, encoded.id, Any::string(std::move(encoded.text))));
  }
  return {};
}

Result<void, std::string> encode_sheet_map(crdt::Transaction& txn, crdt::MapRef sheet_map,
                                           const model::SheetModel& sheet, const model::StyleSheet& styles) {
  CMX_ASSIGN_OR_RETURN(crdt::MapRef col_widths, fetch_or_create_map(txn, sheet_map, kColWidthsKey));
  CMX_ASSIGN_OR_RETURN(crdt::MapRef contents, fetch_or_create_map(txn, sheet_map, kContentsKey));
  CMX_TRY(write_plain(txn, sheet_map, kFreezePaneKey, encode_freeze_pane(sheet.freeze_pane)));
  // The list writers write to memory: the records' own limits are the
  // readers' business, so these cannot fail here.
  CMX_TRY(write_plain(txn, sheet_map, kHyperlinksKey, Any::string(json::sheet_hyperlinks_to_json(sheet.hyperlinks))));
  CMX_TRY(write_plain(txn, sheet_map, kChartsKey, Any::string(json::sheet_charts_to_json(sheet.charts))));
  CMX_TRY(write_plain(txn, sheet_map, kMergesKey, encode_merges(sheet.merges)));
  CMX_TRY(write_plain(txn, sheet_map, kNameKey, Any::string(sheet.name)));
  CMX_ASSIGN_OR_RETURN(crdt::MapRef row_heights, fetch_or_create_map(txn, sheet_map, kRowHeightsKey));
  CMX_ASSIGN_OR_RETURN(crdt::MapRef style_map, fetch_or_create_map(txn, sheet_map, kStylesKey));

  CMX_TRY(sync_dimension_map(txn, col_widths, sheet.col_widths));

  std::vector<std::pair<std::string, Any>> wanted;
  {
    auto has_content = [](const model::SheetCell& cell) { return cell.formula || !cell.value.is_empty(); };
    std::vector<PackedCellKey> keys = cells_in_key_order(sheet.cells, has_content);
    wanted.reserve(keys.size());
    for (const PackedCellKey& key : keys) {
      wanted.emplace_back(format_cell_key(key.key.row, key.key.col), *encode_cell_content(*key.cell));
    }
  }
  CMX_TRY(sync_string_map(txn, contents, wanted));

  CMX_TRY(sync_dimension_map(txn, row_heights, sheet.row_heights));

  wanted.clear();
  {
    // Many cells share a few styles: look each index up once.
    std::map<uint32_t, Any> ids;
    std::vector<PackedCellKey> keys =
        cells_in_key_order(sheet.cells, [](const model::SheetCell& cell) { return cell.style.has_value(); });
    wanted.reserve(keys.size());
    for (const PackedCellKey& key : keys) {
      const uint32_t style = *key.cell->style;
      auto id = ids.find(style);
      if (id == ids.end()) {
        CMX_ASSIGN_OR_RETURN(CellFormatId text, cell_format_id_of_style(styles, style));
        id = ids.emplace(style, Any::string(std::move(text))).first;
      }
      wanted.emplace_back(format_cell_key(key.key.row, key.key.col), id->second);
    }
  }
  CMX_TRY(sync_string_map(txn, style_map, wanted));
  return {};
}

std::vector<uint8_t> encode_document_state(const crdt::Doc& doc) {
  auto lock = doc.read_lock();
  return doc.encode_state_as_update();
}

Result<std::unique_ptr<crdt::Doc>, std::string> build_bootstrap_document(const model::WorkbookModel& workbook,
                                                                         const AuthoredBase& base) {
  auto created = crdt::Doc::create(base.bootstrap_client_id);
  if (!created) return unexpected(write_failure(created.error()));
  std::unique_ptr<crdt::Doc> doc = std::move(*created);
  const std::vector<std::string> keys = sheet_key_list(workbook.sheets.size());

  crdt::Transaction txn(*doc, std::string(kBootstrapOrigin));
  auto write = [&]() -> Result<void, std::string> {
    auto catalog = doc->get_or_create_map(kCellFormatsRoot);
    if (!catalog) return unexpected(write_failure(catalog.error()));
    CMX_TRY(write_cell_format_catalog(txn, *catalog, workbook.styles));

    auto metadata = doc->get_or_create_map(kMetadataRoot);
    if (!metadata) return unexpected(write_failure(metadata.error()));
    CMX_TRY(write_plain(txn, *metadata, kBaseFingerprintKey, Any::string(base.base_fingerprint)));
    CMX_TRY(write_plain(txn, *metadata, kSchemaVersionKey, Any::number(static_cast<double>(kSchemaVersion))));
    CMX_TRY(write_plain(txn, *metadata, kStructureGenerationKey, encode_structure_generation(0)));

    auto order = doc->get_or_create_array(kSheetOrderRoot);
    if (!order) return unexpected(write_failure(order.error()));
    if (!keys.empty()) {
      std::vector<Any> values;
      values.reserve(keys.size());
      for (const std::string& key : keys) values.push_back(Any::string(key));
      auto inserted = order->push_back(txn, std::move(values));
      if (!inserted) return unexpected(write_failure(inserted.error()));
    }

    auto sheets = doc->get_or_create_map(kSheetsRoot);
    if (!sheets) return unexpected(write_failure(sheets.error()));
    for (size_t i = 0; i < keys.size(); ++i) {
      auto sheet_map = sheets->insert_map(txn, keys[i]);
      if (!sheet_map) return unexpected(write_failure(sheet_map.error()));
      CMX_TRY(encode_sheet_map(txn, *sheet_map, workbook.sheets[i], workbook.styles));
    }
    return {};
  };
  auto written = write();
  txn.commit();
  if (!written) return unexpected(std::move(written).error());
  return doc;
}

}  // namespace cmx::collab
