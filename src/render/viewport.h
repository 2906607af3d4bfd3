// The rectangle a render draws and the scale it paints at: cell ranges as
// pixel rectangles, the checks every render request passes before building,
// and the one scaling pass over a finished display list. Read painter.h next.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "base/result.h"
#include "model/address.h"
#include "model/workbook.h"
#include "chart_layout/display_list.h"

namespace cmx::render {

inline constexpr uint32_t kMaxRenderSide = 16384;
inline constexpr uint64_t kMaxRenderPixels = 16777216;
inline constexpr uint64_t kMaxRenderCells = 250000;

// The pixel rectangle of `range` at scale 1; the range is not checked.
Rect range_pixel_rect(const model::SheetModel& sheet, const model::StyleSheet& styles, const model::CellRange& range);

// Multiplies every coordinate, size, width and clip by `scale`.
DisplayList scale_display_list(DisplayList list, float scale);

// ceil(size × scale), at least 1, saturated.
uint32_t image_side(float size, float scale);

enum class RenderRequestError : uint8_t {
  BadScale,            // zero, negative or not a number
  InvertedRange,       // start right of or below the end
  CellOutOfRange,      // a corner outside the grid
  BadViewport,         // non-finite or empty viewport
  TooLarge,            // a side over kMaxRenderSide pixels
  AreaTooLarge,        // over kMaxRenderPixels pixels
  ViewportOutsideGrid, // the viewport ends past the grid
  TooManyCells,        // over kMaxRenderCells cells
};

struct RenderRequestFailure {
  RenderRequestError error;
  std::string message;
  // What the message shows: the image size (TooLarge, AreaTooLarge), the
  // cell count (TooManyCells), the cap broken, the corner outside the grid.
  uint32_t width = 0;
  uint32_t height = 0;
  uint64_t cells = 0;
  uint64_t limit = 0;
  model::CellRef cell;
};

struct RenderOptions {
  float scale = 1;
  std::optional<model::CellRange> range;  // default: the used range, else A1:Z50
  std::optional<float> max_width;         // image pixels
  std::optional<float> max_height;
};

// The checked viewport of a render of `sheet`, in sheet pixels at scale 1.
// Chart anchors widen a default viewport while it stays within the caps.
Result<Rect, RenderRequestFailure> render_viewport(const model::WorkbookModel& model, uint32_t sheet,
                                                   const RenderOptions& options);

}  // namespace cmx::render
