// Records that tie a sheet of an open workbook to the package it was read
// from: where the sheet came from, where its rows and columns went since,
// and which shared-string entry each text cell used. The session keeps them
// in step with the edits; a save into the source package reads them.
#pragma once

#include <cstdint>
#include <vector>

#include "absl/container/btree_map.h"
#include "model/address.h"
#include "model/workbook.h"

namespace cmx::model {

// Tag 1: read from the source package, as its sheet record `source_index`;
// tag 0: created since.
struct SheetOrigin {
  uint8_t tag = 0;
  uint32_t source_index = 0;
  bool from_source() const { return tag == 1; }
  friend bool operator==(const SheetOrigin&, const SheetOrigin&) = default;
};

// Source lines source_start .. source_start+len-1 sit at current lines
// current_start .. current_start+len-1.
struct IndexRun {
  uint32_t source_start = 0;
  uint32_t len = 0;
  uint32_t current_start = 0;
  friend bool operator==(const IndexRun&, const IndexRun&) = default;
};

// Runs sorted on both sides; lines of no run were deleted (source) or
// inserted (current); runs contiguous on both sides are always one run.
struct SheetMoveMap {
  std::vector<IndexRun> rows;
  uint32_t row_bound = MAX_ROWS;
  std::vector<IndexRun> cols;
  uint32_t col_bound = MAX_COLS;
  friend bool operator==(const SheetMoveMap&, const SheetMoveMap&) = default;
};

// One identity run per axis over the whole grid: nothing moved since the read.
inline SheetMoveMap identity_move_map() {
  return SheetMoveMap{{{0, MAX_ROWS, 0}}, MAX_ROWS, {{0, MAX_COLS, 0}}, MAX_COLS};
}

// A cell position to the shared-string index it referenced when read.
using CellStringIndexMap = absl::btree_map<CellKey, uint64_t>;

}  // namespace cmx::model
