// EngineError: the one failure of the workbook session. Every error of the
// subsystems underneath is wrapped into one of its thirty variants before it
// leaves the session; each variant has exactly one message. Read next:
// session.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "model/address.h"
#include "model/cell_address.h"
#include "opc/package_archive.h"
#include "ops/error.h"
#include "xml/parse_error.h"

namespace cmx::session {

// In variant-index order; the Python module picks its exception by index.
enum class EngineErrorKind : uint8_t {
  Package,                             // text: archive reading or writing
  CollaborativeState,                  // text
  InvalidClientId,                     // client_id, max
  ClientIdConflict,                    // client_id
  InvalidStateVector,                  // text
  InvalidUpdate,                       // text
  CollaborationDataTooLarge,           // bytes, max
  CollaborationPendingUpdatesTooMany,  // updates, max
  NotCollaborative,
  CollaborativeStructureOperation,
  CollaborativeStructureChanged,
  Spreadsheet,                         // SpreadsheetParseError
  Operation,                           // OpsError
  NoSheets,
  DuplicatePart,                       // text: the part name
  SheetOutOfRange,                     // sheet
  CellOutOfRange,                      // cell
  InvalidOperation,                    // text
  InvalidRequest,                      // text
  ChartFrameShifted,                   // text: the frame
  ProposalNotFound,                    // text: the proposal id
  StaleProposal,                       // cells
  RangeTooLarge,                       // rows, cols, max
  InvalidViewport,
  DisplayTooLarge,                     // cells, max
  DisplayList,                         // text: the chart layout's message
  InvalidScale,                        // scale
  RenderTooLarge,                      // width, height, max
  RenderAreaTooLarge,                  // width, height, max_pixels
  Raster,                              // text
};
inline constexpr int kEngineErrorKindCount = 30;

// The name of the update encoding the collaborative document speaks, as the
// two decoding messages show it.
inline constexpr std::string_view kUpdateEncodingName = "Yjs";

// The numbers a variant carries are n0, n1, n2 in the order of its message's
// placeholders; texts and inner errors travel in their own fields.
struct EngineError {
  EngineErrorKind kind = EngineErrorKind::Package;
  std::string text;
  uint64_t n0 = 0;
  uint64_t n1 = 0;
  uint64_t n2 = 0;
  float scale = 0.0f;
  model::CellRef cell;
  std::vector<model::CellAddress> cells;
  std::optional<xml::SpreadsheetParseError> spreadsheet;
  std::optional<ops::OpsError> operation;

  static EngineError of(EngineErrorKind kind) { return EngineError{.kind = kind}; }
  static EngineError with_text(EngineErrorKind kind, std::string text) {
    return EngineError{.kind = kind, .text = std::move(text)};
  }
  static EngineError with_numbers(EngineErrorKind kind, uint64_t n0, uint64_t n1 = 0, uint64_t n2 = 0) {
    return EngineError{.kind = kind, .n0 = n0, .n1 = n1, .n2 = n2};
  }
  static EngineError package(std::string text) { return with_text(EngineErrorKind::Package, std::move(text)); }
  static EngineError collaborative_state(std::string text) {
    return with_text(EngineErrorKind::CollaborativeState, std::move(text));
  }
  static EngineError invalid_operation(std::string text) {
    return with_text(EngineErrorKind::InvalidOperation, std::move(text));
  }
  static EngineError sheet_out_of_range(uint32_t sheet) {
    return with_numbers(EngineErrorKind::SheetOutOfRange, sheet);
  }
  static EngineError cell_out_of_range(model::CellRef cell) {
    return EngineError{.kind = EngineErrorKind::CellOutOfRange, .cell = cell};
  }
  static EngineError invalid_scale(float scale) {
    return EngineError{.kind = EngineErrorKind::InvalidScale, .scale = scale};
  }
  static EngineError stale_proposal(std::vector<model::CellAddress> cells) {
    return EngineError{.kind = EngineErrorKind::StaleProposal, .cells = std::move(cells)};
  }
  // The wrappers of the errors underneath keep the inner value unchanged.
  static EngineError from_spreadsheet(xml::SpreadsheetParseError error) {
    return EngineError{.kind = EngineErrorKind::Spreadsheet, .spreadsheet = std::move(error)};
  }
  static EngineError from_ops(ops::OpsError error) {
    return EngineError{.kind = EngineErrorKind::Operation, .operation = std::move(error)};
  }
  static EngineError from_package(const opc::PackageError& error) {
    return package(opc::package_error_message(error));
  }

  friend bool operator==(const EngineError&, const EngineError&) = default;
};

// The variant's name ("CellOutOfRange").
std::string_view engine_error_kind_name(EngineErrorKind kind);
// The message the Python exception carries.
std::string engine_error_display(const EngineError& error);
// For diagnostics only: InvalidClientId { client_id: 9, max: 8 },
// Package("…"), Spreadsheet(MissingPart("x")), NoSheets.
std::string engine_error_debug(const EngineError& error);

// The float in its shortest decimal form that reads back as the same value,
// without exponent; "NaN", "inf", "-inf".
std::string format_scale(float scale);

}  // namespace cmx::session
