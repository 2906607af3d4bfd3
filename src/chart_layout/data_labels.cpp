#include <algorithm>
#include <cmath>

#include "chart_layout/geometry.h"
#include "chart_layout/label_numbers.h"
#include "model/number_format.h"

namespace cmx::chart_layout {
namespace {

const LabelSettings* label_settings(const SeriesView& series, const PointStyle* record) {
  if (record && record->labels) return &*record->labels;
  if (series.series->labels) return &*series.series->labels;
  return nullptr;
}

TextStyle label_style(const PlotView& view, const LabelSettings* settings) {
  if (!settings) return make_text_style(view.chart_props, 400, 10);
  return make_text_style(merge_text_props(settings->text, view.chart_props), 400, 10);
}

// None when the point shows no text.
std::optional<std::string> label_text(const PlotView& view, const SeriesView& series, const PointStyle* record,
                                      const LabelSettings* settings, uint64_t i, double v, double total) {
  if (record && record->label_runs) {
    const std::optional<std::string> code = settings ? settings->number_format : std::nullopt;
    std::string text;
    for (const charts::DataLabelSegment& run : *record->label_runs) {
      text += run.is_field ? label_field_text(run.text, view.series, series, i, total, code) : run.text;
    }
    return text;
  }
  if (record && record->label_text) return *record->label_text;
  if (!settings) return std::nullopt;
  std::vector<std::string> parts;
  if (settings->show_series_name && series.series->name()) parts.push_back(*series.series->name());
  if (settings->show_category_name) parts.push_back(category_label_text(view.series, i));
  if (settings->show_value) {
    std::optional<std::string> text;
    if (settings->number_format) text = format_chart_number(v, *settings->number_format);
    parts.push_back(text ? *text : format_label_number(v));
  }
  if (settings->show_percent) parts.push_back(format_percent_label(total > 0 ? v / total : 0));
  if (settings->show_bubble_size) {
    const std::span<const double> sizes = series.series->bubble_sizes();
    const double size = i < sizes.size() && sizes[i] > 0 && std::isfinite(sizes[i]) ? sizes[i] : 0;
    parts.push_back(format_label_number(size));
  }
  if (parts.empty()) return std::nullopt;
  const std::string separator = settings->separator.value_or(", ");
  std::string text = parts[0];
  for (size_t p = 1; p < parts.size(); ++p) text += separator + parts[p];
  return text;
}

}  // namespace

double point_total(const PlotView& view, uint64_t i) {
  double total = 0;
  for (const SeriesView& series : view.series) {
    if (const std::optional<double> v = point_value(series, i)) total += std::fabs(*v);
  }
  return total;
}

double PointTotals::operator()(uint64_t i) {
  if (i >= count_) return point_total(view_, i);
  if (totals_.empty()) {
    totals_.assign(count_, 0.0);
    for (const SeriesView& series : view_.series) {
      const std::span<const double> values = series.series->values();
      const uint64_t end = std::min<uint64_t>(values.size(), count_);
      for (uint64_t p = 0; p < end; ++p) {
        if (std::isfinite(values[p])) totals_[p] += std::fabs(values[p]);
      }
    }
  }
  return totals_[i];
}

void draw_data_label(ChartEmitter& emitter, const PlotView& view, const SeriesView& series, uint64_t k, uint64_t i,
                     bool centred, double x, double y, double width, double total) {
  const std::optional<double> v = point_value(series, i);
  if (!v) return;
  const PointStyle* record = series.record(i);
  const LabelSettings* settings = label_settings(series, record);
  const std::optional<std::string> text = label_text(view, series, record, settings, i, *v, total);
  if (!text) return;
  if (settings && settings->show_legend_key) {
    emit_fill_rect(emitter, point_fill_colour(series, i, k), x - 10, y - 7, 7, 7);
  }
  const TextStyle style = label_style(view, settings);
  const double s = style.size_px;
  std::vector<std::string_view> lines;
  std::string_view rest = *text;
  for (size_t feed; (feed = rest.find('\n')) != std::string_view::npos; rest.remove_prefix(feed + 1)) {
    lines.push_back(rest.substr(0, feed));
  }
  lines.push_back(rest);
  const double first = y - static_cast<double>(lines.size() - 1) * 1.2 * s / 2;
  const render::TextAlign align = centred ? render::TextAlign::Center : render::TextAlign::Left;
  for (size_t j = 0; j < lines.size(); ++j) {
    emit_text(emitter, model::trim_unicode_white_space(lines[j]), style, align, x,
              first + static_cast<double>(j) * 1.2 * s, width);
  }
}

double draw_point_marker(ChartEmitter& emitter, const SeriesView& series, uint64_t k, uint64_t i, double x, double y) {
  const std::optional<MarkerSymbol> symbol = marker_symbol(series, i, k);
  const double size = marker_size_px(series, i);
  emit_marker(emitter, symbol, point_fill_colour(series, i, k), x, y, size);
  return symbol ? size : 0;
}

void draw_point_label(ChartEmitter& emitter, const PlotView& view, const SeriesView& series, uint64_t k,
                      uint64_t i, double x, double y, double marker_size, double total) {
  const LabelSettings* settings = label_settings(series, series.record(i));
  const double s = label_style(view, settings).size_px;
  const double e = marker_size / 2 + 3;
  double ax = x + e, ay = y + 0.35 * s;
  bool centred = false;
  if (settings && settings->position) {
    const std::string& position = *settings->position;
    if (position == "ctr") {
      ax = x - 24, centred = true;
    } else if (position == "b") {
      ax = x - 24, ay = y + e + 0.75 * s, centred = true;
    } else if (position == "t") {
      ax = x - 24, ay = y - e - 0.25 * s, centred = true;
    } else if (position == "l") {
      ax = x - e - 48, centred = true;
    }
  }
  draw_data_label(emitter, view, series, k, i, centred, ax, ay, 48, total);
}

}  // namespace cmx::chart_layout
