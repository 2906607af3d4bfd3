// Rendering a 50-row by 20-column viewport of mixed cells to PNG, at scale 1
// and 2: the whole pipeline (display list, scaling, painting, encoding) and
// its parts. The aim is well under 50 ms per render. Then the chart frames of
// a sheet of twenty charts: laid out from the session's parsed charts, and
// read afresh in every build.
#include <benchmark/benchmark.h>

#include <string>

#include "model/workbook.h"
#include "session/session.h"
#include "render/painter.h"
#include "render/sheet_builder.h"
#include "render/viewport.h"

namespace {

using namespace cmx;

constexpr uint32_t kRows = 50;
constexpr uint32_t kCols = 20;

// Numbers, texts, booleans, styled cells with fills, borders and formats.
model::WorkbookModel sample() {
  model::WorkbookModel wb;
  wb.sheets.emplace_back();
  model::SheetModel& sheet = wb.sheets.back();
  sheet.name = "Bench";
  model::StyleSheet& styles = wb.styles;
  styles.fills.push_back(model::SolidFill{model::Color{model::RgbColor{"#ddeeff"}}});
  styles.borders.push_back(model::Border{.left = model::BorderEdge{}, .right = model::BorderEdge{},
                                         .top = model::BorderEdge{}, .bottom = model::BorderEdge{}});
  styles.fonts.push_back(model::Font{.size_pt = 11, .bold = true});
  styles.num_fmts.push_back(model::CustomNumFmt{164, "#,##0.00;[Red]-#,##0.00"});
  styles.cell_xfs.push_back(model::CellXf{});
  styles.cell_xfs.push_back(model::CellXf{.fill = 0, .border = 0});
  styles.cell_xfs.push_back(model::CellXf{.font = 0, .num_fmt_id = 164});
  for (uint32_t row = 0; row < kRows; ++row) {
    for (uint32_t col = 0; col < kCols; ++col) {
      model::SheetCell cell;
      switch ((row + col) % 4) {
        case 0: cell.value = model::CellValue::number((row * 31.0 + col) * (row % 2 ? -1.5 : 2.25)); break;
        case 1: cell.value = model::CellValue::text("item " + std::to_string(row * kCols + col)); break;
        case 2: cell.value = model::CellValue::number(row * 1000.0 + col); break;
        default: cell.value = model::CellValue::boolean(col % 2 == 0); break;
      }
      cell.style = (row * 7 + col) % 3;
      sheet.cells[model::CellKey{row, col}] = std::move(cell);
    }
  }
  return wb;
}

void render_viewport(benchmark::State& state) {
  const model::WorkbookModel wb = sample();
  const float scale = static_cast<float>(state.range(0));
  const render::Rect viewport = render::range_pixel_rect(
      wb.sheets[0], wb.styles, model::CellRange{model::CellRef{0, 0}, model::CellRef{kRows - 1, kCols - 1}});
  size_t bytes = 0;
  for (auto _ : state) {
    session::WorkbookSession session;
    render::DisplayList list = render::build_display_list(wb, 0, viewport, session, "Bench").value();
    if (scale != 1) list = render::scale_display_list(std::move(list), scale);
    auto png = render::rasterize_to_png(list);
    if (!png.has_value()) state.SkipWithError(png.error().c_str());
    bytes = png->size();
    benchmark::DoNotOptimize(png);
  }
  state.counters["png_bytes"] = static_cast<double>(bytes);
}
BENCHMARK(render_viewport)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

void build_only(benchmark::State& state) {
  const model::WorkbookModel wb = sample();
  const render::Rect viewport = render::range_pixel_rect(
      wb.sheets[0], wb.styles, model::CellRange{model::CellRef{0, 0}, model::CellRef{kRows - 1, kCols - 1}});
  session::WorkbookSession session;
  for (auto _ : state) benchmark::DoNotOptimize(render::build_display_list(wb, 0, viewport, session, "Bench"));
}
BENCHMARK(build_only)->Unit(benchmark::kMillisecond);

void paint_only(benchmark::State& state) {
  const model::WorkbookModel wb = sample();
  const float scale = static_cast<float>(state.range(0));
  const render::Rect viewport = render::range_pixel_rect(
      wb.sheets[0], wb.styles, model::CellRange{model::CellRef{0, 0}, model::CellRef{kRows - 1, kCols - 1}});
  session::WorkbookSession session;
  render::DisplayList list =
      render::scale_display_list(render::build_display_list(wb, 0, viewport, session, "Bench").value(), scale);
  for (auto _ : state) benchmark::DoNotOptimize(render::rasterize(list));
}
BENCHMARK(paint_only)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

constexpr int kCharts = 20;

// A titled column chart of three series over twelve months, with a legend.
std::string column_chart_part() {
  std::string series;
  for (int s = 0; s < 3; ++s) {
    series += "<c:ser><c:idx val=\"" + std::to_string(s) + "\"/><c:tx><c:v>Region " + std::to_string(s + 1) +
              "</c:v></c:tx><c:cat><c:strLit><c:ptCount val=\"12\"/>";
    for (int m = 0; m < 12; ++m) {
      series += "<c:pt idx=\"" + std::to_string(m) + "\"><c:v>Month " + std::to_string(m + 1) + "</c:v></c:pt>";
    }
    series += "</c:strLit></c:cat><c:val><c:numLit><c:ptCount val=\"12\"/>";
    for (int m = 0; m < 12; ++m) {
      series += "<c:pt idx=\"" + std::to_string(m) + "\"><c:v>" + std::to_string(1000 + 37 * m * (s + 1)) +
                "</c:v></c:pt>";
    }
    series += "</c:numLit></c:val></c:ser>";
  }
  return "<c:chartSpace xmlns:c=\"http://schemas.openxmlformats.org/drawingml/2006/chart\" "
         "xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\"><c:chart><c:title><c:tx><c:rich><a:p>"
         "<a:r><a:t>Sales by month</a:t></a:r></a:p></c:rich></c:tx></c:title><c:plotArea><c:barChart>"
         "<c:barDir val=\"col\"/><c:grouping val=\"clustered\"/>" +
         series +
         "<c:axId val=\"1\"/><c:axId val=\"2\"/></c:barChart><c:catAx><c:axId val=\"1\"/></c:catAx>"
         "<c:valAx><c:axId val=\"2\"/></c:valAx></c:plotArea><c:legend><c:legendPos val=\"b\"/></c:legend>"
         "</c:chart></c:chartSpace>";
}

// The sample sheet with twenty 300 x 200 px charts over its viewport.
void add_charts(model::WorkbookModel& wb, session::WorkbookSession& session) {
  session.source_package.emplace();
  for (int c = 0; c < kCharts; ++c) {
    const std::string part = "xl/charts/chart" + std::to_string(c + 1) + ".xml";
    session.source_package->parts.push_back({part, column_chart_part()});
    model::SheetChart chart;
    chart.part = part;
    chart.drawing = "xl/drawings/drawing1.xml";
    chart.anchor_index = static_cast<uint64_t>(c);
    chart.anchor = model::AbsoluteAnchor{{(c % 4) * 300 * 9525LL, (c / 4) * 200 * 9525LL}, {300 * 9525LL, 200 * 9525LL}};
    wb.sheets[0].charts.push_back(std::move(chart));
  }
}

void build_with_charts(benchmark::State& state) {
  model::WorkbookModel wb = sample();
  session::WorkbookSession session;
  add_charts(wb, session);
  const bool reread = state.range(0) != 0;
  const render::Rect viewport = render::range_pixel_rect(
      wb.sheets[0], wb.styles, model::CellRange{model::CellRef{0, 0}, model::CellRef{kRows - 1, kCols - 1}});
  size_t commands = 0;
  for (auto _ : state) {
    if (reread) session.generation += 1;
    auto list = render::build_display_list(wb, 0, viewport, session, "Bench");
    if (!list.has_value()) state.SkipWithError("chart frames failed");
    commands = list->commands.size();
    benchmark::DoNotOptimize(list);
  }
  state.counters["commands"] = static_cast<double>(commands);
}
BENCHMARK(build_with_charts)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

}  // namespace
