#include "session/error.h"

#include <charconv>
#include <cmath>

#include "session/quoted_text.h"

namespace cmx::session {

std::string_view engine_error_kind_name(EngineErrorKind kind) {
  switch (kind) {
    case EngineErrorKind::Package: return "Package";
    case EngineErrorKind::CollaborativeState: return "CollaborativeState";
    case EngineErrorKind::InvalidClientId: return "InvalidClientId";
    case EngineErrorKind::ClientIdConflict: return "ClientIdConflict";
    case EngineErrorKind::InvalidStateVector: return "InvalidStateVector";
    case EngineErrorKind::InvalidUpdate: return "InvalidUpdate";
    case EngineErrorKind::CollaborationDataTooLarge: return "CollaborationDataTooLarge";
    case EngineErrorKind::CollaborationPendingUpdatesTooMany: return "CollaborationPendingUpdatesTooMany";
    case EngineErrorKind::NotCollaborative: return "NotCollaborative";
    case EngineErrorKind::CollaborativeStructureOperation: return "CollaborativeStructureOperation";
    case EngineErrorKind::CollaborativeStructureChanged: return "CollaborativeStructureChanged";
    case EngineErrorKind::Spreadsheet: return "Spreadsheet";
    case EngineErrorKind::Operation: return "Operation";
    case EngineErrorKind::NoSheets: return "NoSheets";
    case EngineErrorKind::DuplicatePart: return "DuplicatePart";
    case EngineErrorKind::SheetOutOfRange: return "SheetOutOfRange";
    case EngineErrorKind::CellOutOfRange: return "CellOutOfRange";
    case EngineErrorKind::InvalidOperation: return "InvalidOperation";
    case EngineErrorKind::InvalidRequest: return "InvalidRequest";
    case EngineErrorKind::ChartFrameShifted: return "ChartFrameShifted";
    case EngineErrorKind::ProposalNotFound: return "ProposalNotFound";
    case EngineErrorKind::StaleProposal: return "StaleProposal";
    case EngineErrorKind::RangeTooLarge: return "RangeTooLarge";
    case EngineErrorKind::InvalidViewport: return "InvalidViewport";
    case EngineErrorKind::DisplayTooLarge: return "DisplayTooLarge";
    case EngineErrorKind::DisplayList: return "DisplayList";
    case EngineErrorKind::InvalidScale: return "InvalidScale";
    case EngineErrorKind::RenderTooLarge: return "RenderTooLarge";
    case EngineErrorKind::RenderAreaTooLarge: return "RenderAreaTooLarge";
    case EngineErrorKind::Raster: return "Raster";
  }
  return "EngineError";
}

std::string format_scale(float scale) {
  if (std::isnan(scale)) return "NaN";
  if (std::isinf(scale)) return scale < 0 ? "-inf" : "inf";
  // The shortest digits come in scientific form; lay them out without the
  // exponent, padding with zeros on either side.
  char buf[64];
  const auto [end, ec] = std::to_chars(buf, buf + sizeof buf, scale, std::chars_format::scientific);
  if (ec != std::errc()) return "NaN";
  const std::string_view text(buf, static_cast<size_t>(end - buf));
  const size_t e_pos = text.find('e');
  std::string digits;
  bool negative = false;
  for (char ch : text.substr(0, e_pos)) {
    if (ch == '-') negative = true;
    if (ch >= '0' && ch <= '9') digits += ch;
  }
  const int exponent = std::stoi(std::string(text.substr(e_pos + 1)));
  // The point sits after `point` digits.
  const int point = exponent + 1;
  std::string out = negative ? "-" : "";
  if (point <= 0) {
    out += "0." + std::string(static_cast<size_t>(-point), '0') + digits;
  } else if (static_cast<size_t>(point) >= digits.size()) {
    out += digits + std::string(static_cast<size_t>(point) - digits.size(), '0');
  } else {
    out += digits.substr(0, static_cast<size_t>(point)) + "." + digits.substr(static_cast<size_t>(point));
  }
  return out;
}

namespace {

std::string stale_cells(const std::vector<model::CellAddress>& cells) {
  std::string out;
  for (size_t idx = 0; idx < cells.size(); ++idx) {
    if (idx > 0) out += ", ";
    out += model::format_cell_ref(cells[idx].cell);
  }
  return out;
}

std::string num(uint64_t value) { return std::to_string(value); }

}  // namespace

std::string engine_error_display(const EngineError& e) {
  switch (e.kind) {
    case EngineErrorKind::Package: return e.text;
    case EngineErrorKind::CollaborativeState: return "invalid collaborative workbook state: " + e.text;
    case EngineErrorKind::InvalidClientId:
      return "collaboration client ID " + num(e.n0) + " exceeds " + num(e.n1);
    case EngineErrorKind::ClientIdConflict:
      return "collaboration client ID " + num(e.n0) + " conflicts with the workbook bootstrap ID";
    case EngineErrorKind::InvalidStateVector:
      return "invalid " + std::string(kUpdateEncodingName) + " v1 state vector: " + e.text;
    case EngineErrorKind::InvalidUpdate:
      return "invalid " + std::string(kUpdateEncodingName) + " v1 update: " + e.text;
    case EngineErrorKind::CollaborationDataTooLarge:
      return "collaboration payload is " + num(e.n0) + " bytes, exceeds the " + num(e.n1) + "-byte limit";
    case EngineErrorKind::CollaborationPendingUpdatesTooMany:
      return "collaboration has " + num(e.n0) + " unresolved updates, exceeds the " + num(e.n1) + "-update limit";
    case EngineErrorKind::NotCollaborative: return "remote updates require a collaborative workbook";
    case EngineErrorKind::CollaborativeStructureOperation:
      return "structural operations are unavailable in collaborative mode";
    case EngineErrorKind::CollaborativeStructureChanged: return "remote update changes the frozen workbook structure";
    case EngineErrorKind::Spreadsheet:
      return e.spreadsheet ? xml::parse_error_message(*e.spreadsheet) : std::string();
    case EngineErrorKind::Operation: return e.operation ? ops::ops_error_message(*e.operation) : std::string();
    case EngineErrorKind::NoSheets: return "workbook has no sheets";
    case EngineErrorKind::DuplicatePart: return "duplicate package part: " + e.text;
    case EngineErrorKind::SheetOutOfRange: return "sheet " + num(e.n0) + " out of range";
    case EngineErrorKind::CellOutOfRange:
      return "cell row " + num(uint64_t{e.cell.row} + 1) + ", column " + num(uint64_t{e.cell.col} + 1) +
             " is out of range";
    case EngineErrorKind::InvalidOperation: return e.text;
    case EngineErrorKind::InvalidRequest: return "malformed request: " + e.text;
    case EngineErrorKind::ChartFrameShifted:
      return "chart frame " + e.text +
             " does not hold the chart part and anchor this op was recorded against; its drawing has changed";
    case EngineErrorKind::ProposalNotFound: return "no proposal " + e.text;
    case EngineErrorKind::StaleProposal: return "stale: " + stale_cells(e.cells);
    case EngineErrorKind::RangeTooLarge:
      return "range " + num(e.n0) + "x" + num(e.n1) + " exceeds the " + num(e.n2) + "-cell copy cap";
    case EngineErrorKind::InvalidViewport: return "viewport must have finite positive dimensions";
    case EngineErrorKind::DisplayTooLarge:
      return "requested viewport spans " + num(e.n0) + " cells, exceeds the " + num(e.n1) +
             "-cell display-list cap";
    case EngineErrorKind::DisplayList: return e.text;
    case EngineErrorKind::InvalidScale: return "scale must be a positive number, got " + format_scale(e.scale);
    case EngineErrorKind::RenderTooLarge:
      return "requested render is " + num(e.n0) + "x" + num(e.n1) + "px, exceeds the " + num(e.n2) +
             "px per-side cap; narrow the range or lower scale";
    case EngineErrorKind::RenderAreaTooLarge:
      return "requested render is " + num(e.n0) + "x" + num(e.n1) + "px, exceeds the " + num(e.n2) +
             "-pixel allocation cap; narrow the range or lower scale";
    case EngineErrorKind::Raster: return e.text;
  }
  return std::string();
}

namespace {

std::string fields(std::initializer_list<std::pair<std::string_view, std::string>> items) {
  std::string out = " { ";
  bool first = true;
  for (const auto& [name, value] : items) {
    if (!first) out += ", ";
    first = false;
    out += std::string(name) + ": " + value;
  }
  return out + " }";
}

std::string tuple(const std::string& inner) { return "(" + inner + ")"; }

}  // namespace

std::string engine_error_debug(const EngineError& e) {
  std::string out(engine_error_kind_name(e.kind));
  switch (e.kind) {
    case EngineErrorKind::Package:
    case EngineErrorKind::CollaborativeState:
    case EngineErrorKind::InvalidStateVector:
    case EngineErrorKind::InvalidUpdate:
    case EngineErrorKind::DuplicatePart:
    case EngineErrorKind::InvalidOperation:
    case EngineErrorKind::InvalidRequest:
    case EngineErrorKind::ProposalNotFound:
    case EngineErrorKind::DisplayList:
    case EngineErrorKind::Raster: return out + tuple(quote_text(e.text));
    case EngineErrorKind::ChartFrameShifted: return out + fields({{"frame", quote_text(e.text)}});
    case EngineErrorKind::InvalidClientId: return out + fields({{"client_id", num(e.n0)}, {"max", num(e.n1)}});
    case EngineErrorKind::ClientIdConflict: return out + tuple(num(e.n0));
    case EngineErrorKind::CollaborationDataTooLarge: return out + fields({{"bytes", num(e.n0)}, {"max", num(e.n1)}});
    case EngineErrorKind::CollaborationPendingUpdatesTooMany:
      return out + fields({{"updates", num(e.n0)}, {"max", num(e.n1)}});
    case EngineErrorKind::Spreadsheet:
      return out + tuple(e.spreadsheet ? xml::parse_error_debug(*e.spreadsheet) : std::string());
    case EngineErrorKind::Operation: return out + tuple(e.operation ? ops::ops_error_debug(*e.operation) : "");
    case EngineErrorKind::SheetOutOfRange: return out + tuple(num(e.n0));
    case EngineErrorKind::CellOutOfRange: return out + tuple(model::format_cell_ref(e.cell));
    case EngineErrorKind::StaleProposal: return out + tuple("[" + stale_cells(e.cells) + "]");
    case EngineErrorKind::RangeTooLarge:
      return out + fields({{"rows", num(e.n0)}, {"cols", num(e.n1)}, {"max", num(e.n2)}});
    case EngineErrorKind::DisplayTooLarge: return out + fields({{"cells", num(e.n0)}, {"max", num(e.n1)}});
    case EngineErrorKind::InvalidScale: return out + tuple(format_scale(e.scale));
    case EngineErrorKind::RenderTooLarge:
      return out + fields({{"width", num(e.n0)}, {"height", num(e.n1)}, {"max", num(e.n2)}});
    case EngineErrorKind::RenderAreaTooLarge:
      return out + fields({{"width", num(e.n0)}, {"height", num(e.n1)}, {"max_pixels", num(e.n2)}});
    case EngineErrorKind::NotCollaborative:
    case EngineErrorKind::CollaborativeStructureOperation:
    case EngineErrorKind::CollaborativeStructureChanged:
    case EngineErrorKind::NoSheets:
    case EngineErrorKind::InvalidViewport: return out;
  }
  return out;
}

}  // namespace cmx::session
