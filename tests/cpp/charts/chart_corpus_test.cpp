// Real chart parts: every chart of the workbook corpus reads into a chart
// model or is refused for a known reason, listed below; a new refusal fails.
// Prints the counts by primary kind and by plot kind. All chart parts are
// read (a few hundred small parts); CMX_CORPUS_DIR points elsewhere.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <iostream>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>
#include <vector>

#include "charts/chart_reader.h"
#include "opc/package_archive.h"

namespace cmx::charts {
namespace {

namespace fs = std::filesystem;

fs::path corpus_root() {
  if (const char* dir = std::getenv("CMX_CORPUS_DIR")) return dir;
  return fs::path(CMX_SOURCE_DIR).parent_path() / "shared" / "corpus";
}

bool is_chart_part_name(std::string name) {
  std::transform(name.begin(), name.end(), name.begin(), [](unsigned char c) { return std::tolower(c); });
  return name.starts_with("xl/charts/chart") && name.ends_with(".xml");
}

struct CorpusChart {
  std::string workbook;  // relative to the corpus root
  std::string part;
  Result<ChartModel, ChartRefusal> model;
};

std::vector<CorpusChart> read_corpus_charts() {
  std::vector<CorpusChart> charts;
  const fs::path root = corpus_root();
  if (!fs::is_directory(root)) return charts;
  std::vector<fs::path> books;
  for (const auto& entry : fs::recursive_directory_iterator(root)) {
    if (entry.is_regular_file() && entry.path().extension() == ".xlsx") books.push_back(entry.path());
  }
  std::sort(books.begin(), books.end());
  const model::WorkbookTheme theme = model::default_theme_colors();
  for (const fs::path& book : books) {
    std::ifstream in(book, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto parts = opc::read_package_archive(bytes);
    if (!parts) {
      // Archives the package reader refuses are its own tests' concern.
      std::cout << "archive refused: " << fs::relative(book, root).string() << "\n";
      continue;
    }
    for (const opc::PackagePart& part : *parts) {
      if (!is_chart_part_name(part.name)) continue;
      charts.push_back({fs::relative(book, root).string(), part.name, read_chart_model(part.bytes, theme)});
    }
  }
  return charts;
}

// Workbook and part of every chart the corpus is known to refuse, with the
// reason. Empty: every corpus chart reads.
struct KnownRefusal {
  std::string_view workbook;
  std::string_view part;
  ChartRefusal reason;
};
const std::vector<KnownRefusal> kKnownRefusals = {};

bool is_known_refusal(const CorpusChart& chart) {
  return std::any_of(kKnownRefusals.begin(), kKnownRefusals.end(), [&](const KnownRefusal& known) {
    return known.workbook == chart.workbook && known.part == chart.part && known.reason == chart.model.error();
  });
}

bool is_color_text(const std::string& text) {
  return text.size() == 7 && text[0] == '#' &&
         std::all_of(text.begin() + 1, text.end(), [](char c) { return std::isdigit(c) || (c >= 'A' && c <= 'F'); });
}

// What every model promises whatever the part held.
void expect_model_invariants(const ChartModel& model) {
  EXPECT_FALSE(model.plots.empty());
  const std::vector<std::string> primary = {"bar", "column", "line", "pie", "doughnut"};
  EXPECT_NE(std::find(primary.begin(), primary.end(), model.primary_kind), primary.end()) << model.primary_kind;
  size_t series_total = 0;
  for (const ChartPlot& plot : model.plots) {
    EXPECT_LE(plot.axis_ids.size(), MAX_PLOT_AXIS_IDS);
    for (const ChartSeries& series : plot.series) {
      ++series_total;
      EXPECT_TRUE(is_color_text(series.color)) << series.color;
      EXPECT_LE(series.values.size(), MAX_CHART_LIST_READ);
      for (const ChartDataPoint& point : series.point_overrides.value_or(std::vector<ChartDataPoint>{})) {
        EXPECT_TRUE(is_color_text(point.color)) << point.color;
      }
    }
  }
  EXPECT_EQ(model.series.size(), series_total);
  EXPECT_LE(series_total, MAX_CHART_SERIES);
  if (model.all_axes) {
    EXPECT_FALSE(model.all_axes->empty());
  }
  if (model.axes) {
    EXPECT_TRUE(model.axes->category || model.axes->value);
  }
  if (const auto& layout = model.plot_area_layout) {
    EXPECT_GT(layout->w, 0);
    EXPECT_GT(layout->h, 0);
    EXPECT_TRUE(layout->x >= 0 && layout->x <= 1 && layout->y >= 0 && layout->y <= 1);
  }
}

TEST(ChartCorpus, EveryChartReadsOrIsRefusedForAKnownReason) {
  const std::vector<CorpusChart> charts = read_corpus_charts();
  if (charts.empty()) GTEST_SKIP() << "no workbook corpus at " << corpus_root();
  std::map<std::string, int> by_primary;
  std::map<std::string, int> by_plot;
  std::map<std::string, int> refusals;
  for (const CorpusChart& chart : charts) {
    SCOPED_TRACE(chart.workbook + " " + chart.part);
    if (!chart.model) {
      const std::string reason(chart_refusal_message(chart.model.error()));
      ++refusals[reason];
      EXPECT_TRUE(is_known_refusal(chart)) << "new refusal: " << reason;
      continue;
    }
    expect_model_invariants(*chart.model);
    ++by_primary[chart.model->primary_kind];
    for (const ChartPlot& plot : chart.model->plots) ++by_plot[plot.kind];
  }
  std::cout << charts.size() << " chart parts\n";
  for (const auto& [kind, count] : by_primary) std::cout << "primary " << kind << ": " << count << "\n";
  for (const auto& [kind, count] : by_plot) std::cout << "plot " << kind << ": " << count << "\n";
  for (const auto& [reason, count] : refusals) std::cout << "refused (" << reason << "): " << count << "\n";
  // The corpus holds a few hundred charts; far fewer means the parts were
  // not found, not that they read.
  EXPECT_GT(charts.size(), 300u);
}

}  // namespace
}  // namespace cmx::charts
