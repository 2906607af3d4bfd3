// Turns one viewport of a worksheet into a display list: background, fills,
// gridlines, borders, cell texts, hyperlink texts, chart frames and
// frozen-pane dividers.
// Read viewport.h next.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "absl/container/flat_hash_map.h"
#include "model/grid_metrics.h"
#include "model/workbook.h"
#include "session/session.h"
#include "base/result.h"
#include "chart_layout/chart_render_error.h"
#include "chart_layout/display_list.h"

namespace cmx::render {

inline constexpr float kGridlineWidth = 1;
inline constexpr float kDividerWidth = 2;
inline constexpr float kDefaultFontPt = 11;
inline constexpr float kTextInsetPx = 2;

// One displayed row (or column).
struct DisplayTrack {
  uint32_t index = 0;
  float start = 0;       // where its top is drawn
  float clip_start = 0;  // where its visible part begins (below a frozen band)
  float end = 0;
  bool frozen = false;
};

struct AxisLayout {
  std::vector<DisplayTrack> tracks;  // frozen first, then scrolled; ascending index
  std::vector<std::pair<uint32_t, uint32_t>> spans;  // runs of consecutive indices, end exclusive
  bool divider = false;
  float frozen_extent = 0;
  uint32_t frozen_count = 0;
  float offset = 0;
};

struct BorderStroke {
  SharedString color;
  std::optional<SharedString> style;
  float width = 1;
};

struct RenderFont {
  std::optional<double> size;
  std::optional<SharedString> family;
  std::optional<SharedString> color;
  bool bold = false, italic = false, underline = false, strike = false;
};

// A cell style resolved for drawing; shared by every cell that names it.
struct RenderStyle {
  bool borders = false;
  std::optional<BorderStroke> top, left, bottom, right;
  std::optional<RenderFont> font;
  SharedString number_format{"General"};
  std::optional<SharedString> fill;
  bool wrap = false;  // wrap text or shrink to fit: no overflow
  std::optional<model::VerticalAlignment> vertical;
  std::optional<model::HorizontalAlignment> horizontal;
};

// Resolves each style index once per build.
class RenderStyleCache {
 public:
  explicit RenderStyleCache(const model::StyleSheet& styles);
  std::shared_ptr<const RenderStyle> resolve(std::optional<uint32_t> style);

 private:
  const model::StyleSheet& styles_;
  std::shared_ptr<const RenderStyle> default_;
  absl::flat_hash_map<uint32_t, std::shared_ptr<const RenderStyle>> cache_;
};

BorderStroke border_stroke(const model::BorderEdge& edge, const model::StyleSheet& styles);

struct CellText {
  SharedString text;
  SharedString color;
};

// The cell's formatted text and its colour (section colour, font colour,
// else `default_color`); none for an empty value or an empty text.
std::optional<CellText> cell_text_and_color(const RenderStyle& style, model::DateSystem system,
                                            const model::SheetCell& cell, const SharedString& default_color);

// Lays out one axis. `frozen` is the sheet's frozen count, `max_tracks` the
// axis's size in the grid (1,048,576 rows or 16,384 columns).
AxisLayout layout_axis(const model::GridMetrics& metrics, bool rows, uint32_t frozen, float offset, float extent);

// The position of row (column) `index`, the default size past the measured ones.
double track_position(const model::GridMetrics& metrics, bool rows, uint32_t index);

// A sheet index past the last sheet gives the background only. The session
// serves the chart frames their parsed charts; `sheet_name` resolves chart
// references that name no sheet. Fails only when the chart frames end the
// render (operation budget, allocation).
Result<DisplayList, chart_layout::ChartRenderError> build_display_list(const model::WorkbookModel& model,
                                                                       uint32_t sheet, const Rect& viewport,
                                                                       session::WorkbookSession& session,
                                                                       std::string_view sheet_name);

}  // namespace cmx::render
