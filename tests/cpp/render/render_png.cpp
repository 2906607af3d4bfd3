// Test-only driver: opens an .xlsx, renders one range of one sheet as the
// render call does (viewport checks, display list, scaling, painting) and
// writes the PNG. Prints {"ok":true,"width":W,"height":H} or
// {"ok":false,"error":"..."} and exits 0; a usage or file error exits 2.
// A success also lists the chart regions: "charts":[{"label","note",
// "placeholder","frame":[x,y,w,h],"clip":[x,y,w,h]}] in image pixels.
// With --repeat N it renders N times and prints the mean seconds per render.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>

#include "base/number_text.h"
#include "model/address.h"
#include "chart_layout/chart_render_error.h"
#include "render/painter.h"
#include "render/sheet_builder.h"
#include "render/viewport.h"
#include "session/open.h"

namespace {

using namespace cmx;

std::string quoted(std::string_view text) {
  std::string out = "\"";
  for (char c : text) {
    if (static_cast<unsigned char>(c) < 0x20) {
      static constexpr char kHex[] = "0123456789abcdef";
      out += "\\u00";
      out += kHex[(c >> 4) & 15];
      out += kHex[c & 15];
      continue;
    }
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

void print_failure(std::string_view message) {
  const std::string out = "{\"ok\":false,\"error\":" + quoted(message) + "}\n";
  std::fwrite(out.data(), 1, out.size(), stdout);
}

std::string rect_json(const render::Rect& r) {
  return "[" + format_shortest(r.x) + "," + format_shortest(r.y) + "," + format_shortest(r.width) + "," +
         format_shortest(r.height) + "]";
}

std::string regions_json(const std::vector<render::ChartRegion>& regions) {
  std::string out = "[";
  for (const render::ChartRegion& r : regions) {
    if (out.size() > 1) out += ",";
    out += "{\"label\":" + quoted(r.label) + ",\"note\":" + quoted(r.note) +
           ",\"placeholder\":" + (r.placeholder ? "true" : "false") + ",\"frame\":" + rect_json(r.frame) +
           ",\"clip\":" + rect_json(r.clip) + "}";
  }
  return out + "]";
}

struct Rendered {
  std::string png;
  std::vector<render::ChartRegion> regions;
};

Result<Rendered, std::string> render_once(session::WorkbookSession& session, uint32_t sheet,
                                             const render::RenderOptions& options) {
  const model::WorkbookModel& model = session.model;
  auto viewport = render::render_viewport(model, sheet, options);
  if (!viewport.has_value()) return unexpected(viewport.error().message);
  auto built = render::build_display_list(model, sheet, *viewport, session, model.sheets[sheet].name);
  if (!built.has_value()) return unexpected(chart_layout::chart_render_error_message(built.error()));
  render::DisplayList list = std::move(*built);
  if (options.scale != 1) list = render::scale_display_list(std::move(list), options.scale);
  auto png = render::rasterize_to_png(list);
  if (!png.has_value()) return unexpected(png.error());
  return Rendered{std::move(*png), std::move(list.chart_regions)};
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 6 && argc != 8) {
    std::fputs("usage: render_png FILE.xlsx SHEET RANGE|- SCALE OUT.png [--repeat N]\n", stderr);
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  if (!in) {
    std::fputs("cannot open the file\n", stderr);
    return 2;
  }
  const std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  auto opened = session::bootstrap_session(bytes, /*keep_cached=*/true, std::nullopt);
  if (!opened.has_value()) return print_failure("unreadable workbook"), 0;
  session::WorkbookSession& session = **opened;
  const model::WorkbookModel& model = session.model;
  const uint32_t sheet = static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10));
  if (sheet >= model.sheets.size()) return print_failure("no such sheet"), 0;
  render::RenderOptions options;
  if (std::string_view(argv[3]) != "-") {
    auto range = model::parse_range(argv[3]);
    if (!range.has_value()) return print_failure("bad range"), 0;
    options.range = *range;
  }
  auto scale = parse_float(argv[4]);
  if (!scale) return print_failure("bad scale"), 0;
  options.scale = static_cast<float>(scale->value);
  const int repeat = argc == 8 ? std::atoi(argv[7]) : 1;

  const auto started = std::chrono::steady_clock::now();
  Result<Rendered, std::string> png = render_once(session, sheet, options);
  for (int i = 1; i < repeat && png.has_value(); ++i) png = render_once(session, sheet, options);
  const std::chrono::duration<double> took = std::chrono::steady_clock::now() - started;
  if (!png.has_value()) return print_failure(png.error()), 0;
  std::ofstream out(argv[5], std::ios::binary);
  out.write(png->png.data(), static_cast<std::streamsize>(png->png.size()));
  if (!out) {
    std::fputs("cannot write the image\n", stderr);
    return 2;
  }
  std::string text = "{\"ok\":true,\"bytes\":" + format_u64(png->png.size());
  if (repeat > 1) text += ",\"seconds\":" + format_shortest(took.count() / repeat);
  text += ",\"charts\":" + regions_json(png->regions) + "}\n";
  std::fwrite(text.data(), 1, text.size(), stdout);
  return 0;
}
