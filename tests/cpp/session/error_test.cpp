// Engine errors: every variant's message and debug form, and the wrapping of
// the errors underneath.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <set>

#include "session/error.h"

namespace cmx::session {
namespace {

using K = EngineErrorKind;

EngineError sample(K kind) {
  switch (kind) {
    case K::InvalidClientId: return EngineError::with_numbers(kind, 9007199254740992ULL, 9007199254740991ULL);
    case K::ClientIdConflict: return EngineError::with_numbers(kind, 77);
    case K::CollaborationDataTooLarge: return EngineError::with_numbers(kind, 70000000, 67108864);
    case K::CollaborationPendingUpdatesTooMany: return EngineError::with_numbers(kind, 4097, 4096);
    case K::Spreadsheet: return EngineError::from_spreadsheet(xml::SpreadsheetParseError::missing_part("xl/x.xml"));
    case K::Operation: return EngineError::from_ops(ops::OpsError::sheet_not_found(3));
    case K::SheetOutOfRange: return EngineError::sheet_out_of_range(4);
    case K::CellOutOfRange: return EngineError::cell_out_of_range({1048576, 0});
    case K::StaleProposal: return EngineError::stale_proposal({{0, {1, 1}}, {0, {2, 2}}});
    case K::RangeTooLarge: return EngineError::with_numbers(kind, 2000, 3000, 1000000);
    case K::DisplayTooLarge: return EngineError::with_numbers(kind, 500000, 250000);
    case K::InvalidScale: return EngineError::invalid_scale(0.0f);
    case K::RenderTooLarge: return EngineError::with_numbers(kind, 20000, 10, 16384);
    case K::RenderAreaTooLarge: return EngineError::with_numbers(kind, 16384, 1025, 16777216);
    default: return EngineError::with_text(kind, "why");
  }
}

TEST(EngineError, EveryVariantHasItsOwnMessageAndName) {
  std::set<std::string> messages;
  std::set<std::string_view> names;
  for (int idx = 0; idx < kEngineErrorKindCount; ++idx) {
    const EngineError error = sample(static_cast<K>(idx));
    SCOPED_TRACE(engine_error_kind_name(error.kind));
    const std::string message = engine_error_display(error);
    EXPECT_FALSE(message.empty());
    messages.insert(message);
    names.insert(engine_error_kind_name(error.kind));
    EXPECT_EQ(engine_error_debug(error).rfind(std::string(engine_error_kind_name(error.kind)), 0), 0u);
  }
  // The four bare-text variants print the same text: three messages fewer.
  EXPECT_EQ(messages.size(), static_cast<size_t>(kEngineErrorKindCount) - 3);
  EXPECT_EQ(names.size(), static_cast<size_t>(kEngineErrorKindCount));
}

TEST(EngineError, Messages) {
  struct Case {
    std::string_view name;
    EngineError error;
    std::string_view message;
  };
  const Case cases[] = {
      {"package text alone", EngineError::package("zip entry count exceeds 5000"), "zip entry count exceeds 5000"},
      {"empty text", EngineError::package(""), ""},
      {"collaborative state", EngineError::collaborative_state("x"), "invalid collaborative workbook state: x"},
      {"invalid client id", sample(K::InvalidClientId),
       "collaboration client ID 9007199254740992 exceeds 9007199254740991"},
      {"client id conflict", sample(K::ClientIdConflict),
       "collaboration client ID 77 conflicts with the workbook bootstrap ID"},
      {"state vector", EngineError::with_text(K::InvalidStateVector, "bad"), "invalid Yjs v1 state vector: bad"},
      {"update", EngineError::with_text(K::InvalidUpdate, "bad"), "invalid Yjs v1 update: bad"},
      {"too large", sample(K::CollaborationDataTooLarge),
       "collaboration payload is 70000000 bytes, exceeds the 67108864-byte limit"},
      {"pending", sample(K::CollaborationPendingUpdatesTooMany),
       "collaboration has 4097 unresolved updates, exceeds the 4096-update limit"},
      {"not collaborative", EngineError::of(K::NotCollaborative), "remote updates require a collaborative workbook"},
      {"spreadsheet", sample(K::Spreadsheet), "missing part: xl/x.xml"},
      {"operation", sample(K::Operation), "sheet 3 not found"},
      {"no sheets", EngineError::of(K::NoSheets), "workbook has no sheets"},
      {"duplicate part", EngineError::with_text(K::DuplicatePart, "a.xml"), "duplicate package part: a.xml"},
      {"sheet out of range", sample(K::SheetOutOfRange), "sheet 4 out of range"},
      {"cell one past the last row", sample(K::CellOutOfRange), "cell row 1048577, column 1 is out of range"},
      {"invalid request", EngineError::with_text(K::InvalidRequest, "x"), "malformed request: x"},
      {"frame shifted", EngineError::with_text(K::ChartFrameShifted, "d.xml#0"),
       "chart frame d.xml#0 does not hold the chart part and anchor this op was recorded against; its drawing "
       "has changed"},
      {"proposal", EngineError::with_text(K::ProposalNotFound, "p3"), "no proposal p3"},
      {"stale cells", sample(K::StaleProposal), "stale: B2, C3"},
      {"stale none", EngineError::stale_proposal({}), "stale: "},
      {"range", sample(K::RangeTooLarge), "range 2000x3000 exceeds the 1000000-cell copy cap"},
      {"viewport", EngineError::of(K::InvalidViewport), "viewport must have finite positive dimensions"},
      {"display", sample(K::DisplayTooLarge),
       "requested viewport spans 500000 cells, exceeds the 250000-cell display-list cap"},
      {"scale zero", sample(K::InvalidScale), "scale must be a positive number, got 0"},
      {"scale nan", EngineError::invalid_scale(std::numeric_limits<float>::quiet_NaN()),
       "scale must be a positive number, got NaN"},
      {"scale -inf", EngineError::invalid_scale(-std::numeric_limits<float>::infinity()),
       "scale must be a positive number, got -inf"},
      {"scale shortest", EngineError::invalid_scale(0.1f), "scale must be a positive number, got 0.1"},
      {"scale large, no exponent", EngineError::invalid_scale(1e20f),
       "scale must be a positive number, got 100000000000000000000"},
      {"render", sample(K::RenderTooLarge),
       "requested render is 20000x10px, exceeds the 16384px per-side cap; narrow the range or lower scale"},
      {"render area", sample(K::RenderAreaTooLarge),
       "requested render is 16384x1025px, exceeds the 16777216-pixel allocation cap; narrow the range or lower "
       "scale"},
      {"scale small", EngineError::invalid_scale(1.5e-7f), "scale must be a positive number, got 0.00000015"},
      {"scale negative", EngineError::invalid_scale(-2.5f), "scale must be a positive number, got -2.5"},
      {"raster", EngineError::with_text(K::Raster, "png: out of memory"), "png: out of memory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(engine_error_display(c.error), c.message);
  }
}

TEST(EngineError, DebugForms) {
  EXPECT_EQ(engine_error_debug(sample(K::InvalidClientId)),
            "InvalidClientId { client_id: 9007199254740992, max: 9007199254740991 }");
  EXPECT_EQ(engine_error_debug(EngineError::package("a\"b")), "Package(\"a\\\"b\")");
  EXPECT_EQ(engine_error_debug(sample(K::Spreadsheet)), "Spreadsheet(MissingPart(\"xl/x.xml\"))");
  EXPECT_EQ(engine_error_debug(EngineError::of(K::NoSheets)), "NoSheets");
  EXPECT_EQ(engine_error_debug(sample(K::StaleProposal)), "StaleProposal([B2, C3])");
}

TEST(EngineError, StaleCellsShowAbsoluteMarksOnlyWhereSet) {
  model::CellRef absolute{0, 0, true, true};
  EXPECT_EQ(engine_error_display(EngineError::stale_proposal({{2, absolute}})), "stale: $A$1");
}

}  // namespace
}  // namespace cmx::session
