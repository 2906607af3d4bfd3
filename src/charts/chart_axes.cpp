#include "charts/chart_axes.h"

#include "charts/chart_values.h"

namespace cmx::charts {
namespace {

struct TextMapping {
  std::string_view written;
  std::string_view read;
};

constexpr TextMapping kAxisPositions[] = {{"b", "bottom"}, {"l", "left"}, {"r", "right"}, {"t", "top"}};
constexpr TextMapping kLegendPositions[] = {
    {"b", "bottom"}, {"l", "left"}, {"r", "right"}, {"t", "top"}, {"tr", "topRight"}};
constexpr std::string_view kCrosses[] = {"autoZero", "min", "max"};
constexpr std::string_view kCrossBetween[] = {"between", "midCat"};

std::optional<std::string> mapped_value(std::span<const XmlNode> children, std::string_view local,
                                        std::span<const TextMapping> table) {
  const std::optional<std::string_view> value = child_value(children, local);
  if (!value) return std::nullopt;
  for (const TextMapping& mapping : table) {
    if (mapping.written == *value) return std::string(mapping.read);
  }
  return std::nullopt;
}

std::string axis_kind(std::string_view local) {
  if (local == "catAx") return "category";
  if (local == "dateAx") return "date";
  if (local == "serAx") return "series";
  return "value";
}

}  // namespace

bool is_axis_element(std::string_view local) {
  return local == "catAx" || local == "valAx" || local == "serAx" || local == "dateAx";
}

ChartAxis read_axis(const XmlElement& axis, const Theme& theme) {
  const std::span<const XmlNode> children = axis.children;
  ChartAxis out;
  out.kind = axis_kind(chart_local_name(axis));
  out.id = child_text_value(children, "axId");
  out.title = read_title_text(first_child(children, "title"));
  if (const XmlElement* scaling = first_child(children, "scaling")) {
    out.min = child_number(scaling->children, "min");
    out.max = child_number(scaling->children, "max");
    out.log_base = child_number(scaling->children, "logBase");
    out.reversed = child_value(scaling->children, "orientation") == "maxMin";
  }
  out.crosses = child_value_in(children, "crosses", kCrosses);
  out.crosses_at = child_number(children, "crossesAt");
  out.major_unit = child_number(children, "majorUnit");
  out.minor_unit = child_number(children, "minorUnit");
  out.cross_between = child_value_in(children, "crossBetween", kCrossBetween);
  out.position = mapped_value(children, "axPos", kAxisPositions);
  out.cross_axis_id = child_text_value(children, "crossAx");
  if (const XmlElement* format = first_child(children, "numFmt")) {
    if (const auto code = plain_attribute(*format, "formatCode")) out.number_format = std::string(*code);
  }
  out.major_tick_mark = child_text_value(children, "majorTickMark");
  out.minor_tick_mark = child_text_value(children, "minorTickMark");
  out.tick_label_position = child_text_value(children, "tickLblPos");
  out.deleted = child_value(children, "delete") == "1";
  const XmlElement* major = first_child(children, "majorGridlines");
  const XmlElement* minor = first_child(children, "minorGridlines");
  out.has_major_gridlines = major != nullptr;
  out.has_minor_gridlines = minor != nullptr;
  out.major_gridline_style = read_line_style(first_child(major, "spPr"), theme);
  out.minor_gridline_style = read_line_style(first_child(minor, "spPr"), theme);
  out.line_style = read_line_style(first_child(children, "spPr"), theme);
  out.text_style = read_text_style(first_child(children, "txPr"), theme);
  return out;
}

ChartLegend read_legend(const XmlElement& legend, const Theme& theme) {
  ChartLegend out;
  out.position = mapped_value(legend.children, "legendPos", kLegendPositions);
  if (const XmlElement* overlay = first_child(legend.children, "overlay")) {
    const std::optional<std::string_view> value = element_value(*overlay);
    out.overlay = !(value == "0" || value == "false");
  }
  out.text_style = read_text_style(first_child(legend.children, "txPr"), theme);
  return out;
}

}  // namespace cmx::charts
