// Fuzzes the chart layout over chart parts from outside: the part is read
// into a chart model, gated, viewed as a render model and laid out into a
// sink, in frames of several sizes; and its text serves as a label number
// format and a legend text. No crash or hang; a sink never ends in an
// allocation failure; every command stays within the budget it was given
// and carries the frame's clip; labels always have a text.
// Input: the chart part; after a NUL byte, a number-format code.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "chart_layout/chart_frames.h"
#include "chart_layout/label_numbers.h"
#include "chart_layout/layout.h"
#include "charts/chart_reader.h"

using namespace cmx;
using namespace cmx::chart_layout;

namespace {

bool clipped(const render::DrawCommand& command, const render::Rect& clip) {
  return std::visit(
      [&](const auto& c) {
        using T = std::decay_t<decltype(c)>;
        if constexpr (std::is_same_v<T, render::Text>) {
          return c.clip.x >= clip.x && c.clip.y >= clip.y && c.clip.x + c.clip.width <= clip.x + clip.width + 1e-3f &&
                 c.clip.y + c.clip.height <= clip.y + clip.height + 1e-3f;
        } else {
          return c.clip == clip;
        }
      },
      command);
}

void lay_out(const charts::ChartModel& chart, ChartFrame frame) {
  const ChartRenderModel model = build_render_model(chart);
  std::vector<render::DrawCommand> commands;
  uint64_t budget = 4096;
  const render::Rect clip{0, 0, 400, 300};
  ChartOpSink sink{commands, budget, clip};
  build_chart_display_list(model, frame, sink);
  if (sink.status == ChartOpSinkStatus::AllocationFailed) std::abort();
  if (commands.size() > 4096 - budget) std::abort();
  for (const render::DrawCommand& command : commands) {
    if (!clipped(command, clip)) std::abort();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const size_t nul = input.find('\0');
  const std::string_view part = input.substr(0, nul);
  const std::string_view code = nul == std::string_view::npos ? std::string_view() : input.substr(nul + 1);

  for (double v : {0.0, -1234.5678, 0.125, 1e300, -1e-300}) {
    if (tick_label_text(v, std::string(code), false).size() > 4 * code.size() + 1024) std::abort();
    (void)format_chart_number(v, code);
  }
  for (double width : {0.0, 7.0, 60.0}) {
    size_t chars = 0;
    for (const std::string& line : wrap_chart_text(code, width, 10, 0)) {
      if (line.empty()) std::abort();
      chars += line.size();
    }
    if (chars != cut_chart_text(code).size()) std::abort();
  }

  Result<charts::ChartModel, charts::ChartRefusal> chart = charts::read_chart_model(part, model::default_theme_colors());
  if (!chart) return 0;
  (void)gate_chart(*chart, "xl/charts/chart1.xml");
  (void)chart_summary(*chart);
  lay_out(*chart, {0, 0, 400, 300});
  lay_out(*chart, {-50, 20, 120, 45});
  lay_out(*chart, {5, 5, NAN, 1e12});
  return 0;
}
