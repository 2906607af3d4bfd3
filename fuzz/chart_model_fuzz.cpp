// Fuzzes the chart model reader. The input is a chart part; after a NUL byte
// the rest gives the workbook's theme colour texts, one per following
// NUL-separated piece. The reader may refuse, never crash, and a model it
// gives keeps its stated bounds.
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "charts/chart_reader.h"

using namespace cmx;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  model::WorkbookTheme theme = model::default_theme_colors();
  const size_t nul = input.find('\0');
  std::string_view part = input.substr(0, nul);
  if (nul != std::string_view::npos) {
    std::string_view rest = input.substr(nul + 1);
    for (size_t slot = 0; slot < theme.colors.size() && !rest.empty(); ++slot) {
      const size_t end = rest.find('\0');
      theme.colors[slot] = std::string(rest.substr(0, end));
      rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + 1);
    }
  }
  Result<charts::ChartModel, charts::ChartRefusal> model = charts::read_chart_model(part, theme);
  if (!model) return 0;
  if (model->plots.empty() || model->plots.size() > charts::MAX_CHART_PLOTS) std::abort();
  size_t series = 0;
  for (const charts::ChartPlot& plot : model->plots) {
    series += plot.series.size();
    for (const charts::ChartSeries& s : plot.series) {
      if (s.values.size() > charts::MAX_CHART_LIST_READ || s.categories.size() > charts::MAX_CHART_LIST_READ) std::abort();
      if (s.color.size() != 7 || s.color[0] != '#') std::abort();
    }
  }
  if (series > charts::MAX_CHART_SERIES || series != model->series.size()) std::abort();
  if (model->all_axes && (model->all_axes->empty() || model->all_axes->size() > charts::MAX_CHART_AXES)) std::abort();
  return 0;
}
