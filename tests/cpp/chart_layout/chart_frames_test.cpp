#include "chart_layout/chart_frames.h"

#include <gtest/gtest.h>

#include "base/siphash.h"
#include "chart_layout/parsed_chart_cache.h"
#include "model/grid_metrics.h"

namespace cmx::chart_layout {
namespace {

constexpr int64_t kEmuPerPx = 9525;

const char* kChartNamespaces =
    " xmlns:c=\"http://schemas.openxmlformats.org/drawingml/2006/chart\""
    " xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\"";

// A chart part of one plot element, with an optional title.
std::string chart_part(const std::string& plot, const std::string& title = "") {
  std::string chart = "<c:chart>";
  if (!title.empty()) {
    chart += "<c:title><c:tx><c:rich><a:p><a:r><a:t>" + title + "</a:t></a:r></a:p></c:rich></c:tx></c:title>";
  }
  return std::string("<c:chartSpace") + kChartNamespaces + ">" + chart + "<c:plotArea>" + plot +
         "</c:plotArea><c:legend><c:legendPos val=\"r\"/></c:legend></c:chart></c:chartSpace>";
}

std::string bar_plot(const std::string& grouping = "clustered") {
  return "<c:barChart><c:barDir val=\"col\"/><c:grouping val=\"" + grouping +
         "\"/><c:ser><c:idx val=\"0\"/><c:order val=\"0\"/><c:tx><c:v>Sales</c:v></c:tx>"
         "<c:cat><c:strLit><c:ptCount val=\"2\"/><c:pt idx=\"0\"><c:v>a</c:v></c:pt><c:pt idx=\"1\"><c:v>b</c:v></c:pt>"
         "</c:strLit></c:cat><c:val><c:numLit><c:ptCount val=\"2\"/><c:pt idx=\"0\"><c:v>3</c:v></c:pt>"
         "<c:pt idx=\"1\"><c:v>7</c:v></c:pt></c:numLit></c:val></c:ser>"
         "<c:axId val=\"1\"/><c:axId val=\"2\"/></c:barChart>"
         "<c:catAx><c:axId val=\"1\"/></c:catAx><c:valAx><c:axId val=\"2\"/></c:valAx>";
}

model::SheetChart absolute_chart(const std::string& part, double x, double y, double w, double h, uint64_t index = 0) {
  model::SheetChart chart;
  chart.part = part;
  chart.drawing = "xl/drawings/drawing1.xml";
  chart.anchor_index = index;
  chart.anchor = model::AbsoluteAnchor{{static_cast<int64_t>(x * kEmuPerPx), static_cast<int64_t>(y * kEmuPerPx)},
                                       {static_cast<int64_t>(w * kEmuPerPx), static_cast<int64_t>(h * kEmuPerPx)}};
  return chart;
}

model::SheetChart cell_chart(uint32_t col, uint32_t row, double w, double h) {
  model::SheetChart chart = absolute_chart("xl/charts/chart1.xml", 0, 0, w, h);
  chart.anchor = model::OneCellAnchor{{col, 0, row, 0},
                                      {static_cast<int64_t>(w * kEmuPerPx), static_cast<int64_t>(h * kEmuPerPx)}};
  return chart;
}

struct Render {
  std::vector<render::DrawCommand> commands;
  std::vector<render::ChartRegion> regions;
  Result<void, ChartRenderError> result;
};

Render render_frames(session::WorkbookSession& session, const std::vector<model::SheetChart>& charts,
                     render::Rect viewport, uint32_t frozen_rows = 0, uint32_t frozen_cols = 0) {
  model::SheetModel sheet;
  const model::GridMetrics metrics = model::compute_grid_metrics(sheet, session.model.styles);
  Render out;
  out.result = render_chart_frames(charts, metrics, viewport, frozen_rows, frozen_cols, out.commands, out.regions,
                                   session, "Sheet1");
  return out;
}

session::WorkbookSession& with_parts(session::WorkbookSession& session, std::vector<opc::PackagePart> parts) {
  session.source_package.emplace();
  session.source_package->parts = std::move(parts);
  return session;
}

TEST(RenderChartFrames, PlacementAndPlaceholdersWithoutSource) {
  session::WorkbookSession session;
  const std::vector<model::SheetChart> charts = {
      absolute_chart("xl/charts/chart1.xml", 100, 50, 200, 100, 0),
      absolute_chart("xl/charts/chart2.xml", 10, 10, 20, 20, 1),      // above and left of the viewport
      absolute_chart("xl/charts/chart3.xml", 380, 200, 100, 100, 2),  // cut at the viewport's edge
      absolute_chart("xl/charts/chart4.xml", 150, 180, 1, 10, 3),     // one pixel wide
  };
  const Render out = render_frames(session, charts, render::Rect{40, 40, 400, 300});
  ASSERT_TRUE(out.result.has_value());
  ASSERT_EQ(out.regions.size(), 3u);
  const render::ChartRegion& first = out.regions[0];
  EXPECT_EQ(first.label, "xl/drawings/drawing1.xml#0");
  EXPECT_EQ(first.note, "Chart, not shown");
  EXPECT_TRUE(first.placeholder);
  EXPECT_FALSE(first.anchored_to_cells);
  EXPECT_EQ(first.frame, (render::Rect{60, 10, 200, 100}));
  EXPECT_EQ(first.clip, first.frame);
  EXPECT_EQ(out.regions[1].clip, (render::Rect{340, 160, 60, 100}));
  EXPECT_EQ(out.regions[1].frame, (render::Rect{340, 160, 100, 100}));
  // Fill and four border lines for each big frame, the fill alone for the thin one.
  ASSERT_EQ(out.commands.size(), 5u + 5u + 1u);
  const auto& fill = std::get<render::FillRect>(out.commands[0]);
  EXPECT_EQ(fill.color.view(), kPlaceholderFill);
  EXPECT_EQ(fill.clip, first.clip);
  const auto& top = std::get<render::Line>(out.commands[1]);
  EXPECT_EQ(top.color.view(), kPlaceholderBorder);
  EXPECT_EQ((std::array<float, 4>{top.x1, top.y1, top.x2, top.y2}), (std::array<float, 4>{60.5f, 10.5f, 259.5f, 10.5f}));
  const auto& left = std::get<render::Line>(out.commands[4]);
  EXPECT_EQ((std::array<float, 4>{left.x1, left.y1, left.x2, left.y2}), (std::array<float, 4>{60.5f, 109.5f, 60.5f, 10.5f}));
  EXPECT_EQ(std::get<render::FillRect>(out.commands[10]).width, 1.0f);
}

TEST(RenderChartFrames, FrozenPanes) {
  session::WorkbookSession session;
  // Two frozen columns of the default width.
  const float col = model::kDefaultColPx;
  const std::vector<model::SheetChart> charts = {
      cell_chart(1, 5, 100, 40),  // starts in the frozen columns: not shifted, cut at their edge
      cell_chart(3, 5, 100, 40),  // scrolled: shifted by the viewport's x, cut from the left at that edge
      cell_chart(2, 5, 40, 40),   // scrolled behind the frozen columns: left out
  };
  const Render out = render_frames(session, charts, render::Rect{100, 0, 400, 300}, 0, 2);
  ASSERT_TRUE(out.result.has_value());
  ASSERT_EQ(out.regions.size(), 2u);
  EXPECT_EQ(out.regions[0].frame.x, col);
  EXPECT_EQ(out.regions[0].clip, (render::Rect{col, 100, 2 * col - col, 40}));
  EXPECT_TRUE(out.regions[0].anchored_to_cells);
  EXPECT_EQ(out.regions[1].frame.x, static_cast<float>(3.0 * col - 100));
  EXPECT_FLOAT_EQ(out.regions[1].clip.x, 2 * col);
  EXPECT_FLOAT_EQ(out.regions[1].clip.width, col);
}

TEST(RenderChartFrames, PlaceholdersSpendTheRenderBudget) {
  session::WorkbookSession session;
  // Five commands per placeholder: the 13,108th cannot draw its border.
  std::vector<model::SheetChart> charts(13108, absolute_chart("xl/charts/chart1.xml", 0, 0, 10, 10));
  Render out = render_frames(session, charts, render::Rect{0, 0, 100, 100});
  ASSERT_FALSE(out.result.has_value());
  EXPECT_TRUE(std::holds_alternative<ChartOpBudgetExceeded>(out.result.error()));
  EXPECT_EQ(chart_render_error_message(out.result.error()), "chart rendering exceeds the 65536-operation frame limit");

  charts.resize(13107);  // one unit left over: the render succeeds
  out = render_frames(session, charts, render::Rect{0, 0, 100, 100});
  EXPECT_TRUE(out.result.has_value());
  EXPECT_EQ(out.commands.size(), 13107u * 5);
}

TEST(RenderChartFrames, DrawnGatedMissingAndUnreadableCharts) {
  session::WorkbookSession session;
  with_parts(session, {{"xl/charts/chart1.xml", chart_part(bar_plot(), "Sales")},
                       {"xl/charts/chart2.xml", chart_part(bar_plot("stacked"))},
                       {"xl/charts/chart3.xml", "<c:chartSpace"},
                       {"/xl/charts/chart5.xml", chart_part(bar_plot())}});
  const std::vector<model::SheetChart> charts = {
      absolute_chart("xl/charts/chart1.xml", 0, 0, 300, 200, 0), absolute_chart("xl/charts/chart2.xml", 0, 0, 300, 200, 1),
      absolute_chart("xl/charts/chart3.xml", 0, 0, 300, 200, 2), absolute_chart("xl/charts/chart4.xml", 0, 0, 300, 200, 3),
      absolute_chart("xl/charts/chart5.xml", 0, 0, 300, 200, 4)};
  const Render out = render_frames(session, charts, render::Rect{0, 0, 400, 300});
  ASSERT_TRUE(out.result.has_value());
  ASSERT_EQ(out.regions.size(), 5u);
  EXPECT_EQ(out.regions[0].note, "Sales, column chart, 1 series, 2 categories");
  EXPECT_FALSE(out.regions[0].placeholder);
  EXPECT_EQ(out.regions[1].note, "Untitled chart, column chart, 1 series, 2 categories, not shown");
  EXPECT_TRUE(out.regions[1].placeholder);
  EXPECT_EQ(out.regions[2].note, "Chart, not shown");
  EXPECT_EQ(out.regions[3].note, "Chart, not shown");
  EXPECT_EQ(out.regions[4].note, "Untitled chart, column chart, 1 series, 2 categories");
  // The drawn chart: its background, its title, and a legend entry per
  // point (one series of a vary-colours column plot), swatch before text.
  const auto& background = std::get<render::FillRect>(out.commands[0]);
  EXPECT_EQ(background.color.view(), "#FFFFFF");
  EXPECT_EQ(std::get<render::Text>(out.commands[1]).text.view(), "Sales");
  EXPECT_EQ(std::get<render::FillRect>(out.commands[2]).color.view(), "#4472C4");
  EXPECT_EQ(std::get<render::Text>(out.commands[3]).text.view(), "a");
  EXPECT_EQ(std::get<render::FillRect>(out.commands[4]).color.view(), "#ED7D31");
  EXPECT_EQ(std::get<render::Text>(out.commands[5]).text.view(), "b");
  EXPECT_EQ(std::get<render::FillRect>(out.commands[6]).color.view(), kPlaceholderFill);
  // Parsed once each; the unreadable part is not kept.
  EXPECT_EQ(session.chart_cache.with([](session::ParsedChartCache& cache) { return cache.size(); }), 3u);
}

TEST(GateChart, FamiliesGroupingAxesAndLabels) {
  auto plot = [](std::string kind, std::vector<std::string> ids = {}) {
    charts::ChartPlot p{.kind = std::move(kind), .axis_ids = std::move(ids)};
    p.series.emplace_back();
    p.series.back().values = {1, 2, 3, 4};
    return p;
  };
  auto axis = [](std::string kind, std::string id, std::optional<double> log = std::nullopt) {
    return charts::ChartAxis{.kind = std::move(kind), .id = std::move(id), .log_base = log};
  };
  struct Case {
    const char* name;
    std::vector<charts::ChartPlot> plots;
    std::vector<charts::ChartAxis> axes;
    std::string family;
    std::optional<std::string> refusal;  // the placeholder's note
  };
  const std::vector<Case> cases = {
      {"column", {plot("column", {"1", "2"})}, {axis("category", "1"), axis("value", "2")}, "column", {}},
      {"unknown plot family", {plot("funnel")}, {}, "column", "Untitled chart, funnel chart, not shown"},
      {"no plots, unknown own family", {}, {}, "", "Untitled chart,  chart, not shown"},
      {"stacked", {[&] { auto p = plot("column"); p.grouping = "percentStacked"; return p; }()}, {}, "column",
       "Untitled chart, column chart, 1 series, 4 categories, not shown"},
      {"scatter with x and y", {plot("scatter", {"1", "2"})}, {axis("value", "1"), axis("value", "2")}, "scatter", {}},
      {"scatter with a third value axis", {plot("scatter", {"1", "2"})},
       {axis("value", "1"), axis("value", "2"), axis("value", "3")}, "scatter",
       "Untitled chart, scatter chart, 1 series, 4 categories, not shown"},
      {"line with two value axes", {plot("line", {"1", "2"})}, {axis("value", "1"), axis("value", "2")}, "line",
       "Untitled chart, line chart, 1 series, 4 categories, not shown"},
      {"plots on different axes", {plot("line", {"1", "2"}), plot("column", {"1", "3"})},
       {axis("category", "1"), axis("value", "2")}, "line",
       "Untitled chart, combo chart, 2 series, 4 categories, not shown"},
      {"logarithmic axis", {plot("line")}, {axis("value", "2", 10.0)}, "line",
       "Untitled chart, line chart, 1 series, 4 categories, not shown"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    charts::ChartModel chart;
    chart.primary_kind = c.family;
    chart.plots = c.plots;
    if (!c.axes.empty()) chart.all_axes = c.axes;
    const std::optional<ChartRenderError> refusal = gate_chart(chart, "c.xml");
    EXPECT_EQ(refusal.has_value(), c.refusal.has_value());
    if (refusal && c.refusal) {
      EXPECT_EQ(placeholder_note(&chart, *refusal), *c.refusal);
    }
  }
}

TEST(ChartSummary, KindLabelsAndCounts) {
  charts::ChartModel chart;
  chart.title = "";
  chart.primary_kind = "pie";
  chart.plots = {charts::ChartPlot{.kind = "ofPie"}};
  EXPECT_EQ(chart_summary(chart), "Untitled chart, pie chart, 0 series, 0 categories");
  chart.plots[0].kind = "";
  chart.primary_kind = "doughnut";
  EXPECT_EQ(chart_summary(chart), "Untitled chart, doughnut chart, 0 series, 0 categories");
  chart.title = "T";
  chart.series.emplace_back();
  chart.series.back().x_values = std::vector<double>(7, 1);
  chart.plots[0].series.resize(3);  // the flat list counts first
  EXPECT_EQ(chart_summary(chart), "T, doughnut chart, 1 series, 7 categories");
  EXPECT_TRUE(is_known_chart_family("ofPie"));
  EXPECT_FALSE(is_known_chart_family("Pie"));
}

TEST(ParsedChartCache, ReusedUntilBytesOrGenerationChange) {
  session::WorkbookSession session;
  const std::string part = chart_part(bar_plot(), "One");
  auto first = get_parsed_chart(session, "xl/charts/chart1.xml", part, "Sheet1");
  ASSERT_TRUE(first);
  EXPECT_EQ(get_parsed_chart(session, "xl/charts/chart1.xml", part, "Sheet1"), first);
  EXPECT_NE(get_parsed_chart(session, "xl/charts/chart1.xml", part, "Sheet2"), first);
  const std::string changed = chart_part(bar_plot(), "Two");
  auto second = get_parsed_chart(session, "xl/charts/chart1.xml", changed, "Sheet1");
  ASSERT_TRUE(second);
  EXPECT_EQ(second->title, "Two");
  session.generation += 1;
  auto third = get_parsed_chart(session, "xl/charts/chart1.xml", changed, "Sheet1");
  EXPECT_NE(third, second);
  EXPECT_EQ(*third, *second);
  EXPECT_EQ(first->title, "One");  // a share outlives its entry
  EXPECT_FALSE(get_parsed_chart(session, "xl/charts/bad.xml", "not xml", "Sheet1"));
  EXPECT_EQ(session.chart_cache.with([](session::ParsedChartCache& cache) { return cache.size(); }), 2u);
  EXPECT_NE(parsed_chart_key("ab", "c"), parsed_chart_key("a", "bc"));
}

TEST(ChartContentHash, BytesThenTheirCount) {
  EXPECT_EQ(chart_content_hash("abc"), siphash13(0, 0, std::string("abc") + std::string("\x03\0\0\0\0\0\0\0", 8)));
  EXPECT_NE(chart_content_hash("abc"), chart_content_hash("abd"));
}

}  // namespace
}  // namespace cmx::chart_layout
