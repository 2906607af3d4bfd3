#include "chart_layout/chart_render_error.h"

#include <utility>
#include <vector>

#include "base/number_text.h"

namespace cmx::chart_layout {
namespace {

template <class... Fs>
struct Overload : Fs... {
  using Fs::operator()...;
};
template <class... Fs>
Overload(Fs...) -> Overload<Fs...>;

std::string quoted(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

}  // namespace

std::string chart_render_error_message(const ChartRenderError& error) {
  return std::visit(
      Overload{
          [](const ChartSourceUnavailable& e) { return "cannot render chart " + e.part + ": source part is unavailable"; },
          [](const ChartPartMissing& e) { return "cannot render chart " + e.part + ": package part is missing"; },
          [](const ChartParseFailed& e) { return "cannot render chart " + e.part + ": chart data is invalid"; },
          [](const UnsupportedChartFamily& e) {
            return "cannot render chart " + e.part + ": " + e.family + " charts are unsupported";
          },
          [](const UnsupportedChartFeature& e) {
            return "cannot render chart " + e.part + ": " + e.feature + " is unsupported";
          },
          [](const ChartOpBudgetExceeded& e) {
            return "chart rendering exceeds the " + format_u64(e.max) + "-operation frame limit";
          },
          [](const DisplayListAllocationFailed&) { return std::string("chart display-list allocation failed"); },
      },
      error);
}

std::string chart_render_error_debug(const ChartRenderError& error, bool multiline) {
  using Fields = std::vector<std::pair<const char*, std::string>>;
  const auto [name, fields] = std::visit(
      Overload{
          [](const ChartSourceUnavailable& e) { return std::pair{"ChartSourceUnavailable", Fields{{"part", quoted(e.part)}}}; },
          [](const ChartPartMissing& e) { return std::pair{"ChartPartMissing", Fields{{"part", quoted(e.part)}}}; },
          [](const ChartParseFailed& e) { return std::pair{"ChartParseFailed", Fields{{"part", quoted(e.part)}}}; },
          [](const UnsupportedChartFamily& e) {
            return std::pair{"UnsupportedChartFamily", Fields{{"part", quoted(e.part)}, {"family", quoted(e.family)}}};
          },
          [](const UnsupportedChartFeature& e) {
            return std::pair{"UnsupportedChartFeature",
                             Fields{{"part", quoted(e.part)}, {"feature", quoted(e.feature)}}};
          },
          [](const ChartOpBudgetExceeded& e) { return std::pair{"ChartOpBudgetExceeded", Fields{{"max", format_u64(e.max)}}}; },
          [](const DisplayListAllocationFailed&) { return std::pair{"DisplayListAllocationFailed", Fields{}}; },
      },
      error);
  std::string out = name;
  if (fields.empty()) return out;
  out += multiline ? " {\n" : " { ";
  for (size_t i = 0; i < fields.size(); ++i) {
    if (multiline) {
      out += "    " + std::string(fields[i].first) + ": " + fields[i].second + ",\n";
    } else {
      if (i > 0) out += ", ";
      out += std::string(fields[i].first) + ": " + fields[i].second;
    }
  }
  out += multiline ? "}" : " }";
  return out;
}

}  // namespace cmx::chart_layout
