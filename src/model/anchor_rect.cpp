#include "model/anchor_rect.h"

#include <cmath>

namespace cmx::model {

namespace {

bool inside_grid(const AnchorCell& cell) { return cell.col < MAX_COLS && cell.row < MAX_ROWS; }

std::optional<AnchorError> check_cell(const AnchorCell& cell) {
  if (!inside_grid(cell)) return AnchorError::CellOutOfBounds;
  if (cell.colOff < 0 || cell.rowOff < 0) return AnchorError::NegativeOffset;
  return std::nullopt;
}

double cell_x(const GridMetrics& metrics, const AnchorCell& cell) {
  return col_left_px(metrics, cell.col) + emu_to_px(cell.colOff);
}
double cell_y(const GridMetrics& metrics, const AnchorCell& cell) {
  return row_top_px(metrics, cell.row) + emu_to_px(cell.rowOff);
}

Result<AnchorPixelRect, AnchorError> place(const ChartAnchor& anchor, const GridMetrics& metrics,
                                           uint32_t frozen_rows, uint32_t frozen_cols) {
  AnchorPixelRect out;
  if (const auto* two = std::get_if<TwoCellAnchor>(&anchor)) {
    if (auto error = check_cell(two->from)) return unexpected(*error);
    if (auto error = check_cell(two->to)) return unexpected(*error);
    const double x1 = cell_x(metrics, two->from);
    const double x2 = cell_x(metrics, two->to);
    if (x1 >= x2) return unexpected(AnchorError::InvertedCorners);
    const double y1 = cell_y(metrics, two->from);
    const double y2 = cell_y(metrics, two->to);
    if (y1 >= y2) return unexpected(AnchorError::InvertedCorners);
    out = AnchorPixelRect{x1, y1, x2 - x1, y2 - y1, two->from.col < frozen_cols, two->from.row < frozen_rows};
  } else if (const auto* one = std::get_if<OneCellAnchor>(&anchor)) {
    if (one->extent.cx <= 0 || one->extent.cy <= 0) return unexpected(AnchorError::NonPositiveExtent);
    if (auto error = check_cell(one->from)) return unexpected(*error);
    out = AnchorPixelRect{cell_x(metrics, one->from),      cell_y(metrics, one->from),
                          emu_to_px(one->extent.cx),       emu_to_px(one->extent.cy),
                          one->from.col < frozen_cols,     one->from.row < frozen_rows};
  } else {
    const auto& absolute = std::get<AbsoluteAnchor>(anchor);
    if (absolute.pos.x < 0 || absolute.pos.y < 0) return unexpected(AnchorError::NegativeOffset);
    if (absolute.extent.cx <= 0 || absolute.extent.cy <= 0) return unexpected(AnchorError::NonPositiveExtent);
    out = AnchorPixelRect{emu_to_px(absolute.pos.x), emu_to_px(absolute.pos.y), emu_to_px(absolute.extent.cx),
                          emu_to_px(absolute.extent.cy), false, false};
  }
  return out;
}

}  // namespace

std::string_view anchor_error_message(AnchorError error) {
  switch (error) {
    case AnchorError::CellOutOfBounds:
      return "anchor cell is outside the worksheet grid";
    case AnchorError::NegativeOffset:
      return "anchor has a negative cell offset or position";
    case AnchorError::NonPositiveExtent:
      return "anchor extent must be positive";
    case AnchorError::InvertedCorners:
      return "anchor corners are inverted or coincident";
    case AnchorError::OutsideGrid:
      return "anchor extends beyond the worksheet grid";
    case AnchorError::NonFinite:
      return "anchor does not resolve to finite pixel geometry";
  }
  return "anchor error";
}

double emu_to_px(int64_t emu) { return static_cast<double>(emu) / 12700.0 * (4.0 / 3.0); }

Result<AnchorPixelRect, AnchorError> anchor_pixel_rect(const ChartAnchor& anchor, const GridMetrics& metrics,
                                                       uint32_t frozen_rows, uint32_t frozen_cols) {
  CMX_ASSIGN_OR_RETURN(AnchorPixelRect rect, place(anchor, metrics, frozen_rows, frozen_cols));
  const double right = rect.x + rect.width;
  const double bottom = rect.y + rect.height;
  for (double v : {rect.x, rect.y, rect.width, rect.height, right, bottom}) {
    if (!std::isfinite(v)) return unexpected(AnchorError::NonFinite);
  }
  if (rect.width <= 0 || rect.height <= 0 || rect.x < 0 || rect.y < 0 || right > col_left_px(metrics, MAX_COLS) ||
      bottom > row_top_px(metrics, MAX_ROWS)) {
    return unexpected(AnchorError::OutsideGrid);
  }
  return rect;
}

}  // namespace cmx::model
