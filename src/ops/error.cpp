#include "ops/error.h"

#include "base/number_text.h"

namespace cmx::ops {

std::string_view ops_error_kind_name(OpsErrorKind kind) {
  switch (kind) {
    case OpsErrorKind::SheetNotFound:
      return "SheetNotFound";
    case OpsErrorKind::SheetIndexOutOfRange:
      return "SheetIndexOutOfRange";
    case OpsErrorKind::FormulaNotRewritable:
      return "FormulaNotRewritable";
    case OpsErrorKind::DefinedNameNotRewritable:
      return "DefinedNameNotRewritable";
    case OpsErrorKind::ChartRefNotRewritable:
      return "ChartRefNotRewritable";
    case OpsErrorKind::ChartAnchorNotMovable:
      return "ChartAnchorNotMovable";
    case OpsErrorKind::ChartNotFound:
      return "ChartNotFound";
    case OpsErrorKind::ChartFrameShifted:
      return "ChartFrameShifted";
    case OpsErrorKind::NumFmtTableFull:
      return "NumFmtTableFull";
    case OpsErrorKind::InvalidStyle:
      return "InvalidStyle";
    case OpsErrorKind::StyleTableFull:
      return "StyleTableFull";
    case OpsErrorKind::TableNotMovable:
      return "TableNotMovable";
  }
  return "OpsError";
}

std::string ops_error_message(const OpsError& error) {
  switch (error.kind) {
    case OpsErrorKind::SheetNotFound:
      return "sheet " + format_u64(error.index) + " not found";
    case OpsErrorKind::SheetIndexOutOfRange:
      return "sheet index " + format_u64(error.index) + " out of range";
    case OpsErrorKind::FormulaNotRewritable:
      return "formula at sheet " + format_u64(error.index) + ", " + model::format_cell_ref(error.cell) +
             " cannot be safely rewritten";
    case OpsErrorKind::DefinedNameNotRewritable:
      return "defined name " + error.text + " cannot be safely rewritten";
    case OpsErrorKind::ChartRefNotRewritable:
      return "chart reference in " + error.text + " cannot be safely rewritten";
    case OpsErrorKind::ChartAnchorNotMovable:
      return "the anchor of " + error.text + " would leave the sheet grid";
    case OpsErrorKind::ChartNotFound:
      return "no chart frame on this sheet is named " + error.text;
    case OpsErrorKind::ChartFrameShifted:
      return "chart frame " + error.text +
             " does not hold the chart part and anchor this op was recorded against; its drawing has changed";
    case OpsErrorKind::NumFmtTableFull:
      return "number format table is full";
    case OpsErrorKind::InvalidStyle:
      return error.text;
    case OpsErrorKind::StyleTableFull:
      return "style table is full";
    case OpsErrorKind::TableNotMovable:
      return "table " + error.text + " cannot follow this edit";
  }
  return "edit refused";
}

std::string ops_error_debug(const OpsError& error) {
  std::string out(ops_error_kind_name(error.kind));
  auto quoted = [](std::string_view field, const std::string& text) {
    return " { " + std::string(field) + ": \"" + text + "\" }";
  };
  switch (error.kind) {
    case OpsErrorKind::SheetNotFound:
    case OpsErrorKind::SheetIndexOutOfRange:
      return out + "(" + format_u64(error.index) + ")";
    case OpsErrorKind::FormulaNotRewritable:
      return out + " { sheet: " + format_u64(error.index) + ", cell: " + model::format_cell_ref(error.cell) + " }";
    case OpsErrorKind::DefinedNameNotRewritable:
      return out + quoted("name", error.text);
    case OpsErrorKind::ChartRefNotRewritable:
    case OpsErrorKind::ChartAnchorNotMovable:
      return out + quoted("part", error.text);
    case OpsErrorKind::ChartNotFound:
    case OpsErrorKind::ChartFrameShifted:
      return out + quoted("frame", error.text);
    case OpsErrorKind::InvalidStyle:
      return out + "(\"" + error.text + "\")";
    case OpsErrorKind::TableNotMovable:
      return out + quoted("table", error.text);
    case OpsErrorKind::NumFmtTableFull:
    case OpsErrorKind::StyleTableFull:
      return out;
  }
  return out;
}

}  // namespace cmx::ops
