#include "render/viewport.h"

#include <algorithm>
#include <cmath>

#include "base/number_text.h"
#include "base/saturate.h"
#include "model/anchor_rect.h"
#include "model/cell_source.h"
#include "model/grid_metrics.h"

namespace cmx::render {

namespace {

Rect range_rect(const model::GridMetrics& m, const model::CellRange& range) {
  const double x = model::col_left_px(m, range.start.col);
  const double y = model::row_top_px(m, range.start.row);
  const double right = model::col_left_px(m, range.end.col + 1);
  const double bottom = model::row_top_px(m, range.end.row + 1);
  return Rect{static_cast<float>(x), static_cast<float>(y), static_cast<float>(right - x),
              static_cast<float>(bottom - y)};
}

void scale_rect(Rect& r, float s) {
  r.x *= s;
  r.y *= s;
  r.width *= s;
  r.height *= s;
}

RenderRequestFailure fail(RenderRequestError error, std::string message) {
  return RenderRequestFailure{error, std::move(message)};
}

bool inside_grid(const model::CellRef& cell) { return cell.row < model::MAX_ROWS && cell.col < model::MAX_COLS; }

std::string size_text(uint32_t w, uint32_t h) { return format_u64(w) + "x" + format_u64(h) + "px"; }

// The pixel caps of steps that adopt or refuse a viewport.
std::optional<RenderRequestFailure> check_image(const Rect& v, float scale) {
  const uint32_t w = image_side(v.width, scale);
  const uint32_t h = image_side(v.height, scale);
  if (w > kMaxRenderSide || h > kMaxRenderSide) {
    RenderRequestFailure failure =
        fail(RenderRequestError::TooLarge, "requested render is " + size_text(w, h) + ", exceeds the " +
                                               format_u64(kMaxRenderSide) +
                                               "px per-side cap; narrow the range or lower scale");
    failure.width = w, failure.height = h, failure.limit = kMaxRenderSide;
    return failure;
  }
  if (uint64_t{w} * h > kMaxRenderPixels) {
    RenderRequestFailure failure =
        fail(RenderRequestError::AreaTooLarge, "requested render is " + size_text(w, h) + ", exceeds the " +
                                                   format_u64(kMaxRenderPixels) +
                                                   "-pixel allocation cap; narrow the range or lower scale");
    failure.width = w, failure.height = h, failure.limit = kMaxRenderPixels;
    return failure;
  }
  return std::nullopt;
}

std::optional<RenderRequestFailure> check_grid(const model::SheetModel& sheet, const model::GridMetrics& m,
                                               const Rect& v) {
  const bool past_cols = v.x + v.width > model::col_left_px(m, model::MAX_COLS);
  const bool past_rows = v.y + v.height > model::row_top_px(m, model::MAX_ROWS);
  if (past_cols || past_rows) {
    return fail(RenderRequestError::ViewportOutsideGrid, "viewport extends beyond the worksheet grid");
  }
  const model::CellSpan span = model::hit_test_grid(m, v.x, v.y, v.width, v.height);
  const uint64_t frozen_rows = sheet.freeze_pane ? sheet.freeze_pane->rows : 0;
  const uint64_t frozen_cols = sheet.freeze_pane ? sheet.freeze_pane->cols : 0;
  const uint64_t rows = frozen_rows + (span.end_row - span.first_row);
  const uint64_t cols = frozen_cols + (span.end_col - span.first_col);
  uint64_t cells = 0;
  if (__builtin_mul_overflow(rows, cols, &cells)) cells = UINT64_MAX;
  if (cells > kMaxRenderCells) {
    RenderRequestFailure failure =
        fail(RenderRequestError::TooManyCells, "requested viewport spans " + format_u64(cells) +
                                                   " cells, exceeds the " + format_u64(kMaxRenderCells) +
                                                   "-cell display-list cap");
    failure.cells = cells, failure.limit = kMaxRenderCells;
    return failure;
  }
  return std::nullopt;
}

bool finite_positive(const Rect& v) {
  return std::isfinite(v.x) && std::isfinite(v.y) && std::isfinite(v.width) && std::isfinite(v.height) &&
         v.width > 0 && v.height > 0 && std::isfinite(v.x + v.width) && std::isfinite(v.y + v.height);
}

float smaller(float a, float b) { return b < a ? b : a; }  // NaN in b keeps a
float larger(float a, float b) { return b > a ? b : a; }

}  // namespace

Rect range_pixel_rect(const model::SheetModel& sheet, const model::StyleSheet& styles, const model::CellRange& range) {
  return range_rect(model::compute_grid_metrics(sheet, styles), range);
}

uint32_t image_side(float size, float scale) {
  const float product = size * scale;
  return std::max<uint32_t>(1, saturate_cast<uint32_t>(std::ceil(static_cast<double>(product))));
}

DisplayList scale_display_list(DisplayList list, float s) {
  const double s64 = s;
  for (DrawCommand& command : list.commands) {
    std::visit(
        [&](auto& c) {
          using T = std::decay_t<decltype(c)>;
          if constexpr (std::is_same_v<T, FillRect>) {
            c.x *= s, c.y *= s, c.width *= s, c.height *= s;
            if (c.clip) scale_rect(*c.clip, s);
          } else if constexpr (std::is_same_v<T, Line>) {
            c.x1 *= s, c.y1 *= s, c.x2 *= s, c.y2 *= s, c.width *= s;
            if (c.clip) scale_rect(*c.clip, s);
          } else if constexpr (std::is_same_v<T, Path>) {
            c.stroke_width *= s;
            if (c.clip) scale_rect(*c.clip, s);
            for (PathElement& e : c.elements) {
              e.x1 *= s64, e.y1 *= s64, e.x2 *= s64, e.y2 *= s64, e.x *= s64, e.y *= s64;
            }
          } else {
            c.x *= s, c.y *= s, c.size *= s;
            scale_rect(c.clip, s);
          }
        },
        command);
  }
  for (float& e : list.row_edges) e *= s;
  for (float& e : list.col_edges) e *= s;
  list.width *= s;
  list.height *= s;
  for (ChartRegion& region : list.chart_regions) {
    scale_rect(region.frame, s);
    scale_rect(region.clip, s);
  }
  return list;
}

Result<Rect, RenderRequestFailure> render_viewport(const model::WorkbookModel& model, uint32_t sheet_index,
                                                   const RenderOptions& options) {
  const float scale = options.scale;
  if (!(std::isfinite(scale) && scale > 0)) {
    return unexpected(fail(RenderRequestError::BadScale,
                           "scale must be a positive number, got " + format_shortest(scale)));
  }
  const model::SheetModel& sheet = model.sheets.at(sheet_index);
  const model::GridMetrics metrics = model::compute_grid_metrics(sheet, model.styles);
  Rect viewport;
  if (options.range) {
    const model::CellRange& r = *options.range;
    for (const model::CellRef& corner : {r.start, r.end}) {
      if (inside_grid(corner)) continue;
      RenderRequestFailure failure =
          fail(RenderRequestError::CellOutOfRange, "range corner is outside the worksheet grid");
      failure.cell = corner;
      return unexpected(std::move(failure));
    }
    if (r.start.row > r.end.row || r.start.col > r.end.col) {
      return unexpected(fail(RenderRequestError::InvertedRange, "range start must be above and left of range end"));
    }
    viewport = range_rect(metrics, r);
  } else {
    const model::CellRange used = model::sheet_used_range(sheet).value_or(
        model::CellRange{model::CellRef{0, 0}, model::CellRef{49, 25}});
    viewport = range_rect(metrics, used);
    const uint32_t frozen_rows = sheet.freeze_pane ? sheet.freeze_pane->rows : 0;
    const uint32_t frozen_cols = sheet.freeze_pane ? sheet.freeze_pane->cols : 0;
    for (const model::SheetChart& chart : sheet.charts) {
      auto anchor = model::anchor_pixel_rect(chart.anchor, metrics, frozen_rows, frozen_cols);
      if (!anchor.has_value()) continue;
      const float left = smaller(viewport.x, static_cast<float>(anchor->x));
      const float top = smaller(viewport.y, static_cast<float>(anchor->y));
      const float right = larger(viewport.x + viewport.width, static_cast<float>(anchor->x + anchor->width));
      const float bottom = larger(viewport.y + viewport.height, static_cast<float>(anchor->y + anchor->height));
      const Rect joined{left, top, right - left, bottom - top};
      if (check_image(joined, scale) || !finite_positive(joined) || check_grid(sheet, metrics, joined)) continue;
      viewport = joined;
    }
  }
  if (options.max_width) viewport.width = std::min(viewport.width, *options.max_width / scale);
  if (options.max_height) viewport.height = std::min(viewport.height, *options.max_height / scale);
  if (!finite_positive(viewport)) {
    return unexpected(fail(RenderRequestError::BadViewport, "viewport must have finite positive dimensions"));
  }
  if (auto failure = check_image(viewport, scale)) return unexpected(std::move(*failure));
  if (auto failure = check_grid(sheet, metrics, viewport)) return unexpected(std::move(*failure));
  return viewport;
}

}  // namespace cmx::render
