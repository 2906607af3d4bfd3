#include "collab/projection.h"

#include <algorithm>
#include <set>
#include <utility>

#include "base/number_text.h"
#include "collab/layout.h"
#include "json/sheet_records.h"

namespace cmx::collab {
namespace {

using crdt::AnyKind;
using crdt::ValueKind;

Result<crdt::MapRef, std::string> required_map(const crdt::MapRef& map, std::string_view key) {
  if (auto nested = nested_map(map, key)) return *nested;
  return unexpected("sheet is missing " + std::string(key));
}

// A plain value under `key`, none when absent or a shared type.
std::optional<crdt::Any> plain_value(const crdt::MapRef& map, std::string_view key) {
  auto value = map.get(key);
  if (!value || value->kind != ValueKind::kAny) return std::nullopt;
  return value->any;
}

// Adds the authored sizes at indexes the document does not hold.
void fill_undeclared(DimensionMap& sizes, const DimensionMap& undeclared) {
  for (const auto& [index, size] : undeclared) sizes.emplace(index, size);
}

// Visits the live entries of a cell map in key order until `visit` returns a
// failure. Key order is also the order the bootstrap wrote the items in, so
// the walk follows memory; storage order was measured half again slower.
template <typename Visit>
std::optional<std::string> visit_cell_entries(const crdt::MapRef& map, Visit&& visit) {
  std::optional<std::string> first;
  map.for_each([&](std::string_view key, const crdt::Value& value) {
    if (!first) first = visit(key, value);
  });
  return first;
}

}  // namespace

SharedTypeId shared_type_id(const crdt::Branch& branch) {
  if (branch.item_id) return SharedTypeId{*branch.item_id};
  return SharedTypeId{branch.root_name};
}

ChartShape chart_shape_of(const model::SheetChart& chart) {
  ChartShape shape{chart.part, chart.drawing, chart.anchor_index, chart.refs, model::anchor_kind(chart.anchor), {}, {}, {}};
  if (const auto* two = std::get_if<model::TwoCellAnchor>(&chart.anchor)) {
    shape.edit_as = two->edit_as;
  } else if (const auto* one = std::get_if<model::OneCellAnchor>(&chart.anchor)) {
    shape.extent = one->extent;
  } else if (const auto* absolute = std::get_if<model::AbsoluteAnchor>(&chart.anchor)) {
    shape.pos = absolute->pos;
    shape.extent = absolute->extent;
  }
  return shape;
}

bool replica_state_eq(const ReplicaState& a, const ReplicaState& b) {
  return a.structure_generation == b.structure_generation && a.sheet_keys == b.sheet_keys &&
         a.sheet_names == b.sheet_names && a.sheet_freeze_panes == b.sheet_freeze_panes &&
         a.sheet_hyperlinks == b.sheet_hyperlinks && a.sheet_charts == b.sheet_charts &&
         a.sheet_merges == b.sheet_merges && a.sheet_map_ids == b.sheet_map_ids;
}

AuthoredSheet authored_sheet(const AuthoredBase& base, std::string_view key) {
  AuthoredSheet sheet;
  auto index = parse_bootstrap_sheet_index(key);
  if (!index) return sheet;
  const uint64_t i = *index;
  if (i < base.authored_headers.size()) sheet.header = base.authored_headers[i];
  if (i < base.authored_column_styles.size()) sheet.column_styles = base.authored_column_styles[i];
  if (i < base.authored_hyperlinks.size()) sheet.hyperlinks = base.authored_hyperlinks[i];
  if (i < base.authored_charts.size()) sheet.charts = base.authored_charts[i];
  if (i < base.authored_freeze_panes.size()) sheet.freeze_pane = base.authored_freeze_panes[i];
  if (i < base.undeclared_dimensions.size()) sheet.undeclared = base.undeclared_dimensions[i];
  return sheet;
}

Result<std::vector<std::string>, std::string> read_sheet_order(const crdt::ArrayRef& order) {
  std::vector<std::string> keys;
  keys.reserve(order.length());
  for (const crdt::Value& value : order.to_vector()) {
    if (value.kind != ValueKind::kAny || !value.any.is(AnyKind::kString)) {
      return unexpected(std::string("sheet order contains a non-string key"));
    }
    keys.push_back(value.any.as_string());
  }
  return keys;
}

Result<SheetMapIds, std::string> read_sheet_map_ids(const crdt::MapRef& sheet_map) {
  SheetMapIds ids;
  ids.sheet = shared_type_id(*sheet_map.branch());
  CMX_ASSIGN_OR_RETURN(crdt::MapRef col_widths, required_map(sheet_map, kColWidthsKey));
  CMX_ASSIGN_OR_RETURN(crdt::MapRef contents, required_map(sheet_map, kContentsKey));
  CMX_ASSIGN_OR_RETURN(crdt::MapRef row_heights, required_map(sheet_map, kRowHeightsKey));
  CMX_ASSIGN_OR_RETURN(crdt::MapRef styles, required_map(sheet_map, kStylesKey));
  ids.col_widths = shared_type_id(*col_widths.branch());
  ids.contents = shared_type_id(*contents.branch());
  ids.row_heights = shared_type_id(*row_heights.branch());
  ids.styles = shared_type_id(*styles.branch());
  return ids;
}

void unify_shared_chart_anchors(std::vector<model::SheetModel>& sheets) {
  std::map<std::string, model::ChartAnchor> first;
  for (const model::SheetModel& sheet : sheets) {
    for (const model::SheetChart& chart : sheet.charts) {
      first.try_emplace(chart.part + "#" + format_u64(chart.anchor_index), chart.anchor);
    }
  }
  for (model::SheetModel& sheet : sheets) {
    for (model::SheetChart& chart : sheet.charts) {
      chart.anchor = first.at(chart.part + "#" + format_u64(chart.anchor_index));
    }
  }
}

Result<model::SheetModel, std::string> decode_sheet_map(
    const crdt::MapRef& sheet_map, int64_t schema_version,
    const std::map<CellFormatId, std::optional<uint32_t>>& style_of, const AuthoredSheet& authored) {
  model::SheetModel sheet;
  auto name = plain_value(sheet_map, kNameKey);
  if (!name || !name->is(AnyKind::kString)) return unexpected(std::string("sheet is missing its name"));
  sheet.name = name->as_string();

  // Both maps iterate in key-byte order, not in (row, column) order: collect,
  // sort once, then fill the cell map from its end.
  std::vector<std::pair<model::CellKey, model::SheetCell>> cells;
  CMX_ASSIGN_OR_RETURN(crdt::MapRef contents, required_map(sheet_map, kContentsKey));
  cells.reserve(contents.size());
  auto content_failure = visit_cell_entries(contents, [&](std::string_view key, const crdt::Value& value)
                                                          -> std::optional<std::string> {
    auto ref = parse_cell_key(key);
    if (!ref) return std::move(ref).error();
    if (value.kind != ValueKind::kAny) return "cell content " + std::string(key) + " is not an atomic value";
    auto cell = decode_cell_content(value.any);
    if (!cell) return std::move(cell).error();
    cells.emplace_back(model::CellKey{ref->row, ref->col}, std::move(*cell));
    return std::nullopt;
  });
  if (content_failure) return unexpected(std::move(*content_failure));

  std::vector<std::pair<model::CellKey, std::optional<uint32_t>>> styles;
  CMX_ASSIGN_OR_RETURN(crdt::MapRef style_map, required_map(sheet_map, kStylesKey));
  styles.reserve(style_map.size());
  auto style_failure = visit_cell_entries(style_map, [&](std::string_view key, const crdt::Value& value)
                                                         -> std::optional<std::string> {
    auto ref = parse_cell_key(key);
    if (!ref) return std::move(ref).error();
    if (value.kind != ValueKind::kAny || !value.any.is(AnyKind::kString)) {
      return "cell style " + std::string(key) + " is not a string";
    }
    auto style = style_of.find(value.any.as_string());
    if (style == style_of.end()) return "cell style " + std::string(key) + " references an unknown format";
    styles.emplace_back(model::CellKey{ref->row, ref->col}, style->second);
    return std::nullopt;
  });
  if (style_failure) return unexpected(std::move(*style_failure));

  auto by_key = [](const auto& a, const auto& b) { return a.first < b.first; };
  std::sort(cells.begin(), cells.end(), by_key);
  std::sort(styles.begin(), styles.end(), by_key);
  auto style_it = styles.begin();
  for (auto& [key, cell] : cells) {
    for (; style_it != styles.end() && style_it->first < key; ++style_it) {
      // A style without content: an empty cell that keeps its format.
      if (style_it->second) sheet.cells.insert(sheet.cells.end(), {style_it->first, model::SheetCell{{}, {}, style_it->second}});
    }
    if (style_it != styles.end() && style_it->first == key) {
      cell.style = style_it->second;
      ++style_it;
    }
    sheet.cells.insert(sheet.cells.end(), {key, std::move(cell)});
  }
  for (; style_it != styles.end(); ++style_it) {
    if (style_it->second) sheet.cells.insert(sheet.cells.end(), {style_it->first, model::SheetCell{{}, {}, style_it->second}});
  }

  CMX_ASSIGN_OR_RETURN(crdt::MapRef col_widths, required_map(sheet_map, kColWidthsKey));
  CMX_ASSIGN_OR_RETURN(sheet.col_widths, decode_dimension_map(col_widths, kSheetCols, "column width"));
  CMX_ASSIGN_OR_RETURN(crdt::MapRef row_heights, required_map(sheet_map, kRowHeightsKey));
  CMX_ASSIGN_OR_RETURN(sheet.row_heights, decode_dimension_map(row_heights, kSheetRows, "row height"));
  if (schema_version < 6) {
    fill_undeclared(sheet.col_widths, authored.undeclared.column_widths);
    fill_undeclared(sheet.row_heights, authored.undeclared.row_heights);
  }

  sheet.column_styles = authored.column_styles;

  if (schema_version == 3) {
    sheet.freeze_pane = authored.freeze_pane;
  } else {
    auto pane = plain_value(sheet_map, kFreezePaneKey);
    if (!pane) return unexpected(std::string("sheet is missing freeze pane"));
    CMX_ASSIGN_OR_RETURN(sheet.freeze_pane, decode_freeze_pane(*pane));
  }

  if (schema_version < 5) {
    sheet.hyperlinks = authored.hyperlinks;
  } else {
    auto value = sheet_map.get(kHyperlinksKey);
    if (!value) return unexpected(std::string("sheet is missing hyperlinks"));
    if (value->kind != ValueKind::kAny || !value->any.is(AnyKind::kString)) {
      return unexpected(std::string("sheet hyperlinks are not a string"));
    }
    CMX_ASSIGN_OR_RETURN(sheet.hyperlinks, json::decode_sheet_hyperlinks(value->any.as_string()));
  }

  auto charts = sheet_map.get(kChartsKey);
  if (schema_version < 6 || !charts) {
    sheet.charts = authored.charts;
  } else {
    if (charts->kind != ValueKind::kAny || !charts->any.is(AnyKind::kString)) {
      return unexpected(std::string("sheet charts are not a string"));
    }
    CMX_ASSIGN_OR_RETURN(sheet.charts, json::decode_sheet_charts(charts->any.as_string()));
  }

  auto merges = plain_value(sheet_map, kMergesKey);
  if (!merges) return unexpected(std::string("sheet is missing merges"));
  CMX_ASSIGN_OR_RETURN(sheet.merges, decode_merges(*merges));

  apply_sheet_header(sheet, authored.header);
  return sheet;
}

Result<void, std::string> check_root_names(const crdt::Doc& doc) {
  static const std::set<std::string_view> kRoots{kMetadataRoot, kCellFormatsRoot, kSheetOrderRoot, kSheetsRoot};
  bool same = doc.roots().size() == kRoots.size();
  for (const auto& [name, branch] : doc.roots()) same = same && kRoots.contains(name);
  if (!same) return unexpected(std::string("collaborative document roots do not match the schema"));
  return {};
}

Result<void, std::string> check_map_keys(const crdt::MapRef& map, std::span<const std::string_view> keys,
                                         std::string_view label) {
  bool same = map.size() == keys.size();
  for (std::string_view key : keys) same = same && map.contains(key);
  if (!same) return unexpected(std::string(label) + " keys do not match the schema");
  return {};
}

Result<Projection, std::string> decode_document(const Authority& authority, bool strict) {
  const crdt::Doc& doc = *authority.doc;
  const AuthoredBase& base = *authority.base;
  auto lock = doc.read_lock();

  if (strict) CMX_TRY(check_root_names(doc));

  crdt::Branch* metadata_root = doc.find_root(kMetadataRoot);
  if (metadata_root == nullptr) return unexpected(std::string("missing workbook metadata"));
  const crdt::MapRef metadata(metadata_root);
  if (strict) CMX_TRY(check_map_keys(metadata, kMetadataKeys, "workbook metadata"));

  auto version = read_metadata_integer(metadata, kSchemaVersionKey);
  if (!version) return unexpected(std::string("missing schema version"));
  if (*version < kOldestSchemaVersion || *version > kSchemaVersion) {
    return unexpected("unsupported schema version " + format_i64(*version) + "; supported versions are " +
                      format_i64(kOldestSchemaVersion) + " through " + format_i64(kSchemaVersion));
  }

  auto fingerprint = plain_value(metadata, kBaseFingerprintKey);
  if (!fingerprint || !fingerprint->is(AnyKind::kString)) {
    return unexpected(std::string("missing workbook base fingerprint"));
  }
  auto accepted = base.accepted_fingerprints.find(*version);
  if (accepted == base.accepted_fingerprints.end() ||
      std::find(accepted->second.begin(), accepted->second.end(), fingerprint->as_string()) ==
          accepted->second.end()) {
    return unexpected(std::string("workbook base fingerprint does not match shared state"));
  }

  auto generation = read_metadata_integer(metadata, kStructureGenerationKey);
  if (!generation) return unexpected(std::string("missing structure generation"));
  if (*generation < 0) return unexpected(std::string("structure generation is negative"));

  crdt::Branch* catalog_root = doc.find_root(kCellFormatsRoot);
  if (catalog_root == nullptr) return unexpected(std::string("missing cell format catalog"));
  CMX_ASSIGN_OR_RETURN(CellFormatCatalog catalog, read_cell_format_catalog(crdt::MapRef(catalog_root), base.base_styles));

  crdt::Branch* order_root = doc.find_root(kSheetOrderRoot);
  if (order_root == nullptr) return unexpected(std::string("missing sheet order"));
  crdt::Branch* sheets_root = doc.find_root(kSheetsRoot);
  if (sheets_root == nullptr) return unexpected(std::string("missing sheet map"));
  CMX_ASSIGN_OR_RETURN(std::vector<std::string> order, read_sheet_order(crdt::ArrayRef(order_root)));
  const crdt::MapRef sheets(sheets_root);

  Projection projection;
  model::WorkbookModel& model = projection.model;
  model.defined_names = base.defined_names;
  model.shared_strings = base.string_list;
  model.tables = base.tables;
  model.date_system = base.date_system;
  model.styles = std::move(catalog.styles);

  const SheetKeySet& key_set = sheet_key_set(*version);
  std::set<std::string_view> seen;
  model.sheets.reserve(order.size());
  for (const std::string& key : order) {
    if (!seen.insert(key).second) return unexpected("duplicate sheet key " + key);
    auto sheet_map = nested_map(sheets, key);
    if (!sheet_map) return unexpected("missing sheet " + key);
    if (strict && !keys_match(*sheet_map, key_set)) return unexpected("sheet " + key + " keys do not match the schema");
    CMX_ASSIGN_OR_RETURN(model::SheetModel sheet,
                         decode_sheet_map(*sheet_map, *version, catalog.style_of, authored_sheet(base, key)));
    model.sheets.push_back(std::move(sheet));
  }
  unify_shared_chart_anchors(model.sheets);

  ReplicaState& replica = projection.replica;
  std::optional<std::string> failure;
  sheets.for_each([&](std::string_view key_view, const crdt::Value& value) {
    if (failure) return;
    const std::string key(key_view);
    if (value.kind != ValueKind::kMap) {
      failure = "sheet " + key + " is not a map";
      return;
    }
    const crdt::MapRef sheet_map = value.as_map();
    if (strict && !seen.contains(key)) {
      if (!keys_match(sheet_map, key_set)) {
        failure = "inactive sheet " + key + " keys do not match the schema";
        return;
      }
      auto decoded = decode_sheet_map(sheet_map, *version, catalog.style_of, AuthoredSheet{});
      if (!decoded) {
        failure = std::move(decoded).error();
        return;
      }
    }
    auto ids = read_sheet_map_ids(sheet_map);
    if (!ids) {
      failure = std::move(ids).error();
      return;
    }
    replica.sheet_map_ids.emplace(key, std::move(*ids));
  });
  if (failure) return unexpected(std::move(*failure));

  replica.structure_generation = static_cast<uint64_t>(*generation);
  replica.sheet_keys = std::move(order);
  append_sheet_structure(replica, model);
  return projection;
}

void append_sheet_structure(ReplicaState& state, const model::WorkbookModel& model) {
  for (const model::SheetModel& sheet : model.sheets) {
    state.sheet_names.push_back(sheet.name);
    state.sheet_freeze_panes.push_back(sheet.freeze_pane);
    state.sheet_hyperlinks.push_back(sheet.hyperlinks);
    std::vector<ChartShape> shapes;
    for (const model::SheetChart& chart : sheet.charts) shapes.push_back(chart_shape_of(chart));
    state.sheet_charts.push_back(std::move(shapes));
    state.sheet_merges.push_back(sheet.merges);
  }
}

}  // namespace cmx::collab
