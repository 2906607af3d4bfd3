#include "model/grid_metrics.h"

#include <algorithm>
#include <cmath>

#include "base/saturate.h"
#include "model/workbook.h"

namespace cmx::model {

namespace {

constexpr double kPxPerPoint = 4.0 / 3.0;
constexpr double kFallbackRowPoints = 15.0;

bool positive_finite(std::optional<double> value) { return value && std::isfinite(*value) && *value > 0; }

const Font* default_font(const StyleSheet& styles) {
  if (!styles.cell_xfs.empty()) {
    const std::optional<uint32_t> font = styles.cell_xfs[0].font;
    if (font && *font < styles.fonts.size()) return &styles.fonts[*font];
  }
  return styles.fonts.empty() ? nullptr : &styles.fonts[0];
}

// The font size of a cell format, falling back to the default font's at
// every missing or unusable link.
double style_font_size(const StyleSheet& styles, std::optional<uint32_t> style, double fallback) {
  if (!style || *style >= styles.cell_xfs.size()) return fallback;
  const std::optional<uint32_t> font = styles.cell_xfs[*style].font;
  if (!font || *font >= styles.fonts.size()) return fallback;
  const std::optional<double> size = styles.fonts[*font].size_pt;
  return positive_finite(size) ? *size : fallback;
}

std::optional<uint32_t> column_style_at(const SheetModel& sheet, uint32_t col) {
  for (auto it = sheet.column_styles.rbegin(); it != sheet.column_styles.rend(); ++it) {
    if (it->first <= col && col <= it->last) return it->xf;
  }
  return std::nullopt;
}

bool calibri_or_unnamed(const Font* font) {
  return font == nullptr || !font->name || eq_ignore_ascii_case(*font->name, "calibri");
}

// The factor applied to explicit row heights when the sheet's default height
// was saved for another default font than the one it now has.
std::optional<double> row_scale(const SheetModel& sheet, const StyleSheet& styles) {
  if (sheet.custom_height || !positive_finite(sheet.default_row_height)) return std::nullopt;
  if (!calibri_or_unnamed(default_font(styles))) return std::nullopt;
  const double d = font_row_height(default_font_size(styles));
  if (!std::isfinite(d) || d <= 0 || d == *sheet.default_row_height) return std::nullopt;
  return d / *sheet.default_row_height;
}

std::vector<CellKey> multi_row_merge_corners(const SheetModel& sheet) {
  std::vector<CellKey> corners;
  for (const CellRange& merge : sheet.merges) {
    if (merge.end.row > merge.start.row) corners.push_back(CellKey{merge.start.row, merge.start.col});
  }
  std::sort(corners.begin(), corners.end());
  return corners;
}

// Rows whose tallest font outgrows the default height, in points.
std::map<uint32_t, double> automatic_row_heights(const SheetModel& sheet, const StyleSheet& styles) {
  std::map<uint32_t, double> heights;
  if (sheet.custom_height) return heights;
  const std::vector<CellKey> corners = multi_row_merge_corners(sheet);
  const double fallback = default_font_size(styles);
  for (const auto& [key, cell] : sheet.cells) {
    if (key.row >= MAX_ROWS || sheet.row_heights.contains(key.row)) continue;
    if (!corners.empty() && std::binary_search(corners.begin(), corners.end(), key)) continue;
    const std::optional<uint32_t> style =
        cell.style ? std::optional<uint32_t>(cell.style) : column_style_at(sheet, key.col);
    const double h = font_row_height(style_font_size(styles, style, fallback));
    if (!sheet.default_row_height && !(h > kFallbackRowPoints)) continue;
    auto [it, inserted] = heights.emplace(key.row, h);
    if (!inserted) it->second = std::max(it->second, h);
  }
  return heights;
}

// Running sums in 32-bit floats; each size is rounded to float first.
template <typename SizeOf>
std::vector<float> running_edges(uint32_t count, SizeOf size_of) {
  std::vector<float> edges;
  edges.reserve(size_t{count} + 1);
  float edge = 0.0f;
  edges.push_back(edge);
  for (uint32_t i = 0; i < count; ++i) {
    edge += static_cast<float>(size_of(i));
    edges.push_back(edge);
  }
  return edges;
}

// One more than the highest key below `limit`, 0 for none.
template <typename Map>
uint32_t extent_below(const Map& map, uint32_t limit) {
  auto it = map.lower_bound(limit);
  if (it == map.begin()) return 0;
  return std::prev(it)->first + 1;
}

uint32_t axis_index(const std::vector<float>& edges, uint32_t count, float size, float p) {
  const float last = edges.empty() ? 0.0f : edges.back();
  if (!edges.empty() && p < last) {
    auto above = std::upper_bound(edges.begin(), edges.end(), p);
    if (above == edges.begin()) return 0;
    return static_cast<uint32_t>(above - edges.begin() - 1);
  }
  if (edges.empty() && p < 0) return 0;
  if (size == 0) return count;
  float k = (p - last) / size;
  if (!(k >= 0)) k = 0;
  return saturate_int<uint32_t>(uint64_t{count} + saturate_cast<uint32_t>(k));
}

uint32_t saturating_next(uint32_t index) { return index == UINT32_MAX ? index : index + 1; }

double edge_at(const std::vector<float>& edges, uint32_t count, float size, uint32_t index) {
  if (edges.empty()) return static_cast<double>(index) * size;
  if (index <= count && index < edges.size()) return edges[index];
  return double{edges.back()} + (static_cast<double>(index) - count) * double{size};
}

}  // namespace

double default_font_size(const StyleSheet& styles) {
  const Font* font = default_font(styles);
  if (font && positive_finite(font->size_pt)) return *font->size_pt;
  return 11.0;
}

double font_row_height(double size_pt) {
  const double quarters = std::round((size_pt * 1.4615 - 2.0769) * 4.0);
  return std::max(quarters / 4.0, 0.0);
}

double col_width_px(double width) { return std::round((width * 7.0 + 5.0) / 7.0 * 256.0) / 256.0 * 7.0; }

GridMetrics compute_grid_metrics(const SheetModel& sheet, const StyleSheet& styles) {
  GridMetrics out;
  out.default_row_px = static_cast<float>(sheet.default_row_height.value_or(kFallbackRowPoints) * kPxPerPoint);

  out.explicit_cols = extent_below(sheet.col_widths, MAX_COLS);
  auto width = sheet.col_widths.begin();
  out.col_edges = running_edges(out.explicit_cols, [&](uint32_t col) -> double {
    while (width != sheet.col_widths.end() && width->first < col) ++width;
    if (width == sheet.col_widths.end() || width->first != col) return kDefaultColPx;
    return width->second > 0 ? col_width_px(width->second) : 0.0;
  });

  const std::map<uint32_t, double> automatic = automatic_row_heights(sheet, styles);
  const std::optional<double> scale = row_scale(sheet, styles);
  out.explicit_rows = std::max(extent_below(sheet.row_heights, MAX_ROWS), extent_below(automatic, MAX_ROWS));
  auto explicit_height = sheet.row_heights.begin();
  auto automatic_height = automatic.begin();
  out.row_edges = running_edges(out.explicit_rows, [&](uint32_t row) -> double {
    while (explicit_height != sheet.row_heights.end() && explicit_height->first < row) ++explicit_height;
    while (automatic_height != automatic.end() && automatic_height->first < row) ++automatic_height;
    if (explicit_height != sheet.row_heights.end() && explicit_height->first == row &&
        std::isfinite(explicit_height->second)) {
      const double v = explicit_height->second;
      if (v <= 0) return 0.0;
      return (scale ? std::floor(v * *scale + 0.000000001) : v) * kPxPerPoint;
    }
    if (sheet.zero_height) return 0.0;
    if (automatic_height != automatic.end() && automatic_height->first == row) {
      return automatic_height->second * kPxPerPoint;
    }
    return out.default_row_px;
  });
  return out;
}

double col_left_px(const GridMetrics& metrics, uint32_t col) {
  return edge_at(metrics.col_edges, metrics.explicit_cols, metrics.default_col_px, col);
}

double row_top_px(const GridMetrics& metrics, uint32_t row) {
  return edge_at(metrics.row_edges, metrics.explicit_rows, metrics.default_row_px, row);
}

CellSpan hit_test_grid(const GridMetrics& metrics, float x, float y, float width, float height) {
  auto rows = [&](float p) { return axis_index(metrics.row_edges, metrics.explicit_rows, metrics.default_row_px, p); };
  auto cols = [&](float p) { return axis_index(metrics.col_edges, metrics.explicit_cols, metrics.default_col_px, p); };
  return CellSpan{rows(y), saturating_next(rows(y + height)), cols(x), saturating_next(cols(x + width))};
}

uint32_t col_at_px(const GridMetrics& metrics, float p) {
  return axis_index(metrics.col_edges, metrics.explicit_cols, metrics.default_col_px, p);
}

uint32_t row_at_px(const GridMetrics& metrics, float p) {
  return axis_index(metrics.row_edges, metrics.explicit_rows, metrics.default_row_px, p);
}

bool cell_font_needs_taller_row(const SheetModel& sheet, const StyleSheet& styles, const CellRef& cell,
                                std::optional<uint32_t> style) {
  if (sheet.custom_height || sheet.row_heights.contains(cell.row)) return false;
  for (const CellRange& merge : sheet.merges) {
    if (merge.end.row > merge.start.row && merge.start == cell) return false;
  }
  const double size = style_font_size(styles, style, default_font_size(styles));
  return font_row_height(size) > sheet.default_row_height.value_or(kFallbackRowPoints);
}

}  // namespace cmx::model
