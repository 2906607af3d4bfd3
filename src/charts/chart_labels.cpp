#include "charts/chart_labels.h"

#include <algorithm>

namespace cmx::charts {
namespace {

std::optional<std::vector<DataLabelSegment>> read_segments(const XmlElement* tx) {
  const XmlElement* rich = tx == nullptr ? nullptr : first_below(tx, "rich");
  if (rich == nullptr) return std::nullopt;
  std::vector<DataLabelSegment> segments;
  bool has_field = false;
  for (const XmlNode& paragraph_node : rich->children) {
    const XmlElement* paragraph = paragraph_node.element();
    if (paragraph == nullptr || chart_local_name(*paragraph) != "p") continue;
    if (!segments.empty()) segments.push_back({false, "\n"});
    for (const XmlNode& part_node : paragraph->children) {
      const XmlElement* part = part_node.element();
      if (part == nullptr) continue;
      const std::string_view local = chart_local_name(*part);
      if (local == "r") {
        segments.push_back({false, element_text(*part)});
      } else if (local == "fld") {
        segments.push_back({true, std::string(plain_attribute(*part, "type").value_or(""))});
        has_field = true;
      }
    }
  }
  if (!has_field) return std::nullopt;
  return segments;
}

}  // namespace

bool operator==(const ChartDataLabels& a, const ChartDataLabels& b) {
  return a.text_style == b.text_style && a.separator == b.separator && a.position == b.position &&
         a.number_format == b.number_format && a.labels == b.labels && a.deleted == b.deleted &&
         a.show_value == b.show_value && a.show_category_name == b.show_category_name &&
         a.show_series_name == b.show_series_name && a.show_percent == b.show_percent &&
         a.show_legend_key == b.show_legend_key && a.show_bubble_size == b.show_bubble_size;
}

ChartDataLabels read_data_label_settings(std::span<const XmlNode> children, const Theme& theme) {
  ChartDataLabels out;
  out.text_style = read_text_style(first_child(children, "txPr"), theme);
  if (const XmlElement* separator = first_child(children, "separator")) {
    std::string text = element_text(*separator);
    if (!text.empty()) out.separator = std::move(text);
  }
  out.position = child_text_value(children, "dLblPos");
  if (const XmlElement* format = first_child(children, "numFmt")) {
    if (const auto code = plain_attribute(*format, "formatCode")) out.number_format = std::string(*code);
  }
  out.deleted = read_bool_child(children, "delete");
  out.show_value = read_bool_child(children, "showVal");
  out.show_category_name = read_bool_child(children, "showCatName");
  out.show_series_name = read_bool_child(children, "showSerName");
  out.show_percent = read_bool_child(children, "showPercent");
  out.show_legend_key = read_bool_child(children, "showLegendKey");
  out.show_bubble_size = read_bool_child(children, "showBubbleSize");
  return out;
}

std::optional<ChartDataLabel> read_data_label(const XmlElement& label, const Theme& theme) {
  ChartDataLabel out;
  if (const XmlElement* idx = first_child(label.children, "idx")) {
    out.idx = parse_chart_index(element_value(*idx));
    if (!out.idx) return std::nullopt;
  }
  const XmlElement* tx = first_child(label.children, "tx");
  out.text = read_title_text(tx);
  out.segments = read_segments(tx);
  out.settings = read_data_label_settings(label.children, theme);
  return out;
}

std::optional<ChartDataLabels> read_data_labels(const XmlElement* labels, ChartBudgets& budgets,
                                                const Theme& theme) {
  if (labels == nullptr) return std::nullopt;
  std::vector<ChartDataLabel> kept;
  if (!labels->children.empty() && budgets.points > 0) {
    const uint64_t limit = std::min(budgets.points, MAX_LABELS_READ);
    uint64_t read = 0;
    for (const XmlNode& node : labels->children) {
      if (read >= limit) break;
      const XmlElement* child = node.element();
      if (child == nullptr || chart_local_name(*child) != "dLbl") continue;
      ++read;
      std::optional<ChartDataLabel> label = read_data_label(*child, theme);
      if (label && kept.size() < MAX_LABELS_KEPT) kept.push_back(std::move(*label));
    }
    budgets.charge_points(read);
  }
  ChartDataLabels out = read_data_label_settings(labels->children, theme);
  if (!kept.empty()) out.labels = std::move(kept);
  return out;
}

}  // namespace cmx::charts
