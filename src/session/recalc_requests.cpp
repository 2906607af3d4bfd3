#include "session/recalc_requests.h"

#include <algorithm>
#include <tuple>
#include <vector>

#include "session/views.h"

namespace cmx::session {
namespace {

using CellTriple = std::tuple<uint32_t, uint32_t, uint32_t>;

// The cells as a set: ascending (sheet, row, column), each once.
std::vector<CellTriple> cell_set(const std::vector<model::CellAddress>& cells) {
  std::vector<CellTriple> set;
  set.reserve(cells.size());
  for (const model::CellAddress& cell : cells) set.emplace_back(cell.sheet, cell.cell.row, cell.cell.col);
  std::sort(set.begin(), set.end());
  set.erase(std::unique(set.begin(), set.end()), set.end());
  return set;
}

// The file left formula cells without a cached value, which a first
// calculation fills in.
bool first_calculation_fills_cells(const WorkbookSession& session) {
  if (session.calculated || !session.source_package) return false;
  return std::any_of(session.source_package->sheets.begin(), session.source_package->sheets.end(),
                     [](const reader::SourceSheet& sheet) { return !sheet.cell_notes.uncached_formula_cells.empty(); });
}

}  // namespace

void bump_generation(WorkbookSession& session) {
  ++session.generation;
  session.chart_cache.with([](ParsedChartCache& cache) { cache.clear(); });
}

formula::RecalcResult recalculate_session(WorkbookSession& session, std::optional<double> now_serial) {
  bump_generation(session);
  session.calculated = true;
  auto [engine, result] = formula::recalculate_all(session.model, now_serial);
  session.engine = std::move(engine);
  session.last_calculation = clone_calculation_cells(result);
  return result;
}

formula::RecalcResult recalculate_workbook(WorkbookSession& session, std::optional<double> now_serial) {
  const bool first = first_calculation_fills_cells(session);
  const std::vector<CellTriple> cycles_before = cell_set(session.last_calculation.cycles);
  const std::vector<CellTriple> limited_before = cell_set(session.last_calculation.limited);
  formula::RecalcResult result = recalculate_session(session, now_serial);
  const bool changed = !result.changed.empty() || first || cell_set(result.cycles) != cycles_before ||
                       cell_set(result.limited) != limited_before;
  if (changed) {
    ++session.revision;
    notify_change_listeners(*session.listeners, ChangeEvent{{}, ChangeSource::Recalculation});
  }
  return result;
}

}  // namespace cmx::session
