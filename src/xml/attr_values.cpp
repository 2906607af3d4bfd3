#include "xml/attr_values.h"

#include <cmath>

#include "base/number_text.h"

namespace cmx::xml {

bool attr_bool(AttrText text) {
  return text.has_value() && (*text == "1" || *text == "on" || *text == "true");
}

std::optional<double> attr_float(AttrText text) {
  if (!text.has_value()) return std::nullopt;
  FloatSyntax syntax;
  syntax.allow_plus = true;
  syntax.allow_inf_nan = true;
  std::optional<ParsedFloat> parsed = parse_float(*text, syntax);
  if (!parsed.has_value()) return std::nullopt;
  return parsed->value;
}

uint32_t attr_clamped_count(AttrText text, uint32_t limit) {
  const std::optional<double> value = attr_float(text);
  if (!value.has_value() || !std::isfinite(*value) || *value < 0 || std::trunc(*value) != *value) {
    return 0;
  }
  if (*value >= static_cast<double>(limit)) return limit;
  return static_cast<uint32_t>(*value);
}

std::optional<model::CellRef> attr_cell_ref(AttrText text) {
  if (!text.has_value()) return std::nullopt;
  auto parsed = model::parse_cell_ref(*text);
  if (!parsed.has_value()) return std::nullopt;
  return *parsed;
}

std::optional<model::CellErrorCode> parse_error_literal(std::string_view text) {
  return model::error_code_from_text(text);
}

}  // namespace cmx::xml
