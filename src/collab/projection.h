// Projection of the collaborative document into the workbook: the one reader
// of the layout, a pure function of the document and the authored base, and
// the replica state that freezes a replica's workbook structure.
// Read next: hydration.h.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <variant>
#include <vector>

#include "base/result.h"
#include "collab/authority.h"
#include "collab/bootstrap.h"
#include "collab/cell_formats.h"
#include "crdt/crdt.h"
#include "model/workbook.h"

namespace cmx::collab {

// A nested type by the id of the item that holds it, a root by its name.
struct SharedTypeId {
  std::variant<crdt::ID, std::string> id;
  friend bool operator==(const SharedTypeId&, const SharedTypeId&) = default;
};
SharedTypeId shared_type_id(const crdt::Branch& branch);

struct SheetMapIds {
  SharedTypeId sheet;
  SharedTypeId col_widths;
  SharedTypeId contents;
  SharedTypeId row_heights;
  SharedTypeId styles;
  friend bool operator==(const SheetMapIds&, const SheetMapIds&) = default;
};

// A chart as the replica state sees it: its anchor without the cells, so
// moving the anchor cells leaves the structure unchanged.
struct ChartShape {
  std::string part;
  std::string drawing;
  uint64_t anchor_index = 0;
  std::vector<model::ChartReference> refs;
  model::ChartAnchorKind kind = model::ChartAnchorKind::TwoCell;
  std::optional<model::ChartAnchorEditMode> edit_as;  // two-cell anchors
  std::optional<model::AnchorPos> pos;                // absolute anchors
  std::optional<model::AnchorExtent> extent;          // one-cell and absolute anchors
  friend bool operator==(const ChartShape&, const ChartShape&) = default;
};
ChartShape chart_shape_of(const model::SheetChart& chart);

struct ReplicaState {
  std::vector<std::string> sheet_keys;
  std::vector<std::string> sheet_names;
  std::vector<std::optional<model::FreezePane>> sheet_freeze_panes;
  std::vector<std::vector<model::SheetHyperlink>> sheet_hyperlinks;
  std::vector<std::vector<ChartShape>> sheet_charts;
  std::vector<std::vector<model::CellRange>> sheet_merges;
  uint64_t structure_generation = 0;
  std::map<std::string, SheetMapIds> sheet_map_ids;
};

// Appends each sheet's frozen structure (name, pane, links, chart shapes,
// merges) to `state`, in sheet order.
void append_sheet_structure(ReplicaState& state, const model::WorkbookModel& model);

// Every field, the structure generation first.
bool replica_state_eq(const ReplicaState& a, const ReplicaState& b);

struct Projection {
  model::WorkbookModel model;
  ReplicaState replica;
};

// The authored record of one sheet key.
struct AuthoredSheet {
  SheetHeader header;
  std::vector<model::ColumnStyle> column_styles;
  std::vector<model::SheetHyperlink> hyperlinks;
  std::vector<model::SheetChart> charts;
  std::optional<model::FreezePane> freeze_pane;
  UndeclaredDimensions undeclared;
};
// The base's record at the key's bootstrap index; the empty record for a key
// without one.
AuthoredSheet authored_sheet(const AuthoredBase& base, std::string_view key);

// The keys of the "xlsx" metadata map.
inline constexpr std::string_view kMetadataKeys[] = {kBaseFingerprintKey, kSchemaVersionKey,
                                                     kStructureGenerationKey};

// Errors: "collaborative document roots do not match the schema" unless the
// roots are exactly the four of the layout.
Result<void, std::string> check_root_names(const crdt::Doc& doc);
// Errors: "{label} keys do not match the schema" unless `map` holds exactly `keys`.
Result<void, std::string> check_map_keys(const crdt::MapRef& map, std::span<const std::string_view> keys,
                                         std::string_view label);

// Strict reading also checks the root names, the metadata and sheet key sets
// and every inactive sheet. Fails with the message of the first failure.
Result<Projection, std::string> decode_document(const Authority& authority, bool strict);

Result<model::SheetModel, std::string> decode_sheet_map(
    const crdt::MapRef& sheet_map, int64_t schema_version,
    const std::map<CellFormatId, std::optional<uint32_t>>& style_of, const AuthoredSheet& authored);

// Errors: "sheet is missing {}" naming the nested map.
Result<SheetMapIds, std::string> read_sheet_map_ids(const crdt::MapRef& sheet_map);

// Every copy of a chart (same part and anchor index) takes the anchor of the
// first copy in sheet order.
void unify_shared_chart_anchors(std::vector<model::SheetModel>& sheets);

// The keys of the sheet order, in order. Errors: "sheet order contains a
// non-string key".
Result<std::vector<std::string>, std::string> read_sheet_order(const crdt::ArrayRef& order);

}  // namespace cmx::collab
