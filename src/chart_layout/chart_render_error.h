// Why a chart cannot be rendered. The first five decide a placeholder's note
// and are dropped; the last two end the render.
#pragma once

#include <cstdint>
#include <string>
#include <variant>

namespace cmx::chart_layout {

struct ChartSourceUnavailable {
  std::string part;
};
struct ChartPartMissing {
  std::string part;
};
struct ChartParseFailed {
  std::string part;
};
struct UnsupportedChartFamily {
  std::string part;
  std::string family;
};
struct UnsupportedChartFeature {
  std::string part;
  std::string feature;  // a fixed text
};
struct ChartOpBudgetExceeded {
  uint64_t max = 0;
};
struct DisplayListAllocationFailed {};

using ChartRenderError = std::variant<ChartSourceUnavailable, ChartPartMissing, ChartParseFailed,
                                      UnsupportedChartFamily, UnsupportedChartFeature, ChartOpBudgetExceeded,
                                      DisplayListAllocationFailed>;

std::string chart_render_error_message(const ChartRenderError& error);
// "Name { field: value, ... }", texts quoted; `multiline` puts one field per line.
std::string chart_render_error_debug(const ChartRenderError& error, bool multiline = false);

}  // namespace cmx::chart_layout
