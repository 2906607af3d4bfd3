// A test-only driver that bench/open_sessions.py runs beside the Python
// readers: opens a workbook file into a complete session (bytes in, session
// out), or opens it and recalculates every formula, and prints one JSON line
// with the count and the seconds taken. Exit 2 when the file cannot be read,
// 1 when opening refuses it.
#include <chrono>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "session/open.h"
#include "session/recalc_requests.h"

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
  return std::chrono::duration<double>(Clock::now() - start).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3 || (std::string(argv[1]) != "--open" && std::string(argv[1]) != "--recalc")) {
    std::cerr << "usage: session_driver --open|--recalc FILE\n";
    return 2;
  }
  const bool recalc = std::string(argv[1]) == "--recalc";
  // One buffer of the file's size, as the module's open_path reads it, so
  // that the peak memory measured is the session's.
  std::ifstream in(argv[2], std::ios::binary | std::ios::ate);
  if (!in) return 2;
  std::string bytes(static_cast<size_t>(in.tellg()), '\0');
  in.seekg(0);
  if (!in.read(bytes.data(), static_cast<std::streamsize>(bytes.size()))) return 2;

  const Clock::time_point start = Clock::now();
  auto opened = cmx::session::bootstrap_session(bytes, /*keep_cached=*/!recalc, std::nullopt);
  if (!opened) {
    std::cerr << cmx::session::engine_error_display(opened.error()) << "\n";
    return 1;
  }
  cmx::session::WorkbookSession& session = *opened.value();
  const double open_seconds = seconds_since(start);
  uint64_t cells = 0;
  uint64_t formulas = 0;
  for (const auto& sheet : session.model.sheets) {
    for (const auto& [key, cell] : sheet.cells) {
      if (!cell.value.is_empty()) ++cells;
      if (cell.formula) ++formulas;
    }
  }
  if (!recalc) {
    std::printf("{\"cells\": %llu, \"seconds\": %.6f}\n", static_cast<unsigned long long>(cells), open_seconds);
    return 0;
  }
  const Clock::time_point calc_start = Clock::now();
  const cmx::formula::RecalcResult result = cmx::session::recalculate_workbook(session, std::nullopt);
  const double calc_seconds = seconds_since(calc_start);
  std::printf("{\"formulas\": %llu, \"changed\": %zu, \"cycles\": %zu, \"open_seconds\": %.6f, \"seconds\": %.6f}\n",
              static_cast<unsigned long long>(formulas), result.changed.size(), result.cycles.size(), open_seconds,
              calc_seconds);
  return 0;
}
