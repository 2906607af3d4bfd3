#include "chart_layout/legend.h"

#include <algorithm>

#include "base/number_text.h"

namespace cmx::chart_layout {
namespace {

constexpr double kSideInset = 13;
constexpr double kPlotGap = 12;
constexpr double kOuterInset = 9.5;

bool is_pie_like(const std::string& family) {
  return family == "pie" || family == "doughnut" || family == "ofPie";
}

// Keeps the leading rows whose heights add up to at most `available`.
void keep_fitting_rows(std::vector<LegendRow>& rows, double available) {
  double sum = 0;
  size_t kept = 0;
  for (; kept < rows.size(); ++kept) {
    if (sum + rows[kept].height > available) break;
    sum += rows[kept].height;
  }
  rows.resize(kept);
}

double rows_height(const std::vector<LegendRow>& rows) {
  double sum = 0;
  for (const LegendRow& row : rows) sum += row.height;
  return sum;
}

double widest_line(const std::vector<std::string>& lines, double s, double sp, double extra) {
  double widest = 0;
  for (const std::string& line : lines) widest = std::max(widest, measure_text_width(line, s, sp) + extra);
  return widest;
}

// Rows of a stacked area or column plot read bottom-up, as the stack does.
void reverse_stacked_runs(const ChartRenderModel& model, std::vector<LegendRow>& rows) {
  size_t start = 0;
  for (const RenderPlot& plot : model.plots) {
    const size_t end = std::min(start + plot.series.size(), rows.size());
    const std::string& family = plot_family(model, plot);
    const bool stacked = plot->grouping && (*plot->grouping == "stacked" || *plot->grouping == "percentStacked");
    if ((family == "area" || family == "column") && stacked && start < end) {
      std::reverse(rows.begin() + static_cast<std::ptrdiff_t>(start), rows.begin() + static_cast<std::ptrdiff_t>(end));
    }
    start = end;
  }
}

}  // namespace

std::vector<LegendEntry> build_legend_entries(const ChartRenderModel& model, SeriesBudgets budgets) {
  std::vector<const RenderSeries*> series;
  if (!model.plots.empty()) {
    for (const RenderPlot& plot : model.plots) {
      for (const RenderSeries& s : plot.series) {
        if (series.size() == kMaxLegendEntries) break;
        series.push_back(&s);
      }
    }
  } else {
    for (const RenderSeries& s : model.series) {
      if (series.size() == kMaxLegendEntries) break;
      series.push_back(&s);
    }
  }
  bool per_point = is_pie_like(model.chart_family);
  for (const RenderPlot& plot : model.plots) per_point = per_point || is_pie_like(plot->kind);
  if (!per_point && series.size() == 1) {
    for (const RenderPlot& plot : model.plots) {
      const std::string& family = plot_family(model, plot);
      if (plot->vary_colors && (family == "column" || family == "bar")) per_point = true;
    }
  }
  std::vector<LegendEntry> entries;
  if (per_point) {
    if (series.empty()) return entries;
    const SeriesView view = build_series_view(*series.front(), budgets);
    const uint64_t n = std::min<uint64_t>(series.front()->point_count(), kMaxLegendEntries);
    const std::span<const std::string> categories = series.front()->categories();
    for (uint64_t i = 0; i < n; ++i) {
      entries.push_back({i < categories.size() ? categories[i] : format_u64(i + 1), point_fill_colour(view, i, i)});
    }
    return entries;
  }
  for (size_t p = 0; p < series.size(); ++p) {
    const RenderSeries& s = *series[p];
    entries.push_back({s.name() ? *s.name() : "Series " + format_u64(p + 1),
                       s.fill().empty() ? palette_colour(p) : normalise_colour_text(s.fill())});
  }
  return entries;
}

LegendPlacement layout_legend(const ChartRenderModel& model, const ChartFrame& frame, const TextStyle& style,
                              double title_block, double extra_top, const ChartMargins& margins,
                              const std::vector<PlotView>& views) {
  LegendPlacement placement;
  if (!model.legend_present) return placement;
  const bool reserve = !model.legend_overlay;
  const std::string position = model.legend_position.value_or("right");
  const bool horizontal = position == "top" || position == "bottom";
  const double s = style.size_px;
  const double sp = style.spacing_px;
  const bool all_round = std::all_of(views.begin(), views.end(), [](const PlotView& v) {
    return is_pie_like(v.family) || v.family == "radar";
  });
  const double h0 = views.empty() || all_round ? 33.5 : 24 + extra_top + margins.top + margins.bottom;
  const std::vector<LegendEntry> entries = build_legend_entries(model, SeriesBudgets{});

  LegendLayout layout;
  layout.horizontal = horizontal;
  if (!horizontal) {
    const double wmax = std::max(frame.width / 3, s + 0.85 * s);
    for (const LegendEntry& entry : entries) {
      LegendLine line;
      line.lines = wrap_chart_text(entry.text, wmax - 0.85 * s, s, sp);
      line.colour = entry.colour;
      line.width = 0.85 * s + widest_line(line.lines, s, sp, 0);
      line.height = static_cast<double>(std::max<size_t>(line.lines.size(), 1) - 1) * 1.22 * s + 1.53 * s;
      LegendRow row;
      row.width = line.width;
      row.height = line.height;
      row.entries.push_back(std::move(line));
      layout.rows.push_back(std::move(row));
    }
    reverse_stacked_runs(model, layout.rows);
    const double title_top = frame.y + title_block;
    const double start = position == "topRight" ? title_top + kSideInset : title_top;
    keep_fitting_rows(layout.rows, std::max(0.0, frame.y + frame.height - start));
    double widest = 0;
    for (const LegendRow& row : layout.rows) widest = std::max(widest, row.width);
    layout.width = std::min(wmax, widest);
    layout.height = rows_height(layout.rows);
    layout.x = position == "left" ? frame.x + kSideInset : frame.x + frame.width - kSideInset - layout.width;
    layout.y = position == "topRight"
                   ? title_top + kSideInset
                   : std::max(title_top, (title_top + frame.y + frame.height) / 2 - layout.height / 2);
    if (reserve && !layout.rows.empty()) {
      (position == "left" ? placement.reserves.left : placement.reserves.right) = s + kSideInset + layout.width;
    }
  } else {
    const double aw = std::max(0.0, frame.width - 19);
    if (0.85 * s < aw) {
      layout.rows.emplace_back();
      for (const LegendEntry& entry : entries) {
        LegendLine line;
        line.lines = wrap_chart_text(entry.text, aw - 0.85 * s, s, sp);
        line.colour = entry.colour;
        line.width = 0.85 * s + widest_line(line.lines, s, sp, 13);
        line.height = (static_cast<double>(std::max<size_t>(line.lines.size(), 1) - 1) * 1.22 + 1.4) * s;
        if (!layout.rows.back().entries.empty() && layout.rows.back().width + 0.65 * s + line.width > aw) {
          layout.rows.emplace_back();
        }
        LegendRow& row = layout.rows.back();
        row.width += (row.entries.empty() ? 0 : 0.65 * s) + line.width;
        row.height = std::max(row.height, line.height);
        row.entries.push_back(std::move(line));
      }
    }
    const double available = reserve ? std::max(0.0, frame.height - title_block - kPlotGap - h0)
                                     : std::max(0.0, frame.height - title_block - kOuterInset);
    keep_fitting_rows(layout.rows, available);
    layout.x = frame.x + kOuterInset;
    layout.width = aw;
    layout.height = rows_height(layout.rows);
    layout.y = position == "top" ? frame.y + title_block : frame.y + frame.height - kOuterInset - layout.height;
    if (reserve && layout.height > 0) {
      (position == "top" ? placement.reserves.top : placement.reserves.bottom) = layout.height + kPlotGap;
    }
  }
  placement.layout = std::move(layout);
  return placement;
}

void draw_legend(ChartEmitter& emitter, const std::optional<LegendLayout>& layout, const TextStyle& style) {
  if (!layout || !(layout->width > 0)) return;
  const double s = style.size_px;
  const auto left = render::TextAlign::Left;
  double top = layout->y;
  for (const LegendRow& row : layout->rows) {
    if (!layout->horizontal) {
      for (const LegendLine& entry : row.entries) {
        emit_fill_rect(emitter, entry.colour, layout->x, top + 0.5 * s, 0.53 * s, 0.53 * s);
        for (size_t k = 0; k < entry.lines.size(); ++k) {
          emit_text(emitter, entry.lines[k], style, left, layout->x + 0.85 * s,
                    top + 0.765 * s + (0.24 + 1.22 * static_cast<double>(k)) * s,
                    std::max(1.0, layout->width - 0.85 * s + 13));
        }
      }
    } else {
      const double middle = top + row.height / 2;
      double x = layout->x + std::max(0.0, (layout->width - row.width) / 2);
      for (const LegendLine& entry : row.entries) {
        emit_fill_rect(emitter, entry.colour, x, middle - 0.265 * s, 0.53 * s, 0.53 * s);
        const double lines = static_cast<double>(entry.lines.size());
        for (size_t k = 0; k < entry.lines.size(); ++k) {
          emit_text(emitter, entry.lines[k], style, left, x + 0.85 * s,
                    middle - 0.61 * s * (lines - 1) + 0.24 * s + 1.22 * s * static_cast<double>(k),
                    std::max(1.0, entry.width - 0.85 * s + 13));
        }
        x += entry.width + 0.65 * s;
      }
    }
    top += row.height;
  }
}

}  // namespace cmx::chart_layout
