// Text and line styles of a chart (run properties, text properties, the
// lines of axes and gridlines) and the text rule shared by titles, axis
// titles and single data labels. Next: chart_axes.h.
#pragma once

#include <optional>
#include <string>

#include "charts/chart_colors.h"
#include "xml/element_tree.h"

namespace cmx::charts {

// Points of letter spacing beyond which `spc` is ignored, in hundredths.
inline constexpr double MAX_LETTER_SPACING = 400000;
// Text runs a title collects.
inline constexpr size_t MAX_TITLE_RUNS = 100000;

struct ChartTextStyle {
  std::optional<double> size_pt;
  std::optional<double> spacing_pt;
  std::optional<std::string> typeface;
  std::optional<std::string> color;
  std::optional<bool> bold;
  std::optional<bool> italic;

  bool empty() const { return !size_pt && !spacing_pt && !typeface && !color && !bold && !italic; }
  friend bool operator==(const ChartTextStyle&, const ChartTextStyle&) = default;
};

struct ChartLineStyle {
  std::optional<double> width_emu;
  std::optional<std::string> color;
  bool no_line = false;
  friend bool operator==(const ChartLineStyle&, const ChartLineStyle&) = default;
};

// The six settings of an `rPr` or `defRPr`; `latin` and `solidFill` are
// searched below the element.
ChartTextStyle read_run_properties(const xml::XmlElement& properties, const Theme& theme);
// The first `defRPr` below the node, else the first `rPr`; absent when
// neither exists or nothing is set.
std::optional<ChartTextStyle> read_text_style(const xml::XmlElement* node, const Theme& theme);
// Field by field, the primary's value when present.
ChartTextStyle merge_text_styles(const ChartTextStyle& primary, const ChartTextStyle& fallback);
// The first `ln` child of an `spPr`; absent without either.
std::optional<ChartLineStyle> read_line_style(const xml::XmlElement* shape_properties, const Theme& theme);

// The runs of the first `rich` below the node joined and trimmed, else the
// first cached `v` below it, trimmed; absent when both are empty.
std::optional<std::string> read_title_text(const xml::XmlElement* node);
// A title's style: its first run's properties over the title's text
// properties (or its rich text's defaults).
std::optional<ChartTextStyle> read_title_style(const xml::XmlElement& title, const Theme& theme);

}  // namespace cmx::charts
