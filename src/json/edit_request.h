// The edit request of the agent interface: its envelope read straight from
// the text, its steps each read whole into a value tree first (so a repeated
// key keeps its last value, and faults are found guard first, then in byte
// order of the keys), and the targets, rows, guards and patches inside them.
// The readers test the JSON shape only; what the values mean is decided when
// the batch is staged.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "json/cell_records.h"
#include "json/reader.h"
#include "json/value.h"
#include "model/cell_value.h"
#include "model/style_patch.h"

namespace cmx::json {

// One row per target row, one text per cell of that row.
using TextRows = std::vector<std::vector<std::string>>;

// What one target cell must hold before its step may apply; none states
// nothing.
struct CellGuard {
  std::optional<model::CellValue> value;
  // Absent: not compared; null (inner none): the cell holds no formula.
  std::optional<std::optional<std::string>> formula;
  std::optional<std::string> display_text;
  friend bool operator==(const CellGuard&, const CellGuard&) = default;
};

struct StepGuard {
  std::vector<std::vector<CellGuard>> cells;
  friend bool operator==(const StepGuard&, const StepGuard&) = default;
};

struct SetCellInputsStep {
  RangeTarget target;
  TextRows inputs;
  friend bool operator==(const SetCellInputsStep&, const SetCellInputsStep&) = default;
};
struct SetFormulasStep {
  RangeTarget target;
  TextRows formulas;  // without the leading "="
  friend bool operator==(const SetFormulasStep&, const SetFormulasStep&) = default;
};
struct SetNumberFormatStep {
  RangeTarget target;
  model::NumberFormatMutation format;
  friend bool operator==(const SetNumberFormatStep&, const SetNumberFormatStep&) = default;
};
struct PatchStyleStep {
  RangeTarget target;
  model::StylePatch patch;
  friend bool operator==(const PatchStyleStep&, const PatchStyleStep&) = default;
};
// In the order of the "op" words.
using EditOperation = std::variant<SetCellInputsStep, SetFormulasStep, SetNumberFormatStep, PatchStyleStep>;

struct EditStep {
  EditOperation operation;
  std::optional<StepGuard> expect;
  friend bool operator==(const EditStep&, const EditStep&) = default;
};

enum class EditSource : uint8_t { Host, Agent };
enum class HistoryMode : uint8_t { Separate, None };

struct CalculationRequest {
  // The serial date-time that TODAY and NOW see during the recalculation.
  std::optional<double> now_serial;
  friend bool operator==(const CalculationRequest&, const CalculationRequest&) = default;
};

struct EditRequest {
  std::string expect_version;  // taken verbatim; compared when staged
  EditSource source = EditSource::Host;
  HistoryMode history = HistoryMode::Separate;
  CalculationRequest calculation;
  std::vector<EditStep> steps;
  friend bool operator==(const EditRequest&, const EditRequest&) = default;
};

// The words of the enumerations, in declaration order.
std::string_view edit_source_word(EditSource source);
std::string_view history_mode_word(HistoryMode mode);
std::string_view edit_operation_word(const EditOperation& operation);
std::string_view number_format_mutation_word(model::NumberFormatMutationKind kind);
std::string_view style_patch_field_word(model::StylePatchField field);
std::string_view border_preset_word(model::BorderPreset preset);
std::string_view border_line_word(model::BorderLine line);
std::string_view horizontal_alignment_word(model::PatchHorizontal alignment);
std::string_view vertical_alignment_word(model::PatchVertical alignment);
std::string_view text_wrapping_word(model::TextWrapping wrapping);

// --- the request, straight from the text --------------------------------------------

// A whole request text; the error carries its line and column.
JsonResult<EditRequest> parse_edit_request(std::string_view text);
JsonResult<EditSource> deserialize_edit_source(JsonReader& reader);
JsonResult<HistoryMode> deserialize_history_mode(JsonReader& reader);
JsonResult<CalculationRequest> deserialize_calculation_request(JsonReader& reader);
JsonResult<std::vector<EditStep>> deserialize_edit_step_list(JsonReader& reader);

// --- the records inside a step ------------------------------------------------------

// One step read whole; its errors have no place of their own.
JsonResult<EditStep> edit_step_from_json_value(JsonValue step);
JsonResult<TextRows> deserialize_text_rows_from_content(const Content& content);
JsonResult<std::vector<std::vector<CellGuard>>> deserialize_cell_guard_rows(const JsonValue& value);
JsonResult<StepGuard> step_guard_from_json_value(const JsonValue& value);
JsonResult<CellGuard> cell_guard_from_json_value(const JsonValue& value);
JsonResult<model::StylePatch> deserialize_style_patch_from_content(const Content& content);
JsonResult<model::BorderPatch> deserialize_border_patch_from_content(const Content& content);
JsonResult<std::vector<model::StylePatchField>> deserialize_style_patch_fields_from_content(
    const Content& content);
JsonResult<model::NumberFormatMutation> deserialize_number_format_mutation(const Content& content);

}  // namespace cmx::json
