#include "chart_layout/render_model.h"

#include <algorithm>
#include <array>
#include <utility>

#include "absl/container/flat_hash_map.h"
#include "absl/container/flat_hash_set.h"

namespace cmx::chart_layout {
namespace {

using charts::ChartDataLabel;
using charts::ChartDataLabels;

template <typename T, typename Get>
std::optional<T> first_stated(const std::array<const ChartDataLabels*, 4>& levels, Get get) {
  for (const ChartDataLabels* level : levels) {
    if (level == nullptr) continue;
    const std::optional<T>& value = get(*level);
    if (value) return value;
  }
  return std::nullopt;
}

template <typename T, typename Get>
std::optional<T> first_style_member(const std::array<const ChartDataLabels*, 4>& levels, Get get) {
  for (const ChartDataLabels* level : levels) {
    if (level == nullptr || !level->text_style) continue;
    const std::optional<T>& value = get(*level->text_style);
    if (value) return value;
  }
  return std::nullopt;
}

// Steps 4 to 6 look at no more than the first 4,096 labels of a list.
std::span<const ChartDataLabel> resolved_labels(const ChartDataLabels* labels) {
  if (labels == nullptr || !labels->labels) return {};
  const auto& list = *labels->labels;
  return std::span<const ChartDataLabel>(list).first(std::min(list.size(), kMaxPointLabelsResolved));
}

void upsert_point_label(std::vector<PointStyle>& records, bool unindexed, size_t first_unindexed, uint64_t index,
                        const ChartDataLabel* series_label, const ChartDataLabel* plot_label,
                        const ChartDataLabels* plot_labels, const ChartDataLabels* series_labels) {
  std::optional<LabelSettings> labels =
      merge_data_labels(series_label ? &series_label->settings : nullptr, series_labels,
                        plot_label ? &plot_label->settings : nullptr, plot_labels);
  std::optional<std::string> text;
  std::optional<std::vector<charts::DataLabelSegment>> runs;
  if (labels) {
    text = series_label && series_label->text ? series_label->text : plot_label ? plot_label->text : std::nullopt;
    runs = series_label && series_label->segments ? series_label->segments
           : plot_label                            ? plot_label->segments
                                                   : std::nullopt;
  }
  const auto found = std::find_if(records.begin(), records.end(),
                                  [&](const PointStyle& r) { return r.indexed && r.index == index; });
  const size_t p = static_cast<size_t>(found - records.begin());
  if (found != records.end() && !(unindexed && first_unindexed < p)) {
    found->labels = std::move(labels);
    found->label_text = std::move(text);
    found->label_runs = std::move(runs);
    return;
  }
  PointStyle record;
  record.indexed = true;
  record.index = index;
  record.labels = std::move(labels);
  record.label_text = std::move(text);
  record.label_runs = std::move(runs);
  if (unindexed) {
    record.fill = records[first_unindexed].fill;
    records.insert(records.begin() + static_cast<std::ptrdiff_t>(first_unindexed), std::move(record));
  } else {
    records.push_back(std::move(record));
  }
}

}  // namespace

size_t RenderSeries::point_count() const {
  return std::max({categories().size(), values().size(), x_values().size(), bubble_sizes().size()});
}

std::optional<LabelSettings> merge_data_labels(const ChartDataLabels* l1, const ChartDataLabels* l2,
                                               const ChartDataLabels* l3, const ChartDataLabels* l4) {
  const std::array<const ChartDataLabels*, 4> levels = {l1, l2, l3, l4};
  if (!l1 && !l2 && !l3 && !l4) return std::nullopt;
  if (first_stated<bool>(levels, [](const ChartDataLabels& l) -> const auto& { return l.deleted; }).value_or(false)) {
    return std::nullopt;
  }
  LabelSettings out;
  out.separator = first_stated<std::string>(levels, [](const ChartDataLabels& l) -> const auto& { return l.separator; });
  out.position = first_stated<std::string>(levels, [](const ChartDataLabels& l) -> const auto& { return l.position; });
  out.number_format =
      first_stated<std::string>(levels, [](const ChartDataLabels& l) -> const auto& { return l.number_format; });
  auto flag = [&](auto member) {
    return first_stated<bool>(levels, [&](const ChartDataLabels& l) -> const auto& { return l.*member; }).value_or(false);
  };
  out.show_value = flag(&ChartDataLabels::show_value);
  out.show_category_name = flag(&ChartDataLabels::show_category_name);
  out.show_series_name = flag(&ChartDataLabels::show_series_name);
  out.show_percent = flag(&ChartDataLabels::show_percent);
  out.show_legend_key = flag(&ChartDataLabels::show_legend_key);
  out.show_bubble_size = flag(&ChartDataLabels::show_bubble_size);
  using charts::ChartTextStyle;
  out.text.size_pt = first_style_member<double>(levels, [](const ChartTextStyle& s) -> const auto& { return s.size_pt; });
  out.text.spacing_pt =
      first_style_member<double>(levels, [](const ChartTextStyle& s) -> const auto& { return s.spacing_pt; });
  out.text.typeface =
      first_style_member<std::string>(levels, [](const ChartTextStyle& s) -> const auto& { return s.typeface; });
  out.text.color = first_style_member<std::string>(levels, [](const ChartTextStyle& s) -> const auto& { return s.color; });
  out.text.bold = first_style_member<bool>(levels, [](const ChartTextStyle& s) -> const auto& { return s.bold; });
  out.text.italic = first_style_member<bool>(levels, [](const ChartTextStyle& s) -> const auto& { return s.italic; });
  return out;
}

MarkerSymbol marker_symbol_from_text(const std::optional<std::string>& text) {
  static constexpr std::pair<std::string_view, MarkerSymbol> kSymbols[] = {
      {"auto", MarkerSymbol::Auto},       {"none", MarkerSymbol::None},   {"circle", MarkerSymbol::Circle},
      {"dash", MarkerSymbol::Dash},       {"diamond", MarkerSymbol::Diamond}, {"dot", MarkerSymbol::Dot},
      {"plus", MarkerSymbol::Plus},       {"square", MarkerSymbol::Square}, {"star", MarkerSymbol::Star},
      {"triangle", MarkerSymbol::Triangle}, {"x", MarkerSymbol::X},
  };
  if (!text) return MarkerSymbol::Other;
  for (const auto& [name, symbol] : kSymbols) {
    if (*text == name) return symbol;
  }
  return MarkerSymbol::Other;
}

AxisKind axis_kind_from_text(const std::string& kind) {
  if (kind == "value") return AxisKind::Value;
  if (kind == "date") return AxisKind::Date;
  if (kind == "series") return AxisKind::Series;
  return AxisKind::Category;
}

RenderSeries build_render_series(const charts::ChartSeries& series, const ChartDataLabels* plot_labels) {
  RenderSeries out;
  out.source = &series;
  const ChartDataLabels* series_labels = series.data_labels ? &*series.data_labels : nullptr;
  out.labels = merge_data_labels(series_labels, nullptr, plot_labels, nullptr);
  if (out.labels && !out.labels->number_format && series.format_code) out.labels->number_format = series.format_code;

  if (series.point_overrides) {
    for (const charts::ChartDataPoint& point : *series.point_overrides) {
      PointStyle record;
      record.indexed = point.idx.has_value();
      record.index = point.idx.value_or(0);
      record.explosion = point.explosion;
      record.labels = out.labels;
      if (!point.color.empty()) record.fill = point.color;
      out.points.push_back(std::move(record));
    }
  }
  const auto unindexed_at =
      std::find_if(out.points.begin(), out.points.end(), [](const PointStyle& r) { return !r.indexed; });
  const bool unindexed = unindexed_at != out.points.end();
  const size_t first_unindexed = static_cast<size_t>(unindexed_at - out.points.begin());

  absl::flat_hash_map<uint64_t, const ChartDataLabel*> plot_by_index;
  for (const ChartDataLabel& label : resolved_labels(plot_labels)) {
    if (label.idx) plot_by_index.try_emplace(*label.idx, &label);
  }
  absl::flat_hash_set<uint64_t> seen;
  for (const ChartDataLabel& label : resolved_labels(series_labels)) {
    if (!label.idx) continue;
    seen.insert(*label.idx);
    const auto plot = plot_by_index.find(*label.idx);
    upsert_point_label(out.points, unindexed, first_unindexed, *label.idx, &label,
                       plot == plot_by_index.end() ? nullptr : plot->second, plot_labels, series_labels);
  }
  absl::flat_hash_set<uint64_t> met;
  for (const ChartDataLabel& label : resolved_labels(plot_labels)) {
    if (!label.idx || seen.contains(*label.idx) || !met.insert(*label.idx).second) continue;
    upsert_point_label(out.points, unindexed, first_unindexed, *label.idx, nullptr, &label, plot_labels,
                       series_labels);
  }
  if (series.format_code) {
    for (PointStyle& record : out.points) {
      if (record.labels && !record.labels->number_format) record.labels->number_format = series.format_code;
    }
  }
  if (series.marker) {
    out.marker.present = true;
    out.marker.size_pt = series.marker->size;
    out.marker.symbol = marker_symbol_from_text(series.marker->symbol);
  }
  return out;
}

ChartRenderModel build_render_model(const charts::ChartModel& chart) {
  ChartRenderModel model;
  model.chart_props = chart.text_style.value_or(charts::ChartTextStyle{});
  model.title_props = chart.title_style;
  if (chart.legend) {
    model.legend_props = chart.legend->text_style;
    model.legend_present = true;
    model.legend_overlay = chart.legend->overlay;
    model.legend_position = chart.legend->position;
  }
  if (chart.plot_area_layout) {
    const charts::PlotAreaLayout& l = *chart.plot_area_layout;
    model.manual_layout = ManualLayout{l.x, l.y, l.w, l.h};
  }
  model.background = chart.background;
  if (chart.axes) {
    if (chart.axes->value) {
      model.fallback_min = chart.axes->value->min;
      model.fallback_max = chart.axes->value->max;
      model.fallback_value_title = chart.axes->value->title;
    }
    if (chart.axes->category) model.fallback_category_title = chart.axes->category->title;
  }
  model.series.reserve(chart.series.size());
  for (const charts::ChartSeries& series : chart.series) model.series.push_back(build_render_series(series, nullptr));
  model.plots.reserve(chart.plots.size());
  for (const charts::ChartPlot& plot : chart.plots) {
    RenderPlot out{&plot, {}};
    out.series.reserve(plot.series.size());
    const ChartDataLabels* labels = plot.data_labels ? &*plot.data_labels : nullptr;
    for (const charts::ChartSeries& series : plot.series) out.series.push_back(build_render_series(series, labels));
    model.plots.push_back(std::move(out));
  }
  if (chart.all_axes) {
    for (const charts::ChartAxis& axis : *chart.all_axes) model.axes.push_back({&axis, axis_kind_from_text(axis.kind)});
  }
  model.chart_family = chart.primary_kind;
  model.title = chart.title;
  return model;
}

}  // namespace cmx::chart_layout
