// Reading chart parts into chart models: a generated line chart of 8 series
// of 5,000 cached points each (the same part bench/charts_peer.py hands to
// openpyxl's chart reader), and a small column chart of 3 points.
#include <benchmark/benchmark.h>

#include <charconv>
#include <string>

#include "charts/chart_reader.h"

namespace {

// Six decimals, as the peer script writes them.
std::string fixed6(double value) {
  char buffer[64];
  auto result = std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, 6);
  return std::string(buffer, result.ptr);
}

std::string chart_part(int series_count, int points) {
  std::string out =
      "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>"
      "<c:chartSpace xmlns:c=\"http://schemas.openxmlformats.org/drawingml/2006/chart\" "
      "xmlns:a=\"http://schemas.openxmlformats.org/drawingml/2006/main\"><c:chart><c:plotArea><c:lineChart>"
      "<c:grouping val=\"standard\"/><c:varyColors val=\"0\"/>";
  for (int s = 0; s < series_count; ++s) {
    const std::string col(1, static_cast<char>('B' + s));
    out += "<c:ser><c:idx val=\"" + std::to_string(s) + "\"/><c:order val=\"" + std::to_string(s) +
           "\"/><c:tx><c:strRef><c:f>Sheet1!$" + col + "$1</c:f><c:strCache><c:ptCount val=\"1\"/><c:pt idx=\"0\">"
           "<c:v>Series " + std::to_string(s) + "</c:v></c:pt></c:strCache></c:strRef></c:tx>"
           "<c:cat><c:strRef><c:f>Sheet1!$A$2:$A$" + std::to_string(points + 1) + "</c:f><c:strCache><c:ptCount val=\"" +
           std::to_string(points) + "\"/>";
    for (int p = 0; p < points; ++p) {
      out += "<c:pt idx=\"" + std::to_string(p) + "\"><c:v>Label " + std::to_string(p) + "</c:v></c:pt>";
    }
    out += "</c:strCache></c:strRef></c:cat><c:val><c:numRef><c:f>Sheet1!$" + col + "$2:$" + col + "$" +
           std::to_string(points + 1) + "</c:f><c:numCache><c:formatCode>General</c:formatCode><c:ptCount val=\"" +
           std::to_string(points) + "\"/>";
    for (int p = 0; p < points; ++p) {
      out += "<c:pt idx=\"" + std::to_string(p) + "\"><c:v>" + fixed6(p * 0.5 + s) + "</c:v></c:pt>";
    }
    out += "</c:numCache></c:numRef></c:val><c:smooth val=\"0\"/></c:ser>";
  }
  out += "<c:marker val=\"1\"/><c:axId val=\"1\"/><c:axId val=\"2\"/></c:lineChart>"
         "<c:catAx><c:axId val=\"1\"/><c:scaling><c:orientation val=\"minMax\"/></c:scaling><c:axPos val=\"b\"/>"
         "<c:crossAx val=\"2\"/></c:catAx><c:valAx><c:axId val=\"2\"/><c:scaling><c:orientation val=\"minMax\"/>"
         "</c:scaling><c:axPos val=\"l\"/><c:majorGridlines/><c:crossAx val=\"1\"/></c:valAx></c:plotArea>"
         "<c:legend><c:legendPos val=\"r\"/></c:legend></c:chart></c:chartSpace>";
  return out;
}

void read_part(benchmark::State& state, const std::string& part, int points) {
  const cmx::model::WorkbookTheme theme = cmx::model::default_theme_colors();
  for (auto _ : state) {
    auto model = cmx::charts::read_chart_model(part, theme);
    benchmark::DoNotOptimize(model);
  }
  state.counters["charts_per_s"] = benchmark::Counter(double(state.iterations()), benchmark::Counter::kIsRate);
  state.counters["points_per_s"] =
      benchmark::Counter(double(state.iterations()) * points, benchmark::Counter::kIsRate);
}

void BM_ReadLargeChart(benchmark::State& state) {
  static const std::string part = chart_part(8, 5000);
  read_part(state, part, 8 * 5000);
}
BENCHMARK(BM_ReadLargeChart)->Unit(benchmark::kMillisecond);

void BM_ReadSmallChart(benchmark::State& state) {
  static const std::string part = chart_part(1, 3);
  read_part(state, part, 3);
}
BENCHMARK(BM_ReadSmallChart)->Unit(benchmark::kMicrosecond);

}  // namespace
