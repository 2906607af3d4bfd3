#include "charts/chart_series.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

#include "model/number_format.h"

namespace cmx::charts {
namespace {

constexpr double kMissing = std::numeric_limits<double>::quiet_NaN();

struct TextNumber {
  std::string text;
  double number = kMissing;
};

template <typename T>
struct YieldedPoint {
  uint64_t idx = 0;
  T value;
};

// A point's own `idx` attribute ("+" allowed), else the running index.
uint64_t read_point_index(const XmlElement& point, uint64_t running) {
  const std::optional<std::string_view> attribute = plain_attribute(point, "idx");
  if (!attribute) return running;
  std::string_view text = model::trim_unicode_white_space(*attribute);
  if (!text.empty() && text.front() == '+') text.remove_prefix(1);
  if (text.empty()) return running;
  uint64_t value = 0;
  for (char c : text) {
    if (c < '0' || c > '9') return running;
    if (__builtin_mul_overflow(value, 10, &value) || __builtin_add_overflow(value, uint64_t(c - '0'), &value)) {
      return running;
    }
  }
  return value;
}

std::string point_text(const XmlElement& point) {
  const XmlElement* value = first_child(point.children, "v");
  if (value == nullptr) return {};
  return std::string(model::trim_unicode_white_space(element_text(*value)));
}

std::optional<std::string> read_text_point(const XmlElement& point) { return point_text(point); }

std::optional<double> read_number_point(const XmlElement& point) {
  const XmlElement* value = first_child(point.children, "v");
  if (value == nullptr) return std::nullopt;
  return parse_chart_number(element_text(*value));
}

std::optional<TextNumber> read_text_number_point(const XmlElement& point) {
  TextNumber out;
  out.text = point_text(point);
  out.number = parse_chart_number(out.text).value_or(kMissing);
  return out;
}

// The dense list rule: the points of a cache stored at their indices, the
// list no longer than the largest kept index, the budget and the list cap
// allow, every gap missing.
template <typename T, typename Reader>
std::vector<T> read_dense_list(const XmlElement& cache, ChartBudgets& budgets, Reader&& reader, const T& missing) {
  std::vector<YieldedPoint<T>> yielded;
  uint64_t running = 0;
  uint64_t examined = 0;
  if (budgets.points > 0) {
    const uint64_t limit = std::min(budgets.points, MAX_CHART_LIST_READ);
    for (const XmlNode& node : cache.children) {
      if (examined >= limit) break;
      const XmlElement* child = node.element();
      if (child == nullptr || chart_local_name(*child) != "pt") continue;
      ++examined;
      std::optional<T> value = reader(*child);
      if (!value) continue;
      const uint64_t idx = read_point_index(*child, running);
      running = idx == UINT64_MAX ? idx : idx + 1;
      yielded.push_back({idx, std::move(*value)});
    }
  }
  budgets.charge_points(examined);
  const std::optional<uint32_t> point_count = parse_chart_index(child_value(cache.children, "ptCount"));
  uint64_t largest = 0;
  bool any_kept = false;
  for (const YieldedPoint<T>& point : yielded) {
    if (point_count && point.idx >= *point_count) continue;
    largest = any_kept ? std::max(largest, point.idx) : point.idx;
    any_kept = true;
  }
  if (!any_kept) return {};
  const uint64_t by_index = largest == UINT64_MAX ? largest : largest + 1;
  const uint64_t by_budget = yielded.size() + std::min(budgets.points, MAX_CHART_LIST_READ);
  const uint64_t length = std::min({by_index, by_budget, MAX_CHART_LIST_READ});
  if (length > yielded.size()) budgets.charge_points(length - yielded.size());
  std::vector<T> list(length, missing);
  for (YieldedPoint<T>& point : yielded) {
    if (point_count && point.idx >= *point_count) continue;
    if (point.idx < length) list[point.idx] = std::move(point.value);
  }
  return list;
}

const XmlElement* number_cache_of(const XmlElement* element) {
  if (element == nullptr) return nullptr;
  if (const XmlElement* cache = first_below(element, "numCache")) return cache;
  return first_below(element, "numLit");
}

const XmlElement* category_cache_of(const XmlElement& cat) {
  for (std::string_view name : {"strCache", "multiLvlStrCache", "numCache", "strLit", "numLit"}) {
    if (const XmlElement* cache = first_below(&cat, name)) return cache;
  }
  return nullptr;
}

std::optional<SeriesMarker> read_marker(const XmlElement* marker, const Theme& theme) {
  if (marker == nullptr) return std::nullopt;
  SeriesMarker out;
  out.symbol = child_text_value(marker->children, "symbol");
  out.size = child_number(marker->children, "size");
  out.fill = read_shape_fill_color(marker->children, theme);
  if (!out.symbol && !out.size && !out.fill) return std::nullopt;
  return out;
}

struct SeriesColors {
  std::optional<std::string> own;
  bool vary_points = false;
  uint64_t position = 0;
};

std::optional<ChartDataPoint> read_data_point(const XmlElement& point, const SeriesColors& colors,
                                              const Theme& theme) {
  ChartDataPoint out;
  if (const XmlElement* idx = first_child(point.children, "idx")) {
    out.idx = parse_chart_index(element_value(*idx));
    if (!out.idx) return std::nullopt;
  }
  out.explosion = child_number(point.children, "explosion");
  if (std::optional<std::string> fill = read_shape_fill_color(point.children, theme)) {
    out.color = std::move(*fill);
  } else if (colors.own) {
    out.color = *colors.own;
  } else {
    out.color = automatic_point_color(out.idx && colors.vary_points ? *out.idx : colors.position);
  }
  return out;
}

std::optional<std::vector<ChartDataPoint>> read_point_overrides(std::span<const XmlNode> children,
                                                               const SeriesColors& colors, ChartBudgets& budgets,
                                                               const Theme& theme) {
  if (budgets.points == 0) return std::nullopt;
  const uint64_t limit = std::min(budgets.points, MAX_CHART_LIST_READ);
  std::vector<ChartDataPoint> kept;
  uint64_t read = 0;
  for (const XmlNode& node : children) {
    if (read >= limit) break;
    const XmlElement* child = node.element();
    if (child == nullptr || chart_local_name(*child) != "dPt") continue;
    ++read;
    if (std::optional<ChartDataPoint> point = read_data_point(*child, colors, theme)) kept.push_back(std::move(*point));
  }
  budgets.charge_points(read);
  if (kept.empty()) return std::nullopt;
  return kept;
}

// Scatter x values: texts for the categories, numbers for the x values.
void read_x_cache(const XmlElement& x_values, ChartSeries& series, ChartBudgets& budgets) {
  const XmlElement* cache = number_cache_of(&x_values);
  if (cache == nullptr) return;
  std::vector<TextNumber> points = read_dense_list(*cache, budgets, read_text_number_point, TextNumber{});
  std::vector<double> numbers;
  series.categories.reserve(points.size());
  numbers.reserve(points.size());
  for (TextNumber& point : points) {
    series.categories.push_back(std::move(point.text));
    numbers.push_back(point.number);
  }
  if (!numbers.empty()) series.x_values = std::move(numbers);
}

std::optional<std::string> read_format_code(const XmlElement* values) {
  const XmlElement* cache = number_cache_of(values);
  const XmlElement* code = first_child(cache, "formatCode");
  if (code == nullptr) return std::nullopt;
  std::string text = element_text(*code);
  if (text.empty()) return std::nullopt;
  return text;
}

template <typename T>
std::optional<std::vector<T>> non_empty(std::vector<T> list) {
  if (list.empty()) return std::nullopt;
  return list;
}

ChartSeries read_series(const XmlElement& ser, uint64_t position, const PlotSeriesContext& plot,
                        ChartBudgets& budgets, const Theme& theme) {
  const std::span<const XmlNode> children = ser.children;
  ChartSeries out;
  const XmlElement* x_values = first_child(children, "xVal");
  const XmlElement* cat = first_child(children, "cat");
  const XmlElement* values = first_child(children, "val");
  if (values == nullptr) values = first_child(children, "yVal");
  out.marker = read_marker(first_child(children, "marker"), theme);

  SeriesColors colors;
  colors.own = read_shape_fill_color(children, theme);
  colors.vary_points = !colors.own && plot.vary_colors;
  colors.position = position;
  out.point_overrides = read_point_overrides(children, colors, budgets, theme);

  const bool scatter_form = x_values != nullptr && cat == nullptr;
  if (scatter_form) {
    read_x_cache(*x_values, out, budgets);
  } else if (cat != nullptr) {
    if (const XmlElement* cache = category_cache_of(*cat)) {
      out.categories = read_dense_list(*cache, budgets, read_text_point, std::string());
    }
  }
  if (const XmlElement* cache = number_cache_of(values)) {
    out.values = read_dense_list(*cache, budgets, read_number_point, kMissing);
  }
  if (!scatter_form) {
    if (const XmlElement* cache = number_cache_of(x_values)) {
      out.x_values = non_empty(read_dense_list(*cache, budgets, read_number_point, kMissing));
    }
  }
  out.name = read_title_text(first_child(children, "tx"));
  out.color = colors.own ? *colors.own : automatic_point_color(position);
  out.idx = parse_chart_index(child_value(children, "idx"));
  out.order = parse_chart_index(child_value(children, "order"));
  out.category_ref = read_reference_text(cat != nullptr ? cat : x_values);
  out.values_ref = read_reference_text(values);
  out.format_code = read_format_code(values);
  if (!plot.axis_ids.empty()) out.axis_ids = plot.axis_ids;
  out.grouping = plot.grouping;
  if (child_value(children, "smooth") == "1") out.smooth = true;
  if (const XmlElement* sizes = first_child(children, "bubbleSize")) {
    out.bubble_sizes = non_empty(read_number_cache(sizes, budgets));
  }
  out.data_labels = read_data_labels(first_child(children, "dLbls"), budgets, theme);
  out.line = read_line_style(first_child(children, "spPr"), theme);
  return out;
}

}  // namespace

std::vector<double> read_number_cache(const XmlElement* element, ChartBudgets& budgets) {
  const XmlElement* cache = number_cache_of(element);
  if (cache == nullptr) return {};
  return read_dense_list(*cache, budgets, read_number_point, kMissing);
}

std::optional<std::string> read_reference_text(const XmlElement* element) {
  const XmlElement* formula = first_below(element, "f");
  if (formula == nullptr) return std::nullopt;
  return trimmed_chart_text(element_text(*formula));
}

std::optional<std::string> read_shape_fill_color(std::span<const XmlNode> children, const Theme& theme) {
  const XmlElement* fill = first_below(first_child(children, "spPr"), "solidFill");
  if (fill == nullptr) return std::nullopt;
  return resolve_scheme_color(*fill, theme);
}

std::vector<ChartSeries> read_plot_series(std::span<const XmlNode> plot_children, const PlotSeriesContext& plot,
                                          ChartBudgets& budgets, const Theme& theme) {
  std::vector<ChartSeries> series;
  const uint64_t allowed = budgets.series;
  for (const XmlNode& node : plot_children) {
    if (series.size() >= allowed) break;
    const XmlElement* child = node.element();
    if (child == nullptr || chart_local_name(*child) != "ser") continue;
    series.push_back(read_series(*child, series.size(), plot, budgets, theme));
  }
  return series;
}

}  // namespace cmx::charts
