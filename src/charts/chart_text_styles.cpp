#include "charts/chart_text_styles.h"

#include <cmath>

#include "charts/chart_values.h"
#include "model/number_format.h"

namespace cmx::charts {
namespace {

std::optional<bool> flag_attribute(const XmlElement& element, std::string_view name) {
  const std::optional<std::string_view> value = plain_attribute(element, name);
  if (value == "1" || value == "true") return true;
  if (value == "0" || value == "false") return false;
  return std::nullopt;
}

// Appends the text of every `t` below the node, in document order.
void collect_runs(const XmlElement& node, size_t level, size_t& runs, std::string& out) {
  if (level > MAX_CHART_SEARCH_DEPTH) return;
  for (const XmlNode& child_node : node.children) {
    const XmlElement* child = child_node.element();
    if (child == nullptr) continue;
    if (chart_local_name(*child) == "t") {
      if (runs >= MAX_TITLE_RUNS) return;
      ++runs;
      out += element_text(*child);
      continue;
    }
    collect_runs(*child, level + 1, runs, out);
    if (runs >= MAX_TITLE_RUNS) return;
  }
}

}  // namespace

ChartTextStyle read_run_properties(const XmlElement& properties, const Theme& theme) {
  ChartTextStyle style;
  if (std::optional<double> size = parse_chart_number(plain_attribute(properties, "sz")); size && *size > 0) {
    style.size_pt = *size / 100;
  }
  if (std::optional<double> spacing = parse_chart_number(plain_attribute(properties, "spc"));
      spacing && std::fabs(*spacing) <= MAX_LETTER_SPACING) {
    style.spacing_pt = *spacing / 100;
  }
  if (const XmlElement* latin = first_below(&properties, "latin")) {
    if (const auto typeface = plain_attribute(*latin, "typeface")) {
      const std::string_view trimmed = model::trim_unicode_white_space(*typeface);
      if (!trimmed.empty()) style.typeface = std::string(trimmed);
    }
  }
  if (const XmlElement* fill = first_below(&properties, "solidFill")) style.color = resolve_scheme_color(*fill, theme);
  style.bold = flag_attribute(properties, "b");
  style.italic = flag_attribute(properties, "i");
  return style;
}

std::optional<ChartTextStyle> read_text_style(const XmlElement* node, const Theme& theme) {
  if (node == nullptr) return std::nullopt;
  const XmlElement* properties = first_below(node, "defRPr");
  if (properties == nullptr) properties = first_below(node, "rPr");
  if (properties == nullptr) return std::nullopt;
  ChartTextStyle style = read_run_properties(*properties, theme);
  if (style.empty()) return std::nullopt;
  return style;
}

ChartTextStyle merge_text_styles(const ChartTextStyle& primary, const ChartTextStyle& fallback) {
  ChartTextStyle merged;
  merged.size_pt = primary.size_pt ? primary.size_pt : fallback.size_pt;
  merged.spacing_pt = primary.spacing_pt ? primary.spacing_pt : fallback.spacing_pt;
  merged.typeface = primary.typeface ? primary.typeface : fallback.typeface;
  merged.color = primary.color ? primary.color : fallback.color;
  merged.bold = primary.bold ? primary.bold : fallback.bold;
  merged.italic = primary.italic ? primary.italic : fallback.italic;
  return merged;
}

std::optional<ChartLineStyle> read_line_style(const XmlElement* shape_properties, const Theme& theme) {
  const XmlElement* line = first_child(shape_properties, "ln");
  if (line == nullptr) return std::nullopt;
  ChartLineStyle style;
  style.no_line = first_child(line->children, "noFill") != nullptr;
  if (const XmlElement* fill = first_child(line->children, "solidFill")) style.color = resolve_scheme_color(*fill, theme);
  style.width_emu = parse_chart_number(plain_attribute(*line, "w"));
  return style;
}

std::optional<std::string> read_title_text(const XmlElement* node) {
  if (node == nullptr) return std::nullopt;
  if (const XmlElement* rich = first_below(node, "rich")) {
    std::string runs_text;
    size_t runs = 0;
    collect_runs(*rich, 1, runs, runs_text);
    if (auto text = trimmed_chart_text(runs_text)) return text;
  }
  if (const XmlElement* value = first_below(node, "v")) return trimmed_chart_text(element_text(*value));
  return std::nullopt;
}

std::optional<ChartTextStyle> read_title_style(const XmlElement& title, const Theme& theme) {
  const XmlElement* rich = first_below(&title, "rich");
  std::optional<ChartTextStyle> fallback = read_text_style(first_child(title.children, "txPr"), theme);
  if (!fallback && rich != nullptr) fallback = read_text_style(rich, theme);
  const XmlElement* run = first_below(rich, "rPr");
  if (run == nullptr) return fallback;
  const ChartTextStyle run_style = read_run_properties(*run, theme);
  if (run_style.empty()) return fallback;
  if (!fallback) return run_style;
  return merge_text_styles(run_style, *fallback);
}

}  // namespace cmx::charts
