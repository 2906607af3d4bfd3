// The steps of opening a workbook, timed one by one on a file. First the
// open without a client id, as Workbook.open runs it: the archive, the
// workbook and its sheets, validation, the projection computed in place,
// validation of the projection, and the dependency graph. Then the round
// trip through the collaborative document that a collaborative open runs,
// and that a deferred document runs when something first needs it: the
// authored base, the bootstrap transaction, its update, hydration of the
// replica, the strict decode, and the array-range copies; and the time the
// first need takes on a session opened without one; last a whole
// collaborative open, by the direct route and by the encoded round trip.
// Prints one JSON object of seconds.
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

#include "collab/bootstrap.h"
#include "collab/bootstrap_projection.h"
#include "collab/hydration.h"
#include "formula/engine_state.h"
#include "opc/package_archive.h"
#include "reader/source_package.h"
#include "session/document.h"
#include "session/model_copies.h"
#include "session/open.h"
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

// The archive as a session with a lean record reads it: big sheets sealed.
constexpr opc::ArchiveOptions kSessionArchive{.seal_worksheets_from = opc::kSealWorksheetsFrom};

std::optional<reader::OpenedPackage> read(const std::string& data, double& mark, double& archive, double& workbook) {
  auto parts = opc::read_package_archive(data, kSessionArchive);
  if (!parts) return std::nullopt;
  archive = since(mark);
  // The record a session keeps.
  auto opened = reader::open_source_package(std::move(parts.value()), reader::ReadOptions{.threads = 0, .lean = true});
  if (!opened) return std::nullopt;
  workbook = since(mark);
  return std::move(opened.value());
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
    reader::ReadOptions options{.threads = 0, .lean = true};
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
      auto parts = opc::read_package_archive(data, kSessionArchive);
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

  // Opening without a client id.
  double mark = cpu_now();
  double start = mark;
  double archive = 0;
  double workbook = 0;
  auto package = read(data, mark, archive, workbook);
  if (!package) return 1;
  if (!session::validate_workbook_for_sharing(package->model)) return 1;
  double validation = since(mark);
  uint64_t cells = 0;
  for (const auto& sheet : package->model.sheets) cells += sheet.cells.size();
  if (!collab::project_bootstrap_in_place(package->model)) return 1;
  double projection = since(mark);
  if (!session::validate_workbook_for_sharing(package->model)) return 1;
  double revalidation = since(mark);
  auto graph = formula::rebuild_graph(package->model);
  double graph_seconds = since(mark);
  double total = mark - start;
  graph.reset();
  package.reset();

  // The round trip, step by step.
  double rt_archive = 0;
  double rt_workbook = 0;
  mark = cpu_now();
  package = read(data, mark, rt_archive, rt_workbook);
  if (!package) return 1;
  std::vector<collab::DeclaredDimensions> declared;
  for (const reader::SourceDimensions& sheet : package->source_dimensions) {
    declared.push_back({collab::DimensionMap(sheet.column_widths.begin(), sheet.column_widths.end()),
                        collab::DimensionMap(sheet.row_heights.begin(), sheet.row_heights.end())});
  }
  since(mark);
  auto base = collab::build_authored_base(package->model, declared, package->style_copy);
  if (!base) return 1;
  double base_seconds = since(mark);
  auto bootstrap = collab::build_bootstrap_document(package->model, *base);
  if (!bootstrap) return 1;
  double bootstrap_seconds = since(mark);
  std::vector<uint8_t> update = collab::encode_document_state(**bootstrap);
  double update_seconds = since(mark);
  bootstrap->reset();
  since(mark);
  collab::Authority authority;
  authority.doc = crdt::Doc::create_random();
  authority.base = std::make_shared<const collab::AuthoredBase>(std::move(*base));
  if (!collab::hydrate_from_update(*authority.doc, update)) return 1;
  double hydration = since(mark);
  auto decoded = collab::decode_document(authority, /*strict=*/true);
  if (!decoded) return 1;
  double decode = since(mark);
  session::copy_sheets_for_staging(package->model.sheets, decoded->model.sheets);
  double copies = since(mark);
  decoded = collab::Projection{};
  authority = {};
  package.reset();

  // What the first need of the document costs a session opened without one.
  auto opened = session::bootstrap_session(data, /*keep_cached=*/false, std::nullopt);
  if (!opened) return 1;
  mark = cpu_now();
  session::ensure_document(*opened.value());
  double first_document = since(mark);
  opened.value().reset();

  // A whole collaborative open, by the direct route and by the encoded one.
  constexpr uint64_t kClient = 4242;
  mark = cpu_now();
  auto direct = session::bootstrap_session(data, false, kClient, session::DocumentTiming::kDeferred);
  if (!direct) return 1;
  double collaborative = since(mark);
  direct.value().reset();
  mark = cpu_now();
  auto encoded = session::bootstrap_session(data, false, kClient, session::DocumentTiming::kEager);
  if (!encoded) return 1;
  double collaborative_encoded = since(mark);

  std::printf(
      "{\"cells\": %llu, \"archive\": %.6f, \"workbook\": %.6f, \"validation\": %.6f, \"projection\": %.6f, "
      "\"revalidation\": %.6f, \"graph\": %.6f, \"total\": %.6f, \"base\": %.6f, \"bootstrap\": %.6f, "
      "\"update\": %.6f, \"hydration\": %.6f, \"decode\": %.6f, \"copies\": %.6f, \"first_document\": %.6f, "
      "\"collaborative\": %.6f, \"collaborative_encoded\": %.6f}\n",
      static_cast<unsigned long long>(cells), archive, workbook, validation, projection, revalidation,
      graph_seconds, total, base_seconds, bootstrap_seconds, update_seconds, hydration, decode, copies,
      first_document, collaborative, collaborative_encoded);
  return 0;
}
