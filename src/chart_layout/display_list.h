// The display list: drawing commands in painting order with the grid geometry
// of one viewport. Built by render/sheet_builder.h, scaled by
// render/viewport.h, painted by render/painter.h. The records are the
// renderer's; they live here because the chart layout writes them too.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "base/shared_string.h"

namespace cmx::render {

// Pixels of the viewport at scale 1 until scaled; origin top-left, y down.
struct Rect {
  float x = 0;
  float y = 0;
  float width = 0;
  float height = 0;
  friend bool operator==(const Rect&, const Rect&) = default;
};

// What a text command's x means. Other byte values centre, like Center.
enum class TextAlign : uint8_t { Left = 0, Center = 1, Right = 2 };

enum class PathOp : uint8_t { MoveTo = 0, LineTo = 1, QuadTo = 2, CubicTo = 3, Close = 4 };

// Control points in (x1, y1) and (x2, y2), end point in (x, y), as the op uses them.
struct PathElement {
  PathOp op = PathOp::MoveTo;
  double x1 = 0, y1 = 0, x2 = 0, y2 = 0, x = 0, y = 0;
  friend bool operator==(const PathElement&, const PathElement&) = default;
};

// Colours are "#" and six or eight hexadecimal digits; the painter checks them.
struct FillRect {
  float x = 0, y = 0, width = 0, height = 0;
  std::optional<Rect> clip;
  SharedString color;
};

struct Line {
  float x1 = 0, y1 = 0, x2 = 0, y2 = 0;
  float width = 1;
  std::optional<Rect> clip;
  std::optional<SharedString> style;  // "dashed", "dotted" or "double"; none is solid
  SharedString color;
};

struct Path {
  std::optional<Rect> clip;
  SharedString fill;
  std::optional<SharedString> stroke;
  float stroke_width = 0;  // only with a stroke colour
  std::vector<PathElement> elements;
};

struct Text {
  TextAlign align = TextAlign::Left;
  bool bold = false, italic = false, underline = false, strike = false, dashed_underline = false;
  float x = 0, y = 0;  // y is the baseline
  float size = 11;     // points, scaled with the geometry
  Rect clip;
  std::optional<SharedString> background;
  std::optional<SharedString> family;  // recorded, not used: one face draws every text
  SharedString text;
  SharedString color;
};

// Alternatives in the order of their kind bytes 0..3.
using DrawCommand = std::variant<FillRect, Line, Path, Text>;

// A hyperlink that meets the displayed cells, with its whole range.
struct LinkArea {
  std::optional<std::string> external_target;
  std::optional<std::string> location;
  std::optional<std::string> tooltip;
  uint32_t first_row = 0, first_col = 0, last_row = 0, last_col = 0;
};

struct ChartRegion {
  std::string label;  // "{drawing}#{anchor index}"
  std::string note;
  Rect frame;
  Rect clip;
  bool placeholder = false;
  bool anchored_to_cells = false;
};

struct DisplayList {
  std::vector<DrawCommand> commands;
  // The visible top of the first displayed row, then each row's drawn bottom;
  // empty when no row is displayed. Columns alike.
  std::vector<float> row_edges;
  std::vector<float> col_edges;
  // Present only when the displayed rows are not one consecutive run.
  std::optional<std::vector<uint32_t>> row_indices;
  std::optional<std::vector<uint32_t>> col_indices;
  uint32_t first_row = 0;
  uint32_t first_col = 0;
  std::vector<LinkArea> link_areas;
  std::vector<ChartRegion> chart_regions;
  float width = 0;
  float height = 0;
};

}  // namespace cmx::render
