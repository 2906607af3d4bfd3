#include "charts/chart_reader.h"

#include <algorithm>
#include <cmath>
#include <set>

#include "charts/chart_values.h"
#include "xml/element_tree.h"

namespace cmx::charts {
namespace {

constexpr std::string_view kGroupings[] = {"stacked", "standard", "clustered", "percentStacked"};
constexpr std::string_view kScatterStyles[] = {"none", "line", "marker", "smooth", "lineMarker", "smoothMarker"};
constexpr std::string_view kRadarStyles[] = {"marker", "filled", "standard"};
constexpr std::string_view kSizeRepresents[] = {"area", "w"};

struct PlotKind {
  std::string_view element;
  std::string_view kind;
};
constexpr PlotKind kPlotKinds[] = {
    {"pieChart", "pie"},         {"lineChart", "line"},       {"areaChart", "area"},
    {"radarChart", "radar"},     {"stockChart", "stock"},     {"ofPieChart", "ofPie"},
    {"bubbleChart", "bubble"},   {"scatterChart", "scatter"}, {"surfaceChart", "surface"},
    {"doughnutChart", "doughnut"},
};

bool ends_with_3d_chart(std::string_view local) {
  constexpr std::string_view kSuffix = "3DChart";
  return local.size() >= kSuffix.size() && local.substr(local.size() - kSuffix.size()) == kSuffix;
}

// The elements the model looks for anywhere below the root, found in one
// walk: each search runs to 64 levels below the root, so they share it.
struct RootLandmarks {
  bool has_3d = false;
  const XmlElement* plot_area = nullptr;
  const XmlElement* title = nullptr;
  const XmlElement* legend = nullptr;
};

void note_landmark(const XmlElement& element, RootLandmarks& found) {
  const std::string_view local = chart_local_name(element);
  if (ends_with_3d_chart(local)) found.has_3d = true;
  else if (local == "plotArea" && found.plot_area == nullptr) found.plot_area = &element;
  else if (local == "title" && found.title == nullptr) found.title = &element;
  else if (local == "legend" && found.legend == nullptr) found.legend = &element;
}

void find_landmarks_below(const XmlElement& element, size_t level, RootLandmarks& found) {
  if (level > MAX_CHART_SEARCH_DEPTH) return;
  for (const XmlNode& node : element.children) {
    if (found.has_3d) return;
    const XmlElement* child = node.element();
    if (child == nullptr) continue;
    note_landmark(*child, found);
    find_landmarks_below(*child, level + 1, found);
  }
}

RootLandmarks find_landmarks(const XmlElement& root) {
  RootLandmarks found;
  note_landmark(root, found);
  if (!found.has_3d) find_landmarks_below(root, 1, found);
  return found;
}

bool is_pie_like(std::string_view kind) { return kind == "pie" || kind == "doughnut" || kind == "ofPie"; }

size_t count_series_elements(std::span<const XmlNode> children) {
  return static_cast<size_t>(std::count_if(children.begin(), children.end(), [](const XmlNode& node) {
    const XmlElement* child = node.element();
    return child != nullptr && chart_local_name(*child) == "ser";
  }));
}

std::optional<PlotAreaLayout> read_plot_area_layout(const XmlElement& plot_area) {
  const XmlElement* manual = first_child(first_child(plot_area.children, "layout"), "manualLayout");
  if (manual == nullptr) return std::nullopt;
  const std::span<const XmlNode> children = manual->children;
  if (child_value(children, "layoutTarget") != "inner" || child_value(children, "xMode") != "edge" ||
      child_value(children, "yMode") != "edge") {
    return std::nullopt;
  }
  const std::optional<double> x = parse_plain_decimal(child_value(children, "x"));
  const std::optional<double> y = parse_plain_decimal(child_value(children, "y"));
  const std::optional<double> w = parse_plain_decimal(child_value(children, "w"));
  const std::optional<double> h = parse_plain_decimal(child_value(children, "h"));
  if (!x || !y || !w || !h) return std::nullopt;
  if (!(*w > 0) || !(*h > 0) || *x < 0 || *x > 1 || *y < 0 || *y > 1) return std::nullopt;
  return PlotAreaLayout{*x, *y, *w, *h};
}

// A `dLbls` shows labels unless its first `delete` says exactly "1".
bool labels_shown(const XmlElement* labels) {
  if (labels == nullptr) return false;
  if (labels->children.empty()) return true;
  const XmlElement* deleted = first_child(labels->children, "delete");
  return deleted == nullptr || element_value(*deleted) != "1";
}

bool read_labels_enabled(std::span<const XmlNode> plot_children) {
  if (labels_shown(first_child(plot_children, "dLbls"))) return true;
  uint64_t examined = 0;
  for (const XmlNode& node : plot_children) {
    const XmlElement* ser = node.element();
    if (ser == nullptr || chart_local_name(*ser) != "ser") continue;
    if (examined++ >= MAX_CHART_SERIES) break;
    if (labels_shown(first_child(ser->children, "dLbls"))) return true;
  }
  return false;
}

ChartPlot read_plot(const XmlElement& element, std::string kind, ChartBudgets& budgets, const Theme& theme) {
  const std::span<const XmlNode> children = element.children;
  ChartPlot plot;
  plot.grouping = child_value_in(children, "grouping", kGroupings);
  for (const XmlNode& node : children) {
    if (plot.axis_ids.size() >= MAX_PLOT_AXIS_IDS) break;
    const XmlElement* child = node.element();
    if (child == nullptr || chart_local_name(*child) != "axId") continue;
    if (auto id = element_value(*child); id && !id->empty()) plot.axis_ids.emplace_back(*id);
  }
  PlotSeriesContext context{plot.grouping, plot.axis_ids, vary_colors_applies(element)};
  plot.series = read_plot_series(children, context, budgets, theme);
  budgets.series -= std::min<uint64_t>(budgets.series, plot.series.size());
  plot.kind = std::move(kind);
  plot.overlap = child_number(children, "overlap");
  plot.gap_width = child_number(children, "gapWidth");
  plot.vary_colors = read_vary_colors(children);
  plot.first_slice_angle = child_number(children, "firstSliceAng");
  plot.doughnut_hole_size = child_number(children, "holeSize");
  plot.labels_enabled = read_labels_enabled(children);
  plot.scatter_style = child_value_in(children, "scatterStyle", kScatterStyles);
  plot.radar_style = child_value_in(children, "radarStyle", kRadarStyles);
  plot.bubble_scale = child_number(children, "bubbleScale");
  plot.size_represents = child_value_in(children, "sizeRepresents", kSizeRepresents);
  plot.wireframe = read_bool_child(children, "wireframe");
  plot.has_hi_low_lines = first_child(children, "hiLowLines") != nullptr;
  plot.has_up_down_bars = first_child(children, "upDownBars") != nullptr;
  plot.show_marker = read_bool_child(children, "marker");
  plot.data_labels = read_data_labels(first_child(children, "dLbls"), budgets, theme);
  return plot;
}

// Gives every finite point of a series without its own fill an override in
// its automatic colour, unless the part overrides that point already.
void add_automatic_point_colors(const XmlElement& ser, ChartSeries& series, ChartBudgets& budgets,
                                const Theme& theme) {
  if (read_shape_fill_color(ser.children, theme)) return;
  std::vector<uint32_t> positions;
  for (size_t i = 0; i < series.values.size(); ++i) {
    if (std::isfinite(series.values[i])) positions.push_back(static_cast<uint32_t>(i));
  }
  std::vector<ChartDataPoint> overrides = series.point_overrides.value_or(std::vector<ChartDataPoint>{});
  std::set<uint32_t> overridden;
  for (const ChartDataPoint& point : overrides) {
    if (point.idx) overridden.insert(*point.idx);
  }
  const uint64_t allowed = std::min<uint64_t>(budgets.points, positions.size());
  uint64_t appended = 0;
  for (uint32_t position : positions) {
    if (appended >= allowed) break;
    if (overridden.count(position) != 0) continue;
    overrides.push_back({position, std::nullopt, automatic_point_color(position)});
    ++appended;
  }
  budgets.charge_points(appended);
  if (overrides.empty()) {
    series.point_overrides.reset();
  } else {
    series.point_overrides = std::move(overrides);
  }
}

std::string fold_primary_kind(std::string_view kind) {
  if (kind == "bar" || kind == "pie" || kind == "line" || kind == "column" || kind == "doughnut") {
    return std::string(kind);
  }
  if (kind == "ofPie") return "pie";
  return "line";
}

std::optional<ChartFill> read_background(const XmlElement* shape_properties, const Theme& theme) {
  if (shape_properties == nullptr || shape_properties->children.empty()) return std::nullopt;
  const std::span<const XmlNode> children = shape_properties->children;
  if (first_child(children, "noFill") != nullptr) return NoFill{};
  if (const XmlElement* solid = first_child(children, "solidFill")) {
    if (std::optional<std::string> color = resolve_scheme_color(*solid, theme)) return SolidFill{std::move(*color)};
    return UnsupportedFill{};
  }
  if (const XmlElement* gradient = first_child(children, "gradFill")) {
    std::optional<std::vector<std::string>> stops =
        collect_fill_stop_colors(first_child(gradient->children, "gsLst"), MAX_GRADIENT_STOPS, theme);
    if (!stops || stops->empty()) return UnsupportedFill{};
    return GradientFill{std::move(*stops)};
  }
  if (const XmlElement* pattern = first_child(children, "pattFill")) {
    PatternFill fill;
    if (const XmlElement* fg = first_child(pattern->children, "fgClr")) fill.foreground = resolve_scheme_color(*fg, theme);
    if (const XmlElement* bg = first_child(pattern->children, "bgClr")) fill.background = resolve_scheme_color(*bg, theme);
    return fill;
  }
  if (first_child(children, "blipFill") != nullptr || first_child(children, "grpFill") != nullptr) {
    return UnsupportedFill{};
  }
  return std::nullopt;
}

std::optional<PrimaryAxes> read_primary_axes(const XmlElement& plot_area, const Theme& theme) {
  const std::span<const XmlNode> children = plot_area.children;
  PrimaryAxes axes;
  const XmlElement* category = first_child(children, "catAx");
  if (category == nullptr) category = first_child(children, "dateAx");
  if (category != nullptr) axes.category = read_axis(*category, theme);
  if (const XmlElement* value = first_child(children, "valAx")) axes.value = read_axis(*value, theme);
  if (!axes.category && !axes.value) return std::nullopt;
  return axes;
}

}  // namespace

std::string_view chart_refusal_message(ChartRefusal refusal) {
  switch (refusal) {
    case ChartRefusal::Unreadable: return "chart part cannot be read";
    case ChartRefusal::ThreeDimensional: return "three-dimensional charts are not modelled";
    case ChartRefusal::NoPlotArea: return "chart has no plot area";
    case ChartRefusal::NoKnownPlot: return "chart plot area holds no known plot";
  }
  return "chart part cannot be read";
}

bool contains_3d_chart(const XmlElement& root) { return find_landmarks(root).has_3d; }

std::optional<std::string> plot_kind_text(const XmlElement& plot) {
  const std::string_view local = chart_local_name(plot);
  if (local == "barChart") return std::string(child_value(plot.children, "barDir") == "bar" ? "bar" : "column");
  for (const PlotKind& entry : kPlotKinds) {
    if (entry.element == local) return std::string(entry.kind);
  }
  return std::nullopt;
}

bool read_vary_colors(std::span<const XmlNode> plot_children) {
  const XmlElement* vary = first_child(plot_children, "varyColors");
  if (vary == nullptr) return true;
  const std::optional<std::string_view> value = element_value(*vary);
  return !(value == "0" || value == "false");
}

bool vary_colors_applies(const XmlElement& plot) {
  const std::optional<std::string> kind = plot_kind_text(plot);
  if (!kind || !read_vary_colors(plot.children)) return false;
  if (is_pie_like(*kind)) return true;
  return (*kind == "bar" || *kind == "column") && count_series_elements(plot.children) == 1;
}

namespace {

Result<ChartModel, ChartRefusal> build_from_landmarks(const XmlElement& root, const RootLandmarks& landmarks,
                                                      const Theme& theme) {
  const XmlElement* plot_area = landmarks.plot_area;
  if (plot_area == nullptr) return unexpected(ChartRefusal::NoPlotArea);
  std::vector<std::pair<const XmlElement*, std::string>> plot_elements;
  for (const XmlNode& node : plot_area->children) {
    if (plot_elements.size() >= MAX_CHART_PLOTS) break;
    const XmlElement* child = node.element();
    if (child == nullptr) continue;
    if (std::optional<std::string> kind = plot_kind_text(*child)) plot_elements.emplace_back(child, std::move(*kind));
  }
  if (plot_elements.empty()) return unexpected(ChartRefusal::NoKnownPlot);

  ChartModel model;
  model.plot_area_layout = read_plot_area_layout(*plot_area);
  ChartBudgets budgets;
  for (auto& [element, kind] : plot_elements) model.plots.push_back(read_plot(*element, std::move(kind), budgets, theme));

  for (size_t plot_idx = 0; plot_idx < plot_elements.size(); ++plot_idx) {
    const XmlElement& element = *plot_elements[plot_idx].first;
    if (element.children.empty() || !vary_colors_applies(element)) continue;
    std::vector<ChartSeries>& series = model.plots[plot_idx].series;
    size_t series_idx = 0;
    for (const XmlNode& node : element.children) {
      if (series_idx >= series.size()) break;
      const XmlElement* ser = node.element();
      if (ser == nullptr || chart_local_name(*ser) != "ser") continue;
      add_automatic_point_colors(*ser, series[series_idx++], budgets, theme);
    }
  }

  model.primary_kind = fold_primary_kind(model.plots.front().kind);
  for (const ChartPlot& plot : model.plots) {
    for (const ChartSeries& source : plot.series) {
      ChartSeries summary;
      summary.name = source.name;
      summary.categories = source.categories;
      summary.values = source.values;
      summary.color = source.color;
      model.series.push_back(std::move(summary));
    }
  }

  std::vector<ChartAxis> all_axes;
  for (const XmlNode& node : plot_area->children) {
    if (all_axes.size() >= MAX_CHART_AXES) break;
    const XmlElement* child = node.element();
    if (child != nullptr && is_axis_element(chart_local_name(*child))) all_axes.push_back(read_axis(*child, theme));
  }
  if (!all_axes.empty()) model.all_axes = std::move(all_axes);
  model.axes = read_primary_axes(*plot_area, theme);
  if (model.axes && model.axes->category && !model.series.empty() && !model.series.front().categories.empty()) {
    model.axes->category->category_labels = model.series.front().categories;
  }

  if (const XmlElement* title = landmarks.title) {
    model.title = read_title_text(title);
    model.title_style = read_title_style(*title, theme);
  }
  if (const XmlElement* legend = landmarks.legend) model.legend = read_legend(*legend, theme);
  model.text_style = read_text_style(first_child(root.children, "txPr"), theme);
  model.background = read_background(first_child(root.children, "spPr"), theme);
  return model;
}

}  // namespace

Result<ChartModel, ChartRefusal> build_chart_model(const XmlElement& root, const Theme& theme) {
  return build_from_landmarks(root, find_landmarks(root), theme);
}

Result<ChartModel, ChartRefusal> read_chart_model(std::string_view part_bytes, const model::WorkbookTheme& theme) {
  Result<xml::XmlElement, xml::SpreadsheetParseError> root = xml::parse_part_tree(part_bytes);
  if (!root) return unexpected(ChartRefusal::Unreadable);
  const RootLandmarks landmarks = find_landmarks(*root);
  if (landmarks.has_3d) return unexpected(ChartRefusal::ThreeDimensional);
  return build_from_landmarks(*root, landmarks, chart_theme(theme));
}

std::shared_ptr<const ChartModel> read_chart_part(std::string_view part_bytes, const model::WorkbookTheme& theme) {
  Result<ChartModel, ChartRefusal> model = read_chart_model(part_bytes, theme);
  if (!model) return nullptr;
  return std::make_shared<const ChartModel>(std::move(*model));
}

}  // namespace cmx::charts
