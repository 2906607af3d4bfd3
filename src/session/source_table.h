// Where each sheet, cell, row and column of an open workbook came from in its
// source package, kept index-aligned with the model's sheets so that a save
// can patch the source parts instead of writing them anew.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "absl/container/btree_map.h"
#include "model/source_moves.h"
#include "model/workbook.h"
#include "reader/source_package.h"

namespace cmx::session {

using model::IndexRun;
using model::SheetMoveMap;
using model::SheetOrigin;
// A cell position mapped to the value the package reader recorded for it.
using CellOriginMap = model::CellStringIndexMap;

using model::identity_move_map;

struct SheetSourceTable {
  std::vector<SheetOrigin> origins;
  std::vector<CellOriginMap> source_maps;
  std::vector<std::optional<SheetMoveMap>> move_maps;
  std::vector<uint8_t> added;
  friend bool operator==(const SheetSourceTable&, const SheetSourceTable&) = default;
};

// Sheet i is taken from the source package when i is below its worksheet
// count (with a copy of its recorded cell values and an identity move map);
// without a package every sheet is new.
SheetSourceTable build_sheet_sources(const reader::SourcePackage* source, size_t sheet_count);

enum class LineAxis : uint8_t { Rows, Columns };

// A sheet created in the session at min(index, length).
void insert_source_sheet(SheetSourceTable& table, size_t index);
// Drops entry `index` of each list that has it.
void remove_source_sheet(SheetSourceTable& table, size_t index);

// Moves the cell-origin keys of one sheet for `count` lines inserted
// (`insert`) or deleted at `at`; keys pushed past the grid are dropped.
void move_cell_origins(CellOriginMap& map, LineAxis axis, bool insert, uint32_t at, uint32_t count);
// Rewrites the runs of one axis for the same edit, under `bound`.
std::vector<IndexRun> move_index_runs(std::span<const IndexRun> runs, uint32_t bound, bool insert, uint32_t at,
                                      uint32_t count);
// Both of the above on sheet `sheet` of the table (move map when present).
void move_source_lines(SheetSourceTable& table, size_t sheet, LineAxis axis, bool insert, uint32_t at,
                       uint32_t count);

}  // namespace cmx::session
