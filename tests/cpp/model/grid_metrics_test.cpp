// Column and row edges, hit tests, font-driven row heights and anchor rectangles.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <set>

#include "model/anchor_rect.h"
#include "model/grid_metrics.h"

namespace cmx::model {
namespace {

StyleSheet styles_with_font_sizes(std::initializer_list<double> sizes) {
  StyleSheet styles;
  for (double size : sizes) {
    Font font;
    font.name = "Calibri";
    font.size_pt = size;
    styles.cell_xfs.push_back(CellXf{static_cast<uint32_t>(styles.fonts.size()), {}, {}, {}, {}});
    styles.fonts.push_back(font);
  }
  return styles;
}

SheetCell styled(uint32_t style) { return SheetCell{CellValue::number(1), std::nullopt, style}; }

TEST(GridMetricsRules, FontRowHeightAndColumnWidth) {
  struct Case {
    double input;
    double row_points;
    double col_px;
  };
  const Case cases[] = {
      {11, 14.0, 82.00390625}, {12, 15.5, 89.00390625}, {14, 18.5, 103.00390625}, {24, 33.0, 173.00390625},
      {1.5, 0.0, 15.50390625}, {0, 0.0, 5.00390625},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.input);
    EXPECT_EQ(font_row_height(c.input), c.row_points);
    EXPECT_EQ(col_width_px(c.input), c.col_px);
  }
  EXPECT_EQ(col_width_px(8.43), 64.01171875);
  EXPECT_EQ(col_width_px(10), 75.00390625);
}

TEST(ComputeGridMetrics, EdgesTable) {
  struct Case {
    const char* name;
    std::map<uint32_t, double> col_widths;
    std::map<uint32_t, double> row_heights;
    std::optional<double> default_row_height;
    bool zero_height;
    std::vector<float> col_edges;
    std::vector<float> row_edges;
    float default_row_px;
  };
  const Case cases[] = {
      {"empty", {}, {}, std::nullopt, false, {0}, {0}, 20},
      {"one wide column", {{2, 10.0}}, {}, std::nullopt, false, {0, 64.01171875f, 128.0234375f, 203.02734375f}, {0}, 20},
      {"hidden column", {{0, 0.0}, {1, -3.0}}, {}, std::nullopt, false, {0, 0, 0}, {0}, 20},
      {"tall and hidden rows", {}, {{0, 30.0}, {1, 0.0}}, std::nullopt, false, {0}, {0, 40, 40}, 20},
      {"zero height default", {}, {{2, 15.0}}, std::nullopt, true, {0}, {0, 0, 0, 20}, 20},
      {"zero default row height", {}, {}, 0.0, false, {0}, {0}, 0},
      {"NaN height counts as no entry", {}, {{0, std::nan("")}, {1, 30.0}}, std::nullopt, false, {0}, {0, 20, 60}, 20},
  };
  StyleSheet styles;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SheetModel sheet;
    sheet.col_widths = c.col_widths;
    sheet.row_heights = c.row_heights;
    sheet.default_row_height = c.default_row_height;
    sheet.zero_height = c.zero_height;
    GridMetrics m = compute_grid_metrics(sheet, styles);
    EXPECT_EQ(m.col_edges, c.col_edges);
    EXPECT_EQ(m.row_edges, c.row_edges);
    EXPECT_EQ(m.explicit_cols, c.col_edges.size() - 1);
    EXPECT_EQ(m.explicit_rows, c.row_edges.size() - 1);
    EXPECT_EQ(m.default_col_px, 64.01171875f);
    EXPECT_EQ(m.default_row_px, c.default_row_px);
  }
}

TEST(ComputeGridMetrics, AutomaticHeightsAndScale) {
  // fonts: 0 → 11 pt (the default), 1 → 18 pt
  const StyleSheet styles = styles_with_font_sizes({11, 18});
  SheetModel sheet;
  sheet.cells.insert_or_assign(CellKey{5, 0}, styled(1));
  GridMetrics m = compute_grid_metrics(sheet, styles);
  ASSERT_EQ(m.explicit_rows, 6u);
  EXPECT_FLOAT_EQ(m.row_edges[6] - m.row_edges[5], static_cast<float>(24.25 * 4 / 3));

  sheet.cells.insert_or_assign(CellKey{5, 0}, styled(0));
  EXPECT_EQ(compute_grid_metrics(sheet, styles).explicit_rows, 0u);

  sheet.default_row_height = 15.0;
  m = compute_grid_metrics(sheet, styles);
  ASSERT_EQ(m.explicit_rows, 6u);
  EXPECT_FLOAT_EQ(m.row_edges[6] - m.row_edges[5], static_cast<float>(14.0 * 4 / 3));
  EXPECT_FLOAT_EQ(m.row_edges[5], 5 * 20.0f);

  // A column style gives the font of a cell without its own style.
  SheetModel by_column;
  by_column.column_styles.push_back(ColumnStyle{0, 3, 1});
  by_column.cells.insert_or_assign(CellKey{2, 1}, SheetCell{CellValue::number(1), std::nullopt, std::nullopt});
  EXPECT_EQ(compute_grid_metrics(by_column, styles).explicit_rows, 3u);

  // The top-left cell of a two-row merge never grows its row.
  SheetModel merged;
  merged.merges.push_back(CellRange{{2, 1}, {3, 1}});
  merged.cells.insert_or_assign(CellKey{2, 1}, styled(1));
  EXPECT_EQ(compute_grid_metrics(merged, styles).explicit_rows, 0u);

  // Explicit heights are scaled to the default font's height in whole points.
  SheetModel scaled;
  scaled.default_row_height = 15.0;
  scaled.row_heights[0] = 30.0;
  m = compute_grid_metrics(scaled, styles);
  EXPECT_FLOAT_EQ(m.row_edges[1], static_cast<float>(28.0 * 4 / 3));
  scaled.custom_height = true;
  EXPECT_FLOAT_EQ(compute_grid_metrics(scaled, styles).row_edges[1], 40.0f);
}

TEST(HitTestGrid, Table) {
  SheetModel sheet;
  sheet.row_heights = {{0, 30.0}, {1, 0.0}, {2, 0.0}, {3, 15.0}};  // edges 0, 40, 40, 40, 60
  sheet.col_widths = {{1, 0.0}};                                 // edges 0, 64.01…, 64.01…
  const GridMetrics m = compute_grid_metrics(sheet, StyleSheet{});
  struct Case {
    const char* name;
    float x, y, w, h;
    CellSpan span;
  };
  const Case cases[] = {
      {"origin", 0, 0, 1, 1, {0, 1, 0, 1}},
      {"negative", -5, -5, 0, 0, {0, 1, 0, 1}},
      {"bottom on an edge takes the row after the hidden ones", 0, 0, 1, 40, {0, 4, 0, 1}},
      {"inside hidden rows' edge", 0, 40, 1, 1, {3, 4, 0, 1}},
      {"at the last explicit edge", 0, 60, 0, 0, {4, 5, 0, 1}},
      {"100 px past it", 0, 160, 0, 0, {9, 10, 0, 1}},
      {"hidden column", 64.01171875f, 0, 0, 0, {0, 1, 2, 3}},
      {"far past the grid saturates", 0, 1e30f, 0, 0, {UINT32_MAX, UINT32_MAX, 0, 1}},
      {"NaN position", std::nanf(""), 0, 0, 0, {0, 1, 2, 3}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(hit_test_grid(m, c.x, c.y, c.w, c.h), c.span);
  }
}

TEST(HitTestGrid, ZeroDefaultSizeNeverDivides) {
  SheetModel sheet;
  sheet.default_row_height = 0.0;
  sheet.row_heights = {{1, 15.0}};
  const GridMetrics m = compute_grid_metrics(sheet, StyleSheet{});
  EXPECT_EQ(m.row_edges, (std::vector<float>{0, 0, 20}));
  for (float y : {20.0f, 25.0f, 1e9f, std::numeric_limits<float>::infinity()}) {
    SCOPED_TRACE(y);
    EXPECT_EQ(hit_test_grid(m, 0, y, 0, 0).first_row, 2u);
  }
  EXPECT_EQ(hit_test_grid(m, 0, 0, 0, 0).first_row, 1u);  // the last of two equal edges
}

// Random heights: the binary search against a walk over every row.
TEST(HitTestGrid, MatchesLinearWalk) {
  std::mt19937 rng(105);
  SheetModel sheet;
  for (uint32_t r = 0; r < 300; ++r) sheet.row_heights[r] = (rng() % 4 == 0) ? 0.0 : (rng() % 40);
  const GridMetrics m = compute_grid_metrics(sheet, StyleSheet{});
  for (int i = 0; i < 2000; ++i) {
    const float y = static_cast<float>(rng() % 8000) - 10.0f;
    uint32_t expected = 0;
    if (y >= m.row_edges.back()) {
      expected = m.explicit_rows + static_cast<uint32_t>((y - m.row_edges.back()) / m.default_row_px);
    } else {
      for (uint32_t r = 0; r < m.row_edges.size(); ++r) {
        if (m.row_edges[r] <= y) expected = r;
      }
    }
    ASSERT_EQ(hit_test_grid(m, 0, y, 0, 0).first_row, expected) << y;
  }
}

TEST(CellFontNeedsTallerRow, Table) {
  const StyleSheet styles = styles_with_font_sizes({11, 14, 12});
  SheetModel plain;
  SheetModel merged;
  merged.merges.push_back(CellRange{{0, 0}, {1, 0}});
  SheetModel custom;
  custom.custom_height = true;
  SheetModel explicit_row;
  explicit_row.row_heights[0] = 10.0;
  struct Case {
    const char* name;
    const SheetModel* sheet;
    std::optional<uint32_t> style;
    bool taller;
  };
  const Case cases[] = {
      {"14 pt", &plain, 1u, true},        {"12 pt", &plain, 2u, true},
      {"11 pt", &plain, 0u, false},       {"no style", &plain, std::nullopt, false},
      {"merge corner", &merged, 1u, false}, {"custom height", &custom, 1u, false},
      {"explicit row", &explicit_row, 1u, false}, {"style out of range", &plain, 99u, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(cell_font_needs_taller_row(*c.sheet, styles, CellRef{0, 0, false, false}, c.style), c.taller);
  }
}

AnchorCell cell(uint32_t col, uint32_t row, int64_t col_off = 0, int64_t row_off = 0) {
  return AnchorCell{col, col_off, row, row_off};
}

TEST(AnchorPixelRect, Table) {
  SheetModel sheet;
  sheet.col_widths = {{0, 10.0}};  // A is 75.00390625 px wide
  const GridMetrics m = compute_grid_metrics(sheet, StyleSheet{});
  const GridMetrics plain = compute_grid_metrics(SheetModel{}, StyleSheet{});
  struct Case {
    const char* name;
    const GridMetrics* metrics;
    ChartAnchor anchor;
    std::optional<AnchorPixelRect> rect;
    AnchorError error;
  };
  const double last_col_left = 16383 * 64.01171875;
  const Case cases[] = {
      {"two-cell B2:D5", &plain, TwoCellAnchor{ChartAnchorEditMode::TwoCell, cell(1, 1), cell(3, 4)},
       AnchorPixelRect{64.01171875, 20, 128.0234375, 60, false, false}, {}},
      {"two-cell over a wide column with offsets", &m,
       TwoCellAnchor{ChartAnchorEditMode::OneCell, cell(0, 0, 9525, 12700), cell(1, 1, 0, 0)},
       AnchorPixelRect{1, 4.0 / 3, 74.00390625, 20 - 4.0 / 3, false, false}, {}},
      {"one-cell", &plain, OneCellAnchor{cell(2, 3, 9525, 0), AnchorExtent{952500, 190500}},
       AnchorPixelRect{2 * 64.01171875 + 1, 60, 100, 20, false, false}, {}},
      {"absolute", &plain, AbsoluteAnchor{AnchorPos{9525, 19050}, AnchorExtent{12700, 12700}},
       AnchorPixelRect{1, 2, 4.0 / 3, 4.0 / 3, false, false}, {}},
      {"last column inside", &plain, TwoCellAnchor{{}, cell(16383, 0), cell(16383, 1, 9525 * 64, 0)},
       AnchorPixelRect{last_col_left, 0, 64, 20, false, false}, {}},
      // errors, first failing check decides
      {"from past XFD", &plain, TwoCellAnchor{{}, cell(16384, 0), cell(16384, 2)}, std::nullopt,
       AnchorError::CellOutOfBounds},
      {"to past the last row", &plain, TwoCellAnchor{{}, cell(0, 0), cell(1, MAX_ROWS)}, std::nullopt,
       AnchorError::CellOutOfBounds},
      {"negative from offset", &plain, TwoCellAnchor{{}, cell(0, 0, -1), cell(1, 1)}, std::nullopt,
       AnchorError::NegativeOffset},
      {"coincident", &plain, TwoCellAnchor{{}, cell(1, 1), cell(1, 1)}, std::nullopt, AnchorError::InvertedCorners},
      {"left of from but below", &plain, TwoCellAnchor{{}, cell(3, 1), cell(1, 5)}, std::nullopt,
       AnchorError::InvertedCorners},
      {"last column pushed past the border", &plain, TwoCellAnchor{{}, cell(16383, 0), cell(16383, 1, 9525 * 65, 0)},
       std::nullopt, AnchorError::OutsideGrid},
      {"one-cell extent before offset", &plain, OneCellAnchor{cell(0, 0, -5), AnchorExtent{0, 10}}, std::nullopt,
       AnchorError::NonPositiveExtent},
      {"absolute position before extent", &plain, AbsoluteAnchor{AnchorPos{-1, 0}, AnchorExtent{0, 0}}, std::nullopt,
       AnchorError::NegativeOffset},
      {"absolute past the bottom", &plain, AbsoluteAnchor{AnchorPos{0, 0}, AnchorExtent{10, INT64_MAX / 2}},
       std::nullopt, AnchorError::OutsideGrid},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto got = anchor_pixel_rect(c.anchor, *c.metrics, 0, 0);
    if (!c.rect) {
      ASSERT_FALSE(got.has_value());
      EXPECT_EQ(got.error(), c.error);
      continue;
    }
    ASSERT_TRUE(got.has_value()) << anchor_error_message(got.error());
    EXPECT_DOUBLE_EQ(got.value().x, c.rect->x);
    EXPECT_DOUBLE_EQ(got.value().y, c.rect->y);
    EXPECT_DOUBLE_EQ(got.value().width, c.rect->width);
    EXPECT_DOUBLE_EQ(got.value().height, c.rect->height);
  }
}

TEST(AnchorPixelRect, FrozenFlags) {
  const GridMetrics m = compute_grid_metrics(SheetModel{}, StyleSheet{});
  auto flags = [&](const ChartAnchor& anchor) {
    AnchorPixelRect r = anchor_pixel_rect(anchor, m, /*frozen_rows=*/2, /*frozen_cols=*/1).value();
    return std::pair(r.in_frozen_rows, r.in_frozen_cols);
  };
  EXPECT_EQ(flags(TwoCellAnchor{{}, cell(0, 0), cell(2, 2)}), std::pair(true, true));
  EXPECT_EQ(flags(TwoCellAnchor{{}, cell(1, 2), cell(3, 4)}), std::pair(false, false));
  EXPECT_EQ(flags(OneCellAnchor{cell(1, 1), AnchorExtent{10, 10}}), std::pair(true, false));
  EXPECT_EQ(flags(AbsoluteAnchor{AnchorPos{0, 0}, AnchorExtent{10, 10}}), std::pair(false, false));
}

TEST(AnchorPixelRect, NonFiniteGeometry) {
  SheetModel sheet;
  sheet.row_heights = {{0, 1e300}};  // a float edge of infinity
  const GridMetrics m = compute_grid_metrics(sheet, StyleSheet{});
  auto got = anchor_pixel_rect(OneCellAnchor{cell(0, 1), AnchorExtent{10, 10}}, m, 0, 0);
  ASSERT_FALSE(got.has_value());
  EXPECT_EQ(got.error(), AnchorError::NonFinite);
}

TEST(AnchorError, MessagesDistinct) {
  std::set<std::string_view> seen;
  for (int e = 0; e <= static_cast<int>(AnchorError::NonFinite); ++e) {
    std::string_view text = anchor_error_message(static_cast<AnchorError>(e));
    EXPECT_FALSE(text.empty());
    EXPECT_TRUE(seen.insert(text).second) << text;
  }
  EXPECT_EQ(anchor_error_message(AnchorError::InvertedCorners), "anchor corners are inverted or coincident");
}

}  // namespace
}  // namespace cmx::model
