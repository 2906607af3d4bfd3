#include "chart_layout/geometry.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numbers>

#include "chart_layout/label_numbers.h"
#include "chart_layout/layout.h"

namespace cmx::chart_layout {
namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// One plot of a family over series of values, with a plot record, a value
// axis, a category axis and an x axis the test may change before `finish`.
struct Plot {
  std::vector<charts::ChartSeries> series;
  std::vector<RenderSeries> render;
  charts::ChartPlot record;
  RenderPlot plot;
  charts::ChartAxis value_axis{.kind = "value"};
  charts::ChartAxis category_axis{.kind = "category"};
  charts::ChartAxis x_axis{.kind = "value"};
  std::vector<RenderAxis> axes;
  TextStyle body;
  PlotView view;
  bool with_value_axis = false;
  bool with_category_axis = false;
  bool with_record = true;

  Plot(std::string family, std::vector<std::vector<double>> values) {
    record.kind = family;
    view.family = std::move(family);
    for (auto& v : values) {
      charts::ChartSeries s;
      s.values = std::move(v);
      series.push_back(std::move(s));
    }
  }

  PlotView& finish() {
    render.clear();
    for (const charts::ChartSeries& s : series) render.push_back(build_render_series(s, nullptr));
    axes = {RenderAxis{&value_axis, AxisKind::Value}, RenderAxis{&category_axis, AxisKind::Category},
            RenderAxis{&x_axis, AxisKind::Value}};
    plot.plot = &record;
    SeriesBudgets budgets;
    view.series = build_series_views(render, budgets);
    view.body_style = &body;
    view.plot = with_record ? &plot : nullptr;
    view.value_axis = with_value_axis ? &axes[0] : nullptr;
    view.category_axis = with_category_axis ? &axes[1] : nullptr;
    view.x_axis = with_value_axis ? &axes[2] : nullptr;
    return view;
  }
};

struct Drawn {
  std::vector<render::DrawCommand> commands;
  uint64_t budget = 1000000;
  ChartOpSinkStatus status = ChartOpSinkStatus::Healthy;

  template <typename T>
  std::vector<const T*> all(std::string_view colour = "") const {
    std::vector<const T*> out;
    for (const auto& command : commands) {
      const T* found = std::get_if<T>(&command);
      if (!found) continue;
      std::string_view c;
      if constexpr (std::is_same_v<T, render::Path>) {
        c = found->fill.view();
      } else {
        c = found->color.view();
      }
      if (colour.empty() || c == colour) out.push_back(found);
    }
    return out;
  }
  std::vector<std::string> texts() const {
    std::vector<std::string> out;
    for (const render::Text* t : all<render::Text>()) out.emplace_back(t->text.view());
    return out;
  }
};

Drawn draw(const std::function<void(ChartEmitter&)>& body, uint64_t remaining = kChartEmitLimit) {
  Drawn out;
  ChartOpSink sink{out.commands, out.budget, render::Rect{-2000, -2000, 6000, 6000}};
  ChartEmitter emitter{sink, remaining};
  body(emitter);
  out.status = sink.status;
  return out;
}

const PlotArea kArea{100, 50, 400, 200, 60};

TEST(BarLayout, GapOverlapAndSpan) {
  struct Case {
    size_t series;
    std::optional<double> gap, overlap;
    double span;
    BarLayout expected;
  };
  const Case cases[] = {
      {1, {}, {}, 200, {200, 80, 60, 80}},
      {3, 0, 0, 300, {300, 100, 0, 100}},
      {1, 600, {}, 100, {100, 100 / 6.0, 100 * (1 - 1 / 6.0) / 2, 100 / 6.0}},  // read as 500
      {1, -20, {}, 100, {100, 100, 0, 100}},                                      // read as 0
      {2, 0, 150, 100, {100, 100, 0, 0}},                                         // all bars on one place
      {2, 0, -250, 100, {100, 100 / 3.0, 0, 200 / 3.0}},                           // a bar of space between
      {1, {}, {}, 0.3, {0.3, 0.5, 0, 0.5}},
  };
  for (const Case& c : cases) {
    Plot plot("column", std::vector<std::vector<double>>(c.series, {1.0}));
    plot.record.gap_width = c.gap;
    plot.record.overlap = c.overlap;
    const BarLayout got = bar_layout(plot.finish(), 1, c.span);
    EXPECT_DOUBLE_EQ(got.slot, c.expected.slot);
    EXPECT_DOUBLE_EQ(got.bar, c.expected.bar) << c.series << " " << c.span;
    EXPECT_DOUBLE_EQ(got.first, c.expected.first);
    EXPECT_DOUBLE_EQ(got.step, c.expected.step);
  }
}

TEST(StackBounds, Groupings) {
  using Bounds = std::vector<std::pair<double, double>>;
  const std::pair<std::string, Bounds> cases[] = {
      {"clustered", {{0, 3}, {0, -2}, {0, 4}}},
      {"standard", {{0, 3}, {0, -2}, {0, 4}}},
      {"stacked", {{0, 3}, {0, -2}, {3, 7}}},
      {"percentStacked", {{0, 3 / 9.0}, {0, -2 / 9.0}, {3 / 9.0, 7 / 9.0}}},
  };
  for (const auto& [grouping, expected] : cases) {
    Plot plot("column", {{3}, {-2}, {4}});
    plot.record.grouping = grouping;
    const Bounds got = stack_bounds(plot.finish(), 0);
    ASSERT_EQ(got.size(), expected.size());
    for (size_t i = 0; i < got.size(); ++i) {
      EXPECT_NEAR(got[i].first, expected[i].first, 1e-12) << grouping;
      EXPECT_NEAR(got[i].second, expected[i].second, 1e-12) << grouping;
    }
  }
  Plot zero("column", {{0}, {kNaN}});
  zero.record.grouping = "percentStacked";
  EXPECT_EQ(stack_bounds(zero.finish(), 0), (Bounds{{0, 0}, {0, 0}}));
}

TEST(PlotAxes, TicksFromTheTopLabelsMarksLinesAndTitles) {
  Plot plot("column", {{0, 10}});
  plot.with_value_axis = true;
  plot.value_axis.has_major_gridlines = true;
  plot.value_axis.major_tick_mark = "out";
  plot.value_axis.max = 100;
  plot.value_axis.major_unit = 50;
  plot.view.value_title = "Value";
  plot.value_axis.line_style = charts::ChartLineStyle{.width_emu = 19050, .color = "#112233"};
  plot.with_category_axis = true;
  plot.view.category_title = "Category";
  const PlotView& view = plot.finish();
  const Drawn out = draw([&](ChartEmitter& e) { draw_category_plot_axes(e, view, kArea); });
  // The topmost gridline, label and tick mark come first.
  const auto& grid = std::get<render::Line>(out.commands[0]);
  EXPECT_EQ(grid.color.view(), "#D9D9D9");
  EXPECT_FLOAT_EQ(grid.y1, 50);
  const auto& label = std::get<render::Text>(out.commands[1]);
  EXPECT_EQ(label.text.view(), "100");
  EXPECT_FLOAT_EQ(label.x, 100 - 13 - 15);  // 0.6 * 10 + 7, then 3 half ems
  EXPECT_FLOAT_EQ(label.y, 52.5);
  const auto& mark = std::get<render::Line>(out.commands[2]);
  EXPECT_FLOAT_EQ(mark.x1, 93);
  EXPECT_FLOAT_EQ(mark.x2, 100);
  EXPECT_EQ(out.all<render::Line>("#D9D9D9").size(), 3u);
  const auto axis_lines = out.all<render::Line>("#112233");
  ASSERT_EQ(axis_lines.size(), 1u);
  EXPECT_FLOAT_EQ(axis_lines[0]->width, 2);
  EXPECT_FLOAT_EQ(axis_lines[0]->x1, 100);
  EXPECT_EQ(out.texts(), (std::vector<std::string>{"100", "50", "0", "Value", "Category"}));

  // Deleted: gridlines stay, labels and marks go; a no-fill gridline line hides gridlines only.
  plot.value_axis.deleted = true;
  plot.finish();
  Drawn deleted = draw([&](ChartEmitter& e) { draw_category_plot_axes(e, view, kArea); });
  EXPECT_EQ(deleted.all<render::Line>("#D9D9D9").size(), 3u);
  EXPECT_EQ(deleted.texts(), (std::vector<std::string>{"Value", "Category"}));
  plot.value_axis.deleted = false;
  plot.value_axis.major_gridline_style = charts::ChartLineStyle{.no_line = true};
  plot.value_axis.has_minor_gridlines = true;  // without a minor unit: none
  plot.finish();
  Drawn hidden = draw([&](ChartEmitter& e) { draw_category_plot_axes(e, view, kArea); });
  EXPECT_TRUE(hidden.all<render::Line>("#D9D9D9").empty());
  EXPECT_EQ(hidden.texts().size(), 5u);

  // Running out during the ticks leaves out the axis lines and titles.
  Drawn short_run = draw([&](ChartEmitter& e) { draw_category_plot_axes(e, view, kArea); }, 4);
  EXPECT_TRUE(short_run.all<render::Line>("#112233").empty());
}

TEST(PlotAxes, AxisLineWidthsAndDefaults) {
  const std::pair<std::optional<double>, float> widths[] = {{19050, 2}, {1000, 1}, {500000, 16}, {std::nullopt, 1}};
  for (const auto& [emu, px] : widths) {
    Plot plot("column", {{1}});
    plot.with_value_axis = true;
    plot.value_axis.line_style = charts::ChartLineStyle{.width_emu = emu};
    const PlotView& view = plot.finish();
    const Drawn out = draw([&](ChartEmitter& e) { draw_category_plot_axes(e, view, kArea); });
    EXPECT_FLOAT_EQ(out.all<render::Line>("#666666").front()->width, px);
  }
  // Without a value axis: major gridlines at every tick and two default axis lines.
  Plot bare("bar", {{1}});
  const PlotView& view = bare.finish();
  const Drawn out = draw([&](ChartEmitter& e) { draw_category_plot_axes(e, view, kArea); });
  const size_t ticks = axis_tick_values(compute_value_axis_scale(view), std::nullopt).size();
  EXPECT_EQ(out.all<render::Line>("#D9D9D9").size(), ticks);
  EXPECT_EQ(out.all<render::Line>("#666666").size(), 2u);
  EXPECT_FLOAT_EQ(out.all<render::Line>("#D9D9D9").front()->x1, 500);  // horizontal: gridlines are vertical
}

TEST(DataLabels, TextsPartsSwatchAndLines) {
  Plot plot("column", {{12, kNaN, 3.004, 3.27}});
  plot.series[0].categories = {"Q1", "Q2", "Q3", "Q4"};
  plot.series[0].name = "Sales";
  charts::ChartDataLabels labels;
  labels.show_value = true;
  labels.show_category_name = true;
  plot.series[0].data_labels = labels;
  const PlotView& view = plot.finish();
  auto label = [&](uint64_t i, double y = 100) {
    return draw([&](ChartEmitter& e) { draw_data_label(e, view, view.series[0], 0, i, false, 10, y, 48, 4); });
  };
  EXPECT_EQ(label(0).texts(), std::vector<std::string>{"Q1, 12"});
  EXPECT_TRUE(label(1).commands.empty());  // no value, no label
  EXPECT_EQ(label(2).texts(), std::vector<std::string>{"Q3, 3"});
  EXPECT_EQ(label(3).texts(), std::vector<std::string>{"Q4, 3.3"});

  labels = {};
  labels.show_legend_key = true;
  plot.series[0].data_labels = labels;
  plot.finish();
  EXPECT_TRUE(label(0).commands.empty());
  labels.show_percent = true;
  labels.show_series_name = true;
  labels.separator = "\n";
  plot.series[0].data_labels = labels;
  plot.finish();
  const Drawn two = label(3);
  ASSERT_EQ(two.commands.size(), 3u);
  const auto& swatch = std::get<render::FillRect>(two.commands[0]);
  EXPECT_FLOAT_EQ(swatch.x, 0);
  EXPECT_FLOAT_EQ(swatch.y, 93);
  EXPECT_EQ(two.texts(), (std::vector<std::string>{"Sales", format_percent_label(3.27 / 4)}));
  EXPECT_FLOAT_EQ(two.all<render::Text>()[0]->y, 94);  // y -/+ 0.6 * s
  EXPECT_FLOAT_EQ(two.all<render::Text>()[1]->y, 106);
}

TEST(DataLabels, PointLabelAnchors) {
  Plot plot("line", {{5}});
  charts::ChartDataLabels labels;
  labels.show_value = true;
  plot.series[0].data_labels = labels;
  const PlotView& view = plot.finish();
  const std::pair<std::optional<std::string>, std::pair<float, float>> cases[] = {
      {std::nullopt, {107, 103.5}}, {"r", {107, 103.5}},   {"ctr", {76 + 24, 103.5}},
      {"t", {100, 93 - 2.5}},       {"b", {100, 107 + 7.5}}, {"l", {100 - 7 - 48 + 24, 103.5}},
  };
  for (const auto& [position, at] : cases) {
    labels.position = position;
    plot.series[0].data_labels = labels;
    plot.finish();
    const Drawn out = draw([&](ChartEmitter& e) { draw_point_label(e, view, view.series[0], 0, 0, 100, 100, 8, 5); });
    const auto* text = out.all<render::Text>().at(0);
    EXPECT_FLOAT_EQ(text->x, at.first) << position.value_or("-");
    EXPECT_FLOAT_EQ(text->y, at.second) << position.value_or("-");
  }
}

TEST(BarGeometry, ColumnsBarsLabelsAndReversal) {
  Plot plot("column", {{3, kNaN}});
  plot.series[0].categories = {"One\nTwo", "End\n"};
  plot.with_value_axis = true;
  plot.value_axis.min = -5;
  plot.value_axis.max = 5;
  const PlotView& view = plot.finish();
  Drawn out = draw([&](ChartEmitter& e) { draw_plot(e, view, kArea, {}); });
  const auto bars = out.all<render::FillRect>("#4472C4");
  ASSERT_EQ(bars.size(), 2u);
  EXPECT_FLOAT_EQ(bars[0]->x, 100 + 60);  // slot 200, bar 80, first 60
  EXPECT_FLOAT_EQ(bars[0]->width, 80);
  EXPECT_FLOAT_EQ(bars[0]->y, 50 + 0.2f * 200);
  EXPECT_FLOAT_EQ(bars[0]->height, 60);
  EXPECT_FLOAT_EQ(bars[1]->height, 1);  // missing value: one pixel at 0
  EXPECT_FLOAT_EQ(bars[1]->y, 150);
  const std::vector<std::string> texts = out.texts();
  EXPECT_EQ(std::vector<std::string>(texts.end() - 3, texts.end()), (std::vector<std::string>{"One", "Two", "End"}));

  // Max-to-min categories: category 0 at the right for columns, at the top for bars.
  plot.with_category_axis = true;
  plot.category_axis.reversed = true;
  plot.finish();
  out = draw([&](ChartEmitter& e) { draw_plot(e, view, kArea, {}); });
  EXPECT_FLOAT_EQ(out.all<render::FillRect>("#4472C4")[0]->x, 100 + 200 + 60);
  plot.view.family = "bar";
  plot.finish();
  out = draw([&](ChartEmitter& e) { draw_plot(e, view, kArea, {}); });
  const auto horizontal = out.all<render::FillRect>("#4472C4");
  ASSERT_EQ(horizontal.size(), 1u);  // the missing value draws no bar
  EXPECT_FLOAT_EQ(horizontal[0]->y, 50 + 30);  // slot 100, bar 40, first 30, from the top
  EXPECT_FLOAT_EQ(horizontal[0]->x, 300);
  EXPECT_FLOAT_EQ(horizontal[0]->width, 120);
}

TEST(BarGeometry, BarLabelAnchors) {
  Plot plot("column", {{4}});
  plot.with_value_axis = true;
  plot.value_axis.min = 0;
  plot.value_axis.max = 10;
  charts::ChartDataLabels labels;
  labels.show_value = true;
  const std::pair<std::optional<std::string>, float> cases[] = {
      {std::nullopt, 170 - 3}, {"inBase", 250 - 3}, {"inEnd", 170 + 3}, {"ctr", 210}};
  for (const auto& [position, y] : cases) {
    labels.position = position;
    plot.series[0].data_labels = labels;
    const PlotView& view = plot.finish();
    const Drawn out = draw([&](ChartEmitter& e) { draw_bar_plot(e, view, kArea); });
    const auto texts = out.all<render::Text>();
    const render::Text* label = nullptr;
    for (const auto* t : texts) {
      if (t->text.view() == "4" && t->align == render::TextAlign::Center) label = t;
    }
    ASSERT_NE(label, nullptr);
    EXPECT_FLOAT_EQ(label->y, y) << position.value_or("-");
    EXPECT_FLOAT_EQ(label->x, 100 + 120 + 80);  // centred in the 80-pixel bar
  }
}

TEST(LineGeometry, PositionsMarkersAndBreaks) {
  Plot plot("line", {{2, kNaN, 4}});
  plot.with_value_axis = true;
  plot.value_axis.min = 0;
  plot.value_axis.max = 4;
  const PlotView& view = plot.finish();
  Drawn out = draw([&](ChartEmitter& e) { draw_plot(e, view, kArea, {}); });
  const auto segments = out.all<render::Line>("#4472C4");
  ASSERT_EQ(segments.size(), 2u);  // a missing value bends to 0, lines do not break
  EXPECT_FLOAT_EQ(segments[0]->x1, 100 + 400 / 6.0f);
  EXPECT_FLOAT_EQ(segments[0]->y2, 250);
  EXPECT_FLOAT_EQ(segments[0]->width, 2);
  EXPECT_EQ(out.all<render::Path>("#4472C4").size(), 3u);  // diamond markers

  plot.value_axis.cross_between = "midCat";
  plot.record.show_marker = false;
  plot.series[0].line = charts::ChartLineStyle{.no_line = true};
  plot.finish();
  out = draw([&](ChartEmitter& e) { draw_plot(e, view, kArea, {}); });
  EXPECT_TRUE(out.all<render::Line>("#4472C4").empty());
  EXPECT_TRUE(out.all<render::Path>("#4472C4").empty());

  Plot one("line", {{1}});
  one.with_value_axis = true;
  one.value_axis.cross_between = "midCat";
  const PlotView& one_view = one.finish();
  out = draw([&](ChartEmitter& e) { draw_plot(e, one_view, kArea, {}); });
  EXPECT_NEAR(out.all<render::Path>("#4472C4").at(0)->elements[0].x, 100, 1e-9);  // on the left edge
}

TEST(LineGeometry, StackedPointsFollowStackBounds) {
  for (const char* grouping : {"stacked", "percentStacked"}) {
    Plot plot("line", {{3, 1, kNaN}, {-2, 1, 5}, {4, 1, -5}});
    plot.record.grouping = grouping;
    plot.with_value_axis = true;
    plot.value_axis.min = -1;
    plot.value_axis.max = 8;
    for (auto& s : plot.series) s.marker = charts::SeriesMarker{.symbol = "square", .size = 6};
    const PlotView& view = plot.finish();
    const Drawn out = draw([&](ChartEmitter& e) { draw_plot(e, view, kArea, {}); });
    const AxisScale scale = compute_value_axis_scale(view);
    for (uint64_t s = 0; s < 3; ++s) {
      const auto markers = out.all<render::FillRect>(palette_colour(s));
      ASSERT_EQ(markers.size(), 3u);
      for (uint64_t i = 0; i < 3; ++i) {
        const double high = stack_bounds(view, i)[s].second;
        EXPECT_FLOAT_EQ(markers[i]->y + markers[i]->height / 2, 50 + (1 - axis_fraction(scale, high)) * 200)
            << grouping << " " << s << " " << i;
      }
    }
  }
}

TEST(AreaGeometry, BaseAtTheAxisMinimumAndPointCap) {
  Plot plot("area", {{20, 40}});
  plot.with_value_axis = true;
  plot.value_axis.min = 10;
  plot.value_axis.max = 50;
  const PlotView& view = plot.finish();
  const Drawn out = draw([&](ChartEmitter& e) { draw_plot(e, view, kArea, {}); });
  const auto paths = out.all<render::Path>("#4472C4");
  ASSERT_EQ(paths.size(), 1u);
  const auto& el = paths[0]->elements;
  ASSERT_EQ(el.size(), 5u);
  EXPECT_DOUBLE_EQ(el[0].y, 50 + 0.75 * 200);
  EXPECT_DOUBLE_EQ(el[2].y, 250);  // closed at y(10), not y(0)
  EXPECT_EQ(out.all<render::Line>("#4472C4").size(), 1u);

  Plot big("area", {std::vector<double>(10000, 1.0)});
  const PlotView& big_view = big.finish();
  const Drawn many = draw([&](ChartEmitter& e) { draw_plot(e, big_view, kArea, {}); });
  const auto& top = many.all<render::Path>("#4472C4").at(0)->elements;
  EXPECT_EQ(top.size(), 2u * 8192 + 1);
  EXPECT_DOUBLE_EQ(top[8191].x, 100 + 8191.5 * 400 / 10000);
}

TEST(StockGeometry, RolesTicksAndUpDownBars) {
  Plot three("stock", {{10}, {2}, {6}});
  three.with_value_axis = true;
  three.value_axis.min = 0;
  three.value_axis.max = 10;
  const PlotView& view = three.finish();
  Drawn out = draw([&](ChartEmitter& e) { draw_plot(e, view, kArea, {}); });
  const auto stock = out.all<render::Line>("#666666");
  ASSERT_EQ(stock.size(), 4u);  // two axis lines, the high-low line, the close tick
  EXPECT_FLOAT_EQ(stock[2]->y1, 50);  // after the two axis lines
  EXPECT_FLOAT_EQ(stock[2]->y2, 210);
  EXPECT_FLOAT_EQ(stock[3]->x2, 300 + 12);

  Plot four("stock", {{5}, {10}, {2}, {5}});
  four.with_record = false;
  four.with_value_axis = true;
  four.value_axis.min = 0;
  four.value_axis.max = 10;
  const PlotView& four_view = four.finish();
  out = draw([&](ChartEmitter& e) { draw_plot(e, four_view, kArea, {}); });
  const auto box = out.all<render::FillRect>("#FFFFFF");
  ASSERT_EQ(box.size(), 1u);  // open equals close: a white box one pixel high
  EXPECT_FLOAT_EQ(box[0]->height, 1);
  EXPECT_EQ(out.all<render::Line>("#666666").size(), 4u);  // axis lines, high-low, the box's edge

  Plot two("stock", {{1, 2}, {3, 4}});
  const PlotView& two_view = two.finish();
  out = draw([&](ChartEmitter& e) { draw_plot(e, two_view, kArea, {}); });
  EXPECT_EQ(out.all<render::Line>("#4472C4").size(), 1u);  // drawn as lines
}

TEST(PieGeometry, SlicesAnglesAndRadius) {
  Plot plot("pie", {{1, 0, -3, kNaN, 2}});
  const PlotView& view = plot.finish();
  const ContentBox box{0, 0, 200, 100};
  Drawn out = draw([&](ChartEmitter& e) { draw_plot(e, view, {}, box); });
  const auto slices = out.all<render::Path>();
  ASSERT_EQ(slices.size(), 2u);
  EXPECT_EQ(slices[0]->fill.view(), "#4472C4");
  EXPECT_EQ(slices[1]->fill.view(), "#5B9BD5");  // point 4's palette colour
  EXPECT_EQ(slices[0]->stroke->view(), "#FFFFFF");
  const auto& first = slices[0]->elements;
  EXPECT_DOUBLE_EQ(first[1].x, 100);  // starts at the top ...
  EXPECT_NEAR(first[1].y, 50 - 45, 1e-9);
  EXPECT_NEAR(first[first.size() - 2].x, 100 + 45 * std::cos(std::numbers::pi / 6), 1e-9);  // ... runs 120 degrees

  plot.record.first_slice_angle = 450;
  plot.finish();
  out = draw([&](ChartEmitter& e) { draw_plot(e, view, {}, box); });
  EXPECT_NEAR(out.all<render::Path>()[0]->elements[1].x, 145, 1e-9);
  plot.record.first_slice_angle = -90;
  plot.finish();
  out = draw([&](ChartEmitter& e) { draw_plot(e, view, {}, box); });
  EXPECT_NEAR(out.all<render::Path>()[0]->elements[1].x, 55, 1e-9);

  Plot none("pie", {{0, -1}, {5}});
  none.series[0].data_labels = charts::ChartDataLabels{.show_value = true};
  const PlotView& none_view = none.finish();
  EXPECT_TRUE(draw([&](ChartEmitter& e) { draw_plot(e, none_view, {}, box); }).commands.empty());

  const std::pair<ContentBox, double> radii[] = {{{0, 0, 30, 200}, 13.5}, {{0, 0, 12, 12}, 6}};
  for (const auto& [b, r] : radii) {
    Plot one("pie", {{1}});
    const PlotView& one_view = one.finish();
    out = draw([&](ChartEmitter& e) { draw_plot(e, one_view, {}, b); });
    const auto& el = out.all<render::Path>().at(0)->elements;
    EXPECT_EQ(el.size(), 48u + 3);  // a full turn in 48 steps
    EXPECT_NEAR(b.y + b.height / 2 - el[1].y, r, 1e-9);
  }
}

TEST(PieGeometry, DoughnutHoleExplosionAndLabels) {
  const std::pair<std::optional<double>, double> holes[] = {{0, 1}, {95, 90}, {std::nullopt, 50}};
  for (const auto& [hole, used] : holes) {
    Plot plot("doughnut", {{1, 1}});
    plot.record.doughnut_hole_size = hole;
    const PlotView& view = plot.finish();
    const Drawn out = draw([&](ChartEmitter& e) { draw_plot(e, view, {}, {0, 0, 100, 100}); });
    const auto& el = out.all<render::Path>().at(0)->elements;
    // After the outer arc, the ring turns to the inner radius at a1 (the bottom).
    EXPECT_NEAR(el[el.size() - 2].y - 50, -used * 45 / 100, 1e-9);
  }
  Plot plot("pie", {{1, 1}});
  plot.series[0].point_overrides = std::vector<charts::ChartDataPoint>{{.idx = 0, .explosion = 25}};
  plot.series[0].data_labels = charts::ChartDataLabels{.position = "outEnd", .show_percent = true};
  const PlotView& view = plot.finish();
  const Drawn out = draw([&](ChartEmitter& e) { draw_plot(e, view, {}, {0, 0, 100, 100}); });
  const auto slices = out.all<render::Path>();
  EXPECT_NEAR(slices[0]->elements[0].x, 50 + 45 / 4.0, 1e-9);  // moved out along its middle (right)
  EXPECT_EQ(out.texts(), (std::vector<std::string>{"50%", "50%"}));
  EXPECT_NEAR(out.all<render::Text>()[0]->x, 50 + 45 / 4.0 + 1.15 * 45, 1e-4);
}

TEST(RadarGeometry, SpokesRingsAndStyles) {
  Plot plot("radar", {{1, 2, 3}});
  plot.with_value_axis = true;
  plot.value_axis.min = 0;
  plot.value_axis.max = 3;
  plot.value_axis.major_unit = 1;
  const PlotView& view = plot.finish();
  RadarFrame frame{0, 0, 10, 3, false};
  const AxisScale scale = compute_value_axis_scale(view);
  const auto ring = radar_ring_points(frame, scale, 3);
  const double angles[] = {-90, 30, 150};
  for (size_t t = 0; t < 3; ++t) {
    EXPECT_NEAR(ring[t].first, 10 * std::cos(angles[t] * std::numbers::pi / 180), 1e-9);
    EXPECT_NEAR(ring[t].second, 10 * std::sin(angles[t] * std::numbers::pi / 180), 1e-9);
  }
  frame.reversed = true;
  EXPECT_NEAR(radar_series_points(frame, scale, view.series[0])[0].first, 10 / 3.0 * std::cos(150 * std::numbers::pi / 180), 1e-9);

  const ContentBox box{0, 0, 200, 100};
  Drawn out = draw([&](ChartEmitter& e) { draw_plot(e, view, {}, box); });
  EXPECT_EQ(out.all<render::Line>("#D9D9D9").size(), 9u);  // three rings of three sides
  EXPECT_EQ(out.all<render::Line>("#666666").size(), 3u);
  EXPECT_EQ(out.all<render::Line>("#4472C4").size(), 3u);
  EXPECT_EQ(out.all<render::Path>("#4472C4").size(), 3u);  // markers
  plot.record.radar_style = "standard";
  plot.finish();
  out = draw([&](ChartEmitter& e) { draw_plot(e, view, {}, box); });
  EXPECT_TRUE(out.all<render::Path>("#4472C4").empty());
  plot.record.radar_style = "filled";
  plot.value_axis.major_gridline_style = charts::ChartLineStyle{.no_line = true};
  plot.finish();
  out = draw([&](ChartEmitter& e) { draw_plot(e, view, {}, box); });
  EXPECT_EQ(out.all<render::Path>("#4472C4").size(), 1u);
  EXPECT_TRUE(out.all<render::Line>("#4472C4").empty());
  EXPECT_TRUE(out.all<render::Line>("#D9D9D9").empty());

  plot.value_axis.reversed = true;  // spokes of length 0, labels at the centre offset
  plot.finish();
  out = draw([&](ChartEmitter& e) { draw_plot(e, view, {}, box); });
  const auto spokes = out.all<render::Line>("#666666");
  EXPECT_FLOAT_EQ(spokes[0]->x2, spokes[0]->x1);
  EXPECT_FLOAT_EQ(out.all<render::Text>()[0]->x, 0.38f * 200 - 16);
}

TEST(ScatterGeometry, MissingXBreaksTheLineAndStyles) {
  Plot plot("scatter", {{1, 2, 3, 4, 5}});
  plot.series[0].x_values = std::vector<double>{1, 2, kNaN, 4, 5};
  const PlotView& view = plot.finish();
  Drawn out = draw([&](ChartEmitter& e) { draw_plot(e, view, kArea, {}); });
  EXPECT_EQ(out.all<render::Line>("#4472C4").size(), 2u);  // 1-2 and 4-5
  EXPECT_EQ(out.all<render::Path>("#4472C4").size(), 4u);
  const std::pair<std::string, std::pair<size_t, size_t>> styles[] = {
      {"marker", {0, 4}}, {"line", {2, 0}}, {"lineMarker", {2, 4}}, {"none", {0, 0}}};
  for (const auto& [style, counts] : styles) {
    plot.record.scatter_style = style;
    plot.finish();
    out = draw([&](ChartEmitter& e) { draw_plot(e, view, kArea, {}); });
    EXPECT_EQ(out.all<render::Line>("#4472C4").size(), counts.first) << style;
    EXPECT_EQ(out.all<render::Path>("#4472C4").size(), counts.second) << style;
  }
  Plot no_x("scatter", {{1, 2}});
  no_x.series[0].x_values = std::vector<double>{kNaN, kNaN};
  const PlotView& no_x_view = no_x.finish();
  out = draw([&](ChartEmitter& e) { draw_plot(e, no_x_view, kArea, {}); });
  EXPECT_TRUE(out.all<render::Path>().empty());
  EXPECT_EQ(out.all<render::Line>("#666666").size(), 2u);  // the y axis is still drawn
  for (const std::string& text : out.texts()) EXPECT_NE(text, "");
}

TEST(BubbleGeometry, RadiiByAreaAndWidth) {
  auto radii = [](std::optional<std::string> represents, std::optional<double> scale) {
    Plot plot("bubble", {{1, 1, 1, 1}});
    plot.series[0].x_values = std::vector<double>{1, 2, 3, 4};
    plot.series[0].bubble_sizes = std::vector<double>{1, 4, 16, -2};
    plot.record.size_represents = represents;
    plot.record.bubble_scale = scale;
    const PlotView& view = plot.finish();
    const Drawn out = draw([&](ChartEmitter& e) { draw_plot(e, view, kArea, {}); });
    std::vector<double> out_r;
    for (const auto* path : out.all<render::Path>()) {
      double cx = 0;
      for (size_t k = 0; k < 24; ++k) cx += path->elements[k].x / 24;
      out_r.push_back(path->elements[0].x - cx);
    }
    return out_r;
  };
  const double max_r = 0.125 * 200;
  const auto area = radii(std::nullopt, std::nullopt);
  ASSERT_EQ(area.size(), 3u);  // the negative size is not drawn
  EXPECT_NEAR(area[0], max_r / 4, 1e-9);
  EXPECT_NEAR(area[1], max_r / 2, 1e-9);
  EXPECT_NEAR(area[2], max_r, 1e-9);
  const auto width = radii("w", std::nullopt);
  EXPECT_NEAR(width[0], max_r / 16, 1e-9);
  EXPECT_NEAR(width[1], max_r / 4, 1e-9);
  EXPECT_NEAR(radii(std::nullopt, 500)[2], 3 * max_r, 1e-9);
  for (double r : radii(std::nullopt, -5)) EXPECT_NEAR(r, 1, 1e-9);
}

TEST(SurfaceGeometry, CellsBandsAndColumnCap) {
  Plot plot("surface", {{0, 5, 10}, {2.5, 7.5, 10}});
  plot.series[0].name = "Low";
  plot.with_value_axis = true;
  plot.value_axis.min = 0;
  plot.value_axis.max = 10;
  const PlotView& view = plot.finish();
  Drawn out = draw([&](ChartEmitter& e) { draw_plot(e, view, kArea, {}); });
  const auto cells = out.all<render::FillRect>();
  ASSERT_EQ(cells.size(), 6u);
  EXPECT_EQ(cells[0]->color.view(), "#264478");
  EXPECT_EQ(cells[1]->color.view(), "#A9D18E");  // 3.5 rounds up to band 4
  EXPECT_EQ(cells[2]->color.view(), "#9E480E");
  EXPECT_FLOAT_EQ(cells[0]->y, 150);  // the first series is the bottom row
  EXPECT_EQ(out.texts(), (std::vector<std::string>{"Low", "1", "2", "3"}));

  plot.record.wireframe = true;
  plot.finish();
  out = draw([&](ChartEmitter& e) { draw_plot(e, view, kArea, {}); });
  EXPECT_TRUE(out.all<render::FillRect>().empty());
  EXPECT_EQ(out.all<render::Line>("#666666").size(), 2u + 12);

  Plot wide("surface", std::vector<std::vector<double>>(1024, std::vector<double>(40, 1.0)));
  const PlotView& wide_view = wide.finish();
  out = draw([&](ChartEmitter& e) { draw_plot(e, wide_view, kArea, {}); });
  EXPECT_EQ(out.all<render::FillRect>().size(), 1024u * 16);
}

TEST(PlotGeometry, BudgetsStopEveryFamily) {
  for (const char* family : {"column", "bar", "line", "area", "stock", "pie", "doughnut", "radar", "scatter",
                             "bubble", "surface", "unknown"}) {
    Plot plot(family, {std::vector<double>(300, 2.0), std::vector<double>(300, 3.0), std::vector<double>(300, 1.0)});
    for (auto& s : plot.series) {
      s.x_values = std::vector<double>(300, 1.0);
      s.bubble_sizes = std::vector<double>(300, 1.0);
      s.data_labels = charts::ChartDataLabels{.show_value = true};
    }
    const PlotView& view = plot.finish();
    const Drawn capped = draw([&](ChartEmitter& e) { draw_plot(e, view, kArea, {0, 0, 300, 300}); }, 50);
    EXPECT_LE(capped.commands.size(), 50u) << family;
    EXPECT_EQ(capped.status, ChartOpSinkStatus::Healthy) << family;
    Drawn budget;
    budget.budget = 10;
    ChartOpSink sink{budget.commands, budget.budget, render::Rect{-2000, -2000, 6000, 6000}};
    ChartEmitter emitter{sink};
    draw_plot(emitter, view, kArea, {0, 0, 300, 300});
    EXPECT_EQ(budget.commands.size(), 10u) << family;
    EXPECT_EQ(sink.status, ChartOpSinkStatus::BudgetExhausted) << family;
  }
}

}  // namespace
}  // namespace cmx::chart_layout
