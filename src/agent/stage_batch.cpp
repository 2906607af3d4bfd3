#include <algorithm>
#include <cstdint>
#include <limits>
#include <set>
#include <utility>

#include "agent/batch.h"
#include "collab/bootstrap.h"
#include "collab/cell_formats.h"
#include "collab/undo_history.h"
#include "formula/parser.h"
#include "model/display_text.h"
#include "ops/apply.h"
#include "session/model_copies.h"
#include "session/open.h"
#include "session/range_ops.h"
#include "session/typed_input.h"
#include "session/validation.h"

namespace cmx::agent {
namespace {

using model::CellRange;
using model::CellRef;
using model::StylePatchField;

constexpr size_t kStyleFieldCount = 11;

uint64_t saturating_add(uint64_t a, uint64_t b) {
  return a > std::numeric_limits<uint64_t>::max() - b ? std::numeric_limits<uint64_t>::max() : a + b;
}

// UTF-16 code units of UTF-8 text: one per character, two above U+FFFF.
uint64_t utf16_units(std::string_view text) {
  uint64_t units = 0;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if ((byte & 0xC0) != 0x80) ++units;
    if (byte >= 0xF0) ++units;
  }
  return units;
}

AgentRefusal step_refusal(RefusalCode code, std::string message, uint32_t step,
                          std::optional<json::RangeTarget> target) {
  AgentRefusal out = refusal(code, std::move(message));
  out.step_index = step;
  out.target = std::move(target);
  return out;
}

const json::RangeTarget& request_target(const json::EditOperation& operation) {
  return std::visit([](const auto& op) -> const json::RangeTarget& { return op.target; }, operation);
}

std::vector<StylePatchField> patch_fields(const model::StylePatch& patch) {
  bool present[kStyleFieldCount] = {
      patch.bold.has_value(),        patch.italic.has_value(),     patch.strikethrough.has_value(),
      patch.font_family.has_value(), patch.font_size.has_value(),  patch.text_color.has_value(),
      patch.fill_color.has_value(),  patch.border.has_value(),     patch.horizontal_alignment.has_value(),
      patch.vertical_alignment.has_value(), patch.text_wrapping.has_value()};
  for (const StylePatchField field : patch.clear) {
    if (static_cast<size_t>(field) < kStyleFieldCount) present[static_cast<size_t>(field)] = true;
  }
  std::vector<StylePatchField> fields;
  for (size_t i = 0; i < kStyleFieldCount; ++i) {
    if (present[i]) fields.push_back(static_cast<StylePatchField>(i));
  }
  return fields;
}

std::optional<CellRange> intersection(const CellRange& a, const CellRange& b) {
  const CellRef start{std::max(a.start.row, b.start.row), std::max(a.start.col, b.start.col)};
  const CellRef end{std::min(a.end.row, b.end.row), std::min(a.end.col, b.end.col)};
  if (start.row > end.row || start.col > end.col) return std::nullopt;
  return CellRange{start, end};
}

bool aspects_meet(const StagedStep& a, const StagedStep& b) {
  if (a.writes_content && b.writes_content) return true;
  if (a.writes_number_format && b.writes_number_format) return true;
  for (const StylePatchField field : a.style_fields) {
    if (std::find(b.style_fields.begin(), b.style_fields.end(), field) != b.style_fields.end()) return true;
  }
  return false;
}

// A merged range may be written only at its top-left cell.
std::optional<CellRef> merged_conflict(const model::SheetModel& sheet, const CellRange& range) {
  for (const CellRange& merge : sheet.merges) {
    const auto shared = intersection(merge, range);
    if (!shared) continue;
    if (merge.start.row >= range.start.row && merge.start.col >= range.start.col) {
      if (shared->end.col > shared->start.col) return CellRef{merge.start.row, merge.start.col + 1};
      if (shared->end.row > shared->start.row) return CellRef{merge.start.row + 1, merge.start.col};
      continue;
    }
    return CellRef{shared->start.row, shared->start.col};
  }
  return std::nullopt;
}

std::optional<CellRef> array_conflict(const model::SheetModel& sheet, const CellRange& range) {
  for (const auto& [anchor, filled] : sheet.array_ranges) {
    if (const auto shared = intersection(filled, range)) return CellRef{shared->start.row, shared->start.col};
  }
  return std::nullopt;
}

const model::SheetCell* stored_cell(const model::SheetModel& sheet, uint32_t row, uint32_t col) {
  const auto found = sheet.cells.find(model::CellKey{row, col});
  return found == sheet.cells.end() ? nullptr : &found->second;
}

// A missing cell compares as an empty one without formula or style.
const model::SheetCell& cell_or_empty(const model::SheetCell* cell) {
  static const model::SheetCell kEmpty;
  return cell ? *cell : kEmpty;
}

// The first aspect of the cell that differs from its guard.
std::optional<std::string_view> guard_mismatch(const model::WorkbookModel& workbook, const model::SheetCell* cell,
                                               const json::CellGuard& guard) {
  const model::SheetCell& held = cell_or_empty(cell);
  if (guard.value && !(*guard.value == held.value)) return "value";
  if (guard.formula) {
    const std::optional<std::string>& expected = *guard.formula;
    if (expected.has_value() != held.formula.has_value()) return "formula";
    if (expected && held.formula->view() != *expected) return "formula";
  }
  if (guard.display_text &&
      model::cell_display_text(workbook.styles, workbook.date_system, held) != *guard.display_text) {
    return "display text";
  }
  return std::nullopt;
}

struct StepContext {
  uint32_t index;
  const json::RangeTarget& given;
  AgentRefusal refuse(RefusalCode code, std::string message) const {
    return step_refusal(code, std::move(message), index, given);
  }
};

std::string rows_message(std::string_view what, const CellRange& range) {
  return "the " + std::string(what) + " must be " + std::to_string(range.end.row - range.start.row + 1) +
         " rows of " + std::to_string(range.end.col - range.start.col + 1) + " cells, one per target cell";
}

template <typename Rows>
bool shaped_like(const Rows& rows, const CellRange& range) {
  const size_t height = range.end.row - range.start.row + 1;
  const size_t width = range.end.col - range.start.col + 1;
  if (rows.size() != height) return false;
  return std::all_of(rows.begin(), rows.end(), [&](const auto& row) { return row.size() == width; });
}

std::optional<std::string> formula_fault(std::string_view formula) {
  if (formula.empty()) return std::string("is empty");
  if (formula.front() == '=') return std::string("starts with `=`; pass the source without it");
  if (formula.size() > session::kMaxFormulaBytes) return std::string("exceeds the formula length limit");
  auto parsed = formula::parse_formula(formula);
  if (!parsed) return "does not parse: " + parsed.error().display();
  return std::nullopt;
}

struct TaggedOp {
  uint32_t step = 0;
  ops::WorkbookOp op;
};

}  // namespace

Result<StagedBatch, BatchStop> stage_batch(WorkbookSession& session, const json::EditRequest& request) {
  const std::string version = session::session_version(session);
  auto stop = [&](AgentRefusal out) -> Unexpected<BatchStop> {
    out.version = version;
    return unexpected(BatchStop(std::move(out)));
  };
  if (request.expect_version != version) {
    return stop(refusal(RefusalCode::StaleVersion, "the workbook changed since the expected version"));
  }
  if (request.steps.size() > kMaxBatchSteps) {
    return stop(refusal(RefusalCode::LimitExceeded,
                        "a batch has at most " + std::to_string(kMaxBatchSteps) + " steps"));
  }
  session::ensure_document(session);
  // An update waiting in the session's queue was received too, and nothing
  // of it is in the document until its predecessors arrive.
  bool pending = !session.pending_updates.empty();
  if (!pending) {
    auto lock = session.authority.doc->read_lock();
    pending = session.authority.doc->has_pending();
  }
  if (pending) {
    return stop(refusal(RefusalCode::Unsupported, "the workbook holds updates that are not integrated yet"));
  }

  StagedBatch batch;
  batch.version = version;
  batch.keys = agent_sheet_keys(session);
  batch.source = request.source;
  const model::WorkbookModel& live = session.model;
  uint64_t cells_total = 0;
  uint64_t units_total = 0;

  for (uint32_t index = 0; index < request.steps.size(); ++index) {
    const json::EditStep& step = request.steps[index];
    const StepContext at{index, request_target(step.operation)};
    auto resolved = resolve_range_target(session, batch.keys, at.given);
    if (!resolved) {
      AgentRefusal out = std::move(resolved).error();
      out.step_index = index;
      return stop(std::move(out));
    }
    StagedStep staged;
    staged.step_index = index;
    staged.sheet = resolved->sheet;
    staged.range = resolved->range;
    staged.target = canonical_range_target(batch.keys, *resolved);
    const CellRange& range = staged.range;
    const uint64_t rect_cells =
        uint64_t{range.end.row - range.start.row + 1} * uint64_t{range.end.col - range.start.col + 1};
    cells_total = saturating_add(cells_total, step.expect ? saturating_add(rect_cells, rect_cells) : rect_cells);
    if (cells_total > kMaxBatchCells) {
      return stop(at.refuse(RefusalCode::LimitExceeded, "a batch addresses at most " + std::to_string(kMaxBatchCells) +
                                                            " target and guard cells"));
    }
    if (auto editable = check_sheet_editable(session, staged.sheet); !editable) {
      AgentRefusal out = std::move(editable).error();
      return stop(at.refuse(out.code, std::move(out.message)));
    }
    uint64_t units = 0;
    if (step.expect) {
      for (const auto& row : step.expect->cells) {
        for (const json::CellGuard& guard : row) {
          if (guard.display_text) units = saturating_add(units, utf16_units(*guard.display_text));
          if (guard.formula && *guard.formula) units = saturating_add(units, utf16_units(**guard.formula));
          if (guard.value && guard.value->is_text()) units = saturating_add(units, utf16_units(guard.value->as_text()));
        }
      }
    }
    const json::TextRows* texts = nullptr;
    if (const auto* inputs = std::get_if<json::SetCellInputsStep>(&step.operation)) {
      texts = &inputs->inputs;
    } else if (const auto* formulas = std::get_if<json::SetFormulasStep>(&step.operation)) {
      texts = &formulas->formulas;
    } else if (const auto* format = std::get_if<json::SetNumberFormatStep>(&step.operation)) {
      if (format->format.kind == model::NumberFormatMutationKind::Custom && format->format.pattern.empty()) {
        return stop(at.refuse(RefusalCode::InvalidStep, "a custom number format needs a pattern"));
      }
    }
    if (texts) {
      if (!shaped_like(*texts, range)) return stop(at.refuse(RefusalCode::InvalidStep, rows_message("values", range)));
      for (const auto& row : *texts) {
        for (const std::string& text : row) units = saturating_add(units, utf16_units(text));
      }
    }
    units_total = saturating_add(units_total, units);
    if (units_total > kMaxBatchTextUnits) {
      return stop(at.refuse(RefusalCode::LimitExceeded, "a batch carries at most " +
                                                            std::to_string(kMaxBatchTextUnits) +
                                                            " UTF-16 units of text"));
    }
    if (step.expect && !shaped_like(step.expect->cells, range)) {
      return stop(at.refuse(RefusalCode::InvalidStep, rows_message("guard", range)));
    }
    if (const auto* formulas = std::get_if<json::SetFormulasStep>(&step.operation)) {
      for (uint32_t r = 0; r < formulas->formulas.size(); ++r) {
        for (uint32_t c = 0; c < formulas->formulas[r].size(); ++c) {
          if (auto fault = formula_fault(formulas->formulas[r][c])) {
            return stop(at.refuse(RefusalCode::InvalidStep, "the formula for " +
                                                                a1_text(range.start.row + r, range.start.col + c) +
                                                                " " + *fault));
          }
        }
      }
    }

    staged.writes_content = texts != nullptr;
    staged.writes_number_format = std::holds_alternative<json::SetNumberFormatStep>(step.operation);
    if (const auto* patch = std::get_if<json::PatchStyleStep>(&step.operation)) {
      staged.style_fields = patch_fields(patch->patch);
    }
    for (const StagedStep& earlier : batch.steps) {
      if (earlier.sheet != staged.sheet || !intersection(earlier.range, range) || !aspects_meet(earlier, staged)) {
        continue;
      }
      AgentRefusal out = at.refuse(RefusalCode::OverlappingSteps,
                                   "step " + std::to_string(index) + " writes what step " +
                                       std::to_string(earlier.step_index) + " already writes in the same cells");
      out.conflicting_step_index = earlier.step_index;
      return stop(std::move(out));
    }
    const model::SheetModel& sheet = live.sheets[staged.sheet];
    if (const auto cell = merged_conflict(sheet, range)) {
      return stop(at.refuse(RefusalCode::LockedTarget, a1_text(cell->row, cell->col) + " follows a merged cell"));
    }
    if (const auto cell = array_conflict(sheet, range)) {
      return stop(
          at.refuse(RefusalCode::LockedTarget, a1_text(cell->row, cell->col) + " is filled by an array formula"));
    }
    if (step.expect) {
      for (uint32_t r = 0; r < step.expect->cells.size(); ++r) {
        for (uint32_t c = 0; c < step.expect->cells[r].size(); ++c) {
          const uint32_t row = range.start.row + r;
          const uint32_t col = range.start.col + c;
          if (auto aspect = guard_mismatch(live, stored_cell(sheet, row, col), step.expect->cells[r][c])) {
            return stop(at.refuse(RefusalCode::ContentMismatch, "the " + std::string(*aspect) + " of " +
                                                                    a1_text(row, col) + " does not match its guard"));
          }
        }
      }
    }

    if (const auto* inputs = std::get_if<json::SetCellInputsStep>(&step.operation)) {
      for (uint32_t r = 0; r < inputs->inputs.size(); ++r) {
        for (uint32_t c = 0; c < inputs->inputs[r].size(); ++c) {
          const uint32_t row = range.start.row + r;
          const uint32_t col = range.start.col + c;
          model::SheetCell record =
              session::parse_typed_cell_input(live, staged.sheet, row, col, inputs->inputs[r][c]);
          if (auto valid = session::validate_cell_input(record); !valid) {
            return stop(at.refuse(RefusalCode::InvalidStep, "the input for " + a1_text(row, col) + ": " +
                                                                session::engine_error_display(valid.error())));
          }
          const model::SheetCell& existing = cell_or_empty(stored_cell(sheet, row, col));
          const bool same = record.formula && existing.formula
                                ? record.formula->view() == existing.formula->view() && record.style == existing.style
                                : record == existing;
          if (!same) staged.cells.emplace_back(CellRef{row, col}, std::move(record));
        }
      }
    } else if (const auto* formulas = std::get_if<json::SetFormulasStep>(&step.operation)) {
      for (uint32_t r = 0; r < formulas->formulas.size(); ++r) {
        for (uint32_t c = 0; c < formulas->formulas[r].size(); ++c) {
          const uint32_t row = range.start.row + r;
          const uint32_t col = range.start.col + c;
          const std::string& text = formulas->formulas[r][c];
          const model::SheetCell* held = stored_cell(sheet, row, col);
          if (held && held->formula && held->formula->view() == text) continue;
          model::SheetCell record;
          record.formula = SharedString(text);
          if (held) record.style = held->style;
          staged.cells.emplace_back(CellRef{row, col}, std::move(record));
        }
      }
    } else if (const auto* format = std::get_if<json::SetNumberFormatStep>(&step.operation)) {
      staged.number_format = format->format;
    } else if (!staged.style_fields.empty()) {
      staged.patch = std::get<json::PatchStyleStep>(step.operation).patch;
    }
    batch.steps.push_back(std::move(staged));
  }

  std::vector<TaggedOp> operations;
  for (const StagedStep& step : batch.steps) {
    for (const auto& [cell, record] : step.cells) {
      operations.push_back({step.step_index, ops::SetCell{record, model::CellAddress{step.sheet, cell}}});
    }
  }
  for (const StagedStep& step : batch.steps) {
    if (step.number_format) {
      operations.push_back({step.step_index, ops::SetNumberFormat{step.sheet, step.range, *step.number_format}});
    }
  }
  for (const StagedStep& step : batch.steps) {
    if (step.patch) operations.push_back({step.step_index, ops::PatchStyle{step.sheet, step.range, *step.patch}});
  }
  batch.changed.resize(batch.steps.size());
  if (operations.empty()) return batch;

  const std::vector<uint8_t> state = collab::encode_document_state(*session.authority.doc);
  if (state.size() > kMaxStagedStateBytes) {
    return stop(refusal(RefusalCode::LimitExceeded,
                        "the workbook is too large to stage a batch: " + std::to_string(state.size()) + " bytes"));
  }
  model::WorkbookModel copy = session::clone_workbook_model(session.model);
  std::vector<std::set<std::pair<uint32_t, uint32_t>>> changed(batch.steps.size());
  std::vector<ops::InverseList> inverses;
  inverses.reserve(operations.size());
  for (const TaggedOp& tagged : operations) {
    const StagedStep& step = batch.steps[tagged.step];
    if (auto valid = session::validate_operation(copy, tagged.op); !valid) {
      return unexpected(BatchStop(valid.error()));
    }
    const size_t formats_before = copy.styles.cell_xfs.size();
    auto applied = ops::apply_op(copy, tagged.op);
    if (!applied) {
      const ops::OpsError& error = applied.error();
      if (error.kind == ops::OpsErrorKind::NumFmtTableFull || error.kind == ops::OpsErrorKind::InvalidStyle) {
        return stop(step_refusal(error.kind == ops::OpsErrorKind::NumFmtTableFull ? RefusalCode::LimitExceeded
                                                                                  : RefusalCode::InvalidStep,
                                 ops::ops_error_message(error), step.step_index, step.target));
      }
      return unexpected(BatchStop(EngineError::from_ops(error)));
    }
    for (size_t xf = formats_before; xf < copy.styles.cell_xfs.size(); ++xf) {
      const collab::EncodedCellFormat encoded =
          collab::encode_cell_format(model::resolve_cell_format(copy.styles, static_cast<uint32_t>(xf)));
      if (encoded.text.size() > collab::kMaxCellFormatTextBytes) {
        return stop(step_refusal(RefusalCode::LimitExceeded,
                                 "a resulting cell format exceeds the size a workbook can share", step.step_index,
                                 step.target));
      }
    }
    for (const ops::WorkbookOp& inverse : applied.value()) {
      if (const auto* set = std::get_if<ops::SetCell>(&inverse)) {
        changed[tagged.step].emplace(set->address.cell.row, set->address.cell.col);
      }
    }
    inverses.push_back(std::move(applied).value());
  }
  bool any_change = false;
  for (size_t i = 0; i < changed.size(); ++i) {
    for (const auto& [row, col] : changed[i]) batch.changed[i].push_back(CellRef{row, col});
    any_change = any_change || !changed[i].empty();
  }
  if (!any_change) return batch;
  if (auto valid = session::validate_workbook_for_sharing(copy); !valid) {
    return unexpected(BatchStop(valid.error()));
  }
  session::StagedEdit staged_edit{std::move(copy), {}};
  for (auto list = inverses.rbegin(); list != inverses.rend(); ++list) {
    for (ops::WorkbookOp& op : *list) staged_edit.undo_entry.push_back(std::move(op));
  }
  ops::Batch forward;
  forward.reserve(operations.size());
  for (TaggedOp& tagged : operations) forward.push_back(std::move(tagged.op));
  auto prepared = session::prepare_operation_commit(session, std::move(forward), std::move(staged_edit),
                                                    collab::LocalOrigin::kUser,
                                                    request.history == json::HistoryMode::None,
                                                    std::span<const uint8_t>(state));
  if (!prepared) {
    if (prepared.error().kind == session::EngineErrorKind::CollaborationDataTooLarge) {
      return stop(refusal(RefusalCode::LimitExceeded, session::engine_error_display(prepared.error())));
    }
    return unexpected(BatchStop(prepared.error()));
  }
  auto replayed = collab::stage_update_untracked(*session.authority.doc, state, prepared->scratch.update);
  if (!replayed) return unexpected(BatchStop(session::from_authority_error(replayed.error())));
  if (!replayed.value()) {
    return unexpected(BatchStop(
        EngineError::collaborative_state("a staged edit batch does not integrate into this replica")));
  }
  batch.commit = std::move(prepared).value();
  return batch;
}

}  // namespace cmx::agent
