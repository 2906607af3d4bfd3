// The steps of opening a workbook, timed one by one on a file: the archive,
// the workbook and its sheets, validation, the collaborative document
// (authored base, bootstrap, hydration and projection together), the staging
// copies, and the dependency graph. Prints one JSON object of seconds.
// Usage: bench_open_steps FILE
//        bench_open_steps --read N [--threads T] FILE   (only the read path,
//        N times, for profiling and for reading sheets on T threads, 0 for
//        the machine's choice; prints the fastest pass, CPU and wall time)
#include <time.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>

#include "formula/engine_state.h"
#include "opc/package_archive.h"
#include "reader/source_package.h"
#include "session/document.h"
#include "session/model_copies.h"
#include "session/validation.h"

using namespace cmx;

namespace {

// Process CPU time: the machine may be shared. The whole open is timed on one
// thread; only --read with big sheets may use more, and reports wall time too.
double cpu_now() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double wall_now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) * 1e-9;
}

double since(double& mark) {
  double now = cpu_now();
  double seconds = now - mark;
  mark = now;
  return seconds;
}

}  // namespace

int main(int argc, char** argv) {
  // Run among the other benchmarks without a file, it has nothing to time:
  // bench/open_steps.py gives it the files.
  if (argc == 1) {
    std::printf("bench_open_steps: no file given; bench/open_steps.py runs it on generated workbooks\n");
    return 0;
  }
  if ((argc == 4 || argc == 6) && std::strcmp(argv[1], "--read") == 0) {
    reader::ReadOptions options;
    if (argc == 6) {
      if (std::strcmp(argv[3], "--threads") != 0) return 2;
      options.threads = static_cast<unsigned>(std::max(0, std::atoi(argv[4])));
    }
    std::ifstream in(argv[argc - 1], std::ios::binary);
    std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const int passes = std::max(1, std::atoi(argv[2]));
    double best_archive = 1e9;
    double best_workbook = 1e9;
    double best_wall = 1e9;
    for (int pass = 0; pass < passes; ++pass) {
      double mark = cpu_now();
      auto parts = opc::read_package_archive(data);
      if (!parts) return 1;
      best_archive = std::min(best_archive, since(mark));
      double wall = wall_now();
      auto opened = reader::open_source_package(std::move(parts.value()), options);
      if (!opened) return 1;
      best_wall = std::min(best_wall, wall_now() - wall);
      best_workbook = std::min(best_workbook, since(mark));
    }
    std::printf("{\"archive\": %.6f, \"workbook\": %.6f, \"workbook_wall\": %.6f}\n", best_archive,
                best_workbook, best_wall);
    return 0;
  }
  if (argc != 2) {
    std::fprintf(stderr, "usage: bench_open_steps FILE | --read N [--threads T] FILE\n");
    return 2;
  }
  std::ifstream in(argv[1], std::ios::binary);
  std::string data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  double mark = cpu_now();
  double start = mark;
  auto parts = opc::read_package_archive(data);
  if (!parts) return 1;
  double archive = since(mark);
  auto opened = reader::open_source_package(std::move(parts.value()));
  if (!opened) return 1;
  double workbook = since(mark);
  reader::OpenedPackage& package = opened.value();
  if (!session::validate_workbook_for_sharing(package.model)) return 1;
  double validation = since(mark);
  auto document = session::open_document(package.model, package.source_dimensions, package.style_copy,
                                         std::nullopt);
  if (!document) return 1;
  double collab = since(mark);
  session::copy_sheets_for_staging(package.model.sheets, document.value().projected.sheets);
  if (!session::validate_workbook_for_sharing(document.value().projected)) return 1;
  double copies = since(mark);
  auto graph = formula::rebuild_graph(document.value().projected);
  double graph_seconds = since(mark);
  uint64_t cells = 0;
  for (const auto& sheet : package.model.sheets) cells += sheet.cells.size();
  std::printf(
      "{\"cells\": %llu, \"archive\": %.6f, \"workbook\": %.6f, \"validation\": %.6f, "
      "\"document\": %.6f, \"copies\": %.6f, \"graph\": %.6f, \"total\": %.6f}\n",
      static_cast<unsigned long long>(cells), archive, workbook, validation, collab, copies,
      graph_seconds, mark - start);
  return 0;
}
