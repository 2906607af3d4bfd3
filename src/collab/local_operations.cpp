#include "collab/local_operations.h"

#include <string>
#include <utility>
#include <variant>

#include "base/number_text.h"
#include "collab/bootstrap.h"
#include "collab/cell_formats.h"
#include "collab/cell_writes.h"
#include "collab/hydration.h"
#include "crdt/crdt.h"
#include "model/style_interning.h"
#include "ops/apply.h"
#include "ops/error.h"

namespace cmx::collab {

namespace {

AuthorityError state_error(std::string text) {
  return AuthorityError{AuthorityError::Kind::kCollaborativeState, 0, std::move(text)};
}

// The operation with its style indices moved into the projection's style
// sheet; none when every index stays as it is.
Result<std::optional<ops::WorkbookOp>, std::string> translate_op(StyleTranslation& cache,
                                                                 const model::StyleSheet& source,
                                                                 model::StyleSheet& target,
                                                                 const ops::WorkbookOp& op) {
  if (const auto* set = std::get_if<ops::SetCell>(&op)) {
    CMX_ASSIGN_OR_RETURN(std::optional<uint32_t> style, translate_style_index(cache, source, target, set->cell.style));
    if (style == set->cell.style) return std::optional<ops::WorkbookOp>();
    ops::SetCell copy = *set;
    copy.cell.style = style;
    return std::optional<ops::WorkbookOp>(std::move(copy));
  }
  if (const auto* rename = std::get_if<ops::RenameSheetWithCells>(&op)) {
    std::optional<ops::RenameSheetWithCells> copy;
    for (size_t i = 0; i < rename->cells.size(); ++i) {
      const std::optional<uint32_t> old = rename->cells[i].second.style;
      CMX_ASSIGN_OR_RETURN(std::optional<uint32_t> style, translate_style_index(cache, source, target, old));
      if (style == old) continue;
      if (!copy) copy = *rename;
      copy->cells[i].second.style = style;
    }
    if (!copy) return std::optional<ops::WorkbookOp>();
    return std::optional<ops::WorkbookOp>(std::move(*copy));
  }
  return std::optional<ops::WorkbookOp>();
}

}  // namespace

Result<std::optional<uint32_t>, std::string> translate_style_index(StyleTranslation& cache,
                                                                   const model::StyleSheet& source,
                                                                   model::StyleSheet& target,
                                                                   std::optional<uint32_t> style) {
  if (!style) return std::optional<uint32_t>();
  if (auto cached = cache.find(*style); cached != cache.end()) return cached->second;
  if (*style >= source.cell_xfs.size()) {
    return unexpected("cell style index " + format_u64(*style) + " is out of range");
  }
  const model::CellFormat format = model::resolve_cell_format(source, *style);
  std::optional<uint32_t> result;
  bool found = false;
  if (*style < target.cell_xfs.size() && cell_format_eq(model::resolve_cell_format(target, *style), format)) {
    result = *style;
    found = true;
  }
  for (uint32_t i = 0; !found && i < target.cell_xfs.size(); ++i) {
    if (cell_format_eq(model::resolve_cell_format(target, i), format)) {
      result = i;
      found = true;
    }
  }
  if (!found && !cell_format_eq(format, default_cell_format())) {
    Result<uint32_t, model::InternError> interned =
        std::holds_alternative<model::BuiltinNumFmt>(format.number_format)
            ? model::intern_format_builtin_numfmt(target, format,
                                                  std::get<model::BuiltinNumFmt>(format.number_format).id)
            : model::intern_format_custom_numfmt(target, format,
                                                 std::get<model::CustomPattern>(format.number_format).pattern);
    if (!interned) {
      return unexpected(std::string(interned.error() == model::InternError::NumFmtTableFull
                                        ? "number format table is full"
                                        : "style table is full"));
    }
    result = *interned;
  }
  cache.emplace(*style, result);
  return result;
}

Result<std::optional<std::vector<uint8_t>>, AuthorityError> apply_local_operation(
    Authority& authority, const std::vector<ops::WorkbookOp>& ops, LocalOrigin origin,
    const model::StyleSheet& source_styles) {
  LocalWriteOptions options;
  options.transaction_origin = local_origin_text(origin);
  CMX_ASSIGN_OR_RETURN(LocalWrite written, apply_local_operation(authority, ops, origin, source_styles, options));
  return std::move(written.update);
}

Result<LocalWrite, AuthorityError> apply_local_operation(Authority& authority, const std::vector<ops::WorkbookOp>& ops,
                                                         LocalOrigin origin, const model::StyleSheet& source_styles,
                                                         const LocalWriteOptions& options) {
  crdt::Doc& doc = *authority.doc;
  // A batch of cell writes reads only its own cells; anything else, or a
  // partial reading that fails, takes the whole projection.
  std::optional<model::WorkbookModel> partial;
  if (only_cell_writes(ops)) partial = project_cells(authority, written_cells(ops));
  if (!partial && options.partial_only) return LocalWrite{};
  std::optional<Projection> projected;
  if (!partial) {
    auto decoded = decode_document(authority, false);
    if (!decoded) return unexpected(state_error(std::move(decoded).error()));
    projected = std::move(*decoded);
  }
  model::WorkbookModel& projection = partial ? *partial : projected->model;
  const size_t styles_before = projection.styles.cell_xfs.size();

  // Copied on the first operation whose styles move.
  std::optional<std::vector<ops::WorkbookOp>> translated;
  StyleTranslation cache;
  for (size_t i = 0; i < ops.size(); ++i) {
    auto moved = translate_op(cache, source_styles, projection.styles, ops[i]);
    if (!moved) return unexpected(state_error(std::move(moved).error()));
    if (*moved && !translated) translated.emplace(ops.begin(), ops.begin() + static_cast<ptrdiff_t>(i));
    if (translated) translated->push_back(*moved ? std::move(**moved) : ops[i]);
  }
  const std::vector<ops::WorkbookOp>& list = translated ? *translated : ops;

  PreOperationStyles pre_styles;
  for (const ops::WorkbookOp& op : list) {
    const auto* set = std::get_if<ops::SetCell>(&op);
    if (set == nullptr) continue;
    const StyledCell cell{set->address.sheet, set->address.cell.row, set->address.cell.col};
    std::optional<uint32_t> style;
    if (cell.sheet < projection.sheets.size()) {
      const model::CellMap& cells = projection.sheets[cell.sheet].cells;
      if (auto found = cells.find({cell.row, cell.col}); found != cells.end()) style = found->second.style;
    }
    pre_styles.emplace(cell, style);
  }

  for (const ops::WorkbookOp& op : list) {
    auto applied = ops::apply_op(projection, op);
    if (!applied) {
      return unexpected(
          state_error("cannot apply local operation to authored state: " + ops::ops_error_message(applied.error())));
    }
  }
  if (options.admit && !options.admit(projection, list, styles_before)) return LocalWrite{};

  // The new names are installed only once the write has succeeded, so that
  // a refused write leaves the base as it was.
  std::shared_ptr<const AuthoredBase> base = authority.base;
  if (projection.defined_names != base->defined_names) {
    auto copy = std::make_shared<AuthoredBase>(*base);
    copy->defined_names = projection.defined_names;
    base = std::move(copy);
  }
  // The transaction's own structs and deletions: an encoding against the
  // state vector before it would also carry every earlier deletion.
  std::optional<std::vector<uint8_t>> update;
  const uint64_t subscription = doc.observe_after_transaction(
      [&update](crdt::Doc& changed, const crdt::TransactionEvent& event) {
        update = changed.encode_transaction_update(event);
      });
  auto written = write_operation(authority, projection, list, origin, pre_styles, options.transaction_origin,
                                 options.record_step);
  doc.unobserve(subscription);
  if (!written) return unexpected(state_error(std::move(written).error()));
  authority.base = std::move(base);
  if (update && update->size() == 2 && (*update)[0] == 0 && (*update)[1] == 0) update.reset();
  return LocalWrite{true, std::move(update)};
}

Result<ScratchOutcome, AuthorityError> apply_on_scratch_replica(const Authority& live,
                                                                const std::vector<ops::WorkbookOp>& ops,
                                                                LocalOrigin origin,
                                                                const model::StyleSheet& source_styles,
                                                                std::span<const uint8_t> base_update) {
  auto created = crdt::Doc::create(live.doc->client_id() & crdt::kMaxClientId);
  if (!created) return unexpected(state_error(write_failure(created.error())));
  Authority scratch{std::shared_ptr<crdt::Doc>(std::move(*created)), live.base, live.replica_sheet_counter, {}, {}};
  if (auto hydrated = hydrate_from_update(*scratch.doc, base_update); !hydrated) {
    return unexpected(state_error(std::move(hydrated).error()));
  }
  auto update = apply_local_operation(scratch, ops, origin, source_styles);
  if (!update) return unexpected(std::move(update).error());

  ScratchOutcome outcome;
  outcome.update = update->value_or(std::vector<uint8_t>{0, 0});
  outcome.state_size = encode_document_state(*scratch.doc).size();
  outcome.state_vector_entries = state_vector_entry_count(scratch);
  auto projected = decode_document(scratch, false);
  if (!projected) return unexpected(state_error(std::move(projected).error()));
  outcome.model = std::move(projected->model);
  outcome.replica = std::move(projected->replica);
  if (!scratch.structure_undo.empty()) outcome.structure_step = std::move(scratch.structure_undo.back());
  outcome.base = std::move(scratch.base);
  outcome.replica_sheet_counter = scratch.replica_sheet_counter;
  return outcome;
}

Result<ScratchOutcome, AuthorityError> dry_run_local_operation(const Authority& live,
                                                               const std::vector<ops::WorkbookOp>& ops,
                                                               LocalOrigin origin,
                                                               const model::StyleSheet& source_styles) {
  const std::vector<uint8_t> state = encode_document_state(*live.doc);
  return apply_on_scratch_replica(live, ops, origin, source_styles, state);
}

}  // namespace cmx::collab
