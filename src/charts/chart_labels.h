// Data labels of plots and series: what a label shows, how it looks, and
// the overrides of single points. Next: chart_series.h.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "charts/chart_text_styles.h"
#include "charts/chart_values.h"

namespace cmx::charts {

// `dLbl` elements one `dLbls` reads, and labels it keeps.
inline constexpr uint64_t MAX_LABELS_READ = 100000;
inline constexpr size_t MAX_LABELS_KEPT = 4096;

// A run of text, a line feed between paragraphs, or a field (`type` of an
// `fld`: what the label shows at that place).
struct DataLabelSegment {
  bool is_field = false;
  std::string text;
  friend bool operator==(const DataLabelSegment&, const DataLabelSegment&) = default;
};

struct ChartDataLabel;

// The settings of a `dLbls` or of one `dLbl`. The flags keep three states:
// absent is not false.
struct ChartDataLabels {
  std::optional<ChartTextStyle> text_style;
  std::optional<std::string> separator;
  std::optional<std::string> position;
  std::optional<std::string> number_format;
  std::optional<std::vector<ChartDataLabel>> labels;  // never set inside a ChartDataLabel
  std::optional<bool> deleted;
  std::optional<bool> show_value;
  std::optional<bool> show_category_name;
  std::optional<bool> show_series_name;
  std::optional<bool> show_percent;
  std::optional<bool> show_legend_key;
  std::optional<bool> show_bubble_size;
  friend bool operator==(const ChartDataLabels&, const ChartDataLabels&);
};

struct ChartDataLabel {
  std::optional<uint32_t> idx;
  ChartDataLabels settings;
  std::optional<std::string> text;
  // Kept only when the rich text holds a field.
  std::optional<std::vector<DataLabelSegment>> segments;
  friend bool operator==(const ChartDataLabel&, const ChartDataLabel&) = default;
};

// Absent exactly when there is no node. Each `dLbl` read costs one point of
// the budget; labels beyond the budget are not read, beyond 4,096 not kept.
std::optional<ChartDataLabels> read_data_labels(const xml::XmlElement* labels, ChartBudgets& budgets,
                                                const Theme& theme);
// The settings of a `dLbls` or `dLbl` from its children; `labels` absent.
ChartDataLabels read_data_label_settings(std::span<const XmlNode> children, const Theme& theme);
// One `dLbl`; absent (dropped) when its `idx` is not a whole number.
std::optional<ChartDataLabel> read_data_label(const xml::XmlElement& label, const Theme& theme);

}  // namespace cmx::charts
