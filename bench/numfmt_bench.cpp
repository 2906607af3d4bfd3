// format_cell_value over a mix of codes and values, as a sheet's display texts
// render: values per second, with codes served from the per-thread cache.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "model/format_render.h"
#include "model/number_format.h"

using namespace cmx::model;

namespace {

const std::vector<std::string>& codes() {
  static const std::vector<std::string> kCodes = {
      "General", "0", "0.00", "#,##0", "#,##0.00", "0%", "0.00%", "0.00E+00", "# ?/?",
      "m/d/yy", "d-mmm-yy", "h:mm AM/PM", "h:mm:ss", "m/d/yy h:mm", "#,##0 ;(#,##0)",
      "#,##0.00;[Red](#,##0.00)", "[h]:mm:ss", "mm:ss.0", "##0.0E+0", "@",
      "[$€-407]#,##0.00", "yyyy-mm-dd", "dddd, mmmm d, yyyy", "0.0,,\"M\"", "[Blue][>=100]0;[Red]0",
  };
  return kCodes;
}

std::vector<CellValue> values() {
  std::vector<CellValue> out;
  for (int i = 0; i < 997; ++i) {
    double v = (i % 7 == 0) ? -i * 13.7 : i * 1234.5678 + i / 7.0;
    if (i % 11 == 0) v = 45292 + i / 97.0;  // dates
    if (i % 13 == 0) v = 1.0 / (i + 1);     // small fractions
    out.push_back(CellValue::number(v));
  }
  out.push_back(CellValue::text("label"));
  out.push_back(CellValue::boolean(true));
  out.push_back(CellValue::error(CellErrorCode::NA));
  return out;
}

void BM_FormatCellValue(benchmark::State& state) {
  const std::vector<CellValue> vals = values();
  const std::vector<std::string>& cs = codes();
  size_t i = 0;
  size_t bytes = 0;
  for (auto _ : state) {
    FormattedText out = format_cell_value(vals[i % vals.size()], cs[i % cs.size()], DateSystem::V1900);
    bytes += out.text.size();
    benchmark::DoNotOptimize(out);
    ++i;
  }
  benchmark::DoNotOptimize(bytes);
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_FormatCellValue);

// One-off codes: every value turns over the cache, as TEXT with built codes does.
void BM_FormatUncachedCodes(benchmark::State& state) {
  std::vector<std::string> cs;
  for (int i = 0; i < 4096; ++i) cs.push_back("#,##0.00\" u" + std::to_string(i) + "\"");
  size_t i = 0;
  for (auto _ : state) {
    FormattedText out = format_value(cs[i % cs.size()], DateSystem::V1900, i * 3.25);
    benchmark::DoNotOptimize(out);
    ++i;
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_FormatUncachedCodes);

void BM_FormatGeneral(benchmark::State& state) {
  size_t i = 0;
  for (auto _ : state) {
    std::string out = format_general(i * 1234.5678 + 0.1);
    benchmark::DoNotOptimize(out);
    ++i;
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
}
BENCHMARK(BM_FormatGeneral);

}  // namespace
