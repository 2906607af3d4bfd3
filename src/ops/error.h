// OpsError: why an edit step was refused. One message per variant; the
// layers above show it unchanged.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "model/address.h"

namespace cmx::ops {

using SheetId = uint32_t;

enum class OpsErrorKind : uint8_t {
  SheetNotFound,             // a step names a sheet position the workbook lacks; payload: index
  SheetIndexOutOfRange,      // a sheet removal past the last sheet; payload: index
  FormulaNotRewritable,      // a cell's formula cannot follow the edit; payload: sheet, cell
  DefinedNameNotRewritable,  // a defined name cannot follow the edit; payload: text (name)
  ChartRefNotRewritable,     // a chart reference cannot follow; payload: text (chart part)
  ChartAnchorNotMovable,     // a chart frame would leave the grid; payload: text (chart part)
  ChartNotFound,             // no chart frame has that name; payload: text (frame)
  ChartFrameShifted,         // the frame no longer holds what the step expects; payload: text (frame)
  NumFmtTableFull,           // no custom number-format id is left
  InvalidStyle,              // a style value cannot be applied; payload: text (the message)
  StyleTableFull,            // a style table would pass the record limit a saved workbook may hold
  TableNotMovable,           // a table would move or lose its sheet; payload: text (table name)
};
inline constexpr int kOpsErrorKindCount = 12;

struct OpsError {
  OpsErrorKind kind = OpsErrorKind::SheetNotFound;
  uint64_t index = 0;  // the sheet position, or the index of a removal
  model::CellRef cell;
  std::string text;

  static OpsError sheet_not_found(SheetId sheet) { return {OpsErrorKind::SheetNotFound, sheet, {}, {}}; }
  static OpsError sheet_index_out_of_range(uint64_t index) {
    return {OpsErrorKind::SheetIndexOutOfRange, index, {}, {}};
  }
  static OpsError formula_not_rewritable(SheetId sheet, model::CellRef cell) {
    return {OpsErrorKind::FormulaNotRewritable, sheet, cell, {}};
  }
  static OpsError with_text(OpsErrorKind kind, std::string text) { return {kind, 0, {}, std::move(text)}; }
  static OpsError invalid_style(std::string message) {
    return with_text(OpsErrorKind::InvalidStyle, std::move(message));
  }
  static OpsError of(OpsErrorKind kind) { return {kind, 0, {}, {}}; }

  friend bool operator==(const OpsError&, const OpsError&) = default;
};

// The variant's name ("ChartNotFound").
std::string_view ops_error_kind_name(OpsErrorKind kind);
// The display form: "sheet 3 not found"; InvalidStyle shows its text alone.
std::string ops_error_message(const OpsError& error);
// The debugging form: SheetNotFound(3), FormulaNotRewritable { sheet: 0, cell: B1 },
// ChartNotFound { frame: "x#0" }, NumFmtTableFull.
std::string ops_error_debug(const OpsError& error);

}  // namespace cmx::ops
