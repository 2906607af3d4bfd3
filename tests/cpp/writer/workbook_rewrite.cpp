// Test-only driver: opens an .xlsx with the package and workbook readers and
// writes the model as a new package to the output path, so that pytest can
// set the two files side by side in openpyxl. Prints one JSON line:
// {"ok":true} or {"ok":false,"error":"..."} (a refusal still exits 0); only a
// usage or file error exits 2. With --charts-dropped the sheets' chart frames
// are left out instead of refusing the workbook. With --time it also prints
// the seconds the write took (for bench/).
#include <chrono>
#include <cstdio>
#include <fstream>
#include <optional>
#include <string>

#include "../workbook_driver.h"
#include "writer/new_package.h"
#include "xml/parse_error.h"

int main(int argc, char** argv) {
  using namespace cmx;
  using driver::print_refusal;
  std::string input;
  std::string output;
  bool drop_charts = false;
  bool time = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--charts-dropped") {
      drop_charts = true;
    } else if (arg == "--time") {
      time = true;
    } else if (input.empty()) {
      input = arg;
    } else {
      output = arg;
    }
  }
  if (input.empty() || output.empty()) {
    std::fprintf(stderr, "usage: workbook_rewrite [--charts-dropped] [--time] in.xlsx out.xlsx\n");
    return 2;
  }
  const std::optional<std::string> bytes = driver::read_file(input);
  if (!bytes) {
    std::fprintf(stderr, "cannot read %s\n", input.c_str());
    return 2;
  }
  auto read = driver::open_workbook(*bytes);
  if (!read) {
    print_refusal(read.error());
    return 0;
  }
  if (drop_charts) {
    for (model::SheetModel& sheet : read->model.sheets) sheet.charts.clear();
  }
  const auto started = std::chrono::steady_clock::now();
  auto written = writer::write_new_package(read->model, read->active_tab);
  if (!written) {
    print_refusal(xml::parse_error_message(written.error()));
    return 0;
  }
  auto archive = writer::write_package_zip(*written);
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  if (!archive) {
    print_refusal(archive.error());
    return 0;
  }
  std::ofstream out(output, std::ios::binary);
  out.write(archive->data(), static_cast<std::streamsize>(archive->size()));
  if (!out) {
    std::fprintf(stderr, "cannot write %s\n", output.c_str());
    return 2;
  }
  if (time) {
    std::printf("{\"ok\":true,\"seconds\":%.6f}\n", seconds);
  } else {
    std::printf("{\"ok\":true}\n");
  }
  return 0;
}
