// A chart frame's drawing anchor turned into a rectangle of sheet pixels,
// against the sheet's grid metrics; anchors that cannot be drawn are refused.
#pragma once

#include <cstdint>
#include <string_view>

#include "base/result.h"
#include "model/grid_metrics.h"
#include "model/workbook.h"

namespace cmx::model {

struct AnchorPixelRect {
  double x = 0;  // from the top-left corner of A1
  double y = 0;
  double width = 0;
  double height = 0;
  bool in_frozen_cols = false;  // the first cell lies in a frozen column
  bool in_frozen_rows = false;
  friend bool operator==(const AnchorPixelRect&, const AnchorPixelRect&) = default;
};

enum class AnchorError : uint8_t {
  CellOutOfBounds,    // a cell past column XFD or row 1,048,576
  NegativeOffset,     // a negative cell offset or absolute position
  NonPositiveExtent,  // an extent of zero or less
  InvertedCorners,    // the second corner is not right of and below the first
  OutsideGrid,        // the rectangle leaves the sheet
  NonFinite,          // the pixel geometry is infinite or not a number
};
std::string_view anchor_error_message(AnchorError error);

// 12,700 EMU to the point, 4/3 pixel to the point.
double emu_to_px(int64_t emu);

// Errors are checked in a fixed order per anchor kind; nothing is clamped.
// The frozen counts are the sheet's freeze pane, 0 and 0 without one.
Result<AnchorPixelRect, AnchorError> anchor_pixel_rect(const ChartAnchor& anchor, const GridMetrics& metrics,
                                                       uint32_t frozen_rows, uint32_t frozen_cols);

}  // namespace cmx::model
