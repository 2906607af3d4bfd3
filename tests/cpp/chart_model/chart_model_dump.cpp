// Test-only driver: reads each chart part named on the command line into a
// chart model (default theme) and prints one JSON object per line: the plots
// with their series' names, categories, values and colours, the axes, the
// title and the legend; or {"ok":false,"reason":...} for a part that gives
// no model. Exits 2 only on a usage or file error.
#include <cmath>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>

#include "charts/chart_reader.h"
#include "json/writer.h"

namespace {

using namespace cmx;

void str(std::string& out, std::string_view text) { json::append_json_string(out, text); }

void opt_str(std::string& out, const std::optional<std::string>& text) {
  if (text) str(out, *text); else out += "null";
}

void num(std::string& out, double value) {
  if (std::isfinite(value)) json::append_json_f64(out, value); else out += "null";
}

void opt_num(std::string& out, const std::optional<double>& value) {
  if (value) num(out, *value); else out += "null";
}

void texts(std::string& out, const std::vector<std::string>& list) {
  out += '[';
  for (size_t i = 0; i < list.size(); ++i) {
    if (i) out += ',';
    str(out, list[i]);
  }
  out += ']';
}

void numbers(std::string& out, const std::vector<double>& list) {
  out += '[';
  for (size_t i = 0; i < list.size(); ++i) {
    if (i) out += ',';
    num(out, list[i]);
  }
  out += ']';
}

void series_json(std::string& out, const charts::ChartSeries& series) {
  out += "{\"name\":";
  opt_str(out, series.name);
  out += ",\"categories\":";
  texts(out, series.categories);
  out += ",\"values\":";
  numbers(out, series.values);
  out += ",\"x_values\":";
  if (series.x_values) numbers(out, *series.x_values); else out += "null";
  out += ",\"color\":";
  str(out, series.color);
  out += '}';
}

void axis_json(std::string& out, const charts::ChartAxis& axis) {
  out += "{\"kind\":";
  str(out, axis.kind);
  out += ",\"id\":";
  opt_str(out, axis.id);
  out += ",\"min\":";
  opt_num(out, axis.min);
  out += ",\"max\":";
  opt_num(out, axis.max);
  out += ",\"number_format\":";
  opt_str(out, axis.number_format);
  out += ",\"deleted\":";
  out += axis.deleted ? "true" : "false";
  out += '}';
}

std::string model_json(const charts::ChartModel& model) {
  std::string out = "{\"ok\":true,\"primary_kind\":";
  str(out, model.primary_kind);
  out += ",\"plots\":[";
  for (size_t p = 0; p < model.plots.size(); ++p) {
    const charts::ChartPlot& plot = model.plots[p];
    if (p) out += ',';
    out += "{\"kind\":";
    str(out, plot.kind);
    out += ",\"grouping\":";
    opt_str(out, plot.grouping);
    out += ",\"series\":[";
    for (size_t s = 0; s < plot.series.size(); ++s) {
      if (s) out += ',';
      series_json(out, plot.series[s]);
    }
    out += "]}";
  }
  out += "],\"axes\":[";
  if (model.all_axes) {
    for (size_t a = 0; a < model.all_axes->size(); ++a) {
      if (a) out += ',';
      axis_json(out, (*model.all_axes)[a]);
    }
  }
  out += "],\"title\":";
  opt_str(out, model.title);
  out += ",\"legend\":";
  if (model.legend) {
    out += "{\"position\":";
    opt_str(out, model.legend->position);
    out += '}';
  } else {
    out += "null";
  }
  out += '}';
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: chart_model_dump CHART_PART...\n");
    return 2;
  }
  const model::WorkbookTheme theme = model::default_theme_colors();
  for (int i = 1; i < argc; ++i) {
    std::ifstream in(argv[i], std::ios::binary);
    if (!in) {
      std::fprintf(stderr, "cannot read %s\n", argv[i]);
      return 2;
    }
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    Result<charts::ChartModel, charts::ChartRefusal> model = charts::read_chart_model(bytes, theme);
    std::string line;
    if (model) {
      line = model_json(*model);
    } else {
      line = "{\"ok\":false,\"reason\":";
      str(line, charts::chart_refusal_message(model.error()));
      line += '}';
    }
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fputc('\n', stdout);
  }
  return 0;
}
