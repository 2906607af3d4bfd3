// Number texts of chart labels, independent of the workbook's number-format
// engine: the short and percent forms, a subset of format codes (sections,
// currency and colour brackets, digit placeholders, percent, thousands,
// literals), and the texts of data-label fields. Next: axes.h.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>

#include "chart_layout/plot_view.h"

namespace cmx::chart_layout {

std::string format_percent_label(double value);
std::string tick_label_text(double value, const std::optional<std::string>& code, bool percent);
// None for what the subset does not cover: the caller falls back to the
// short forms.
std::optional<std::string> format_chart_number(double value, std::string_view code);
// The literal text before and after the digit placeholders of a section.
std::pair<std::string, std::string> split_format_literals(std::string_view section);
std::string group_thousands(std::string_view number);
// One field ("VALUE", "PERCENTAGE", "SERIESNAME", "CATEGORYNAME") of point i.
std::string label_field_text(std::string_view field_type, std::span<const SeriesView> views, const SeriesView& series,
                             uint64_t i, double total, const std::optional<std::string>& code);

}  // namespace cmx::chart_layout
