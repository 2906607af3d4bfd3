// A render request of the workbook session: which rectangle of a sheet is
// painted, checked against the caps before anything is built, then built,
// scaled, painted and encoded as PNG.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/result.h"
#include "model/address.h"
#include "session/error.h"
#include "session/session.h"

namespace cmx::render {

struct RenderRequest {
  uint32_t sheet = 0;
  std::optional<model::CellRange> range;  // default: the used range widened by charts, else A1:Z50
  float scale = 1;
  std::optional<uint32_t> max_width;  // image pixels; crops the right part
  std::optional<uint32_t> max_height;
};

struct RenderedPng {
  std::string bytes;
  uint32_t width = 0;
  uint32_t height = 0;
};

// Calls no Python API. Reads the session; writes only its parsed-chart
// cache, under that cache's lock, so renders may overlap other readers.
// Errors, in the order they are checked: InvalidScale, SheetOutOfRange,
// CellOutOfRange (start corner, then end), InvalidOperation (inverted range),
// InvalidViewport, RenderTooLarge, RenderAreaTooLarge, DisplayTooLarge,
// DisplayList (the chart frames ended the render), Raster.
Result<RenderedPng, session::EngineError> render_png(session::WorkbookSession& session, const RenderRequest& request);

}  // namespace cmx::render
