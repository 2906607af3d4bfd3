#include "session/typed_input.h"

#include <cmath>
#include <optional>

#include "base/number_text.h"
#include "base/unicode.h"
#include "formula/parser.h"
#include "formula/value_coercion.h"
#include "session/validation.h"

namespace cmx::session {
namespace {

constexpr uint16_t kTextFormatId = 49;
constexpr uint16_t kFirstCustomFormatId = 164;

std::optional<uint32_t> current_style(const model::WorkbookModel& workbook, uint32_t sheet, uint32_t row,
                                      uint32_t col) {
  if (sheet >= workbook.sheets.size()) return std::nullopt;
  const model::CellMap& cells = workbook.sheets[sheet].cells;
  const auto found = cells.find(model::CellKey{row, col});
  return found == cells.end() ? std::nullopt : found->second.style;
}

// Built-in 49, or a custom code that is exactly "@"; a custom id is never
// taken for 49 and a built-in id is never looked up among the custom codes.
bool is_text_format(const model::StyleSheet& styles, std::optional<uint32_t> style) {
  if (!style || *style >= styles.cell_xfs.size()) return false;
  const std::optional<uint16_t> id = styles.cell_xfs[*style].num_fmt_id;
  if (!id) return false;
  if (*id < kFirstCustomFormatId) return *id == kTextFormatId;
  for (const model::CustomNumFmt& custom : styles.num_fmts) {
    if (custom.id == *id) return custom.code == "@";
  }
  return false;
}

std::optional<double> typed_number(std::string_view text) {
  const std::string_view trimmed = formula::trim_white_space(text);
  if (trimmed.empty()) return std::nullopt;
  const FloatSyntax syntax{.allow_plus = true, .allow_inf_nan = true, .allow_bare_point = true,
                           .allow_exponent = true};
  const std::optional<ParsedFloat> parsed = parse_float(trimmed, syntax);
  if (!parsed || !std::isfinite(parsed->value)) return std::nullopt;
  return parsed->value;
}

}  // namespace

model::SheetCell parse_typed_cell_input(const model::WorkbookModel& workbook, uint32_t sheet, uint32_t row,
                                        uint32_t col, std::string_view text) {
  model::SheetCell cell;
  cell.style = current_style(workbook, sheet, row, col);
  if (text.empty()) return cell;
  if (is_text_format(workbook.styles, cell.style)) {
    cell.value = model::CellValue::text(text.front() == '\'' ? text.substr(1) : text);
    return cell;
  }
  if (text.front() == '\'') {
    cell.value = model::CellValue::text(text.substr(1));
    return cell;
  }
  if (text.front() == '=') {
    const std::string_view body = text.substr(1);
    if (formula::parse_formula(body)) {
      cell.formula = SharedString(body);
    } else {
      cell.value = model::CellValue::text(text);
    }
    return cell;
  }
  if (model::eq_ignore_ascii_case(text, "true") || model::eq_ignore_ascii_case(text, "false")) {
    cell.value = model::CellValue::boolean(text.size() == 4);
    return cell;
  }
  if (const std::optional<double> number = typed_number(text)) {
    cell.value = model::CellValue::number(*number);
    return cell;
  }
  cell.value = model::CellValue::text(text);
  return cell;
}

Result<void, EngineError> validate_cell_input(const model::SheetCell& cell) {
  if (cell.value.is_number() && !std::isfinite(cell.value.as_number())) {
    return unexpected(EngineError::invalid_operation("cell number must be finite"));
  }
  if (cell.value.is_text() && unicode::count_scalars(cell.value.as_text()) > kMaxCellTextChars) {
    return unexpected(EngineError::invalid_operation("cell text exceeds the 32,767-character length limit"));
  }
  if (cell.formula && cell.formula->size() > kMaxFormulaBytes) {
    return unexpected(EngineError::invalid_operation("formula exceeds the length limit"));
  }
  return {};
}

}  // namespace cmx::session
