#include "session/source_table.h"

#include <algorithm>
#include <limits>

namespace cmx::session {
namespace {

uint32_t sat_add(uint32_t a, uint32_t b) {
  const uint64_t sum = uint64_t{a} + b;
  return sum > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                    : static_cast<uint32_t>(sum);
}

uint32_t sat_sub(uint32_t a, uint32_t b) { return a > b ? a - b : 0; }

// Appends a run, merged into the previous one when they meet on both sides;
// empty runs are not kept.
void push_run(std::vector<IndexRun>& out, IndexRun run) {
  if (run.len == 0) return;
  if (!out.empty()) {
    IndexRun& last = out.back();
    if (sat_add(last.source_start, last.len) == run.source_start &&
        sat_add(last.current_start, last.len) == run.current_start) {
      last.len = sat_add(last.len, run.len);
      return;
    }
  }
  out.push_back(run);
}

// The part of a run that stays where it is, cut to the bound.
void keep_before(std::vector<IndexRun>& out, const IndexRun& run, uint32_t end, uint32_t bound) {
  if (run.current_start >= bound) return;
  push_run(out, {run.source_start, std::min(end - run.current_start, bound - run.current_start), run.current_start});
}

}  // namespace

SheetSourceTable build_sheet_sources(const reader::SourcePackage* source, size_t sheet_count) {
  SheetSourceTable table;
  table.origins.reserve(sheet_count);
  for (size_t idx = 0; idx < sheet_count; ++idx) {
    const bool taken = source != nullptr && idx < source->sheets.size();
    table.origins.push_back(taken ? SheetOrigin{1, static_cast<uint32_t>(idx)} : SheetOrigin{});
    table.source_maps.push_back(taken ? CellOriginMap(source->sheets[idx].shared_string_cells.begin(),
                                                      source->sheets[idx].shared_string_cells.end())
                                      : CellOriginMap());
    table.move_maps.push_back(source != nullptr ? std::optional(identity_move_map()) : std::nullopt);
    table.added.push_back(0);
  }
  return table;
}

void insert_source_sheet(SheetSourceTable& table, size_t index) {
  table.origins.insert(table.origins.begin() + std::min(index, table.origins.size()), SheetOrigin{});
  table.source_maps.insert(table.source_maps.begin() + std::min(index, table.source_maps.size()), CellOriginMap());
  table.move_maps.insert(table.move_maps.begin() + std::min(index, table.move_maps.size()), std::nullopt);
  table.added.insert(table.added.begin() + std::min(index, table.added.size()), 1);
}

void remove_source_sheet(SheetSourceTable& table, size_t index) {
  if (index < table.origins.size()) table.origins.erase(table.origins.begin() + index);
  if (index < table.source_maps.size()) table.source_maps.erase(table.source_maps.begin() + index);
  if (index < table.move_maps.size()) table.move_maps.erase(table.move_maps.begin() + index);
  if (index < table.added.size()) table.added.erase(table.added.begin() + index);
}

void move_cell_origins(CellOriginMap& map, LineAxis axis, bool insert, uint32_t at, uint32_t count) {
  const uint64_t last_line = axis == LineAxis::Rows ? model::MAX_ROWS - 1 : model::MAX_COLS - 1;
  std::vector<std::pair<model::CellKey, uint64_t>> moved;
  moved.reserve(map.size());
  for (const auto& [key, value] : map) {
    model::CellKey next = key;
    uint32_t& line = axis == LineAxis::Rows ? next.row : next.col;
    if (insert) {
      if (line >= at) {
        if (uint64_t{line} + count > last_line) continue;
        line += count;
      }
    } else if (line >= at) {
      if (uint64_t{line} < uint64_t{at} + count) continue;
      line -= count;
    }
    moved.emplace_back(next, value);
  }
  std::sort(moved.begin(), moved.end(), [](const auto& a, const auto& b) { return a.first < b.first; });
  map = CellOriginMap(moved.begin(), moved.end());
}

std::vector<IndexRun> move_index_runs(std::span<const IndexRun> runs, uint32_t bound, bool insert, uint32_t at,
                                      uint32_t count) {
  std::vector<IndexRun> out;
  const uint32_t band_end = sat_add(at, count);
  for (const IndexRun& run : runs) {
    const uint32_t end = sat_add(run.current_start, run.len);
    if (end <= at) {
      keep_before(out, run, end, bound);
      continue;
    }
    if (insert) {
      if (run.current_start < at) {
        keep_before(out, run, at, bound);
        const uint32_t done = at - run.current_start;
        if (band_end < bound) {
          push_run(out, {run.source_start + done, std::min(run.len - done, bound - band_end), band_end});
        }
      } else {
        const uint32_t moved = sat_add(run.current_start, count);
        if (moved < bound) push_run(out, {run.source_start, std::min(run.len, bound - moved), moved});
      }
      continue;
    }
    if (run.current_start >= band_end) {
      const uint32_t moved = run.current_start - count;
      push_run(out, {run.source_start, std::min(run.len, sat_sub(bound, moved)), moved});
      continue;
    }
    if (run.current_start < at) keep_before(out, run, at, bound);
    if (end > band_end) {
      const uint32_t skipped = band_end - run.current_start;
      push_run(out, {run.source_start + skipped, std::min(run.len - skipped, sat_sub(bound, at)), at});
    }
  }
  return out;
}

void move_source_lines(SheetSourceTable& table, size_t sheet, LineAxis axis, bool insert, uint32_t at,
                       uint32_t count) {
  if (sheet < table.source_maps.size()) move_cell_origins(table.source_maps[sheet], axis, insert, at, count);
  if (sheet < table.move_maps.size() && table.move_maps[sheet]) {
    SheetMoveMap& map = *table.move_maps[sheet];
    if (axis == LineAxis::Rows) {
      map.rows = move_index_runs(map.rows, map.row_bound, insert, at, count);
    } else {
      map.cols = move_index_runs(map.cols, map.col_bound, insert, at, count);
    }
  }
}

}  // namespace cmx::session
