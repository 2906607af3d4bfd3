#include "pyext/style_methods.h"

#include <array>
#include <optional>
#include <string>
#include <utility>

#include "model/workbook.h"
#include "ops/workbook_op.h"
#include "pyext/arguments.h"
#include "pyext/binding.h"
#include "pyext/edit_methods.h"
#include "pyext/errors.h"
#include "pyext/workbook.h"
#include "session/range_ops.h"
#include "session/views.h"

namespace cmx::pyext {
namespace {

std::optional<std::optional<bool>> optional_flag_arg(PyObject* object, const char* name) {
  if (object == nullptr || object == Py_None) return std::optional<bool>();
  if (!PyBool_Check(object)) {
    raise_type_mismatch(object, "bool", name);
    return std::nullopt;
  }
  return std::optional<bool>(object == Py_True);
}

std::optional<std::optional<std::string>> optional_text(PyObject* object, const char* name) {
  if (object == nullptr || object == Py_None) return std::optional<std::string>();
  const std::optional<std::string_view> text = text_arg(object, name);
  if (!text) return std::nullopt;
  return std::optional<std::string>(std::string(*text));
}

std::string ascii_lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// The index of the lower-cased word among `words`, or ValueError.
template <size_t N>
std::optional<size_t> word_index(const std::string& word, const std::array<const char*, N>& words,
                                 const char* message) {
  const std::string lowered = ascii_lower(word);
  for (size_t i = 0; i < N; ++i) {
    if (lowered == words[i]) return i;
  }
  raise_message(PyExc_ValueError, message + lowered);
  return std::nullopt;
}

struct Target {
  uint32_t sheet = 0;
  model::CellRange range;
};

std::optional<Target> resolve_target(const session::WorkbookSession& workbook, PyObject* sheet, PyObject* range) {
  const std::optional<uint32_t> index = resolve_sheet_arg(workbook.model, sheet);
  if (!index) return std::nullopt;
  const std::optional<model::CellRange> parsed = parse_range_arg(range);
  if (!parsed) return std::nullopt;
  return Target{*index, *parsed};
}

model::NumberFormatMutation format_mutation(const std::string& text) {
  using Kind = model::NumberFormatMutationKind;
  static const std::array<std::pair<const char*, Kind>, 8> words{{{"automatic", Kind::Automatic},
                                                                   {"text", Kind::PlainText},
                                                                   {"number", Kind::Number},
                                                                   {"percent", Kind::Percent},
                                                                   {"scientific", Kind::Scientific},
                                                                   {"currency", Kind::Currency},
                                                                   {"date", Kind::Date},
                                                                   {"time", Kind::Time}}};
  const std::string lowered = ascii_lower(text);
  for (const auto& [word, kind] : words) {
    if (lowered == word) return model::NumberFormatMutation{kind, {}};
  }
  return model::NumberFormatMutation{Kind::Custom, text};
}

}  // namespace

PyObject* workbook_set_style(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"sheet", "range", "bold", "italic", "strikethrough", "font_family",
                                      "font_size", "text_color", "fill_color", "horizontal_alignment",
                                      "vertical_alignment", "text_wrapping", "now_serial"};
  static const Signature signature{"Workbook.set_style()", names, 13, 2, 2};
  PyObject* bound[13];
  if (!bind_arguments(signature, args, kwargs, bound)) return nullptr;
  const auto guard = take_exclusive(self);
  if (!guard) return nullptr;
  model::StylePatch patch;
  const auto bold = optional_flag_arg(bound[2], "bold");
  if (!bold) return nullptr;
  const auto italic = optional_flag_arg(bound[3], "italic");
  if (!italic) return nullptr;
  const auto strikethrough = optional_flag_arg(bound[4], "strikethrough");
  if (!strikethrough) return nullptr;
  const auto family = optional_text(bound[5], "font_family");
  if (!family) return nullptr;
  const auto size = optional_number_arg(bound[6], "font_size");
  if (!size) return nullptr;
  const auto text_color = optional_text(bound[7], "text_color");
  if (!text_color) return nullptr;
  const auto fill_color = optional_text(bound[8], "fill_color");
  if (!fill_color) return nullptr;
  const auto horizontal = optional_text(bound[9], "horizontal_alignment");
  if (!horizontal) return nullptr;
  const auto vertical = optional_text(bound[10], "vertical_alignment");
  if (!vertical) return nullptr;
  const auto wrapping = optional_text(bound[11], "text_wrapping");
  if (!wrapping) return nullptr;
  const auto now_serial = optional_number_arg(bound[12], "now_serial");
  if (!now_serial) return nullptr;

  session::WorkbookSession& workbook = session_of(self);
  const std::optional<Target> target = resolve_target(workbook, bound[0], bound[1]);
  if (!target) return nullptr;
  if (*horizontal) {
    static const std::array<const char*, 3> words{"left", "center", "right"};
    const auto index =
        word_index(**horizontal, words, "horizontal_alignment must be left, center, or right, not ");
    if (!index) return nullptr;
    patch.horizontal_alignment = static_cast<model::PatchHorizontal>(*index);
  }
  if (*vertical) {
    static const std::array<const char*, 3> words{"top", "middle", "bottom"};
    const auto index = word_index(**vertical, words, "vertical_alignment must be top, middle, or bottom, not ");
    if (!index) return nullptr;
    patch.vertical_alignment = static_cast<model::PatchVertical>(*index);
  }
  if (*wrapping) {
    static const std::array<const char*, 3> words{"overflow", "wrap", "clip"};
    const auto index = word_index(**wrapping, words, "text_wrapping must be overflow, wrap, or clip, not ");
    if (!index) return nullptr;
    patch.text_wrapping = static_cast<model::TextWrapping>(*index);
  }
  patch.bold = *bold;
  patch.italic = *italic;
  patch.strikethrough = *strikethrough;
  patch.font_family = *family;
  patch.font_size = *size;
  patch.text_color = *text_color;
  patch.fill_color = *fill_color;

  const auto raise = [&](const session::EngineError& error) -> PyObject* {
    if (error.kind == session::EngineErrorKind::Operation) {
      return raise_message(PyExc_ValueError, session::engine_error_display(error));
    }
    return raise_engine_error(error);
  };
  if (auto checked = session::check_editable_range(workbook, target->sheet, target->range); !checked) {
    return raise(checked.error());
  }
  ops::Batch batch{ops::PatchStyle{target->sheet, target->range, std::move(patch)}};
  const auto report = session::apply_range_operation(workbook, std::move(batch), *now_serial);
  if (!report) return raise(report.error());
  return mutation_from_report(report.value(), workbook);
}

PyObject* workbook_set_number_format(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"sheet", "range", "format", "now_serial"};
  static const Signature signature{"Workbook.set_number_format()", names, 4, 3, 3};
  PyObject* bound[4];
  if (!bind_arguments(signature, args, kwargs, bound)) return nullptr;
  const auto guard = take_exclusive(self);
  if (!guard) return nullptr;
  const std::optional<std::string_view> format = text_arg(bound[2], "format");
  if (!format) return nullptr;
  const auto now_serial = optional_number_arg(bound[3], "now_serial");
  if (!now_serial) return nullptr;
  session::WorkbookSession& workbook = session_of(self);
  const std::optional<Target> target = resolve_target(workbook, bound[0], bound[1]);
  if (!target) return nullptr;
  if (auto checked = session::check_editable_range(workbook, target->sheet, target->range); !checked) {
    return raise_engine_error(checked.error());
  }
  ops::Batch batch{ops::SetNumberFormat{target->sheet, target->range, format_mutation(std::string(*format))}};
  const auto report = session::apply_range_operation(workbook, std::move(batch), *now_serial);
  if (!report) return raise_engine_error(report.error());
  return mutation_from_report(report.value(), workbook);
}

PyObject* workbook_set_active_sheet(PyObject* self, PyObject* args, PyObject* kwargs) {
  static const char* const names[] = {"sheet"};
  static const Signature signature{"Workbook.set_active_sheet()", names, 1, 1, 1};
  PyObject* bound[1];
  if (!bind_arguments(signature, args, kwargs, bound)) return nullptr;
  const auto guard = take_exclusive(self);
  if (!guard) return nullptr;
  session::WorkbookSession& workbook = session_of(self);
  const std::optional<uint32_t> index = resolve_sheet_arg(workbook.model, bound[0]);
  if (!index) return nullptr;
  workbook.active_sheet = *index;
  session::clear_view_cache(workbook);
  Py_RETURN_NONE;
}

}  // namespace cmx::pyext
