// The pixel geometry of a sheet: where every column and row edge lies, which
// cells a pixel rectangle touches, and whether a font makes its row grow.
// Widths follow the file format's 7-pixel digit, heights are points at 96 DPI.
// Read anchor_rect.h next.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "model/address.h"
#include "model/styles.h"
#include "model/workbook.h"

namespace cmx::model {

// The width of 8.43 characters, every column without an entry.
inline constexpr float kDefaultColPx = 64.01171875f;

struct GridMetrics {
  // Left edges of columns 0..explicit_cols-1, then the right edge of the
  // last: explicit_cols + 1 running sums, the first 0. Rows alike.
  std::vector<float> col_edges{0.0f};
  std::vector<float> row_edges{0.0f};
  uint32_t explicit_cols = 0;
  uint32_t explicit_rows = 0;
  float default_col_px = kDefaultColPx;
  float default_row_px = 20.0f;
};

// Ends exclusive.
struct CellSpan {
  uint32_t first_row = 0;
  uint32_t end_row = 0;
  uint32_t first_col = 0;
  uint32_t end_col = 0;
  friend bool operator==(const CellSpan&, const CellSpan&) = default;
};

// The size of the workbook's default font: that of cell format 0's font,
// else of the first font, when positive and finite; else 11.
double default_font_size(const StyleSheet& styles);

// Points of a row holding text of `size_pt` points; 11 gives 14.0, 12 gives 15.5.
double font_row_height(double size_pt);

// Pixels of a column `width` characters wide; 8.43 gives 64.01171875.
double col_width_px(double width);

// One pass over the stored cells. A row height that is not finite counts as
// if the row had no entry: it would otherwise make every later edge NaN.
GridMetrics compute_grid_metrics(const SheetModel& sheet, const StyleSheet& styles);

// The left edge of column `col` / top edge of row `row`, beyond the measured
// ones by the default sizes.
double col_left_px(const GridMetrics& metrics, uint32_t col);
double row_top_px(const GridMetrics& metrics, uint32_t row);

// The rows and columns the rectangle touches; two binary searches per axis.
// A side exactly on an edge includes the row or column starting there. A
// zero default size answers the first index past the measured ones.
CellSpan hit_test_grid(const GridMetrics& metrics, float x, float y, float width, float height);

// The column / row whose span holds the pixel position `p`, with the rules of
// hit_test_grid (a zero default size answers the first unmeasured index, so
// no caller divides by it).
uint32_t col_at_px(const GridMetrics& metrics, float p);
uint32_t row_at_px(const GridMetrics& metrics, float p);

// Whether a cell at `cell` with format `style` needs its row taller than the
// sheet's default height.
bool cell_font_needs_taller_row(const SheetModel& sheet, const StyleSheet& styles, const CellRef& cell,
                                std::optional<uint32_t> style);

}  // namespace cmx::model
