#include "json/edit_request.h"

#include <utility>

#include "json/rules.h"

namespace cmx::json {

namespace {

using model::NumberFormatMutation;
using model::NumberFormatMutationKind;
using model::StylePatch;

constexpr std::string_view kSourceWords[] = {"host", "agent"};
constexpr std::string_view kHistoryWords[] = {"separate", "none"};
constexpr std::string_view kOperationWords[] = {"setCellInputs", "setFormulas", "setNumberFormat", "patchStyle"};
constexpr std::string_view kMutationWords[] = {"automatic",  "plainText", "number", "percent",
                                               "scientific", "currency",  "date",   "time",
                                               "custom",     "increaseDecimal", "decreaseDecimal"};
constexpr std::string_view kPatchFieldWords[] = {
    "bold",     "italic",  "strikethrough",       "fontFamily",        "fontSize",    "textColor",
    "fillColor", "borders", "horizontalAlignment", "verticalAlignment", "textWrapping"};
constexpr std::string_view kPresetWords[] = {"all", "inner", "horizontal", "vertical", "outer",
                                             "left", "top", "right", "bottom", "none"};
constexpr std::string_view kLineWords[] = {"solid", "dashed", "dotted", "double"};
constexpr std::string_view kHorizontalWords[] = {"left", "center", "right"};
constexpr std::string_view kVerticalWords[] = {"top", "middle", "bottom"};
constexpr std::string_view kWrappingWords[] = {"overflow", "wrap", "clip"};

constexpr FieldSpec kRequestFields[] = {
    {"expectVersion"},
    {"source", Presence::Defaulted, true},
    {"history", Presence::Defaulted, true},
    {"calculation", Presence::Defaulted, true},
    {"steps"},
};
constexpr RecordSpec kRequestSpec{"struct EditRequest", kRequestFields};

constexpr FieldSpec kCalculationFields[] = {{"nowSerial", Presence::Optional, true}};
constexpr RecordSpec kCalculationSpec{"struct CalculationRequest", kCalculationFields};

constexpr FieldSpec kGuardFields[] = {{"cells"}};
constexpr RecordSpec kGuardSpec{"struct StepGuard", kGuardFields};

constexpr FieldSpec kCellGuardFields[] = {{"value", Presence::Optional, true},
                                          {"formula", Presence::Optional, true},
                                          {"displayText", Presence::Optional, true}};
constexpr RecordSpec kCellGuardSpec{"struct CellGuard", kCellGuardFields};

constexpr FieldSpec kInputsFields[] = {{"target"}, {"inputs"}};
constexpr FieldSpec kFormulasFields[] = {{"target"}, {"formulas"}};
constexpr FieldSpec kFormatFields[] = {{"target"}, {"format"}};
constexpr FieldSpec kPatchFields[] = {{"target"}, {"patch"}};
constexpr RecordSpec kOperationSpecs[] = {
    {"struct variant EditOperation::SetCellInputs", kInputsFields},
    {"struct variant EditOperation::SetFormulas", kFormulasFields},
    {"struct variant EditOperation::SetNumberFormat", kFormatFields},
    {"struct variant EditOperation::PatchStyle", kPatchFields},
};

constexpr FieldSpec kStylePatchFields[] = {
    {"bold", Presence::Optional, true},        {"italic", Presence::Optional, true},
    {"strikethrough", Presence::Optional, true}, {"fontFamily", Presence::Optional, true},
    {"fontSize", Presence::Optional, true},    {"textColor", Presence::Optional, true},
    {"fillColor", Presence::Optional, true},   {"borders", Presence::Optional, true},
    {"horizontalAlignment", Presence::Optional, true}, {"verticalAlignment", Presence::Optional, true},
    {"textWrapping", Presence::Optional, true}, {"clear", Presence::Defaulted, true},
};
constexpr RecordSpec kStylePatchSpec{"struct StylePatch", kStylePatchFields, /*ignore_unknown=*/true};

constexpr FieldSpec kBorderPatchFields[] = {{"preset", Presence::Optional, true},
                                            {"style", Presence::Optional, true},
                                            {"color", Presence::Optional, true}};
constexpr RecordSpec kBorderPatchSpec{"struct BorderPatch", kBorderPatchFields, /*ignore_unknown=*/true};

constexpr TaggedSpec kMutationTag{"NumberFormatMutation", "type", kMutationWords};
constexpr FieldSpec kCustomFields[] = {{"pattern"}};
constexpr RecordSpec kCustomSpec{"struct variant NumberFormatMutation::Custom", kCustomFields,
                                 /*ignore_unknown=*/true};

// An optional member: null gives none, anything else the reader's value.
template <typename T, typename Read>
JsonResult<void> optional_from_content(const Content& content, std::optional<T>& out, Read&& read) {
  if (content.is_null()) {
    out.reset();
    return {};
  }
  CMX_ASSIGN_OR_RETURN(out, read(content));
  return {};
}

template <typename Enum>
auto word_reader(std::span<const std::string_view> words) {
  return [words](const Content& content) -> JsonResult<Enum> {
    CMX_ASSIGN_OR_RETURN(size_t index, word_from_content(content, words));
    return static_cast<Enum>(index);
  };
}

JsonResult<std::string> string_from_content(const Content& content) { return content_to_string(content); }

JsonResult<RangeTarget> target_from_content(const Content& content) {
  return deserialize_range_target_from_content(content);
}

// The variant's two members out of the entries left beside "op", in byte
// order of their names.
JsonResult<EditOperation> read_operation(size_t variant, const Content& rest) {
  RangeTarget target;
  TextRows rows;
  NumberFormatMutation format;
  StylePatch patch;
  CMX_TRY(read_record(rest, kOperationSpecs[variant], [&](size_t index, const Content& value) -> JsonResult<void> {
    if (index == 0) {
      CMX_ASSIGN_OR_RETURN(target, target_from_content(value));
      return {};
    }
    switch (variant) {
      case 0:
      case 1: { CMX_ASSIGN_OR_RETURN(rows, deserialize_text_rows_from_content(value)); break; }
      case 2: { CMX_ASSIGN_OR_RETURN(format, deserialize_number_format_mutation(value)); break; }
      default: { CMX_ASSIGN_OR_RETURN(patch, deserialize_style_patch_from_content(value)); break; }
    }
    return {};
  }));
  switch (variant) {
    case 0: return EditOperation(SetCellInputsStep{std::move(target), std::move(rows)});
    case 1: return EditOperation(SetFormulasStep{std::move(target), std::move(rows)});
    case 2: return EditOperation(SetNumberFormatStep{std::move(target), std::move(format)});
    default: return EditOperation(PatchStyleStep{std::move(target), std::move(patch)});
  }
}

}  // namespace

// --- words --------------------------------------------------------------------------

std::string_view edit_source_word(EditSource source) { return kSourceWords[static_cast<size_t>(source)]; }
std::string_view history_mode_word(HistoryMode mode) { return kHistoryWords[static_cast<size_t>(mode)]; }
std::string_view edit_operation_word(const EditOperation& operation) { return kOperationWords[operation.index()]; }
std::string_view number_format_mutation_word(NumberFormatMutationKind kind) {
  return kMutationWords[static_cast<size_t>(kind)];
}
std::string_view style_patch_field_word(model::StylePatchField field) {
  return kPatchFieldWords[static_cast<size_t>(field)];
}
std::string_view border_preset_word(model::BorderPreset preset) { return kPresetWords[static_cast<size_t>(preset)]; }
std::string_view border_line_word(model::BorderLine line) { return kLineWords[static_cast<size_t>(line)]; }
std::string_view horizontal_alignment_word(model::PatchHorizontal alignment) {
  return kHorizontalWords[static_cast<size_t>(alignment)];
}
std::string_view vertical_alignment_word(model::PatchVertical alignment) {
  return kVerticalWords[static_cast<size_t>(alignment)];
}
std::string_view text_wrapping_word(model::TextWrapping wrapping) {
  return kWrappingWords[static_cast<size_t>(wrapping)];
}

// --- the request ----------------------------------------------------------------------

JsonResult<EditRequest> parse_edit_request(std::string_view text) {
  return read_json_text(text, [](JsonReader& reader) -> JsonResult<EditRequest> {
    EditRequest request;
    CMX_TRY(read_record(reader, kRequestSpec, [&](size_t index, JsonReader& r) -> JsonResult<void> {
      switch (index) {
        case 0: { CMX_ASSIGN_OR_RETURN(request.expect_version, r.read_string()); break; }
        case 1: { CMX_ASSIGN_OR_RETURN(request.source, deserialize_edit_source(r)); break; }
        case 2: { CMX_ASSIGN_OR_RETURN(request.history, deserialize_history_mode(r)); break; }
        case 3: { CMX_ASSIGN_OR_RETURN(request.calculation, deserialize_calculation_request(r)); break; }
        default: { CMX_ASSIGN_OR_RETURN(request.steps, deserialize_edit_step_list(r)); break; }
      }
      return {};
    }));
    return request;
  });
}

JsonResult<EditSource> deserialize_edit_source(JsonReader& reader) {
  CMX_ASSIGN_OR_RETURN(size_t index, read_word(reader, kSourceWords));
  return static_cast<EditSource>(index);
}

JsonResult<HistoryMode> deserialize_history_mode(JsonReader& reader) {
  CMX_ASSIGN_OR_RETURN(size_t index, read_word(reader, kHistoryWords));
  return static_cast<HistoryMode>(index);
}

JsonResult<CalculationRequest> deserialize_calculation_request(JsonReader& reader) {
  CalculationRequest calculation;
  CMX_TRY(read_record(reader, kCalculationSpec, [&](size_t, JsonReader& r) -> JsonResult<void> {
    CMX_ASSIGN_OR_RETURN(bool is_null, r.read_null_if_next());
    if (is_null) return {};
    CMX_ASSIGN_OR_RETURN(calculation.now_serial, r.read_f64());
    return {};
  }));
  return calculation;
}

JsonResult<std::vector<EditStep>> deserialize_edit_step_list(JsonReader& reader) {
  std::vector<EditStep> steps;
  CMX_TRY(read_list(reader, [&](JsonReader& in) -> JsonResult<void> {
    CMX_ASSIGN_OR_RETURN(JsonValue value, in.read_value());
    CMX_ASSIGN_OR_RETURN(EditStep step, edit_step_from_json_value(std::move(value)));
    steps.push_back(std::move(step));
    return {};
  }));
  return steps;
}

// --- a step ------------------------------------------------------------------------------

JsonResult<EditStep> edit_step_from_json_value(JsonValue step) {
  if (step.kind() != JsonValue::Kind::Object) return unexpected(custom_error("an edit step must be an object"));
  JsonObject& object = step.as_object();
  EditStep result;
  if (std::optional<JsonValue> expect = object.take("expect"); expect && !expect->is_null()) {
    CMX_ASSIGN_OR_RETURN(result.expect, step_guard_from_json_value(*expect));
  }
  // "op" is found in byte order among the other members; a fault of its
  // value is reported before any fault of theirs.
  std::optional<size_t> variant;
  Content::Object rest;
  rest.reserve(object.size());
  for (JsonMember& member : object.take_members()) {
    if (member.key == "op") {
      if (member.value.kind() != JsonValue::Kind::String) {
        return unexpected(invalid_type(describe_value(member.value), "variant identifier"));
      }
      CMX_ASSIGN_OR_RETURN(variant, match_word(member.value.as_string(), kOperationWords));
      continue;
    }
    rest.push_back(ContentMember{std::move(member.key), content_from_value(std::move(member.value))});
  }
  if (!variant) return unexpected(missing_field("op"));
  CMX_ASSIGN_OR_RETURN(result.operation, read_operation(*variant, Content::object(std::move(rest))));
  return result;
}

JsonResult<TextRows> deserialize_text_rows_from_content(const Content& content) {
  CMX_ASSIGN_OR_RETURN(const Content::Array* rows, content_list(content));
  TextRows out;
  out.reserve(list_reserve_hint(rows->size(), sizeof(std::vector<std::string>)));
  for (const Content& row : *rows) {
    CMX_ASSIGN_OR_RETURN(const Content::Array* cells, content_list(row));
    std::vector<std::string>& texts = out.emplace_back();
    texts.reserve(list_reserve_hint(cells->size(), sizeof(std::string)));
    for (const Content& cell : *cells) {
      CMX_ASSIGN_OR_RETURN(std::string text, content_to_string(cell));
      texts.push_back(std::move(text));
    }
  }
  return out;
}

JsonResult<StepGuard> step_guard_from_json_value(const JsonValue& value) {
  StepGuard guard;
  CMX_TRY(read_record(value, kGuardSpec, [&](size_t, const JsonValue& cells) -> JsonResult<void> {
    CMX_ASSIGN_OR_RETURN(guard.cells, deserialize_cell_guard_rows(cells));
    return {};
  }));
  return guard;
}

JsonResult<std::vector<std::vector<CellGuard>>> deserialize_cell_guard_rows(const JsonValue& value) {
  CMX_ASSIGN_OR_RETURN(const JsonValue::Array* rows, value_list(value));
  std::vector<std::vector<CellGuard>> out;
  out.reserve(list_reserve_hint(rows->size(), sizeof(std::vector<CellGuard>)));
  for (const JsonValue& row : *rows) {
    CMX_ASSIGN_OR_RETURN(const JsonValue::Array* cells, value_list(row));
    std::vector<CellGuard>& guards = out.emplace_back();
    guards.reserve(list_reserve_hint(cells->size(), sizeof(CellGuard)));
    for (const JsonValue& cell : *cells) {
      CMX_ASSIGN_OR_RETURN(CellGuard guard, cell_guard_from_json_value(cell));
      guards.push_back(std::move(guard));
    }
  }
  return out;
}

JsonResult<CellGuard> cell_guard_from_json_value(const JsonValue& value) {
  CellGuard guard;
  CMX_TRY(read_record(value, kCellGuardSpec, [&](size_t index, const JsonValue& member) -> JsonResult<void> {
    if (member.is_null()) {
      if (index == 1) guard.formula.emplace();
      return {};
    }
    switch (index) {
      case 0: { CMX_ASSIGN_OR_RETURN(guard.value, cell_value_from_json_value(member)); break; }
      case 1: { CMX_ASSIGN_OR_RETURN(std::string formula, value_to_string(member)); guard.formula.emplace(std::move(formula)); break; }
      default: { CMX_ASSIGN_OR_RETURN(guard.display_text, value_to_string(member)); break; }
    }
    return {};
  }));
  return guard;
}

// --- patches ------------------------------------------------------------------------------

JsonResult<StylePatch> deserialize_style_patch_from_content(const Content& content) {
  StylePatch patch;
  CMX_TRY(read_record(content, kStylePatchSpec, [&](size_t index, const Content& value) -> JsonResult<void> {
    switch (index) {
      case 0: return optional_from_content(value, patch.bold, content_to_bool);
      case 1: return optional_from_content(value, patch.italic, content_to_bool);
      case 2: return optional_from_content(value, patch.strikethrough, content_to_bool);
      case 3: return optional_from_content(value, patch.font_family, string_from_content);
      case 4: return optional_from_content(value, patch.font_size, content_to_f64);
      case 5: return optional_from_content(value, patch.text_color, string_from_content);
      case 6: return optional_from_content(value, patch.fill_color, string_from_content);
      case 7: return optional_from_content(value, patch.border, deserialize_border_patch_from_content);
      case 8:
        return optional_from_content(value, patch.horizontal_alignment,
                                     word_reader<model::PatchHorizontal>(kHorizontalWords));
      case 9:
        return optional_from_content(value, patch.vertical_alignment,
                                     word_reader<model::PatchVertical>(kVerticalWords));
      case 10:
        return optional_from_content(value, patch.text_wrapping, word_reader<model::TextWrapping>(kWrappingWords));
      default: {
        CMX_ASSIGN_OR_RETURN(patch.clear, deserialize_style_patch_fields_from_content(value));
        return {};
      }
    }
  }));
  return patch;
}

JsonResult<model::BorderPatch> deserialize_border_patch_from_content(const Content& content) {
  model::BorderPatch border;
  CMX_TRY(read_record(content, kBorderPatchSpec, [&](size_t index, const Content& value) -> JsonResult<void> {
    switch (index) {
      case 0: return optional_from_content(value, border.preset, word_reader<model::BorderPreset>(kPresetWords));
      case 1: return optional_from_content(value, border.style, word_reader<model::BorderLine>(kLineWords));
      default: return optional_from_content(value, border.color, string_from_content);
    }
  }));
  return border;
}

JsonResult<std::vector<model::StylePatchField>> deserialize_style_patch_fields_from_content(
    const Content& content) {
  CMX_ASSIGN_OR_RETURN(const Content::Array* items, content_list(content));
  std::vector<model::StylePatchField> fields;
  fields.reserve(list_reserve_hint(items->size(), sizeof(model::StylePatchField)));
  for (const Content& item : *items) {
    CMX_ASSIGN_OR_RETURN(size_t index, word_from_content(item, kPatchFieldWords));
    fields.push_back(static_cast<model::StylePatchField>(index));
  }
  return fields;
}

JsonResult<NumberFormatMutation> deserialize_number_format_mutation(const Content& content) {
  TaggedContent tagged;
  if (content.kind() == Content::Kind::String) {
    // The word alone names a variant without members.
    CMX_ASSIGN_OR_RETURN(tagged.variant, match_word(content.as_string(), kMutationWords));
    tagged.rest = Content::object({});
  } else {
    CMX_ASSIGN_OR_RETURN(tagged, tagged_from_content(content, kMutationTag));
  }
  NumberFormatMutation mutation;
  mutation.kind = static_cast<NumberFormatMutationKind>(tagged.variant);
  if (mutation.kind != NumberFormatMutationKind::Custom) {
    CMX_TRY(read_unit_variant(tagged.rest));
    return mutation;
  }
  CMX_TRY(read_record(tagged.rest, kCustomSpec, [&](size_t, const Content& value) -> JsonResult<void> {
    CMX_ASSIGN_OR_RETURN(mutation.pattern, content_to_string(value));
    return {};
  }));
  return mutation;
}

}  // namespace cmx::json
