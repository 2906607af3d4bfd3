// Local edits as document transactions: operations built against the live
// model are applied to a fresh projection of the document and written back
// as one transaction with their origin, giving the update to ship; or tried
// first on a throw-away replica of the live state.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "base/result.h"
#include "collab/authority.h"
#include "collab/operation_writer.h"
#include "collab/projection.h"
#include "model/workbook.h"
#include "ops/workbook_op.h"

namespace cmx::collab {

// Source style index -> the index of an equal format in the projection's
// style sheet (none for the default format); one per call.
using StyleTranslation = std::map<uint32_t, std::optional<uint32_t>>;

// Finds an equal format in `target` (the same index first, then the lowest),
// else interns it there. Errors: "cell style index {} is out of range",
// "number format table is full", "style table is full".
Result<std::optional<uint32_t>, std::string> translate_style_index(StyleTranslation& cache,
                                                                   const model::StyleSheet& source,
                                                                   model::StyleSheet& target,
                                                                   std::optional<uint32_t> style);

// Writes `ops` (style indices into `source_styles`) into the authority's
// document under `origin`. Returns the update, none when nothing changed. A
// refusal leaves the document, the structure history and the authored base
// as they were; sheet keys counted for a refused write stay counted.
Result<std::optional<std::vector<uint8_t>>, AuthorityError> apply_local_operation(
    Authority& authority, const std::vector<ops::WorkbookOp>& ops, LocalOrigin origin,
    const model::StyleSheet& source_styles);

struct LocalWriteOptions {
  std::string_view transaction_origin;
  // Without it the structure history stays as it was.
  bool record_step = true;
  // Only the partial projection of a cell batch; nothing is written when
  // the batch needs the whole one.
  bool partial_only = false;
  // Asked once the operations have run on the projection (whose style
  // sheet had `styles_before` cell formats), before anything is written;
  // false leaves everything as it was.
  std::function<bool(const model::WorkbookModel& projection, const std::vector<ops::WorkbookOp>& translated,
                     size_t styles_before)>
      admit;
};

struct LocalWrite {
  bool written = false;  // false: stopped by the options, nothing changed
  std::optional<std::vector<uint8_t>> update;
};

// The same with the transaction's origin and the rest chosen by `options`.
Result<LocalWrite, AuthorityError> apply_local_operation(Authority& authority, const std::vector<ops::WorkbookOp>& ops,
                                                         LocalOrigin origin, const model::StyleSheet& source_styles,
                                                         const LocalWriteOptions& options);

struct ScratchOutcome {
  model::WorkbookModel model;
  ReplicaState replica;
  std::vector<uint8_t> update;  // {0, 0} when nothing was written
  std::optional<StructureStep> structure_step;
  std::shared_ptr<const AuthoredBase> base;
  uint64_t replica_sheet_counter = 0;
  uint64_t state_size = 0;
  uint64_t state_vector_entries = 0;
};

// Runs the operations on a new document with the live client id, hydrated
// from `base_update`; the live authority does not change.
Result<ScratchOutcome, AuthorityError> apply_on_scratch_replica(const Authority& live,
                                                                const std::vector<ops::WorkbookOp>& ops,
                                                                LocalOrigin origin,
                                                                const model::StyleSheet& source_styles,
                                                                std::span<const uint8_t> base_update);

// The same from the live document's whole state.
Result<ScratchOutcome, AuthorityError> dry_run_local_operation(const Authority& live,
                                                               const std::vector<ops::WorkbookOp>& ops,
                                                               LocalOrigin origin,
                                                               const model::StyleSheet& source_styles);

}  // namespace cmx::collab
