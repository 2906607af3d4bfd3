// Rendering a 50-row by 20-column viewport of mixed cells to PNG, at scale 1
// and 2: the whole pipeline (display list, scaling, painting, encoding) and
// its parts. The aim is well under 50 ms per render.
#include <benchmark/benchmark.h>

#include <string>

#include "model/workbook.h"
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
    render::DisplayList list = render::build_display_list(wb, 0, viewport);
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
  for (auto _ : state) benchmark::DoNotOptimize(render::build_display_list(wb, 0, viewport));
}
BENCHMARK(build_only)->Unit(benchmark::kMillisecond);

void paint_only(benchmark::State& state) {
  const model::WorkbookModel wb = sample();
  const float scale = static_cast<float>(state.range(0));
  const render::Rect viewport = render::range_pixel_rect(
      wb.sheets[0], wb.styles, model::CellRange{model::CellRef{0, 0}, model::CellRef{kRows - 1, kCols - 1}});
  render::DisplayList list = render::scale_display_list(render::build_display_list(wb, 0, viewport), scale);
  for (auto _ : state) benchmark::DoNotOptimize(render::rasterize(list));
}
BENCHMARK(paint_only)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace
