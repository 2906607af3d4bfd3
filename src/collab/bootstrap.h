// The bootstrap of the collaborative document: the authored base (what the
// document does not carry, and the fingerprints that identify it), the
// catalog and sheet-map writers, and the one deterministic transaction that
// turns an opened workbook into its document. Read next: projection.h.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/result.h"
#include "collab/layout.h"
#include "crdt/crdt.h"
#include "model/workbook.h"

namespace cmx::collab {

// The sheet fields that the document does not carry, copied bit for bit.
struct SheetHeader {
  std::optional<double> default_row_height;
  bool custom_height = false;
  bool zero_height = false;
  friend bool operator==(const SheetHeader&, const SheetHeader&) = default;
};
SheetHeader sheet_header_of(const model::SheetModel& sheet);
void apply_sheet_header(model::SheetModel& sheet, const SheetHeader& header);

// The widths and heights one sheet part declares, as the package holds them.
struct DeclaredDimensions {
  DimensionMap column_widths;
  DimensionMap row_heights;
};

struct UndeclaredDimensions {
  DimensionMap column_widths;
  DimensionMap row_heights;
};

struct AuthoredBase {
  std::vector<model::DefinedName> defined_names;
  std::string base_fingerprint;  // version 6, names and column styles included
  std::vector<std::optional<model::FreezePane>> authored_freeze_panes;
  std::vector<SheetHeader> authored_headers;
  std::vector<std::vector<model::ColumnStyle>> authored_column_styles;
  std::vector<std::vector<model::SheetHyperlink>> authored_hyperlinks;
  std::vector<std::vector<model::SheetChart>> authored_charts;
  std::vector<UndeclaredDimensions> undeclared_dimensions;
  std::vector<std::string> string_list;
  model::StyleSheet base_styles;
  std::vector<model::WorkbookTable> tables;
  uint64_t bootstrap_client_id = 0;
  // Schema version (3 to 6) -> the fingerprints a document of it may carry.
  std::map<int64_t, std::vector<std::string>> accepted_fingerprints;
  model::DateSystem date_system = model::DateSystem::V1900;
};

// `declared` has one entry per sheet part of the package (it may be shorter
// than the model's sheets); `declared_styles` the style sheet as the package
// declares it, when it differs from the model's. Fails with the fingerprint's
// message.
Result<AuthoredBase, std::string> build_authored_base(const model::WorkbookModel& workbook,
                                                      const std::vector<DeclaredDimensions>& declared,
                                                      const std::optional<model::StyleSheet>& declared_styles);

// The default format, then every cell format of `styles`, under the write
// rule. Errors: "cell format table is too large".
Result<void, std::string> write_cell_format_catalog(crdt::Transaction& txn, crdt::MapRef catalog,
                                                    const model::StyleSheet& styles);

// Writes one sheet into its map. Errors: "cell style index {} is out of range"
// and the document library's write failures.
Result<void, std::string> encode_sheet_map(crdt::Transaction& txn, crdt::MapRef sheet_map,
                                           const model::SheetModel& sheet, const model::StyleSheet& styles);

// The whole document as one update against the empty state vector.
std::vector<uint8_t> encode_document_state(const crdt::Doc& doc);

// A document under the base's bootstrap client id holding the whole workbook,
// written in one transaction with origin "xlsx:bootstrap".
Result<std::unique_ptr<crdt::Doc>, std::string> build_bootstrap_document(const model::WorkbookModel& workbook,
                                                                         const AuthoredBase& base);

}  // namespace cmx::collab
