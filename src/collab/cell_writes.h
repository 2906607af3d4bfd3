// Cell writes without a whole-document projection: a batch of SetCell
// operations reads and writes only the entries it names, so its cost follows
// the edit rather than the workbook. The whole projection stays the one
// reader that decides errors: whenever the partial reading fails, callers
// take the whole road, which then fails exactly as before.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "base/result.h"
#include "collab/authority.h"
#include "collab/cell_formats.h"
#include "model/cell_address.h"
#include "model/workbook.h"
#include "ops/workbook_op.h"

namespace cmx::collab {

// Whether every operation is a SetCell (and there is at least one).
bool only_cell_writes(const std::vector<ops::WorkbookOp>& ops);

// The projection as far as cell writes read it: the defined names of the
// base, the style sheet of the catalog, and one named sheet per active key
// holding only the cells at `cells`. None when any of that does not decode.
// `catalog` receives the catalog read on the way.
std::optional<model::WorkbookModel> project_cells(const Authority& authority,
                                                  std::span<const model::CellAddress> cells,
                                                  CellFormatCatalog* catalog = nullptr);

// The cells at `cells` as the projection gives them (none for an absent
// cell), against `catalog`. None when any of them does not decode.
std::optional<std::vector<std::pair<model::CellAddress, std::optional<model::SheetCell>>>> project_cell_list(
    const Authority& authority, std::span<const model::CellAddress> cells, const CellFormatCatalog& catalog);

// The catalog as the projection reads it. None when it does not decode.
std::optional<CellFormatCatalog> project_catalog(const Authority& authority);

// The cells a batch of SetCell operations names, each once, in order of
// first appearance.
std::vector<model::CellAddress> written_cells(const std::vector<ops::WorkbookOp>& ops);

// An upper bound of the length of the whole state encoded as an update: exact
// when the document has moved since it was last taken, then raised by the
// length of each update this replica wrote itself (`raise_state_size_bound`).
// A local map write can only add its own update's structs and deletions to
// the encoded state (a deleted entry shrinks to a deletion mark or stays as
// it was), so the bound never falls below the true length, nor below that of
// a replica rebuilt from this state.
uint64_t state_size_bound(Authority& authority);
void raise_state_size_bound(Authority& authority, uint64_t bytes);

// What a cell batch wrote into the live document as one undo step.
struct InPlaceCellWrite {
  std::vector<uint8_t> update;  // {0, 0} when nothing was written
  // The written cells as the document now projects them.
  std::vector<std::pair<model::CellAddress, std::optional<model::SheetCell>>> cells;
  // The catalog afterwards, when the write added formats to it.
  std::optional<CellFormatCatalog> catalog;
  // Whether every format already known kept its style index (otherwise the
  // other cells' indices move and the whole projection must be taken).
  bool styles_kept = true;
};

// Writes a batch of SetCell operations straight into the live document as
// one step of its undo manager, as the scratch replica's update would have
// been merged, provided that neither the update nor the whole state can pass
// `max_bytes` and the state vector cannot pass `max_entries` entries. None
// (nothing changed) when that cannot be shown beforehand or the partial
// projection does not decode: the caller then runs the scratch replica.
Result<std::optional<InPlaceCellWrite>, AuthorityError> write_cells_as_undo_step(
    Authority& authority, const std::vector<ops::WorkbookOp>& ops, const model::StyleSheet& source_styles,
    uint64_t max_bytes, uint64_t max_entries);

}  // namespace cmx::collab

namespace cmx::collab {

// A peer's update that only writes and removes cell entries (contents and
// styles of active sheets), as the plan of remote_cell_plan found it.
struct RemoteCellPlan {
  // The cells whose entries it writes or removes, each once.
  std::vector<model::CellAddress> cells;
  // The decoded contents and styles it writes (winning or not): each must
  // pass the caller's checks of a shared workbook.
  std::vector<model::SheetCell> written;
  // How many bytes the whole encoded state can grow by at most.
  uint64_t state_growth = 0;
  // Clients that the state vector gains.
  size_t new_clients = 0;
};

// Shows beforehand what a peer's update does to the live document, when that
// is simple: the document is at the current schema under the base's own
// fingerprint with nothing pending, and every struct of the update that the
// document lacks is a map entry (one plain value, or deleted content) of a
// contents or styles map of an active sheet, under a canonical cell key,
// with a value the projection accepts, and all its predecessors in the
// document or in the update itself; every deleted range lies in such entries
// or in the update; and at least one struct is new. Integrating such an
// update leaves nothing pending and changes no structure. None otherwise.
std::optional<RemoteCellPlan> remote_cell_plan(const Authority& authority, const crdt::Update& update,
                                               uint64_t update_bytes);

}  // namespace cmx::collab
